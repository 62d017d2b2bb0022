#pragma once
// What distinguishes this build of the ASIO driver: the name it reports, the control
// device it opens and how it brings up the control panel.
#include "asio/AsioInterface.h"

#include <cstdint>

class AsioCustom {
public:
    virtual ~AsioCustom() = default;
    virtual const wchar_t* driverName();
    virtual const wchar_t* interfaceName();
    // directory ends with a backslash. Starts the control panel without waiting.
    virtual ASIOError launchControlPanel(HMODULE moduleHandle, const wchar_t* directory);

    // The command line that starts the control panel from directory; false (and an
    // empty buffer) when it does not fit into capacity characters.
    static bool FormatCommandLine(const wchar_t* directory, wchar_t* buffer, uint32_t capacity);
};

AsioCustom* CreateAsioCustom();

// The program started by controlPanel and its option.
inline constexpr wchar_t kAsioControlPanelProgram[] = L"oxlunecpl.exe";
inline constexpr wchar_t kAsioControlPanelOption[] = L"-asio";
inline constexpr wchar_t kAsioDriverDescription[] = L"Kuvo ASIO Driver";
// While the device simulator is enabled, this environment variable names the control
// device instead of the kernel driver's, so that test hosts can pick their simulator.
inline constexpr wchar_t kAsioDeviceOverrideVariable[] = L"KUVO_ASIO_DEVICE";
