// Silence skipping: a chip that skips its silent stretches gives the same samples, register reads
// and voice state as one rendering every cycle, over seeded random sequences of notes, parameter
// changes and long silences on every filter model.

#include "SIDEmuTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

namespace {

using sidtest::write;

// Everything of a voice that a later cycle can depend on.
struct VoiceState {
    uint32_t accumulator, prev, prev2, noisePending, noiseLatched, noiseOutput, lastOutput,
        nextWaveIndex;
    int32_t noiseResetCounter;
    uint8_t testBit, noiseClocked, noisePhase;
    uint8_t level, attack, gate, previousGate, expCounter, expPeriod, m, x, z, k, e, s1, s2;
    uint32_t rateCounter;

    bool operator==(const VoiceState&) const = default;
};

VoiceState stateOf(const SIDVoice& v)
{
    const SIDEnvelope& e = v.envelope;
    return {v.accumulator, v.accumulatorPrev, v.accumulatorPrev2, v.noisePending, v.noiseLatched,
            v.noiseOutput, v.lastOutput, v.nextWaveIndex, v.noiseResetCounter, v.testBit,
            v.noiseClockedSinceTest, v.noisePhase, e.getEnvelopeLevel(), e.getAttackPhase(),
            e.getGate(), e.getPreviousGate(), e.getExpCounter(), e.getExpPeriod(), e.getRateMatch(),
            e.getExpStep(), e.getHoldAtZero(), e.getLevelCheck(), e.getAttackEnd(), e.getDacStage1(),
            e.getDacStage2(), e.getRateCounter()};
}

std::string describe(const VoiceState& s)
{
    char b[320];
    std::snprintf(b, sizeof b,
                  "acc %06x %06x %06x noise %x %x %x %d out %x idx %x test %d clk %d ph %d | lvl %d "
                  "att %d gate %d/%d exp %d/%d mxzke %d%d%d%d%d dac %d %d rate %u",
                  s.accumulator, s.prev, s.prev2, s.noisePending, s.noiseLatched, s.noiseOutput,
                  s.noiseResetCounter, s.lastOutput, s.nextWaveIndex, s.testBit, s.noiseClocked,
                  s.noisePhase, s.level, s.attack, s.gate, s.previousGate, s.expCounter, s.expPeriod,
                  s.m, s.x, s.z, s.k, s.e, s.s1, s.s2, s.rateCounter);
    return b;
}

enum class Model { Linear, Measured, LinearProfile };

const SIDDatabase& database()
{
    static const std::unique_ptr<SIDDatabase> db = sidtest::loadDatabase(
        {fixtures::syntheticChip("measured", 5, false), fixtures::syntheticChip("linear", 6, true)});
    return *db;
}

// Two chips driven alike, one rendering every cycle.
struct Pair {
    std::unique_ptr<SIDEmu> exact = sidtest::makeChip(4096);
    std::unique_ptr<SIDEmu> fast = sidtest::makeChip(4096);
    uint64_t restingCycles = 0;

    Pair(Model model, int behaviour)
    {
        exact->setExactRender(true);
        for (SIDEmu* c : {exact.get(), fast.get()}) {
            if (model != Model::Linear) {
                c->useDatabase(database());
                c->setParameter(SIDParam::kModel, model == Model::Measured ? 0.0f : 1.0f);
            }
            if (behaviour >= 0) {
                c->extensionsEnabled = 1;
                c->setParameter(SIDParam::kAdsrBehavior, float(behaviour));
            }
        }
    }

    template <class F>
    void both(F f)
    {
        f(*exact);
        f(*fast);
    }

    void writeBoth(uint16_t r, uint8_t v)
    {
        both([&](SIDEmu& c) { c.writeRegister(r, v); });
    }

