#include "media/VGMX.h"

#include "VGMXTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using VGM::VGMX;
using VGM::VGMXChip;
using VGM::VGMXSong;
using vgmxtest::letters;

TEST(ChipNames, EveryNameOfTheMap)
{
    const struct {
        int32_t kind;
        std::vector<const char*> names;
    } kTable[] = {
        {0, {"SN76489", "DCSG"}}, {4, {"YM2413", "OPLL"}}, {5, {"YM2612", "OPN2"}},
        {6, {"YM2151", "OPM", "YMXXXX"}}, {7, {"YM2203"}}, {8, {"YM2608"}}, {9, {"YM2610"}},
        {10, {"YM2610B"}}, {11, {"YM3812"}}, {12, {"YM3526"}}, {13, {"Y8950"}}, {14, {"YMZ280B"}},
        {15, {"YMF262"}}, {28, {"YMF278B"}}, {29, {"YMF271"}}, {30, {"YM2420"}},
        {31, {"AY8910", "AY-3-8910", "PSG"}}, {36, {"POKEY"}}, {38, {"TIA"}}, {39, {"MIKEY"}},
        {40, {"AMY"}}, {41, {"RP2C33", "FDS"}}, {44, {"RP2A0X", "NESAPU"}}, {48, {"GBDMG"}},
        {53, {"SAA1099"}}, {59, {"SCC"}}, {60, {"YM7129", "OPK2"}}, {61, {"D1771C"}}, {62, {"SDSP"}},
        {64, {"TMS51XX"}}, {65, {"TMS5200"}}, {68, {"AY8930", "EPSG"}}, {69, {"YM2164", "OPP"}},
        {70, {"YM2414B", "OPZ"}}, {71, {"OPSEGS"}}, {72, {"PSSJ"}}, {77, {"VIC1", "6581", "SID"}},
        {81, {"CEM3394"}}, {82, {"CEM3396"}}, {83, {"L431C"}}, {84, {"DAC"}}, {102, {"6526", "CIA"}},
    };
    size_t count = 0;
    for (const auto& row : kTable)
        for (const char* name : row.names) {
            EXPECT_EQ(chipKindFromName(name), row.kind) << name;
            ++count;
        }
    EXPECT_EQ(count, 58u);
    for (const char* unknown : {"", "ym2612", "8580", "Pokey", "Sega PSG", "YM2149", "SID ", "AY891"})
        EXPECT_EQ(chipKindFromName(unknown), 100) << '"' << unknown << '"';
}

TEST(VGMXEvent, PacksFieldsIntoOneWord)
{
    const VGMXEvent event = VGMXEvent::pack(0x12345678, 'W', 0x2A, 0x80, 1);
    EXPECT_EQ(event.word, 0x01802A5712345678u);
    EXPECT_EQ(event.dt(), 0x12345678u);
    EXPECT_EQ(event.kind(), 'W');
    EXPECT_EQ(event.reg(), 0x2A);
    EXPECT_EQ(event.value(), 0x80);
    EXPECT_EQ(event.port(), 1);
    const VGMXEvent high = VGMXEvent::pack(0xFFFFFFFF, 'E', 0xFF, 0xFF, 0xFF);
    EXPECT_EQ(high.word, 0xFFFFFF45FFFFFFFFu);
}

TEST(VGMXChip, EveryConstructorReservesTheEventRoom)
{
    VGMXChip chip;
    EXPECT_GE(chip.events.capacity(), VGMXChip::kReservedEvents);
    chip.addEvent(1, 2, 3, 4, 'W');
    const VGMXChip copy(chip);
    EXPECT_GE(copy.events.capacity(), VGMXChip::kReservedEvents);
    EXPECT_EQ(copy.events, chip.events);
    EXPECT_EQ(chip.rate, 44100u);
    EXPECT_EQ(chip.loopIndex, VGMXChip::kNoLoop);
}

