#pragma once
// The host side of a test session: the buffers it created, the callbacks it gives the
// driver, and everything it measures while the driver streams. The callbacks are plain
// functions, so one session object is current at a time.
#include "asio/AsioInterface.h"
#include "simulator/SimAsioStream.h"

#include <atomic>
#include <cstdint>
#include <vector>

class AsioHostSession {
public:
    AsioHostSession();
    ~AsioHostSession();

    // Creates the buffers on every channel at the preferred size and starts.
    ASIOError Start(IASIO* asio);
    // Stops and gives the buffers back.
    void Finish();
    bool ResetRequested() const { return m_resetRequested.load(); }

    // Totals over every session.
    struct Totals {
        uint64_t switches = 0;
        uint64_t positionGaps = 0;
        uint64_t checkedSamples = 0;
        uint64_t lostSamples = 0;
        uint64_t sessions = 0;
        uint32_t messages[32] = {};
    };
    const Totals& totals() const { return m_totals; }
    std::vector<uint32_t> Latencies() const; // microseconds
    // What the current session streams.
    long inputs() const { return m_inputs; }
    long outputs() const { return m_outputs; }
    long bufferSize() const { return m_bufferSize; }
    bool dsd() const { return m_dsd; }

private:
    static void BufferSwitch(long index, ASIOBool direct);
    static ASIOTime* BufferSwitchTimeInfo(ASIOTime* params, long index, ASIOBool direct);
    static void SampleRateDidChange(ASIOSampleRate rate);
    static long Message(long selector, long value, void* message, double* opt);
    void Process(long index, uint64_t position);

    IASIO* m_asio = nullptr;
    ASIOCallbacks m_callbacks{};
    std::vector<ASIOBufferInfo> m_buffers;
    long m_inputs = 0;
    long m_outputs = 0;
    long m_bufferSize = 0;
    bool m_dsd = false;
    bool m_running = false;
    std::atomic<bool> m_resetRequested{false};
    std::atomic<bool> m_closing{false}; // a reset is on its way: stop checking

    // Switch-thread state.
    uint64_t m_sessionSwitches = 0;
    uint64_t m_lastPosition = 0;
    Totals m_totals;
    Totals m_sessionStart;
    std::vector<uint32_t> m_latencies; // reserved up front
    size_t m_latencyCount = 0;
    int64_t m_frequency = 1;

    HANDLE m_signalMapping = nullptr;
    SimAsioSignalTimes* m_signalTimes = nullptr;
};
