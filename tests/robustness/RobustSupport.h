#pragma once
// Shared pieces of the robustness suite: the seed every randomized case starts from, an
// in-process simulator with a library server running its receive loop on a thread, and
// bounded waits (hang guards only, never timing assertions).
#include "driverlib/OxluneClient.h"
#include "driverlib/OxluneServer.h"
#include "RobustEcho.h"
#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"
#include "simulator/SimProcess.h"
#include "winsupport/WnEvent.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>

constexpr DWORD kGuardMs = 30000;

// The seed of every randomized case: KUVO_ROBUST_SEED when set (decimal or 0x-hex), else a
// fixed default, so that a failure replays. Printed by every test that uses it.
inline uint32_t RobustSeed()
{
    uint32_t seed = 0x6b75766f;
    if (const char* text = std::getenv("KUVO_ROBUST_SEED"); text != nullptr && *text != '\0') {
        seed = static_cast<uint32_t>(std::strtoul(text, nullptr, 0));
    }
    std::printf("robustness seed: %lu (replay with KUVO_ROBUST_SEED=%lu)\n", static_cast<unsigned long>(seed),
                static_cast<unsigned long>(seed));
    std::fflush(stdout);
    return seed;
}

// Counts scale with KUVO_ROBUST_SCALE (default 1) for longer runs by hand.
inline uint32_t RobustScaled(uint32_t count)
{
    const char* text = std::getenv("KUVO_ROBUST_SCALE");
    const unsigned long scale = text != nullptr ? std::strtoul(text, nullptr, 10) : 1;
    return count * static_cast<uint32_t>(scale == 0 ? 1 : scale);
}

inline bool WaitUntil(const std::function<bool()>& condition, DWORD guardMs = kGuardMs)
{
    const ULONGLONG end = ::GetTickCount64() + guardMs;
    while (!condition()) {
        if (::GetTickCount64() >= end) {
            return false;
        }
        ::Sleep(5);
    }
    return true;
}

// Runs server.Run(stop, device change) on its own thread until Stop.
class ServerLoop {
public:
    explicit ServerLoop(OxluneServer& server) : m_server(server)
    {
        m_stop.Create(true, false);
        m_deviceChange.Create(false, false);
        m_done.Create(true, false);
    }
    ~ServerLoop() { Stop(); }
    void Start()
    {
        m_thread = std::thread([this] {
            m_server.Run(m_stop.Get(), m_deviceChange.Get());
            m_done.Set();
        });
    }
    void SignalDeviceChange() { m_deviceChange.Set(); }
    bool Returned(DWORD guardMs = 0) { return ::WaitForSingleObject(m_done.Get(), guardMs) == WAIT_OBJECT_0; }
    void Stop()
    {
        if (m_thread.joinable()) {
            m_stop.Set();
            m_thread.join();
        }
    }

private:
    OxluneServer& m_server;
    WnEvent m_stop;
    WnEvent m_deviceChange;
    WnEvent m_done;
    std::thread m_thread;
};

// A simulator started in SetUp under a unique name; tests register handlers in
// BeforeStart (handlers must be set before the simulator starts).
class RobustSimFixture : public ::testing::Test {
protected:
    virtual void BeforeStart() {}
    void SetUp() override
    {
        name = SimUniqueName(L"robust");
        BeforeStart();
        ASSERT_EQ(0u, sim.Start(name));
        sim.Kernel().SetHardwareTimeMs(0);
        // A server lets go of the control device while no device is connected.
        Command("plug KR000001");
    }
    void Command(const std::string& line)
    {
        const std::string answer = sim.Command(line);
        ASSERT_EQ(0u, answer.rfind("ok", 0)) << line << ": " << answer;
    }

    SimDriver sim;
    std::wstring name;
};

// A program of the test's own folder run as a child process; ended by its handle.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::wstring& program, const std::wstring& arguments)
    {
        std::wstring line = L"\"" + SimModuleFolder() + program + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            return false;
        }
        ::CloseHandle(info.hThread);
        m_process = info.hProcess;
        return true;
    }
    HANDLE Process() const { return m_process; }
    // The exit code, or STILL_ACTIVE when it did not end within the guard.
    DWORD Wait(DWORD guardMs = kGuardMs)
    {
        if (m_process == nullptr || ::WaitForSingleObject(m_process, guardMs) != WAIT_OBJECT_0) {
            return STILL_ACTIVE;
        }
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(m_process, &code);
        return code;
    }
    // Ends it at once, as a crash would, and waits until it is gone.
    void Kill()
    {
        if (m_process != nullptr) {
            ::TerminateProcess(m_process, 9);
            ::WaitForSingleObject(m_process, kGuardMs);
            ::CloseHandle(m_process);
            m_process = nullptr;
        }
    }

private:
    HANDLE m_process = nullptr;
};

// A server process is ready once it is registered and has opened its one device.
inline bool WaitServerReady(SimDriver& sim)
{
    return WaitUntil([&] { return sim.Kernel().ServerConnectionId() != 0 && sim.Connections().size() >= 2; });
}

// Asks a robustserver process for its own handle count (GetProcessHandleCount of another
// process gives nothing under Wine). Created before the server starts.
class HandleCountProbe {
public:
    explicit HandleCountProbe(const std::wstring& name)
    {
        m_ask = ::CreateEventW(nullptr, FALSE, FALSE, (name + L"-count").c_str());
        m_answered = ::CreateEventW(nullptr, FALSE, FALSE, (name + L"-counted").c_str());
        m_mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD),
                                         (name + L"-handles").c_str());
        m_view = m_mapping != nullptr ? ::MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(DWORD)) : nullptr;
    }
    ~HandleCountProbe()
    {
        if (m_view != nullptr) {
            ::UnmapViewOfFile(m_view);
        }
        for (HANDLE h : {m_ask, m_answered, m_mapping}) {
            if (h != nullptr) {
                ::CloseHandle(h);
            }
        }
    }
    HandleCountProbe(const HandleCountProbe&) = delete;
    HandleCountProbe& operator=(const HandleCountProbe&) = delete;
    // 0 when the server did not answer within the guard.
    DWORD Count()
    {
        if (m_view == nullptr) {
            return 0;
        }
        *static_cast<volatile DWORD*>(m_view) = 0;
        ::SetEvent(m_ask);
        return ::WaitForSingleObject(m_answered, kGuardMs) == WAIT_OBJECT_0 ? *static_cast<volatile DWORD*>(m_view) : 0;
    }

private:
    HANDLE m_ask = nullptr;
    HANDLE m_answered = nullptr;
    HANDLE m_mapping = nullptr;
    void* m_view = nullptr;
};

// Parses "key=N" out of a simulator's "state" answer; 0 when absent.
inline uint32_t StateValue(const std::string& state, const std::string& key)
{
    const size_t at = state.find(" " + key + "=");
    return at == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(state.c_str() + at + key.size() + 2, nullptr, 10));
}
