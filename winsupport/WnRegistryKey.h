#pragma once
#include <windows.h>
#include <cstdint>

class WnRegistryKey {
public:
    WnRegistryKey() = default;
    ~WnRegistryKey() { Close(); }
    WnRegistryKey(const WnRegistryKey&) = delete;
    WnRegistryKey& operator=(const WnRegistryKey&) = delete;

    uint32_t Open(HKEY parent, const wchar_t* subKey, REGSAM access);
    uint32_t Create(HKEY parent, const wchar_t* subKey, REGSAM access);
    // A value that is not a 4-byte number gives 11 and leaves value untouched.
    uint32_t ReadDword(const wchar_t* name, uint32_t* value) const;
    uint32_t WriteDword(const wchar_t* name, uint32_t value);
    // Reads a REG_SZ/REG_EXPAND_SZ into a buffer of capacity characters, always terminated.
    // Anything else, or a text that does not fit, gives 11 / 234 and an empty buffer.
    uint32_t ReadString(const wchar_t* name, wchar_t* text, uint32_t capacity) const;
    // type must be REG_SZ or REG_EXPAND_SZ, else 11.
    uint32_t WriteString(const wchar_t* name, const wchar_t* text, uint32_t type);
    uint32_t DeleteValue(const wchar_t* name);
    uint32_t DeleteSubKey(const wchar_t* subKey);
    uint32_t Close();
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};
