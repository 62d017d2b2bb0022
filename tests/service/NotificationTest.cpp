#include "service/DeviceNotificationList.h"
#include "service/WnPnPNotificator.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <atomic>

namespace {

const GUID kInterface = {0x21611F4F, 0xFC9C, 0x4132, {0xAF, 0xA2, 0x6F, 0x58, 0x5C, 0xA8, 0x4B, 0xBE}};

struct Recorder {
    std::atomic<int> calls{0};
    std::atomic<uint32_t> lastType{0};
    std::atomic<DWORD> threadId{0};
    GUID lastClass{};
    void OnDeviceChange(uint32_t eventType, void* data)
    {
        lastType = eventType;
        threadId = ::GetCurrentThreadId();
        lastClass = static_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(data)->dbcc_classguid;
        ++calls;
    }
};

class NotificatorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The first top-level window of a fresh prefix brings up its desktop, which can take
        // longer than the notificator's 10 s start budget on a loaded machine.
        HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                        nullptr);
        if (window != nullptr) {
            ::DestroyWindow(window);
        }
    }
    void SetUp() override { forwarder.Set(&recorder, &Recorder::OnDeviceChange); }
    LRESULT Send(WPARAM eventType, LPARAM data)
    {
        return ::SendMessageW(notificator.Window(), WM_DEVICECHANGE, eventType, data);
    }
    static DEV_BROADCAST_DEVICEINTERFACE_W Broadcast(DWORD deviceType)
    {
        DEV_BROADCAST_DEVICEINTERFACE_W broadcast{};
        broadcast.dbcc_size = sizeof(broadcast);
        broadcast.dbcc_devicetype = deviceType;
        broadcast.dbcc_classguid = kInterface;
        return broadcast;
    }

    Recorder recorder;
    WnPnPNotificatorCallbackForwarderT<Recorder> forwarder;
    WnPnPNotificator notificator;
};

TEST_F(NotificatorTest, StartRulesAndRegistrationOnlyWhileRunning)
{
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_PARAMETER), notificator.Start(nullptr, nullptr));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_DATA), notificator.RegisterInterface(kInterface));
    EXPECT_FALSE(notificator.IsRunning());

    ASSERT_EQ(0u, notificator.Start(&forwarder, nullptr));
    EXPECT_TRUE(notificator.IsRunning());
    EXPECT_EQ(static_cast<uint32_t>(ERROR_ALREADY_INITIALIZED), notificator.Start(&forwarder, nullptr));
    const HWND window = notificator.Window();
    ASSERT_NE(nullptr, window);
    EXPECT_FALSE(::IsWindowVisible(window));
    wchar_t className[80];
    ASSERT_NE(0, ::GetClassNameW(window, className, 80));
    EXPECT_EQ(0, std::wcsncmp(className, L"PnPNotificatorWndCls_", 21));

    EXPECT_EQ(0u, notificator.RegisterInterface(kInterface));
    EXPECT_EQ(0u, notificator.RegisterInterface(kInterface));
    EXPECT_EQ(2u, notificator.RegistrationCount());

    EXPECT_EQ(0u, notificator.Stop(10000));
    EXPECT_FALSE(notificator.IsRunning());
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(0u, notificator.RegistrationCount());
    // A stopped notificator stops again without complaint and can be started again.
    EXPECT_EQ(0u, notificator.Stop(10000));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_DATA), notificator.RegisterInterface(kInterface));
    ASSERT_EQ(0u, notificator.Start(&forwarder, nullptr));
    EXPECT_NE(window, notificator.Window());
}

TEST_F(NotificatorTest, ArrivalAndRemovalOfAnInterfaceReachTheCallbackOnItsThread)
{
    ASSERT_EQ(0u, notificator.Start(&forwarder, nullptr));
    DEV_BROADCAST_DEVICEINTERFACE_W broadcast = Broadcast(DBT_DEVTYP_DEVICEINTERFACE);
    for (WPARAM type : {WPARAM(DBT_DEVICEREMOVECOMPLETE), WPARAM(DBT_DEVICEARRIVAL)}) {
        const int before = recorder.calls;
        EXPECT_EQ(0, Send(type, reinterpret_cast<LPARAM>(&broadcast)));
        EXPECT_EQ(before + 1, recorder.calls);
        EXPECT_EQ(type, recorder.lastType);
        EXPECT_TRUE(IsEqualGUID(kInterface, recorder.lastClass));
        EXPECT_NE(::GetCurrentThreadId(), recorder.threadId);
    }
}

TEST_F(NotificatorTest, OtherDeviceChangesDoNotReachTheCallback)
{
    ASSERT_EQ(0u, notificator.Start(&forwarder, nullptr));
    // DBT_DEVNODES_CHANGED carries no header: a pointer that must not be read.
    EXPECT_EQ(0, Send(DBT_DEVNODES_CHANGED, static_cast<LPARAM>(0x10)));
    EXPECT_EQ(0, Send(DBT_DEVNODES_CHANGED, 0));
    DEV_BROADCAST_DEVICEINTERFACE_W volume = Broadcast(DBT_DEVTYP_VOLUME);
    EXPECT_EQ(0, Send(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)));
    DEV_BROADCAST_DEVICEINTERFACE_W iface = Broadcast(DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_EQ(0, Send(DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(&iface)));
    EXPECT_EQ(0, recorder.calls);
}

TEST(DeviceNotificationList, KeepsRegistrationsUntilRemoveAll)
{
    // A message-only window is enough to receive registrations.
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    DeviceNotificationList list;
    list.RemoveAll(); // empty: nothing happens
    EXPECT_EQ(0u, list.Count());
    EXPECT_EQ(0u, list.AddRegistration(window, kInterface, DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(0u, list.AddRegistration(window, kInterface, DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(2u, list.Count());
    // A failed registration leaves nothing behind.
    EXPECT_NE(0u, list.AddRegistration(window, kInterface, 0x40));
    EXPECT_EQ(2u, list.Count());
    list.RemoveAll();
    EXPECT_EQ(0u, list.Count());
    ::DestroyWindow(window);
}

} // namespace
