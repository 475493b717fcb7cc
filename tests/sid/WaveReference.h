#pragma once
// Slow reference models of the oscillator renderers: one plain per-cycle loop each, with the mode
// as run-time flags, written from the renderer rules and sharing no code with sid/.

#include <cstdint>

namespace ref {

struct Osc {
    uint32_t accumulator = 0, accumulatorPrev = 0, accumulatorPrev2 = 0;
    uint32_t frequency = 0, pulseWidth = 0;
    uint32_t noisePending = 0, noiseLatched = 0, noiseOutput = 0;
    uint32_t testBit = 0, noiseClocked = 0, noisePhase = 0;
    uint32_t waveform = 0, lastOutput = 0, nextWaveIndex = 0;
    int32_t noiseResetCounter = 0;
    const uint16_t* table3 = nullptr;
    const uint16_t* table5 = nullptr;
    const uint16_t* table6 = nullptr;
    const uint16_t* table7 = nullptr;
};

struct Source {
    uint32_t accumulator = 0, frequency = 0;
    uint8_t msb = 0;
};

// Direct table index bits: nibble, 16 test, 32 quirk, 64 delayed, 128 source, 256 ring, 512 sync.
void renderDirect(Osc& v, Source& s, unsigned index, uint32_t* out, uint64_t count,
                  uint16_t* topsOut = nullptr, uint16_t* sourceTopsOut = nullptr);

// Buffered table index bits: nibble, 16 test, 32 delayed, 64 ring. tops[-1], tops[-2] readable.
void renderBuffered(Osc& v, unsigned index, uint32_t* out, uint64_t count, const uint16_t* tops,
                    const uint16_t* sourceTops);

uint32_t noiseTaps(uint32_t reg);

}  // namespace ref
