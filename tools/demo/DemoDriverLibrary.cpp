// The demo's driver-library part: a server loop, the device list, a sample rate request
// from a client and the notifications a second client received.
#include "DemoDriverLibrary.h"

#include "driverlib/OxluneCplClient.h"
#include "driverlib/OxluneServer.h"
#include "winsupport/WnEvent.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

class DemoServer : public OxluneServer {
public:
    explicit DemoServer(std::wstring name) : m_name(std::move(name)) {}
    const wchar_t* GetControlDeviceName() override { return m_name.c_str(); }

private:
    std::wstring m_name;
};

const char* NotificationName(uint32_t code)
{
    switch (code) {
    case OXLUNE_MSG_SETTINGS_CHANGED:
        return "driver settings changed";
    case OXLUNE_MSG_STREAMING_CHANGED:
        return "streaming setup changed";
    case OXLUNE_MSG_SAMPLE_RATE_CHANGED:
        return "sample rate changed";
    case OXLUNE_MSG_DEVICE_LIST_CHANGED:
        return "device list changed";
    case OXLUNE_MSG_DEVICE_STATE_CHANGED:
        return "device state changed";
    case OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED:
        return "mixer output controls changed";
    default:
        return "other";
    }
}

// Collects the notifications of client until one with code arrives (or a few seconds pass).
void Collect(OxluneDriver& client, uint32_t code, std::vector<uint32_t>* codes)
{
    const ULONGLONG end = ::GetTickCount64() + 10000;
    for (;;) {
        OxluneMessage message;
        while (client.NextNotification(&message) == 0) {
            codes->push_back(message.code);
            if (message.code == code) {
                return;
            }
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) {
            return;
        }
        ::WaitForSingleObject(client.NotificationEvent(), static_cast<DWORD>(end - now));
    }
}

const char* StateName(uint32_t state)
{
    static const char* const names[] = {"Undefined", "Down", "Ready", "Prepared", "Running", "Error",
                                        "not supported on USB 1.1"};
    return state < 7 ? names[state] : "?";
}

} // namespace

int RunDriverLibraryDemo(const std::wstring& name, SimProcess& simulator)
{
    std::printf("\nDriver access library:\n");
    for (const char* serial : {"KV000101", "KV000102"}) {
        const std::string answer = simulator.Command(std::string("plug ") + serial);
        std::printf("  plug %s: %s\n", serial, answer.c_str());
    }

    // The second client listens before the server starts.
    OxluneCplClient watcher;
    OxluneStatus status = watcher.ConnectPanel(name.c_str());
    if (status != 0) {
        std::printf("  ConnectPanel: %s\n", StatusName(status));
        return 1;
    }

    DemoServer server(name);
    WnEvent stop;
    WnEvent deviceChange;
    if (stop.Create(true, false) != 0 || deviceChange.Create(false, false) != 0) {
        std::printf("  creating the server's events failed\n");
        return 1;
    }
    std::thread loop([&] { server.Run(stop.Get(), deviceChange.Get()); });
    std::vector<uint32_t> codes;
    Collect(watcher, OXLUNE_MSG_DEVICE_LIST_CHANGED, &codes);
    std::printf("  server loop running (%zu start notifications)\n", codes.size());
    codes.clear();

    bool changed = false;
    status = watcher.RefreshDevices(&changed);
    std::printf("  devices (%s): %u\n", StatusName(status), watcher.GetDeviceCount());
    for (uint32_t i = 0; i < watcher.GetDeviceCount(); ++i) {
        const OxluneDeviceRecord& record = watcher.GetDevice(i)->Record();
        std::printf("    %ls  \"%ls\"  key %08X:%08X  vid %04X pid %04X  %s%s\n", record.serialNumber, record.name,
                    record.key0, record.key1, record.vendorId, record.productId,
                    (record.flags & OXLUNE_DEVICE_FLAG_HIGH_SPEED) != 0 ? "high-speed" : "USB 1.1",
                    (record.flags & OXLUNE_DEVICE_FLAG_STREAMING) != 0 ? ", streaming" : "");
    }

    OxluneCplClient client;
    status = client.ConnectPanel(name.c_str());
    if (status == 0) {
        OxluneStreamingStatus before{};
        watcher.GetStreamingStatus(&before);
        status = client.SetSampleRate(44100, kOxluneDefaultRequestTimeoutMs);
        std::printf("  SetSampleRate(44100) from %u Hz: %s\n", before.sampleRate, StatusName(status));
        simulator.Command("counts exclusive=1");
        status = client.SetSampleRate(96000, kOxluneDefaultRequestTimeoutMs);
        std::printf("  SetSampleRate(96000) while in exclusive use: %s\n", StatusName(status));
        simulator.Command("counts exclusive=0");
    } else {
        std::printf("  ConnectPanel: %s\n", StatusName(status));
    }
    OxluneStreamingStatus after{};
    watcher.GetStreamingStatus(&after);
    std::printf("  streaming state %s, sample rate %u Hz\n", StateName(after.state), after.sampleRate);

    Collect(watcher, OXLUNE_MSG_SAMPLE_RATE_CHANGED, &codes);
    std::printf("  notifications the second client received, in order:\n");
    for (uint32_t code : codes) {
        std::printf("    %u  %s\n", code, NotificationName(code));
    }

    stop.Set();
    loop.join();
    return 0;
}
