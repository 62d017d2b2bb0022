#include "ServerFixture.h"

#include "driverlib/OxluneCplClient.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

class ServerTest : public SimFixture {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        log = std::make_shared<HookLog>();
        server = std::make_unique<LoggingServer>(name, log);
    }
    // Connects the server by hand (no receive loop) with the plugged devices.
    void ConnectServer()
    {
        ASSERT_EQ(0u, server->TryConnect(name.c_str()));
        bool changed = false;
        ASSERT_EQ(0u, server->RefreshDevices(&changed));
    }
    uint32_t State() { return sim.Kernel().StreamingStatus().state; }
    // The codes of every notification waiting for client, in order.
    static std::vector<uint32_t> Notifications(OxluneDriver& client)
    {
        std::vector<uint32_t> codes;
        OxluneMessage message;
        while (client.NextNotification(&message) == 0) {
            codes.push_back(message.code);
        }
        return codes;
    }

    std::shared_ptr<HookLog> log;
    std::unique_ptr<LoggingServer> server;
};

// Records which change handler a request reached.
class RequestRecorder : public OxluneServer {
public:
    OxluneStatus OnSetSampleRate(uint32_t rate) override { return Seen("rate " + std::to_string(rate)); }
    OxluneStatus OnSetBufferSizes(uint32_t a, uint32_t b, uint32_t c) override
    {
        return Seen("buffers " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c));
    }
    OxluneStatus OnSelectStreamingDevice(uint32_t k0, uint32_t k1, uint32_t mode) override
    {
        return Seen("device " + std::to_string(k0) + " " + std::to_string(k1) + " " + std::to_string(mode));
    }
    OxluneStatus OnSetDsdMode(bool on) override { return Seen(on ? "dsd on" : "dsd off"); }
    OxluneStatus OnSetPolicy(uint32_t policy) override { return Seen("policy " + std::to_string(policy)); }
    OxluneStatus Seen(const std::string& what)
    {
        seen = what;
        return OXLUNE_STATUS_NO_FIRMWARE; // a status no rule produces
    }
    std::string seen;
};

TEST(ServerRequestTest, PayloadMustHaveTheExactSizeOfItsCode)
{
    const uint8_t bytes[16] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0};
    struct Case {
        uint32_t code;
        uint32_t length;
        OxluneStatus expected;
        const char* seen;
    } cases[] = {
        {1001, 4, OXLUNE_STATUS_NO_FIRMWARE, "rate 1"},
        {1001, 3, OXLUNE_STATUS_INVALID_MSG_SIZE, ""},
        {1001, 5, OXLUNE_STATUS_INVALID_LENGTH, ""},
        {1002, 12, OXLUNE_STATUS_NO_FIRMWARE, "buffers 1 2 3"},
        {1002, 13, OXLUNE_STATUS_INVALID_LENGTH, ""},
        {1002, 11, OXLUNE_STATUS_INVALID_MSG_SIZE, ""},
        {1003, 12, OXLUNE_STATUS_NO_FIRMWARE, "device 1 2 3"},
        {1003, 0, OXLUNE_STATUS_INVALID_MSG_SIZE, ""},
        {1003, 16, OXLUNE_STATUS_INVALID_LENGTH, ""},
        {1004, 1, OXLUNE_STATUS_NO_FIRMWARE, "dsd on"},
        {1004, 0, OXLUNE_STATUS_INVALID_MSG_SIZE, ""},
        {1004, 4, OXLUNE_STATUS_INVALID_LENGTH, ""},
        {1005, 4, OXLUNE_STATUS_NO_FIRMWARE, "policy 1"},
        {1005, 1, OXLUNE_STATUS_INVALID_MSG_SIZE, ""},
        {1005, 12, OXLUNE_STATUS_INVALID_LENGTH, ""},
        {1006, 4, OXLUNE_STATUS_INVALID_COMMAND, ""},
        {11001, 16, OXLUNE_STATUS_INVALID_COMMAND, ""},
    };
    for (const Case& c : cases) {
        RequestRecorder server;
        OxluneMessage request;
        request.Init(OXLUNE_MSG_TYPE_REQUEST, c.code);
        ASSERT_EQ(0u, request.SetPayload(bytes, c.length));
        OxluneMessage reply;
        reply.InitReply(request, OXLUNE_STATUS_INVALID_COMMAND);
        EXPECT_EQ(c.expected, server.HandleRequest(request, reply)) << c.code << "/" << c.length;
        EXPECT_EQ(c.seen, server.seen) << c.code << "/" << c.length;
    }
}

