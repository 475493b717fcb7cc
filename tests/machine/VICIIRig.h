#pragma once
// A video chip on a plain 64 KB RAM and 1 KB colour RAM, drawing into a 384 x 272 canvas, with a
// listener that records the interrupt line, BA and frame ends.

#include "machine/VICII.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace vicii_test {

constexpr uint32_t kPalFrame = 312 * 63;
constexpr uint32_t kNtscFrame = 263 * 65;

struct RecordingListener : VICIIListener {
    std::vector<bool> irqCalls;
    bool irq = false;
    bool ba = false;
    int frames = 0;

    void vicIrq(VICII*, bool level) override
    {
        irqCalls.push_back(level);
        irq = level;
    }
    void vicLine(bool low) override { ba = low; }
    void vicHook5() override { ++frames; }
};

struct CanvasCounter : PixelCanvasListener {
    int changes = 0;
    void canvasChanged() override { ++changes; }
};

struct VicRig {
    std::vector<uint8_t> ram = std::vector<uint8_t>(0x10000);
    std::vector<uint8_t> colourRam = std::vector<uint8_t>(0x400);
    std::vector<uint8_t> pixels = std::vector<uint8_t>(272 * 384, 0xEE);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    CanvasCounter canvasCounter;
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), 272, 384, &canvasCounter};
    RecordingListener listener;
    std::unique_ptr<VICII> vic;

    explicit VicRig(bool ntsc = false)
        : vic(std::make_unique<VICII>(&listener, colourRam.data(), ram.data(), &canvas, ntsc))
    {
    }

    VICII::View view() const { return vic->view(); }

    // Steps until the chip is at (line, cycle), i.e. that cycle's accesses are done.
    void runTo(uint32_t line, uint32_t cycle)
    {
        for (uint32_t i = 0; i < 2 * kPalFrame + 1; ++i) {
            const VICII::View v = vic->view();
            if (v.line == line && v.cycle == cycle)
                return;
            vic->step();
        }
        FAIL() << "never reached line " << line << " cycle " << cycle;
    }

    // Runs until n more frames have ended (and been flushed to the canvas).
    void runFrames(int n)
    {
        const int target = listener.frames + n;
        while (listener.frames < target)
            vic->step();
    }

    uint8_t pixel(uint32_t row, uint32_t column) const { return pixels[row * 384 + column]; }
};

}  // namespace vicii_test
