#pragma once
#include <windows.h>

#include <cstdint>

// Owns one service control manager handle (a manager or a service). Opening or creating
// on a wrapper that holds a handle closes the old one first; closing failures are ignored.
class WnServiceCtrlHandle {
public:
    WnServiceCtrlHandle() = default;
    virtual ~WnServiceCtrlHandle() { Close(); }
    WnServiceCtrlHandle(const WnServiceCtrlHandle&) = delete;
    WnServiceCtrlHandle& operator=(const WnServiceCtrlHandle&) = delete;

    void Close();
    SC_HANDLE Get() const { return m_handle; }

protected:
    // Stores the result of an open or create: 0, or the last error with the wrapper empty.
    uint32_t Take(SC_HANDLE handle);

    SC_HANDLE m_handle = nullptr;
};

// The service control manager.
class WnServiceCtrlMgr : public WnServiceCtrlHandle {
public:
    uint32_t Open(const wchar_t* machineName, const wchar_t* databaseName, uint32_t access);
};

// One service.
class WnServiceCtrl : public WnServiceCtrlHandle {
public:
    uint32_t Open(SC_HANDLE manager, const wchar_t* serviceName, uint32_t access);
    uint32_t Create(SC_HANDLE manager, const wchar_t* serviceName, const wchar_t* displayName, uint32_t access,
                    uint32_t serviceType, uint32_t startType, uint32_t errorControl, const wchar_t* binaryPathName,
                    const wchar_t* loadOrderGroup, DWORD* tagId, const wchar_t* dependencies,
                    const wchar_t* serviceStartName, const wchar_t* password);
};

// The status handle that the service control manager gives a running service. It belongs
// to the manager and is never closed.
class WnService {
public:
    SERVICE_STATUS_HANDLE Get() const { return m_handle; }
    void Set(SERVICE_STATUS_HANDLE handle) { m_handle = handle; }

private:
    SERVICE_STATUS_HANDLE m_handle = nullptr;
};
