// Counts every allocation of the process, so it runs alone: once warmed up, the processor's
// process step with notes, expressions, parameter changes and transport allocates nothing, nor
// does it with more events than a block takes or an engine failing every call (those errors are
// counted, and written later; switching processing with them pending allocates nothing either),
// and a corrupt state's length allocates nothing large.

#include "tests/vst3/EngineHome.h"
#include "tests/vst3/ProcessDoubles.h"
#include "vst3/plugprocessor.h"

#include "platform/ParameterInfo.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace enginehome;
using namespace vantor::engine;
using namespace processdoubles;

using PlugProcessorNoAlloc = EngineHome;

TEST_F(PlugProcessorNoAlloc, SteadyProcessAllocatesNothing)
{
    HostApplication host;
    IPtr<PlugProcessor> p(new PlugProcessor, false);
    ASSERT_EQ(p->initialize(&host), kResultOk) << log();
    ProcessSetup setup{kRealtime, kSample32, 256, 48000.0};
    ASSERT_EQ(p->setupProcessing(setup), kResultOk);
    hook(kHookReset, nullptr, 0);  // no call log; the module renders
    TestParameter integer;
    integer.info = ParameterInfo("Osc1 Octave", ParameterInfo::Integer, 0.0f, 127.0f, 0.0f, 0, 0);
    hook(kHookSetParameter, &integer, 3);

    std::vector<float> left(256), right(256);
    float* channels[2] = {left.data(), right.data()};
    AudioBusBuffers bus;
    bus.numChannels = 2;
    bus.channelBuffers32 = channels;
    ProcessContext context = {};
    context.state = ProcessContext::kTempoValid | ProcessContext::kPlaying | ProcessContext::kProjectTimeMusicValid;
    context.tempo = 120.0;
    context.sampleRate = 48000.0;
    // The host's lists are made before counting; the processor only reads them.
    std::vector<Events> events;
    std::vector<Changes> changes;
    for (int b = 0; b < 400; ++b) {
        events.emplace_back(std::vector<Event>{noteOff(int16(48 + ((b - 9) * 7) % 36), 0, 0.5f, b - 9, (b * 13) % 256),
                                               noteOn(int16(48 + (b * 7) % 36), 0, 0.7f, b, (b * 37) % 256),
                                               noteOn(int16(60 + b % 12), 1, 0.7f, -1, 3),
                                               expression(2, 0.6, b, 5)});
        changes.emplace_back(std::vector<Queue>{Queue(3, {{0, double(b % 3) / 2.0}}), Queue(10001, {{7, 0.5}}),
                                                Queue(12064, {{9, 0.75}})});
    }
    const auto block = [&](int b) {
        ProcessData data;
        data.numSamples = 256;
        data.numOutputs = 1;
        data.outputs = &bus;
        data.inputEvents = &events[size_t(b)];
        data.inputParameterChanges = &changes[size_t(b)];
        context.projectTimeMusic = double(b) * 256.0 / 24000.0;
        data.processContext = &context;
        ASSERT_EQ(p->process(data), kResultOk);
    };
    for (int b = 0; b < 64; ++b)
        block(b);
    const long before = fixtures::allocationCount();
    for (int b = 64; b < 400; ++b)
        block(b);
    EXPECT_EQ(fixtures::allocationCount() - before, 0);
    EXPECT_EQ(log().find("E:"), std::string::npos) << log();
}

TEST_F(PlugProcessorNoAlloc, SurplusEventsAndAFailingEngineAllocateNothing)
{
    HostApplication host;
    IPtr<PlugProcessor> p(new PlugProcessor, false);
    ASSERT_EQ(p->initialize(&host), kResultOk) << log();
    hook(kHookReset, nullptr, 0);
    std::vector<float> left(256), right(256);
    float* channels[2] = {left.data(), right.data()};
    AudioBusBuffers bus;
    bus.numChannels = 2;
    bus.channelBuffers32 = channels;
    std::vector<Event> notes;
    for (int i = 0; i < 3000; ++i)
        notes.push_back(noteOn(int16(i % 128), 0, 0.5f, i, (i * 7) % 256));
    Events events(notes);
    Changes changes({Queue(3, {{0, 0.5}}), Queue(10001, {{7, 0.5}})});
    const auto block = [&] {
        ProcessData data;
        data.numSamples = 256;
        data.numOutputs = 1;
        data.outputs = &bus;
        data.inputEvents = &events;
        data.inputParameterChanges = &changes;
        ASSERT_EQ(p->process(data), kResultOk);
    };
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing);
        if (failing)
            for (int32_t opcode : {42, 37, 17})
                forceStatus(opcode, 4);
        for (int b = 0; b < 8; ++b)
            block();
        p->setActive(false);
        captured.str("");
        const long before = fixtures::allocationCount();
        for (int b = 0; b < 100; ++b)
            block();
        // A host may switch processing on its processing thread, with the errors pending.
        EXPECT_EQ(p->setProcessing(false), kResultOk);
        EXPECT_EQ(p->setProcessing(true), kResultOk);
        EXPECT_EQ(fixtures::allocationCount() - before, 0);
        EXPECT_EQ(log().find("E:"), std::string::npos) << log();
        p->setActive(false);
        EXPECT_TRUE(logged("E:Too many events! (100 times)")) << log();
        EXPECT_EQ(logged("E:engine error:4 (300 times)"), bool(failing)) << log();
    }
}

TEST_F(PlugProcessorNoAlloc, CorruptStateLengthsAllocateNothingLarge)
{
    HostApplication host;
    IPtr<PlugProcessor> p(new PlugProcessor, false);
    ASSERT_EQ(p->initialize(&host), kResultOk) << log();
    uint8_t huge[8] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<uint8_t> ccnk(200, 0);
    std::memcpy(ccnk.data(), "CcnK", 4);
    ccnk[156] = 0xFF;
    const long large = fixtures::largeAllocationCount();
    MemoryStream plain(huge, sizeof huge);
    EXPECT_EQ(p->setState(&plain), kResultFalse);
    MemoryStream old(ccnk.data(), Steinberg::TSize(ccnk.size()));
    EXPECT_EQ(p->setState(&old), kResultFalse);
    EXPECT_EQ(fixtures::largeAllocationCount(), large);
    EXPECT_FALSE(p->bypass.load());
}

}  // namespace
