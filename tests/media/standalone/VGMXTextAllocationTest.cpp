// A long VGMX text appends to its chip's reserved events: no reallocation, no allocation per
// event.
#include "fixtures/AllocationCounter.h"

#include "media/VGMX.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(VGMXTextAllocation, AMillionEventsFitTheReservedRoom)
{
    constexpr uint32_t kEvents = 1000000;
    std::string text = "<VGMX>\n<Chip type=\"6581\" clock=\"985248\">\n";
    text.reserve(kEvents * 32);
    uint64_t total = 0;
    char line[64];
    for (uint32_t i = 0; i < kEvents; ++i) {
        const int n = std::snprintf(line, sizeof line, "<W r=\"%u\" v=\"%u\" dt=\"%u\"/>\n", i % 25,
                                    i & 0xFF, i % 7);
        text.append(line, size_t(n));
        total += i % 7;
    }
    text += "</Chip>\n</VGMX>\n";
    fixtures::TempDir dir;
    const std::string file = dir.write("long.vgmx", text);
    text = std::string();

    VGM::VGMX log;
    const long before = fixtures::allocationCount();
    ASSERT_TRUE(log.loadXml(file));
    const long allocations = fixtures::allocationCount() - before;

    const VGM::VGMXChip& sid = log.song.chips.at(77);
    ASSERT_EQ(sid.events.size(), kEvents);
    EXPECT_EQ(sid.events.capacity(), VGM::VGMXChip::kReservedEvents);
    EXPECT_LT(allocations, 100);
    EXPECT_EQ(sid.total, total);
    EXPECT_EQ(sid.events[kEvents - 1], VGMXEvent::pack((kEvents - 1) % 7, 'W', (kEvents - 1) % 25,
                                                       uint8_t(kEvents - 1), 0));
}
