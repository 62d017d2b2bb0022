#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"
#include "simulator/SimAsioEngine.h"

#include "driverlib/OxluneIoctl.h"
#include "driverlib/OxluneSimulatorWire.h"
#include "driverlib/OxluneStatus.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {
constexpr uint32_t kMaxMessage = sizeof(OxluneWireRequest) + kOxluneWireMaxData;
constexpr uint32_t kMaxCommand = 4096;

std::string Narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text) {
        result.push_back(static_cast<char>(c & 0x7F));
    }
    return result;
}
} // namespace

bool SimParseNumber(const std::string& text, uint32_t* value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const bool negative = text[0] == '-';
    const unsigned long long parsed = std::strtoull(text.c_str() + (negative ? 1 : 0), &end, 0);
    if (end == nullptr || *end != '\0' || parsed > 0xFFFFFFFFull) {
        return false;
    }
    *value = negative ? static_cast<uint32_t>(-static_cast<int64_t>(parsed)) : static_cast<uint32_t>(parsed);
    return true;
}

std::wstring SimUniqueName(const wchar_t* purpose)
{
    static std::atomic<uint32_t> counter{0};
    wchar_t name[128];
    std::swprintf(name, 128, L"kuvo-%ls-%lu-%lu-%lu", purpose, static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long>(++counter), static_cast<unsigned long>(::GetTickCount()));
    return name;
}

SimDriver::SimDriver()
{
    m_quit = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RegisterBuiltins();
    m_kernel = std::make_unique<SimKernel>(*this);
    m_asio = std::make_unique<SimAsioEngine>(*this, *m_kernel);
}

SimDriver::~SimDriver()
{
    Stop();
    if (m_quit != nullptr) {
        ::CloseHandle(m_quit);
    }
}

uint32_t SimDriver::Start(const std::wstring& name)
{
    m_name = name;
    uint32_t error = m_device.Start(
        L"\\\\.\\pipe\\" + name, kMaxMessage,
        [this](SimPipeServer::Client& c, const uint8_t* m, uint32_t n, std::vector<uint8_t>& r) {
            OnRequest(c, m, n, r);
        },
        [this](SimPipeServer::Client& c) { OnConnect(c); }, [this](SimPipeServer::Client& c) { OnDisconnect(c); });
    if (error != 0) {
        return error;
    }
    error = m_control.Start(
        L"\\\\.\\pipe\\" + name + L".control", kMaxCommand,
        [this](SimPipeServer::Client&, const uint8_t* m, uint32_t n, std::vector<uint8_t>& r) {
            const std::string answer = Command(std::string(reinterpret_cast<const char*>(m), n));
            r.assign(answer.begin(), answer.end());
        },
        nullptr, nullptr);
    if (error != 0) {
        m_device.Stop();
    }
    return error;
}

void SimDriver::Stop()
{
    m_control.Stop();
    m_device.Stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [id, connection] : m_connections) {
        if (connection->process != nullptr) {
            ::CloseHandle(connection->process);
            connection->process = nullptr;
        }
    }
    m_connections.clear();
}

void SimDriver::SetHandler(uint32_t code, RequestHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlers[code] = std::move(handler);
}

void SimDriver::SetCommand(const std::string& name, CommandHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands[name] = std::move(handler);
}

void SimDriver::AddCloseHook(ConnectionHook hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closeHooks.push_back(std::move(hook));
}

void SimDriver::SetVersion(uint32_t interfaceMajor, uint32_t interfaceMinor, uint32_t driverMajor,
                           uint32_t driverMinor, uint32_t driverBuild, uint32_t flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint32_t values[6] = {interfaceMajor, interfaceMinor, driverMajor, driverMinor, driverBuild, flags};
    std::memcpy(m_version, values, sizeof(values));
}

void SimDriver::SetCompletion(uint32_t code, const SimCompletion& completion)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_completions[code] = completion;
}

void SimDriver::ClearCompletions()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_completions.clear();
}

bool SimDriver::WaitForQuit(uint32_t timeoutMs)
{
    return ::WaitForSingleObject(m_quit, timeoutMs) == WAIT_OBJECT_0;
}

std::shared_ptr<SimConnection> SimDriver::FindConnection(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_connections.find(id);
    return it != m_connections.end() ? it->second : nullptr;
}

std::vector<std::shared_ptr<SimConnection>> SimDriver::Connections()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<SimConnection>> result;
    for (auto& [id, connection] : m_connections) {
        result.push_back(connection);
    }
    return result;
}

void SimDriver::OnConnect(SimPipeServer::Client& client)
{
    auto connection = std::make_shared<SimConnection>();
    connection->id = client.id;
    connection->processId = client.processId;
    connection->process = ::OpenProcess(PROCESS_DUP_HANDLE | PROCESS_VM_OPERATION | PROCESS_VM_READ |
                                            PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE,
                                        FALSE, client.processId);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connections[client.id] = connection;
}

void SimDriver::OnDisconnect(SimPipeServer::Client& client)
{
    std::shared_ptr<SimConnection> connection;
    std::vector<ConnectionHook> hooks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_connections.find(client.id);
        if (it == m_connections.end()) {
            return;
        }
        connection = it->second;
        m_connections.erase(it);
        hooks = m_closeHooks;
    }
    // What a driver does when the handle is closed: forget the connection's registrations.
    for (auto& hook : hooks) {
        hook(*connection);
    }
    if (connection->process != nullptr) {
        ::CloseHandle(connection->process);
        connection->process = nullptr;
    }
}

