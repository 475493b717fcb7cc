#include "RenderScript.h"

#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <sstream>

namespace {

bool parseInt(const std::string& token, int64_t lo, int64_t hi, int64_t& out)
{
    const char* first = token.data();
    const char* last = first + token.size();
    int base = 10;
    bool negative = false;
    if (first != last && *first == '-') {
        negative = true;
        ++first;
    }
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        base = 16;
        first += 2;
    }
    int64_t v = 0;
    auto [end, ec] = std::from_chars(first, last, v, base);
    if (ec != std::errc() || end != last || first == last)
        return false;
    if (negative)
        v = -v;
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parseDouble(const std::string& token, double& out)
{
    double v = 0.0;
    auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
    if (ec != std::errc() || end != token.data() + token.size() || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

}  // namespace

vantor::HDMIDIEvent makeNoteOn(int32_t note, float velocity)
{
    vantor::HDMIDIEvent e;
    e.kind = vantor::kEventNoteOn;
    e.index = note;
    e.value = velocity;
    e.noteId = -1;
    return e;
}

vantor::HDMIDIEvent makeItem(int32_t index, float value)
{
    vantor::HDMIDIEvent e;
    e.kind = vantor::kEventControllerItem;
    e.index = index;
    e.value = value;
    return e;
}

vantor::HDMIDIEvent makeNoteOff(int32_t note)
{
    vantor::HDMIDIEvent e;
    e.kind = vantor::kEventNoteOff;
    e.index = note;
    e.noteId = -1;
    return e;
}

bool parseRenderScript(const std::string& text, const std::string& source, double rate,
                       float defaultVelocity, RenderScript& out, std::string& error)
{
    constexpr double kMaxSeconds = 86400.0;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        std::string body = line.substr(0, line.find('#'));
        std::istringstream words(body);
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        if (w.empty())
            continue;

        auto bad = [&]() {
            error = source + ":" + std::to_string(number) + ": bad line: " + line;
            return false;
        };
        double seconds = 0.0;
        if (w.size() < 2 || !parseDouble(w[0], seconds) || seconds < 0.0 || seconds > kMaxSeconds)
            return bad();
        const uint64_t frame = uint64_t(std::llround(seconds * rate));
        const std::string& command = w[1];
        int64_t i0 = 0, i1 = 0, i2 = 0;
        double v = 0.0;
        ScriptEvent ev;
        ev.frame = frame;
        if (command == "on" && (w.size() == 3 || w.size() == 4)) {
            double velocity = defaultVelocity;
            if (!parseInt(w[2], 0, 127, i0) ||
                (w.size() == 4 && (!parseDouble(w[3], velocity) || velocity < 0.0 || velocity > 1.0)))
                return bad();
            ev.event = makeNoteOn(int32_t(i0), float(velocity));
        } else if (command == "off" && w.size() == 3) {
            if (!parseInt(w[2], 0, 127, i0))
                return bad();
            ev.event = makeNoteOff(int32_t(i0));
        } else if (command == "item" && w.size() == 4) {
            if (!parseInt(w[2], 0, int64_t(kControllerItems) - 1, i0) || !parseDouble(w[3], v) ||
                std::fabs(v) > double(FLT_MAX))
                return bad();
            ev.event = makeItem(int32_t(i0), float(v));
        } else if (command == "midi" && w.size() == 5) {
            if (!parseInt(w[2], 0x80, 0xFF, i0) || !parseInt(w[3], 0, 127, i1) ||
                !parseInt(w[4], 0, 127, i2))
                return bad();
            ev.event.kind = 0;
            ev.event.midi[0] = uint8_t(i0);
            ev.event.midi[1] = uint8_t(i1);
            ev.event.midi[2] = uint8_t(i2);
            ev.event.midiFlag = 1;
            ev.event.tuning = 0.0f;
        } else if (command == "master" && w.size() == 4) {
            if (!parseInt(w[2], INT32_MIN, INT32_MAX, i0) || !parseDouble(w[3], v))
                return bad();
            out.masters.push_back({frame, int32_t(i0), v});
            continue;
        } else if (command == "sysex" && w.size() >= 3) {
            SysExMessage message{frame, {}};
            for (size_t k = 2; k < w.size(); ++k) {
                if (!parseInt("0x" + w[k], 0, 0xFF, i0) || w[k].size() > 2)
                    return bad();
                message.bytes.push_back(uint8_t(i0));
            }
            out.sysex.push_back(std::move(message));
            continue;
        } else {
            return bad();
        }
        out.events.push_back(ev);
    }
    return true;
}
