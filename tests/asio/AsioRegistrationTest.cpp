// Self-registration with regsvr32 (64-bit registry view), creation through COM from the
// registry, and the test host end to end. These share the machine's registry entries,
// so ctest runs them one at a time.
#include "asio/AsioInterface.h"
#include "asio/AsioCustom.h"
#include "simulator/SimDriver.h"
#include "simulator/SimProcess.h"
#include "tools/asiohost/AsioStandInService.h"
#include "winsupport/WnRegistryKey.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <string>

namespace {
const wchar_t kClsid[] = L"{8FF53D60-BB33-4261-9FC7-46BCED74087F}";
const wchar_t kServerKey[] = L"CLSID\\{8FF53D60-BB33-4261-9FC7-46BCED74087F}\\InprocServer32";
const wchar_t kClassKey[] = L"CLSID\\{8FF53D60-BB33-4261-9FC7-46BCED74087F}";
const wchar_t kAsioKey[] = L"SOFTWARE\\ASIO\\Kuvo ASIO";

// Runs a command line; its exit code, and its standard output when asked for.
DWORD RunProgram(std::wstring commandLine, std::string* output = nullptr, DWORD timeoutMs = 120000)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
            return 0xFFFFFFFF;
        }
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0,
                                          nullptr, nullptr, &startup, &process);
    if (writeEnd != nullptr) {
        ::CloseHandle(writeEnd);
    }
    if (!started) {
        if (readEnd != nullptr) {
            ::CloseHandle(readEnd);
        }
        return 0xFFFFFFFF;
    }
    if (output != nullptr) {
        char buffer[4096];
        DWORD read = 0;
        while (::ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            output->append(buffer, read);
        }
        ::CloseHandle(readEnd);
    }
    DWORD code = 0xFFFFFFFF;
    if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(process.hProcess, &code);
    } else {
        ::TerminateProcess(process.hProcess, 1);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(::towlower(c)); });
    return text;
}

std::wstring ReadValue(HKEY root, const wchar_t* key, const wchar_t* value)
{
    WnRegistryKey k;
    if (k.Open(root, key, KEY_READ | KEY_WOW64_64KEY) != 0) {
        return L"<no key>";
    }
    wchar_t text[400] = {};
    if (k.ReadString(value, text, 400) != 0) {
        return L"<no value>";
    }
    return text;
}

bool KeyExists(HKEY root, const wchar_t* key)
{
    WnRegistryKey k;
    return k.Open(root, key, KEY_READ | KEY_WOW64_64KEY) == 0;
}

void SetMarker(HKEY root, const wchar_t* key)
{
    WnRegistryKey k;
    ASSERT_EQ(0u, k.Open(root, key, KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    ASSERT_EQ(0u, k.WriteString(L"Marker", L"1", REG_SZ));
}

std::wstring DllPath()
{
    return SimModuleFolder() + L"kuvoasio.dll";
}

DWORD Register(const std::wstring& path, bool unregister = false)
{
    return RunProgram(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + path + L"\"");
}
} // namespace

TEST(AsioRegistration, RegisteringTwiceKeepsTheClassKeysAndRenewsTheAsioEntry)
{
    Register(DllPath(), true);
    ASSERT_EQ(0u, Register(DllPath()));
    EXPECT_EQ(Lower(DllPath()), ReadValue(HKEY_CLASSES_ROOT, kServerKey, nullptr));
    EXPECT_EQ(L"Apartment", ReadValue(HKEY_CLASSES_ROOT, kServerKey, L"ThreadingModel"));
    EXPECT_EQ(L"Kuvo ASIO Driver", ReadValue(HKEY_CLASSES_ROOT, kClassKey, nullptr));
    EXPECT_EQ(kClsid, ReadValue(HKEY_LOCAL_MACHINE, kAsioKey, L"CLSID"));
    EXPECT_EQ(L"Kuvo ASIO Driver", ReadValue(HKEY_LOCAL_MACHINE, kAsioKey, L"Description"));

    SetMarker(HKEY_CLASSES_ROOT, kServerKey);
    SetMarker(HKEY_LOCAL_MACHINE, kAsioKey);
    ASSERT_EQ(0u, Register(DllPath()));
    EXPECT_EQ(L"1", ReadValue(HKEY_CLASSES_ROOT, kServerKey, L"Marker")) << "same path: class keys untouched";
    EXPECT_EQ(L"<no value>", ReadValue(HKEY_LOCAL_MACHINE, kAsioKey, L"Marker")) << "ASIO entry created anew";
    EXPECT_EQ(kClsid, ReadValue(HKEY_LOCAL_MACHINE, kAsioKey, L"CLSID"));
}

TEST(AsioRegistration, RegisteringFromAnotherFolderRewritesThePath)
{
    ASSERT_EQ(0u, Register(DllPath()));
    SetMarker(HKEY_CLASSES_ROOT, kServerKey);
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"Kuvo Other " + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\KuvoAsio.dll";
    ASSERT_TRUE(::CopyFileW(DllPath().c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(0u, Register(copy));
    EXPECT_EQ(Lower(copy), ReadValue(HKEY_CLASSES_ROOT, kServerKey, nullptr));
    EXPECT_EQ(L"<no value>", ReadValue(HKEY_CLASSES_ROOT, kServerKey, L"Marker")) << "class keys written anew";
    EXPECT_EQ(0u, Register(DllPath()));
    EXPECT_EQ(Lower(DllPath()), ReadValue(HKEY_CLASSES_ROOT, kServerKey, nullptr));
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

TEST(AsioRegistration, UnregisteringRemovesTheClassAndTheEntry)
{
    ASSERT_EQ(0u, Register(DllPath()));
    EXPECT_EQ(0u, Register(DllPath(), true));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey)) << "the whole class entry";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAsioKey));
    EXPECT_EQ(0u, Register(DllPath(), true)) << "nothing left to remove is no failure";
}

