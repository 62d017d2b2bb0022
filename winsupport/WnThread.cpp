#include "winsupport/WnThread.h"

#include <process.h>

namespace {
unsigned __stdcall ThreadStart(void* argument)
{
    return static_cast<WnThreadCallbackInterface*>(argument)->Run();
}
} // namespace

uint32_t WnThread::Start(WnThreadCallbackInterface* callback, uint32_t stackSize, uint32_t creationFlags)
{
    if (m_handle != nullptr) {
        return ERROR_ALREADY_EXISTS;
    }
    unsigned id = 0;
    // The C run-time's thread start, so that the run-time is set up for the thread.
    const uintptr_t handle = ::_beginthreadex(nullptr, stackSize, ThreadStart, callback, creationFlags, &id);
    if (handle == 0) {
        const DWORD error = ::GetLastError();
        m_threadId = 0;
        return error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY;
    }
    m_handle = reinterpret_cast<HANDLE>(handle);
    m_threadId = id;
    return 0;
}

uint32_t WnThread::Wait(uint32_t timeoutMs)
{
    if (m_handle == nullptr) {
        return 0;
    }
    const DWORD result = ::WaitForSingleObject(m_handle, timeoutMs);
    if (result != WAIT_OBJECT_0) {
        return result == WAIT_FAILED ? ::GetLastError() : result;
    }
    Close();
    m_threadId = 0;
    return 0;
}