    // Renders in the given pieces and compares every sample and, after each piece, every voice.
    void render(uint64_t cycles, uint64_t piece, const std::string& where)
    {
        std::vector<int32_t> a(cycles, 7), b(cycles, 7);
        for (uint64_t at = 0; at < cycles; at += piece) {
            const uint64_t n = std::min(piece, cycles - at);
            int32_t* ca[1] = {a.data() + at};
            int32_t* cb[1] = {b.data() + at};
            if (fast->isResting())
                restingCycles += n;
            exact->render(ca, n);
            fast->render(cb, n);
            for (std::size_t v = 0; v < 3; ++v)
                ASSERT_EQ(stateOf(exact->voice(v)), stateOf(fast->voice(v)))
                    << where << " voice " << v << " after " << at + n << "\n  exact "
                    << describe(stateOf(exact->voice(v))) << "\n  fast  "
                    << describe(stateOf(fast->voice(v)));
        }
        for (uint64_t i = 0; i < cycles; ++i)
            ASSERT_EQ(a[i], b[i]) << where << " sample " << i;
        for (uint16_t r : {27, 28, 0})
            ASSERT_EQ(exact->readRegister(r), fast->readRegister(r)) << where << " register " << r;
    }
};

uint8_t randomWaveform(std::mt19937& rng)
{
    static constexpr uint8_t kWaves[] = {0x10, 0x20, 0x40, 0x80, 0x30, 0x50, 0x60, 0x70,
                                         0x90, 0xA0, 0xC0, 0xF0, 0x00, 0x40, 0x20, 0x10};
    uint8_t c = kWaves[rng() % std::size(kWaves)];
    const uint32_t extra = rng() % 16;
    if (extra == 0)
        c |= 0x02;  // sync
    else if (extra == 1)
        c |= 0x04;  // ring
    else if (extra == 2)
        c |= 0x08;  // test
    return c;
}

// One seeded sequence: notes that start and stop, writes and parameter changes while playing and
// while silent, long silences in pieces of every size.
// Returns the share of the cycles the skipping chip spent resting.
double runSequence(uint32_t seed, Model model, int behaviour)
{
    std::mt19937 rng(seed);
    Pair p(model, behaviour);
    const std::string tag = "seed " + std::to_string(seed);
    p.writeBoth(24, 0x1F);
    p.writeBoth(23, uint8_t(0xF0 | (rng() % 8)));
    p.writeBoth(22, uint8_t(rng()));
    const auto piece = [&] {
        switch (rng() % 4) {
        case 0: return uint64_t(1 + rng() % 7);
        case 1: return uint64_t(64 + rng() % 300);
        case 2: return uint64_t(4096);
        default: return uint64_t(5000 + rng() % 20000);  // longer than the chip's block
        }
    };
    uint64_t total = 0;
    for (int step = 0; step < 32; ++step) {
        const uint16_t v = uint16_t(7 * (rng() % 3));
        switch (rng() % 11) {
        case 0:
        case 1: {  // a note
            const uint8_t ctrl = randomWaveform(rng);
            p.writeBoth(uint16_t(v + 0), uint8_t(rng()));
            p.writeBoth(uint16_t(v + 1), uint8_t(rng() % 3 == 0 ? rng() : rng() % 16));
            p.writeBoth(uint16_t(v + 2), uint8_t(rng()));
            p.writeBoth(uint16_t(v + 3), uint8_t(rng() % 16));
            p.writeBoth(uint16_t(v + 5), uint8_t(rng() % 3 == 0 ? 0 : rng()));
            p.writeBoth(uint16_t(v + 6), uint8_t((rng() % 16) << 4 | rng() % 4));
            p.writeBoth(uint16_t(v + 4), uint8_t(ctrl | 1));
            break;
        }
        case 2:  // every gate off, with short releases most of the time
            for (uint16_t w = 0; w < 21; w += 7) {
                if (rng() % 4 != 0)
                    p.writeBoth(uint16_t(w + 6), uint8_t((p.exact->registerImage(w + 6) & 0xF0) | rng() % 6));
                p.writeBoth(uint16_t(w + 4), uint8_t(p.exact->registerImage(w + 4) & ~1u));
            }
            break;
        case 3:  // the same value again, or a gate pulse within one piece boundary
            p.writeBoth(uint16_t(v + 4), p.exact->registerImage(v + 4));
            break;
        case 4: {  // filter and volume
            static constexpr uint16_t kRegs[] = {21, 22, 23, 24};
            const uint16_t r = kRegs[rng() % 4];
            p.writeBoth(r, r == 24 ? uint8_t((rng() & 0xF0) | (rng() % 3 == 0 ? 0 : 15)) : uint8_t(rng()));
            break;
        }
        case 5: {  // chip parameters
            static constexpr uint64_t kParams[] = {SIDParam::kFilterDistGain, SIDParam::kFilterDc,
                                                   SIDParam::kFilterCutoffOffset, SIDParam::kFilterGain,
                                                   SIDParam::kVolumeDcBias, SIDParam::kClipping,
                                                   SIDParam::kMute0 + 1, SIDParam::kCombineWave,
                                                   SIDParam::kOscLeak, SIDParam::kDigiMute};
            const uint64_t index = kParams[rng() % std::size(kParams)];
            float value = float(int(rng() % 201) - 100) / 100.0f;
            if (index == SIDParam::kCombineWave)
                value = float(rng() % 4 == 0 ? rng() % 32 : 0);
            else if (index >= SIDParam::kMute0)
                value = rng() % 3 == 0 ? 1.0f : 0.0f;
            p.both([&](SIDEmu& c) { c.setParameter(index, value); });
            break;
        }
        case 6:
            if (model != Model::Linear) {
                const float m = rng() % 2 ? 0.0f : 1.0f;
                p.both([&](SIDEmu& c) { c.setParameter(SIDParam::kModel, m); });
            } else {
                p.both([](SIDEmu& c) { c.markModifiedForPops(); });
            }
            break;
        case 8:
        case 9:  // gate off on one voice
            p.writeBoth(uint16_t(v + 4), uint8_t(p.exact->registerImage(v + 4) & ~1u));
            break;
        case 7:  // test bit held through a silence
            p.writeBoth(uint16_t(v + 4), uint8_t(randomWaveform(rng) | 0x08));
            break;
        default:
            break;
        }
        const bool longSilence = rng() % 3 == 0;
        const uint64_t cycles = longSilence ? 150000 + rng() % 300000 : 1 + rng() % 40000;
        uint64_t size = piece();
        if (longSilence && size < 64)
            size = 4096;
        p.render(cycles, size, tag + " step " + std::to_string(step));
        total += cycles;
        if (testing::Test::HasFatalFailure())
            return 0.0;
    }
    return double(p.restingCycles) / double(total);
}

class SkipAgreement : public testing::TestWithParam<std::tuple<Model, int>> {};

TEST_P(SkipAgreement, SkippingChipMatchesEveryCycleRendering)
{
    const auto [model, behaviour] = GetParam();
    double resting = 0.0;
    constexpr int kSeeds = 6;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        resting += runSequence(seed * 7919 + uint32_t(behaviour + 1) * 131 + uint32_t(model) * 17, model,
                               behaviour);
        if (HasFatalFailure())
            return;
    }
    EXPECT_GT(resting / kSeeds, 0.1) << "the sequences hardly let the chip rest";
}

