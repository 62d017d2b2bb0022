#include "driverlib/OxluneApiContext.h"
#include "driverlib/OxluneIoctl.h"
#include "simulator/SimDriver.h"
#include "simulator/SimProcess.h"
#include "driverlib/OxluneSimulatorWire.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr uint32_t kEchoCode = OxluneIoctlCode(0x8FF);

// An in-process simulator under a name of its own, with an echo request for transport checks.
class ApiContextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.SetHandler(kEchoCode, [](SimConnection&, SimRequest& r) -> uint32_t {
            const uint32_t n = r.inSize < r.outCapacity ? r.inSize : r.outCapacity;
            std::memcpy(r.out, r.in, n);
            r.bytesReturned = n;
            return r.inSize > r.outCapacity ? OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE : 0;
        });
        name = SimUniqueName(L"ctx");
        ASSERT_EQ(0u, sim.Start(name));
        context.SetChannelKind(OxluneChannelKind::Simulator);
    }
    SimDriver sim;
    std::wstring name;
    OxluneApiContext context;
};

TEST_F(ApiContextTest, RequestOnAFreshObjectIsNotOpened)
{
    OxluneVersionInfo info{};
    uint32_t returned = 99;
    EXPECT_FALSE(context.IsOpen());
    EXPECT_EQ(OXLUNE_STATUS_NOT_OPENED, context.IoControl(kEchoCode, nullptr, 0, &info, sizeof(info), &returned));
    EXPECT_EQ(99u, returned); // the driver was not called
    EXPECT_EQ(OXLUNE_STATUS_NOT_OPENED, context.GetVersionInfo(&info));
}

TEST_F(ApiContextTest, SecondOpenIsRejectedAndTheFirstHandleStillWorks)
{
    ASSERT_EQ(0u, context.Open(name.c_str()));
    EXPECT_EQ(OXLUNE_STATUS_REJECTED, context.Open(name.c_str()));
    EXPECT_EQ(OXLUNE_STATUS_REJECTED, context.Open(L"some-other-name"));
    EXPECT_TRUE(context.IsOpen());
    OxluneVersionInfo info{};
    EXPECT_EQ(0u, context.GetVersionInfo(&info));
    EXPECT_EQ(2u, info.interfaceMajor);
    EXPECT_EQ(1u, sim.Connections().size());
}

TEST_F(ApiContextTest, OnlyMajorVersionTwoIsAccepted)
{
    struct Case {
        uint32_t major, minor;
        OxluneStatus expected;
    } cases[] = {
        {1, 0, OXLUNE_STATUS_VERSION_MISMATCH}, {3, 0, OXLUNE_STATUS_VERSION_MISMATCH},
        {1, 9, OXLUNE_STATUS_VERSION_MISMATCH}, {2, 0, 0}, {2, 7, 0}, {2, 0xFFFFFFFF, 0},
    };
    for (const Case& c : cases) {
        sim.SetVersion(c.major, c.minor, 1, 2, 3, 0);
        OxluneApiContext fresh;
        fresh.SetChannelKind(OxluneChannelKind::Simulator);
        EXPECT_EQ(c.expected, fresh.Open(name.c_str())) << c.major << "." << c.minor;
        EXPECT_EQ(c.expected == 0, fresh.IsOpen()) << c.major << "." << c.minor;
    }
    // A closed object can be opened again once the driver speaks the right version.
    sim.SetVersion(3, 0, 1, 2, 3, 0);
    EXPECT_EQ(OXLUNE_STATUS_VERSION_MISMATCH, context.Open(name.c_str()));
    sim.SetVersion(2, 0, 1, 2, 3, 0);
    EXPECT_EQ(0u, context.Open(name.c_str()));
}

TEST_F(ApiContextTest, FailingVersionRequestClosesWithItsStatus)
{
    sim.SetCompletion(OXLUNE_IOCTL_GET_VERSION_INFO, {SimCompletion::Mode::Fail, 0, OXLUNE_STATUS_NO_RESOURCES});
    EXPECT_EQ(OXLUNE_STATUS_NO_RESOURCES, context.Open(name.c_str()));
    EXPECT_FALSE(context.IsOpen());
}

