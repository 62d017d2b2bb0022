// Compiles the control channel's records and request codes on every target, so their
// layout checks run in every build.
#include "driverlib/OxluneMessage.h"
#include "driverlib/OxluneRecords.h"
#include "driverlib/OxluneRequests.h"
