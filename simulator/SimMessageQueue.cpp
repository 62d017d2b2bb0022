#include "simulator/SimMessageQueue.h"

bool SimMessageQueue::Push(const OxluneMessage& message)
{
    if (m_items.size() >= kCapacity) {
        return false;
    }
    m_items.push_back(message);
    return true;
}

void SimMessageQueue::PushDroppingOldest(const OxluneMessage& message)
{
    if (m_items.size() >= kCapacity) {
        m_items.pop_front();
        ++m_dropped;
    }
    m_items.push_back(message);
}

bool SimMessageQueue::Pop(OxluneMessage* message)
{
    if (m_items.empty()) {
        return false;
    }
    *message = m_items.front();
    m_items.pop_front();
    return true;
}
