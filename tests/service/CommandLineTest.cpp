#include "ScmFixture.h"

#include "simulator/SimDriver.h"
#include "winsupport/WnRegistryKey.h"

#include <cwchar>
#include <filesystem>

namespace {

const char kHelpText[] =
    "\nkuvosvc V1.37\nKuvo control Service\n\nSupported command line options:\n"
    " -install    Install the service.\n"
    " -uninstall  Uninstall the service.\n"
    " -start      Start the service.\n"
    " -stop       Stop the service.\n"
    " -console    Start service in console mode.\n"
    " -h, -?      Print this help message.\n\n";

using CommandLine = ScmFixture;

TEST_F(CommandLine, ArgumentsWithoutTheServiceControlManager)
{
    struct Case {
        const wchar_t* arguments;
        uint32_t exitCode;
        std::string output;
    } cases[] = {
        {L"", 1, "No arguments given, use -h.\n"},
        {L"-Install", 1, "Unknown argument -Install, use -h.\n"},
        {L"install", 1, "Unknown argument install, use -h.\n"},
        {L"-h", 0, kHelpText},
        {L"-?", 0, kHelpText},
        // Only the first argument counts.
        {L"-h -install", 0, kHelpText},
        // Typed at a prompt, the dispatcher cannot connect: -1 and no output.
        {L"-service", 0xFFFFFFFF, ""},
    };
    for (const Case& c : cases) {
        const RunResult result = Svc(c.arguments);
        EXPECT_EQ(c.exitCode, result.exitCode) << c.arguments;
        EXPECT_EQ(c.output, result.output) << c.arguments;
    }
    EXPECT_FALSE(ServiceExists());
}

std::wstring QueryImagePath(std::wstring* group, DWORD* startType)
{
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = ::OpenServiceW(manager, L"kuvosvc", SERVICE_QUERY_CONFIG);
    std::wstring path;
    alignas(8) BYTE buffer[8192];
    DWORD needed = 0;
    if (service != nullptr && ::QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer),
                                                    sizeof(buffer), &needed)) {
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
        path = config->lpBinaryPathName;
        *group = config->lpLoadOrderGroup != nullptr ? config->lpLoadOrderGroup : L"";
        *startType = config->dwStartType;
    }
    if (service != nullptr) {
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return path;
}

TEST_F(CommandLine, InstallFromAFolderWithABlankQuotesThePathAndRegistersTheEventSource)
{
    const std::wstring folder = TestFolder() + L"svc folder with blank\\";
    std::filesystem::create_directories(folder);
    const std::wstring program = folder + L"kuvosvc.exe";
    ASSERT_TRUE(::CopyFileW(svcPath.c_str(), program.c_str(), FALSE));

    const RunResult install = RunProgram(program, L"-install");
    EXPECT_EQ(0u, install.exitCode);
    EXPECT_EQ("Service installed successfully.\n", install.output);

    std::wstring group;
    DWORD startType = 0;
    EXPECT_EQ(L"\"" + program + L"\" -service", QueryImagePath(&group, &startType));
    EXPECT_EQ(L"PlugPlay", group);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), startType);
    {
        // The manager keeps the dependencies as a double-terminated list.
        WnRegistryKey config;
        ASSERT_EQ(0u, config.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\kuvosvc", KEY_READ));
        wchar_t list[64] = {};
        DWORD type = 0;
        DWORD size = sizeof(list) - sizeof(wchar_t);
        ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(config.Get(), L"DependOnService", nullptr, &type,
                                                    reinterpret_cast<BYTE*>(list), &size));
        EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
        EXPECT_EQ(std::wstring(L"eventlog\0PlugPlay\0", 18), std::wstring(list, 18));
    }
    {
        WnRegistryKey key;
        ASSERT_EQ(0u, key.Open(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_READ));
        wchar_t file[300];
        EXPECT_EQ(0u, key.ReadString(L"EventMessageFile", file, 300));
        EXPECT_EQ(program, std::wstring(file));
    }

    // The quoted path starts: the service runs from the folder with the blank.
    const RunResult start = RunProgram(program, L"-start");
    EXPECT_EQ(0u, start.exitCode);
    EXPECT_EQ("Service started successfully.\n", start.output);
    SERVICE_STATUS_PROCESS status{};
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 60000, &status)) << status.dwCurrentState;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN), status.dwControlsAccepted);

    const RunResult stop = Svc(L"-stop");
    EXPECT_EQ(0u, stop.exitCode);
    EXPECT_EQ("Service stopped successfully.\n", stop.output);
    ASSERT_TRUE(QueryStatus(&status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(0u, status.dwWin32ExitCode);

    RemoveService();
    std::filesystem::remove_all(folder);
}

TEST_F(CommandLine, StopFollowedByStartOnlyStopsAndAStoppedServiceGives1062)
{
    ASSERT_EQ(0u, Svc(L"-install").exitCode);
    ASSERT_EQ(0u, Svc(L"-start").exitCode);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 60000));

    const RunResult stop = Svc(L"-stop -start");
    EXPECT_EQ(0u, stop.exitCode);
    EXPECT_EQ("Service stopped successfully.\n", stop.output);
    SERVICE_STATUS_PROCESS status{};
    ASSERT_TRUE(QueryStatus(&status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);

    const RunResult again = Svc(L"-stop");
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SERVICE_NOT_ACTIVE), again.exitCode);
    EXPECT_EQ("Error stopping service.\n", again.output);
    ASSERT_TRUE(QueryStatus(&status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
}

TEST_F(CommandLine, InstallTwiceSucceedsAndReplacesARunningService)
{
    for (int i = 0; i < 2; ++i) {
        const RunResult install = Svc(L"-install");
        EXPECT_EQ(0u, install.exitCode) << i;
        EXPECT_EQ("Service installed successfully.\n", install.output) << i;
        ASSERT_EQ(0u, Svc(L"-start").exitCode);
        ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 60000));
    }
    const RunResult uninstall = Svc(L"-uninstall");
    EXPECT_EQ(0u, uninstall.exitCode);
    EXPECT_EQ("Service uninstalled successfully.\n", uninstall.output);
    for (int i = 0; i < 200 && ServiceKeyExists(); ++i) {
        ::Sleep(50);
    }
    EXPECT_FALSE(ServiceExists());
    WnRegistryKey key;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), key.Open(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_READ));
}

