#pragma once
// One connection to an in-process or separate simulator, driven with raw requests and
// the records of the control channel, as the library classes drive it.
#include "driverlib/OxluneApiContext.h"
#include "driverlib/OxluneMessage.h"
#include "driverlib/OxluneRecords.h"
#include "driverlib/OxluneRequests.h"
#include "winsupport/WnEvent.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class SimTestClient {
public:
    explicit SimTestClient(const std::wstring& name) : m_name(name)
    {
        m_context.SetChannelKind(OxluneChannelKind::Simulator);
    }

    uint32_t Open() { return m_context.Open(m_name.c_str()); }
    void Close() { m_context.Close(); }
    OxluneApiContext& Context() { return m_context; }

    // Opens, creates the wanted events, hands them over and registers in the role.
    uint32_t Connect(int role, bool withMessageEvent = true, bool withNotificationEvent = true)
    {
        if (const uint32_t status = Open(); status != 0) {
            return status;
        }
        if (withMessageEvent && m_messageEvent.Get() == nullptr) {
            m_messageEvent.Create(false, false);
        }
        if (withNotificationEvent && m_notificationEvent.Get() == nullptr) {
            m_notificationEvent.Create(false, false);
        }
        if (const uint32_t status = SetEvents(withMessageEvent ? m_messageEvent.Get() : nullptr,
                                              withNotificationEvent ? m_notificationEvent.Get() : nullptr);
            status != 0) {
            return status;
        }
        return role < 0 ? 0 : Register(static_cast<uint32_t>(role));
    }

    uint32_t SetEvents(HANDLE message, HANDLE notification)
    {
        OxluneSetEventsInput input{reinterpret_cast<uintptr_t>(message), reinterpret_cast<uintptr_t>(notification)};
        return m_context.IoControl(OXLUNE_IOCTL_SET_EVENTS, &input, sizeof(input), nullptr, 0);
    }
    uint32_t Register(uint32_t role)
    {
        return m_context.IoControl(OXLUNE_IOCTL_REGISTER, &role, sizeof(role), nullptr, 0);
    }

    uint32_t Send(const OxluneMessage& message)
    {
        return m_context.IoControl(OXLUNE_IOCTL_SEND_MESSAGE, &message, message.WireSize(), nullptr, 0);
    }
    uint32_t SendRequest(uint32_t code, uint32_t sequence, const void* payload = nullptr, uint32_t size = 0)
    {
        OxluneMessage message;
        message.Init(OXLUNE_MSG_TYPE_REQUEST, code);
        message.sequence = sequence;
        message.SetPayload(payload, size);
        return Send(message);
    }
    uint32_t Broadcast(uint32_t code)
    {
        OxluneMessage message;
        message.Init(OXLUNE_MSG_TYPE_NOTIFICATION, code);
        return Send(message);
    }
    uint32_t Receive(OxluneMessage* message, bool notification = false, uint32_t* bytes = nullptr)
    {
        message->type = 0;
        message->code = 0;
        return m_context.IoControl(notification ? OXLUNE_IOCTL_RECEIVE_NOTIFICATION : OXLUNE_IOCTL_RECEIVE_MESSAGE,
                                   nullptr, 0, message, sizeof(*message), bytes);
    }
    // The codes of every queued notification, oldest first.
    std::vector<uint32_t> DrainNotifications()
    {
        std::vector<uint32_t> codes;
        OxluneMessage message;
        while (Receive(&message, true) == 0) {
            codes.push_back(message.code);
        }
        return codes;
    }
    // Receives the notifications until one with this code; false when the queue ends first.
    bool FindNotification(uint32_t code, OxluneMessage* found)
    {
        while (Receive(found, true) == 0) {
            if (found->code == code) {
                return true;
            }
        }
        return false;
    }

    uint32_t Bind(uint32_t key0, uint32_t key1)
    {
        const OxluneTwoWordsPayload key{key0, key1};
        return m_context.IoControl(OXLUNE_IOCTL_BIND_DEVICE, &key, sizeof(key), nullptr, 0);
    }
    uint32_t Command(uint32_t command, uint32_t argument)
    {
        const OxluneStreamingStateInput input{command, argument};
        return m_context.IoControl(OXLUNE_IOCTL_SET_STREAMING_STATE, &input, sizeof(input), nullptr, 0);
    }
    template <class T>
    uint32_t Write(uint32_t code, const T& value)
    {
        return m_context.IoControl(code, &value, sizeof(value), nullptr, 0);
    }
    template <class T>
    uint32_t Read(uint32_t code, T* value)
    {
        return m_context.IoControl(code, nullptr, 0, value, sizeof(*value));
    }
    OxluneStreamingStatus Status()
    {
        OxluneStreamingStatus status{};
        Read(OXLUNE_IOCTL_GET_STREAMING_STATUS, &status);
        return status;
    }

    WnEvent& MessageEvent() { return m_messageEvent; }
    WnEvent& NotificationEvent() { return m_notificationEvent; }

private:
    std::wstring m_name;
    OxluneApiContext m_context;
    WnEvent m_messageEvent;
    WnEvent m_notificationEvent;
};

// Signalled state of an auto-reset event, consuming the signal.
inline bool SimTestSignalled(const WnEvent& event, uint32_t timeoutMs = 0)
{
    return ::WaitForSingleObject(event.Get(), timeoutMs) == WAIT_OBJECT_0;
}
