// Register-log playback through a real scheduler at 985248 ticks per second with a listener that
// does nothing, driven in blocks of 256 frames at 48 kHz. "realtime" is seconds of log played per
// second (the × real-time factor), "events/s" the events played, "firings/s" the timer firings
// (compare with bench_support's BM_QuantumManagerAdvance of the same run).
#include "media/DACStreamer.h"
#include "media/VGMReader.h"
#include "media/VGMX.h"
#include "support/QuantumManager.h"

#include "tests/fixtures/VgmBuilder.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr double kSchedulerRate = 985248.0;
constexpr uint64_t kTicksPerBlock = uint64_t(kSchedulerRate * 256 / 48000);

class Silent : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
};

// Plays the song for `seconds`; `firingsPerPass` is what the song's timers fire in that time.
void play(benchmark::State& state, const VGM::VGMX& doc, double seconds, uint64_t firingsPerPass)
{
    Silent callback;
    const uint64_t ticks = uint64_t(seconds * kSchedulerRate);
    for (auto _ : state) {
        vantor::QuantumManager manager(64);
        manager.setRate(kSchedulerRate);
        VGM::Reader reader(&callback, nullptr, nullptr);
        state.PauseTiming();
        reader.openDocument(doc);
        reader.selectSong(0);
        state.ResumeTiming();
        reader.attachTimers(&manager);
        for (uint64_t done = 0; done < ticks; done += kTicksPerBlock)
            for (uint64_t left = kTicksPerBlock; left > 0;)
                left -= manager.advance(left);
        reader.detachTimers(&manager);
        benchmark::DoNotOptimize(manager.getNow());
    }
    state.counters["realtime"] = benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["firings/s"] =
        benchmark::Counter(double(firingsPerPass) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// A YM2612 register written every 1/44100 s, read from a builder VGM.
const VGM::VGMX& ym2612Log()
{
    static const VGM::VGMX log = [] {
        fixtures::VgmBuilder vgm;
        vgm.clock(fixtures::VgmBuilder::kYm2612, 7670453);
        std::vector<uint8_t> commands;
        for (uint32_t i = 0; i < 44100 * 60; ++i)
            commands.insert(commands.end(), {0x52, uint8_t(0x30 + i % 0x80), uint8_t(i), 0x70});
        vgm.raw(commands, 44100 * 60).end();
        const std::vector<uint8_t> bytes = vgm.build();
        VGM::VGMX doc;
        doc.loadFromMemory(bytes.data(), bytes.size());
        return doc;
    }();
    return log;
}

// A "6581" chip of `events` writes at `rate` with these waits in turn.
VGM::VGMX sidLog(uint64_t events, uint32_t rate, const std::vector<uint32_t>& waits)
{
    VGM::VGMX doc;
    VGM::VGMXChip& chip = doc.song.chips[77];
    chip.kind = 77;
    chip.typeName = "6581";
    chip.rate = rate;
    chip.events.reserve(events);
    for (uint64_t i = 0; i < events; ++i) {
        const uint32_t dt = waits[i % waits.size()];
        chip.events.push_back(VGMXEvent::pack(dt, VGMXEvent::kWrite, uint8_t(i % 25), uint8_t(i), 0));
        chip.total += dt;
    }
    doc.song.loaded = 1;
    return doc;
}

void BM_PlayYm2612Vgm(benchmark::State& state)
{
    play(state, ym2612Log(), 60.0, 44100 * 60);
}
BENCHMARK(BM_PlayYm2612Vgm)->Unit(benchmark::kMillisecond);

void BM_PlaySidVgmx(benchmark::State& state)
{
    static const VGM::VGMX doc = sidLog(44100 * 60, 44100, {1});
    play(state, doc, 60.0, 44100 * 60);
}
BENCHMARK(BM_PlaySidVgmx)->Unit(benchmark::kMillisecond);

// One hour of a SID log that writes its 25 registers once per 50 Hz frame: 4.5 M events.
void BM_PlayDenseHour(benchmark::State& state)
{
    static const VGM::VGMX doc = [] {
        std::vector<uint32_t> waits(25, 0);
        waits.back() = 882;
        return sidLog(25 * 50 * 3600, 44100, waits);
    }();
    const uint64_t events = doc.song.chips.at(77).events.size();
    play(state, doc, 3600.0, events);
    state.counters["events/s"] = benchmark::Counter(double(events) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlayDenseHour)->Unit(benchmark::kMillisecond);

// 16 DAC channels, each playing a one-second bank at 44.1 kHz once a second for 60 s.
void BM_Play16DacChannels(benchmark::State& state)
{
    using D = VGM::DACStreamer;
    static const VGM::VGMX doc = [] {
        VGM::VGMX d;
        d.song.banks.resize(1);
        d.song.banks[0].samples.assign(44100, 1000);
        d.song.loaded = 1;
        for (int32_t kind = 84; kind < 100; ++kind) {
            VGM::VGMXChip& chip = d.song.chips[kind];
            chip.kind = kind;
            chip.typeName = "DAC";
            chip.rate = 1000;
            auto w = [](uint32_t dt, uint8_t reg, uint8_t value = 0, uint8_t port = 0) {
                return VGMXEvent::pack(dt, VGMXEvent::kWrite, reg, value, port);
            };
            chip.events = {w(0, D::kFrequencyHigh), w(0, D::kFrequencyLow, 44100 >> 8, 44100 & 0xFF),
                           w(0, D::kLeftLevel, 0x40), w(0, D::kRightLevel, 0x40)};
            for (int s = 0; s < 60; ++s)
                chip.events.push_back(w(s ? 1000 : 0, D::kPlayBank, 0));
            chip.events.push_back(w(1000, D::kStop));
            chip.total = 60000;
        }
        return d;
    }();
    play(state, doc, 60.0, 16 * (44100 * 60 + 65));
}
BENCHMARK(BM_Play16DacChannels)->Unit(benchmark::kMillisecond);

}  // namespace
