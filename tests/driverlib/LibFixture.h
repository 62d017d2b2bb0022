#pragma once
// Shared pieces of the driver access library tests: an in-process simulator with its
// kernel model under a name of its own, a raw server connection for the message tests,
// and a bounded wait for conditions another thread or process brings about.
#include "driverlib/OxluneDriver.h"
#include "driverlib/OxluneRequests.h"
#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

// Hang guard only: generous, never a timing assertion.
constexpr DWORD kGuardMs = 30000;

// Polls condition until it holds or the guard expires.
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

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        name = SimUniqueName(L"lib");
        ASSERT_EQ(0u, sim.Start(name));
        sim.Kernel().SetHardwareTimeMs(0);
    }

    // Plugs a device with the serial; returns its key.
    void Plug(const std::string& serial, uint32_t* key0 = nullptr, uint32_t* key1 = nullptr,
              const std::string& options = "")
    {
        const std::string answer = sim.Command("plug " + serial + (options.empty() ? "" : " " + options));
        ASSERT_EQ(0u, answer.rfind("ok", 0)) << answer;
        unsigned long k0 = 0, k1 = 0;
        ASSERT_EQ(2, std::sscanf(answer.c_str(), "ok %lx %lx", &k0, &k1)) << answer;
        if (key0 != nullptr) {
            *key0 = static_cast<uint32_t>(k0);
        }
        if (key1 != nullptr) {
            *key1 = static_cast<uint32_t>(k1);
        }
    }

    void Command(const std::string& line)
    {
        const std::string answer = sim.Command(line);
        ASSERT_EQ(0u, answer.rfind("ok", 0)) << line << ": " << answer;
    }

    SimDriver sim;
    std::wstring name;
};

// A connection registered as server that the test drives by hand.
class RawServer : public OxluneDriver {
public:
    OxluneStatus Start(const wchar_t* name)
    {
        OxluneStatus status = Connect(name, true, true);
        return status != 0 ? status : Register(OXLUNE_ROLE_SERVER);
    }
    // Waits for the next request (type 1) in the message queue.
    bool WaitRequest(OxluneMessage* request)
    {
        const ULONGLONG end = ::GetTickCount64() + kGuardMs;
        for (;;) {
            while (ReceiveMessage(request) == 0) {
                if (request->type == OXLUNE_MSG_TYPE_REQUEST) {
                    return true;
                }
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now >= end || ::WaitForSingleObject(MessageEvent(), static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) {
                return false;
            }
        }
    }
    OxluneStatus Answer(const OxluneMessage& request, OxluneStatus result, uint32_t sequence,
                        uint32_t code = OXLUNE_MSG_REPLY)
    {
        OxluneMessage reply;
        reply.InitReply(request, result);
        reply.sequence = sequence;
        reply.code = code;
        return SendMessage(reply);
    }
};
