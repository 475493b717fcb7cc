// The transport record's block fields, its checks and its diagnostic line, and the frame
// distances to the next bar and beat.

#include "abi/ModuleABI.h"

#include "platform/SaturatingCast.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

namespace vantor {

namespace {

bool finitePositive(double x) { return x > 0.0 && std::isfinite(x); }

// Quarter notes per bar; 4 for a signature that gives none.
double barQuarters(int32_t numerator, int32_t denominator)
{
    const double bar = denominator >= 1 ? double(numerator) * 4.0 / double(denominator) : 4.0;
    return bar > 0.0 ? bar : 4.0;
}

// Quarter notes to frames, truncated; 0 for a negative or undefined distance.
int64_t framesFor(double quarters, double tempo, double sampleRate)
{
    if (!finitePositive(tempo) || !finitePositive(sampleRate) || !std::isfinite(quarters))
        return 0;
    const int64_t frames = saturatingCast<int64_t>(quarters * sampleRate / (tempo / 60.0));
    return std::max<int64_t>(frames, 0);
}

}  // namespace

int64_t samplesToNextBar(double tempo, double ppqPosition, double barStart, int32_t numerator,
                         int32_t denominator, double sampleRate)
{
    const double bar = barQuarters(numerator, denominator);
    double distance = ppqPosition == barStart ? 0.0 : bar + barStart - ppqPosition;
    // Wrapped into [0, bar) from below and (0, bar] from above.
    if (distance < 0.0) {
        distance = std::fmod(distance, bar);
        if (distance < 0.0)
            distance += bar;
    } else if (distance > bar) {
        distance = std::fmod(distance, bar);
        if (distance == 0.0)
            distance = bar;
    }
    return framesFor(distance, tempo, sampleRate);
}

int64_t samplesToNextBeat(double tempo, double ppqPosition, double barStart, int32_t numerator,
                          int32_t denominator, double sampleRate)
{
    const double target = std::min(std::ceil(ppqPosition), barStart + barQuarters(numerator, denominator));
    return framesFor(target - ppqPosition, tempo, sampleRate);
}

void SyncInfo::setDefaults()
{
    *this = SyncInfo();
    tempo = 120.0;
    timeSigNumerator = 4;
    timeSigDenominator = 4;
}

bool SyncInfo::prepare(int32_t frames, double rate, const char* key, std::string* out, bool quiet)
{
    barLength = timeSigDenominator >= 1 ? double(timeSigNumerator) * 4.0 / double(timeSigDenominator) : 4.0;
    blockFrames = int16_t(std::clamp<int32_t>(frames, 0, 32767));
    sampleRate = rate;
    const Check check = valid();
    if (check.code != 0) {
        if (!quiet && out) {
            std::string line;
            log(check.code, line);
            if (key)
                *out += key;
            *out += line;
            *out += '\n';
        }
        return false;
    }
    const int64_t toBar =
        vantor::samplesToNextBar(tempo, ppqPosition, barStart, timeSigNumerator, timeSigDenominator, sampleRate);
    samplesToNextBar = int32_t(std::min<int64_t>(toBar, INT32_MAX));
    blockQuarters = tempo / 60.0 / sampleRate * double(blockFrames);
    barInBlock = ppqPosition == barStart || ppqPosition + blockQuarters > barStart + barLength;
    loopInBlock = looping && (ppqPosition == loopStart || ppqPosition + blockQuarters > loopEnd);
    return true;
}

SyncInfo::Check SyncInfo::valid()
{
    if (!playing)
        return {};
    // Negated comparisons: a value that is not a number fails its check.
    if (!finitePositive(sampleRate))
        return {1, ppqPosition};
    if (!finitePositive(tempo))
        return {3, ppqPosition};
    if (timeSigNumerator < 1)
        return {5, ppqPosition};
    if (timeSigDenominator < 1)
        return {6, ppqPosition};
    if (!(ppqPosition >= barStart))
        return {7, ppqPosition};
    if (!(ppqPosition > barStart + barLength) && looping) {
        if (!(loopEnd >= 0.0))
            return {9, ppqPosition};
        if (!(loopStart >= 0.0))
            return {10, ppqPosition};
        // The loop does not restart within this block.
        if (loopStart > blockQuarters + ppqPosition || ppqPosition > loopEnd || loopEnd < loopStart)
            looping = 0;
    }
    return {0, ppqPosition};
}

void SyncInfo::log(int32_t code, std::string& out) const
{
    std::ostringstream s;
    s.imbue(std::locale::classic());
    const auto fixed = [&s](int width, double v) -> std::ostringstream& {
        s << std::fixed << std::setprecision(6) << std::setw(width) << v << std::defaultfloat;
        return s;
    };
    s << std::setw(2) << code << " ppq:";
    fixed(10, ppqPosition) << " L:";
    fixed(10, blockQuarters) << " D:";
    fixed(12, ppqPosition - lastPpqPosition) << " bar:";
    fixed(6, barStart) << " (" << timeSigNumerator << "/" << timeSigDenominator << ") bpm:";
    fixed(6, tempo) << " play:" << unsigned(playing) << " loop:" << unsigned(looping) << " diff:"
                    << unsigned(diff) << " sr:" << std::setprecision(6) << sampleRate << " sl:"
                    << std::setw(5) << blockFrames << " sp:" << samplePosition << " ls:" << loopStart
                    << " le:" << loopEnd;
    out = s.str();
}

}  // namespace vantor
