#include "LibFixture.h"

#include "driverlib/OxluneDevice.h"

#include <cstring>

namespace {

class DeviceTest : public SimFixture {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        Plug("KVD1", &record.key0, &record.key1);
        CopyRecord();
    }
    void CopyRecord()
    {
        for (const OxluneDeviceRecord& r : sim.Kernel().Devices()) {
            if (r.key0 == record.key0 && r.key1 == record.key1) {
                record = r;
            }
        }
    }
    OxluneDeviceRecord record{};
};

class FailingOpenHook : public OxluneDevice {
public:
    OxluneStatus OnOpened() override
    {
        ++calls;
        return OXLUNE_STATUS_NOT_SUPPORTED;
    }
    int calls = 0;
};

TEST_F(DeviceTest, OpenBindsByKeyAndAFailureLeavesTheObjectClosed)
{
    OxluneDevice device;
    ASSERT_EQ(0u, device.Open(name.c_str(), record));
    EXPECT_TRUE(device.IsOpen());
    EXPECT_STREQ(L"KVD1", device.Record().serialNumber);
    OxluneDeviceRecord other = record;
    other.key0 += 1;
    EXPECT_EQ(OXLUNE_STATUS_REJECTED, device.Open(L"another-name", other));
    EXPECT_EQ(record.key0, device.Key0()) << "still bound to its own device";
    EXPECT_STREQ(name.c_str(), device.ControlDeviceName());

    OxluneDeviceRecord unknown = record;
    unknown.key0 += 1000;
    OxluneDevice stranger;
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICE, stranger.Open(name.c_str(), unknown));
    EXPECT_FALSE(stranger.IsOpen());
    EXPECT_EQ(unknown.key0, stranger.Key0()) << "record kept";
    EXPECT_STREQ(name.c_str(), stranger.ControlDeviceName()) << "name kept";
    bool on = true;
    EXPECT_EQ(OXLUNE_STATUS_NOT_OPENED, stranger.GetVolumeBypass(&on));
    EXPECT_TRUE(on);

    FailingOpenHook hooked;
    EXPECT_EQ(OXLUNE_STATUS_NOT_SUPPORTED, hooked.Open(name.c_str(), record));
    EXPECT_EQ(1, hooked.calls);
    EXPECT_FALSE(hooked.IsOpen());

    OxluneDevice missing;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, missing.Open(L"kuvo-no-such-simulator", record));
    EXPECT_FALSE(missing.IsOpen());
}

TEST_F(DeviceTest, MixerPinCountIsTheReplyLengthInWholePoints)
{
    struct Case {
        uint32_t replyBytes;
        uint32_t capacity;
        uint32_t expected;
    } cases[] = {{10, 26, 2}, {0, 26, 0}, {8, 18, 2}, {104, 26, 26}};
    OxluneDevice device;
    ASSERT_EQ(0u, device.Open(name.c_str(), record));
    for (const Case& c : cases) {
        const uint32_t replyBytes = c.replyBytes;
        sim.SetHandler(OXLUNE_IOCTL_GET_MIXER_PINS, [replyBytes](SimConnection&, SimRequest& r) -> uint32_t {
            const uint32_t n = replyBytes < r.outCapacity ? replyBytes : r.outCapacity;
            std::memset(r.out, 0x01, n);
            r.bytesReturned = n;
            return 0;
        });
        OxluneMixerPoint points[26];
        uint32_t count = 99;
        ASSERT_EQ(0u, device.GetMixerPins(OXLUNE_PINS_OUTPUTS, points, c.capacity, &count)) << c.replyBytes;
        EXPECT_EQ(c.expected, count) << c.replyBytes;
    }
}

