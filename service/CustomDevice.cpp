#include "service/CustomDevice.h"

#include "winsupport/WnText.h"

#include <cstring>
#include <cwchar>

uint32_t PairCount(const OxluneEndpointPairEntry& entry)
{
    uint32_t count = 0;
    std::memcpy(&count, reinterpret_cast<const uint8_t*>(&entry) + kPairCountOffset, 4);
    return count < kMaxPairsPerEntry ? count : kMaxPairsPerEntry;
}

uint32_t PairNumber(const OxluneEndpointPairEntry& entry, uint32_t slot)
{
    uint32_t pair = 0;
    if (slot < kMaxPairsPerEntry) {
        std::memcpy(&pair, reinterpret_cast<const uint8_t*>(&entry) + kPairNumbersOffset + slot * 4, 4);
    }
    return pair;
}

uint32_t VolumeMode(const OxluneEndpointPairEntry& entry)
{
    uint32_t mode = 0;
    std::memcpy(&mode, reinterpret_cast<const uint8_t*>(&entry) + kVolumeModeOffset, 4);
    return mode;
}

namespace {
void SetPairEntry(OxluneEndpointPairEntry* entry, uint32_t type, uint32_t pair, uint32_t configuration,
                  uint32_t position, uint32_t levelWord)
{
    std::memset(entry, 0, sizeof(*entry));
    entry->type = type;
    entry->one = 1; // pair count: one pair number used
    entry->pair = pair;
    entry->configuration = configuration;
    entry->position = position;
    entry->levelWord = levelWord;
}

void AppendChannel(OxluneEndpointChannelList* list, uint32_t type, uint32_t pair, uint32_t channel,
                   const wchar_t* format, uint32_t number)
{
    if (list->count >= kOxluneMaxEndpoints) {
        return;
    }
    OxluneEndpointChannelEntry& entry = list->entries[list->count++];
    entry.type = type;
    entry.pair = pair;
    entry.channel = channel;
    FormatText(entry.name, 41, format, number);
}

bool HasDsdFormat(const OxluneStreamFormatList& list)
{
    const uint32_t count = list.count < kOxluneMaxStreamFormats ? list.count : kOxluneMaxStreamFormats;
    for (uint32_t i = 0; i < count; ++i) {
        for (uint32_t j = 0; j < 16; ++j) {
            if (list.formats[i].first[j].sampleFormat == OXLUNE_SAMPLE_FORMAT_DSD ||
                list.formats[i].second[j].sampleFormat == OXLUNE_SAMPLE_FORMAT_DSD) {
                return true;
            }
        }
    }
    return false;
}
} // namespace

CustomDevice::CustomDevice(const wchar_t* registryPath)
{
    CopyText(m_registryPath, registryPath != nullptr ? registryPath : L"", 128);
    std::memset(&m_pairs, 0, sizeof(m_pairs));
    m_timerForwarder.Set(this, &CustomDevice::OnTimer);
}

CustomDevice::~CustomDevice()
{
    m_timer.Cancel();
    m_timer.Close();
}

int32_t CustomDevice::ToFixedDb(int16_t centiDb)
{
    return static_cast<int32_t>(static_cast<int64_t>(centiDb) * 65536 / 100);
}

int16_t CustomDevice::ToCentiDb(int32_t fixedDb)
{
    if (fixedDb == INT32_MIN) {
        return -9000;
    }
    // Limited before narrowing, so that a level far out of range cannot wrap around.
    int64_t centi = static_cast<int64_t>(fixedDb) * 100 / 65536;
    if (centi < -9000) {
        centi = -9000;
    } else if (centi > 9000) {
        centi = 9000;
    }
    return static_cast<int16_t>(centi);
}

uint32_t CustomDevice::OpenRegistryKey(WnRegistryKey* key)
{
    // The serial number comes from the driver: at most 19 characters, and never a path.
    const wchar_t* serial = GetSerial();
    wchar_t name[20];
    CopyText(name, serial != nullptr ? serial : L"", 20);
    if (name[0] == L'\0' || std::wcschr(name, L'\\') != nullptr) {
        return ERROR_INVALID_NAME;
    }
    WnRegistryKey settings;
    uint32_t error = settings.Create(HKEY_LOCAL_MACHINE, m_registryPath, KEY_READ | KEY_WRITE);
    if (error != 0) {
        return error;
    }
    WnRegistryKey devices;
    error = devices.Create(settings.Get(), L"Devices", KEY_READ | KEY_WRITE);
    if (error != 0) {
        return error;
    }
    return key->Create(devices.Get(), name, KEY_READ | KEY_WRITE);
}

