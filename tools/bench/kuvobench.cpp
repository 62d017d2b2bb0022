// kuvobench: the control-path benchmarks, each a ratio against a floor measured in the
// same run so that the noise of a shared machine cancels out.
//   B3  a client's SetSampleRate through a running server, hardware time 0, against the
//       sum of the pipe round trips of the requests the change issues (counted per code
//       during the change, each code's round trip measured on the same pipe with the
//       same sizes while the simulator answers it at once).
//   B5  Down to Running with 8 devices, against 4 state-command round trips.
//   kuvobench [--reps N] [--csv FILE]    prints one line per figure:
//   "NAME figure_us baseline_us ratio goal"
#include "driverlib/OxluneClient.h"
#include "driverlib/OxluneRequests.h"
#include "driverlib/OxluneServer.h"
#include "simulator/SimDriver.h"
#include "simulator/SimKernel.h"
#include "winsupport/WnEvent.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

double Micros(LONGLONG ticks)
{
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(ticks) * 1e6 / static_cast<double>(f.QuadPart);
}

LONGLONG Now()
{
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What a request looked like on the control device: code, input size, output capacity.
struct RequestShape {
    uint32_t code;
    uint32_t inSize;
    uint32_t outCapacity;
    bool operator<(const RequestShape& other) const
    {
        return std::tie(code, inSize, outCapacity) < std::tie(other.code, other.inSize, other.outCapacity);
    }
};

// Wraps every handler of the simulator: counts the requests by shape while counting is
// on, and answers at once with zeros while echo is on (the pure transport round trip).
class RequestCounter {
public:
    void Install(SimDriver& sim, const std::vector<uint32_t>& codes)
    {
        for (uint32_t code : codes) {
            SimDriver::RequestHandler inner = sim.Handler(code);
            if (!inner) {
                continue;
            }
            sim.SetHandler(code, [this, inner](SimConnection& connection, SimRequest& request) -> uint32_t {
                if (m_echo.load()) {
                    std::fill(request.out, request.out + request.outCapacity, uint8_t{0});
                    request.bytesReturned = request.outCapacity;
                    return 0;
                }
                if (m_counting.load()) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    ++m_counts[RequestShape{request.code, request.inSize, request.outCapacity}];
                }
                return inner(connection, request);
            });
        }
    }
    void Count(bool on) { m_counting.store(on); }
    void Echo(bool on) { m_echo.store(on); }
    std::map<RequestShape, uint32_t> Take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::map<RequestShape, uint32_t> counts;
        counts.swap(m_counts);
        return counts;
    }

private:
    std::atomic<bool> m_counting{false};
    std::atomic<bool> m_echo{false};
    std::mutex m_mutex;
    std::map<RequestShape, uint32_t> m_counts;
};

class BenchServer : public OxluneServer {
public:
    explicit BenchServer(std::wstring name) : m_name(std::move(name)) {}
    const wchar_t* GetControlDeviceName() override { return m_name.c_str(); }

private:
    std::wstring m_name;
};

struct Figure {
    const char* name;
    double figure;
    double baseline;
    const char* goal;
    double limit; // the ratio must be at most this
};

const std::vector<uint32_t> kCountedCodes = {
    OXLUNE_IOCTL_SEND_MESSAGE,        OXLUNE_IOCTL_RECEIVE_MESSAGE,   OXLUNE_IOCTL_RECEIVE_NOTIFICATION,
    OXLUNE_IOCTL_QUERY_DEVICES,       OXLUNE_IOCTL_BIND_DEVICE,       OXLUNE_IOCTL_GET_SAMPLE_RATES,
    OXLUNE_IOCTL_GET_BUFFER_SIZES,    OXLUNE_IOCTL_GET_STREAMING_STATUS, OXLUNE_IOCTL_GET_POLICY,
    OXLUNE_IOCTL_SET_STREAMING_STATE, OXLUNE_IOCTL_APPLY_SAMPLE_RATE, OXLUNE_IOCTL_APPLY_BUFFER_SIZES,
    OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE, OXLUNE_IOCTL_APPLY_POLICY,     OXLUNE_IOCTL_APPLY_STREAMING_DEVICE,
};

