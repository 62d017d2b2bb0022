// The streaming state machine, the server's commands and the driver-wide queries.
#include "SimKernelFixture.h"

#include <algorithm>

namespace {

class SimStreamingTest : public SimKernelFixture {
protected:
    void SetUp() override
    {
        SimKernelFixture::SetUp();
        ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
        ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    }
    uint32_t State() { return server.Status().state; }

    SimTestClient server{name};
    SimTestClient panel{name};
};

TEST_F(SimStreamingTest, CommandsMoveTheStateOnlyFromTheirStates)
{
    Plug("KV1");
    struct Case {
        uint32_t from, command, argument;
        uint32_t status, to;
    } cases[] = {
        {OXLUNE_STREAMING_DOWN, 2, 1, 0, OXLUNE_STREAMING_READY},
        {OXLUNE_STREAMING_READY, 4, 0, 0, OXLUNE_STREAMING_PREPARED},
        {OXLUNE_STREAMING_PREPARED, 5, 0, 0, OXLUNE_STREAMING_RUNNING},
        {OXLUNE_STREAMING_RUNNING, 6, 0, 0, OXLUNE_STREAMING_READY},
        {OXLUNE_STREAMING_PREPARED, 6, 0, 0, OXLUNE_STREAMING_READY},
        {OXLUNE_STREAMING_READY, 3, 0, 0, OXLUNE_STREAMING_DOWN},
        {OXLUNE_STREAMING_ERROR, 1, 0, 0, OXLUNE_STREAMING_DOWN},
        {OXLUNE_STREAMING_USB11, 1, 0, 0, OXLUNE_STREAMING_DOWN},
        // Out of place.
        {OXLUNE_STREAMING_READY, 2, 0, OXLUNE_STATUS_NOT_POSSIBLE, OXLUNE_STREAMING_READY},
        {OXLUNE_STREAMING_DOWN, 4, 0, OXLUNE_STATUS_NOT_POSSIBLE, OXLUNE_STREAMING_DOWN},
        {OXLUNE_STREAMING_READY, 5, 0, OXLUNE_STATUS_NOT_POSSIBLE, OXLUNE_STREAMING_READY},
        {OXLUNE_STREAMING_DOWN, 6, 0, OXLUNE_STATUS_NOT_POSSIBLE, OXLUNE_STREAMING_DOWN},
        {OXLUNE_STREAMING_RUNNING, 1, 0, OXLUNE_STATUS_NOT_POSSIBLE, OXLUNE_STREAMING_RUNNING},
        {OXLUNE_STREAMING_ERROR, 2, 0, OXLUNE_STATUS_IN_ERROR_STATE, OXLUNE_STREAMING_ERROR},
        {OXLUNE_STREAMING_USB11, 2, 0, OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE, OXLUNE_STREAMING_USB11},
        {OXLUNE_STREAMING_UNDEFINED, 2, 0, OXLUNE_STATUS_NOT_POSSIBLE, OXLUNE_STREAMING_UNDEFINED},
        {OXLUNE_STREAMING_DOWN, 0, 0, OXLUNE_STATUS_INVALID_PARAMETER, OXLUNE_STREAMING_DOWN},
        {OXLUNE_STREAMING_DOWN, 7, 0, OXLUNE_STATUS_INVALID_PARAMETER, OXLUNE_STREAMING_DOWN},
    };
    for (const Case& c : cases) {
        sim.Kernel().ForceState(c.from);
        EXPECT_EQ(c.status, server.Command(c.command, c.argument)) << c.from << " command " << c.command;
        EXPECT_EQ(c.to, State()) << c.from << " command " << c.command;
    }
    EXPECT_NE(std::string::npos, sim.Command("state").find(" restart=0 ")); // from the last command 3
    // Only the server commands the state.
    sim.Kernel().ForceState(OXLUNE_STREAMING_DOWN);
    EXPECT_EQ(OXLUNE_STATUS_NOT_ALLOWED, panel.Command(2, 0));
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, State());
}

