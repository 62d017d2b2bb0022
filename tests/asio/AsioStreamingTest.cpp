// Buffers, the switch thread and the reaction to the service's notifications.
#include "AsioTestSupport.h"

#include "asio/AsioRecords.h"
#include "driverlib/OxluneRequests.h"

#include <set>

class AsioStreamingTest : public AsioFixture {
protected:
    void Prepare(long bufferSize = 64)
    {
        ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
        ASSERT_NO_FATAL_FAILURE(CreateDriver());
        ASSERT_TRUE(Init());
        callbacks = host.Callbacks();
        ASSERT_EQ(ASE_OK, asio->createBuffers(buffers, 4, bufferSize, &callbacks));
    }
    std::vector<RecordingHost::Switch> Switches()
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        return host.switches;
    }

    ASIOBufferInfo buffers[4] = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
    ASIOCallbacks callbacks{};
};

TEST_F(AsioStreamingTest, CreateBuffersOnlyWhenInitialized)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    EXPECT_EQ(AsioStatePrepared, driver->currentState());
    ASIOBufferInfo more[1] = {{ASIOTrue, 0, {}}};
    EXPECT_EQ(ASE_NotPresent, asio->createBuffers(more, 1, 64, &callbacks));
    EXPECT_EQ(ASE_OK, asio->disposeBuffers());
    EXPECT_EQ(AsioStateInitialized, driver->currentState());
    EXPECT_EQ(ASE_InvalidParameter, asio->createBuffers(nullptr, 1, 64, &callbacks));
    EXPECT_EQ(ASE_InvalidParameter, asio->createBuffers(more, 1, 64, nullptr));
    EXPECT_EQ(ASE_InvalidParameter, asio->createBuffers(more, 1, 0, &callbacks));
    EXPECT_EQ(ASE_OK, asio->createBuffers(more, 0, 64, &callbacks)) << "no channels is still a success";
}

TEST_F(AsioStreamingTest, ABadChannelListUndoesTheWholeCall)
{
    struct Case {
        const char* what;
        ASIOBufferInfo entries[3];
        long count;
    } cases[] = {
        {"output 5 of 2 (with the dummy rule not applying)", {{ASIOTrue, 0, {}}, {ASIOFalse, 5, {}}, {}}, 2},
        {"the same channel twice", {{ASIOFalse, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}}, 3},
        {"a negative index", {{ASIOTrue, -1, {}}, {}, {}}, 1},
    };
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOCallbacks hostCallbacks = host.Callbacks();
    for (Case& c : cases) {
        EXPECT_EQ(ASE_InvalidParameter, asio->createBuffers(c.entries, c.count, 64, &hostCallbacks)) << c.what;
        EXPECT_EQ(AsioStateInitialized, driver->currentState()) << c.what;
        EXPECT_EQ(nullptr, driver->hostCallbacks()) << c.what;
        EXPECT_EQ(0u, driver->channelsInUse().activeInputList().size() +
                          driver->channelsInUse().activeOutputList().size())
            << c.what;
        for (long i = 0; i < c.count; ++i) {
            ASIOChannelInfo info{};
            info.channel = c.entries[i].channelNum < 0 ? 0 : c.entries[i].channelNum % 2;
            info.isInput = c.entries[i].isInput;
            asio->getChannelInfo(&info);
            EXPECT_EQ(ASIOFalse, info.isActive) << c.what;
        }
    }
}

TEST_F(AsioStreamingTest, AChannelTheKernelRefusesFailsTheCall)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOCallbacks hostCallbacks = host.Callbacks();
    for (uint32_t code : {OXLUNE_IOCTL_ENABLE_ASIO_CHANNEL, OXLUNE_IOCTL_ATTACH_ASIO_BUFFER}) {
        SimCompletion fail;
        fail.mode = SimCompletion::Mode::Fail;
        fail.status = OXLUNE_STATUS_NO_RESOURCES;
        fail.count = 1;
        sim.SetCompletion(code, fail);
        ASIOBufferInfo entries[2] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
        EXPECT_EQ(ASE_HWMalfunction, asio->createBuffers(entries, 2, 64, &hostCallbacks)) << std::hex << code;
        EXPECT_EQ(AsioStateInitialized, driver->currentState());
        EXPECT_EQ(0u, driver->channelsInUse().activeInputList().size());
        sim.ClearCompletions();
    }
    ASIOBufferInfo entries[2] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
    EXPECT_EQ(ASE_OK, asio->createBuffers(entries, 2, 64, &hostCallbacks)) << "the kernel still takes a new call";
}

