#include "LibFixture.h"

#include "driverlib/OxluneDriver.h"

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace {

// The device list tests: the kernel model's enumeration, optionally passed through a
// transformation (reorder, change keys, inflate the count).
class DriverTest : public SimFixture {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        ASSERT_EQ(0u, driver.Connect(name.c_str(), false, false));
    }
    void TransformEnumeration(std::function<void(OxluneDeviceList&)> fn)
    {
        sim.SetHandler(OXLUNE_IOCTL_QUERY_DEVICES, [this, fn](SimConnection&, SimRequest& r) -> uint32_t {
            if (r.outCapacity < sizeof(OxluneDeviceList)) {
                return OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
            }
            OxluneDeviceList list;
            std::memset(&list, 0, sizeof(list));
            const std::vector<OxluneDeviceRecord> records = sim.Kernel().Devices();
            for (const OxluneDeviceRecord& record : records) {
                list.devices[list.count++] = record;
            }
            fn(list);
            std::memcpy(r.out, &list, sizeof(list));
            r.bytesReturned = sizeof(list);
            return 0;
        });
    }
    std::vector<std::wstring> Serials() const
    {
        std::vector<std::wstring> serials;
        for (uint32_t i = 0; i < driver.GetDeviceCount(); ++i) {
            serials.push_back(driver.GetDevice(i)->Record().serialNumber);
        }
        return serials;
    }
    size_t ConnectionCount() { return sim.Connections().size(); }

    OxluneDriver driver;
};

TEST_F(DriverTest, SameDevicesInANewOrderKeepTheirObjectsAndReportNoChange)
{
    uint32_t keyA0 = 0, keyA1 = 0;
    ASSERT_NO_FATAL_FAILURE(Plug("KVA", &keyA0, &keyA1));
    ASSERT_NO_FATAL_FAILURE(Plug("KVB"));
    bool changed = false;
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_TRUE(changed);
    ASSERT_EQ((std::vector<std::wstring>{L"KVA", L"KVB"}), Serials());
    OxluneDevice* a = driver.GetDevice(0);
    OxluneDevice* b = driver.GetDevice(1);

    // Reversed, and device A reported under new key words: still the same devices.
    TransformEnumeration([](OxluneDeviceList& list) {
        std::swap(list.devices[0], list.devices[1]);
        list.devices[1].key0 += 100;
    });
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_FALSE(changed);
    ASSERT_EQ((std::vector<std::wstring>{L"KVB", L"KVA"}), Serials());
    EXPECT_EQ(b, driver.GetDevice(0));
    EXPECT_EQ(a, driver.GetDevice(1));
    EXPECT_TRUE(a->IsOpen());
    EXPECT_EQ(a, driver.FindDevice(keyA0 + 100, keyA1)) << "the record was replaced";
    EXPECT_EQ(nullptr, driver.FindDevice(keyA0, keyA1));
    EXPECT_EQ(nullptr, driver.GetDevice(2));
}

TEST_F(DriverTest, OneNewAndOneVanishedDeviceCreateOneAndDestroyOne)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KVA"));
    ASSERT_NO_FATAL_FAILURE(Plug("KVB"));
    bool changed = false;
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    OxluneDevice* b = driver.GetDevice(1);
    ASSERT_TRUE(WaitUntil([&] { return ConnectionCount() == 3; })) << "the driver and two devices";

    Command("unplug KVA");
    ASSERT_NO_FATAL_FAILURE(Plug("KVC"));
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_TRUE(changed);
    ASSERT_EQ((std::vector<std::wstring>{L"KVB", L"KVC"}), Serials());
    EXPECT_EQ(b, driver.GetDevice(0));
    EXPECT_TRUE(driver.GetDevice(1)->IsOpen());
    // A's handle was closed with its object, C's opened.
    EXPECT_TRUE(WaitUntil([&] { return ConnectionCount() == 3; }));

    // Nothing new: no change.
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_FALSE(changed);
}

