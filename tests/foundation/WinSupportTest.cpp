#include "winsupport/WnEvent.h"
#include "winsupport/WnMutex.h"
#include "winsupport/WnRegistryKey.h"
#include "winsupport/WnThread.h"
#include "winsupport/WnWaitableTimer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

struct TimerCounter {
    int calls = 0;
    DWORD firstTick = 0;
    void OnTimer(uint32_t, uint32_t)
    {
        if (calls++ == 0) {
            firstTick = ::GetTickCount();
        }
    }
};

TEST(WnWaitableTimer, CallbackRunsOnlyDuringAlertableWaitsOfTheSettingThread)
{
    TimerCounter counter;
    WnWaitableTimerCallbackForwarderT<TimerCounter> forwarder;
    forwarder.Set(&counter, &TimerCounter::OnTimer);
    WnWaitableTimer timer;
    ASSERT_EQ(0u, timer.Create(false, nullptr, nullptr));
    const DWORD set = ::GetTickCount();
    ASSERT_EQ(0u, timer.Set(3000, &forwarder, false));

    // The first expiry is due at once, but nothing runs without an alertable wait.
    ::Sleep(50);
    EXPECT_EQ(0, counter.calls);

    // The first alertable wait runs the first expiry almost at once.
    EXPECT_EQ(WAIT_IO_COMPLETION, ::SleepEx(5000, TRUE));
    EXPECT_EQ(1, counter.calls);
    EXPECT_LT(counter.firstTick - set, 2000u);

    // The next one comes a period later, again only in an alertable wait.
    ::Sleep(3200);
    EXPECT_EQ(1, counter.calls);
    EXPECT_EQ(WAIT_IO_COMPLETION, ::SleepEx(5000, TRUE));
    EXPECT_EQ(2, counter.calls);
    EXPECT_EQ(0u, timer.Cancel());
}

TEST(WnWaitableTimer, NonPositivePeriodIsRejected)
{
    WnWaitableTimer timer;
    ASSERT_EQ(0u, timer.Create(false, nullptr, nullptr));
    for (int period : {0, -1, -3000}) {
        EXPECT_EQ(87u, timer.Set(period, nullptr, false)) << period;
    }
    // Nothing was set: the timer never fires.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(timer.Get(), 50));
    WnWaitableTimer empty;
    EXPECT_EQ(0u, empty.Cancel());
}

TEST(WnMutex, NameHeldByAnotherProcessGives183AndAHandle)
{
    const std::wstring name = L"kuvo-test-mutex-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring readyName = name + L"-ready";
    WnEvent ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_NE(nullptr, ready.Get());

    const std::wstring program = ExeFolder() + L"mutexholder.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + name + L" " + readyName;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &info));
    WnHandle process(info.hProcess);
    WnHandle thread(info.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ready.Get(), 20000));

    WnMutex mutex;
    EXPECT_EQ(183u, mutex.Create(nullptr, false, name.c_str()));
    EXPECT_NE(nullptr, mutex.Get());

    WnMutex unnamed;
    EXPECT_EQ(0u, unnamed.Create(nullptr, false, nullptr));
    WnMutex fresh;
    EXPECT_EQ(0u, fresh.Create(nullptr, false, (name + L"-fresh").c_str()));

    ::TerminateProcess(process.Get(), 0);
    ::WaitForSingleObject(process.Get(), 5000);
}

struct GatedBody {
    WnEvent gate;
    uint32_t Run()
    {
        ::WaitForSingleObject(gate.Get(), INFINITE);
        return 42;
    }
};

TEST(WnThread, WaitZeroOnRunningThreadKeepsTheHandleAndStartTwiceGives183)
{
    GatedBody body;
    ASSERT_EQ(0u, body.gate.Create(true, false));
    WnThreadCallbackForwarderT<GatedBody> forwarder;
    forwarder.Set(&body, &GatedBody::Run);
    WnThread thread;
    EXPECT_EQ(0u, thread.Wait(0)); // nothing started
    ASSERT_EQ(0u, thread.Start(&forwarder, 0, 0));
    EXPECT_NE(0u, thread.ThreadId());
    HANDLE first = thread.Get();
    EXPECT_EQ(183u, thread.Start(&forwarder, 0, 0));
    EXPECT_EQ(first, thread.Get());

    EXPECT_EQ(258u, thread.Wait(0));
    EXPECT_EQ(first, thread.Get());

    body.gate.Set();
    DWORD code = 0;
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(first, 10000));
    ASSERT_TRUE(::GetExitCodeThread(first, &code));
    EXPECT_EQ(42u, code);
    EXPECT_EQ(0u, thread.Wait(0));
    EXPECT_EQ(nullptr, thread.Get());
    // Emptied by the wait, it can start again.
    EXPECT_EQ(0u, thread.Start(&forwarder, 0, 0));
    EXPECT_EQ(0u, thread.Wait(10000));
}

