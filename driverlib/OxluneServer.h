#pragma once
#include "driverlib/OxluneDeviceCtrl.h"
#include "driverlib/OxluneDriver.h"

#include <cstdint>

// The server role: registers as role 0, owns the streaming state machine, carries out
// the clients' change requests and broadcasts notifications. Every decision is a virtual
// operation with a default; the service derives its own server from it.
class OxluneServer : public OxluneDriver {
public:
    // The bring-up and bring-down loops give up after this many resets of the driver
    // (command 1 from Error or USB 1.1) with OXLUNE_STATUS_IN_ERROR_STATE, and after this
    // many passes in all with OXLUNE_STATUS_NOT_POSSIBLE.
    static constexpr uint32_t kMaxResets = 3;
    static constexpr uint32_t kMaxPasses = 16;

    OxluneServer() = default;
    ~OxluneServer() override = default;

    std::unique_ptr<OxluneDevice> CreateDevice() override;
    virtual const wchar_t* GetServiceName();
    virtual const wchar_t* GetDisplayName();
    virtual const wchar_t* GetDescription();
    virtual void GetInterfaceGuid(GUID* guid);
    virtual const wchar_t* GetControlDeviceName();
    virtual const wchar_t* GetRegistryPath();
    virtual void OnDeviceListChanged();
    virtual OxluneStatus HandleRequest(const OxluneMessage& request, OxluneMessage& reply);
    virtual OxluneStatus HandleOtherRequest(const OxluneMessage& request, OxluneMessage& reply);
    virtual OxluneStatus OnSetSampleRate(uint32_t rate);
    virtual OxluneStatus OnSetBufferSizes(uint32_t streamingClass, uint32_t asioClass, uint32_t third);
    virtual OxluneStatus OnSelectStreamingDevice(uint32_t key0, uint32_t key1, uint32_t mode);
    virtual OxluneStatus OnSetDsdMode(bool on);
    virtual OxluneStatus OnSetPolicy(uint32_t policy);
    virtual void HandleNotification(const OxluneMessage& message);
    virtual void HandleOtherNotification(const OxluneMessage& message);
    virtual OxluneStatus OnBringUp();
    virtual OxluneStatus OnStopWhenIdle();
    virtual OxluneStatus OnBringUpRestart();
    virtual OxluneStatus OnDevicesChanged();
    virtual OxluneStatus OnBringUpFor(uint32_t a, uint32_t b);
    virtual OxluneStatus OnStopWhenIdleFor(uint32_t a, uint32_t b);
    virtual OxluneStatus OnRefreshClients();
    virtual OxluneStatus OnDeviceEvent(uint32_t key0, uint32_t key1);
    virtual OxluneStatus OnDeviceNotice(const OxluneDeviceNoticePayload& notice);
    virtual bool IsStreamingNeeded(const OxluneStreamingStatus& status);
    virtual OxluneStatus BeforeTransition(uint32_t current, uint32_t target, uint32_t sampleRate);
    virtual void AfterTransition(uint32_t current, uint32_t target, uint32_t sampleRate);
    virtual void TransitionFailed(uint32_t current, uint32_t target, OxluneStatus status);
    virtual OxluneStatus PrepareStart();

    // The receive loop; runs until stopEvent is set. Returns at once when another server
    // is registered.
    void Run(HANDLE stopEvent, HANDLE deviceChangeEvent);
    OxluneStatus TryConnect(const wchar_t* name);
    void ProcessRequests();
    void ProcessNotifications();
    OxluneStatus BringUp(uint32_t restartFlag);
    OxluneStatus BringDown(uint32_t restartFlag);
    OxluneStatus StopWhenIdle();
    // A type 3 message with the code and no payload.
    OxluneStatus Broadcast(uint32_t code);

    // Commands of the server.
    OxluneStatus SetStreamingState(uint32_t command, uint32_t argument);
    OxluneStatus ApplySampleRate(uint32_t rate);
    OxluneStatus ApplyBufferSizes(uint32_t streamingClass, uint32_t asioClass, uint32_t third);
    OxluneStatus AnnounceSampleRate(uint32_t rate);
    OxluneStatus ApplyPolicy(uint32_t policy);
    OxluneStatus ApplyStreamingDevice(uint32_t key0, uint32_t key1, uint32_t mode);

    bool DisconnectPending() const { return m_disconnectPending != 0; }
    // The operating system's major version used for the restart flag of a rate change;
    // 0 (the default) asks the system.
    void SetOperatingSystemMajorVersion(uint32_t major) { m_osMajorOverride = major; }

protected:
    uint32_t OperatingSystemMajorVersion() const;

    uint8_t m_disconnectPending = 0;

private:
    // Each device hook in list order, skipping objects that are not OxluneDeviceCtrl.
    template <typename Fn> void ForEachDeviceCtrl(Fn fn);
    // A change that needs streaming down: the common frame of the change handlers.
    template <typename Apply> OxluneStatus ChangeWhileDown(uint32_t restartFlag, Apply apply);
    // The state machine walks shared by BringUp and BringDown.
    OxluneStatus Reset(const OxluneStreamingStatus& status, uint32_t* resets);

    uint32_t m_osMajorOverride = 0;
};