TEST(VGMXChip, ClearGivesAFreshRecordInTheSameRoom)
{
    VGMXChip chip;
    chip.id = 1;
    chip.attributes["k"] = "v";
    chip.kind = 5;
    chip.subtype = 2;
    chip.extra = 3;
    chip.clock = 4;
    chip.rate = 5;
    chip.typeName = "YM2612";
    chip.displayName = "OPN2";
    chip.loopIndex = 0;
    chip.addEvent(9, 1, 1, 1, 'W');
    const VGMXEvent* room = chip.events.data();
    ASSERT_NE(chip, VGMXChip());
    chip.clear();
    EXPECT_EQ(chip, VGMXChip());
    EXPECT_EQ(chip.events.data(), room);
    EXPECT_GE(chip.events.capacity(), VGMXChip::kReservedEvents);
}

TEST(VGMXOperations, AddChipReplacesTheRecordOfItsKindThenStarts)
{
    VGMX log;
    for (uint32_t i = 0; i < 3; ++i)
        log.addEventToKind(5, 10, 0, 0, 0, 'W');
    VGMXChip record;
    record.kind = 5;
    record.subtype = 2;
    record.extra = 3;
    record.clock = 7670453;
    record.rate = 44100;
    record.typeName = "YM2612";
    record.displayName = "OPN2";
    record.attributes["a"] = "b";
    record.loopIndex = 1;
    record.addEvent(4, 0x10, 1, 0x28, 'W');
    record.addEvent(6, 0x20, 0, 0x2A, 'W');

    log.addChip(record, true);
    ASSERT_EQ(log.song.chips.size(), 1u);
    const VGMXChip& chip = log.song.chips.at(5);
    EXPECT_EQ(letters(chip), "WWS");
    EXPECT_EQ(chip.events[0], record.events[0]);
    EXPECT_EQ(chip.events[1], record.events[1]);
    EXPECT_EQ(chip.events[2], VGMXEvent::pack(0, 'S', 0, 0, 0));
    EXPECT_EQ(chip.subtype, 2u);
    EXPECT_EQ(chip.extra, 3u);
    EXPECT_EQ(chip.clock, 7670453u);
    EXPECT_EQ(chip.typeName, "YM2612");
    EXPECT_EQ(chip.displayName, "OPN2");
    EXPECT_EQ(chip.attributes.at("a"), "b");
    EXPECT_EQ(chip.loopIndex, 1u);
    EXPECT_EQ(chip.total, 10u);
    EXPECT_EQ(chip.usesPorts, 1);
    EXPECT_EQ(chip.usesRegisters, 1);

    log.addChip(record, false);
    EXPECT_EQ(letters(log.song.chips.at(5)), "WW");
}

TEST(VGMXOperations, AddEventSetsFlagsOnlyForNonZeroFields)
{
    const struct {
        uint8_t port, reg;
        uint8_t usesPorts, usesRegisters;
    } kCases[] = {{0, 0, 0, 0}, {1, 0, 1, 0}, {0, 5, 0, 1}, {1, 5, 1, 1}};
    for (const auto& c : kCases) {
        VGMXChip chip;
        chip.total = 100;
        chip.addEvent(7, 0x99, c.port, c.reg, 'W');
        EXPECT_EQ(chip.usesPorts, c.usesPorts);
        EXPECT_EQ(chip.usesRegisters, c.usesRegisters);
        EXPECT_EQ(chip.total, 107u);
        EXPECT_EQ(chip.events.back(), VGMXEvent::pack(7, 'W', c.reg, 0x99, c.port));
    }
    // A zero event leaves flags that are already set.
    VGMXChip chip;
    chip.usesPorts = chip.usesRegisters = 1;
    chip.addEvent(7, 0, 0, 0, 'D');
    EXPECT_EQ(chip.usesPorts, 1);
    EXPECT_EQ(chip.usesRegisters, 1);
}

