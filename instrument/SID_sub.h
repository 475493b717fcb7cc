#pragma once
// One SID voice of a synth chip: voice events and per-voice sound parameters become register
// writes. Every write lands in the chip's register image first, which is also where the current
// value of a partly changed register comes from; the chip is never read back.

#include "sid/ChipSubController.h"

#include <cstdint>
#include <vector>

class SID_shadow;

class SID_sub : public ChipSubController
{
public:
    // setParameter indices.
    enum Parameter : uint32_t {
        kPulseWidth = 0,
        kGate = 1,
        kWave = 2,
        kStall = 3,
        kRingMod = 5,
        kHardSync = 6,
        kAttack = 7,
        kDecay = 8,
        kSustain = 9,
        kRelease = 10,
        kToFilter = 11,
        kPhaseReset = 12,
    };

    // Chip registers.
    static constexpr uint8_t kFilterRouting = 23;
    static constexpr uint8_t kControlGate = 0x01;
    static constexpr uint8_t kControlSync = 0x02;
    static constexpr uint8_t kControlRing = 0x04;
    static constexpr uint8_t kControlTest = 0x08;

    SID_sub(SID_shadow* chipShadow, ChipSubWriter* subWriter, uint64_t chipIndex, uint8_t place);

    // Appends the three voices of a chip (voice 0, 1, 2), sharing its shadow; the list owns them.
    static bool createVoices(std::vector<ChipSubController*>& list, SID_shadow* chipShadow,
                             ChipSubWriter* subWriter, uint64_t chipIndex);

    bool prepare() override { return true; }
    void setClock(float clockHz) override;
    void noteOn(uint32_t note, float newAmplitude) override;
    void noteOff() override;
    void retrigger(uint32_t note) override;
    void setAmplitude(float newAmplitude) override;
    // Frequency in Hz.
    void setPitch(float frequencyHz) override;
    void updateVoiceParameters(float level) override;
    // Reads only the integer; unknown indices write nothing.
    void setParameter(uint32_t index, const int32_t* intValue, const float* floatValue) override;

    void setPulseWidth(int32_t v);
    void setGate(int32_t v);
    void setWave(int32_t v);
    void setStall(int32_t v);
    void setRingMod(int32_t v);
    void setHardSync(int32_t v);
    void setAttack(int32_t v);
    void setDecay(int32_t v);
    void setSustain(int32_t v);
    void setRelease(int32_t v);
    void setToFilter(int32_t v);
    void setPhaseReset(int32_t v);

    // Writes the output level register from amplitude and layer level.
    void updateLevel();

    // This voice's registers.
    uint8_t controlRegister() const { return uint8_t(4 + 7 * voice); }
    uint8_t frequencyLowRegister() const { return uint8_t(7 * voice); }
    uint8_t levelRegister() const { return uint8_t(29 + voice); }
    uint8_t pulseWidthLowRegister() const { return uint8_t(2 + 7 * voice); }
    uint8_t attackDecayRegister() const { return uint8_t(5 + 7 * voice); }
    uint8_t sustainReleaseRegister() const { return uint8_t(6 + 7 * voice); }

    SID_shadow* shadow;             // not owned; shared by the chip's three voices
    float frequencyFactor = 1.0f;   // frequency-register units per Hz
    bool phaseReset = true;
    float layerLevel = 1.0f;
    float amplitude = 1.0f;

private:
    // The image first, then the writer.
    void write(uint8_t reg, uint8_t value);
    uint8_t current(uint8_t reg) const;
    void setControlBit(uint8_t bit, bool on);
    void setHighNibble(uint8_t reg, int32_t v);
    void setLowNibble(uint8_t reg, int32_t v);
};
