// Twelve sampled-sound channels playing a looped 44.1 kHz sample on one scheduler at 985248
// ticks/s, as the instrument runs them, writing into twelve real chips (not rendered: the chip has
// its own benchmark). Arguments: DAC mode (0 Volume, 2 Tesslow, 3 KVRB), compressor off/on.
// Figures: firings per second, ns per firing, and x real time (scheduler seconds per wall second).

#include "sid/SID_DAC_sub.h"
#include "support/QuantumManager.h"

#include "fixtures/DacFixtures.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr double kTicksPerSecond = 985248.0;
constexpr uint64_t kTicksPerIteration = 9852;  // 10 ms
constexpr int kChannels = 12;

void BM_TwelveChannels(benchmark::State& state)
{
    const float mode = float(state.range(0));
    const float compressor = float(state.range(1));

    fixtures::DacSampleBuilder sample;
    sample.sine(44100, 44100, 440.0, 20000.0);
    for (size_t slot = 0; slot < 4; ++slot)
        sample.marker(slot, DacSampleRecord::kNoteMarker, uint32_t(slot * 11025));

    fixtures::DacWriterDouble writer(kChannels);
    writer.recording = false;
    vantor::QuantumManager scheduler;
    scheduler.setRate(kTicksPerSecond);
    std::vector<std::unique_ptr<SID_DAC_sub>> channels;
    for (int c = 0; c < kChannels; ++c) {
        auto d = std::make_unique<SID_DAC_sub>(&writer, uint64_t(c), SID_DAC_sub::kDefaultSubIndex,
                                               &scheduler, 0.000125f);
        writer.attach(uint64_t(c), d.get());
        d->setSample(sample.get());
        d->setPitch(d->getSampleRate());
        const float values[] = {mode, 2.0f, compressor};
        const uint32_t indices[] = {SID_DAC_sub::kDacMode, SID_DAC_sub::kLoopMode,
                                    SID_DAC_sub::kCompressorSwitch};
        for (int i = 0; i < 3; ++i) {
            const int32_t iv = int32_t(values[i]);
            d->setParameter(indices[i], &iv, &values[i]);
        }
        d->compressor.loadDefaults();
        d->noteOn(uint32_t(36 + c), 1.0f);
        scheduler.advance(7);  // spread the channels over the sample period
        channels.push_back(std::move(d));
    }

    uint64_t firings = 0;
    uint64_t ticks = 0;
    for (auto _ : state) {
        uint64_t left = kTicksPerIteration;
        while (left > 0) {
            firings += scheduler.isFrontFired() ? 1 : 0;
            left -= scheduler.advance(left);
        }
        ticks += kTicksPerIteration;
    }
    benchmark::DoNotOptimize(writer.chip(0).registerImage(24));
    state.counters["firings/s"] = benchmark::Counter(double(firings), benchmark::Counter::kIsRate);
    state.counters["s/firing"] =
        benchmark::Counter(double(firings), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x realtime"] =
        benchmark::Counter(double(ticks) / kTicksPerSecond, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_TwelveChannels)
    ->ArgNames({"mode", "compressor"})
    ->ArgsProduct({{0, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
