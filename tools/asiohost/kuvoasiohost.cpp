// kuvoasiohost: loads the ASIO driver the way a host does (HKLM\SOFTWARE\ASIO, its
// CLSID, CoCreateInstance with the CLSID as interface id), runs a session against it and
// prints a report. Without --device it starts a simulator and a service stand-in itself.
#include "asio/AsioCustom.h"
#include "asio/AsioInterface.h"
#include "driverlib/OxluneApiContext.h"
#include "driverlib/OxluneRecords.h"
#include "driverlib/OxluneRequests.h"
#include "simulator/SimDriver.h"
#include "simulator/SimProcess.h"
#include "tools/asiohost/AsioHostSession.h"
#include "tools/asiohost/AsioStandInService.h"
#include "winsupport/WnRegistryKey.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {
struct Options {
    std::wstring device;
    std::wstring driver = L"Kuvo ASIO";
    double seconds = 5;
    uint32_t rateChange = 0;
    uint32_t buffer = 0;
    bool dsd = false;
};

void Usage()
{
    std::printf("Usage: kuvoasiohost [--seconds N] [--buffer 64|128|256|512] [--rate-change HZ] [--dsd]\n"
                "                    [--device NAME] [--driver NAME]\n"
                "  Streams through the registered ASIO driver for N seconds (default 5) with a known\n"
                "  signal on every output, checks the inputs in loopback and prints a report.\n"
                "  --buffer N        the ASIO buffer size set in the started simulator (at 44.1/48 kHz)\n"
                "  --rate-change HZ  changes the sample rate through the driver a fifth of the way in\n"
                "  --dsd             switches to DSD at two fifths and back to PCM at three fifths\n"
                "  --device NAME     uses a running control device instead of starting a simulator\n"
                "  --driver NAME     the entry under HKLM\\SOFTWARE\\ASIO (default \"Kuvo ASIO\")\n");
}

const char* SelectorName(int selector)
{
    static const char* names[] = {"?",
                                  "kAsioSelectorSupported",
                                  "kAsioEngineVersion",
                                  "kAsioResetRequest",
                                  "kAsioBufferSizeChange",
                                  "kAsioResyncRequest",
                                  "kAsioLatenciesChanged",
                                  "kAsioSupportsTimeInfo",
                                  "kAsioSupportsTimeCode",
                                  "kAsioMMCCommand",
                                  "kAsioSupportsInputMonitor",
                                  "kAsioSupportsInputGain",
                                  "kAsioSupportsInputMeter",
                                  "kAsioSupportsOutputGain",
                                  "kAsioSupportsOutputMeter",
                                  "kAsioOverload"};
    return selector >= 0 && selector < 16 ? names[selector] : "other";
}

bool FindDriver(const std::wstring& entry, CLSID* clsid, std::wstring* text)
{
    WnRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\ASIO\\" + entry).c_str(), KEY_READ) != 0) {
        return false;
    }
    wchar_t value[100] = {};
    if (key.ReadString(L"CLSID", value, 100) != 0 || FAILED(::CLSIDFromString(value, clsid))) {
        return false;
    }
    *text = value;
    return true;
}

// Registers the driver beside this program, as an installation would.
bool RegisterBesideUs()
{
    const std::wstring path = SimModuleFolder() + L"kuvoasio.dll";
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    std::wstring commandLine = L"regsvr32.exe /s \"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return false;
    }
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code == 0;
}

bool ReadErrors(const std::wstring& device, OxluneErrorCounters* counters)
{
    OxluneApiContext context;
    if (context.Open(device.c_str()) != 0) {
        return false;
    }
    return context.IoControl(OXLUNE_IOCTL_GET_ERROR_COUNTERS, nullptr, 0, counters, sizeof(*counters)) == 0;
}

