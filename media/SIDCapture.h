#pragma once
// SID register capture: cutting the captured frames into items (note start to note start of the
// voices that start and end together), writing an item as a SID register stream, and the loop
// and delta helpers that turn per-frame tracks into step tables.

#include "media/SID_shadow.h"

#include <cassert>
#include <cstdint>
#include <string>
#include <vector>

namespace VGM {
class VGMX;
struct VGMXSong;
}

// Machine clocks of the capture, in Hz.
constexpr double kPalMachineClock = 985248.6111111111;
constexpr double kNtscMachineClock = 1022727.2727272727;
constexpr uint32_t kPalMachineClockHz = 985248;
constexpr uint32_t kNtscMachineClockHz = 1022727;

// Replaces `out` with the frames of item `itemIndex` and sets the item's voices in voiceMask;
// past the last item, the whole capture (all frames but the last two when there are two or
// more) with voiceMask 7. A label is built when `label` is not null.
void collectCaptureItem(const std::vector<SID_shadow>& frames, std::vector<SID_shadow>& out,
                        uint64_t itemIndex, uint64_t& voiceMask, std::string* label,
                        double secondsPerFrame);

// Adds to the document's song one SID stream (kind 77, rate = clock, so dt counts machine cycles)
// that rewrites the registers frame by frame: voices of voiceMask in full, the others' frequency
// only, each frame lasting cyclesPerFrame cycles. Returns the document's status (nonzero =
// usable).
int buildCaptureStream(uint64_t voiceMask, uint32_t clock, const std::vector<SID_shadow>& frames,
                       VGM::VGMX& document, uint64_t cyclesPerFrame);

// The shortest repeating tail (period 2 or more, repeated at least twice) of values 0 to
// lastIndex: loopIn and loopOut bound its first full repetition. False, with both points at
// lastIndex, when there is none or fewer than six values take part.
template <typename T>
bool findStepLoop(const std::vector<T>& values, uint64_t lastIndex, uint64_t& loopIn, uint64_t& loopOut)
{
    assert(lastIndex < values.size());
    loopIn = loopOut = lastIndex;
    const uint64_t n = lastIndex + 1;
    if (n < 6)
        return false;
    const uint64_t longest = (n / 2 > 3 ? n / 2 : 3) - 1;
    for (uint64_t p = 2; p <= longest; ++p) {
        const uint64_t pattern = n - p;
        uint64_t matched = 0;
        for (uint64_t block = 1; block <= n / p - 1; ++block) {
            const uint64_t start = n - (block + 1) * p;
            bool same = true;
            for (uint64_t i = 0; i < p && same; ++i)
                same = values[start + i] == values[pattern + i];
            if (!same)
                break;
            ++matched;
        }
        if (matched > 0) {
            loopIn = n - (matched + 1) * p;
            loopOut = loopIn + p - 1;
            return true;
        }
    }
    return false;
}

// deltas := 0 and the differences of successive values among the first `count`; count is then
// shortened so that the trailing run of equal deltas keeps one member (0 when all are equal).
void stepDeltasSigned16(const std::vector<int16_t>& values, uint64_t& count, std::vector<int32_t>& deltas);
void stepDeltasUnsigned16(const std::vector<uint16_t>& values, uint64_t& count, std::vector<int32_t>& deltas);

namespace VGM {

// The song as VGMX text: one "Chip" element per chip with its events, one element per line.
std::string vgmxText(const VGMXSong& song);
// Writes that text to `path` through a temporary file in its folder; false, with no file left
// behind, on any failure.
bool writeVgmxFile(const VGMXSong& song, const std::string& path);

}  // namespace VGM
