// The kernel model's control commands, for tests and the demo ("kuvosim ctl NAME ...").
#include "simulator/SimKernel.h"

#include "driverlib/OxluneStatus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {
using Args = std::vector<std::string>;

std::wstring Wide(const std::string& text)
{
    std::wstring result;
    for (char c : text) {
        result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string Narrow(const wchar_t* text)
{
    std::string result;
    for (; *text != L'\0'; ++text) {
        result.push_back(static_cast<char>(*text & 0x7F));
    }
    return result;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::string StatusAnswer(uint32_t status)
{
    return status == 0 ? "ok" : std::string("error ") + StatusName(status);
}

// "name=value" options; a bare word is "word=1".
bool SplitOption(const std::string& word, std::string* name, std::string* value)
{
    const size_t eq = word.find('=');
    if (eq == std::string::npos) {
        *name = word;
        *value = "1";
        return true;
    }
    *name = word.substr(0, eq);
    *value = word.substr(eq + 1);
    return !name->empty();
}

bool ParseKey(const std::string& text, uint32_t* key0, uint32_t* key1)
{
    const size_t colon = text.find(':');
    return colon != std::string::npos && SimParseNumber(text.substr(0, colon), key0) &&
           SimParseNumber(text.substr(colon + 1), key1);
}

bool ParseRates(const Args& a, std::vector<uint32_t>* rates)
{
    rates->clear();
    for (const std::string& word : a) {
        if (word == "none" && a.size() == 1) {
            return true;
        }
        uint32_t rate = 0;
        if (!SimParseNumber(word, &rate) || rate == 0) {
            return false;
        }
        rates->push_back(rate);
    }
    return rates->size() <= kOxluneMaxSampleRates;
}

constexpr const char* kHelp =
    "ok commands of the kernel model:\n"
    "  plug SERIAL [name=TEXT(_ for blank)] [vid=N] [pid=N] [key=K0:K1] [usb1] [noecho] [dsd]\n"
    "       [analog=2..16] [spdif=0|2]            -> ok KEY0 KEY1 (raises 3005)\n"
    "  unplug SERIAL|all                          (raises 3005)\n"
    "  devices | connections | state | hardware-time [MS]\n"
    "  rates R... | dsd-rates R...|none           (PCM and DSD rate lists; raise 3001)\n"
    "  set-state N                                (force the streaming state 0..6)\n"
    "  counts [demand=N] [exclusive=N] [lock=N] [demand2=N] [flag=N] (raise 3003/3004, 3015/3016)\n"
    "  errors [streaming=N] [fifo=N] [asio=N] [wdm-audio=N] [wdm-midi=N]\n"
    "  endpoint-volume SERIAL INDEX CENTIDB [mute] [channels=N]  (render levels; raises 3060 kind 2)\n"
    "  mixer-output SERIAL KIND CHANNEL CENTIDB [mute]  (raises 3051 when it changed)\n"
    "  mixer SERIAL | levels SERIAL DIRECTION INDEX | switches SERIAL | endpoints SERIAL\n"
    "  notify server|panel|clients CODE [WORD...] (inject a notification)\n"
    "  fault error                                (streaming fails: Error, 3006 to the server)\n"
    "  fault stuck on|off                         (reset leaves Error and USB 1.1 as they are)\n"
    "  fail-next CODE STATUS [N] | delay-next CODE MS [N]  (the next N requests of CODE)\n"
    "  ping, name, quit, version, complete        (transport commands)";
} // namespace

void SimKernel::RegisterCommands()
{
    m_driver.SetCommand("help", [](const Args&) { return std::string(kHelp); });

    m_driver.SetCommand("plug", [this](const Args& a) -> std::string {
        if (a.empty()) {
            return "error usage: plug SERIAL [options]";
        }
        SimDeviceConfig config;
        config.serial = Wide(a[0]);
        for (size_t i = 1; i < a.size(); ++i) {
            std::string name, value;
            uint32_t number = 0;
            if (!SplitOption(a[i], &name, &value)) {
                return "error bad option " + a[i];
            }
            const bool numeric = SimParseNumber(value, &number);
            if (name == "name") {
                std::string text = value;
                for (char& c : text) {
                    c = c == '_' ? ' ' : c;
                }
                config.name = Wide(text);
            } else if (name == "vid" && numeric && number <= 0xFFFF) {
                config.vendorId = static_cast<uint16_t>(number);
            } else if (name == "pid" && numeric && number <= 0xFFFF) {
                config.productId = static_cast<uint16_t>(number);
            } else if (name == "key" && ParseKey(value, &config.key0, &config.key1)) {
            } else if (name == "usb1") {
                config.highSpeed = false;
            } else if (name == "noecho") {
                config.echo = false;
            } else if (name == "dsd") {
                config.dsd = true;
            } else if (name == "analog" && numeric) {
                config.analog = number;
            } else if (name == "spdif" && numeric) {
                config.spdif = number;
            } else {
                return "error bad option " + a[i];
            }
        }
        uint32_t key0 = 0, key1 = 0;
        const uint32_t status = Plug(config, &key0, &key1);
        if (status != 0) {
            return StatusAnswer(status);
        }
        return "ok " + Hex(key0) + " " + Hex(key1);
    });

    m_driver.SetCommand("unplug", [this](const Args& a) -> std::string {
        if (a.size() != 1) {
            return "error usage: unplug SERIAL|all";
        }
        if (a[0] == "all") {
            UnplugAll();
            return "ok";
        }
        return StatusAnswer(Unplug(Wide(a[0])));
    });

    m_driver.SetCommand("devices", [this](const Args&) -> std::string {
        const std::vector<OxluneDeviceRecord> records = Devices();
        std::string answer = "ok " + std::to_string(records.size());
        for (const OxluneDeviceRecord& r : records) {
            answer += "\n" + Narrow(r.serialNumber) + " key=" + Hex(r.key0) + ":" + Hex(r.key1) +
                      " vid=" + Hex(r.vendorId) + " pid=" + Hex(r.productId) + " flags=" + Hex(r.flags) +
                      " name=" + Narrow(r.name);
        }
        return answer;
    });

    m_driver.SetCommand("connections", [this](const Args&) -> std::string {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        std::string answer = "ok " + std::to_string(m_clients.size());
        for (auto& [id, client] : m_clients) {
            answer += "\nid=" + std::to_string(id) + " pid=" + std::to_string(client->processId) +
                      " role=" + std::to_string(client->role) + " messages=" + std::to_string(client->messages.Size()) +
                      " notifications=" + std::to_string(client->notifications.Size()) +
                      (client->bound ? " bound=" + Hex(client->boundKey0) + ":" + Hex(client->boundKey1) : "");
        }
        return answer;
    });

    m_driver.SetCommand("state", [this](const Args&) -> std::string {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        const Settings& s = m_settings;
        std::ostringstream out;
        out << "ok state=" << s.state << " mode=" << s.mode << " rate=" << s.rate << " announced=" << s.announcedRate
            << " demand=" << s.counts.demand << " exclusive=" << s.counts.exclusive << " lock=" << s.counts.lock
            << " demand2=" << s.counts.demand2 << " flag=" << s.counts.flag << " device="
            << (s.hasStreamingDevice ? Hex(s.streamKey0) + ":" + Hex(s.streamKey1) : std::string("none"))
            << " streaming-class=" << s.streamingClass << " asio-class=" << s.asioClass << " third=" << s.third
            << " policy=" << s.policy << " restart=" << s.lastRestartFlag << " dsd=" << (IsDsdRate(s.rate) ? 1 : 0)
            << " errors=" << s.errors.streaming << "/" << s.errors.fifo << "/" << s.errors.asio << "/"
            << s.errors.wdmAudio << "/" << s.errors.wdmMidi << " server=" << m_serverId
            << " dropped=" << s.droppedNotifications << " hardware-time=" << m_hardwareTimeMs
            << " stuck=" << (s.stuck ? 1 : 0);
        return out.str();
    });

    m_driver.SetCommand("hardware-time", [this](const Args& a) -> std::string {
        uint32_t ms = 0;
        if (a.size() == 1 && SimParseNumber(a[0], &ms)) {
            SetHardwareTimeMs(ms);
            return std::string("ok");
        } else if (!a.empty()) {
            return "error usage: hardware-time [MS]";
        }
        return "ok " + std::to_string(HardwareTimeMs());
    });

    auto rateCommand = [this](bool dsd) {
        return [this, dsd](const Args& a) -> std::string {
            std::vector<uint32_t> rates;
            if (a.empty() || !ParseRates(a, &rates) || (!dsd && rates.empty())) {
                return dsd ? "error usage: dsd-rates R...|none" : "error usage: rates R... (at most 12)";
            }
            std::lock_guard<std::recursive_mutex> lock(m_mutex);
            (dsd ? m_settings.dsdRates : m_settings.pcmRates) = rates;
            const std::vector<uint32_t> list = RateList();
            if (std::find(list.begin(), list.end(), m_settings.rate) == list.end() && !list.empty()) {
                m_settings.rate = list.front();
            }
            NotifyPanel(OXLUNE_MSG_SETTINGS_CHANGED);
            return std::string("ok");
        };
    };
    m_driver.SetCommand("rates", rateCommand(false));
    m_driver.SetCommand("dsd-rates", rateCommand(true));

    m_driver.SetCommand("set-state", [this](const Args& a) -> std::string {
        uint32_t state = 0;
        if (a.size() != 1 || !SimParseNumber(a[0], &state) || state > OXLUNE_STREAMING_USB11) {
            return "error usage: set-state 0..6";
        }
        ForceState(state);
        return "ok";
    });

    m_driver.SetCommand("counts", [this](const Args& a) -> std::string {
        Counts counts = GetCounts();
        for (const std::string& word : a) {
            std::string name, value;
            uint32_t number = 0;
            if (!SplitOption(word, &name, &value) || !SimParseNumber(value, &number)) {
                return "error bad option " + word;
            }
            if (name == "demand") {
                counts.demand = number;
            } else if (name == "exclusive") {
                counts.exclusive = number;
            } else if (name == "lock") {
                counts.lock = number;
            } else if (name == "demand2") {
                counts.demand2 = number;
            } else if (name == "flag") {
                counts.flag = number;
            } else {
                return "error bad option " + word;
            }
        }
        if (!a.empty()) {
            SetCounts(counts);
        }
        return "ok demand=" + std::to_string(counts.demand) + " exclusive=" + std::to_string(counts.exclusive) +
               " lock=" + std::to_string(counts.lock) + " demand2=" + std::to_string(counts.demand2) +
               " flag=" + std::to_string(counts.flag);
    });

    m_driver.SetCommand("errors", [this](const Args& a) -> std::string {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        OxluneErrorCounters& e = m_settings.errors;
        for (const std::string& word : a) {
            std::string name, value;
            uint32_t number = 0;
            if (!SplitOption(word, &name, &value) || !SimParseNumber(value, &number)) {
                return "error bad option " + word;
            }
            uint32_t* field = name == "streaming" ? &e.streaming
                              : name == "fifo"    ? &e.fifo
                              : name == "asio"    ? &e.asio
                              : name == "wdm-audio" ? &e.wdmAudio
                              : name == "wdm-midi"  ? &e.wdmMidi
                                                    : nullptr;
            if (field == nullptr) {
                return "error bad option " + word;
            }
            *field = number;
        }
        return "ok " + std::to_string(e.streaming) + "/" + std::to_string(e.fifo) + "/" + std::to_string(e.asio) + "/" +
               std::to_string(e.wdmAudio) + "/" + std::to_string(e.wdmMidi);
    });

    m_driver.SetCommand("endpoint-volume", [this](const Args& a) -> std::string {
        uint32_t index = 0, level = 0, channels = 2;
        bool mute = false;
        if (a.size() < 3 || !SimParseNumber(a[1], &index) || !SimParseNumber(a[2], &level)) {
            return "error usage: endpoint-volume SERIAL INDEX CENTIDB [mute] [channels=N]";
        }
        for (size_t i = 3; i < a.size(); ++i) {
            std::string name, value;
            SplitOption(a[i], &name, &value);
            if (name == "mute") {
                mute = value != "0";
            } else if (name == "channels" && SimParseNumber(value, &channels)) {
            } else {
                return "error bad option " + a[i];
            }
        }
        // Hundredths of a dB to 16.16 dB, rounded toward zero.
        const int64_t centi = static_cast<int32_t>(level);
        const int32_t fixed = static_cast<int32_t>(centi * 65536 / 100);
        return StatusAnswer(ChangeEndpointVolume(Wide(a[0]), index, fixed, mute, channels));
    });

    m_driver.SetCommand("mixer-output", [this](const Args& a) -> std::string {
        uint32_t kind = 0, channel = 0, level = 0;
        if (a.size() < 4 || a.size() > 5 || !SimParseNumber(a[1], &kind) || !SimParseNumber(a[2], &channel) ||
            !SimParseNumber(a[3], &level) || kind > 255 || channel > 255 || (a.size() == 5 && a[4] != "mute")) {
            return "error usage: mixer-output SERIAL KIND CHANNEL CENTIDB [mute]";
        }
        OxluneMixerPoint point{};
        point.kind = static_cast<uint8_t>(kind);
        point.channel = static_cast<uint8_t>(channel);
        const int32_t centi = static_cast<int32_t>(level);
        if (centi < -32768 || centi > 32767) {
            return "error level out of range";
        }
        return StatusAnswer(ChangeOutputControl(Wide(a[0]), point, static_cast<int16_t>(centi), a.size() == 5));
    });

    m_driver.SetCommand("mixer", [this](const Args& a) -> std::string {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        SimDevice* device = a.size() == 1 ? FindDeviceBySerial(Wide(a[0])) : nullptr;
        if (device == nullptr) {
            return "error usage: mixer SERIAL (of a plugged device)";
        }
        std::vector<OxluneMixerPoint> outputs;
        device->Mixer().Pins(OXLUNE_PINS_OUTPUTS, &outputs);
        std::string answer = "ok bypass=" + std::to_string(device->Mixer().Bypass() ? 1 : 0) +
                             " bypass-mute=" + std::to_string(device->Mixer().BypassMute() ? 1 : 0);
        for (const OxluneMixerPoint& point : outputs) {
            int16_t level = 0;
            bool mute = false;
            device->Mixer().GetControl(point, &level, &mute);
            answer += "\n" + std::to_string(point.kind) + ":" + std::to_string(point.channel) + " " +
                      std::to_string(level) + (mute ? " mute" : "");
        }
        return answer;
    });

    m_driver.SetCommand("levels", [this](const Args& a) -> std::string {
        uint32_t direction = 0, index = 0;
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        SimDevice* device = a.size() == 3 ? FindDeviceBySerial(Wide(a[0])) : nullptr;
        OxluneChannelLevels record{};
        if (device == nullptr || !SimParseNumber(a[1], &direction) || !SimParseNumber(a[2], &index) ||
            !device->GetChannelLevels(direction, index, &record)) {
            return "error usage: levels SERIAL DIRECTION INDEX";
        }
        std::string answer = "ok";
        for (uint32_t i = 0; i < kOxluneChannelLevelCount; ++i) {
            answer += " " + std::to_string(record.levels[i]) + ((record.flags[i] & 1) != 0 ? "m" : "");
        }
        return answer;
    });

    m_driver.SetCommand("switches", [this](const Args& a) -> std::string {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        SimDevice* device = a.size() == 1 ? FindDeviceBySerial(Wide(a[0])) : nullptr;
        if (device == nullptr) {
            return "error usage: switches SERIAL";
        }
        std::string answer = "ok";
        for (const auto& [selector, entry] : device->Switches()) {
            answer += " " + std::to_string(selector) + "=" + std::to_string(entry.value) + "/" +
                      std::to_string(entry.parameter);
        }
        return answer;
    });

    m_driver.SetCommand("endpoints", [this](const Args& a) -> std::string {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        SimDevice* device = a.size() == 1 ? FindDeviceBySerial(Wide(a[0])) : nullptr;
        if (device == nullptr) {
            return "error usage: endpoints SERIAL";
        }
        auto counts = [](const std::vector<uint8_t>& table) -> std::string {
            if (table.empty()) {
                return "none";
            }
            uint32_t capture = 0, render = 0;
            std::memcpy(&capture, table.data(), 4);
            std::memcpy(&render, table.data() + table.size() / 2, 4);
            return std::to_string(capture) + "/" + std::to_string(render);
        };
        return "ok channels=" + counts(device->EndpointChannels()) + " pairs=" + counts(device->EndpointPairs()) +
               " init-levels=" + std::to_string(device->InitChannelLevelsCount());
    });

    m_driver.SetCommand("notify", [this](const Args& a) -> std::string {
        uint32_t code = 0;
        if (a.size() < 2 || !SimParseNumber(a[1], &code) || a.size() - 2 > kOxluneMessageMaxPayload / 4) {
            return "error usage: notify server|panel|clients CODE [WORD...]";
        }
        std::vector<uint32_t> words;
        for (size_t i = 2; i < a.size(); ++i) {
            uint32_t word = 0;
            if (!SimParseNumber(a[i], &word)) {
                return "error bad number " + a[i];
            }
            words.push_back(word);
        }
        const uint32_t size = static_cast<uint32_t>(words.size() * 4);
        if (a[0] == "server") {
            NotifyServer(code, words.data(), size);
        } else if (a[0] == "panel") {
            NotifyPanel(code, words.data(), size);
        } else if (a[0] == "clients") {
            NotifyClients(code, words.data(), size);
        } else {
            return "error usage: notify server|panel|clients CODE [WORD...]";
        }
        return std::string("ok");
    });

    m_driver.SetCommand("fault", [this](const Args& a) -> std::string {
        if (a.size() == 1 && a[0] == "error") {
            std::vector<std::pair<uint32_t, uint32_t>> changes;
            {
                std::lock_guard<std::recursive_mutex> lock(m_mutex);
                ++m_settings.errors.streaming;
                SetState(OXLUNE_STREAMING_ERROR, &changes);
                NotifyServer(OXLUNE_MSG_BRING_UP_RESTART);
            }
            FireStateChanges(changes);
            return "ok";
        }
        if (a.size() == 2 && a[0] == "stuck" && (a[1] == "on" || a[1] == "off")) {
            std::lock_guard<std::recursive_mutex> lock(m_mutex);
            m_settings.stuck = a[1] == "on";
            return "ok";
        }
        return "error usage: fault error | fault stuck on|off";
    });

    auto nextCommand = [this](bool fail) {
        return [this, fail](const Args& a) -> std::string {
            uint32_t code = 0, value = 0, count = 1;
            if (a.size() < 2 || a.size() > 3 || !SimParseNumber(a[0], &code) || !SimParseNumber(a[1], &value) ||
                (a.size() == 3 && (!SimParseNumber(a[2], &count) || count == 0))) {
                return std::string(fail ? "error usage: fail-next CODE STATUS [N]" : "error usage: delay-next CODE MS [N]");
            }
            SimCompletion completion;
            completion.mode = fail ? SimCompletion::Mode::Fail : SimCompletion::Mode::Delay;
            (fail ? completion.status : completion.delayMs) = value;
            completion.count = count;
            m_driver.SetCompletion(code, completion);
            return std::string("ok");
        };
    };
    m_driver.SetCommand("fail-next", nextCommand(true));
    m_driver.SetCommand("delay-next", nextCommand(false));
}
