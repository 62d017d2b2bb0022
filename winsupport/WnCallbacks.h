#pragma once
#include <cstdint>

// A thread body.
class WnThreadCallbackInterface {
public:
    virtual uint32_t Run() = 0;
protected:
    ~WnThreadCallbackInterface() = default;
};

// Binds a thread body to a member function of T. Filled in by its owner.
template <class T>
class WnThreadCallbackForwarderT : public WnThreadCallbackInterface {
public:
    using Function = uint32_t (T::*)();
    uint32_t Run() override { return (m_target->*m_function)(); }
    void Set(T* target, Function function) { m_target = target; m_function = function; }

    T* m_target = nullptr;
    Function m_function = nullptr;
};

// A waitable timer's completion routine; low and high are the halves of the expiry time.
class WnWaitableTimerCallbackInterface {
public:
    virtual void OnTimer(uint32_t low, uint32_t high) = 0;
protected:
    ~WnWaitableTimerCallbackInterface() = default;
};

template <class T>
class WnWaitableTimerCallbackForwarderT : public WnWaitableTimerCallbackInterface {
public:
    using Function = void (T::*)(uint32_t, uint32_t);
    void OnTimer(uint32_t low, uint32_t high) override { (m_target->*m_function)(low, high); }
    void Set(T* target, Function function) { m_target = target; m_function = function; }

    T* m_target = nullptr;
    Function m_function = nullptr;
};
