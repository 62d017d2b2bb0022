#pragma once
// The ASIO driver's connection to the kernel driver: a client (role 1) with the requests
// of the ASIO streaming family. Each operation issues exactly one request.
#include "asio/AsioRecords.h"
#include "driverlib/OxluneClient.h"

class OxluneAsioClient : public OxluneClient {
public:
    OxluneAsioClient() = default;
    ~OxluneAsioClient() override = default;

    OxluneStatus GetAsioStreamInfo(AsioStreamInfo& info);
    OxluneStatus GetAsioChannelMap(AsioChannelMap& map);
    OxluneStatus GetAsioChannelInfo(uint32_t key0, uint32_t key1, OxluneChannelInfo& info);
    OxluneStatus GetAsioLatencies(AsioLatencyInfo& latencies);
    OxluneStatus EnableAsioChannel(uint32_t key0, uint32_t key1);
    OxluneStatus DisableAsioChannel(uint32_t key0, uint32_t key1);
    OxluneStatus RegisterAsioSwitch(const AsioSwitchRegistration& registration);
    OxluneStatus UnregisterAsioSwitch();
    OxluneStatus AttachAsioBuffer(const AsioChannelBufferInfo& buffer);
    OxluneStatus StartAsioStreaming();
    OxluneStatus StopAsioStreaming();
};
