#include "ScmFixture.h"

#include "driverlib/OxluneCplClient.h"
#include "simulator/SimDriver.h"
#include "simulator/SimProcess.h"

#include <string>

namespace {

// The installed service (or a console instance) against a simulator process: requests
// answered by the service, disconnect when every device is gone, reconnect through the
// simulator's stand-in for the PnP manager.
class ServiceEndToEnd : public ScmFixture {
protected:
    void SetUp() override
    {
        ScmFixture::SetUp();
        name = SimUniqueName(L"svce2e");
        ASSERT_EQ(0u, sim.Start(name, L"--devices 1"));
        SetServiceDeviceName(name);
    }
    void TearDown() override
    {
        client.Disconnect();
        ScmFixture::TearDown();
        sim.Stop();
    }
    // Polls the model until a server is (or is not) registered; hang guard only.
    bool WaitForServer(bool registered)
    {
        for (int i = 0; i < 1200; ++i) {
            const std::string state = sim.Command("state");
            const bool none = state.find(" server=0 ") != std::string::npos;
            if (state.rfind("ok", 0) == 0 && none != registered) {
                return true;
            }
            ::Sleep(50);
        }
        return false;
    }
    void ChangeRateThroughTheServer(uint32_t rate)
    {
        if (!client.IsOpen()) {
            ASSERT_EQ(0u, client.ConnectPanel(name.c_str()));
        }
        EXPECT_EQ(0u, client.SetSampleRate(rate, 30000));
        EXPECT_NE(std::string::npos, sim.Command("state").find(" rate=" + std::to_string(rate) + " "));
    }
    void UnplugAndReplug()
    {
        ASSERT_EQ("ok", sim.Command("unplug all"));
        EXPECT_TRUE(WaitForServer(false)) << "the service stayed connected";
        ASSERT_EQ(0u, sim.Command("plug KV000042").rfind("ok", 0));
        EXPECT_TRUE(WaitForServer(true)) << "the service did not reconnect";
    }

    std::wstring name;
    SimProcess sim;
    OxluneCplClient client;
};

TEST_F(ServiceEndToEnd, InstalledServiceAnswersAndReconnectsAfterReplug)
{
    ASSERT_EQ(0u, Svc(L"-install").exitCode);
    ASSERT_EQ(0u, Svc(L"-start").exitCode);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 60000));
    ASSERT_TRUE(WaitForServer(true));
    ChangeRateThroughTheServer(96000);
    UnplugAndReplug();
    client.Disconnect();
    ChangeRateThroughTheServer(44100);
    const RunResult stop = Svc(L"-stop");
    EXPECT_EQ(0u, stop.exitCode);
    EXPECT_TRUE(WaitForServer(false));
}

TEST_F(ServiceEndToEnd, ConsoleInstanceReconnectsThroughItsNotificationWindow)
{
    ChildProcess console;
    ASSERT_EQ(0u, console.Start(svcPath, L"-console", CREATE_NEW_CONSOLE));
    ASSERT_TRUE(WaitForServer(true));
    ChangeRateThroughTheServer(88200);
    UnplugAndReplug();
    client.Disconnect();
    ChangeRateThroughTheServer(48000);

    // Ctrl+C in its console ends it cleanly.
    ::FreeConsole();
    ASSERT_TRUE(::AttachConsole(console.ProcessId())) << ::GetLastError();
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << ::GetLastError();
    ::FreeConsole();
    EXPECT_TRUE(console.Wait(30000));
    EXPECT_EQ(0u, console.ExitCode());
    EXPECT_TRUE(WaitForServer(false));
}

} // namespace