TEST_F(SimStreamingTest, BringingUpNeedsAStreamingDeviceOnAHighSpeedPort)
{
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICES, server.Command(2, 0));
    Plug("SLOW usb1");
    EXPECT_EQ(OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE, server.Command(2, 0));
    EXPECT_EQ(OXLUNE_STREAMING_USB11, State());
    // The reset always leaves state 6, so the server can bring down and pick another device.
    ASSERT_EQ(0u, server.Command(1, 0));
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, State());
    const OxluneChannelKey fast = Plug("FAST");
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE,
                               OxluneStreamingDevicePayload{fast.key0, fast.key1, OXLUNE_STREAMING_MODE_SINGLE}));
    EXPECT_EQ(0u, server.Command(2, 1));
    EXPECT_EQ(OXLUNE_STREAMING_READY, State());

    // With the fault knob, Error stays Error after the reset (for bounded retry loops).
    ASSERT_EQ("ok", sim.Command("fault stuck on"));
    ASSERT_EQ("ok", sim.Command("fault error"));
    EXPECT_EQ(0u, server.Command(1, 0));
    EXPECT_EQ(OXLUNE_STREAMING_ERROR, State());
    ASSERT_EQ("ok", sim.Command("fault stuck off"));
    EXPECT_EQ(0u, server.Command(1, 0));
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, State());
    OxluneMessage notification;
    EXPECT_TRUE(server.FindNotification(OXLUNE_MSG_BRING_UP_RESTART, &notification));
    OxluneErrorCounters errors{};
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_ERROR_COUNTERS, &errors));
    EXPECT_EQ(1u, errors.streaming);
}

TEST_F(SimStreamingTest, PlugAndUnplugTellTheServerAndALostStreamingDeviceIsAnError)
{
    Plug("KV1");
    Plug("KV2");
    EXPECT_EQ((std::vector<uint32_t>{OXLUNE_MSG_DEVICES_CHANGED, OXLUNE_MSG_DEVICES_CHANGED}),
              server.DrainNotifications());
    EXPECT_TRUE(panel.DrainNotifications().empty());
    sim.Kernel().ForceState(OXLUNE_STREAMING_RUNNING);
    // Not streaming: no error.
    ASSERT_EQ("ok", sim.Command("unplug KV2"));
    EXPECT_EQ(OXLUNE_STREAMING_RUNNING, State());
    Plug("KV3");
    server.DrainNotifications();
    ASSERT_EQ("ok", sim.Command("unplug KV1"));
    EXPECT_EQ(OXLUNE_STREAMING_ERROR, State());
    EXPECT_EQ((std::vector<uint32_t>{OXLUNE_MSG_DEVICES_CHANGED}), server.DrainNotifications());
    // The remaining device streams now.
    const std::vector<OxluneDeviceRecord> selected = sim.Kernel().SelectedDevices();
    ASSERT_EQ(1u, selected.size());
    EXPECT_EQ(std::wstring(L"KV3"), selected[0].serialNumber);
    ASSERT_EQ("ok", sim.Command("unplug all"));
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, State());
    EXPECT_TRUE(sim.Kernel().Devices().empty());
}

