#include "service/PnPStandIn.h"

#include "driverlib/OxluneControlChannel.h"

bool IsSimulatedArrivalControl(uint32_t control)
{
    return control == kSimulatedArrivalControl && OxluneSimulatorEnabled();
}