uint32_t CustomDevice::LoadWdmConfiguration()
{
    WnRegistryKey key;
    const uint32_t error = OpenRegistryKey(&key);
    if (error != 0) {
        return error;
    }
    // Only a 4-byte REG_DWORD is taken; anything else leaves the member as it is.
    key.ReadDword(L"WdmRenderSoundDeviceConfiguration", &renderConfiguration);
    key.ReadDword(L"WdmCaptureSoundDeviceConfiguration", &captureConfiguration);
    return 0;
}

uint32_t CustomDevice::SaveWdmConfiguration()
{
    WnRegistryKey key;
    const uint32_t error = OpenRegistryKey(&key);
    if (error != 0) {
        return error;
    }
    key.WriteDword(L"WdmRenderSoundDeviceConfiguration", renderConfiguration);
    key.WriteDword(L"WdmCaptureSoundDeviceConfiguration", captureConfiguration);
    return 0;
}

OxluneStatus CustomDevice::OnOpened()
{
    LoadWdmConfiguration();
    OxluneStatus status = SetupRouting();
    if (status != 0) {
        return status;
    }
    status = SendEndpointChannels();
    if (status != 0) {
        return status;
    }
    status = SendEndpointPairs();
    if (status != 0) {
        return status;
    }
    status = PrimeSwitches();
    if (status != 0) {
        return status;
    }
    // The timer's routine runs as an APC on this thread, the server's, in its alertable wait.
    if (m_timer.Create(false, nullptr, nullptr) != 0 || m_timer.Set(3000, &m_timerForwarder, false) != 0) {
        return OXLUNE_STATUS_FAILED;
    }
    return 0;
}

OxluneStatus CustomDevice::SetupRouting()
{
    OxluneChannelLevels levels{};
    levels.direction = OXLUNE_ENDPOINT_DIRECTION_CAPTURE;
    levels.index = 40;
    OxluneStatus status = InitChannelLevels(levels);
    if (status != 0) {
        return status;
    }
    // Out 1 and Out 2 feed Virtual In 1 and 2 at 0.00 dB.
    OxluneConnectionEntry connections[2]{};
    for (uint8_t channel = 0; channel < 2; ++channel) {
        connections[channel].destination.kind = OXLUNE_POINT_VIRTUAL_INPUT;
        connections[channel].destination.channel = channel;
        connections[channel].source.kind = OXLUNE_POINT_PLAYBACK;
        connections[channel].source.channel = channel;
        connections[channel].level = 0;
        connections[channel].flags = OXLUNE_CONNECTION_FLAG_CONNECTED;
    }
    status = SetConnections(connections, 2);
    return status;
}

OxluneStatus CustomDevice::SendEndpointChannels()
{
    OxluneStreamFormatList formats{};
    const bool dsd = GetStreamFormats(&formats) == 0 && HasDsdFormat(formats);
    OxluneEndpointChannelTable table{};
    if (!dsd) {
        for (uint32_t i = 0; i < 16; ++i) {
            AppendChannel(&table.render, OXLUNE_ENDPOINT_TYPE_PHYSICAL, i / 2, i % 2, L"Kuvo Out %u", i + 1);
        }
        for (uint32_t i = 0; i < 16; ++i) {
            AppendChannel(&table.capture, OXLUNE_ENDPOINT_TYPE_PHYSICAL, i / 2, i % 2, L"Kuvo Analog In %u", i + 1);
        }
    }
    for (uint32_t k = 0; k < 2; ++k) {
        AppendChannel(&table.capture, OXLUNE_ENDPOINT_TYPE_VIRTUAL, 0, k, L"Kuvo Virtual In %u", k + 1);
    }
    return SetEndpointChannels(table);
}

OxluneStatus CustomDevice::SendEndpointPairs()
{
    std::memset(&m_pairs, 0, sizeof(m_pairs));
    if (renderConfiguration == 0) {
        for (uint32_t i = 0; i < 8; ++i) {
            OxluneEndpointPairEntry& entry = m_pairs.render.entries[m_pairs.render.count++];
            SetPairEntry(&entry, OXLUNE_ENDPOINT_TYPE_PHYSICAL, i, 3, i, OXLUNE_ENDPOINT_PAIR_LEVEL_PHYSICAL);
            FormatText(entry.name, 41, L"Kuvo Out %u/%u", 2 * i + 1, 2 * i + 2);
        }
    }
    if (captureConfiguration == 0) {
        for (uint32_t i = 0; i < 8; ++i) {
            OxluneEndpointPairEntry& entry = m_pairs.capture.entries[m_pairs.capture.count++];
            SetPairEntry(&entry, OXLUNE_ENDPOINT_TYPE_PHYSICAL, i, 3, i, OXLUNE_ENDPOINT_PAIR_LEVEL_PHYSICAL);
            FormatText(entry.name, 41, L"Kuvo Analog In %u/%u", 2 * i + 1, 2 * i + 2);
        }
    }
    const uint32_t position = m_pairs.capture.count;
    OxluneEndpointPairEntry& entry = m_pairs.capture.entries[m_pairs.capture.count++];
    SetPairEntry(&entry, OXLUNE_ENDPOINT_TYPE_VIRTUAL, 0, 0, position, 0);
    FormatText(entry.name, 41, L"Kuvo Virtual In %u/%u", 1u, 2u);
    return SetEndpointPairs(m_pairs);
}

