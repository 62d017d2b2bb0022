#include "simulator/SimProcess.h"

#include <vector>

std::string SimSendCommand(const std::wstring& name, const std::string& command)
{
    const std::wstring path = L"\\\\.\\pipe\\" + name + L".control";
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 50; ++attempt) {
        pipe = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_PIPE_BUSY) {
            break;
        }
        ::WaitNamedPipeW(path.c_str(), 100);
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        return "error " + std::to_string(::GetLastError());
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    ::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    std::vector<char> answer(4096);
    DWORD read = 0;
    std::string result;
    if (::TransactNamedPipe(pipe, const_cast<char*>(command.data()), static_cast<DWORD>(command.size()),
                            answer.data(), static_cast<DWORD>(answer.size()), &read, nullptr) ||
        ::GetLastError() == ERROR_MORE_DATA) {
        result.assign(answer.data(), read);
    } else {
        // Some pipe implementations lack transact; write and read instead.
        DWORD written = 0;
        if (::WriteFile(pipe, command.data(), static_cast<DWORD>(command.size()), &written, nullptr) &&
            (::ReadFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &read, nullptr) ||
             ::GetLastError() == ERROR_MORE_DATA)) {
            result.assign(answer.data(), read);
        } else {
            result = "error " + std::to_string(::GetLastError());
        }
    }
    ::CloseHandle(pipe);
    return result;
}

std::wstring SimModuleFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

uint32_t SimProcess::Start(const std::wstring& name, const std::wstring& extraArguments,
                           const std::wstring& simulatorPath)
{
    Stop();
    m_name = name;
    const std::wstring program = simulatorPath.empty() ? SimModuleFolder() + L"kuvosim.exe" : simulatorPath;
    std::wstring commandLine = L"\"" + program + L"\" --name " + name;
    if (!extraArguments.empty()) {
        commandLine += L" " + extraArguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return ::GetLastError();
    }
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
    // Wait until the control interface answers (or the process ended).
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (Command("ping") == "ok") {
            return 0;
        }
        if (::WaitForSingleObject(m_process, 10) == WAIT_OBJECT_0) {
            break;
        }
    }
    Kill();
    return ERROR_SERVICE_REQUEST_TIMEOUT;
}

void SimProcess::Stop()
{
    if (m_process == nullptr) {
        return;
    }
    Command("quit");
    if (::WaitForSingleObject(m_process, 5000) != WAIT_OBJECT_0) {
        ::TerminateProcess(m_process, 1);
        ::WaitForSingleObject(m_process, 5000);
    }
    ::CloseHandle(m_process);
    m_process = nullptr;
    m_processId = 0;
}

void SimProcess::Kill()
{
    if (m_process == nullptr) {
        return;
    }
    ::TerminateProcess(m_process, 1);
    ::WaitForSingleObject(m_process, 5000);
    ::CloseHandle(m_process);
    m_process = nullptr;
    m_processId = 0;
}