// The median round trip of one request shape on a connection, while the simulator echoes.
double ShapeRoundTrip(OxluneApiContext& context, const RequestShape& shape, int reps)
{
    std::vector<uint8_t> in(shape.inSize, 0);
    std::vector<uint8_t> out(shape.outCapacity + 1, 0);
    std::vector<double> times;
    times.reserve(reps);
    for (int i = 0; i < reps; ++i) {
        const LONGLONG t0 = Now();
        uint32_t returned = 0;
        context.IoControl(shape.code, in.empty() ? nullptr : in.data(), shape.inSize,
                          shape.outCapacity == 0 ? nullptr : out.data(), shape.outCapacity, &returned);
        times.push_back(Micros(Now() - t0));
    }
    return Median(times);
}

bool PlugDevices(SimDriver& sim, int count)
{
    for (int i = 1; i <= count; ++i) {
        char serial[32];
        std::snprintf(serial, sizeof(serial), "KB%06d", i);
        if (sim.Command(std::string("plug ") + serial).rfind("ok", 0) != 0) {
            return false;
        }
    }
    return true;
}

// B3: SetSampleRate through a running server against the sum of its requests' round trips.
bool RunB3(int reps, Figure* figure)
{
    SimDriver sim;
    RequestCounter counter;
    counter.Install(sim, kCountedCodes);
    const std::wstring name = SimUniqueName(L"bench-b3");
    if (sim.Start(name) != 0) {
        return false;
    }
    sim.Kernel().SetHardwareTimeMs(0);
    if (!PlugDevices(sim, 1) || sim.Command("counts demand=1").rfind("ok", 0) != 0) {
        return false;
    }

    BenchServer server(name);
    WnEvent stop;
    WnEvent deviceChange;
    stop.Create(true, false);
    deviceChange.Create(false, false);
    std::thread serverThread([&] { server.Run(stop.Get(), deviceChange.Get()); });

    OxluneClient client;
    bool ok = client.ConnectPanel(name.c_str()) == 0;
    // Let the server reach Running before measuring.
    for (int i = 0; ok && i < 1000; ++i) {
        OxluneStreamingStatus status{};
        if (client.GetStreamingStatus(&status) == 0 && status.state == OXLUNE_STREAMING_RUNNING) {
            break;
        }
        ::Sleep(10);
    }

    const uint32_t rates[2] = {48000, 44100};
    std::vector<double> changes;
    std::map<RequestShape, double> perChange; // requests of one change, averaged
    for (int i = 0; ok && i < reps; ++i) {
        counter.Take();
        counter.Count(true);
        const LONGLONG t0 = Now();
        const OxluneStatus status = client.SetSampleRate(rates[i % 2], 10000);
        const LONGLONG t1 = Now();
        counter.Count(false);
        if (status != 0) {
            std::fprintf(stderr, "kuvobench: SetSampleRate failed: 0x%08lx\n", static_cast<unsigned long>(status));
            ok = false;
            break;
        }
        changes.push_back(Micros(t1 - t0));
        for (const auto& [shape, count] : counter.Take()) {
            perChange[shape] += static_cast<double>(count) / reps;
        }
        // The 3010 broadcast and the client's drain settle before the next change.
        ::Sleep(2);
    }

    double floor = 0.0;
    if (ok) {
        counter.Echo(true);
        OxluneDriver probe;
        ok = probe.Connect(name.c_str(), false, false) == 0;
        for (const auto& [shape, count] : perChange) {
            const double trip = ShapeRoundTrip(probe, shape, std::max(20, reps));
            std::fprintf(stderr, "kuvobench: B3 request 0x%08lx in %lu out %lu: %.2f per change, %.1f us\n",
                         static_cast<unsigned long>(shape.code), static_cast<unsigned long>(shape.inSize),
                         static_cast<unsigned long>(shape.outCapacity), count, trip);
            floor += count * trip;
        }
        counter.Echo(false);
    }

    stop.Set();
    serverThread.join();
    client.Disconnect();
    sim.Stop();
    *figure = Figure{"B3 SetSampleRate round trip (us)", Median(changes), floor, "<= 1.5", 1.5};
    return ok;
}

