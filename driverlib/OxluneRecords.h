#pragma once
// Packed little-endian records exchanged with the kernel driver over the control device,
// with the message codes, roles and streaming states of the message protocol.
// Every byte of these records comes from another process or the kernel: check counts
// against the fixed arrays before use.
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------
// Roles, states, classes

enum : uint32_t {
    OXLUNE_ROLE_SERVER = 0,       // the service
    OXLUNE_ROLE_ASIO = 1,         // the ASIO driver
    OXLUNE_ROLE_PANEL = 2,        // control panel main client
    OXLUNE_ROLE_PANEL_WINDOW = 3, // control panel window
    OXLUNE_ROLE_MIXER_WINDOW = 4, // mixer window
};
constexpr uint32_t kOxluneRoleCount = 5;

enum : uint32_t {
    OXLUNE_STREAMING_UNDEFINED = 0,
    OXLUNE_STREAMING_DOWN = 1,
    OXLUNE_STREAMING_READY = 2,
    OXLUNE_STREAMING_PREPARED = 3,
    OXLUNE_STREAMING_RUNNING = 4,
    OXLUNE_STREAMING_ERROR = 5,
    OXLUNE_STREAMING_USB11 = 6, // streaming not supported on a USB 1.1 port
};

// Commands of the set-streaming-state request.
enum : uint32_t {
    OXLUNE_STREAMING_CMD_RESET = 1,         // from Error or USB 1.1; the state is read again
    OXLUNE_STREAMING_CMD_DOWN_TO_READY = 2, // argument: restart flag
    OXLUNE_STREAMING_CMD_READY_TO_DOWN = 3, // argument: restart flag
    OXLUNE_STREAMING_CMD_READY_TO_PREPARED = 4,
    OXLUNE_STREAMING_CMD_PREPARED_TO_RUNNING = 5,
    OXLUNE_STREAMING_CMD_TO_READY = 6, // from Prepared or Running
};

// Streaming mode (streaming status, request 1003).
enum : uint32_t {
    OXLUNE_STREAMING_MODE_SINGLE = 0,
    OXLUNE_STREAMING_MODE_ALL = 1,
};

// Streaming buffer size classes and ASIO buffer size classes.
enum : uint32_t {
    OXLUNE_STREAM_BUFFER_MINIMUM = 0,
    OXLUNE_STREAM_BUFFER_EXTRA_SMALL = 1,
    OXLUNE_STREAM_BUFFER_SMALL = 2,
    OXLUNE_STREAM_BUFFER_LARGE = 3,
    OXLUNE_STREAM_BUFFER_EXTRA_LARGE = 4,
    OXLUNE_STREAM_BUFFER_SAFE = 5,
};
enum : uint32_t {
    OXLUNE_ASIO_BUFFER_MINIMUM = 0,
    OXLUNE_ASIO_BUFFER_SMALL = 1,
    OXLUNE_ASIO_BUFFER_LARGE = 2,
    OXLUNE_ASIO_BUFFER_MAXIMUM = 3,
};

constexpr uint32_t OXLUNE_POLICY_FORBID_RATE_CHANGE = 0x1;

// Device record flags.
constexpr uint32_t OXLUNE_DEVICE_FLAG_HIGH_SPEED = 0x1;
constexpr uint32_t OXLUNE_DEVICE_FLAG_ECHO_PLUGIN = 0x100;
constexpr uint32_t OXLUNE_DEVICE_FLAG_STREAMING = 0x10000;

// Channel info.
constexpr uint32_t OXLUNE_CHANNEL_DIRECTION_INPUT = 1; // any other value: output
constexpr uint32_t OXLUNE_SAMPLE_FORMAT_DSD = 2;        // any other value: PCM

// ---------------------------------------------------------------------------------------
// Message codes and types

enum : uint32_t {
    OXLUNE_MSG_TYPE_NONE = 0, // a receive that delivered nothing
    OXLUNE_MSG_TYPE_REQUEST = 1,
    OXLUNE_MSG_TYPE_REPLY = 2,
    OXLUNE_MSG_TYPE_NOTIFICATION = 3,
};

