#include "simulator/SimAsioEngine.h"

#include "asio/AsioRecords.h"
#include "driverlib/OxluneRequests.h"
#include "driverlib/OxluneStatus.h"
#include "simulator/SimRequestIo.h"

#include <algorithm>
#include <cstring>

namespace {
// Extra latencies the simulated engine reports, in samples.
constexpr int32_t kExtraInputLatency = 32;
constexpr int32_t kExtraOutputLatency = 48;

constexpr uint32_t kCodes[] = {
    OXLUNE_IOCTL_GET_ASIO_STREAM_INFO,  OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP,   OXLUNE_IOCTL_GET_ASIO_CHANNEL_INFO,
    OXLUNE_IOCTL_GET_ASIO_LATENCIES,    OXLUNE_IOCTL_ENABLE_ASIO_CHANNEL,    OXLUNE_IOCTL_DISABLE_ASIO_CHANNEL,
    OXLUNE_IOCTL_REGISTER_ASIO_SWITCH,  OXLUNE_IOCTL_UNREGISTER_ASIO_SWITCH, OXLUNE_IOCTL_ATTACH_ASIO_BUFFER,
    OXLUNE_IOCTL_START_ASIO_STREAMING,  OXLUNE_IOCTL_STOP_ASIO_STREAMING,
};
} // namespace

SimAsioEngine::SimAsioEngine(SimDriver& driver, SimKernel& kernel) : m_kernel(kernel)
{
    // An ASIO client's registration raises the stream demand (until its handle closes),
    // so that the service brings streaming up for it.
    SimDriver::RequestHandler registration = driver.Handler(OXLUNE_IOCTL_REGISTER);
    if (registration) {
        driver.SetHandler(OXLUNE_IOCTL_REGISTER, [this, registration](SimConnection& c, SimRequest& r) -> uint32_t {
            const uint32_t status = registration(c, r);
            uint32_t role = 0;
            if (status == 0 && SimReadInput(r, &role) == 0) {
                OnRegistered(c.id, role);
            }
            return status;
        });
    }
    for (uint32_t code : kCodes) {
        m_kernel.AddRequestHandler(code, [this](SimConnection& c, SimRequest& r) { return Handle(c, r); });
    }
    m_kernel.AddCloseHook([this](SimConnection& c) { OnClose(c); });
    m_kernel.AddCommand("asio", [this](const std::vector<std::string>& a) { return Command(a); });
}

SimAsioEngine::~SimAsioEngine()
{
    std::map<uint32_t, std::shared_ptr<SimAsioStream>> streams;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        streams.swap(m_streams);
    }
    for (auto& [id, stream] : streams) {
        stream->Stop();
    }
}

void SimAsioEngine::OnRegistered(uint32_t connectionId, uint32_t role)
{
    if (role != OXLUNE_ROLE_ASIO) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_demand[connectionId]) {
            return;
        }
        m_demand[connectionId] = true;
    }
    m_kernel.AdjustStreamDemand(+1);
}

std::shared_ptr<SimAsioStream> SimAsioEngine::StreamFor(SimConnection& connection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& stream = m_streams[connection.id];
    if (!stream) {
        stream = std::make_shared<SimAsioStream>(m_kernel, connection.id, connection.process);
        stream->SetSource(m_source);
    }
    return stream;
}

void SimAsioEngine::OnClose(SimConnection& connection)
{
    std::shared_ptr<SimAsioStream> stream;
    bool demand = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_streams.find(connection.id);
        if (it != m_streams.end()) {
            stream = it->second;
            m_streams.erase(it);
        }
        auto d = m_demand.find(connection.id);
        if (d != m_demand.end()) {
            demand = d->second;
            m_demand.erase(d);
        }
    }
    if (stream) {
        // What a driver does when the handle goes: streaming and registrations end.
        stream->Stop();
        const SimAsioStream::Stats stats = stream->GetStats();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closedSwitches += stats.switches;
        m_closedMissed += stats.missed;
    }
    if (demand) {
        m_kernel.AdjustStreamDemand(-1);
    }
}