TEST_F(AsioStreamingTest, FirstSwitchesArePrefillThenTheKernelsIndex)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(64));
    ASIOSamples position{1, 1};
    ASIOTimeStamp stamp{1, 1};
    EXPECT_EQ(ASE_OK, asio->getSamplePosition(&position, &stamp));
    EXPECT_EQ(0u, position.hi | position.lo) << "before the first switch";
    EXPECT_EQ(0u, stamp.hi | stamp.lo);
    EXPECT_EQ(uint8_t{0}, static_cast<uint8_t*>(buffers[2].buffers[1])[63]);
    EXPECT_EQ(static_cast<uint8_t*>(buffers[0].buffers[0]) + 256, buffers[0].buffers[1]);
    ASSERT_EQ(ASE_OK, asio->start());
    ASSERT_TRUE(host.WaitForSwitches(6));
    EXPECT_EQ(ASE_OK, asio->stop());
    EXPECT_EQ(AsioStatePrepared, driver->currentState());
    const auto switches = Switches();
    ASSERT_GE(switches.size(), 6u);
    for (size_t i = 0; i < switches.size(); ++i) {
        EXPECT_EQ(static_cast<long>(i % 2), switches[i].index) << i;
        EXPECT_EQ(64u * i, switches[i].position) << i;
        EXPECT_FALSE(switches[i].timeInfo) << "the host did not ask for time information";
    }
    std::set<DWORD> threads;
    for (const auto& s : switches) {
        threads.insert(s.thread);
    }
    EXPECT_EQ(1u, threads.size());
    asio->getSamplePosition(&position, &stamp);
    EXPECT_NE(0u, stamp.hi | stamp.lo);
}

TEST_F(AsioStreamingTest, TimeInfoOnlyForAHostThatAsksAndHasTheCallback)
{
    struct Case {
        long answer;
        bool withCallback;
        bool expectTimeInfo;
    } cases[] = {{1, true, true}, {0, true, false}, {-1, true, false}, {1, false, false}};
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    for (const Case& c : cases) {
        host.supportsTimeInfo = c.answer;
        {
            std::lock_guard<std::mutex> lock(host.mutex);
            host.switches.clear();
        }
        host.switchCount = 0;
        ASIOCallbacks hostCallbacks = host.Callbacks(c.withCallback);
        ASIOBufferInfo entries[1] = {{ASIOFalse, 0, {}}};
        ASSERT_EQ(ASE_OK, asio->createBuffers(entries, 1, 64, &hostCallbacks));
        ASSERT_EQ(ASE_OK, asio->start());
        ASSERT_TRUE(host.WaitForSwitches(3));
        asio->disposeBuffers();
        for (const auto& s : Switches()) {
            EXPECT_EQ(c.expectTimeInfo, s.timeInfo) << "answer " << c.answer;
            if (s.timeInfo) {
                EXPECT_EQ(15u, s.flags);
                EXPECT_EQ(1.0, s.speed);
                EXPECT_EQ(48000.0, s.rate);
            }
        }
    }
}

TEST_F(AsioStreamingTest, StartTwiceOneThreadAndDisposeWhileRunning)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    EXPECT_EQ(ASE_OK, asio->stop()) << "stop before start changes nothing";
    EXPECT_EQ(AsioStatePrepared, driver->currentState());
    ASSERT_EQ(ASE_OK, asio->start());
    ASSERT_EQ(ASE_OK, asio->start());
    EXPECT_EQ(AsioStateRunning, driver->currentState());
    ASSERT_TRUE(host.WaitForSwitches(4));
    EXPECT_EQ(ASE_OK, asio->disposeBuffers());
    EXPECT_EQ(AsioStateInitialized, driver->currentState());
    EXPECT_FALSE(driver->switchThreadRunning());
    EXPECT_EQ(nullptr, driver->hostCallbacks());
    std::set<DWORD> threads;
    for (const auto& s : Switches()) {
        threads.insert(s.thread);
    }
    EXPECT_EQ(1u, threads.size());
    EXPECT_EQ(ASE_NotPresent, asio->start()) << "no buffers";
    EXPECT_EQ(ASE_OK, asio->stop());
    EXPECT_EQ(AsioStateInitialized, driver->currentState());
}

TEST_F(AsioStreamingTest, NotificationsReachOnlyAHostThatSupportsTheMessage)
{
    struct Case {
        long reset;
        long bufferSizeChange;
        int resets3010;
        int resets3011;
        int changes3011;
    } cases[] = {{0, 0, 0, 0, 0}, {1, 0, 1, 1, 0}, {1, 1, 1, 0, 1}, {0, 1, 0, 0, 1}};
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    for (const Case& c : cases) {
        host.supportsReset = c.reset;
        host.supportsBufferSizeChange = c.bufferSizeChange;
        ASIOCallbacks hostCallbacks = host.Callbacks(true, true);
        ASIOBufferInfo entries[1] = {{ASIOFalse, 0, {}}};
        ASSERT_EQ(ASE_OK, asio->createBuffers(entries, 1, 64, &hostCallbacks));
        // Queued before start: dropped by start.
        sim.Kernel().NotifyClients(OXLUNE_MSG_SAMPLE_RATE_CHANGED);
        ASSERT_EQ(ASE_OK, asio->start());
        const int resetsBefore = host.MessageCount(kAsioResetRequest);
        const int changesBefore = host.MessageCount(kAsioBufferSizeChange);
        sim.Kernel().NotifyClients(OXLUNE_MSG_STREAMING_CHANGED);
        sim.Kernel().NotifyClients(OXLUNE_MSG_SAMPLE_RATE_CHANGED);
        sim.Kernel().NotifyClients(OXLUNE_MSG_DEVICE_LIST_CHANGED);
        // The switch thread drains notifications between switches: a few more switches
        // and they have been handled.
        const int seen = host.switchCount.load();
        ASSERT_TRUE(host.WaitForSwitches(seen + 6));
        asio->stop();
        EXPECT_EQ(c.resets3010 + c.resets3011, host.MessageCount(kAsioResetRequest) - resetsBefore)
            << c.reset << "/" << c.bufferSizeChange;
        EXPECT_EQ(c.changes3011, host.MessageCount(kAsioBufferSizeChange) - changesBefore)
            << c.reset << "/" << c.bufferSizeChange;
        asio->disposeBuffers();
    }
}

