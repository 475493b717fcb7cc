#include "instrument/DecimatingProvider.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

// speexdsp's filter length at quality 0..10 for up-sampling; it grows with the down-sampling
// ratio and is rounded up to a multiple of 8.
constexpr uint64_t kSpeexBaseLength[11] = {8, 16, 32, 48, 64, 80, 96, 128, 160, 192, 256};

constexpr double kStopbandDb = 105.0;  // aliases into the host band
constexpr double kPassbandEdge = 20000.0;
constexpr double kSettled = 1e-12;     // a one-pole state this close to its input has arrived

uint64_t speexTaps(uint64_t num, uint64_t den, int32_t quality)
{
    const uint64_t g = SpeexProvider::gcd(num, den);
    num /= g;
    den /= g;
    const uint64_t base = kSpeexBaseLength[std::clamp(quality, 0, 10)];
    if (num <= den)
        return base;
    const uint64_t length = base * num / den;
    return ((length - 1) & ~uint64_t(7)) + 8;
}

// Passband edge and the first frequency that folds into the host band after decimation by m.
struct Band
{
    double pass, stop;
};

Band bandFor(double chipRate, double hostRate, uint64_t m)
{
    return {std::min(kPassbandEdge, 0.45 * hostRate), chipRate / double(m) - 0.5 * hostRate};
}

uint64_t kaiserLength(double chipRate, const Band& b)
{
    const double width = 2.0 * M_PI * (b.stop - b.pass) / chipRate;
    const uint64_t n = uint64_t(std::ceil((kStopbandDb - 7.95) / (2.285 * width))) + 1;
    return n | 1;  // odd: a whole-sample delay
}

double besselI0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60 && term > sum * 1e-17; ++k) {
        const double h = x / (2.0 * k);
        term *= h * h;
        sum += term;
    }
    return sum;
}

using F4 = float __attribute__((vector_size(16)));

inline F4 load4(const float* p)
{
    F4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Taps padded with zeros to a multiple of 4; reads as many window values.
inline float dot(const float* window, const float* taps, uint64_t paddedCount)
{
    F4 a = {}, b = {};
    uint64_t k = 0;
    for (; k + 8 <= paddedCount; k += 8) {
        a += load4(window + k) * load4(taps + k);
        b += load4(window + k + 4) * load4(taps + k + 4);
    }
    if (k < paddedCount)
        a += load4(window + k) * load4(taps + k);
    const F4 s = a + b;
    return (s[0] + s[1]) + (s[2] + s[3]);
}

// Every one of the n values has the bits of v; stops at the first block of 64 that differs.
bool sameBits(const float* p, uint64_t n, float v)
{
    using U4 = uint32_t __attribute__((vector_size(16)));
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const U4 want = {bits, bits, bits, bits};
    uint64_t i = 0;
    for (; i + 64 <= n; i += 64) {
        U4 any = {};
        for (uint64_t k = 0; k < 64; k += 4) {
            U4 x;
            std::memcpy(&x, p + i + k, sizeof x);
            any |= x ^ want;
        }
        if ((any[0] | any[1] | any[2] | any[3]) != 0)
            return false;
    }
    for (; i < n; ++i) {
        uint32_t b;
        std::memcpy(&b, p + i, sizeof b);
        if (b != bits)
            return false;
    }
    return true;
}

}  // namespace

namespace {

// The decimator for m fits: the host band stays clear of what folds, within kMaxTaps taps.
bool usable(uint64_t chipRate, uint64_t hostRate, uint64_t m)
{
    if (m < 2 || chipRate <= hostRate * m)
        return m == 1;
    const Band b = bandFor(double(chipRate), double(hostRate), m);
    return b.stop > b.pass * 1.05 && kaiserLength(double(chipRate), b) <= DecimatingProvider::kMaxTaps;
}

}  // namespace

uint64_t DecimatingProvider::decimationFor(uint64_t chipRate, uint64_t hostRate, int32_t quality)
{
    if (chipRate == 0 || hostRate == 0 || chipRate <= hostRate)
        return 1;
    // The same filter length in time gives the same continuous filter; its copies around the
    // decimated rate must stay far from the host band, further at the low qualities whose
    // stop band is shallow.
    const uint64_t single = speexTaps(chipRate, hostRate, quality);
    const double margin = quality < 4 ? 5.0 : 1.05;
    for (uint64_t m = std::min<uint64_t>(kMaxDecimation, chipRate / hostRate); m >= 2; --m)
        if (usable(chipRate, hostRate, m) && double(chipRate) / double(m) >= margin * double(hostRate) &&
            speexTaps((chipRate + m - 1) / m, hostRate, quality) * m == single)
            return m;
    return 1;
}