// Behaviour -1: the tune chips' start-up state (cycle-exact, no extensions).
INSTANTIATE_TEST_SUITE_P(Models, SkipAgreement,
                         testing::Combine(testing::Values(Model::Linear, Model::Measured,
                                                          Model::LinearProfile),
                                          testing::Values(-1, 0, 1, 2, 3, 4)));

// One voice holds a note the whole time, so the chip never rests; the other two start, stop and
// sit silent as sync and ring sources or targets, with noise, test bits, mutes and routing changes.
// Their silent stretches are passed over per voice and must sound as every cycle rendered.
TEST(SkipAgreementCases, SilentVoicesOfAPlayingChipMatchEveryCycleRendering)
{
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed * 104729);
        const Model model = seed % 3 == 0 ? Model::Measured : Model::Linear;
        const int behaviour = int(seed % 6) - 1;
        Pair p(model, behaviour);
        const std::string tag = "seed " + std::to_string(seed);
        const uint16_t held = uint16_t(7 * (seed % 3));
        p.writeBoth(24, 0x1F);
        p.writeBoth(23, uint8_t(rng() % 8));
        p.writeBoth(uint16_t(held + 1), uint8_t(4 + rng() % 40));
        p.writeBoth(uint16_t(held + 6), 0xF0);
        p.writeBoth(uint16_t(held + 4), 0x21);
        uint64_t quietPieces = 0;
        for (int step = 0; step < 40; ++step) {
            uint16_t v = uint16_t(7 * (rng() % 3));
            if (v == held)
                v = uint16_t((v + 7) % 21);
            switch (rng() % 7) {
            case 0:
            case 1:  // a note on another voice
                p.writeBoth(uint16_t(v + 1), uint8_t(rng() % 64));
                p.writeBoth(uint16_t(v + 3), uint8_t(rng() % 16));
                p.writeBoth(uint16_t(v + 5), uint8_t(rng() % 2 ? 0 : rng()));
                p.writeBoth(uint16_t(v + 6), uint8_t((rng() % 16) << 4 | rng() % 3));
                p.writeBoth(uint16_t(v + 4), uint8_t(randomWaveform(rng) | 1));
                break;
            case 2:
            case 3:  // its release
                p.writeBoth(uint16_t(v + 4), uint8_t(p.exact->registerImage(v + 4) & ~1u));
                break;
            case 4:  // a silent voice's waveform, sync, ring or test bit changes
                p.writeBoth(uint16_t(v + 4), uint8_t(randomWaveform(rng) & ~1u));
                break;
            case 5:  // the held voice changes waveform, keeping its gate
                p.writeBoth(uint16_t(held + 4), uint8_t(randomWaveform(rng) | 1));
                break;
            default: {  // routing, mutes, leak
                const uint32_t what = rng() % 3;
                const uint64_t index = what == 1 ? SIDParam::kMute0 + rng() % 3 : SIDParam::kOscLeak;
                const float value = float(rng() % 2);
                if (what == 0)
                    p.writeBoth(23, uint8_t(rng() % 8));
                else
                    p.both([&](SIDEmu& c) { c.setParameter(index, value); });
                break;
            }
            }
            for (std::size_t k = 0; k < 3; ++k)
                if (p.fast->voice(k).envelope.getEnvelopeLevel() == 0)
                    ++quietPieces;
            const uint64_t piece = rng() % 2 ? 1 + rng() % 300 : 4096;
            p.render(1 + rng() % 60000, piece, tag + " step " + std::to_string(step));
            if (HasFatalFailure())
                return;
            ASSERT_FALSE(p.fast->isResting()) << tag;
        }
        EXPECT_GT(quietPieces, 10u) << tag << ": hardly a silent voice";
    }
}

