#include "asio/AsioDriver.h"

#include "winsupport/WnText.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr wchar_t kNoDeviceText[] = L"No device is connected to the PC.";
constexpr long kDriverVersion = 293;
constexpr uint32_t kRequestTimeoutMs = 30000;
constexpr uint32_t kWaitSleepMs = 10;
constexpr uint32_t kWaitSleeps = 200;
constexpr uint32_t kPathCapacity = 260;

// 16, 32, ..., 65536; built once, read only.
constexpr long kBufferSizes[] = {16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536};
constexpr size_t kBufferSizeCount = sizeof(kBufferSizes) / sizeof(kBufferSizes[0]);

HMODULE g_module = nullptr;

// Truncation toward zero; false for anything that is no 32-bit rate.
bool TruncateRate(ASIOSampleRate rate, uint32_t* result)
{
    if (!(rate >= 0.0 && rate < 4294967296.0)) {
        return false;
    }
    *result = static_cast<uint32_t>(rate);
    return true;
}

bool IsDsdRate(uint32_t rate)
{
    return rate >= kAsioDsdRateMin && rate <= kAsioDsdRateMax;
}
} // namespace

HMODULE AsioModuleHandle()
{
    return g_module;
}

void AsioSetModuleHandle(HMODULE module)
{
    g_module = module;
}

AsioDriver::AsioDriver(IUnknown* outer) : CUnknown(outer)
{
    threadForwarder.Set(this, &AsioDriver::switchThreadProc);
    ::InitializeCriticalSection(&timeLock);
    custom = CreateAsioCustom();
}

AsioDriver::~AsioDriver()
{
    // A host that leaves in DSD mode gives the device back in PCM.
    if (dsdMode) {
        setIoFormatMode(false);
    }
    disposeBuffers();
    delete custom;
    custom = nullptr;
    ::DeleteCriticalSection(&timeLock);
}

CUnknown* AsioDriver::CreateInstance(IUnknown* outer, HRESULT* /*result*/)
{
    return new (std::nothrow) AsioDriver(outer);
}

void AsioDriver::replaceCustom(AsioCustom* replacement)
{
    delete custom;
    custom = replacement;
}

HRESULT STDMETHODCALLTYPE AsioDriver::QueryInterface(REFIID riid, void** ppv)
{
    return owner->QueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE AsioDriver::AddRef()
{
    return owner->AddRef();
}

ULONG STDMETHODCALLTYPE AsioDriver::Release()
{
    return owner->Release();
}

HRESULT STDMETHODCALLTYPE AsioDriver::innerQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, CLSID_KuvoAsio)) {
        IASIO* face = this;
        *ppv = face;
        face->AddRef();
        return S_OK;
    }
    return CUnknown::innerQueryInterface(riid, ppv);
}

void AsioDriver::setError(const wchar_t* text)
{
    CopyText(errorText, text, sizeof(errorText) / sizeof(errorText[0]));
}

// --- init and the stream wait ---------------------------------------------------------

ASIOBool AsioDriver::init(void* /*sysHandle*/)
{
    if (state >= AsioStateInitialized) {
        return ASIOTrue;
    }
    startedEvent.Close();
    stopEvent.Close();
    if (startedEvent.Create(true, false) != 0 || stopEvent.Create(true, false) != 0) {
        return ASIOFalse;
    }
    const wchar_t* name = custom != nullptr ? custom->interfaceName() : nullptr;
    if (name == nullptr || client.Connect(name, true, true) != 0) {
        setError(kNoDeviceText);
        return ASIOFalse;
    }
    if (client.Register(OXLUNE_ROLE_ASIO) != 0) {
        setError(kNoDeviceText);
        client.Disconnect();
        return ASIOFalse;
    }
    if (!waitForRunningStream()) {
        client.Disconnect();
        return ASIOFalse;
    }
    client.GetAsioStreamInfo(streamInfo);
    samplePosition = 0;
    pcmChannels.clear();
    dsdChannels.clear();
    readChannels();
    state = AsioStateInitialized;
    return ASIOTrue;
}

bool AsioDriver::waitForRunningStream()
{
    uint32_t sleeps = 0;
    for (;;) {
        OxluneStreamingStatus status = {};
        if (client.GetStreamingStatus(&status) != 0) {
            return false;
        }
        if (status.state == OXLUNE_STREAMING_RUNNING) {
            return true;
        }
        if (status.state == OXLUNE_STREAMING_ERROR || sleeps >= kWaitSleeps) {
            return false;
        }
        ::Sleep(kWaitSleepMs);
        ++sleeps;
    }
}

