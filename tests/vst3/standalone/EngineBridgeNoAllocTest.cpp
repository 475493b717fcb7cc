// Counts every allocation of the process, so it runs alone: once started, the wrapper's process
// and parameter calls, and the engine's opcode 42 with the module behind it, allocate nothing.

#include "tests/vst3/EngineHome.h"

#include "platform/ParameterInfo.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace enginehome;
using namespace vantor::engine;

using EngineBridgeNoAlloc = EngineHome;

TEST_F(EngineBridgeNoAlloc, ProcessAndParameterCallsAllocateNothing)
{
    vantor::TARNWrapper& w = startedWrapper(48000, 256);
    hook(kHookReset, nullptr, 0);  // no call log; the module renders
    TestParameter integer;
    integer.info = ParameterInfo("Osc1 Octave", ParameterInfo::Integer, 0.0f, 127.0f, 0.0f, 0, 0);
    hook(kHookSetParameter, &integer, 3);

    auto events = std::make_unique<vantor::MIDIEvents>();
    std::vector<float> left(256), right(256);
    float* outputs[2] = {left.data(), right.data()};
    vantor::SyncInfo transport;
    transport.setDefaults();
    transport.playing = 1;

    const auto block = [&](int b) {
        vantor::HDMIDIEvent on;
        on.kind = vantor::kEventNoteOn;
        on.index = 48 + (b * 7) % 36;
        on.value = 0.7f;
        on.noteId = b;
        on.sampleOffset = uint32_t(b * 37) % 256;
        vantor::HDMIDIEvent off = on;
        off.kind = vantor::kEventNoteOff;
        off.index = 48 + ((b - 9) * 7) % 36;
        off.noteId = b - 9;
        events->events[0] = off;
        events->events[1] = on;
        events->count = 2;
        ASSERT_TRUE(w.setAutomatableParameterValue(uint64_t(b % 256), 0.25f, true));
        ASSERT_TRUE(w.setAutomatableParameterValue(3, float(b % 3) / 2.0f, true));
        bool changed = false;
        w.getAutomatableParameterValue(uint64_t((b * 5) % 256), true, changed);
        transport.ppqPosition = double(b) * 256.0 / 24000.0;
        transport.barStart = 4.0 * std::floor(transport.ppqPosition / 4.0);
        transport.prepare(256, 48000.0, nullptr, nullptr, true);
        ASSERT_TRUE(w.process(events.get(), nullptr, outputs, &transport, 256));
        events->events[0] = events->events[1] = vantor::HDMIDIEvent();
        events->count = 0;
    };
    for (int b = 0; b < 64; ++b)
        block(b);
    const long before = fixtures::allocationCount();
    for (int b = 64; b < 400; ++b)
        block(b);
    EXPECT_EQ(fixtures::allocationCount() - before, 0);
    EXPECT_EQ(log().find("E:"), std::string::npos) << log();
}

}  // namespace
