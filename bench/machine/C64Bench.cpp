// Whole-machine speed in emulated cycles per second and x real time of a 985248 Hz PAL machine:
// a PSID at play (text mode with the display on, 25 SID stores per frame) on a callback that does
// nothing and on one that renders a SID chip on every renderChips; an RSID storing 25 SID
// registers per raster interrupt; eight expanded sprites over a multicolour bitmap; the PSID in
// advance(16) and advance(20000) slices; the drive's share, idle and serving a LOAD loop. CpuAlone
// is the ceiling: the same tune's CPU work through stepState on a flat RAM bus, with nothing else.
#include "machine/C64Emu.h"
#include "media/MediaCallback.h"
#include "sid/SIDEmu.h"

#include "fixtures/c64/C64Tunes.h"
#include "fixtures/c64/D64Builder.h"
#include "fixtures/c64/SerialLoadProgram.h"
#include "machine/DiskImages.h"
#include "support/VirtualFile.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using namespace fixtures::c64_tunes;
using fixtures::Bytes;

constexpr double kPal = C64Emu::kPalClock;
constexpr uint64_t kFrame = 19656;
constexpr uint64_t kCyclesPerIteration = 50 * kFrame;  // one second

class NullMedia : public MediaCallback {
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
};

// Renders one chip up to every SID access and applies the stores.
class SidMedia : public MediaCallback {
public:
    static constexpr uint64_t kBlock = 4096;

    SidMedia()
    {
        chip.init(kBlock, nullptr, SIDEmu::kDefaultInitValue);
        chip.reset();
    }
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t reg, uint32_t value, double) override
    {
        chip.writeRegister(uint16_t(reg & 31), uint8_t(value));
    }
    void renderChips(uint32_t, uint64_t cycles) override
    {
        int32_t* outputs[1] = {buffer.data()};
        while (cycles > 0) {
            const uint64_t n = std::min(cycles, kBlock);
            chip.render(outputs, n);
            cycles -= n;
        }
    }

    SIDEmu chip;
    std::vector<int32_t> buffer = std::vector<int32_t>(kBlock);
};

struct Rig {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(384 * 272);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), 272, 384, nullptr};
    std::unique_ptr<C64Emu> machine;
    Bytes image;

    Rig(MediaCallback* media, const fixtures::PsidBuilder& tune, DiskFile* disk = nullptr, bool withDrive = true)
    {
        machine = std::make_unique<C64Emu>(media, "", false);
        machine->buildMachine(&canvas, disk, withDrive);
        image = tune.hostImage();
        if (!machine->installTune(fixtures::psidHeader(image), tune.hostDataSize(), 0, ""))
            throw std::runtime_error("tune did not install");
    }
};

void report(benchmark::State& state, uint64_t cycles)
{
    using benchmark::Counter;
    state.counters["cycles/s"] = Counter(double(cycles), Counter::kIsRate);
    state.counters["x_realtime"] = Counter(double(cycles) / kPal, Counter::kIsRate);
}

void runMachine(benchmark::State& state, MediaCallback* media, const fixtures::PsidBuilder& tune, uint64_t slice,
                DiskFile* disk = nullptr, bool withDrive = true)
{
    Rig rig(media, tune, disk, withDrive);
    uint64_t cycles = 0;
    for (auto _ : state) {
        for (uint64_t done = 0; done < kCyclesPerIteration;)
            done += rig.machine->advance(slice, kPal);
        cycles += kCyclesPerIteration;
    }
    report(state, cycles);
}

void BM_C64PsidNullCallback(benchmark::State& state)
{
    NullMedia media;
    runMachine(state, &media, counterTune(), 441);
}
BENCHMARK(BM_C64PsidNullCallback);

void BM_C64PsidOneSid(benchmark::State& state)
{
    SidMedia media;
    runMachine(state, &media, counterTune(), 441);
}
BENCHMARK(BM_C64PsidOneSid);

void BM_C64RsidRaster25Stores(benchmark::State& state)
{
    NullMedia media;
    runMachine(state, &media, fixtures::PsidBuilder().rsid().load(0x1000).code(raster25TuneCode()), 441);
}
BENCHMARK(BM_C64RsidRaster25Stores);

void BM_C64SpritesOverBitmap(benchmark::State& state)
{
    NullMedia media;
    runMachine(state, &media, fixtures::PsidBuilder().load(0x1000).play(kSpritesPlay).code(spritesTuneCode()), 441);
}
BENCHMARK(BM_C64SpritesOverBitmap);

void BM_C64PsidSlice(benchmark::State& state)
{
    NullMedia media;
    runMachine(state, &media, counterTune(), uint64_t(state.range(0)));
}
BENCHMARK(BM_C64PsidSlice)->Arg(16)->Arg(20000);

// The drive's share. Idle: the PSID with and without the drive on the bus. Serving: the tests'
// LOAD routine loading "HELLO" over and over through CIA2 port A (about a million cycles a
// load), against the same routine on a bus with no drive (it finds no device and tries again)
// and against a loop that polls the bus as the routine does.
void BM_C64PsidNoDrive(benchmark::State& state)
{
    NullMedia media;
    runMachine(state, &media, counterTune(), 441, nullptr, false);
}
BENCHMARK(BM_C64PsidNoDrive);

