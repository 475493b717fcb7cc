#include "PlaybackSupport.h"

#include "media/DACStreamer.h"

#include <gtest/gtest.h>

namespace {

using fixtures::MediaCall;
using namespace playback;
using VGM::DACStreamer;

struct Sample
{
    uint64_t tick;
    int32_t left, right;
    friend bool operator==(const Sample&, const Sample&) = default;
};

std::ostream& operator<<(std::ostream& out, const Sample& s)
{
    return out << "{" << s.tick << ", " << s.left << ", " << s.right << "}";
}

std::vector<VGMXEvent> operator+(std::vector<VGMXEvent> a, const std::vector<VGMXEvent>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One DAC channel (kind 84) at one event tick per scheduler tick, started at tick 0.
struct Channel
{
    Channel(std::vector<SampleBank> banks, std::vector<VGMXEvent> events, bool loop = false)
    {
        manager.setRate(1e6);
        callback.clock = [this] { return manager.getNow(); };
        song.banks = std::move(banks);
        if (loop)
            song.loopEnd = 1;
        VGM::VGMXChip& chip = song.chips[84];
        chip.kind = 84;
        chip.rate = 1000000;
        chip.events = std::move(events);
        streamer.setUp(chip, song, {&callback});
        manager.addTimer(&streamer, VGM::Reader::kTimerCookie);
    }
    std::vector<Sample> samples() const
    {
        std::vector<Sample> list;
        for (const MediaCall& c : callback.callsOf(MediaCall::WriteDacSample))
            list.push_back({c.stamp, int32_t(c.data), int32_t(c.port)});
        return list;
    }

    vantor::QuantumManager manager;
    fixtures::FakeMediaCallback callback;
    VGM::VGMXSong song;
    DACStreamer streamer;
};

SampleBank bank(std::vector<int16_t> samples, uint32_t startOffset = 0, uint16_t defaultLevel = 0)
{
    SampleBank b;
    b.samples = std::move(samples);
    b.startOffset = startOffset;
    b.defaultLevel = defaultLevel;
    return b;
}

std::vector<int16_t> ramp(int16_t count)
{
    std::vector<int16_t> v;
    for (int16_t i = 1; i <= count; ++i)
        v.push_back(i);
    return v;
}

// Frequency 1000 Hz and left and right level 1.
std::vector<VGMXEvent> kiloHertz()
{
    return dac32(DACStreamer::kFrequencyHigh, 1000) +
           std::vector<VGMXEvent>{W(0, DACStreamer::kLeftLevel, 1), W(0, DACStreamer::kRightLevel, 1)};
}

std::vector<uint64_t> ticks(const std::vector<Sample>& samples)
{
    std::vector<uint64_t> t;
    for (const Sample& s : samples)
        t.push_back(s.tick);
    return t;
}

TEST(DACStreamer, SamplesBetweenEvents)
{
    Channel c({bank(ramp(10))}, kiloHertz() + std::vector<VGMXEvent>{
        W(0, DACStreamer::kPlayBank, 0), W(2500, DACStreamer::kLeftLevel, 2), E('D', 5000)});
    runUntil(c.manager, 20000);
    const std::vector<Sample> want = {{0, 1, 1}, {1000, 2, 2}, {2000, 3, 3}, {2500, 8, 4},
                                      {3500, 10, 5}, {4500, 12, 6}, {5500, 14, 7}, {6500, 16, 8},
                                      {7500, 18, 9}};
    EXPECT_EQ(c.samples(), want);
}

TEST(DACStreamer, ZeroFrequencyKeepsThePeriod)
{
    Channel c({bank(ramp(20))}, kiloHertz() + dac32(DACStreamer::kFrequencyHigh, 0) +
                                   std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0), E('D', 5000)});
    runUntil(c.manager, 20000);
    EXPECT_EQ(ticks(c.samples()), (std::vector<uint64_t>{0, 1000, 2000, 3000, 4000, 5000}));
    EXPECT_EQ(c.streamer.getSamplePeriod(), 0.001);
}