enum : uint32_t {
    // Client requests to the server.
    OXLUNE_MSG_SET_SAMPLE_RATE = 1001,     // u32 rate
    OXLUNE_MSG_SET_BUFFER_SIZES = 1002,    // OxluneBufferSizesPayload
    OXLUNE_MSG_SELECT_STREAMING_DEVICE = 1003, // OxluneStreamingDevicePayload
    OXLUNE_MSG_SET_DSD_MODE = 1004,        // u8 on
    OXLUNE_MSG_SET_POLICY = 1005,          // u32 policy
    // The reply to any request; the status is in the result field.
    OXLUNE_MSG_REPLY = 2001,
    // Notifications of the kernel driver to the control panel.
    OXLUNE_MSG_SETTINGS_CHANGED = 3001, // no payload
    // Notifications of the kernel driver to the server.
    OXLUNE_MSG_BRING_UP = 3003,          // no payload
    OXLUNE_MSG_STOP_WHEN_IDLE = 3004,    // no payload
    OXLUNE_MSG_DEVICES_CHANGED = 3005,   // no payload
    OXLUNE_MSG_BRING_UP_RESTART = 3006,  // no payload
    // Notifications of the server to every client.
    OXLUNE_MSG_STREAMING_CHANGED = 3010,   // no payload
    OXLUNE_MSG_SAMPLE_RATE_CHANGED = 3011, // no payload
    // Notifications of the kernel driver to the server.
    OXLUNE_MSG_BRING_UP_FOR = 3015,       // OxluneTwoWordsPayload
    OXLUNE_MSG_STOP_WHEN_IDLE_FOR = 3016, // OxluneTwoWordsPayload
    OXLUNE_MSG_REFRESH_CLIENTS = 3020,    // no payload
    OXLUNE_MSG_IGNORED_3021 = 3021,       // ignored by the server
    // Server to every client.
    OXLUNE_MSG_DEVICE_LIST_CHANGED = 3030, // no payload
    // Kernel driver to the control panel (payload: device key, OxluneTwoWordsPayload).
    OXLUNE_MSG_DEVICE_STATE_CHANGED = 3040,
    OXLUNE_MSG_MIXER_LAYOUT_CHANGED = 3050,
    OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED = 3051, // also to the server
    OXLUNE_MSG_CONNECTIONS_CHANGED = 3052,
    // Kernel driver to the server.
    OXLUNE_MSG_DEVICE_NOTICE = 3060, // OxluneDeviceNoticePayload
    // The service's own requests and the reply code of 11002.
    OXLUNE_MSG_SET_WDM_CONFIGURATION = 11001, // OxluneWdmConfigurationPayload
    OXLUNE_MSG_GET_WDM_CONFIGURATION = 11002, // OxluneWdmConfigurationPayload
    OXLUNE_MSG_WDM_CONFIGURATION_REPLY = 12001,
};

// Kinds of notification 3060.
enum : uint32_t {
    OXLUNE_DEVICE_NOTICE_KIND_1 = 1,
    OXLUNE_DEVICE_NOTICE_KIND_VOLUME = 2, // an endpoint volume changed
};

constexpr uint32_t kOxluneMessageHeaderSize = 32;
constexpr uint32_t kOxluneMessageMaxPayload = 512;
constexpr uint32_t kOxluneDefaultRequestTimeoutMs = 30000;

#pragma pack(push, 1)

// ---------------------------------------------------------------------------------------
// Devices

struct OxluneDeviceRecord {
    uint32_t key0;
    uint32_t key1;
    uint16_t vendorId;
    uint16_t productId;
    wchar_t serialNumber[20]; // zero-terminated
    wchar_t name[42];         // zero-terminated
    uint32_t flags;           // OXLUNE_DEVICE_FLAG_*
};

constexpr uint32_t kOxluneMaxDevices = 8;
struct OxluneDeviceList {
    uint32_t count; // untrusted: clamp to kOxluneMaxDevices
    OxluneDeviceRecord devices[kOxluneMaxDevices];
};

