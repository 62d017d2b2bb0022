#include "simulator/SimKernel.h"

#include "driverlib/OxluneStatus.h"
#include "winsupport/WnText.h"

#include <algorithm>
#include <cstring>

SimKernel::SimKernel(SimDriver& driver) : m_driver(driver)
{
    RegisterMessageHandlers();
    RegisterDeviceHandlers();
    RegisterStreamingHandlers();
    RegisterCommands();
    m_driver.AddCloseHook([this](SimConnection& connection) { OnClose(connection); });
}

SimKernel::~SimKernel() = default;

// ---------------------------------------------------------------------------------------
// Clients

SimClient& SimKernel::ClientFor(SimConnection& connection)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_clients.find(connection.id);
    if (it == m_clients.end()) {
        auto client = std::make_unique<SimClient>();
        client->id = connection.id;
        client->processId = connection.processId;
        m_nextCookie = m_nextCookie * 1103515245u + 12345u;
        client->cookie = m_nextCookie | 1u;
        it = m_clients.emplace(connection.id, std::move(client)).first;
    }
    return *it->second;
}

SimClient* SimKernel::FindClient(uint32_t id)
{
    auto it = m_clients.find(id);
    return it != m_clients.end() ? it->second.get() : nullptr;
}

SimClient* SimKernel::ServerClient()
{
    return m_serverId != 0 ? FindClient(m_serverId) : nullptr;
}

uint32_t SimKernel::ServerConnectionId()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_serverId;
}

int SimKernel::RoleOf(uint32_t connectionId)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimClient* client = FindClient(connectionId);
    return client != nullptr ? client->role : SimClient::kUnregistered;
}

void SimKernel::OnClose(SimConnection& connection)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_clients.find(connection.id);
    if (it == m_clients.end()) {
        return;
    }
    std::unique_ptr<SimClient> client = std::move(it->second);
    m_clients.erase(it);
    // Its own unanswered requests can never be answered now.
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                   [&](const PendingRequest& p) { return p.clientId == connection.id; }),
                    m_pending.end());
    if (m_serverId != connection.id) {
        return;
    }
    // The server went away: the role is free again, and every request it had not
    // answered is answered here so that its client does not wait for its time-out.
    m_serverId = 0;
    std::vector<PendingRequest> pending;
    pending.swap(m_pending);
    for (const PendingRequest& request : pending) {
        SimClient* requester = FindClient(request.clientId);
        if (requester == nullptr || requester->cookie != request.cookie) {
            continue;
        }
        OxluneMessage reply;
        BuildMessage(&reply, OXLUNE_MSG_TYPE_REPLY, OXLUNE_MSG_REPLY, nullptr, 0);
        reply.sequence = request.sequence;
        reply.initiator0 = request.clientId;
        reply.initiator1 = request.cookie;
        reply.result = OXLUNE_STATUS_NO_SERVER;
        bool queued = false;
        QueueMessage(*requester, reply, &queued);
    }
}

// ---------------------------------------------------------------------------------------
// Queues and notifications

void SimKernel::BuildMessage(OxluneMessage* message, uint32_t type, uint32_t code, const void* payload, uint32_t size)
{
    message->Init(type, code);
    if (size > kOxluneMessageMaxPayload) {
        size = kOxluneMessageMaxPayload;
    }
    if (payload != nullptr && size != 0) {
        std::memcpy(message->payload, payload, size);
        message->length = size;
    }
}

void SimKernel::QueueMessage(SimClient& client, const OxluneMessage& message, bool* queued)
{
    *queued = client.messages.Push(message);
    if (*queued && client.messageEvent.Get() != nullptr) {
        ::SetEvent(client.messageEvent.Get());
    }
}

void SimKernel::QueueNotification(SimClient& client, const OxluneMessage& message)
{
    const uint32_t dropped = client.notifications.Dropped();
    client.notifications.PushDroppingOldest(message);
    m_settings.droppedNotifications += client.notifications.Dropped() - dropped;
    if (client.notificationEvent.Get() != nullptr) {
        ::SetEvent(client.notificationEvent.Get());
    }
}

void SimKernel::NotifyServer(uint32_t code, const void* payload, uint32_t size)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimClient* server = ServerClient();
    if (server == nullptr) {
        return; // nobody to tell; the server refreshes everything when it registers
    }
    OxluneMessage message;
    BuildMessage(&message, OXLUNE_MSG_TYPE_NOTIFICATION, code, payload, size);
    QueueNotification(*server, message);
}

