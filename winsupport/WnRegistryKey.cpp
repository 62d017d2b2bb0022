#include "winsupport/WnRegistryKey.h"

#include <cwchar>

uint32_t WnRegistryKey::Open(HKEY parent, const wchar_t* subKey, REGSAM access)
{
    Close();
    const LSTATUS status = ::RegOpenKeyExW(parent, subKey, 0, access, &m_key);
    if (status != ERROR_SUCCESS) {
        m_key = nullptr;
    }
    return static_cast<uint32_t>(status);
}

uint32_t WnRegistryKey::Create(HKEY parent, const wchar_t* subKey, REGSAM access)
{
    Close();
    const LSTATUS status = ::RegCreateKeyExW(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                             &m_key, nullptr);
    if (status != ERROR_SUCCESS) {
        m_key = nullptr;
    }
    return static_cast<uint32_t>(status);
}

uint32_t WnRegistryKey::ReadDword(const wchar_t* name, uint32_t* value) const
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS status = ::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_MORE_DATA) {
        return ERROR_BAD_FORMAT;
    }
    if (status != ERROR_SUCCESS) {
        return static_cast<uint32_t>(status);
    }
    if (type != REG_DWORD || size != sizeof(data)) {
        return ERROR_BAD_FORMAT;
    }
    *value = data;
    return 0;
}

uint32_t WnRegistryKey::WriteDword(const wchar_t* name, uint32_t value)
{
    const DWORD data = value;
    return static_cast<uint32_t>(
        ::RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)));
}

uint32_t WnRegistryKey::ReadString(const wchar_t* name, wchar_t* text, uint32_t capacity) const
{
    if (capacity == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    text[0] = L'\0';
    DWORD type = 0;
    DWORD size = (capacity - 1) * sizeof(wchar_t);
    const LSTATUS status = ::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (status != ERROR_SUCCESS) {
        text[0] = L'\0';
        return static_cast<uint32_t>(status);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        text[0] = L'\0';
        return ERROR_BAD_FORMAT;
    }
    // The stored data need not be terminated.
    text[size / sizeof(wchar_t)] = L'\0';
    return 0;
}

uint32_t WnRegistryKey::WriteString(const wchar_t* name, const wchar_t* text, uint32_t type)
{
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return ERROR_BAD_FORMAT;
    }
    const DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return static_cast<uint32_t>(::RegSetValueExW(m_key, name, 0, type, reinterpret_cast<const BYTE*>(text), size));
}

uint32_t WnRegistryKey::DeleteValue(const wchar_t* name)
{
    return static_cast<uint32_t>(::RegDeleteValueW(m_key, name));
}

uint32_t WnRegistryKey::DeleteSubKey(const wchar_t* subKey)
{
    return static_cast<uint32_t>(::RegDeleteKeyW(m_key, subKey));
}

uint32_t WnRegistryKey::Close()
{
    if (m_key == nullptr) {
        return 0;
    }
    const LSTATUS status = ::RegCloseKey(m_key);
    m_key = nullptr;
    return static_cast<uint32_t>(status);
}