// ---------------------------------------------------------------------------------------
// Messages

struct OxluneMessageHeader {
    uint32_t headerSize; // always 32
    uint32_t length;     // payload bytes, 0 to 512
    uint32_t type;       // OXLUNE_MSG_TYPE_*
    uint32_t code;       // OXLUNE_MSG_*
    uint32_t sequence;
    uint32_t initiator0;
    uint32_t initiator1;
    uint32_t result;
};

// Payload of requests 1002 and of the apply-buffer-sizes request.
struct OxluneBufferSizesPayload {
    uint32_t streamingClass;
    uint32_t asioClass;
    uint32_t third;
};
// Payload of request 1003 and of the apply-streaming-device request.
struct OxluneStreamingDevicePayload {
    uint32_t key0;
    uint32_t key1;
    uint32_t mode;
};
// Payload of notifications 3015, 3016 and of the device-key notifications 3040 to 3052.
struct OxluneTwoWordsPayload {
    uint32_t word0;
    uint32_t word1;
};
// Payload of notification 3060.
struct OxluneDeviceNoticePayload {
    uint32_t key0;
    uint32_t key1;
    uint32_t kind;
    uint32_t value;
};
// Payload of requests 11001 and 11002 and of the 12001 reply.
struct OxluneWdmConfigurationPayload {
    uint32_t key0;
    uint32_t key1;
    uint32_t renderConfiguration;
    uint32_t captureConfiguration;
};

// ---------------------------------------------------------------------------------------
// Driver-wide records

struct OxluneStreamingStatus {
    uint32_t state;      // OXLUNE_STREAMING_*
    uint32_t mode;       // OXLUNE_STREAMING_MODE_*
    uint32_t sampleRate; // Hz
    uint32_t streamDemandCount;
    uint32_t exclusiveUseCount;
    uint32_t changeLockCount;
    uint32_t secondStreamDemandCount;
    uint32_t streamDemandFlag;
    uint32_t reserved;
};

struct OxluneBufferSizes {
    uint32_t streamingClass; // OXLUNE_STREAM_BUFFER_*
    uint32_t asioClass;      // OXLUNE_ASIO_BUFFER_*
    uint32_t third;          // sent back unchanged on a change
    uint32_t streamingMicroseconds;
    uint32_t asioMicroseconds;
    uint32_t asioSamples;
    uint32_t reserved[2];
};

constexpr uint32_t kOxluneMaxSampleRates = 12;
struct OxluneSampleRates {
    uint32_t current; // Hz
    uint32_t count;   // untrusted: clamp to kOxluneMaxSampleRates
    uint32_t rates[kOxluneMaxSampleRates];
};

struct OxluneErrorCounters {
    uint32_t streaming;
    uint32_t fifo;
    uint32_t asio;
    uint32_t wdmAudio;
    uint32_t wdmMidi;
};

struct OxluneChannelKey {
    uint32_t key0;
    uint32_t key1;
};
constexpr uint32_t kOxluneMaxChannels = 96;
struct OxluneChannelList {
    uint32_t count; // untrusted: clamp to kOxluneMaxChannels
    OxluneChannelKey channels[kOxluneMaxChannels];
};

struct OxluneChannelInfo {
    uint32_t key0;
    uint32_t key1;
    uint32_t deviceKey0;
    uint32_t deviceKey1;
    uint32_t direction;    // 1 input, other output
    uint32_t sampleFormat; // 2 DSD, other PCM
    wchar_t name[42];      // zero-terminated
};

// Input of the set-events request: the two event handles zero-extended to 64 bits.
struct OxluneSetEventsInput {
    uint64_t messageEvent;
    uint64_t notificationEvent;
};

// ---------------------------------------------------------------------------------------
// Server commands

struct OxluneStreamingStateInput {
    uint32_t command; // OXLUNE_STREAMING_CMD_*
    uint32_t argument;
};

// ---------------------------------------------------------------------------------------
// Per-device records: mixer, endpoints, switches