void SimKernel::NotifyPanel(uint32_t code, const void* payload, uint32_t size)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    OxluneMessage message;
    BuildMessage(&message, OXLUNE_MSG_TYPE_NOTIFICATION, code, payload, size);
    for (auto& [id, client] : m_clients) {
        if (client->role == OXLUNE_ROLE_PANEL) {
            QueueNotification(*client, message);
        }
    }
}

void SimKernel::NotifyClients(uint32_t code, const void* payload, uint32_t size)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    OxluneMessage message;
    BuildMessage(&message, OXLUNE_MSG_TYPE_NOTIFICATION, code, payload, size);
    for (auto& [id, client] : m_clients) {
        const bool registeredClient = client->role == OXLUNE_ROLE_ASIO || client->role == OXLUNE_ROLE_PANEL;
        const bool listener = client->role == SimClient::kUnregistered && client->notificationEvent.Get() != nullptr;
        if (registeredClient || listener) {
            QueueNotification(*client, message);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Devices

SimDevice* SimKernel::FindDevice(uint32_t key0, uint32_t key1)
{
    for (auto& device : m_devices) {
        if (device->HasKey(key0, key1)) {
            return device.get();
        }
    }
    return nullptr;
}

SimDevice* SimKernel::FindDeviceBySerial(const std::wstring& serial)
{
    for (auto& device : m_devices) {
        if (device->Config().serial == serial) {
            return device.get();
        }
    }
    return nullptr;
}

SimDevice* SimKernel::StreamingDevice()
{
    return m_settings.hasStreamingDevice ? FindDevice(m_settings.streamKey0, m_settings.streamKey1) : nullptr;
}

bool SimKernel::IsSelected(const SimDevice& device)
{
    if (m_settings.mode == OXLUNE_STREAMING_MODE_ALL) {
        return true;
    }
    return m_settings.hasStreamingDevice && device.HasKey(m_settings.streamKey0, m_settings.streamKey1);
}

void SimKernel::ChooseStreamingDeviceAfterRemoval()
{
    if (StreamingDevice() != nullptr) {
        return;
    }
    m_settings.hasStreamingDevice = !m_devices.empty();
    if (m_settings.hasStreamingDevice) {
        m_settings.streamKey0 = m_devices.front()->Key0();
        m_settings.streamKey1 = m_devices.front()->Key1();
    }
}

uint32_t SimKernel::Plug(const SimDeviceConfig& requested, uint32_t* key0, uint32_t* key1)
{
    SimDeviceConfig config = requested;
    if (config.serial.empty() || config.serial.size() > 19 || config.name.size() > 41 || config.analog < 2 ||
        config.analog > 16 || config.analog % 2 != 0 || (config.spdif != 0 && config.spdif != 2)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    std::vector<std::pair<uint32_t, uint32_t>> changes;
    size_t before = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        before = m_devices.size();
        if (m_devices.size() >= kMaxDevices) {
            return OXLUNE_STATUS_NO_RESOURCES;
        }
        if (FindDeviceBySerial(config.serial) != nullptr) {
            return OXLUNE_STATUS_IN_USE;
        }
        if (config.key0 == 0 && config.key1 == 0) {
            do {
                const uint32_t n = m_nextKey++;
                config.key0 = 0x00C00000u + n;
                config.key1 = 0x4B560000u + ((n * 0x9E37u) & 0xFFFFu);
            } while (FindDevice(config.key0, config.key1) != nullptr);
        } else if (FindDevice(config.key0, config.key1) != nullptr) {
            return OXLUNE_STATUS_IN_USE;
        }
        m_devices.push_back(std::make_unique<SimDevice>(config));
        if (StreamingDevice() == nullptr) {
            m_settings.hasStreamingDevice = true;
            m_settings.streamKey0 = config.key0;
            m_settings.streamKey1 = config.key1;
        }
        if (key0 != nullptr) {
            *key0 = config.key0;
        }
        if (key1 != nullptr) {
            *key1 = config.key1;
        }
        NotifyServer(OXLUNE_MSG_DEVICES_CHANGED);
    }
    FireStateChanges(changes);
    FireDeviceCount(before, before + 1);
    return 0;
}

uint32_t SimKernel::Unplug(const std::wstring& serial)
{
    std::vector<std::pair<uint32_t, uint32_t>> changes;
    size_t before = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        before = m_devices.size();
        auto it = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const std::unique_ptr<SimDevice>& d) { return d->Config().serial == serial; });
        if (it == m_devices.end()) {
            return OXLUNE_STATUS_NO_DEVICE;
        }
        const bool wasSelected = IsSelected(**it);
        m_devices.erase(it);
        ChooseStreamingDeviceAfterRemoval();
        const uint32_t state = m_settings.state;
        if (m_devices.empty()) {
            SetState(OXLUNE_STREAMING_DOWN, &changes);
        } else if (wasSelected && (state == OXLUNE_STREAMING_READY || state == OXLUNE_STREAMING_PREPARED ||
                                   state == OXLUNE_STREAMING_RUNNING)) {
            // Streaming lost a device under its feet.
            ++m_settings.errors.streaming;
            SetState(OXLUNE_STREAMING_ERROR, &changes);
        }
        NotifyServer(OXLUNE_MSG_DEVICES_CHANGED);
    }
    FireStateChanges(changes);
    FireDeviceCount(before, before - 1);
    return 0;
}

