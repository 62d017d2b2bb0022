// Load and leaks: client processes against one server process; every reply arrives once
// and matches, and no handle is left behind in the server or in the client side.
#include "RobustSupport.h"

#include "driverlib/OxluneCplClient.h"

#include <memory>
#include <vector>

namespace {

class LoadTest : public RobustSimFixture {
protected:
    void SetUp() override
    {
        RobustSimFixture::SetUp();
        probe = std::make_unique<HandleCountProbe>(name);
        ASSERT_TRUE(server.Start(L"robustserver.exe", L"\"" + name + L"\" echo"));
        ASSERT_TRUE(WaitServerReady(sim));
    }
    // One short client run, so that what a server creates once is there before counting.
    void WarmUp()
    {
        ChildProcess client;
        ASSERT_TRUE(client.Start(L"robustclient.exe", L"\"" + name + L"\" 10 1"));
        ASSERT_EQ(0u, client.Wait());
    }
    bool OnlyServerLeft()
    {
        return WaitUntil([&] { return sim.Connections().size() == 2; }); // the server and its device
    }

    std::unique_ptr<HandleCountProbe> probe;
    ChildProcess server;
};

TEST_F(LoadTest, EightClientProcessesGetEveryReplyOnceAndTheServerKeepsItsHandleCount)
{
    const uint32_t seed = RobustSeed();
    const uint32_t perClient = RobustScaled(1000);
    WarmUp();
    ASSERT_TRUE(OnlyServerLeft());
    const DWORD before = probe->Count();
    ASSERT_NE(0u, before);

    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (uint32_t i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(clients.back()->Start(L"robustclient.exe", L"\"" + name + L"\" " + std::to_wstring(perClient) +
                                                                   L" " + std::to_wstring(seed + i)));
    }
    for (uint32_t i = 0; i < clients.size(); ++i) {
        EXPECT_EQ(0u, clients[i]->Wait(300000)) << "client " << i;
    }
    ASSERT_TRUE(OnlyServerLeft());
    EXPECT_EQ(before, probe->Count());
}

TEST_F(LoadTest, ConnectCyclesLeaveNoHandleInTheServerOrTheClientProcess)
{
    WarmUp();
    auto cycle = [&] {
        OxluneCplClient client;
        ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
        ASSERT_EQ(Mix(OXLUNE_MSG_SET_SAMPLE_RATE, 48000), client.SetSampleRate(48000, kGuardMs));
        client.Disconnect();
    };
    cycle();
    ASSERT_TRUE(OnlyServerLeft());
    const DWORD serverBefore = probe->Count();
    const DWORD ownBefore = OwnHandleCount();
    for (int i = 0; i < 100; ++i) {
        cycle();
    }
    ASSERT_TRUE(OnlyServerLeft());
    EXPECT_EQ(serverBefore, probe->Count());
    // The in-process simulator joins a finished connection's thread when the next client
    // arrives, so one or two may still be pending; a leak per cycle would show 100.
    EXPECT_LE(OwnHandleCount(), ownBefore + 4);
}

} // namespace
