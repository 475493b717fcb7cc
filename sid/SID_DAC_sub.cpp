#include "sid/SID_DAC_sub.h"

#include "platform/SaturatingCast.h"
#include "sid/ChanActivityQuerier.h"
#include "sid/ChipSubWriter.h"
#include "sid/TesslowTables.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr uint64_t bit(unsigned reg) { return uint64_t(1) << reg; }

// Registers of voice k.
constexpr uint8_t frequencyHigh(int64_t k) { return uint8_t(7 * k + 1); }
constexpr uint8_t pulseLow(int64_t k) { return uint8_t(7 * k + 2); }
constexpr uint8_t pulseHigh(int64_t k) { return uint8_t(7 * k + 3); }
constexpr uint8_t control(int64_t k) { return uint8_t(7 * k + 4); }
constexpr uint8_t kFilterRouting = 23;
constexpr uint8_t kModeVolume = 24;
constexpr uint64_t kVoiceAndFilterRegisters = bit(25) - 1;  // 0..24

// Control values: test bit, gate, triangle.
constexpr uint8_t kTest = 0x08, kGate = 0x01, kTriangle = 0x10;

// Tesslow voice set-up, registers 7k..7k+6: frequency 0, pulse width 0x800, pulse + test + gate,
// attack/decay 0x0F, sustain/release 0xFF.
constexpr uint8_t kTesslowVoice[7] = {0x00, 0x00, 0x00, 0x08, 0x49, 0x0F, 0xFF};

// NaN as 0; otherwise clamped to lo..hi.
inline float clampOrZero(float v, float lo, float hi)
{
    return v != v ? 0.0f : std::clamp(v, lo, hi);
}

bool validRate(float rate, float& step)
{
    if (!(std::isfinite(rate) && rate > 0.0f))
        return false;
    step = 1.0f / rate;
    return std::isfinite(step);
}

}  // namespace

SID_DAC_sub::SID_DAC_sub(ChipSubWriter* subWriter, uint64_t chipIndex, uint8_t subIndex,
                         vantor::QuantumManager* quantumManager, float initialStep)
    : ChipSubController(subWriter, chipIndex, subIndex),
      freeStep(std::isfinite(initialStep) && initialStep > 0.0f ? initialStep : 1.0f),
      keyStep(freeStep),
      scheduler(quantumManager)
{
}

// ---------------------------------------------------------------------------------------------
// Parameters and register ownership

void SID_DAC_sub::setParameter(uint32_t index, const int32_t* intValue, const float* floatValue)
{
    const int32_t iv = intValue ? *intValue : 0;
    const float fv = floatValue ? *floatValue : 0.0f;
    // Mode, target and channel: a new value lets go of every register first.
    auto change = [this](int64_t& field, int64_t value) {
        if (field == value)
            return;
        releaseRegisters();
        voicesPrepared = false;
        field = value;
    };
    switch (index) {
    case kDacMode:
        change(dacMode, iv);
        break;
    case kOneBitTarget:
        change(oneBitTarget, iv);
        break;
    case kBias:
        bias = fv;
        break;
    case kGain:
        gain = fv;
        break;
    case kLoopMode:
        loopMode = iv;
        break;
    case kMidiOffset:
        midiOffset = iv;
        break;
    case kCompressorSwitch: {
        const bool on = fv >= 0.5f;
        if (on && compressorOn)
            compressor.reset();
        compressorOn = on;
        break;
    }
    case kKvrbChannel:
        change(dacChannel, std::clamp<int64_t>(iv, 0, 2));
        break;
    default:
        if (index >= kCompressorFirst && index <= kCompressorLast)
            compressor.setParameter(index - kCompressorFirst, fv);
        break;
    }
}

void SID_DAC_sub::directWrite(uint8_t reg, uint8_t value)
{
    if (writer)
        writer->writeRegister(chip | ChipSubWriter::DIRECT_WRITE, reg, value);
}

void SID_DAC_sub::take(uint8_t reg, uint8_t bits, uint8_t value)
{
    value &= bits;
    ownedMask |= bit(reg);
    ownedBits[reg] = bits;
    ownedValue[reg] = value;
    directWrite(reg, uint8_t((savedValue[reg] & ~bits) | value));
}

void SID_DAC_sub::releaseRegister(unsigned reg)
{
    ownedMask &= ~bit(reg);
    ownedBits[reg] = 0;
    ownedValue[reg] = 0;
    directWrite(uint8_t(reg), savedValue[reg]);
}

