#include "winsupport/WnWaitableTimer.h"

namespace {
void CALLBACK TimerRoutine(void* argument, DWORD low, DWORD high)
{
    static_cast<WnWaitableTimerCallbackInterface*>(argument)->OnTimer(low, high);
}
} // namespace

WnWaitableTimer::~WnWaitableTimer()
{
    Cancel();
}

uint32_t WnWaitableTimer::Create(bool manualReset, SECURITY_ATTRIBUTES* attributes, const wchar_t* name)
{
    Cancel();
    Close();
    m_handle = ::CreateWaitableTimerW(attributes, manualReset, name);
    return m_handle != nullptr ? 0 : ::GetLastError();
}

uint32_t WnWaitableTimer::Set(int32_t periodMs, WnWaitableTimerCallbackInterface* callback, bool resume)
{
    if (periodMs <= 0) {
        return ERROR_INVALID_PARAMETER;
    }
    // Relative due time of periodMs counted in 100 ns units: the first expiry is at once.
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(periodMs);
    const BOOL ok = ::SetWaitableTimer(m_handle, &due, periodMs, callback != nullptr ? TimerRoutine : nullptr,
                                       callback, resume);
    return ok ? 0 : ::GetLastError();
}

uint32_t WnWaitableTimer::Cancel()
{
    if (m_handle == nullptr) {
        return 0;
    }
    return ::CancelWaitableTimer(m_handle) ? 0 : ::GetLastError();
}
