#pragma once
// The ASIO streaming engine of the simulated kernel driver: the requests of the ASIO
// family (0xF02 to 0xF31), one SimAsioStream per client connection, the stream demand of
// registered ASIO clients, and the control commands "asio ..." for tests and the demo.
#include "simulator/SimAsioStream.h"
#include "simulator/SimKernel.h"

#include <map>
#include <memory>
#include <mutex>

class SimAsioEngine {
public:
    SimAsioEngine(SimDriver& driver, SimKernel& kernel);
    ~SimAsioEngine();
    SimAsioEngine(const SimAsioEngine&) = delete;
    SimAsioEngine& operator=(const SimAsioEngine&) = delete;

    // A connection registered in a role: an ASIO client raises the stream demand once,
    // until its handle closes.
    void OnRegistered(uint32_t connectionId, uint32_t role);
    // Totals over every client since the engine started.
    SimAsioStream::Stats Totals();

private:
    uint32_t Handle(SimConnection& connection, SimRequest& request);
    std::shared_ptr<SimAsioStream> StreamFor(SimConnection& connection);
    void OnClose(SimConnection& connection);
    std::string Command(const std::vector<std::string>& arguments);

    SimKernel& m_kernel;
    std::mutex m_mutex;
    std::map<uint32_t, std::shared_ptr<SimAsioStream>> m_streams;
    std::map<uint32_t, bool> m_demand; // connections that raised the stream demand
    SimAsioStream::Source m_source = SimAsioStream::Source::Loopback;
    uint64_t m_closedSwitches = 0;
    uint64_t m_closedMissed = 0;
};
