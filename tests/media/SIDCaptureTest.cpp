#include "media/SIDCapture.h"
#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kPalSecondsPerFrame = 19656.0 / kPalMachineClock;

// Frames with voice v's gate on in [start, end) for each note; gates off elsewhere.
struct Note
{
    int voice;
    uint64_t start;
    uint64_t end;
};

std::vector<SID_shadow> framesWithNotes(uint64_t count, const std::vector<Note>& notes)
{
    std::vector<SID_shadow> frames(count);
    for (const Note& note : notes)
        for (uint64_t i = note.start; i < note.end && i < count; ++i)
            frames[i].regs[4 + 7 * note.voice] |= 1;
    return frames;
}

// Frames numbered through register 0, so that a copy can be told apart.
void number(std::vector<SID_shadow>& frames)
{
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i].regs[0] = uint8_t(i);
}

struct Item
{
    std::vector<SID_shadow> frames;
    uint64_t mask = 99;
    std::string label = "unset";
};

Item collect(const std::vector<SID_shadow>& frames, uint64_t index)
{
    Item item;
    collectCaptureItem(frames, item.frames, index, item.mask, &item.label, kPalSecondsPerFrame);
    return item;
}

TEST(CaptureItems, VoicesStartingAndEndingTogetherShareAnItem)
{
    // Voices 0 and 1 play notes at 10 and 40, voice 2 at 10 and 41: the segments [10, 40) of
    // voices 0-1 and [10, 41) of voice 2 are separate items, keyed by first then end frame.
    auto frames = framesWithNotes(60, {{0, 10, 20}, {0, 40, 50}, {1, 10, 30}, {1, 40, 60},
                                       {2, 10, 15}, {2, 41, 60}});
    number(frames);
    const Item first = collect(frames, 0);
    EXPECT_EQ(first.mask, 3u);
    ASSERT_EQ(first.frames.size(), 30u);
    EXPECT_EQ(first.frames.front().regs[0], 10);
    EXPECT_EQ(first.frames.back().regs[0], 39);
    EXPECT_EQ(first.label, "00:00 - 30 Frames [10:39] CH:12");
    const Item second = collect(frames, 1);
    EXPECT_EQ(second.mask, 4u);
    ASSERT_EQ(second.frames.size(), 31u);
    EXPECT_EQ(second.frames.front().regs[0], 10);
    EXPECT_EQ(second.label, "00:00 - 31 Frames [10:40] CH:3");
    // Items 2.. are the notes running to the end: [40, 60) of voices 0-1, [41, 60) of voice 2.
    EXPECT_EQ(collect(frames, 2).mask, 3u);
    EXPECT_EQ(collect(frames, 3).mask, 4u);
    EXPECT_EQ(collect(frames, 4).label, "Not a full frame!");
}

TEST(CaptureItems, LabelGivesMinutesAndSecondsOfTheFirstFrame)
{
    // 3100 frames of 19656 cycles are 61.84 s: a note starting there reads 01:01.
    auto frames = framesWithNotes(3200, {{1, 3100, 3200}});
    EXPECT_EQ(collect(frames, 0).label, "01:01 - 100 Frames [3100:3199] CH:2");
}

TEST(CaptureItems, GateChangedFlagStartsANoteWhileTheGateStaysOn)
{
    auto frames = framesWithNotes(12, {{2, 0, 12}});
    frames[5].gateChanged[2] = 1;
    number(frames);
    const Item item = collect(frames, 1);
    EXPECT_EQ(item.mask, 4u);
    ASSERT_EQ(item.frames.size(), 7u);
    EXPECT_EQ(item.frames.front().regs[0], 5);
    EXPECT_EQ(collect(frames, 0).frames.size(), 5u);  // [0, 5)
}

TEST(CaptureItems, OneFrameNoteMakesNoItem)
{
    // Notes at 3 and 4: [3, 4) is dropped, [4, 10) stays.
    auto frames = framesWithNotes(10, {{0, 3, 4}, {0, 4, 10}});
    frames[4].gateChanged[0] = 1;
    number(frames);
    const Item item = collect(frames, 0);
    ASSERT_EQ(item.frames.size(), 6u);
    EXPECT_EQ(item.frames.front().regs[0], 4);
    EXPECT_EQ(collect(frames, 1).label, "Not a full frame!");
}

TEST(CaptureItems, PastTheItemsGivesTheWholeCapture)
{
    struct Case
    {
        uint64_t frames;
        size_t out;
        const char* label;
    };
    for (const Case c : {Case{3, 1, "Not a full frame!"}, Case{1, 1, "All captured data"},
                         Case{0, 0, "All captured data"}}) {
        auto frames = framesWithNotes(c.frames, {});
        const Item item = collect(frames, 0);
        EXPECT_EQ(item.mask, 7u) << c.frames;
        EXPECT_EQ(item.frames.size(), c.out) << c.frames;
        EXPECT_EQ(item.label, c.label) << c.frames;
    }
    // No label asked: the frames still come.
    std::vector<SID_shadow> out(5);
    uint64_t mask = 0;
    collectCaptureItem(framesWithNotes(1, {}), out, 9, mask, nullptr, kPalSecondsPerFrame);
    EXPECT_EQ(out.size(), 1u);
}

