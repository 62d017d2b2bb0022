#include "service/WnEventLogWriter.h"

#include "winsupport/WnText.h"

uint32_t WnEventLogWriter::Open(const wchar_t* sourceName)
{
    Release();
    ::SetLastError(0);
    m_handle = ::RegisterEventSourceW(nullptr, sourceName);
    if (m_handle == nullptr) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }
    return 0;
}

uint32_t WnEventLogWriter::Release()
{
    if (m_handle == nullptr) {
        return 0;
    }
    const BOOL ok = ::DeregisterEventSource(m_handle);
    m_handle = nullptr;
    return ok ? 0 : ::GetLastError();
}

void WnEventLogWriter::FormatInfoText(wchar_t* buffer, uint32_t capacity, const wchar_t* format, va_list arguments)
{
    FormatTextV(buffer, capacity, format, arguments);
}

uint32_t WnEventLogWriter::ReportInfo(const wchar_t* format, ...)
{
    wchar_t text[kEventTextCapacity];
    va_list arguments;
    va_start(arguments, format);
    FormatInfoText(text, kEventTextCapacity, format, arguments);
    va_end(arguments);
    return Report(EVENTLOG_INFORMATION_TYPE, kEventIdInfo, text);
}

uint32_t WnEventLogWriter::ReportError(const wchar_t* text)
{
    return Report(EVENTLOG_ERROR_TYPE, kEventIdError, text);
}

uint32_t WnEventLogWriter::Report(WORD type, DWORD eventId, const wchar_t* text)
{
    const wchar_t* strings[1] = {text};
    if (!::ReportEventW(m_handle, type, 0, eventId, nullptr, 1, 0, strings, nullptr)) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }
    return 0;
}
