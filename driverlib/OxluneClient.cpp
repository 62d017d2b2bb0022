#include "driverlib/OxluneClient.h"

namespace {
// Milliseconds left until deadline, INFINITE when there is none.
DWORD Remaining(bool infinite, ULONGLONG deadline)
{
    if (infinite) {
        return INFINITE;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
        return 0;
    }
    const ULONGLONG left = deadline - now;
    return left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
}
} // namespace

OxluneStatus OxluneClient::Request(OxluneMessage& request, OxluneMessage* reply, uint32_t timeoutMs)
{
    if (reply == nullptr) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    OxluneLockGuard guard(*this);
    ++m_sequence;
    if (m_sequence == 0) {
        ++m_sequence;
    }
    request.sequence = m_sequence;

    OxluneStatus status = SendMessage(request);
    if (status != 0) {
        return status;
    }
    const bool infinite = timeoutMs == INFINITE;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const DWORD wait = ::WaitForSingleObject(MessageEvent(), Remaining(infinite, deadline));
        if (wait == WAIT_TIMEOUT) {
            return OXLUNE_STATUS_TIMEOUT;
        }
        if (wait != WAIT_OBJECT_0) {
            return OXLUNE_STATUS_FAILED;
        }
        // One signal may stand for several queued messages: drain the queue.
        for (;;) {
            status = ReceiveMessage(reply);
            if (status != 0) {
                break;
            }
            if (reply->type == OXLUNE_MSG_TYPE_REPLY && reply->sequence == request.sequence) {
                return 0;
            }
            // Another type, or the late reply to an earlier request: dropped.
        }
        if (status != OXLUNE_STATUS_NO_MORE_ITEMS) {
            return status;
        }
    }
}

OxluneStatus OxluneClient::Call(uint32_t code, const void* payload, uint32_t length, uint32_t timeoutMs)
{
    OxluneMessage request;
    request.Init(OXLUNE_MSG_TYPE_REQUEST, code);
    OxluneStatus status = request.SetPayload(payload, length);
    if (status != 0) {
        return status;
    }
    OxluneMessage reply;
    reply.Init(OXLUNE_MSG_TYPE_NONE, 0);
    status = Request(request, &reply, timeoutMs);
    if (status != 0) {
        return status;
    }
    return reply.code == OXLUNE_MSG_REPLY ? reply.result : OXLUNE_STATUS_UNEXPECTED_MSG_CODE;
}

OxluneStatus OxluneClient::SetSampleRate(uint32_t rate, uint32_t timeoutMs)
{
    return Call(OXLUNE_MSG_SET_SAMPLE_RATE, &rate, sizeof(rate), timeoutMs);
}

OxluneStatus OxluneClient::SetBufferSizes(uint32_t streamingClass, uint32_t asioClass, uint32_t third)
{
    const OxluneBufferSizesPayload payload{streamingClass, asioClass, third};
    return Call(OXLUNE_MSG_SET_BUFFER_SIZES, &payload, sizeof(payload), m_fixedTimeoutMs);
}

OxluneStatus OxluneClient::SelectStreamingDevice(uint32_t key0, uint32_t key1, uint32_t mode)
{
    const OxluneStreamingDevicePayload payload{key0, key1, mode};
    return Call(OXLUNE_MSG_SELECT_STREAMING_DEVICE, &payload, sizeof(payload), m_fixedTimeoutMs);
}

OxluneStatus OxluneClient::SetDsdMode(bool on, uint32_t timeoutMs)
{
    const uint8_t value = on ? 1 : 0;
    return Call(OXLUNE_MSG_SET_DSD_MODE, &value, sizeof(value), timeoutMs);
}

OxluneStatus OxluneClient::SetPolicy(uint32_t policy, uint32_t timeoutMs)
{
    return Call(OXLUNE_MSG_SET_POLICY, &policy, sizeof(policy), timeoutMs);
}
