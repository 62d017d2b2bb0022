#include "LibFixture.h"

#include "driverlib/OxluneClient.h"
#include "driverlib/OxluneCplClient.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <vector>
#include <thread>

namespace {

// A control panel client and a server connection driven by hand; the client's request
// runs on its own thread while the test plays the server.
class ClientTest : public SimFixture {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        ASSERT_EQ(0u, server.Start(name.c_str()));
        ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
    }
    void TearDown() override
    {
        if (worker.joinable()) {
            worker.join();
        }
    }
    // Starts SetSampleRate on the worker thread.
    void StartRequest(uint32_t rate, uint32_t timeoutMs)
    {
        done = false;
        worker = std::thread([this, rate, timeoutMs] {
            result = client.SetSampleRate(rate, timeoutMs);
            done = true;
        });
    }
    OxluneStatus FinishRequest()
    {
        worker.join();
        return result;
    }

    RawServer server;
    OxluneCplClient client;
    std::thread worker;
    std::atomic<bool> done{false};
    OxluneStatus result = 0;
};

TEST_F(ClientTest, SequenceNumbersSkipZeroWhenTheCounterWraps)
{
    struct Case {
        uint32_t counter;
        uint32_t expected;
    } cases[] = {{0xFFFFFFFF, 1}, {0xFFFFFFFE, 0xFFFFFFFF}, {0, 1}, {41, 42}};
    for (const Case& c : cases) {
        client.SetSequence(c.counter);
        StartRequest(44100, kGuardMs);
        OxluneMessage request;
        ASSERT_TRUE(server.WaitRequest(&request));
        EXPECT_EQ(c.expected, request.sequence) << c.counter;
        EXPECT_EQ(OXLUNE_MSG_SET_SAMPLE_RATE, request.code);
        EXPECT_EQ(4u, request.length);
        ASSERT_EQ(0u, server.Answer(request, OXLUNE_STATUS_UNSUPPORTED_SAMPLE_RATE, request.sequence));
        EXPECT_EQ(OXLUNE_STATUS_UNSUPPORTED_SAMPLE_RATE, FinishRequest());
        EXPECT_EQ(c.expected, client.Sequence());
    }
}

TEST_F(ClientTest, StaleReplyIsDroppedAndTheWaitContinues)
{
    StartRequest(44100, kGuardMs);
    OxluneMessage request;
    ASSERT_TRUE(server.WaitRequest(&request));
    ASSERT_EQ(0u, server.Answer(request, OXLUNE_STATUS_INTERNAL_ERROR, request.sequence - 1));
    ASSERT_EQ(0u, server.Answer(request, OXLUNE_STATUS_INTERNAL_ERROR, request.sequence + 7));
    ASSERT_EQ(0u, server.Answer(request, OXLUNE_STATUS_SOUND_DEVICE_IN_USE, request.sequence));
    EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, FinishRequest());

    // A stale reply and the expected one queued together behind one signal of the
    // auto-reset event: both are taken in the same wake-up.
    const uint32_t next = client.Sequence() + 1;
    ASSERT_EQ(0u, server.Answer(request, OXLUNE_STATUS_INTERNAL_ERROR, next - 1));
    ASSERT_EQ(0u, server.Answer(request, OXLUNE_STATUS_NO_STREAMING_DEVICE, next));
    EXPECT_EQ(OXLUNE_STATUS_NO_STREAMING_DEVICE, client.SetSampleRate(44100, 0));
}

TEST_F(ClientTest, LateReplyTimesOutItsRequestAndIsDroppedByTheNext)
{
    // Nobody answers: the request times out.
    EXPECT_EQ(OXLUNE_STATUS_TIMEOUT, client.SetSampleRate(44100, 50));
    OxluneMessage first;
    ASSERT_TRUE(server.WaitRequest(&first));
    ASSERT_EQ(0u, server.Answer(first, OXLUNE_STATUS_INTERNAL_ERROR, first.sequence)); // late

    StartRequest(96000, kGuardMs);
    OxluneMessage second;
    ASSERT_TRUE(server.WaitRequest(&second));
    EXPECT_EQ(first.sequence + 1, second.sequence);
    ASSERT_EQ(0u, server.Answer(second, 0, second.sequence));
    EXPECT_EQ(0u, FinishRequest());
}

