#pragma once
#include "winsupport/WnHandle.h"

class WnEvent : public WnHandle {
public:
    WnEvent() = default;
    // Takes over an existing event handle.
    explicit WnEvent(HANDLE handle) : WnHandle(handle) {}
    ~WnEvent() override = default;

    uint32_t Create(bool manualReset, bool initiallySignalled);
    uint32_t Set();
    uint32_t Reset();
};
