#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Serves one message-mode named pipe with a thread per connected client. Each message
// a client writes is handed to the handler, whose reply goes back as one message.
class SimPipeServer {
public:
    struct Client {
        uint32_t id = 0;
        DWORD processId = 0;
    };
    // Fills reply; runs on the client's thread, so a slow handler delays only that client.
    using Handler = std::function<void(Client& client, const uint8_t* message, uint32_t size,
                                       std::vector<uint8_t>& reply)>;
    using ClientEvent = std::function<void(Client& client)>;

    SimPipeServer() = default;
    ~SimPipeServer() { Stop(); }
    SimPipeServer(const SimPipeServer&) = delete;
    SimPipeServer& operator=(const SimPipeServer&) = delete;

    // pipeName is the full "\\.\pipe\..." path. Returns 0 or a system error code.
    uint32_t Start(const std::wstring& pipeName, uint32_t maxMessage, Handler handler, ClientEvent onConnect,
                   ClientEvent onDisconnect);
    void Stop();

private:
    HANDLE CreateInstance();
    void Listen();
    void Serve(HANDLE pipe, Client client);

    std::wstring m_name;
    uint32_t m_maxMessage = 0;
    Handler m_handler;
    ClientEvent m_onConnect;
    ClientEvent m_onDisconnect;
    HANDLE m_stop = nullptr;
    HANDLE m_firstInstance = INVALID_HANDLE_VALUE;
    std::thread m_listener;
    std::mutex m_mutex;
    std::list<std::thread> m_clients;
    // Client threads that have ended; joined when the next client arrives, so that a
    // long-running simulator keeps no handle of a finished connection.
    std::vector<std::thread::id> m_finished;
    uint32_t m_nextId = 1;
};