// B5: BringUp from Down with 8 devices against 4 raw state-command round trips.
bool RunB5(int reps, Figure* figure)
{
    SimDriver sim;
    RequestCounter counter;
    counter.Install(sim, kCountedCodes);
    const std::wstring name = SimUniqueName(L"bench-b5");
    if (sim.Start(name) != 0) {
        return false;
    }
    sim.Kernel().SetHardwareTimeMs(0);
    if (!PlugDevices(sim, 8) || sim.Command("counts demand=1").rfind("ok", 0) != 0) {
        return false;
    }
    BenchServer server(name);
    bool ok = server.TryConnect(name.c_str()) == 0;
    bool changed = false;
    ok = ok && server.RefreshDevices(&changed) == 0 && server.GetDeviceCount() == 8;

    auto bringDown = [&] { return server.BringDown(0) == 0; };
    auto state = [&] {
        OxluneStreamingStatus status{};
        return server.GetStreamingStatus(&status) == 0 ? status.state : 0u;
    };
    std::vector<double> bringUps;
    std::vector<double> commands;
    for (int i = 0; ok && i < reps; ++i) {
        ok = bringDown() && state() == OXLUNE_STREAMING_DOWN;
        if (!ok) {
            break;
        }
        counter.Count(i == 0);
        LONGLONG t0 = Now();
        ok = server.BringUp(0) == 0;
        bringUps.push_back(Micros(Now() - t0));
        counter.Count(false);
        if (i == 0) {
            // What one bring-up issues, for the log.
            for (const auto& [shape, count] : counter.Take()) {
                std::fprintf(stderr, "kuvobench: B5 request 0x%08lx: %lu per bring-up\n",
                             static_cast<unsigned long>(shape.code), static_cast<unsigned long>(count));
            }
        }
        ok = ok && state() == OXLUNE_STREAMING_RUNNING && bringDown();
        if (!ok) {
            break;
        }
        // The floor: the raw commands of the walk and back, four round trips.
        t0 = Now();
        ok = server.SetStreamingState(OXLUNE_STREAMING_CMD_DOWN_TO_READY, 0) == 0 &&
             server.SetStreamingState(OXLUNE_STREAMING_CMD_READY_TO_PREPARED, 0) == 0 &&
             server.SetStreamingState(OXLUNE_STREAMING_CMD_PREPARED_TO_RUNNING, 0) == 0 &&
             server.SetStreamingState(OXLUNE_STREAMING_CMD_TO_READY, 0) == 0;
        commands.push_back(Micros(Now() - t0));
    }
    if (!ok) {
        std::fprintf(stderr, "kuvobench: B5 walk failed\n");
    }
    server.Disconnect();
    sim.Stop();
    *figure = Figure{"B5 Down to Running, 8 devices (us)", Median(bringUps), Median(commands), "<= 2", 2.0};
    return ok;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int reps = 200;
    std::wstring csv;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--reps") == 0 && i + 1 < argc) {
            reps = std::max(1, static_cast<int>(std::wcstol(argv[++i], nullptr, 10)));
        } else if (std::wcscmp(argv[i], L"--csv") == 0 && i + 1 < argc) {
            csv = argv[++i];
        } else {
            std::fprintf(stderr, "usage: kuvobench [--reps N] [--csv FILE]\n");
            return 2;
        }
    }
    ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);

    std::vector<Figure> figures;
    bool ok = true;
    Figure figure{};
    if (RunB3(reps, &figure)) {
        figures.push_back(figure);
    } else {
        ok = false;
    }
    if (RunB5(reps, &figure)) {
        figures.push_back(figure);
    } else {
        ok = false;
    }
    for (const Figure& f : figures) {
        const double ratio = f.baseline > 0 ? f.figure / f.baseline : 0.0;
        std::printf("%s|%.1f|%.1f|%.2f|%s|%s\n", f.name, f.figure, f.baseline, ratio, f.goal,
                    ratio <= f.limit ? "met" : "missed");
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
