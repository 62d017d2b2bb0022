// kuvosim: serves a control device name the way the kernel driver serves its control
// device, for tests, the demo and development on machines without the hardware.
#include "driverlib/OxluneIoctl.h"
#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"
#include "simulator/SimPnPAnnouncer.h"
#include "simulator/SimProcess.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {
void PrintUsage()
{
    std::printf(
        "Usage:\n"
        "  kuvosim [--name NAME] [--version MAJOR.MINOR] [--devices N] [--dsd] [--hardware-time MS]\n"
        "      Serve the control device NAME (default %ls) on \\\\.\\pipe\\NAME until\n"
        "      \"quit\" arrives on its control interface \\\\.\\pipe\\NAME.control.\n"
        "      --devices N plugs N devices (serials KV000001...; at most 8), --dsd gives them a\n"
        "      DSD format, --hardware-time sets how long state and rate changes take (ms).\n"
        "  kuvosim ctl NAME COMMAND [ARGUMENTS...]\n"
        "      Send one command to a running simulator and print its answer.\n"
        "  kuvosim --help\n"
        "Commands: ping, name, quit, version MAJOR MINOR [DRIVER_MAJOR DRIVER_MINOR BUILD FLAGS],\n"
        "  complete CODE|* now|delay MS|fail STATUS, and those of the kernel model: plug, unplug,\n"
        "  devices, state, set-state, counts, rates, dsd-rates, endpoint-volume, mixer-output,\n"
        "  notify, fault, fail-next, delay-next, ... (\"kuvosim ctl NAME help\" lists them all).\n"
        "Clients use the simulator only while HKLM\\Software\\BRAKMOOR\\kuvo\\DeviceSimulator is 1.\n",
        kOxluneControlDeviceName);
}

std::string Narrow(const wchar_t* text)
{
    std::string result;
    for (; *text != L'\0'; ++text) {
        result.push_back(static_cast<char>(*text & 0xFF));
    }
    return result;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"-h") == 0 ||
                      std::wcscmp(argv[1], L"/?") == 0)) {
        PrintUsage();
        return 0;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"ctl") == 0) {
        if (argc < 4) {
            PrintUsage();
            return 2;
        }
        std::string command;
        for (int i = 3; i < argc; ++i) {
            if (i > 3) {
                command += ' ';
            }
            command += Narrow(argv[i]);
        }
        const std::string answer = SimSendCommand(argv[2], command);
        std::printf("%s\n", answer.c_str());
        return answer.rfind("ok", 0) == 0 ? 0 : 1;
    }
    std::wstring name = kOxluneControlDeviceName;
    std::string versionCommand;
    std::vector<std::string> setupCommands;
    uint32_t devices = 0;
    bool dsd = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--name") == 0 && i + 1 < argc) {
            name = argv[++i];
        } else if (std::wcscmp(argv[i], L"--version") == 0 && i + 1 < argc) {
            std::string v = Narrow(argv[++i]);
            const size_t dot = v.find('.');
            versionCommand = "version " + v.substr(0, dot) + " " + (dot == std::string::npos ? "0" : v.substr(dot + 1));
        } else if (std::wcscmp(argv[i], L"--devices") == 0 && i + 1 < argc) {
            if (!SimParseNumber(Narrow(argv[++i]), &devices) || devices > 8) {
                std::fprintf(stderr, "kuvosim: --devices takes 0 to 8\n");
                return 2;
            }
        } else if (std::wcscmp(argv[i], L"--dsd") == 0) {
            dsd = true;
        } else if (std::wcscmp(argv[i], L"--hardware-time") == 0 && i + 1 < argc) {
            setupCommands.push_back("hardware-time " + Narrow(argv[++i]));
        } else {
            std::fprintf(stderr, "kuvosim: unknown argument %s\n", Narrow(argv[i]).c_str());
            PrintUsage();
            return 2;
        }
    }
    SimDriver driver;
    if (!versionCommand.empty()) {
        const std::string answer = driver.Command(versionCommand);
        if (answer != "ok") {
            std::fprintf(stderr, "kuvosim: %s\n", answer.c_str());
            return 2;
        }
    }
    for (uint32_t n = 1; n <= devices; ++n) {
        char serial[16];
        std::snprintf(serial, sizeof(serial), "KV%06u", static_cast<unsigned>(n));
        setupCommands.push_back(std::string("plug ") + serial + (dsd ? " dsd" : ""));
    }
    for (const std::string& command : setupCommands) {
        const std::string answer = driver.Command(command);
        if (answer.rfind("ok", 0) != 0) {
            std::fprintf(stderr, "kuvosim: %s: %s\n", command.c_str(), answer.c_str());
            return 2;
        }
    }
    const uint32_t error = driver.Start(name);
    if (error != 0) {
        std::fprintf(stderr, "kuvosim: cannot serve %s (error %lu)\n", Narrow(name.c_str()).c_str(),
                     static_cast<unsigned long>(error));
        return 1;
    }
    // Stand in for the PnP manager: announce the control device interface's arrival and removal.
    SimPnPAnnouncer announcer(driver.Kernel(), name);
    announcer.Start();
    driver.WaitForQuit(INFINITE);
    // Let the quit's answer reach the caller before the pipes go away.
    ::Sleep(20);
    driver.Stop();
    return 0;
}
