#pragma once
#include <windows.h>
#include <dbt.h>

#include <cstdint>

// A device-interface arrival or removal, delivered on the notificator's own thread.
class WnPnPNotificatorCallbackInterface {
public:
    virtual void OnDeviceChange(uint32_t eventType, DEV_BROADCAST_HDR* header) = 0;

protected:
    ~WnPnPNotificatorCallbackInterface() = default;
};

// Forwards to a member function of T, and only while an owner is set.
template <class T>
class WnPnPNotificatorCallbackForwarderT : public WnPnPNotificatorCallbackInterface {
public:
    using Function = void (T::*)(uint32_t, void*);
    void OnDeviceChange(uint32_t eventType, DEV_BROADCAST_HDR* header) override
    {
        if (m_target != nullptr && m_function != nullptr) {
            (m_target->*m_function)(eventType, header);
        }
    }
    void Set(T* target, Function function)
    {
        m_target = target;
        m_function = function;
    }

    T* m_target = nullptr;
    Function m_function = nullptr;
};
