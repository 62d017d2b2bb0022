#pragma once
#include <cstdint>

// Settings of the service under HKEY_LOCAL_MACHINE\Software\BRAKMOOR\kuvo. A service
// inherits no environment, so tests and the demo configure it here.
inline constexpr wchar_t kServiceSettingsKey[] = L"Software\\BRAKMOOR\\kuvo";
// REG_SZ: the control device name that the service serves instead of the interface GUID.
// Honoured only while the device simulator is enabled (DeviceSimulator = 1).
inline constexpr wchar_t kSimulatorDeviceNameValue[] = L"SimulatorDeviceName";

// Fills name (capacity characters, terminated) and returns true when the simulator is
// enabled and a non-empty name is set; otherwise the buffer is empty and the result false.
bool ReadSimulatorDeviceName(wchar_t* name, uint32_t capacity);
