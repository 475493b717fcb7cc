// The built C64Module playing three-notes.sid through the stand-in engine, as c64render runs it
// (48000 Hz, 256-frame blocks, no ROM images): x real time of the whole in this thread's CPU
// time, then the shares of the same audio: the machine alone (the tune's reader on a callback
// that renders nothing), one SID playing the tune's pulse voice for as many cycles, and the rest
// (the output chain: idle synth chips, resampling, the engine).

#include "machine/PSIDReader.h"
#include "media/MediaCallback.h"
#include "media/PixelCanvas.h"
#include "sid/SIDEmu.h"
#include "support/VirtualFile.h"

#include "fixtures/TempDir.h"
#include "shims/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;
constexpr double kPal = 985248.0;

// This thread's CPU seconds: the machine is shared, wall time would count the others.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

class NullMedia : public MediaCallback {
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
};

// CPU seconds the machine alone takes for `seconds` of the tune.
double machineSeconds(const std::vector<uint8_t>& tune, double seconds)
{
    NullMedia media;
    std::vector<uint8_t> pixels(384 * 272);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    PixelCanvas canvas{red, green, blue, 16, pixels.data(), 272, 384, nullptr};
    PSIDReader reader(&media, "", &canvas, false, nullptr);
    vantor::VirtualRAMFile file(tune.data(), tune.size());
    if (!reader.openMedia(&file) || !reader.selectSong(0))
        return 0.0;
    const uint64_t cycles = uint64_t(seconds * kPal);
    const double start = cpuSeconds();
    for (uint64_t done = 0; done < cycles;)
        done += reader.advanceTicks(std::min<uint64_t>(kBlock * 20, cycles - done), kPal);
    return cpuSeconds() - start;
}

// CPU seconds one SID takes for `seconds` of the tune's voice (pulse, 440 Hz, gate on).
double sidSeconds(double seconds)
{
    SIDEmu chip;
    chip.init(kBlock, nullptr, SIDEmu::kDefaultInitValue);
    chip.reset();
    const std::pair<uint16_t, uint8_t> regs[] = {{24, 15}, {2, 0x00}, {3, 0x08}, {5, 0x00}, {6, 0xF0},
                                                 {0, 7493 & 255}, {1, 7493 >> 8}, {4, 0x41}};
    for (const auto& [r, v] : regs)
        chip.writeRegister(r, v);
    std::vector<int32_t> buffer(kBlock);
    int32_t* outputs[1] = {buffer.data()};
    const uint64_t cycles = uint64_t(seconds * kPal);
    const double start = cpuSeconds();
    for (uint64_t done = 0; done < cycles; done += kBlock)
        chip.render(outputs, kBlock);
    benchmark::DoNotOptimize(buffer.data());
    return cpuSeconds() - start;
}

void BM_ThreeNotesTune(benchmark::State& state)
{
    std::string error;
    auto module = vantor::engine::ModuleLibrary::open(C64MODULE_PATH, error);
    if (!module) {
        state.SkipWithError(error.c_str());
        return;
    }
    vantor::engine::EngineConfig config;
    config.sampleRate = kRate;
    config.blockSize = kBlock;
    vantor::engine::Instance instance(*module, config);
    if (!instance.create(module->identifier(0), error) || !instance.start(error) ||
        instance.openMediaFile(THREE_NOTES_SID, 0) == -1) {
        state.SkipWithError("the module did not start the tune");
        return;
    }
    for (int b = 0; b < 20; ++b)
        instance.process(kBlock, {});
    uint64_t blocks = 0;
    const double start = cpuSeconds();
    for (auto _ : state) {
        instance.process(kBlock, {});
        benchmark::DoNotOptimize(instance.channel(0));
        ++blocks;
    }
    const double whole = cpuSeconds() - start;
    const double audio = double(blocks) * kBlock / kRate;
    state.counters["x_realtime"] = audio / whole;

    const std::string tunePath = THREE_NOTES_SID;
    const std::string text = fixtures::readFile(tunePath);
    const std::vector<uint8_t> tune(text.begin(), text.end());
    const double machine = machineSeconds(tune, audio) / whole;
    const double sid = sidSeconds(audio) / whole;
    state.counters["machine_share"] = machine;
    state.counters["sid_share"] = sid;
    state.counters["chain_share"] = 1.0 - machine - sid;
}
BENCHMARK(BM_ThreeNotesTune)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
