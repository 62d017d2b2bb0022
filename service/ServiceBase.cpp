#include "service/ServiceBase.h"

#include "service/EventLogSource.h"
#include "service/ModulePath.h"
#include "service/PnPStandIn.h"
#include "winsupport/WnText.h"
#include "winsupport/WnThread.h"

#include <dbt.h>

#include <memory>

namespace {
std::vector<ServiceBase*> g_serviceList;

uint32_t OpenManager(WnServiceCtrlMgr& manager)
{
    return manager.Open(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS);
}
} // namespace

ServiceBase::ServiceBase()
{
    m_controlForwarder.Set(this, &ServiceBase::OnServiceControl);
    m_pnpForwarder.Set(this, &ServiceBase::OnPnPEvent);
    m_stopEvent.Create(false, false);
}

ServiceBase::~ServiceBase()
{
    m_notificator.Stop(INFINITE);
    m_pnpForwarder.Set(nullptr, nullptr);
}

std::vector<ServiceBase*>& ServiceBase::ServiceList()
{
    return g_serviceList;
}

void ServiceBase::OnPnPEvent(uint32_t, void*) {}

uint32_t ServiceBase::OnServiceControl(uint32_t control, uint32_t eventType, void* eventData)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        RequestStop();
        break;
    case SERVICE_CONTROL_DEVICEEVENT:
        OnPnPEvent(eventType, eventData);
        break;
    default:
        if (IsSimulatedArrivalControl(control)) {
            OnPnPEvent(DBT_DEVICEARRIVAL, nullptr);
        }
        break;
    }
    return NO_ERROR;
}

uint32_t ServiceBase::InstallService()
{
    ModulePath module;
    uint32_t error = module.Fill();
    if (error != 0) {
        return error;
    }
    WnServiceCtrlMgr manager;
    error = OpenManager(manager);
    if (error != 0) {
        return error;
    }
    // The path is quoted: unquoted, a path with blanks ("C:\Program Files\...") would let
    // the manager start C:\Program.exe as LocalSystem.
    wchar_t commandLine[280];
    FormatText(commandLine, 280, L"\"%s\" -service", module.path);
    WnServiceCtrl service;
    error = service.Create(manager.Get(), GetServiceName(), GetDisplayName(), SERVICE_ALL_ACCESS, m_serviceType,
                           SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine, L"PlugPlay", nullptr,
                           L"eventlog\0PlugPlay\0", nullptr, nullptr);
    if (error != 0) {
        return error;
    }
    SERVICE_DESCRIPTIONW description{};
    description.lpDescription = const_cast<wchar_t*>(GetDescription());
    ::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, &description);
    return RegisterEventLogSource(L"Application", GetServiceName(), module.path);
}

uint32_t ServiceBase::UninstallService()
{
    WnServiceCtrlMgr manager;
    uint32_t error = OpenManager(manager);
    if (error != 0) {
        return error;
    }
    WnServiceCtrl service;
    error = service.Open(manager.Get(), GetServiceName(), DELETE);
    if (error != 0) {
        return error;
    }
    if (!::DeleteService(service.Get())) {
        return ::GetLastError();
    }
    UnregisterEventLogSource(L"Application", GetServiceName());
    return 0;
}

uint32_t ServiceBase::StartService()
{
    WnServiceCtrlMgr manager;
    uint32_t error = OpenManager(manager);
    if (error != 0) {
        return error;
    }
    WnServiceCtrl service;
    error = service.Open(manager.Get(), GetServiceName(), SERVICE_START);
    if (error != 0) {
        return error;
    }
    if (!::StartServiceW(service.Get(), 0, nullptr)) {
        return ::GetLastError();
    }
    return 0;
}

uint32_t ServiceBase::StopService()
{
    WnServiceCtrlMgr manager;
    uint32_t error = OpenManager(manager);
    if (error != 0) {
        return error;
    }
    WnServiceCtrl service;
    error = service.Open(manager.Get(), GetServiceName(), SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (error != 0) {
        return error;
    }
    SERVICE_STATUS status{};
    if (!::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
        return ::GetLastError();
    }
    int32_t budget = kStopWaitMs;
    do {
        if (!::QueryServiceStatus(service.Get(), &status)) {
            return ::GetLastError();
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            return 0;
        }
        ::Sleep(kStopPollMs);
        budget -= kStopPollMs;
    } while (budget > 0);
    return ERROR_TIMEOUT;
}

bool ServiceBase::WaitForServiceRemoval()
{
    wchar_t keyPath[300];
    FormatText(keyPath, 300, L"SYSTEM\\CurrentControlSet\\Services\\%s", GetServiceName());
    for (int32_t budget = kStopWaitMs;; budget -= kStopPollMs) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return true;
        }
        ::RegCloseKey(key);
        if (budget <= 0) {
            return false;
        }
        ::Sleep(kStopPollMs);
    }
}

