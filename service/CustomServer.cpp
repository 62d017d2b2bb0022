#include "service/CustomServer.h"

#include "service/CustomDevice.h"
#include "service/ServiceConfiguration.h"
#include "winsupport/WnText.h"

#include <new>

CustomServer::CustomServer()
{
    m_name[0] = L'\0';
    m_ownName = ReadSimulatorDeviceName(m_name, 100);
}

CustomServer::~CustomServer() = default;

std::unique_ptr<OxluneDevice> CustomServer::CreateDevice()
{
    return std::unique_ptr<OxluneDevice>(new (std::nothrow) CustomDevice(GetRegistryPath()));
}

const wchar_t* CustomServer::GetControlDeviceName()
{
    return m_ownName ? m_name : OxluneServer::GetControlDeviceName();
}

void CustomServer::SetControlDeviceName(const wchar_t* name)
{
    CopyText(m_name, name, 100);
    m_ownName = m_name[0] != L'\0';
}

OxluneStatus CustomServer::HandleOtherRequest(const OxluneMessage& request, OxluneMessage& reply)
{
    switch (request.code) {
    case OXLUNE_MSG_SET_WDM_CONFIGURATION:
        return SetWdmConfiguration(request);
    case OXLUNE_MSG_GET_WDM_CONFIGURATION:
        return GetWdmConfiguration(request, reply);
    default:
        return OXLUNE_STATUS_INVALID_COMMAND;
    }
}

OxluneStatus CustomServer::ReadConfigurationPayload(const OxluneMessage& request,
                                                    OxluneWdmConfigurationPayload* record, CustomDevice** device)
{
    *record = OxluneWdmConfigurationPayload{};
    uint32_t size = sizeof(*record);
    const OxluneStatus status = request.GetPayload(record, &size);
    if (status != 0) {
        return status;
    }
    if (size < sizeof(*record)) {
        return OXLUNE_STATUS_INVALID_MSG_SIZE;
    }
    *device = dynamic_cast<CustomDevice*>(FindDevice(record->key0, record->key1));
    return *device != nullptr ? 0 : OXLUNE_STATUS_OBJECT_NOT_FOUND;
}

OxluneStatus CustomServer::SetWdmConfiguration(const OxluneMessage& request)
{
    OxluneWdmConfigurationPayload record;
    CustomDevice* device = nullptr;
    OxluneStatus status = ReadConfigurationPayload(request, &record, &device);
    if (status != 0) {
        return status;
    }
    // Only the configuration 0, 0 exists.
    if (record.renderConfiguration != 0 || record.captureConfiguration != 0) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    OxluneStreamingStatus streaming{};
    status = GetStreamingStatus(&streaming);
    if (status != 0) {
        return status;
    }
    if (streaming.exclusiveUseCount != 0) {
        return OXLUNE_STATUS_SOUND_DEVICE_IN_USE;
    }
    status = BringDown(0);
    if (status != 0) {
        return status;
    }
    device->ApplyWdmConfiguration(record);
    return BringUp(0);
}

OxluneStatus CustomServer::GetWdmConfiguration(const OxluneMessage& request, OxluneMessage& reply)
{
    OxluneWdmConfigurationPayload record;
    CustomDevice* device = nullptr;
    const OxluneStatus status = ReadConfigurationPayload(request, &record, &device);
    if (status != 0) {
        return status;
    }
    record.renderConfiguration = device->renderConfiguration;
    record.captureConfiguration = device->captureConfiguration;
    reply.code = OXLUNE_MSG_WDM_CONFIGURATION_REPLY;
    return reply.SetPayload(&record, sizeof(record));
}
