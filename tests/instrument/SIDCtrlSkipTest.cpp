// The controller's fast render (chips rendered only when something reaches them, resting chips
// skipped, played-out samples firing without writes) against the exact one (every chip renders
// every cycle, cut at every timer): the same chip output word for word over seeded random
// sequences of notes, synth parameters, sample layers and long silences.

#include "SIDCtrlDoubles.h"

#include "fixtures/DacFixtures.h"
#include "sid/SIDEmu.h"
#include "synth/LayerManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sidctrl_test;

constexpr double kPalClock = 985248.0;

struct Rig {
    explicit Rig(bool exact) : sids(ChipController::kChips)
    {
        for (SIDEmu& s : sids) {
            s.init(4096, nullptr, SIDEmu::kDefaultInitValue);
            chips.push_back(&s);
        }
        ctrl = std::make_unique<TestCtrl>(&chips, &listener);
        ctrl->init(nullptr, 1006);
        ctrl->setRate(0, kPalClock, kPalClock);
        ctrl->setPolyphony(12);
        ctrl->setExactRender(exact);
    }

    std::vector<SIDEmu> sids;
    std::vector<ChipEmu*> chips;
    RecordingListener listener;
    std::unique_ptr<TestCtrl> ctrl;
};

struct Pair {
    Rig exact{true}, fast{false};
    uint64_t restingChipTicks = 0;

    template <class F>
    void both(F f)
    {
        f(*exact.ctrl);
        f(*fast.ctrl);
    }

    void render(uint64_t ticks, uint64_t block, const std::string& where)
    {
        std::vector<int32_t> a(block), b(block);
        for (uint64_t done = 0; done < ticks; done += block) {
            const uint64_t n = std::min(block, ticks - done);
            std::fill(a.begin(), a.end(), 0);
            std::fill(b.begin(), b.end(), 0);
            int32_t* ca[2] = {a.data(), nullptr};
            int32_t* cb[2] = {b.data(), nullptr};
            for (size_t c = 0; c < 12; ++c)
                restingChipTicks += fast.sids[c].isResting() ? n : 0;
            exact.ctrl->render(ca, 2, int32_t(n));
            fast.ctrl->render(cb, 2, int32_t(n));
            for (uint64_t i = 0; i < n; ++i)
                ASSERT_EQ(a[i], b[i]) << where << " tick " << done + i;
        }
    }
};