namespace {
// Runs one service's console body on its own thread.
struct ConsoleRunner {
    WnThread thread;
    WnThreadCallbackForwarderT<ServiceBase> forwarder;
};
} // namespace

bool ServiceBase::RunServices(std::vector<ServiceBase*>& services, bool console)
{
    if (console) {
        if (!::SetConsoleCtrlHandler(ConsoleControlHandler, TRUE)) {
            return false;
        }
        std::vector<std::unique_ptr<ConsoleRunner>> runners;
        for (ServiceBase* service : services) {
            auto runner = std::make_unique<ConsoleRunner>();
            runner->forwarder.Set(service, &ServiceBase::RunConsole);
            if (runner->thread.Start(&runner->forwarder, 0, 0) == 0) {
                runners.push_back(std::move(runner));
            }
        }
        for (auto& runner : runners) {
            runner->thread.Wait(INFINITE);
        }
        runners.clear();
        ::SetConsoleCtrlHandler(ConsoleControlHandler, FALSE);
        return true;
    }
    std::vector<SERVICE_TABLE_ENTRYW> table;
    for (ServiceBase* service : services) {
        table.push_back({const_cast<wchar_t*>(service->GetServiceName()), service->GetServiceMain()});
    }
    table.push_back({nullptr, nullptr});
    return ::StartServiceCtrlDispatcherW(table.data()) != FALSE;
}

BOOL WINAPI ServiceBase::ConsoleControlHandler(DWORD controlType)
{
    if (controlType != CTRL_C_EVENT && controlType != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    for (ServiceBase* service : g_serviceList) {
        service->RequestStop();
    }
    return TRUE;
}

DWORD WINAPI ServiceBase::ControlHandler(DWORD control, DWORD eventType, void* eventData, void* context)
{
    return static_cast<WnServiceCallbackInterface*>(context)->OnControlRequest(control, eventType, eventData);
}

bool ServiceBase::RegisterControlHandler()
{
    ::SetLastError(0);
    SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerExW(
        GetServiceName(), ControlHandler, static_cast<WnServiceCallbackInterface*>(&m_controlForwarder));
    if (handle == nullptr && ::GetLastError() != 0) {
        return false;
    }
    m_service.Set(handle);
    m_stopEvent.Reset();
    return true;
}

bool ServiceBase::ReportStatus(uint32_t currentState, uint32_t waitHint, uint32_t checkPoint, uint32_t win32ExitCode,
                               uint32_t serviceExitCode)
{
    if (m_service.Get() == nullptr) {
        return true;
    }
    SERVICE_STATUS status{};
    status.dwServiceType = m_serviceType;
    status.dwCurrentState = currentState;
    status.dwControlsAccepted = m_controlsAccepted;
    status.dwWin32ExitCode = win32ExitCode;
    status.dwServiceSpecificExitCode = serviceExitCode;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    ::SetLastError(0);
    if (!::SetServiceStatus(m_service.Get(), &status) && ::GetLastError() != 0) {
        return false;
    }
    return true;
}

uint32_t ServiceBase::RegisterDeviceInterface(const GUID& interfaceClass)
{
    if (m_service.Get() == nullptr) {
        return 0;
    }
    return m_serviceNotifications.AddRegistration(m_service.Get(), interfaceClass, DEVICE_NOTIFY_SERVICE_HANDLE);
}

uint32_t ServiceBase::RegisterConsoleDeviceInterface(const GUID& interfaceClass)
{
    if (!m_notificator.IsRunning()) {
        const uint32_t error = m_notificator.Start(&m_pnpForwarder, nullptr);
        if (error != 0) {
            return error;
        }
    }
    return m_notificator.RegisterInterface(interfaceClass) == 0 ? 0 : ERROR_OPEN_FAILED;
}

void ServiceBase::RequestStop()
{
    m_serviceNotifications.RemoveAll();
    m_notificator.Stop(INFINITE);
    m_stopEvent.Set();
}
