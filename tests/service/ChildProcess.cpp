#include "ChildProcess.h"

ChildProcess::~ChildProcess()
{
    Kill();
    if (m_read != nullptr) {
        ::CloseHandle(m_read);
    }
}

uint32_t ChildProcess::Start(const std::wstring& program, const std::wstring& arguments, uint32_t creationFlags)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE write = nullptr;
    if (!::CreatePipe(&m_read, &write, &inherit, 0)) {
        return ::GetLastError();
    }
    ::SetHandleInformation(m_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = write;
    startup.hStdError = write;
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    PROCESS_INFORMATION info{};
    const BOOL ok = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, creationFlags,
                                     nullptr, nullptr, &startup, &info);
    const DWORD error = ok ? 0 : ::GetLastError();
    ::CloseHandle(write);
    if (!ok) {
        return error;
    }
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
    return 0;
}

void ChildProcess::Drain()
{
    if (m_read == nullptr) {
        return;
    }
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(m_read, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
            return;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(m_read, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got, nullptr) ||
            got == 0) {
            return;
        }
        m_output.append(buffer, got);
    }
}

const std::string& ChildProcess::Output()
{
    Drain();
    return m_output;
}

bool ChildProcess::WaitForOutput(const std::string& text, uint32_t timeoutMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        Drain();
        if (m_output.find(text) != std::string::npos) {
            return true;
        }
        if (m_process == nullptr || ::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0) {
            Drain();
            return m_output.find(text) != std::string::npos;
        }
        if (::GetTickCount() - start > timeoutMs) {
            return false;
        }
        ::Sleep(20);
    }
}

bool ChildProcess::Wait(uint32_t timeoutMs)
{
    if (m_process == nullptr) {
        return true;
    }
    const DWORD start = ::GetTickCount();
    while (::WaitForSingleObject(m_process, 20) == WAIT_TIMEOUT) {
        Drain();
        if (::GetTickCount() - start > timeoutMs) {
            return false;
        }
    }
    Drain();
    DWORD code = 0;
    ::GetExitCodeProcess(m_process, &code);
    m_exitCode = code;
    ::CloseHandle(m_process);
    m_process = nullptr;
    return true;
}

void ChildProcess::Kill()
{
    if (m_process != nullptr) {
        ::TerminateProcess(m_process, 1);
        ::WaitForSingleObject(m_process, 10000);
        ::CloseHandle(m_process);
        m_process = nullptr;
    }
}

std::string ToLf(const std::string& text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        result.push_back(text[i]);
    }
    return result;
}

RunResult RunProgram(const std::wstring& program, const std::wstring& arguments)
{
    RunResult result;
    ChildProcess child;
    if (child.Start(program, arguments) != 0) {
        return result;
    }
    if (!child.Wait(120000)) {
        child.Kill();
        result.output = "(hung) " + child.Output();
        return result;
    }
    result.exitCode = child.ExitCode();
    result.output = ToLf(child.Output());
    return result;
}

std::wstring TestFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}
