#include "service/CustomServer.h"
#include "service/EventLogSource.h"
#include "service/ModulePath.h"
#include "service/OxluneService.h"
#include "service/PnPStandIn.h"
#include "service/WnEventLogWriter.h"
#include "simulator/SimDriver.h"
#include "winsupport/WnRegistryKey.h"
#include "winsupport/WnThread.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <string>

namespace {

bool IsSignalled(HANDLE event)
{
    return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// A service object whose server uses a control device name of its own, so that its
// instance mutex is its own too.
class ServiceObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        name = SimUniqueName(L"svcobj");
        ASSERT_NE(nullptr, service.Server());
        service.Server()->SetControlDeviceName(name.c_str());
    }
    std::wstring name;
    OxluneService service;
};

TEST_F(ServiceObjectTest, IdentityComesFromTheServer)
{
    EXPECT_STREQ(L"kuvosvc", service.GetServiceName());
    EXPECT_STREQ(L"Kuvo control", service.GetDisplayName());
    EXPECT_STREQ(L"Kuvo control service", service.GetDescription());
    EXPECT_NE(nullptr, service.GetServiceMain());
}

TEST_F(ServiceObjectTest, ControlsOtherThanStopAndArrivalChangeNothing)
{
    struct Case {
        uint32_t control;
        uint32_t eventType;
        bool deviceChange;
    } cases[] = {
        {SERVICE_CONTROL_INTERROGATE, 0, false},
        {SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, false},
        {SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEQUERYREMOVE, false},
        {SERVICE_CONTROL_PAUSE, 0, false},
        {kSimulatedArrivalControl - 1, 0, false},
        {SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, true},
        // The simulator's stand-in for the PnP manager (the simulator is enabled here).
        {kSimulatedArrivalControl, 0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0u, service.OnServiceControl(c.control, c.eventType, nullptr)) << c.control;
        EXPECT_EQ(c.deviceChange, IsSignalled(service.DeviceChangeEvent())) << c.control << " " << c.eventType;
        EXPECT_FALSE(IsSignalled(service.StopEvent())) << c.control;
    }
}

TEST_F(ServiceObjectTest, StopAndShutdownSignalTheStopEvent)
{
    for (uint32_t control : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN}) {
        EXPECT_EQ(0u, service.OnServiceControl(control, 0, nullptr));
        EXPECT_TRUE(IsSignalled(service.StopEvent())) << control;
        EXPECT_FALSE(IsSignalled(service.DeviceChangeEvent()));
    }
}

TEST_F(ServiceObjectTest, InstanceMutexIsNamedAfterServiceAndControlDevice)
{
    wchar_t instanceName[500];
    service.FormatInstanceName(instanceName, 500);
    EXPECT_EQ(L"kuvosvc-" + name, std::wstring(instanceName));

    EXPECT_EQ(0u, service.ClaimSingleInstance());
    OxluneService second;
    second.Server()->SetControlDeviceName(name.c_str());
    EXPECT_EQ(static_cast<uint32_t>(ERROR_ALREADY_EXISTS), second.ClaimSingleInstance());
    service.ReleaseSingleInstance();
    second.ReleaseSingleInstance();
    EXPECT_EQ(0u, second.ClaimSingleInstance());
}

TEST(ServiceServer, DefaultControlDeviceIsTheInterfaceGuid)
{
    CustomServer server;
    GUID guid{};
    server.GetInterfaceGuid(&guid);
    const GUID expected = {0x21611F4F, 0xFC9C, 0x4132, {0xAF, 0xA2, 0x6F, 0x58, 0x5C, 0xA8, 0x4B, 0xBE}};
    EXPECT_TRUE(IsEqualGUID(expected, guid));
}

// Console mode: RunServices runs the service on its own thread until Ctrl+C.
struct ConsoleRun {
    std::vector<ServiceBase*> services;
    bool result = false;
    uint32_t Run()
    {
        result = ServiceBase::RunServices(services, true);
        return 0;
    }
};

