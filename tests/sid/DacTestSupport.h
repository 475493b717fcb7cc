#pragma once
// A sampled-sound channel wired to one real chip through the writer double, on its own scheduler.

#include "platform/SaturatingCast.h"
#include "sid/SID_DAC_sub.h"
#include "support/QuantumManager.h"

#include "fixtures/DacFixtures.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace dactest {

// Chip clock, as the instrument's scheduler counts ticks.
constexpr double kTicksPerSecond = 985248.0;

struct Rig {
    Rig()
    {
        writer.attach(0, &dac);
        querier.chips = {&writer.chip()};
        dac.setActivityQuerier(&querier);
        scheduler.setRate(kTicksPerSecond);
        out.assign(4096, 0);
    }

    // As the instrument passes a layer parameter: the float, and its rounding as integer.
    void set(uint32_t index, float v)
    {
        const int32_t i = vantor::saturatingCast<int32_t>(std::floor(v + 0.5f));
        dac.setParameter(index, &i, &v);
    }
    // A synth write (merged with what the channel holds).
    void synth(uint8_t reg, uint8_t value) { writer.writeRegister(0, reg, value); }
    uint8_t chipReg(uint8_t reg) { return writer.chip().registerImage(reg); }
    void attach(const fixtures::DacSampleBuilder& b)
    {
        dac.setSample(b.get());
        dac.setPitch(dac.getSampleRate());
        dac.setKeyPitch(dac.getSampleRate());
    }
    // Runs the scheduler and the chip for `ticks` ticks, the chip's output added into `out`
    // (grown as needed) from `at` on.
    void run(uint64_t ticks, size_t at = 0)
    {
        if (out.size() < at + ticks)
            out.resize(at + ticks, 0);
        while (ticks > 0) {
            const uint64_t n = scheduler.advance(ticks);
            if (n > 0) {
                int32_t* channels[1] = {out.data() + at};
                writer.chip().render(channels, n);
            }
            at += n;
            ticks -= n;
        }
    }
    void clearWrites() { writer.writes.clear(); }

    fixtures::DacWriterDouble writer{1};
    fixtures::ActivityQuerierDouble querier;
    vantor::QuantumManager scheduler;
    SID_DAC_sub dac{&writer, 0, SID_DAC_sub::kDefaultSubIndex, &scheduler};
    std::vector<int32_t> out;
};

}  // namespace dactest
