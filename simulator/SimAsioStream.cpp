#include "simulator/SimAsioStream.h"

#include "driverlib/OxluneStatus.h"

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr uint32_t kAcknowledgeWaitMs = 2000;
constexpr uint8_t kDsdSilence = 0x96;
constexpr int16_t kSilenceLevel = -6000;

int64_t Now()
{
    LARGE_INTEGER value;
    ::QueryPerformanceCounter(&value);
    return value.QuadPart;
}

int64_t Frequency()
{
    LARGE_INTEGER value;
    ::QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

// Peak of a PCM half in hundredths of a dB (full scale 0).
int16_t PeakLevel(const uint8_t* data, uint32_t bytes)
{
    int64_t peak = 0;
    for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
        int32_t sample;
        std::memcpy(&sample, data + i, 4);
        peak = std::max<int64_t>(peak, sample < 0 ? -int64_t{sample} : int64_t{sample});
    }
    if (peak == 0) {
        return kSilenceLevel;
    }
    const double db = 20.0 * std::log10(static_cast<double>(peak) / 2147483648.0);
    return static_cast<int16_t>(std::max(-6000.0, std::min(0.0, db * 100.0)));
}
} // namespace

std::wstring SimAsioSignalMappingName(DWORD processId)
{
    return L"Local\\KuvoAsioSignal-" + std::to_wstring(processId);
}

SimAsioStream::SimAsioStream(SimKernel& kernel, uint32_t connectionId, HANDLE process)
    : m_kernel(kernel), m_connectionId(connectionId), m_process(nullptr)
{
    if (process != nullptr) {
        ::DuplicateHandle(::GetCurrentProcess(), process, ::GetCurrentProcess(), &m_process, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    }
}

SimAsioStream::~SimAsioStream()
{
    Stop();
    if (m_process != nullptr) {
        ::CloseHandle(m_process);
    }
}

uint32_t SimAsioStream::Enable(uint32_t key0, uint32_t key1)
{
    OxluneChannelInfo info{};
    if (!m_kernel.FindChannel(key0, key1, &info)) {
        return OXLUNE_STATUS_OBJECT_NOT_FOUND;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    Buffer& buffer = m_buffers[{key0, key1}];
    buffer.enabled = true;
    buffer.input = info.direction == OXLUNE_CHANNEL_DIRECTION_INPUT;
    buffer.dsd = info.sampleFormat == OXLUNE_SAMPLE_FORMAT_DSD;
    return 0;
}

uint32_t SimAsioStream::Disable(uint32_t key0, uint32_t key1)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Key key{key0, key1};
    if (m_buffers.erase(key) == 0) {
        return OXLUNE_STATUS_OBJECT_NOT_FOUND;
    }
    m_attachOrder.erase(std::remove(m_attachOrder.begin(), m_attachOrder.end(), key), m_attachOrder.end());
    return 0;
}

uint32_t SimAsioStream::Register(uint64_t block, uint64_t event, uint32_t halfSamples)
{
    if (Streaming()) {
        return OXLUNE_STATUS_IN_USE;
    }
    if (halfSamples == 0 || halfSamples > 1u << 20) {
        return OXLUNE_STATUS_INVALID_BUFFER_SIZE;
    }
    uint8_t probe[8];
    SIZE_T read = 0;
    if (m_process == nullptr || block == 0 || block > UINTPTR_MAX ||
        !::ReadProcessMemory(m_process, reinterpret_cast<const void*>(static_cast<uintptr_t>(block)), probe,
                             sizeof(probe), &read) ||
        read != sizeof(probe)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    HANDLE duplicate = nullptr;
    if (event == 0 || event > UINTPTR_MAX ||
        !::DuplicateHandle(m_process, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(event)), ::GetCurrentProcess(),
                           &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_switchEvent.Attach(duplicate);
    m_block = block;
    m_halfSamples = halfSamples;
    for (auto& [key, buffer] : m_buffers) {
        buffer.address = 0;
    }
    m_attachOrder.clear();
    return 0;
}

uint32_t SimAsioStream::Unregister()
{
    Stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_block == 0) {
        return OXLUNE_STATUS_NOT_POSSIBLE;
    }
    m_block = 0;
    m_halfSamples = 0;
    m_switchEvent.Close();
    for (auto& [key, buffer] : m_buffers) {
        buffer.address = 0;
    }
    m_attachOrder.clear();
    return 0;
}

uint32_t SimAsioStream::Attach(uint32_t key0, uint32_t key1, uint32_t halfBytes, uint32_t width, uint64_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_block == 0) {
        return OXLUNE_STATUS_NOT_POSSIBLE;
    }
    auto it = m_buffers.find({key0, key1});
    if (it == m_buffers.end() || !it->second.enabled) {
        return OXLUNE_STATUS_NOT_ALLOWED;
    }
    Buffer& buffer = it->second;
    if (width != 4) {
        return OXLUNE_STATUS_INVALID_SAMPLE_SIZE;
    }
    // PCM: 4-byte words; DSD: the host's samples are 64 times ours, one bit each.
    const uint64_t expected = uint64_t{m_halfSamples} * (buffer.dsd ? 8u : 4u);
    if (halfBytes != expected) {
        return OXLUNE_STATUS_INVALID_BUFFER_SIZE;
    }
    uint8_t probe = 0;
    SIZE_T read = 0;
    const uint64_t last = address + 2ull * halfBytes - 1;
    if (address == 0 || last > UINTPTR_MAX || last < address ||
        !::ReadProcessMemory(m_process, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &probe, 1,
                             &read) ||
        !::ReadProcessMemory(m_process, reinterpret_cast<const void*>(static_cast<uintptr_t>(last)), &probe, 1,
                             &read)) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    if (buffer.address == 0) {
        m_attachOrder.push_back({key0, key1});
    }
    buffer.address = address;
    buffer.halfBytes = halfBytes;
    return 0;
}

uint32_t SimAsioStream::Start()
{
    if (Streaming()) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_block == 0) {
            return OXLUNE_STATUS_NOT_POSSIBLE;
        }
        size_t bytes = 0;
        for (const Key& key : m_attachOrder) {
            bytes = std::max<size_t>(bytes, m_buffers[key].halfBytes);
        }
        m_scratch.assign(bytes * (m_attachOrder.size() + 1), 0);
        m_silence.assign(bytes, 0);
    }
    if (m_stop.Get() == nullptr && m_stop.Create(true, false) != 0) {
        return OXLUNE_STATUS_NO_RESOURCES;
    }
    m_stop.Reset();
    m_signalMapping = ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, SimAsioSignalMappingName(::GetProcessId(m_process)).c_str());
    if (m_signalMapping != nullptr) {
        m_signalTimes = static_cast<SimAsioSignalTimes*>(
            ::MapViewOfFile(m_signalMapping, FILE_MAP_WRITE, 0, 0, sizeof(SimAsioSignalTimes)));
    }
    m_thread = std::thread([this] { Clock(); });
    return 0;
}