TEST_F(ServiceObjectTest, CtrlCEndsConsoleModeCleanly)
{
    std::vector<ServiceBase*>& list = ServiceBase::ServiceList();
    list.push_back(&service);
    ConsoleRun run;
    run.services = list;
    WnThreadCallbackForwarderT<ConsoleRun> forwarder;
    forwarder.Set(&run, &ConsoleRun::Run);
    WnThread thread;
    ASSERT_EQ(0u, thread.Start(&forwarder, 0, 0));
    // Running once the notificator is up; hang guard only.
    for (int i = 0; i < 1000 && !service.IsNotificatorRunning(); ++i) {
        ::Sleep(10);
    }
    EXPECT_TRUE(service.IsNotificatorRunning());
    // Only Ctrl+C and Ctrl+Break are ours; closing the console is left to the system.
    EXPECT_FALSE(ServiceBase::ConsoleControlHandler(CTRL_CLOSE_EVENT));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(thread.Get(), 200));
    EXPECT_TRUE(ServiceBase::ConsoleControlHandler(CTRL_C_EVENT));
    EXPECT_EQ(0u, thread.Wait(60000));
    EXPECT_TRUE(run.result);
    EXPECT_FALSE(service.IsNotificatorRunning());
    // The instance mutex was released.
    EXPECT_EQ(0u, service.ClaimSingleInstance());
    list.clear();
}

TEST(ServiceEventLog, StartTextHasFourLines)
{
    wchar_t text[kEventTextCapacity];
    OxluneService::FormatStartText(text, kEventTextCapacity, L"kuvosvc", L"C:\\Program Files\\Kuvo\\kuvosvc.exe");
    EXPECT_STREQ(L"kuvosvc started\r\nExePath: C:\\Program Files\\Kuvo\\kuvosvc.exe\r\nVersion 1.37.10\r\n"
                 L"Interface Version 2.0",
                 text);
    // A long path is cut, never overrun.
    std::wstring longPath(5000, L'x');
    OxluneService::FormatStartText(text, kEventTextCapacity, L"kuvosvc", longPath.c_str());
    EXPECT_EQ(kEventTextCapacity - 1, std::wcslen(text));
}

TEST(ServiceEventLog, WriterReportsThroughItsSource)
{
    WnEventLogWriter writer;
    EXPECT_EQ(nullptr, writer.Get());
    ASSERT_EQ(0u, writer.Open(L"kuvosvc"));
    EXPECT_NE(nullptr, writer.Get());
    EXPECT_EQ(0u, writer.ReportInfo(kStopEventFormat, L"kuvosvc"));
    EXPECT_EQ(0u, writer.ReportError(kAnotherInstanceErrorText));
    EXPECT_EQ(0u, writer.Release());
    EXPECT_EQ(nullptr, writer.Get());
    EXPECT_EQ(0u, writer.Release());
}

TEST(ServiceEventLog, SourceRegistrationWritesMessageFileAndTypes)
{
    const std::wstring source = L"kuvosvc-test-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
    ModulePath module;
    ASSERT_EQ(0u, module.Fill());
    ASSERT_EQ(0u, RegisterEventLogSource(L"Application", source.c_str(), module.path));
    {
        WnRegistryKey reg;
        ASSERT_EQ(0u, reg.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ));
        wchar_t file[300];
        EXPECT_EQ(0u, reg.ReadString(L"EventMessageFile", file, 300));
        EXPECT_STREQ(module.path, file);
        DWORD type = 0;
        EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(reg.Get(), L"EventMessageFile", nullptr, &type, nullptr, nullptr));
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
        uint32_t types = 0;
        EXPECT_EQ(0u, reg.ReadDword(L"TypesSupported", &types));
        EXPECT_EQ(7u, types);
    }
    EXPECT_EQ(0u, UnregisterEventLogSource(L"Application", source.c_str()));
    WnRegistryKey gone;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), gone.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), UnregisterEventLogSource(L"Application", source.c_str()));
    EXPECT_NE(0u, UnregisterEventLogSource(L"NoSuchLog-kuvo", source.c_str()));
}

TEST(ServiceModulePath, SplitsTheExecutablePath)
{
    ModulePath module;
    ASSERT_EQ(0u, module.Fill());
    EXPECT_STREQ(L"service_runtime_tests", module.fileName);
    EXPECT_STREQ(L".exe", module.extension);
    EXPECT_EQ(std::wstring(module.path),
              std::wstring(module.drive) + module.directory + module.fileName + module.extension);
}

} // namespace
