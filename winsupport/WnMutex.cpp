#include "winsupport/WnMutex.h"

uint32_t WnMutex::Create(SECURITY_ATTRIBUTES* attributes, bool initialOwner, const wchar_t* name)
{
    Close();
    ::SetLastError(0);
    m_handle = ::CreateMutexW(attributes, initialOwner, name);
    const DWORD error = ::GetLastError();
    if (m_handle == nullptr) {
        return error;
    }
    return name != nullptr ? error : 0;
}
