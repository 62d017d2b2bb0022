#pragma once
// A server whose device hooks and handlers write to one log, and a thread that runs its
// receive loop, for the server tests and the end-to-end test.
#include "LibFixture.h"

#include "driverlib/OxluneServer.h"
#include "winsupport/WnEvent.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HookLog {
public:
    void Add(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(line);
    }
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> lines;
        lines.swap(m_lines);
        return lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

inline std::string Narrow(const wchar_t* text)
{
    std::string result;
    for (; *text != L'\0'; ++text) {
        result.push_back(static_cast<char>(*text & 0x7F));
    }
    return result;
}

class LoggingDevice : public OxluneDeviceCtrl {
public:
    explicit LoggingDevice(std::shared_ptr<HookLog> log) : m_log(std::move(log)) {}

    OxluneStatus BeforeTransition(uint32_t current, uint32_t target, uint32_t) override
    {
        Add("before", current, target);
        return beforeResult;
    }
    void AfterTransition(uint32_t current, uint32_t target, uint32_t) override { Add("after", current, target); }
    void TransitionFailed(uint32_t current, uint32_t target, OxluneStatus) override { Add("failed", current, target); }
    void OnDeviceEvent() override { Add("event"); }
    void OnDeviceNotice1(uint32_t value) override { Add("notice1 " + std::to_string(value)); }
    void OnDeviceNotice2(uint32_t value) override { Add("notice2 " + std::to_string(value)); }

    OxluneStatus beforeResult = 0;

private:
    void Add(const std::string& what) { m_log->Add(Narrow(GetSerial()) + " " + what); }
    void Add(const char* what, uint32_t current, uint32_t target)
    {
        Add(std::string(what) + " " + std::to_string(current) + ">" + std::to_string(target));
    }
    std::shared_ptr<HookLog> m_log;
};

class LoggingServer : public OxluneServer {
public:
    LoggingServer(std::wstring name, std::shared_ptr<HookLog> log) : m_name(std::move(name)), m_log(std::move(log)) {}
    ~LoggingServer() override = default;

    const wchar_t* GetControlDeviceName() override { return m_name.c_str(); }
    std::unique_ptr<OxluneDevice> CreateDevice() override { return std::make_unique<LoggingDevice>(m_log); }
    void HandleOtherNotification(const OxluneMessage& message) override
    {
        m_log->Add("other " + std::to_string(message.code));
    }
    LoggingDevice* Device(uint32_t index) { return static_cast<LoggingDevice*>(GetDevice(index)); }

private:
    std::wstring m_name;
    std::shared_ptr<HookLog> m_log;
};

// Runs server.Run(stop, device change) on its own thread.
class ServerThread {
public:
    explicit ServerThread(OxluneServer& server) : m_server(server)
    {
        m_stop.Create(true, false);
        m_deviceChange.Create(false, false);
        m_done.Create(true, false);
    }
    ~ServerThread() { Stop(); }
    void Start()
    {
        m_thread = std::thread([this] {
            m_server.Run(m_stop.Get(), m_deviceChange.Get());
            m_done.Set();
        });
    }
    void SignalDeviceChange() { m_deviceChange.Set(); }
    // True when Run has returned (waits up to the guard).
    bool WaitReturned(DWORD guardMs = kGuardMs) { return ::WaitForSingleObject(m_done.Get(), guardMs) == WAIT_OBJECT_0; }
    void Stop()
    {
        if (m_thread.joinable()) {
            m_stop.Set();
            m_thread.join();
        }
    }

private:
    OxluneServer& m_server;
    WnEvent m_stop;
    WnEvent m_deviceChange;
    WnEvent m_done;
    std::thread m_thread;
};
