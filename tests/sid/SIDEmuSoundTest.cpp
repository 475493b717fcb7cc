// What the chip sounds like, measured: pitch and harmonic levels of the basic waveforms and the
// low-pass filter's effect, on the built-in model at the PAL clock.

#include "SIDEmuTestSupport.h"

#include "fixtures/Spectrum.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kClock = 985248.0;
// Registers 0/1 = 0x45/0x1D: 7493 x 985248 / 2^24 = 440.03 Hz.
constexpr double kPitch = 7493.0 * kClock / 16777216.0;
constexpr uint64_t kMeasured = uint64_t(1) << 20;

// Voice 1 with AD 0x00, SR 0xF0 and the given control byte at volume 15, measured for 2^20 cycles
// after the attack.
fixtures::Spectrum voiceOne(uint8_t control, std::initializer_list<std::pair<uint16_t, uint8_t>> extra = {})
{
    auto chip = sidtest::makeChip(4096);
    sidtest::write(*chip, {{0, 0x45}, {1, 0x1D}, {5, 0x00}, {6, 0xF0}, {24, 0x0F}});
    sidtest::write(*chip, extra);
    sidtest::write(*chip, {{4, control}});
    sidtest::render(*chip, 8192, 4096);  // the attack
    const std::vector<int32_t> out = sidtest::render(*chip, kMeasured, 4096);
    std::vector<double> samples(out.begin(), out.end());
    for (double& s : samples)
        s /= 1048576.0;
    return fixtures::Spectrum(std::move(samples), kClock);
}

TEST(SIDEmuSound, Triangle)
{
    const fixtures::Spectrum s = voiceOne(0x11);
    EXPECT_NEAR(s.peakFrequency(20.0, 20000.0), 440.0, 1.0);
    EXPECT_NEAR(s.relativeDb(3 * kPitch, kPitch), -19.0, 2.0);  // 1/9 of the fundamental
}

TEST(SIDEmuSound, SquarePulseHasOddHarmonicsOnly)
{
    const fixtures::Spectrum s = voiceOne(0x41, {{2, 0x00}, {3, 0x08}});
    EXPECT_NEAR(s.peakFrequency(20.0, 20000.0), 440.0, 1.0);
    for (int h : {2, 4, 6, 8})
        EXPECT_LE(s.relativeDb(h * kPitch, kPitch), -40.0) << "harmonic " << h;
    EXPECT_NEAR(s.relativeDb(3 * kPitch, kPitch), -9.5, 1.5);  // 1/3 of the fundamental
}

TEST(SIDEmuSound, LowPassFilterDampsTheSawtooth)
{
    // Cutoff 97 (registers 21/22 = 1/12) on the linear model: about 500 Hz.
    const fixtures::Spectrum open = voiceOne(0x21, {{21, 1}, {22, 12}, {24, 0x1F}});
    const fixtures::Spectrum filtered = voiceOne(0x21, {{21, 1}, {22, 12}, {23, 0x01}, {24, 0x1F}});
    const double h11 = 11 * kPitch;  // about 4.84 kHz
    const double drop = 20.0 * std::log10(filtered.amplitudeAt(h11) / open.amplitudeAt(h11));
    EXPECT_LE(drop, -20.0);
    EXPECT_NEAR(open.relativeDb(2 * kPitch, kPitch), -6.0, 1.0);  // a sawtooth: 1/2
}

}  // namespace
