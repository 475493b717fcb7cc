// Register writes per second through the SID controller's write path into a chip that only
// stores the value: range(0) 0 with ASID output off, 1 with output of the written chip on (each
// write a 13-byte message handed to a host that counts the bytes).

#include "fixtures/StubChip.h"
#include "instrument/SIDCtrl.h"
#include "tests/instrument/SIDCtrlDoubles.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

class StoreChip : public fixtures::StubChip
{
public:
    void writeRegister(uint16_t reg, uint8_t value, uint64_t) override { regs[reg & 31] = value; }
    uint8_t readRegister(uint16_t reg, uint64_t) override { return regs[reg & 31]; }
    uint8_t regs[32] = {};
};

class CountingHost : public sidctrl_test::RecordingListener
{
public:
    void callHostOpcode12(HostMidiOutRecord* record) override { bytes += record->size; }
    uint64_t bytes = 0;
};

void BM_AsidWrites(benchmark::State& state)
{
    std::vector<StoreChip> chipObjects(ChipController::kChips);
    std::vector<ChipEmu*> chips;
    for (StoreChip& c : chipObjects)
        chips.push_back(&c);
    CountingHost host;
    SIDCtrl ctrl(&chips, &host);
    ctrl.init(nullptr, 1006);
    if (state.range(0))
        ctrl.mediaCommand(10, nullptr, 1.0);
    uint64_t n = 0;
    for (auto _ : state) {
        for (uint8_t r = 0; r < 25; ++r)
            ctrl.writeRegister(0, r, uint8_t(n + r));
        ++n;
    }
    benchmark::DoNotOptimize(chipObjects[0].regs);
    benchmark::DoNotOptimize(host.bytes);
    state.counters["writes/s"] = benchmark::Counter(double(state.iterations()) * 25.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AsidWrites)->Arg(0)->Arg(1);

}  // namespace
