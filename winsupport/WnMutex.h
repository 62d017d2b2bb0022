#pragma once
#include "winsupport/WnHandle.h"

class WnMutex : public WnHandle {
public:
    ~WnMutex() override = default;

    // For a named mutex the result is the creation's last-error value: 0 for a new
    // mutex, 183 when it already existed. The handle is held in both cases.
    uint32_t Create(SECURITY_ATTRIBUTES* attributes, bool initialOwner, const wchar_t* name);
};