// --- channels ------------------------------------------------------------------------

void AsioDriver::addDummyOutputs(AsioChannelSet& set)
{
    if (set.outputCount() != 0) {
        return;
    }
    const wchar_t* sides[] = {L"L", L"R"};
    for (const wchar_t* side : sides) {
        OxluneChannelInfo descriptor = {};
        descriptor.direction = 2;
        descriptor.sampleFormat = 0;
        FormatText(descriptor.name, 42, L"Dummy OUT %s", side);
        set.addChannel(descriptor, true);
    }
}

OxluneStatus AsioDriver::fillChannelSets(const AsioChannelMap& map, AsioChannelSet& pcm, AsioChannelSet& dsd)
{
    for (const OxluneChannelList* list : {&map.inputs, &map.outputs}) {
        const uint32_t count = AsioChannelCount(*list);
        for (uint32_t i = 0; i < count; ++i) {
            OxluneChannelInfo descriptor = {};
            if (client.GetAsioChannelInfo(list->channels[i].key0, list->channels[i].key1, descriptor) != 0) {
                continue;
            }
            (descriptor.sampleFormat == OXLUNE_SAMPLE_FORMAT_DSD ? dsd : pcm).addChannel(descriptor, false);
        }
    }
    addDummyOutputs(pcm);
    return 0;
}

OxluneStatus AsioDriver::readChannels()
{
    AsioChannelMap map = {};
    const OxluneStatus status = client.GetAsioChannelMap(map);
    if (status != 0) {
        setError(kNoDeviceText);
        client.Disconnect();
        return status;
    }
    AsioChannelSet* pcm = new (std::nothrow) AsioChannelSet();
    AsioChannelSet* dsd = new (std::nothrow) AsioChannelSet();
    if (pcm != nullptr && dsd != nullptr) {
        fillChannelSets(map, *pcm, *dsd);
        if (!pcmChannels.sameLayout(*pcm) || !dsdChannels.sameLayout(*dsd)) {
            if (pcmChannels.activeInputList().size() + pcmChannels.activeOutputList().size() +
                    dsdChannels.activeInputList().size() + dsdChannels.activeOutputList().size() !=
                0) {
                // The host and the kernel driver still hold buffers of these channels: the
                // sets are rebuilt once disposeBuffers has taken them back.
                channelsStale = true;
            } else {
                pcmChannels.clear();
                dsdChannels.clear();
                fillChannelSets(map, pcmChannels, dsdChannels);
                channelsStale = false;
            }
        }
    }
    delete pcm;
    delete dsd;
    return 0;
}

ASIOError AsioDriver::getChannels(long* numInputChannels, long* numOutputChannels)
{
    AsioChannelSet& set = channelsInUse();
    const long inputs = set.inputCount();
    const long outputs = set.outputCount();
    if (numInputChannels != nullptr) {
        *numInputChannels = inputs;
    }
    if (numOutputChannels != nullptr) {
        *numOutputChannels = outputs;
    }
    return inputs == 0 && outputs == 0 ? ASE_NotPresent : ASE_OK;
}

ASIOError AsioDriver::getChannelInfo(ASIOChannelInfo* info)
{
    if (info == nullptr) {
        return ASE_InvalidParameter;
    }
    AsioChannelSet& set = channelsInUse();
    AsioChannel* channel = info->isInput != 0 ? set.inputAt(info->channel) : set.outputAt(info->channel);
    if (channel == nullptr) {
        return ASE_NotPresent;
    }
    info->isActive = channel->buffer != nullptr ? ASIOTrue : ASIOFalse;
    info->channelGroup = 0;
    info->type = channel->IsDsd() ? ASIOSTDSDInt8MSB1 : ASIOSTInt32LSB;
    CopyTextWideToNarrow(info->name, channel->descriptor.name, sizeof(info->name));
    return ASE_OK;
}

// --- driver information --------------------------------------------------------------

void AsioDriver::getDriverName(char* name)
{
    if (name == nullptr) {
        return;
    }
    name[0] = '\0';
    if (custom != nullptr) {
        CopyTextWideToNarrow(name, custom->driverName(), 32);
    }
}

