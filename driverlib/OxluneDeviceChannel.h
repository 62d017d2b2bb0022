#pragma once
#include "driverlib/OxluneControlChannel.h"

// The real control device: CreateFileW of "\\.\<name>" and DeviceIoControl.
class OxluneDeviceChannel final : public OxluneControlChannel {
public:
    ~OxluneDeviceChannel() override { Close(); }
    uint32_t Open(const wchar_t* name) override;
    uint32_t IoControl(uint32_t code, const void* inBuffer, uint32_t inSize, void* outBuffer, uint32_t outSize,
                       uint32_t* bytesReturned, HANDLE completionEvent) override;
    void Close() override;

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