TEST(VGMXOperations, TimedWritesAndFlushesUseThePendingWaitOfTheirKind)
{
    VGMX log;
    VGM::PendingWaits pending{};
    pending.set(84, 300);
    pending.set(5, 11);
    log.addTimedWrite(84, pending, 0x40, 2, 9, 'W');
    ASSERT_TRUE(log.song.chips.contains(84));
    EXPECT_EQ(log.song.chips.at(84).kind, 84);
    EXPECT_EQ(log.song.chips.at(84).events.at(0), VGMXEvent::pack(300, 'W', 9, 0x40, 2));
    EXPECT_EQ(pending[84], 0u);
    EXPECT_EQ(pending[5], 11u);

    VGMX song;
    song.addEventToKind(0, 0, 0, 0, 0, 'S');
    song.addEventToKind(5, 0, 0, 0, 0, 'S');
    song.addEventToKind(102, 0, 0, 0, 0, 'S');  // no pending wait of its own
    VGM::PendingWaits waits{};
    waits.set(0, 10);
    waits.set(5, 20);
    waits.set(7, 30);  // no chip
    song.flushPending(waits, 'E');
    EXPECT_EQ(song.song.chips.at(0).events.back(), VGMXEvent::pack(10, 'E', 0, 0, 0));
    EXPECT_EQ(song.song.chips.at(5).events.back(), VGMXEvent::pack(20, 'E', 0, 0, 0));
    EXPECT_EQ(song.song.chips.at(102).events.back(), VGMXEvent::pack(0, 'E', 0, 0, 0));
    EXPECT_EQ(song.song.chips.at(5).total, 20u);
    EXPECT_EQ(waits[0], 0u);
    EXPECT_EQ(waits[5], 0u);
    EXPECT_EQ(waits[7], 30u);
    EXPECT_FALSE(song.song.chips.contains(7));

    // A wait beyond the 32-bit dt is held at its largest value.
    waits.set(0, uint64_t(1) << 40);
    song.addTimedWrite(0, waits, 1, 0, 1, 'W');
    EXPECT_EQ(song.song.chips.at(0).events.back().dt(), 0xFFFFFFFFu);
}

TEST(VGMXOperations, FinishCaptureNeedsAChip)
{
    VGMX empty;
    EXPECT_FALSE(empty.finishCapture());
    EXPECT_EQ(empty.song.loaded, 0);
    VGMX one;
    one.addEventToKind(77, 0, 0, 0, 0, 'S');
    EXPECT_TRUE(one.finishCapture());
    EXPECT_EQ(one.song.loaded, 1);
}

TEST(VGMXOperations, ResetSongEmptiesSongMessageAndPcmState)
{
    VGMX log;
    log.addEventToKind(5, 3, 1, 1, 1, 'W');
    log.song.banks.resize(2);
    log.song.loopStart = 5;
    log.song.loopEnd = 9;
    for (std::string& tag : log.song.tags)
        tag = "x";
    log.song.loaded = 1;
    log.song.speed = 2.0f;
    log.message = "old\n";
    log.pendingOkiPhrase = 3;
    log.okiTables.resize(1);
    log.segaPcm[4].playing = 1;
    log.segaPcmBankShift = 3;
    log.pwm.outputRate = 1000;
    log.pwm.cycle = 55;
    log.ym2612SamplePosition = 77;
    log.path = "kept.vgm";

    log.resetSong();
    EXPECT_TRUE(log.song.chips.empty());
    EXPECT_TRUE(log.song.banks.empty());
    EXPECT_EQ(log.song.loopStart, 0u);
    EXPECT_EQ(log.song.loopEnd, ~uint64_t(0));
    EXPECT_EQ(log.song.tags.size(), 11u);
    for (const std::string& tag : log.song.tags)
        EXPECT_TRUE(tag.empty());
    EXPECT_EQ(log.song.loaded, 0);
    EXPECT_EQ(log.song.speed, 1.0f);
    EXPECT_TRUE(log.message.empty());
    EXPECT_EQ(log.pendingOkiPhrase, -1);
    EXPECT_TRUE(log.okiTables.empty());
    EXPECT_EQ(log.segaPcm[4].playing, 0);
    EXPECT_EQ(log.segaPcmBankShift, 0u);
    EXPECT_EQ(log.pwm.outputRate, 22472u);
    EXPECT_EQ(log.pwm.cycle, 0);
    EXPECT_EQ(log.ym2612SamplePosition, 0u);
    EXPECT_EQ(log.path, "kept.vgm");
}

