#pragma once
#include "simulator/SimPipeServer.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the kernel driver keeps per open handle of its control device.
struct SimConnection {
    uint32_t id = 0;
    DWORD processId = 0;
    // Opened on the client's process, as a driver acts in the caller's context: for
    // duplicating its event handles and reading and writing its buffers.
    HANDLE process = nullptr;
};

// One control-device request as the handler sees it.
struct SimRequest {
    uint32_t code = 0;
    const uint8_t* in = nullptr;
    uint32_t inSize = 0;
    uint8_t* out = nullptr;
    uint32_t outCapacity = 0;
    uint32_t bytesReturned = 0;
};

// How the next requests of one code complete; set by tests through the control interface.
struct SimCompletion {
    enum class Mode { Normal, Delay, Fail };
    Mode mode = Mode::Normal;
    uint32_t delayMs = 0;
    uint32_t status = 0;
    // 0: every following request; N: only the next N requests, then normal again.
    uint32_t count = 0;
};

class SimKernel;
class SimAsioEngine;

// The stand-in for the kernel driver: serves the control device "\\.\pipe\<name>" and a
// control interface for tests on "\\.\pipe\<name>.control" (one text command per message).
class SimDriver {
public:
    using RequestHandler = std::function<uint32_t(SimConnection& connection, SimRequest& request)>;
    using CommandHandler = std::function<std::string(const std::vector<std::string>& arguments)>;
    using ConnectionHook = std::function<void(SimConnection& connection)>;

    SimDriver();
    ~SimDriver();
    SimDriver(const SimDriver&) = delete;
    SimDriver& operator=(const SimDriver&) = delete;

    uint32_t Start(const std::wstring& name);
    void Stop();
    const std::wstring& Name() const { return m_name; }

    // Registration of request families and control commands; done before Start.
    void SetHandler(uint32_t code, RequestHandler handler);
    void SetCommand(const std::string& name, CommandHandler handler);
    void AddCloseHook(ConnectionHook hook);

    // Runs one control command line, as the control pipe does.
    std::string Command(const std::string& line);
    // Waits until "quit" arrives on the control interface (or the timeout).
    bool WaitForQuit(uint32_t timeoutMs);

    // Interface version answered to 0x801.
    void SetVersion(uint32_t interfaceMajor, uint32_t interfaceMinor, uint32_t driverMajor, uint32_t driverMinor,
                    uint32_t driverBuild, uint32_t flags);
    // code 0 stands for every code without its own setting.
    void SetCompletion(uint32_t code, const SimCompletion& completion);
    void ClearCompletions();

    // Runs one request as the control device would (also used in-process by tests).
    uint32_t Dispatch(SimConnection& connection, SimRequest& request);

    std::shared_ptr<SimConnection> FindConnection(uint32_t id);
    std::vector<std::shared_ptr<SimConnection>> Connections();

    // The kernel driver's model (devices, queues, streaming), created with the driver;
    // its handlers and commands are registered on this driver.
    SimKernel& Kernel() { return *m_kernel; }
    // The ASIO streaming engine on top of the kernel model (requests 0xF02 to 0xF31).
    SimAsioEngine& Asio() { return *m_asio; }
    // The handler registered for a code, empty when none; for engines that extend one.
    RequestHandler Handler(uint32_t code);

private:
    void OnRequest(SimPipeServer::Client& client, const uint8_t* message, uint32_t size, std::vector<uint8_t>& reply);
    void OnConnect(SimPipeServer::Client& client);
    void OnDisconnect(SimPipeServer::Client& client);
    void RegisterBuiltins();

    std::wstring m_name;
    SimPipeServer m_device;
    SimPipeServer m_control;
    HANDLE m_quit = nullptr;

    std::mutex m_mutex;
    std::map<uint32_t, RequestHandler> m_handlers;
    std::map<std::string, CommandHandler> m_commands;
    std::vector<ConnectionHook> m_closeHooks;
    std::map<uint32_t, SimCompletion> m_completions;
    std::map<uint32_t, std::shared_ptr<SimConnection>> m_connections;
    uint32_t m_version[6] = {2, 0, 1, 4, 120, 0};
    std::unique_ptr<SimKernel> m_kernel; // last: destroyed first, after Stop
    std::unique_ptr<SimAsioEngine> m_asio; // uses the kernel: destroyed before it
};

// A control device name that no other test or run uses.
std::wstring SimUniqueName(const wchar_t* purpose);
// Parses a number in decimal or 0x-hex; false on anything else.
bool SimParseNumber(const std::string& text, uint32_t* value);
