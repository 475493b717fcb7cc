// Filter throughput in emulated cycles per second (items/s), blocks of 256 cycles.
#include "sid/SIDFilter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr uint64_t kBlock = 256;
constexpr uint64_t kBlocks = 64;  // input cycles through 64 different blocks

std::vector<float> changingInput()
{
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-1.5f, 1.5f);
    std::vector<float> v(kBlock * kBlocks);
    for (auto& x : v)
        x = d(rng);
    return v;
}

std::unique_ptr<SIDChipRecord> syntheticRecord()
{
    auto r = std::make_unique<SIDChipRecord>();
    for (int i = 0; i < 16; ++i)
        r->lineRows[i] = {0.6f - 0.02f * float(i), 0.05f, 0.08f, 200.0f + 900.0f * float(i)};
    for (size_t j = 0; j < kFilterCurveSteps; ++j) {
        float* band = r->filterData.data() + j * 2 * kFilterCurveLength;
        for (size_t k = 0; k < kFilterCurveLength; ++k) {
            band[k] = float(0.6 + 0.4 * std::sin(double(k) / 400.0 + double(j)));
            band[k + kFilterCurveLength] = float(0.5 + 0.3 * std::cos(double(k) / 300.0));
        }
    }
    r->adjustinputgain = 1.2f;
    r->adjustinputbias = 0.1f;
    return r;
}

SIDFilterLinear linearFilter()
{
    SIDFilterLinear f;
    f.setRate(1000000.0f);
    f.setCutoff(600);
    f.setResonance(8);
    f.update();
    f.setFirstBlock();
    return f;
}

void LinearFilter(benchmark::State& state)
{
    const bool constant = state.range(0) != 0;
    SIDFilterLinear f = linearFilter();
    const std::vector<float> in = constant ? std::vector<float>(kBlock * kBlocks, 0.5f)
                                           : changingInput();
    std::vector<float> out(kBlock, 0.0f);
    uint64_t block = 0;
    for (auto _ : state) {
        f.process(in.data() + (block++ % kBlocks) * kBlock, out.data(), kBlock, 1.0f, 0.0f, 0.0f);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}

// The four per-cycle lines written out plainly, as the baseline for LinearFilter.
void LinearFilterPlainLoop(benchmark::State& state)
{
    const SIDFilterLinear ref = linearFilter();
    const float f = ref.getFrequencyCoefficient(), q = ref.getDamping(), gain = ref.getGain();
    // Mode gains known only at run time, as in the filter.
    volatile float modes[3] = {1.0f, 0.0f, 0.0f};
    const float lp = modes[0], bp = modes[1], hp = modes[2];
    float band = 0.0f, low = 0.0f;
    const std::vector<float> in = changingInput();
    std::vector<float> out(kBlock, 0.0f);
    uint64_t block = 0;
    for (auto _ : state) {
        const float* x = in.data() + (block++ % kBlocks) * kBlock;
        for (uint64_t i = 0; i < kBlock; ++i) {
            const float h = q * band - x[i] - low;
            band = band - f * h;
            low = low - f * band;
            out[i] += gain * (hp * h + bp * band + lp * low);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}

void MeasuredFilter(benchmark::State& state)
{
    const bool constant = state.range(0) != 0;
    const auto record = syntheticRecord();
    SIDFilter_table f;
    f.setRate(1000000.0);
    f.setRecord(record.get());
    f.reset();
    f.setCutoff(900);
    f.setResonance(6);
    f.update();
    f.updateResonance();
    const std::vector<float> in = constant ? std::vector<float>(kBlock * kBlocks, 0.5f)
                                           : changingInput();
    std::vector<float> out(kBlock, 0.0f);
    uint64_t block = 0;
    for (auto _ : state) {
        f.process(in.data() + (block++ % kBlocks) * kBlock, out.data(), kBlock, 1.0f, 0.5f, 0.0f);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}

}  // namespace

BENCHMARK(LinearFilter)->ArgName("constant")->Arg(0)->Arg(1);
BENCHMARK(LinearFilterPlainLoop);
BENCHMARK(MeasuredFilter)->ArgName("constant")->Arg(0)->Arg(1);
