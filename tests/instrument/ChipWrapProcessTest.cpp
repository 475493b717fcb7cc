// The instance's process path: the render schedule, where each event goes, what a block hands
// back, the output settings and the chip-rate stages of the output chain.

#include "ChipWrapFixtures.h"
#include "SignalAnalysis.h"

#include "instrument/SpeexProvider.h"
#include "sid/SIDEmu.h"
#include "sid/SID_DAC_sub.h"
#include "synth/SynthBase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace chipwrap_test;
using acme::ChipWrap;
using acme::RenderStep;

// "r N" for a render of N frames, "d F:I" for the delivery of item I at frame F.
std::vector<std::string> describe(const std::vector<RenderStep>& schedule)
{
    std::vector<std::string> out;
    for (const RenderStep& s : schedule)
        out.push_back(s.kind == RenderStep::kRender
                          ? "r " + std::to_string(s.frames)
                          : "d " + std::to_string(s.event.sampleOffset) + ":" +
                                std::to_string(s.event.index));
    return out;
}

TEST(ChipWrapSchedule, CutsAtEventsOnTheGridAndIntoSegments)
{
    using V = std::vector<std::string>;
    const struct
    {
        uint64_t frames;
        std::vector<uint32_t> offsets;  // event i has index i
        V want;
    } kCases[] = {
        {1000, {}, {"r 256", "r 256", "r 256", "r 232"}},
        {512, {}, {"r 256", "r 256"}},
        {16, {7}, {"r 4", "d 4:0", "r 12"}},
        {16, {5, 6}, {"r 4", "d 4:0", "d 4:1", "r 12"}},
        {16, {3}, {"d 0:0", "r 16"}},
        {600, {300}, {"r 256", "r 44", "d 300:0", "r 256", "r 44"}},
        {16, {12, 8}, {"r 8", "d 8:1", "r 4", "d 12:0", "r 4"}},  // out of order: sorted
        {16, {6, 5, 2}, {"d 0:2", "r 4", "d 4:0", "d 4:1", "r 12"}},  // stable on one frame
        {256, {10, 5, 300}, {"r 4", "d 4:1", "r 4", "d 8:0", "r 244", "d 252:2", "r 4"}},
        {16, {20}, {"r 12", "d 12:0", "r 4"}},  // past the block: its last grid position
        {16, {16}, {"r 16", "d 16:0"}},
        {0, {}, {}},
        {0, {0, 3}, {"d 0:0", "d 0:1"}},
        {0, {4}, {"d 0:0"}},
    };
    std::vector<RenderStep> schedule;
    for (const auto& c : kCases) {
        std::vector<vantor::HDMIDIEvent> events;
        for (size_t i = 0; i < c.offsets.size(); ++i)
            events.push_back(itemEvent(int32_t(i), 0.0f, c.offsets[i]));
        ChipWrap::scheduleEvents(events, schedule, c.frames, 4, 256, 0);
        EXPECT_EQ(describe(schedule), c.want) << c.frames << " frames, " << c.offsets.size();
    }
    // Other grids round down in double precision; a zero grid leaves times alone.
    ChipWrap::scheduleEvents({itemEvent(0, 0.0f, 7)}, schedule, 16, 3, 256, 0);
    EXPECT_EQ(describe(schedule), (V{"r 6", "d 6:0", "r 10"}));
    ChipWrap::scheduleEvents({itemEvent(0, 0.0f, 7), itemEvent(1, 0.0f, 40)}, schedule, 16, 3, 256, 0);
    EXPECT_EQ(describe(schedule), (V{"r 6", "d 6:0", "r 9", "d 15:1", "r 1"}));
    ChipWrap::scheduleEvents({itemEvent(0, 0.0f, 7)}, schedule, 16, 0, 256, 0);
    EXPECT_EQ(describe(schedule), (V{"r 7", "d 7:0", "r 9"}));

    // 2048 events backwards over a long block: every delivery in time order, the block covered.
    std::vector<vantor::HDMIDIEvent> backwards;
    for (uint32_t i = 0; i < 2048; ++i)
        backwards.push_back(itemEvent(int32_t(i), 0.0f, 4 * (2047 - i)));
    ChipWrap::scheduleEvents(backwards, schedule, 8192, 4, 256, 0);
    uint64_t at = 0;
    int32_t next = 2047;
    for (const RenderStep& step : schedule) {
        if (step.kind == RenderStep::kRender) {
            at += step.frames;
            continue;
        }
        ASSERT_EQ(step.event.index, next--);
        ASSERT_EQ(step.event.sampleOffset, at);
    }
    EXPECT_EQ(next, -1);
    EXPECT_EQ(at, 8192u);
}

