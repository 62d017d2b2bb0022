#pragma once
#include "driverlib/OxluneMessage.h"

#include <cstddef>
#include <cstdint>
#include <deque>

// A bounded first-in first-out queue of messages, one per queue of a connection.
// Not locked itself: the kernel model's lock guards it.
//
// Overflow: a message queue refuses a new entry (the sender gets
// OXLUNE_STATUS_NO_RESOURCES); a notification queue drops its oldest entry instead and
// counts the loss, since notifications only ask the receiver to re-read state and the
// newest ones matter most.
class SimMessageQueue {
public:
    static constexpr size_t kCapacity = 256;

    // False when the queue is full; nothing is queued then.
    bool Push(const OxluneMessage& message);
    // Queues the message, dropping the oldest entry when the queue is full.
    void PushDroppingOldest(const OxluneMessage& message);
    // False when the queue is empty.
    bool Pop(OxluneMessage* message);

    size_t Size() const { return m_items.size(); }
    bool Empty() const { return m_items.empty(); }
    uint32_t Dropped() const { return m_dropped; }
    void Clear() { m_items.clear(); }

private:
    std::deque<OxluneMessage> m_items;
    uint32_t m_dropped = 0;
};
