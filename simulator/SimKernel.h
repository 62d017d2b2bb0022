#pragma once
// SimKernel: the model of the kernel driver behind SimDriver's control device.
//
// Every SimDriver owns one (SimDriver::Kernel()); it registers its request handlers and
// control commands on that driver when constructed. It implements the message routing
// (roles, events, queues), the device list with one SimDevice per plugged device, the
// per-device requests, the driver-wide queries, the server's commands with the
// streaming state machine, and the control commands for tests and the demo ("help").
//
// API for other parts of the simulator (the ASIO streaming engine adds its requests on
// top of this model). Every public member is thread-safe: it takes the model's lock,
// which is recursive; Lock() holds it across several calls for a consistent view.
//  - Reads: StreamingStatus(), CurrentRate(), IsDsdRate(rate), DsdActive(),
//    BufferSizes(), SampleRates(), Policy(), ErrorCounters(), Devices(),
//    SelectedDevices(), Channels(inputs, outputs), FindChannel(key0, key1, info).
//  - Changes: Plug(config, &key0, &key1), Unplug(serial), UnplugAll(),
//    SetCounts(...) / AdjustStreamDemand(delta) (raise 3003/3004 and 3015/3016 to the
//    server as the demand appears or goes), AddErrors(...), ForceState(state),
//    SetHardwareTimeMs(ms).
//  - Notifications: NotifyServer / NotifyPanel / NotifyClients (code, payload, size).
//  - Extension: AddRequestHandler(code, handler) (SimDriver::SetHandler),
//    AddCloseHook(hook) (runs when a client's handle closes, after the model forgot it),
//    AddCommand(name, handler) (control interface), AddStateListener(fn(from, to))
//    (called after every streaming state change, outside the lock).
//  - Hardware time: state transitions and rate changes take HardwareTimeMs() (default
//    2 ms; 0 makes them instant); the sleep happens outside the lock.
//
// Conventions of the model (what the library may rely on):
//  - Input sizes must be exact, output capacities at least the record's size; otherwise
//    OXLUNE_STATUS_INVALID_INBUFFER_SIZE or OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE and
//    nothing changes.
//  - Requests (type 1) carry initiator words: the sender's connection id and a cookie.
//    A reply whose words name no live connection gives OXLUNE_STATUS_INITIATOR_NOT_FOUND
//    to the server. Only the server may send replies and notifications, and only the
//    server may use the server commands (OXLUNE_STATUS_NOT_ALLOWED otherwise).
//  - When the server's handle closes, every request it had not answered is answered by
//    the model with OXLUNE_STATUS_NO_SERVER, so clients do not wait for their time-out.
//  - Server broadcasts reach every connection in role 1 or 2 and every unregistered
//    connection that gave a notification event; the driver's panel notifications reach
//    role 2; its server notifications reach role 0 (none is kept while no server is
//    registered: a new server refreshes everything anyway).
//  - When the model raises its own notifications:
//      to the server: 3003 when the stream demand count, exclusive use count or demand
//      flag becomes non-zero, 3004 when all are 0 again; 3015 and 3016 (words: second
//      demand count, exclusive use count) likewise for the second stream demand count;
//      3005 on every plug and unplug; 3006 on a streaming fault ("fault error"); 3020
//      when the selected-for-streaming flags changed (apply streaming device); 3051
//      (device key) when output controls changed; 3060 (key, kind 2, render endpoint
//      index) when a test changes an endpoint volume ("endpoint-volume").
//      to the panel (role 2): 3001 when buffer sizes, policy or the rate list changed;
//      3040 (device key) when a device's bypass switches or its selection changed;
//      3051 (device key) with the server's; 3052 (device key) when connections changed;
//      3050 only by injection ("notify panel 3050 K0 K1").
//  - Queues hold SimMessageQueue::kCapacity entries: a full message queue refuses the
//    sender (OXLUNE_STATUS_NO_RESOURCES), a full notification queue drops its oldest
//    entry (counted in "state" as dropped=N).
//  - Streaming state machine: commands 2 to 6 only from their states (else
//    OXLUNE_STATUS_NOT_POSSIBLE; in Error OXLUNE_STATUS_IN_ERROR_STATE; in state 6
//    OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE). Down to Ready needs a device
//    (OXLUNE_STATUS_NO_DEVICES) and a selected one (OXLUNE_STATUS_NO_STREAMING_DEVICE);
//    a selected device on a USB 1.1 port leads to state 6 with
//    OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE. Command 1 resets Error and 6 to Down (unless
//    "fault stuck on"). Unplugging a selected device while Ready, Prepared or Running
//    gives Error; unplugging the last device gives Down. Rate, buffer and device changes
//    are refused while Prepared or Running (OXLUNE_STATUS_NOT_POSSIBLE).
#include "driverlib/OxluneMessage.h"
#include "driverlib/OxluneRecords.h"
#include "simulator/SimClient.h"
#include "simulator/SimDevice.h"
#include "simulator/SimDriver.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SimKernel {
public:
    using StateListener = std::function<void(uint32_t from, uint32_t to)>;

    struct Counts {
        uint32_t demand = 0;
        uint32_t exclusive = 0;
        uint32_t lock = 0;
        uint32_t demand2 = 0;
        uint32_t flag = 0;
    };
    struct Channel {
        OxluneChannelInfo info;
    };

    static constexpr uint32_t kMaxDevices = kOxluneMaxDevices;
    static constexpr uint32_t kDefaultHardwareTimeMs = 2;
    static constexpr uint32_t kMaxPendingRequests = 1024;

    explicit SimKernel(SimDriver& driver);
    ~SimKernel();
    SimKernel(const SimKernel&) = delete;
    SimKernel& operator=(const SimKernel&) = delete;

    std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock<std::recursive_mutex>(m_mutex); }

    // Reads.
    OxluneStreamingStatus StreamingStatus();
    uint32_t CurrentRate();
    static bool IsDsdRate(uint32_t rate) { return rate >= 2822400 && rate <= 11289600; }
    // The current rate is a DSD rate (DSD mode of the streaming engine).
    bool DsdActive();
    OxluneBufferSizes BufferSizes();
    OxluneSampleRates SampleRates();
    uint32_t Policy();
    OxluneErrorCounters ErrorCounters();
    std::vector<OxluneDeviceRecord> Devices();
    std::vector<OxluneDeviceRecord> SelectedDevices();
    void Channels(std::vector<OxluneChannelInfo>* inputs, std::vector<OxluneChannelInfo>* outputs);
    bool FindChannel(uint32_t key0, uint32_t key1, OxluneChannelInfo* info);
    uint32_t ServerConnectionId(); // 0 when no server is registered
    int RoleOf(uint32_t connectionId); // SimClient::kUnregistered when unknown

    // Changes.
    uint32_t Plug(const SimDeviceConfig& config, uint32_t* key0, uint32_t* key1);
    uint32_t Unplug(const std::wstring& serial);
    void UnplugAll();
    void SetCounts(const Counts& counts);
    Counts GetCounts();
    void AdjustStreamDemand(int32_t delta);
    void AddErrors(const OxluneErrorCounters& add);
    void ForceState(uint32_t state);
    void SetHardwareTimeMs(uint32_t ms);
    uint32_t HardwareTimeMs();
    // Simulated endpoint volume change: sets channels 0..channels-1 of the render level
    // record at index and raises 3060 kind 2 for the server.
    uint32_t ChangeEndpointVolume(const std::wstring& serial, uint32_t index, int32_t level1616, bool mute,
                                  uint32_t channels);
    // Simulated change at the device: raises 3051 for the server and the panel when it changed.
    uint32_t ChangeOutputControl(const std::wstring& serial, const OxluneMixerPoint& point, int16_t level, bool mute);

    // Notifications with an optional payload (at most 512 bytes).
    void NotifyServer(uint32_t code, const void* payload = nullptr, uint32_t size = 0);
    void NotifyPanel(uint32_t code, const void* payload = nullptr, uint32_t size = 0);
    void NotifyClients(uint32_t code, const void* payload = nullptr, uint32_t size = 0);

    // Extension.
    void AddRequestHandler(uint32_t code, SimDriver::RequestHandler handler);
    void AddCloseHook(SimDriver::ConnectionHook hook);
    void AddCommand(const std::string& name, SimDriver::CommandHandler handler);
    void AddStateListener(StateListener listener);
    // Called after a plug or unplug, outside the lock, with the number of devices before
    // and after the change (the PnP stand-in announces the interface's arrival and removal).
    using DeviceCountListener = std::function<void(size_t before, size_t after)>;
    void AddDeviceCountListener(DeviceCountListener listener);

