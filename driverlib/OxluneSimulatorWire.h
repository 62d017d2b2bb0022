#pragma once
#include <cstddef>
#include <cstdint>

// What one control-device request looks like on the simulator's message-mode pipe.
// A request is one message: the header, then inSize input bytes. Its completion is one
// message: the reply header, then bytesReturned output bytes (at most outCapacity).
#pragma pack(push, 1)
struct OxluneWireRequest {
    uint32_t code;
    uint32_t inSize;
    uint32_t outCapacity;
    uint32_t reserved;
};
struct OxluneWireReply {
    uint32_t status;
    uint32_t bytesReturned;
};
#pragma pack(pop)
static_assert(sizeof(OxluneWireRequest) == 16);
static_assert(offsetof(OxluneWireRequest, outCapacity) == 8);
static_assert(sizeof(OxluneWireReply) == 8);
static_assert(offsetof(OxluneWireReply, bytesReturned) == 4);

// Largest input or output of one request on the wire.
constexpr uint32_t kOxluneWireMaxData = 64 * 1024;
