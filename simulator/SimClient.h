#pragma once
#include "simulator/SimMessageQueue.h"
#include "winsupport/WnEvent.h"

#include <windows.h>

#include <cstdint>

// What the kernel model keeps per open handle of the control device, beyond the
// transport's SimConnection: its role, its two events, its queues and its binding.
struct SimClient {
    static constexpr int kUnregistered = -1;

    uint32_t id = 0;      // the SimConnection id; initiator word 0 of its requests
    uint32_t cookie = 0;  // initiator word 1: tells a reused or forged id apart
    DWORD processId = 0;
    int role = kUnregistered;
    // Duplicates in this process of the client's events; empty when not given.
    WnEvent messageEvent;
    WnEvent notificationEvent;
    SimMessageQueue messages;
    SimMessageQueue notifications;
    bool bound = false;
    uint32_t boundKey0 = 0;
    uint32_t boundKey1 = 0;
};
