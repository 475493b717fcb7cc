// Video chip steps per second on PAL with a 384 x 272 canvas: 40-column text with the display on
// and no sprites (the common case, which the machine steps every cycle), and eight expanded
// multicolour sprites over a multicolour bitmap. x_realtime is against 985248 cycles/s.
#include "machine/VICII.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr double kPalHz = 985248.0;
constexpr uint64_t kStepsPerIteration = 19656 * 10;  // ten PAL frames

struct Rig {
    std::vector<uint8_t> ram = std::vector<uint8_t>(0x10000);
    std::vector<uint8_t> colourRam = std::vector<uint8_t>(0x400);
    std::vector<uint8_t> pixels = std::vector<uint8_t>(384 * 272);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    PixelCanvas canvas;
    VICII* vic = nullptr;

    Rig()
    {
        std::mt19937 rng(29);
        for (auto& b : ram)
            b = uint8_t(rng());
        for (auto& b : colourRam)
            b = uint8_t(rng());
        canvas = {red, green, blue, 0, pixels.data(), 272, 384, nullptr};
        vic = new VICII(nullptr, colourRam.data(), ram.data(), &canvas, false);
    }
    ~Rig() { delete vic; }
};

void measure(benchmark::State& state, Rig& rig)
{
    uint64_t steps = 0;
    for (auto _ : state) {
        rig.vic->run(kStepsPerIteration);
        steps += kStepsPerIteration;
    }
    benchmark::DoNotOptimize(rig.pixels.data());
    using benchmark::Counter;
    state.counters["steps/s"] = Counter(double(steps), Counter::kIsRate);
    state.counters["x_realtime"] = Counter(double(steps) / kPalHz, Counter::kIsRate);
}

void BM_TextMode(benchmark::State& state)
{
    Rig rig;
    VICII& vic = *rig.vic;
    vic.setBank(3);  // matrix at $0400, characters from the built-in image
    vic.writeRegister(0x11, 0x1B);
    vic.writeRegister(0x16, 0x08);
    vic.writeRegister(0x18, 0x14);
    measure(state, rig);
}
BENCHMARK(BM_TextMode)->Unit(benchmark::kMillisecond);

void BM_SpritesOverMulticolourBitmap(benchmark::State& state)
{
    Rig rig;
    VICII& vic = *rig.vic;
    vic.setBank(2);
    vic.writeRegister(0x11, 0x3B);  // bitmap
    vic.writeRegister(0x16, 0x18);  // multicolour
    vic.writeRegister(0x18, 0x18);  // matrix $0400, bitmap $2000
    for (uint32_t n = 0; n < 8; ++n) {
        vic.writeRegister(2 * n, uint8_t(24 + 40 * n));
        vic.writeRegister(2 * n + 1, uint8_t(60 + 10 * n));
        rig.ram[0x4000 + 0x07F8 + n] = uint8_t(0x80 + n);  // pointers into $6000
    }
    vic.writeRegister(0x10, 0x80);
    vic.writeRegister(0x15, 0xFF);
    vic.writeRegister(0x17, 0xFF);
    vic.writeRegister(0x1C, 0xFF);
    vic.writeRegister(0x1D, 0xFF);
    measure(state, rig);
}
BENCHMARK(BM_SpritesOverMulticolourBitmap)->Unit(benchmark::kMillisecond);

}  // namespace
