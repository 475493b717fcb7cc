// The decimating chain against the one-stage chain: the same level across 20 Hz-20 kHz at every
// quality, what folds into the host band 100 dB down, and a channel that rests on silence picks
// up a later tone at its level with the output stream on time.

#include "instrument/DecimatingProvider.h"
#include "instrument/OutputFilters.h"
#include "instrument/SpeexProvider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kChipRate = 985248;
constexpr uint64_t kChunk = 5000;

using Source = std::function<float(uint64_t)>;

Source tone(double hz, double amplitude = 0.5)
{
    return [hz, amplitude](uint64_t i) {
        return float(amplitude * std::sin(2.0 * M_PI * hz * double(i) / double(kChipRate)));
    };
}

// Amplitude of the tone in x[from..]: the Hann-weighted RMS about the weighted mean, which a
// frequency off by a few parts per million leaves alone.
double amplitudeOf(const std::vector<float>& x, size_t from)
{
    const size_t n = x.size() - from;
    const auto weight = [n](size_t i) { return 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n)); };
    double sum = 0.0, weights = 0.0;
    for (size_t i = 0; i < n; ++i) {
        sum += weight(i) * double(x[from + i]);
        weights += weight(i);
    }
    const double mean = sum / weights;
    double power = 0.0;
    for (size_t i = 0; i < n; ++i)
        power += weight(i) * (double(x[from + i]) - mean) * (double(x[from + i]) - mean);
    return std::sqrt(2.0 * power / weights);
}

// Level of `hz` in x[from..] (Hann-windowed projection), as amplitude: for what folds, with
// nothing else in the band.
double amplitudeAt(const std::vector<float>& x, size_t from, double hz, double rate)
{
    std::complex<double> sum = 0.0;
    double weights = 0.0;
    const size_t n = x.size() - from;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n));
        sum += w * double(x[from + i]) * std::polar(1.0, -2.0 * M_PI * hz * double(i) / rate);
        weights += w;
    }
    return 2.0 * std::abs(sum) / weights;
}

double db(double a)
{
    return 20.0 * std::log10(a);
}

// Chip-rate input in chunks, one channel, every output frame the provider gives.
std::vector<float> runDecimating(DecimatingProvider& p, const Source& source, uint64_t frames,
                                 uint64_t start = 0)
{
    std::vector<float> in(kChunk), out(kChunk), result;
    for (uint64_t done = 0; done < frames; done += kChunk) {
        for (uint64_t i = 0; i < kChunk; ++i)
            in[i] = source(start + done + i);
        float* ins[1] = {in.data()};
        float* outs[1] = {out.data()};
        uint64_t consumed = kChunk, produced = kChunk;
        p.process(ins, outs, &consumed, &produced);
        EXPECT_EQ(consumed, kChunk);
        result.insert(result.end(), out.begin(), out.begin() + int64_t(produced));
    }
    return result;
}

// The one-stage chain: the 5 Hz high-pass at the chip rate, then speexdsp.
std::vector<float> runSingle(SpeexProvider& p, HPFilter& hp, const Source& source, uint64_t frames)
{
    std::vector<float> in(kChunk), out(kChunk), result;
    for (uint64_t done = 0; done < frames; done += kChunk) {
        for (uint64_t i = 0; i < kChunk; ++i)
            in[i] = source(done + i);
        hp.process(in.data(), int(kChunk));
        uint64_t offset = 0;
        while (offset < kChunk) {
            const float* ins[1] = {in.data() + offset};
            float* outs[1] = {out.data()};
            uint64_t consumed = kChunk - offset, produced = kChunk;
            p.process(const_cast<float**>(ins), outs, &consumed, &produced);
            result.insert(result.end(), out.begin(), out.begin() + int64_t(produced));
            offset += consumed;
            if (consumed == 0 && produced == 0)
                break;
        }
    }
    return result;
}