void SID_DAC_sub::releaseExcept(uint64_t keep)
{
    for (uint64_t m = ownedMask & ~keep & 0xFFFFFFFFu; m != 0; m &= m - 1)
        releaseRegister(unsigned(std::countr_zero(m)));
}

void SID_DAC_sub::releaseRegisters()
{
    releaseExcept(0);
}

// ---------------------------------------------------------------------------------------------
// Encoders

void SID_DAC_sub::renderSample()
{
    if (dacMode != kTesslow)
        voicesPrepared = false;
    float s = float(sampleAt(playPos)) * (1.0f / 32768.0f);
    if (compressorOn)
        compressor.process(&s, 1);
    s = s * gain + bias;
    if (s != s)
        s = 0.0f;
    if (dacMode < kVolume || dacMode > kKvrb)
        return;
    if (!exactRender && ownedMask == 0 && (dacMode == kVolume || dacMode == kOneBit) && playedOut())
        return;
    const float level = voiceLevel * amplitude;
    switch (dacMode) {
    case kVolume:
        encodeVolume(s, level);
        break;
    case kOneBit:
        encodeOneBit(s);
        break;
    case kTesslow:
        encodeTesslow(s, level);
        break;
    default:
        encodeKvrb(s, level);
        break;
    }
    advancePosition();
}

void SID_DAC_sub::encodeVolume(float s, float level)
{
    const float v = clampOrZero(1.0f + level * (0.5f * s - 0.5f), 0.0f, 1.0f);
    const int32_t n = std::min(15, vantor::saturatingCast<int32_t>(16.0f * v));
    releaseExcept(bit(kModeVolume));
    take(kModeVolume, 0x0F, uint8_t(n));
}

void SID_DAC_sub::encodeOneBit(float s)
{
    const int64_t t = oneBitTarget;
    if (t < 0 || t > 11)
        return;
    const bool on = s > 0.0f;
    if (t <= 2) {
        releaseExcept(bit(pulseLow(t)) | bit(pulseHigh(t)));
        take(pulseHigh(t), 0x0F, on ? 0x0F : 0x00);
        take(pulseLow(t), 0xFF, on ? 0xFF : 0x00);
    } else if (t <= 5) {
        releaseExcept(bit(pulseHigh(t - 3)));
        take(pulseHigh(t - 3), 0x0F, on ? 0x0F : 0x00);
    } else {
        // Filter routing of voice 1-3, or the low-, band- and high-pass switches.
        const uint8_t reg = t <= 8 ? kFilterRouting : kModeVolume;
        const uint8_t bits = t <= 8 ? uint8_t(1u << (t - 6)) : uint8_t(0x10u << (t - 9));
        releaseExcept(bit(reg));
        take(reg, bits, on ? bits : 0x00);
    }
}

void SID_DAC_sub::encodeTesslow(float s, float level)
{
    const float v = clampOrZero(s * level, -1.0f, 1.0f);
    releaseExcept(kVoiceAndFilterRegisters);
    if (!voicesPrepared) {
        for (uint8_t k = 0; k < 3; ++k)
            for (uint8_t r = 0; r < 7; ++r)
                take(uint8_t(7 * k + r), 0xFF, kTesslowVoice[r]);
        take(21, 0xFF, 0xFF);
        take(22, 0xFF, 0xFF);
        take(kFilterRouting, 0xFF, 0x03);
        voicesPrepared = true;
    }
    const float x = std::min(4095.0f, std::max(0.0f, (v + 1.0f) * 2048.0f));
    const size_t i = size_t(std::clamp(vantor::saturatingCast<int32_t>(x + 0.5f), 0, 4095));
    const auto& table = linearModelTable ? kTesslowLevelTableLinear : kTesslowLevelTable;
    take(kModeVolume, 0xFF, table[i]);
}

void SID_DAC_sub::encodeKvrb(float s, float level)
{
    const float v = clampOrZero(s * level, -1.0f, 1.0f);
    const int32_t b = std::min(255, vantor::saturatingCast<int32_t>(v * 128.0f + 128.0f));
    const int64_t c = dacChannel;
    releaseExcept(bit(frequencyHigh(c)) | bit(control(c)));
    take(control(c), 0xFF, released ? kTest : kTest | kGate);
    take(frequencyHigh(c), 0xFF, uint8_t(b));
}

// ---------------------------------------------------------------------------------------------
// Sample, notes and positions

