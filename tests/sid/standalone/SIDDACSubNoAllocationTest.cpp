// The sampled-sound channel's firing path never allocates: every operator new of the process is
// counted over 10^5 firings in each encoding, compressor on, with the chip rendering between them.

#include "../DacTestSupport.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(SIDDACSubNoAllocationTest, FiringsAllocateNothing)
{
    fixtures::DacSampleBuilder b;
    b.sine(20000, 44100, 440.0).marker(0, DacSampleRecord::kNoteMarker, 0);
    for (float mode : {0.0f, 1.0f, 2.0f, 3.0f}) {
        dactest::Rig r;
        r.writer.recording = false;
        r.attach(b);
        r.set(SID_DAC_sub::kDacMode, mode);
        r.set(SID_DAC_sub::kLoopMode, 2);
        r.set(SID_DAC_sub::kCompressorSwitch, 1.0f);
        r.out.resize(1 << 20);
        r.dac.noteOn(36, 1.0f);
        r.run(1000);

        const long before = fixtures::allocationCount();
        uint64_t firings = 0;
        size_t at = 0;
        while (firings < 100000) {
            if (r.scheduler.isFrontFired())
                ++firings;  // this advance fires the channel
            const uint64_t n = r.scheduler.advance(4096);
            int32_t* channels[1] = {r.out.data() + at};
            r.writer.chip().render(channels, n);
            at = (at + n) % (r.out.size() - 4096);
        }
        r.dac.noteOff();
        r.dac.noteOn(37, 1.0f);
        EXPECT_EQ(fixtures::allocationCount(), before) << "mode " << mode;
    }
}

}  // namespace
