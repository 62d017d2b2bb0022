#pragma once
#include "driverlib/OxluneControlChannel.h"
#include "driverlib/OxluneDeviceChannel.h"
#include "driverlib/OxluneSimulatorChannel.h"
#include "driverlib/OxluneStatus.h"
#include "winsupport/WnEvent.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
// Reply of the interface version request.
struct OxluneVersionInfo {
    uint32_t interfaceMajor; // must be 2
    uint32_t interfaceMinor;
    uint32_t driverMajor;
    uint32_t driverMinor;
    uint32_t driverBuild;
    uint32_t flags; // bit 0: debug build
};
#pragma pack(pop)
static_assert(sizeof(OxluneVersionInfo) == 24);
static_assert(offsetof(OxluneVersionInfo, interfaceMinor) == 4);
static_assert(offsetof(OxluneVersionInfo, driverMajor) == 8);
static_assert(offsetof(OxluneVersionInfo, driverBuild) == 16);
static_assert(offsetof(OxluneVersionInfo, flags) == 20);

constexpr uint32_t OXLUNE_VERSION_FLAG_DEBUG = 0x1;
constexpr uint32_t OXLUNE_INTERFACE_VERSION_MAJOR = 2;
constexpr uint32_t OXLUNE_INTERFACE_VERSION_MINOR = 0;

// Owns one handle to the control device and carries every request made through it.
// The lock is recursive and held for each request including the wait for completion.
class OxluneApiContext {
public:
    OxluneApiContext();
    virtual ~OxluneApiContext();
    OxluneApiContext(const OxluneApiContext&) = delete;
    OxluneApiContext& operator=(const OxluneApiContext&) = delete;

    OxluneStatus Open(const wchar_t* name);
    void Close();
    // Reads the handle without the lock.
    bool IsOpen() const { return m_channel.load(std::memory_order_acquire) != nullptr; }
    OxluneStatus IoControl(uint32_t code, const void* inBuffer, uint32_t inSize, void* outBuffer, uint32_t outSize,
                           uint32_t* bytesReturned = nullptr);
    OxluneStatus GetVersionInfo(OxluneVersionInfo* info);

    // Which channel Open uses; the default follows the registry.
    void SetChannelKind(OxluneChannelKind kind) { m_kind = kind; }

    void Lock() { ::EnterCriticalSection(&m_lock); }
    void Unlock() { ::LeaveCriticalSection(&m_lock); }

protected:
    CRITICAL_SECTION m_lock;
    WnEvent m_completionEvent;

private:
    std::atomic<OxluneControlChannel*> m_channel{nullptr};
    OxluneDeviceChannel m_deviceChannel;
    OxluneSimulatorChannel m_simulatorChannel;
    OxluneChannelKind m_kind = OxluneChannelKind::Automatic;
};

// Holds an API context's lock for a scope.
class OxluneLockGuard {
public:
    explicit OxluneLockGuard(OxluneApiContext& context) : m_context(context) { m_context.Lock(); }
    ~OxluneLockGuard() { m_context.Unlock(); }
    OxluneLockGuard(const OxluneLockGuard&) = delete;
    OxluneLockGuard& operator=(const OxluneLockGuard&) = delete;

private:
    OxluneApiContext& m_context;
};