OxluneStatus CustomDevice::PrimeSwitches()
{
    OxluneStatus result = 0;
    for (uint32_t selector : {0u, 2u}) {
        OxluneStatus status = SetSwitch(selector, false);
        if (status == 0) {
            status = SetSwitchParameter(selector, 8);
        }
        if (result == 0) {
            result = status;
        }
    }
    return result;
}

OxluneStatus CustomDevice::ApplyWdmConfiguration(const OxluneWdmConfigurationPayload& record)
{
    if (record.renderConfiguration != 0 || record.captureConfiguration != 0) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    renderConfiguration = 0;
    captureConfiguration = 0;
    SaveWdmConfiguration();
    return SendEndpointPairs();
}

OxluneStatus CustomDevice::BeforeTransition(uint32_t current, uint32_t target, uint32_t)
{
    bool on = false;
    if (target == OXLUNE_STREAMING_READY &&
        (current == OXLUNE_STREAMING_PREPARED || current == OXLUNE_STREAMING_RUNNING)) {
        on = false;
    } else if (target == OXLUNE_STREAMING_RUNNING) {
        on = true;
    } else {
        return 0;
    }
    const OxluneStatus first = SetSwitch(0, on);
    const OxluneStatus second = SetSwitch(2, on);
    return first != 0 ? first : second;
}

uint8_t CustomDevice::PointKind(const OxluneEndpointPairEntry& entry)
{
    return entry.type == OXLUNE_ENDPOINT_TYPE_PHYSICAL ? OXLUNE_POINT_ANALOG : OXLUNE_POINT_SPDIF;
}

void CustomDevice::OnDeviceEvent()
{
    const uint32_t count = m_pairs.render.count < kOxluneMaxEndpoints ? m_pairs.render.count : kOxluneMaxEndpoints;
    for (uint32_t e = 0; e < count; ++e) {
        const OxluneEndpointPairEntry& entry = m_pairs.render.entries[e];
        if (VolumeMode(entry) == kVolumeModeExcluded) {
            continue;
        }
        const uint32_t pairs = PairCount(entry);
        OxluneControlEntry controls[2 * kMaxPairsPerEntry]{};
        for (uint32_t k = 0; k < pairs; ++k) {
            const uint32_t pair = PairNumber(entry, k);
            for (uint32_t side = 0; side < 2; ++side) {
                controls[2 * k + side].point.kind = PointKind(entry);
                controls[2 * k + side].point.channel = static_cast<uint8_t>(2 * pair + side);
            }
        }
        if (GetOutputControls(controls, 2 * pairs) != 0) {
            return;
        }
        OxluneChannelLevels levels{};
        levels.direction = OXLUNE_ENDPOINT_DIRECTION_RENDER;
        levels.index = entry.position;
        for (uint32_t i = 0; i < 2 * pairs; ++i) {
            levels.levels[i] = ToFixedDb(controls[i].level);
            levels.flags[i] = controls[i].flags & OXLUNE_CONTROL_FLAG_MUTE;
        }
        if (SetChannelLevels(levels) != 0) {
            return;
        }
    }
}

void CustomDevice::OnDeviceNotice2(uint32_t index)
{
    if (index >= m_pairs.render.count || index >= kOxluneMaxEndpoints) {
        return;
    }
    OxluneChannelLevels levels{};
    if (GetChannelLevels(OXLUNE_ENDPOINT_DIRECTION_RENDER, index, &levels) != 0) {
        return;
    }
    const OxluneEndpointPairEntry& entry = m_pairs.render.entries[index];
    const uint32_t pairs = PairCount(entry);
    OxluneControlEntry controls[2 * kMaxPairsPerEntry]{};
    for (uint32_t k = 0; k < pairs; ++k) {
        const uint32_t pair = PairNumber(entry, k);
        for (uint32_t side = 0; side < 2; ++side) {
            OxluneControlEntry& control = controls[2 * k + side];
            control.point.kind = PointKind(entry);
            control.point.channel = static_cast<uint8_t>(2 * pair + side);
            control.flags = static_cast<uint8_t>(levels.flags[2 * k + side] & OXLUNE_CHANNEL_LEVEL_FLAG_MUTE);
            control.level = ToCentiDb(levels.levels[2 * k + side]);
        }
    }
    SetOutputControls(controls, 2 * pairs);
}