class ChipWrapDelivery : public ::testing::Test
{
protected:
    // The controller's log of one block holding `events`.
    std::vector<std::string> deliver(const std::vector<vantor::HDMIDIEvent>& events,
                                     uint32_t frames = 64)
    {
        s.spy().log.clear();
        blocks.run(frames, events, false);
        return s.spy().log;
    }

    Started s;
    Blocks blocks{s.entry};
};

vantor::HDMIDIEvent withNote(vantor::HDMIDIEvent e, int32_t noteId, uint16_t channel = 0)
{
    e.noteId = noteId;
    e.channel = channel;
    return e;
}

TEST_F(ChipWrapDelivery, EachKindReachesItsTarget)
{
    using V = std::vector<std::string>;
    vantor::HDMIDIEvent untuned = rawMidiEvent(0x90, 61, 100);
    untuned.tuning = std::numeric_limits<float>::infinity();
    vantor::HDMIDIEvent unflagged = rawMidiEvent(0x90, 62, 100);
    unflagged.midiFlag = 0;
    const struct
    {
        vantor::HDMIDIEvent e;
        V want;
    } kCases[] = {
        {itemEvent(128, 0.0f), {"midi 224 0 64"}},
        {itemEvent(128, -1.0f), {"midi 224 0 0"}},
        {itemEvent(128, 1.0f), {"midi 224 127 127"}},
        {itemEvent(128, NAN), {"midi 224 0 64"}},
        {itemEvent(1000, 0.5f), {"parameter 232 0.5"}},
        {moduleEvent(0x1B0, 1000, 0.5f), {"parameter 232 0.5"}},      // low byte 0xB0
        {moduleEvent(0xAB000100, 1000, 0.5f), {"parameter 232 0.5"}},  // 0x100 under the masks
        {itemEvent(1, 1.0f), {}},
        {itemEvent(129, 1.0f), {}},
        {itemEvent(1792, 1.0f), {}},
        {itemEvent(-5, 1.0f), {}},
        {itemEvent(std::numeric_limits<int32_t>::min(), 1.0f), {}},
        {withNote(moduleEvent(0x200, 770, 0.25f), 5), {"aux 0 5 2 0.25"}},
        {withNote(moduleEvent(0x390, 60, 0.5f), 7), {"on 0 7 60 0.5"}},
        {withNote(moduleEvent(0x480, 60, 0.0f), 7), {"off 0 7 60"}},
        {withNote(moduleEvent(0x500, 2, 0.25f), 7, 3), {"expression 3 7 2 0.25"}},
        {moduleEvent(0xC0, 0x85, 0.5f), {"midi 192 5 64"}},
        {moduleEvent(0xE0, 0, 2.0f), {"midi 224 0 127"}},
        {moduleEvent(0x300, 5, 1.0f), {}},  // low byte 0
        {rawMidiEvent(0x90, 60, 100), {"midi 144 60 100"}},
        {untuned, {}},    // kind 0 without a tuning: ignored
        {unflagged, {}},  // no flag bit 0 or 1
    };
    for (const auto& c : kCases)
        EXPECT_EQ(deliver({c.e}), c.want) << std::hex << c.e.kind << std::dec << " " << c.e.index;
}

