#pragma once
#include "winsupport/WnCallbacks.h"
#include "winsupport/WnHandle.h"

// The completion routine runs as an APC on the thread that called Set, and only
// while that thread waits alertably.
class WnWaitableTimer : public WnHandle {
public:
    ~WnWaitableTimer() override;

    uint32_t Create(bool manualReset, SECURITY_ATTRIBUTES* attributes, const wchar_t* name);
    // periodMs must be above 0, else 87. The first expiry comes at once.
    uint32_t Set(int32_t periodMs, WnWaitableTimerCallbackInterface* callback, bool resume);
    uint32_t Cancel();
};
