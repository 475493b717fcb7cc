#pragma once
// Off-screen picture of an emulated display: one colour index per pixel, row-major, with three
// 256-entry colour tables. Copied into the attached PixelCanvas on flush, only after a change.

#include "media/PixelCanvas.h"

#include <cstdint>
#include <memory>

class EmuScreen {
public:
    EmuScreen() = default;
    virtual ~EmuScreen() = default;
    EmuScreen(const EmuScreen&) = delete;
    EmuScreen& operator=(const EmuScreen&) = delete;

    // Takes the canvas's size and a new zeroed buffer. A null canvas, or one whose size is empty or
    // beyond kMaxPixels, gives an empty buffer. The name is not kept; dirty is left as it was.
    virtual void attach(PixelCanvas* canvas, const char* name);
    // (row, column) in the owner's coordinates; pixels outside the window at the origin are dropped.
    void setPixel(int32_t row, int32_t column, uint8_t colourIndex);
    void clear(uint8_t colourIndex);
    // When dirty: copies the pixels, the colour tables unless the canvas keeps its own, then tells
    // the canvas's listener.
    void flush();

    static constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

    uint64_t columns = 0;  // row stride
    uint64_t rows = 0;
    uint64_t pixelCount = 0;
    bool dirty = false;
    int32_t originX = 0;  // owner's column that lands in buffer column 0
    int32_t originY = 0;  // owner's row that lands in buffer row 0
    uint8_t red[256] = {};
    uint8_t green[256] = {};
    uint8_t blue[256] = {};
    PixelCanvas* canvas = nullptr;  // not owned
    std::unique_ptr<uint8_t[]> pixels;
};
