// Faults: a simulator killed while streaming, a server killed in the middle of a request,
// every device unplugged while streaming, a second server. Each ends without a hang or a
// crash, and the system recovers when the missing piece returns.
#include "RobustSupport.h"

#include "driverlib/OxluneCplClient.h"
#include "driverlib/OxluneRequests.h"

namespace {

// A rate of the simulator's list other than the current one.
uint32_t OtherRate(SimKernel& kernel)
{
    const OxluneSampleRates rates = kernel.SampleRates();
    for (uint32_t i = 0; i < rates.count && i < kOxluneMaxSampleRates; ++i) {
        if (rates.rates[i] != rates.current && !SimKernel::IsDsdRate(rates.rates[i])) {
            return rates.rates[i];
        }
    }
    return 0;
}

class ServerKilledTest : public RobustSimFixture {
protected:
    void BeforeStart() override
    {
        m_entered.Create(true, false);
        m_release.Create(true, false);
        // The server's announcement of a new rate blocks until released: the server is then
        // in the middle of the client's request.
        SimDriver::RequestHandler inner = sim.Handler(OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE);
        sim.SetHandler(OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE, [this, inner](SimConnection& c, SimRequest& r) {
            m_entered.Set();
            ::WaitForSingleObject(m_release.Get(), kGuardMs);
            return inner(c, r);
        });
    }
    WnEvent m_entered;
    WnEvent m_release;
};

TEST_F(ServerKilledTest, ClientsTimeOutOrHearNoServerAndARestartedServerAnswersAgain)
{
    ChildProcess server;
    ASSERT_TRUE(server.Start(L"robustserver.exe", L"\"" + name + L"\""));
    ASSERT_TRUE(WaitServerReady(sim));
    const uint32_t rate = OtherRate(sim.Kernel());
    ASSERT_NE(0u, rate);

    OxluneCplClient client;
    ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
    OxluneStatus status = 0;
    std::thread request([&] { status = client.SetSampleRate(rate, kGuardMs); });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_entered.Get(), kGuardMs));
    // While the server hangs in the middle of that request, another client's request
    // times out after its short time-out.
    OxluneCplClient other;
    ASSERT_EQ(0u, other.ConnectPanel(name.c_str()));
    EXPECT_EQ(OXLUNE_STATUS_TIMEOUT, other.SetSampleRate(rate, 300));
    // Killed: the kernel answers what the dead server left unanswered, long before the
    // waiting client's own time-out.
    server.Kill();
    m_release.Set();
    request.join();
    EXPECT_EQ(OXLUNE_STATUS_NO_SERVER, status) << StatusName(status);

    // The kernel forgets the dead server; requests find none until a new one registers.
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() == 0; }));
    EXPECT_EQ(OXLUNE_STATUS_NO_SERVER, client.SetSampleRate(rate, 2000));
    ChildProcess restarted;
    ASSERT_TRUE(restarted.Start(L"robustserver.exe", L"\"" + name + L"\""));
    ASSERT_TRUE(WaitServerReady(sim));
    EXPECT_EQ(0u, client.SetSampleRate(rate, kGuardMs));
    EXPECT_EQ(rate, sim.Kernel().CurrentRate());
}

TEST(SimulatorKilledTest, TheServerWaitsUnconnectedAndReconnectsToANewSimulator)
{
    const std::wstring name = SimUniqueName(L"robust-kill");
    auto started = std::make_unique<SimProcess>();
    ASSERT_EQ(0u, started->Start(name, L"--devices 2 --hardware-time 0"));
    ASSERT_EQ(0u, started->Command("counts demand=1").rfind("ok", 0));
    NamedServer server(name);
    ServerLoop loop(server);
    loop.Start();
    // Streaming runs before the simulator goes.
    ASSERT_TRUE(WaitUntil([&] {
        const std::string state = started->Command("state");
        return StateValue(state, "server") != 0 && StateValue(state, "state") == OXLUNE_STREAMING_RUNNING;
    }));
    started->Kill();
    // The removal reaches the server as a device change: it lets go of the dead device.
    loop.SignalDeviceChange();
    ASSERT_TRUE(WaitUntil([&] { return !server.IsOpen(); }));
    EXPECT_FALSE(loop.Returned());

    SimProcess fresh;
    ASSERT_EQ(0u, fresh.Start(name, L"--devices 1 --hardware-time 0"));
    loop.SignalDeviceChange(); // the arrival
    ASSERT_TRUE(WaitUntil([&] { return StateValue(fresh.Command("state"), "server") != 0; }));
    OxluneCplClient client;
    ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
    EXPECT_EQ(0u, client.SetSampleRate(StateValue(fresh.Command("state"), "rate"), kGuardMs));
    client.Disconnect();
    loop.Stop();
    fresh.Stop();
}

class ServerLoopFaultTest : public RobustSimFixture {};

TEST_F(ServerLoopFaultTest, AllDevicesUnpluggedWhileStreamingTellsThePanelAndRecovers)
{
    Command("plug KF000002");
    Command("counts demand=1");
    NamedServer server(name);
    ServerLoop loop(server);
    loop.Start();
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().StreamingStatus().state == OXLUNE_STREAMING_RUNNING; }));
    OxluneCplClient panel;
    ASSERT_EQ(0u, panel.ConnectPanel(name.c_str()));
    panel.FlushNotifications();

    Command("unplug all");
    loop.SignalDeviceChange(); // what the device-interface notification does in the service
    bool heard = false;
    ASSERT_TRUE(WaitUntil([&] {
        OxluneMessage message;
        while (panel.ReceiveNotification(&message) == 0) {
            heard = heard || message.code == OXLUNE_MSG_DEVICE_LIST_CHANGED;
        }
        return heard;
    }));
    EXPECT_NE(static_cast<uint32_t>(OXLUNE_STREAMING_RUNNING), sim.Kernel().StreamingStatus().state);
    EXPECT_FALSE(loop.Returned());

    // A device comes back: the server (re)connects and streams again.
    Command("plug KF000003");
    loop.SignalDeviceChange();
    ASSERT_TRUE(WaitUntil([&] {
        if (sim.Kernel().ServerConnectionId() == 0) {
            loop.SignalDeviceChange();
            ::Sleep(50);
            return false;
        }
        return sim.Kernel().StreamingStatus().state == OXLUNE_STREAMING_RUNNING;
    }));
}

TEST_F(ServerLoopFaultTest, ASecondServerReturnsAtOnceAndTheFirstKeepsServing)
{
    NamedServer first(name);
    ServerLoop firstLoop(first);
    firstLoop.Start();
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() != 0; }));
    const uint32_t serverId = sim.Kernel().ServerConnectionId();

    NamedServer second(name);
    ServerLoop secondLoop(second);
    secondLoop.Start();
    EXPECT_TRUE(secondLoop.Returned(kGuardMs));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(serverId, sim.Kernel().ServerConnectionId());

    OxluneCplClient client;
    ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
    EXPECT_EQ(0u, client.SetSampleRate(sim.Kernel().CurrentRate(), kGuardMs));
    EXPECT_FALSE(firstLoop.Returned());
}

} // namespace
