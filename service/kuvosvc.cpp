// kuvosvc: the device control service, and its installer and controller.
#include "service/ConsoleOutput.h"
#include "service/OxluneService.h"

#include <cwchar>

namespace {
// Constructed before wmain runs.
OxluneService g_service;

int Report(uint32_t result, const wchar_t* success, const wchar_t* failure)
{
    PrintText(result == 0 ? success : failure);
    return static_cast<int>(result);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc <= 1) {
        PrintText(L"No arguments given, use -h.\n");
        return 1;
    }
    const wchar_t* argument = argv[1];
    if (std::wcscmp(argument, L"-install") == 0) {
        g_service.StopService();
        if (g_service.UninstallService() == 0) {
            // A service marked for deletion goes only when its process has ended; creating
            // it again before that fails or, under Wine, is lost with the old one.
            g_service.WaitForServiceRemoval();
        }
        return Report(g_service.InstallService(), L"Service installed successfully.\n",
                      L"Error installing service.\n");
    }
    if (std::wcscmp(argument, L"-uninstall") == 0) {
        g_service.StopService();
        return Report(g_service.UninstallService(), L"Service uninstalled successfully.\n",
                      L"Error uninstalling service.\n");
    }
    if (std::wcscmp(argument, L"-start") == 0) {
        return Report(g_service.StartService(), L"Service started successfully.\n", L"Error starting service.\n");
    }
    if (std::wcscmp(argument, L"-stop") == 0) {
        return Report(g_service.StopService(), L"Service stopped successfully.\n", L"Error stopping service.\n");
    }
    if (std::wcscmp(argument, L"-h") == 0 || std::wcscmp(argument, L"-?") == 0) {
        PrintText(L"\n%s V%d.%02d\n%s Service\n\nSupported command line options:\n"
                  L" -install    Install the service.\n"
                  L" -uninstall  Uninstall the service.\n"
                  L" -start      Start the service.\n"
                  L" -stop       Stop the service.\n"
                  L" -console    Start service in console mode.\n"
                  L" -h, -?      Print this help message.\n\n",
                  g_service.GetServiceName(), static_cast<int>(kServiceVersionMajor),
                  static_cast<int>(kServiceVersionMinor), g_service.GetDisplayName());
        return 0;
    }
    const bool console = std::wcscmp(argument, L"-console") == 0;
    if (console || std::wcscmp(argument, L"-service") == 0) {
        std::vector<ServiceBase*>& services = ServiceBase::ServiceList();
        services.push_back(&g_service);
        return ServiceBase::RunServices(services, console) ? 0 : -1;
    }
    PrintText(L"Unknown argument %s, use -h.\n", argument);
    return 1;
}
