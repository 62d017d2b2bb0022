// The device list, binding, and the per-device requests of the kernel model.
#include "SimKernelFixture.h"

namespace {

class SimDeviceRequestsTest : public SimKernelFixture {
protected:
    void SetUp() override
    {
        SimKernelFixture::SetUp();
        key = Plug("KV1 name=First_Device");
        ASSERT_EQ(0u, device.Open());
        ASSERT_EQ(0u, device.Bind(key.key0, key.key1));
    }
    static OxluneMixerPoint Point(uint8_t kind, uint8_t channel)
    {
        OxluneMixerPoint point{};
        point.kind = kind;
        point.channel = channel;
        return point;
    }
    template <class Entry>
    uint32_t InOut(uint32_t code, std::vector<Entry>& entries)
    {
        const uint32_t size = static_cast<uint32_t>(entries.size() * sizeof(Entry));
        return device.Context().IoControl(code, entries.data(), size, entries.data(), size);
    }

    OxluneChannelKey key{};
    SimTestClient device{name};
};

TEST_F(SimDeviceRequestsTest, DeviceListCarriesTheRecordsInPlugOrder)
{
    const OxluneChannelKey second = Plug("KV2 usb1 noecho key=0x11:0x22 vid=0x1234 pid=0x5678");
    EXPECT_EQ(0x11u, second.key0);
    EXPECT_EQ(0x22u, second.key1);
    OxluneDeviceList list{};
    ASSERT_EQ(0u, device.Read(OXLUNE_IOCTL_QUERY_DEVICES, &list));
    ASSERT_EQ(2u, list.count);
    EXPECT_EQ(key.key0, list.devices[0].key0);
    EXPECT_EQ(key.key1, list.devices[0].key1);
    EXPECT_EQ(std::wstring(L"KV1"), list.devices[0].serialNumber);
    EXPECT_EQ(std::wstring(L"First Device"), list.devices[0].name);
    // The first device streams; it has a high-speed port and the echo plug-in.
    EXPECT_EQ(OXLUNE_DEVICE_FLAG_HIGH_SPEED | OXLUNE_DEVICE_FLAG_ECHO_PLUGIN | OXLUNE_DEVICE_FLAG_STREAMING,
              list.devices[0].flags);
    EXPECT_EQ(0u, list.devices[1].flags);
    EXPECT_EQ(0x1234, list.devices[1].vendorId);
    EXPECT_EQ(0x5678, list.devices[1].productId);

    // Refused plugs: same serial, same key, a ninth device.
    EXPECT_EQ(0u, sim.Command("plug KV1").rfind("error", 0));
    EXPECT_EQ(0u, sim.Command("plug KV3 key=0x11:0x22").rfind("error", 0));
    for (int i = 3; i <= 8; ++i) {
        Plug("KV" + std::to_string(i));
    }
    EXPECT_EQ("error OXLUNE_STATUS_NO_RESOURCES", sim.Command("plug KV9"));
}

TEST_F(SimDeviceRequestsTest, BindingNeedsAKnownKeyAndRequestsNeedABinding)
{
    SimTestClient other(name);
    ASSERT_EQ(0u, other.Open());
    uint8_t on = 0;
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICE, other.Read(OXLUNE_IOCTL_GET_VOLUME_BYPASS, &on));
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICE, other.Bind(key.key0 + 1, key.key1));
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICE, other.Bind(key.key0, key.key1 + 1));
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICE, other.Read(OXLUNE_IOCTL_GET_VOLUME_BYPASS, &on));
    EXPECT_EQ(0u, other.Bind(key.key0, key.key1));
    EXPECT_EQ(0u, other.Read(OXLUNE_IOCTL_GET_VOLUME_BYPASS, &on));

    // The device goes: the bound handles learn it at their next request.
    EXPECT_EQ("ok", sim.Command("unplug KV1"));
    EXPECT_EQ(OXLUNE_STATUS_DEVICE_REMOVED, device.Read(OXLUNE_IOCTL_GET_VOLUME_BYPASS, &on));
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICE, device.Bind(key.key0, key.key1));
    // Plugged again, it has a new key; the old binding stays dead.
    const OxluneChannelKey again = Plug("KV1");
    EXPECT_FALSE(again.key0 == key.key0 && again.key1 == key.key1);
    EXPECT_EQ(OXLUNE_STATUS_DEVICE_REMOVED, other.Read(OXLUNE_IOCTL_GET_VOLUME_BYPASS, &on));
}

