#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Sends one command line to a simulator's control interface and returns its answer
// ("ok ..." or "error ..."), or "error <code>" when the simulator cannot be reached.
std::string SimSendCommand(const std::wstring& name, const std::string& command);

// A kuvosim.exe process serving one control device name; ended by its id, never by name.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts kuvosim.exe from this program's folder (or simulatorPath) with the name and
    // extra arguments, and waits until its control device answers.
    uint32_t Start(const std::wstring& name, const std::wstring& extraArguments = L"",
                   const std::wstring& simulatorPath = L"");
    std::string Command(const std::string& command) const { return SimSendCommand(m_name, command); }
    // Asks it to quit, then terminates it by handle if it does not end in time.
    void Stop();
    // Ends it at once, as a crash would.
    void Kill();
    const std::wstring& Name() const { return m_name; }
    DWORD ProcessId() const { return m_processId; }
    HANDLE Process() const { return m_process; }

private:
    std::wstring m_name;
    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
};

// The folder of the running module, with a trailing backslash.
std::wstring SimModuleFolder();
