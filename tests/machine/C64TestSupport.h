#pragma once
// A built machine on a recording media callback and a 384 x 272 canvas.

#include "machine/C64Emu.h"

#include "fixtures/c64/FakeMediaCallback.h"
#include "fixtures/c64/C64Tunes.h"
#include "fixtures/c64/PsidBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace c64_test {

using fixtures::Bytes;
using fixtures::MediaCall;
using namespace fixtures::c64_tunes;

constexpr double kPal = C64Emu::kPalClock;
constexpr double kNtsc = C64Emu::kNtscClock;
constexpr uint64_t kPalFrame = 19656;  // 312 lines x 63 cycles

class CountingCanvasListener : public PixelCanvasListener {
public:
    uint64_t changes = 0;
    void canvasChanged() override { ++changes; }
};

struct C64Rig {
    fixtures::FakeMediaCallback media;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(384 * 272);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    CountingCanvasListener canvasListener;
    PixelCanvas canvas;
    std::unique_ptr<C64Emu> machine;
    Bytes image;  // the last installed tune

    explicit C64Rig(const std::string& romFolder = "", bool ntsc = false, DiskFile* disk = nullptr)
    {
        canvas = {red, green, blue, 0, pixels.data(), 272, 384, &canvasListener};
        machine = std::make_unique<C64Emu>(&media, romFolder, ntsc);
        EXPECT_TRUE(machine->buildMachine(&canvas, disk));
        media.clock = [this] { return machine->getTotalCycles(); };
    }

    bool install(const fixtures::PsidBuilder& tune, uint32_t song = 0, const std::string& info = "")
    {
        image = tune.hostImage();
        return machine->installTune(fixtures::psidHeader(image), tune.hostDataSize(), song, info);
    }

    // Runs in slices of `slice` cycles until `cycles` are done.
    void run(uint64_t cycles, uint64_t slice = 1000, double clock = kPal)
    {
        while (cycles > 0) {
            const uint64_t n = std::min(cycles, slice);
            cycles -= machine->advance(n, clock);
        }
    }

    uint8_t peek(uint16_t address) const { return machine->ramView()[address]; }
};

// Screen codes of a message as the machine writes it (letters of either case as the machine's
// table puts them: upper case kept, lower case to 1-26).
inline Bytes screenCodes(const std::string& text)
{
    Bytes out;
    for (const char c : text) {
        if (c >= 'a' && c <= 'z')
            out.push_back(uint8_t(c - 'a' + 1));
        else
            out.push_back(uint8_t(c));
    }
    return out;
}

inline Bytes screenAt(const C64Emu& m, uint16_t address, size_t length)
{
    return Bytes(m.ramView() + address, m.ramView() + address + length);
}

// Calls of one register.
inline std::vector<MediaCall> writesTo(const fixtures::FakeMediaCallback& media, uint32_t reg)
{
    std::vector<MediaCall> out;
    for (const MediaCall& c : media.calls)
        if (c.op == MediaCall::WriteRegister && c.reg == reg)
            out.push_back(c);
    return out;
}

}  // namespace c64_test

namespace c64_test {

// The times of the capture frames recorded so far.
inline std::vector<uint64_t> captureTimes(const fixtures::FakeMediaCallback& media)
{
    std::vector<uint64_t> out;
    for (const MediaCall& c : media.calls)
        if (c.op == MediaCall::CaptureRegisters)
            out.push_back(c.value);
    return out;
}

}  // namespace c64_test
