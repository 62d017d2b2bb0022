#include "asio/AsioRegistration.h"

#include "asio/AsioCustom.h"
#include "asio/AsioInterface.h"
#include "winsupport/WnRegistryKey.h"
#include "winsupport/WnText.h"

#include <objbase.h>

namespace {
constexpr uint32_t kPathCapacity = 360;
constexpr uint32_t kClsidCapacity = 100;
constexpr uint32_t kKeyCapacity = 300;

uint32_t ClsidText(wchar_t* text)
{
    LPOLESTR string = nullptr;
    const HRESULT result = ::StringFromCLSID(CLSID_KuvoAsio, &string);
    if (FAILED(result)) {
        return static_cast<uint32_t>(result);
    }
    CopyText(text, string, kClsidCapacity);
    ::CoTaskMemFree(string);
    return 0;
}

// Plain deletion of parent\subKey, as the registry allows it (no subtree).
void DeleteSubKey(HKEY root, const wchar_t* parent, const wchar_t* subKey)
{
    WnRegistryKey key;
    if (key.Open(root, parent, KEY_ALL_ACCESS) == 0) {
        key.DeleteSubKey(subKey);
    }
}

// The class key and its InprocServer32 key, from the bottom up: unregistration removes
// the whole class entry, which a plain deletion of the class key alone cannot.
void DeleteClassKeys(const wchar_t* clsid)
{
    wchar_t classKey[kKeyCapacity];
    FormatText(classKey, kKeyCapacity, L"%s\\%s", L"CLSID", clsid);
    DeleteSubKey(HKEY_CLASSES_ROOT, classKey, L"InprocServer32");
    DeleteSubKey(HKEY_CLASSES_ROOT, L"CLSID", clsid);
}
} // namespace

uint32_t AsioRegisterServer(HMODULE module)
{
    wchar_t path[kPathCapacity] = {};
    const DWORD length = ::GetModuleFileNameW(module, path, kPathCapacity);
    if (length == 0) {
        return ::GetLastError();
    }
    if (length >= kPathCapacity) {
        // A cut path would register some other file.
        return ERROR_INSUFFICIENT_BUFFER;
    }
    ::CharLowerW(path);
    wchar_t clsid[kClsidCapacity] = {};
    uint32_t result = ClsidText(clsid);
    if (result != 0) {
        return result;
    }

    wchar_t classKey[kKeyCapacity];
    wchar_t serverKey[kKeyCapacity];
    FormatText(classKey, kKeyCapacity, L"%s\\%s", L"CLSID", clsid);
    FormatText(serverKey, kKeyCapacity, L"%s\\%s\\%s", L"CLSID", clsid, L"InprocServer32");

    bool write = false;
    {
        WnRegistryKey server;
        if (server.Open(HKEY_CLASSES_ROOT, serverKey, KEY_READ) != 0) {
            write = true;
        } else {
            // A key without a readable path is as broken as a missing one: write it again.
            wchar_t registered[kPathCapacity] = {};
            const bool readable = server.ReadString(nullptr, registered, kPathCapacity) == 0;
            ::CharLowerW(registered);
            if (!readable || wcscmp(registered, path) != 0) {
                server.Close();
                DeleteClassKeys(clsid);
                write = true;
            }
        }
    }
    if (write) {
        WnRegistryKey key;
        if (key.Create(HKEY_CLASSES_ROOT, classKey, KEY_ALL_ACCESS) == 0) {
            key.WriteString(nullptr, kAsioDriverDescription, REG_SZ);
        }
        WnRegistryKey server;
        if (server.Create(HKEY_CLASSES_ROOT, serverKey, KEY_ALL_ACCESS) == 0) {
            server.WriteString(nullptr, path, REG_SZ);
            server.WriteString(L"ThreadingModel", L"Apartment", REG_SZ);
        }
    }

    DeleteSubKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ASIO", kAsioRegistryName);
    wchar_t asioKey[kKeyCapacity];
    FormatText(asioKey, kKeyCapacity, L"%s\\%s\\%s", L"SOFTWARE", L"ASIO", kAsioRegistryName);
    WnRegistryKey entry;
    result = entry.Create(HKEY_LOCAL_MACHINE, asioKey, KEY_ALL_ACCESS);
    if (result == 0) {
        entry.WriteString(L"CLSID", clsid, REG_SZ);
        entry.WriteString(L"Description", kAsioDriverDescription, REG_SZ);
    }
    return result;
}

uint32_t AsioUnregisterServer()
{
    wchar_t clsid[kClsidCapacity] = {};
    const uint32_t result = ClsidText(clsid);
    if (result != 0) {
        return result;
    }
    DeleteClassKeys(clsid);
    DeleteSubKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ASIO", kAsioRegistryName);
    return 0;
}

void AsioShowRegistrationFailure(const wchar_t* text, uint32_t code)
{
    wchar_t message[128];
    FormatText(message, 128, L"%s (%d)", text, static_cast<int>(code));
    ::MessageBoxW(nullptr, message, kAsioDriverDescription, MB_OK);
}
