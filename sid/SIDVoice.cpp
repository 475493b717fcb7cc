#include "sid/SIDVoice.h"

#include "sid/WaveRender.h"

#include <new>

namespace {

// Nibble of the table index: with generated combined tables, waveforms 3, 6 and 7 run the
// pulse-gated waveform-5 code on their own table.
uint32_t indexNibble(const SIDVoice& v)
{
    const uint32_t stored = v.waveform & 15;
    if (v.generatedCombinedTables != 0 && (stored == 3 || stored == 6 || stored == 7))
        return 5;
    return stored;
}

uint32_t bit(uint32_t value, unsigned n) { return (value >> n) & 1; }

inline uint32_t directIndex(const SIDVoice& v, uint32_t hasSource)
{
    const uint32_t quirk = (v.waveform & 15) == 6 && v.sawPulseQuirk != 0 ? 1 : 0;
    return indexNibble(v) + 16 * bit(v.control, 3) + 32 * quirk + 64 * (v.delayedOutput != 0 ? 1 : 0) +
           128 * (hasSource != 0 ? 1 : 0) + 256 * bit(v.control, 2) + 512 * bit(v.control, 1);
}

inline uint32_t bufferedIndex(const SIDVoice& v)
{
    return indexNibble(v) + 16 * bit(v.control, 3) + 32 * (v.delayedOutput != 0 ? 1 : 0) + 64 * bit(v.control, 2);
}

inline uint32_t foldedIndex(uint32_t accumulator, uint32_t nibble, bool ring, bool sourceMsb)
{
    const uint32_t index = (accumulator >> 12) & 0xFFF;
    if ((nibble & 2) != 0)
        return index;
    const bool msb = bit(accumulator, 23) != 0;
    const bool fold = ring ? msb == sourceMsb : msb;
    return fold ? index ^ 0x17FF : index;
}

}  // namespace

uint32_t waveRenderIndex(const SIDVoice& v, uint32_t hasSource) { return directIndex(v, hasSource); }

uint32_t bufferedWaveRenderIndex(const SIDVoice& v) { return bufferedIndex(v); }

uint32_t nextWaveIndexFor(uint32_t accumulator, uint32_t nibble, bool ring, bool sourceMsb)
{
    return foldedIndex(accumulator, nibble, ring, sourceMsb);
}

void SIDVoice::renderWaveBlock(uint32_t* out, uint64_t count, uint32_t hasSource, uint32_t sourceAccumulator,
                               uint32_t sourceFrequency, uint8_t sourceMsb)
{
    const uint32_t index = directIndex(*this, hasSource);
    // Private copies: the source voice is stepped by its own call.
    uint32_t acc = sourceAccumulator, freq = sourceFrequency;
    uint8_t msb = sourceMsb;
    kWaveRenderTable[index](*this, out, count, &acc, &freq, &msb);
    testBit = uint8_t(bit(control, 3));
    nextWaveIndex = foldedIndex(accumulator, index & 15, bit(control, 2) != 0, msb != 0);
}

void SIDVoice::renderWaveFromPhases(uint32_t* out, uint64_t count, const uint16_t* ownTops,
                                    const uint16_t* sourceTops)
{
    const uint32_t index = bufferedIndex(*this);
    kWaveRenderBufferedTable[index](*this, out, count, ownTops, sourceTops);
    testBit = uint8_t(bit(control, 3));
    const bool ring = bit(control, 2) != 0;
    // The source MSB only matters for the ring fold of nibbles without the saw bit.
    const bool msb = ring && (index & 2) == 0 && bit(sourceTops[ptrdiff_t(count) - 1], 11) != 0;
    nextWaveIndex = foldedIndex(accumulator, index & 15, ring, msb);
}

SIDVoice::~SIDVoice()
{
    delete[] outputBuffer;
    delete[] accumulatorBuffer;
}

bool SIDVoice::reset(uint64_t maxCycles)
{
    delete[] outputBuffer;
    delete[] accumulatorBuffer;
    outputBuffer = new (std::nothrow) uint32_t[maxCycles]();
    accumulatorBuffer = new (std::nothrow) uint16_t[maxCycles + 4]();
    const bool ok = outputBuffer && accumulatorBuffer;
    if (!ok) {
        delete[] outputBuffer;
        delete[] accumulatorBuffer;
        outputBuffer = nullptr;
        accumulatorBuffer = nullptr;
    }
    resetState();
    return ok;
}

void SIDVoice::resetState()
{
    pulseWidth = 0;
    accumulator = accumulatorPrev = accumulatorPrev2 = 0x555555;
    lastOutput = 0;
    waveform = 0;
    noiseOutput = 0;
    noisePending = noiseLatched = 0xFFFFFC;
    noiseResetCounter = 0;
    control = 0;
    envelope.reset();
    frequency = 0;
}

void SIDVoice::writeRegister(uint32_t r, uint8_t v)
{
    switch (r) {
    case 0:  // FREQ LO
        frequency = uint16_t((frequency & 0xFF00) | v);
        break;
    case 1:  // FREQ HI
        frequency = uint16_t((frequency & 0x00FF) | (v << 8));
        break;
    case 2:  // PW LO
        pulseWidth = uint16_t((pulseWidth & 0xF00) | v);
        break;
    case 3:  // PW HI
        pulseWidth = uint16_t((pulseWidth & 0x0FF) | ((v & 15) << 8));
        break;
    case 4:  // CONTROL
        control = v;
        envelope.setGate(v & 1);
        if (testClearsAccumulator && (v & 8))
            accumulator = 0;
        waveform = v >> 4;
        break;
    case 5:  // ATTACK/DECAY
        envelope.setAttackDecay(v);
        break;
    case 6:  // SUSTAIN/RELEASE
        envelope.setSustainRelease(v);
        break;
    default:
        break;
    }
}
