// Events the process path must never lose: blocks that find the mutex busy, events out of time
// order or past the block, host tunings and note ids; the floating-point mode around a block;
// rate automation without a jump.

#include "ChipWrapFixtures.h"
#include "SignalAnalysis.h"
#include "instrument/DecimatingProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace {

using namespace chipwrap_test;

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;
constexpr size_t kFft = 32768;
constexpr double kBin = kRate / kFft;
constexpr float kNone = std::numeric_limits<float>::infinity();

vantor::HDMIDIEvent note(uint32_t kind, int32_t pitch, int32_t noteId, float tuning = kNone,
                         uint32_t offset = 0)
{
    vantor::HDMIDIEvent e = moduleEvent(kind, pitch, kind == 0x390 ? 0.8f : 0.0f, offset);
    e.noteId = noteId;
    e.tuning = tuning;
    return e;
}

double peakHz(const std::vector<float>& x, size_t at)
{
    return analysis::binFrequency(analysis::peakBin(x.data() + at, kFft), kFft, kRate);
}

// Holds `mutex` on another thread while `whileHeld` runs on this one.
void holdOnAnotherThread(vantor::Mutex& mutex, const std::function<void()>& whileHeld)
{
    std::mutex m;
    std::condition_variable cv;
    bool locked = false, done = false;
    std::thread host([&] {
        mutex.lock();
        std::unique_lock<std::mutex> l(m);
        locked = true;
        cv.notify_all();
        cv.wait(l, [&] { return done; });
        mutex.unlock();
    });
    {
        std::unique_lock<std::mutex> l(m);
        cv.wait(l, [&] { return locked; });
    }
    whileHeld();
    {
        std::lock_guard<std::mutex> l(m);
        done = true;
    }
    cv.notify_all();
    host.join();
}

TEST(ChipWrapNoteEvents, ANoteOffInABusyBlockEndsTheNoteInTheNext)
{
    Started s(kRate, kBlock, 2123, false);
    Blocks blocks(s.entry);
    blocks.run(kBlock, {note(0x390, 60, 1)});
    const std::vector<float> held = blocks.render(0.5, kRate, kBlock);
    const double heldRms = analysis::rmsAboutMean(held.data() + held.size() / 2, held.size() / 2);
    ASSERT_GT(heldRms, 0.01);

    holdOnAnotherThread(s.wrap->getMutex(), [&] {
        EXPECT_TRUE(blocks.run(kBlock, {note(0x480, 60, 1, kNone, 100)}).empty());
    });
    EXPECT_EQ(s.wrap->carriedEvents(), 1u);

    const auto back = blocks.run(kBlock);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].kind, 0x480u);
    EXPECT_EQ(back[0].index, 60);
    EXPECT_EQ(back[0].sampleOffset, 0u);
    EXPECT_EQ(s.wrap->carriedEvents(), 0u);

    const std::vector<float> after = blocks.render(1.0, kRate, kBlock);
    const size_t tail = size_t(0.2 * kRate);
    EXPECT_LE(analysis::rmsAboutMean(after.data() + after.size() - tail, tail), heldRms * 1e-3);
}

