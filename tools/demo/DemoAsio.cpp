#include "DemoAsio.h"

#include "simulator/SimProcess.h"
#include "winsupport/WnRegistryKey.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {
// Runs a program of this folder (or regsvr32) with our console; its exit code.
DWORD Run(const std::wstring& commandLine)
{
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return ::GetLastError();
    }
    DWORD code = 1;
    if (::WaitForSingleObject(process.hProcess, 300000) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(process.hProcess, &code);
    } else {
        ::TerminateProcess(process.hProcess, 1);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

void ShowEntry()
{
    WnRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ASIO\\Kuvo ASIO", KEY_READ | KEY_WOW64_64KEY) != 0) {
        std::printf("  HKLM\\SOFTWARE\\ASIO\\Kuvo ASIO: not present\n");
        return;
    }
    wchar_t clsid[100] = {};
    wchar_t description[100] = {};
    key.ReadString(L"CLSID", clsid, 100);
    key.ReadString(L"Description", description, 100);
    std::printf("  HKLM\\SOFTWARE\\ASIO\\Kuvo ASIO: CLSID %ls, Description \"%ls\"\n", clsid, description);
}
} // namespace

int RunAsioDemo()
{
    std::printf("\n== ASIO driver ==\n");
    const std::wstring folder = SimModuleFolder();
    const std::wstring dll = L"\"" + folder + L"kuvoasio.dll\"";
    DWORD code = Run(L"regsvr32.exe /s " + dll);
    std::printf("regsvr32 kuvoasio.dll: %s\n", code == 0 ? "registered" : "FAILED");
    ShowEntry();
    if (code != 0) {
        return 1;
    }
    std::printf("Streaming 5 seconds through the driver with the ASIO test host (48 kHz, 256 samples),\n"
                "changing the rate to 44100 Hz, then switching to DSD and back while streaming:\n");
    std::fflush(stdout);
    const DWORD host = Run(L"\"" + folder + L"kuvoasiohost.exe\" --seconds 5 --buffer 256 --rate-change 44100 --dsd");
    code = Run(L"regsvr32.exe /s /u " + dll);
    std::printf("regsvr32 /u kuvoasio.dll: %s\n", code == 0 ? "unregistered" : "FAILED");
    ShowEntry();
    return host == 0 && code == 0 ? 0 : 1;
}
