#pragma once
#include "driverlib/OxluneDeviceCtrl.h"
#include "driverlib/OxluneRecords.h"
#include "winsupport/WnCallbacks.h"
#include "winsupport/WnRegistryKey.h"
#include "winsupport/WnWaitableTimer.h"

#include <cstddef>
#include <cstdint>

// Fields of an endpoint pair entry as the service uses them: how many of the eight pair
// numbers are used, the pair numbers, and the volume mode (2 keeps the entry out of the
// volume link).
constexpr size_t kPairCountOffset = offsetof(OxluneEndpointPairEntry, one);
constexpr size_t kPairNumbersOffset = offsetof(OxluneEndpointPairEntry, pair);
constexpr size_t kVolumeModeOffset = offsetof(OxluneEndpointPairEntry, zero2);
constexpr uint32_t kMaxPairsPerEntry = 8;
constexpr uint32_t kVolumeModeExcluded = 2;
static_assert(kPairCountOffset == 4 && kPairNumbersOffset == 8 && kVolumeModeOffset == 40);
static_assert(kPairNumbersOffset + kMaxPairsPerEntry * 4 == kVolumeModeOffset);

uint32_t PairCount(const OxluneEndpointPairEntry& entry);
uint32_t PairNumber(const OxluneEndpointPairEntry& entry, uint32_t slot);
uint32_t VolumeMode(const OxluneEndpointPairEntry& entry);

// The service's device: WDM endpoint names and configuration, default routing, the
// switches around streaming transitions, and the two-way link between the stereo playback
// endpoints' volume and the mixer's output levels. Runs on the server's thread only.
class CustomDevice : public OxluneDeviceCtrl {
public:
    // registryPath: the server's settings key under HKLM ("Software\BRAKMOOR\kuvo").
    explicit CustomDevice(const wchar_t* registryPath);
    ~CustomDevice() override;

    OxluneStatus OnOpened() override;
    OxluneStatus BeforeTransition(uint32_t current, uint32_t target, uint32_t sampleRate) override;
    void OnDeviceEvent() override;
    void OnDeviceNotice2(uint32_t index) override;

    // Only 0, 0 is accepted (else OXLUNE_STATUS_INVALID_PARAMETER and nothing changes);
    // stores it and sends the endpoint pair table again.
    OxluneStatus ApplyWdmConfiguration(const OxluneWdmConfigurationPayload& record);

    uint32_t LoadWdmConfiguration();
    uint32_t SaveWdmConfiguration();
    OxluneStatus SetupRouting();
    OxluneStatus SendEndpointChannels();
    OxluneStatus SendEndpointPairs();
    OxluneStatus PrimeSwitches();

    // Hundredths of a dB to signed 16.16 dB, truncating toward zero.
    static int32_t ToFixedDb(int16_t centiDb);
    // Signed 16.16 dB to hundredths, truncating toward zero, limited to -9000..9000
    // (0x80000000, minus infinity, gives -9000).
    static int16_t ToCentiDb(int32_t fixedDb);

    const OxluneEndpointPairTable& EndpointPairs() const { return m_pairs; }

    uint32_t renderConfiguration = 0;
    uint32_t captureConfiguration = 0;

private:
    uint32_t OpenRegistryKey(WnRegistryKey* key);
    void OnTimer(uint32_t, uint32_t) {}
    static uint8_t PointKind(const OxluneEndpointPairEntry& entry);

    wchar_t m_registryPath[128];
    OxluneEndpointPairTable m_pairs;
    WnWaitableTimer m_timer;
    WnWaitableTimerCallbackForwarderT<CustomDevice> m_timerForwarder;
};
