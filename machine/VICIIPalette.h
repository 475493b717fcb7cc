#pragma once
// RGB values of the 16 video-chip colours, PAL and NTSC: the one copy the screen and the
// instrument's canvas take them from.

#include <array>
#include <cstdint>

struct VICIIColour {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

using VICIIPalette = std::array<VICIIColour, 16>;

const VICIIPalette& viciiPalette(bool ntsc);

// Writes entries 0-15 of three colour tables; the other entries are left alone.
void fillVICIIPalette(bool ntsc, uint8_t* red, uint8_t* green, uint8_t* blue);
