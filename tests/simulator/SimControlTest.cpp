// kuvosim as a separate process: its start options, its control commands, and events
// that another process signals.
#include "SimTestClient.h"
#include "simulator/SimDriver.h"
#include "simulator/SimProcess.h"

#include <gtest/gtest.h>

namespace {

class SimControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        name = SimUniqueName(L"ctl");
        ASSERT_EQ(0u, simulator.Start(name, L"--devices 2 --hardware-time 0"));
    }
    void TearDown() override { simulator.Stop(); }

    std::wstring name;
    SimProcess simulator;
};

TEST_F(SimControlTest, StartsWithItsDevicesAndSignalsEventsAcrossProcesses)
{
    SimTestClient server(name), panel(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    OxluneDeviceList list{};
    ASSERT_EQ(0u, panel.Read(OXLUNE_IOCTL_QUERY_DEVICES, &list));
    ASSERT_EQ(2u, list.count);
    EXPECT_EQ(std::wstring(L"KV000001"), list.devices[0].serialNumber);
    EXPECT_EQ(std::wstring(L"KV000002"), list.devices[1].serialNumber);

    // The simulator process duplicated our events and signals them (hang guard only).
    const uint32_t rate = 44100;
    ASSERT_EQ(0u, panel.SendRequest(OXLUNE_MSG_SET_SAMPLE_RATE, 1, &rate, sizeof(rate)));
    EXPECT_TRUE(SimTestSignalled(server.MessageEvent(), 10000));
    OxluneMessage request, reply;
    ASSERT_EQ(0u, server.Receive(&request));
    reply.InitReply(request, 0);
    ASSERT_EQ(0u, server.Send(reply));
    EXPECT_TRUE(SimTestSignalled(panel.MessageEvent(), 10000));

    EXPECT_EQ("ok", simulator.Command("unplug KV000002"));
    EXPECT_TRUE(SimTestSignalled(server.NotificationEvent(), 10000));
    EXPECT_EQ((std::vector<uint32_t>{OXLUNE_MSG_DEVICES_CHANGED}), server.DrainNotifications());
    EXPECT_EQ(0u, simulator.Command("devices").rfind("ok 1\nKV000001 ", 0));
}

TEST_F(SimControlTest, InjectedFailuresDelaysAndNotifications)
{
    SimTestClient panel(name);
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    OxluneStreamingStatus status{};
    ASSERT_EQ("ok", simulator.Command("fail-next 0x808820D0 0xE0000011 2"));
    EXPECT_EQ(OXLUNE_STATUS_NOT_POSSIBLE, panel.Read(OXLUNE_IOCTL_GET_STREAMING_STATUS, &status));
    EXPECT_EQ(OXLUNE_STATUS_NOT_POSSIBLE, panel.Read(OXLUNE_IOCTL_GET_STREAMING_STATUS, &status));
    EXPECT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_STREAMING_STATUS, &status));
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, status.state);
    ASSERT_EQ("ok", simulator.Command("delay-next 0x808820D0 50"));
    EXPECT_EQ(0u, panel.Read(OXLUNE_IOCTL_GET_STREAMING_STATUS, &status));

    ASSERT_EQ("ok", simulator.Command("notify panel 3050 0x11 0x22"));
    OxluneMessage notification;
    ASSERT_TRUE(panel.FindNotification(OXLUNE_MSG_MIXER_LAYOUT_CHANGED, &notification));
    OxluneTwoWordsPayload words{};
    uint32_t size = sizeof(words);
    ASSERT_EQ(0u, notification.GetPayload(&words, &size));
    EXPECT_EQ(0x11u, words.word0);
    EXPECT_EQ(0x22u, words.word1);

    ASSERT_EQ("ok", simulator.Command("set-state 5"));
    EXPECT_EQ(0u, simulator.Command("state").rfind("ok state=5 ", 0));
    EXPECT_EQ(0u, simulator.Command("help").rfind("ok commands", 0));
    struct BadCommand {
        const char* line;
    } bad[] = {{"plug"},          {"plug X analog=3"}, {"unplug NOPE"}, {"set-state 7"},   {"counts demand=x"},
               {"rates"},         {"notify nobody 1"}, {"fault maybe"}, {"fail-next 1"},   {"endpoint-volume"},
               {"no-such-thing"}};
    for (const BadCommand& c : bad) {
        EXPECT_EQ(0u, simulator.Command(c.line).rfind("error", 0)) << c.line;
    }
}

} // namespace
