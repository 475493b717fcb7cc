#include "platform/PMIDI.h"

#include <cmath>
#include <cstdio>

uint16_t PMIDICombineBytes(uint8_t low, uint8_t high) { return uint16_t(low | (high << 7)); }

void PMIDICreateBytes(uint16_t value, uint8_t& low, uint8_t& high)
{
    high = uint8_t((value >> 7) & 0x7F);
    low = uint8_t(value & 0x7F);
}

namespace {

template <class F>
int toMIDI7(F v)
{
    const F x = std::floor(v * F(127) + F(0.5));
    if (!(x > F(0)))  // NaN too
        return 0;
    return x >= F(127) ? 127 : int(x);
}

template <class F>
int toMIDI14(F v)
{
    F x = v * F(8192) + F(8192);
    if (std::isnan(x))
        return 8192;
    if (x < F(0))
        return 0;
    if (x > F(16383))
        x = F(16383);
    return int(std::floor(x + F(0.5))) & 0x3FFF;
}

}  // namespace

int PDowngradeToMIDI7(const float& v) { return toMIDI7(v); }
int PDowngradeToMIDI7(const double& v) { return toMIDI7(v); }
int PDowngradeToMIDI14(const float& v) { return toMIDI14(v); }
int PDowngradeToMIDI14(const double& v) { return toMIDI14(v); }

void PMIDILogMessage(char* b, size_t n, const uint8_t* m, bool zeroBased)
{
    if (!b || n < 32)
        return;
    b[n - 1] = 0;
    const size_t cap = n - 1;
    const int s = m[0];
    if (s < 0x80) {
        snprintf(b, cap, "????");
        return;
    }
    const int c = (s & 0x0F) + (zeroBased ? 0 : 1);
    const int d1 = m[1], d2 = m[2];
    switch (s & 0xF0) {
    case 0x80: snprintf(b, cap, "Chn: %2d Note Off(%3d): %3d", c, d1 & 0x7F, d2 & 0x7F); return;
    case 0x90:
        if (d2 & 0x7F)
            snprintf(b, cap, "Chn: %2d Note On (%3d): %3d", c, d1 & 0x7F, d2 & 0x7F);
        else
            snprintf(b, cap, "Chn: %2d Note Off(%3d): %3d", c, d1 & 0x7F, 0);
        return;
    case 0xA0: snprintf(b, cap, "Chn: %2d Aftertouch(%3d): %3d", c, d1 & 0x7F, d2 & 0x7F); return;
    case 0xB0: snprintf(b, cap, "Chn: %2d CC(%3d): %3d", c, d1 & 0x7F, d2 & 0x7F); return;
    case 0xC0: snprintf(b, cap, "Chn: %2d Program(%3d)", c, d1 & 0x7F); return;
    case 0xD0: snprintf(b, cap, "Chn: %2d Channel Pressure: %3d", c, d1 & 0x7F); return;
    case 0xE0: snprintf(b, cap, "Chn: %2d Pitch Bend: %4d", c, (d2 << 7 | d1) - 8192); return;
    default: break;
    }
    switch (s) {
    case 0xF1: snprintf(b, cap, "MTC Qtr Frame: %3d", d1); break;
    case 0xF2: snprintf(b, cap, "Song Position Ptr: %5d", d2 << 7 | d1); break;
    case 0xF3: snprintf(b, cap, "Song Select: %3d", d1); break;
    case 0xF6: snprintf(b, cap, "Tune Request"); break;
    case 0xF8: snprintf(b, cap, "Clock"); break;
    case 0xFA: snprintf(b, cap, "Start"); break;
    case 0xFB: snprintf(b, cap, "Continue"); break;
    case 0xFC: snprintf(b, cap, "Stop"); break;
    case 0xFE: snprintf(b, cap, "Active Sense"); break;
    case 0xFF: snprintf(b, cap, "Reset"); break;
    default: break;  // F0, F4, F5, F7, F9, FD: only the terminator
    }
}