// Point kinds.
enum : uint8_t {
    OXLUNE_POINT_ANALOG = 0,
    OXLUNE_POINT_SPDIF = 1,
    OXLUNE_POINT_PLAYBACK = 2,
    OXLUNE_POINT_SPDIF_PLAYBACK = 3,
    OXLUNE_POINT_VIRTUAL_INPUT = 5,
};

struct OxluneMixerPoint {
    uint8_t kind;
    uint8_t channel; // 0-based
    uint8_t zero[2];
};

// Selectors of GetMixerPins.
enum : uint32_t {
    OXLUNE_PINS_OUTPUTS = 0,
    OXLUNE_PINS_HARDWARE_INPUTS = 1,
    OXLUNE_PINS_SOFTWARE_OUTPUTS = 2,
};
constexpr uint32_t kOxluneMaxOutputPins = 26;
constexpr uint32_t kOxluneMaxInputPins = 18;

struct OxluneMeterEntry {
    OxluneMixerPoint point;
    int16_t level; // hundredths of a dB
    uint16_t reserved;
};

constexpr uint8_t OXLUNE_CONTROL_FLAG_MUTE = 0x1;
struct OxluneControlEntry {
    OxluneMixerPoint point;
    uint8_t zero;
    uint8_t flags; // bit 0 mute
    int16_t level; // hundredths of a dB
};

constexpr uint8_t OXLUNE_CONNECTION_FLAG_CONNECTED = 0x1;
struct OxluneConnectionEntry {
    OxluneMixerPoint destination; // a mixer output
    OxluneMixerPoint source;      // a mixer input
    int16_t level;                // hundredths of a dB
    uint8_t flags;                // bit 0 connected
    uint8_t zero;
};

constexpr uint32_t OXLUNE_ENDPOINT_DIRECTION_CAPTURE = 1;
constexpr uint32_t OXLUNE_ENDPOINT_DIRECTION_RENDER = 2;
constexpr uint32_t OXLUNE_CHANNEL_LEVEL_FLAG_MUTE = 0x1;
constexpr uint32_t kOxluneChannelLevelCount = 16;
struct OxluneChannelLevels {
    uint32_t direction; // 2 render
    uint32_t index;
    int32_t levels[kOxluneChannelLevelCount]; // signed 16.16 dB
    uint32_t flags[kOxluneChannelLevelCount]; // bit 0 mute
};

// Effect parameters 2 and 3 are the echo effect's settings.
constexpr uint32_t OXLUNE_EFFECT_PARAMETER_ECHO_A = 2;
constexpr uint32_t OXLUNE_EFFECT_PARAMETER_ECHO_B = 3;
constexpr uint32_t kOxluneMaxEffectValues = 64;
struct OxluneEffectValue {
    uint32_t channel;
    uint32_t value;
};
struct OxluneEffectParameters {
    uint32_t parameter;
    uint32_t count; // untrusted: clamp to kOxluneMaxEffectValues
    OxluneEffectValue values[kOxluneMaxEffectValues];
};

constexpr uint32_t OXLUNE_ENDPOINT_TYPE_PHYSICAL = 1;
constexpr uint32_t OXLUNE_ENDPOINT_TYPE_VIRTUAL = 40;
constexpr uint32_t kOxluneMaxEndpoints = 32;

struct OxluneEndpointChannelEntry {
    uint32_t type;    // OXLUNE_ENDPOINT_TYPE_*
    uint32_t pair;
    uint32_t channel; // 0 or 1 within the pair
    wchar_t name[42]; // zero-terminated
};
struct OxluneEndpointChannelList {
    uint32_t count; // at most 32
    OxluneEndpointChannelEntry entries[kOxluneMaxEndpoints];
};
struct OxluneEndpointChannelTable {
    OxluneEndpointChannelList capture;
    OxluneEndpointChannelList render;
};