long AsioDriver::getDriverVersion()
{
    return kDriverVersion;
}

void AsioDriver::getErrorMessage(char* string)
{
    if (string != nullptr) {
        CopyTextWideToNarrow(string, errorText, 124);
    }
}

ASIOError AsioDriver::getLatencies(long* inputLatency, long* outputLatency)
{
    AsioLatencyInfo latencies = {};
    long input = 0;
    long output = 0;
    if (client.GetAsioLatencies(latencies) == 0) {
        input = bufferSize + latencies.input;
        output = bufferSize + latencies.output;
    }
    if (inputLatency != nullptr) {
        *inputLatency = input;
    }
    if (outputLatency != nullptr) {
        *outputLatency = output;
    }
    return ASE_OK;
}

// --- buffer sizes --------------------------------------------------------------------

long AsioDriver::lowerBufferSize(long value)
{
    if (value <= kBufferSizes[0] || value > kBufferSizes[kBufferSizeCount - 1]) {
        return value;
    }
    long result = kBufferSizes[0];
    for (long size : kBufferSizes) {
        if (size <= value) {
            result = size;
        }
    }
    return result;
}

long AsioDriver::upperBufferSize(long value)
{
    if (value <= kBufferSizes[0] || value > kBufferSizes[kBufferSizeCount - 1]) {
        return value;
    }
    for (long size : kBufferSizes) {
        if (size >= value) {
            return size;
        }
    }
    return value;
}

ASIOError AsioDriver::getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity)
{
    client.GetAsioStreamInfo(streamInfo);
    uint64_t preferred = static_cast<uint64_t>(streamInfo.bufferSize) * (dsdMode ? 64u : 1u);
    if (preferred > 0x7FFFFFFFu) {
        preferred = 0x7FFFFFFFu;
    }
    const long p = static_cast<long>(preferred);
    if (preferredSize != nullptr) {
        *preferredSize = p;
    }
    if (minSize != nullptr) {
        *minSize = lowerBufferSize(p);
    }
    if (maxSize != nullptr) {
        *maxSize = upperBufferSize(p);
    }
    if (granularity != nullptr) {
        *granularity = 0;
    }
    return ASE_OK;
}

// --- sample rates --------------------------------------------------------------------

bool AsioDriver::isSupportedRate(uint32_t rate) const
{
    const uint32_t count = AsioRateCount(streamInfo);
    for (uint32_t i = 0; i < count; ++i) {
        if (streamInfo.rates[i] == rate) {
            return true;
        }
    }
    return false;
}

bool AsioDriver::hasDsdRate() const
{
    const uint32_t count = AsioRateCount(streamInfo);
    for (uint32_t i = 0; i < count; ++i) {
        if (streamInfo.rates[i] >= kAsioDsdRateMin) {
            return true;
        }
    }
    return false;
}

ASIOError AsioDriver::canSampleRate(ASIOSampleRate sampleRate)
{
    uint32_t rate = 0;
    return TruncateRate(sampleRate, &rate) && isSupportedRate(rate) ? ASE_OK : ASE_NoClock;
}

ASIOError AsioDriver::getSampleRate(ASIOSampleRate* sampleRate)
{
    if (sampleRate != nullptr) {
        *sampleRate = static_cast<ASIOSampleRate>(streamInfo.currentRate);
    }
    return ASE_OK;
}

ASIOError AsioDriver::setSampleRate(ASIOSampleRate sampleRate)
{
    client.GetAsioStreamInfo(streamInfo);
    uint32_t rate = 0;
    if (!TruncateRate(sampleRate, &rate) || !isSupportedRate(rate)) {
        return ASE_NoClock;
    }
    if (IsDsdRate(rate) != dsdMode) {
        return ASE_NoClock;
    }
    const uint32_t oldRate = streamInfo.currentRate;
    if (client.SetSampleRate(rate, kRequestTimeoutMs) != 0) {
        return ASE_HWMalfunction;
    }
    client.GetAsioStreamInfo(streamInfo);
    readChannels();
    if (callbacks != nullptr && (oldRate != streamInfo.currentRate || channelsStale)) {
        hostMessage(kAsioResetRequest, 0);
    }
    return ASE_OK;
}