void BM_C64PsidDriveIdle(benchmark::State& state)
{
    NullMedia media;
    runMachine(state, &media, counterTune(), 441, nullptr, true);
}
BENCHMARK(BM_C64PsidDriveIdle);

void runSerialLoad(benchmark::State& state, bool withDrive)
{
    namespace sl = fixtures::serial_load;
    const Bytes program = sl::program(std::string(MACHINE_TEST_PROGRAM_DIR) + "/serial_load.bin", "HELLO", true);
    if (program.empty()) {
        state.SkipWithError("serial_load.bin missing");
        return;
    }
    fixtures::D64Builder builder;
    builder.addFile("HELLO", Bytes(600, 0x5A));
    const Bytes image = builder.image();
    vantor::VirtualRAMFile source(image.data(), image.size());
    D64File disk(&source);
    disk.scan();
    NullMedia media;
    // Started at $080D without a KERNAL; the routine needs none.
    Rig rig(&media, fixtures::PsidBuilder().rsid().load(sl::kStart).init(0x080D).code(program), &disk, withDrive);
    uint64_t cycles = 0;
    for (auto _ : state) {
        for (uint64_t done = 0; done < kCyclesPerIteration;)
            done += rig.machine->advance(441, kPal);
        cycles += kCyclesPerIteration;
    }
    report(state, cycles);
    const uint8_t* ram = rig.machine->ramView();
    state.counters["loads"] = double(ram[sl::kLoops] | ram[sl::kLoops + 1] << 8);
    state.counters["status"] = double(ram[sl::kStatus]);
}

void BM_C64SerialLoadNoDrive(benchmark::State& state) { runSerialLoad(state, false); }
BENCHMARK(BM_C64SerialLoadNoDrive);

// The machine's own cost of a program polling the bus: the routine's wait loop (BIT $DD00,
// branch, DEX, BNE) forever, no drive. Without a drive the routine above mostly runs a delay
// loop, which the machine steps more cheaply than I/O reads.
void BM_C64BusPollNoDrive(benchmark::State& state)
{
    const Bytes code = {
        0xA0, 0x00,        // 1000 LDY #0
        0xA2, 0x00,        // 1002 LDX #0
        0x2C, 0x00, 0xDD,  // 1004 BIT $DD00
        0x10, 0xF7,        // 1007 BPL $1000   (DATA in stays high)
        0xCA,              // 1009 DEX
        0xD0, 0xF8,        // 100A BNE $1004
        0x88,              // 100C DEY
        0xD0, 0xF5,        // 100D BNE $1004
        0x4C, 0x00, 0x10,  // 100F JMP $1000
    };
    NullMedia media;
    runMachine(state, &media, fixtures::PsidBuilder().rsid().load(0x1000).init(0x1000).code(code), 441, nullptr,
               false);
}
BENCHMARK(BM_C64BusPollNoDrive);

void BM_C64SerialLoadDriveServing(benchmark::State& state) { runSerialLoad(state, true); }
BENCHMARK(BM_C64SerialLoadDriveServing);

// The ceiling: the tune's CPU work alone, play called every frame, on a flat RAM bus.
class FlatBus : public M6502CPP::Listener {
public:
    std::vector<uint8_t> ram = std::vector<uint8_t>(0x10000, 0);
    uint64_t handleUserState(M6502CPP::M6502*) override { return 0; }
    uint32_t readMemory(uint16_t address) override { return ram[address]; }
    void writeMemory(uint16_t address, uint8_t value) override { ram[address] = value; }
    int64_t cpuEvent(M6502CPP::M6502*, uint16_t, int32_t, int64_t a, int64_t) override { return a; }
    void traceLine(const char*) override {}
    void tick(uint64_t) override {}
};

void BM_CpuAlone(benchmark::State& state)
{
    FlatBus bus;
    const Bytes code = counterTuneCode();
    std::copy(code.begin(), code.end(), bus.ram.begin() + 0x1000);
    bus.ram[0xFFFC] = 0xFD;
    bus.ram[0xFFFD] = 0x01;
    M6502CPP::M6502 cpu(bus.ram.data(), &bus);
    cpu.powerOnReset();
    // The machine's stack trap: $01FC trap opcode, $01FD JMP $01FD.
    cpu.SP = 0xFF;
    for (const uint8_t b : {0x01, 0xFD, 0x4C, 0xF2, 0x01, 0xFB})
        cpu.push(b);
    int64_t toPlay = 0;
    uint64_t cycles = 0;
    for (auto _ : state) {
        for (uint64_t done = 0; done < kCyclesPerIteration;) {
            const uint64_t step = cpu.stepState();
            done += step;
            toPlay -= int64_t(step);
            if (toPlay <= 0) {
                cpu.push(0x01);
                cpu.push(0xFB);
                cpu.PC = kCounterPlay;
                toPlay += int64_t(kFrame);
            }
        }
        cycles += kCyclesPerIteration;
    }
    report(state, cycles);
}
BENCHMARK(BM_CpuAlone);

}  // namespace
