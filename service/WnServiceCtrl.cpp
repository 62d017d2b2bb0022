#include "service/WnServiceCtrl.h"

void WnServiceCtrlHandle::Close()
{
    if (m_handle != nullptr) {
        ::CloseServiceHandle(m_handle);
        m_handle = nullptr;
    }
}

uint32_t WnServiceCtrlHandle::Take(SC_HANDLE handle)
{
    if (handle == nullptr) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }
    m_handle = handle;
    return 0;
}

uint32_t WnServiceCtrlMgr::Open(const wchar_t* machineName, const wchar_t* databaseName, uint32_t access)
{
    Close();
    return Take(::OpenSCManagerW(machineName, databaseName, access));
}

uint32_t WnServiceCtrl::Open(SC_HANDLE manager, const wchar_t* serviceName, uint32_t access)
{
    Close();
    return Take(::OpenServiceW(manager, serviceName, access));
}

uint32_t WnServiceCtrl::Create(SC_HANDLE manager, const wchar_t* serviceName, const wchar_t* displayName,
                               uint32_t access, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                               const wchar_t* binaryPathName, const wchar_t* loadOrderGroup, DWORD* tagId,
                               const wchar_t* dependencies, const wchar_t* serviceStartName, const wchar_t* password)
{
    Close();
    return Take(::CreateServiceW(manager, serviceName, displayName, access, serviceType, startType, errorControl,
                                 binaryPathName, loadOrderGroup, tagId, dependencies, serviceStartName, password));
}
