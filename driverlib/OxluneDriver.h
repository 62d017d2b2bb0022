#pragma once
#include "driverlib/OxluneApiContext.h"
#include "driverlib/OxluneDevice.h"
#include "driverlib/OxluneMessage.h"
#include "driverlib/OxluneRecords.h"
#include "winsupport/WnEvent.h"

#include <cstdint>
#include <memory>
#include <vector>

// A connection to the kernel driver as a whole: its two signalling events, its role, the
// list of connected devices, the message queues and the driver-wide queries.
class OxluneDriver : public OxluneApiContext {
public:
    OxluneDriver();
    ~OxluneDriver() override;

    // Factory of device objects: a new, unopened device.
    virtual std::unique_ptr<OxluneDevice> CreateDevice();

    // Connection.
    OxluneStatus Connect(const wchar_t* name, bool withMessageEvent, bool withNotificationEvent);
    void Disconnect();
    OxluneStatus SetEvents(HANDLE messageEvent, HANDLE notificationEvent);
    OxluneStatus Register(uint32_t role);
    OxluneStatus ConnectPanel(const wchar_t* name);
    OxluneStatus ConnectPanelWindow(const wchar_t* name);
    OxluneStatus ConnectMixerWindow(const wchar_t* name);

    HANDLE MessageEvent() const { return m_messageEvent.Get(); }
    HANDLE NotificationEvent() const { return m_notificationEvent.Get(); }
    // The name given to the last connect; the device objects are opened with it.
    const wchar_t* ConnectedName() const { return m_name; }

    // Devices. The list is changed only by RefreshDevices on the owning thread.
    OxluneStatus QueryDevices(OxluneDeviceList* list);
    OxluneStatus RefreshDevices(bool* changed);
    OxluneDevice* FindDevice(uint32_t key0, uint32_t key1) const;
    uint32_t GetDeviceCount() const { return static_cast<uint32_t>(m_devices.size()); }
    OxluneDevice* GetDevice(uint32_t index) const;

    // Messages. A received record whose header or length does not hold together is
    // delivered as type 0 (nothing), so every receive loop drops it.
    OxluneStatus SendMessage(const OxluneMessage& message);
    OxluneStatus ReceiveMessage(OxluneMessage* message);
    OxluneStatus ReceiveNotification(OxluneMessage* message);
    OxluneStatus NextNotification(OxluneMessage* message);
    OxluneStatus FlushNotifications();

    // Driver-wide queries. Counts in the replies are clamped to their tables.
    OxluneStatus GetInputChannels(OxluneChannelList* list);
    OxluneStatus GetOutputChannels(OxluneChannelList* list);
    OxluneStatus GetChannelInfo(uint32_t key0, uint32_t key1, OxluneChannelInfo* info);
    OxluneStatus GetSampleRates(OxluneSampleRates* rates);
    OxluneStatus GetBufferSizes(OxluneBufferSizes* sizes);
    OxluneStatus GetStreamingStatus(OxluneStreamingStatus* status);
    OxluneStatus GetErrorCounters(OxluneErrorCounters* counters);
    OxluneStatus GetPolicy(uint32_t* policy);

protected:
    OxluneStatus Receive(uint32_t code, OxluneMessage* message);
    void SetConnectedName(const wchar_t* name);
    OxluneStatus ConnectWithoutEvents(const wchar_t* name, uint32_t role);

    std::vector<std::unique_ptr<OxluneDevice>> m_devices;
    WnEvent m_messageEvent;
    WnEvent m_notificationEvent;
    wchar_t m_name[100];
};