void SimKernel::AddDeviceCountListener(DeviceCountListener listener)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_deviceCountListeners.push_back(std::move(listener));
}

void SimKernel::FireDeviceCount(size_t before, size_t after)
{
    std::vector<DeviceCountListener> listeners;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        listeners = m_deviceCountListeners;
    }
    for (const DeviceCountListener& listener : listeners) {
        listener(before, after);
    }
}

void SimKernel::UnplugAll()
{
    std::vector<std::wstring> serials;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        for (auto& device : m_devices) {
            serials.push_back(device->Config().serial);
        }
    }
    for (const std::wstring& serial : serials) {
        Unplug(serial);
    }
}

std::vector<OxluneDeviceRecord> SimKernel::Devices()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<OxluneDeviceRecord> records;
    for (auto& device : m_devices) {
        records.push_back(device->Record(IsSelected(*device)));
    }
    return records;
}

std::vector<OxluneDeviceRecord> SimKernel::SelectedDevices()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<OxluneDeviceRecord> records;
    for (auto& device : m_devices) {
        if (IsSelected(*device)) {
            records.push_back(device->Record(true));
        }
    }
    return records;
}

uint32_t SimKernel::ChangeEndpointVolume(const std::wstring& serial, uint32_t index, int32_t level1616, bool mute,
                                         uint32_t channels)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = FindDeviceBySerial(serial);
    if (device == nullptr) {
        return OXLUNE_STATUS_NO_DEVICE;
    }
    OxluneChannelLevels record{};
    if (channels == 0 || channels > kOxluneChannelLevelCount ||
        !device->GetChannelLevels(OXLUNE_ENDPOINT_DIRECTION_RENDER, index, &record)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    for (uint32_t i = 0; i < channels; ++i) {
        record.levels[i] = level1616;
        record.flags[i] = mute ? OXLUNE_CHANNEL_LEVEL_FLAG_MUTE : 0;
    }
    device->SetChannelLevels(record);
    const OxluneDeviceNoticePayload notice{device->Key0(), device->Key1(), OXLUNE_DEVICE_NOTICE_KIND_VOLUME, index};
    NotifyServer(OXLUNE_MSG_DEVICE_NOTICE, &notice, sizeof(notice));
    return 0;
}

uint32_t SimKernel::ChangeOutputControl(const std::wstring& serial, const OxluneMixerPoint& point, int16_t level,
                                        bool mute)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimDevice* device = FindDeviceBySerial(serial);
    if (device == nullptr) {
        return OXLUNE_STATUS_NO_DEVICE;
    }
    int16_t applied = 0;
    bool changed = false;
    if (!device->Mixer().SetControl(point, level, mute, &applied, &changed)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    if (changed) {
        const OxluneTwoWordsPayload key{device->Key0(), device->Key1()};
        NotifyServer(OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED, &key, sizeof(key));
        NotifyPanel(OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED, &key, sizeof(key));
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Driver-wide reads

OxluneStreamingStatus SimKernel::StreamingStatus()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    OxluneStreamingStatus status{};
    status.state = m_settings.state;
    status.mode = m_settings.mode;
    status.sampleRate = m_settings.rate;
    status.streamDemandCount = m_settings.counts.demand;
    status.exclusiveUseCount = m_settings.counts.exclusive;
    status.changeLockCount = m_settings.counts.lock;
    status.secondStreamDemandCount = m_settings.counts.demand2;
    status.streamDemandFlag = m_settings.counts.flag;
    return status;
}

uint32_t SimKernel::CurrentRate()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_settings.rate;
}

bool SimKernel::DsdActive()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return IsDsdRate(m_settings.rate);
}

uint32_t SimKernel::Policy()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_settings.policy;
}

OxluneErrorCounters SimKernel::ErrorCounters()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_settings.errors;
}

