#pragma once
#include <cstdint>

// Registers an event source under HKLM\SYSTEM\CurrentControlSet\Services\EventLog\<log>\<source>
// with its message file and the error, warning and information types. 0 or the error.
uint32_t RegisterEventLogSource(const wchar_t* logName, const wchar_t* sourceName, const wchar_t* messageFile);
// Deletes that key. 0 or the error.
uint32_t UnregisterEventLogSource(const wchar_t* logName, const wchar_t* sourceName);
