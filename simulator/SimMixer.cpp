#include "simulator/SimMixer.h"

#include <algorithm>

namespace {
bool SamePoint(const OxluneMixerPoint& a, const OxluneMixerPoint& b)
{
    return a.kind == b.kind && a.channel == b.channel;
}

bool Contains(const std::vector<OxluneMixerPoint>& points, const OxluneMixerPoint& point)
{
    return std::any_of(points.begin(), points.end(), [&](const OxluneMixerPoint& p) { return SamePoint(p, point); });
}

int16_t Clamp(int32_t level, int32_t low, int32_t high)
{
    return static_cast<int16_t>(std::clamp(level, low, high));
}
} // namespace

OxluneMixerPoint SimMixer::Point(uint8_t kind, uint8_t channel)
{
    OxluneMixerPoint point{};
    point.kind = kind;
    point.channel = channel;
    return point;
}

SimMixer::SimMixer(uint32_t analog, uint32_t spdif, bool echo)
    : m_analog(analog), m_spdif(spdif), m_echo(echo), m_echoDelay(analog, 0), m_echoAmplification(analog, 0)
{
    for (uint32_t i = 0; i < analog; ++i) {
        m_outputs.push_back(Point(OXLUNE_POINT_ANALOG, static_cast<uint8_t>(i)));
        m_hardwareInputs.push_back(Point(OXLUNE_POINT_ANALOG, static_cast<uint8_t>(i)));
        m_softwareOutputs.push_back(Point(OXLUNE_POINT_PLAYBACK, static_cast<uint8_t>(i)));
    }
    for (uint32_t i = 0; i < spdif; ++i) {
        m_outputs.push_back(Point(OXLUNE_POINT_SPDIF, static_cast<uint8_t>(i)));
        m_hardwareInputs.push_back(Point(OXLUNE_POINT_SPDIF, static_cast<uint8_t>(i)));
        m_softwareOutputs.push_back(Point(OXLUNE_POINT_SPDIF_PLAYBACK, static_cast<uint8_t>(i)));
    }
    m_outputs.push_back(Point(OXLUNE_POINT_VIRTUAL_INPUT, 0));
    m_outputs.push_back(Point(OXLUNE_POINT_VIRTUAL_INPUT, 1));
    for (const OxluneMixerPoint& output : m_outputs) {
        m_controls[Id(output)] = Control{};
    }
    // Factory routing: each playback channel feeds the output of the same number.
    for (uint32_t i = 0; i < analog; ++i) {
        const uint64_t key = uint64_t{Id(m_outputs[i])} << 32 | Id(m_softwareOutputs[i]);
        m_connections[key] = Connection{0, true};
    }
}

bool SimMixer::Pins(uint32_t selector, std::vector<OxluneMixerPoint>* points) const
{
    switch (selector) {
    case OXLUNE_PINS_OUTPUTS:
        *points = m_outputs;
        return true;
    case OXLUNE_PINS_HARDWARE_INPUTS:
        *points = m_hardwareInputs;
        return true;
    case OXLUNE_PINS_SOFTWARE_OUTPUTS:
        *points = m_softwareOutputs;
        return true;
    default:
        return false;
    }
}

bool SimMixer::IsOutput(const OxluneMixerPoint& point) const
{
    return point.zero[0] == 0 && point.zero[1] == 0 && Contains(m_outputs, point);
}

bool SimMixer::IsInput(const OxluneMixerPoint& point) const
{
    return point.zero[0] == 0 && point.zero[1] == 0 &&
           (Contains(m_hardwareInputs, point) || Contains(m_softwareOutputs, point));
}

bool SimMixer::GetControl(const OxluneMixerPoint& output, int16_t* level, bool* mute) const
{
    if (!IsOutput(output)) {
        return false;
    }
    const Control& control = m_controls.at(Id(output));
    *level = control.level;
    *mute = control.mute;
    return true;
}