std::vector<uint32_t> SimKernel::RateList()
{
    std::vector<uint32_t> rates = m_settings.pcmRates;
    const bool dsdDevice = std::any_of(m_devices.begin(), m_devices.end(), [&](const std::unique_ptr<SimDevice>& d) {
        return d->Config().dsd && IsSelected(*d);
    });
    if (dsdDevice) {
        rates.insert(rates.end(), m_settings.dsdRates.begin(), m_settings.dsdRates.end());
    }
    if (rates.size() > kOxluneMaxSampleRates) {
        rates.resize(kOxluneMaxSampleRates);
    }
    return rates;
}

OxluneSampleRates SimKernel::SampleRates()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    OxluneSampleRates rates{};
    rates.current = m_settings.rate;
    const std::vector<uint32_t> list = RateList();
    rates.count = static_cast<uint32_t>(list.size());
    std::copy(list.begin(), list.end(), rates.rates);
    return rates;
}

namespace {
// Streaming buffer lengths by class, in microseconds.
constexpr uint32_t kStreamingMicroseconds[] = {1000, 2000, 4000, 8000, 16000, 32000};
// ASIO buffer lengths by class, in samples at 44.1 or 48 kHz.
constexpr uint32_t kAsioSamples[] = {64, 128, 256, 512};
} // namespace

OxluneBufferSizes SimKernel::BufferSizes()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    OxluneBufferSizes sizes{};
    sizes.streamingClass = m_settings.streamingClass;
    sizes.asioClass = m_settings.asioClass;
    sizes.third = m_settings.third;
    sizes.streamingMicroseconds = kStreamingMicroseconds[m_settings.streamingClass];
    const uint32_t rate = m_settings.rate != 0 ? m_settings.rate : 48000;
    // The ASIO buffer keeps its length in time as the rate doubles; a DSD buffer counts
    // bytes of 8 one-bit samples, 64 of which make one sample at the base rate.
    uint32_t factor = 1;
    if (!IsDsdRate(rate)) {
        factor = rate >= 176400 ? 4 : rate >= 88200 ? 2 : 1;
    }
    sizes.asioSamples = kAsioSamples[m_settings.asioClass] * factor;
    const uint64_t samplesAtRate = IsDsdRate(rate) ? uint64_t{sizes.asioSamples} * 64 : sizes.asioSamples;
    sizes.asioMicroseconds = static_cast<uint32_t>(samplesAtRate * 1000000u / rate);
    return sizes;
}

void SimKernel::BuildChannels(std::vector<OxluneChannelInfo>* inputs, std::vector<OxluneChannelInfo>* outputs)
{
    inputs->clear();
    outputs->clear();
    std::vector<SimDevice*> selected;
    for (auto& device : m_devices) {
        if (IsSelected(*device)) {
            selected.push_back(device.get());
        }
    }
    const bool dsd = IsDsdRate(m_settings.rate);
    uint32_t number = 0;
    for (SimDevice* device : selected) {
        ++number;
        auto add = [&](std::vector<OxluneChannelInfo>* list, uint32_t direction, uint32_t kind, uint32_t index,
                       uint32_t format, const wchar_t* label) {
            if (list->size() >= kOxluneMaxChannels) {
                return;
            }
            OxluneChannelInfo info{};
            info.key0 = device->Key0();
            info.key1 = direction << 16 | kind << 8 | index;
            info.deviceKey0 = device->Key0();
            info.deviceKey1 = device->Key1();
            info.direction = direction;
            info.sampleFormat = format;
            if (selected.size() > 1) {
                FormatText(info.name, 42, L"%u: %s %u", number, label, index + 1);
            } else {
                FormatText(info.name, 42, L"%s %u", label, index + 1);
            }
            list->push_back(info);
        };
        const SimDeviceConfig& config = device->Config();
        if (dsd) {
            // In DSD mode only DSD devices stream, and only their two DSD outputs.
            if (config.dsd) {
                for (uint32_t i = 0; i < 2; ++i) {
                    add(outputs, 2, 9, i, OXLUNE_SAMPLE_FORMAT_DSD, L"DSD Out");
                }
            }
            continue;
        }
        for (uint32_t i = 0; i < config.analog; ++i) {
            add(inputs, OXLUNE_CHANNEL_DIRECTION_INPUT, OXLUNE_POINT_ANALOG, i, 1, L"Analog In");
        }
        for (uint32_t i = 0; i < config.spdif; ++i) {
            add(inputs, OXLUNE_CHANNEL_DIRECTION_INPUT, OXLUNE_POINT_SPDIF, i, 1, L"SPDIF In");
        }
        for (uint32_t i = 0; i < config.analog; ++i) {
            add(outputs, 2, OXLUNE_POINT_ANALOG, i, 1, L"Analog Out");
        }
        for (uint32_t i = 0; i < config.spdif; ++i) {
            add(outputs, 2, OXLUNE_POINT_SPDIF, i, 1, L"SPDIF Out");
        }
    }
}

