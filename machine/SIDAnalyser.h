#pragma once
// One frame of SID registers in musical terms: per voice pulse width, envelope, waveform, control
// bits and frequency in hertz; for the chip the filter cutoff, resonance, routing, mode, volume.

#include "media/SID_shadow.h"

#include <cstdint>

struct SidFrameAnalysis
{
    struct Voice
    {
        uint16_t pulseWidth;  // 12 bits
        uint8_t attack, decay, sustain, release;  // 0-15
        uint8_t waveform;  // control register's high nibble
        uint8_t gate, sync, ring, test;
        uint8_t filtered;
        uint8_t spare[4];  // not touched
        float frequency;   // Hz
        uint8_t voice3Off; // in the third voice only
    };

    Voice voices[3];
    uint16_t cutoff;  // 11 bits
    uint8_t spare1[2];
    uint8_t resonance;
    uint8_t spare2[3];
    uint8_t volume;
    uint8_t spare3[3];
    uint8_t voice3Off;
    uint8_t externalFiltered;
    uint8_t lowPass, bandPass, highPass;
};

class SIDAnalyser
{
public:
    explicit SIDAnalyser(double clockHz) : frequencyScale(clockHz / 16777216.0) {}
    virtual ~SIDAnalyser() = default;

    // Fills the record from the frame; voiceMask bit v selects voice v. A voice outside the mask
    // gets pulse width 0 and its ten envelope, waveform and flag bytes 0; the fields marked
    // spare keep what the caller put there.
    void analyseFrame(const SID_shadow& frame, SidFrameAnalysis& record, uint64_t voiceMask);

private:
    double frequencyScale;         // clock / 2^24
    float frequencies[3] = {};     // of the last frame analysed, per voice
};
