#pragma once
#include "driverlib/OxluneRecords.h"

#include <cstdint>
#include <map>
#include <vector>

// The mixer a device's driver integrates: output pins (analog outputs, S/PDIF outputs,
// the two virtual inputs), the input pins of the hardware-inputs mixer (analog and
// S/PDIF inputs) and of the software-outputs mixer (playback and S/PDIF playback
// channels); per output a level with a mute, a connection matrix of outputs by inputs,
// meters, the bypass switches and the echo effect's parameters.
// Not locked itself: the kernel model's lock guards it.
class SimMixer {
public:
    static constexpr int16_t kMinLevel = -9000; // hundredths of a dB
    static constexpr int16_t kMaxLevel = 600;
    static constexpr int16_t kSilence = -6000;  // meter floor
    static constexpr uint32_t kEchoMaxDelayMs = 500;
    static constexpr uint32_t kEchoMaxAmplification = 1000;

    // analog: analog inputs and outputs (also the number of playback channels);
    // spdif: S/PDIF inputs, outputs and playback channels; echo: the effect plug-in.
    SimMixer(uint32_t analog, uint32_t spdif, bool echo);

    // Pins of selector 0 (outputs), 1 (hardware inputs) or 2 (software outputs); false for
    // another selector.
    bool Pins(uint32_t selector, std::vector<OxluneMixerPoint>* points) const;
    bool IsOutput(const OxluneMixerPoint& point) const;
    bool IsInput(const OxluneMixerPoint& point) const;

    bool GetControl(const OxluneMixerPoint& output, int16_t* level, bool* mute) const;
    // Clamps the level to kMinLevel..kMaxLevel; *changed when the stored values differ.
    bool SetControl(const OxluneMixerPoint& output, int16_t level, bool mute, int16_t* applied, bool* changed);

    bool GetConnection(const OxluneMixerPoint& output, const OxluneMixerPoint& input, int16_t* level,
                       bool* connected) const;
    bool SetConnection(const OxluneMixerPoint& output, const OxluneMixerPoint& input, int16_t level, bool connected,
                       int16_t* applied, bool* changed);

    // Meter levels; silent unless running. tick moves them (milliseconds).
    int16_t InputMeter(const OxluneMixerPoint& input, bool running, uint32_t tick) const;
    int16_t OutputMeter(const OxluneMixerPoint& output, bool running, uint32_t tick) const;

    bool Bypass() const { return m_bypass; }
    bool BypassMute() const { return m_bypassMute; }
    bool SetBypass(bool on);     // true when it changed
    bool SetBypassMute(bool on); // true when it changed

    bool HasEcho() const { return m_echo; }
    uint32_t EchoChannels() const { return m_analog; }
    // Parameter 2 (delay, ms) or 3 (amplification, thousandths) of one echo channel.
    bool GetEffect(uint32_t parameter, uint32_t channel, uint32_t* value) const;
    // Clamps the value to the parameter's range.
    bool SetEffect(uint32_t parameter, uint32_t channel, uint32_t value);

private:
    static uint32_t Id(const OxluneMixerPoint& point) { return point.kind << 8 | point.channel; }
    static OxluneMixerPoint Point(uint8_t kind, uint8_t channel);

    struct Control {
        int16_t level = 0;
        bool mute = false;
    };
    struct Connection {
        int16_t level = 0;
        bool connected = false;
    };

    uint32_t m_analog;
    uint32_t m_spdif;
    bool m_echo;
    std::vector<OxluneMixerPoint> m_outputs;
    std::vector<OxluneMixerPoint> m_hardwareInputs;
    std::vector<OxluneMixerPoint> m_softwareOutputs;
    std::map<uint32_t, Control> m_controls;
    std::map<uint64_t, Connection> m_connections; // output id << 32 | input id
    bool m_bypass = false;
    bool m_bypassMute = false;
    std::vector<uint32_t> m_echoDelay;
    std::vector<uint32_t> m_echoAmplification;
};