TEST(DACStreamer, PlayBank)
{
    {
        Channel c({bank(ramp(3))}, kiloHertz() + std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 1), E('D', 9000)});
        runUntil(c.manager, 20000);
        EXPECT_TRUE(c.samples().empty());
    }
    {
        // Levels 0 take the bank's default level on both sides.
        Channel c({bank({100, -200, 300}, 0, 3)},
                  dac32(DACStreamer::kFrequencyHigh, 1000) +
                      std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0), E('D', 9000)});
        runUntil(c.manager, 20000);
        EXPECT_EQ(c.samples(), (std::vector<Sample>{{0, 300, 300}, {1000, -600, -600}, {2000, 900, 900}}));
    }
    {
        Channel c({bank({})}, kiloHertz() + std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0), E('D', 9000)});
        runUntil(c.manager, 20000);
        EXPECT_TRUE(c.samples().empty());
    }
}

TEST(DACStreamer, PlayFromStartStaysInsideTheBank)
{
    const struct { uint32_t start, length; size_t samples; } cases[] = {
        {7, 3, 3}, {8, 3, 0}, {0, 10, 10}, {0xFFFFFFF0u, 0x20, 0}, {10, 0, 0}};
    for (const auto& k : cases) {
        Channel c({bank(ramp(10))}, kiloHertz() + dac32(DACStreamer::kStartHigh, k.start) +
                                       dac32(DACStreamer::kLengthHigh, k.length) +
                                       std::vector<VGMXEvent>{W(0, DACStreamer::kBank, 0),
                                                              W(0, DACStreamer::kPlayFromStart), E('D', 50000)});
        runUntil(c.manager, 60000);
        const std::vector<Sample> got = c.samples();
        EXPECT_EQ(got.size(), k.samples) << k.start << " + " << k.length;
        if (!got.empty()) {
            EXPECT_EQ(got.front().left, int32_t(k.start + 1) >> 10);  // shift 10 from register 15
        }
    }
}

TEST(DACStreamer, PlayAtAddressStopsAtTheBanksEnd)
{
    const std::vector<SampleBank> banks = {bank(ramp(10), 0x1000), bank(ramp(4), 0x2000)};
    const struct { uint8_t base; uint32_t start, length; std::vector<int32_t> left; } cases[] = {
        {0, 0x1007, 100, {8, 9, 10}},
        {7, 0x1000, 100, {8, 9, 10}},  // base + start
        {0, 0x2001, 2, {2, 3}},
        {0, 0x100A, 5, {}},  // between the banks
        {0, 0x0FFF, 5, {}},
        {0xFF, 0xFFFFFFFF, 5, {}},
    };
    for (const auto& k : cases) {
        Channel c(banks, kiloHertz() + dac32(DACStreamer::kStartHigh, k.start) +
                             dac32(DACStreamer::kLengthHigh, k.length) +
                             std::vector<VGMXEvent>{W(0, DACStreamer::kStepAndBase, 1, k.base),
                                                    W(0, DACStreamer::kPlayAtAddress), E('D', 50000)});
        runUntil(c.manager, 60000);
        std::vector<int32_t> left;
        for (const Sample& s : c.samples())
            left.push_back(s.left);
        EXPECT_EQ(left, k.left) << std::hex << k.start;
    }
}

TEST(DACStreamer, StopEndsThePlay)
{
    Channel c({bank(ramp(20))}, kiloHertz() + std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0),
                                                                     W(2500, DACStreamer::kStop),
                                                                     W(1500, DACStreamer::kLeftLevel, 3), E('D', 5000)});
    runUntil(c.manager, 20000);
    EXPECT_EQ(ticks(c.samples()), (std::vector<uint64_t>{0, 1000, 2000}));
    EXPECT_FALSE(c.streamer.isPlaying());
}

