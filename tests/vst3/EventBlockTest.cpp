// The block of events that goes to the engine with each process call.

#include "abi/EngineABI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using vantor::HDMIDIEvent;

TEST(EventBlock, NewBlockIsEmptyWithVersion1)
{
    // Made over dirty memory, as a member of a larger object would be.
    auto storage = std::make_unique<unsigned char[]>(sizeof(vantor::MIDIEvents));
    std::memset(storage.get(), 0xA5, sizeof(vantor::MIDIEvents));
    const auto* block = new (storage.get()) vantor::MIDIEvents();
    EXPECT_EQ(block->count, 0u);
    EXPECT_EQ(block->version, 1u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(block->events);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof block->events, [](unsigned char b) { return b == 0; }));
}

TEST(EventBlock, SortKeepsTheOrderOfEqualOffsets)
{
    const uint32_t offsets[] = {5, 0, 5, 0xFFFFFFFF, 1};
    std::vector<HDMIDIEvent> events;
    for (size_t i = 0; i < std::size(offsets); ++i) {
        HDMIDIEvent e;
        e.sampleOffset = offsets[i];
        e.index = int32_t(i);  // the order in which they were made
        events.push_back(e);
    }
    std::stable_sort(events.begin(), events.end(), vantor::midiSort);
    const uint32_t sorted[] = {0, 1, 5, 5, 0xFFFFFFFF};
    const int32_t made[] = {1, 4, 0, 2, 3};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].sampleOffset, sorted[i]) << i;
        EXPECT_EQ(events[i].index, made[i]) << i;
    }
    EXPECT_FALSE(vantor::midiSort(events[2], events[3]));
    EXPECT_FALSE(vantor::midiSort(events[3], events[2]));
}

}  // namespace
