#pragma once
// A built machine on a recording media callback and a 384 x 272 canvas, and the small tunes the
// machine tests play (6502 code assembled by hand, addresses in the comments).

#include "machine/C64Emu.h"

#include "fixtures/c64/FakeMediaCallback.h"
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

    explicit C64Rig(const std::string& romFolder = "", bool ntsc = false)
    {
        canvas = {red, green, blue, 0, pixels.data(), 272, 384, &canvasListener};
        machine = std::make_unique<C64Emu>(&media, romFolder, ntsc);
        EXPECT_TRUE(machine->buildMachine(&canvas));
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

// PSID at $1000. init: $D418 = $0F, counter = 0. play ($100B): counter + 1, stored to
// $D418 down to $D400.
inline Bytes counterTuneCode()
{
    return {
        0xA9, 0x0F,        // 1000 LDA #$0F
        0x8D, 0x18, 0xD4,  // 1002 STA $D418
        0xA9, 0x00,        // 1005 LDA #$00
        0x8D, 0x40, 0x10,  // 1007 STA $1040
        0x60,              // 100A RTS
        0xEE, 0x40, 0x10,  // 100B INC $1040
        0xAD, 0x40, 0x10,  // 100E LDA $1040
        0xA2, 0x18,        // 1011 LDX #$18
        0x9D, 0x00, 0xD4,  // 1013 STA $D400,X
        0xCA,              // 1016 DEX
        0x10, 0xFA,        // 1017 BPL $1013
        0x60,              // 1019 RTS
    };
}
constexpr uint16_t kCounterPlay = 0x100B;
constexpr uint16_t kCounter = 0x1040;

inline fixtures::PsidBuilder counterTune()
{
    return fixtures::PsidBuilder().load(0x1000).init(0x1000).play(kCounterPlay).code(counterTuneCode());
}

// RSID at $1000 with its own IRQ vector and the KERNAL banked out: CIA1's interrupt off, the
// raster one on. The handler at $1024 keeps $D012 and $D011 at $0340/$0341, counts at $0342,
// stores the count to $D400 and acknowledges.
inline Bytes rasterTuneCode()
{
    return {
        0x78,              // 1000 SEI
        0xA9, 0x2F,        // 1001 LDA #$2F
        0x85, 0x00,        // 1003 STA $00
        0xA9, 0x35,        // 1005 LDA #$35
        0x85, 0x01,        // 1007 STA $01
        0xA9, 0x24,        // 1009 LDA #$24
        0x8D, 0xFE, 0xFF,  // 100B STA $FFFE
        0xA9, 0x10,        // 100E LDA #$10
        0x8D, 0xFF, 0xFF,  // 1010 STA $FFFF
        0xA9, 0x7F,        // 1013 LDA #$7F
        0x8D, 0x0D, 0xDC,  // 1015 STA $DC0D
        0xAD, 0x0D, 0xDC,  // 1018 LDA $DC0D
        0xA9, 0x01,        // 101B LDA #$01
        0x8D, 0x1A, 0xD0,  // 101D STA $D01A
        0x58,              // 1020 CLI
        0x4C, 0x21, 0x10,  // 1021 JMP $1021
        0x48,              // 1024 PHA
        0xAD, 0x12, 0xD0,  // 1025 LDA $D012
        0x8D, 0x40, 0x03,  // 1028 STA $0340
        0xAD, 0x11, 0xD0,  // 102B LDA $D011
        0x8D, 0x41, 0x03,  // 102E STA $0341
        0xEE, 0x42, 0x03,  // 1031 INC $0342
        0xAD, 0x42, 0x03,  // 1034 LDA $0342
        0x8D, 0x00, 0xD4,  // 1037 STA $D400
        0xA9, 0x01,        // 103A LDA #$01
        0x8D, 0x19, 0xD0,  // 103C STA $D019
        0x68,              // 103F PLA
        0x40,              // 1040 RTI
    };
}

// A program at $0801: the line "10 SYS2061" and then code from $080D.
inline Bytes basicProgram(const Bytes& code)
{
    constexpr uint8_t kStub[12] = {0x0B, 0x08, 0x0A, 0x00, 0x9E, '2', '0', '6', '1', 0x00, 0x00, 0x00};
    Bytes out(sizeof kStub + code.size());
    std::copy(std::begin(kStub), std::end(kStub), out.begin());
    std::copy(code.begin(), code.end(), out.begin() + sizeof kStub);
    return out;
}

// Program code at $080D: $D418 = $0F, then $D400 counts up forever.
inline Bytes basicSidLoop()
{
    return {
        0xA9, 0x0F,        // 080D LDA #$0F
        0x8D, 0x18, 0xD4,  // 080F STA $D418
        0xEE, 0x00, 0xD4,  // 0812 INC $D400
        0x4C, 0x12, 0x08,  // 0815 JMP $0812
    };
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
