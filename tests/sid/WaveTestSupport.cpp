#include "WaveTestSupport.h"

namespace wavetest {

Fields fieldsOf(const SIDVoice& v)
{
    return Fields{v.accumulator,
                  v.accumulatorPrev,
                  v.accumulatorPrev2,
                  v.frequency,
                  v.pulseWidth,
                  v.noisePending,
                  v.noiseLatched,
                  v.noiseOutput,
                  v.testBit,
                  v.noiseClockedSinceTest,
                  v.noisePhase,
                  {v.combinedTable3, v.combinedTable5, v.combinedTable6, v.combinedTable7},
                  v.waveform,
                  v.lastOutput,
                  v.control,
                  v.testClearsAccumulator,
                  v.delayedOutput,
                  v.sawPulseQuirk,
                  v.generatedCombinedTables,
                  v.noiseResetCounter,
                  v.nextWaveIndex,
                  v.outputBuffer,
                  v.accumulatorBuffer};
}

std::ostream& operator<<(std::ostream& os, const Fields& f)
{
    os << std::hex << "{acc " << f.accumulator << " prev " << f.accumulatorPrev << " prev2 " << f.accumulatorPrev2
       << " freq " << f.frequency << " pw " << f.pulseWidth << " pend " << f.noisePending << " latch "
       << f.noiseLatched << " byte " << f.noiseOutput << " test " << f.testBit << " K " << f.noiseClocked << " J "
       << f.noisePhase << " wave " << f.waveform << " last " << f.lastOutput << " ctrl " << f.control
       << std::dec << " R " << f.noiseResetCounter << std::hex << " next " << f.nextWaveIndex << std::dec << "}";
    return os;
}

void copyOscillator(SIDVoice& to, const SIDVoice& from)
{
    to.accumulator = from.accumulator;
    to.accumulatorPrev = from.accumulatorPrev;
    to.accumulatorPrev2 = from.accumulatorPrev2;
    to.frequency = from.frequency;
    to.pulseWidth = from.pulseWidth;
    to.noisePending = from.noisePending;
    to.noiseLatched = from.noiseLatched;
    to.noiseOutput = from.noiseOutput;
    to.testBit = from.testBit;
    to.noiseClockedSinceTest = from.noiseClockedSinceTest;
    to.noisePhase = from.noisePhase;
    to.combinedTable3 = from.combinedTable3;
    to.combinedTable5 = from.combinedTable5;
    to.combinedTable6 = from.combinedTable6;
    to.combinedTable7 = from.combinedTable7;
    to.waveform = from.waveform;
    to.lastOutput = from.lastOutput;
    to.control = from.control;
    to.testClearsAccumulator = from.testClearsAccumulator;
    to.delayedOutput = from.delayedOutput;
    to.sawPulseQuirk = from.sawPulseQuirk;
    to.generatedCombinedTables = from.generatedCombinedTables;
    to.noiseResetCounter = from.noiseResetCounter;
    to.nextWaveIndex = from.nextWaveIndex;
}

ref::Osc toRef(const SIDVoice& v)
{
    ref::Osc r;
    r.accumulator = v.accumulator;
    r.accumulatorPrev = v.accumulatorPrev;
    r.accumulatorPrev2 = v.accumulatorPrev2;
    r.frequency = v.frequency;
    r.pulseWidth = v.pulseWidth;
    r.noisePending = v.noisePending;
    r.noiseLatched = v.noiseLatched;
    r.noiseOutput = v.noiseOutput;
    r.testBit = v.testBit;
    r.noiseClocked = v.noiseClockedSinceTest;
    r.noisePhase = v.noisePhase;
    r.waveform = v.waveform;
    r.lastOutput = v.lastOutput;
    r.nextWaveIndex = v.nextWaveIndex;
    r.noiseResetCounter = v.noiseResetCounter;
    r.table3 = v.combinedTable3;
    r.table5 = v.combinedTable5;
    r.table6 = v.combinedTable6;
    r.table7 = v.combinedTable7;
    return r;
}

Fields fieldsAfter(const SIDVoice& before, const ref::Osc& r)
{
    Fields f = fieldsOf(before);
    f.accumulator = r.accumulator;
    f.accumulatorPrev = r.accumulatorPrev;
    f.accumulatorPrev2 = r.accumulatorPrev2;
    f.noisePending = r.noisePending;
    f.noiseLatched = r.noiseLatched;
    f.noiseOutput = r.noiseOutput;
    f.noiseClocked = r.noiseClocked;
    f.noisePhase = r.noisePhase;
    f.lastOutput = r.lastOutput;
    f.noiseResetCounter = r.noiseResetCounter;
    return f;
}

TablePool::TablePool(Rng& rng, int count)
{
    for (int t = 0; t < count; ++t) {
        std::vector<uint16_t> table(4096);
        for (auto& e : table)
            e = uint16_t(pick(rng, 0, 4095));
        tables.push_back(std::move(table));
    }
}

namespace {

uint32_t randomAccumulator(Rng& rng)
{
    switch (pick(rng, 0, 6)) {
    case 0: return pick(rng, 0, 0xFFFFFF);
    case 1: return 0x7FFFFF - pick(rng, 0, 0x30000);
    case 2: return 0x800000 + pick(rng, 0, 0x22000);
    case 3: return 0x821000 - 0x1000 + pick(rng, 0, 0x2000);
    case 4: return (pick(rng, 0, 31) * 0x80000 - pick(rng, 0, 0x40000)) & 0xFFFFFF;  // below a bit-19 edge
    case 5: return 0xFFFFFF - pick(rng, 0, 0x20000);
    default: return pick(rng, 0, 0xFFFF);
    }
}

uint16_t randomFrequency(Rng& rng)
{
    switch (pick(rng, 0, 4)) {
    case 0: return 0;
    case 1: return uint16_t(pick(rng, 1, 255));
    case 2: return uint16_t(pick(rng, 0xF000, 0xFFFF));
    default: return uint16_t(pick(rng, 0, 0xFFFF));
    }
}

int32_t randomCounter(Rng& rng)
{
    switch (pick(rng, 0, 4)) {
    case 0: return 0;
    case 1: return int32_t(pick(rng, 0, 3));
    case 2: return 546000;
    case 3: return int32_t(546000 - pick(rng, 0, 300));
    default: return int32_t(pick(rng, 0, 546000));
    }
}

}  // namespace

void randomVoice(Rng& rng, SIDVoice& v, const TablePool& tables)
{
    v.frequency = randomFrequency(rng);
    v.accumulator = randomAccumulator(rng);
    v.accumulatorPrev = pick(rng, 0, 1) ? (v.accumulator - v.frequency) & 0xFFFFFF : randomAccumulator(rng);
    v.accumulatorPrev2 = pick(rng, 0, 0xFFFFFF);
    switch (pick(rng, 0, 5)) {
    case 0: v.pulseWidth = 0; break;
    case 1: v.pulseWidth = 4095; break;
    case 2: v.pulseWidth = uint16_t((v.accumulator >> 12) + pick(rng, 0, 2)); break;
    default: v.pulseWidth = uint16_t(pick(rng, 0, 4095)); break;
    }
    v.noiseLatched = pick(rng, 0, 3) == 0 ? 0xFFFFFC : uint32_t(rng());
    v.noisePending = pick(rng, 0, 2) == 0 ? v.noiseLatched : uint32_t(rng());
    v.noiseOutput = pick(rng, 0, 255);
    v.testBit = uint8_t(pick(rng, 0, 1));
    v.noiseClockedSinceTest = uint8_t(pick(rng, 0, 1));
    v.noisePhase = uint8_t(pick(rng, 0, 1));
    v.noiseResetCounter = randomCounter(rng);
    v.combinedTable3 = tables.any(rng);
    v.combinedTable5 = tables.any(rng);
    v.combinedTable6 = tables.any(rng);
    v.combinedTable7 = tables.any(rng);
    v.waveform = pick(rng, 0, 15);
    v.control = pick(rng, 0, 255);
    v.lastOutput = pick(rng, 0, 4095);
    v.nextWaveIndex = pick(rng, 0, 0x1FFF);
}

SourceCopy randomSource(Rng& rng)
{
    SourceCopy s;
    switch (pick(rng, 0, 3)) {
    case 0: s.accumulator = uint32_t(rng()); break;
    case 1: s.accumulator = (pick(rng, 0, 255) << 24) | (0x7FFFFF - pick(rng, 0, 0x20000)); break;
    case 2: s.accumulator = (pick(rng, 0, 255) << 24) | (0xFFFFFF - pick(rng, 0, 0x20000)); break;
    default: s.accumulator = pick(rng, 0, 0xFFFFFF); break;
    }
    s.frequency = pick(rng, 0, 7) == 0 ? uint32_t(rng()) : pick(rng, 0, 0xFFFF);
    s.msb = uint8_t(pick(rng, 0, 2) == 0 ? pick(rng, 0, 1) : (s.accumulator >> 23) & 1);
    return s;
}

void randomTops(Rng& rng, uint16_t* tops, int64_t first, int64_t end)
{
    if (pick(rng, 0, 1) == 0) {
        for (int64_t i = first; i < end; ++i)
            tops[i] = uint16_t(pick(rng, 0, 4095));
        return;
    }
    uint32_t acc = pick(rng, 0, 0xFFFFFF);
    const uint32_t step = pick(rng, 0, 3) == 0 ? pick(rng, 0x8000, 0xFFFF) : pick(rng, 0, 0xFFFF);
    for (int64_t i = first; i < end; ++i) {
        if (pick(rng, 0, 63) == 0)
            acc = 0;  // a sync reset or test
        tops[i] = uint16_t(acc >> 12);
        acc = (acc + step) & 0xFFFFFF;
    }
}

}  // namespace wavetest
