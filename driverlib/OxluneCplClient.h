#pragma once
#include "driverlib/OxluneClient.h"

// The control panel's client: the main client (ConnectPanel, role 2) and the main
// window's connection (ConnectPanelWindow, role 3).
class OxluneCplClient : public OxluneClient {
public:
    OxluneCplClient() = default;
    ~OxluneCplClient() override = default;
};
