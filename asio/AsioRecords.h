#pragma once
// The ASIO family of control-device requests and the records that cross the control
// device for it. The records are untrusted when they come back: counts are clamped by
// their users.
#include "driverlib/OxluneIoctl.h"
#include "driverlib/OxluneRecords.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr uint32_t OXLUNE_IOCTL_GET_ASIO_STREAM_INFO = OxluneIoctlCode(0xF02);  // out: AsioStreamInfo
constexpr uint32_t OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP = OxluneIoctlCode(0xF03);  // out: AsioChannelMap
constexpr uint32_t OXLUNE_IOCTL_GET_ASIO_CHANNEL_INFO = OxluneIoctlCode(0xF04); // in: key; out: OxluneChannelInfo
constexpr uint32_t OXLUNE_IOCTL_GET_ASIO_LATENCIES = OxluneIoctlCode(0xF05);    // out: AsioLatencyInfo
constexpr uint32_t OXLUNE_IOCTL_ENABLE_ASIO_CHANNEL = OxluneIoctlCode(0xF10);   // in: key
constexpr uint32_t OXLUNE_IOCTL_DISABLE_ASIO_CHANNEL = OxluneIoctlCode(0xF11);  // in: key
constexpr uint32_t OXLUNE_IOCTL_REGISTER_ASIO_SWITCH = OxluneIoctlCode(0xF20);  // in: AsioSwitchRegistration
constexpr uint32_t OXLUNE_IOCTL_UNREGISTER_ASIO_SWITCH = OxluneIoctlCode(0xF21);
constexpr uint32_t OXLUNE_IOCTL_ATTACH_ASIO_BUFFER = OxluneIoctlCode(0xF28); // in: AsioChannelBufferInfo
constexpr uint32_t OXLUNE_IOCTL_START_ASIO_STREAMING = OxluneIoctlCode(0xF30);
constexpr uint32_t OXLUNE_IOCTL_STOP_ASIO_STREAMING = OxluneIoctlCode(0xF31);

static_assert(OXLUNE_IOCTL_GET_ASIO_STREAM_INFO == 0x80883C08u);
static_assert(OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP == 0x80883C0Cu);
static_assert(OXLUNE_IOCTL_GET_ASIO_CHANNEL_INFO == 0x80883C10u);
static_assert(OXLUNE_IOCTL_GET_ASIO_LATENCIES == 0x80883C14u);
static_assert(OXLUNE_IOCTL_ENABLE_ASIO_CHANNEL == 0x80883C40u);
static_assert(OXLUNE_IOCTL_DISABLE_ASIO_CHANNEL == 0x80883C44u);
static_assert(OXLUNE_IOCTL_REGISTER_ASIO_SWITCH == 0x80883C80u);
static_assert(OXLUNE_IOCTL_UNREGISTER_ASIO_SWITCH == 0x80883C84u);
static_assert(OXLUNE_IOCTL_ATTACH_ASIO_BUFFER == 0x80883CA0u);
static_assert(OXLUNE_IOCTL_START_ASIO_STREAMING == 0x80883CC0u);
static_assert(OXLUNE_IOCTL_STOP_ASIO_STREAMING == 0x80883CC4u);

// Lowest and highest DSD rate; PCM rates lie below, up to 384000.
constexpr uint32_t kAsioDsdRateMin = 2822400;
constexpr uint32_t kAsioDsdRateMax = 11289600;
constexpr uint32_t kAsioPcmRateMax = 384000;

#pragma pack(push, 1)
// The streaming engine's rates and the ASIO buffer size chosen in the control panel.
struct AsioStreamInfo {
    uint32_t currentRate;                    // Hz
    uint32_t rateCount;                      // untrusted: at most 12 are used
    uint32_t rates[kOxluneMaxSampleRates];   // PCM and DSD rates share the list
    uint32_t bufferSize;                     // samples, the preferred size
};

// The engine's input channels, then its output channels.
struct AsioChannelMap {
    OxluneChannelList inputs;
    OxluneChannelList outputs;
};

// Extra latencies in samples, added to the buffer size.
struct AsioLatencyInfo {
    int32_t input;
    int32_t output;
};

// Shared with the kernel driver: it writes the index before signalling the switch
// event, the driver counts completed switches with an interlocked increment.
struct AsioSwitchBlock {
    volatile uint32_t bufferIndex;
    volatile LONG acknowledgeCount;
};

struct AsioSwitchRegistration {
    uint64_t block;  // address of the AsioSwitchBlock in the caller's process
    uint64_t event;  // handle of the caller's auto-reset switch event
    uint32_t halfSamples;
};

struct AsioChannelBufferInfo {
    uint32_t key0;
    uint32_t key1;
    uint32_t halfBytes;
    uint32_t sampleWidth; // always 4
    uint64_t buffer;      // half 0, followed by half 1
};
#pragma pack(pop)

static_assert(sizeof(AsioStreamInfo) == 60);
static_assert(offsetof(AsioStreamInfo, rateCount) == 4);
static_assert(offsetof(AsioStreamInfo, rates) == 8);
static_assert(offsetof(AsioStreamInfo, bufferSize) == 56);
static_assert(sizeof(AsioChannelMap) == 1544);
static_assert(offsetof(AsioChannelMap, outputs) == 772);
static_assert(sizeof(AsioLatencyInfo) == 8);
static_assert(offsetof(AsioLatencyInfo, output) == 4);
static_assert(sizeof(AsioSwitchBlock) == 8);
static_assert(offsetof(AsioSwitchBlock, acknowledgeCount) == 4);
static_assert(sizeof(AsioSwitchRegistration) == 20);
static_assert(offsetof(AsioSwitchRegistration, event) == 8);
static_assert(offsetof(AsioSwitchRegistration, halfSamples) == 16);
static_assert(sizeof(AsioChannelBufferInfo) == 24);
static_assert(offsetof(AsioChannelBufferInfo, halfBytes) == 8);
static_assert(offsetof(AsioChannelBufferInfo, sampleWidth) == 12);
static_assert(offsetof(AsioChannelBufferInfo, buffer) == 16);

// Clamps the untrusted counts of a reply to the record's arrays.
inline uint32_t AsioRateCount(const AsioStreamInfo& info)
{
    return info.rateCount <= kOxluneMaxSampleRates ? info.rateCount : kOxluneMaxSampleRates;
}
inline uint32_t AsioChannelCount(const OxluneChannelList& list)
{
    return list.count <= kOxluneMaxChannels ? list.count : kOxluneMaxChannels;
}