TEST_F(ServerTest, WrongSizedRequestIsAnsweredThroughTheReceiveLoop)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KV1"));
    ServerThread thread(*server);
    thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() != 0; }));
    OxluneCplClient client;
    ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));

    struct Case {
        uint32_t code;
        uint32_t length;
        OxluneStatus expected;
    } cases[] = {{1002, 13, OXLUNE_STATUS_INVALID_LENGTH}, {1001, 2, OXLUNE_STATUS_INVALID_MSG_SIZE},
                 {4242, 0, OXLUNE_STATUS_INVALID_COMMAND}};
    for (const Case& c : cases) {
        const uint8_t payload[16] = {};
        OxluneMessage request;
        request.Init(OXLUNE_MSG_TYPE_REQUEST, c.code);
        ASSERT_EQ(0u, request.SetPayload(payload, c.length));
        OxluneMessage reply;
        ASSERT_EQ(0u, client.Request(request, &reply, kGuardMs)) << c.code;
        EXPECT_EQ(OXLUNE_MSG_REPLY, reply.code);
        EXPECT_EQ(c.expected, reply.result) << c.code;
    }
    EXPECT_EQ(48000u, sim.Kernel().CurrentRate());
}

TEST_F(ServerTest, BringUpStopsInReadyWithoutDemandAndRunsTheHooksInListOrder)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KV1"));
    ASSERT_NO_FATAL_FAILURE(Plug("KV2"));
    ASSERT_NO_FATAL_FAILURE(ConnectServer());
    ASSERT_EQ(OXLUNE_STREAMING_DOWN, State());
    EXPECT_EQ(0u, server->BringUp(0));
    EXPECT_EQ(OXLUNE_STREAMING_READY, State());
    EXPECT_EQ((Lines{"KV1 before 1>2", "KV2 before 1>2", "KV1 after 1>2", "KV2 after 1>2"}), log->Take());

    Command("counts demand=1");
    EXPECT_EQ(0u, server->BringUp(0));
    EXPECT_EQ(OXLUNE_STREAMING_RUNNING, State());
    EXPECT_EQ((Lines{"KV1 before 2>3", "KV2 before 2>3", "KV1 after 2>3", "KV2 after 2>3", "KV1 before 3>4",
                     "KV2 before 3>4", "KV1 after 3>4", "KV2 after 3>4"}),
              log->Take());

    // Running: nothing more to do. Idle again: StopWhenIdle goes back to Ready.
    EXPECT_EQ(0u, server->BringUp(0));
    EXPECT_TRUE(log->Take().empty());
    EXPECT_EQ(0u, server->StopWhenIdle());
    EXPECT_EQ(OXLUNE_STREAMING_RUNNING, State()) << "still needed";
    Command("counts demand=0");
    EXPECT_EQ(0u, server->StopWhenIdle());
    EXPECT_EQ(OXLUNE_STREAMING_READY, State());
    EXPECT_EQ((Lines{"KV1 before 4>2", "KV2 before 4>2", "KV1 after 4>2", "KV2 after 4>2"}), log->Take());

    EXPECT_EQ(0u, server->BringDown(0));
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, State());
}

TEST_F(ServerTest, RefusedHookAbortsTheBringUp)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KV1"));
    ASSERT_NO_FATAL_FAILURE(Plug("KV2"));
    ASSERT_NO_FATAL_FAILURE(ConnectServer());
    ASSERT_EQ(2u, server->GetDeviceCount());
    server->Device(0)->beforeResult = OXLUNE_STATUS_NOT_POSSIBLE;
    EXPECT_EQ(OXLUNE_STATUS_NOT_POSSIBLE, server->BringUp(0));
    EXPECT_EQ(OXLUNE_STREAMING_DOWN, State());
    EXPECT_EQ((Lines{"KV1 before 1>2"}), log->Take());
}

