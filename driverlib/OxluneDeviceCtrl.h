#pragma once
#include "driverlib/OxluneDevice.h"

#include <cstdint>

// The server's device object: hooks that the server calls at every streaming transition
// and for the driver's device notifications. Meant to be derived from.
class OxluneDeviceCtrl : public OxluneDevice {
public:
    OxluneDeviceCtrl() = default;
    ~OxluneDeviceCtrl() override = default;

    // Pointer to the record's serial number.
    virtual const wchar_t* GetSerial();
    virtual OxluneStatus BeforeTransition(uint32_t current, uint32_t target, uint32_t sampleRate);
    virtual void AfterTransition(uint32_t current, uint32_t target, uint32_t sampleRate);
    virtual void TransitionFailed(uint32_t current, uint32_t target, OxluneStatus status);
    virtual void OnDeviceEvent();
    virtual void OnDeviceNotice1(uint32_t value);
    virtual void OnDeviceNotice2(uint32_t value);
    virtual OxluneStatus OnSetDsdMode(bool on);
    virtual OxluneStatus PrepareStart();
};
