#pragma once
// Request codes of the driver object, the device object, the client and the server.
#include "driverlib/OxluneIoctl.h"

#include <cstdint>

// Messages, events, registration.
constexpr uint32_t OXLUNE_IOCTL_SEND_MESSAGE = OxluneIoctlCode(0x810);         // in: message, 32 + length
constexpr uint32_t OXLUNE_IOCTL_RECEIVE_MESSAGE = OxluneIoctlCode(0x811);      // out: 544
constexpr uint32_t OXLUNE_IOCTL_RECEIVE_NOTIFICATION = OxluneIoctlCode(0x812); // out: 544
constexpr uint32_t OXLUNE_IOCTL_SET_EVENTS = OxluneIoctlCode(0x816);           // in: OxluneSetEventsInput
constexpr uint32_t OXLUNE_IOCTL_REGISTER = OxluneIoctlCode(0x819);             // in: role (u32)

// Device list and binding.
constexpr uint32_t OXLUNE_IOCTL_QUERY_DEVICES = OxluneIoctlCode(0x820); // out: OxluneDeviceList
constexpr uint32_t OXLUNE_IOCTL_BIND_DEVICE = OxluneIoctlCode(0x821);   // in: key (2 words)

// Driver-wide queries.
constexpr uint32_t OXLUNE_IOCTL_GET_INPUT_CHANNELS = OxluneIoctlCode(0x824);   // out: OxluneChannelList
constexpr uint32_t OXLUNE_IOCTL_GET_OUTPUT_CHANNELS = OxluneIoctlCode(0x825);  // out: OxluneChannelList
constexpr uint32_t OXLUNE_IOCTL_GET_CHANNEL_INFO = OxluneIoctlCode(0x826);     // in: key; out: OxluneChannelInfo
constexpr uint32_t OXLUNE_IOCTL_GET_SAMPLE_RATES = OxluneIoctlCode(0x830);     // out: OxluneSampleRates
constexpr uint32_t OXLUNE_IOCTL_GET_BUFFER_SIZES = OxluneIoctlCode(0x831);     // out: OxluneBufferSizes
constexpr uint32_t OXLUNE_IOCTL_GET_STREAMING_STATUS = OxluneIoctlCode(0x834); // out: OxluneStreamingStatus
constexpr uint32_t OXLUNE_IOCTL_GET_ERROR_COUNTERS = OxluneIoctlCode(0x835);   // out: OxluneErrorCounters
constexpr uint32_t OXLUNE_IOCTL_GET_POLICY = OxluneIoctlCode(0x904);           // out: policy (u32)

// Commands of the server.
constexpr uint32_t OXLUNE_IOCTL_SET_STREAMING_STATE = OxluneIoctlCode(0x840);      // in: OxluneStreamingStateInput
constexpr uint32_t OXLUNE_IOCTL_APPLY_SAMPLE_RATE = OxluneIoctlCode(0x900);        // in: rate (u32)
constexpr uint32_t OXLUNE_IOCTL_APPLY_BUFFER_SIZES = OxluneIoctlCode(0x901);       // in: OxluneBufferSizesPayload
constexpr uint32_t OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE = OxluneIoctlCode(0x902);     // in: rate (u32)
constexpr uint32_t OXLUNE_IOCTL_APPLY_POLICY = OxluneIoctlCode(0x903);             // in: policy (u32)
constexpr uint32_t OXLUNE_IOCTL_APPLY_STREAMING_DEVICE = OxluneIoctlCode(0x910);   // in: OxluneStreamingDevicePayload

// Per-device requests (on a handle bound to one device).
constexpr uint32_t OXLUNE_IOCTL_GET_STREAM_FORMATS = OxluneIoctlCode(0xB00);      // out: OxluneStreamFormatList
constexpr uint32_t OXLUNE_IOCTL_INIT_CHANNEL_LEVELS = OxluneIoctlCode(0xB08);     // in: OxluneChannelLevels
constexpr uint32_t OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS = OxluneIoctlCode(0xB10);   // in: OxluneEndpointChannelTable
constexpr uint32_t OXLUNE_IOCTL_SET_ENDPOINT_PAIRS = OxluneIoctlCode(0xB11);      // in: OxluneEndpointPairTable
constexpr uint32_t OXLUNE_IOCTL_GET_INPUT_METERS = OxluneIoctlCode(0xB30);        // in/out: meter entries
constexpr uint32_t OXLUNE_IOCTL_GET_OUTPUT_METERS = OxluneIoctlCode(0xB31);       // in/out: meter entries
constexpr uint32_t OXLUNE_IOCTL_GET_MIXER_PINS = OxluneIoctlCode(0xB38);          // in: selector; out: points
constexpr uint32_t OXLUNE_IOCTL_GET_OUTPUT_CONTROLS = OxluneIoctlCode(0xB40);     // in/out: control entries
constexpr uint32_t OXLUNE_IOCTL_GET_CONNECTIONS = OxluneIoctlCode(0xB41);         // in/out: connection entries
constexpr uint32_t OXLUNE_IOCTL_SET_OUTPUT_CONTROLS = OxluneIoctlCode(0xB44);     // in/out: control entries
constexpr uint32_t OXLUNE_IOCTL_SET_CONNECTIONS = OxluneIoctlCode(0xB45);         // in/out: connection entries
constexpr uint32_t OXLUNE_IOCTL_SET_VOLUME_BYPASS = OxluneIoctlCode(0xB46);       // in: 1 byte
constexpr uint32_t OXLUNE_IOCTL_GET_VOLUME_BYPASS = OxluneIoctlCode(0xB47);       // out: 1 byte
constexpr uint32_t OXLUNE_IOCTL_SET_BYPASS_MUTE = OxluneIoctlCode(0xB48);         // in: 1 byte
constexpr uint32_t OXLUNE_IOCTL_GET_BYPASS_MUTE = OxluneIoctlCode(0xB49);         // out: 1 byte
constexpr uint32_t OXLUNE_IOCTL_GET_CHANNEL_LEVELS = OxluneIoctlCode(0xB70);      // in/out: OxluneChannelLevels
constexpr uint32_t OXLUNE_IOCTL_SET_CHANNEL_LEVELS = OxluneIoctlCode(0xB71);      // in: OxluneChannelLevels
constexpr uint32_t OXLUNE_IOCTL_SET_EFFECT_PARAMETERS = OxluneIoctlCode(0xB90);   // in: OxluneEffectParameters
constexpr uint32_t OXLUNE_IOCTL_GET_EFFECT_PARAMETERS = OxluneIoctlCode(0xB91);   // in/out: OxluneEffectParameters
constexpr uint32_t OXLUNE_IOCTL_SET_SWITCH_PARAMETER = OxluneIoctlCode(0xC20);    // in: OxluneSwitchInput
constexpr uint32_t OXLUNE_IOCTL_SET_SWITCH = OxluneIoctlCode(0xC22);              // in: OxluneSwitchInput