TEST_F(ServerTest, StateLoopsEndOnStatesTheyCannotLeave)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KV1"));
    ASSERT_NO_FATAL_FAILURE(ConnectServer());
    Command("fault stuck on");
    struct Case {
        const char* state;
        OxluneStatus expected;
    } cases[] = {{"set-state 5", OXLUNE_STATUS_IN_ERROR_STATE},
                 {"set-state 6", OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE},
                 {"set-state 0", OXLUNE_STATUS_INVALID_STATE}};
    for (const Case& c : cases) {
        Command(c.state);
        EXPECT_EQ(c.expected, server->BringUp(0)) << c.state;
        EXPECT_EQ(c.expected, server->BringDown(0)) << c.state;
    }
    // A reset that works leads on as usual.
    Command("fault stuck off");
    Command("set-state 5");
    EXPECT_EQ(0u, server->BringUp(0));
    EXPECT_EQ(OXLUNE_STREAMING_READY, State());
}

TEST_F(ServerTest, SampleRateRequestDecisions)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KV1"));
    ASSERT_NO_FATAL_FAILURE(ConnectServer());
    ASSERT_EQ(0u, server->BringUp(0));
    log->Take();
    OxluneCplClient client;
    ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
    ASSERT_EQ(0u, client.FlushNotifications());

    // The current rate: nothing happens.
    EXPECT_EQ(0u, server->OnSetSampleRate(48000));
    EXPECT_TRUE(log->Take().empty());
    EXPECT_EQ(OXLUNE_STREAMING_READY, State());
    EXPECT_TRUE(Notifications(client).empty());

    // Under a change lock or in exclusive use: refused, nothing changes.
    for (const char* counts : {"counts lock=1", "counts exclusive=1"}) {
        Command(counts);
        EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, server->OnSetSampleRate(44100)) << counts;
        EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, server->OnSetBufferSizes(1, 1, 0)) << counts;
        EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, server->OnSelectStreamingDevice(0, 0, 1)) << counts;
        EXPECT_EQ(48000u, sim.Kernel().CurrentRate());
        EXPECT_TRUE(log->Take().empty()) << counts;
        Command("counts lock=0 exclusive=0");
    }

    // A real change: down, apply, up again, then 3010 and 3011.
    ASSERT_EQ(0u, client.FlushNotifications());
    EXPECT_EQ(0u, server->OnSetSampleRate(44100));
    EXPECT_EQ(44100u, sim.Kernel().CurrentRate());
    EXPECT_EQ(OXLUNE_STREAMING_READY, State());
    EXPECT_EQ((Lines{"KV1 before 2>1", "KV1 after 2>1", "KV1 before 1>2", "KV1 after 1>2"}), log->Take());
    std::vector<uint32_t> codes = Notifications(client);
    const auto first = std::find(codes.begin(), codes.end(), OXLUNE_MSG_STREAMING_CHANGED);
    ASSERT_NE(codes.end(), first);
    EXPECT_NE(codes.end(), std::find(first, codes.end(), OXLUNE_MSG_SAMPLE_RATE_CHANGED));
}

TEST_F(ServerTest, PolicyRequestReportsWhatTheDriverDid)
{
    ASSERT_NO_FATAL_FAILURE(ConnectServer());
    EXPECT_EQ(0u, server->OnSetPolicy(0)) << "unchanged";
    Command("fail-next 0x8088240C 0xE0000012");
    EXPECT_EQ(OXLUNE_STATUS_NOT_ALLOWED, server->OnSetPolicy(1));
    EXPECT_EQ(0u, server->OnSetPolicy(1));
    uint32_t policy = 0;
    ASSERT_EQ(0u, server->GetPolicy(&policy));
    EXPECT_EQ(1u, policy);
    Command("counts exclusive=1");
    EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, server->OnSetPolicy(0));
}

