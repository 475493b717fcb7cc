#pragma once
// The surface the instrument shows to the host: colour indices, one byte per pixel, row-major,
// with three 256-entry colour tables. Filled by its owner; screens copy into it.

#include <cstddef>
#include <cstdint>

class PixelCanvasListener
{
public:
    virtual ~PixelCanvasListener() = default;
    // Called after the pixels or the colour tables changed.
    virtual void canvasChanged() = 0;
};

struct PixelCanvas
{
    uint8_t* red = nullptr;  // 256 entries each
    uint8_t* green = nullptr;
    uint8_t* blue = nullptr;
    uint64_t keepsOwnPalette = 0;  // non-zero: screens leave the colour tables alone
    uint8_t* pixels = nullptr;
    uint64_t rows = 0;
    uint64_t columns = 0;
    PixelCanvasListener* listener = nullptr;  // may be null
};
static_assert(sizeof(PixelCanvas) == 64);
