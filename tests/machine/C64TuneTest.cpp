// Tune installation without ROM images: PSID init and play timing, RSID and BASIC starts, SID
// placement, and the failures painted on the screen.
#include "C64TestSupport.h"

#include "machine/VICII.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using namespace c64_test;
using fixtures::PsidBuilder;

// Every capture time within `tolerance` of first + i x period.
void expectPeriod(const std::vector<uint64_t>& times, uint64_t period, size_t frames, const char* what)
{
    ASSERT_GE(times.size(), frames) << what;
    for (size_t i = 1; i < frames; ++i) {
        const int64_t expected = int64_t(times[0] + i * period);
        EXPECT_NEAR(double(times[i]), double(expected), 6.0) << what << ", frame " << i;
    }
}

TEST(C64Tune, PsidPlaysOnTheVideoFrame)
{
    C64Rig rig;
    ASSERT_TRUE(rig.install(counterTune()));
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_PLAYING);

    // mediaStarted, then SID 1 is announced and set to volume 15 with the low-pass bit, and
    // init's store to $D418 follows without a delay.
    const auto& calls = rig.media.calls;
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].op, MediaCall::MediaStarted);
    EXPECT_EQ(calls[0].value, counterTuneCode().size());
    EXPECT_EQ(calls[1].op, MediaCall::AddChip);
    EXPECT_EQ(calls[1].chipKind, 77u);
    EXPECT_EQ(calls[1].reg, 0u);
    EXPECT_EQ(calls[1].data, 0u);
    EXPECT_EQ(calls[2].op, MediaCall::WriteRegister);
    EXPECT_EQ(calls[2].chipKind, 77u);
    EXPECT_EQ(calls[2].value, 0u);
    EXPECT_EQ(calls[2].port, 0u);
    EXPECT_EQ(calls[2].reg, 24u);
    EXPECT_EQ(calls[2].data, 31u);
    EXPECT_EQ(calls[2].rate, kPal);
    EXPECT_EQ(calls[3].op, MediaCall::WriteRegister);
    EXPECT_EQ(calls[3].reg, 24u);
    EXPECT_EQ(calls[3].data, 0x0Fu);

    while (captureTimes(rig.media).size() < 50)
        rig.machine->advance(100, kPal);
    rig.run(2000);  // the 50th call finishes, the 51st is far off
    const std::vector<uint64_t> times = captureTimes(rig.media);
    ASSERT_EQ(times.size(), 50u);
    expectPeriod(times, kPalFrame, 50, "PAL VBI");
    EXPECT_EQ(rig.peek(kCounter), 50);
    for (uint32_t reg = 0; reg <= 24; ++reg)
        EXPECT_EQ(rig.media.registers[0][reg], 50) << "register " << reg;
}

TEST(C64Tune, PlayPeriodByTuneClockMachineAndTiming)
{
    struct Case {
        const char* what;
        uint16_t clockBits;  // flags bits 2-3
        bool ntscMachine;
        bool cia;
        uint64_t period;
    };
    const Case cases[] = {
        {"PAL on PAL, VBI", psid::kClockPal, false, false, 19656},
        {"PAL on PAL, CIA", psid::kClockPal, false, true, 16421},
        {"unset on PAL, VBI", 0, false, false, 19656},
        {"both on PAL, CIA", psid::kClockBoth, false, true, 16421},
        {"PAL on NTSC, VBI", psid::kClockPal, true, false, 20404},
        {"PAL on NTSC, CIA", psid::kClockPal, true, true, 17045},
        {"NTSC on PAL, VBI", psid::kClockNtsc, false, false, 16470},
        {"NTSC on PAL, CIA", psid::kClockNtsc, false, true, 16421},
        {"NTSC on NTSC, VBI", psid::kClockNtsc, true, false, 17097},
        {"NTSC on NTSC, CIA", psid::kClockNtsc, true, true, 17045},
    };
    for (const Case& c : cases) {
        C64Rig rig("", c.ntscMachine);
        ASSERT_TRUE(rig.install(counterTune().flags(uint16_t(c.clockBits << 2)).speed(c.cia ? 1 : 0))) << c.what;
        EXPECT_EQ(rig.machine->isNtscTune(), c.clockBits == psid::kClockNtsc) << c.what;
        EXPECT_EQ(rig.peek(0x02A6), c.clockBits == psid::kClockNtsc ? 0 : 1) << c.what;
        const double clock = c.ntscMachine ? kNtsc : kPal;
        rig.run(21 * c.period, 1000, clock);
        expectPeriod(captureTimes(rig.media), c.period, 20, c.what);
    }
}

