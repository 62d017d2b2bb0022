#pragma once
#include "driverlib/OxluneRecords.h"
#include "simulator/SimMixer.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// How a simulated device is plugged in (the "plug" command's options).
struct SimDeviceConfig {
    std::wstring serial;            // at most 19 characters
    std::wstring name;              // at most 41 characters; empty: "Kuvo <serial>"
    uint16_t vendorId = 0x2E7B;
    uint16_t productId = 0x0101;
    uint32_t key0 = 0;              // 0 and 0: the kernel model assigns a fresh key
    uint32_t key1 = 0;
    bool highSpeed = true;
    bool echo = true;
    bool dsd = false;               // its stream formats include a DSD format
    uint32_t analog = 16;           // analog inputs and outputs, even, 2 to 16
    uint32_t spdif = 2;             // S/PDIF inputs and outputs, 0 or 2
};

// One connected device as the kernel driver sees it: its identity, its mixer, what the
// service sent for its WDM endpoints, its channel levels and its switches.
// Not locked itself: the kernel model's lock guards it.
class SimDevice {
public:
    explicit SimDevice(const SimDeviceConfig& config);

    const SimDeviceConfig& Config() const { return m_config; }
    uint32_t Key0() const { return m_config.key0; }
    uint32_t Key1() const { return m_config.key1; }
    bool HasKey(uint32_t key0, uint32_t key1) const { return key0 == Key0() && key1 == Key1(); }
    // The enumeration record; selected sets the selected-for-streaming flag.
    OxluneDeviceRecord Record(bool selected) const;

    SimMixer& Mixer() { return m_mixer; }
    const SimMixer& Mixer() const { return m_mixer; }

    void StreamFormats(OxluneStreamFormatList* list) const;

    // Channel level records by (direction, index); a record never set reads as zero.
    static constexpr uint32_t kMaxLevelIndex = 64;
    bool GetChannelLevels(uint32_t direction, uint32_t index, OxluneChannelLevels* record) const;
    bool SetChannelLevels(const OxluneChannelLevels& record);
    uint32_t InitChannelLevelsCount() const { return m_initChannelLevels; }
    void CountInitChannelLevels() { ++m_initChannelLevels; }

    // Endpoint tables exactly as the service sent them.
    const std::vector<uint8_t>& EndpointChannels() const { return m_endpointChannels; }
    const std::vector<uint8_t>& EndpointPairs() const { return m_endpointPairs; }
    void SetEndpointChannels(const uint8_t* data, uint32_t size) { m_endpointChannels.assign(data, data + size); }
    void SetEndpointPairs(const uint8_t* data, uint32_t size) { m_endpointPairs.assign(data, data + size); }

    // Switch state per selector: the on/off value and the parameter.
    struct Switch {
        uint32_t value = 0;
        uint32_t parameter = 0;
        uint32_t sets = 0; // how often SetSwitch was sent
    };
    static constexpr uint32_t kMaxSwitchSelector = 15;
    const std::map<uint32_t, Switch>& Switches() const { return m_switches; }
    Switch& SwitchAt(uint32_t selector) { return m_switches[selector]; }

private:
    SimDeviceConfig m_config;
    SimMixer m_mixer;
    std::map<std::pair<uint32_t, uint32_t>, OxluneChannelLevels> m_levels;
    uint32_t m_initChannelLevels = 0;
    std::vector<uint8_t> m_endpointChannels;
    std::vector<uint8_t> m_endpointPairs;
    std::map<uint32_t, Switch> m_switches;
};
