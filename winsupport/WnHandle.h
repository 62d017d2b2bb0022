#pragma once
#include <windows.h>
#include <cstdint>

// Owns one kernel object handle. Closing failures are ignored; a wrapper is never copied.
class WnHandle {
public:
    WnHandle() = default;
    explicit WnHandle(HANDLE handle) : m_handle(handle) {}
    virtual ~WnHandle() { Close(); }
    WnHandle(const WnHandle&) = delete;
    WnHandle& operator=(const WnHandle&) = delete;

    void Close();
    HANDLE Get() const { return m_handle; }
    // Takes over a handle, closing the previous one first.
    void Attach(HANDLE handle);
    // Gives the handle up without closing it.
    HANDLE Detach();

protected:
    HANDLE m_handle = nullptr;
};