TEST(C64Tune, SpeedSongBitAndRenderClockScaleThePeriod)
{
    {
        C64Rig rig;
        ASSERT_TRUE(rig.install(counterTune()));
        rig.machine->setSpeed(2.0);
        rig.run(21 * 9828);
        const auto times = captureTimes(rig.media);
        // The first call was scheduled before the speed changed.
        expectPeriod(std::vector<uint64_t>(times.begin() + 1, times.end()), 9828, 19, "speed 2.0");
    }
    {
        C64Rig rig;  // song 40 takes bit 31, the last one
        ASSERT_TRUE(rig.install(counterTune().songs(50).speed(0x80000000u), 39));
        rig.run(21 * 16421);
        expectPeriod(captureTimes(rig.media), 16421, 20, "song 40, speed bit 31");
    }
    {
        C64Rig rig;  // rendering at twice the nominal clock: twice the cycles per call
        ASSERT_TRUE(rig.install(counterTune()));
        rig.run(21 * 2 * kPalFrame, 1000, 2 * kPal);
        expectPeriod(captureTimes(rig.media), 2 * kPalFrame, 20, "clock x2");
    }
}

TEST(C64Tune, InitThatReprogramsTheTimerSetsThePeriod)
{
    // init: timer A latch = $4000.
    const Bytes code = {
        0xA9, 0x00,        // LDA #$00
        0x8D, 0x04, 0xDC,  // STA $DC04
        0xA9, 0x40,        // LDA #$40
        0x8D, 0x05, 0xDC,  // STA $DC05
        0x60,              // RTS
        0x60,              // play: RTS
    };
    const std::string message = "* PSID changed the CIA TIMER!! *";
    for (const uint16_t load : {uint16_t(0x1000), uint16_t(0x0401), uint16_t(0x0400)}) {
        C64Rig rig;
        ASSERT_TRUE(rig.install(PsidBuilder().load(load).init(load).play(uint16_t(load + 11)).code(code)));
        EXPECT_EQ(rig.machine->getPlayLatch(), 0x4000);
        rig.run(21 * 16385);
        expectPeriod(captureTimes(rig.media), 16385, 20, "latch $4000");
        if (load >= 0x0401)
            EXPECT_EQ(screenAt(*rig.machine, 0x0798, message.size()), screenCodes(message)) << std::hex << load;
        else
            EXPECT_NE(screenAt(*rig.machine, 0x0798, message.size()), screenCodes(message));
    }
}

TEST(C64Tune, SecondSidTakesItsOwn32Bytes)
{
    C64Rig rig;
    ASSERT_TRUE(rig.install(counterTune().secondSid(0x42)));
    const auto chips = rig.media.callsOf(MediaCall::AddChip);
    ASSERT_EQ(chips.size(), 2u);
    EXPECT_EQ(chips[0].chipKind, 77u);
    EXPECT_EQ(chips[1].chipKind, 78u);
    EXPECT_EQ(rig.media.registers[1][24], 31);

    rig.media.calls.clear();
    rig.machine->writeMemory(0xD420, 0x11);
    rig.machine->writeMemory(0xD43F, 0x12);
    rig.machine->writeMemory(0xD41F, 0x13);
    const auto writes = rig.media.callsOf(MediaCall::WriteRegister);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].chipKind, 78u);
    EXPECT_EQ(writes[0].reg, 0u);
    EXPECT_EQ(writes[1].chipKind, 78u);
    EXPECT_EQ(writes[1].reg, 31u);
    EXPECT_EQ(writes[2].chipKind, 77u);

    // $D440 is nobody's now: open bus, and the callback is not asked.
    rig.media.calls.clear();
    rig.machine->seedOpenBus(3);
    int zeros = 0;
    for (int i = 0; i < 400; ++i)
        zeros += rig.machine->readMemory(0xD440) == 0;
    rig.machine->writeMemory(0xD440, 0x77);
    EXPECT_TRUE(rig.media.calls.empty());
    EXPECT_GT(zeros, 250);
    EXPECT_LT(zeros, 350);
}