TEST_F(DriverTest, FailingEnumerationEmptiesTheListAndReportsAChange)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KVA"));
    ASSERT_NO_FATAL_FAILURE(Plug("KVB"));
    bool changed = false;
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    ASSERT_EQ(2u, driver.GetDeviceCount());

    Command("fail-next 0x80882080 0xE0000002");
    EXPECT_EQ(OXLUNE_STATUS_INTERNAL_ERROR, driver.RefreshDevices(&changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(0u, driver.GetDeviceCount());

    // Failing again with nothing to lose is no change.
    Command("fail-next 0x80882080 0xE0000002");
    EXPECT_EQ(OXLUNE_STATUS_INTERNAL_ERROR, driver.RefreshDevices(&changed));
    EXPECT_FALSE(changed);

    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(2u, driver.GetDeviceCount());
}

TEST_F(DriverTest, DeviceThatCannotBeBoundIsLeftOutUntilTheNextRefresh)
{
    ASSERT_NO_FATAL_FAILURE(Plug("KVA"));
    ASSERT_NO_FATAL_FAILURE(Plug("KVB"));
    Command("fail-next 0x80882084 0xE0000061");
    bool changed = false;
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ((std::vector<std::wstring>{L"KVB"}), Serials());
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ((std::vector<std::wstring>{L"KVA", L"KVB"}), Serials()) << "in the order of enumeration";
}

TEST_F(DriverTest, EnumerationCountAboveTheTableIsClamped)
{
    for (int i = 0; i < 8; ++i) {
        Plug("KV" + std::to_string(i));
    }
    TransformEnumeration([](OxluneDeviceList& list) { list.count = 200; });
    OxluneDeviceList list;
    ASSERT_EQ(0u, driver.QueryDevices(&list));
    EXPECT_EQ(8u, list.count);
    bool changed = false;
    ASSERT_EQ(0u, driver.RefreshDevices(&changed));
    EXPECT_EQ(8u, driver.GetDeviceCount());
}

// SetEvents and the role connects, seen from the driver's side.
TEST_F(DriverTest, SetEventsSendsEachHandleZeroExtendedOrZero)
{
    // Shared with the handler, which outlives this body (the fixture's driver disconnects later).
    auto seenShared = std::make_shared<std::vector<OxluneSetEventsInput>>();
    std::vector<OxluneSetEventsInput>& seen = *seenShared;
    sim.SetHandler(OXLUNE_IOCTL_SET_EVENTS, [seenShared](SimConnection&, SimRequest& r) -> uint32_t {
        OxluneSetEventsInput input{};
        if (r.inSize != sizeof(input)) {
            return OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
        }
        std::memcpy(&input, r.in, sizeof(input));
        seenShared->push_back(input);
        return 0;
    });
    struct Case {
        bool message, notification;
    } cases[] = {{false, true}, {true, false}, {true, true}, {false, false}};
    for (const Case& c : cases) {
        OxluneDriver d;
        seen.clear();
        ASSERT_EQ(0u, d.Connect(name.c_str(), c.message, c.notification));
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(c.message ? reinterpret_cast<uintptr_t>(d.MessageEvent()) : 0u, seen[0].messageEvent);
        EXPECT_EQ(c.notification ? reinterpret_cast<uintptr_t>(d.NotificationEvent()) : 0u,
                  seen[0].notificationEvent);
        EXPECT_EQ(c.message, seen[0].messageEvent != 0);
        EXPECT_EQ(c.notification, seen[0].notificationEvent != 0);
        d.Disconnect();
        ASSERT_EQ(2u, seen.size());
        EXPECT_EQ(0u, seen[1].messageEvent | seen[1].notificationEvent);
        EXPECT_EQ(nullptr, d.MessageEvent());
        EXPECT_EQ(nullptr, d.NotificationEvent());
    }
}

TEST_F(DriverTest, RoleConnectsRegisterTheirRoleAndLeaveAFailedConnectClosed)
{
    driver.Disconnect();
    struct Case {
        OxluneStatus (OxluneDriver::*connect)(const wchar_t*);
        int role;
        bool events;
    } cases[] = {{&OxluneDriver::ConnectPanel, OXLUNE_ROLE_PANEL, true},
                 {&OxluneDriver::ConnectPanelWindow, OXLUNE_ROLE_PANEL_WINDOW, false},
                 {&OxluneDriver::ConnectMixerWindow, OXLUNE_ROLE_MIXER_WINDOW, false}};
    for (const Case& c : cases) {
        OxluneDriver d;
        ASSERT_EQ(0u, (d.*c.connect)(name.c_str())) << c.role;
        EXPECT_EQ(c.events, d.MessageEvent() != nullptr) << c.role;
        EXPECT_EQ(c.events, d.NotificationEvent() != nullptr) << c.role;
        EXPECT_STREQ(name.c_str(), d.ConnectedName());
        const auto connections = sim.Connections();
        ASSERT_EQ(1u, connections.size());
        EXPECT_EQ(c.role, sim.Kernel().RoleOf(connections[0]->id)) << c.role;
        // Open already: 0 at once; a plain Connect is rejected.
        EXPECT_EQ(0u, (d.*c.connect)(L"another-name")) << c.role;
        EXPECT_EQ(OXLUNE_STATUS_REJECTED, d.Connect(name.c_str(), true, true)) << c.role;
        d.Disconnect();
        ASSERT_TRUE(WaitUntil([&] { return sim.Connections().empty(); }));

        Command("fail-next 0x80882064 0xE0000012");
        EXPECT_EQ(OXLUNE_STATUS_NOT_ALLOWED, (d.*c.connect)(name.c_str())) << c.role;
        EXPECT_FALSE(d.IsOpen()) << c.role;
        EXPECT_EQ(nullptr, d.MessageEvent()) << c.role;
    }
    OxluneDriver d;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, d.ConnectPanel(L"kuvo-no-such-simulator"));
    EXPECT_FALSE(d.IsOpen());
}

