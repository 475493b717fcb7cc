#include "media/SIDCapture.h"

#include "media/VGMX.h"
#include "platform/PlatformTools.h"
#include "platform/SaturatingCast.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace {

constexpr uint64_t kVoices = 3;
constexpr uint32_t kWriteCycles = 10;  // dt of every register write
constexpr uint32_t kFinalDelay = 985248;

struct CaptureSegment
{
    uint64_t first;
    uint64_t end;  // exclusive
    uint64_t voice;
};

std::string itemLabel(uint64_t first, uint64_t end, uint64_t voiceMask, double secondsPerFrame)
{
    const double t = double(first) * secondsPerFrame;
    const int64_t minutes = vantor::saturatingCast<int64_t>(t / 60.0);
    const int64_t seconds = vantor::saturatingCast<int64_t>(t - 60.0 * double(minutes));
    char text[96];
    std::snprintf(text, sizeof text, "%02lld:%02lld - %llu Frames [%llu:%llu] CH:", (long long)minutes,
                  (long long)seconds, (unsigned long long)(end - first), (unsigned long long)first,
                  (unsigned long long)(end - 1));
    std::string label = text;
    for (uint64_t v = 0; v < kVoices; ++v)
        if (voiceMask & (uint64_t(1) << v))
            label += char('1' + v);
    return label;
}

template <typename T>
void stepDeltas16(const std::vector<T>& values, uint64_t& count, std::vector<int32_t>& deltas)
{
    assert(count <= values.size());
    deltas.clear();
    deltas.reserve(count);
    deltas.push_back(0);
    for (uint64_t i = 1; i < count; ++i)
        deltas.push_back(int32_t(values[i]) - int32_t(values[i - 1]));
    if (count == 0)
        return;
    const int32_t last = deltas[count - 1];
    uint64_t i = count - 1;
    while (i > 0 && deltas[i - 1] == last)
        --i;
    count = i == 0 ? 0 : i + 1;  // (index of the last differing delta) + 2
}

}  // namespace

void collectCaptureItem(const std::vector<SID_shadow>& frames, std::vector<SID_shadow>& out,
                        uint64_t itemIndex, uint64_t& voiceMask, std::string* label,
                        double secondsPerFrame)
{
    voiceMask = 0;
    out.clear();
    const uint64_t n = frames.size();
    std::vector<CaptureSegment> segments;
    for (uint64_t v = 0; v < kVoices; ++v) {
        const size_t voiceStart = segments.size();
        bool gateBefore = false;
        for (uint64_t i = 0; i < n; ++i) {
            const SID_shadow& frame = frames[i];
            const bool gate = frame.regs[4 + 7 * v] & 1;
            if (gate && (!gateBefore || frame.gateChanged[v])) {
                if (segments.size() > voiceStart)
                    segments.back().end = i;
                segments.push_back({i, n, v});
            }
            gateBefore = gate;
        }
    }
    // Items by (first, end): voices whose notes start and end together share one.
    std::map<std::pair<uint64_t, uint64_t>, uint64_t> items;
    for (const CaptureSegment& segment : segments)
        if (segment.end - segment.first > 1)
            items[{segment.first, segment.end}] |= uint64_t(1) << segment.voice;

    if (itemIndex < items.size()) {
        const auto& [range, mask] = *std::next(items.begin(), std::ptrdiff_t(itemIndex));
        voiceMask = mask;
        out.assign(frames.begin() + std::ptrdiff_t(range.first), frames.begin() + std::ptrdiff_t(range.second));
        if (label)
            *label = itemLabel(range.first, range.second, mask, secondsPerFrame);
        return;
    }
    voiceMask = 7;
    if (n <= 1) {
        out = frames;
        if (label)
            *label = "All captured data";
    } else {
        out.assign(frames.begin(), frames.end() - 2);
        if (label)
            *label = "Not a full frame!";
    }
}

