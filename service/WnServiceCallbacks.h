#pragma once
#include <cstdint>

// A service control request as the control handler receives it.
class WnServiceCallbackInterface {
public:
    virtual uint32_t OnControlRequest(uint32_t control, uint32_t eventType, void* eventData) = 0;

protected:
    ~WnServiceCallbackInterface() = default;
};

template <class T>
class WnServiceCallbackForwarderT : public WnServiceCallbackInterface {
public:
    using Function = uint32_t (T::*)(uint32_t, uint32_t, void*);
    uint32_t OnControlRequest(uint32_t control, uint32_t eventType, void* eventData) override
    {
        return (m_target->*m_function)(control, eventType, eventData);
    }
    void Set(T* target, Function function)
    {
        m_target = target;
        m_function = function;
    }

    T* m_target = nullptr;
    Function m_function = nullptr;
};
