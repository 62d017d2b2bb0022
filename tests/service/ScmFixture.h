#pragma once
#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

// Tests that install the real service "kuvosvc" under the service control manager. They
// run one at a time (a ctest resource lock) and leave no service installed.
class ScmFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Stops (ending a service that ignores stop), deletes and waits until the manager
    // has forgotten the service; also removes its event source and the test settings.
    static void RemoveService();
    // Polls the service's state until it is state (hang guard timeoutMs).
    static bool WaitForState(DWORD state, uint32_t timeoutMs, SERVICE_STATUS_PROCESS* last = nullptr);
    static bool QueryStatus(SERVICE_STATUS_PROCESS* status);
    static bool ServiceExists();
    static bool ServiceKeyExists();
    // Signals the stop-ignoring test service to end.
    static void EndStubbornService();
    // Sets or clears the simulator device name that the service reads at start.
    static void SetServiceDeviceName(const std::wstring& name);

    RunResult Svc(const std::wstring& arguments) { return RunProgram(svcPath, arguments); }

    std::wstring svcPath;
};

extern const wchar_t kEventSourceKey[];
