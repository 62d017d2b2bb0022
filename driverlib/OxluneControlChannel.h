#pragma once
#include <windows.h>

#include <cstdint>

// The one way down to the kernel driver: open a control device by name, issue an I/O
// control request that completes through the caller's event, close. Nothing above the
// API context knows which implementation it talks to.
class OxluneControlChannel {
public:
    virtual ~OxluneControlChannel() = default;

    // Result: 0 or the system's error code.
    virtual uint32_t Open(const wchar_t* name) = 0;
    // Issues one request and waits for its completion on completionEvent (manual-reset).
    // The returned byte count is stored also when the request failed after completion.
    virtual uint32_t IoControl(uint32_t code, const void* inBuffer, uint32_t inSize, void* outBuffer,
                               uint32_t outSize, uint32_t* bytesReturned, HANDLE completionEvent) = 0;
    virtual void Close() = 0;
};

// Which channel an API context opens.
enum class OxluneChannelKind {
    Automatic, // the simulator while HKLM enables it, else the real device
    Device,
    Simulator,
};

// True while the REG_DWORD "DeviceSimulator" under HKLM\Software\BRAKMOOR\kuvo is 1.
bool OxluneSimulatorEnabled();
