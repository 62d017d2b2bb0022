#pragma once
// The published ASIO driver interface as hosts see it: its types, codes, the host's
// callbacks and the IASIO vtable. Declared here from the interface description; the
// record packing is that of the Windows hosts (4-byte packing).
#include <windows.h>
#include <unknwn.h>

#include <cstddef>

using ASIOBool = long;
using ASIOError = long;
using ASIOSampleRate = double;
using ASIOSampleType = long;
using ASIOIoFormatType = long;

constexpr ASIOBool ASIOFalse = 0;
constexpr ASIOBool ASIOTrue = 1;

constexpr ASIOError ASE_OK = 0;
constexpr ASIOError ASE_SUCCESS = 0x3F4847A0;
constexpr ASIOError ASE_NotPresent = -1000;
constexpr ASIOError ASE_HWMalfunction = -999;
constexpr ASIOError ASE_InvalidParameter = -998;
constexpr ASIOError ASE_InvalidMode = -997;
constexpr ASIOError ASE_SPNotAdvancing = -996;
constexpr ASIOError ASE_NoClock = -995;
constexpr ASIOError ASE_NoMemory = -994;

constexpr ASIOSampleType ASIOSTInt32LSB = 18;
constexpr ASIOSampleType ASIOSTDSDInt8MSB1 = 33;

// Selectors of the host's asioMessage callback.
enum : long {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
    kAsioSupportsInputGain = 11,
    kAsioSupportsInputMeter = 12,
    kAsioSupportsOutputGain = 13,
    kAsioSupportsOutputMeter = 14,
    kAsioOverload = 15,
};

// Selectors of IASIO::future.
enum : long {
    kAsioEnableTimeCodeRead = 1,
    kAsioDisableTimeCodeRead = 2,
    kAsioSetInputMonitor = 3,
    kAsioTransport = 4,
    kAsioSetInputGain = 5,
    kAsioGetInputMeter = 6,
    kAsioSetOutputGain = 7,
    kAsioGetOutputMeter = 8,
    kAsioCanInputMonitor = 9,
    kAsioCanTimeInfo = 10,
    kAsioCanTimeCode = 11,
    kAsioSetIoFormat = 0x23111961,
    kAsioGetIoFormat = 0x23111983,
    kAsioCanDoIoFormat = 0x23112004,
};

constexpr ASIOIoFormatType kASIOFormatInvalid = -1;
constexpr ASIOIoFormatType kASIOPCMFormat = 0;
constexpr ASIOIoFormatType kASIODSDFormat = 1;

// Flags of AsioTimeInfo.
enum : unsigned long {
    kSystemTimeValid = 1,
    kSamplePositionValid = 2,
    kSampleRateValid = 4,
    kSpeedValid = 8,
    kSampleRateChanged = 16,
    kClockSourceChanged = 32,
};

#pragma pack(push, 4)
// 64-bit values as two 32-bit halves.
struct ASIOSamples {
    unsigned long hi;
    unsigned long lo;
};
struct ASIOTimeStamp {
    unsigned long hi;
    unsigned long lo;
};

struct ASIOClockSource {
    long index;
    long associatedChannel;
    long associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    long channel;
    ASIOBool isInput;
    ASIOBool isActive;
    long channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    long channelNum;
    void* buffers[2];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    unsigned long flags;
    char future[64];
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    unsigned long flags;
    char reserved[12];
};

struct ASIOTime {
    long reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

struct ASIOIoFormat {
    ASIOIoFormatType FormatType;
    char future[512 - sizeof(ASIOIoFormatType)];
};

// The host's callbacks, plain C functions.
struct ASIOCallbacks {
    void (*bufferSwitch)(long doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    long (*asioMessage)(long selector, long value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, long doubleBufferIndex, ASIOBool directProcess);
};
#pragma pack(pop)

static_assert(sizeof(long) == 4, "ASIO longs are 32-bit");
static_assert(sizeof(ASIOSamples) == 8 && sizeof(ASIOTimeStamp) == 8);
static_assert(sizeof(ASIOClockSource) == 48);
static_assert(sizeof(ASIOChannelInfo) == 52);
static_assert(sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*));
static_assert(offsetof(ASIOBufferInfo, buffers) == 8);
static_assert(sizeof(AsioTimeInfo) == 48);
static_assert(offsetof(AsioTimeInfo, sampleRate) == 24 && offsetof(AsioTimeInfo, flags) == 32);
static_assert(sizeof(ASIOTimeCode) == 84);
static_assert(offsetof(ASIOTime, timeInfo) == 16 && offsetof(ASIOTime, timeCode) == 64);
static_assert(sizeof(ASIOTime) == 148);
static_assert(sizeof(ASIOIoFormat) == 512);
static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*));

// The driver interface. IUnknown's operations are stdcall; the driver's own operations
// use the compiler's default member convention, which is thiscall on 32-bit x86.
struct IASIO : public IUnknown {
    virtual ASIOBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0;
    virtual long getDriverVersion() = 0;
    virtual void getErrorMessage(char* string) = 0;
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(long* numInputChannels, long* numOutputChannels) = 0;
    virtual ASIOError getLatencies(long* inputLatency, long* outputLatency) = 0;
    virtual ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getClockSources(ASIOClockSource* clocks, long* numSources) = 0;
    virtual ASIOError setClockSource(long reference) = 0;
    virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                    ASIOCallbacks* callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError future(long selector, void* opt) = 0;
    virtual ASIOError outputReady() = 0;
};

#if defined(__i386__)
// The calling conventions hosts compiled with other compilers rely on.
#include <type_traits>
static_assert(std::is_same_v<decltype(&IASIO::init), ASIOBool (__thiscall IASIO::*)(void*)>);
static_assert(std::is_same_v<decltype(&IASIO::setSampleRate), ASIOError (__thiscall IASIO::*)(ASIOSampleRate)>);
static_assert(std::is_same_v<decltype(&IASIO::createBuffers),
                             ASIOError (__thiscall IASIO::*)(ASIOBufferInfo*, long, long, ASIOCallbacks*)>);
static_assert(std::is_same_v<decltype(&IUnknown::AddRef), ULONG (__stdcall IUnknown::*)()>);
#endif

// The driver's class id, also the interface id hosts ask for.
// {8FF53D60-BB33-4261-9FC7-46BCED74087F}
inline constexpr GUID CLSID_KuvoAsio = {0x8FF53D60, 0xBB33, 0x4261, {0x9F, 0xC7, 0x46, 0xBC, 0xED, 0x74, 0x08, 0x7F}};