void DecimatingProvider::design(uint64_t chipRate, uint64_t hostRate, uint64_t minimumTaps)
{
    const double fs = double(chipRate);
    if (decimation <= 1) {
        tapCount = 1;
        std::fill_n(taps.get(), kMaxTaps + 4, 0.0f);
        taps[0] = 1.0f;
        return;
    }
    const Band b = bandFor(fs, double(hostRate), decimation);
    tapCount = std::min(std::max(kaiserLength(fs, b), minimumTaps | 1), kMaxTaps - 1);
    const double cutoff = (b.pass + b.stop) / fs;  // twice the cutoff over the rate
    const double beta = 0.1102 * (kStopbandDb - 8.7);
    const double centre = double(tapCount - 1) / 2.0, norm = besselI0(beta);
    double h[kMaxTaps];
    double sum = 0.0;
    for (uint64_t n = 0; n < tapCount; ++n) {
        const double t = double(n) - centre;
        const double x = M_PI * cutoff * t;
        const double sinc = t == 0.0 ? 1.0 : std::sin(x) / x;
        const double r = t / centre;
        h[n] = cutoff * sinc * besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
        sum += h[n];
    }
    std::fill_n(taps.get(), kMaxTaps + 4, 0.0f);
    for (uint64_t n = 0; n < tapCount; ++n)
        taps[n] = float(h[n] / sum);
}

bool DecimatingProvider::setup(uint64_t channels, uint64_t chipRate, uint64_t hostRate, int32_t quality,
                               uint64_t frames)
{
    if (channels == 0 || channels > kMaxChannels || chipRate == 0 || hostRate == 0 || frames == 0)
        return false;
    // A running chain keeps its factor through rate changes while it still fits, so rate
    // automation bends the pitch without a jump.
    const bool running = speex.hasResampler() && quality == lastQuality && channels == channelCount;
    const uint64_t m = running && usable(chipRate, hostRate, decimation)
                           ? decimation
                           : decimationFor(chipRate, hostRate, quality);
    const bool fresh = !speex.hasResampler() || m != decimation || channels != channelCount;
    if (!speex.setup(channels, chipRate, hostRate, quality, fresh, m))
        return false;
    if (!taps) {
        taps.reset(new (std::nothrow) float[kMaxTaps + 4]);
        if (!taps)
            return false;
    }
    // Room for any factor (1 too), so a later factor change allocates nothing.
    const uint64_t newFifoCapacity = frames + 2 * kMaxTaps + 4096;
    if (frames > capacity || channels > allocatedLanes) {
        for (uint64_t c = 0; c < channels; ++c) {
            Lane& lane = lanes[c];
            lane.work.reset(new (std::nothrow) float[kMaxTaps + frames + 8]());
            lane.fifo.reset(new (std::nothrow) float[newFifoCapacity]());
            lane.ready.reset(new (std::nothrow) float[frames + 16]());
            lane.historyUniform = false;
            if (!lane.work || !lane.fifo || !lane.ready)
                return false;
        }
        capacity = frames;
        fifoCapacity = newFifoCapacity;
        allocatedLanes = channels;
    }
    decimation = m;
    channelCount = channels;
    lastQuality = quality;
    // A running decimator keeps its length (and so its delay) unless the rate needs more.
    design(chipRate, hostRate, fresh ? 0 : tapCount);
    // The resampler takes the decimated input at its rounded-up rate; the chips follow it.
    chipRatio = double((chipRate + m - 1) / m * m) / double(hostRate);
    decimatedRate = double(chipRate) / double(m);
    stepNumerator = speex.getInputRateReduced();
    stepDenominator = speex.getOutputRateReduced();
    for (uint64_t c = 0; c < kMaxChannels; ++c)
        setHighPass(c, lanes[c].hpCutoff);
    if (fresh) {
        speex.reset();
        speex.setup(channels, chipRate, hostRate, quality, true, m);
        clearLanes();
    }
    return true;
}

