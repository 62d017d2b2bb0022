#pragma once
#include "driverlib/OxluneMessage.h"
#include "driverlib/OxluneServer.h"

#include <memory>

class CustomDevice;

// The service's server: the library's server role, with every device a CustomDevice and
// two requests of its own, set (11001) and get (11002) the WDM endpoint configuration.
class CustomServer : public OxluneServer {
public:
    CustomServer();
    ~CustomServer() override;

    std::unique_ptr<OxluneDevice> CreateDevice() override;
    OxluneStatus HandleOtherRequest(const OxluneMessage& request, OxluneMessage& reply) override;
    // The interface GUID, or the device simulator's name configured in the registry
    // (honoured only while the simulator is enabled; see ServiceConfiguration.h).
    const wchar_t* GetControlDeviceName() override;

    // For tests and tools that run the server under a name of their own.
    void SetControlDeviceName(const wchar_t* name);

    OxluneStatus SetWdmConfiguration(const OxluneMessage& request);
    OxluneStatus GetWdmConfiguration(const OxluneMessage& request, OxluneMessage& reply);

private:
    OxluneStatus ReadConfigurationPayload(const OxluneMessage& request, OxluneWdmConfigurationPayload* record,
                                          CustomDevice** device);

    wchar_t m_name[100];
    bool m_ownName = false;
};
