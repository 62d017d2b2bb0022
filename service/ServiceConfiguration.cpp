#include "service/ServiceConfiguration.h"

#include "driverlib/OxluneControlChannel.h"
#include "winsupport/WnRegistryKey.h"

bool ReadSimulatorDeviceName(wchar_t* name, uint32_t capacity)
{
    if (capacity == 0) {
        return false;
    }
    name[0] = L'\0';
    if (!OxluneSimulatorEnabled()) {
        return false;
    }
    WnRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kServiceSettingsKey, KEY_QUERY_VALUE) != 0) {
        return false;
    }
    if (key.ReadString(kSimulatorDeviceNameValue, name, capacity) != 0) {
        name[0] = L'\0';
        return false;
    }
    return name[0] != L'\0';
}
