#pragma once
#include "driverlib/OxluneControlChannel.h"

#include <memory>

// The device simulator: the same requests, carried over the message-mode named pipe
// "\\.\pipe\<name>". Used only while HKLM enables the simulator.
class OxluneSimulatorChannel final : public OxluneControlChannel {
public:
    ~OxluneSimulatorChannel() override { Close(); }
    uint32_t Open(const wchar_t* name) override;
    uint32_t IoControl(uint32_t code, const void* inBuffer, uint32_t inSize, void* outBuffer, uint32_t outSize,
                       uint32_t* bytesReturned, HANDLE completionEvent) override;
    void Close() override;

private:
    uint32_t Transfer(bool write, void* buffer, uint32_t size, uint32_t* transferred, HANDLE completionEvent);

    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    // One buffer per open, so that a request allocates nothing.
    std::unique_ptr<unsigned char[]> m_buffer;
};