TEST(DecimatingProvider, LevelMatchesTheOneStageChainFrom20HzTo20kHz)
{
    struct Case
    {
        uint64_t host;
        int32_t quality;
        bool decimates;
    };
    const Case kCases[] = {{48000, 0, true}, {48000, 4, true}, {48000, 10, true},
                           {44100, 1, true}, {44100, 10, true}, {96000, 3, true}};
    const double kFrequencies[] = {20.0, 97.0, 1000.0, 6007.0, 12000.0, 17500.0, 20000.0};
    for (const Case& c : kCases) {
        DecimatingProvider decimating;
        ASSERT_TRUE(decimating.setup(1, kChipRate, c.host, c.quality, kChunk));
        EXPECT_EQ(decimating.getDecimation() > 1, c.decimates) << c.host << " q" << c.quality;
        decimating.setHighPass(0, 5.0);
        for (const double hz : kFrequencies) {
            decimating.reset();
            SpeexProvider single;
            ASSERT_TRUE(single.setup(1, kChipRate, c.host, c.quality, true));
            HPFilter hp;
            hp.setCutoff(5.0);
            hp.setSampleRate(double(kChipRate));
            hp.updateCoefficients();
            const uint64_t frames = kChipRate / 2;
            const std::vector<float> a = runDecimating(decimating, tone(hz), frames);
            const std::vector<float> b = runSingle(single, hp, tone(hz), frames);
            const size_t from = c.host / 5;  // past the high-pass's and filters' settling
            ASSERT_GT(a.size(), from + c.host / 5);
            ASSERT_GT(b.size(), from + c.host / 5);
            EXPECT_NEAR(db(amplitudeOf(a, from)), db(amplitudeOf(b, from)), 0.01)
                << c.host << " Hz, quality " << c.quality << ", " << hz << " Hz";
        }
    }
}

// A full-scale tone at each frequency that the decimation folds onto 1, 10 or 19.9 kHz: whatever
// reaches the host band stays at or below -100 dBFS.
TEST(DecimatingProvider, WhatFoldsIntoTheBandStays100dBDown)
{
    for (const int32_t quality : {0, 4, 10}) {
        DecimatingProvider p;
        ASSERT_TRUE(p.setup(1, kChipRate, 48000, quality, kChunk));
        p.setHighPass(0, 0.0);
        const uint64_t m = p.getDecimation();
        const double decimated = double(kChipRate) / double(m);
        for (uint64_t k = 1; k <= m / 2; ++k) {
            for (const double band : {1000.0, 10000.0, 19900.0}) {
                for (const double sign : {-1.0, 1.0}) {
                    const double hz = double(k) * decimated + sign * band;
                    if (hz >= double(kChipRate) / 2.0)
                        continue;
                    p.reset();
                    const std::vector<float> out = runDecimating(p, tone(hz, 1.0), kChipRate / 8);
                    const size_t from = out.size() / 4;
                    ASSERT_GT(out.size(), from + 1000);
                    EXPECT_LE(db(amplitudeAt(out, from, band, 48000.0)), -100.0)
                        << "quality " << quality << ", m " << m << ", " << hz << " Hz onto " << band;
                }
            }
        }
    }
}

// A constant lets a channel rest (exact zeros, speexdsp not called), at levels where the
// high-pass's step becomes too small to move its state before the state has come within a
// rounding of the input (as the chips' DC level does); a tone after the rest comes out at the
// level of a tone from the start, and the stream keeps the ratio of the rates. A 0 Hz high-pass
// passes the level for good.
TEST(DecimatingProvider, ARestingChannelResumesAtItsLevelAndOnTime)
{
    for (const int32_t quality : {0, 10}) {
        for (const float level : {0.25f, 3.0f, 24.213312f}) {
            const std::string where = "quality " + std::to_string(quality) + " level " + std::to_string(level);
            DecimatingProvider p;
            ASSERT_TRUE(p.setup(1, kChipRate, 48000, quality, kChunk));
            const Source dc = [level](uint64_t) { return level; };
            const uint64_t restFrames = kChipRate;
            const std::vector<float> rest = runDecimating(p, dc, restFrames);
            EXPECT_TRUE(p.isResting(0)) << where;
            ASSERT_GT(rest.size(), 1000u);
            for (size_t i = rest.size() - 1000; i < rest.size(); ++i)
                ASSERT_EQ(rest[i], 0.0f) << where << " frame " << i;

            const Source later = [level](uint64_t i) {
                return level + float(0.5 * std::sin(2.0 * M_PI * 1000.0 * double(i) / double(kChipRate)));
            };
            const std::vector<float> resumed = runDecimating(p, later, kChipRate / 2, restFrames);
            EXPECT_FALSE(p.isResting(0));
            // Every chip frame given (whole chunks) is worth 48000 / chip rate frames, less the
            // resampler's delay.
            const double given = double((restFrames + kChunk - 1) / kChunk + (kChipRate / 2 + kChunk - 1) / kChunk) *
                                 double(kChunk) * 48000.0 / double(kChipRate);
            const double total = double(rest.size() + resumed.size());
            EXPECT_LE(total, given) << where;
            EXPECT_GE(total, given - 200.0) << where;

            p.reset();
            const std::vector<float> fresh = runDecimating(p, tone(1000.0), kChipRate / 2);
            const size_t from = 4800;
            EXPECT_NEAR(db(amplitudeOf(resumed, from)), db(amplitudeOf(fresh, from)), 0.01) << where;

            p.reset();
            p.setHighPass(0, 0.0);
            const std::vector<float> open = runDecimating(p, dc, restFrames);
            EXPECT_FALSE(p.isResting(0)) << where;
            EXPECT_NEAR(open.back(), level, level * 1e-3f) << where;  // the resampler's gain at 0 Hz
        }
    }
}