TEST_F(DeviceTest, LevelConversionsAtTheirEdges)
{
    struct FromFixed {
        int32_t fixed;
        int32_t hundredths;
    } fromFixed[] = {
        {INT32_MIN, -9000}, {INT32_MAX, 9000}, {-393216, -600}, {393216, 600}, {-6553600, -9000},
        {6553600, 9000},    {655, 0},          {-655, 0},       {656, 1},      {0, 0},
        {-5898240, -9000},  {-5897585, -8999},
    };
    for (const FromFixed& c : fromFixed) {
        EXPECT_EQ(c.hundredths, OxluneDevice::HundredthsFromFixed(c.fixed)) << c.fixed;
    }
    struct ToFixed {
        int32_t hundredths;
        int32_t fixed;
    } toFixed[] = {
        {9500, 6225920}, {-600, -393216}, {600, 393216}, {1, 655}, {-1, -655}, {0, 0}, {-9000, -5898240},
        {32767, 21474181}, {-32768, -21474836},
    };
    for (const ToFixed& c : toFixed) {
        EXPECT_EQ(c.fixed, OxluneDevice::FixedFromHundredths(c.hundredths)) << c.hundredths;
    }
}

TEST_F(DeviceTest, MixerRequestsRoundTripThroughTheDriver)
{
    OxluneDevice device;
    ASSERT_EQ(0u, device.Open(name.c_str(), record));

    OxluneMixerPoint outputs[kOxluneMaxOutputPins];
    uint32_t count = 0;
    ASSERT_EQ(0u, device.GetMixerPins(OXLUNE_PINS_OUTPUTS, outputs, kOxluneMaxOutputPins, &count));
    ASSERT_GT(count, 0u);

    // Level 600 with mute is sent as it is; the driver writes back what it applied.
    OxluneControlEntry set{};
    set.point = outputs[0];
    set.flags = OXLUNE_CONTROL_FLAG_MUTE;
    set.level = 600;
    ASSERT_EQ(0u, device.SetOutputControls(&set, 1));
    OxluneControlEntry got{};
    got.point = outputs[0];
    ASSERT_EQ(0u, device.GetOutputControls(&got, 1));
    EXPECT_EQ(OXLUNE_CONTROL_FLAG_MUTE, got.flags & OXLUNE_CONTROL_FLAG_MUTE);
    EXPECT_EQ(set.level, got.level);

    OxluneMeterEntry meter{};
    meter.point = outputs[0];
    EXPECT_EQ(0u, device.GetOutputMeters(&meter, 1));

    bool on = false;
    ASSERT_EQ(0u, device.SetVolumeBypass(true));
    ASSERT_EQ(0u, device.GetVolumeBypass(&on));
    EXPECT_TRUE(on);
    ASSERT_EQ(0u, device.SetBypassMute(false));
    on = true;
    ASSERT_EQ(0u, device.GetBypassMute(&on));
    EXPECT_FALSE(on);

    // A failing get leaves the caller's value alone.
    Command("fail-next 0x80882D1C 0xE0000002");
    on = false;
    EXPECT_EQ(OXLUNE_STATUS_INTERNAL_ERROR, device.GetVolumeBypass(&on));
    EXPECT_FALSE(on);

    OxluneChannelLevels levels{};
    levels.direction = OXLUNE_ENDPOINT_DIRECTION_RENDER;
    levels.index = 0;
    levels.levels[0] = -393216;
    levels.flags[1] = OXLUNE_CHANNEL_LEVEL_FLAG_MUTE;
    ASSERT_EQ(0u, device.SetChannelLevels(levels));
    OxluneChannelLevels back{};
    ASSERT_EQ(0u, device.GetChannelLevels(OXLUNE_ENDPOINT_DIRECTION_RENDER, 0, &back));
    EXPECT_EQ(OXLUNE_ENDPOINT_DIRECTION_RENDER, back.direction);
    EXPECT_EQ(-393216, back.levels[0]);
    EXPECT_EQ(OXLUNE_CHANNEL_LEVEL_FLAG_MUTE, back.flags[1]);

    EXPECT_EQ(0u, device.SetSwitch(0, true));
    EXPECT_EQ(0u, device.SetSwitchParameter(0, 8));

    // Sizes the library refuses before asking the driver.
    OxluneEffectParameters block{};
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.GetEffectParameters(&block, sizeof(block) + 1));
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.GetOutputControls(nullptr, 1));
    OxluneConnectionEntry connection{};
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, device.SetConnections(&connection, 0x40000000));
}

} // namespace
