#pragma once
// Interim: the server object until the library's server role is in place.
#include <windows.h>

class CustomServer {
public:
    const wchar_t* GetServiceName() { return L"kuvosvc"; }
    const wchar_t* GetDisplayName() { return L"Kuvo control"; }
    const wchar_t* GetDescription() { return L"Kuvo control service"; }
    void GetInterfaceGuid(GUID* guid)
    {
        *guid = GUID{0x21611F4F, 0xFC9C, 0x4132, {0xAF, 0xA2, 0x6F, 0x58, 0x5C, 0xA8, 0x4B, 0xBE}};
    }
    const wchar_t* GetControlDeviceName() { return L"{21611F4F-FC9C-4132-AFA2-6F585CA84BBE}"; }
    void Run(HANDLE stopEvent, HANDLE)
    {
        while (::WaitForSingleObjectEx(stopEvent, INFINITE, TRUE) != WAIT_OBJECT_0) {
        }
    }
};
