#include "tools/asiohost/AsioHostSession.h"

#include <cstdio>
#include <cstring>

namespace {
AsioHostSession* g_session = nullptr;
constexpr size_t kMaxLatencies = 1u << 20;

// The value output channel ch carries at element e: never 0, so silence shows.
int32_t Generated(long channel, uint64_t element)
{
    return static_cast<int32_t>((static_cast<uint32_t>(channel + 1) << 24) | (element & 0xFFFFFFu));
}
} // namespace

AsioHostSession::AsioHostSession()
{
    m_latencies.resize(kMaxLatencies);
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    m_frequency = frequency.QuadPart;
    m_signalMapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           sizeof(SimAsioSignalTimes),
                                           SimAsioSignalMappingName(::GetCurrentProcessId()).c_str());
    if (m_signalMapping != nullptr) {
        m_signalTimes = static_cast<SimAsioSignalTimes*>(
            ::MapViewOfFile(m_signalMapping, FILE_MAP_WRITE, 0, 0, sizeof(SimAsioSignalTimes)));
    }
    m_callbacks.bufferSwitch = &BufferSwitch;
    m_callbacks.sampleRateDidChange = &SampleRateDidChange;
    m_callbacks.asioMessage = &Message;
    m_callbacks.bufferSwitchTimeInfo = &BufferSwitchTimeInfo;
    g_session = this;
}

AsioHostSession::~AsioHostSession()
{
    Finish();
    g_session = nullptr;
    if (m_signalTimes != nullptr) {
        ::UnmapViewOfFile(const_cast<SimAsioSignalTimes*>(m_signalTimes));
    }
    if (m_signalMapping != nullptr) {
        ::CloseHandle(m_signalMapping);
    }
}

ASIOError AsioHostSession::Start(IASIO* asio)
{
    Finish();
    m_asio = asio;
    m_resetRequested = false;
    m_closing = false;
    m_sessionSwitches = 0;
    m_lastPosition = 0;
    if (m_signalTimes != nullptr) {
        std::memset(const_cast<uint64_t*>(m_signalTimes->ticks), 0, sizeof(m_signalTimes->ticks));
    }
    asio->getChannels(&m_inputs, &m_outputs);
    long minSize = 0, maxSize = 0, granularity = 0;
    asio->getBufferSize(&minSize, &maxSize, &m_bufferSize, &granularity);
    m_buffers.clear();
    m_dsd = false;
    for (long i = 0; i < m_inputs + m_outputs; ++i) {
        ASIOBufferInfo info{};
        info.isInput = i < m_inputs ? ASIOTrue : ASIOFalse;
        info.channelNum = i < m_inputs ? i : i - m_inputs;
        m_buffers.push_back(info);
        ASIOChannelInfo channel{};
        channel.channel = info.channelNum;
        channel.isInput = info.isInput;
        if (asio->getChannelInfo(&channel) == ASE_OK && channel.type == ASIOSTDSDInt8MSB1) {
            m_dsd = true;
        }
    }
    ASIOError result = asio->createBuffers(m_buffers.data(), static_cast<long>(m_buffers.size()), m_bufferSize,
                                           &m_callbacks);
    if (result != ASE_OK) {
        return result;
    }
    ++m_totals.sessions;
    m_sessionStart = m_totals;
    m_running = true;
    result = asio->start();
    return result;
}

void AsioHostSession::Finish()
{
    if (m_running && m_asio != nullptr) {
        m_asio->stop();
        m_asio->disposeBuffers();
        std::printf("  session %llu: %llu switches, %llu position gaps, %llu lost or shifted samples\n",
                    static_cast<unsigned long long>(m_totals.sessions),
                    static_cast<unsigned long long>(m_totals.switches - m_sessionStart.switches),
                    static_cast<unsigned long long>(m_totals.positionGaps - m_sessionStart.positionGaps),
                    static_cast<unsigned long long>(m_totals.lostSamples - m_sessionStart.lostSamples));
    }
    m_running = false;
}

std::vector<uint32_t> AsioHostSession::Latencies() const
{
    return std::vector<uint32_t>(m_latencies.begin(), m_latencies.begin() + static_cast<long>(m_latencyCount));
}

void AsioHostSession::BufferSwitch(long index, ASIOBool)
{
    AsioHostSession* session = g_session;
    if (session == nullptr || session->m_asio == nullptr) {
        return;
    }
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    session->m_asio->getSamplePosition(&position, &stamp);
    session->Process(index, (uint64_t{position.hi} << 32) | position.lo);
}

