#include "instrument/SID_sub.h"

#include "media/SID_shadow.h"
#include "platform/SaturatingCast.h"
#include "sid/ChipSubWriter.h"

#include <algorithm>
#include <cmath>

SID_sub::SID_sub(SID_shadow* chipShadow, ChipSubWriter* subWriter, uint64_t chipIndex,
                 uint8_t place)
    : ChipSubController(subWriter, chipIndex, place), shadow(chipShadow)
{
}

bool SID_sub::createVoices(std::vector<ChipSubController*>& list, SID_shadow* chipShadow,
                           ChipSubWriter* subWriter, uint64_t chipIndex)
{
    for (uint8_t v = 0; v < 3; ++v)
        list.push_back(new SID_sub(chipShadow, subWriter, chipIndex, v));
    return true;
}

void SID_sub::write(uint8_t reg, uint8_t value)
{
    shadow->store(reg, value);
    writer->writeRegister(chip, reg, value);
}

uint8_t SID_sub::current(uint8_t reg) const
{
    return shadow->regs[reg % SID_shadow::kRegisters];
}

void SID_sub::setClock(float clockHz)
{
    frequencyFactor = 16777216.0f / clockHz;
}

void SID_sub::noteOn(uint32_t note, float newAmplitude)
{
    amplitude = newAmplitude;
    updateLevel();
    retrigger(note);
}

void SID_sub::noteOff()
{
    write(controlRegister(), uint8_t(current(controlRegister()) & ~kControlGate));
}

void SID_sub::retrigger(uint32_t /*note*/)
{
    const uint8_t reg = controlRegister();
    uint8_t c = current(reg);
    if (c & kControlGate) {
        c = uint8_t(c & ~kControlGate);
        write(reg, c);
    }
    // The test pulse restarts the oscillator phase before the new gate.
    if (phaseReset)
        write(reg, uint8_t(c | kControlTest));
    write(reg, uint8_t((c & ~(kControlTest | kControlGate)) | kControlGate));
}

void SID_sub::setAmplitude(float newAmplitude)
{
    amplitude = newAmplitude;
    updateLevel();
}

void SID_sub::updateVoiceParameters(float level)
{
    layerLevel = level;
    updateLevel();
}

void SID_sub::updateLevel()
{
    // The chip's gain is (255 - v) / 255: 255 is silent, 0 full level.
    uint8_t value = 255;
    if (amplitude != 0.0f && layerLevel != 0.0f) {
        const float x = std::floor(amplitude * amplitude * layerLevel * 255.0f + 0.5f);
        const int32_t level = std::clamp(vantor::saturatingCast<int32_t>(x), 0, 255);
        // Any non-zero amplitude keeps at least level 1.
        value = level == 0 ? 254 : uint8_t(255 - level);
    }
    write(levelRegister(), value);
}

void SID_sub::setPitch(float frequencyHz)
{
    const float product = std::floor(frequencyHz * frequencyFactor + 0.5f);
    int64_t f = 0;  // beyond the 32-bit range, and NaN, give 0
    if (product >= -2147483648.0f && product < 2147483648.0f)
        f = std::clamp<int64_t>(int64_t(product), 0, 65535);
    write(frequencyLowRegister(), uint8_t(f & 255));
    write(uint8_t(frequencyLowRegister() + 1), uint8_t(f >> 8));
}

void SID_sub::setControlBit(uint8_t bit, bool on)
{
    const uint8_t c = current(controlRegister());
    write(controlRegister(), on ? uint8_t(c | bit) : uint8_t(c & ~bit));
}

void SID_sub::setHighNibble(uint8_t reg, int32_t v)
{
    write(reg, uint8_t((current(reg) & 0x0F) | ((v & 0x0F) << 4)));
}

void SID_sub::setLowNibble(uint8_t reg, int32_t v)
{
    write(reg, uint8_t((current(reg) & 0xF0) | (v & 0x0F)));
}

void SID_sub::setPulseWidth(int32_t v)
{
    const int32_t pw = std::clamp(v, 0, 4095);
    write(pulseWidthLowRegister(), uint8_t(pw & 255));
    write(uint8_t(pulseWidthLowRegister() + 1), uint8_t(pw >> 8));
}

void SID_sub::setGate(int32_t v)
{
    setControlBit(kControlGate, v > 0);
}

void SID_sub::setWave(int32_t v)
{
    setHighNibble(controlRegister(), v);
}

void SID_sub::setStall(int32_t v)
{
    setControlBit(kControlTest, v > 0);
}

void SID_sub::setRingMod(int32_t v)
{
    setControlBit(kControlRing, v > 0);
}

void SID_sub::setHardSync(int32_t v)
{
    setControlBit(kControlSync, v > 0);
}

void SID_sub::setAttack(int32_t v)
{
    setHighNibble(attackDecayRegister(), v);
}

void SID_sub::setDecay(int32_t v)
{
    setLowNibble(attackDecayRegister(), v);
}

void SID_sub::setSustain(int32_t v)
{
    setHighNibble(sustainReleaseRegister(), v);
}

void SID_sub::setRelease(int32_t v)
{
    setLowNibble(sustainReleaseRegister(), v);
}

void SID_sub::setToFilter(int32_t v)
{
    const uint8_t bit = uint8_t(1u << voice);
    const uint8_t routing = current(kFilterRouting);
    write(kFilterRouting, v > 0 ? uint8_t(routing | bit) : uint8_t(routing & ~bit));
}

void SID_sub::setPhaseReset(int32_t v)
{
    phaseReset = v > 0;
}

void SID_sub::setParameter(uint32_t index, const int32_t* intValue, const float* /*floatValue*/)
{
    if (!intValue)
        return;
    const int32_t v = *intValue;
    switch (index) {
    case kPulseWidth: setPulseWidth(v); break;
    case kGate: setGate(v); break;
    case kWave: setWave(v); break;
    case kStall: setStall(v); break;
    case kRingMod: setRingMod(v); break;
    case kHardSync: setHardSync(v); break;
    case kAttack: setAttack(v); break;
    case kDecay: setDecay(v); break;
    case kSustain: setSustain(v); break;
    case kRelease: setRelease(v); break;
    case kToFilter: setToFilter(v); break;
    case kPhaseReset: setPhaseReset(v); break;
    default: break;  // 4 and 13 upwards
    }
}
