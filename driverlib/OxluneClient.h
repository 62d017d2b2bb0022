#pragma once
#include "driverlib/OxluneDriver.h"

#include <cstdint>

// The requesting side of the message protocol: sends a request to the server through the
// kernel driver and waits for the reply with the same sequence number.
class OxluneClient : public OxluneDriver {
public:
    OxluneClient() = default;
    ~OxluneClient() override = default;

    // Sends request with a fresh sequence number and waits on the message event for the
    // matching reply. The queue is drained on every wake-up; replies with another sequence
    // number and entries of other types are dropped. The time-out is one overall deadline
    // from the send, however many foreign messages arrive meanwhile.
    OxluneStatus Request(OxluneMessage& request, OxluneMessage* reply, uint32_t timeoutMs);

    // Each returns the Request status if that failed, else the reply's result when its
    // code is 2001, else OXLUNE_STATUS_UNEXPECTED_MSG_CODE.
    OxluneStatus SetSampleRate(uint32_t rate, uint32_t timeoutMs = kOxluneDefaultRequestTimeoutMs);
    OxluneStatus SetBufferSizes(uint32_t streamingClass, uint32_t asioClass, uint32_t third);
    OxluneStatus SelectStreamingDevice(uint32_t key0, uint32_t key1, uint32_t mode);
    OxluneStatus SetDsdMode(bool on, uint32_t timeoutMs = kOxluneDefaultRequestTimeoutMs);
    OxluneStatus SetPolicy(uint32_t policy, uint32_t timeoutMs = kOxluneDefaultRequestTimeoutMs);

    // The time-out of SetBufferSizes and SelectStreamingDevice, 30000 ms unless changed.
    void SetFixedTimeout(uint32_t timeoutMs) { m_fixedTimeoutMs = timeoutMs; }
    uint32_t FixedTimeout() const { return m_fixedTimeoutMs; }

    // The request sequence counter; it keeps rising across reconnects.
    uint32_t Sequence() const { return m_sequence; }
    void SetSequence(uint32_t sequence) { m_sequence = sequence; }

private:
    OxluneStatus Call(uint32_t code, const void* payload, uint32_t length, uint32_t timeoutMs);

    uint32_t m_sequence = 0;
    uint32_t m_fixedTimeoutMs = kOxluneDefaultRequestTimeoutMs;
};
