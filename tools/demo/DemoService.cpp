#include "DemoService.h"

#include "driverlib/OxluneCplClient.h"
#include "driverlib/OxluneStatus.h"
#include "simulator/SimDriver.h"
#include "simulator/SimProcess.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {
const wchar_t kSettingsKey[] = L"Software\\BRAKMOOR\\kuvo";

// Runs kuvosvc.exe from this program's folder and prints what it printed.
uint32_t RunService(const wchar_t* argument)
{
    const std::wstring program = SimModuleFolder() + L"kuvosvc.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::printf("  kuvosvc %ls: ", argument);
    std::fflush(stdout);
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info)) {
        return ::GetLastError();
    }
    ::WaitForSingleObject(info.hProcess, 120000);
    DWORD code = 1;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return code;
}

void SetDeviceName(const std::wstring& name)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (name.empty()) {
        ::RegDeleteValueW(key, L"SimulatorDeviceName");
    } else {
        ::RegSetValueExW(key, L"SimulatorDeviceName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                         static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    }
    ::RegCloseKey(key);
}

// The server's connection line of the model, or "" while no server is registered.
std::string ServerConnection(SimProcess& simulator)
{
    const std::string answer = simulator.Command("connections");
    size_t at = answer.find(" role=0 ");
    if (at == std::string::npos) {
        return "";
    }
    const size_t begin = answer.rfind('\n', at) + 1;
    return answer.substr(begin, answer.find('\n', at) - begin);
}

bool WaitForServer(SimProcess& simulator, bool registered)
{
    for (int i = 0; i < 600; ++i) {
        if (ServerConnection(simulator).empty() != registered) {
            return true;
        }
        ::Sleep(50);
    }
    return false;
}

bool ChangeRate(const std::wstring& name, uint32_t rate)
{
    OxluneCplClient client;
    OxluneStatus status = client.ConnectPanel(name.c_str());
    if (status == 0) {
        status = client.SetSampleRate(rate, 30000);
    }
    std::printf("  a client asks for %u Hz: %s\n", rate, StatusName(status));
    return status == 0;
}
} // namespace

int RunServiceDemo()
{
    std::printf("\nThe service under the service control manager:\n");
    const std::wstring name = SimUniqueName(L"demosvc");
    SimProcess simulator;
    if (simulator.Start(name, L"--devices 1") != 0) {
        std::printf("  starting the simulator failed\n");
        return 1;
    }
    SetDeviceName(name);
    bool ok = RunService(L"-install") == 0 && RunService(L"-start") == 0;
    ok = ok && WaitForServer(simulator, true);
    if (ok) {
        std::printf("  the service registered as server: %s\n", ServerConnection(simulator).c_str());
        ok = ChangeRate(name, 96000);
        std::printf("  model: %s\n", simulator.Command("state").substr(0, 40).c_str());
    }
    if (ok) {
        std::printf("  unplug all devices\n");
        simulator.Command("unplug all");
        ok = WaitForServer(simulator, false);
        std::printf("  the service %s\n", ok ? "disconnected" : "stayed connected");
    }
    if (ok) {
        std::printf("  plug one device: %s\n", simulator.Command("plug KV000042").c_str());
        ok = WaitForServer(simulator, true);
        std::printf("  the service %s\n", ok ? "reconnected through the PnP stand-in" : "did not reconnect");
        ok = ok && ChangeRate(name, 48000);
    }
    RunService(L"-stop");
    RunService(L"-uninstall");
    SetDeviceName(L"");
    simulator.Stop();
    std::printf("  service demo %s\n", ok ? "done" : "FAILED");
    return ok ? 0 : 1;
}