// Scripted notification queue for the receive loops.
TEST_F(DriverTest, ReceiveLoopsDropOtherTypesAndRecordsThatDoNotHoldTogether)
{
    // Record and bytes returned; shared with the handler, which outlives this body.
    auto queueShared = std::make_shared<std::deque<std::pair<OxluneMessage, uint32_t>>>();
    auto& queue = *queueShared;
    sim.SetHandler(OXLUNE_IOCTL_RECEIVE_NOTIFICATION, [queueShared](SimConnection&, SimRequest& r) -> uint32_t {
        auto& queue = *queueShared;
        if (queue.empty()) {
            return OXLUNE_STATUS_NO_MORE_ITEMS;
        }
        const auto [message, returned] = queue.front();
        queue.pop_front();
        std::memcpy(r.out, &message, returned);
        r.bytesReturned = returned;
        return 0;
    });
    auto push = [&](uint32_t type, uint32_t code, uint32_t length, uint32_t returned) {
        OxluneMessage m;
        m.Init(type, code);
        m.length = length;
        queue.emplace_back(m, returned);
    };
    push(OXLUNE_MSG_TYPE_REPLY, OXLUNE_MSG_REPLY, 0, 544);
    push(OXLUNE_MSG_TYPE_NOTIFICATION, 3001, 600, 544); // length beyond the payload field
    push(OXLUNE_MSG_TYPE_NOTIFICATION, 3002, 8, 36);    // fewer bytes than the header promises
    push(OXLUNE_MSG_TYPE_NOTIFICATION, 3003, 0, 20);    // shorter than a header
    push(OXLUNE_MSG_TYPE_NOTIFICATION, OXLUNE_MSG_DEVICE_LIST_CHANGED, 8, 40);
    push(OXLUNE_MSG_TYPE_NOTIFICATION, OXLUNE_MSG_STREAMING_CHANGED, 0, 544);

    OxluneMessage message;
    ASSERT_EQ(0u, driver.NextNotification(&message));
    EXPECT_EQ(OXLUNE_MSG_DEVICE_LIST_CHANGED, message.code);
    EXPECT_EQ(8u, message.length);
    ASSERT_EQ(0u, driver.NextNotification(&message));
    EXPECT_EQ(OXLUNE_MSG_STREAMING_CHANGED, message.code);
    EXPECT_EQ(OXLUNE_STATUS_NO_MORE_ITEMS, driver.NextNotification(&message));
    EXPECT_EQ(0u, message.type);

    push(OXLUNE_MSG_TYPE_NOTIFICATION, 3001, 0, 544);
    push(OXLUNE_MSG_TYPE_NOTIFICATION, 3001, 0, 544);
    EXPECT_EQ(0u, driver.FlushNotifications());
    EXPECT_TRUE(queue.empty());
    Command("fail-next 0x80882048 0xE0000002");
    EXPECT_EQ(OXLUNE_STATUS_INTERNAL_ERROR, driver.FlushNotifications());
}