TEST_F(AsioStreamingTest, AHostWithoutMessageCallbackStillStreams)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=2 spdif=0"));
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOCallbacks hostCallbacks = host.Callbacks(true, false);
    ASIOBufferInfo entries[1] = {{ASIOFalse, 0, {}}};
    ASSERT_EQ(ASE_OK, asio->createBuffers(entries, 1, 64, &hostCallbacks));
    ASSERT_EQ(ASE_OK, asio->start());
    sim.Kernel().NotifyClients(OXLUNE_MSG_STREAMING_CHANGED);
    ASSERT_TRUE(host.WaitForSwitches(4));
    EXPECT_EQ(ASE_OK, asio->setSampleRate(96000.0)) << "no reset request can be sent: none is";
    EXPECT_TRUE(host.WaitForSwitches(host.switchCount.load() + 3));
    asio->disposeBuffers(); // the callbacks live on this stack
}

TEST_F(AsioStreamingTest, ALayoutChangeWhileBuffersAreOutReleasesNothing)
{
    ASSERT_NO_FATAL_FAILURE(StartSimulator("analog=4 spdif=0"));
    std::vector<OxluneChannelInfo> inputs, outputs;
    RealChannels(&inputs, &outputs);
    auto keys = [](const std::vector<OxluneChannelInfo>& list, size_t count) {
        std::vector<OxluneChannelKey> result;
        for (size_t i = 0; i < count; ++i) {
            result.push_back({list[i].key0, list[i].key1});
        }
        return result;
    };
    UseChannelMap(keys(inputs, 2), keys(outputs, 2));
    host.supportsReset = 1;
    ASSERT_NO_FATAL_FAILURE(CreateDriver());
    ASSERT_TRUE(Init());
    ASIOCallbacks hostCallbacks = host.Callbacks();
    ASIOBufferInfo entries[2] = {{ASIOTrue, 1, {}}, {ASIOFalse, 1, {}}};
    ASSERT_EQ(ASE_OK, asio->createBuffers(entries, 2, 64, &hostCallbacks));
    ASSERT_EQ(ASE_OK, asio->start());
    ASSERT_TRUE(host.WaitForSwitches(3));

    UseChannelMap(keys(inputs, 4), keys(outputs, 4));
    const int resets = host.MessageCount(kAsioResetRequest);
    EXPECT_EQ(ASE_OK, asio->setSampleRate(44100.0));
    EXPECT_LT(resets, host.MessageCount(kAsioResetRequest)) << "the host is told to reset";
    // The blocks are still the host's and the kernel's: writable, and still listed.
    std::memset(entries[1].buffers[0], 0x11, 512);
    long in = 0, out = 0;
    asio->getChannels(&in, &out);
    EXPECT_EQ(2, in);
    ASIOChannelInfo info{};
    info.channel = 1;
    info.isInput = ASIOTrue;
    asio->getChannelInfo(&info);
    EXPECT_EQ(ASIOTrue, info.isActive);
    ASSERT_TRUE(host.WaitForSwitches(host.switchCount.load() + 3));

    EXPECT_EQ(ASE_OK, asio->disposeBuffers());
    asio->getChannels(&in, &out);
    EXPECT_EQ(4, in) << "the new layout once the buffers are back";
    EXPECT_EQ(4, out);
}

TEST_F(AsioStreamingTest, ALateHostCountsAMissedSwitchAndLosesNoHalf)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(64));
    host.lateSwitch = 4; // a kernel switch, after the two prefills
    host.lateMs = 100;   // many periods of 64 samples
    const uint32_t before = sim.Kernel().ErrorCounters().asio;
    ASSERT_EQ(ASE_OK, asio->start());
    ASSERT_TRUE(host.WaitForSwitches(12));
    asio->stop();
    EXPECT_LE(before + 1, sim.Kernel().ErrorCounters().asio) << "counted in the ASIO error counter";
    const auto switches = Switches();
    for (size_t i = 0; i < switches.size(); ++i) {
        EXPECT_EQ(static_cast<long>(i % 2), switches[i].index) << "no half skipped at " << i;
    }
    const std::string stats = sim.Command("asio stats");
    EXPECT_EQ(std::string::npos, stats.find("missed=0")) << stats;
}
