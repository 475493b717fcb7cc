// Envelope throughput in emulated cycles per second (items/s), blocks of 256 cycles.
#include "sid/SIDEnvelope.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

namespace {

constexpr uint64_t kBlock = 256;

struct Form {
    bool fixed, fastAttack, linear;
};
constexpr Form kForms[] = {
    {false, false, false},  // Exp DR, HW Bugs (cycle-exact)
    {true, false, true},    // Lin DR
    {true, true, true},     // Lin DR, Fast A0
    {true, false, false},   // Exp DR
    {true, true, false},    // Exp DR, Fast A0
};

std::array<uint32_t, kBlock> waveBlock()
{
    std::array<uint32_t, kBlock> b{};
    for (uint64_t i = 0; i < kBlock; ++i)
        b[i] = uint32_t(i * 16) & 0xFFF;
    return b;
}

// Gate on, decay at rate 0 to sustain 8 and held there: a rate match every 9 cycles, level still.
void HeldSustain(benchmark::State& state)
{
    const Form& form = kForms[state.range(0)];
    const float leak = state.range(1) ? 0.0005f : 0.0f;
    SIDEnvelope env;
    env.setBehaviour(form.fixed, form.fastAttack, form.linear);
    env.setAttackDecay(0x00);
    env.setSustainRelease(0x80);
    env.setGate(1);
    auto buffer = waveBlock();
    for (int i = 0; i < 100; ++i)
        env.render(buffer.data(), kBlock, leak);
    for (auto _ : state) {
        env.render(buffer.data(), kBlock, leak);  // values stay 12-bit after the table's mask
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}

// Every rate 0, the gate toggled every 16 blocks: attack, decay and release keep the level moving.
void RateZero(benchmark::State& state)
{
    const Form& form = kForms[state.range(0)];
    const float leak = state.range(1) ? 0.0005f : 0.0f;
    SIDEnvelope env;
    env.setBehaviour(form.fixed, form.fastAttack, form.linear);
    env.setAttackDecay(0x00);
    env.setSustainRelease(0x00);
    auto buffer = waveBlock();
    uint32_t blocks = 0;
    for (auto _ : state) {
        if ((blocks++ & 15) == 0)
            env.setGate(uint8_t((blocks >> 4) & 1));
        env.render(buffer.data(), kBlock, leak);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}

void formArgs(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"form", "leak"});
    for (int form = 0; form < 5; ++form)
        for (int leak = 0; leak < 2; ++leak)
            b->Args({form, leak});
}

}  // namespace

// form: 0 cycle-exact, 1 Lin DR, 2 Lin DR Fast A0, 3 Exp DR, 4 Exp DR Fast A0.
BENCHMARK(HeldSustain)->Apply(formArgs);
BENCHMARK(RateZero)->Apply(formArgs);
