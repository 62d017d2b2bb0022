#pragma once
#include "winsupport/WnCallbacks.h"
#include "winsupport/WnHandle.h"

class WnThread : public WnHandle {
public:
    ~WnThread() override = default;

    // 183 if a thread is already held; else starts one that runs callback->Run().
    uint32_t Start(WnThreadCallbackInterface* callback, uint32_t stackSize, uint32_t creationFlags);
    // 0 if nothing was started; the wait's result otherwise (258 on time-out, the handle
    // stays). After a successful wait the handle is closed.
    uint32_t Wait(uint32_t timeoutMs);
    uint32_t ThreadId() const { return m_threadId; }

private:
    uint32_t m_threadId = 0;
};
