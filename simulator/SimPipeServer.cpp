#include "simulator/SimPipeServer.h"

uint32_t SimPipeServer::Start(const std::wstring& pipeName, uint32_t maxMessage, Handler handler,
                              ClientEvent onConnect, ClientEvent onDisconnect)
{
    m_name = pipeName;
    m_maxMessage = maxMessage;
    m_handler = std::move(handler);
    m_onConnect = std::move(onConnect);
    m_onDisconnect = std::move(onDisconnect);
    m_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_stop == nullptr) {
        return ::GetLastError();
    }
    // The first instance is created here, so that the name exists when Start returns.
    m_firstInstance = CreateInstance();
    if (m_firstInstance == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(m_stop);
        m_stop = nullptr;
        return error;
    }
    m_listener = std::thread([this] { Listen(); });
    return 0;
}

void SimPipeServer::Stop()
{
    if (m_stop == nullptr) {
        return;
    }
    ::SetEvent(m_stop);
    if (m_listener.joinable()) {
        m_listener.join();
    }
    std::list<std::thread> clients;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        clients.swap(m_clients);
    }
    for (auto& thread : clients) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    ::CloseHandle(m_stop);
    m_stop = nullptr;
}

HANDLE SimPipeServer::CreateInstance()
{
    return ::CreateNamedPipeW(m_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                              PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                              m_maxMessage, m_maxMessage, 0, nullptr);
}

void SimPipeServer::Listen()
{
    // Two instances listen at all times, so that a client that connects while another
    // one has just taken an instance still finds the name (no ERROR_FILE_NOT_FOUND).
    constexpr int kListening = 2;
    struct Slot {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        HANDLE event = nullptr;
        OVERLAPPED overlapped{};
        bool pending = false;
        bool connectedAtOnce = false; // no overlapped operation to complete
    } slots[kListening];
    for (Slot& slot : slots) {
        slot.event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    slots[0].pipe = m_firstInstance;
    m_firstInstance = INVALID_HANDLE_VALUE;
    bool running = slots[0].event != nullptr && slots[1].event != nullptr;
    while (running) {
        // Every slot without a connect in progress gets an instance and starts listening.
        bool retry = false;
        for (Slot& slot : slots) {
            if (slot.pending) {
                continue;
            }
            if (slot.pipe == INVALID_HANDLE_VALUE) {
                slot.pipe = CreateInstance();
                if (slot.pipe == INVALID_HANDLE_VALUE) {
                    retry = true;
                    continue;
                }
            }
            slot.overlapped = OVERLAPPED{};
            slot.overlapped.hEvent = slot.event;
            ::ResetEvent(slot.event);
            slot.connectedAtOnce = false;
            if (::ConnectNamedPipe(slot.pipe, &slot.overlapped)) {
                ::SetEvent(slot.event);
                slot.pending = true;
                slot.connectedAtOnce = true;
            } else {
                const DWORD error = ::GetLastError();
                if (error == ERROR_IO_PENDING) {
                    slot.pending = true;
                } else if (error == ERROR_PIPE_CONNECTED) {
                    ::SetEvent(slot.event);
                    slot.pending = true;
                    slot.connectedAtOnce = true;
                } else {
                    ::CloseHandle(slot.pipe);
                    slot.pipe = INVALID_HANDLE_VALUE;
                    retry = true;
                }
            }
        }
        HANDLE waits[1 + kListening] = {m_stop, slots[0].event, slots[1].event};
        const DWORD result = ::WaitForMultipleObjects(1 + kListening, waits, FALSE, retry ? 50 : INFINITE);
        if (result == WAIT_TIMEOUT) {
            continue;
        }
        if (result < WAIT_OBJECT_0 + 1 || result >= WAIT_OBJECT_0 + 1 + kListening) {
            break; // stop, or a failed wait
        }
        Slot& slot = slots[result - WAIT_OBJECT_0 - 1];
        slot.pending = false;
        DWORD ignored = 0;
        if (!slot.connectedAtOnce && !::GetOverlappedResult(slot.pipe, &slot.overlapped, &ignored, FALSE)) {
            ::CloseHandle(slot.pipe);
            slot.pipe = INVALID_HANDLE_VALUE;
            continue;
        }
        Client client;
        ::GetNamedPipeClientProcessId(slot.pipe, &client.processId);
        const HANDLE pipe = slot.pipe;
        slot.pipe = INVALID_HANDLE_VALUE;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::thread::id finished : m_finished) {
            for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
                if (it->get_id() == finished) {
                    it->join(); // it has left Serve: returns at once
                    m_clients.erase(it);
                    break;
                }
            }
        }
        m_finished.clear();
        client.id = m_nextId++;
        m_clients.emplace_back([this, pipe, client] { Serve(pipe, client); });
    }
    for (Slot& slot : slots) {
        if (slot.pending && !slot.connectedAtOnce) {
            ::CancelIo(slot.pipe);
            DWORD ignored = 0;
            ::GetOverlappedResult(slot.pipe, &slot.overlapped, &ignored, TRUE);
        }
        if (slot.pipe != INVALID_HANDLE_VALUE) {
            ::CloseHandle(slot.pipe);
        }
        if (slot.event != nullptr) {
            ::CloseHandle(slot.event);
        }
    }
}

void SimPipeServer::Serve(HANDLE pipe, Client client)
{
    if (m_onConnect) {
        m_onConnect(client);
    }
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<uint8_t> message(m_maxMessage);
    std::vector<uint8_t> reply;
    // Waits for one overlapped transfer or the stop; false when the client is gone.
    auto transfer = [&](bool write, void* data, DWORD size, DWORD* moved) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = done;
        ::ResetEvent(done);
        BOOL ok = write ? ::WriteFile(pipe, data, size, moved, &overlapped)
                        : ::ReadFile(pipe, data, size, moved, &overlapped);
        if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
            HANDLE waits[2] = {m_stop, done};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                ::CancelIo(pipe);
                ::GetOverlappedResult(pipe, &overlapped, moved, TRUE);
                return false;
            }
            ok = ::GetOverlappedResult(pipe, &overlapped, moved, FALSE);
        }
        if (!ok && ::GetLastError() == ERROR_MORE_DATA) {
            *moved = size + 1; // marks an oversized message
            return true;
        }
        return ok != FALSE;
    };
    while (done != nullptr) {
        DWORD size = 0;
        if (!transfer(false, message.data(), m_maxMessage, &size)) {
            break;
        }
        if (size > m_maxMessage) {
            // Drop the rest of an oversized message; the handler sees an empty one.
            DWORD rest = m_maxMessage + 1;
            bool alive = true;
            while (alive && rest > m_maxMessage) {
                alive = transfer(false, message.data(), m_maxMessage, &rest);
            }
            if (!alive) {
                break;
            }
            size = 0;
        }
        reply.clear();
        m_handler(client, message.data(), size, reply);
        DWORD written = 0;
        if (!transfer(true, reply.data(), static_cast<DWORD>(reply.size()), &written)) {
            break;
        }
    }
    ::DisconnectNamedPipe(pipe);
    ::CloseHandle(pipe);
    if (done != nullptr) {
        ::CloseHandle(done);
    }
    if (m_onDisconnect) {
        m_onDisconnect(client);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished.push_back(std::this_thread::get_id());
}
