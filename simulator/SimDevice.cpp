#include "simulator/SimDevice.h"

#include "winsupport/WnText.h"

#include <cstring>

SimDevice::SimDevice(const SimDeviceConfig& config) : m_config(config), m_mixer(config.analog, config.spdif, config.echo)
{
    if (m_config.name.empty()) {
        m_config.name = L"Kuvo " + m_config.serial;
    }
}

OxluneDeviceRecord SimDevice::Record(bool selected) const
{
    OxluneDeviceRecord record{};
    record.key0 = m_config.key0;
    record.key1 = m_config.key1;
    record.vendorId = m_config.vendorId;
    record.productId = m_config.productId;
    CopyText(record.serialNumber, m_config.serial.c_str(), sizeof(record.serialNumber) / sizeof(wchar_t));
    CopyText(record.name, m_config.name.c_str(), sizeof(record.name) / sizeof(wchar_t));
    record.flags = (m_config.highSpeed ? OXLUNE_DEVICE_FLAG_HIGH_SPEED : 0) |
                   (m_config.echo ? OXLUNE_DEVICE_FLAG_ECHO_PLUGIN : 0) | (selected ? OXLUNE_DEVICE_FLAG_STREAMING : 0);
    return record;
}

void SimDevice::StreamFormats(OxluneStreamFormatList* list) const
{
    std::memset(list, 0, sizeof(*list));
    // One PCM record with the rates it streams, and a DSD record on DSD devices.
    static const uint32_t kPcmRates[] = {44100, 48000, 88200, 96000, 176400, 192000};
    OxluneStreamFormatRecord& pcm = list->formats[list->count++];
    pcm.header = 1;
    for (uint32_t i = 0; i < sizeof(kPcmRates) / sizeof(kPcmRates[0]); ++i) {
        pcm.first[i] = OxluneStreamFormatEntry{1, kPcmRates[i]};
        pcm.second[i] = OxluneStreamFormatEntry{1, kPcmRates[i]};
    }
    if (m_config.dsd) {
        OxluneStreamFormatRecord& dsd = list->formats[list->count++];
        dsd.header = 2;
        dsd.first[0] = OxluneStreamFormatEntry{OXLUNE_SAMPLE_FORMAT_DSD, 2822400};
        dsd.first[1] = OxluneStreamFormatEntry{OXLUNE_SAMPLE_FORMAT_DSD, 5644800};
        dsd.second[0] = OxluneStreamFormatEntry{OXLUNE_SAMPLE_FORMAT_DSD, 2822400};
        dsd.second[1] = OxluneStreamFormatEntry{OXLUNE_SAMPLE_FORMAT_DSD, 5644800};
    }
}

bool SimDevice::GetChannelLevels(uint32_t direction, uint32_t index, OxluneChannelLevels* record) const
{
    if ((direction != OXLUNE_ENDPOINT_DIRECTION_CAPTURE && direction != OXLUNE_ENDPOINT_DIRECTION_RENDER) ||
        index >= kMaxLevelIndex) {
        return false;
    }
    auto it = m_levels.find({direction, index});
    if (it != m_levels.end()) {
        *record = it->second;
    } else {
        std::memset(record, 0, sizeof(*record));
        record->direction = direction;
        record->index = index;
    }
    return true;
}

bool SimDevice::SetChannelLevels(const OxluneChannelLevels& record)
{
    if ((record.direction != OXLUNE_ENDPOINT_DIRECTION_CAPTURE && record.direction != OXLUNE_ENDPOINT_DIRECTION_RENDER) ||
        record.index >= kMaxLevelIndex) {
        return false;
    }
    m_levels[{record.direction, record.index}] = record;
    return true;
}
