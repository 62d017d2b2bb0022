#include "winsupport/WnText.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

uint32_t FormatTextV(wchar_t* buffer, uint32_t capacity, const wchar_t* format, va_list arguments)
{
    if (capacity == 0 || buffer == nullptr || format == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    va_list counting;
    va_copy(counting, arguments);
    const int needed = ::_vscwprintf(format, counting);
    va_end(counting);
    if (needed < 0) {
        buffer[0] = L'\0';
        return ERROR_INVALID_PARAMETER;
    }
    const int written = ::_vsnwprintf(buffer, capacity - 1, format, arguments);
    if (written < 0 || static_cast<uint32_t>(needed) > capacity - 1) {
        buffer[capacity - 1] = L'\0';
        return ERROR_BUFFER_OVERFLOW;
    }
    buffer[written] = L'\0';
    return 0;
}

uint32_t FormatText(wchar_t* buffer, uint32_t capacity, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const uint32_t result = FormatTextV(buffer, capacity, format, arguments);
    va_end(arguments);
    return result;
}

uint32_t CopyText(wchar_t* destination, const wchar_t* source, uint32_t capacity)
{
    if (capacity == 0) {
        return 0;
    }
    uint32_t n = 0;
    if (source != nullptr) {
        while (n + 1 < capacity && source[n] != L'\0') {
            destination[n] = source[n];
            ++n;
        }
    }
    destination[n] = L'\0';
    return n;
}

uint32_t AppendText(wchar_t* destination, const wchar_t* source, uint32_t capacity)
{
    if (capacity == 0) {
        return 0;
    }
    uint32_t length = 0;
    while (length < capacity && destination[length] != L'\0') {
        ++length;
    }
    if (length >= capacity) {
        // The destination was not terminated within its capacity: cut it.
        length = capacity - 1;
        destination[length] = L'\0';
        return length;
    }
    return length + CopyText(destination + length, source, capacity - length);
}

uint32_t CopyTextA(char* destination, const char* source, uint32_t capacity)
{
    if (capacity == 0) {
        return 0;
    }
    uint32_t n = 0;
    if (source != nullptr) {
        while (n + 1 < capacity && source[n] != '\0') {
            destination[n] = source[n];
            ++n;
        }
    }
    destination[n] = '\0';
    return n;
}

uint32_t CopyTextWideToNarrow(char* destination, const wchar_t* source, uint32_t capacity)
{
    if (capacity == 0) {
        return 0;
    }
    uint32_t n = 0;
    if (source != nullptr) {
        while (n + 1 < capacity && source[n] != L'\0') {
            destination[n] = static_cast<char>(source[n] & 0xFF);
            ++n;
        }
    }
    destination[n] = '\0';
    return n;
}