TEST(ChipWrapNoteEvents, CarriedEventsComeFirstAndAFullListKeepsItsNoteOffs)
{
    Started s;
    Blocks blocks(s.entry);
    blocks.run(kBlock);
    ASSERT_TRUE(s.wrap->getMutex().lock());  // this thread's try-lock fails as well

    // Two busy blocks: the first fills the list, the second only gets its note-offs in, each in
    // place of the latest event that ends no note.
    std::vector<vantor::HDMIDIEvent> first = {note(0x390, 60, 1, kNone, 40)};
    for (uint32_t i = 0; i < 2046; ++i)
        first.push_back(itemEvent(1000, 0.5f, 50));
    first.push_back(note(0x480, 61, 2, kNone, 60));
    blocks.run(kBlock, first);
    ASSERT_EQ(s.wrap->carriedEvents(), 2048u);
    vantor::HDMIDIEvent allOff = moduleEvent(0xB5, 123, 0.0f);  // MIDI all notes off, channel 5
    blocks.run(kBlock, {itemEvent(1001, 0.5f), note(0x390, 62, 3), note(0x480, 60, 1),
                        rawMidiEvent(0x80, 64, 0), allOff, rawMidiEvent(0x90, 65, 1)});
    EXPECT_EQ(s.wrap->droppedEvents(), 6u);
    s.wrap->getMutex().unlock();

    s.spy().log.clear();
    const auto back = blocks.run(16, {itemEvent(1002, 0.25f, 0)});
    const std::vector<std::string>& log = s.spy().log;
    ASSERT_EQ(log.size(), 2049u);
    EXPECT_EQ(log[0], "on 0 1 60 0.8");
    EXPECT_EQ(std::count(log.begin(), log.end(), "parameter 232 0.5"), 2043);
    EXPECT_EQ(std::vector<std::string>(log.end() - 5, log.end()),
              (std::vector<std::string>{"off 0 2 61", "off 0 1 60", "midi 128 64 0",
                                        "midi 181 123 0", "parameter 234 0.25"}));
    ASSERT_EQ(back.size(), 2048u);  // the block's own event is the one past 2048
    for (const vantor::HDMIDIEvent& e : back)
        ASSERT_EQ(e.sampleOffset, 0u);

    // A list full of note-offs drops further ones.
    ASSERT_TRUE(s.wrap->getMutex().lock());
    std::vector<vantor::HDMIDIEvent> offs;
    for (int32_t i = 0; i < 2048; ++i)
        offs.push_back(note(0x480, i & 127, i));
    blocks.run(kBlock, offs);
    blocks.run(kBlock, {note(0x480, 5, 5000)});
    s.wrap->getMutex().unlock();
    EXPECT_EQ(s.wrap->droppedEvents(), 7u);
    s.spy().log.clear();
    blocks.run(kBlock);
    EXPECT_EQ(s.spy().log.back(), "off 0 2047 127");
}

TEST(ChipWrapNoteEvents, EventsOutOfOrderOrPastTheBlockPlayWhereTheySort)
{
    // Offsets 10, 5 and 300 in a 256-frame block play as 5, 10 and 252 do, sample for sample.
    const auto firstBlocks = [](const std::vector<vantor::HDMIDIEvent>& events,
                                std::vector<vantor::HDMIDIEvent>* back) {
        Started s(kRate, kBlock, 2123, false);
        Blocks blocks(s.entry);
        blocks.run(kBlock);
        *back = blocks.run(kBlock, events);
        std::vector<float> sound(blocks.left.begin(), blocks.left.begin() + kBlock);
        const std::vector<float> more = blocks.render(0.8, kRate, kBlock);
        sound.insert(sound.end(), more.begin(), more.end());
        return sound;
    };
    std::vector<vantor::HDMIDIEvent> back, sortedBack;
    const std::vector<float> disordered =
        firstBlocks({itemEvent(1, 0.0f, 10), itemEvent(2, 0.0f, 5), note(0x390, 69, 7, kNone, 300)},
                    &back);
    const std::vector<float> sorted =
        firstBlocks({itemEvent(2, 0.0f, 5), itemEvent(1, 0.0f, 10), note(0x390, 69, 7, kNone, 252)},
                    &sortedBack);

    ASSERT_EQ(back.size(), 3u);
    const int32_t wantIndex[] = {2, 1, 69};
    const uint32_t wantFrame[] = {4, 8, 252};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i].index, wantIndex[i]) << i;
        EXPECT_EQ(back[i].sampleOffset, wantFrame[i]) << i;
    }
    ASSERT_EQ(disordered.size(), sorted.size());
    for (size_t i = 0; i < sorted.size(); ++i)
        ASSERT_EQ(disordered[i], sorted[i]) << i;
    EXPECT_NEAR(peakHz(disordered, 4800), 440.0, kBin);
}

TEST(ChipWrapNoteEvents, TuningsAndNoteIds)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        int32_t id;
        float tuning;               // of the note-on
        std::optional<float> cents;  // a tuning expression after it
        double want;
    } kCases[] = {
        {7, kNone, {}, 440.0},
        {7, -kNone, {}, 440.0},
        {-5, nan, {}, 440.0},
        {7, 0.0f, {}, 440.0},
        {-5, 100.0f, {}, 466.16},
        {7, kNone, 100.0f, 466.16},
        {-5, kNone, 100.0f, 466.16},
        {-1, kNone, 100.0f, 440.0},  // no id: no voice to bend
        {-5, kNone, nan, 440.0},
    };
    for (const auto& c : kCases) {
        Started s(kRate, kBlock, 2123, false);
        Blocks blocks(s.entry);
        std::vector<vantor::HDMIDIEvent> events = {note(0x390, 69, c.id, c.tuning)};
        if (c.cents) {
            vantor::HDMIDIEvent bend = note(0x500, 2, c.id);
            bend.value = *c.cents;
            events.push_back(bend);
        }
        blocks.run(kBlock, events);
        const std::vector<float> sound = blocks.render(0.8, kRate, kBlock);
        EXPECT_NEAR(peakHz(sound, 4800), c.want, kBin)
            << "id " << c.id << " tuning " << c.tuning << " cents " << c.cents.value_or(0.0f);
    }
}

