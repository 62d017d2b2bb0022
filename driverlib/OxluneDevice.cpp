#include "driverlib/OxluneDevice.h"

#include "driverlib/OxluneRequests.h"
#include "winsupport/WnText.h"

#include <cstdint>
#include <cstring>

namespace {
constexpr uint32_t kNameCapacity = 100;
constexpr int64_t kLevelLimit = 9000;
// Largest entry list of one request; far above any mixer's size, it keeps count * size in range.
constexpr uint32_t kMaxEntryBytes = 64 * 1024;
} // namespace

OxluneDevice::OxluneDevice()
{
    std::memset(&m_record, 0, sizeof(m_record));
    std::memset(m_name, 0, sizeof(m_name));
}

OxluneDevice::~OxluneDevice()
{
    Close();
}

OxluneStatus OxluneDevice::OnOpened()
{
    return 0;
}

OxluneStatus OxluneDevice::Open(const wchar_t* name, const OxluneDeviceRecord& record)
{
    if (name == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    OxluneLockGuard guard(*this);
    // An open object stays bound to its device: its name and record are not replaced.
    if (IsOpen()) {
        return OXLUNE_STATUS_REJECTED;
    }
    CopyText(m_name, name, kNameCapacity);
    m_record = record;
    OxluneStatus status = OxluneApiContext::Open(m_name);
    if (status != 0) {
        return status;
    }
    const uint32_t key[2] = {m_record.key0, m_record.key1};
    status = IoControl(OXLUNE_IOCTL_BIND_DEVICE, key, sizeof(key), nullptr, 0);
    if (status == 0) {
        status = OnOpened();
        if (status == 0) {
            return 0;
        }
    }
    Close();
    return status;
}

OxluneStatus OxluneDevice::Entries(uint32_t code, void* entries, uint32_t count, uint32_t entrySize)
{
    if (count > kMaxEntryBytes / entrySize || (count != 0 && entries == nullptr)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    const uint32_t size = count * entrySize;
    return IoControl(code, entries, size, entries, size);
}

OxluneStatus OxluneDevice::GetStreamFormats(OxluneStreamFormatList* list)
{
    if (list == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_STREAM_FORMATS, nullptr, 0, list, sizeof(*list), &returned);
    if (status != 0) {
        return status;
    }
    if (returned < sizeof(list->count)) {
        list->count = 0;
        return OXLUNE_STATUS_LENGTH_MISMATCH;
    }
    // Only formats that arrived whole count, and never more than the table holds.
    const uint32_t arrived =
        (returned - static_cast<uint32_t>(sizeof(list->count))) / static_cast<uint32_t>(sizeof(OxluneStreamFormatRecord));
    if (list->count > arrived) {
        list->count = arrived;
    }
    if (list->count > kOxluneMaxStreamFormats) {
        list->count = kOxluneMaxStreamFormats;
    }
    return 0;
}

OxluneStatus OxluneDevice::InitChannelLevels(const OxluneChannelLevels& record)
{
    return IoControl(OXLUNE_IOCTL_INIT_CHANNEL_LEVELS, &record, sizeof(record), nullptr, 0);
}

OxluneStatus OxluneDevice::SetEndpointChannels(const OxluneEndpointChannelTable& table)
{
    return IoControl(OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS, &table, sizeof(table), nullptr, 0);
}

OxluneStatus OxluneDevice::SetEndpointPairs(const OxluneEndpointPairTable& table)
{
    return IoControl(OXLUNE_IOCTL_SET_ENDPOINT_PAIRS, &table, sizeof(table), nullptr, 0);
}

OxluneStatus OxluneDevice::GetInputMeters(OxluneMeterEntry* entries, uint32_t count)
{
    return Entries(OXLUNE_IOCTL_GET_INPUT_METERS, entries, count, sizeof(OxluneMeterEntry));
}

OxluneStatus OxluneDevice::GetOutputMeters(OxluneMeterEntry* entries, uint32_t count)
{
    return Entries(OXLUNE_IOCTL_GET_OUTPUT_METERS, entries, count, sizeof(OxluneMeterEntry));
}

OxluneStatus OxluneDevice::GetMixerPins(uint32_t selector, OxluneMixerPoint* points, uint32_t capacity,
                                        uint32_t* count)
{
    if (count == nullptr || capacity > kMaxEntryBytes / sizeof(OxluneMixerPoint) ||
        (capacity != 0 && points == nullptr)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_MIXER_PINS, &selector, sizeof(selector), points,
                                          capacity * static_cast<uint32_t>(sizeof(OxluneMixerPoint)), &returned);
    if (status != 0) {
        return status;
    }
    const uint32_t n = returned / static_cast<uint32_t>(sizeof(OxluneMixerPoint));
    *count = n < capacity ? n : capacity;
    return 0;
}

OxluneStatus OxluneDevice::GetOutputControls(OxluneControlEntry* entries, uint32_t count)
{
    return Entries(OXLUNE_IOCTL_GET_OUTPUT_CONTROLS, entries, count, sizeof(OxluneControlEntry));
}

OxluneStatus OxluneDevice::GetConnections(OxluneConnectionEntry* entries, uint32_t count)
{
    return Entries(OXLUNE_IOCTL_GET_CONNECTIONS, entries, count, sizeof(OxluneConnectionEntry));
}

OxluneStatus OxluneDevice::SetOutputControls(OxluneControlEntry* entries, uint32_t count)
{
    return Entries(OXLUNE_IOCTL_SET_OUTPUT_CONTROLS, entries, count, sizeof(OxluneControlEntry));
}

OxluneStatus OxluneDevice::SetConnections(OxluneConnectionEntry* entries, uint32_t count)
{
    return Entries(OXLUNE_IOCTL_SET_CONNECTIONS, entries, count, sizeof(OxluneConnectionEntry));
}

OxluneStatus OxluneDevice::SetVolumeBypass(bool on)
{
    const uint8_t value = on ? 1 : 0;
    return IoControl(OXLUNE_IOCTL_SET_VOLUME_BYPASS, &value, sizeof(value), nullptr, 0);
}

OxluneStatus OxluneDevice::GetVolumeBypass(bool* on)
{
    if (on == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint8_t value = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_VOLUME_BYPASS, nullptr, 0, &value, sizeof(value));
    if (status == 0) {
        *on = value != 0;
    }
    return status;
}

OxluneStatus OxluneDevice::SetBypassMute(bool on)
{
    const uint8_t value = on ? 1 : 0;
    return IoControl(OXLUNE_IOCTL_SET_BYPASS_MUTE, &value, sizeof(value), nullptr, 0);
}

OxluneStatus OxluneDevice::GetBypassMute(bool* on)
{
    if (on == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint8_t value = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_BYPASS_MUTE, nullptr, 0, &value, sizeof(value));
    if (status == 0) {
        *on = value != 0;
    }
    return status;
}

OxluneStatus OxluneDevice::GetChannelLevels(uint32_t direction, uint32_t index, OxluneChannelLevels* record)
{
    if (record == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    OxluneChannelLevels levels;
    std::memset(&levels, 0, sizeof(levels));
    levels.direction = direction;
    levels.index = index;
    uint32_t returned = 0;
    const OxluneStatus status =
        IoControl(OXLUNE_IOCTL_GET_CHANNEL_LEVELS, &levels, sizeof(levels), &levels, sizeof(levels), &returned);
    if (status == 0) {
        *record = levels;
    }
    return status;
}

OxluneStatus OxluneDevice::SetChannelLevels(const OxluneChannelLevels& record)
{
    return IoControl(OXLUNE_IOCTL_SET_CHANNEL_LEVELS, &record, sizeof(record), nullptr, 0);
}

OxluneStatus OxluneDevice::SetEffectParameters(const OxluneEffectParameters* block, uint32_t size)
{
    if (block == nullptr || size > sizeof(OxluneEffectParameters)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    return IoControl(OXLUNE_IOCTL_SET_EFFECT_PARAMETERS, block, size, nullptr, 0);
}

OxluneStatus OxluneDevice::GetEffectParameters(OxluneEffectParameters* block, uint32_t size)
{
    if (block == nullptr || size > sizeof(OxluneEffectParameters)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    return IoControl(OXLUNE_IOCTL_GET_EFFECT_PARAMETERS, block, size, block, size);
}

OxluneStatus OxluneDevice::SetSwitchParameter(uint32_t selector, uint32_t value)
{
    const OxluneSwitchInput input{selector, value};
    return IoControl(OXLUNE_IOCTL_SET_SWITCH_PARAMETER, &input, sizeof(input), nullptr, 0);
}

OxluneStatus OxluneDevice::SetSwitch(uint32_t selector, bool on)
{
    const OxluneSwitchInput input{selector, on ? 1u : 0u};
    return IoControl(OXLUNE_IOCTL_SET_SWITCH, &input, sizeof(input), nullptr, 0);
}

int32_t OxluneDevice::HundredthsFromFixed(int32_t fixed)
{
    if (fixed == INT32_MIN) {
        return -static_cast<int32_t>(kLevelLimit);
    }
    int64_t value = static_cast<int64_t>(fixed) * 100 / 65536;
    if (value < -kLevelLimit) {
        value = -kLevelLimit;
    } else if (value > kLevelLimit) {
        value = kLevelLimit;
    }
    return static_cast<int32_t>(value);
}

int32_t OxluneDevice::FixedFromHundredths(int32_t hundredths)
{
    // Computed in 64 bits so that no input overflows before the division.
    const int64_t value = static_cast<int64_t>(hundredths) * 65536 / 100;
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}
