// Counts every allocation of the process, so it runs alone: once started, the instance's process
// calls (zero-frame blocks too) allocate nothing, and a busy mutex never blocks them.

#include "fixtures/ModuleEventBuilders.h"
#include "instrument/ChipWrapFixtures.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

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

}  // namespace