TEST_F(ApiContextTest, ImmediateAndPendedCompletionsGiveTheSameResult)
{
    ASSERT_EQ(0u, context.Open(name.c_str()));
    const char input[] = "0123456789abcdef";
    struct Result {
        OxluneStatus status;
        uint32_t returned;
        char out[32];
    } results[2]{};
    for (int pended = 0; pended < 2; ++pended) {
        sim.SetCompletion(kEchoCode, {pended ? SimCompletion::Mode::Delay : SimCompletion::Mode::Normal, 150, 0});
        Result& r = results[pended];
        r.status = context.IoControl(kEchoCode, input, sizeof(input), r.out, sizeof(r.out), &r.returned);
    }
    EXPECT_EQ(0u, results[0].status);
    EXPECT_EQ(results[0].status, results[1].status);
    EXPECT_EQ(sizeof(input), results[0].returned);
    EXPECT_EQ(results[0].returned, results[1].returned);
    EXPECT_EQ(0, std::memcmp(results[0].out, results[1].out, sizeof(input)));

    // A failure after completion still reports the byte count.
    char small[4];
    uint32_t returned = 0;
    EXPECT_EQ(OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE,
              context.IoControl(kEchoCode, input, sizeof(input), small, sizeof(small), &returned));
    EXPECT_EQ(4u, returned);
}

TEST_F(ApiContextTest, UnknownRequestAndInjectedFailurePassTheStatusThrough)
{
    ASSERT_EQ(0u, context.Open(name.c_str()));
    EXPECT_EQ(OXLUNE_STATUS_INVALID_IOCTL, context.IoControl(OxluneIoctlCode(0x8FE), nullptr, 0, nullptr, 0));
    EXPECT_EQ("ok", sim.Command("complete 0x808823F8 fail 1167"));
    EXPECT_EQ(1167u, context.IoControl(OxluneIoctlCode(0x8FE), nullptr, 0, nullptr, 0));
    // Input beyond the wire's limit is refused before anything is sent.
    EXPECT_EQ(OXLUNE_STATUS_INVALID_INBUFFER_SIZE,
              context.IoControl(kEchoCode, "x", kOxluneWireMaxData + 1, nullptr, 0));
}

TEST_F(ApiContextTest, RequestsOfSeveralThreadsOnOneObjectAreSerialized)
{
    ASSERT_EQ(0u, context.Open(name.c_str()));
    sim.SetCompletion(kEchoCode, {SimCompletion::Mode::Delay, 5, 0});
    auto worker = [](void* argument) -> DWORD {
        auto* ctx = static_cast<OxluneApiContext*>(argument);
        for (uint32_t i = 0; i < 40; ++i) {
            uint32_t in = i ^ ::GetCurrentThreadId();
            uint32_t out = 0;
            uint32_t returned = 0;
            if (ctx->IoControl(kEchoCode, &in, 4, &out, 4, &returned) != 0 || returned != 4 || out != in) {
                return 1;
            }
        }
        return 0;
    };
    HANDLE threads[4];
    for (HANDLE& t : threads) {
        t = ::CreateThread(nullptr, 0, worker, &context, 0, nullptr);
        ASSERT_NE(nullptr, t);
    }
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(4, threads, TRUE, 60000));
    for (HANDLE t : threads) {
        DWORD code = 9;
        ::GetExitCodeThread(t, &code);
        EXPECT_EQ(0u, code);
        ::CloseHandle(t);
    }
}

TEST_F(ApiContextTest, SimulatorGoneFailsRequestsWithTheSystemCode)
{
    ASSERT_EQ(0u, context.Open(name.c_str()));
    sim.Stop();
    OxluneVersionInfo info{};
    const OxluneStatus status = context.GetVersionInfo(&info);
    EXPECT_NE(0u, status);
    EXPECT_STREQ("???", StatusName(status)); // a system code, passed through
    context.Close();
    EXPECT_EQ(2u, context.Open(name.c_str()));
}

TEST(ApiContextChannels, RealAbsentDeviceGivesTheSystemError)
{
    OxluneApiContext context;
    context.SetChannelKind(OxluneChannelKind::Device);
    EXPECT_EQ(2u, context.Open(kOxluneControlDeviceName));
    EXPECT_FALSE(context.IsOpen());
    EXPECT_EQ(OXLUNE_STATUS_NOT_OPENED, context.IoControl(kEchoCode, nullptr, 0, nullptr, 0));
}

TEST(ApiContextChannels, RegistryChoosesTheSimulatorAndASimulatorProcessServes)
{
    // The test prefix enables the simulator in HKLM.
    ASSERT_TRUE(OxluneSimulatorEnabled());
    SimProcess process;
    const std::wstring name = SimUniqueName(L"proc");
    ASSERT_EQ(0u, process.Start(name, L"--version 2.5"));
    EXPECT_EQ("ok", process.Command("version 2 5 4 3 2 1"));
    OxluneApiContext context;
    ASSERT_EQ(0u, context.Open(name.c_str()));
    OxluneVersionInfo info{};
    ASSERT_EQ(0u, context.GetVersionInfo(&info));
    EXPECT_EQ(5u, info.interfaceMinor);
    EXPECT_EQ(4u, info.driverMajor);
    EXPECT_EQ(1u, info.flags & OXLUNE_VERSION_FLAG_DEBUG);
    context.Close();
    process.Stop();
    EXPECT_EQ(nullptr, process.Process());
}

} // namespace