struct OxluneEndpointPairEntry {
    uint32_t type;          // OXLUNE_ENDPOINT_TYPE_*
    uint32_t one;           // 1 in every entry
    uint32_t pair;
    uint8_t zero[28];
    uint32_t zero2;
    uint32_t configuration; // 3 physical, 0 virtual
    wchar_t name[44];       // zero-terminated
    uint32_t position;      // position in the list
    uint32_t levelWord;     // 0xFF800000 physical, 0 virtual
    uint32_t zero3;
};
struct OxluneEndpointPairList {
    uint32_t count; // at most 32
    OxluneEndpointPairEntry entries[kOxluneMaxEndpoints];
};
struct OxluneEndpointPairTable {
    OxluneEndpointPairList capture;
    OxluneEndpointPairList render;
};
constexpr uint32_t OXLUNE_ENDPOINT_PAIR_LEVEL_PHYSICAL = 0xFF800000u;

struct OxluneStreamFormatEntry {
    uint32_t sampleFormat; // 2 DSD
    uint32_t value;
};
struct OxluneStreamFormatRecord {
    uint32_t header;
    OxluneStreamFormatEntry first[16];
    OxluneStreamFormatEntry second[16];
    uint8_t reserved[36];
};
constexpr uint32_t kOxluneMaxStreamFormats = 12;
struct OxluneStreamFormatList {
    uint32_t count; // untrusted: clamp to kOxluneMaxStreamFormats
    OxluneStreamFormatRecord formats[kOxluneMaxStreamFormats];
    uint8_t reserved[68];
};

// Input of SetSwitch and SetSwitchParameter.
struct OxluneSwitchInput {
    uint32_t selector;
    uint32_t value;
};

#pragma pack(pop)

// ---------------------------------------------------------------------------------------
// Layout checks

static_assert(sizeof(wchar_t) == 2, "records carry UTF-16 text");

static_assert(sizeof(OxluneDeviceRecord) == 140);
static_assert(offsetof(OxluneDeviceRecord, key1) == 4);
static_assert(offsetof(OxluneDeviceRecord, vendorId) == 8);
static_assert(offsetof(OxluneDeviceRecord, productId) == 10);
static_assert(offsetof(OxluneDeviceRecord, serialNumber) == 12);
static_assert(offsetof(OxluneDeviceRecord, name) == 52);
static_assert(offsetof(OxluneDeviceRecord, flags) == 136);
static_assert(sizeof(OxluneDeviceList) == 1124);
static_assert(offsetof(OxluneDeviceList, devices) == 4);

static_assert(sizeof(OxluneMessageHeader) == 32);
static_assert(offsetof(OxluneMessageHeader, length) == 4);
static_assert(offsetof(OxluneMessageHeader, type) == 8);
static_assert(offsetof(OxluneMessageHeader, code) == 12);
static_assert(offsetof(OxluneMessageHeader, sequence) == 16);
static_assert(offsetof(OxluneMessageHeader, initiator0) == 20);
static_assert(offsetof(OxluneMessageHeader, initiator1) == 24);
static_assert(offsetof(OxluneMessageHeader, result) == 28);
static_assert(sizeof(OxluneBufferSizesPayload) == 12);
static_assert(sizeof(OxluneStreamingDevicePayload) == 12);
static_assert(sizeof(OxluneTwoWordsPayload) == 8);
static_assert(sizeof(OxluneDeviceNoticePayload) == 16);
static_assert(offsetof(OxluneDeviceNoticePayload, kind) == 8);
static_assert(sizeof(OxluneWdmConfigurationPayload) == 16);

