// Message routing of the kernel model: roles, events, queues, initiator words.
#include "SimKernelFixture.h"

#include <memory>

namespace {

class SimRoutingTest : public SimKernelFixture {
protected:
    // The model forgets a closed handle on the pipe's own thread; wait for it (hang guard only).
    void WaitUntilForgotten(size_t connections)
    {
        for (int i = 0; i < 1000 && sim.Connections().size() > connections; ++i) {
            ::Sleep(10);
        }
        ASSERT_LE(sim.Connections().size(), connections);
    }
};

TEST_F(SimRoutingTest, ServerRoleIsExclusiveUntilItsHandleCloses)
{
    SimTestClient first(name), second(name);
    ASSERT_EQ(0u, first.Connect(OXLUNE_ROLE_SERVER));
    ASSERT_EQ(0u, second.Connect(-1));
    EXPECT_EQ(OXLUNE_STATUS_ALREADY_DONE, second.Register(OXLUNE_ROLE_SERVER));
    EXPECT_EQ(OXLUNE_STATUS_ALREADY_DONE, first.Register(OXLUNE_ROLE_SERVER));
    for (uint32_t role = 1; role < kOxluneRoleCount; ++role) {
        EXPECT_EQ(0u, second.Register(role)) << role;
    }
    EXPECT_EQ(OXLUNE_STATUS_INVALID_PARAMETER, second.Register(kOxluneRoleCount));

    first.Close();
    WaitUntilForgotten(1);
    EXPECT_EQ(0u, second.Register(OXLUNE_ROLE_SERVER));
    EXPECT_EQ(sim.Connections().front()->id, sim.Kernel().ServerConnectionId());
}

TEST_F(SimRoutingTest, RequestReachesTheServerWithInitiatorWordsAndTheReplyOnlyItsSender)
{
    SimTestClient server(name), panel(name), asio(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    ASSERT_EQ(0u, asio.Connect(OXLUNE_ROLE_ASIO));

    const uint32_t rate = 96000;
    ASSERT_EQ(0u, panel.SendRequest(OXLUNE_MSG_SET_SAMPLE_RATE, 7, &rate, sizeof(rate)));
    ASSERT_EQ(0u, asio.SendRequest(OXLUNE_MSG_SET_SAMPLE_RATE, 7, &rate, sizeof(rate)));
    EXPECT_TRUE(SimTestSignalled(server.MessageEvent()));

    OxluneMessage fromPanel, fromAsio;
    uint32_t bytes = 0;
    ASSERT_EQ(0u, server.Receive(&fromPanel, false, &bytes));
    EXPECT_EQ(sizeof(OxluneMessage), bytes);
    ASSERT_EQ(0u, server.Receive(&fromAsio));
    EXPECT_EQ(OXLUNE_MSG_TYPE_REQUEST, fromPanel.type);
    EXPECT_EQ(OXLUNE_MSG_SET_SAMPLE_RATE, fromPanel.code);
    EXPECT_EQ(7u, fromPanel.sequence);
    ASSERT_EQ(4u, fromPanel.length);
    uint32_t received = 0;
    std::memcpy(&received, fromPanel.payload, 4);
    EXPECT_EQ(rate, received);
    // Same sequence number, different senders: the initiator words tell them apart.
    EXPECT_TRUE(fromPanel.initiator0 != fromAsio.initiator0 || fromPanel.initiator1 != fromAsio.initiator1);
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, server.Receive(&fromAsio));

    OxluneMessage reply;
    reply.InitReply(fromPanel, OXLUNE_STATUS_SOUND_DEVICE_IN_USE);
    ASSERT_EQ(0u, server.Send(reply));
    EXPECT_TRUE(SimTestSignalled(panel.MessageEvent()));
    EXPECT_FALSE(SimTestSignalled(asio.MessageEvent()));
    OxluneMessage got;
    ASSERT_EQ(0u, panel.Receive(&got));
    EXPECT_EQ(OXLUNE_MSG_TYPE_REPLY, got.type);
    EXPECT_EQ(OXLUNE_MSG_REPLY, got.code);
    EXPECT_EQ(7u, got.sequence);
    EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, got.result);
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, asio.Receive(&got));
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, panel.Receive(&got));

    // A late second answer to the same request still reaches its sender, who drops it by
    // its sequence number; the driver does not judge replies by sequence.
    reply.InitReply(fromPanel, OXLUNE_STATUS_TIMEOUT);
    ASSERT_EQ(0u, server.Send(reply));
    ASSERT_EQ(0u, panel.Receive(&got));
    EXPECT_EQ(7u, got.sequence);
    EXPECT_EQ(OXLUNE_STATUS_TIMEOUT, got.result);
}