TEST_F(SimStreamingTest, DemandCountsRaiseBringUpAndStopWhenIdle)
{
    struct Case {
        const char* command;
        std::vector<uint32_t> expected;
    } cases[] = {
        {"counts demand=1", {OXLUNE_MSG_BRING_UP}},
        {"counts demand=2 exclusive=1", {}},
        {"counts demand=0 exclusive=0 lock=1", {OXLUNE_MSG_STOP_WHEN_IDLE}},
        {"counts flag=1", {OXLUNE_MSG_BRING_UP}},
        {"counts flag=0 demand2=3", {OXLUNE_MSG_STOP_WHEN_IDLE, OXLUNE_MSG_BRING_UP_FOR}},
        {"counts demand2=0", {OXLUNE_MSG_STOP_WHEN_IDLE_FOR}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(0u, sim.Command(c.command).rfind("ok", 0)) << c.command;
        EXPECT_EQ(c.expected, server.DrainNotifications()) << c.command;
    }
    const OxluneStreamingStatus status = panel.Status();
    EXPECT_EQ(1u, status.changeLockCount);
    EXPECT_EQ(0u, status.streamDemandCount);
    sim.Kernel().AdjustStreamDemand(+1);
    EXPECT_EQ(1u, panel.Status().streamDemandCount);
    sim.Kernel().AdjustStreamDemand(-5);
    EXPECT_EQ(0u, panel.Status().streamDemandCount);
    EXPECT_EQ((std::vector<uint32_t>{OXLUNE_MSG_BRING_UP, OXLUNE_MSG_STOP_WHEN_IDLE}), server.DrainNotifications());
}

TEST_F(SimStreamingTest, AppliedSettingsShowInTheQueries)
{
    const OxluneChannelKey first = Plug("KV1");
    const OxluneChannelKey second = Plug("KV2 dsd analog=4 spdif=0");
    panel.DrainNotifications();

    // Rates: the PCM list while no DSD device streams.
    OxluneSampleRates rates{};
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_SAMPLE_RATES, &rates));
    EXPECT_EQ(48000u, rates.current);
    EXPECT_EQ(6u, rates.count);
    EXPECT_EQ(OXLUNE_STATUS_INVALID_SAMPLE_RATE, server.Write(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, uint32_t{2822400}));
    EXPECT_EQ(OXLUNE_STATUS_NOT_ALLOWED, panel.Write(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, uint32_t{96000}));
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE, uint32_t{96000}));
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, uint32_t{96000}));
    EXPECT_EQ(96000u, panel.Status().sampleRate);
    EXPECT_NE(std::string::npos, sim.Command("state").find(" announced=96000 "));
    // Not while streaming is prepared or running.
    sim.Kernel().ForceState(OXLUNE_STREAMING_RUNNING);
    EXPECT_EQ(OXLUNE_STATUS_NOT_POSSIBLE, server.Write(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, uint32_t{44100}));
    EXPECT_EQ(OXLUNE_STATUS_NOT_POSSIBLE,
              server.Write(OXLUNE_IOCTL_APPLY_BUFFER_SIZES, OxluneBufferSizesPayload{0, 0, 0}));
    sim.Kernel().ForceState(OXLUNE_STREAMING_DOWN);

    // Buffer sizes: classes checked, lengths follow from class and rate, the third word kept.
    EXPECT_EQ(OXLUNE_STATUS_INVALID_BUFFER_SIZE,
              server.Write(OXLUNE_IOCTL_APPLY_BUFFER_SIZES, OxluneBufferSizesPayload{6, 0, 0}));
    EXPECT_EQ(OXLUNE_STATUS_INVALID_BUFFER_SIZE,
              server.Write(OXLUNE_IOCTL_APPLY_BUFFER_SIZES, OxluneBufferSizesPayload{0, 4, 0}));
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_BUFFER_SIZES, OxluneBufferSizesPayload{3, 2, 77}));
    OxluneBufferSizes sizes{};
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_BUFFER_SIZES, &sizes));
    EXPECT_EQ(3u, sizes.streamingClass);
    EXPECT_EQ(2u, sizes.asioClass);
    EXPECT_EQ(77u, sizes.third);
    EXPECT_EQ(8000u, sizes.streamingMicroseconds);
    EXPECT_EQ(512u, sizes.asioSamples); // 256 at 48 kHz, doubled at 96 kHz
    EXPECT_EQ(5333u, sizes.asioMicroseconds);

    // Streaming device and mode: the flags and the panel follow.
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE,
                               OxluneStreamingDevicePayload{second.key0, second.key1, 0}));
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICE, server.Write(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE,
                                                    OxluneStreamingDevicePayload{first.key0, first.key1 + 1, 0}));
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER,
              server.Write(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE, OxluneStreamingDevicePayload{0, 0, 2}));
    std::vector<uint32_t> codes = panel.DrainNotifications();
    EXPECT_EQ(2, std::count(codes.begin(), codes.end(), OXLUNE_MSG_DEVICE_STATE_CHANGED));
    EXPECT_NE(codes.end(), std::find(codes.begin(), codes.end(), OXLUNE_MSG_SETTINGS_CHANGED)); // 3001
    OxluneMessage refresh;
    EXPECT_TRUE(server.FindNotification(OXLUNE_MSG_REFRESH_CLIENTS, &refresh)); // the records' flags changed
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_SAMPLE_RATES, &rates));
    EXPECT_EQ(8u, rates.count); // the DSD device streams: its rates join the list
    EXPECT_EQ(2822400u, rates.rates[6]);

    // Channels of the DSD device: PCM now, its DSD outputs once the rate is a DSD rate.
    OxluneChannelList inputs{}, outputs{};
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_INPUT_CHANNELS, &inputs));
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_OUTPUT_CHANNELS, &outputs));
    EXPECT_EQ(4u, inputs.count);
    EXPECT_EQ(4u, outputs.count);
    OxluneChannelInfo info{};
    ASSERT_EQ(0u, panel.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_INFO, &inputs.channels[1], 8, &info,
                                            sizeof(info)));
    EXPECT_EQ(std::wstring(L"Analog In 2"), info.name);
    EXPECT_EQ(OXLUNE_CHANNEL_DIRECTION_INPUT, info.direction);
    EXPECT_EQ(second.key0, info.deviceKey0);
    EXPECT_EQ(second.key1, info.deviceKey1);
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, uint32_t{2822400}));
    EXPECT_TRUE(sim.Kernel().DsdActive());
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_INPUT_CHANNELS, &inputs));
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_OUTPUT_CHANNELS, &outputs));
    EXPECT_EQ(0u, inputs.count);
    ASSERT_EQ(2u, outputs.count);
    ASSERT_EQ(0u, panel.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_INFO, &outputs.channels[0], 8, &info,
                                            sizeof(info)));
    EXPECT_EQ(OXLUNE_SAMPLE_FORMAT_DSD, info.sampleFormat);
    EXPECT_EQ(std::wstring(L"DSD Out 1"), info.name);
    OxluneChannelKey unknown{outputs.channels[0].key0, 0x12345};
    EXPECT_EQ(OXLUNE_STATUS_OBJECT_NOT_FOUND,
              panel.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_INFO, &unknown, 8, &info, sizeof(info)));

    // All devices stream: both devices' channels, names marked with the device number.
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, uint32_t{48000}));
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE, OxluneStreamingDevicePayload{0, 0, 1}));
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_OUTPUT_CHANNELS, &outputs));
    EXPECT_EQ(18u + 4u, outputs.count);
    ASSERT_EQ(0u, panel.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_INFO, &outputs.channels[18], 8, &info,
                                            sizeof(info)));
    EXPECT_EQ(std::wstring(L"2: Analog Out 1"), info.name);
    EXPECT_EQ(OXLUNE_STREAMING_MODE_ALL, panel.Status().mode);

    // Policy.
    ASSERT_EQ(0u, server.Write(OXLUNE_IOCTL_APPLY_POLICY, OXLUNE_POLICY_FORBID_RATE_CHANGE));
    uint32_t policy = 0;
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_POLICY, &policy));
    EXPECT_EQ(OXLUNE_POLICY_FORBID_RATE_CHANGE, policy);

    // Configurable rate lists; the current rate follows when it leaves the list.
    ASSERT_EQ("ok", sim.Command("rates 44100 88200"));
    ASSERT_EQ("ok", sim.Command("dsd-rates none"));
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_SAMPLE_RATES, &rates));
    EXPECT_EQ(2u, rates.count);
    EXPECT_EQ(44100u, rates.current);
    EXPECT_EQ(0u, sim.Command("rates 1 2 3 4 5 6 7 8 9 10 11 12 13").rfind("error", 0));
}

TEST_F(SimStreamingTest, StateListenersSeeEveryTransition)
{
    Plug("KV1");
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    sim.Kernel().AddStateListener([&](uint32_t from, uint32_t to) { seen.emplace_back(from, to); });
    ASSERT_EQ(0u, server.Command(2, 0));
    ASSERT_EQ(0u, server.Command(4, 0));
    ASSERT_EQ(0u, server.Command(5, 0));
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{1, 2}, {2, 3}, {3, 4}}), seen);
}

} // namespace