static_assert(OXLUNE_IOCTL_SEND_MESSAGE == 0x80882040u);
static_assert(OXLUNE_IOCTL_RECEIVE_MESSAGE == 0x80882044u);
static_assert(OXLUNE_IOCTL_RECEIVE_NOTIFICATION == 0x80882048u);
static_assert(OXLUNE_IOCTL_SET_EVENTS == 0x80882058u);
static_assert(OXLUNE_IOCTL_REGISTER == 0x80882064u);
static_assert(OXLUNE_IOCTL_QUERY_DEVICES == 0x80882080u);
static_assert(OXLUNE_IOCTL_BIND_DEVICE == 0x80882084u);
static_assert(OXLUNE_IOCTL_GET_INPUT_CHANNELS == 0x80882090u);
static_assert(OXLUNE_IOCTL_GET_OUTPUT_CHANNELS == 0x80882094u);
static_assert(OXLUNE_IOCTL_GET_CHANNEL_INFO == 0x80882098u);
static_assert(OXLUNE_IOCTL_GET_SAMPLE_RATES == 0x808820C0u);
static_assert(OXLUNE_IOCTL_GET_BUFFER_SIZES == 0x808820C4u);
static_assert(OXLUNE_IOCTL_GET_STREAMING_STATUS == 0x808820D0u);
static_assert(OXLUNE_IOCTL_GET_ERROR_COUNTERS == 0x808820D4u);
static_assert(OXLUNE_IOCTL_GET_POLICY == 0x80882410u);
static_assert(OXLUNE_IOCTL_SET_STREAMING_STATE == 0x80882100u);
static_assert(OXLUNE_IOCTL_APPLY_SAMPLE_RATE == 0x80882400u);
static_assert(OXLUNE_IOCTL_APPLY_BUFFER_SIZES == 0x80882404u);
static_assert(OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE == 0x80882408u);
static_assert(OXLUNE_IOCTL_APPLY_POLICY == 0x8088240Cu);
static_assert(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE == 0x80882440u);
static_assert(OXLUNE_IOCTL_GET_STREAM_FORMATS == 0x80882C00u);
static_assert(OXLUNE_IOCTL_INIT_CHANNEL_LEVELS == 0x80882C20u);
static_assert(OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS == 0x80882C40u);
static_assert(OXLUNE_IOCTL_SET_ENDPOINT_PAIRS == 0x80882C44u);
static_assert(OXLUNE_IOCTL_GET_INPUT_METERS == 0x80882CC0u);
static_assert(OXLUNE_IOCTL_GET_OUTPUT_METERS == 0x80882CC4u);
static_assert(OXLUNE_IOCTL_GET_MIXER_PINS == 0x80882CE0u);
static_assert(OXLUNE_IOCTL_GET_OUTPUT_CONTROLS == 0x80882D00u);
static_assert(OXLUNE_IOCTL_GET_CONNECTIONS == 0x80882D04u);
static_assert(OXLUNE_IOCTL_SET_OUTPUT_CONTROLS == 0x80882D10u);
static_assert(OXLUNE_IOCTL_SET_CONNECTIONS == 0x80882D14u);
static_assert(OXLUNE_IOCTL_SET_VOLUME_BYPASS == 0x80882D18u);
static_assert(OXLUNE_IOCTL_GET_VOLUME_BYPASS == 0x80882D1Cu);
static_assert(OXLUNE_IOCTL_SET_BYPASS_MUTE == 0x80882D20u);
static_assert(OXLUNE_IOCTL_GET_BYPASS_MUTE == 0x80882D24u);
static_assert(OXLUNE_IOCTL_GET_CHANNEL_LEVELS == 0x80882DC0u);
static_assert(OXLUNE_IOCTL_SET_CHANNEL_LEVELS == 0x80882DC4u);
static_assert(OXLUNE_IOCTL_SET_EFFECT_PARAMETERS == 0x80882E40u);
static_assert(OXLUNE_IOCTL_GET_EFFECT_PARAMETERS == 0x80882E44u);
static_assert(OXLUNE_IOCTL_SET_SWITCH_PARAMETER == 0x80883080u);
static_assert(OXLUNE_IOCTL_SET_SWITCH == 0x80883088u);
