#pragma once
// A stand-in for the device control service, for the ASIO test host and the ASIO tests:
// it registers as the server, brings streaming up while a client needs it, carries out
// requests 1001 (sample rate) and 1004 (DSD mode) around a restart of streaming, and
// broadcasts 3010 and 3011 as the service does. Each request is recorded; a reply status
// can be forced per request code.
#include "driverlib/OxluneApiContext.h"
#include "driverlib/OxluneMessage.h"
#include "winsupport/WnEvent.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class AsioStandInService {
public:
    struct Request {
        uint32_t code = 0;
        std::vector<uint8_t> payload;
    };

    AsioStandInService() = default;
    ~AsioStandInService() { Stop(); }
    AsioStandInService(const AsioStandInService&) = delete;
    AsioStandInService& operator=(const AsioStandInService&) = delete;

    // 0 or the status of connecting and registering as server.
    OxluneStatus Start(const wchar_t* controlDeviceName);
    void Stop();

    // Sets the ASIO buffer size class (0 to 3) while streaming is down, as request 1002
    // would; the other classes stay.
    OxluneStatus ApplyAsioBufferClass(uint32_t asioClass);

    // Answer requests of this code with status instead of carrying them out.
    void ForceReply(uint32_t code, OxluneStatus status);
    void ClearForcedReplies();
    std::vector<Request> Requests();
    void ClearRequests();

private:
    void Run();
    void ProcessRequests();
    void ProcessNotifications();
    OxluneStatus Handle(const OxluneMessage& request);
    OxluneStatus ChangeRate(uint32_t rate);
    OxluneStatus BringUp();
    OxluneStatus StopWhenIdle();
    OxluneStatus Command(uint32_t command, uint32_t argument);
    OxluneStatus Status(OxluneStreamingStatus* status);
    void Broadcast(uint32_t code);

    OxluneApiContext m_context;
    WnEvent m_messageEvent;
    WnEvent m_notificationEvent;
    WnEvent m_stop;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::map<uint32_t, OxluneStatus> m_forced;
};