TEST_F(ClientTest, TimeoutZeroOnlySucceedsWithTheReplyAlreadyQueued)
{
    EXPECT_EQ(OXLUNE_STATUS_TIMEOUT, client.SetSampleRate(44100, 0));
    OxluneMessage first;
    ASSERT_TRUE(server.WaitRequest(&first));
    // The reply to the next sequence number is queued (and the event signalled) before
    // the request is even sent.
    ASSERT_EQ(0u, server.Answer(first, OXLUNE_STATUS_NO_DEVICES, client.Sequence() + 1));
    EXPECT_EQ(OXLUNE_STATUS_NO_DEVICES, client.SetSampleRate(44100, 0));
}

TEST_F(ClientTest, ReplyCodeOtherThan2001IsAnUnexpectedCode)
{
    struct Case {
        uint32_t code;
        OxluneStatus result;
        OxluneStatus expected;
    } cases[] = {{12001, 0, OXLUNE_STATUS_UNEXPECTED_MSG_CODE},
                 {12001, OXLUNE_STATUS_INTERNAL_ERROR, OXLUNE_STATUS_UNEXPECTED_MSG_CODE},
                 {2001, OXLUNE_STATUS_NOT_ALLOWED, OXLUNE_STATUS_NOT_ALLOWED}};
    for (const Case& c : cases) {
        StartRequest(44100, kGuardMs);
        OxluneMessage request;
        ASSERT_TRUE(server.WaitRequest(&request));
        ASSERT_EQ(0u, server.Answer(request, c.result, request.sequence, c.code));
        EXPECT_EQ(c.expected, FinishRequest()) << c.code;
    }
}

TEST_F(ClientTest, ChangeRequestsCarryTheirCodesAndPayloads)
{
    client.SetFixedTimeout(kGuardMs);
    struct Case {
        std::function<OxluneStatus()> call;
        uint32_t code;
        std::vector<uint8_t> payload;
    } cases[] = {
        {[&] { return client.SetSampleRate(0x0002B110, kGuardMs); }, 1001, {0x10, 0xB1, 0x02, 0}},
        {[&] { return client.SetBufferSizes(1, 2, 3); }, 1002, {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}},
        {[&] { return client.SelectStreamingDevice(7, 8, 1); }, 1003, {7, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0}},
        {[&] { return client.SetDsdMode(true, kGuardMs); }, 1004, {1}},
        {[&] { return client.SetPolicy(1, kGuardMs); }, 1005, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        OxluneStatus status = 0xFFFFFFFF;
        std::thread caller([&] { status = c.call(); });
        OxluneMessage request;
        const bool got = server.WaitRequest(&request);
        if (got) {
            server.Answer(request, OXLUNE_STATUS_IN_USE, request.sequence);
        }
        caller.join();
        ASSERT_TRUE(got) << c.code;
        EXPECT_EQ(c.code, request.code);
        ASSERT_EQ(c.payload.size(), request.length) << c.code;
        EXPECT_EQ(0, std::memcmp(c.payload.data(), request.payload, c.payload.size())) << c.code;
        EXPECT_EQ(OXLUNE_STATUS_IN_USE, status) << c.code;
    }
}

TEST_F(ClientTest, RequestWithoutServerOrWithoutMessageEventFails)
{
    server.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return sim.Kernel().ServerConnectionId() == 0; }));
    EXPECT_EQ(OXLUNE_STATUS_NO_SERVER, client.SetSampleRate(44100, kGuardMs));

    ASSERT_EQ(0u, server.Start(name.c_str()));
    OxluneCplClient window;
    ASSERT_EQ(0u, window.ConnectPanelWindow(name.c_str()));
    EXPECT_EQ(OXLUNE_STATUS_FAILED, window.SetSampleRate(44100, kGuardMs));
    OxluneCplClient closed;
    EXPECT_EQ(OXLUNE_STATUS_NOT_OPENED, closed.SetSampleRate(44100, kGuardMs));
}

TEST_F(ClientTest, ForeignMessagesDoNotStretchTheDeadline)
{
    StartRequest(44100, 300);
    OxluneMessage request;
    ASSERT_TRUE(server.WaitRequest(&request));
    // A steady stream of stale replies, each of which wakes the client, until the
    // request gives up; the hang guard ends the stream if it never does.
    const ULONGLONG guard = ::GetTickCount64() + kGuardMs;
    uint32_t sent = 0;
    while (!done && ::GetTickCount64() < guard) {
        server.Answer(request, OXLUNE_STATUS_INTERNAL_ERROR, request.sequence - 1);
        ++sent;
        ::Sleep(20);
    }
    EXPECT_TRUE(done) << "the request outlived " << sent << " foreign messages";
    EXPECT_EQ(OXLUNE_STATUS_TIMEOUT, FinishRequest());
}

} // namespace