TEST_F(ChipWrapDelivery, ControllerItemsByRange)
{
    s.spy().logMedia = true;
    EXPECT_EQ(deliver({itemEvent(389, 2.0f)}), std::vector<std::string>{"media 5 2"});
    deliver({itemEvent(512 + 16 + 0, 1.0f), itemEvent(1280 + 16 * 2 + 6, 0.75f)});
    EXPECT_EQ(s.spy().layerManager().getLayerParameter(1, 0), 1.0f);
    EXPECT_EQ(s.spy().getAutomSlotParameter(2, 6), 0.75f);  // slot 2's speed

    // Chip parameters: below 192 on the twelve synth chips, from 1216 on one tune chip.
    auto sid = [&](size_t c) { return static_cast<SIDEmu*>(s.wrap->chip(c)); };
    deliver({itemEvent(1024 + SIDParam::kClipping, 0.0f)});
    for (size_t c = 0; c < 16; ++c)
        EXPECT_EQ(sid(c)->getClipping(), c < 12 ? 0u : 1u) << c;
    deliver({itemEvent(1216 + 16 + SIDParam::kClipping, 0.0f)});
    EXPECT_EQ(sid(13)->getClipping(), 0u);
    EXPECT_EQ(sid(12)->getClipping(), 1u);
    EXPECT_EQ(s.spy().getPlayerOptions().tuneChipSettings[1], 0u);  // only the model is kept

    deliver({itemEvent(1216, 1.0f)});
    EXPECT_EQ(s.spy().getPlayerOptions().tuneChipSettings[0], 1u);
    // The model byte of chip 0 (the built-in linear one here) goes to every sample channel.
    ASSERT_EQ(sid(0)->isLinearModel(), 1);
    EXPECT_FALSE(s.spy().dacSub(5)->isLinearModelTable());
    deliver({itemEvent(1024, 1.0f)});
    for (size_t c = 0; c < 12; ++c)
        EXPECT_TRUE(s.spy().dacSub(c)->isLinearModelTable()) << c;
}

TEST_F(ChipWrapDelivery, RawMessagesOfAZeroFrameBlockWaitFromHostVersion2114)
{
    const std::vector<vantor::HDMIDIEvent> events = {rawMidiEvent(0x90, 60, 100),
                                                     itemEvent(1000, 0.5f, 3)};
    using V = std::vector<std::string>;
    EXPECT_EQ(deliver(events, 0), (V{"parameter 232 0.5", "midi 144 60 100"}));
    EXPECT_EQ(deliver(events, 64), (V{"midi 144 60 100", "parameter 232 0.5"}));
    Started old(48000.0, 256, 2113);
    Blocks oldBlocks(old.entry);
    old.spy().log.clear();
    oldBlocks.run(0, events, false);
    EXPECT_EQ(old.spy().log, (V{"midi 144 60 100", "parameter 232 0.5"}));
}