void SimAsioStream::Stop()
{
    if (!m_thread.joinable()) {
        return;
    }
    m_stop.Set();
    m_thread.join();
    if (m_signalTimes != nullptr) {
        ::UnmapViewOfFile(const_cast<SimAsioSignalTimes*>(m_signalTimes));
        m_signalTimes = nullptr;
    }
    if (m_signalMapping != nullptr) {
        ::CloseHandle(m_signalMapping);
        m_signalMapping = nullptr;
    }
}

SimAsioStream::Stats SimAsioStream::GetStats()
{
    Stats stats;
    stats.switches = m_switches.load();
    stats.missed = m_missed.load();
    stats.inputPeak = m_inputPeak.load();
    stats.outputPeak = m_outputPeak.load();
    return stats;
}

bool SimAsioStream::WaitUntil(int64_t tick)
{
    const int64_t frequency = Frequency();
    for (;;) {
        const int64_t now = Now();
        if (now >= tick) {
            return ::WaitForSingleObject(m_stop.Get(), 0) != WAIT_OBJECT_0;
        }
        const int64_t ms = ((tick - now) * 1000 + frequency - 1) / frequency;
        if (::WaitForSingleObject(m_stop.Get(), static_cast<DWORD>(std::min<int64_t>(ms, 1000))) == WAIT_OBJECT_0) {
            return false;
        }
    }
}

bool SimAsioStream::ReadAcknowledgeCount(LONG* count)
{
    SIZE_T read = 0;
    return ::ReadProcessMemory(m_process, reinterpret_cast<const void*>(static_cast<uintptr_t>(m_block + 4)), count,
                               sizeof(*count), &read) &&
           read == sizeof(*count);
}