void runSequence(uint32_t seed, double& restingShare)
{
    std::mt19937 rng(seed);
    Pair p;
    const std::string tag = "seed " + std::to_string(seed);
    fixtures::DacSampleBuilder sample;
    sample.sine(3000, 16000, 700.0).marker(0, 5, 0).marker(1, 5, 1000).marker(2, 5, 2000);
    p.both([&](TestCtrl& c) { c.setNoteTable(sample.get()); });
    std::vector<int> held;
    uint64_t total = 0;
    for (int step = 0; step < 28; ++step) {
        switch (rng() % 9) {
        case 0:
        case 1: {
            const int note = 36 + int(rng() % 48);
            const int velocity = 40 + int(rng() % 88);
            p.both([&](TestCtrl& c) { c.processMidiMessage(0x90, uint8_t(note), uint8_t(velocity)); });
            held.push_back(note);
            break;
        }
        case 2:
        case 3:
            if (!held.empty()) {
                const size_t k = rng() % held.size();
                const int note = held[k];
                held.erase(held.begin() + ptrdiff_t(k));
                p.both([&](TestCtrl& c) { c.processMidiMessage(0x80, uint8_t(note), 0); });
            }
            break;
        case 4: {  // layers: the sample layer on or off, a second oscillator
            const uint64_t layer = rng() % 2 ? 3 : 1;
            const float on = rng() % 3 ? 1.0f : 0.0f;
            p.both([&](TestCtrl& c) { c.layerManager().setLayerParameter(layer, ZRS::LayerManager::kActive, on); });
            break;
        }
        case 5: {  // oscillator 1 and 2 settings
            static constexpr uint16_t kOsc[] = {2, 5, 6, 7, 8, 9, 10, 11};
            const uint16_t k = kOsc[rng() % std::size(kOsc)];
            const uint16_t index = uint16_t(16 * (1 + rng() % 2) + k);
            float value = float(rng() % 16);
            if (k == 2)
                value = float(rng() % 9);
            else if (k == 5 || k == 6 || k == 11)
                value = float(rng() % 2);
            p.both([&](TestCtrl& c) { c.setParameter(index, value); });
            break;
        }
        case 6: {  // filter and volume
            static constexpr uint16_t kChipWide[] = {SIDCtrl::kFilterCutoff, SIDCtrl::kFilterResonance,
                                                     SIDCtrl::kFilterLowPass, SIDCtrl::kFilterHighPass,
                                                     SIDCtrl::kCoreVolume};
            const uint16_t index = kChipWide[rng() % std::size(kChipWide)];
            const float value = index == SIDCtrl::kFilterCutoff ? float(rng() % 2048) : float(rng() % 16);
            p.both([&](TestCtrl& c) { c.setParameter(index, value); });
            break;
        }
        case 7: {  // the sampled-sound channel: encoding, loop mode, compressor
            const uint16_t index = uint16_t(134 + (rng() % 3 == 0 ? 0 : rng() % 2 ? 4 : 6));
            float value = float(rng() % 4);
            if (index == 134)
                value = float(rng() % 2 ? 0 : rng() % 6);
            else if (index == 140)
                value = float(rng() % 2);
            p.both([&](TestCtrl& c) { c.setParameter(index, value); });
            break;
        }
        default:  // every note off
            for (int note : held)
                p.both([&](TestCtrl& c) { c.processMidiMessage(0x80, uint8_t(note), 0); });
            held.clear();
            break;
        }
        const uint64_t ticks = rng() % 3 == 0 ? 200000 + rng() % 400000 : 1 + rng() % 60000;
        const uint64_t block = rng() % 4 == 0 ? 1 + rng() % 100 : 2000 + rng() % 20000;
        p.render(ticks, block, tag + " step " + std::to_string(step));
        total += ticks;
        if (testing::Test::HasFatalFailure())
            return;
    }
    restingShare += double(p.restingChipTicks) / double(12 * total);
}

TEST(SIDCtrlSkip, FastRenderMatchesTheExactOne)
{
    double resting = 0.0;
    constexpr uint32_t kSeeds = 6;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        runSequence(seed * 104729, resting);
        if (HasFatalFailure())
            return;
    }
    EXPECT_GT(resting / kSeeds, 0.3) << "the chips hardly rested";
}

// A note, its release and ten seconds of silence in host-sized blocks: the chips rest through the
// tail, and a note after it sounds as on the chips that rendered every cycle.
TEST(SIDCtrlSkip, AReleasedNoteRestsThroughALongTailAndWakes)
{
    Pair p;
    const uint64_t block = 5254;  // 256 frames at 48000 Hz
    const uint64_t second = uint64_t(kPalClock);
    p.both([](TestCtrl& c) { c.processMidiMessage(0x90, 60, 100); });
    p.render(second / 2, block, "note");
    p.both([](TestCtrl& c) { c.processMidiMessage(0x80, 60, 0); });
    p.render(second, block, "release");
    if (HasFatalFailure())
        return;
    const uint64_t before = p.restingChipTicks;
    p.render(10 * second, block, "tail");
    if (HasFatalFailure())
        return;
    EXPECT_GT(p.restingChipTicks - before, 12 * 10 * second * 99 / 100);
    p.both([](TestCtrl& c) { c.processMidiMessage(0x90, 67, 100); });
    p.render(second / 2, block, "second note");
}

}  // namespace