void SID_DAC_sub::setSample(const DacSampleRecord* record)
{
    sample = record;
    if (!record) {
        sampleLength = playPos = sampleEnd = regionStart = regionEnd = loopEnd = 0;
        noteMarkerCount = 0;
        return;
    }
    const uint32_t length = record->usableLength();
    int64_t start = 0, last = int64_t(length) - 1;
    bool haveStart = false, haveEnd = false;
    uint32_t notes = 0;
    for (size_t slot = 0; slot < DacSampleRecord::kSlots; ++slot) {
        const uint8_t kind = record->kind(slot);
        if (kind == DacSampleRecord::kStartMarker && !haveStart) {
            start = record->position(slot);
            haveStart = true;
        } else if (kind == DacSampleRecord::kEndMarker && !haveEnd) {
            last = record->position(slot);
            haveEnd = true;
        } else if (kind == DacSampleRecord::kNoteMarker) {
            ++notes;
        }
    }
    sampleLength = length;
    regionStart = playPos = uint32_t(std::min<int64_t>(start, length));
    regionEnd = loopEnd = sampleEnd = uint32_t(std::clamp<int64_t>(last + 1, 0, length));
    noteMarkerCount = uint8_t(notes);
}

float SID_DAC_sub::getSampleRate() const
{
    return sample ? float(sample->rate()) : 8000.0f;
}

void SID_DAC_sub::setPitch(float rate)
{
    float step;
    if (validRate(rate, step))
        freeStep = step;
}

void SID_DAC_sub::setKeyPitch(float rate)
{
    float step;
    if (validRate(rate, step))
        keyStep = step;
}

void SID_DAC_sub::noteOn(uint32_t note, float noteAmplitude)
{
    amplitude = noteAmplitude;
    retrigger(note);
}

void SID_DAC_sub::retrigger(uint32_t note)
{
    if (!sample || sample->rate() == 0)
        return;
    const int64_t length = sampleLength;
    const uint8_t key = uint8_t(note);
    int64_t start, regionLast, loopLast;  // inclusive
    if (loopMode != kFullWave) {
        if (midiOffset > key || noteMarkerCount == 0)
            return;
        // k, k - m, k - 2m, ... modulo 128 until a note marker: with the markers in slots 0..m-1
        // the keyboard repeats the regions every m notes.
        const int64_t m = noteMarkerCount;
        int64_t j = int64_t(key) - midiOffset;
        bool found = false;
        for (int step = 0; step < 128 && !found; ++step) {
            found = sample->kind(size_t(j & 127)) == DacSampleRecord::kNoteMarker;
            if (!found)
                j -= m;
        }
        if (!found)
            return;
        start = sample->position(size_t(j & 127));
        const bool nextIsNote = j + 1 >= 0 && j + 1 <= 127 &&
                                sample->kind(size_t(j + 1)) == DacSampleRecord::kNoteMarker;
        regionLast = loopLast = nextIsNote ? int64_t(sample->position(size_t(j + 1))) - 1 : length - 1;
    } else {
        switch (std::min<uint32_t>(noteMarkerCount, 3)) {
        case 3:
            start = sample->position(0);
            regionLast = sample->position(1);
            loopLast = sample->position(2);
            break;
        case 2:
            start = 0;
            regionLast = sample->position(0);
            loopLast = sample->position(1);
            break;
        case 1:
            start = sample->position(0);
            regionLast = loopLast = length - 1;
            break;
        default:
            start = 0;
            regionLast = loopLast = length - 1;
            break;
        }
    }
    if (start >= length)
        return;
    released = false;
    regionStart = playPos = uint32_t(start);
    regionEnd = uint32_t(std::clamp<int64_t>(regionLast + 1, 0, length));
    loopEnd = uint32_t(std::clamp<int64_t>(loopLast + 1, 0, length));
    compressor.setSampleRate(float(sample->rate()));
    timeRemainder = 0.0;
    if (scheduler) {
        scheduler->cancel(this);
        scheduler->addTimer(this, 0);  // renders the first sample now
    }
}

void SID_DAC_sub::noteOff()
{
    released = true;
    // KVRB and one-bit voice targets play on until the voice has died away (renderBlock).
    if (dacMode == kKvrb || (dacMode == kOneBit && oneBitTarget >= 0 && oneBitTarget <= 8))
        return;
    if (scheduler)
        scheduler->cancel(this);
    releaseRegisters();
    voicesPrepared = false;
}

void SID_DAC_sub::endPlayback()
{
    releaseRegisters();
    voicesPrepared = false;
}

bool SID_DAC_sub::playedOut() const
{
    switch (loopMode) {
    case kRegion: return playPos >= regionEnd;
    case kContinue:
    case kFullWave: return playPos >= sampleEnd;
    default: return false;
    }
}

