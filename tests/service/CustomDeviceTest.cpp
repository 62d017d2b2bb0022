#include "service/CustomDevice.h"
#include "service/CustomServer.h"
#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"
#include "driverlib/OxluneRequests.h"
#include "winsupport/WnRegistryKey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::string Narrow(const wchar_t* text)
{
    std::string result;
    for (; *text != L'\0'; ++text) {
        result.push_back(static_cast<char>(*text));
    }
    return result;
}

// An in-process kernel model with one device under a serial of this test's own, and the
// device's registry key under a settings path of its own.
class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        name = SimUniqueName(L"svcdev");
        serial = "T" + std::to_string(::GetCurrentProcessId() % 100000) + "x" + std::to_string(++counter);
        registryPath = L"Software\\BRAKMOOR\\kuvo-test-" + std::to_wstring(::GetCurrentProcessId());
        // The endpoint channel table is captured here rather than kept by the model.
        sim.SetHandler(OXLUNE_IOCTL_SET_ENDPOINT_CHANNELS, [this](SimConnection&, SimRequest& r) -> uint32_t {
            std::lock_guard<std::mutex> lock(mutex);
            if (r.inSize != sizeof(OxluneEndpointChannelTable)) {
                return OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
            }
            std::memcpy(&channels, r.in, sizeof(channels));
            ++channelTables;
            return 0;
        });
        ASSERT_EQ(0u, sim.Start(name));
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, registryPath.c_str()); }

    void Plug(const std::string& options = "")
    {
        ASSERT_EQ(0u, sim.Command("plug " + serial + " " + options).rfind("ok", 0));
        record = sim.Kernel().Devices().back();
    }
    std::wstring DeviceKey() const
    {
        return registryPath + L"\\Devices\\" + std::wstring(serial.begin(), serial.end());
    }
    void WriteValue(const wchar_t* value, DWORD type, const void* data, DWORD size)
    {
        WnRegistryKey key;
        ASSERT_EQ(0u, key.Create(HKEY_LOCAL_MACHINE, DeviceKey().c_str(), KEY_READ | KEY_WRITE));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), value, 0, type, static_cast<const BYTE*>(data), size));
    }
    OxluneStatus Open(CustomDevice& device) { return device.Open(name.c_str(), record); }
    std::string Command(const std::string& command) { return sim.Command(command); }

    SimDriver sim;
    std::wstring name;
    std::string serial;
    std::wstring registryPath;
    OxluneDeviceRecord record{};
    std::mutex mutex;
    OxluneEndpointChannelTable channels{};
    int channelTables = 0;
};

using CustomDeviceTest = DeviceFixture;

TEST_F(CustomDeviceTest, FreshDeviceGetsBothEndpointTablesRoutingAndSwitches)
{
    Plug();
    CustomDevice device(registryPath.c_str());
    ASSERT_EQ(0u, Open(device));

    ASSERT_EQ(1, channelTables);
    ASSERT_EQ(16u, channels.render.count);
    ASSERT_EQ(18u, channels.capture.count);
    for (uint32_t i = 0; i < 16; ++i) {
        const OxluneEndpointChannelEntry& out = channels.render.entries[i];
        EXPECT_EQ("Kuvo Out " + std::to_string(i + 1), Narrow(out.name));
        EXPECT_EQ(1u, out.type);
        EXPECT_EQ(i / 2, out.pair);
        EXPECT_EQ(i % 2, out.channel);
        EXPECT_EQ("Kuvo Analog In " + std::to_string(i + 1), Narrow(channels.capture.entries[i].name));
    }
    for (uint32_t k = 0; k < 2; ++k) {
        const OxluneEndpointChannelEntry& virt = channels.capture.entries[16 + k];
        EXPECT_EQ("Kuvo Virtual In " + std::to_string(k + 1), Narrow(virt.name));
        EXPECT_EQ(40u, virt.type);
        EXPECT_EQ(0u, virt.pair);
        EXPECT_EQ(k, virt.channel);
    }

    const OxluneEndpointPairTable& pairs = device.EndpointPairs();
    ASSERT_EQ(8u, pairs.render.count);
    ASSERT_EQ(9u, pairs.capture.count);
    for (uint32_t i = 0; i < 8; ++i) {
        const std::string numbers = std::to_string(2 * i + 1) + "/" + std::to_string(2 * i + 2);
        for (const OxluneEndpointPairEntry* entry : {&pairs.render.entries[i], &pairs.capture.entries[i]}) {
            EXPECT_EQ(1u, entry->type);
            EXPECT_EQ(1u, PairCount(*entry));
            EXPECT_EQ(i, PairNumber(*entry, 0));
            EXPECT_EQ(0u, VolumeMode(*entry));
            EXPECT_EQ(3u, entry->configuration);
            EXPECT_EQ(i, entry->position);
            EXPECT_EQ(0xFF800000u, entry->levelWord);
        }
        EXPECT_EQ("Kuvo Out " + numbers, Narrow(pairs.render.entries[i].name));
        EXPECT_EQ("Kuvo Analog In " + numbers, Narrow(pairs.capture.entries[i].name));
    }
    const OxluneEndpointPairEntry& virt = pairs.capture.entries[8];
    EXPECT_EQ("Kuvo Virtual In 1/2", Narrow(virt.name));
    EXPECT_EQ(40u, virt.type);
    EXPECT_EQ(0u, virt.configuration);
    EXPECT_EQ(8u, virt.position);
    EXPECT_EQ(0u, virt.levelWord);
    // Nothing past the lists' ends.
    OxluneEndpointPairEntry zero{};
    EXPECT_EQ(0, std::memcmp(&zero, &pairs.render.entries[8], sizeof(zero)));

    // The model holds the pair table, the level record of the routing and the primed switches.
    EXPECT_EQ("ok channels=none pairs=9/8 init-levels=1", Command("endpoints " + serial));
    EXPECT_EQ("ok 0=0/8 2=0/8", Command("switches " + serial));
}