TEST(AsioRegistration, AHostCreatesTheDriverFromTheRegistry)
{
    ASSERT_EQ(0u, Register(DllPath()));
    SimDriver sim;
    AsioStandInService service;
    const std::wstring name = SimUniqueName(L"asiocom");
    ASSERT_EQ(0u, sim.Command("plug KV000001 analog=2 spdif=0").rfind("ok", 0));
    ASSERT_EQ(0u, sim.Start(name));
    ASSERT_EQ(0u, service.Start(name.c_str()));
    ::SetEnvironmentVariableW(kAsioDeviceOverrideVariable, name.c_str());

    ASSERT_EQ(S_OK, ::CoInitialize(nullptr));
    CLSID clsid{};
    ASSERT_EQ(S_OK, ::CLSIDFromString(ReadValue(HKEY_LOCAL_MACHINE, kAsioKey, L"CLSID").c_str(), &clsid));
    IASIO* asio = nullptr;
    ASSERT_EQ(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&asio)));
    HMODULE module = ::GetModuleHandleW(L"kuvoasio.dll");
    ASSERT_NE(nullptr, module);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(::GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnload);
    EXPECT_EQ(S_FALSE, canUnload());
    EXPECT_EQ(ASIOTrue, asio->init(nullptr));
    long inputs = 0, outputs = 0;
    EXPECT_EQ(ASE_OK, asio->getChannels(&inputs, &outputs));
    EXPECT_EQ(2, inputs);
    EXPECT_EQ(2, outputs);
    EXPECT_EQ(0u, asio->Release());
    EXPECT_EQ(S_OK, canUnload());
    ::CoUninitialize();
    ::SetEnvironmentVariableW(kAsioDeviceOverrideVariable, nullptr);
}

TEST(AsioEndToEnd, TheTestHostStreamsLosslesslyThroughARateChange)
{
    ASSERT_EQ(0u, Register(DllPath()));
    std::string output;
    const DWORD code = RunProgram(L"\"" + SimModuleFolder() + L"kuvoasiohost.exe\" --seconds 4 --buffer 256 --rate-change 44100",
                           &output, 240000);
    EXPECT_EQ(0u, code) << output;
    EXPECT_NE(std::string::npos, output.find("48000 Hz, PCM, 256 samples")) << output;
    EXPECT_NE(std::string::npos, output.find(" 0 lost or shifted")) << output;
    EXPECT_EQ(std::string::npos, output.find("Loopback: 0 samples")) << output;
    EXPECT_NE(std::string::npos, output.find("44100 Hz, PCM")) << "a second session at the new rate\n" << output;
    // The service's 3010 and 3011 (or the driver's own reset request) reached the host.
    EXPECT_NE(std::string::npos, output.find("kAsioResetRequest")) << output;
    EXPECT_NE(std::string::npos, output.find("Result: PASS")) << output;
}