TEST_F(CommandLine, UninstallWithoutServiceGives1060AndLeavesTheEventSource)
{
    {
        WnRegistryKey key;
        ASSERT_EQ(0u, key.Create(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_READ | KEY_WRITE));
    }
    const RunResult uninstall = Svc(L"-uninstall");
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST), uninstall.exitCode);
    EXPECT_EQ("Error uninstalling service.\n", uninstall.output);
    WnRegistryKey key;
    EXPECT_EQ(0u, key.Open(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_READ));

    const RunResult start = Svc(L"-start");
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST), start.exitCode);
    EXPECT_EQ("Error starting service.\n", start.output);
}

TEST_F(CommandLine, StopOfAServiceThatNeverStopsGives1460After5Seconds)
{
    // A test service that ignores stop, installed under the service's name.
    const std::wstring stubborn = L"\"" + TestFolder() + L"stubbornsvc.exe\" kuvosvc";
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager);
    SC_HANDLE service = ::CreateServiceW(manager, L"kuvosvc", L"Kuvo control", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         stubborn.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, service) << ::GetLastError();
    EXPECT_TRUE(::StartServiceW(service, 0, nullptr));
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 60000));

    const DWORD before = ::GetTickCount();
    const RunResult stop = Svc(L"-stop");
    const DWORD elapsed = ::GetTickCount() - before;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_TIMEOUT), stop.exitCode);
    EXPECT_EQ("Error stopping service.\n", stop.output);
    // The budget is 5 s of polling: it cannot end sooner.
    EXPECT_GE(elapsed, 5000u);
    SERVICE_STATUS_PROCESS status{};
    ASSERT_TRUE(QueryStatus(&status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);

    // Its own way out.
    EndStubbornService();
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED, 60000));
}

TEST_F(CommandLine, ServiceStopsWith183WhileAnotherProcessHoldsTheInstanceName)
{
    const std::wstring name = SimUniqueName(L"svc183");
    SetServiceDeviceName(name);
    const std::wstring mutexName = L"kuvosvc-" + name;
    const std::wstring readyName = mutexName + L"-ready";
    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    ASSERT_NE(nullptr, ready);
    ChildProcess holder;
    ASSERT_EQ(0u, holder.Start(TestFolder() + L"mutexholder.exe", mutexName + L" " + readyName));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ready, 30000));
    ::CloseHandle(ready);

    ASSERT_EQ(0u, Svc(L"-install").exitCode);
    ASSERT_EQ(0u, Svc(L"-start").exitCode);
    SERVICE_STATUS_PROCESS status{};
    // It may be seen running for a moment before it gives up; stopped is where it ends.
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED, 60000, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), status.dwWin32ExitCode);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), status.dwServiceSpecificExitCode);
    holder.Kill();
}

TEST_F(CommandLine, SecondConsoleInstanceReportsAndExitsWithZero)
{
    const std::wstring name = SimUniqueName(L"svccon");
    SetServiceDeviceName(name);
    ChildProcess first;
    ASSERT_EQ(0u, first.Start(svcPath, L"-console", CREATE_NEW_CONSOLE));
    const std::wstring mutexName = L"kuvosvc-" + name;
    HANDLE mutex = nullptr;
    for (int i = 0; i < 600 && mutex == nullptr; ++i) {
        mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, mutexName.c_str());
        if (mutex == nullptr) {
            ::Sleep(50);
        }
    }
    ASSERT_NE(nullptr, mutex);
    ::CloseHandle(mutex);

    const RunResult second = Svc(L"-console");
    EXPECT_EQ(0u, second.exitCode);
    EXPECT_EQ("Cannot start, another instance is already running.\n", second.output);

    // Ctrl+C in its console ends the first one cleanly.
    ::FreeConsole();
    ASSERT_TRUE(::AttachConsole(first.ProcessId())) << ::GetLastError();
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << ::GetLastError();
    ::FreeConsole();
    EXPECT_TRUE(first.Wait(30000));
    EXPECT_EQ(0u, first.ExitCode());
}

} // namespace
