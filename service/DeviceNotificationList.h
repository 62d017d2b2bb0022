#pragma once
#include <windows.h>

#include <cstdint>

// The device-interface notification registrations of one recipient (a window or a
// service status handle). Owns the notification handles; thread-safe.
class DeviceNotificationList {
public:
    DeviceNotificationList();
    ~DeviceNotificationList();
    DeviceNotificationList(const DeviceNotificationList&) = delete;
    DeviceNotificationList& operator=(const DeviceNotificationList&) = delete;

    // flags: DEVICE_NOTIFY_WINDOW_HANDLE (0) or DEVICE_NOTIFY_SERVICE_HANDLE (1).
    // 0, or the error of RegisterDeviceNotificationW (nothing is kept then).
    uint32_t AddRegistration(HANDLE recipient, const GUID& interfaceClass, uint32_t flags);
    // Unregisters and drops every registration.
    void RemoveAll();
    uint32_t Count();

private:
    struct Node {
        Node* previous;
        Node* next;
        GUID interfaceClass;
        HDEVNOTIFY handle;
    };

    CRITICAL_SECTION m_lock;
    Node m_sentinel;
};
