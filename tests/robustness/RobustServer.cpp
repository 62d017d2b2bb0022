// robustserver NAME [echo]: the library server's receive loop in a process of its own, as
// the service runs it; with "echo" it answers change requests with the echo protocol.
// Runs until it is ended by its process handle.
#include "RobustEcho.h"

#include "winsupport/WnEvent.h"

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>

namespace {
// When the test created "<name>-count", "<name>-counted" and the mapping "<name>-handles",
// every signal of the first is answered with this process's handle count in the mapping.
void ServeHandleCount(const std::wstring& name)
{
    HANDLE ask = ::OpenEventW(SYNCHRONIZE, FALSE, (name + L"-count").c_str());
    HANDLE answered = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"-counted").c_str());
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, (name + L"-handles").c_str());
    void* view = mapping != nullptr ? ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DWORD)) : nullptr;
    if (ask == nullptr || answered == nullptr || view == nullptr) {
        return; // not asked for: nothing to serve (the handles stay with the process)
    }
    std::thread([ask, answered, view] {
        while (::WaitForSingleObject(ask, INFINITE) == WAIT_OBJECT_0) {
            *static_cast<volatile DWORD*>(view) = OwnHandleCount();
            ::SetEvent(answered);
        }
    }).detach();
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: robustserver NAME [echo]\n");
        return 2;
    }
    std::unique_ptr<OxluneServer> server;
    if (argc > 2 && std::wcscmp(argv[2], L"echo") == 0) {
        server = std::make_unique<RobustEchoServer>(argv[1]);
    } else {
        server = std::make_unique<NamedServer>(argv[1]);
    }
    ServeHandleCount(argv[1]);
    WnEvent stop;
    WnEvent deviceChange;
    stop.Create(true, false);
    deviceChange.Create(false, false);
    server->Run(stop.Get(), deviceChange.Get());
    return 0;
}