TEST_F(ChipWrapDelivery, BlocksHandBackEventsAtTheirDeliveryFrames)
{
    // The first block returns what init queued: the chip rate first, then the synth's reports.
    const auto first = blocks.run(256);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0].kind, 0xB0u);
    EXPECT_EQ(first[0].index, 262);
    EXPECT_EQ(first[0].value, 985248.0f);
    for (int32_t i = 864; i <= 870; ++i)
        EXPECT_EQ(std::count_if(first.begin(), first.end(),
                                [i](const vantor::HDMIDIEvent& e) { return e.index == i; }),
                  12)
            << i;

    const auto back = blocks.run(16, {itemEvent(1000, 0.5f, 7)});
    ASSERT_GE(back.size(), 1u);
    EXPECT_EQ(back[0].index, 1000);
    EXPECT_EQ(back[0].sampleOffset, 4u);
    const auto sorted = blocks.run(16, {itemEvent(1000, 0.5f, 12), itemEvent(1001, 0.5f, 8)});
    ASSERT_EQ(sorted.size(), 2u);
    EXPECT_EQ(sorted[0].index, 1001);
    EXPECT_EQ(sorted[0].sampleOffset, 8u);
    EXPECT_EQ(sorted[1].index, 1000);

    // Queued events beyond 2048 are dropped; the list is empty afterwards.
    for (int i = 0; i < 3000; ++i)
        s.wrap->queueControllerEvent(0, 0xB0, 5, 1.0f);
    EXPECT_EQ(blocks.run(16).size(), 2048u);
    EXPECT_TRUE(s.wrap->pendingOutgoing().empty());

    // An incoming count past 2048 is not trusted.
    for (auto& e : blocks.in->events)
        e = itemEvent(1, 0.0f, 0);
    blocks.in->count = std::numeric_limits<uint64_t>::max();
    float* outputs[2] = {blocks.left.data(), blocks.right.data()};
    s.entry->process(s.entry, outputs, 16, blocks.in.get(), blocks.out.get(), nullptr);
    EXPECT_EQ(blocks.out->count, 2048u);

    // No outgoing record, no transport, negative frames, no outputs: taken without harm.
    s.wrap->queueControllerEvent(0, 0xB0, 5, 1.0f);
    s.entry->process(s.entry, outputs, 16, blocks.in.get(), nullptr, nullptr);
    EXPECT_TRUE(s.wrap->pendingOutgoing().empty());
    s.entry->process(s.entry, outputs, -16, blocks.in.get(), blocks.out.get(), nullptr);
    s.entry->process(s.entry, nullptr, 16, blocks.in.get(), blocks.out.get(), nullptr);
    s.entry->process(s.entry, outputs, 16, nullptr, nullptr, nullptr);
}

TEST_F(ChipWrapDelivery, ABusyMutexLeavesTheBlockSilentAndKeepsItsEvents)
{
    blocks.run(256, {withNote(moduleEvent(0x390, 69, 1.0f), -1)});
    for (int i = 0; i < 20; ++i)
        blocks.run(256);
    ASSERT_GT(analysis::rms(blocks.left.data(), 256), 0.01);
    s.wrap->queueControllerEvent(0, 0xB0, 5, 1.0f);
    s.spy().log.clear();

    ASSERT_TRUE(s.wrap->getMutex().lock());
    blocks.out->count = 77;
    float* outputs[2] = {blocks.left.data(), blocks.right.data()};
    blocks.in->count = 1;
    blocks.in->events[0] = itemEvent(1000, 0.5f);
    s.entry->process(s.entry, outputs, 256, blocks.in.get(), blocks.out.get(), &blocks.transport);
    s.wrap->getMutex().unlock();
    EXPECT_EQ(blocks.out->count, 77u);
    EXPECT_TRUE(s.spy().log.empty());
    EXPECT_EQ(s.wrap->pendingOutgoing().size(), 1u);
    for (uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ(blocks.left[i], 0.0f) << i;  // mode 0 output stage: nothing to decay

    // The next block delivers the kept event at frame 0, after what was queued.
    const auto back = blocks.run(16);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].index, 1000);
    EXPECT_EQ(back[1].sampleOffset, 0u);
    EXPECT_EQ(s.spy().log, std::vector<std::string>{"parameter 232 0.5"});
    EXPECT_GT(analysis::rms(blocks.left.data(), 16), 0.0);
}

TEST_F(ChipWrapDelivery, TransportReachesTheMediaParameters)
{
    blocks.transport.tempo = 0.0;  // keeps the last tempo, 120 at first
    blocks.transport.ppqPosition = 8.5;
    blocks.transport.barStart = 8.0;
    blocks.run(16);
    const auto& sync = s.spy().getHostSync();
    EXPECT_EQ(sync.hostTempo, 120.0f);
    EXPECT_EQ(sync.hostPosition, 8.5f);
    EXPECT_EQ(sync.hostBarStart, 8.0f);
    blocks.transport.tempo = 96.0;
    blocks.run(16);
    EXPECT_EQ(sync.hostTempo, 96.0f);
}

