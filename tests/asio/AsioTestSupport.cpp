#include "AsioTestSupport.h"

#include "asio/AsioRecords.h"
#include "driverlib/OxluneRequests.h"

#include <cstring>

RecordingHost* g_host = nullptr;

namespace {
void OnBufferSwitch(long index, ASIOBool)
{
    RecordingHost* host = g_host;
    if (host == nullptr) {
        return;
    }
    RecordingHost::Switch entry;
    entry.index = index;
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    if (host->driver != nullptr) {
        host->driver->getSamplePosition(&position, &stamp);
    }
    entry.position = (uint64_t{position.hi} << 32) | position.lo;
    entry.thread = ::GetCurrentThreadId();
    {
        std::lock_guard<std::mutex> lock(host->mutex);
        host->switches.push_back(entry);
    }
    if (host->switchCount.load() == host->lateSwitch) {
        ::Sleep(host->lateMs);
    }
    ++host->switchCount;
}

ASIOTime* OnBufferSwitchTimeInfo(ASIOTime* params, long index, ASIOBool)
{
    RecordingHost* host = g_host;
    if (host == nullptr) {
        return nullptr;
    }
    RecordingHost::Switch entry;
    entry.index = index;
    entry.timeInfo = true;
    entry.position = (uint64_t{params->timeInfo.samplePosition.hi} << 32) | params->timeInfo.samplePosition.lo;
    entry.flags = params->timeInfo.flags;
    entry.speed = params->timeInfo.speed;
    entry.rate = params->timeInfo.sampleRate;
    entry.thread = ::GetCurrentThreadId();
    {
        std::lock_guard<std::mutex> lock(host->mutex);
        host->switches.push_back(entry);
    }
    ++host->switchCount;
    return nullptr;
}

void OnSampleRateDidChange(ASIOSampleRate) {}

long OnAsioMessage(long selector, long value, void*, double*)
{
    RecordingHost* host = g_host;
    if (host == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    ++host->messages[selector];
    if (selector == kAsioSelectorSupported) {
        ++host->supportedAsked[value];
        switch (value) {
        case kAsioResetRequest:
            return host->supportsReset;
        case kAsioBufferSizeChange:
            return host->supportsBufferSizeChange;
        case kAsioEngineVersion:
            return 1;
        default:
            return 0;
        }
    }
    switch (selector) {
    case kAsioSupportsTimeInfo:
        return host->supportsTimeInfo;
    case kAsioEngineVersion:
        return 2;
    default:
        return 1;
    }
}
} // namespace

ASIOCallbacks RecordingHost::Callbacks(bool withTimeInfo, bool withMessage)
{
    ASIOCallbacks callbacks{};
    callbacks.bufferSwitch = &OnBufferSwitch;
    callbacks.sampleRateDidChange = &OnSampleRateDidChange;
    callbacks.asioMessage = withMessage ? &OnAsioMessage : nullptr;
    callbacks.bufferSwitchTimeInfo = withTimeInfo ? &OnBufferSwitchTimeInfo : nullptr;
    return callbacks;
}

bool RecordingHost::WaitForSwitches(int count, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    while (switchCount.load() < count) {
        if (::GetTickCount() - start > timeoutMs) {
            return false;
        }
        ::Sleep(5);
    }
    return true;
}

int RecordingHost::MessageCount(long selector)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = messages.find(selector);
    return it != messages.end() ? it->second : 0;
}

void AsioFixture::SetUp()
{
    name = SimUniqueName(L"asio");
    g_host = &host;
}

void AsioFixture::TearDown()
{
    ReleaseDriver();
    g_host = nullptr;
    service.Stop();
    sim.Stop();
}

void AsioFixture::StartSimulator(const std::string& plugOptions)
{
    ASSERT_EQ(0u, sim.Command("hardware-time 0").rfind("ok", 0));
    ASSERT_EQ(0, sim.Command("plug KV000001 " + plugOptions).rfind("ok", 0)) << plugOptions;
    ASSERT_EQ(0u, sim.Start(name));
    ASSERT_EQ(0u, service.Start(name.c_str()));
}

void AsioFixture::CreateDriver()
{
    driver = new AsioDriver(nullptr);
    driver->replaceCustom(new TestCustom(name));
    void* face = nullptr;
    ASSERT_EQ(S_OK, driver->innerQueryInterface(CLSID_KuvoAsio, &face));
    asio = static_cast<IASIO*>(face);
    host.driver = asio;
}

void AsioFixture::ReleaseDriver()
{
    if (asio != nullptr) {
        host.driver = nullptr;
        asio->Release();
        asio = nullptr;
        driver = nullptr;
    }
}

void AsioFixture::RealChannels(std::vector<OxluneChannelInfo>* inputs, std::vector<OxluneChannelInfo>* outputs)
{
    sim.Kernel().Channels(inputs, outputs);
}

void AsioFixture::UseChannelMap(const std::vector<OxluneChannelKey>& inputs,
                                const std::vector<OxluneChannelKey>& outputs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inputs = inputs;
        m_outputs = outputs;
    }
    sim.SetHandler(OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP, [this](SimConnection&, SimRequest& request) -> uint32_t {
        AsioChannelMap map{};
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const OxluneChannelKey& key : m_inputs) {
            map.inputs.channels[map.inputs.count++] = key;
        }
        for (const OxluneChannelKey& key : m_outputs) {
            map.outputs.channels[map.outputs.count++] = key;
        }
        if (request.outCapacity < sizeof(map)) {
            return OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
        }
        std::memcpy(request.out, &map, sizeof(map));
        request.bytesReturned = sizeof(map);
        return 0;
    });
}

void AsioFixture::UseStreamInfo(const AsioStreamInfo& info)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_streamInfo = info;
    }
    sim.SetHandler(OXLUNE_IOCTL_GET_ASIO_STREAM_INFO, [this](SimConnection&, SimRequest& request) -> uint32_t {
        if (request.outCapacity < sizeof(AsioStreamInfo)) {
            return OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        std::memcpy(request.out, &m_streamInfo, sizeof(m_streamInfo));
        request.bytesReturned = sizeof(m_streamInfo);
        return 0;
    });
}

void AsioFixture::UseStreamingState(uint32_t state)
{
    sim.SetHandler(OXLUNE_IOCTL_GET_STREAMING_STATUS, [this, state](SimConnection& c, SimRequest& request) -> uint32_t {
        if (sim.Kernel().RoleOf(c.id) == static_cast<int>(OXLUNE_ROLE_ASIO)) {
            ++m_statusRequests; // the driver's, not the service's
        }
        OxluneStreamingStatus status = sim.Kernel().StreamingStatus();
        status.state = state;
        if (request.outCapacity < sizeof(status)) {
            return OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
        }
        std::memcpy(request.out, &status, sizeof(status));
        request.bytesReturned = sizeof(status);
        return 0;
    });
}
