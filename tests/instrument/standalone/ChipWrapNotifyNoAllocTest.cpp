// Counts every allocation of the process, so it runs alone: a burst of parameter reports costs
// one engine call per changed value, none for re-read marks, and no allocation.

#include "abi/ExtensionBlocks.h"
#include "instrument/ChipWrapFixtures.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct CountingHost
{
    PluginHostRecord record{&CountingHost::function};
    long calls = 0;
    long parameterCalls = 0;

    static intptr_t function(PluginHostRecord* host, int32_t op, intptr_t a, void*)
    {
        auto* self = reinterpret_cast<CountingHost*>(host);
        ++self->calls;
        if (op == 8 && a == 2)
            ++self->parameterCalls;
        return 0;
    }
};

TEST(ChipWrapNotifyNoAlloc, ReportsCallTheEngineOnlyForChangedValues)
{
    CountingHost host;
    chipwrap_test::Started s(48000.0, 256, 2123, false, &host.record);
    acme::ChipWrap& wrap = *s.wrap;
    std::vector<uint8_t> block(ParameterChangeBlock::kSize);
    ExtensionBlock::writeU32(block.data(), ExtensionBlock::kIdOffset, ParameterChangeBlock::kId);
    ExtensionCommandRecord r;
    r.block = block.data();
    ASSERT_EQ(wrap.handleExtensionCommand(&r), 1);
    host.calls = 0;

    // 2048 kind-1 reports over 1024 items (768-1791): each item twice, half of them with the
    // same value the second time.
    const long before = fixtures::allocationCount();
    for (uint32_t i = 0; i < 2048; ++i) {
        const uint32_t n = i % 1024;
        const bool same = i >= 1024 && n % 2 == 0;
        wrap.notifySynthParameter(n, 1, same ? float(n) + 1.0f : float(i) + 1.0f);
    }
    EXPECT_EQ(host.parameterCalls, 1024 + 512);
    for (uint32_t i = 0; i < 2048; ++i)
        wrap.notifySynthParameter(i % 1024, 2, 0.0f);
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_EQ(host.calls, 1024 + 512);
    EXPECT_EQ(ExtensionBlock::readU32(block.data(), ParameterChangeBlock::kCountOffset), 1024u);
}

}  // namespace