TEST_F(ChipWrapDelivery, OutputSettings)
{
    blocks.run(256);
    auto rateEvents = [](const std::vector<vantor::HDMIDIEvent>& out) {
        std::vector<float> rates;
        for (const vantor::HDMIDIEvent& e : out)
            if (e.index == 262)
                rates.push_back(e.value);
        return rates;
    };
    using F = std::vector<float>;
    EXPECT_EQ(rateEvents(blocks.run(16, {itemEvent(259, 1200.0f)})), F{1970496.0f});
    EXPECT_EQ(s.wrap->getChipRate(), 1970496.0);
    EXPECT_EQ(rateEvents(blocks.run(16, {itemEvent(259, 0.0f)})), F{985248.0f});

    EXPECT_EQ(rateEvents(blocks.run(16, {itemEvent(261, 4.4f)})), F{985248.0f});  // forced
    EXPECT_EQ(s.wrap->getResamplerQuality(), 4);
    EXPECT_TRUE(rateEvents(blocks.run(16, {itemEvent(261, 4.0f)})).empty());

    blocks.run(16, {itemEvent(258, -1.0f), itemEvent(257, 12.0f)});
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(s.wrap->lowPass(c).getCutoff(), 24000.0);
        EXPECT_EQ(s.wrap->highPass(c).getCutoff(), 12.0);
    }
    blocks.run(16, {itemEvent(260, 1.6f)});
    EXPECT_EQ(s.wrap->outputFilter(1).getMode(), 2);

    EXPECT_EQ(rateEvents(blocks.run(16, {itemEvent(256, 1.0f)})), F{1000000.0f});
    EXPECT_EQ(s.wrap->getClockIndex(), 1);
    // Out of range or not finite: ignored, clamped or saturated.
    blocks.run(16, {itemEvent(256, 5.0f), itemEvent(256, -1.0f), itemEvent(256, NAN), itemEvent(259, NAN),
                    itemEvent(257, NAN), itemEvent(258, INFINITY)});
    EXPECT_EQ(s.wrap->getClockIndex(), 1);
    EXPECT_EQ(s.wrap->getDetune(), 0.0);
    EXPECT_EQ(s.wrap->highPass(0).getCutoff(), 12.0);
    EXPECT_EQ(s.wrap->lowPass(0).getCutoff(), 24000.0);
    blocks.run(16, {itemEvent(259, 1e30f), itemEvent(261, 1e30f)});
    EXPECT_EQ(s.wrap->getDetune(), 2400.0);
    EXPECT_EQ(s.wrap->getChipRate(), 4000000.0);
    EXPECT_EQ(s.wrap->getResamplerQuality(), 10);
    blocks.run(16, {itemEvent(259, -1e30f), itemEvent(261, NAN)});
    EXPECT_EQ(s.wrap->getDetune(), -2400.0);
    EXPECT_EQ(s.wrap->getResamplerQuality(), 0);
}

TEST_F(ChipWrapDelivery, HugeAndMissingValuesInEverySettingKeepTheOutputFinite)
{
    blocks.run(256, {withNote(moduleEvent(0x390, 69, 1.0f), -1)});
    const float kValues[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 0.0f, -0.0f};
    for (const float v : kValues) {
        std::vector<vantor::HDMIDIEvent> events;
        for (int32_t i = 0; i < int32_t(kControllerItems); ++i)
            events.push_back(itemEvent(i, v, uint32_t(i) % 256));
        blocks.run(256, events);
        ASSERT_FALSE(s.wrap->lastSchedule().empty()) << v;
        for (int b = 0; b < 4; ++b) {
            blocks.run(256);
            for (uint32_t i = 0; i < 256; ++i)
                ASSERT_TRUE(std::isfinite(blocks.left[i])) << v << " frame " << i;
        }
    }
}