TEST(C64Tune, ExtraSidBytesAndTheirSlots)
{
    struct Case {
        const char* what;
        uint16_t version;
        uint8_t second, third;
        std::vector<uint32_t> chips;                     // addChip kinds in order
        std::vector<std::pair<uint16_t, uint32_t>> map;  // address -> kind its store reaches
    };
    const Case cases[] = {
        {"$40 (SID 1's own)", 2, 0x40, 0, {77}, {{0xD7E0, 77}, {0xD420, 77}}},
        {"odd $41", 2, 0x41, 0, {77}, {{0xD7E0, 77}}},
        {"$90 (colour RAM)", 2, 0x90, 0, {77}, {{0xD7E0, 77}}},
        {"version 1 ignores them", 1, 0x42, 0x44, {77}, {{0xD420, 77}, {0xD440, 77}}},
        {"invalid second, valid third", 2, 0x41, 0x44, {77, 79}, {{0xD440, 79}, {0xD45F, 79}, {0xD420, 0}}},
        {"second and third", 2, 0x42, 0xE0, {77, 78, 79}, {{0xD420, 78}, {0xDE00, 79}, {0xDE1F, 79}}},
        {"v78 at $50", 78, 0x50, 0x20, {77, 78, 79, 80}, {{0xD500, 78}, {0xD520, 79}, {0xD540, 80}}},
        {"v78 third past $FF", 78, 0xFE, 0, {77, 78}, {{0xDFE0, 78}, {0xD7E0, 0}}},
        {"v78 fourth past $FF", 78, 0xFC, 0, {77, 78, 79}, {{0xDFC0, 78}, {0xDFE0, 79}}},
    };
    for (const Case& c : cases) {
        C64Rig rig;
        ASSERT_TRUE(rig.install(counterTune().version(c.version).secondSid(c.second).thirdSid(c.third))) << c.what;
        std::vector<uint32_t> chips;
        for (const MediaCall& call : rig.media.callsOf(MediaCall::AddChip))
            chips.push_back(call.chipKind);
        EXPECT_EQ(chips, c.chips) << c.what;
        for (const auto& [address, kind] : c.map) {
            rig.media.calls.clear();
            rig.machine->writeMemory(address, 0x5A);
            const auto writes = rig.media.callsOf(MediaCall::WriteRegister);
            if (kind == 0) {
                EXPECT_TRUE(writes.empty()) << c.what << std::hex << " at " << address;
            } else {
                ASSERT_EQ(writes.size(), 1u) << c.what << std::hex << " at " << address;
                EXPECT_EQ(writes[0].chipKind, kind) << c.what << std::hex << " at " << address;
                EXPECT_EQ(writes[0].reg, address & 31u) << c.what;
            }
        }
    }
}

TEST(C64Tune, InitThatNeverReturns)
{
    C64Rig rig;
    EXPECT_FALSE(rig.install(PsidBuilder().load(0x1000).init(0x1000).play(0x1003).code({0x4C, 0x00, 0x10, 0x60})));
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_INIT_FAILED);
    const std::string message = " *** PSID init error! ***";
    EXPECT_EQ(screenAt(*rig.machine, 0x0400, message.size()), screenCodes(message));
    // Init starts right after SID 1's volume store.
    const auto volume = writesTo(rig.media, 24);
    ASSERT_FALSE(volume.empty());
    const uint64_t initCycles = rig.machine->getTotalCycles() - volume[0].stamp;
    EXPECT_GE(initCycles, 3'294'000u);
    EXPECT_LE(initCycles, 3'294'006u);
    EXPECT_FALSE(rig.machine->isPlayTimerActive());
}

