// What the instrument writes into the engine's shared blocks: the sub-command 0 formats, texts,
// and the parameter-change rules. Blocks start filled with 0xA5 so that untouched bytes show.

#include "instrument/ExtensionBlockFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace ExtensionBlock;

std::vector<uint8_t> filled(size_t size)
{
    return std::vector<uint8_t>(size, 0xA5);
}

bool allEqual(const std::vector<uint8_t>& b, size_t from, size_t to, uint8_t v)
{
    return std::all_of(b.begin() + from, b.begin() + to, [v](uint8_t x) { return x == v; });
}

TEST(ExtensionBlockFormats, SubCommandZeroFormats)
{
    auto canvas = filled(PixelCanvasBlock::kSize);
    formatCanvas(canvas.data());
    writeCanvasSize(canvas.data(), 272, 0x10180);  // low 16 bits only
    EXPECT_EQ(readU32(canvas.data(), 0), 35607u);
    EXPECT_EQ(readU32(canvas.data(), 4), 308012u);
    EXPECT_EQ(readU32(canvas.data(), 8), 0xA5A5A5A5u);
    EXPECT_EQ(readU32(canvas.data(), 0x0C), 0u);
    EXPECT_EQ(readU16(canvas.data(), 0x28), 0x180);
    EXPECT_EQ(readU16(canvas.data(), 0x2A), 272);
    EXPECT_TRUE(allEqual(canvas, 0x2C, 0x32C, 0xA5));  // palettes are the controller's
    EXPECT_TRUE(allEqual(canvas, 0x32C, canvas.size(), 0));

    auto changes = filled(ParameterChangeBlock::kSize);
    formatParameterChange(changes.data());
    EXPECT_EQ(readU32(changes.data(), 4), 32768u);
    EXPECT_EQ(readU32(changes.data(), 8), 1000u);
    EXPECT_EQ(readU32(changes.data(), 0x0C), 8u);
    EXPECT_TRUE(allEqual(changes, 0x20, changes.size(), 0));
    EXPECT_TRUE(allEqual(changes, 0x10, 0x20, 0xA5));

    auto routing = filled(RoutingTextBlock::kSize);
    formatRoutingText(routing.data());
    EXPECT_EQ(readU32(routing.data(), 0), 0xA5A5A5A5u);
    EXPECT_EQ(readU32(routing.data(), 4), 32768u);
    EXPECT_EQ(readU32(routing.data(), 8), 2068u);
    EXPECT_EQ(readU32(routing.data(), 0x0C), 0x38u);
    EXPECT_TRUE(allEqual(routing, 0x20, routing.size(), 0));

    auto steps = filled(StepTableBlock::kSize);
    formatStepTable(steps.data());
    EXPECT_EQ(readU32(steps.data(), 0), 22362u);
    EXPECT_EQ(readU32(steps.data(), 4), 64u);
    EXPECT_EQ(readU32(steps.data(), 0x0C), (0xA5A5A5A5u & ~0x11u) | 0x10u);
    EXPECT_EQ(std::vector<uint8_t>(steps.begin() + 0x20, steps.begin() + 0x24),
              (std::vector<uint8_t>{0, 0, 0x7F, 0}));
    EXPECT_EQ(readU16(steps.data(), 0x24), 32);
    EXPECT_EQ(readU16(steps.data(), 0x26), 0);
    EXPECT_TRUE(allEqual(steps, 0x40, steps.size(), 0));

    for (const uint64_t key : {0u, 1u, 2u, 5u}) {
        auto slot = filled(TextSlotBlock::kSize);
        writeU32(slot.data(), 0x0C, 0x01);
        formatTextSlot(slot.data(), key);
        EXPECT_EQ(readU32(slot.data(), 4), 32288u) << key;
        EXPECT_EQ(readU32(slot.data(), 8), 1818u) << key;
        EXPECT_EQ(readU32(slot.data(), 0x0C), key == 0 || key == 2 ? 0x31u : 0x01u) << key;
        EXPECT_TRUE(allEqual(slot, 0x20, slot.size(), 0)) << key;
    }

    auto sample = filled(SampleBlock::kSize);
    formatSample(sample.data());
    EXPECT_EQ(readU32(sample.data(), 0), 47731u);
    EXPECT_EQ(readU32(sample.data(), 4), 32u);
    EXPECT_EQ(readU32(sample.data(), 0x0C), (0xA5A5A5A5u & ~0x11u) | 0x10u);
    EXPECT_EQ(readU32(sample.data(), 0x20), 0u);
    EXPECT_EQ(readU32(sample.data(), 0x24), 0xA5A5A5A5u);  // the rate is the engine's
    EXPECT_EQ(readU32(sample.data(), 0x30), 0u);
    EXPECT_TRUE(allEqual(sample, 0x40, 0x2C0, 0xA5));  // markers untouched
    EXPECT_TRUE(allEqual(sample, 0x2C0, sample.size(), 0));
}

