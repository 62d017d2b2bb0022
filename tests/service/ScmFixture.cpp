#include "ScmFixture.h"

#include "service/ServiceConfiguration.h"
#include "winsupport/WnRegistryKey.h"

const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\kuvosvc";

void ScmFixture::SetUp()
{
    svcPath = TestFolder() + L"kuvosvc.exe";
    RemoveService();
}

void ScmFixture::TearDown()
{
    RemoveService();
}

bool ScmFixture::QueryStatus(SERVICE_STATUS_PROCESS* status)
{
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return false;
    }
    SC_HANDLE service = ::OpenServiceW(manager, L"kuvosvc", SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    const bool ok = service != nullptr &&
                    ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status),
                                           sizeof(*status), &needed);
    if (service != nullptr) {
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return ok;
}

bool ScmFixture::ServiceKeyExists()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\kuvosvc", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

bool ScmFixture::ServiceExists()
{
    SERVICE_STATUS_PROCESS status{};
    return QueryStatus(&status);
}

bool ScmFixture::WaitForState(DWORD state, uint32_t timeoutMs, SERVICE_STATUS_PROCESS* last)
{
    const DWORD start = ::GetTickCount();
    SERVICE_STATUS_PROCESS status{};
    for (;;) {
        const bool ok = QueryStatus(&status);
        if (last != nullptr) {
            *last = status;
        }
        if (ok && status.dwCurrentState == state) {
            return true;
        }
        if (::GetTickCount() - start > timeoutMs) {
            return false;
        }
        ::Sleep(50);
    }
}

void ScmFixture::EndStubbornService()
{
    HANDLE quit = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"kuvo-stubborn-service-quit");
    if (quit != nullptr) {
        ::SetEvent(quit);
        ::CloseHandle(quit);
    }
}

void ScmFixture::RemoveService()
{
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr) {
        SC_HANDLE service = ::OpenServiceW(manager, L"kuvosvc", SERVICE_ALL_ACCESS);
        if (service != nullptr) {
            SERVICE_STATUS_PROCESS running{};
            QueryStatus(&running);
            SERVICE_STATUS status{};
            ::ControlService(service, SERVICE_CONTROL_STOP, &status);
            if (!WaitForState(SERVICE_STOPPED, 10000)) {
                EndStubbornService();
            }
            SERVICE_STATUS_PROCESS last{};
            if (!WaitForState(SERVICE_STOPPED, 10000, &last) && last.dwProcessId != 0) {
                // Our own test service that does not end: by its process id.
                HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, last.dwProcessId);
                if (process != nullptr) {
                    ::TerminateProcess(process, 1);
                    ::WaitForSingleObject(process, 10000);
                    ::CloseHandle(process);
                }
            }
            // The manager forgets a deleted service only after its process has ended.
            if (running.dwProcessId != 0) {
                HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, running.dwProcessId);
                if (process != nullptr) {
                    if (::WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) {
                        ::TerminateProcess(process, 1);
                        ::WaitForSingleObject(process, 10000);
                    }
                    ::CloseHandle(process);
                }
            }
            ::DeleteService(service);
            ::CloseServiceHandle(service);
        }
        ::CloseServiceHandle(manager);
    }
    for (int i = 0; i < 200 && ServiceKeyExists(); ++i) {
        ::Sleep(50);
    }
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    SetServiceDeviceName(L"");
}

void ScmFixture::SetServiceDeviceName(const std::wstring& name)
{
    WnRegistryKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, kServiceSettingsKey, KEY_READ | KEY_WRITE) != 0) {
        return;
    }
    if (name.empty()) {
        key.DeleteValue(kSimulatorDeviceNameValue);
    } else {
        key.WriteString(kSimulatorDeviceNameValue, name.c_str(), REG_SZ);
    }
}
