#include "simulator/SimPnPAnnouncer.h"

#include "service/PnPStandIn.h"
#include "simulator/SimKernel.h"

#include <dbt.h>

#include <cstring>
#include <vector>

namespace {
const GUID kInterfaceClass = {0x21611F4F, 0xFC9C, 0x4132, {0xAF, 0xA2, 0x6F, 0x58, 0x5C, 0xA8, 0x4B, 0xBE}};

void BroadcastToWindows(WPARAM eventType, const std::wstring& name)
{
    // A symbolic link name in the form Windows gives device interfaces.
    const std::wstring link = L"\\\\?\\kuvosim#" + name + L"#{21611F4F-FC9C-4132-AFA2-6F585CA84BBE}";
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (link.size() + 1) * sizeof(wchar_t);
    std::vector<uint8_t> buffer(size, 0);
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    broadcast->dbcc_size = static_cast<DWORD>(size);
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = kInterfaceClass;
    std::memcpy(broadcast->dbcc_name, link.c_str(), (link.size() + 1) * sizeof(wchar_t));
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, eventType, reinterpret_cast<LPARAM>(broadcast),
                          SMTO_ABORTIFHUNG | SMTO_NORMAL, 2000, &result);
}

void NotifyService()
{
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return;
    }
    SC_HANDLE service = ::OpenServiceW(manager, L"kuvosvc", SERVICE_USER_DEFINED_CONTROL);
    if (service != nullptr) {
        SERVICE_STATUS status{};
        // Refused when the service is not running: then nobody waits for it.
        ::ControlService(service, kSimulatedArrivalControl, &status);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}
} // namespace

SimPnPAnnouncer::SimPnPAnnouncer(SimKernel& kernel, const std::wstring& name) : m_kernel(kernel), m_name(name) {}

void SimPnPAnnouncer::Start()
{
    m_kernel.AddDeviceCountListener([this](size_t before, size_t after) { OnDeviceCount(before, after); });
    if (!m_kernel.Devices().empty()) {
        Announce(true);
    }
}

void SimPnPAnnouncer::OnDeviceCount(size_t before, size_t after)
{
    if (before == 0 && after > 0) {
        Announce(true);
    } else if (before > 0 && after == 0) {
        Announce(false);
    }
}

void SimPnPAnnouncer::Announce(bool arrival)
{
    BroadcastToWindows(arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, m_name);
    if (arrival) {
        NotifyService();
    }
}