TEST_F(SimDeviceRequestsTest, MixerPinsControlsAndConnections)
{
    struct PinCase {
        uint32_t selector;
        uint32_t count;
        uint8_t firstKind;
    } pins[] = {{OXLUNE_PINS_OUTPUTS, 20, OXLUNE_POINT_ANALOG},
                {OXLUNE_PINS_HARDWARE_INPUTS, 18, OXLUNE_POINT_ANALOG},
                {OXLUNE_PINS_SOFTWARE_OUTPUTS, 18, OXLUNE_POINT_PLAYBACK}};
    for (const PinCase& c : pins) {
        OxluneMixerPoint points[kOxluneMaxOutputPins]{};
        uint32_t bytes = 0;
        const uint32_t capacity = c.selector == 0 ? kOxluneMaxOutputPins : kOxluneMaxInputPins;
        ASSERT_EQ(0u, device.Context().IoControl(OXLUNE_IOCTL_GET_MIXER_PINS, &c.selector, 4, points,
                                                 capacity * 4, &bytes));
        EXPECT_EQ(c.count * 4, bytes) << c.selector;
        EXPECT_EQ(c.firstKind, points[0].kind) << c.selector;
    }
    uint32_t badSelector = 3;
    OxluneMixerPoint points[kOxluneMaxOutputPins]{};
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER,
              device.Context().IoControl(OXLUNE_IOCTL_GET_MIXER_PINS, &badSelector, 4, points, sizeof(points)));

    // A control entry with +6 dB and mute comes back as set; a level beyond the range is clamped.
    SimTestClient server(name), panel(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    std::vector<OxluneControlEntry> controls(2);
    controls[0].point = Point(OXLUNE_POINT_ANALOG, 0);
    controls[0].flags = OXLUNE_CONTROL_FLAG_MUTE;
    controls[0].level = 600;
    controls[1].point = Point(OXLUNE_POINT_VIRTUAL_INPUT, 1);
    controls[1].level = 1200;
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_SET_OUTPUT_CONTROLS, controls));
    EXPECT_EQ(600, controls[0].level);
    EXPECT_EQ(600, controls[1].level);
    std::vector<OxluneControlEntry> read(2);
    read[0].point = controls[0].point;
    read[1].point = controls[1].point;
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_GET_OUTPUT_CONTROLS, read));
    EXPECT_EQ(OXLUNE_CONTROL_FLAG_MUTE, read[0].flags);
    EXPECT_EQ(600, read[0].level);
    EXPECT_EQ(0, read[1].flags);

    // The change told the server and the panel, with the device's key; the same values again tell nobody.
    for (SimTestClient* client : {&server, &panel}) {
        OxluneMessage notification;
        ASSERT_TRUE(client->FindNotification(OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED, &notification));
        OxluneTwoWordsPayload words{};
        uint32_t size = sizeof(words);
        ASSERT_EQ(0u, notification.GetPayload(&words, &size));
        EXPECT_EQ(sizeof(words), size);
        EXPECT_EQ(key.key0, words.word0);
        EXPECT_EQ(key.key1, words.word1);
    }
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_SET_OUTPUT_CONTROLS, controls));
    EXPECT_TRUE(panel.DrainNotifications().empty());

    // An unknown point refuses the whole request and changes nothing.
    std::vector<OxluneControlEntry> bad = controls;
    bad[0].level = -100;
    bad[1].point = Point(OXLUNE_POINT_PLAYBACK, 0); // an input, not an output
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, InOut(OXLUNE_IOCTL_SET_OUTPUT_CONTROLS, bad));
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_GET_OUTPUT_CONTROLS, read));
    EXPECT_EQ(600, read[0].level);

    // Connections: the factory routing feeds playback 1 to analog out 1; set and read back.
    std::vector<OxluneConnectionEntry> connections(2);
    connections[0].destination = Point(OXLUNE_POINT_ANALOG, 0);
    connections[0].source = Point(OXLUNE_POINT_PLAYBACK, 0);
    connections[1].destination = Point(OXLUNE_POINT_VIRTUAL_INPUT, 0);
    connections[1].source = Point(OXLUNE_POINT_PLAYBACK, 0);
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_GET_CONNECTIONS, connections));
    EXPECT_EQ(OXLUNE_CONNECTION_FLAG_CONNECTED, connections[0].flags);
    EXPECT_EQ(0, connections[1].flags);
    connections[1].flags = OXLUNE_CONNECTION_FLAG_CONNECTED;
    connections[1].level = -300;
    ASSERT_EQ(0u, device.Context().IoControl(OXLUNE_IOCTL_SET_CONNECTIONS, connections.data(),
                                             static_cast<uint32_t>(connections.size() * 12), nullptr, 0));
    connections[1].flags = 0;
    connections[1].level = 0;
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_GET_CONNECTIONS, connections));
    EXPECT_EQ(OXLUNE_CONNECTION_FLAG_CONNECTED, connections[1].flags);
    EXPECT_EQ(-300, connections[1].level);
    OxluneMessage notification;
    EXPECT_TRUE(panel.FindNotification(OXLUNE_MSG_CONNECTIONS_CHANGED, &notification));
    EXPECT_FALSE(server.FindNotification(OXLUNE_MSG_CONNECTIONS_CHANGED, &notification));
}

