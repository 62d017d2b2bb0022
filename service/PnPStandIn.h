#pragma once
#include <cstdint>

// The stand-in for the PnP manager while the device simulator is in use.
//
// Windows announces the arrival of the driver's control device interface to a service
// as SERVICE_CONTROL_DEVICEEVENT. A simulated device has no PnP manager behind it, and
// the device event cannot be sent from another process, so the simulator sends this
// user-defined control code instead (and WM_DEVICECHANGE to the top-level windows).
// The service takes the code for an arrival only while HKLM\Software\BRAKMOOR\kuvo
// DeviceSimulator is 1; otherwise it is an unknown control and ignored.
constexpr uint32_t kSimulatedArrivalControl = 0xC9; // user-defined range 128..255

// True when control is the simulator's arrival announcement and the simulator is enabled.
bool IsSimulatedArrivalControl(uint32_t control);
