// A service that never stops on request: it acknowledges SERVICE_CONTROL_STOP and keeps
// running. The named event "kuvo-stubborn-service-quit" (or 120 s) ends it; the manager
// refuses every further control once a stop was sent. Installed by the tests under the
// service name given as the first argument.
#include <windows.h>

namespace {
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_quit = nullptr;
wchar_t g_name[256] = L"kuvosvc";

void Report(DWORD state)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Handler(DWORD, DWORD, void*, void*)
{
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_status = ::RegisterServiceCtrlHandlerExW(g_name, Handler, nullptr);
    if (g_status == nullptr) {
        return;
    }
    Report(SERVICE_RUNNING);
    ::WaitForSingleObject(g_quit, 120000);
    Report(SERVICE_STOPPED);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2) {
        lstrcpynW(g_name, argv[1], 256);
    }
    g_quit = ::CreateEventW(nullptr, TRUE, FALSE, L"kuvo-stubborn-service-quit");
    SERVICE_TABLE_ENTRYW table[] = {{g_name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