TEST(StepLoops, ShortestRepeatingTailWins)
{
    struct Case
    {
        std::vector<int> values;
        bool found;
        uint64_t in, out;
    };
    const Case cases[] = {
        {{1, 2, 3, 1, 2, 3, 1, 2, 3}, true, 0, 2},
        {{5, 5, 1, 2, 1, 2, 1, 2}, true, 2, 3},
        {{1, 2, 3, 4, 5}, false, 4, 4},                  // fewer than six values
        {{1, 2, 3, 4, 5, 6, 7}, false, 6, 6},
        {{7, 7, 7, 7, 7, 7}, true, 0, 1},                 // period 1 is never tried
        {{9, 1, 2, 3, 4, 1, 2, 3, 4}, false, 8, 8},       // period n / 2 is not tried
    };
    for (const Case& c : cases) {
        uint64_t in = 0, out = 0;
        EXPECT_EQ(findStepLoop(c.values, c.values.size() - 1, in, out), c.found) << c.values.size();
        EXPECT_EQ(in, c.in) << c.values.size();
        EXPECT_EQ(out, c.out) << c.values.size();
    }
    // Only values up to lastIndex take part; bits loop like the other element types.
    const std::vector<bool> bits = {true, false, true, false, true, false, true, true, true};
    uint64_t in = 0, out = 0;
    EXPECT_TRUE(findStepLoop(bits, 5, in, out));
    EXPECT_EQ(in, 0u);
    EXPECT_EQ(out, 1u);
    const std::vector<int8_t> bytes = {-1, 4, -1, 4, -1, 4};
    EXPECT_TRUE(findStepLoop(bytes, 5, in, out));
    EXPECT_EQ(in, 0u);
}

TEST(StepDeltas, TrailingRunOfEqualDeltasKeepsOneMember)
{
    std::vector<int32_t> deltas;
    uint64_t count = 5;
    stepDeltasUnsigned16(std::vector<uint16_t>{10, 20, 30, 30, 30}, count, deltas);
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, 10, 10, 0, 0}));
    EXPECT_EQ(count, 4u);

    count = 3;
    stepDeltasUnsigned16(std::vector<uint16_t>{7, 7, 7}, count, deltas);
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(count, 0u);

    // Unsigned values are zero-extended, signed ones sign-extended.
    count = 3;
    stepDeltasUnsigned16(std::vector<uint16_t>{0, 0xFFFF, 0}, count, deltas);
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, 65535, -65535}));
    EXPECT_EQ(count, 3u);
    count = 3;
    stepDeltasSigned16(std::vector<int16_t>{0, -1, 0, 5}, count, deltas);
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, -1, 1}));  // only `count` values are read
    EXPECT_EQ(count, 3u);
}

// The registers a frame writes, and the delay that ends it, read from the stream.
struct StreamFrame
{
    std::vector<uint8_t> regs;
    std::vector<uint8_t> values;
    uint32_t delay = 0;
};

std::vector<StreamFrame> streamFrames(const VGM::VGMXChip& chip)
{
    std::vector<StreamFrame> frames;
    StreamFrame current;
    for (const VGMXEvent event : chip.events) {
        if (event.kind() == VGMXEvent::kDelay) {
            current.delay = event.dt();
            frames.push_back(current);
            current = {};
        } else {
            current.regs.push_back(event.reg());
            current.values.push_back(event.value());
        }
    }
    return frames;
}

TEST(CaptureStream, WritesTheSelectedVoicesInFullAndFillsTheFrame)
{
    std::vector<SID_shadow> frames(1);
    for (uint8_t r = 0; r < 25; ++r)
        frames[0].regs[r] = uint8_t(0xA0 + r);
    VGM::VGMX document;
    EXPECT_NE(buildCaptureStream(4, kPalMachineClockHz, frames, document, 19656), 0);
    ASSERT_EQ(document.song.chips.size(), 1u);
    const VGM::VGMXChip& chip = document.song.chips.at(77);
    EXPECT_EQ(chip.typeName, "6581");
    EXPECT_EQ(chip.displayName, "SID");
    EXPECT_EQ(chip.clock, kPalMachineClockHz);
    EXPECT_EQ(chip.rate, kPalMachineClockHz);  // dt are machine cycles
    EXPECT_EQ(chip.events.front().kind(), VGMXEvent::kWrite);  // no start marker

    const auto stream = streamFrames(chip);
    ASSERT_EQ(stream.size(), 3u);  // preamble, the frame, the closing second
    EXPECT_EQ(stream[0].regs.size(), 24u);
    EXPECT_EQ(stream[0].delay, 10u);
    EXPECT_EQ(stream[1].regs, (std::vector<uint8_t>{0, 1, 7, 8, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}));
    EXPECT_EQ(stream[1].values[14], 0xA0 + 24);
    EXPECT_EQ(stream[1].delay, 19506u);
    EXPECT_EQ(stream[2].delay, 985248u);
    // Each frame lasts exactly its cycles.
    uint64_t frameCycles = 0;
    for (size_t i = 25; i < 25 + 16; ++i)
        frameCycles += chip.events[i].dt();
    EXPECT_EQ(frameCycles, 19656u);
}

