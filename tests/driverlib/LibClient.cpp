// The client process of the end-to-end test: connects as the control panel's main client
// to the control device NAME, asks the server for the sample rate RATE, prints the reply's
// status by name and exits with the status itself.
//   libclient NAME RATE [TIMEOUT_MS]
#include "driverlib/OxluneCplClient.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: libclient NAME RATE [TIMEOUT_MS]\n");
        return 2;
    }
    const uint32_t rate = static_cast<uint32_t>(std::wcstoul(argv[2], nullptr, 10));
    const uint32_t timeoutMs =
        argc > 3 ? static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 10)) : kOxluneDefaultRequestTimeoutMs;
    OxluneCplClient client;
    OxluneStatus status = client.ConnectPanel(argv[1]);
    if (status == 0) {
        status = client.SetSampleRate(rate, timeoutMs);
    }
    std::printf("%s\n", StatusName(status));
    return static_cast<int>(status);
}