TEST(VGMXOperations, Ym2612SampleDataNeedsAByteBankOfType0)
{
    uint64_t size = 99;
    VGMX withoutDac;
    EXPECT_EQ(withoutDac.ym2612SampleData(size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(withoutDac.message.empty());

    VGMX noBank;
    noBank.addEventToKind(84, 0, 0, 0, 0, 'S');
    EXPECT_EQ(noBank.ym2612SampleData(size), nullptr);
    EXPECT_EQ(noBank.message, "OPN2 Data needed but no PCM data in file?\n");

    VGMX wrongType;
    wrongType.addEventToKind(84, 0, 0, 0, 0, 'S');
    wrongType.song.banks.resize(1);
    wrongType.song.banks[0].type = 4;
    wrongType.song.banks[0].raw = {1, 2};
    EXPECT_EQ(wrongType.ym2612SampleData(size), nullptr);
    EXPECT_EQ(wrongType.message, "OPN2 Data needed but no PCM data in file?\n");

    VGMX bytes;
    bytes.addEventToKind(84, 0, 0, 0, 0, 'S');
    bytes.song.banks.resize(2);
    bytes.song.banks[0].raw = {7, 8, 9};
    const uint8_t* data = bytes.ym2612SampleData(size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[2], 9);
    EXPECT_TRUE(bytes.message.empty());
}

TEST(VGMXOperations, SampleStartsAreKeptOnceInTheFirstBank)
{
    VGMX log;
    log.addSampleStart(0x40);  // no bank: only the position moves
    EXPECT_EQ(log.ym2612SamplePosition, 0x40u);
    log.song.banks.resize(2);
    log.addSampleStart(0x100);
    log.addSampleStart(0x100);
    EXPECT_EQ(log.ym2612SamplePosition, 0x100u);
    EXPECT_EQ(log.song.banks[0].sampleStarts, std::set<uint32_t>{0x100});
    EXPECT_TRUE(log.song.banks[1].sampleStarts.empty());
}

TEST(VGMXOperations, TagSettersCopyTextAndTreatNullAsEmpty)
{
    VGMX log;
    log.setTrackName("Track");
    log.setGameName("Game");
    log.setAuthor("Author");
    EXPECT_EQ(log.song.tags[0], "Track");
    EXPECT_EQ(log.song.tags[2], "Game");
    EXPECT_EQ(log.song.tags[6], "Author");
    log.setGameName(nullptr);
    log.setTrackName(nullptr);
    log.setAuthor(nullptr);
    EXPECT_EQ(log.song.tags[2], "");
    EXPECT_EQ(log.song.tags[0], "");
    EXPECT_EQ(log.song.tags[6], "");
}

TEST(VGMX, CopyConstructorCopiesOnlyTheSong)
{
    VGMX source;
    source.addEventToKind(77, 4, 1, 0, 2, 'W');
    source.song.banks.resize(1);
    source.song.loopEnd = 50;
    source.song.tags[2] = "Game";
    source.song.loaded = 1;
    source.message = "m\n";
    source.pendingOkiPhrase = 5;
    source.pwm.outputRate = 1;
    source.path = "p.zip";
    source.songEntries.resize(2);
    source.notes = {'n', 0};
    source.image = {1, 2, 3};

    const VGMX copy(source);
    EXPECT_EQ(copy.song.chips.at(77).events, source.song.chips.at(77).events);
    EXPECT_GE(copy.song.chips.at(77).events.capacity(), VGMXChip::kReservedEvents);
    EXPECT_EQ(copy.song.banks.size(), 1u);
    EXPECT_EQ(copy.song.loopEnd, 50u);
    EXPECT_EQ(copy.song.tags[2], "Game");
    EXPECT_EQ(copy.song.loaded, 1);
    EXPECT_TRUE(copy.message.empty());
    EXPECT_EQ(copy.pendingOkiPhrase, -1);
    EXPECT_EQ(copy.pwm.outputRate, 22472u);
    EXPECT_TRUE(copy.path.empty());
    EXPECT_TRUE(copy.songEntries.empty());
    EXPECT_EQ(copy.notesText(), nullptr);
    EXPECT_TRUE(copy.image.empty());
    EXPECT_EQ(copy.container, nullptr);
    EXPECT_EQ(copy.getSongCount(), 1u);
}