#if defined(__x86_64__)
TEST(ChipWrapNoteEvents, BlocksKeepTheCallersFloatingPointModeAndDecayToZero)
{
  for (const bool singleStage : {true, false}) {
    Started s;
    Blocks blocks(s.entry);
    // output stage mode 1
    blocks.run(kBlock, {itemEvent(260, 1.0f), itemEvent(kSingleStageChainItem, singleStage ? 1.0f : 0.0f)});
    // A step of the ticks, then exact silence: without flushing, the filters' decay ends in
    // subnormal numbers that stay (the low-pass state at -3 x 4.9e-324 after 3.3 s).
    s.spy().constant = 1000000;
    blocks.render(0.5, kRate, kBlock);
    s.spy().constant = 0;

    // Round toward zero, the inexact flag set, no flushing: a caller's own mode.
    const uint32_t saved = _mm_getcsr();
    const uint32_t callers = (saved & ~0xE07Fu) | 0x6000u | 0x20u;
    _mm_setcsr(callers);
    blocks.run(kBlock);
    const uint32_t after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_EQ(after, callers);

    blocks.render(10.0, kRate, kBlock);
    const auto subnormal = [](auto x) { return std::fpclassify(x) == FP_SUBNORMAL; };
    const acme::ChipWrap& w = *s.wrap;
    const DecimatingProvider& d = *w.getDecimatingProvider();
    // The single stage's high-pass is still decaying, far from the limits; the decimated chain's
    // has settled on exactly 0 and its resampler rests.
    if (singleStage) {
        EXPECT_GT(std::fabs(w.highPass(0).getState()), 0.0);
    } else {
        EXPECT_EQ(d.getHighPassState(0), 0.0);
        EXPECT_TRUE(d.isResting(0));
    }
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_FALSE(subnormal(w.highPass(c).getState())) << c;
        EXPECT_FALSE(subnormal(d.getHighPassState(c))) << c;
        EXPECT_FALSE(subnormal(w.lowPass(c).getState())) << c;
        for (int k = 0; k < SIDOutputFilter::kSections; ++k) {
            const SIDOutputFilter::Section& q = w.outputFilter(c).getSection(k);
            for (const float x : {q.x1, q.x2, q.y1, q.y2})
                EXPECT_FALSE(subnormal(x)) << "channel " << c << " section " << k;
        }
    }
    for (uint32_t i = 0; i < kBlock; ++i)
        ASSERT_FALSE(subnormal(blocks.left[i])) << i;
  }
}
#endif

TEST(ChipWrapNoteEvents, ADetuneSweepBendsWithoutAJump)
{
    Started s(kRate, kBlock, 2123, false);
    Blocks blocks(s.entry);
    // A triangle on osc 1: its steepest step grows with its pitch and it has no edges.
    blocks.run(kBlock, {itemEvent(768 + 2, 1.0f), itemEvent(259, -1200.0f), note(0x390, 60, 1)});
    blocks.render(0.3, kRate, kBlock);

    const auto largestStep = [](const std::vector<float>& x) {
        double step = 0.0;
        for (size_t i = 1; i < x.size(); ++i)
            step = std::max(step, std::fabs(double(x[i]) - double(x[i - 1])));
        return step;
    };
    // -1200 to +1200 cents in one second, four changes a block.
    std::vector<float> sweep;
    constexpr int kBlocks = int(kRate) / int(kBlock);
    for (int b = 0; b < kBlocks; ++b) {
        std::vector<vantor::HDMIDIEvent> events;
        for (uint32_t k = 0; k < 4; ++k) {
            const float cents = -1200.0f + 2400.0f * float(4 * b + int(k) + 1) / float(4 * kBlocks);
            events.push_back(itemEvent(259, cents, k * kBlock / 4));
        }
        blocks.run(kBlock, events);
        sweep.insert(sweep.end(), blocks.left.begin(), blocks.left.begin() + kBlock);
    }
    ASSERT_EQ(s.wrap->getDetune(), 1200.0);
    const std::vector<float> top = blocks.render(0.3, kRate, kBlock);
    const double own = largestStep(top);
    ASSERT_GT(own, 0.004);
    EXPECT_LE(largestStep(sweep), own * 1.05);
}

}  // namespace