TEST_F(CustomDeviceTest, DsdDeviceNamesOnlyTheVirtualCaptureChannels)
{
    Plug("dsd");
    CustomDevice device(registryPath.c_str());
    ASSERT_EQ(0u, Open(device));
    EXPECT_EQ(0u, channels.render.count);
    ASSERT_EQ(2u, channels.capture.count);
    EXPECT_EQ("Kuvo Virtual In 1", Narrow(channels.capture.entries[0].name));
    EXPECT_EQ("Kuvo Virtual In 2", Narrow(channels.capture.entries[1].name));
    EXPECT_EQ(8u, device.EndpointPairs().render.count);
    EXPECT_EQ(9u, device.EndpointPairs().capture.count);
}

TEST_F(CustomDeviceTest, RegistryConfigurationShapesThePairTable)
{
    struct Case {
        const wchar_t* value;
        DWORD type;
        uint32_t render, capture, virtualPosition;
    } cases[] = {
        {L"WdmRenderSoundDeviceConfiguration", REG_DWORD, 0, 9, 8},
        {L"WdmCaptureSoundDeviceConfiguration", REG_DWORD, 8, 1, 0},
        // Not a REG_DWORD: ignored, the configuration stays 0.
        {L"WdmRenderSoundDeviceConfiguration", REG_SZ, 8, 9, 8},
    };
    Plug();
    for (const Case& c : cases) {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, registryPath.c_str());
        if (c.type == REG_DWORD) {
            const DWORD one = 1;
            WriteValue(c.value, REG_DWORD, &one, sizeof(one));
        } else {
            WriteValue(c.value, REG_SZ, L"1", 4);
        }
        CustomDevice device(registryPath.c_str());
        ASSERT_EQ(0u, Open(device));
        EXPECT_EQ(c.render, device.EndpointPairs().render.count) << c.value << c.type;
        EXPECT_EQ(c.capture, device.EndpointPairs().capture.count) << c.value << c.type;
        EXPECT_EQ(c.virtualPosition, device.EndpointPairs().capture.entries[c.capture - 1].position);
        if (c.render == 0) {
            // Nothing is linked: neither direction touches the mixer or the endpoints.
            const std::string mixer = Command("mixer " + serial);
            const std::string levels = Command("levels " + serial + " 2 0");
            ASSERT_EQ("ok", Command("endpoint-volume " + serial + " 0 -1000"));
            device.OnDeviceNotice2(0);
            EXPECT_EQ(mixer, Command("mixer " + serial));
            ASSERT_EQ("ok", Command("mixer-output " + serial + " 0 0 -700"));
            const std::string levelsAfterMixer = Command("levels " + serial + " 2 0");
            device.OnDeviceEvent();
            EXPECT_EQ(levelsAfterMixer, Command("levels " + serial + " 2 0"));
        }
    }
}

TEST_F(CustomDeviceTest, EndpointVolumeReachesTheMixerOutputs)
{
    Plug();
    CustomDevice device(registryPath.c_str());
    ASSERT_EQ(0u, Open(device));
    // -100 dB at Kuvo Out 1/2: the mixer stops at -90.00 dB.
    ASSERT_EQ("ok", Command("endpoint-volume " + serial + " 0 -10000"));
    device.OnDeviceNotice2(0);
    // -6 dB and muted at Kuvo Out 3/4.
    ASSERT_EQ("ok", Command("endpoint-volume " + serial + " 1 -600 mute"));
    device.OnDeviceNotice2(1);
    const std::string mixer = Command("mixer " + serial);
    EXPECT_NE(std::string::npos, mixer.find("\n0:0 -9000\n")) << mixer;
    EXPECT_NE(std::string::npos, mixer.find("\n0:1 -9000\n")) << mixer;
    EXPECT_NE(std::string::npos, mixer.find("\n0:2 -600 mute\n")) << mixer;
    EXPECT_NE(std::string::npos, mixer.find("\n0:3 -600 mute\n")) << mixer;
    // Index 8 is past the eight render pairs: ignored.
    device.OnDeviceNotice2(8);
    EXPECT_EQ(mixer, Command("mixer " + serial));
}

