#pragma once
// Where a render last sounded: a sample sounds when, high-passed at 40 Hz, it reaches -60 dBFS
// (the usual silence threshold). The high-pass keeps out a level that only drifts back to zero,
// as the output does for a while after its last note (its own 5 Hz high-pass undoing a DC
// step).

#include <cstdint>

class SoundCheck
{
public:
    static constexpr double kCutoffHz = 40.0;
    static constexpr double kThreshold = 1e-3;  // -60 dBFS

    explicit SoundCheck(double sampleRate);
    // The next `frames` samples of one channel, from frame `first`.
    void add(const float* x, uint64_t frames, uint64_t first);
    bool sounded() const { return lastSound > 0; }
    // One past the last frame that sounded; 0 when none did.
    uint64_t silentFrom() const { return lastSound; }

private:
    double pole;
    double previous = 0.0;
    double output = 0.0;
    uint64_t lastSound = 0;
};
