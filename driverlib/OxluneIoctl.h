#pragma once
#include <cstdint>

// Request codes of the control device: device type 0x8088 in the upper 16 bits,
// buffered transfer, any access, the function number times four in the lower bits.
constexpr uint32_t OxluneIoctlCode(uint32_t function)
{
    return (0x8088u << 16) | (0u << 14) | (function << 2) | 0u;
}
constexpr uint32_t OxluneIoctlFunction(uint32_t code)
{
    return (code >> 2) & 0xFFFu;
}

static_assert(OxluneIoctlCode(0x801) == 0x80882004u);
static_assert(OxluneIoctlFunction(0x80882004u) == 0x801);

// The control device's name; "\\.\%s" is opened.
inline constexpr wchar_t kOxluneControlDeviceName[] = L"{21611F4F-FC9C-4132-AFA2-6F585CA84BBE}";

constexpr uint32_t OXLUNE_IOCTL_GET_VERSION_INFO = OxluneIoctlCode(0x801);
