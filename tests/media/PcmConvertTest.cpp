#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/VgmBuilder.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <vector>

using fixtures::VgmBuilder;
using VGM::VGMX;
using vgmxtest::W;

namespace {

using Events = std::vector<VGMXEvent>;

// A song with n DAC channels of kinds 84 up, each holding its "S" marker.
struct Channels {
    explicit Channels(uint32_t n = 16, const char* name = "PCM") { log.addPcmChannels(1000, n, name, 0); }

    Events writes(int32_t kind) const
    {
        const auto it = log.song.chips.find(kind);
        return it == log.song.chips.end() ? Events{} : vgmxtest::only(it->second, 'W');
    }
    size_t totalWrites() const
    {
        size_t n = 0;
        for (const auto& [kind, chip] : log.song.chips)
            n += vgmxtest::only(chip, 'W').size();
        return n;
    }

    VGMX log;
    VGM::PendingWaits pending{};
};

// Register, value, port of the 32-bit value's two halves.
Events split(uint8_t highReg, uint32_t value)
{
    return {W(highReg, uint8_t(value >> 24), uint8_t(value >> 16)), W(uint8_t(highReg + 1), uint8_t(value >> 8), uint8_t(value))};
}

Events operator+(Events a, const Events& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr uint32_t kSegaClock = 4000000;

}  // namespace

TEST(PcmChannels, MadeWithTheirMarker)
{
    Channels c(3, "OKIM6258");
    c.log.addPcmChannels(5, 0, "none", 1);
    EXPECT_EQ(vgmxtest::kinds(c.log.song), (std::vector<int32_t>{84, 85, 86}));
    const VGM::VGMXChip& last = c.log.song.chips.at(86);
    EXPECT_EQ(vgmxtest::letters(last), "S");
    EXPECT_EQ(last.typeName, "DAC");
    EXPECT_EQ(last.displayName, "OKIM6258");
    EXPECT_EQ(last.clock, 1000u);
    EXPECT_EQ(last.rate, 44100u);
}

TEST(SegaPcm, RateAndLevels)
{
    Channels c;
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x07, 128);  // channel 0 register 7
    EXPECT_EQ(c.writes(84), split(4, 15625));
    EXPECT_EQ(c.writes(84), (Events{W(4, 0, 0), W(5, 0x3D, 0x09)}));
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x1F, 200);  // channel 3: 4000000 / 128 * 200 / 256 = 24414.06
    EXPECT_EQ(c.writes(87), split(4, 24414));
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x0A, 0xFF);  // channel 1 left level
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x0B, 0x40);
    EXPECT_EQ(c.writes(85), (Events{W(6, 0x7F), W(7, 0x40)}));
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x0C, 0x34);  // loop address: kept, nothing sent
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x0D, 0x12);
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x00, 0x12);  // unused register
    EXPECT_EQ(c.log.segaPcm[1].loopAddress, 0x1234u);
    EXPECT_EQ(c.totalWrites(), 6u);
}

TEST(SegaPcm, KeyOnPlaysFromTheCurrentAddressToTheEndPage)
{
    Channels c;
    auto write = [&](uint16_t address, uint8_t value) { c.log.writeSegaPcm(kSegaClock, c.pending, address, value); };
    write(0x94, 0x00);  // channel 2 current address 0x0100
    write(0x95, 0x01);
    write(0x16, 0x02);  // end page 2
    EXPECT_EQ(c.totalWrites(), 0u);  // not playing yet
    write(0x96, 0x00);  // key on
    const Events start = split(8, 0x100) + split(10, 0x200) + Events{W(0, 0xC0), W(2, 0), W(12, 0)};
    EXPECT_EQ(c.writes(86), start);
    EXPECT_TRUE(c.log.segaPcm[2].playing);

    // While playing, a changed address or end page restarts; an unchanged one does not.
    write(0x16, 0x02);
    EXPECT_EQ(c.writes(86).size(), start.size());
    write(0x16, 0x03);
    EXPECT_EQ(c.writes(86), (start + split(8, 0x100) + split(10, 0x300) + Events{W(0, 0xC0), W(2, 0), W(12, 0)}));

    // Key off stops it.
    write(0x96, 0x01);
    EXPECT_EQ(c.writes(86).back(), W(14, 0));
    EXPECT_FALSE(c.log.segaPcm[2].playing);
    const size_t stopped = c.writes(86).size();
    write(0x96, 0x03);  // already stopped: nothing
    write(0x16, 0x05);  // end page while stopped: nothing
    EXPECT_EQ(c.writes(86).size(), stopped);

    // Loop flag (bit 1) and bank offset (mask & flags) << shift.
    c.log.segaPcmBankMask = 0x70;
    c.log.segaPcmBankShift = 16;
    write(0x96, 0x12);  // key on, bank bits 0x10, play at address with flags & 2
    EXPECT_EQ(c.log.segaPcm[2].bankOffset, 0x100000u);
    const Events again = c.writes(86);
    EXPECT_EQ(Events(again.end() - 7, again.end()),
              (split(8, 0x100100) + split(10, 0x500) + Events{W(0, 0xC0), W(2, 0), W(12, 2)}));
}