TEST(C64Tune, PlaySidTunesAreRefused)
{
    C64Rig rig;
    EXPECT_FALSE(rig.install(counterTune().flags(psid::kFlagMus)));
    const std::string message = "     *** PlaySID not supported! ***";
    EXPECT_EQ(screenAt(*rig.machine, 0x0400, message.size()), screenCodes(message));
    EXPECT_FALSE(rig.machine->isPlayTimerActive());
    // Version 1 has no flags word: the same bytes play.
    C64Rig v1;
    EXPECT_TRUE(v1.install(counterTune().version(1).flags(psid::kFlagMus)));
}

TEST(C64Tune, RsidRunsOnTheRasterInterrupt)
{
    C64Rig rig;
    ASSERT_TRUE(rig.install(PsidBuilder().rsid().load(0x1000).init(0x1000).code(rasterTuneCode())));
    C64Emu& m = *rig.machine;
    EXPECT_EQ(m.getState(), C64Emu::STATE_RUNNING);
    EXPECT_FALSE(m.isPlayTimerActive());
    EXPECT_EQ(m.getVic()->readRegister(0x11) & 0x7F, 0x1B);
    EXPECT_EQ(m.advance(1, kPal), 1u);
    EXPECT_EQ(m.getCia1()->readRegister(14), 0x01);  // timer A started, continuous

    rig.media.calls.clear();
    rig.run(52 * kPalFrame);
    // The handler ran on line 311 ($137): $D012 = $37 with $D011 bit 7 set.
    EXPECT_EQ(rig.peek(0x0340), 0x37);
    EXPECT_EQ(rig.peek(0x0341) & 0x80, 0x80);

    const auto stores = writesTo(rig.media, 0);
    ASSERT_GE(stores.size(), 51u);
    const double average = double(stores[50].stamp - stores[0].stamp) / 50.0;
    EXPECT_NEAR(average, double(kPalFrame), 0.5);
    for (size_t i = 1; i <= 50; ++i)
        EXPECT_EQ(stores[i].value, stores[i].stamp - stores[i - 1].stamp);

    const auto captures = captureTimes(rig.media);
    const int handled = rig.peek(0x0342);
    EXPECT_NEAR(double(captures.size()), double(handled), 1.0);
    // One capture per interrupt, just before its handler's store.
    for (size_t i = 1; i + 1 < std::min(captures.size(), stores.size()); ++i) {
        EXPECT_LT(captures[i], stores[i].stamp);
        EXPECT_GT(captures[i] + 200, stores[i].stamp);
    }
}

TEST(C64Tune, FreeRunningTunesGetTimerAInterrupts)
{
    // init: SEI, RAM under the KERNAL with an IRQ vector to a handler that reads $DC0D, CLI.
    const Bytes code = {
        0x78,              // 1000 SEI
        0xA9, 0x2F,        // 1001 LDA #$2F
        0x85, 0x00,        // 1003 STA $00
        0xA9, 0x35,        // 1005 LDA #$35
        0x85, 0x01,        // 1007 STA $01
        0xA9, 0x17,        // 1009 LDA #$17
        0x8D, 0xFE, 0xFF,  // 100B STA $FFFE
        0xA9, 0x10,        // 100E LDA #$10
        0x8D, 0xFF, 0xFF,  // 1010 STA $FFFF
        0x58,              // 1013 CLI
        0x4C, 0x14, 0x10,  // 1014 JMP $1014
        0x2C, 0x0D, 0xDC,  // 1017 BIT $DC0D
        0x40,              // 101A RTI
    };
    for (const bool rsid : {true, false}) {
        C64Rig rig;  // an RSID, or a PSID without a play address
        ASSERT_TRUE(rig.install(PsidBuilder().rsid(rsid).load(0x1000).init(0x1000).play(0).code(code)));
        EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_RUNNING);
        rig.run(21 * kPalFrame);
        // Timer A from the PAL frame latch, its interrupt enabled: one capture per underflow.
        expectPeriod(captureTimes(rig.media), kPalFrame, 20, rsid ? "RSID" : "PSID without play");
    }
}

