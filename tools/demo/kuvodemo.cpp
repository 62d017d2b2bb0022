// The demo: the main job of the package, run against the device simulator.
#include "DemoAsio.h"
#include "DemoDriverLibrary.h"
#include "DemoService.h"
#include "driverlib/OxluneApiContext.h"
#include "driverlib/OxluneStatus.h"
#include "simulator/SimDriver.h"
#include "simulator/SimProcess.h"

#include <cstdio>

int wmain()
{
    if (!OxluneSimulatorEnabled()) {
        std::printf("The device simulator is not enabled (HKLM\\Software\\BRAKMOOR\\kuvo, DeviceSimulator=1).\n");
        return 1;
    }
    const std::wstring name = SimUniqueName(L"demo");
    SimProcess simulator;
    uint32_t error = simulator.Start(name);
    if (error != 0) {
        std::printf("Starting the simulator failed (error %lu).\n", static_cast<unsigned long>(error));
        return 1;
    }
    std::printf("Simulator started: control device %ls, process %lu.\n", name.c_str(),
                static_cast<unsigned long>(simulator.ProcessId()));

    OxluneApiContext context;
    OxluneStatus status = context.Open(name.c_str());
    std::printf("Open: %s\n", StatusName(status));
    if (status != 0) {
        return 1;
    }
    OxluneVersionInfo info{};
    status = context.GetVersionInfo(&info);
    if (status != 0) {
        std::printf("GetVersionInfo: %s\n", StatusName(status));
        return 1;
    }
    std::printf("Interface version %u.%u, driver version %u.%u.%u, %s build\n", info.interfaceMajor,
                info.interfaceMinor, info.driverMajor, info.driverMinor, info.driverBuild,
                (info.flags & OXLUNE_VERSION_FLAG_DEBUG) != 0 ? "debug" : "release");

    std::printf("Statuses by name:\n");
    const OxluneStatus samples[] = {OXLUNE_STATUS_SUCCESS, OXLUNE_STATUS_NO_DEVICES, OXLUNE_STATUS_TIMEOUT,
                                    OXLUNE_STATUS_SOUND_DEVICE_IN_USE, OXLUNE_STATUS_PENDING, 5};
    for (OxluneStatus sample : samples) {
        std::printf("  0x%08X  %s\n", sample, StatusName(sample));
    }
    wchar_t text[256];
    FormatStatusText(text, 256, L"Changing the sample rate failed.", OXLUNE_STATUS_NO_DEVICES);
    std::printf("User text:\n%ls\n", text);

    context.Close();
    const int libraryResult = RunDriverLibraryDemo(name, simulator);
    simulator.Stop();
    std::printf("Simulator stopped.\n");
    const int asioResult = RunAsioDemo();
    const int serviceResult = RunServiceDemo();
    return libraryResult != 0 ? libraryResult : asioResult != 0 ? asioResult : serviceResult;
}