void SimDriver::OnRequest(SimPipeServer::Client& client, const uint8_t* message, uint32_t size,
                          std::vector<uint8_t>& reply)
{
    OxluneWireReply header{OXLUNE_STATUS_INVALID_INBUFFER_SIZE, 0};
    OxluneWireRequest request{};
    reply.resize(sizeof(header));
    if (size < sizeof(request)) {
        std::memcpy(reply.data(), &header, sizeof(header));
        return;
    }
    std::memcpy(&request, message, sizeof(request));
    if (request.inSize != size - sizeof(request) || request.outCapacity > kOxluneWireMaxData) {
        std::memcpy(reply.data(), &header, sizeof(header));
        return;
    }
    std::shared_ptr<SimConnection> connection = FindConnection(client.id);
    if (!connection) {
        header.status = OXLUNE_STATUS_INTERNAL_ERROR;
        std::memcpy(reply.data(), &header, sizeof(header));
        return;
    }
    reply.resize(sizeof(header) + request.outCapacity);
    SimRequest call;
    call.code = request.code;
    call.in = message + sizeof(request);
    call.inSize = request.inSize;
    call.out = reply.data() + sizeof(header);
    call.outCapacity = request.outCapacity;
    header.status = Dispatch(*connection, call);
    header.bytesReturned = call.bytesReturned <= call.outCapacity ? call.bytesReturned : call.outCapacity;
    reply.resize(sizeof(header) + header.bytesReturned);
    std::memcpy(reply.data(), &header, sizeof(header));
}

SimDriver::RequestHandler SimDriver::Handler(uint32_t code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handlers.find(code);
    return it != m_handlers.end() ? it->second : RequestHandler();
}

uint32_t SimDriver::Dispatch(SimConnection& connection, SimRequest& request)
{
    SimCompletion completion;
    RequestHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_completions.find(request.code);
        if (it == m_completions.end()) {
            it = m_completions.find(0);
        }
        if (it != m_completions.end()) {
            completion = it->second;
            if (it->second.count != 0 && --it->second.count == 0) {
                m_completions.erase(it);
            }
        }
        auto found = m_handlers.find(request.code);
        if (found != m_handlers.end()) {
            handler = found->second;
        }
    }
    if (completion.mode == SimCompletion::Mode::Fail) {
        request.bytesReturned = 0;
        return completion.status;
    }
    if (completion.mode == SimCompletion::Mode::Delay) {
        // The request pends in the driver and completes later.
        ::Sleep(completion.delayMs);
    }
    if (!handler) {
        return OXLUNE_STATUS_INVALID_IOCTL;
    }
    return handler(connection, request);
}

std::string SimDriver::Command(const std::string& line)
{
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    if (words.empty()) {
        return "error empty command";
    }
    CommandHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_commands.find(words[0]);
        if (it == m_commands.end()) {
            return "error unknown command " + words[0];
        }
        handler = it->second;
    }
    return handler(std::vector<std::string>(words.begin() + 1, words.end()));
}

void SimDriver::RegisterBuiltins()
{
    SetHandler(OXLUNE_IOCTL_GET_VERSION_INFO, [this](SimConnection&, SimRequest& request) -> uint32_t {
        if (request.outCapacity < sizeof(m_version)) {
            return OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        std::memcpy(request.out, m_version, sizeof(m_version));
        request.bytesReturned = sizeof(m_version);
        return 0;
    });
    SetCommand("ping", [](const std::vector<std::string>&) { return std::string("ok"); });
    SetCommand("name", [this](const std::vector<std::string>&) { return "ok " + Narrow(m_name); });
    SetCommand("quit", [this](const std::vector<std::string>&) {
        ::SetEvent(m_quit);
        return std::string("ok");
    });
    // version MAJOR MINOR [DRIVER_MAJOR DRIVER_MINOR BUILD FLAGS]
    SetCommand("version", [this](const std::vector<std::string>& a) {
        uint32_t v[6];
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            std::memcpy(v, m_version, sizeof(v));
        }
        if (a.size() != 2 && a.size() != 6) {
            return std::string("error usage: version MAJOR MINOR [DRIVER_MAJOR DRIVER_MINOR BUILD FLAGS]");
        }
        for (size_t i = 0; i < a.size(); ++i) {
            if (!SimParseNumber(a[i], &v[i])) {
                return "error bad number " + a[i];
            }
        }
        SetVersion(v[0], v[1], v[2], v[3], v[4], v[5]);
        return std::string("ok");
    });
    // complete CODE|* now | delay MS | fail STATUS
    SetCommand("complete", [this](const std::vector<std::string>& a) {
        uint32_t code = 0;
        if (a.size() < 2 || (a[0] != "*" && !SimParseNumber(a[0], &code))) {
            return std::string("error usage: complete CODE|* now|delay MS|fail STATUS");
        }
        SimCompletion completion;
        if (a[1] == "now" && a.size() == 2) {
            completion.mode = SimCompletion::Mode::Normal;
        } else if (a[1] == "delay" && a.size() == 3 && SimParseNumber(a[2], &completion.delayMs)) {
            completion.mode = SimCompletion::Mode::Delay;
        } else if (a[1] == "fail" && a.size() == 3 && SimParseNumber(a[2], &completion.status)) {
            completion.mode = SimCompletion::Mode::Fail;
        } else {
            return std::string("error usage: complete CODE|* now|delay MS|fail STATUS");
        }
        SetCompletion(code, completion);
        return std::string("ok");
    });
}