TEST(CaptureStream, FilterRoutingKeepsOnlyTheSelectedVoices)
{
    std::vector<SID_shadow> frames(1);
    frames[0].regs[23] = 0xF7;
    VGM::VGMX document;
    buildCaptureStream(5, kPalMachineClockHz, frames, document, 19656);
    const auto stream = streamFrames(document.song.chips.at(77));
    ASSERT_EQ(stream.size(), 3u);
    const auto& frame = stream[1];
    ASSERT_EQ(frame.regs[frame.regs.size() - 2], 23);
    EXPECT_EQ(frame.values[frame.values.size() - 2], 0xF5);
}

TEST(CaptureStream, EventCountsAndShortFrames)
{
    for (uint64_t n : {0u, 1u, 7u}) {
        VGM::VGMX document;
        buildCaptureStream(7, kNtscMachineClockHz, std::vector<SID_shadow>(n), document, 19656);
        EXPECT_EQ(document.song.chips.at(77).events.size(), 24 + 1 + 26 * n + 1) << n;
    }
    // Fewer cycles per frame than the frame's writes take: the delay is 0, not a wrapped value.
    for (uint64_t cycles : {0u, 100u}) {
        VGM::VGMX document;
        buildCaptureStream(7, kPalMachineClockHz, std::vector<SID_shadow>(3), document, cycles);
        const auto stream = streamFrames(document.song.chips.at(77));
        ASSERT_EQ(stream.size(), 5u);
        for (size_t i = 1; i <= 3; ++i)
            EXPECT_EQ(stream[i].delay, 0u) << cycles;
    }
}

TEST(VgmxWriter, TextReadsBackToTheSameEvents)
{
    std::vector<SID_shadow> frames(4);
    for (size_t i = 0; i < frames.size(); ++i)
        for (uint8_t r = 0; r < 25; ++r)
            frames[i].regs[r] = uint8_t(i * 31 + r * 7);
    VGM::VGMX document;
    buildCaptureStream(3, kPalMachineClockHz, frames, document, 19656);
    // A second chip with a port to show the "p" attribute survives.
    document.addEventToKind(5, 42, 0x80, 1, 0x28, VGMXEvent::kWrite);
    document.song.chips.at(5).typeName = "YM2612";
    document.song.chips.at(5).clock = 7670453;

    fixtures::TempDir dir;
    const std::string path = dir / "capture.vgmx";
    ASSERT_TRUE(VGM::writeVgmxFile(document.song, path));
    const std::string text = VGM::vgmxText(document.song);
    EXPECT_EQ(text.rfind("<VGMX>\n<Chip id=\"0\" type=\"YM2612\" clock=\"7670453\" rate=\"44100\">\n", 0), 0u);
    EXPECT_NE(text.find("<Chip id=\"1\" type=\"6581\" clock=\"985248\" rate=\"985248\">\n<W r=\"0\" v=\"0\" dt=\"10\"/>\n"),
              std::string::npos);
    EXPECT_NE(text.find("<W r=\"40\" v=\"128\" p=\"1\" dt=\"42\"/>\n"), std::string::npos);
    EXPECT_NE(text.find("<D dt=\"19456\"/>\n"), std::string::npos);

    VGM::VGMX back;
    ASSERT_TRUE(back.loadXml(path));
    EXPECT_EQ(vgmxtest::kinds(back.song), (std::vector<int32_t>{5, 77}));
    for (int32_t kind : {5, 77}) {
        const VGM::VGMXChip& want = document.song.chips.at(kind);
        const VGM::VGMXChip& got = back.song.chips.at(kind);
        EXPECT_EQ(got.events, want.events) << kind;
        EXPECT_EQ(got.clock, want.clock) << kind;
        EXPECT_EQ(got.rate, want.rate) << kind;
    }
}

TEST(VgmxWriter, FailureLeavesNoFile)
{
    VGM::VGMX document;
    buildCaptureStream(7, kPalMachineClockHz, std::vector<SID_shadow>(2), document, 19656);
    fixtures::TempDir dir;
    EXPECT_FALSE(VGM::writeVgmxFile(document.song, dir / "missing/capture.vgmx"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    // An existing file is replaced whole.
    const std::string path = dir.write("old.vgmx", std::string(100000, 'x'));
    ASSERT_TRUE(VGM::writeVgmxFile(document.song, path));
    EXPECT_EQ(std::filesystem::file_size(path), VGM::vgmxText(document.song).size());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
