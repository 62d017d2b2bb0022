#include "driverlib/OxluneDriver.h"

#include "driverlib/OxluneRequests.h"
#include "winsupport/WnText.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {
constexpr uint32_t kNameCapacity = 100;

bool SameText(const wchar_t* a, const wchar_t* b, size_t capacity)
{
    // Both fields come from the driver: compare within the field, terminated or not.
    return std::wcsncmp(a, b, capacity) == 0;
}

bool SameDevice(const OxluneDeviceRecord& a, const OxluneDeviceRecord& b)
{
    return a.vendorId == b.vendorId && a.productId == b.productId &&
           SameText(a.serialNumber, b.serialNumber, sizeof(a.serialNumber) / sizeof(wchar_t));
}

uint64_t HandleWord(HANDLE handle)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

// A count from the driver, limited to the table and to the entries that arrived whole
// in the returned bytes (header bytes before the first entry).
uint32_t ClampCount(uint32_t count, uint32_t table, uint32_t returned, size_t header, size_t entry)
{
    const uint32_t arrived = returned < header ? 0 : static_cast<uint32_t>((returned - header) / entry);
    return std::min(count, std::min(table, arrived));
}

// A list reply: its count field must have arrived; the count is clamped as above.
OxluneStatus ClampList(OxluneStatus status, uint32_t returned, uint32_t* count, uint32_t table, size_t entry,
                       size_t header = sizeof(uint32_t))
{
    if (status != 0) {
        return status;
    }
    if (returned < header) {
        *count = 0;
        return OXLUNE_STATUS_LENGTH_MISMATCH;
    }
    *count = ClampCount(*count, table, returned, header, entry);
    return 0;
}

// A fixed record: a reply shorter than the record would leave stale fields behind.
OxluneStatus WholeRecord(OxluneStatus status, uint32_t returned, size_t size)
{
    return status == 0 && returned < size ? OXLUNE_STATUS_LENGTH_MISMATCH : status;
}

// A driver-wide query answered with one fixed record.
template <typename Record>
OxluneStatus QueryRecord(OxluneApiContext& context, uint32_t code, Record* record)
{
    if (record == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    // The request completes before its byte count is read.
    const OxluneStatus result = context.IoControl(code, nullptr, 0, record, sizeof(*record), &returned);
    return WholeRecord(result, returned, sizeof(*record));
}
} // namespace

OxluneDriver::OxluneDriver()
{
    std::memset(m_name, 0, sizeof(m_name));
}

OxluneDriver::~OxluneDriver()
{
    Disconnect();
    m_devices.clear();
}

std::unique_ptr<OxluneDevice> OxluneDriver::CreateDevice()
{
    return std::make_unique<OxluneDevice>();
}

void OxluneDriver::SetConnectedName(const wchar_t* name)
{
    CopyText(m_name, name, kNameCapacity);
}