void DecimatingProvider::setHighPass(uint64_t channel, double hz)
{
    if (channel >= kMaxChannels || !(hz >= 0.0))
        return;
    Lane& lane = lanes[channel];
    lane.hpCutoff = hz;
    lane.hpStep = decimatedRate > 0.0 ? 1.0 - std::exp(-2.0 * M_PI * hz / decimatedRate) : 0.0;
}

void DecimatingProvider::primeHighPass(float value)
{
    Lane& lane = lanes[0];
    if (!lane.work || tapCount == 0)
        return;
    std::fill_n(lane.work.get(), kMaxTaps - 1, value);
    lane.runValue = value;
    lane.runLength = kMaxTaps;
    lane.historyUniform = true;
    lane.restValue = dot(lane.work.get(), taps.get(), (tapCount + 3) & ~uint64_t(3));
    lane.restKnown = true;
    lane.hpState = double(lane.restValue);
}

void DecimatingProvider::clearLanes()
{
    for (Lane& lane : lanes) {
        if (lane.work)
            std::fill_n(lane.work.get(), kMaxTaps + capacity + 8, 0.0f);
        lane.phase = std::max<uint64_t>(decimation, 1);
        lane.runValue = 0.0f;
        lane.runLength = kMaxTaps;
        lane.historyUniform = true;
        lane.restKnown = false;
        lane.hpState = 0.0;
        lane.fifoLength = 0;
        lane.fifoSilent = true;
        lane.readyLength = 0;
        lane.zeroRun = speex.filterLength();
        lane.resting = false;
        lane.shadowPosition = 0;
        lane.shadowFraction = 0;
    }
}

void DecimatingProvider::reset()
{
    speex.reset();
    clearLanes();
}

int64_t DecimatingProvider::inputLatency()
{
    return speex.inputLatency() * int64_t(decimation) + int64_t(tapCount / 2);
}

uint64_t DecimatingProvider::inputFramesFor(uint64_t outputFrames)
{
    const double n = double(outputFrames) * chipRatio;
    return std::max<uint64_t>(n < 1.8e19 ? uint64_t(n) : uint64_t(1.8e19), 1);
}

void DecimatingProvider::decimate(Lane& lane, const float* in, uint64_t n)
{
    // The newest kMaxTaps - 1 inputs stay in the history, so the tap count may change.
    const uint64_t history = kMaxTaps - 1;
    const uint64_t padded = (tapCount + 3) & ~uint64_t(3);
    float* work = lane.work.get();

    // The trailing run of equal inputs: from `constFrom` on, every input is `last`.
    const float last = n > 0 ? in[n - 1] : lane.runValue;
    uint64_t constFrom = n;
    const bool uniform = sameBits(in, n, last);
    // A history of nothing but `last` that only more of it follows stays as it is.
    const bool historyKept =
        historyShortcut && uniform && lane.historyUniform && sameBits(&lane.runValue, 1, last);
    if (!historyKept)
        std::memcpy(work + history, in, n * sizeof(float));
    if (uniform) {
        constFrom = 0;
    } else {
        while (constFrom > 0 && in[constFrom - 1] == last)
            --constFrom;
    }
    const uint64_t carried = constFrom == 0 && last == lane.runValue ? lane.runLength : 0;
    if (lane.restKnown && !(lane.runValue == last))
        lane.restKnown = false;

    float* fifo = lane.fifo.get();
    const uint64_t outputs = (n + decimation - lane.phase) / decimation;
    if (lane.fifoLength + outputs > fifoCapacity) {  // not reached: the resampler keeps up
        const uint64_t drop = lane.fifoLength + outputs - fifoCapacity;
        std::memmove(fifo, fifo + drop, (lane.fifoLength - drop) * sizeof(float));
        lane.fifoLength -= drop;
    }
    double s = lane.hpState;
    const double step = lane.hpStep;
    uint64_t length = lane.fifoLength;
    bool silent = lane.fifoSilent;
    const bool atRest = constFrom == 0 && carried >= tapCount && lane.restKnown && s == double(lane.restValue);
    if (atRest) {
        // At rest: every output is the rest value, which the high-pass takes to 0.
        std::fill_n(fifo + length, outputs, 0.0f);
        length += outputs;
    } else {
        if (historyKept)
            std::memcpy(work + history, in, n * sizeof(float));
        for (uint64_t j = lane.phase - 1; j < n; j += decimation) {
            float y;
            if (j >= constFrom && j - constFrom + 1 + carried >= tapCount && lane.restKnown) {
                y = lane.restValue;
            } else {
                y = dot(work + history + j + 1 - tapCount, taps.get(), padded);
                if (j >= constFrom && j - constFrom + 1 + carried >= tapCount) {
                    lane.restValue = y;
                    lane.restKnown = true;
                }
            }
            const double x = double(y);
            const double moved = s + step * (x - s);
            // Close enough, or so close that the step no longer moves it: the state arrives.
            s = std::fabs(x - moved) <= kSettled || (moved == s && step > 0.0) ? x : moved;
            const float out = float(x - s) + 0.0f;
            fifo[length++] = out;
            silent = silent && out == 0.0f;
        }
    }
    lane.fifoLength = length;
    lane.fifoSilent = silent;
    lane.hpState = s;
    lane.phase = lane.phase > n ? lane.phase - n : decimation - (n - lane.phase) % decimation;
    lane.runValue = last;
    lane.runLength = std::min<uint64_t>((n - constFrom) + carried, kMaxTaps);
    if (!(historyKept && atRest))
        std::memmove(work, work + n, history * sizeof(float));
    lane.historyUniform = historyKept || (uniform && n >= history);
}