TEST_F(CustomDeviceTest, MixerOutputLevelReachesTheEndpoint)
{
    Plug();
    CustomDevice device(registryPath.c_str());
    ASSERT_EQ(0u, Open(device));
    ASSERT_EQ("ok", Command("mixer-output " + serial + " 0 0 600"));
    ASSERT_EQ("ok", Command("mixer-output " + serial + " 0 3 -1 mute"));
    device.OnDeviceEvent();
    const std::string first = Command("levels " + serial + " 2 0");
    EXPECT_EQ(0u, first.rfind("ok 393216 ", 0)) << first;
    const std::string second = Command("levels " + serial + " 2 1");
    EXPECT_EQ(0u, second.rfind("ok 0 -655m ", 0)) << second;
}

TEST_F(CustomDeviceTest, SwitchesFollowStreamingTransitions)
{
    Plug();
    CustomDevice device(registryPath.c_str());
    ASSERT_EQ(0u, Open(device));
    struct Case {
        uint32_t current, target;
        const char* switches;
    } cases[] = {
        {OXLUNE_STREAMING_PREPARED, OXLUNE_STREAMING_RUNNING, "ok 0=1/8 2=1/8"},
        {OXLUNE_STREAMING_DOWN, OXLUNE_STREAMING_READY, "ok 0=1/8 2=1/8"},
        {OXLUNE_STREAMING_READY, OXLUNE_STREAMING_PREPARED, "ok 0=1/8 2=1/8"},
        {OXLUNE_STREAMING_RUNNING, OXLUNE_STREAMING_READY, "ok 0=0/8 2=0/8"},
        {OXLUNE_STREAMING_PREPARED, OXLUNE_STREAMING_RUNNING, "ok 0=1/8 2=1/8"},
        {OXLUNE_STREAMING_PREPARED, OXLUNE_STREAMING_READY, "ok 0=0/8 2=0/8"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0u, device.BeforeTransition(c.current, c.target, 48000));
        EXPECT_EQ(c.switches, Command("switches " + serial)) << c.current << "->" << c.target;
    }
}

TEST(CustomDeviceLevels, ConversionsTruncateAndLimit)
{
    struct ToFixed {
        int16_t centi;
        int32_t fixed;
    } toFixed[] = {{-600, -393216}, {1, 655}, {-1, -655}, {600, 393216}, {0, 0}, {9500, 6225920}};
    for (const ToFixed& c : toFixed) {
        EXPECT_EQ(c.fixed, CustomDevice::ToFixedDb(c.centi)) << c.centi;
    }
    struct ToCenti {
        int32_t fixed;
        int16_t centi;
    } toCenti[] = {
        {-393216, -600}, {393216, 600}, {static_cast<int32_t>(0x80000000u), -9000}, {-6553600, -9000},
        {655, 0}, {-656, -1},
        // Far out of range: limited, never wrapped through 16 bits.
        {0x7FFFFFFF, 9000}, {45875200, 9000}, {-45875200, -9000},
    };
    for (const ToCenti& c : toCenti) {
        EXPECT_EQ(c.centi, CustomDevice::ToCentiDb(c.fixed)) << c.fixed;
    }
}

// The server's own requests, handled as its receive loop would.
class CustomServerTest : public DeviceFixture {
protected:
    void SetUp() override
    {
        DeviceFixture::SetUp();
        Plug();
        server.SetControlDeviceName(name.c_str());
        ASSERT_EQ(0u, server.TryConnect(name.c_str()));
        bool changed = false;
        ASSERT_EQ(0u, server.RefreshDevices(&changed));
        ASSERT_EQ(1u, server.GetDeviceCount());
        sim.Kernel().AddStateListener([this](uint32_t from, uint32_t to) {
            std::lock_guard<std::mutex> lock(mutex);
            transitions.push_back(std::to_string(from) + ">" + std::to_string(to));
        });
    }
    void TearDown() override
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\BRAKMOOR\\kuvo\\Devices\\" +
                                              std::wstring(serial.begin(), serial.end())).c_str());
        DeviceFixture::TearDown();
    }
    OxluneStatus Send(uint32_t code, const void* payload, uint32_t size, OxluneMessage* reply)
    {
        OxluneMessage request;
        request.Init(OXLUNE_MSG_TYPE_REQUEST, code);
        request.sequence = 7;
        request.SetPayload(payload, size);
        reply->InitReply(request, OXLUNE_STATUS_INVALID_COMMAND);
        return server.HandleRequest(request, *reply);
    }
    std::vector<std::string> Transitions()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return transitions;
    }

    CustomServer server;
    std::vector<std::string> transitions;
};