OxluneStatus OxluneDriver::Connect(const wchar_t* name, bool withMessageEvent, bool withNotificationEvent)
{
    if (name == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    OxluneLockGuard guard(*this);
    if (IsOpen()) {
        return OXLUNE_STATUS_REJECTED;
    }
    SetConnectedName(name);
    OxluneStatus status = Open(m_name);
    if (status != 0) {
        return status;
    }
    if (withMessageEvent && m_messageEvent.Get() == nullptr) {
        status = m_messageEvent.Create(false, false);
        if (status != 0) {
            Close();
            return status;
        }
    }
    if (withNotificationEvent && m_notificationEvent.Get() == nullptr) {
        status = m_notificationEvent.Create(false, false);
        if (status != 0) {
            Close();
            return status;
        }
    }
    status = SetEvents(withMessageEvent ? m_messageEvent.Get() : nullptr,
                       withNotificationEvent ? m_notificationEvent.Get() : nullptr);
    if (status != 0) {
        Close();
        return status;
    }
    return 0;
}

void OxluneDriver::Disconnect()
{
    OxluneLockGuard guard(*this);
    if (IsOpen()) {
        SetEvents(nullptr, nullptr);
    }
    Close();
    m_messageEvent.Close();
    m_notificationEvent.Close();
}

OxluneStatus OxluneDriver::SetEvents(HANDLE messageEvent, HANDLE notificationEvent)
{
    const OxluneSetEventsInput input{HandleWord(messageEvent), HandleWord(notificationEvent)};
    return IoControl(OXLUNE_IOCTL_SET_EVENTS, &input, sizeof(input), nullptr, 0);
}

OxluneStatus OxluneDriver::Register(uint32_t role)
{
    return IoControl(OXLUNE_IOCTL_REGISTER, &role, sizeof(role), nullptr, 0);
}

OxluneStatus OxluneDriver::ConnectPanel(const wchar_t* name)
{
    OxluneLockGuard guard(*this);
    if (IsOpen()) {
        return 0;
    }
    OxluneStatus status = Connect(name, true, true);
    if (status != 0) {
        return status;
    }
    status = Register(OXLUNE_ROLE_PANEL);
    if (status != 0) {
        Disconnect();
    }
    return status;
}

// Roles 3 and 4: a connection without events. Already open counts as connected.
OxluneStatus OxluneDriver::ConnectWithoutEvents(const wchar_t* name, uint32_t role)
{
    if (name == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    OxluneLockGuard guard(*this);
    if (IsOpen()) {
        return 0;
    }
    SetConnectedName(name);
    OxluneStatus status = Open(m_name);
    if (status != 0) {
        return status;
    }
    status = SetEvents(nullptr, nullptr);
    if (status != 0) {
        Close();
        return status;
    }
    status = Register(role);
    if (status != 0) {
        Disconnect();
    }
    return status;
}

OxluneStatus OxluneDriver::ConnectPanelWindow(const wchar_t* name)
{
    return ConnectWithoutEvents(name, OXLUNE_ROLE_PANEL_WINDOW);
}

OxluneStatus OxluneDriver::ConnectMixerWindow(const wchar_t* name)
{
    return ConnectWithoutEvents(name, OXLUNE_ROLE_MIXER_WINDOW);
}

OxluneStatus OxluneDriver::QueryDevices(OxluneDeviceList* list)
{
    if (list == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_QUERY_DEVICES, nullptr, 0, list, sizeof(*list), &returned);
    if (status != 0) {
        return status;
    }
    if (returned < sizeof(list->count)) {
        list->count = 0;
        return OXLUNE_STATUS_LENGTH_MISMATCH;
    }
    // Only records that arrived whole count, and never more than the table holds.
    list->count = ClampCount(list->count, kOxluneMaxDevices, returned, sizeof(list->count), sizeof(OxluneDeviceRecord));
    // Texts from the driver end within their fields.
    for (uint32_t i = 0; i < list->count; ++i) {
        OxluneDeviceRecord& record = list->devices[i];
        record.serialNumber[sizeof(record.serialNumber) / sizeof(wchar_t) - 1] = L'\0';
        record.name[sizeof(record.name) / sizeof(wchar_t) - 1] = L'\0';
    }
    return 0;
}

OxluneStatus OxluneDriver::RefreshDevices(bool* changed)
{
    bool anyChange = false;
    std::vector<std::unique_ptr<OxluneDevice>> work;
    work.swap(m_devices);
    m_devices.reserve(kOxluneMaxDevices);

    OxluneDeviceList list;
    std::memset(&list, 0, sizeof(list));
    const OxluneStatus status = QueryDevices(&list);
    if (status == 0) {
        for (uint32_t i = 0; i < list.count; ++i) {
            const OxluneDeviceRecord& record = list.devices[i];
            bool kept = false;
            for (auto it = work.begin(); it != work.end(); ++it) {
                if (SameDevice((*it)->Record(), record)) {
                    (*it)->SetRecord(record);
                    m_devices.push_back(std::move(*it));
                    work.erase(it);
                    kept = true;
                    break;
                }
            }
            if (kept) {
                continue;
            }
            std::unique_ptr<OxluneDevice> device = CreateDevice();
            if (device && device->Open(m_name, record) == 0) {
                m_devices.push_back(std::move(device));
                anyChange = true;
            }
        }
    }
    if (!work.empty()) {
        anyChange = true;
    }
    work.clear();
    if (changed != nullptr) {
        *changed = anyChange;
    }
    return status;
}

OxluneDevice* OxluneDriver::FindDevice(uint32_t key0, uint32_t key1) const
{
    for (const auto& device : m_devices) {
        if (device->Key0() == key0 && device->Key1() == key1) {
            return device.get();
        }
    }
    return nullptr;
}

OxluneDevice* OxluneDriver::GetDevice(uint32_t index) const
{
    return index < m_devices.size() ? m_devices[index].get() : nullptr;
}

OxluneStatus OxluneDriver::SendMessage(const OxluneMessage& message)
{
    if (message.length > kOxluneMessageMaxPayload) {
        return OXLUNE_STATUS_INVALID_LENGTH;
    }
    return IoControl(OXLUNE_IOCTL_SEND_MESSAGE, &message, message.WireSize(), nullptr, 0);
}

OxluneStatus OxluneDriver::Receive(uint32_t code, OxluneMessage* message)
{
    if (message == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    message->type = OXLUNE_MSG_TYPE_NONE;
    message->code = 0;
    uint32_t returned = 0;
    const OxluneStatus status = IoControl(code, nullptr, 0, message, sizeof(*message), &returned);
    if (status != 0) {
        message->type = OXLUNE_MSG_TYPE_NONE;
        return status;
    }
    // A record that does not hold together is taken off the queue but delivers nothing.
    if (returned < kOxluneMessageHeaderSize || message->length > kOxluneMessageMaxPayload ||
        returned < kOxluneMessageHeaderSize + message->length) {
        message->type = OXLUNE_MSG_TYPE_NONE;
        message->length = 0;
    }
    return 0;
}

OxluneStatus OxluneDriver::ReceiveMessage(OxluneMessage* message)
{
    return Receive(OXLUNE_IOCTL_RECEIVE_MESSAGE, message);
}

OxluneStatus OxluneDriver::ReceiveNotification(OxluneMessage* message)
{
    return Receive(OXLUNE_IOCTL_RECEIVE_NOTIFICATION, message);
}

OxluneStatus OxluneDriver::NextNotification(OxluneMessage* message)
{
    for (;;) {
        const OxluneStatus status = ReceiveNotification(message);
        if (status != 0) {
            return status;
        }
        if (message->type == OXLUNE_MSG_TYPE_NOTIFICATION) {
            return 0;
        }
    }
}

OxluneStatus OxluneDriver::FlushNotifications()
{
    OxluneMessage message;
    for (;;) {
        const OxluneStatus status = ReceiveNotification(&message);
        if (status != 0) {
            return status == OXLUNE_STATUS_NO_MORE_ITEMS ? 0 : status;
        }
    }
}

OxluneStatus OxluneDriver::GetInputChannels(OxluneChannelList* list)
{
    if (list == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_INPUT_CHANNELS, nullptr, 0, list, sizeof(*list), &returned);
    return ClampList(status, returned, &list->count, kOxluneMaxChannels, sizeof(OxluneChannelKey));
}

OxluneStatus OxluneDriver::GetOutputChannels(OxluneChannelList* list)
{
    if (list == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_OUTPUT_CHANNELS, nullptr, 0, list, sizeof(*list), &returned);
    return ClampList(status, returned, &list->count, kOxluneMaxChannels, sizeof(OxluneChannelKey));
}

OxluneStatus OxluneDriver::GetChannelInfo(uint32_t key0, uint32_t key1, OxluneChannelInfo* info)
{
    if (info == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    const uint32_t key[2] = {key0, key1};
    uint32_t returned = 0;
    OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_CHANNEL_INFO, key, sizeof(key), info, sizeof(*info), &returned);
    status = WholeRecord(status, returned, sizeof(*info));
    if (status == 0) {
        info->name[sizeof(info->name) / sizeof(wchar_t) - 1] = L'\0';
    }
    return status;
}

OxluneStatus OxluneDriver::GetSampleRates(OxluneSampleRates* rates)
{
    if (rates == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const OxluneStatus status = IoControl(OXLUNE_IOCTL_GET_SAMPLE_RATES, nullptr, 0, rates, sizeof(*rates), &returned);
    return ClampList(status, returned, &rates->count, kOxluneMaxSampleRates, sizeof(uint32_t),
                     offsetof(OxluneSampleRates, rates));
}

OxluneStatus OxluneDriver::GetBufferSizes(OxluneBufferSizes* sizes)
{
    return QueryRecord(*this, OXLUNE_IOCTL_GET_BUFFER_SIZES, sizes);
}

OxluneStatus OxluneDriver::GetStreamingStatus(OxluneStreamingStatus* status)
{
    return QueryRecord(*this, OXLUNE_IOCTL_GET_STREAMING_STATUS, status);
}

OxluneStatus OxluneDriver::GetErrorCounters(OxluneErrorCounters* counters)
{
    return QueryRecord(*this, OXLUNE_IOCTL_GET_ERROR_COUNTERS, counters);
}

OxluneStatus OxluneDriver::GetPolicy(uint32_t* policy)
{
    return QueryRecord(*this, OXLUNE_IOCTL_GET_POLICY, policy);
}
