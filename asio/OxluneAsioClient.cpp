#include "asio/OxluneAsioClient.h"

OxluneStatus OxluneAsioClient::GetAsioStreamInfo(AsioStreamInfo& info)
{
    return IoControl(OXLUNE_IOCTL_GET_ASIO_STREAM_INFO, nullptr, 0, &info, sizeof(info));
}

OxluneStatus OxluneAsioClient::GetAsioChannelMap(AsioChannelMap& map)
{
    return IoControl(OXLUNE_IOCTL_GET_ASIO_CHANNEL_MAP, nullptr, 0, &map, sizeof(map));
}

OxluneStatus OxluneAsioClient::GetAsioChannelInfo(uint32_t key0, uint32_t key1, OxluneChannelInfo& info)
{
    const OxluneChannelKey key{key0, key1};
    return IoControl(OXLUNE_IOCTL_GET_ASIO_CHANNEL_INFO, &key, sizeof(key), &info, sizeof(info));
}

OxluneStatus OxluneAsioClient::GetAsioLatencies(AsioLatencyInfo& latencies)
{
    return IoControl(OXLUNE_IOCTL_GET_ASIO_LATENCIES, nullptr, 0, &latencies, sizeof(latencies));
}

OxluneStatus OxluneAsioClient::EnableAsioChannel(uint32_t key0, uint32_t key1)
{
    const OxluneChannelKey key{key0, key1};
    return IoControl(OXLUNE_IOCTL_ENABLE_ASIO_CHANNEL, &key, sizeof(key), nullptr, 0);
}

OxluneStatus OxluneAsioClient::DisableAsioChannel(uint32_t key0, uint32_t key1)
{
    const OxluneChannelKey key{key0, key1};
    return IoControl(OXLUNE_IOCTL_DISABLE_ASIO_CHANNEL, &key, sizeof(key), nullptr, 0);
}

OxluneStatus OxluneAsioClient::RegisterAsioSwitch(const AsioSwitchRegistration& registration)
{
    return IoControl(OXLUNE_IOCTL_REGISTER_ASIO_SWITCH, &registration, sizeof(registration), nullptr, 0);
}

OxluneStatus OxluneAsioClient::UnregisterAsioSwitch()
{
    return IoControl(OXLUNE_IOCTL_UNREGISTER_ASIO_SWITCH, nullptr, 0, nullptr, 0);
}

OxluneStatus OxluneAsioClient::AttachAsioBuffer(const AsioChannelBufferInfo& buffer)
{
    return IoControl(OXLUNE_IOCTL_ATTACH_ASIO_BUFFER, &buffer, sizeof(buffer), nullptr, 0);
}

OxluneStatus OxluneAsioClient::StartAsioStreaming()
{
    return IoControl(OXLUNE_IOCTL_START_ASIO_STREAMING, nullptr, 0, nullptr, 0);
}

OxluneStatus OxluneAsioClient::StopAsioStreaming()
{
    return IoControl(OXLUNE_IOCTL_STOP_ASIO_STREAMING, nullptr, 0, nullptr, 0);
}
