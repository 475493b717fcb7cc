// Event costs of the synth controller: note pairs through four layers, a pitch bend that
// retunes every layer voice, a controller fanned out by routing rows, and applying a routing
// text. Items are events (rows for the text), so the rate reads as events per second.
#include "support/QuantumManager.h"
#include "synth/SynthController.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

using namespace ZRS;

namespace {

constexpr size_t kTableParameters = 10;

class FourLayers : public PatchBase
{
public:
    FourLayers()
    {
        for (size_t i = 0; i < 4; ++i) {
            layers[i] = new LayerBase;
            layers[i]->active = 1;
        }
    }
};

// Reads the pitch back on every retune, as an instrument does.
class RetuningListener : public LayerListener
{
public:
    void voicePitchChanged(uint64_t v, uint64_t l) override
    {
        float f = 0.0f;
        if (synth && synth->computeVoiceFrequency(v, l, f))
            sum += f;
    }
    void voiceParametersChanged(uint64_t, uint64_t) override {}
    void voiceStart(uint64_t, uint64_t, uint8_t) override {}
    void voiceRelease(uint64_t, uint64_t) override {}
    void voiceAmplitudeChanged(uint64_t, uint64_t) override {}
    void voiceRetrigger(uint64_t, uint64_t, uint8_t) override {}
    SynthController* synth = nullptr;
    float sum = 0.0f;
};

class SinkActions : public ParameterActionListener
{
public:
    void applyParameterAction(uint64_t, uint16_t, float value, bool) override { sum += value; }
    float sum = 0.0f;
};

class BenchSynth : public SynthController
{
public:
    BenchSynth() : qm(1024)
    {
        qm.setRate(44100.0);
        layerManager().setPatch(new FourLayers);
        for (size_t i = 0; i < kTableParameters; ++i) {
            const std::string label = "P" + std::to_string(i);
            parameters.emplace_back(label.c_str(), ParameterInfo::Continuous, 0.0f, 127.0f, 0.0f,
                                    15, 0);
            parameters.back().flags = 0x10;
            parameters.back().index = uint16_t(i);
        }
        setScheduler(&qm);
        listener.synth = this;
        createVoiceParameters(7);
        setupParameters(&sink, &listener, nullptr, 0);
    }

    void setParameter(uint16_t, float) override {}
    void setInstrumentOption(uint32_t, double) override {}
    void mediaCommand(uint32_t, vantor::Mutex*, double) override {}

    vantor::QuantumManager qm;
    RetuningListener listener;
    SinkActions sink;
};

}  // namespace

// Note-on and note-off pairs over 24 notes on 12 voices, four layers each.
static void BM_NotePairs(benchmark::State& state)
{
    BenchSynth s;
    uint32_t n = 0;
    for (auto _ : state) {
        s.processMidiMessage(0x90, uint8_t(40 + n % 24), 100);
        s.processMidiMessage(0x80, uint8_t(40 + (n + 12) % 24), 0);
        ++n;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 2);
    benchmark::DoNotOptimize(s.listener.sum);
}
BENCHMARK(BM_NotePairs);

// A pitch bend retuning 12 held voices on four layers, each read back.
static void BM_PitchBendRetune(benchmark::State& state)
{
    BenchSynth s;
    for (uint8_t k = 0; k < 12; ++k)
        s.processMidiMessage(0x90, uint8_t(48 + k), 100);
    uint32_t n = 0;
    for (auto _ : state) {
        s.processMidiMessage(0xE0, uint8_t(n & 127), uint8_t(32 + (n >> 7) % 64));
        ++n;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    benchmark::DoNotOptimize(s.listener.sum);
}
BENCHMARK(BM_PitchBendRetune);

// One controller routed by 10 rows to 10 per-voice parameters of 12 actions each.
static void BM_RoutedController(benchmark::State& state)
{
    BenchSynth s;
    std::string text;
    for (size_t i = 0; i < kTableParameters; ++i)
        text += "source=CC1;destination=P" + std::to_string(i) + ";amount=0.5\n";
    s.setModRoutingText(text.c_str(), 0);
    uint8_t v = 0;
    for (auto _ : state) {
        s.processMidiMessage(0xB0, 1, v);
        v = uint8_t((v + 1) & 127);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    benchmark::DoNotOptimize(s.sink.sum);
}
BENCHMARK(BM_RoutedController);

// Applying a 200-row routing text (controllers, note sources, steps and envelopes to table,
// layer and voice parameters). Items are rows.
static void BM_ApplyRoutingText(benchmark::State& state)
{
    static const char* const kSources[] = {"CC1", "CC74", "POLYVEL", "MONOKT", "PB", "EXP_PAN",
                                           "POLYAFT", "MPE_CC74"};
    static const char* const kDestinations[] = {"P3", "L01 Transpose", "L02 Amp",
                                                "Voice Detune", "Step1 Speed", "P7"};
    BenchSynth s;
    std::string text;
    for (int i = 0; i < 200; ++i) {
        const std::string source = i % 10 == 0   ? "STEP" + std::to_string(i % 15)
                                   : i % 10 == 5 ? "EG" + std::to_string(i % 3)
                                                 : kSources[i % 8];
        text += "source=" + source + ";destination=" + kDestinations[i % 6] +
                ";math=offset;amount=0.5;offset=0.0\n";
    }
    for (auto _ : state)
        s.setModRoutingText(text.c_str(), 0);
    state.SetItemsProcessed(int64_t(state.iterations()) * 200);
}
BENCHMARK(BM_ApplyRoutingText);