uint32_t Percentile(std::vector<uint32_t> values, double fraction)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--seconds" && i + 1 < argc) {
            options.seconds = std::wcstod(argv[++i], nullptr);
        } else if (arg == L"--rate-change" && i + 1 < argc) {
            options.rateChange = static_cast<uint32_t>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (arg == L"--buffer" && i + 1 < argc) {
            options.buffer = static_cast<uint32_t>(std::wcstoul(argv[++i], nullptr, 10));
            if (options.buffer != 64 && options.buffer != 128 && options.buffer != 256 && options.buffer != 512) {
                Usage();
                return 2;
            }
        } else if (arg == L"--dsd") {
            options.dsd = true;
        } else if (arg == L"--device" && i + 1 < argc) {
            options.device = argv[++i];
        } else if (arg == L"--driver" && i + 1 < argc) {
            options.driver = argv[++i];
        } else {
            Usage();
            return arg == L"--help" || arg == L"-h" ? 0 : 2;
        }
    }
    if (options.seconds <= 0 || options.seconds > 3600) {
        Usage();
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("Kuvo ASIO test host\n");

    // The control device: a running one, or a simulator of our own with the service stand-in.
    SimProcess simulator;
    AsioStandInService service;
    std::wstring device = options.device;
    if (device.empty()) {
        device = SimUniqueName(L"asiohost");
        const uint32_t error = simulator.Start(device, L"--devices 1 --dsd");
        if (error != 0) {
            std::printf("Starting the simulator failed (error %lu).\n", static_cast<unsigned long>(error));
            return 1;
        }
        const OxluneStatus status = service.Start(device.c_str());
        if (status != 0) {
            std::printf("Starting the service stand-in failed (0x%08X).\n", status);
            return 1;
        }
        if (options.buffer != 0) {
            const uint32_t asioClass = options.buffer == 64 ? 0 : options.buffer == 128 ? 1 : options.buffer == 256 ? 2 : 3;
            const OxluneStatus applied = service.ApplyAsioBufferClass(asioClass);
            if (applied != 0) {
                std::printf("Setting the ASIO buffer size failed (0x%08X).\n", applied);
                return 1;
            }
        }
        std::printf("Simulator: control device %ls, process %lu, with a service stand-in\n", device.c_str(),
                    static_cast<unsigned long>(simulator.ProcessId()));
    } else {
        std::printf("Control device: %ls\n", device.c_str());
    }
    ::SetEnvironmentVariableW(kAsioDeviceOverrideVariable, device.c_str());

    CLSID clsid{};
    std::wstring clsidText;
    if (!FindDriver(options.driver, &clsid, &clsidText)) {
        if (!RegisterBesideUs() || !FindDriver(options.driver, &clsid, &clsidText)) {
            std::printf("No driver \"%ls\" under HKLM\\SOFTWARE\\ASIO.\n", options.driver.c_str());
            return 1;
        }
        std::printf("The driver was not registered: registered kuvoasio.dll from this folder.\n");
    }
    ::CoInitialize(nullptr);
    IASIO* asio = nullptr;
    HRESULT created = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&asio));
    if (FAILED(created) || asio == nullptr) {
        std::printf("CoCreateInstance of %ls failed (0x%08lX).\n", clsidText.c_str(), static_cast<unsigned long>(created));
        ::CoUninitialize();
        return 1;
    }
    int exitCode = 0;
    if (asio->init(nullptr) != ASIOTrue) {
        char message[124] = {};
        asio->getErrorMessage(message);
        std::printf("init failed: %s\n", message);
        asio->Release();
        ::CoUninitialize();
        return 1;
    }
    char name[32] = {};
    asio->getDriverName(name);
    std::printf("Driver: %s, version %ld, CLSID %ls\n", name, asio->getDriverVersion(), clsidText.c_str());
    long inputs = 0, outputs = 0;
    asio->getChannels(&inputs, &outputs);
    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    asio->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    ASIOSampleRate rate = 0;
    asio->getSampleRate(&rate);
    std::printf("Channels: %ld inputs, %ld outputs; buffer size min %ld, max %ld, preferred %ld, granularity %ld; "
                "rate %.0f Hz\n",
                inputs, outputs, minSize, maxSize, preferred, granularity, rate);
    std::printf("Rates:");
    for (double candidate : {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 2822400.0, 5644800.0}) {
        if (asio->canSampleRate(candidate) == ASE_OK) {
            std::printf(" %.0f", candidate);
        }
    }
    std::printf("\n");

    OxluneErrorCounters before{};
    const bool haveErrors = ReadErrors(device, &before);

    AsioHostSession session;
    auto startSession = [&](const char* why) {
        const ASIOError result = session.Start(asio);
        ASIOSampleRate current = 0;
        asio->getSampleRate(&current);
        std::printf("Session %llu (%s): %.0f Hz, %s, %ld samples, %ld inputs, %ld outputs: %s\n",
                    static_cast<unsigned long long>(session.totals().sessions), why, current,
                    session.dsd() ? "DSD" : "PCM", session.bufferSize(), session.inputs(), session.outputs(),
                    result == ASE_OK ? "streaming" : "failed");
        return result == ASE_OK;
    };
    if (!startSession("start")) {
        exitCode = 1;
    }
    const DWORD begin = ::GetTickCount();
    const DWORD total = static_cast<DWORD>(options.seconds * 1000);
    bool rateChanged = false, toDsd = false, backToPcm = false;
    while (exitCode == 0 && ::GetTickCount() - begin < total) {
        ::Sleep(10);
        const DWORD elapsed = ::GetTickCount() - begin;
        if (session.ResetRequested()) {
            session.Finish();
            if (!startSession("after the driver's reset request")) {
                exitCode = 1;
            }
            continue;
        }
        if (options.rateChange != 0 && !rateChanged && elapsed >= total / 5) {
            rateChanged = true;
            const ASIOError result = asio->setSampleRate(options.rateChange);
            std::printf("setSampleRate(%lu) while streaming: %ld\n", static_cast<unsigned long>(options.rateChange),
                        static_cast<long>(result));
        }
        if (options.dsd && !toDsd && elapsed >= total * 2 / 5) {
            toDsd = true;
            ASIOIoFormat format{};
            format.FormatType = kASIODSDFormat;
            const ASIOError result = asio->future(kAsioSetIoFormat, &format);
            std::printf("future(kAsioSetIoFormat, DSD) while streaming: %s\n",
                        result == ASE_SUCCESS ? "ASE_SUCCESS" : "failed");
        }
        if (options.dsd && toDsd && !backToPcm && elapsed >= total * 3 / 5) {
            backToPcm = true;
            ASIOIoFormat format{};
            format.FormatType = kASIOPCMFormat;
            const ASIOError result = asio->future(kAsioSetIoFormat, &format);
            std::printf("future(kAsioSetIoFormat, PCM) while streaming: %s\n",
                        result == ASE_SUCCESS ? "ASE_SUCCESS" : "failed");
        }
    }
    session.Finish();
    asio->Release();
    ::CoUninitialize();

    OxluneErrorCounters after{};
    const bool haveAfter = haveErrors && ReadErrors(device, &after);
    service.Stop();
    simulator.Stop();

    const AsioHostSession::Totals& totals = session.totals();
    const std::vector<uint32_t> latencies = session.Latencies();
    std::printf("Report\n");
    std::printf("  Switches received: %llu in %llu sessions\n", static_cast<unsigned long long>(totals.switches),
                static_cast<unsigned long long>(totals.sessions));
    std::printf("  Sample positions: %s (%llu gaps)\n", totals.positionGaps == 0 ? "continuous" : "NOT continuous",
                static_cast<unsigned long long>(totals.positionGaps));
    std::printf("  Loopback: %llu samples checked, %llu lost or shifted\n",
                static_cast<unsigned long long>(totals.checkedSamples),
                static_cast<unsigned long long>(totals.lostSamples));
    if (latencies.empty()) {
        std::printf("  Latency signal to callback: not measured\n");
    } else {
        std::printf("  Latency signal to callback: p50 %lu us, p99 %lu us, max %lu us (%zu switches)\n",
                    static_cast<unsigned long>(Percentile(latencies, 0.5)),
                    static_cast<unsigned long>(Percentile(latencies, 0.99)),
                    static_cast<unsigned long>(*std::max_element(latencies.begin(), latencies.end())),
                    latencies.size());
    }
    if (haveAfter) {
        std::printf("  Missed switches (ASIO error counter): %lu\n",
                    static_cast<unsigned long>(after.asio - before.asio));
    } else {
        std::printf("  Missed switches (ASIO error counter): not readable\n");
    }
    std::printf("  asioMessage selectors:");
    for (int selector = 0; selector < 32; ++selector) {
        if (totals.messages[selector] != 0) {
            std::printf(" %s x%u", SelectorName(selector), totals.messages[selector]);
        }
    }
    std::printf("\n");
    const bool pass = exitCode == 0 && totals.switches > 0 && totals.lostSamples == 0 && totals.positionGaps == 0;
    std::printf("Result: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
