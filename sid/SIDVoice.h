#pragma once
// One SID voice: the oscillator state that the wave renderers read and write, the two per-block
// selectors that pick a renderer for the voice's current mode, and the voice's envelope.

#include "sid/SIDEnvelope.h"

#include <cstdint>

class SIDVoice {
public:
    SIDVoice() = default;
    // Frees the two per-block buffers.
    virtual ~SIDVoice();
    SIDVoice(const SIDVoice&) = delete;
    SIDVoice& operator=(const SIDVoice&) = delete;

    // Allocates zeroed buffers for blocks of up to maxCycles cycles (outputBuffer: maxCycles
    // values, accumulatorBuffer: maxCycles + 4 tops), replacing older ones, then resetState.
    // False, with no buffers, when memory runs out.
    bool reset(uint64_t maxCycles);
    // Power-on oscillator state and a reset envelope (behaviour flags and DAC tables kept).
    void resetState();
    // Voice register r (0-6: frequency low/high, pulse width low/high, control, AD, SR).
    void writeRegister(uint32_t r, uint8_t v);

    // Picks the direct renderer for the voice's waveform, test, quirk, delay, ring and sync bits and
    // runs `count` cycles into `out`. With `hasSource` the renderer steps a private copy of the source
    // voice's accumulator (the source voice itself is never touched). Afterwards stores `testBit` and
    // `nextWaveIndex` for the next block.
    void renderWaveBlock(uint32_t* out, uint64_t count, uint32_t hasSource, uint32_t sourceAccumulator,
                         uint32_t sourceFrequency, uint8_t sourceMsb);

    // The same state changes as renderWaveBlock with the same arguments, without the output; the
    // cycles in which only the accumulators step cost nothing.
    void advanceWaveBlock(uint64_t count, uint32_t hasSource, uint32_t sourceAccumulator,
                          uint32_t sourceFrequency, uint8_t sourceMsb);

    // Renders `count` cycles from accumulator tops the caller has already stepped (bits 12-23 of each
    // cycle's accumulator; ownTops[-1] and ownTops[-2] are the two cycles before the block).
    // `sourceTops` is read only by ring entries whose waveform has the triangle without the saw.
    void renderWaveFromPhases(uint32_t* out, uint64_t count, const uint16_t* ownTops,
                              const uint16_t* sourceTops);

    uint32_t accumulator = 0;       // 24-bit phase, bit 23 is the MSB
    uint32_t accumulatorPrev = 0;   // accumulator at the start of the previous cycle
    uint32_t accumulatorPrev2 = 0;  // one cycle before accumulatorPrev
    uint16_t frequency = 0;
    uint16_t pulseWidth = 0;        // 12 bits, compared with accumulator bits 12-23
    uint32_t noisePending = 0;      // shift-register value made by the last clock, not yet latched
    uint32_t noiseLatched = 0;      // 23-bit register shifted on 32 bits without masking
    uint32_t noiseOutput = 0;       // register bits 22, 20, 16, 13, 11, 7, 4, 2 as bits 7-0
    uint8_t testBit = 0;            // test bit of the previous render call
    uint8_t noiseClockedSinceTest = 0;
    uint8_t noisePhase = 0;         // alternation of the tap clearing of combined noise waveforms
    const uint16_t* combinedTable3 = nullptr;  // combined waveforms, 4096 entries each
    const uint16_t* combinedTable5 = nullptr;
    const uint16_t* combinedTable6 = nullptr;
    const uint16_t* combinedTable7 = nullptr;
    uint32_t waveform = 0;          // control >> 4
    uint32_t lastOutput = 0;
    uint32_t control = 0;           // bit 1 sync, bit 2 ring, bit 3 test, bits 4-7 waveform
    SIDEnvelope envelope;
    uint8_t testClearsAccumulator = 1;
    uint8_t delayedOutput = 0;      // waveform read one cycle late
    uint8_t sawPulseQuirk = 1;      // waveform 6 drops bit 23 below 0x821000
    uint8_t generatedCombinedTables = 0;  // waveforms 3, 6, 7 run the pulse-gated waveform-5 code
    int32_t noiseResetCounter = 0;  // test and clock cycles, saturating at 546000
    uint32_t nextWaveIndex = 0;     // 13-bit waveform index carried into the next block
    uint32_t* outputBuffer = nullptr;       // owned; one value per cycle of the largest block
    uint16_t* accumulatorBuffer = nullptr;  // owned; four entries of history, then one per cycle
};
