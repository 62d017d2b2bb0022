#include "driverlib/OxluneServer.h"

#include "driverlib/OxluneRequests.h"

#include <cstring>

namespace {
constexpr GUID kInterfaceGuid = {0x21611F4F, 0xFC9C, 0x4132, {0xAF, 0xA2, 0x6F, 0x58, 0x5C, 0xA8, 0x4B, 0xBE}};

uint32_t Word(const OxluneMessage& message, uint32_t index)
{
    uint32_t value = 0;
    std::memcpy(&value, message.payload + index * sizeof(uint32_t), sizeof(value));
    return value;
}
} // namespace

template <typename Fn> void OxluneServer::ForEachDeviceCtrl(Fn fn)
{
    for (const auto& device : m_devices) {
        auto* ctrl = dynamic_cast<OxluneDeviceCtrl*>(device.get());
        if (ctrl != nullptr && !fn(*ctrl)) {
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Defaults of the virtual operations

std::unique_ptr<OxluneDevice> OxluneServer::CreateDevice()
{
    return std::make_unique<OxluneDeviceCtrl>();
}

const wchar_t* OxluneServer::GetServiceName()
{
    return L"kuvosvc";
}

const wchar_t* OxluneServer::GetDisplayName()
{
    return L"Kuvo control";
}

const wchar_t* OxluneServer::GetDescription()
{
    return L"Kuvo control service";
}

void OxluneServer::GetInterfaceGuid(GUID* guid)
{
    if (guid != nullptr) {
        *guid = kInterfaceGuid;
    }
}

const wchar_t* OxluneServer::GetControlDeviceName()
{
    return kOxluneControlDeviceName;
}

const wchar_t* OxluneServer::GetRegistryPath()
{
    return L"Software\\BRAKMOOR\\kuvo";
}

void OxluneServer::OnDeviceListChanged()
{
    if (m_devices.empty()) {
        m_disconnectPending = 1;
    } else {
        BringUp(1);
    }
    Broadcast(OXLUNE_MSG_STREAMING_CHANGED);
    Broadcast(OXLUNE_MSG_DEVICE_LIST_CHANGED);
}

OxluneStatus OxluneServer::HandleRequest(const OxluneMessage& request, OxluneMessage& reply)
{
    uint32_t expected = 0;
    switch (request.code) {
    case OXLUNE_MSG_SET_SAMPLE_RATE:
    case OXLUNE_MSG_SET_POLICY:
        expected = 4;
        break;
    case OXLUNE_MSG_SET_BUFFER_SIZES:
    case OXLUNE_MSG_SELECT_STREAMING_DEVICE:
        expected = 12;
        break;
    case OXLUNE_MSG_SET_DSD_MODE:
        expected = 1;
        break;
    default:
        return HandleOtherRequest(request, reply);
    }
    if (request.length > expected) {
        return OXLUNE_STATUS_INVALID_LENGTH;
    }
    if (request.length < expected) {
        return OXLUNE_STATUS_INVALID_MSG_SIZE;
    }
    switch (request.code) {
    case OXLUNE_MSG_SET_SAMPLE_RATE:
        return OnSetSampleRate(Word(request, 0));
    case OXLUNE_MSG_SET_BUFFER_SIZES:
        return OnSetBufferSizes(Word(request, 0), Word(request, 1), Word(request, 2));
    case OXLUNE_MSG_SELECT_STREAMING_DEVICE:
        return OnSelectStreamingDevice(Word(request, 0), Word(request, 1), Word(request, 2));
    case OXLUNE_MSG_SET_DSD_MODE:
        return OnSetDsdMode(request.payload[0] != 0);
    default:
        return OnSetPolicy(Word(request, 0));
    }
}

OxluneStatus OxluneServer::HandleOtherRequest(const OxluneMessage&, OxluneMessage&)
{
    return OXLUNE_STATUS_INVALID_COMMAND;
}

OxluneStatus OxluneServer::OnSetSampleRate(uint32_t rate)
{
    OxluneStreamingStatus status;
    OxluneStatus result = GetStreamingStatus(&status);
    if (result != 0) {
        return result;
    }
    if (rate == status.sampleRate) {
        return 0;
    }
    if (status.exclusiveUseCount > 0 || status.changeLockCount > 0) {
        return OXLUNE_STATUS_SOUND_DEVICE_IN_USE;
    }
    AnnounceSampleRate(rate);
    uint32_t flag = OperatingSystemMajorVersion() < 6 ? 1 : 0;
    uint32_t policy = 0;
    if (flag == 0 && GetPolicy(&policy) == 0 && (policy & OXLUNE_POLICY_FORBID_RATE_CHANGE) != 0) {
        flag = 1;
    }
    result = BringDown(flag);
    if (result != 0) {
        Broadcast(OXLUNE_MSG_STREAMING_CHANGED);
        return result;
    }
    const OxluneStatus applied = ApplySampleRate(rate);
    const OxluneStatus up = BringUp(flag);
    result = applied != 0 ? applied : up;
    Broadcast(OXLUNE_MSG_STREAMING_CHANGED);
    Broadcast(OXLUNE_MSG_SAMPLE_RATE_CHANGED);
    return result;
}

// Refused while a stream is in exclusive use or changes are locked; otherwise streaming
// goes down, the change is applied and streaming comes up again. The change's own failure
// wins over the bring-up's.
template <typename Apply>
OxluneStatus OxluneServer::ChangeWhileDown(uint32_t restartFlag, Apply apply)
{
    OxluneStreamingStatus status;
    OxluneStatus result = GetStreamingStatus(&status);
    if (result != 0) {
        return result;
    }
    if (status.exclusiveUseCount > 0 || status.changeLockCount > 0) {
        return OXLUNE_STATUS_SOUND_DEVICE_IN_USE;
    }
    result = BringDown(restartFlag);
    if (result != 0) {
        Broadcast(OXLUNE_MSG_STREAMING_CHANGED);
        return result;
    }
    const OxluneStatus applied = apply();
    const OxluneStatus up = BringUp(restartFlag);
    Broadcast(OXLUNE_MSG_STREAMING_CHANGED);
    return applied != 0 ? applied : up;
}

OxluneStatus OxluneServer::OnSetBufferSizes(uint32_t streamingClass, uint32_t asioClass, uint32_t third)
{
    return ChangeWhileDown(0, [&] { return ApplyBufferSizes(streamingClass, asioClass, third); });
}

OxluneStatus OxluneServer::OnSelectStreamingDevice(uint32_t key0, uint32_t key1, uint32_t mode)
{
    return ChangeWhileDown(1, [&] { return ApplyStreamingDevice(key0, key1, mode); });
}

OxluneStatus OxluneServer::OnSetDsdMode(bool on)
{
    OxluneStatus result = 0;
    ForEachDeviceCtrl([&](OxluneDeviceCtrl& device) {
        result = device.OnSetDsdMode(on);
        return result == 0;
    });
    return result;
}

OxluneStatus OxluneServer::OnSetPolicy(uint32_t policy)
{
    uint32_t current = 0;
    OxluneStatus result = GetPolicy(&current);
    if (result != 0) {
        return result;
    }
    if (current == policy) {
        return 0;
    }
    OxluneStreamingStatus status;
    result = GetStreamingStatus(&status);
    if (result != 0) {
        return result;
    }
    if (status.exclusiveUseCount > 0) {
        return OXLUNE_STATUS_SOUND_DEVICE_IN_USE;
    }
    // A policy the driver refused is reported, not taken for applied.
    return ApplyPolicy(policy);
}

void OxluneServer::HandleNotification(const OxluneMessage& message)
{
    switch (message.code) {
    case OXLUNE_MSG_BRING_UP:
        OnBringUp();
        return;
    case OXLUNE_MSG_STOP_WHEN_IDLE:
        OnStopWhenIdle();
        return;
    case OXLUNE_MSG_DEVICES_CHANGED:
        OnDevicesChanged();
        return;
    case OXLUNE_MSG_BRING_UP_RESTART:
        OnBringUpRestart();
        return;
    case OXLUNE_MSG_REFRESH_CLIENTS:
        OnRefreshClients();
        return;
    case OXLUNE_MSG_BRING_UP_FOR:
    case OXLUNE_MSG_STOP_WHEN_IDLE_FOR:
    case OXLUNE_MSG_OUTPUT_CONTROLS_CHANGED:
        if (message.length != sizeof(OxluneTwoWordsPayload)) {
            return;
        }
        if (message.code == OXLUNE_MSG_BRING_UP_FOR) {
            OnBringUpFor(Word(message, 0), Word(message, 1));
        } else if (message.code == OXLUNE_MSG_STOP_WHEN_IDLE_FOR) {
            OnStopWhenIdleFor(Word(message, 0), Word(message, 1));
        } else {
            OnDeviceEvent(Word(message, 0), Word(message, 1));
        }
        return;
    case OXLUNE_MSG_DEVICE_NOTICE: {
        if (message.length != sizeof(OxluneDeviceNoticePayload)) {
            return;
        }
        OxluneDeviceNoticePayload notice;
        std::memcpy(&notice, message.payload, sizeof(notice));
        OnDeviceNotice(notice);
        return;
    }
    case OXLUNE_MSG_IGNORED_3021:
        return;
    default:
        HandleOtherNotification(message);
        return;
    }
}

void OxluneServer::HandleOtherNotification(const OxluneMessage&) {}

OxluneStatus OxluneServer::OnBringUp()
{
    return BringUp(0);
}

OxluneStatus OxluneServer::OnStopWhenIdle()
{
    return StopWhenIdle();
}

OxluneStatus OxluneServer::OnBringUpRestart()
{
    return BringUp(1);
}

OxluneStatus OxluneServer::OnDevicesChanged()
{
    bool changed = false;
    const OxluneStatus status = RefreshDevices(&changed);
    OnDeviceListChanged();
    return status;
}

OxluneStatus OxluneServer::OnBringUpFor(uint32_t, uint32_t)
{
    return BringUp(0);
}

OxluneStatus OxluneServer::OnStopWhenIdleFor(uint32_t, uint32_t)
{
    return StopWhenIdle();
}

OxluneStatus OxluneServer::OnRefreshClients()
{
    return Broadcast(OXLUNE_MSG_DEVICE_LIST_CHANGED);
}

OxluneStatus OxluneServer::OnDeviceEvent(uint32_t key0, uint32_t key1)
{
    auto* device = dynamic_cast<OxluneDeviceCtrl*>(FindDevice(key0, key1));
    if (device != nullptr) {
        device->OnDeviceEvent();
    }
    return 0;
}

OxluneStatus OxluneServer::OnDeviceNotice(const OxluneDeviceNoticePayload& notice)
{
    auto* device = dynamic_cast<OxluneDeviceCtrl*>(FindDevice(notice.key0, notice.key1));
    if (device == nullptr) {
        return 0;
    }
    if (notice.kind == OXLUNE_DEVICE_NOTICE_KIND_1) {
        device->OnDeviceNotice1(notice.value);
    } else if (notice.kind == OXLUNE_DEVICE_NOTICE_KIND_VOLUME) {
        device->OnDeviceNotice2(notice.value);
    }
    return 0;
}

bool OxluneServer::IsStreamingNeeded(const OxluneStreamingStatus& status)
{
    return status.streamDemandCount > 0 || status.exclusiveUseCount > 0 || status.secondStreamDemandCount > 0 ||
           status.streamDemandFlag != 0;
}

OxluneStatus OxluneServer::BeforeTransition(uint32_t current, uint32_t target, uint32_t sampleRate)
{
    OxluneStatus result = 0;
    ForEachDeviceCtrl([&](OxluneDeviceCtrl& device) {
        result = device.BeforeTransition(current, target, sampleRate);
        return result == 0;
    });
    return result;
}

void OxluneServer::AfterTransition(uint32_t current, uint32_t target, uint32_t sampleRate)
{
    ForEachDeviceCtrl([&](OxluneDeviceCtrl& device) {
        device.AfterTransition(current, target, sampleRate);
        return true;
    });
}

void OxluneServer::TransitionFailed(uint32_t current, uint32_t target, OxluneStatus status)
{
    ForEachDeviceCtrl([&](OxluneDeviceCtrl& device) {
        device.TransitionFailed(current, target, status);
        return true;
    });
}

OxluneStatus OxluneServer::PrepareStart()
{
    OxluneStatus result = 0;
    ForEachDeviceCtrl([&](OxluneDeviceCtrl& device) {
        result = device.PrepareStart();
        return result == 0;
    });
    return result;
}

// ---------------------------------------------------------------------------------------
// The receive loop

void OxluneServer::Run(HANDLE stopEvent, HANDLE deviceChangeEvent)
{
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const wchar_t* name = GetControlDeviceName();
    if (!IsOpen()) {
        OxluneStatus status = Connect(name, true, true);
        if (status == 0) {
            status = Register(OXLUNE_ROLE_SERVER);
            if (status != 0) {
                Disconnect();
            }
        }
        if (status == OXLUNE_STATUS_ALREADY_DONE) {
            return; // another server runs
        }
    }
    if (IsOpen()) {
        bool changed = false;
        RefreshDevices(&changed);
        OnDeviceListChanged();
    }

    enum Kind { Stop, DeviceChange, Message, Notification };
    for (;;) {
        HANDLE handles[4];
        Kind kinds[4];
        DWORD count = 0;
        if (stopEvent != nullptr) {
            handles[count] = stopEvent;
            kinds[count++] = Stop;
        }
        if (deviceChangeEvent != nullptr) {
            handles[count] = deviceChangeEvent;
            kinds[count++] = DeviceChange;
        }
        if (IsOpen() && MessageEvent() != nullptr) {
            handles[count] = MessageEvent();
            kinds[count++] = Message;
        }
        if (IsOpen() && NotificationEvent() != nullptr) {
            handles[count] = NotificationEvent();
            kinds[count++] = Notification;
        }
        if (count == 0) {
            return; // nothing could ever end the wait
        }
        const DWORD wait = ::WaitForMultipleObjectsEx(count, handles, FALSE, INFINITE, TRUE);
        bool leave = false;
        if (wait < WAIT_OBJECT_0 + count) {
            switch (kinds[wait - WAIT_OBJECT_0]) {
            case Stop:
                leave = true;
                break;
            case DeviceChange:
                if (!IsOpen()) {
                    TryConnect(name);
                }
                if (IsOpen()) {
                    bool changed = false;
                    RefreshDevices(&changed);
                    if (changed) {
                        OnDeviceListChanged();
                    }
                }
                break;
            case Message:
                if (IsOpen()) {
                    ProcessRequests();
                }
                break;
            case Notification:
                if (IsOpen()) {
                    ProcessNotifications();
                }
                break;
            }
        } else if (wait == WAIT_IO_COMPLETION) {
            // An asynchronous procedure call ran.
        } else if (wait == WAIT_FAILED) {
            // Give the system a moment instead of spinning at time-critical priority.
            ::SleepEx(10, TRUE);
        } else {
            leave = true; // abandoned or unexpected
        }
        if (m_disconnectPending != 0) {
            m_disconnectPending = 0;
            Disconnect();
        }
        if (leave) {
            return;
        }
    }
}

OxluneStatus OxluneServer::TryConnect(const wchar_t* name)
{
    if (IsOpen()) {
        return 0;
    }
    OxluneStatus status = Connect(name, true, true);
    if (status != 0) {
        return status;
    }
    status = Register(OXLUNE_ROLE_SERVER);
    if (status != 0) {
        Disconnect();
    }
    return status;
}

void OxluneServer::ProcessRequests()
{
    OxluneMessage request;
    OxluneMessage reply;
    while (ReceiveMessage(&request) == 0) {
        if (request.type != OXLUNE_MSG_TYPE_REQUEST) {
            continue;
        }
        reply.InitReply(request, OXLUNE_STATUS_INVALID_COMMAND);
        const OxluneStatus status = HandleRequest(request, reply);
        if (status != OXLUNE_STATUS_PENDING) {
            reply.result = status;
            SendMessage(reply);
        }
    }
}

void OxluneServer::ProcessNotifications()
{
    OxluneMessage message;
    while (ReceiveNotification(&message) == 0) {
        if (message.type == OXLUNE_MSG_TYPE_NOTIFICATION) {
            HandleNotification(message);
        }
    }
}

// ---------------------------------------------------------------------------------------
// The streaming state machine

OxluneStatus OxluneServer::Reset(const OxluneStreamingStatus& status, uint32_t* resets)
{
    if (*resets >= kMaxResets) {
        return status.state == OXLUNE_STREAMING_USB11 ? OXLUNE_STATUS_NOT_IN_HIGH_SPEED_MODE
                                                      : OXLUNE_STATUS_IN_ERROR_STATE;
    }
    ++*resets;
    return SetStreamingState(OXLUNE_STREAMING_CMD_RESET, 0);
}

OxluneStatus OxluneServer::BringUp(uint32_t restartFlag)
{
    OxluneStatus result = PrepareStart();
    if (result != 0) {
        return result;
    }
    uint32_t resets = 0;
    for (uint32_t pass = 0; pass < kMaxPasses; ++pass) {
        OxluneStreamingStatus status;
        result = GetStreamingStatus(&status);
        if (result != 0) {
            return result;
        }
        const uint32_t state = status.state;
        const uint32_t rate = status.sampleRate;
        switch (state) {
        case OXLUNE_STREAMING_DOWN:
            result = BeforeTransition(state, OXLUNE_STREAMING_READY, rate);
            if (result != 0) {
                return result;
            }
            result = SetStreamingState(OXLUNE_STREAMING_CMD_DOWN_TO_READY, restartFlag);
            if (result != 0) {
                return result;
            }
            AfterTransition(state, OXLUNE_STREAMING_READY, rate);
            break;
        case OXLUNE_STREAMING_READY:
        case OXLUNE_STREAMING_PREPARED: {
            if (state == OXLUNE_STREAMING_READY && !IsStreamingNeeded(status)) {
                return 0;
            }
            const uint32_t target = state == OXLUNE_STREAMING_READY ? OXLUNE_STREAMING_PREPARED
                                                                     : OXLUNE_STREAMING_RUNNING;
            const uint32_t command = state == OXLUNE_STREAMING_READY ? OXLUNE_STREAMING_CMD_READY_TO_PREPARED
                                                                      : OXLUNE_STREAMING_CMD_PREPARED_TO_RUNNING;
            result = BeforeTransition(state, target, rate);
            if (result != 0) {
                return result;
            }
            result = SetStreamingState(command, 0);
            if (result != 0) {
                TransitionFailed(state, target, result);
                return result;
            }
            AfterTransition(state, target, rate);
            break;
        }
        case OXLUNE_STREAMING_RUNNING:
            return 0;
        case OXLUNE_STREAMING_ERROR:
        case OXLUNE_STREAMING_USB11:
            result = Reset(status, &resets);
            if (result != 0) {
                return result;
            }
            break;
        default:
            return OXLUNE_STATUS_INVALID_STATE;
        }
    }
    return OXLUNE_STATUS_NOT_POSSIBLE;
}

OxluneStatus OxluneServer::BringDown(uint32_t restartFlag)
{
    uint32_t resets = 0;
    for (uint32_t pass = 0; pass < kMaxPasses; ++pass) {
        OxluneStreamingStatus status;
        OxluneStatus result = GetStreamingStatus(&status);
        if (result != 0) {
            return result;
        }
        const uint32_t state = status.state;
        const uint32_t rate = status.sampleRate;
        switch (state) {
        case OXLUNE_STREAMING_DOWN:
            return 0;
        case OXLUNE_STREAMING_READY:
            BeforeTransition(state, OXLUNE_STREAMING_DOWN, rate);
            result = SetStreamingState(OXLUNE_STREAMING_CMD_READY_TO_DOWN, restartFlag);
            if (result != 0) {
                return result;
            }
            AfterTransition(state, OXLUNE_STREAMING_DOWN, rate);
            break;
        case OXLUNE_STREAMING_PREPARED:
        case OXLUNE_STREAMING_RUNNING:
            BeforeTransition(state, OXLUNE_STREAMING_READY, rate);
            result = SetStreamingState(OXLUNE_STREAMING_CMD_TO_READY, 0);
            if (result != 0) {
                TransitionFailed(state, OXLUNE_STREAMING_READY, result);
                return result;
            }
            AfterTransition(state, OXLUNE_STREAMING_READY, rate);
            break;
        case OXLUNE_STREAMING_ERROR:
        case OXLUNE_STREAMING_USB11:
            result = Reset(status, &resets);
            if (result != 0) {
                return result;
            }
            break;
        default:
            return OXLUNE_STATUS_INVALID_STATE;
        }
    }
    return OXLUNE_STATUS_NOT_POSSIBLE;
}

OxluneStatus OxluneServer::StopWhenIdle()
{
    OxluneStreamingStatus status;
    OxluneStatus result = GetStreamingStatus(&status);
    if (result != 0) {
        return result;
    }
    const uint32_t state = status.state;
    if ((state != OXLUNE_STREAMING_PREPARED && state != OXLUNE_STREAMING_RUNNING) || IsStreamingNeeded(status)) {
        return 0;
    }
    BeforeTransition(state, OXLUNE_STREAMING_READY, status.sampleRate);
    result = SetStreamingState(OXLUNE_STREAMING_CMD_TO_READY, 0);
    if (result != 0) {
        TransitionFailed(state, OXLUNE_STREAMING_READY, result);
    } else {
        AfterTransition(state, OXLUNE_STREAMING_READY, status.sampleRate);
    }
    return result;
}

OxluneStatus OxluneServer::Broadcast(uint32_t code)
{
    OxluneMessage message;
    message.Init(OXLUNE_MSG_TYPE_NOTIFICATION, code);
    return SendMessage(message);
}

// ---------------------------------------------------------------------------------------
// Commands of the server

OxluneStatus OxluneServer::SetStreamingState(uint32_t command, uint32_t argument)
{
    const OxluneStreamingStateInput input{command, argument};
    return IoControl(OXLUNE_IOCTL_SET_STREAMING_STATE, &input, sizeof(input), nullptr, 0);
}

OxluneStatus OxluneServer::ApplySampleRate(uint32_t rate)
{
    return IoControl(OXLUNE_IOCTL_APPLY_SAMPLE_RATE, &rate, sizeof(rate), nullptr, 0);
}

OxluneStatus OxluneServer::ApplyBufferSizes(uint32_t streamingClass, uint32_t asioClass, uint32_t third)
{
    const OxluneBufferSizesPayload input{streamingClass, asioClass, third};
    return IoControl(OXLUNE_IOCTL_APPLY_BUFFER_SIZES, &input, sizeof(input), nullptr, 0);
}

OxluneStatus OxluneServer::AnnounceSampleRate(uint32_t rate)
{
    return IoControl(OXLUNE_IOCTL_ANNOUNCE_SAMPLE_RATE, &rate, sizeof(rate), nullptr, 0);
}

OxluneStatus OxluneServer::ApplyPolicy(uint32_t policy)
{
    return IoControl(OXLUNE_IOCTL_APPLY_POLICY, &policy, sizeof(policy), nullptr, 0);
}

OxluneStatus OxluneServer::ApplyStreamingDevice(uint32_t key0, uint32_t key1, uint32_t mode)
{
    const OxluneStreamingDevicePayload input{key0, key1, mode};
    return IoControl(OXLUNE_IOCTL_APPLY_STREAMING_DEVICE, &input, sizeof(input), nullptr, 0);
}

uint32_t OxluneServer::OperatingSystemMajorVersion() const
{
    if (m_osMajorOverride != 0) {
        return m_osMajorOverride;
    }
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr) {
        auto* proc = ::GetProcAddress(ntdll, "RtlGetVersion");
        if (proc != nullptr) {
            RtlGetVersionFn getVersion;
            static_assert(sizeof(getVersion) == sizeof(proc));
            std::memcpy(&getVersion, &proc, sizeof(proc));
            OSVERSIONINFOW info{};
            info.dwOSVersionInfoSize = sizeof(info);
            if (getVersion(&info) == 0) {
                return info.dwMajorVersion;
            }
        }
    }
    return 6;
}