uint32_t SimAsioEngine::Handle(SimConnection& connection, SimRequest& request)
{
    switch (request.code) {
    case OXLUNE_IOCTL_GET_ASIO_STREAM_INFO: {
        if (const uint32_t status = SimNoInput(request); status != 0) {
            return status;
        }
        AsioStreamInfo info{};
        const OxluneSampleRates rates = m_kernel.SampleRates();
        info.currentRate = rates.current;
        info.rateCount = rates.count <= kOxluneMaxSampleRates ? rates.count : kOxluneMaxSampleRates;
        std::memcpy(info.rates, rates.rates, sizeof(info.rates));
        info.bufferSize = m_kernel.BufferSizes().asioSamples;
        return SimWriteOutput(request, info);
    }
    case OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP: {
        if (const uint32_t status = SimNoInput(request); status != 0) {
            return status;
        }
        std::vector<OxluneChannelInfo> inputs;
        std::vector<OxluneChannelInfo> outputs;
        m_kernel.Channels(&inputs, &outputs);
        AsioChannelMap map{};
        auto fill = [](OxluneChannelList& list, const std::vector<OxluneChannelInfo>& channels) {
            for (const OxluneChannelInfo& channel : channels) {
                if (list.count >= kOxluneMaxChannels) {
                    break;
                }
                list.channels[list.count++] = {channel.key0, channel.key1};
            }
        };
        fill(map.inputs, inputs);
        fill(map.outputs, outputs);
        return SimWriteOutput(request, map);
    }
    case OXLUNE_IOCTL_GET_ASIO_CHANNEL_INFO: {
        OxluneChannelKey key{};
        if (const uint32_t status = SimReadInput(request, &key); status != 0) {
            return status;
        }
        OxluneChannelInfo info{};
        if (!m_kernel.FindChannel(key.key0, key.key1, &info)) {
            return OXLUNE_STATUS_OBJECT_NOT_FOUND;
        }
        return SimWriteOutput(request, info);
    }
    case OXLUNE_IOCTL_GET_ASIO_LATENCIES: {
        if (const uint32_t status = SimNoInput(request); status != 0) {
            return status;
        }
        const AsioLatencyInfo latencies{kExtraInputLatency, kExtraOutputLatency};
        return SimWriteOutput(request, latencies);
    }
    default:
        break;
    }

    // The rest belongs to a registered ASIO client.
    if (m_kernel.RoleOf(connection.id) != static_cast<int>(OXLUNE_ROLE_ASIO)) {
        return OXLUNE_STATUS_NOT_ALLOWED;
    }
    std::shared_ptr<SimAsioStream> stream = StreamFor(connection);
    switch (request.code) {
    case OXLUNE_IOCTL_ENABLE_ASIO_CHANNEL:
    case OXLUNE_IOCTL_DISABLE_ASIO_CHANNEL: {
        OxluneChannelKey key{};
        if (const uint32_t status = SimReadInput(request, &key); status != 0) {
            return status;
        }
        return request.code == OXLUNE_IOCTL_ENABLE_ASIO_CHANNEL ? stream->Enable(key.key0, key.key1)
                                                                 : stream->Disable(key.key0, key.key1);
    }
    case OXLUNE_IOCTL_REGISTER_ASIO_SWITCH: {
        AsioSwitchRegistration registration{};
        if (const uint32_t status = SimReadInput(request, &registration); status != 0) {
            return status;
        }
        return stream->Register(registration.block, registration.event, registration.halfSamples);
    }
    case OXLUNE_IOCTL_UNREGISTER_ASIO_SWITCH:
        if (const uint32_t status = SimNoInput(request); status != 0) {
            return status;
        }
        return stream->Unregister();
    case OXLUNE_IOCTL_ATTACH_ASIO_BUFFER: {
        AsioChannelBufferInfo buffer{};
        if (const uint32_t status = SimReadInput(request, &buffer); status != 0) {
            return status;
        }
        return stream->Attach(buffer.key0, buffer.key1, buffer.halfBytes, buffer.sampleWidth, buffer.buffer);
    }
    case OXLUNE_IOCTL_START_ASIO_STREAMING:
        if (const uint32_t status = SimNoInput(request); status != 0) {
            return status;
        }
        if (m_kernel.StreamingStatus().state != OXLUNE_STREAMING_RUNNING) {
            return OXLUNE_STATUS_NOT_POSSIBLE;
        }
        return stream->Start();
    case OXLUNE_IOCTL_STOP_ASIO_STREAMING:
        if (const uint32_t status = SimNoInput(request); status != 0) {
            return status;
        }
        stream->Stop();
        return 0;
    default:
        return OXLUNE_STATUS_INVALID_IOCTL;
    }
}

SimAsioStream::Stats SimAsioEngine::Totals()
{
    std::vector<std::shared_ptr<SimAsioStream>> streams;
    SimAsioStream::Stats totals;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        totals.switches = m_closedSwitches;
        totals.missed = m_closedMissed;
        for (auto& [id, stream] : m_streams) {
            streams.push_back(stream);
        }
    }
    for (auto& stream : streams) {
        const SimAsioStream::Stats stats = stream->GetStats();
        totals.switches += stats.switches;
        totals.missed += stats.missed;
        totals.inputPeak = std::max(totals.inputPeak, stats.inputPeak);
        totals.outputPeak = std::max(totals.outputPeak, stats.outputPeak);
    }
    return totals;
}

std::string SimAsioEngine::Command(const std::vector<std::string>& arguments)
{
    const size_t first = 0;
    const std::string verb = arguments.size() > first ? arguments[first] : "stats";
    if (verb == "stats") {
        const SimAsioStream::Stats totals = Totals();
        size_t streaming = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto& [id, stream] : m_streams) {
                streaming += stream->Streaming() ? 1 : 0;
            }
        }
        return "ok switches=" + std::to_string(totals.switches) + " missed=" + std::to_string(totals.missed) +
               " streaming=" + std::to_string(streaming) + " inpeak=" + std::to_string(totals.inputPeak) +
               " outpeak=" + std::to_string(totals.outputPeak);
    }
    if (verb == "source" && arguments.size() > first + 1) {
        const std::string& value = arguments[first + 1];
        SimAsioStream::Source source;
        if (value == "loopback") {
            source = SimAsioStream::Source::Loopback;
        } else if (value == "signal") {
            source = SimAsioStream::Source::TestSignal;
        } else {
            return "error source must be loopback or signal";
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_source = source;
        for (auto& [id, stream] : m_streams) {
            stream->SetSource(source);
        }
        return "ok";
    }
    return "error usage: asio stats | asio source loopback|signal";
}
