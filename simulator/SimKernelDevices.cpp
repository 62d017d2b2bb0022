// The device list, binding a handle to a device and the per-device requests.
#include "driverlib/OxluneRequests.h"
#include "simulator/SimKernel.h"
#include "simulator/SimRequestIo.h"

#include <cstring>
#include <vector>

namespace {
// An in/out array of fixed-size entries: a whole, non-empty number of entries in, and
// room for all of them out. Set requests may pass no output and get nothing back.
uint32_t CheckEntries(const SimRequest& request, uint32_t entrySize, uint32_t maxEntries, bool outputOptional)
{
    if (request.inSize == 0 || request.in == nullptr || request.inSize % entrySize != 0 ||
        request.inSize / entrySize > maxEntries) {
        return OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
    }
    if (outputOptional && request.outCapacity == 0) {
        return 0;
    }
    return SimCheckOutput(request, request.inSize);
}

constexpr uint32_t kMaxEntries = 1024;
} // namespace

void SimKernel::RegisterDeviceHandlers()
{
    m_driver.SetHandler(OXLUNE_IOCTL_QUERY_DEVICES, [this](SimConnection&, SimRequest& r) -> uint32_t {
        if (const uint32_t status = SimNoInput(r); status != 0) {
            return status;
        }
        OxluneDeviceList list{};
        const std::vector<OxluneDeviceRecord> records = Devices();
        for (const OxluneDeviceRecord& record : records) {
            list.devices[list.count++] = record;
        }
        return SimWriteOutput(r, list);
    });
    m_driver.SetHandler(OXLUNE_IOCTL_BIND_DEVICE, [this](SimConnection& c, SimRequest& r) { return OnBind(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_STREAM_FORMATS, [this](SimConnection& c, SimRequest& r) -> uint32_t {
        if (const uint32_t status = SimNoInput(r); status != 0) {
            return status;
        }
        if (const uint32_t status = SimCheckOutput(r, sizeof(OxluneStreamFormatList)); status != 0) {
            return status;
        }
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        SimDevice* device = nullptr;
        if (const uint32_t status = BoundDevice(c, &device); status != 0) {
            return status;
        }
        OxluneStreamFormatList list;
        device->StreamFormats(&list);
        return SimWriteOutput(r, list);
    });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_INPUT_METERS,
                        [this](SimConnection& c, SimRequest& r) { return OnMeters(c, r, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_OUTPUT_METERS,
                        [this](SimConnection& c, SimRequest& r) { return OnMeters(c, r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_MIXER_PINS, [this](SimConnection& c, SimRequest& r) { return OnMixerPins(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_OUTPUT_CONTROLS,
                        [this](SimConnection& c, SimRequest& r) { return OnControls(c, r, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_OUTPUT_CONTROLS,
                        [this](SimConnection& c, SimRequest& r) { return OnControls(c, r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_CONNECTIONS,
                        [this](SimConnection& c, SimRequest& r) { return OnConnections(c, r, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_CONNECTIONS,
                        [this](SimConnection& c, SimRequest& r) { return OnConnections(c, r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_VOLUME_BYPASS,
                        [this](SimConnection& c, SimRequest& r) { return OnBypass(c, r, false, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_VOLUME_BYPASS,
                        [this](SimConnection& c, SimRequest& r) { return OnBypass(c, r, false, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_BYPASS_MUTE,
                        [this](SimConnection& c, SimRequest& r) { return OnBypass(c, r, true, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_BYPASS_MUTE,
                        [this](SimConnection& c, SimRequest& r) { return OnBypass(c, r, true, false); });
    for (uint32_t code : {OXLUNE_IOCTL_INIT_CHANNEL_LEVELS, OXLUNE_IOCTL_GET_CHANNEL_LEVELS,
                          OXLUNE_IOCTL_SET_CHANNEL_LEVELS}) {
        m_driver.SetHandler(code, [this, code](SimConnection& c, SimRequest& r) { return OnChannelLevels(c, r, code); });
    }
    m_driver.SetHandler(OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS,
                        [this](SimConnection& c, SimRequest& r) { return OnEndpointTable(c, r, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_ENDPOINT_PAIRS,
                        [this](SimConnection& c, SimRequest& r) { return OnEndpointTable(c, r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_EFFECT_PARAMETERS,
                        [this](SimConnection& c, SimRequest& r) { return OnEffect(c, r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_EFFECT_PARAMETERS,
                        [this](SimConnection& c, SimRequest& r) { return OnEffect(c, r, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_SWITCH_PARAMETER,
                        [this](SimConnection& c, SimRequest& r) { return OnSwitch(c, r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_SWITCH, [this](SimConnection& c, SimRequest& r) { return OnSwitch(c, r, false); });
}

uint32_t SimKernel::OnBind(SimConnection& connection, SimRequest& request)
{
    OxluneTwoWordsPayload key{};
    if (const uint32_t status = SimReadInput(request, &key); status != 0) {
        return status;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (FindDevice(key.word0, key.word1) == nullptr) {
        return OXLUNE_STATUS_NO_DEVICE;
    }
    SimClient& client = ClientFor(connection);
    client.bound = true;
    client.boundKey0 = key.word0;
    client.boundKey1 = key.word1;
    return 0;
}

// Caller holds the lock.
uint32_t SimKernel::BoundDevice(SimConnection& connection, SimDevice** device)
{
    SimClient& client = ClientFor(connection);
    if (!client.bound) {
        return OXLUNE_STATUS_NO_DEVICE;
    }
    *device = FindDevice(client.boundKey0, client.boundKey1);
    return *device != nullptr ? 0 : OXLUNE_STATUS_DEVICE_REMOVED;
}

uint32_t SimKernel::OnMeters(SimConnection& connection, SimRequest& request, bool outputs)
{
    if (const uint32_t status = CheckEntries(request, sizeof(OxluneMeterEntry), kMaxEntries, false); status != 0) {
        return status;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    const uint32_t count = request.inSize / sizeof(OxluneMeterEntry);
    std::vector<OxluneMeterEntry> entries(count);
    std::memcpy(entries.data(), request.in, request.inSize);
    for (const OxluneMeterEntry& entry : entries) {
        if (outputs ? !device->Mixer().IsOutput(entry.point) : !device->Mixer().IsInput(entry.point)) {
            return OXLUNE_STATUS_INVALID_PARAMETER;
        }
    }
    const bool running = m_settings.state == OXLUNE_STREAMING_RUNNING && IsSelected(*device);
    const uint32_t tick = ::GetTickCount();
    for (OxluneMeterEntry& entry : entries) {
        entry.level = outputs ? device->Mixer().OutputMeter(entry.point, running, tick)
                              : device->Mixer().InputMeter(entry.point, running, tick);
        entry.reserved = 0;
    }
    std::memcpy(request.out, entries.data(), request.inSize);
    request.bytesReturned = request.inSize;
    return 0;
}

uint32_t SimKernel::OnMixerPins(SimConnection& connection, SimRequest& request)
{
    uint32_t selector = 0;
    if (const uint32_t status = SimReadInput(request, &selector); status != 0) {
        return status;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    std::vector<OxluneMixerPoint> points;
    if (!device->Mixer().Pins(selector, &points)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    const uint32_t size = static_cast<uint32_t>(points.size() * sizeof(OxluneMixerPoint));
    if (const uint32_t status = SimCheckOutput(request, size); status != 0) {
        return status;
    }
    std::memcpy(request.out, points.data(), size);
    request.bytesReturned = size;
    return 0;
}

uint32_t SimKernel::OnControls(SimConnection& connection, SimRequest& request, bool set)
{
    if (const uint32_t status = CheckEntries(request, sizeof(OxluneControlEntry), kMaxEntries, set); status != 0) {
        return status;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    const uint32_t count = request.inSize / sizeof(OxluneControlEntry);
    std::vector<OxluneControlEntry> entries(count);
    std::memcpy(entries.data(), request.in, request.inSize);
    for (const OxluneControlEntry& entry : entries) {
        if (!device->Mixer().IsOutput(entry.point)) {
            return OXLUNE_STATUS_INVALID_PARAMETER; // nothing is changed
        }
    }
    bool anyChange = false;
    for (OxluneControlEntry& entry : entries) {
        bool mute = (entry.flags & OXLUNE_CONTROL_FLAG_MUTE) != 0;
        if (set) {
            bool changed = false;
            int16_t applied = 0;
            device->Mixer().SetControl(entry.point, entry.level, mute, &applied, &changed);
            entry.level = applied;
            anyChange = anyChange || changed;
        } else {
            int16_t level = 0;
            device->Mixer().GetControl(entry.point, &level, &mute);
            entry.level = level;
            entry.flags = mute ? OXLUNE_CONTROL_FLAG_MUTE : 0;
        }
    }
    if (request.outCapacity != 0) {
        std::memcpy(request.out, entries.data(), request.inSize);
        request.bytesReturned = request.inSize;
    }
    if (anyChange) {
        const OxluneTwoWordsPayload key{device->Key0(), device->Key1()};
        NotifyServer(OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED, &key, sizeof(key));
        NotifyPanel(OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED, &key, sizeof(key));
    }
    return 0;
}

uint32_t SimKernel::OnConnections(SimConnection& connection, SimRequest& request, bool set)
{
    if (const uint32_t status = CheckEntries(request, sizeof(OxluneConnectionEntry), kMaxEntries, set); status != 0) {
        return status;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    const uint32_t count = request.inSize / sizeof(OxluneConnectionEntry);
    std::vector<OxluneConnectionEntry> entries(count);
    std::memcpy(entries.data(), request.in, request.inSize);
    for (const OxluneConnectionEntry& entry : entries) {
        if (!device->Mixer().IsOutput(entry.destination) || !device->Mixer().IsInput(entry.source)) {
            return OXLUNE_STATUS_INVALID_PARAMETER; // nothing is changed
        }
    }
    bool anyChange = false;
    for (OxluneConnectionEntry& entry : entries) {
        bool connected = (entry.flags & OXLUNE_CONNECTION_FLAG_CONNECTED) != 0;
        int16_t level = 0;
        if (set) {
            bool changed = false;
            device->Mixer().SetConnection(entry.destination, entry.source, entry.level, connected, &level, &changed);
            anyChange = anyChange || changed;
        } else {
            device->Mixer().GetConnection(entry.destination, entry.source, &level, &connected);
        }
        entry.level = level;
        entry.flags = connected ? OXLUNE_CONNECTION_FLAG_CONNECTED : 0;
        entry.zero = 0;
    }
    if (request.outCapacity != 0) {
        std::memcpy(request.out, entries.data(), request.inSize);
        request.bytesReturned = request.inSize;
    }
    if (anyChange) {
        const OxluneTwoWordsPayload key{device->Key0(), device->Key1()};
        NotifyPanel(OXLUNE_MSG_CONNECTIONS_CHANGED, &key, sizeof(key));
    }
    return 0;
}

uint32_t SimKernel::OnBypass(SimConnection& connection, SimRequest& request, bool mute, bool set)
{
    uint8_t on = 0;
    if (set) {
        if (const uint32_t status = SimReadInput(request, &on); status != 0) {
            return status;
        }
    } else {
        if (const uint32_t status = SimNoInput(request); status != 0) {
            return status;
        }
        if (const uint32_t status = SimCheckOutput(request, 1); status != 0) {
            return status;
        }
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    if (!set) {
        const uint8_t value = (mute ? device->Mixer().BypassMute() : device->Mixer().Bypass()) ? 1 : 0;
        return SimWriteOutput(request, value);
    }
    if (on > 1) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    const bool changed = mute ? device->Mixer().SetBypassMute(on != 0) : device->Mixer().SetBypass(on != 0);
    if (changed) {
        const OxluneTwoWordsPayload key{device->Key0(), device->Key1()};
        NotifyPanel(OXLUNE_MSG_DEVICE_STATE_CHANGED, &key, sizeof(key));
    }
    return 0;
}

uint32_t SimKernel::OnChannelLevels(SimConnection& connection, SimRequest& request, uint32_t code)
{
    OxluneChannelLevels record{};
    if (const uint32_t status = SimReadInput(request, &record); status != 0) {
        return status;
    }
    const bool get = code == OXLUNE_IOCTL_GET_CHANNEL_LEVELS;
    if (get) {
        if (const uint32_t status = SimCheckOutput(request, sizeof(record)); status != 0) {
            return status;
        }
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    if (get) {
        if (!device->GetChannelLevels(record.direction, record.index, &record)) {
            return OXLUNE_STATUS_INVALID_PARAMETER;
        }
        return SimWriteOutput(request, record);
    }
    if (!device->SetChannelLevels(record)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    if (code == OXLUNE_IOCTL_INIT_CHANNEL_LEVELS) {
        device->CountInitChannelLevels();
    }
    return 0;
}

uint32_t SimKernel::OnEndpointTable(SimConnection& connection, SimRequest& request, bool pairs)
{
    const uint32_t size = pairs ? sizeof(OxluneEndpointPairTable) : sizeof(OxluneEndpointChannelTable);
    if (request.inSize != size || request.in == nullptr) {
        return OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
    }
    // Both lists hold at most 32 entries; the first word of each list is its count.
    const uint32_t listSize = size / 2;
    for (uint32_t offset : {0u, listSize}) {
        uint32_t count = 0;
        std::memcpy(&count, request.in + offset, sizeof(count));
        if (count > kOxluneMaxEndpoints) {
            return OXLUNE_STATUS_INVALID_PARAMETER;
        }
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    if (pairs) {
        device->SetEndpointPairs(request.in, request.inSize);
    } else {
        device->SetEndpointChannels(request.in, request.inSize);
    }
    return 0;
}

uint32_t SimKernel::OnEffect(SimConnection& connection, SimRequest& request, bool set)
{
    OxluneEffectParameters block{};
    if (const uint32_t status = SimReadInput(request, &block); status != 0) {
        return status;
    }
    if (!set) {
        if (const uint32_t status = SimCheckOutput(request, sizeof(block)); status != 0) {
            return status;
        }
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    SimMixer& mixer = device->Mixer();
    if (!mixer.HasEcho()) {
        return OXLUNE_STATUS_NOT_SUPPORTED;
    }
    if (!set && block.parameter == 0) {
        block.count = mixer.EchoChannels();
        return SimWriteOutput(request, block);
    }
    if (!set && block.parameter == 1) {
        block.count = SimMixer::kEchoMaxDelayMs;
        return SimWriteOutput(request, block);
    }
    if (block.parameter != OXLUNE_EFFECT_PARAMETER_ECHO_A && block.parameter != OXLUNE_EFFECT_PARAMETER_ECHO_B) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    if (block.count > kOxluneMaxEffectValues) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    for (uint32_t i = 0; i < block.count; ++i) {
        if (block.values[i].channel >= mixer.EchoChannels()) {
            return OXLUNE_STATUS_INVALID_PARAMETER; // nothing is changed
        }
    }
    for (uint32_t i = 0; i < block.count; ++i) {
        if (set) {
            mixer.SetEffect(block.parameter, block.values[i].channel, block.values[i].value);
        } else {
            mixer.GetEffect(block.parameter, block.values[i].channel, &block.values[i].value);
        }
    }
    return set ? 0 : SimWriteOutput(request, block);
}

uint32_t SimKernel::OnSwitch(SimConnection& connection, SimRequest& request, bool parameter)
{
    OxluneSwitchInput input{};
    if (const uint32_t status = SimReadInput(request, &input); status != 0) {
        return status;
    }
    if (input.selector > SimDevice::kMaxSwitchSelector || (!parameter && input.value > 1)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = nullptr;
    if (const uint32_t status = BoundDevice(connection, &device); status != 0) {
        return status;
    }
    SimDevice::Switch& entry = device->SwitchAt(input.selector);
    if (parameter) {
        entry.parameter = input.value;
    } else {
        entry.value = input.value;
        ++entry.sets;
    }
    return 0;
}
