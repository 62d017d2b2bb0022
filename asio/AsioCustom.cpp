#include "asio/AsioCustom.h"

#include "driverlib/OxluneControlChannel.h"
#include "driverlib/OxluneIoctl.h"
#include "winsupport/WnText.h"

#include <new>

namespace {
constexpr uint32_t kCommandLineCapacity = 260;
constexpr uint32_t kDeviceNameCapacity = 100;
} // namespace

const wchar_t* AsioCustom::driverName()
{
    return kAsioDriverDescription;
}

const wchar_t* AsioCustom::interfaceName()
{
    // One name per process is enough: every driver object of a host talks to the same device.
    static wchar_t overrideName[kDeviceNameCapacity];
    if (OxluneSimulatorEnabled()) {
        const DWORD length = ::GetEnvironmentVariableW(kAsioDeviceOverrideVariable, overrideName, kDeviceNameCapacity);
        if (length > 0 && length < kDeviceNameCapacity) {
            return overrideName;
        }
    }
    return kOxluneControlDeviceName;
}

bool AsioCustom::FormatCommandLine(const wchar_t* directory, wchar_t* buffer, uint32_t capacity)
{
    if (buffer == nullptr || capacity == 0) {
        return false;
    }
    if (directory == nullptr ||
        FormatText(buffer, capacity, L"\"%s%s\" %s", directory, kAsioControlPanelProgram, kAsioControlPanelOption) != 0) {
        // A cut path would start some other program, or none; never start a truncated one.
        buffer[0] = L'\0';
        return false;
    }
    return true;
}

ASIOError AsioCustom::launchControlPanel(HMODULE /*moduleHandle*/, const wchar_t* directory)
{
    wchar_t commandLine[kCommandLineCapacity] = {};
    if (!FormatCommandLine(directory, commandLine, kCommandLineCapacity)) {
        return ASE_OK;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                         &startup, &process)) {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    return ASE_OK;
}

AsioCustom* CreateAsioCustom()
{
    return new (std::nothrow) AsioCustom();
}
