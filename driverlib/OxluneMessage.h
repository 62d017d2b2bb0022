#pragma once
// The 544-byte unit of the message queues: a 32-byte header and up to 512 bytes of
// payload. A message is sent with its header and only the used payload bytes.
#include "driverlib/OxluneRecords.h"
#include "driverlib/OxluneStatus.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#pragma pack(push, 1)
struct OxluneMessage {
    uint32_t headerSize; // always 32
    uint32_t length;     // payload bytes, 0 to 512; untrusted after a receive
    uint32_t type;       // OXLUNE_MSG_TYPE_*
    uint32_t code;       // OXLUNE_MSG_*
    uint32_t sequence;   // set by the requesting client, copied into the reply
    uint32_t initiator0; // filled by the kernel driver, copied into the reply
    uint32_t initiator1;
    uint32_t result; // the status that a reply carries
    uint8_t payload[kOxluneMessageMaxPayload];

    // Header 32, length 0, sequence, initiator and result 0, payload zeroed.
    void Init(uint32_t messageType, uint32_t messageCode)
    {
        std::memset(this, 0, sizeof(*this));
        headerSize = kOxluneMessageHeaderSize;
        type = messageType;
        code = messageCode;
    }

    // More than 512 bytes: OXLUNE_STATUS_INVALID_LENGTH, nothing copied.
    OxluneStatus SetPayload(const void* data, uint32_t dataLength)
    {
        if (dataLength > kOxluneMessageMaxPayload)
            return OXLUNE_STATUS_INVALID_LENGTH;
        if (dataLength != 0 && data == nullptr)
            return OXLUNE_STATUS_INVALID_PARAMETER;
        if (dataLength != 0)
            std::memcpy(payload, data, dataLength);
        length = dataLength;
        return OXLUNE_STATUS_SUCCESS;
    }

    // size is in and out. A buffer smaller than the payload, or a length beyond the
    // payload field (a corrupt record), gives OXLUNE_STATUS_INVALID_LENGTH and copies
    // nothing; otherwise the payload is copied and size set to the length.
    OxluneStatus GetPayload(void* buffer, uint32_t* size) const
    {
        if (size == nullptr)
            return OXLUNE_STATUS_INVALID_PARAMETER;
        if (length > kOxluneMessageMaxPayload || *size < length)
            return OXLUNE_STATUS_INVALID_LENGTH;
        if (length != 0) {
            if (buffer == nullptr)
                return OXLUNE_STATUS_INVALID_PARAMETER;
            std::memcpy(buffer, payload, length);
        }
        *size = length;
        return OXLUNE_STATUS_SUCCESS;
    }

    // Reply 2001 to request: sequence and both initiator words copied, result set,
    // length 0, payload zeroed.
    void InitReply(const OxluneMessage& request, OxluneStatus replyResult)
    {
        const uint32_t seq = request.sequence;
        const uint32_t i0 = request.initiator0;
        const uint32_t i1 = request.initiator1;
        Init(OXLUNE_MSG_TYPE_REPLY, OXLUNE_MSG_REPLY);
        sequence = seq;
        initiator0 = i0;
        initiator1 = i1;
        result = replyResult;
    }

    // Bytes to send: the header and the used payload (clamped to the record).
    uint32_t WireSize() const
    {
        const uint32_t used = length > kOxluneMessageMaxPayload ? kOxluneMessageMaxPayload : length;
        return kOxluneMessageHeaderSize + used;
    }
};
#pragma pack(pop)

static_assert(sizeof(OxluneMessage) == 544);
static_assert(offsetof(OxluneMessage, length) == 4);
static_assert(offsetof(OxluneMessage, type) == 8);
static_assert(offsetof(OxluneMessage, code) == 12);
static_assert(offsetof(OxluneMessage, sequence) == 16);
static_assert(offsetof(OxluneMessage, initiator0) == 20);
static_assert(offsetof(OxluneMessage, initiator1) == 24);
static_assert(offsetof(OxluneMessage, result) == 28);
static_assert(offsetof(OxluneMessage, payload) == 32);
