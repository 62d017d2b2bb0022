#include "service/EventLogSource.h"

#include "winsupport/WnRegistryKey.h"
#include "winsupport/WnText.h"

#include <windows.h>

#include <cwchar>

uint32_t RegisterEventLogSource(const wchar_t* logName, const wchar_t* sourceName, const wchar_t* messageFile)
{
    wchar_t keyPath[260];
    FormatText(keyPath, 260, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s\\%s", logName, sourceName);
    WnRegistryKey key;
    uint32_t error = key.Create(HKEY_LOCAL_MACHINE, keyPath, KEY_READ | KEY_WRITE);
    if (error != 0) {
        return error;
    }
    error = key.WriteString(L"EventMessageFile", messageFile, REG_EXPAND_SZ);
    if (error != 0) {
        return error;
    }
    return key.WriteDword(L"TypesSupported", EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE);
}

uint32_t UnregisterEventLogSource(const wchar_t* logName, const wchar_t* sourceName)
{
    wchar_t keyPath[260];
    FormatText(keyPath, 260, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s", logName);
    WnRegistryKey key;
    const uint32_t error = key.Open(HKEY_LOCAL_MACHINE, keyPath, KEY_WRITE);
    if (error != 0) {
        return error;
    }
    return static_cast<uint32_t>(::RegDeleteKeyW(key.Get(), sourceName));
}