int buildCaptureStream(uint64_t voiceMask, uint32_t clock, const std::vector<SID_shadow>& frames,
                       VGM::VGMX& document, uint64_t cyclesPerFrame)
{
    VGM::VGMXChip chip;
    chip.kind = VGM::kSidChipKind;
    chip.typeName = "6581";
    chip.displayName = "SID";
    chip.clock = clock;
    chip.rate = clock;  // dt counts machine cycles
    auto write = [&chip](uint8_t reg, uint8_t value) {
        chip.addEvent(kWriteCycles, value, 0, reg, VGMXEvent::kWrite);
    };
    auto delay = [&chip](uint32_t dt) { chip.addEvent(dt, 0, 0, 0, VGMXEvent::kDelay); };

    for (uint8_t r = 0; r < 24; ++r)
        write(r, 0);
    delay(kWriteCycles);
    for (const SID_shadow& frame : frames) {
        int64_t remaining = int64_t(std::min<uint64_t>(cyclesPerFrame, INT64_MAX));
        for (uint8_t v = 0; v < kVoices; ++v) {
            const uint8_t base = uint8_t(7 * v);
            const uint8_t count = (voiceMask >> v) & 1 ? 7 : 2;
            for (uint8_t r = base; r < base + count; ++r)
                write(r, frame.regs[r]);
            remaining -= int64_t(count) * kWriteCycles;
        }
        write(21, frame.regs[21]);
        write(22, frame.regs[22]);
        write(23, uint8_t(frame.regs[23] & (voiceMask | 0xF8)));
        write(24, frame.regs[24]);
        delay(VGM::saturateDt(uint64_t(std::max<int64_t>(0, remaining - 4 * kWriteCycles))));
    }
    delay(kFinalDelay);
    document.addChip(std::move(chip), false);
    return document.finishCapture() ? 1 : 0;
}

void stepDeltasSigned16(const std::vector<int16_t>& values, uint64_t& count, std::vector<int32_t>& deltas)
{
    stepDeltas16(values, count, deltas);
}

void stepDeltasUnsigned16(const std::vector<uint16_t>& values, uint64_t& count, std::vector<int32_t>& deltas)
{
    stepDeltas16(values, count, deltas);
}

namespace VGM {

std::string vgmxText(const VGMXSong& song)
{
    std::string text = "<VGMX>\n";
    uint32_t id = 0;
    char line[128];
    for (const auto& [kind, chip] : song.chips) {
        std::snprintf(line, sizeof line, "<Chip id=\"%u\" type=\"", id++);
        text += line;
        text += chip.typeName;
        std::snprintf(line, sizeof line, "\" clock=\"%u\" rate=\"%u\">\n", chip.clock, chip.rate);
        text += line;
        for (const VGMXEvent event : chip.events) {
            const char letter = event.kind();
            if (letter == VGMXEvent::kDelay) {
                std::snprintf(line, sizeof line, "<D dt=\"%u\"/>\n", event.dt());
            } else if (letter == VGMXEvent::kWrite || letter == VGMXEvent::kRead || letter == VGMXEvent::kInfo) {
                int used = std::snprintf(line, sizeof line, "<%c r=\"%u\" v=\"%u\"", letter,
                                         unsigned(event.reg()), unsigned(event.value()));
                if (event.port() != 0)
                    used += std::snprintf(line + used, sizeof line - size_t(used), " p=\"%u\"", unsigned(event.port()));
                std::snprintf(line + used, sizeof line - size_t(used), " dt=\"%u\"/>\n", event.dt());
            } else {
                continue;  // markers have no text form
            }
            text += line;
        }
        text += "</Chip>\n";
    }
    text += "</VGMX>\n";
    return text;
}

bool writeVgmxFile(const VGMXSong& song, const std::string& path)
{
    const std::string text = vgmxText(song);
    return binFileExternalize(path, text.data(), text.size());
}

}  // namespace VGM
