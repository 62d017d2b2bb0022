#pragma once
// An in-process simulator with its kernel model, under a name of its own.
#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"
#include "SimTestClient.h"

#include <gtest/gtest.h>

#include <string>

class SimKernelFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.Kernel().SetHardwareTimeMs(0);
        ASSERT_EQ(0u, sim.Start(name));
    }
    // Plugs a device by the control command and returns its key.
    OxluneChannelKey Plug(const std::string& serialAndOptions)
    {
        const std::string answer = sim.Command("plug " + serialAndOptions);
        OxluneChannelKey key{};
        EXPECT_EQ(0u, answer.rfind("ok ", 0)) << answer;
        if (answer.rfind("ok ", 0) == 0) {
            const size_t space = answer.find(' ', 3);
            SimParseNumber(answer.substr(3, space - 3), &key.key0);
            SimParseNumber(answer.substr(space + 1), &key.key1);
        }
        return key;
    }

    SimDriver sim;
    // Made first, so that the clients of derived fixtures can be members.
    std::wstring name = SimUniqueName(L"kern");
};
