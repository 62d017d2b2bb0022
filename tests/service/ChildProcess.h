#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// A program started by a test, with its standard output collected through a pipe.
// Ended by its handle (never by name) when the object goes away.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // program is a full path; arguments follow the quoted program on the command line.
    uint32_t Start(const std::wstring& program, const std::wstring& arguments, uint32_t creationFlags = 0);
    // Waits for the end (false on time-out) and reads the rest of the output.
    bool Wait(uint32_t timeoutMs);
    // Reads what has arrived so far without blocking.
    const std::string& Output();
    // Waits until the output contains text (false on time-out or when the process ended without it).
    bool WaitForOutput(const std::string& text, uint32_t timeoutMs);
    uint32_t ExitCode() const { return m_exitCode; }
    DWORD ProcessId() const { return m_processId; }
    HANDLE Process() const { return m_process; }
    void Kill();

private:
    void Drain();

    HANDLE m_process = nullptr;
    HANDLE m_read = nullptr;
    DWORD m_processId = 0;
    uint32_t m_exitCode = STILL_ACTIVE;
    std::string m_output;
};

// Runs a program to its end (hang guard 120 s); output with CR LF turned into LF.
struct RunResult {
    uint32_t exitCode = 0xFFFFFFFF;
    std::string output;
};
RunResult RunProgram(const std::wstring& program, const std::wstring& arguments);

// The folder of the running test program, with a trailing backslash.
std::wstring TestFolder();
// text with every CR LF turned into LF.
std::string ToLf(const std::string& text);
