#pragma once
#include <cstdarg>
#include <cstdint>

// Truncating text functions. Capacities count characters including the terminator;
// at most capacity - 1 characters are stored and the result is always terminated.

// 0, 87 when capacity is 0 or the format is invalid, 111 when the result was cut.
// Formats follow the Windows wide printf: %s is a wide text, %hs a narrow one.
uint32_t FormatText(wchar_t* buffer, uint32_t capacity, const wchar_t* format, ...);
uint32_t FormatTextV(wchar_t* buffer, uint32_t capacity, const wchar_t* format, va_list arguments);
// Returns the number of characters copied.
uint32_t CopyText(wchar_t* destination, const wchar_t* source, uint32_t capacity);
// Returns the new length.
uint32_t AppendText(wchar_t* destination, const wchar_t* source, uint32_t capacity);

// Narrow copy, for the ASIO driver's narrow fields.
uint32_t CopyTextA(char* destination, const char* source, uint32_t capacity);
// Wide to narrow, keeping the low byte of each character.
uint32_t CopyTextWideToNarrow(char* destination, const wchar_t* source, uint32_t capacity);
