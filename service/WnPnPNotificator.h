#pragma once
#include "service/DeviceNotificationList.h"
#include "service/WnPnPNotificatorCallbacks.h"
#include "winsupport/WnCallbacks.h"
#include "winsupport/WnEvent.h"
#include "winsupport/WnThread.h"

#include <windows.h>

#include <cstdint>

// A hidden top-level window on a thread of its own that turns device-interface arrival
// and removal (WM_DEVICECHANGE) into calls of a callback. Used where no service status
// handle can receive device events: in console mode and in the control panel.
class WnPnPNotificator : public WnThreadCallbackInterface {
public:
    WnPnPNotificator();
    virtual ~WnPnPNotificator();
    WnPnPNotificator(const WnPnPNotificator&) = delete;
    WnPnPNotificator& operator=(const WnPnPNotificator&) = delete;

    // 87 for a null callback, 1247 when running, 1460 when the window did not come up in
    // 10 s, or the window's creation error. A null module means the executable.
    uint32_t Start(WnPnPNotificatorCallbackInterface* callback, HINSTANCE module);
    // 0, or the wait's result (the object stays running when the wait timed out). The
    // registrations are dropped in every case.
    uint32_t Stop(uint32_t timeoutMs);
    // 13 when not running, else the registration's result.
    uint32_t RegisterInterface(const GUID& interfaceClass);

    bool IsRunning() const { return m_running; }
    HWND Window() const { return m_window; }
    uint32_t RegistrationCount() { return m_registrations.Count(); }

    uint32_t Run() override;
    virtual LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK StaticWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    CRITICAL_SECTION m_lock;
    volatile bool m_running = false;
    HINSTANCE m_module = nullptr;
    HWND volatile m_window = nullptr;
    WnPnPNotificatorCallbackInterface* volatile m_callback = nullptr;
    WnThread m_thread;
    WnEvent m_ready;
    uint32_t m_creationResult = 0;
    DeviceNotificationList m_registrations;
};
