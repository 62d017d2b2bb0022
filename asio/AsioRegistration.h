#pragma once
// Self-registration of the driver: its COM class under HKEY_CLASSES_ROOT\CLSID and its
// entry under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO.
#include <windows.h>

#include <cstdint>

inline constexpr wchar_t kAsioRegistryName[] = L"Kuvo ASIO";

// 0 or a system error code (or the failing HRESULT of the class id's text form).
uint32_t AsioRegisterServer(HMODULE module);
uint32_t AsioUnregisterServer();
// Shows a failed result the way the library's exports report it.
void AsioShowRegistrationFailure(const wchar_t* text, uint32_t code);
