// Randomized requests from several clients against one server loop: every request gets
// exactly one reply, with its own sequence number and the result its payload implies.
#include "RobustEcho.h"
#include "RobustSupport.h"

#include "driverlib/OxluneCplClient.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

class RandomMessageTest : public RobustSimFixture {};

TEST_F(RandomMessageTest, EveryReplyMatchesItsRequestAcrossSeveralClients)
{
    constexpr uint32_t kClients = 4;
    const uint32_t perClient = RobustScaled(2000);
    const uint32_t seed = RobustSeed();
    RobustEchoServer server(name);
    ServerLoop loop(server);
    loop.Start();
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() != 0; }));

    std::atomic<uint32_t> mismatches{0};
    std::atomic<uint32_t> failures{0};
    std::atomic<uint32_t> answered{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kClients; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(seed + t);
            OxluneCplClient client;
            if (client.ConnectPanel(name.c_str()) != 0) {
                failures += perClient;
                return;
            }
            for (uint32_t i = 0; i < perClient; ++i) {
                OxluneMessage request;
                RandomRequest(random, &request);
                OxluneMessage reply;
                if (client.Request(request, &reply, kGuardMs) != 0) {
                    ++failures;
                    continue;
                }
                if (!ReplyMatches(request, reply)) {
                    ++mismatches;
                }
                ++answered;
            }
            // No reply arrives twice: nothing is left behind in the queue.
            OxluneMessage extra;
            while (client.ReceiveMessage(&extra) == 0) {
                if (extra.type == OXLUNE_MSG_TYPE_REPLY) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0u, failures.load());
    EXPECT_EQ(0u, mismatches.load());
    EXPECT_EQ(kClients * perClient, answered.load());
}

} // namespace
