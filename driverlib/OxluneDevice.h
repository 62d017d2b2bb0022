#pragma once
#include "driverlib/OxluneApiContext.h"
#include "driverlib/OxluneRecords.h"

#include <cstdint>

// One connected device: its own handle to the control device, bound to the device by its
// key, carrying every per-device request (mixer, bypass, endpoint tables, channel levels,
// effect parameters, switches).
class OxluneDevice : public OxluneApiContext {
public:
    OxluneDevice();
    ~OxluneDevice() override;

    // Called after the handle was bound; a non-zero status makes Open fail and close.
    virtual OxluneStatus OnOpened();

    // Copies name and record, opens the control device and binds the handle to the
    // record's key. Record and name stay set even when opening fails.
    OxluneStatus Open(const wchar_t* name, const OxluneDeviceRecord& record);
    using OxluneApiContext::Open;

    const OxluneDeviceRecord& Record() const { return m_record; }
    // The driver object replaces the record with a newer one from a later enumeration.
    void SetRecord(const OxluneDeviceRecord& record) { m_record = record; }
    uint32_t Key0() const { return m_record.key0; }
    uint32_t Key1() const { return m_record.key1; }
    const wchar_t* ControlDeviceName() const { return m_name; }

    OxluneStatus GetStreamFormats(OxluneStreamFormatList* list);
    OxluneStatus InitChannelLevels(const OxluneChannelLevels& record);
    OxluneStatus SetEndpointChannels(const OxluneEndpointChannelTable& table);
    OxluneStatus SetEndpointPairs(const OxluneEndpointPairTable& table);

    // In/out: the caller fills the points, the driver the levels.
    OxluneStatus GetInputMeters(OxluneMeterEntry* entries, uint32_t count);
    OxluneStatus GetOutputMeters(OxluneMeterEntry* entries, uint32_t count);
    // Up to capacity points of the selector's pins; count = bytes returned / 4.
    OxluneStatus GetMixerPins(uint32_t selector, OxluneMixerPoint* points, uint32_t capacity, uint32_t* count);
    OxluneStatus GetOutputControls(OxluneControlEntry* entries, uint32_t count);
    OxluneStatus GetConnections(OxluneConnectionEntry* entries, uint32_t count);
    // In/out as well: the driver may write back what it applied (a clamped level).
    OxluneStatus SetOutputControls(OxluneControlEntry* entries, uint32_t count);
    OxluneStatus SetConnections(OxluneConnectionEntry* entries, uint32_t count);

    OxluneStatus SetVolumeBypass(bool on);
    OxluneStatus GetVolumeBypass(bool* on);
    OxluneStatus SetBypassMute(bool on);
    OxluneStatus GetBypassMute(bool* on);

    // direction and index are sent, the rest of the record zero; the driver fills it.
    OxluneStatus GetChannelLevels(uint32_t direction, uint32_t index, OxluneChannelLevels* record);
    OxluneStatus SetChannelLevels(const OxluneChannelLevels& record);

    // size in bytes, at most the block's 520.
    OxluneStatus SetEffectParameters(const OxluneEffectParameters* block, uint32_t size);
    OxluneStatus GetEffectParameters(OxluneEffectParameters* block, uint32_t size);

    OxluneStatus SetSwitchParameter(uint32_t selector, uint32_t value);
    OxluneStatus SetSwitch(uint32_t selector, bool on);

    // Level conversions between signed 16.16 fixed-point decibels (WDM endpoints) and
    // hundredths of a decibel (mixer).
    static int32_t HundredthsFromFixed(int32_t fixed);
    static int32_t FixedFromHundredths(int32_t hundredths);

private:
    OxluneStatus Entries(uint32_t code, void* entries, uint32_t count, uint32_t entrySize);

    OxluneDeviceRecord m_record;
    wchar_t m_name[100];
};
