// Bad payloads against the server loop: every request code with sizes around its own,
// unknown codes, and messages of the wrong type. Each gets its status, and the server
// answers the next good request.
#include "RobustSupport.h"

#include "driverlib/OxluneCplClient.h"
#include "driverlib/OxluneRequests.h"

#include <deque>
#include <mutex>
#include <vector>

namespace {

struct SizeCase {
    uint32_t code;
    uint32_t length;
    OxluneStatus expected;
};

std::vector<SizeCase> SizeCases()
{
    struct Known {
        uint32_t code;
        uint32_t size;
    };
    const Known known[] = {
        {OXLUNE_MSG_SET_SAMPLE_RATE, 4}, {OXLUNE_MSG_SET_BUFFER_SIZES, 12}, {OXLUNE_MSG_SELECT_STREAMING_DEVICE, 12},
        {OXLUNE_MSG_SET_DSD_MODE, 1},    {OXLUNE_MSG_SET_POLICY, 4},
    };
    std::vector<SizeCase> cases;
    for (const Known& k : known) {
        cases.push_back({k.code, 0, OXLUNE_STATUS_INVALID_MSG_SIZE});
        if (k.size > 1) {
            cases.push_back({k.code, k.size - 1, OXLUNE_STATUS_INVALID_MSG_SIZE});
        }
        cases.push_back({k.code, k.size + 1, OXLUNE_STATUS_INVALID_LENGTH});
        cases.push_back({k.code, 512, OXLUNE_STATUS_INVALID_LENGTH});
    }
    // Codes the library server does not know, the service's own among them.
    for (uint32_t code : {0u, 1000u, 1006u, 2001u, 3010u, 11001u, 11002u, 12001u, 0xFFFFFFFFu}) {
        for (uint32_t length : {0u, 4u, 512u}) {
            cases.push_back({code, length, OXLUNE_STATUS_INVALID_COMMAND});
        }
    }
    return cases;
}

class BadPayloadTest : public RobustSimFixture {
protected:
    void BeforeStart() override
    {
        // Messages handed to the server's next receive before its real queue: the only way a
        // reply or notification record can reach a server's message queue.
        SimDriver::RequestHandler inner = sim.Handler(OXLUNE_IOCTL_RECEIVE_MESSAGE);
        sim.SetHandler(OXLUNE_IOCTL_RECEIVE_MESSAGE, [this, inner](SimConnection& c, SimRequest& r) -> uint32_t {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_injected.empty() && c.id == sim.Kernel().ServerConnectionId() &&
                    r.outCapacity >= sizeof(OxluneMessage) && r.inSize == 0) {
                    std::memcpy(r.out, &m_injected.front(), sizeof(OxluneMessage));
                    r.bytesReturned = sizeof(OxluneMessage);
                    m_injected.pop_front();
                    return 0;
                }
            }
            return inner(c, r);
        });
    }
    void SetUp() override
    {
        RobustSimFixture::SetUp();
        server = std::make_unique<NamedServer>(name);
        loop = std::make_unique<ServerLoop>(*server);
        loop->Start();
        ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() != 0; }));
        ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
    }
    void TearDown() override
    {
        client.Disconnect();
        if (loop) {
            loop->Stop();
        }
    }
    void Inject(const OxluneMessage& message)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_injected.push_back(message);
    }
    // The good request after every bad one: the current rate again, answered with success.
    void ExpectGoodRequestAnswered()
    {
        EXPECT_EQ(0u, client.SetSampleRate(sim.Kernel().CurrentRate(), kGuardMs));
    }

    std::unique_ptr<NamedServer> server;
    std::unique_ptr<ServerLoop> loop;
    OxluneCplClient client;

private:
    std::mutex m_mutex;
    std::deque<OxluneMessage> m_injected;
};

TEST_F(BadPayloadTest, EverySizeAndUnknownCodeGetsItsStatusAndTheServerGoesOn)
{
    std::mt19937 random(RobustSeed());
    for (const SizeCase& c : SizeCases()) {
        SCOPED_TRACE("code " + std::to_string(c.code) + " length " + std::to_string(c.length));
        OxluneMessage request;
        request.Init(OXLUNE_MSG_TYPE_REQUEST, c.code);
        for (uint32_t i = 0; i < c.length; ++i) {
            request.payload[i] = static_cast<uint8_t>(random());
        }
        request.length = c.length;
        OxluneMessage reply;
        ASSERT_EQ(0u, client.Request(request, &reply, kGuardMs));
        EXPECT_EQ(static_cast<uint32_t>(OXLUNE_MSG_TYPE_REPLY), reply.type);
        EXPECT_EQ(static_cast<uint32_t>(OXLUNE_MSG_REPLY), reply.code);
        EXPECT_EQ(request.sequence, reply.sequence);
        EXPECT_EQ(c.expected, reply.result) << StatusName(reply.result);
        EXPECT_EQ(0u, reply.length);
        ExpectGoodRequestAnswered();
    }
}

TEST_F(BadPayloadTest, ClientsCannotSendRepliesNotificationsOrUnknownTypes)
{
    const struct {
        uint32_t type;
        OxluneStatus expected;
    } cases[] = {
        {OXLUNE_MSG_TYPE_REPLY, OXLUNE_STATUS_NOT_ALLOWED},
        {OXLUNE_MSG_TYPE_NOTIFICATION, OXLUNE_STATUS_NOT_ALLOWED},
        {OXLUNE_MSG_TYPE_NONE, OXLUNE_STATUS_INVALID_MSG_TYPE},
        {4, OXLUNE_STATUS_INVALID_MSG_TYPE},
        {0xFFFFFFFFu, OXLUNE_STATUS_INVALID_MSG_TYPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        OxluneMessage message;
        message.Init(c.type, OXLUNE_MSG_SET_SAMPLE_RATE);
        EXPECT_EQ(c.expected, client.SendMessage(message)) << StatusName(client.SendMessage(message));
        ExpectGoodRequestAnswered();
    }
}

TEST_F(BadPayloadTest, RepliesAndNotificationsInTheServerQueueAreDroppedUnanswered)
{
    for (uint32_t type : {OXLUNE_MSG_TYPE_REPLY, OXLUNE_MSG_TYPE_NOTIFICATION}) {
        SCOPED_TRACE("type " + std::to_string(type));
        OxluneMessage stray;
        stray.Init(type, OXLUNE_MSG_SET_POLICY);
        stray.length = 4;
        stray.sequence = 0x7FFFFFFF; // a reply to it would reach the client under this number
        Inject(stray);
        OxluneMessage request;
        request.Init(OXLUNE_MSG_TYPE_REQUEST, OXLUNE_MSG_SET_SAMPLE_RATE);
        const uint32_t rate = sim.Kernel().CurrentRate();
        ASSERT_EQ(0u, request.SetPayload(&rate, sizeof(rate)));
        OxluneMessage reply;
        ASSERT_EQ(0u, client.Request(request, &reply, kGuardMs));
        EXPECT_EQ(0u, reply.result);
        // Nothing else was answered: the queue holds no reply for the stray record.
        OxluneMessage extra;
        while (client.ReceiveMessage(&extra) == 0) {
            EXPECT_NE(static_cast<uint32_t>(OXLUNE_MSG_TYPE_REPLY), extra.type) << "sequence " << extra.sequence;
        }
    }
}

} // namespace
