#include "winsupport/WnHandle.h"

void WnHandle::Close()
{
    if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_handle);
    }
    m_handle = nullptr;
}

void WnHandle::Attach(HANDLE handle)
{
    Close();
    m_handle = handle;
}

HANDLE WnHandle::Detach()
{
    HANDLE handle = m_handle;
    m_handle = nullptr;
    return handle;
}