static_assert(sizeof(OxluneStreamingStatus) == 36);
static_assert(offsetof(OxluneStreamingStatus, mode) == 4);
static_assert(offsetof(OxluneStreamingStatus, sampleRate) == 8);
static_assert(offsetof(OxluneStreamingStatus, streamDemandCount) == 12);
static_assert(offsetof(OxluneStreamingStatus, exclusiveUseCount) == 16);
static_assert(offsetof(OxluneStreamingStatus, changeLockCount) == 20);
static_assert(offsetof(OxluneStreamingStatus, secondStreamDemandCount) == 24);
static_assert(offsetof(OxluneStreamingStatus, streamDemandFlag) == 28);
static_assert(sizeof(OxluneBufferSizes) == 32);
static_assert(offsetof(OxluneBufferSizes, third) == 8);
static_assert(offsetof(OxluneBufferSizes, streamingMicroseconds) == 12);
static_assert(offsetof(OxluneBufferSizes, asioMicroseconds) == 16);
static_assert(offsetof(OxluneBufferSizes, asioSamples) == 20);
static_assert(sizeof(OxluneSampleRates) == 56);
static_assert(offsetof(OxluneSampleRates, rates) == 8);
static_assert(sizeof(OxluneErrorCounters) == 20);
static_assert(offsetof(OxluneErrorCounters, wdmMidi) == 16);
static_assert(sizeof(OxluneChannelList) == 772);
static_assert(sizeof(OxluneChannelInfo) == 108);
static_assert(offsetof(OxluneChannelInfo, deviceKey0) == 8);
static_assert(offsetof(OxluneChannelInfo, direction) == 16);
static_assert(offsetof(OxluneChannelInfo, sampleFormat) == 20);
static_assert(offsetof(OxluneChannelInfo, name) == 24);
static_assert(sizeof(OxluneSetEventsInput) == 16);
static_assert(offsetof(OxluneSetEventsInput, notificationEvent) == 8);
static_assert(sizeof(OxluneStreamingStateInput) == 8);

static_assert(sizeof(OxluneMixerPoint) == 4);
static_assert(sizeof(OxluneMeterEntry) == 8);
static_assert(offsetof(OxluneMeterEntry, level) == 4);
static_assert(sizeof(OxluneControlEntry) == 8);
static_assert(offsetof(OxluneControlEntry, flags) == 5);
static_assert(offsetof(OxluneControlEntry, level) == 6);
static_assert(sizeof(OxluneConnectionEntry) == 12);
static_assert(offsetof(OxluneConnectionEntry, source) == 4);
static_assert(offsetof(OxluneConnectionEntry, level) == 8);
static_assert(offsetof(OxluneConnectionEntry, flags) == 10);
static_assert(sizeof(OxluneChannelLevels) == 136);
static_assert(offsetof(OxluneChannelLevels, levels) == 8);
static_assert(offsetof(OxluneChannelLevels, flags) == 72);
static_assert(sizeof(OxluneEffectParameters) == 520);
static_assert(offsetof(OxluneEffectParameters, values) == 8);
static_assert(sizeof(OxluneEndpointChannelEntry) == 96);
static_assert(offsetof(OxluneEndpointChannelEntry, name) == 12);
static_assert(sizeof(OxluneEndpointChannelList) == 3076);
static_assert(sizeof(OxluneEndpointChannelTable) == 6152);
static_assert(sizeof(OxluneEndpointPairEntry) == 148);
static_assert(offsetof(OxluneEndpointPairEntry, pair) == 8);
static_assert(offsetof(OxluneEndpointPairEntry, zero2) == 40);
static_assert(offsetof(OxluneEndpointPairEntry, configuration) == 44);
static_assert(offsetof(OxluneEndpointPairEntry, name) == 48);
static_assert(offsetof(OxluneEndpointPairEntry, position) == 136);
static_assert(offsetof(OxluneEndpointPairEntry, levelWord) == 140);
static_assert(offsetof(OxluneEndpointPairEntry, zero3) == 144);
static_assert(sizeof(OxluneEndpointPairList) == 4740);
static_assert(sizeof(OxluneEndpointPairTable) == 9480);
static_assert(sizeof(OxluneStreamFormatEntry) == 8);
static_assert(sizeof(OxluneStreamFormatRecord) == 296);
static_assert(offsetof(OxluneStreamFormatRecord, first) == 4);
static_assert(offsetof(OxluneStreamFormatRecord, second) == 132);
static_assert(sizeof(OxluneStreamFormatList) == 3624);
static_assert(offsetof(OxluneStreamFormatList, formats) == 4);
static_assert(sizeof(OxluneSwitchInput) == 8);