TEST(ExtensionBlockFormats, TextsAreCutToTheirAreas)
{
    auto routing = filled(RoutingTextBlock::kSize);
    writeU32(routing.data(), 0x0C, 0x01);
    const std::string long40000(40000, 'r');
    EXPECT_EQ(writeRoutingText(routing.data(), long40000.c_str()), 32255u);
    EXPECT_EQ(readU32(routing.data(), 4), 32287u);
    EXPECT_EQ(readU32(routing.data(), 8), 2068u);
    EXPECT_EQ(readU32(routing.data(), 0x0C), 0x39u);
    EXPECT_EQ(routing.back(), 0);
    EXPECT_EQ(readRoutingText(routing.data()), std::string(32255, 'r'));
    EXPECT_EQ(writeRoutingText(routing.data(), ""), 0u);
    EXPECT_TRUE(allEqual(routing, 0x20, routing.size(), 0));
    EXPECT_EQ(readU32(routing.data(), 4), 32u);

    // Sub-command 2 of the routing text: flags 0x30, the used length.
    auto applied = filled(RoutingTextBlock::kSize);
    writeU32(applied.data(), 0x0C, 0);
    markRoutingTextApplied(applied.data(), 3);
    EXPECT_EQ(readU32(applied.data(), 4), 35u);
    EXPECT_EQ(readU32(applied.data(), 0x0C), 0x30u);

    auto slot = filled(TextSlotBlock::kSize);
    EXPECT_EQ(writeSlotText(slot.data(), "T"), 1u);
    EXPECT_EQ(readSlotText(slot.data()), "T");
    EXPECT_TRUE(allEqual(slot, 0x21, slot.size(), 0));
    EXPECT_EQ(writeSlotText(slot.data(), nullptr), 0u);
    EXPECT_EQ(readSlotText(slot.data()), "");

    auto path = filled(FilePathBlock::kMinSize);
    EXPECT_EQ(writePath(path.data(), std::string(600, 'p').c_str()), 511u);
    EXPECT_EQ(readPath(path.data()), std::string(511, 'p'));
    EXPECT_TRUE(allEqual(path, 0, 0x220, 0xA5));

    // Texts the engine leaves unterminated end with their areas.
    auto open = filled(FilePathBlock::kMinSize);
    EXPECT_EQ(readPath(open.data()), std::string(512, '\xA5'));
    auto openSlot = filled(TextSlotBlock::kSize);
    EXPECT_EQ(readSlotText(openSlot.data()).size(), 32256u);
    EXPECT_EQ(readRoutingText(openSlot.data()).size(), 32256u);
}

TEST(ExtensionBlockFormats, ChangedValuesAndRereadMarks)
{
    std::vector<uint8_t> b(ParameterChangeBlock::kSize, 0);
    auto value = [&](uint16_t item) { return readF32(b.data(), 0x1020 + 4 * size_t(item)); };
    auto count = [&] { return readU32(b.data(), 0x3020); };

    EXPECT_TRUE(storeChangedValue(b.data(), 900, 0.5f));
    EXPECT_FALSE(storeChangedValue(b.data(), 900, 0.5f));
    EXPECT_EQ(value(900), 0.5f);
    EXPECT_FALSE(storeChangedValue(b.data(), 901, 0.0f));  // the table starts at 0.0
    EXPECT_TRUE(storeChangedValue(b.data(), 902, NAN));
    EXPECT_TRUE(storeChangedValue(b.data(), 902, NAN));
    EXPECT_FALSE(storeChangedValue(b.data(), 2048, 1.0f));
    EXPECT_EQ(count(), 0u);

    markForReread(b.data(), 1215);
    markForReread(b.data(), 1215);
    EXPECT_EQ(count(), 1u);
    EXPECT_EQ(readU16(b.data(), 0x20), 1215);
    EXPECT_EQ(value(1215), 8388608.0f);
    EXPECT_TRUE(storeChangedValue(b.data(), 1215, 0.25f));  // any value differs from the marker
    markForReread(b.data(), 2048);
    markForReread(b.data(), 0xFFFF);
    EXPECT_EQ(count(), 1u);

    // A full list takes nothing more; a corrupt count is searched only as far as the list goes.
    writeU32(b.data(), 0x3020, 2048);
    markForReread(b.data(), 7);
    EXPECT_EQ(count(), 2048u);
    EXPECT_EQ(value(7), 8388608.0f);
    writeU32(b.data(), 0x3020, 0xFFFFFFFF);
    markForReread(b.data(), 8);
    EXPECT_EQ(count(), 0xFFFFFFFFu);

    writeU32(b.data(), 0x0C, 0x77);
    clearParameterChanges(b.data());
    EXPECT_TRUE(allEqual(b, 0x20, b.size(), 0));
    EXPECT_EQ(readU32(b.data(), 0x0C), 8u);
}

}  // namespace
