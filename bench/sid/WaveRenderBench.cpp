// Oscillator renderer throughput: emulated chip cycles per second per table family.
// items_per_second = cycles/s; "time/cycle" is the time per voice-cycle.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "sid/SIDVoice.h"
#include "sid/WaveRender.h"

namespace {

constexpr uint32_t kFrequency = 7493;        // 440 Hz on a PAL chip
constexpr uint32_t kSourceFrequency = 5021;  // hard-sync source
constexpr int64_t kLongest = 4096;

struct Tables {
    std::vector<uint16_t> t3, t5, t6, t7;
    Tables() : t3(4096), t5(4096), t6(4096), t7(4096)
    {
        for (uint32_t i = 0; i < 4096; ++i) {
            t3[i] = uint16_t(i & 0xF0F);
            t5[i] = uint16_t(i ^ 0x5A5);
            t6[i] = uint16_t((i * 3) & 0xFFF);
            t7[i] = uint16_t(i & 0xFF0);
        }
    }
};

const Tables& tables()
{
    static const Tables t;
    return t;
}

void prepare(SIDVoice& v, unsigned nibble, bool delayed)
{
    v.frequency = uint16_t(kFrequency);
    v.pulseWidth = 0x800;
    v.accumulator = 0x123456;
    v.accumulatorPrev = v.accumulator - kFrequency;
    v.noisePending = v.noiseLatched = 0xFFFFFC;
    v.waveform = nibble;
    v.control = nibble << 4;
    v.delayedOutput = delayed ? 1 : 0;
    v.combinedTable3 = tables().t3.data();
    v.combinedTable5 = tables().t5.data();
    v.combinedTable6 = tables().t6.data();
    v.combinedTable7 = tables().t7.data();
}

void cyclesCounter(benchmark::State& state, int64_t count)
{
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["time/cycle"] =
        benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void directEntry(benchmark::State& state, unsigned index)
{
    const int64_t count = state.range(0);
    SIDVoice v;
    prepare(v, index & 15, index & 64);
    std::vector<uint32_t> out(static_cast<size_t>(count));
    uint32_t srcAcc = 0x654321, srcFreq = kSourceFrequency;
    uint8_t srcMsb = 0;
    const WaveRenderFn fn = kWaveRenderTable[index];
    for (auto _ : state) {
        fn(v, out.data(), uint64_t(count), &srcAcc, &srcFreq, &srcMsb);
        benchmark::DoNotOptimize(out.data());
    }
    cyclesCounter(state, count);
}

void bufferedEntry(benchmark::State& state, unsigned index)
{
    const int64_t count = state.range(0);
    SIDVoice v;
    prepare(v, index & 15, index & 32);
    std::vector<uint16_t> own(kLongest + 2), source(kLongest + 2);
    uint32_t acc = 0x123456, srcAcc = 0x654321;
    for (size_t i = 0; i < own.size(); ++i) {
        own[i] = uint16_t(acc >> 12);
        source[i] = uint16_t(srcAcc >> 12);
        acc = (acc + kFrequency) & 0xFFFFFF;
        srcAcc = (srcAcc + kSourceFrequency) & 0xFFFFFF;
    }
    std::vector<uint32_t> out(static_cast<size_t>(count));
    const BufferedWaveRenderFn fn = kWaveRenderBufferedTable[index];
    for (auto _ : state) {
        fn(v, out.data(), uint64_t(count), own.data() + 2, source.data() + 2);
        benchmark::DoNotOptimize(out.data());
    }
    cyclesCounter(state, count);
}

// The selector around the same entry as "direct nibble 2", and with nothing to render.
void selector(benchmark::State& state)
{
    const int64_t count = state.range(0);
    SIDVoice v;
    prepare(v, 2, false);
    std::vector<uint32_t> out(static_cast<size_t>(count) + 1);
    for (auto _ : state) {
        v.renderWaveBlock(out.data(), uint64_t(count), 0, 0, 0, 0);
        benchmark::DoNotOptimize(out.data());
    }
    cyclesCounter(state, count);
}

void selectorEmpty(benchmark::State& state)
{
    SIDVoice v;
    prepare(v, 2, false);
    uint32_t out = 0;
    for (auto _ : state) {
        v.renderWaveBlock(&out, 0, 1, 0x123, 0x456, 1);
        benchmark::DoNotOptimize(v.nextWaveIndex);
    }
}

struct Wave {
    const char* name;
    unsigned nibble;  // quirk as bit 5
};

constexpr Wave kWaves[] = {{"tri", 1},    {"saw", 2},      {"pulse", 4}, {"tri+pulse", 5},
                           {"saw+pulse-quirk", 6 + 32},    {"noise", 8}, {"noise+tri", 9},
                           {"noise+tri+pulse", 13},        {"noise+all", 15}};

const bool kRegistered = [] {
    const struct {
        const char* name;
        unsigned bits;
    } families[] = {{"direct", 0}, {"sync", 512 + 128}, {"ring+sync", 768 + 128}};
    for (const auto& family : families) {
        for (const Wave& wave : kWaves) {
            for (const bool delayed : {false, true}) {
                const unsigned index = family.bits + wave.nibble + (delayed ? 64 : 0);
                const std::string name =
                    std::string(family.name) + "/" + wave.name + (delayed ? "/delayed" : "") + "/entry" +
                    std::to_string(index);
                benchmark::RegisterBenchmark(name.c_str(), directEntry, index)->Arg(16)->Arg(256)->Arg(4096);
            }
        }
    }
    for (const Wave& wave : kWaves) {
        for (const bool delayed : {false, true}) {
            const unsigned index = (wave.nibble & 15) + (delayed ? 32 : 0);
            const std::string name = std::string("buffered/") + wave.name + (delayed ? "/delayed" : "") + "/entry" +
                                     std::to_string(index);
            benchmark::RegisterBenchmark(name.c_str(), bufferedEntry, index)->Arg(16)->Arg(256)->Arg(4096);
        }
    }
    for (const Wave& wave : {Wave{"pulse", 4}, Wave{"tri", 1}, Wave{"noise", 8}}) {
        benchmark::RegisterBenchmark((std::string("direct-test-fill/") + wave.name).c_str(), directEntry,
                                     wave.nibble + 16)
            ->Arg(16)->Arg(256)->Arg(4096);
    }
    benchmark::RegisterBenchmark("buffered-test-fill/pulse", bufferedEntry, 4 + 16)->Arg(16)->Arg(256)->Arg(4096);
    benchmark::RegisterBenchmark("selector/saw", selector)->Arg(16)->Arg(256)->Arg(4096);
    benchmark::RegisterBenchmark("selector/count0", selectorEmpty);
    return true;
}();

}  // namespace