TEST_F(SimDeviceRequestsTest, MetersMoveOnlyWhileStreamingRuns)
{
    std::vector<OxluneMeterEntry> meters(2);
    meters[0].point = Point(OXLUNE_POINT_ANALOG, 0);
    meters[1].point = Point(OXLUNE_POINT_PLAYBACK, 1);
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_GET_INPUT_METERS, meters));
    EXPECT_EQ(SimMixer::kSilence, meters[0].level);
    EXPECT_EQ(SimMixer::kSilence, meters[1].level);
    sim.Kernel().ForceState(OXLUNE_STREAMING_RUNNING);
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_GET_INPUT_METERS, meters));
    EXPECT_GT(meters[0].level, SimMixer::kSilence);
    EXPECT_LE(meters[0].level, 0);
    std::vector<OxluneMeterEntry> outputs(1);
    outputs[0].point = Point(OXLUNE_POINT_SPDIF, 1);
    ASSERT_EQ(0u, InOut(OXLUNE_IOCTL_GET_OUTPUT_METERS, outputs));
    EXPECT_GT(outputs[0].level, SimMixer::kSilence);
    // A virtual input is an output of the mixer, not an input meter.
    meters[1].point = Point(OXLUNE_POINT_VIRTUAL_INPUT, 0);
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, InOut(OXLUNE_IOCTL_GET_INPUT_METERS, meters));
}

