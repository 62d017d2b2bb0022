#pragma once
// The echo protocol of the randomized and load cases: a server that answers every change
// request with a result computed from its payload, and the result a client expects.
#include "driverlib/OxluneMessage.h"
#include "driverlib/OxluneServer.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

// This process's open handles: GetProcessHandleCount, or where that reports nothing (Wine
// answers 0), the handle values that GetHandleInformation accepts.
inline DWORD OwnHandleCount()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) {
        return count;
    }
    count = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

// The library server under a name of its own.
class NamedServer : public OxluneServer {
public:
    explicit NamedServer(std::wstring name) : m_name(std::move(name)) {}
    const wchar_t* GetControlDeviceName() override { return m_name.c_str(); }

private:
    std::wstring m_name;
};

// The result a request's words give; never the status that holds a reply back.
inline uint32_t Mix(uint32_t code, uint32_t a, uint32_t b = 0, uint32_t c = 0)
{
    uint32_t value = (code * 0x9E3779B1u) ^ a ^ (b * 3u) ^ (c * 7u);
    return value == OXLUNE_STATUS_PENDING ? value ^ 1u : value;
}

// Answers every change request with a result computed from its payload.
class RobustEchoServer : public NamedServer {
public:
    using NamedServer::NamedServer;
    OxluneStatus OnSetSampleRate(uint32_t rate) override { return Mix(OXLUNE_MSG_SET_SAMPLE_RATE, rate); }
    OxluneStatus OnSetBufferSizes(uint32_t a, uint32_t b, uint32_t c) override
    {
        return Mix(OXLUNE_MSG_SET_BUFFER_SIZES, a, b, c);
    }
    OxluneStatus OnSelectStreamingDevice(uint32_t a, uint32_t b, uint32_t c) override
    {
        return Mix(OXLUNE_MSG_SELECT_STREAMING_DEVICE, a, b, c);
    }
    OxluneStatus OnSetDsdMode(bool on) override { return Mix(OXLUNE_MSG_SET_DSD_MODE, on ? 1u : 0u); }
    OxluneStatus OnSetPolicy(uint32_t policy) override { return Mix(OXLUNE_MSG_SET_POLICY, policy); }
};

inline uint32_t Word(const OxluneMessage& m, uint32_t index)
{
    uint32_t value = 0;
    std::memcpy(&value, m.payload + 4 * index, sizeof(value));
    return value;
}

inline uint32_t Expected(const OxluneMessage& m)
{
    uint32_t size = 0;
    switch (m.code) {
    case OXLUNE_MSG_SET_SAMPLE_RATE:
    case OXLUNE_MSG_SET_POLICY:
        size = 4;
        break;
    case OXLUNE_MSG_SET_BUFFER_SIZES:
    case OXLUNE_MSG_SELECT_STREAMING_DEVICE:
        size = 12;
        break;
    case OXLUNE_MSG_SET_DSD_MODE:
        size = 1;
        break;
    default:
        return OXLUNE_STATUS_INVALID_COMMAND;
    }
    if (m.length > size) {
        return OXLUNE_STATUS_INVALID_LENGTH;
    }
    if (m.length < size) {
        return OXLUNE_STATUS_INVALID_MSG_SIZE;
    }
    switch (m.code) {
    case OXLUNE_MSG_SET_SAMPLE_RATE:
    case OXLUNE_MSG_SET_POLICY:
        return Mix(m.code, Word(m, 0));
    case OXLUNE_MSG_SET_DSD_MODE:
        return Mix(m.code, m.payload[0] != 0 ? 1u : 0u);
    default:
        return Mix(m.code, Word(m, 0), Word(m, 1), Word(m, 2));
    }
}

// A request of a random code (known and unknown) with a random payload, its length often
// one of the sizes that matter.
template <class Random> void RandomRequest(Random& random, OxluneMessage* request)
{
    const uint32_t codes[] = {1001, 1002, 1003, 1004, 1005, 0, 1006, 2001, 11001, 11002, 0xFFFFFFFFu};
    request->Init(OXLUNE_MSG_TYPE_REQUEST, codes[random() % (sizeof(codes) / sizeof(codes[0]))]);
    const uint32_t sizes[] = {0, 1, 4, 12, 13, 512};
    request->length = (random() % 2 == 0) ? sizes[random() % 6] : static_cast<uint32_t>(random() % 513u);
    for (uint32_t b = 0; b < request->length; ++b) {
        request->payload[b] = static_cast<uint8_t>(random());
    }
}

inline bool ReplyMatches(const OxluneMessage& request, const OxluneMessage& reply)
{
    return reply.type == OXLUNE_MSG_TYPE_REPLY && reply.code == OXLUNE_MSG_REPLY &&
           reply.sequence == request.sequence && reply.result == Expected(request) && reply.length == 0;
}
