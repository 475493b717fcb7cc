#include "media/EmuScreen.h"

#include <algorithm>
#include <cstring>

namespace {

// rows x columns, or 0 when either is 0 or the product passes the limit.
uint64_t checkedCount(uint64_t rows, uint64_t columns)
{
    if (rows == 0 || columns == 0 || rows > EmuScreen::kMaxPixels / columns)
        return 0;
    return rows * columns;
}

}  // namespace

void EmuScreen::attach(PixelCanvas* target, const char*)
{
    canvas = target;
    const uint64_t count = target ? checkedCount(target->rows, target->columns) : 0;
    rows = count ? target->rows : 0;
    columns = count ? target->columns : 0;
    pixelCount = count;
    if (count)
        pixels = std::make_unique<uint8_t[]>(count);
    else
        pixels.reset();
}

void EmuScreen::setPixel(int32_t row, int32_t column, uint8_t colourIndex)
{
    const int64_t r = int64_t(row) - originY;
    const int64_t c = int64_t(column) - originX;
    if (r < 0 || c < 0 || uint64_t(r) >= rows || uint64_t(c) >= columns)
        return;
    pixels[uint64_t(r) * columns + uint64_t(c)] = colourIndex;
    dirty = true;
}

void EmuScreen::clear(uint8_t colourIndex)
{
    if (pixelCount)
        std::memset(pixels.get(), colourIndex, pixelCount);
    dirty = true;
}

void EmuScreen::flush()
{
    if (!dirty)
        return;
    if (canvas) {
        // The canvas may have been resized since the attach: never copy past its own size.
        const uint64_t n = std::min(pixelCount, checkedCount(canvas->rows, canvas->columns));
        if (canvas->pixels && n)
            std::memcpy(canvas->pixels, pixels.get(), n);
        if (!canvas->keepsOwnPalette) {
            if (canvas->red)
                std::memcpy(canvas->red, red, sizeof red);
            if (canvas->green)
                std::memcpy(canvas->green, green, sizeof green);
            if (canvas->blue)
                std::memcpy(canvas->blue, blue, sizeof blue);
        }
        if (canvas->listener)
            canvas->listener->canvasChanged();
    }
    dirty = false;
}
