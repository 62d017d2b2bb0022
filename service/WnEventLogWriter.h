#pragma once
#include <windows.h>

#include <cstdarg>
#include <cstdint>

// Owns an event source handle.
class WnEventLogHandle {
public:
    WnEventLogHandle() = default;
    virtual ~WnEventLogHandle() = default;
    WnEventLogHandle(const WnEventLogHandle&) = delete;
    WnEventLogHandle& operator=(const WnEventLogHandle&) = delete;

    virtual uint32_t Release() = 0;
    HANDLE Get() const { return m_handle; }

protected:
    HANDLE m_handle = nullptr;
};

// Event ids of the message table linked into the service (each text is "%1").
constexpr DWORD kEventIdInfo = 0x60070001;
constexpr DWORD kEventIdWarning = 0xA0070002;
constexpr DWORD kEventIdError = 0xE0070003;
constexpr uint32_t kEventTextCapacity = 4096;

// Writes information and error events of one source.
class WnEventLogWriter : public WnEventLogHandle {
public:
    ~WnEventLogWriter() override { Release(); }

    // RegisterEventSourceW on the local machine; 0 or the error.
    uint32_t Open(const wchar_t* sourceName);
    // DeregisterEventSource; 0 or the error. The handle is null afterwards.
    uint32_t Release() override;

    // Formats into kEventTextCapacity characters (cut, always terminated) and reports an
    // information event with that one string.
    uint32_t ReportInfo(const wchar_t* format, ...);
    uint32_t ReportError(const wchar_t* text);

    // The text that ReportInfo writes for a format and its arguments.
    static void FormatInfoText(wchar_t* buffer, uint32_t capacity, const wchar_t* format, va_list arguments);

private:
    uint32_t Report(WORD type, DWORD eventId, const wchar_t* text);
};