private:
    struct PendingRequest {
        uint32_t clientId;
        uint32_t cookie;
        uint32_t sequence;
        uint32_t code;
    };
    struct Settings {
        uint32_t state = OXLUNE_STREAMING_DOWN;
        uint32_t mode = OXLUNE_STREAMING_MODE_SINGLE;
        uint32_t rate = 48000;
        uint32_t announcedRate = 0;
        Counts counts;
        bool hasStreamingDevice = false;
        uint32_t streamKey0 = 0;
        uint32_t streamKey1 = 0;
        uint32_t streamingClass = OXLUNE_STREAM_BUFFER_SMALL;
        uint32_t asioClass = OXLUNE_ASIO_BUFFER_SMALL;
        uint32_t third = 0;
        uint32_t policy = 0;
        uint32_t lastRestartFlag = 0;
        OxluneErrorCounters errors{};
        std::vector<uint32_t> pcmRates{44100, 48000, 88200, 96000, 176400, 192000};
        std::vector<uint32_t> dsdRates{2822400, 5644800};
        bool stuck = false; // the reset command leaves Error and USB 1.1 alone
        uint32_t droppedNotifications = 0;
    };

    // SimKernel.cpp: clients, notifications, devices.
    SimClient& ClientFor(SimConnection& connection);
    SimClient* FindClient(uint32_t id);
    SimClient* ServerClient();
    void OnClose(SimConnection& connection);
    void QueueMessage(SimClient& client, const OxluneMessage& message, bool* queued);
    void QueueNotification(SimClient& client, const OxluneMessage& message);
    static void BuildMessage(OxluneMessage* message, uint32_t type, uint32_t code, const void* payload, uint32_t size);
    SimDevice* FindDevice(uint32_t key0, uint32_t key1);
    SimDevice* FindDeviceBySerial(const std::wstring& serial);
    bool IsSelected(const SimDevice& device);
    SimDevice* StreamingDevice();
    void ChooseStreamingDeviceAfterRemoval();
    std::vector<uint32_t> RateList();
    void BuildChannels(std::vector<OxluneChannelInfo>* inputs, std::vector<OxluneChannelInfo>* outputs);
    void SetState(uint32_t state, std::vector<std::pair<uint32_t, uint32_t>>* changes);
    void FireStateChanges(const std::vector<std::pair<uint32_t, uint32_t>>& changes);
    static bool Needed(const Counts& counts);
    void RaiseDemandChanges(const Counts& before, const Counts& after);

    // SimKernelMessages.cpp: 0x810 to 0x819.
    void RegisterMessageHandlers();
    uint32_t OnSendMessage(SimConnection& connection, SimRequest& request);
    uint32_t OnReceive(SimConnection& connection, SimRequest& request, bool notification);
    uint32_t OnSetEvents(SimConnection& connection, SimRequest& request);
    uint32_t OnRegister(SimConnection& connection, SimRequest& request);

    // SimKernelDevices.cpp: 0x820, 0x821 and the per-device requests.
    void RegisterDeviceHandlers();
    uint32_t BoundDevice(SimConnection& connection, SimDevice** device);
    uint32_t OnBind(SimConnection& connection, SimRequest& request);
    uint32_t OnMeters(SimConnection& connection, SimRequest& request, bool outputs);
    uint32_t OnMixerPins(SimConnection& connection, SimRequest& request);
    uint32_t OnControls(SimConnection& connection, SimRequest& request, bool set);
    uint32_t OnConnections(SimConnection& connection, SimRequest& request, bool set);
    uint32_t OnBypass(SimConnection& connection, SimRequest& request, bool mute, bool set);
    uint32_t OnChannelLevels(SimConnection& connection, SimRequest& request, uint32_t code);
    uint32_t OnEndpointTable(SimConnection& connection, SimRequest& request, bool pairs);
    uint32_t OnEffect(SimConnection& connection, SimRequest& request, bool set);
    uint32_t OnSwitch(SimConnection& connection, SimRequest& request, bool parameter);

    // SimKernelStreaming.cpp: driver-wide queries and the server's commands.
    void RegisterStreamingHandlers();
    uint32_t RequireServer(SimConnection& connection);
    uint32_t OnSetStreamingState(SimConnection& connection, SimRequest& request);
    uint32_t OnApplySampleRate(SimConnection& connection, SimRequest& request);
    uint32_t OnApplyBufferSizes(SimConnection& connection, SimRequest& request);
    uint32_t OnApplyStreamingDevice(SimConnection& connection, SimRequest& request);
    void HardwareDelay();

    // SimKernelCommands.cpp: the control interface.
    void RegisterCommands();

    SimDriver& m_driver;
    std::recursive_mutex m_mutex;
    std::mutex m_hardware; // one simulated hardware operation at a time
    std::map<uint32_t, std::unique_ptr<SimClient>> m_clients;
    uint32_t m_serverId = 0;
    uint32_t m_nextCookie = 0x5A17;
    std::vector<PendingRequest> m_pending;
    std::vector<std::unique_ptr<SimDevice>> m_devices; // in enumeration (plug) order
    uint32_t m_nextKey = 1;
    Settings m_settings;
    uint32_t m_hardwareTimeMs = kDefaultHardwareTimeMs;
    std::vector<StateListener> m_stateListeners;
    std::vector<DeviceCountListener> m_deviceCountListeners;
    void FireDeviceCount(size_t before, size_t after);
};