TEST_F(ServerTest, DeviceNotificationsReachTheNamedDevice)
{
    uint32_t k0 = 0, k1 = 0;
    ASSERT_NO_FATAL_FAILURE(Plug("KV1"));
    ASSERT_NO_FATAL_FAILURE(Plug("KV2", &k0, &k1));
    ASSERT_NO_FATAL_FAILURE(ConnectServer());
    struct Case {
        uint32_t code;
        std::vector<uint32_t> words;
        Lines expected;
    } cases[] = {
        {3060, {k0, k1, 1, 5}, {"KV2 notice1 5"}},
        {3060, {k0, k1, 2, 6}, {"KV2 notice2 6"}},
        {3060, {k0, k1, 3, 7}, {}},
        {3060, {k0, k1, 2}, {}},            // 12 bytes: dropped
        {3060, {k0 + 99, k1, 2, 6}, {}},    // unknown device
        {3051, {k0, k1}, {"KV2 event"}},
        {3051, {k0, k1, 0}, {}},            // 12 bytes: dropped
        {3021, {}, {}},                     // ignored
        {3999, {1}, {"other 3999"}},
    };
    for (const Case& c : cases) {
        OxluneMessage message;
        message.Init(OXLUNE_MSG_TYPE_NOTIFICATION, c.code);
        ASSERT_EQ(0u, message.SetPayload(c.words.data(), static_cast<uint32_t>(c.words.size() * 4)));
        server->HandleNotification(message);
        EXPECT_EQ(c.expected, log->Take()) << c.code << "/" << c.words.size();
    }
}

TEST_F(ServerTest, RemovingTheLastDeviceBroadcastsAndDisconnectsUntilTheNextDeviceChange)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KV1"));
    OxluneCplClient client;
    ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
    std::vector<uint32_t> codes;
    auto collectUntilDeviceListChanged = [&] {
        return WaitUntil([&] {
            OxluneMessage message;
            while (client.NextNotification(&message) == 0) {
                codes.push_back(message.code);
            }
            return std::find(codes.begin(), codes.end(), OXLUNE_MSG_DEVICE_LIST_CHANGED) != codes.end();
        });
    };
    ServerThread thread(*server);
    thread.Start();
    // The start ends with the server's own 3010 and 3030.
    ASSERT_TRUE(collectUntilDeviceListChanged());
    codes.clear();

    Command("unplug all");
    // 3010 and 3030 reach the client, then the server lets go of the driver.
    ASSERT_TRUE(collectUntilDeviceListChanged());
    const auto streaming = std::find(codes.begin(), codes.end(), OXLUNE_MSG_STREAMING_CHANGED);
    ASSERT_NE(codes.end(), streaming);
    EXPECT_NE(codes.end(), std::find(streaming, codes.end(), OXLUNE_MSG_DEVICE_LIST_CHANGED));
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() == 0; }));

    // A device arrives: the next device change event connects again.
    ASSERT_NO_FATAL_FAILURE(Plug("KV2"));
    thread.SignalDeviceChange();
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() != 0; }));
    thread.Stop();
    ASSERT_EQ(1u, server->GetDeviceCount());
    EXPECT_STREQ(L"KV2", server->GetDevice(0)->Record().serialNumber);
}

TEST_F(ServerTest, SecondServerReturnsAtOnce)
{
    ASSERT_EQ(0u, server->TryConnect(name.c_str()));
    LoggingServer second(name, log);
    ServerThread thread(second);
    thread.Start();
    EXPECT_TRUE(thread.WaitReturned()) << "Run kept waiting beside another server";
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(OXLUNE_STATUS_ALREADY_DONE, second.TryConnect(name.c_str()));
    EXPECT_FALSE(second.IsOpen());
}

TEST_F(ServerTest, UnreachableDriverIsRetriedOnDeviceChange)
{
    LoggingServer early(L"kuvo-lib-not-yet-there", log);
    ServerThread thread(early);
    thread.Start();
    thread.SignalDeviceChange(); // still nothing there: keeps waiting
    EXPECT_FALSE(thread.WaitReturned(200));
    thread.Stop();
    EXPECT_TRUE(thread.WaitReturned());
    EXPECT_FALSE(early.IsOpen());
}

} // namespace