TEST_F(SimDeviceRequestsTest, BypassEffectsLevelsTablesAndSwitchesKeepWhatWasSent)
{
    SimTestClient panel(name);
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    struct BypassCase {
        uint32_t set, get;
    } bypass[] = {{OXLUNE_IOCTL_SET_VOLUME_BYPASS, OXLUNE_IOCTL_GET_VOLUME_BYPASS},
                  {OXLUNE_IOCTL_SET_BYPASS_MUTE, OXLUNE_IOCTL_GET_BYPASS_MUTE}};
    for (const BypassCase& c : bypass) {
        uint8_t on = 1;
        ASSERT_EQ(0u, device.Write(c.set, on));
        on = 0;
        ASSERT_EQ(0u, device.Read(c.get, &on));
        EXPECT_EQ(1, on);
        EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.Write(c.set, uint8_t{2}));
    }
    OxluneMessage notification;
    EXPECT_TRUE(panel.FindNotification(OXLUNE_MSG_DEVICE_STATE_CHANGED, &notification));

    // Echo parameters: 0 the channel count, 1 the largest delay, 2 and 3 per channel.
    OxluneEffectParameters block{};
    auto get = [&](uint32_t parameter, uint32_t channel) {
        block = OxluneEffectParameters{};
        block.parameter = parameter;
        block.count = 1;
        block.values[0].channel = channel;
        return device.Context().IoControl(OXLUNE_IOCTL_GET_EFFECT_PARAMETERS, &block, sizeof(block), &block,
                                          sizeof(block));
    };
    ASSERT_EQ(0u, get(0, 0));
    EXPECT_EQ(16u, block.count);
    ASSERT_EQ(0u, get(1, 0));
    EXPECT_EQ(SimMixer::kEchoMaxDelayMs, block.count);
    OxluneEffectParameters set{};
    set.parameter = OXLUNE_EFFECT_PARAMETER_ECHO_B;
    set.count = 2;
    set.values[0] = {2, 500};
    set.values[1] = {3, 5000}; // clamped to 1000
    ASSERT_EQ(0u, device.Write(OXLUNE_IOCTL_SET_EFFECT_PARAMETERS, set));
    ASSERT_EQ(0u, get(OXLUNE_EFFECT_PARAMETER_ECHO_B, 3));
    EXPECT_EQ(1000u, block.values[0].value);
    set.values[1].channel = 16;
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.Write(OXLUNE_IOCTL_SET_EFFECT_PARAMETERS, set));
    set.count = kOxluneMaxEffectValues + 1;
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.Write(OXLUNE_IOCTL_SET_EFFECT_PARAMETERS, set));
    SimTestClient plain(name);
    const OxluneChannelKey noEcho = Plug("KV2 noecho");
    ASSERT_EQ(0u, plain.Open());
    ASSERT_EQ(0u, plain.Bind(noEcho.key0, noEcho.key1));
    block = OxluneEffectParameters{};
    EXPECT_EQ(OXLUNE_STATUS_NOT_SUPPORTED,
              plain.Context().IoControl(OXLUNE_IOCTL_GET_EFFECT_PARAMETERS, &block, sizeof(block), &block, sizeof(block)));

    // Channel levels per render endpoint; a record never set reads as zero.
    OxluneChannelLevels levels{};
    levels.direction = OXLUNE_ENDPOINT_DIRECTION_RENDER;
    levels.index = 3;
    levels.levels[1] = -393216;
    levels.flags[1] = OXLUNE_CHANNEL_LEVEL_FLAG_MUTE;
    ASSERT_EQ(0u, device.Write(OXLUNE_IOCTL_SET_CHANNEL_LEVELS, levels));
    OxluneChannelLevels readBack{};
    readBack.direction = OXLUNE_ENDPOINT_DIRECTION_RENDER;
    readBack.index = 3;
    ASSERT_EQ(0u, device.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_LEVELS, &readBack, sizeof(readBack), &readBack,
                                             sizeof(readBack)));
    EXPECT_EQ(0, std::memcmp(&levels, &readBack, sizeof(levels)));
    readBack.index = 4;
    ASSERT_EQ(0u, device.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_LEVELS, &readBack, sizeof(readBack), &readBack,
                                             sizeof(readBack)));
    EXPECT_EQ(0, readBack.levels[1]);
    readBack.direction = 3;
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER,
              device.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_LEVELS, &readBack, sizeof(readBack), &readBack,
                                         sizeof(readBack)));
    OxluneChannelLevels init{};
    init.direction = OXLUNE_ENDPOINT_DIRECTION_CAPTURE;
    init.index = 40;
    ASSERT_EQ(0u, device.Write(OXLUNE_IOCTL_INIT_CHANNEL_LEVELS, init));

    // Endpoint tables are kept as sent; a count above 32 is refused.
    auto table = std::make_unique<OxluneEndpointPairTable>();
    table->capture.count = 9;
    table->render.count = 8;
    ASSERT_EQ(0u, device.Write(OXLUNE_IOCTL_SET_ENDPOINT_PAIRS, *table));
    auto channels = std::make_unique<OxluneEndpointChannelTable>();
    channels->capture.count = 18;
    channels->render.count = 33;
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.Write(OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS, *channels));
    channels->render.count = 16;
    ASSERT_EQ(0u, device.Write(OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS, *channels));
    EXPECT_EQ("ok channels=18/16 pairs=9/8 init-levels=1", sim.Command("endpoints KV1"));

    // Switches and their parameter, as the service primes them.
    for (uint32_t selector : {0u, 2u}) {
        ASSERT_EQ(0u, device.Write(OXLUNE_IOCTL_SET_SWITCH, OxluneSwitchInput{selector, 1}));
        ASSERT_EQ(0u, device.Write(OXLUNE_IOCTL_SET_SWITCH_PARAMETER, OxluneSwitchInput{selector, 8}));
    }
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.Write(OXLUNE_IOCTL_SET_SWITCH, OxluneSwitchInput{0, 2}));
    EXPECT_EQ("ok 0=1/8 2=1/8", sim.Command("switches KV1"));

    // Stream formats: PCM always, DSD only on DSD devices.
    auto formats = std::make_unique<OxluneStreamFormatList>();
    ASSERT_EQ(0u, device.Read(OXLUNE_IOCTL_GET_STREAM_FORMATS, formats.get()));
    EXPECT_EQ(1u, formats->count);
    EXPECT_NE(OXLUNE_SAMPLE_FORMAT_DSD, formats->formats[0].first[0].sampleFormat);
    const OxluneChannelKey dsdKey = Plug("KV3 dsd");
    SimTestClient dsd(name);
    ASSERT_EQ(0u, dsd.Open());
    ASSERT_EQ(0u, dsd.Bind(dsdKey.key0, dsdKey.key1));
    ASSERT_EQ(0u, dsd.Read(OXLUNE_IOCTL_GET_STREAM_FORMATS, formats.get()));
    ASSERT_EQ(2u, formats->count);
    EXPECT_EQ(OXLUNE_SAMPLE_FORMAT_DSD, formats->formats[1].first[0].sampleFormat);
}

