#pragma once
// One ASIO client's streaming as the kernel driver runs it: the switch block and event it
// registered, the channel buffers it attached, and the clock thread that, for every half
// that is due, moves the audio, writes the half's index into the client's switch block
// and signals its switch event.
#include "simulator/SimKernel.h"
#include "winsupport/WnEvent.h"
#include "winsupport/WnHandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Published by a host that wants to measure the switch latency: a named mapping
// "Local\KuvoAsioSignal-<host process id>" of this layout; the engine stores the
// performance counter at which it signalled switch k into ticks[k % kSlots].
struct SimAsioSignalTimes {
    static constexpr uint32_t kSlots = 4096;
    volatile uint64_t ticks[kSlots];
};
std::wstring SimAsioSignalMappingName(DWORD processId);

class SimAsioStream {
public:
    enum class Source { Loopback, TestSignal };
    struct Stats {
        uint64_t switches = 0;
        uint64_t missed = 0;
        int16_t inputPeak = -6000;  // hundredths of a dB, last half
        int16_t outputPeak = -6000;
    };

    SimAsioStream(SimKernel& kernel, uint32_t connectionId, HANDLE process);
    ~SimAsioStream();
    SimAsioStream(const SimAsioStream&) = delete;
    SimAsioStream& operator=(const SimAsioStream&) = delete;

    uint32_t Enable(uint32_t key0, uint32_t key1);
    uint32_t Disable(uint32_t key0, uint32_t key1);
    uint32_t Register(uint64_t block, uint64_t event, uint32_t halfSamples);
    uint32_t Unregister();
    uint32_t Attach(uint32_t key0, uint32_t key1, uint32_t halfBytes, uint32_t width, uint64_t buffer);
    uint32_t Start();
    void Stop();

    bool Streaming() const { return m_thread.joinable(); }
    Stats GetStats();
    void SetSource(Source source) { m_source = source; }

private:
    struct Buffer {
        bool enabled = false;
        bool input = false;
        bool dsd = false;
        uint64_t address = 0; // 0 until attached
        uint32_t halfBytes = 0;
    };
    using Key = std::pair<uint32_t, uint32_t>;

    void Clock();
    bool WaitUntil(int64_t tick);
    void MoveHalf(uint32_t half, uint64_t switchNumber);
    bool ReadAcknowledgeCount(LONG* count);

    SimKernel& m_kernel;
    uint32_t m_connectionId;
    HANDLE m_process; // our own duplicate
    std::mutex m_mutex;
    std::map<Key, Buffer> m_buffers;
    std::vector<Key> m_attachOrder;
    uint64_t m_block = 0;
    WnEvent m_switchEvent; // duplicate of the client's event
    uint32_t m_halfSamples = 0;
    std::atomic<Source> m_source{Source::Loopback};

    std::thread m_thread;
    WnEvent m_stop;
    std::vector<uint8_t> m_scratch;
    std::vector<uint8_t> m_silence;
    SimAsioSignalTimes* m_signalTimes = nullptr;
    HANDLE m_signalMapping = nullptr;
    std::atomic<uint64_t> m_switches{0};
    std::atomic<uint64_t> m_missed{0};
    std::atomic<int16_t> m_inputPeak{-6000};
    std::atomic<int16_t> m_outputPeak{-6000};
    uint64_t m_signalPhase = 0;
};
