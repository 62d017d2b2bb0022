#pragma once
// What the ASIO tests share: an in-process simulator with the service stand-in, a driver
// object pointed at it, and a recording host behind the plain C callbacks.
#include "asio/AsioDriver.h"
#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"
#include "tools/asiohost/AsioStandInService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Opens the given control device instead of the kernel driver's.
class TestCustom : public AsioCustom {
public:
    explicit TestCustom(std::wstring name) : m_name(std::move(name)) {}
    const wchar_t* interfaceName() override { return m_name.c_str(); }

private:
    std::wstring m_name;
};

// The host side of the callbacks. One at a time: the callbacks are plain functions.
struct RecordingHost {
    struct Switch {
        long index = 0;
        uint64_t position = 0;
        bool timeInfo = false;
        unsigned long flags = 0;
        double speed = 0;
        double rate = 0;
        DWORD thread = 0;
    };
    // Answers to asioMessage.
    long supportsTimeInfo = 0;
    long supportsReset = 0;
    long supportsBufferSizeChange = 0;

    // The host is late once: the switch with this number sleeps that long.
    int lateSwitch = -1;
    DWORD lateMs = 0;

    IASIO* driver = nullptr;
    std::mutex mutex;
    std::vector<Switch> switches;
    std::map<long, int> messages;       // selector -> count (kAsioSelectorSupported by value below)
    std::map<long, int> supportedAsked; // value of kAsioSelectorSupported -> count
    std::atomic<int> switchCount{0};

    ASIOCallbacks Callbacks(bool withTimeInfo = true, bool withMessage = true);
    bool WaitForSwitches(int count, DWORD timeoutMs = 20000);
    int MessageCount(long selector);
};
extern RecordingHost* g_host;

class AsioFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs a device and starts the simulator and the service stand-in.
    void StartSimulator(const std::string& plugOptions = "analog=2 spdif=0");
    // Creates the driver object (reference count 1) pointed at the simulator.
    void CreateDriver();
    void ReleaseDriver();
    bool Init() { return asio->init(nullptr) == ASIOTrue; }

    // Replaces the channel map with these keys (taken from the simulated device).
    void UseChannelMap(const std::vector<OxluneChannelKey>& inputs, const std::vector<OxluneChannelKey>& outputs);
    void RealChannels(std::vector<OxluneChannelInfo>* inputs, std::vector<OxluneChannelInfo>* outputs);
    // Answers stream information requests with this record.
    void UseStreamInfo(const AsioStreamInfo& info);
    // Answers the streaming status with this state; counts the requests.
    void UseStreamingState(uint32_t state);
    int StatusRequests() const { return m_statusRequests.load(); }

    std::wstring name;
    SimDriver sim;
    AsioStandInService service;
    AsioDriver* driver = nullptr;
    IASIO* asio = nullptr;
    RecordingHost host;

private:
    std::atomic<int> m_statusRequests{0};
    std::mutex m_mutex;
    std::vector<OxluneChannelKey> m_inputs;
    std::vector<OxluneChannelKey> m_outputs;
    AsioStreamInfo m_streamInfo{};
};