bool SimMixer::SetControl(const OxluneMixerPoint& output, int16_t level, bool mute, int16_t* applied, bool* changed)
{
    if (!IsOutput(output)) {
        return false;
    }
    Control& control = m_controls[Id(output)];
    const int16_t clamped = Clamp(level, kMinLevel, kMaxLevel);
    *changed = control.level != clamped || control.mute != mute;
    control.level = clamped;
    control.mute = mute;
    *applied = clamped;
    return true;
}

bool SimMixer::GetConnection(const OxluneMixerPoint& output, const OxluneMixerPoint& input, int16_t* level,
                             bool* connected) const
{
    if (!IsOutput(output) || !IsInput(input)) {
        return false;
    }
    auto it = m_connections.find(uint64_t{Id(output)} << 32 | Id(input));
    *level = it != m_connections.end() ? it->second.level : 0;
    *connected = it != m_connections.end() && it->second.connected;
    return true;
}

bool SimMixer::SetConnection(const OxluneMixerPoint& output, const OxluneMixerPoint& input, int16_t level,
                             bool connected, int16_t* applied, bool* changed)
{
    if (!IsOutput(output) || !IsInput(input)) {
        return false;
    }
    Connection& connection = m_connections[uint64_t{Id(output)} << 32 | Id(input)];
    const int16_t clamped = Clamp(level, kMinLevel, kMaxLevel);
    *changed = connection.level != clamped || connection.connected != connected;
    connection.level = clamped;
    connection.connected = connected;
    *applied = clamped;
    return true;
}

int16_t SimMixer::InputMeter(const OxluneMixerPoint& input, bool running, uint32_t tick) const
{
    if (!running || !IsInput(input)) {
        return kSilence;
    }
    // A signal that wanders between -6 dB and -36 dB, different on every channel.
    const uint32_t phase = (tick / 40 + input.channel * 7u + input.kind * 13u) % 60;
    const uint32_t swing = phase < 30 ? phase : 60 - phase;
    return static_cast<int16_t>(-600 - static_cast<int32_t>(swing) * 100);
}

int16_t SimMixer::OutputMeter(const OxluneMixerPoint& output, bool running, uint32_t tick) const
{
    if (!running || !IsOutput(output)) {
        return kSilence;
    }
    const Control& control = m_controls.at(Id(output));
    if (control.mute) {
        return kSilence;
    }
    const uint32_t phase = (tick / 40 + output.channel * 5u + output.kind * 11u) % 60;
    const uint32_t swing = phase < 30 ? phase : 60 - phase;
    return Clamp(-600 - static_cast<int32_t>(swing) * 100 + control.level, kSilence, 0);
}

bool SimMixer::SetBypass(bool on)
{
    const bool changed = m_bypass != on;
    m_bypass = on;
    return changed;
}

bool SimMixer::SetBypassMute(bool on)
{
    const bool changed = m_bypassMute != on;
    m_bypassMute = on;
    return changed;
}

bool SimMixer::GetEffect(uint32_t parameter, uint32_t channel, uint32_t* value) const
{
    if (channel >= m_analog) {
        return false;
    }
    if (parameter == OXLUNE_EFFECT_PARAMETER_ECHO_A) {
        *value = m_echoDelay[channel];
        return true;
    }
    if (parameter == OXLUNE_EFFECT_PARAMETER_ECHO_B) {
        *value = m_echoAmplification[channel];
        return true;
    }
    return false;
}

bool SimMixer::SetEffect(uint32_t parameter, uint32_t channel, uint32_t value)
{
    if (channel >= m_analog) {
        return false;
    }
    if (parameter == OXLUNE_EFFECT_PARAMETER_ECHO_A) {
        m_echoDelay[channel] = std::min(value, kEchoMaxDelayMs);
        return true;
    }
    if (parameter == OXLUNE_EFFECT_PARAMETER_ECHO_B) {
        m_echoAmplification[channel] = std::min(value, kEchoMaxAmplification);
        return true;
    }
    return false;
}
