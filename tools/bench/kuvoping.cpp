// kuvoping: the baseline of the switch-latency benchmark. One process sets an event, a
// time-critical thread of another process wakes on it and takes a timestamp, under the
// same conditions as the ASIO switch thread (priority, 1 ms timer period, same pacing).
//   kuvoping [--count N] [--period-us P]   prints "p50_us p99_us max_us count"
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Shared {
    volatile LONG64 signalled; // QPC ticks right before SetEvent
    volatile LONG64 woke;      // QPC ticks when the waiter woke
};

LONG64 Now()
{
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}

int Waiter(const std::wstring& name, long count)
{
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, (name + L"-map").c_str());
    HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, (name + L"-go").c_str());
    HANDLE ack = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"-ack").c_str());
    if (mapping == nullptr || go == nullptr || ack == nullptr) {
        return 2;
    }
    auto* shared = static_cast<Shared*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));
    ::timeBeginPeriod(1);
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    ::SetEvent(ack);
    for (long i = 0; i < count; ++i) {
        if (::WaitForSingleObject(go, 10000) != WAIT_OBJECT_0) {
            break;
        }
        shared->woke = Now();
        ::SetEvent(ack);
    }
    ::timeEndPeriod(1);
    ::UnmapViewOfFile(shared);
    ::CloseHandle(mapping);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    long count = 20000;
    long periodUs = 1000;
    std::wstring waitName;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--count") == 0 && i + 1 < argc) {
            count = std::wcstol(argv[++i], nullptr, 10);
        } else if (std::wcscmp(argv[i], L"--period-us") == 0 && i + 1 < argc) {
            periodUs = std::wcstol(argv[++i], nullptr, 10);
        } else if (std::wcscmp(argv[i], L"--wait") == 0 && i + 1 < argc) {
            waitName = argv[++i];
        } else {
            std::fprintf(stderr, "usage: kuvoping [--count N] [--period-us P]\n");
            return 2;
        }
    }
    if (!waitName.empty()) {
        return Waiter(waitName, count);
    }

    const std::wstring name = L"kuvoping-" + std::to_wstring(::GetCurrentProcessId());
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared),
                                          (name + L"-map").c_str());
    HANDLE go = ::CreateEventW(nullptr, FALSE, FALSE, (name + L"-go").c_str());
    HANDLE ack = ::CreateEventW(nullptr, FALSE, FALSE, (name + L"-ack").c_str());
    // Paced like the simulator's clock thread: a high-resolution waitable timer.
    HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0x2 /* CREATE_WAITABLE_TIMER_HIGH_RESOLUTION */,
                                            TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        timer = ::CreateWaitableTimerW(nullptr, FALSE, nullptr);
    }
    if (mapping == nullptr || go == nullptr || ack == nullptr || timer == nullptr) {
        return 1;
    }
    auto* shared = static_cast<Shared*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));

    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --wait " + name + L" --count " +
                               std::to_wstring(count);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child{};
    if (!::CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        return 1;
    }
    ::CloseHandle(child.hThread);
    ::timeBeginPeriod(1);
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    ::WaitForSingleObject(ack, 20000); // the waiter is ready

    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> latencies;
    latencies.reserve(count);
    LARGE_INTEGER due;
    due.QuadPart = -10LL * periodUs;
    ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
    for (long i = 0; i < count; ++i) {
        ::WaitForSingleObject(timer, INFINITE);
        ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
        shared->signalled = Now();
        ::SetEvent(go);
        if (::WaitForSingleObject(ack, 10000) != WAIT_OBJECT_0) {
            break;
        }
        latencies.push_back(static_cast<double>(shared->woke - shared->signalled) * 1e6 /
                            static_cast<double>(frequency.QuadPart));
    }
    ::timeEndPeriod(1);
    ::WaitForSingleObject(child.hProcess, 10000);
    ::CloseHandle(child.hProcess);
    if (latencies.empty()) {
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies[static_cast<size_t>(q * (latencies.size() - 1))]; };
    std::printf("%.1f %.1f %.1f %zu\n", at(0.5), at(0.99), latencies.back(), latencies.size());
    return 0;
}
