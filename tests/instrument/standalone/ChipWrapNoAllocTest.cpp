// Counts every allocation of the process, so it runs alone: once started, the instance's process
// calls (zero-frame blocks too) allocate nothing, and a busy mutex never blocks them.

#include "instrument/ChipWrap.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

vantor::HDMIDIEvent event(uint32_t kind, int32_t index, float value, uint32_t offset)
{
    vantor::HDMIDIEvent e;
    e.kind = kind;
    e.index = index;
    e.value = value;
    e.noteId = -1;
    e.sampleOffset = offset;
    return e;
}

TEST(ChipWrapNoAlloc, SteadyBlocksAllocateNothing)
{
    acme::ChipWrap wrap(nullptr, "C64", 3);
    PluginEntryRecord* entry = wrap.getEntryRecord();
    AudioSettingsRecord settings;
    settings.sampleRate = 48000.0;
    settings.blockSize = 256;
    entry->dispatcher(entry, kOpAudioSettingsChanged, reinterpret_cast<intptr_t>(&settings), nullptr);
    PluginInitRecord init;
    init.hostVersion = 2123;
    entry->dispatcher(entry, kOpInitWithRecord, reinterpret_cast<intptr_t>(&init), nullptr);
    MasterSettingsCommand polyphony;
    polyphony.kind = 3;
    polyphony.integerValue = 12;
    entry->dispatcher(entry, kOpMasterSettings, reinterpret_cast<intptr_t>(&polyphony), nullptr);

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
        in->events[n++] = event(0x390, 48 + (b * 7) % 36, 0.7f, at);
        in->events[n++] = event(0x480, 48 + ((b - 9) * 7) % 36, 0.0f, at);
        in->events[n++] = event(0xB0, 128, float((b % 9) - 4) / 4.0f, at);
        in->events[n++] = event(0xB0, 768 + 97, float(b % 2048), at);  // filter cutoff
        in->events[n++] = event(0xB0, 384 + 5, 1.0f, at);              // media speed
        vantor::HDMIDIEvent raw = event(0, 0, 0.0f, at);
        raw.midi[0] = 0xB0;
        raw.midi[1] = 1;
        raw.midi[2] = uint8_t(b & 127);
        raw.midiFlag = 1;  // deferred in zero-frame blocks
        in->events[n++] = raw;
        for (; n < 600; ++n)
            in->events[n] = event(0xB0, 1000, 0.5f, at);
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