// The forwarder reaches a member of a second base class with the right object pointer.
struct BaseA {
    virtual ~BaseA() = default;
    int a = 1;
};
struct BaseB {
    virtual ~BaseB() = default;
    uint32_t b = 7;
    uint32_t Value() { return b; }
};
struct Derived : BaseA, BaseB {};

TEST(WnThread, ForwarderAdjustsToTheDeclaringBase)
{
    Derived object;
    object.b = 99;
    WnThreadCallbackForwarderT<Derived> forwarder;
    forwarder.Set(&object, &Derived::Value);
    EXPECT_EQ(99u, forwarder.Run());
}

TEST(WnEvent, CreateReplacesAndSignals)
{
    WnEvent event;
    ASSERT_EQ(0u, event.Create(false, true));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event.Get(), 0)); // auto-reset
    ASSERT_EQ(0u, event.Create(true, false));
    EXPECT_EQ(0u, event.Set());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 0));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 0)); // manual-reset stays
    EXPECT_EQ(0u, event.Reset());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event.Get(), 0));
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = L"Software\\BRAKMOOR\\kuvo-tests\\" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_EQ(0u, key.Create(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS));
    }
    void TearDown() override
    {
        key.Close();
        ::RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    }
    std::wstring path;
    WnRegistryKey key;
};

TEST_F(RegistryTest, ReadDwordRejectsWrongTypesAndSizes)
{
    ASSERT_EQ(0u, key.WriteString(L"Text", L"1234", REG_SZ));
    const uint64_t wide = 5;
    ASSERT_EQ(0, ::RegSetValueExW(key.Get(), L"Qword", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&wide), 8));
    const uint16_t narrow = 5;
    ASSERT_EQ(0, ::RegSetValueExW(key.Get(), L"Short", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&narrow), 2));
    ASSERT_EQ(0u, key.WriteDword(L"Number", 77));

    struct Case {
        const wchar_t* name;
        uint32_t result;
        uint32_t value;
    } cases[] = {
        {L"Text", 11, 0xABCD}, {L"Qword", 11, 0xABCD}, {L"Short", 11, 0xABCD}, {L"Missing", 2, 0xABCD},
        {L"Number", 0, 77},
    };
    for (const Case& c : cases) {
        uint32_t value = 0xABCD;
        EXPECT_EQ(c.result, key.ReadDword(c.name, &value)) << c.name;
        EXPECT_EQ(c.value, value) << c.name;
    }
}

TEST_F(RegistryTest, WriteStringStoresTheTerminatorAndChecksTheType)
{
    EXPECT_EQ(11u, key.WriteString(L"Bad", L"x", REG_DWORD));
    ASSERT_EQ(0u, key.WriteString(L"Name", L"abc", REG_EXPAND_SZ));
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(0, ::RegQueryValueExW(key.Get(), L"Name", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ(8u, size);
    wchar_t text[3];
    EXPECT_NE(0u, key.ReadString(L"Name", text, 3)); // does not fit
    EXPECT_EQ(L'\0', text[0]);
    wchar_t whole[8];
    EXPECT_EQ(0u, key.ReadString(L"Name", whole, 8));
    EXPECT_STREQ(L"abc", whole);
}

TEST_F(RegistryTest, DeleteSubKeyAndClose)
{
    WnRegistryKey child;
    ASSERT_EQ(0u, child.Create(key.Get(), L"Child", KEY_ALL_ACCESS));
    EXPECT_EQ(0u, child.Close());
    EXPECT_EQ(0u, child.Close()); // nothing open
    EXPECT_EQ(0u, key.DeleteSubKey(L"Child"));
    EXPECT_EQ(2u, child.Open(key.Get(), L"Child", KEY_READ));
    EXPECT_EQ(nullptr, child.Get());
}

} // namespace
