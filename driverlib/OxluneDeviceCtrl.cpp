#include "driverlib/OxluneDeviceCtrl.h"

const wchar_t* OxluneDeviceCtrl::GetSerial()
{
    return Record().serialNumber;
}

OxluneStatus OxluneDeviceCtrl::BeforeTransition(uint32_t, uint32_t, uint32_t)
{
    return 0;
}

void OxluneDeviceCtrl::AfterTransition(uint32_t, uint32_t, uint32_t) {}

void OxluneDeviceCtrl::TransitionFailed(uint32_t, uint32_t, OxluneStatus) {}

void OxluneDeviceCtrl::OnDeviceEvent() {}

void OxluneDeviceCtrl::OnDeviceNotice1(uint32_t) {}

void OxluneDeviceCtrl::OnDeviceNotice2(uint32_t) {}

OxluneStatus OxluneDeviceCtrl::OnSetDsdMode(bool)
{
    return 0;
}

OxluneStatus OxluneDeviceCtrl::PrepareStart()
{
    return 0;
}
