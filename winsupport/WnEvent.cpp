#include "winsupport/WnEvent.h"

uint32_t WnEvent::Create(bool manualReset, bool initiallySignalled)
{
    Close();
    m_handle = ::CreateEventW(nullptr, manualReset, initiallySignalled, nullptr);
    return m_handle != nullptr ? 0 : ::GetLastError();
}

uint32_t WnEvent::Set()
{
    return ::SetEvent(m_handle) ? 0 : ::GetLastError();
}

uint32_t WnEvent::Reset()
{
    return ::ResetEvent(m_handle) ? 0 : ::GetLastError();
}