TEST(DACStreamer, LevelsAndShift)
{
    Channel c({bank({-32768, 32767, 1000})},
              dac32(DACStreamer::kFrequencyHigh, 1000) + dac32(DACStreamer::kLengthHigh, 3) +
                  std::vector<VGMXEvent>{W(0, DACStreamer::kLeftLevel, 128), W(0, DACStreamer::kRightLevel, 64),
                                         W(0, DACStreamer::kFormat, 0xB8), W(0, DACStreamer::kPlayFromStart),
                                         E('D', 9000)});
    runUntil(c.manager, 20000);
    EXPECT_EQ(c.samples(), (std::vector<Sample>{{0, -4096, -2048}, {1000, 4095, 2047}, {2000, 125, 62}}));
    for (const MediaCall& call : c.callback.callsOf(MediaCall::WriteDacSample)) {
        EXPECT_EQ(call.chipKind, 84u);
        EXPECT_EQ(call.reg, 0xB8u);  // the format byte
    }
}

// A rate above the scheduler's plays one sample a tick; other timers keep their times.
TEST(DACStreamer, VeryHighFrequencyStillLetsTimeMove)
{
    struct Every7 : vantor::QuantumTimer
    {
        uint64_t quantumElapsed(vantor::QuantumTimer*, uint64_t, double) override
        {
            fired.push_back(manager->getNow());
            return 7;
        }
        const vantor::QuantumManager* manager = nullptr;
        std::vector<uint64_t> fired;
    };
    for (uint32_t frequency : {1'000'000'000u, 0xFFFFFFFFu}) {
        Channel c({bank(std::vector<int16_t>(1000, 5))},
                  dac32(DACStreamer::kFrequencyHigh, frequency) +
                      std::vector<VGMXEvent>{W(0, DACStreamer::kLeftLevel, 1), W(0, DACStreamer::kPlayBank, 0),
                                             E('D', 500000)});
        Every7 other;
        other.manager = &c.manager;
        c.manager.addTimer(&other, 1);
        runUntil(c.manager, 100);
        const std::vector<uint64_t> got = ticks(c.samples());
        ASSERT_EQ(got.size(), 101u);
        for (uint64_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], i);
        ASSERT_EQ(other.fired.size(), 15u);
        EXPECT_EQ(other.fired.back(), 98u);
    }
}

TEST(DACStreamer, EndWithoutLoopParksAndLoopStartsAgain)
{
    {
        Channel c({bank(ramp(3))}, kiloHertz() + std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0), E('D', 500)});
        runUntil(c.manager, 1000);
        ASSERT_EQ(c.manager.getEntries().size(), 1u);
        EXPECT_GE(c.manager.getEntries()[0].due, vantor::QuantumTimer::kNever);
        EXPECT_EQ(ticks(c.samples()), (std::vector<uint64_t>{0, 500}));
    }
    {
        Channel c({bank(ramp(3))}, kiloHertz() + std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0), E('D', 5000)},
                  true);
        runUntil(c.manager, 12000);
        // Three samples a pass, the pass 5 ms long; each restart says time 0.
        EXPECT_EQ(ticks(c.samples()), (std::vector<uint64_t>{0, 1000, 2000, 5000, 6000, 7000, 10000, 11000, 12000}));
        const auto times = c.callback.callsOf(MediaCall::SetMediaTime);
        ASSERT_EQ(times.size(), 2u);
        EXPECT_EQ(times[0].stamp, 5000u);
        EXPECT_EQ(times[0].rate, 0.0);
    }
}

TEST(DACStreamer, OtherStreamsGoOnAfterADacChannelEnds)
{
    VGM::VGMX doc;
    doc.song.banks.push_back(bank(ramp(4)));
    addChip(doc, 84, "DAC", 1000, kiloHertz() + std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0), E('D', 2)});
    addChip(doc, 77, "6581", 1000, {W(0, 1), W(10, 2), W(10, 3)});
    Player p;
    ASSERT_TRUE(p.open(doc));
    p.attach();
    runUntil(p.manager, 30000);
    EXPECT_EQ(p.writeTicks(77), (std::vector<uint64_t>{0, 10000, 20000}));
    EXPECT_EQ(p.calls(MediaCall::WriteDacSample).size(), 3u);  // 0, 1000 and the end at 2000
    EXPECT_GE(p.manager.getEntries().back().due, vantor::QuantumTimer::kNever);
}

}  // namespace
