#pragma once
#include "service/ServiceBase.h"
#include "winsupport/WnEvent.h"
#include "winsupport/WnMutex.h"

#include <cstdint>

class CustomServer;

// Program version, shown by the help text and the start event.
constexpr uint32_t kServiceVersionMajor = 1;
constexpr uint32_t kServiceVersionMinor = 37;
constexpr uint32_t kServiceVersionBuild = 10;

// Event texts.
inline constexpr wchar_t kStartEventFormat[] = L"%s started\r\nExePath: %s\r\nVersion %u.%u.%u\r\nInterface Version %u.%u";
inline constexpr wchar_t kStopEventFormat[] = L"%s terminating.";
inline constexpr wchar_t kModuleNameErrorText[] = L"Failed to get module name.";
inline constexpr wchar_t kAnotherInstanceErrorText[] = L"Unable to start because another instance is already running.";
inline constexpr wchar_t kPnPRegistrationErrorText[] = L"Unable to register for PnP notifications.";

// The device control service: owns the server object, runs its receive loop in service
// or console mode, and turns device-interface arrivals into the server's device-change
// event.
class OxluneService : public ServiceBase {
public:
    OxluneService();
    ~OxluneService() override;

    const wchar_t* GetServiceName() override;
    const wchar_t* GetDisplayName() override;
    const wchar_t* GetDescription() override;
    LPSERVICE_MAIN_FUNCTIONW GetServiceMain() override;
    uint32_t RunConsole() override;
    void OnPnPEvent(uint32_t eventType, void* eventData) override;

    // Service mode: runs on the thread that the service control manager created.
    void RunService(DWORD argumentCount, wchar_t** arguments);
    // 0 when this process now holds the instance mutex, else the error (183: another
    // instance holds it).
    uint32_t ClaimSingleInstance();
    void ReleaseSingleInstance();
    // The mutex name: "<service name>-<control device name>", cut to 499 characters.
    void FormatInstanceName(wchar_t* buffer, uint32_t capacity);
    // Runs the server's receive loop until the stop event ends it.
    void RunServer();

    CustomServer* Server() { return m_server; }
    HANDLE DeviceChangeEvent() const { return m_deviceChangeEvent.Get(); }

    // The start event's text for a service name and executable path.
    static void FormatStartText(wchar_t* buffer, uint32_t capacity, const wchar_t* serviceName, const wchar_t* exePath);
    // The object that the program's service-main function runs (the first one created).
    static OxluneService* Global();

private:
    static void WINAPI ServiceMain(DWORD argumentCount, wchar_t** arguments);

    CustomServer* m_server = nullptr;
    WnMutex m_instance;
    WnEvent m_deviceChangeEvent;
};