ASIOTime* AsioHostSession::BufferSwitchTimeInfo(ASIOTime* params, long index, ASIOBool)
{
    AsioHostSession* session = g_session;
    if (session != nullptr && params != nullptr) {
        session->Process(index, (uint64_t{params->timeInfo.samplePosition.hi} << 32) |
                                    params->timeInfo.samplePosition.lo);
    }
    return nullptr;
}

void AsioHostSession::SampleRateDidChange(ASIOSampleRate) {}

long AsioHostSession::Message(long selector, long value, void*, double*)
{
    AsioHostSession* session = g_session;
    if (session == nullptr) {
        return 0;
    }
    if (selector >= 0 && selector < 32) {
        ++session->m_totals.messages[selector];
    }
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioResetRequest || value == kAsioBufferSizeChange || value == kAsioEngineVersion ||
                       value == kAsioSupportsTimeInfo || value == kAsioResyncRequest ||
                       value == kAsioLatenciesChanged
                   ? 1
                   : 0;
    case kAsioEngineVersion:
        return 2;
    case kAsioSupportsTimeInfo:
        return 1;
    case kAsioResetRequest:
    case kAsioBufferSizeChange:
        // Done on the main thread: stop, dispose and create the buffers again.
        session->m_closing = true;
        session->m_resetRequested = true;
        return 1;
    case kAsioResyncRequest:
    case kAsioLatenciesChanged:
        return 1;
    default:
        return 0;
    }
}

void AsioHostSession::Process(long index, uint64_t position)
{
    ++m_totals.switches;
    const uint64_t switchNumber = m_sessionSwitches++;
    const bool checking = !m_closing.load();
    if (checking && switchNumber > 0 && position != m_lastPosition + static_cast<uint64_t>(m_bufferSize)) {
        ++m_totals.positionGaps;
    }
    m_lastPosition = position;

    // The two prefill switches come before the kernel driver runs; switch k of the
    // kernel driver is the host's switch k + 2.
    if (m_signalTimes != nullptr && switchNumber >= 2 && m_latencyCount < m_latencies.size()) {
        const uint64_t signalled = m_signalTimes->ticks[(switchNumber - 2) % SimAsioSignalTimes::kSlots];
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        if (signalled != 0 && static_cast<uint64_t>(now.QuadPart) >= signalled) {
            m_latencies[m_latencyCount++] =
                static_cast<uint32_t>((static_cast<uint64_t>(now.QuadPart) - signalled) * 1000000u /
                                      static_cast<uint64_t>(m_frequency));
        }
    }

    const size_t half = static_cast<size_t>(index & 1);
    if (m_dsd) {
        // One bit per sample: the host's samples, eight to a byte.
        const uint64_t bytes = static_cast<uint64_t>(m_bufferSize) / 8;
        const uint64_t first = position / 8;
        for (long o = 0; o < m_outputs; ++o) {
            auto* out = static_cast<uint8_t*>(m_buffers[static_cast<size_t>(m_inputs + o)].buffers[half]);
            for (uint64_t j = 0; j < bytes; ++j) {
                out[j] = static_cast<uint8_t>(Generated(o, first + j));
            }
        }
        return;
    }
    const uint64_t n = static_cast<uint64_t>(m_bufferSize);
    // In loopback input i carries what output i played two halves earlier.
    const long pairs = m_inputs < m_outputs ? m_inputs : m_outputs;
    if (checking) {
        for (long i = 0; i < pairs; ++i) {
            const auto* in = static_cast<const int32_t*>(m_buffers[static_cast<size_t>(i)].buffers[half]);
            for (uint64_t j = 0; j < n; ++j) {
                const uint64_t element = position + j;
                const int32_t expected = element >= 2 * n ? Generated(i, element - 2 * n) : 0;
                ++m_totals.checkedSamples;
                if (in[j] != expected) {
                    ++m_totals.lostSamples;
                }
            }
        }
    }
    for (long o = 0; o < m_outputs; ++o) {
        auto* out = static_cast<int32_t*>(m_buffers[static_cast<size_t>(m_inputs + o)].buffers[half]);
        for (uint64_t j = 0; j < n; ++j) {
            out[j] = Generated(o, position + j);
        }
    }
}
