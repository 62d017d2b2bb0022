#pragma once
#include "service/DeviceNotificationList.h"
#include "service/WnPnPNotificator.h"
#include "service/WnPnPNotificatorCallbacks.h"
#include "service/WnServiceCallbacks.h"
#include "service/WnServiceCtrl.h"
#include "winsupport/WnEvent.h"

#include <windows.h>

#include <cstdint>
#include <vector>

// <windows.h> maps StartService to StartServiceW; here it is the operation below.
#undef StartService

// A Windows service that also runs inside a console: installation and control through the
// service control manager, the dispatcher or the console runner, the control handler and
// the status reports. The concrete service answers its names and does the work.
class ServiceBase {
public:
    ServiceBase();
    virtual ~ServiceBase();
    ServiceBase(const ServiceBase&) = delete;
    ServiceBase& operator=(const ServiceBase&) = delete;

    virtual const wchar_t* GetServiceName() = 0;
    virtual const wchar_t* GetDisplayName() = 0;
    virtual const wchar_t* GetDescription() = 0;
    virtual LPSERVICE_MAIN_FUNCTIONW GetServiceMain() = 0;
    virtual uint32_t RunConsole() = 0;
    virtual void OnPnPEvent(uint32_t eventType, void* eventData);
    virtual uint32_t OnServiceControl(uint32_t control, uint32_t eventType, void* eventData);

    // Service control manager operations: 0 or a Win32 error code.
    uint32_t InstallService();
    uint32_t UninstallService();
    // Asks for the start and does not wait for it.
    uint32_t StartService();
    // Asks for the stop and polls for up to 5 s; 1460 when the service did not stop.
    uint32_t StopService();
    // Waits up to 5 s until the manager has really removed a deleted service (its key
    // under SYSTEM\CurrentControlSet\Services is gone); true when it is gone.
    bool WaitForServiceRemoval();

    // Runs the services: one thread each in console mode, or the service control
    // dispatcher. False when the console handler or the dispatcher cannot be set up.
    static bool RunServices(std::vector<ServiceBase*>& services, bool console);
    // The program's services, read by the console control handler.
    static std::vector<ServiceBase*>& ServiceList();
    static BOOL WINAPI ConsoleControlHandler(DWORD controlType);

    bool RegisterControlHandler();
    bool ReportStatus(uint32_t currentState, uint32_t waitHint, uint32_t checkPoint, uint32_t win32ExitCode,
                      uint32_t serviceExitCode);
    uint32_t RegisterDeviceInterface(const GUID& interfaceClass);
    uint32_t RegisterConsoleDeviceInterface(const GUID& interfaceClass);
    void RequestStop();

    HANDLE StopEvent() const { return m_stopEvent.Get(); }
    bool IsNotificatorRunning() const { return m_notificator.IsRunning(); }

    // Poll budget of StopService.
    static constexpr uint32_t kStopWaitMs = 5000;
    static constexpr uint32_t kStopPollMs = 100;

protected:
    static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, void* eventData, void* context);

    WnService m_service;
    WnServiceCallbackForwarderT<ServiceBase> m_controlForwarder;
    DeviceNotificationList m_serviceNotifications;
    uint32_t m_serviceType = SERVICE_WIN32_OWN_PROCESS;
    uint32_t m_controlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    WnEvent m_stopEvent;
    WnPnPNotificator m_notificator;
    WnPnPNotificatorCallbackForwarderT<ServiceBase> m_pnpForwarder;
};
