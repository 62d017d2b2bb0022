#include "tools/asiohost/AsioStandInService.h"

#include "driverlib/OxluneRecords.h"
#include "driverlib/OxluneRequests.h"

#include <cstring>

OxluneStatus AsioStandInService::Start(const wchar_t* controlDeviceName)
{
    if (m_thread.joinable()) {
        return OXLUNE_STATUS_REJECTED;
    }
    if (m_messageEvent.Get() == nullptr && m_messageEvent.Create(false, false) != 0) {
        return ::GetLastError();
    }
    if (m_notificationEvent.Get() == nullptr && m_notificationEvent.Create(false, false) != 0) {
        return ::GetLastError();
    }
    if (m_stop.Get() == nullptr && m_stop.Create(true, false) != 0) {
        return ::GetLastError();
    }
    m_stop.Reset();
    OxluneStatus status = m_context.Open(controlDeviceName);
    if (status != 0) {
        return status;
    }
    OxluneSetEventsInput events{};
    events.messageEvent = reinterpret_cast<uintptr_t>(m_messageEvent.Get());
    events.notificationEvent = reinterpret_cast<uintptr_t>(m_notificationEvent.Get());
    status = m_context.IoControl(OXLUNE_IOCTL_SET_EVENTS, &events, sizeof(events), nullptr, 0);
    if (status == 0) {
        const uint32_t role = OXLUNE_ROLE_SERVER;
        status = m_context.IoControl(OXLUNE_IOCTL_REGISTER, &role, sizeof(role), nullptr, 0);
    }
    if (status != 0) {
        m_context.Close();
        return status;
    }
    m_thread = std::thread([this] { Run(); });
    return 0;
}

void AsioStandInService::Stop()
{
    if (m_thread.joinable()) {
        m_stop.Set();
        m_thread.join();
    }
    m_context.Close();
}

void AsioStandInService::ForceReply(uint32_t code, OxluneStatus status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_forced[code] = status;
}

void AsioStandInService::ClearForcedReplies()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_forced.clear();
}

std::vector<AsioStandInService::Request> AsioStandInService::Requests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void AsioStandInService::ClearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

void AsioStandInService::Run()
{
    // Demand that was there before we registered.
    OxluneStreamingStatus status{};
    if (Status(&status) == 0 &&
        (status.streamDemandCount > 0 || status.exclusiveUseCount > 0 || status.streamDemandFlag != 0)) {
        BringUp();
    }
    const HANDLE waits[3] = {m_stop.Get(), m_messageEvent.Get(), m_notificationEvent.Get()};
    for (;;) {
        const DWORD result = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + 1) {
            ProcessRequests();
        } else if (result == WAIT_OBJECT_0 + 2) {
            ProcessNotifications();
        } else {
            break;
        }
    }
}

void AsioStandInService::ProcessRequests()
{
    OxluneMessage message;
    for (;;) {
        message.Init(OXLUNE_MSG_TYPE_NONE, 0);
        if (m_context.IoControl(OXLUNE_IOCTL_RECEIVE_MESSAGE, nullptr, 0, &message, sizeof(message)) != 0) {
            return;
        }
        if (message.type != OXLUNE_MSG_TYPE_REQUEST) {
            continue;
        }
        const OxluneStatus result = Handle(message);
        OxluneMessage reply;
        reply.InitReply(message, result);
        m_context.IoControl(OXLUNE_IOCTL_SEND_MESSAGE, &reply, reply.WireSize(), nullptr, 0);
    }
}

OxluneStatus AsioStandInService::Handle(const OxluneMessage& request)
{
    const uint32_t length = request.length <= kOxluneMessageMaxPayload ? request.length : kOxluneMessageMaxPayload;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Request record;
        record.code = request.code;
        record.payload.assign(request.payload, request.payload + length);
        m_requests.push_back(record);
        auto forced = m_forced.find(request.code);
        if (forced != m_forced.end()) {
            return forced->second;
        }
    }
    switch (request.code) {
    case OXLUNE_MSG_SET_SAMPLE_RATE: {
        if (request.length != 4) {
            return request.length > 4 ? OXLUNE_STATUS_INVALID_LENGTH : OXLUNE_STATUS_INVALID_MSG_SIZE;
        }
        uint32_t rate = 0;
        std::memcpy(&rate, request.payload, 4);
        return ChangeRate(rate);
    }
    case OXLUNE_MSG_SET_DSD_MODE:
        if (request.length != 1) {
            return request.length > 1 ? OXLUNE_STATUS_INVALID_LENGTH : OXLUNE_STATUS_INVALID_MSG_SIZE;
        }
        return 0;
    default:
        return OXLUNE_STATUS_INVALID_COMMAND;
    }
}