void SimAsioStream::Clock()
{
    const bool periodSet = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    const int64_t frequency = Frequency();
    uint32_t rate = 0;
    int64_t start = Now();
    int64_t period = 0;
    uint64_t base = 0; // switch number at which start was taken
    for (uint64_t k = 0;; ++k) {
        const uint32_t current = m_kernel.CurrentRate();
        if (current != rate && current != 0) {
            // A new rate runs from here on.
            rate = current;
            const uint64_t samples = uint64_t{m_halfSamples} * (SimKernel::IsDsdRate(rate) ? 64u : 1u);
            period = static_cast<int64_t>(samples * static_cast<uint64_t>(frequency) / rate);
            start = Now();
            base = k;
        }
        if (!WaitUntil(start + static_cast<int64_t>(k - base + 1) * period)) {
            break;
        }
        if (k > 0) {
            // The client must have acknowledged every switch signalled so far.
            LONG acknowledged = 0;
            if (ReadAcknowledgeCount(&acknowledged) &&
                static_cast<int32_t>(static_cast<uint32_t>(k) - static_cast<uint32_t>(acknowledged)) > 0) {
                ++m_missed;
                OxluneErrorCounters add{};
                add.asio = 1;
                m_kernel.AddErrors(add);
                // Late is not lost: the half moves once the client is done with it, and the
                // clock goes on from there.
                const int64_t deadline = Now() + frequency * kAcknowledgeWaitMs / 1000;
                while (ReadAcknowledgeCount(&acknowledged) &&
                       static_cast<int32_t>(static_cast<uint32_t>(k) - static_cast<uint32_t>(acknowledged)) > 0 &&
                       Now() < deadline) {
                    if (::WaitForSingleObject(m_stop.Get(), 1) == WAIT_OBJECT_0) {
                        goto stopped;
                    }
                }
                start = Now();
                base = k;
                start -= period;
            }
        }
        MoveHalf(static_cast<uint32_t>(k & 1), k);
    }
stopped:
    if (periodSet) {
        ::timeEndPeriod(1);
    }
}

void SimAsioStream::MoveHalf(uint32_t half, uint64_t switchNumber)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<const Buffer*> outputs;
    std::vector<const Buffer*> inputs;
    for (const Key& key : m_attachOrder) {
        const Buffer& buffer = m_buffers[key];
        (buffer.input ? inputs : outputs).push_back(&buffer);
    }
    const size_t stride = m_silence.size();
    int16_t outputPeak = kSilenceLevel;
    for (size_t j = 0; j < outputs.size(); ++j) {
        const Buffer& buffer = *outputs[j];
        uint8_t* target = m_scratch.data() + j * stride;
        SIZE_T read = 0;
        if (!::ReadProcessMemory(m_process,
                                 reinterpret_cast<const void*>(static_cast<uintptr_t>(buffer.address +
                                                                                      uint64_t{half} * buffer.halfBytes)),
                                 target, buffer.halfBytes, &read)) {
            std::memset(target, buffer.dsd ? kDsdSilence : 0, buffer.halfBytes);
        }
        if (!buffer.dsd) {
            outputPeak = std::max(outputPeak, PeakLevel(target, buffer.halfBytes));
        }
    }
    const bool loopback = m_source.load() == Source::Loopback;
    int16_t inputPeak = kSilenceLevel;
    uint8_t* generated = m_scratch.data() + outputs.size() * stride;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Buffer& buffer = *inputs[i];
        const uint8_t* source = nullptr;
        if (loopback) {
            if (i < outputs.size() && outputs[i]->dsd == buffer.dsd && outputs[i]->halfBytes == buffer.halfBytes) {
                source = m_scratch.data() + i * stride;
            } else {
                std::memset(generated, buffer.dsd ? kDsdSilence : 0, buffer.halfBytes);
                source = generated;
            }
        } else {
            // A 1 kHz tone at -6 dB (at 48 kHz), or the DSD idle pattern.
            if (buffer.dsd) {
                std::memset(generated, 0x69, buffer.halfBytes);
            } else {
                const uint32_t samples = buffer.halfBytes / 4;
                for (uint32_t s = 0; s < samples; ++s) {
                    const double phase = static_cast<double>((m_signalPhase + s) % 48) / 48.0;
                    const int32_t value = static_cast<int32_t>(std::sin(phase * 6.283185307179586) * 1073741824.0);
                    std::memcpy(generated + s * 4, &value, 4);
                }
            }
            source = generated;
        }
        if (!buffer.dsd) {
            inputPeak = std::max(inputPeak, PeakLevel(source, buffer.halfBytes));
        }
        SIZE_T written = 0;
        ::WriteProcessMemory(m_process,
                             reinterpret_cast<void*>(static_cast<uintptr_t>(buffer.address + uint64_t{half} * buffer.halfBytes)),
                             source, buffer.halfBytes, &written);
    }
    m_signalPhase += m_halfSamples;
    m_inputPeak = inputPeak;
    m_outputPeak = outputPeak;

    const uint32_t index = half;
    SIZE_T written = 0;
    ::WriteProcessMemory(m_process, reinterpret_cast<void*>(static_cast<uintptr_t>(m_block)), &index, sizeof(index),
                         &written);
    if (m_signalTimes != nullptr) {
        m_signalTimes->ticks[switchNumber % SimAsioSignalTimes::kSlots] = static_cast<uint64_t>(Now());
    }
    ++m_switches;
    m_switchEvent.Set();
}