TEST(SegaPcm, AnEndBelowTheStartSendsNothing)
{
    Channels c;
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x85, 0x05);  // channel 0 at 0x0500
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x06, 0x02);  // ends at 0x0300
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x86, 0x00);
    EXPECT_EQ(c.totalWrites(), 0u);
    EXPECT_FALSE(c.log.segaPcm[0].playing);
    // End page 0xFF wraps to 0: below any start.
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x85, 0x00);
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x06, 0xFF);
    c.log.writeSegaPcm(kSegaClock, c.pending, 0x86, 0x00);
    EXPECT_EQ(c.totalWrites(), 0u);
}

TEST(SegaPcm, AFailedRestartKeepsTheChannelPlaying)
{
    Channels c;
    auto write = [&](uint16_t address, uint8_t value) { c.log.writeSegaPcm(kSegaClock, c.pending, address, value); };
    write(0x06, 0x02);  // channel 0 ends at 0x0300
    write(0x86, 0x00);  // key on from 0
    const size_t started = c.writes(84).size();
    // An address at or past the end restarts nothing, whichever register moves it there.
    for (const auto& [address, value] : {std::pair{0x85, 0x03}, std::pair{0x84, 0x10}, std::pair{0x06, 0x01}}) {
        write(uint16_t(address), uint8_t(value));
        EXPECT_EQ(c.writes(84).size(), started) << std::hex << address;
        EXPECT_TRUE(c.log.segaPcm[0].playing) << std::hex << address;
    }
    // The old sample still plays, so the next restart and the key off are sent.
    write(0x06, 0x04);
    EXPECT_EQ(c.writes(84).size(), 2 * started);
    write(0x86, 0x01);
    EXPECT_EQ(c.writes(84).back(), W(14, 0));
    EXPECT_FALSE(c.log.segaPcm[0].playing);
}

TEST(Okim6295, PhraseStartAndStop)
{
    auto started = [](uint32_t rate, uint8_t level, uint8_t bank = 0, uint32_t start = 0, uint32_t length = 0) {
        return Events{W(0, 0xB8), W(2, bank)} + split(4, rate) + split(8, start) + split(10, length) +
               Events{W(6, level), W(7, level), W(15, 0)};
    };
    const struct {
        const char* what;
        uint32_t clock;
        uint8_t reg;
        std::vector<uint8_t> values;
        std::vector<std::pair<int32_t, Events>> expected;  // kinds with writes
    } kCases[] = {
        {"phrase 1, channel 1", 1000000, 0x00, {0x81, 0x10}, {{84, started(6061, 128)}}},
        {"clock bit 31", 1000000 | 0x80000000u, 0x00, {0x81, 0x10}, {{84, started(7576, 128)}}},
        {"chip 1", 1000000, 0x80, {0x81, 0x10}, {{88, started(6061, 128)}}},
        {"channels 2 and 4, attenuation 3", 1000000, 0x00, {0x81, 0xA3}, {{85, started(6061, 48)}, {87, started(6061, 48)}}},
        {"attenuation 12", 1000000, 0x00, {0x85, 0x1C}, {{84, started(6061, 8)}}},
        {"start naming no channel", 1000000, 0x00, {0x81, 0x05}, {}},
        {"stop channel 1", 1000000, 0x00, {0x08}, {{84, {W(14, 0)}}}},
        {"stop all four", 1000000, 0x00, {0x78}, {{84, {W(14, 0)}}, {85, {W(14, 0)}}, {86, {W(14, 0)}}, {87, {W(14, 0)}}}},
        {"stop on chip 1", 1000000, 0x80, {0x20}, {{90, {W(14, 0)}}}},
        {"stop naming none", 1000000, 0x00, {0x07}, {}},
        {"other registers", 1000000, 0x01, {0x81, 0x10, 0x08}, {}},
    };
    for (const auto& c : kCases) {
        Channels ch(8);
        for (uint8_t v : c.values)
            ch.log.writeOkim6295(c.clock, ch.pending, c.reg, v);
        size_t expectedWrites = 0;
        for (const auto& [kind, events] : c.expected) {
            EXPECT_EQ(ch.writes(kind), events) << c.what << " kind " << kind;
            expectedWrites += events.size();
        }
        EXPECT_EQ(ch.totalWrites(), expectedWrites) << c.what;
        EXPECT_EQ(ch.log.pendingOkiPhrase, -1) << c.what;
    }
}