// A released note on every voice: after the release the chip rests, and a write on the exact
// cycle a skipped stretch ends, or in the middle of one, sounds as on the chip that rendered.
TEST(SkipAgreementCases, ReleasedNotesRestAndWakeOnTheNextWrite)
{
    for (int behaviour : {-1, 0, 3}) {
        Pair p(Model::Linear, behaviour);
        write(*p.exact, {{24, 0x1F}});
        write(*p.fast, {{24, 0x1F}});
        for (uint16_t v = 0; v < 3; ++v) {
            for (auto [r, x] : {std::pair<uint16_t, uint8_t>{0, 0x31}, {1, uint8_t(0x10 + 9 * v)},
                                {5, 0x00}, {6, 0x00}, {4, uint8_t(v == 2 ? 0x81 : 0x21)}})
                p.writeBoth(uint16_t(7 * v + r), x);
        }
        p.render(20000, 256, "attack");
        for (uint16_t v = 0; v < 3; ++v)
            p.writeBoth(uint16_t(7 * v + 4), uint8_t(v == 2 ? 0x80 : 0x20));
        p.render(100000, 997, "release");
        ASSERT_TRUE(p.fast->isResting()) << "behaviour " << behaviour;
        const uint64_t before = p.restingCycles;
        p.render(300000, 4096, "silence");
        EXPECT_GT(p.restingCycles - before, 250000u);
        // A new note on a boundary, then one inside a piece.
        p.writeBoth(4, 0x41);
        EXPECT_FALSE(p.fast->isResting());
        p.render(5000, 1000, "second note");
        p.writeBoth(4, 0x40);
        p.render(123457, 333, "second release");
        p.writeBoth(11, 0x11);
        p.render(9000, 4096, "third note");
    }
}

}  // namespace