ASIOError AsioDriver::setIoFormatMode(bool dsd)
{
    if (client.SetDsdMode(dsd, kRequestTimeoutMs) != 0) {
        return ASE_HWMalfunction;
    }
    dsdMode = dsd;
    uint32_t rate = 0;
    const uint32_t count = AsioRateCount(streamInfo);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t candidate = streamInfo.rates[i];
        if (dsd ? candidate >= kAsioDsdRateMin : candidate <= kAsioPcmRateMax) {
            rate = candidate;
            break;
        }
    }
    IASIO* face = this;
    return face->setSampleRate(static_cast<ASIOSampleRate>(rate)) == ASE_OK ? ASE_SUCCESS : ASE_HWMalfunction;
}

// --- clock sources, future, outputReady ------------------------------------------------

ASIOError AsioDriver::getClockSources(ASIOClockSource* clocks, long* numSources)
{
    AsioChannelSet& set = channelsInUse();
    if (set.inputCount() == 0 && set.outputCount() == 0) {
        return ASE_NotPresent;
    }
    if (clocks == nullptr || numSources == nullptr || *numSources < 1) {
        return ASE_InvalidParameter;
    }
    clocks[0].index = 0;
    clocks[0].associatedChannel = -1;
    clocks[0].associatedGroup = -1;
    clocks[0].isCurrentSource = ASIOTrue;
    CopyTextA(clocks[0].name, "Computer", sizeof(clocks[0].name));
    *numSources = 1;
    return ASE_OK;
}

ASIOError AsioDriver::setClockSource(long reference)
{
    AsioChannelSet& set = channelsInUse();
    if (set.inputCount() == 0 && set.outputCount() == 0) {
        return ASE_NotPresent;
    }
    return reference != 0 ? ASE_InvalidParameter : ASE_OK;
}

ASIOError AsioDriver::future(long selector, void* opt)
{
    switch (selector) {
    case kAsioEnableTimeCodeRead:
    case kAsioDisableTimeCodeRead:
    case kAsioCanTimeInfo:
        return ASE_SUCCESS;
    case kAsioSetIoFormat: {
        if (opt == nullptr) {
            return ASE_NotPresent;
        }
        const ASIOIoFormatType format = static_cast<ASIOIoFormat*>(opt)->FormatType;
        if (format == kASIOPCMFormat) {
            return setIoFormatMode(false);
        }
        if (format == kASIODSDFormat) {
            return hasDsdRate() ? setIoFormatMode(true) : ASE_NotPresent;
        }
        return ASE_NotPresent;
    }
    case kAsioGetIoFormat:
        if (opt == nullptr) {
            return ASE_NotPresent;
        }
        static_cast<ASIOIoFormat*>(opt)->FormatType = dsdMode ? kASIODSDFormat : kASIOPCMFormat;
        return ASE_SUCCESS;
    case kAsioCanDoIoFormat: {
        if (opt == nullptr) {
            return ASE_NotPresent;
        }
        const ASIOIoFormatType format = static_cast<ASIOIoFormat*>(opt)->FormatType;
        if (format == kASIOPCMFormat) {
            return ASE_SUCCESS;
        }
        if (format == kASIODSDFormat) {
            return hasDsdRate() ? ASE_SUCCESS : ASE_NotPresent;
        }
        return ASE_NotPresent;
    }
    default:
        return ASE_NotPresent;
    }
}

ASIOError AsioDriver::outputReady()
{
    return ASE_NotPresent;
}

// --- control panel -------------------------------------------------------------------

ASIOError AsioDriver::controlPanel()
{
    wchar_t path[kPathCapacity] = {};
    const DWORD length = ::GetModuleFileNameW(AsioModuleHandle(), path, kPathCapacity);
    if (length == 0 || length >= kPathCapacity) {
        return ASE_NotPresent;
    }
    wchar_t drive[_MAX_DRIVE] = {};
    wchar_t directory[_MAX_DIR] = {};
    if (_wsplitpath_s(path, drive, _MAX_DRIVE, directory, _MAX_DIR, nullptr, 0, nullptr, 0) != 0) {
        return ASE_NotPresent;
    }
    wchar_t folder[kPathCapacity] = {};
    if (_wmakepath_s(folder, kPathCapacity, drive, directory, nullptr, nullptr) != 0) {
        return ASE_NotPresent;
    }
    if (custom == nullptr) {
        return ASE_NotPresent;
    }
    return custom->launchControlPanel(AsioModuleHandle(), folder);
}