TEST_F(DriverTest, SendMessageRefusesAnOversizedRecordWithoutCallingTheDriver)
{
    OxluneMessage message;
    message.Init(OXLUNE_MSG_TYPE_REQUEST, OXLUNE_MSG_SET_SAMPLE_RATE);
    message.length = 513;
    EXPECT_EQ(OXLUNE_STATUS_INVALID_LENGTH, driver.SendMessage(message));
    message.length = 4;
    EXPECT_EQ(OXLUNE_STATUS_NO_SERVER, driver.SendMessage(message));
}

TEST_F(DriverTest, DriverWideQueriesClampTheirCounts)
{
    auto answer = [this](uint32_t code, auto record) {
        sim.SetHandler(code, [record](SimConnection&, SimRequest& r) -> uint32_t {
            std::memcpy(r.out, &record, sizeof(record));
            r.bytesReturned = sizeof(record);
            return 0;
        });
    };
    OxluneSampleRates rates{};
    rates.current = 44100;
    rates.count = 13;
    answer(OXLUNE_IOCTL_GET_SAMPLE_RATES, rates);
    OxluneChannelList channels{};
    channels.count = 97;
    answer(OXLUNE_IOCTL_GET_INPUT_CHANNELS, channels);
    answer(OXLUNE_IOCTL_GET_OUTPUT_CHANNELS, channels);
    OxluneChannelInfo info;
    std::memset(&info, 0xFF, sizeof(info));
    answer(OXLUNE_IOCTL_GET_CHANNEL_INFO, info);

    OxluneSampleRates gotRates{};
    ASSERT_EQ(0u, driver.GetSampleRates(&gotRates));
    EXPECT_EQ(44100u, gotRates.current);
    EXPECT_EQ(12u, gotRates.count);
    OxluneChannelList gotChannels{};
    ASSERT_EQ(0u, driver.GetInputChannels(&gotChannels));
    EXPECT_EQ(96u, gotChannels.count);
    ASSERT_EQ(0u, driver.GetOutputChannels(&gotChannels));
    EXPECT_EQ(96u, gotChannels.count);
    OxluneChannelInfo gotInfo{};
    ASSERT_EQ(0u, driver.GetChannelInfo(1, 2, &gotInfo));
    EXPECT_EQ(L'\0', gotInfo.name[41]) << "the name ends within its field";

    // Short replies: a list counts only the entries that arrived, a fixed record is refused.
    auto answerShort = [this](uint32_t code, uint32_t count, uint32_t bytes) {
        sim.SetHandler(code, [count, bytes](SimConnection&, SimRequest& r) -> uint32_t {
            std::memset(r.out, 0, bytes);
            std::memcpy(r.out + (bytes >= 8 ? 4 : 0), &count, bytes >= 8 ? 4 : bytes);
            r.bytesReturned = bytes;
            return 0;
        });
    };
    answerShort(OXLUNE_IOCTL_GET_SAMPLE_RATES, 12, 16); // room for two rates
    ASSERT_EQ(0u, driver.GetSampleRates(&gotRates));
    EXPECT_EQ(2u, gotRates.count);
    answerShort(OXLUNE_IOCTL_GET_STREAMING_STATUS, 0, 20);
    OxluneStreamingStatus status{};
    EXPECT_EQ(OXLUNE_STATUS_LENGTH_MISMATCH, driver.GetStreamingStatus(&status));
}

TEST_F(DriverTest, DriverWideQueriesReadTheKernelModel)
{
    Command("counts demand=1 lock=2");
    OxluneStreamingStatus status{};
    ASSERT_EQ(0u, driver.GetStreamingStatus(&status));
    EXPECT_EQ(48000u, status.sampleRate);
    EXPECT_EQ(1u, status.streamDemandCount);
    EXPECT_EQ(2u, status.changeLockCount);
    OxluneBufferSizes sizes{};
    EXPECT_EQ(0u, driver.GetBufferSizes(&sizes));
    OxluneErrorCounters counters{};
    Command("errors fifo=3");
    ASSERT_EQ(0u, driver.GetErrorCounters(&counters));
    EXPECT_EQ(3u, counters.fifo);
    uint32_t policy = 99;
    ASSERT_EQ(0u, driver.GetPolicy(&policy));
    EXPECT_EQ(0u, policy);

    driver.Disconnect();
    EXPECT_EQ(OXLUNE_STATUS_NOT_OPENED, driver.GetStreamingStatus(&status));
}

} // namespace
