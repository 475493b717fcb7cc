// Counts every allocation of the process, so it runs alone: once started, the instance's process
// calls (zero-frame blocks too) allocate nothing, and a busy mutex never blocks them.

#include "fixtures/ModuleEventBuilders.h"
#include "instrument/ChipWrapFixtures.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using fixtures::moduleEvent;

TEST(ChipWrapNoAlloc, SteadyBlocksAllocateNothing)
{
    chipwrap_test::Started s(48000.0, 256, 2123, false);
    acme::ChipWrap& wrap = *s.wrap;
    PluginEntryRecord* entry = s.entry;

    auto in = std::make_unique<ModuleEvents>();
    auto out = std::make_unique<ModuleEvents>();
    std::vector<float> left(256), right(256);
    float* outputs[2] = {left.data(), right.data()};
    vantor::SyncInfo transport;
    transport.tempo = 120.0;

    auto block = [&](int b) {
        const uint32_t frames = b % 5 == 4 ? 0 : 256;
        uint64_t n = 0;
        const uint32_t at = frames ? uint32_t(b * 37) % frames : 0;
        in->events[n++] = moduleEvent(0x390, 48 + (b * 7) % 36, 0.7f, at);
        in->events[n++] = moduleEvent(0x480, 48 + ((b - 9) * 7) % 36, 0.0f, at);
        in->events[n++] = fixtures::itemEvent(128, float((b % 9) - 4) / 4.0f, at);
        in->events[n++] = fixtures::itemEvent(768 + 97, float(b % 2048), at);  // filter cutoff
        in->events[n++] = fixtures::itemEvent(384 + 5, 1.0f, at);              // media speed
        // Deferred in zero-frame blocks.
        in->events[n++] = fixtures::rawMidiEvent(0xB0, 1, uint8_t(b & 127), at);
        for (; n < 600; ++n)
            in->events[n] = fixtures::itemEvent(1000, 0.5f, at);
        in->count = n;
        out->count = 0;
        entry->process(entry, outputs, int32_t(frames), in.get(), b % 3 ? out.get() : nullptr,
                       b % 4 ? &transport : nullptr);
    };

    for (int b = 0; b < 40; ++b)
        block(b);
    const long before = fixtures::allocationCount();
    for (int b = 40; b < 400; ++b)
        block(b);
    EXPECT_EQ(fixtures::allocationCount(), before);

    ASSERT_TRUE(wrap.getMutex().lock());
    block(401);  // must not wait for the lock
    wrap.getMutex().unlock();
    EXPECT_EQ(fixtures::allocationCount(), before);
}

TEST(ChipWrapNoAlloc, CarriedAndDisorderedEventsAllocateNothing)
{
    chipwrap_test::Started s(48000.0, 256, 2123, false);
    acme::ChipWrap& wrap = *s.wrap;
    PluginEntryRecord* entry = s.entry;
    auto in = std::make_unique<ModuleEvents>();
    auto out = std::make_unique<ModuleEvents>();
    std::vector<float> left(4096), right(4096);
    float* outputs[2] = {left.data(), right.data()};
    auto block = [&](uint32_t frames, uint32_t kind) {
        // 2048 events, last offset first, past the block at the start.
        for (uint32_t i = 0; i < 2048; ++i)
            in->events[i] = moduleEvent(kind, int32_t(36 + i % 60), 0.7f, 2 * (2047 - i));
        in->count = 2048;
        entry->process(entry, outputs, int32_t(frames), in.get(), out.get(), nullptr);
    };
    block(256, 0x390);
    block(256, 0x480);

    const long before = fixtures::allocationCount();
    ASSERT_TRUE(wrap.getMutex().lock());
    block(256, 0x390);  // fills the carry list
    block(256, 0x480);  // every note-off takes a note-on's place
    wrap.getMutex().unlock();
    EXPECT_EQ(wrap.carriedEvents(), 2048u);
    block(4096, 0xB0);  // 4096 deliveries over 16 segments
    block(0, 0x390);
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_EQ(wrap.carriedEvents(), 0u);
}

TEST(ChipWrapNoAlloc, EveryControllerItemAtItsExtremesAllocatesNothing)
{
    chipwrap_test::Started s(48000.0, 256, 2123, false);
    PluginEntryRecord* entry = s.entry;
    auto in = std::make_unique<ModuleEvents>();
    auto out = std::make_unique<ModuleEvents>();
    std::vector<float> left(256), right(256);
    float* outputs[2] = {left.data(), right.data()};
    auto block = [&](uint32_t frames, std::initializer_list<vantor::HDMIDIEvent> events) {
        in->count = 0;
        for (const vantor::HDMIDIEvent& e : events)
            in->events[in->count++] = e;
        entry->process(entry, outputs, int32_t(frames), in.get(), out.get(), nullptr);
    };
    block(256, {moduleEvent(0x390, 60, 0.8f)});
    for (int b = 0; b < 4; ++b)
        block(256, {});

    // Items 0-261, the output settings 256-261 (clock, cutoffs, detune, output stage, resampler
    // quality) among them, over their ranges and beyond, each inside a block that renders on at
    // the new value; the other items all in one block per value.
    const float kValues[] = {-INFINITY, -1e30f, -2400.0f, -1200.0f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f,
                             3.0f, 4.4f, 10.0f, 1200.0f, 2400.0f, 24000.0f, 1e30f, INFINITY, NAN};
    const long before = fixtures::allocationCount();
    for (int32_t item = 0; item < 262; ++item)
        for (const float v : kValues)
            block(64, {fixtures::itemEvent(item, v, 16)});
    for (const float v : kValues) {
        in->count = 0;
        for (int32_t item = 262; item < int32_t(kControllerItems); ++item)
            in->events[in->count++] = fixtures::itemEvent(item, v, uint32_t(item) % 64);
        entry->process(entry, outputs, 64, in.get(), out.get(), nullptr);
    }
    // The slowest resampler: the fastest clock at the largest detune at quality 10, and back.
    block(256, {fixtures::itemEvent(256, 3.0f), fixtures::itemEvent(259, 1e30f),
                fixtures::itemEvent(261, 10.0f, 128)});
    block(256, {fixtures::itemEvent(261, 0.0f), fixtures::itemEvent(259, -1e30f),
                fixtures::itemEvent(256, 4.0f, 128)});
    EXPECT_EQ(fixtures::allocationCount(), before);
}

}  // namespace
