// The two-channel output chain at the chip rate: scale to float, 5 Hz high-pass, low-pass at the
// host's Nyquist frequency, resampling 985248 -> 48000 Hz and re-blocking to 256 frames.
// Reports x real time (host seconds rendered per second) by resampler quality, for the one-stage
// chain (range(1) 1) and the decimating chain (range(1) 0: the low-pass the decimating chain
// uses, the high-pass after the decimator).

#include "instrument/DecimatingProvider.h"
#include "instrument/OutputFilters.h"
#include "instrument/Repackager.h"
#include "instrument/SpeexProvider.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr double kChipRate = 985248.0;
constexpr double kHostRate = 48000.0;
constexpr uint64_t kCapacity = 111472;

// Integer chip samples (a saw on channel 0, silence on channel 1), then the chip-rate stages.
class ChipStage : public SRCSubRenderer<float>
{
public:
    explicit ChipStage(bool highPass) : ints(kCapacity), highPass(highPass)
    {
        for (int c = 0; c < 2; ++c) {
            lp[c].setCutoff(kHostRate * 0.5);
            lp[c].setSampleRate(kChipRate);
            lp[c].updateCoefficients();
            hp[c].setCutoff(5.0);
            hp[c].setSampleRate(kChipRate);
            hp[c].updateCoefficients();
        }
    }
    void renderSubBlock(float** buffers, uint64_t frames) override
    {
        for (int c = 0; c < 2; ++c) {
            // As the instrument does: a silent channel with its filters at rest gives zeros.
            if (c == 1 && lp[c].getState() == 0.0 && hp[c].getState() == 0.0) {
                std::fill_n(buffers[c], frames, 0.0f);
                continue;
            }
            for (uint64_t i = 0; i < frames; ++i)
                ints[i] = c == 0 ? int32_t((phase + i * 1097) & 0xFFFFF) - 0x80000 : 0;
            if (highPass) {
                for (uint64_t i = 0; i < frames; ++i)
                    buffers[c][i] = float(ints[i]) * scale;
                hp[c].process(buffers[c], int(frames));
                lp[c].process(buffers[c], int(frames));
            } else {
                lp[c].processTicks(ints.data(), scale, buffers[c], frames);
            }
        }
        phase += frames * 1097;
    }

private:
    LPFilter lp[2];
    HPFilter hp[2];
    std::vector<int32_t> ints;
    const float scale = 4.7683693e-07f;
    uint64_t phase = 0;
    bool highPass;
};

void BM_OutputChain(benchmark::State& state)
{
    const int quality = int(state.range(0));
    const bool singleStage = state.range(1) != 0;
    SpeexProvider single;
    DecimatingProvider decimating;
    Repackager<float> repackager;
    repackager.setup(kCapacity, 2);
    if (singleStage) {
        single.setup(2, uint64_t(kChipRate), uint64_t(kHostRate), quality, true);
        repackager.setProvider(&single);
    } else {
        decimating.setup(2, uint64_t(kChipRate), uint64_t(kHostRate), quality, kCapacity);
        repackager.setProvider(&decimating);
    }
    ChipStage chip(singleStage);
    repackager.setRenderer(&chip);
    std::vector<float> left(256), right(256);
    uint64_t frames = 0;
    for (auto _ : state) {
        float* outs[2] = {left.data(), right.data()};
        repackager.pull(outs, 256);
        benchmark::DoNotOptimize(left.data());
        frames += 256;
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(frames) / kHostRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OutputChain)
    ->ArgNames({"quality", "single_stage"})
    ->ArgsProduct({{0, 4, 10}, {1, 0}})
    ->MinTime(1.0);

}  // namespace