void SID_DAC_sub::advancePosition()
{
    switch (loopMode) {
    case kRegion:
        if (playPos < regionEnd)
            ++playPos;
        else
            endPlayback();
        break;
    case kContinue:
        if (playPos < sampleEnd)
            ++playPos;
        else
            endPlayback();
        break;
    case kLoop:
        if (++playPos > regionEnd)
            playPos = regionStart;
        break;
    case kFullWave:
        if (playPos >= sampleEnd) {
            endPlayback();
        } else if (++playPos > loopEnd) {
            playPos = regionEnd != loopEnd ? regionEnd : regionStart;
        }
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Timing

uint64_t SID_DAC_sub::quantumElapsed(vantor::QuantumTimer*, uint64_t, double rate)
{
    return renderBlock(rate);
}

uint64_t SID_DAC_sub::stop()
{
    releaseRegisters();
    voicesPrepared = false;
    return kNever;
}

uint32_t SID_DAC_sub::burstCount(double period)
{
    const double ratio = period / 130.0;
    if (ratio < 0.25) {
        const double inverse = 130.0 / period;
        const uint32_t n =
            vantor::saturatingCast<uint32_t>(inverse >= 65537.0 ? std::floor(inverse) : std::ceil(inverse));
        burstFactor = double(n);
        return n;
    }
    if (ratio < 0.5) {
        const uint32_t m = vantor::saturatingCast<uint32_t>(std::ceil(260.0 / period));  // 5..8
        burstFactor = m / 2.0;
        if ((m & 1) == 0)
            return m / 2;
        const uint32_t phase = burstPhase & 1;
        burstPhase = 1 - phase;
        return (m + phase) / 2;
    }
    if (ratio < 1.0) {
        const uint32_t m = vantor::saturatingCast<uint32_t>(std::ceil(520.0 / period));  // 5..8
        burstFactor = m / 4.0;
        if (m % 4 == 0)
            return m / 4;
        const uint32_t phase = burstPhase & 3;
        burstPhase = (phase + (m % 4 == 2 ? 2 : 1)) % 4;
        return (m + phase) / 4;
    }
    burstFactor = 1.0;
    return 1;
}

uint64_t SID_DAC_sub::ticksFor(double x)
{
    const double t = x + timeRemainder;
    if (!(t < kMaxTicks)) {
        timeRemainder = 0.0;
        return uint64_t(kMaxTicks);
    }
    const int32_t r = vantor::saturatingCast<int32_t>(std::floor(t + 0.5));
    timeRemainder = t - r;
    return uint64_t(std::max(r, 0));
}

uint64_t SID_DAC_sub::renderBlock(double rate)
{
    if (released) {
        int64_t watched = -1;
        if (dacMode == kKvrb)
            watched = dacChannel;
        else if (dacMode == kOneBit && oneBitTarget >= 0 && oneBitTarget <= 8)
            watched = oneBitTarget % 3;
        if (watched < 0 || !activityQuerier ||
            !activityQuerier->isChannelActive(uint64_t(watched), chip, voice))
            return stop();
    }
    double period = double(loopMode == kFullWave ? keyStep : freeStep) * rate;
    if (!(period >= kMinPeriodTicks))
        period = kMinPeriodTicks;
    period = std::min(period, kMaxTicks);

    double x;
    if (dacMode != kKvrb) {
        renderSample();
        burstState = 0;
        burstPhase = 0;
        burstFactor = 1.0;
        x = period;
    } else {
        // Test bit with the sample in the frequency byte, then one tick later gate only, then 128
        // ticks later triangle with gate and frequency 0 until the next burst.
        const int64_t c = dacChannel;
        const uint64_t keep = bit(frequencyHigh(c)) | bit(control(c));
        switch (std::min<uint64_t>(burstState, 2)) {
        case 0:
            for (uint32_t n = burstCount(period); n > 0; --n)
                renderSample();
            burstState = 1;
            x = 1.0;
            break;
        case 1:
            if (playPos < sampleEnd) {
                releaseExcept(keep);
                take(control(c), 0xFF, released ? 0x00 : kGate);
            }
            burstState = 2;
            x = 128.0;
            break;
        default:
            if (playPos < sampleEnd) {
                releaseExcept(keep);
                take(control(c), 0xFF, released ? kTriangle : kTriangle | kGate);
                take(frequencyHigh(c), 0xFF, 0x00);
            }
            burstState = 0;
            x = std::max(1.0, period * burstFactor - 129.0);
            break;
        }
    }
    return ticksFor(x);
}