// The single-stage chain: scale, high-pass and low-pass at the chip rate.
TEST_F(ChipWrapDelivery, ChipTicksAreScaledAndChannelZerosHighPassPrimed)
{
    ChipWrap& w = *s.wrap;
    w.setOutputParameter(ChipWrap::kSingleStageChain, 1.0);
    std::vector<float> a(512), b(512);
    float* buffers[2] = {a.data(), b.data()};

    // Scale 1 / (1 + 1): a word of 2 becomes 1.0, passed by open filters.
    w.setChannelScale(0, 1);
    w.setChannelHighPassCutoff(0, 0.0);
    w.setChannelFilterCutoff(0, 1e12);
    s.spy().constant = 0;
    w.renderSubBlock(buffers, 512);  // silence takes the high-pass priming
    s.spy().constant = 2;
    w.renderSubBlock(buffers, 512);
    for (size_t i = 0; i < 512; ++i)
        ASSERT_EQ(a[i], 1.0f) << i;
    EXPECT_EQ(b, std::vector<float>(512, 0.0f));

    // A steady 0.25 steps through the 5 Hz high-pass, unless swallowPop primed it.
    w.setChannelScale(0, 3);
    w.setChannelHighPassCutoff(0, -1.0);
    s.spy().constant = 0;
    w.renderSubBlock(buffers, 512);
    s.spy().constant = 1;
    w.renderSubBlock(buffers, 512);
    EXPECT_NEAR(a[0], 0.25f, 1e-4f);
    w.swallowPop();
    EXPECT_TRUE(w.isHighPassPrimed());
    w.renderSubBlock(buffers, 512);
    EXPECT_FALSE(w.isHighPassPrimed());
    for (size_t i = 0; i < 512; ++i)
        ASSERT_NEAR(a[i], 0.0f, 1e-6f) << i;
}

TEST_F(ChipWrapDelivery, ASilentChannelStaysExactUnderChangingSubBlocks)
{
    ChipWrap& w = *s.wrap;
    w.setOutputParameter(ChipWrap::kSingleStageChain, 1.0);
    std::vector<float> a(512), b(512);
    float* buffers[2] = {a.data(), b.data()};
    s.spy().constantChannel = 1;
    s.spy().constant = 1000000;  // 0.477 after the scale
    w.renderSubBlock(buffers, 512);
    EXPECT_GT(b[511], 0.4f);
    s.spy().constant = 0;
    w.renderSubBlock(buffers, 100);  // through the low-pass, the high-pass swings to minus its small state
    EXPECT_LT(b[99], 0.0f);
    w.renderSubBlock(buffers, 512);  // the ticks past 100 must be cleared again
    for (size_t i = 0; i < 512; ++i)
        ASSERT_LT(std::fabs(b[i]), 0.05f) << i;
    EXPECT_EQ(a, std::vector<float>(512, 0.0f));
}

TEST(ChipWrapSound, NoteSixtyNineAfterAnInitWithTinyBlocks)
{
    Started s(48000.0, 8, 2123, false);
    ASSERT_EQ(s.wrap->getMaxTicks(), 3216u);
    s.settings(48000.0, 256);
    Blocks blocks(s.entry);
    blocks.run(256, {withNote(moduleEvent(0x390, 69, 1.0f), -1)});
    std::vector<float> right;
    const std::vector<float> left = blocks.render(0.8, 48000.0, 256, &right);
    const size_t n = 32768;
    const size_t bin = analysis::peakBin(left.data() + 4800, n);
    EXPECT_NEAR(analysis::binFrequency(bin, n, 48000.0), 440.0, 48000.0 / n);
    EXPECT_EQ(right, std::vector<float>(right.size(), 0.0f));
}

}  // namespace
