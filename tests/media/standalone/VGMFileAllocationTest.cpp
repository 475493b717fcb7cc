// A long VGM log appends to its chips' reserved events: each chip record reserves its room once,
// nothing is allocated per command.
#include "fixtures/AllocationCounter.h"

#include "media/VGMX.h"

#include "fixtures/VgmBuilder.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

TEST(VGMFileAllocation, EachChipReservesItsRoomOnce)
{
    constexpr uint32_t kWrites = 1000000;  // per chip
    fixtures::VgmBuilder vgm;
    vgm.clock(fixtures::VgmBuilder::kSn76489, 3579545).clock(fixtures::VgmBuilder::kYm2612, 7670453);
    std::vector<uint8_t> commands;
    commands.reserve(kWrites * 6);
    for (uint32_t i = 0; i < kWrites; ++i)
        commands.insert(commands.end(), {0x50, uint8_t(i), 0x52, uint8_t(i % 0xB0), uint8_t(i >> 8), 0x70});
    vgm.raw(commands, kWrites).end();
    const std::vector<uint8_t> bytes = vgm.build();
    commands = {};

    VGM::VGMX log;
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    const long before = fixtures::allocationCount();
    const long largeBefore = fixtures::largeAllocationCount();
    ASSERT_TRUE(VGM::readVgm(log, source, true)) << log.message;
    const long allocations = fixtures::allocationCount() - before;

    // Two chips and the sixteen DAC channels that a log without PCM chips starts with.
    EXPECT_EQ(fixtures::largeAllocationCount() - largeBefore, 2 + 16);
    EXPECT_LT(allocations, 200);
    for (int32_t kind : {0, 5}) {
        const VGM::VGMXChip& chip = log.song.chips.at(kind);
        EXPECT_EQ(chip.events.size(), kWrites + 2u) << kind;
        EXPECT_EQ(chip.events.capacity(), VGM::VGMXChip::kReservedEvents) << kind;
        EXPECT_EQ(chip.total, kWrites) << kind;
    }

    // A second read into the same log takes the room of the chips the first one made.
    const long largeBeforeAgain = fixtures::largeAllocationCount();
    vantor::VirtualRAMFile again(bytes.data(), bytes.size());
    ASSERT_TRUE(VGM::readVgm(log, again, true)) << log.message;
    EXPECT_EQ(fixtures::largeAllocationCount(), largeBeforeAgain);
    EXPECT_EQ(log.song.chips.at(5).events.size(), kWrites + 2u);
}
