#pragma once
// One channel the driver offers the host, with its buffer block (both halves back to back).
#include "driverlib/OxluneRecords.h"

#include <cstdint>

struct AsioChannel {
    OxluneChannelInfo descriptor{}; // exactly as received
    uint8_t* buffer = nullptr;      // committed virtual memory, null without a block
    uint32_t bufferLength = 0;      // both halves, bytes
    bool dummy = false;

    bool IsDsd() const { return descriptor.sampleFormat == OXLUNE_SAMPLE_FORMAT_DSD; }
    bool IsInput() const { return descriptor.direction == OXLUNE_CHANNEL_DIRECTION_INPUT; }
};