TEST(C64Tune, BasicTuneIsTypedIn)
{
    const Bytes program = basicProgram(basicSidLoop());
    C64Rig rig;
    ASSERT_TRUE(rig.install(PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0801).init(0x0801).code(program), 2));
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_RUNNING);
    EXPECT_EQ(rig.peek(0x2B), 0x01);
    EXPECT_EQ(rig.peek(0x2C), 0x08);
    for (const uint16_t a : {0x030C, 0x030D, 0x030E})
        EXPECT_EQ(rig.peek(a), 2) << std::hex << a;
    const uint16_t end = uint16_t(0x0801 + program.size());
    for (const uint16_t a : {0x2D, 0x2F, 0x31, 0xAE}) {
        EXPECT_EQ(rig.peek(a), uint8_t(end)) << std::hex << a;
        EXPECT_EQ(rig.peek(uint16_t(a + 1)), uint8_t(end >> 8)) << std::hex << a;
    }
    EXPECT_EQ(screenAt(*rig.machine, 0x0277, 4), (Bytes{'R', 'U', 'N', 0x0D}));
    EXPECT_EQ(rig.peek(0xC6), 4);
    EXPECT_EQ(screenAt(*rig.machine, 0x0801, program.size()), program);
    EXPECT_TRUE(rig.media.callsOf(MediaCall::AddChip).empty());

    // A wrapped program keeps SYS's registers alone.
    C64Rig wrapped;
    ASSERT_TRUE(wrapped.install(
        PsidBuilder().rsid().flags(psid::kFlagWrappedProgram).load(0x0801).init(0x0801).code(program), 2));
    EXPECT_NE(wrapped.peek(0x030C), 2);

    C64Rig elsewhere;
    EXPECT_FALSE(elsewhere.install(PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0900).code(program)));
}

TEST(C64Tune, JamInThePlayRoutine)
{
    const Bytes code = {
        0xA9, 0x01,        // 1000 LDA #$01
        0x8D, 0x0E, 0xDC,  // 1002 STA $DC0E: timer A runs
        0x60,              // 1005 RTS
        0xA9, 0x01,        // 1006 LDA #$01
        0x8D, 0x00, 0xD4,  // 1008 STA $D400
        0x02,              // 100B JAM
    };
    C64Rig rig;
    ASSERT_TRUE(rig.install(PsidBuilder().load(0x1000).init(0x1000).play(0x1006).code(code)));
    EXPECT_EQ(rig.machine->advance(kPalFrame, kPal), kPalFrame);
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_JAMMED);
    const std::string message = "           *** CPU JAM! ***";
    EXPECT_EQ(screenAt(*rig.machine, 0x0400, message.size()), screenCodes(message));

    // The CPU stays halted; frames and timers go on, and every request is still met.
    mos6526_new& cia = *rig.machine->getCia1();
    const uint64_t frames = rig.canvasListener.changes;
    const uint8_t timerBefore = cia.readRegister(4);
    for (const uint64_t n : {1u, 10u, 1000u, 10000u}) {
        const uint64_t ahead = rig.machine->getSurplusCycles();
        if (ahead) {
            EXPECT_EQ(rig.machine->advance(ahead, kPal), ahead);
        }
        EXPECT_EQ(rig.machine->advance(n, kPal), n);
    }
    rig.run(10 * kPalFrame - 11011 + 4321);  // not a whole number of timer periods
    EXPECT_GE(rig.canvasListener.changes - frames, 9u);
    EXPECT_NE(cia.readRegister(4), timerBefore);
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_JAMMED);
}