void SimKernel::Channels(std::vector<OxluneChannelInfo>* inputs, std::vector<OxluneChannelInfo>* outputs)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    BuildChannels(inputs, outputs);
}

bool SimKernel::FindChannel(uint32_t key0, uint32_t key1, OxluneChannelInfo* info)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<OxluneChannelInfo> inputs, outputs;
    BuildChannels(&inputs, &outputs);
    for (const auto* list : {&inputs, &outputs}) {
        for (const OxluneChannelInfo& channel : *list) {
            if (channel.key0 == key0 && channel.key1 == key1) {
                *info = channel;
                return true;
            }
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Counts, state, listeners

bool SimKernel::Needed(const Counts& counts)
{
    return counts.demand > 0 || counts.exclusive > 0 || counts.flag != 0;
}

void SimKernel::RaiseDemandChanges(const Counts& before, const Counts& after)
{
    if (!Needed(before) && Needed(after)) {
        NotifyServer(OXLUNE_MSG_BRING_UP);
    } else if (Needed(before) && !Needed(after)) {
        NotifyServer(OXLUNE_MSG_STOP_WHEN_IDLE);
    }
    const OxluneTwoWordsPayload words{after.demand2, after.exclusive};
    if (before.demand2 == 0 && after.demand2 > 0) {
        NotifyServer(OXLUNE_MSG_BRING_UP_FOR, &words, sizeof(words));
    } else if (before.demand2 > 0 && after.demand2 == 0) {
        NotifyServer(OXLUNE_MSG_STOP_WHEN_IDLE_FOR, &words, sizeof(words));
    }
}

void SimKernel::SetCounts(const Counts& counts)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const Counts before = m_settings.counts;
    m_settings.counts = counts;
    RaiseDemandChanges(before, counts);
}

SimKernel::Counts SimKernel::GetCounts()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_settings.counts;
}

void SimKernel::AdjustStreamDemand(int32_t delta)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Counts counts = m_settings.counts;
    const int64_t value = int64_t{counts.demand} + delta;
    counts.demand = value < 0 ? 0 : static_cast<uint32_t>(value);
    SetCounts(counts);
}

void SimKernel::AddErrors(const OxluneErrorCounters& add)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_settings.errors.streaming += add.streaming;
    m_settings.errors.fifo += add.fifo;
    m_settings.errors.asio += add.asio;
    m_settings.errors.wdmAudio += add.wdmAudio;
    m_settings.errors.wdmMidi += add.wdmMidi;
}

void SimKernel::SetState(uint32_t state, std::vector<std::pair<uint32_t, uint32_t>>* changes)
{
    if (m_settings.state != state) {
        changes->emplace_back(m_settings.state, state);
        m_settings.state = state;
    }
}

void SimKernel::FireStateChanges(const std::vector<std::pair<uint32_t, uint32_t>>& changes)
{
    if (changes.empty()) {
        return;
    }
    std::vector<StateListener> listeners;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        listeners = m_stateListeners;
    }
    for (const auto& [from, to] : changes) {
        for (auto& listener : listeners) {
            listener(from, to);
        }
    }
}

void SimKernel::ForceState(uint32_t state)
{
    std::vector<std::pair<uint32_t, uint32_t>> changes;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        SetState(state, &changes);
    }
    FireStateChanges(changes);
}

void SimKernel::SetHardwareTimeMs(uint32_t ms)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_hardwareTimeMs = ms;
}

uint32_t SimKernel::HardwareTimeMs()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_hardwareTimeMs;
}

void SimKernel::HardwareDelay()
{
    const uint32_t ms = HardwareTimeMs();
    if (ms != 0) {
        ::Sleep(ms);
    }
}

void SimKernel::AddRequestHandler(uint32_t code, SimDriver::RequestHandler handler)
{
    m_driver.SetHandler(code, std::move(handler));
}

void SimKernel::AddCloseHook(SimDriver::ConnectionHook hook)
{
    m_driver.AddCloseHook(std::move(hook));
}

void SimKernel::AddCommand(const std::string& name, SimDriver::CommandHandler handler)
{
    m_driver.SetCommand(name, std::move(handler));
}

void SimKernel::AddStateListener(StateListener listener)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_stateListeners.push_back(std::move(listener));
}