TEST_F(SimRoutingTest, RepliesThatNameNoLiveRequesterAreRefused)
{
    SimTestClient server(name), panel(name), gone(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    ASSERT_EQ(0u, gone.Connect(OXLUNE_ROLE_ASIO));
    ASSERT_EQ(0u, panel.SendRequest(OXLUNE_MSG_SET_POLICY, 1));
    ASSERT_EQ(0u, gone.SendRequest(OXLUNE_MSG_SET_POLICY, 2));
    OxluneMessage toPanel, toGone;
    ASSERT_EQ(0u, server.Receive(&toPanel));
    ASSERT_EQ(0u, server.Receive(&toGone));
    gone.Close();
    WaitUntilForgotten(2);

    struct Case {
        const char* what;
        uint32_t initiator0Delta, initiator1Delta;
        const OxluneMessage* request;
    } cases[] = {
        {"first word of another connection", 1000, 0, &toPanel},
        {"forged second word", 0, 1, &toPanel},
        {"requester closed", 0, 0, &toGone},
    };
    for (const Case& c : cases) {
        OxluneMessage reply;
        reply.InitReply(*c.request, 0);
        reply.initiator0 += c.initiator0Delta;
        reply.initiator1 += c.initiator1Delta;
        EXPECT_EQ(OXLUNE_STATUS_INITIATOR_NOT_FOUND, server.Send(reply)) << c.what;
    }
    OxluneMessage got;
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, panel.Receive(&got));

    // Only the server answers and broadcasts; unknown types are refused.
    OxluneMessage message;
    message.InitReply(toPanel, 0);
    EXPECT_EQ(OXLUNE_STATUS_NOT_ALLOWED, panel.Send(message));
    EXPECT_EQ(OXLUNE_STATUS_NOT_ALLOWED, panel.Broadcast(OXLUNE_MSG_STREAMING_CHANGED));
    message.Init(7, OXLUNE_MSG_SET_POLICY);
    EXPECT_EQ(OXLUNE_STATUS_INVALID_MSG_TYPE, panel.Send(message));
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, server.Receive(&got));
}

TEST_F(SimRoutingTest, WithoutAServerRequestsFailAndUnansweredOnesAreAnsweredWhenItGoes)
{
    SimTestClient panel(name);
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    EXPECT_EQ(OXLUNE_STATUS_NO_SERVER, panel.SendRequest(OXLUNE_MSG_SET_POLICY, 1));

    {
        SimTestClient server(name);
        ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
        ASSERT_EQ(0u, panel.SendRequest(OXLUNE_MSG_SET_POLICY, 2));
        ASSERT_EQ(0u, panel.SendRequest(OXLUNE_MSG_SET_POLICY, 3));
        // The server answers 2 and takes 3 without answering, then goes away.
        OxluneMessage request, reply;
        ASSERT_EQ(0u, server.Receive(&request));
        reply.InitReply(request, 0);
        ASSERT_EQ(0u, server.Send(reply));
        ASSERT_EQ(0u, server.Receive(&request));
    }
    WaitUntilForgotten(1);
    EXPECT_EQ(OXLUNE_STATUS_NO_SERVER, panel.SendRequest(OXLUNE_MSG_SET_POLICY, 4));

    OxluneMessage got;
    ASSERT_EQ(0u, panel.Receive(&got));
    EXPECT_EQ(2u, got.sequence);
    EXPECT_EQ(0u, got.result);
    ASSERT_EQ(0u, panel.Receive(&got));
    EXPECT_EQ(3u, got.sequence);
    EXPECT_EQ(OXLUNE_MSG_REPLY, got.code);
    EXPECT_EQ(OXLUNE_STATUS_NO_SERVER, got.result);
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, panel.Receive(&got));
}

