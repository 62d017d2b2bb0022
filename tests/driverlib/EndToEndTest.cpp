#include "ServerFixture.h"

#include "driverlib/OxluneCplClient.h"
#include "simulator/SimProcess.h"

#include <algorithm>
#include <vector>

namespace {

// Runs libclient.exe NAME RATE in its own process; its exit code is the reply's status.
OxluneStatus RunClientProcess(const std::wstring& name, uint32_t rate)
{
    const std::wstring program = SimModuleFolder() + L"libclient.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + name + L" " + std::to_wstring(rate);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        ADD_FAILURE() << "cannot start libclient.exe: " << ::GetLastError();
        return OXLUNE_STATUS_FAILED;
    }
    WnHandle process(info.hProcess);
    WnHandle thread(info.hThread);
    if (::WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 1);
        ::WaitForSingleObject(process.Get(), 5000);
        ADD_FAILURE() << "libclient.exe did not end";
        return OXLUNE_STATUS_TIMEOUT;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.Get(), &code);
    return code;
}

// The simulator in a process of its own with two devices, the server's loop on a thread
// of this process, a client in a third process, and a second client here that watches
// the notifications.
TEST(EndToEndTest, ClientProcessChangesTheRateThroughTheServerAndAnotherClientHears)
{
    const std::wstring name = SimUniqueName(L"e2e");
    SimProcess simulator;
    ASSERT_EQ(0u, simulator.Start(name, L"--devices 2 --hardware-time 0"));

    OxluneCplClient watcher;
    ASSERT_EQ(0u, watcher.ConnectPanel(name.c_str()));
    std::vector<uint32_t> codes;
    auto collectUntil = [&](uint32_t code) {
        return WaitUntil([&] {
            OxluneMessage message;
            while (watcher.NextNotification(&message) == 0) {
                codes.push_back(message.code);
            }
            return std::find(codes.begin(), codes.end(), code) != codes.end();
        });
    };

    auto log = std::make_shared<HookLog>();
    LoggingServer server(name, log);
    ServerThread loop(server);
    loop.Start();
    // The server's start ends with its 3010 and 3030.
    ASSERT_TRUE(collectUntil(OXLUNE_MSG_DEVICE_LIST_CHANGED));
    codes.clear();

    EXPECT_EQ(0u, RunClientProcess(name, 44100));
    OxluneStreamingStatus status{};
    ASSERT_EQ(0u, watcher.GetStreamingStatus(&status));
    EXPECT_EQ(44100u, status.sampleRate);

    // 3010, then 3011, reached the watching client (the driver's own panel notices may
    // come in between).
    ASSERT_TRUE(collectUntil(OXLUNE_MSG_SAMPLE_RATE_CHANGED));
    const auto streaming = std::find(codes.begin(), codes.end(), OXLUNE_MSG_STREAMING_CHANGED);
    const auto rate = std::find(codes.begin(), codes.end(), OXLUNE_MSG_SAMPLE_RATE_CHANGED);
    EXPECT_TRUE(streaming < rate) << "3010 before 3011";

    // A refused change comes back with the server's status.
    simulator.Command("counts exclusive=1");
    EXPECT_EQ(OXLUNE_STATUS_SOUND_DEVICE_IN_USE, RunClientProcess(name, 96000));
    ASSERT_EQ(0u, watcher.GetStreamingStatus(&status));
    EXPECT_EQ(44100u, status.sampleRate);

    loop.Stop();
    simulator.Stop();
}

} // namespace