// Colour index of pixel (y, x) of text cell (row, column) on the rig's canvas.
uint8_t cellPixel(const C64Rig& rig, uint32_t row, uint32_t column, uint32_t y, uint32_t x)
{
    return rig.pixels[(36 + row * 8 + y) * 384 + 32 + column * 8 + x];
}

// A program that leaves the display off, 24 rows, 38 multicolour columns scrolled by 7 and a red
// border, then jams: the message comes in text mode on all 40 columns and 25 rows.
TEST(C64Tune, ScreenMessageShowsTheWholeTextScreen)
{
    const Bytes code = {
        0x60,              // 1000 RTS
        0xA9, 0x00,        // 1001 LDA #$00
        0x8D, 0x11, 0xD0,  // 1003 STA $D011: display off, 24 rows
        0xA9, 0x17,        // 1006 LDA #$17
        0x8D, 0x16, 0xD0,  // 1008 STA $D016: 38 columns, multicolour, x scroll 7
        0xA9, 0x02,        // 100B LDA #$02
        0x8D, 0x20, 0xD0,  // 100D STA $D020: red border
        0xA9, 0x06,        // 1010 LDA #$06
        0x8D, 0x21, 0xD0,  // 1012 STA $D021: blue background
        0x02,              // 1015 JAM
    };
    C64Rig rig;
    ASSERT_TRUE(rig.install(PsidBuilder().load(0x1000).init(0x1000).play(0x1001).code(code)));
    rig.run(4 * kPalFrame);
    ASSERT_EQ(rig.machine->getState(), C64Emu::STATE_JAMMED);
    // The first '*' (column 11) drawn from the lower-case set in light blue on blue.
    const uint8_t* star = kVICIICharacterImage.data() + 0x800 + 42 * 8;
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            ASSERT_EQ(cellPixel(rig, 0, 11, y, x), (star[y] >> (7 - x)) & 1 ? 14 : 6) << y << " " << x;
    // The corner cells are blank background, not border.
    for (const auto& [row, column] : {std::pair{0u, 0u}, {0u, 39u}, {24u, 0u}, {24u, 39u}})
        for (uint32_t y = 0; y < 8; ++y)
            for (uint32_t x = 0; x < 8; ++x)
                ASSERT_EQ(cellPixel(rig, row, column, y, x), 6) << row << " " << column << " " << y << " " << x;
}

TEST(C64Tune, ScreenMessageLayout)
{
    std::string info(40, 'A');
    info += "\nb\n" + std::string(1200, 'c');
    C64Rig with;
    C64Rig without;
    ASSERT_TRUE(with.install(counterTune(), 0, info));
    ASSERT_TRUE(without.install(counterTune()));
    // A newline right after column 40 ends only that row.
    EXPECT_EQ(screenAt(*with.machine, 0x0400, 40), Bytes(40, 'A'));
    EXPECT_EQ(with.peek(0x0428), 2);   // "b"
    EXPECT_EQ(with.peek(0x0429), 32);  // then spaces
    EXPECT_EQ(with.peek(0x0450), 3);   // "c" fills the rest
    EXPECT_EQ(with.peek(0x07E7), 3);
    EXPECT_EQ(screenAt(*with.machine, 0x07E8, 24), screenAt(*without.machine, 0x07E8, 24));
    EXPECT_EQ(with.machine->colourRamAt(0), 14);
    EXPECT_EQ(with.machine->getVic()->readRegister(0x18), 0x17);
}

TEST(C64Tune, ReinstallingStopsTheOldPlayTimer)
{
    C64Rig rig;
    ASSERT_TRUE(rig.install(counterTune()));
    rig.run(3 * kPalFrame);
    ASSERT_TRUE(rig.machine->isPlayTimerActive());
    ASSERT_FALSE(rig.install(fixtures::PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0900).code({0})));
    EXPECT_FALSE(rig.machine->isPlayTimerActive());
    rig.media.calls.clear();
    rig.run(3 * kPalFrame);
    EXPECT_TRUE(captureTimes(rig.media).empty());
}

}  // namespace