// A lane that keeps a history of one value in place gives the same bits as one that moves it:
// seeded runs of constants (0, -0, levels), tones and steps, in blocks of every size, on two
// channels, with setups that grow the buffers and the decimator part way.
TEST(DecimatingProvider, KeptHistoryGivesTheSameOutput)
{
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        std::mt19937 rng(seed);
        const int32_t quality = int32_t(rng() % 11);
        DecimatingProvider fast, moved;
        moved.setHistoryShortcut(false);
        uint64_t capacity = 4000;
        for (DecimatingProvider* p : {&fast, &moved})
            ASSERT_TRUE(p->setup(2, kChipRate, 48000, quality, capacity));
        std::vector<float> in[2], out[2][2];
        uint64_t t = 0;
        for (int step = 0; step < 40; ++step) {
            if (step == 20 || step == 30) {
                // Larger buffers, then a slower chip clock that lengthens the decimator.
                capacity = 9000;
                for (DecimatingProvider* p : {&fast, &moved})
                    ASSERT_TRUE(p->setup(2, step == 20 ? kChipRate : 700000, 48000, quality, capacity));
            }
            // A tone, or a constant long enough for the high-pass to settle on it.
            const uint32_t kind = rng() % 4;
            const float level = kind == 0 ? 0.0f : kind == 1 ? -0.0f : float(int(rng() % 200) - 100) / 256.0f;
            const uint64_t length = kind == 3 ? 1 + rng() % 20000 : 1 + rng() % 1500000;
            const bool shortBlocks = rng() % 2 == 0 && length < 50000;
            for (uint64_t done = 0; done < length;) {
                const uint64_t n = std::min(length - done, shortBlocks ? 1 + rng() % 40 : 1 + rng() % capacity);
                for (auto& c : in)
                    c.resize(n);
                for (uint64_t i = 0; i < n; ++i, ++t) {
                    in[0][i] = kind == 3 ? float(0.3 * std::sin(0.01 * double(t))) : level;
                    in[1][i] = kind == 3 && t % 997 == 0 ? 0.25f : level;
                }
                for (int which = 0; which < 2; ++which) {
                    DecimatingProvider& p = which == 0 ? fast : moved;
                    for (auto& c : out[which])
                        c.assign(capacity, 1.0f);
                    float* ins[2] = {in[0].data(), in[1].data()};
                    float* outs[2] = {out[which][0].data(), out[which][1].data()};
                    uint64_t consumed = n, produced = capacity;
                    p.process(ins, outs, &consumed, &produced);
                    for (auto& c : out[which])
                        c.resize(produced);
                }
                for (int c = 0; c < 2; ++c) {
                    ASSERT_EQ(out[0][c].size(), out[1][c].size());
                    ASSERT_EQ(std::memcmp(out[0][c].data(), out[1][c].data(), out[0][c].size() * sizeof(float)), 0)
                        << "seed " << seed << " step " << step << " channel " << c;
                }
                done += n;
            }
        }
    }
}

TEST(DecimatingProvider, RefusesUnusableSetups)
{
    DecimatingProvider p;
    EXPECT_FALSE(p.setup(0, kChipRate, 48000, 4, kChunk));
    EXPECT_FALSE(p.setup(DecimatingProvider::kMaxChannels + 1, kChipRate, 48000, 4, kChunk));
    EXPECT_FALSE(p.setup(1, 0, 48000, 4, kChunk));
    EXPECT_FALSE(p.setup(1, kChipRate, 0, 4, kChunk));
    EXPECT_FALSE(p.setup(1, kChipRate, 48000, 4, 0));
    // Without a setup nothing is consumed or produced.
    float x[4] = {}, y[4] = {};
    float* in[1] = {x};
    float* out[1] = {y};
    uint64_t consumed = 4, produced = 4;
    p.process(in, out, &consumed, &produced);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(produced, 0u);
    // Up-sampling needs no decimator.
    EXPECT_EQ(DecimatingProvider::decimationFor(22050, 48000, 4), 1u);
}

}  // namespace
