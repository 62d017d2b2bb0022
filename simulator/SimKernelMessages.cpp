// The message requests of the kernel model: send, the two receives, events, registration.
#include "driverlib/OxluneRequests.h"
#include "simulator/SimKernel.h"
#include "simulator/SimRequestIo.h"

#include <cstring>

void SimKernel::RegisterMessageHandlers()
{
    m_driver.SetHandler(OXLUNE_IOCTL_SEND_MESSAGE,
                        [this](SimConnection& c, SimRequest& r) { return OnSendMessage(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_RECEIVE_MESSAGE,
                        [this](SimConnection& c, SimRequest& r) { return OnReceive(c, r, false); });
    m_driver.SetHandler(OXLUNE_IOCTL_RECEIVE_NOTIFICATION,
                        [this](SimConnection& c, SimRequest& r) { return OnReceive(c, r, true); });
    m_driver.SetHandler(OXLUNE_IOCTL_SET_EVENTS, [this](SimConnection& c, SimRequest& r) { return OnSetEvents(c, r); });
    m_driver.SetHandler(OXLUNE_IOCTL_REGISTER, [this](SimConnection& c, SimRequest& r) { return OnRegister(c, r); });
}

uint32_t SimKernel::OnSendMessage(SimConnection& connection, SimRequest& request)
{
    OxluneMessageHeader header{};
    if (request.inSize < sizeof(header) || request.in == nullptr) {
        return OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
    }
    std::memcpy(&header, request.in, sizeof(header));
    if (header.headerSize != kOxluneMessageHeaderSize) {
        return OXLUNE_STATUS_INVALID_HD_SIZE;
    }
    if (header.length > kOxluneMessageMaxPayload) {
        return OXLUNE_STATUS_INVALID_LENGTH;
    }
    if (request.inSize != kOxluneMessageHeaderSize + header.length) {
        return OXLUNE_STATUS_LENGTH_MISMATCH;
    }
    OxluneMessage message;
    message.Init(header.type, header.code);
    std::memcpy(&message, request.in, request.inSize);

    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimClient& sender = ClientFor(connection);
    bool queued = false;
    switch (header.type) {
    case OXLUNE_MSG_TYPE_REQUEST: {
        SimClient* server = ServerClient();
        if (server == nullptr) {
            return OXLUNE_STATUS_NO_SERVER;
        }
        message.initiator0 = sender.id;
        message.initiator1 = sender.cookie;
        QueueMessage(*server, message, &queued);
        if (!queued) {
            return OXLUNE_STATUS_NO_RESOURCES;
        }
        if (m_pending.size() >= kMaxPendingRequests) {
            m_pending.erase(m_pending.begin());
        }
        m_pending.push_back(PendingRequest{sender.id, sender.cookie, message.sequence, message.code});
        return 0;
    }
    case OXLUNE_MSG_TYPE_REPLY: {
        if (sender.id != m_serverId) {
            return OXLUNE_STATUS_NOT_ALLOWED;
        }
        SimClient* requester = FindClient(message.initiator0);
        if (requester == nullptr || requester->cookie != message.initiator1) {
            return OXLUNE_STATUS_INITIATOR_NOT_FOUND;
        }
        QueueMessage(*requester, message, &queued);
        if (!queued) {
            return OXLUNE_STATUS_NO_RESOURCES;
        }
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
            if (it->clientId == message.initiator0 && it->cookie == message.initiator1 &&
                it->sequence == message.sequence) {
                m_pending.erase(it);
                break;
            }
        }
        return 0;
    }
    case OXLUNE_MSG_TYPE_NOTIFICATION:
        if (sender.id != m_serverId) {
            return OXLUNE_STATUS_NOT_ALLOWED;
        }
        NotifyClients(message.code, message.payload, message.length);
        return 0;
    default:
        return OXLUNE_STATUS_INVALID_MSG_TYPE;
    }
}

uint32_t SimKernel::OnReceive(SimConnection& connection, SimRequest& request, bool notification)
{
    if (const uint32_t status = SimNoInput(request); status != 0) {
        return status;
    }
    if (const uint32_t status = SimCheckOutput(request, sizeof(OxluneMessage)); status != 0) {
        return status;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimClient& client = ClientFor(connection);
    OxluneMessage message;
    if (!(notification ? client.notifications : client.messages).Pop(&message)) {
        return OXLUNE_STATUS_NO_MORE_ITEMS;
    }
    // The whole record: header, payload and a zeroed tail.
    std::memset(message.payload + message.length, 0, kOxluneMessageMaxPayload - message.length);
    std::memcpy(request.out, &message, sizeof(message));
    request.bytesReturned = sizeof(message);
    return 0;
}

namespace {
// Duplicates a handle value of the client's process into this one; 0 gives no handle.
uint32_t DuplicateClientEvent(const SimConnection& connection, uint64_t value, HANDLE* duplicate)
{
    *duplicate = nullptr;
    if (value == 0) {
        return 0;
    }
    if (value > 0xFFFFFFFFull || connection.process == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const HANDLE source = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
    if (!::DuplicateHandle(connection.process, source, ::GetCurrentProcess(), duplicate,
                           EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, 0)) {
        const DWORD error = ::GetLastError();
        *duplicate = nullptr;
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }
    return 0;
}
} // namespace

uint32_t SimKernel::OnSetEvents(SimConnection& connection, SimRequest& request)
{
    OxluneSetEventsInput input{};
    if (const uint32_t status = SimReadInput(request, &input); status != 0) {
        return status;
    }
    HANDLE message = nullptr;
    HANDLE notification = nullptr;
    if (const uint32_t status = DuplicateClientEvent(connection, input.messageEvent, &message); status != 0) {
        return status;
    }
    if (const uint32_t status = DuplicateClientEvent(connection, input.notificationEvent, &notification);
        status != 0) {
        if (message != nullptr) {
            ::CloseHandle(message);
        }
        return status;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimClient& client = ClientFor(connection);
    client.messageEvent.Attach(message);
    client.notificationEvent.Attach(notification);
    // Entries that wait already are announced at once.
    if (message != nullptr && !client.messages.Empty()) {
        ::SetEvent(message);
    }
    if (notification != nullptr && !client.notifications.Empty()) {
        ::SetEvent(notification);
    }
    return 0;
}

uint32_t SimKernel::OnRegister(SimConnection& connection, SimRequest& request)
{
    uint32_t role = 0;
    if (const uint32_t status = SimReadInput(request, &role); status != 0) {
        return status;
    }
    if (role >= kOxluneRoleCount) {
        return OXLUNE_STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SimClient& client = ClientFor(connection);
    if (role == OXLUNE_ROLE_SERVER) {
        if (m_serverId != 0) {
            return OXLUNE_STATUS_ALREADY_DONE;
        }
        m_serverId = client.id;
    } else if (m_serverId == client.id) {
        m_serverId = 0;
    }
    client.role = static_cast<int>(role);
    return 0;
}