TEST_F(SimDeviceRequestsTest, TestsChangeTheEndpointVolumeAndTheMixerFromOutside)
{
    SimTestClient server(name), panel(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    // -100 dB on both channels of render endpoint 2, muted.
    ASSERT_EQ("ok", sim.Command("endpoint-volume KV1 2 -10000 mute"));
    EXPECT_TRUE(SimTestSignalled(server.NotificationEvent()));
    OxluneMessage notice;
    ASSERT_TRUE(server.FindNotification(OXLUNE_MSG_DEVICE_NOTICE, &notice));
    OxluneDeviceNoticePayload payload{};
    uint32_t size = sizeof(payload);
    ASSERT_EQ(0u, notice.GetPayload(&payload, &size));
    EXPECT_EQ(sizeof(payload), size);
    EXPECT_EQ(key.key0, payload.key0);
    EXPECT_EQ(key.key1, payload.key1);
    EXPECT_EQ(OXLUNE_DEVICE_NOTICE_KIND_VOLUME, payload.kind);
    EXPECT_EQ(2u, payload.value);
    EXPECT_TRUE(panel.DrainNotifications().empty());
    OxluneChannelLevels levels{};
    levels.direction = OXLUNE_ENDPOINT_DIRECTION_RENDER;
    levels.index = 2;
    ASSERT_EQ(0u, device.Context().IoControl(OXLUNE_IOCTL_GET_CHANNEL_LEVELS, &levels, sizeof(levels), &levels,
                                             sizeof(levels)));
    EXPECT_EQ(-6553600, levels.levels[0]);
    EXPECT_EQ(OXLUNE_CHANNEL_LEVEL_FLAG_MUTE, levels.flags[1]);
    EXPECT_EQ(0, levels.levels[2]);

    ASSERT_EQ("ok", sim.Command("mixer-output KV1 0 3 -1200 mute"));
    OxluneMessage changed;
    EXPECT_TRUE(server.FindNotification(OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED, &changed));
    EXPECT_TRUE(panel.FindNotification(OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED, &changed));
    EXPECT_NE(std::string::npos, sim.Command("mixer KV1").find("\n0:3 -1200 mute\n"));
    EXPECT_EQ("error OXLUNE_STATUS_NO_DEVICE", sim.Command("endpoint-volume KV9 0 0"));
    EXPECT_EQ("error OXLUNE_STATUS_INVALID_PARAMETER", sim.Command("mixer-output KV1 2 0 0"));
}

} // namespace
