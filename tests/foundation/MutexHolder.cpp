// Creates the named mutex given on the command line, signals the named ready event and
// keeps the mutex until its standard input closes or 30 s pass.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        return 2;
    }
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, argv[1]);
    HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (mutex == nullptr || ready == nullptr) {
        return 1;
    }
    ::SetEvent(ready);
    ::Sleep(30000);
    return 0;
}
