// The driver-wide queries and the server's commands with the streaming state machine.
#include "driverlib/OxluneRequests.h"
#include "simulator/SimKernel.h"
#include "simulator/SimRequestIo.h"

#include <algorithm>

void SimKernel::RegisterStreamingHandlers()
{
    auto channelList = [this](SimRequest& r, bool inputs) -> uint32_t {
        if (const uint32_t status = SimNoInput(r); status != 0) {
            return status;
        }
        std::vector<OxluneChannelInfo> in, out;
        Channels(&in, &out);
        const std::vector<OxluneChannelInfo>& source = inputs ? in : out;
        OxluneChannelList list{};
        for (const OxluneChannelInfo& info : source) {
            if (list.count < kOxluneMaxChannels) {
                list.channels[list.count++] = OxluneChannelKey{info.key0, info.key1};
            }
        }
        return SimWriteOutput(r, list);
    };
    m_driver.SetHandler(OXLUNE_IOCTL_GET_INPUT_CHANNELS,
                        [channelList](SimConnection&, SimRequest& r) { return channelList(r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_OUTPUT_CHANNELS,
                        [channelList](SimConnection&, SimRequest& r) { return channelList(r, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_GET_CHANNEL_INFO, [this](SimConnection&, SimRequest& r) -> uint32_t {
        OxluneChannelKey key{};
        if (const uint32_t status = SimReadInput(r, &key); status != 0) {
            return status;
        }
        if (const uint32_t status = SimCheckOutput(r, sizeof(OxluneChannelInfo)); status != 0) {
            return status;
        }
        OxluneChannelInfo info{};
        if (!FindChannel(key.key0, key.key1, &info)) {
            return OXLUNE_STATUS_OBJECT_NOT_FOUND;
        }
        return SimWriteOutput(r, info);
    });
    auto query = [this](uint32_t code, auto read) {
        m_driver.SetHandler(code, [read](SimConnection&, SimRequest& r) -> uint32_t {
            if (const uint32_t status = SimNoInput(r); status != 0) {
                return status;
            }
            return SimWriteOutput(r, read());
        });
    };
    query(OXLUNE_IOCTL_GET_SAMPLE_RATES, [this] { return SampleRates(); });
    query(OXLUNE_IOCTL_GET_BUFFER_SIZES, [this] { return BufferSizes(); });
    query(OXLUNE_IOCTL_GET_STREAMING_STATUS, [this] { return StreamingStatus(); });
    query(OXLUNE_IOCTL_GET_ERROR_COUNTERS, [this] { return ErrorCounters(); });
    query(OXLUNE_IOCTL_GET_POLICY, [this] { return Policy(); });

    m_driver.SetHandler(OXLUNE_IOCTL_SET_STREAMING_STATE,
                        [this](SimConnection& c, SimRequest& r) { return OnSetStreamingState(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_APPLY_SAMPLE_RATE,
                        [this](SimConnection& c, SimRequest& r) { return OnApplySampleRate(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_APPLY_BUFFER_SIZES,
                        [this](SimConnection& c, SimRequest& r) { return OnApplyBufferSizes(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE,
                        [this](SimConnection& c, SimRequest& r) { return OnApplyStreamingDevice(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE, [this](SimConnection& c, SimRequest& r) -> uint32_t {
        uint32_t rate = 0;
        if (const uint32_t status = SimReadInput(r, &rate); status != 0) {
            return status;
        }
        if (const uint32_t status = RequireServer(c); status != 0) {
            return status;
        }
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        const std::vector<uint32_t> rates = RateList();
        if (std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            return OXLUNE_STATUS_INVALID_SAMPLE_RATE;
        }
        m_settings.announcedRate = rate;
        return 0;
    });
    m_driver.SetHandler(OXLUNE_IOCTL_APPLY_POLICY, [this](SimConnection& c, SimRequest& r) -> uint32_t {
        uint32_t policy = 0;
        if (const uint32_t status = SimReadInput(r, &policy); status != 0) {
            return status;
        }
        if (const uint32_t status = RequireServer(c); status != 0) {
            return status;
        }
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_settings.policy != policy) {
            m_settings.policy = policy;
            NotifyPanel(OXLUNE_MSG_SETTINGS_CHANGED);
        }
        return 0;
    });
}

uint32_t SimKernel::RequireServer(SimConnection& connection)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_serverId != 0 && m_serverId == connection.id ? 0 : OXLUNE_STATUS_NOT_ALLOWED;
}

namespace {
bool StreamingActive(uint32_t state)
{
    return state == OXLUNE_STREAMING_PREPARED || state == OXLUNE_STREAMING_RUNNING;
}
} // namespace

uint32_t SimKernel::OnSetStreamingState(SimConnection& connection, SimRequest& request)
{
    OxluneStreamingStateInput input{};
    if (const uint32_t status = SimReadInput(request, &input); status != 0) {
        return status;
    }
    if (const uint32_t status = RequireServer(connection); status != 0) {
        return status;
    }
    if (input.command < OXLUNE_STREAMING_CMD_RESET || input.command > OXLUNE_STREAMING_CMD_TO_READY) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    // The hardware works first; the state follows when it is done.
    std::lock_guard<std::mutex> hardware(m_hardware);
    HardwareDelay();
    std::vector<std::pair<uint32_t, uint32_t>> changes;
    uint32_t result = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        const uint32_t state = m_settings.state;
        if (input.command == OXLUNE_STREAMING_CMD_RESET) {
            if (state != OXLUNE_STREAMING_ERROR && state != OXLUNE_STREAMING_USB11) {
                return OXLUNE_STATUS_NOT_POSSIBLE;
            }
            if (!m_settings.stuck) {
                SetState(OXLUNE_STREAMING_DOWN, &changes);
            }
        } else if (state == OXLUNE_STREAMING_ERROR) {
            return OXLUNE_STATUS_IN_ERROR_STATE;
        } else if (state == OXLUNE_STREAMING_USB11) {
            return OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE;
        } else {
            switch (input.command) {
            case OXLUNE_STREAMING_CMD_DOWN_TO_READY: {
                if (state != OXLUNE_STREAMING_DOWN) {
                    return OXLUNE_STATUS_NOT_POSSIBLE;
                }
                if (m_devices.empty()) {
                    return OXLUNE_STATUS_NO_DEVICES;
                }
                bool anySelected = false;
                bool slowSelected = false;
                for (auto& device : m_devices) {
                    if (IsSelected(*device)) {
                        anySelected = true;
                        slowSelected = slowSelected || !device->Config().highSpeed;
                    }
                }
                if (!anySelected) {
                    return OXLUNE_STATUS_NO_STREAMING_DEVICE;
                }
                m_settings.lastRestartFlag = input.argument;
                if (slowSelected) {
                    SetState(OXLUNE_STREAMING_USB11, &changes);
                    result = OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE;
                } else {
                    SetState(OXLUNE_STREAMING_READY, &changes);
                }
                break;
            }
            case OXLUNE_STREAMING_CMD_READY_TO_DOWN:
                if (state != OXLUNE_STREAMING_READY) {
                    return OXLUNE_STATUS_NOT_POSSIBLE;
                }
                m_settings.lastRestartFlag = input.argument;
                SetState(OXLUNE_STREAMING_DOWN, &changes);
                break;
            case OXLUNE_STREAMING_CMD_READY_TO_PREPARED:
                if (state != OXLUNE_STREAMING_READY) {
                    return OXLUNE_STATUS_NOT_POSSIBLE;
                }
                SetState(OXLUNE_STREAMING_PREPARED, &changes);
                break;
            case OXLUNE_STREAMING_CMD_PREPARED_TO_RUNNING:
                if (state != OXLUNE_STREAMING_PREPARED) {
                    return OXLUNE_STATUS_NOT_POSSIBLE;
                }
                SetState(OXLUNE_STREAMING_RUNNING, &changes);
                break;
            case OXLUNE_STREAMING_CMD_TO_READY:
                if (!StreamingActive(state)) {
                    return OXLUNE_STATUS_NOT_POSSIBLE;
                }
                SetState(OXLUNE_STREAMING_READY, &changes);
                break;
            default:
                return OXLUNE_STATUS_INVALID_PARAMETER;
            }
        }
    }
    FireStateChanges(changes);
    return result;
}

uint32_t SimKernel::OnApplySampleRate(SimConnection& connection, SimRequest& request)
{
    uint32_t rate = 0;
    if (const uint32_t status = SimReadInput(request, &rate); status != 0) {
        return status;
    }
    if (const uint32_t status = RequireServer(connection); status != 0) {
        return status;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        const std::vector<uint32_t> rates = RateList();
        if (std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            return OXLUNE_STATUS_INVALID_SAMPLE_RATE;
        }
        if (StreamingActive(m_settings.state)) {
            return OXLUNE_STATUS_NOT_POSSIBLE;
        }
    }
    std::lock_guard<std::mutex> hardware(m_hardware);
    HardwareDelay();
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_settings.rate = rate;
    return 0;
}

uint32_t SimKernel::OnApplyBufferSizes(SimConnection& connection, SimRequest& request)
{
    OxluneBufferSizesPayload sizes{};
    if (const uint32_t status = SimReadInput(request, &sizes); status != 0) {
        return status;
    }
    if (const uint32_t status = RequireServer(connection); status != 0) {
        return status;
    }
    if (sizes.streamingClass > OXLUNE_STREAM_BUFFER_SAFE || sizes.asioClass > OXLUNE_ASIO_BUFFER_MAXIMUM) {
        return OXLUNE_STATUS_INVALID_BUFFER_SIZE;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (StreamingActive(m_settings.state)) {
        return OXLUNE_STATUS_NOT_POSSIBLE;
    }
    const bool changed = m_settings.streamingClass != sizes.streamingClass || m_settings.asioClass != sizes.asioClass ||
                         m_settings.third != sizes.third;
    m_settings.streamingClass = sizes.streamingClass;
    m_settings.asioClass = sizes.asioClass;
    m_settings.third = sizes.third;
    if (changed) {
        NotifyPanel(OXLUNE_MSG_SETTINGS_CHANGED);
    }
    return 0;
}

uint32_t SimKernel::OnApplyStreamingDevice(SimConnection& connection, SimRequest& request)
{
    OxluneStreamingDevicePayload payload{};
    if (const uint32_t status = SimReadInput(request, &payload); status != 0) {
        return status;
    }
    if (const uint32_t status = RequireServer(connection); status != 0) {
        return status;
    }
    if (payload.mode > OXLUNE_STREAMING_MODE_ALL) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const bool keyGiven = payload.key0 != 0 || payload.key1 != 0;
    if (keyGiven && FindDevice(payload.key0, payload.key1) == nullptr) {
        return OXLUNE_STATUS_NO_DEVICE;
    }
    if (StreamingActive(m_settings.state)) {
        return OXLUNE_STATUS_NOT_POSSIBLE;
    }
    std::vector<bool> before;
    for (auto& device : m_devices) {
        before.push_back(IsSelected(*device));
    }
    const std::vector<uint32_t> ratesBefore = RateList();
    m_settings.mode = payload.mode;
    if (keyGiven) {
        m_settings.hasStreamingDevice = true;
        m_settings.streamKey0 = payload.key0;
        m_settings.streamKey1 = payload.key1;
    }
    bool flagsChanged = false;
    for (size_t i = 0; i < m_devices.size(); ++i) {
        if (before[i] != IsSelected(*m_devices[i])) {
            const OxluneTwoWordsPayload key{m_devices[i]->Key0(), m_devices[i]->Key1()};
            NotifyPanel(OXLUNE_MSG_DEVICE_STATE_CHANGED, &key, sizeof(key));
            flagsChanged = true;
        }
    }
    if (flagsChanged) {
        // The device records changed: the server has the clients refresh their lists.
        NotifyServer(OXLUNE_MSG_REFRESH_CLIENTS);
    }
    if (RateList() != ratesBefore) {
        NotifyPanel(OXLUNE_MSG_SETTINGS_CHANGED);
    }
    return 0;
}