void DecimatingProvider::resample(Lane& lane, uint64_t channel, uint64_t room)
{
    if (lane.readyLength >= room)
        return;
    const uint64_t want = room - lane.readyLength;
    float* ready = lane.ready.get() + lane.readyLength;
    float* fifo = lane.fifo.get();
    uint64_t consumed = 0, produced = 0;
    if (lane.resting && lane.fifoSilent) {
        // Silence in, silence out: the resampler's stepping without the resampler.
        const uint64_t whole = stepNumerator / stepDenominator, part = stepNumerator % stepDenominator;
        uint64_t position = lane.shadowPosition, fraction = lane.shadowFraction;
        while (produced < want && position < lane.fifoLength) {
            ++produced;
            position += whole;
            fraction += part;
            if (fraction >= stepDenominator) {
                fraction -= stepDenominator;
                ++position;
            }
        }
        consumed = std::min(position, lane.fifoLength);
        lane.shadowPosition = position - consumed;
        lane.shadowFraction = fraction;
        std::fill_n(ready, produced, 0.0f);
    } else {
        lane.resting = false;
        consumed = lane.fifoLength;
        produced = want;
        speex.processChannel(channel, fifo, &consumed, ready, &produced);
        for (uint64_t i = 0; i < produced; ++i)
            ready[i] += 0.0f;  // -0 as 0: silence is one value
        uint64_t zeros = 0;
        while (zeros < consumed && fifo[consumed - 1 - zeros] == 0.0f)
            ++zeros;
        lane.zeroRun = zeros == consumed ? lane.zeroRun + zeros : zeros;
    }
    lane.readyLength += produced;
    lane.fifoLength -= consumed;
    std::memmove(fifo, fifo + consumed, lane.fifoLength * sizeof(float));
    if (!lane.resting) {
        lane.fifoSilent = std::all_of(fifo, fifo + lane.fifoLength, [](float v) { return v == 0.0f; });
        if (lane.fifoSilent && lane.zeroRun >= speex.filterLength()) {
            lane.resting = true;
            lane.shadowPosition = 0;
            lane.shadowFraction = 0;
        }
    }
}

void DecimatingProvider::process(float** input, float** output, uint64_t* inputFrames,
                                 uint64_t* outputFrames)
{
    const uint64_t n = std::min(*inputFrames, capacity);
    const uint64_t room = std::min(*outputFrames, capacity);
    if (!speex.hasResampler() || channelCount == 0) {
        *inputFrames = 0;
        *outputFrames = 0;
        return;
    }
    uint64_t ready = room;
    for (uint64_t c = 0; c < channelCount; ++c) {
        Lane& lane = lanes[c];
        decimate(lane, input[c], n);
        resample(lane, c, room);
        ready = std::min(ready, lane.readyLength);
    }
    for (uint64_t c = 0; c < channelCount; ++c) {
        Lane& lane = lanes[c];
        std::memcpy(output[c], lane.ready.get(), ready * sizeof(float));
        lane.readyLength -= ready;
        std::memmove(lane.ready.get(), lane.ready.get() + ready, lane.readyLength * sizeof(float));
    }
    *inputFrames = n;
    *outputFrames = ready;
}