void AsioStandInService::ProcessNotifications()
{
    OxluneMessage message;
    for (;;) {
        message.Init(OXLUNE_MSG_TYPE_NONE, 0);
        if (m_context.IoControl(OXLUNE_IOCTL_RECEIVE_NOTIFICATION, nullptr, 0, &message, sizeof(message)) != 0) {
            return;
        }
        if (message.type != OXLUNE_MSG_TYPE_NOTIFICATION) {
            continue;
        }
        switch (message.code) {
        case OXLUNE_MSG_BRING_UP:
        case OXLUNE_MSG_BRING_UP_RESTART:
        case OXLUNE_MSG_BRING_UP_FOR:
            BringUp();
            break;
        case OXLUNE_MSG_STOP_WHEN_IDLE:
        case OXLUNE_MSG_STOP_WHEN_IDLE_FOR:
            StopWhenIdle();
            break;
        default:
            break;
        }
    }
}

OxluneStatus AsioStandInService::Status(OxluneStreamingStatus* status)
{
    return m_context.IoControl(OXLUNE_IOCTL_GET_STREAMING_STATUS, nullptr, 0, status, sizeof(*status));
}

OxluneStatus AsioStandInService::Command(uint32_t command, uint32_t argument)
{
    const OxluneStreamingStateInput input{command, argument};
    return m_context.IoControl(OXLUNE_IOCTL_SET_STREAMING_STATE, &input, sizeof(input), nullptr, 0);
}

OxluneStatus AsioStandInService::BringUp()
{
    OxluneStreamingStatus status{};
    for (int step = 0; step < 8; ++step) {
        OxluneStatus result = Status(&status);
        if (result != 0) {
            return result;
        }
        switch (status.state) {
        case OXLUNE_STREAMING_RUNNING:
            return 0;
        case OXLUNE_STREAMING_DOWN:
            result = Command(OXLUNE_STREAMING_CMD_DOWN_TO_READY, 0);
            break;
        case OXLUNE_STREAMING_READY:
            result = Command(OXLUNE_STREAMING_CMD_READY_TO_PREPARED, 0);
            break;
        case OXLUNE_STREAMING_PREPARED:
            result = Command(OXLUNE_STREAMING_CMD_PREPARED_TO_RUNNING, 0);
            break;
        default:
            return OXLUNE_STATUS_INVALID_STATE;
        }
        if (result != 0) {
            return result;
        }
    }
    return OXLUNE_STATUS_FAILED;
}

OxluneStatus AsioStandInService::StopWhenIdle()
{
    OxluneStreamingStatus status{};
    if (Status(&status) != 0 || status.streamDemandCount > 0 || status.exclusiveUseCount > 0 ||
        status.streamDemandFlag != 0) {
        return 0;
    }
    if (status.state == OXLUNE_STREAMING_RUNNING || status.state == OXLUNE_STREAMING_PREPARED) {
        Command(OXLUNE_STREAMING_CMD_TO_READY, 0);
    }
    return Command(OXLUNE_STREAMING_CMD_READY_TO_DOWN, 0);
}

OxluneStatus AsioStandInService::ChangeRate(uint32_t rate)
{
    OxluneStreamingStatus status{};
    OxluneStatus result = Status(&status);
    if (result != 0) {
        return result;
    }
    if (status.sampleRate == rate) {
        return 0;
    }
    m_context.IoControl(OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE, &rate, sizeof(rate), nullptr, 0);
    const bool wasRunning = status.state == OXLUNE_STREAMING_RUNNING || status.state == OXLUNE_STREAMING_PREPARED;
    if (wasRunning) {
        Command(OXLUNE_STREAMING_CMD_TO_READY, 0);
    }
    result = m_context.IoControl(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, &rate, sizeof(rate), nullptr, 0);
    if (wasRunning) {
        BringUp();
    }
    if (result == 0) {
        Broadcast(OXLUNE_MSG_STREAMING_CHANGED);
        Broadcast(OXLUNE_MSG_SAMPLE_RATE_CHANGED);
    }
    return result;
}

void AsioStandInService::Broadcast(uint32_t code)
{
    OxluneMessage message;
    message.Init(OXLUNE_MSG_TYPE_NOTIFICATION, code);
    m_context.IoControl(OXLUNE_IOCTL_SEND_MESSAGE, &message, message.WireSize(), nullptr, 0);
}

OxluneStatus AsioStandInService::ApplyAsioBufferClass(uint32_t asioClass)
{
    OxluneBufferSizes sizes{};
    OxluneStatus status = m_context.IoControl(OXLUNE_IOCTL_GET_BUFFER_SIZES, nullptr, 0, &sizes, sizeof(sizes));
    if (status != 0) {
        return status;
    }
    const OxluneBufferSizesPayload payload{sizes.streamingClass, asioClass, sizes.third};
    return m_context.IoControl(OXLUNE_IOCTL_APPLY_BUFFER_SIZES, &payload, sizeof(payload), nullptr, 0);
}