TEST(Okim6295, APhraseFromTheRomPlaysItsBank)
{
    Channels c(8);
    c.log.okiTables.resize(1);
    OkiPhrase& phrase = c.log.okiTables[0].phrases[5];
    phrase = {1, 3, 0x12345, 0x678};
    c.log.writeOkim6295(1000000, c.pending, 0, 0x85);
    EXPECT_EQ(c.log.pendingOkiPhrase, 5);
    c.log.writeOkim6295(1000000, c.pending, 0, 0x40);  // channel 3
    const Events events = c.writes(86);
    ASSERT_EQ(events.size(), 11u);
    EXPECT_EQ(events[1], W(2, 3));
    EXPECT_EQ(Events(events.begin() + 4, events.begin() + 8), split(8, 0x12345) + split(10, 0x678));
    EXPECT_EQ(c.log.pendingOkiPhrase, -1);
}

TEST(Pwm, CycleWritesSendTheRate)
{
    Channels c(2, "32X PWM");
    const uint32_t clock = 23011361;
    c.log.writePwm(clock, c.pending, 0x10, 0x00);  // cycle 0: 4095
    EXPECT_EQ(c.writes(84), split(4, 5621));
    EXPECT_EQ(c.log.pwm.cycle, 4095);
    EXPECT_EQ(c.log.pwm.cycleWritten, 0);
    EXPECT_EQ(c.log.pwm.timerInterval, 16);
    c.log.writePwm(clock, c.pending, 0x10, 0x01);  // cycle 1 would divide by zero: the rate stays
    EXPECT_EQ(c.writes(84), split(4, 5621) + split(4, 5621));
    c.log.writePwm(clock, c.pending, 0x14, 0x18);  // cycle 0x418 = 1048
    EXPECT_EQ(c.log.pwm.outputRate, 21978u);  // 23011361 / 1047 = 21978.38
    EXPECT_EQ(c.writes(84).size(), 6u);

    // Control and samples send nothing; control sets the timer interval.
    c.log.writePwm(clock, c.pending, 0x05, 0x00);
    EXPECT_EQ(c.log.pwm.timerInterval, 5);
    for (uint8_t reg : {0x20, 0x30, 0x40, 0x41, 0x42, 0x43})
        c.log.writePwm(clock, c.pending, reg, 0x22);
    EXPECT_EQ(c.writes(84).size(), 6u);
    EXPECT_EQ(c.log.pwm.fifoCount[0], 3);  // the FIFO keeps the newest three
    EXPECT_EQ(c.log.pwm.fifo[0][2], 0x322);

    testing::internal::CaptureStdout();
    c.log.writePwm(clock, c.pending, 0x5A, 0xBC);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Write at undefined PWM register 05 0abc\n");
    EXPECT_EQ(c.totalWrites(), 6u);
}

TEST(PcmConvert, TheReaderSendsPcmWritesOnlyForChipsWithAClock)
{
    auto read = [](const VgmBuilder& vgm, VGMX& log) {
        const std::vector<uint8_t> bytes = vgm.build();
        vantor::VirtualRAMFile source(bytes.data(), bytes.size());
        return VGM::readVgm(log, source, true);
    };
    const std::vector<uint8_t> commands{0xC0, 0x07, 0x00, 0x80, 0xC0, 0x0F, 0x00, 0x80, 0xB8, 0x00, 0x81,
                                        0xB8, 0x00, 0x10, 0xB2, 0x10, 0x00, 0xB2, 0x10, 0x00, 0xB0, 0x01, 0x02};
    for (size_t field : {VgmBuilder::kSegaPcm, VgmBuilder::kOkim6295, VgmBuilder::kPwm, VgmBuilder::kRf5c68}) {
        VgmBuilder vgm;
        vgm.clock(VgmBuilder::kSn76489, 3579545).raw({0x50, 1, 0x50, 2}).clock(field, 4000000).raw(commands).end();
        VGMX log;
        ASSERT_TRUE(read(vgm, log)) << log.message;
        const auto dac = log.song.chips.find(84);
        const std::string written = dac == log.song.chips.end() ? "" : vgmxtest::letters(dac->second);
        if (field == VgmBuilder::kSegaPcm)
            EXPECT_EQ(written, "SWWE");
        else if (field == VgmBuilder::kOkim6295)
            EXPECT_EQ(written, "S" + std::string(11, 'W') + "E");
        else if (field == VgmBuilder::kPwm)
            EXPECT_EQ(written, "SWWWWE");
        else
            EXPECT_EQ(written, "");  // RF5C68 writes do nothing; its unused channels are dropped
    }
}
