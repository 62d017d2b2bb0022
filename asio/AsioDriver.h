#pragma once
// The object an ASIO host creates: one driver object stands for the kernel driver's whole
// streaming engine. It owns the connection, the PCM and DSD channel sets, the cached
// stream information and the buffer-switch machinery.
#include "asio/AsioChannelSet.h"
#include "asio/AsioCustom.h"
#include "asio/AsioInterface.h"
#include "asio/ComBase.h"
#include "asio/OxluneAsioClient.h"
#include "winsupport/WnCallbacks.h"
#include "winsupport/WnEvent.h"
#include "winsupport/WnThread.h"

#include <cstdint>

enum AsioDriverState : long {
    AsioStateLoaded = 0,
    AsioStateInitialized = 1,
    AsioStatePrepared = 2,
    AsioStateRunning = 3,
};

class AsioDriver : public IASIO, public CUnknown {
public:
    explicit AsioDriver(IUnknown* outer);
    ~AsioDriver() override;

    // Creation function of the class table.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    // IUnknown of the IASIO face: forwarded to the owner.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE innerQueryInterface(REFIID riid, void** ppv) override;

    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    long getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(long* numInputChannels, long* numOutputChannels) override;
    ASIOError getLatencies(long* inputLatency, long* outputLatency) override;
    ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, long* numSources) override;
    ASIOError setClockSource(long reference) override;
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(long selector, void* opt) override;
    ASIOError outputReady() override;

    // Switches between PCM and DSD streaming through the service.
    ASIOError setIoFormatMode(bool dsd);

    // For tests and diagnostics.
    long currentState() const { return state; }
    bool inDsdMode() const { return dsdMode; }
    const ASIOCallbacks* hostCallbacks() const { return callbacks; }
    long currentBufferSize() const { return bufferSize; }
    AsioChannelSet& channelsInUse() { return dsdMode ? dsdChannels : pcmChannels; }
    OxluneAsioClient& connection() { return client; }
    bool switchThreadRunning() const { return switchThread.Get() != nullptr; }
    // Takes ownership; replaces the customization made by the constructor.
    void replaceCustom(AsioCustom* replacement);

    // The buffer size table: 16, 32, ..., 65536.
    static long lowerBufferSize(long value);
    static long upperBufferSize(long value);

private:
    bool waitForRunningStream();
    OxluneStatus readChannels();
    OxluneStatus fillChannelSets(const AsioChannelMap& map, AsioChannelSet& pcm, AsioChannelSet& dsd);
    static void addDummyOutputs(AsioChannelSet& set);
    bool isSupportedRate(uint32_t rate) const;
    bool hasDsdRate() const;
    void setError(const wchar_t* text);
    void releaseBuffers();
    long hostMessage(long selector, long value);

    uint32_t switchThreadProc();
    void doBufferSwitch();
    void processNotifications();
    void announceBufferChange();

    OxluneAsioClient client;
    wchar_t errorText[128] = {};
    ASIOCallbacks* callbacks = nullptr;
    long state = AsioStateLoaded;
    bool hostSupportsResetRequest = false;
    bool timeInfoMode = false;
    bool hostSupportsBufferSizeChange = false;
    bool timerPeriodSet = false;
    uint32_t timerPeriod = 1;
    uint64_t systemTime = 0;
    uint64_t samplePosition = 0;
    WnThreadCallbackForwarderT<AsioDriver> threadForwarder;
    WnThread switchThread;
    WnEvent startedEvent;
    WnEvent stopEvent;
    CRITICAL_SECTION timeLock;
    ASIOTime asioTime = {};
    AsioSwitchBlock* switchBlock = nullptr;
    WnEvent switchEvent;
    AsioChannelSet pcmChannels;
    AsioChannelSet dsdChannels;
    AsioStreamInfo streamInfo = {};
    long bufferSize = 0;
    // Samples per half of the buffers of the last createBuffers (bufferSize, times 64 in
    // DSD mode): a format switch while they are out does not change their geometry.
    uint64_t samplesPerHalf = 0;
    AsioCustom* custom = nullptr;
    bool dsdMode = false;
    // Whether the kernel driver holds the switch registration (createBuffers got that far).
    bool switchRegistered = false;
    // A new channel layout waits for disposeBuffers, while buffers are still handed out.
    bool channelsStale = false;
};

// The library's module handle, stored by its entry point (null: the program's own).
HMODULE AsioModuleHandle();
void AsioSetModuleHandle(HMODULE module);
