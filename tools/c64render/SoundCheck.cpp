#include "SoundCheck.h"

#include <cmath>
#include <numbers>

SoundCheck::SoundCheck(double sampleRate) : pole(std::exp(-2.0 * std::numbers::pi * kCutoffHz / sampleRate)) {}

void SoundCheck::add(const float* x, uint64_t frames, uint64_t first)
{
    for (uint64_t i = 0; i < frames; ++i) {
        const double in = x[i];
        output = pole * (output + in - previous);
        previous = in;
        if (std::fabs(output) >= kThreshold)
            lastSound = first + i + 1;
        else if (!std::isfinite(output))
            output = previous = 0.0;  // a NaN or infinity is not sound and is forgotten
    }
}