TEST_F(CustomServerTest, WdmConfigurationRequestsCheckSizeKeyAndValues)
{
    const uint32_t known[4] = {record.key0, record.key1, 0, 0};
    const uint32_t unknown[4] = {record.key0 + 1, record.key1, 0, 0};
    const uint32_t one[4] = {record.key0, record.key1, 1, 0};
    const uint8_t long17[17] = {};
    struct Case {
        uint32_t code;
        const void* payload;
        uint32_t size;
        OxluneStatus status;
    } cases[] = {
        {OXLUNE_MSG_GET_WDM_CONFIGURATION, known, 12, OXLUNE_STATUS_INVALID_MSG_SIZE},
        {OXLUNE_MSG_SET_WDM_CONFIGURATION, known, 12, OXLUNE_STATUS_INVALID_MSG_SIZE},
        {OXLUNE_MSG_GET_WDM_CONFIGURATION, long17, 17, OXLUNE_STATUS_INVALID_LENGTH},
        {OXLUNE_MSG_GET_WDM_CONFIGURATION, unknown, 16, OXLUNE_STATUS_OBJECT_NOT_FOUND},
        {OXLUNE_MSG_SET_WDM_CONFIGURATION, unknown, 16, OXLUNE_STATUS_OBJECT_NOT_FOUND},
        {OXLUNE_MSG_SET_WDM_CONFIGURATION, one, 16, OXLUNE_STATUS_INVALID_PARAMETER},
        {11003, known, 16, OXLUNE_STATUS_INVALID_COMMAND},
    };
    const int tablesBefore = channelTables;
    for (const Case& c : cases) {
        OxluneMessage reply;
        EXPECT_EQ(c.status, Send(c.code, c.payload, c.size, &reply)) << c.code << " " << c.size;
        EXPECT_EQ(static_cast<uint32_t>(OXLUNE_MSG_REPLY), reply.code) << c.code;
        EXPECT_EQ(0u, reply.length);
    }
    // None of them touched streaming.
    EXPECT_TRUE(Transitions().empty());
    EXPECT_EQ(tablesBefore, channelTables);

    OxluneMessage reply;
    ASSERT_EQ(0u, Send(OXLUNE_MSG_GET_WDM_CONFIGURATION, known, 16, &reply));
    EXPECT_EQ(static_cast<uint32_t>(OXLUNE_MSG_WDM_CONFIGURATION_REPLY), reply.code);
    ASSERT_EQ(16u, reply.length);
    EXPECT_EQ(0, std::memcmp(known, reply.payload, 16));
    EXPECT_EQ(7u, reply.sequence);
}

TEST_F(CustomServerTest, SetZeroRestartsStreamingAndRewritesTheConfiguration)
{
    const uint32_t known[4] = {record.key0, record.key1, 0, 0};
    ASSERT_EQ(0u, server.BringUp(0));
    const std::wstring key = L"Software\\BRAKMOOR\\kuvo\\Devices\\" + std::wstring(serial.begin(), serial.end());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    {
        std::lock_guard<std::mutex> lock(mutex);
        transitions.clear();
    }
    OxluneMessage reply;
    EXPECT_EQ(0u, Send(OXLUNE_MSG_SET_WDM_CONFIGURATION, known, 16, &reply));
    // Down and up again around the change.
    const std::vector<std::string> seen = Transitions();
    EXPECT_FALSE(seen.empty());
    EXPECT_EQ("ok channels=none pairs=9/8 init-levels=1", Command("endpoints " + serial));
    WnRegistryKey values;
    ASSERT_EQ(0u, values.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ));
    uint32_t render = 99, capture = 99;
    EXPECT_EQ(0u, values.ReadDword(L"WdmRenderSoundDeviceConfiguration", &render));
    EXPECT_EQ(0u, values.ReadDword(L"WdmCaptureSoundDeviceConfiguration", &capture));
    EXPECT_EQ(0u, render);
    EXPECT_EQ(0u, capture);

    // While streaming is in exclusive use the change is refused.
    ASSERT_EQ(0u, Command("counts exclusive=1").rfind("ok", 0));
    EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, Send(OXLUNE_MSG_SET_WDM_CONFIGURATION, known, 16, &reply));
}

} // namespace
