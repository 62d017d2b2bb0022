// robustclient NAME COUNT SEED: a client process of the load test. Sends COUNT random
// requests and checks that each gets exactly one reply that matches it. Exit code 0 when
// all did, 1 on a mismatch or a lost reply, 3 when it could not connect.
#include "RobustEcho.h"

#include "driverlib/OxluneCplClient.h"

#include <cstdio>
#include <cwchar>
#include <random>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: robustclient NAME COUNT SEED\n");
        return 2;
    }
    const unsigned long count = std::wcstoul(argv[2], nullptr, 10);
    std::mt19937 random(static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 10)));
    OxluneCplClient client;
    if (client.ConnectPanel(argv[1]) != 0) {
        return 3;
    }
    unsigned long lost = 0;
    unsigned long mismatched = 0;
    for (unsigned long i = 0; i < count; ++i) {
        OxluneMessage request;
        RandomRequest(random, &request);
        OxluneMessage reply;
        if (client.Request(request, &reply, 30000) != 0) {
            ++lost;
        } else if (!ReplyMatches(request, reply)) {
            ++mismatched;
        }
    }
    // A duplicate would still wait in the queue.
    OxluneMessage extra;
    unsigned long duplicates = 0;
    while (client.ReceiveMessage(&extra) == 0) {
        if (extra.type == OXLUNE_MSG_TYPE_REPLY) {
            ++duplicates;
        }
    }
    std::printf("requests=%lu lost=%lu mismatched=%lu duplicates=%lu\n", count, lost, mismatched, duplicates);
    return lost == 0 && mismatched == 0 && duplicates == 0 ? 0 : 1;
}