TEST_F(SimRoutingTest, ServerBroadcastReachesTheClientRolesOnly)
{
    SimTestClient server(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    struct Case {
        const char* what;
        int role;
        bool withEvents;
        bool receives;
    } cases[] = {
        {"ASIO driver", OXLUNE_ROLE_ASIO, true, true},
        {"panel", OXLUNE_ROLE_PANEL, true, true},
        {"panel window", OXLUNE_ROLE_PANEL_WINDOW, false, false},
        {"mixer window", OXLUNE_ROLE_MIXER_WINDOW, false, false},
        {"unregistered listener", -1, true, true},
        {"unregistered without events", -1, false, false},
    };
    std::vector<std::unique_ptr<SimTestClient>> clients;
    for (const Case& c : cases) {
        clients.push_back(std::make_unique<SimTestClient>(name));
        ASSERT_EQ(0u, clients.back()->Connect(c.role, c.withEvents, c.withEvents)) << c.what;
    }
    server.DrainNotifications(); // what the driver itself told the server
    ASSERT_EQ(0u, server.Broadcast(OXLUNE_MSG_STREAMING_CHANGED));
    ASSERT_EQ(0u, server.Broadcast(OXLUNE_MSG_SAMPLE_RATE_CHANGED));
    for (size_t i = 0; i < clients.size(); ++i) {
        const Case& c = cases[i];
        if (c.withEvents) {
            EXPECT_EQ(c.receives, SimTestSignalled(clients[i]->NotificationEvent())) << c.what;
            EXPECT_FALSE(SimTestSignalled(clients[i]->MessageEvent())) << c.what;
        }
        const std::vector<uint32_t> expected =
            c.receives ? std::vector<uint32_t>{OXLUNE_MSG_STREAMING_CHANGED, OXLUNE_MSG_SAMPLE_RATE_CHANGED}
                       : std::vector<uint32_t>{};
        EXPECT_EQ(expected, clients[i]->DrainNotifications()) << c.what;
    }
    EXPECT_TRUE(server.DrainNotifications().empty());
}

TEST_F(SimRoutingTest, EventsAreOptionalAndLateEventsAnnounceWaitingEntries)
{
    SimTestClient server(name), panel(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    // Only a notification event: the first eight bytes of the input are 0.
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL, false, true));
    ASSERT_EQ(0u, server.Broadcast(OXLUNE_MSG_STREAMING_CHANGED));
    EXPECT_TRUE(SimTestSignalled(panel.NotificationEvent()));
    EXPECT_EQ(0u, panel.SendRequest(OXLUNE_MSG_SET_POLICY, 1)); // sending needs no event

    // A handle that is no handle in the caller's process is refused; the old events stay.
    WnEvent messageEvent;
    ASSERT_EQ(0u, messageEvent.Create(false, false));
    EXPECT_NE(0u, panel.SetEvents(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFF0)),
                                  panel.NotificationEvent().Get()));
    ASSERT_EQ(0u, server.Broadcast(OXLUNE_MSG_STREAMING_CHANGED));
    EXPECT_TRUE(SimTestSignalled(panel.NotificationEvent()));

    // The reply is queued before the message event is given; handing it over announces it.
    OxluneMessage request, reply;
    ASSERT_EQ(0u, server.Receive(&request));
    reply.InitReply(request, 0);
    ASSERT_EQ(0u, server.Send(reply));
    ASSERT_EQ(0u, panel.SetEvents(messageEvent.Get(), panel.NotificationEvent().Get()));
    EXPECT_TRUE(SimTestSignalled(messageEvent));
    EXPECT_TRUE(SimTestSignalled(panel.NotificationEvent())); // two broadcasts still wait

    // Events taken back: nothing is signalled any more, the queues still fill.
    ASSERT_EQ(0u, panel.SetEvents(nullptr, nullptr));
    ASSERT_EQ(0u, server.Broadcast(OXLUNE_MSG_DEVICE_LIST_CHANGED));
    EXPECT_FALSE(SimTestSignalled(panel.NotificationEvent()));
    EXPECT_EQ((std::vector<uint32_t>{OXLUNE_MSG_STREAMING_CHANGED, OXLUNE_MSG_STREAMING_CHANGED,
                                     OXLUNE_MSG_DEVICE_LIST_CHANGED}),
              panel.DrainNotifications());
}

TEST_F(SimRoutingTest, QueuesAreBoundedAndAFreshConnectionHasEmptyQueues)
{
    SimTestClient server(name), panel(name);
    ASSERT_EQ(0u, server.Connect(OXLUNE_ROLE_SERVER));
    ASSERT_EQ(0u, panel.Connect(OXLUNE_ROLE_PANEL));
    OxluneMessage got;
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, panel.Receive(&got, false));
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, panel.Receive(&got, true));
    EXPECT_EQ(0u, got.type); // nothing delivered

    // Requests the server does not take: the message queue refuses the one too many.
    const uint32_t capacity = static_cast<uint32_t>(SimMessageQueue::kCapacity);
    for (uint32_t i = 1; i <= capacity; ++i) {
        ASSERT_EQ(0u, panel.SendRequest(OXLUNE_MSG_SET_POLICY, i)) << i;
    }
    EXPECT_EQ(OXLUNE_STATUS_NO_RESOURCES, panel.SendRequest(OXLUNE_MSG_SET_POLICY, capacity + 1));

    // Notifications nobody takes: the oldest are dropped, the newest kept in order.
    const uint32_t extra = 5;
    for (uint32_t i = 0; i < capacity + extra; ++i) {
        ASSERT_EQ(0u, server.Broadcast(20000 + i));
    }
    const std::vector<uint32_t> codes = panel.DrainNotifications();
    ASSERT_EQ(capacity, codes.size());
    EXPECT_EQ(20000 + extra, codes.front());
    EXPECT_EQ(20000 + capacity + extra - 1, codes.back());
    EXPECT_NE(std::string::npos, sim.Command("state").find(" dropped=5 "));
}

} // namespace
