// VGM reading speed in bytes of log per second: a generated 16 MB log of waits and writes to six
// chips, read from memory. "reservations" counts the event reservations of one read, "chips" the
// chip records it made; they match when each record reserves its room once.
// vgm_read keeps the freed reservations in the heap, so that it measures the reader; in
// vgm_read_fresh_pages every reservation comes new from the kernel, whose first touch of each
// page (about 35 MB of events here) costs what the machine makes it cost.
#include "tests/fixtures/AllocationCounter.h"

#include "media/VGMX.h"

#include "tests/fixtures/VgmBuilder.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

namespace {

constexpr size_t kLogBytes = 16u << 20;
constexpr uint32_t kDacChannels = 16;  // made for a log without PCM chips, dropped unused

const std::vector<uint8_t>& log16MB()
{
    static const std::vector<uint8_t> bytes = [] {
        using fixtures::VgmBuilder;
        VgmBuilder vgm;
        vgm.clock(VgmBuilder::kSn76489, 3579545).clock(VgmBuilder::kYm2413, 3579545);
        vgm.clock(VgmBuilder::kYm2612, 7670453).clock(VgmBuilder::kYm2151, 3579545);
        vgm.clock(VgmBuilder::kAy8910, 1789772).clock(VgmBuilder::kGameBoy, 4194304);
        std::vector<uint8_t> commands;
        commands.reserve(kLogBytes);
        uint32_t state = 1;
        while (commands.size() < kLogBytes - 64) {
            state = state * 1664525u + 1013904223u;
            const uint8_t reg = uint8_t(state >> 24), value = uint8_t(state >> 16);
            switch ((state >> 8) % 6) {
            case 0: commands.insert(commands.end(), {0x50, value}); break;
            case 1: commands.insert(commands.end(), {0x51, reg, value}); break;
            case 2: commands.insert(commands.end(), {uint8_t(0x52 + (reg & 1)), reg, value}); break;
            case 3: commands.insert(commands.end(), {0x54, reg, value}); break;
            case 4: commands.insert(commands.end(), {0xA0, uint8_t(reg & 0x0F), value}); break;
            default: commands.insert(commands.end(), {0xB3, uint8_t(reg & 0x3F), value}); break;
            }
            switch (state % 4) {
            case 0: commands.push_back(uint8_t(0x70 | (state >> 4 & 15))); break;
            case 1: commands.insert(commands.end(), {0x61, uint8_t(state >> 3), 0x01}); break;
            case 2: commands.push_back(0x62); break;
            default: break;
            }
        }
        return vgm.raw(commands).end().build();
    }();
    return bytes;
}

void readLog(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = log16MB();
    long reservations = 0;
    size_t chips = 0;
    for (auto _ : state) {
        VGM::VGMX log;
        const long before = fixtures::largeAllocationCount();
        if (!log.loadFromMemory(bytes.data(), bytes.size())) {
            state.SkipWithError("not loaded");
            break;
        }
        reservations = fixtures::largeAllocationCount() - before;
        chips = log.song.chips.size();
        for (const auto& [kind, chip] : log.song.chips)
            if (chip.events.capacity() != VGM::VGMXChip::kReservedEvents)
                state.SkipWithError("a chip's events outgrew their reservation");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
    state.counters["chips"] = double(chips + kDacChannels);
    state.counters["reservations"] = double(reservations);
}
void vgm_read(benchmark::State& state)
{
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    readLog(state);
}
BENCHMARK(vgm_read)->Unit(benchmark::kMillisecond);

void vgm_read_fresh_pages(benchmark::State& state)
{
    malloc_trim(0);
    mallopt(M_MMAP_THRESHOLD, 128 << 10);
    mallopt(M_TRIM_THRESHOLD, 128 << 10);
    readLog(state);
}
BENCHMARK(vgm_read_fresh_pages)->Unit(benchmark::kMillisecond);

}  // namespace
