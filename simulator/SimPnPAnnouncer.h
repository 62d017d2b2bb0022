#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

class SimKernel;

// What the PnP manager does when the driver's control device interface arrives (a device
// plugged into an empty system, the simulator started with devices) or goes away (the last
// device unplugged), for a simulated device that has no PnP manager behind it:
//  - WM_DEVICECHANGE with a DEV_BROADCAST_DEVICEINTERFACE_W for the interface class to the
//    top-level windows (the control panel, the service's console-mode window);
//  - on arrival, the user-defined control kSimulatedArrivalControl to the service "kuvosvc",
//    which takes it for a device arrival while the simulator is enabled.
class SimPnPAnnouncer {
public:
    SimPnPAnnouncer(SimKernel& kernel, const std::wstring& name);
    SimPnPAnnouncer(const SimPnPAnnouncer&) = delete;
    SimPnPAnnouncer& operator=(const SimPnPAnnouncer&) = delete;

    // Listens to the kernel's plugs and unplugs; announces an arrival at once when devices
    // are already present.
    void Start();
    // Announces one arrival or removal now.
    void Announce(bool arrival);

private:
    void OnDeviceCount(size_t before, size_t after);

    SimKernel& m_kernel;
    std::wstring m_name;
};
