#pragma once
// The sampled-sound channel of one synth chip (layer 3): plays a 16-bit sample by rewriting SID
// registers at the sample rate, in one of four encodings, as a timer on the instrument's scheduler.
// While it plays it holds whole registers or single bits of them; the instrument's register writer
// merges the synth's writes with those bits (synthWrite) and the channel restores the synth's last
// values when it lets go.

#include "sid/ChipSubController.h"
#include "sid/DACCompressor.h"
#include "sid/DacSampleRecord.h"
#include "support/QuantumManager.h"

#include <array>
#include <cstdint>

class ChanActivityQuerier;

class SID_DAC_sub : public ChipSubController, public virtual vantor::QuantumTimer
{
public:
    // setParameter indices.
    enum Parameter : uint32_t {
        kDacMode = 0,
        kOneBitTarget = 1,
        kBias = 2,
        kGain = 3,
        kLoopMode = 4,
        kMidiOffset = 5,
        kCompressorSwitch = 6,
        kCompressorFirst = 7,  // 7..15: compressor parameters 0..8
        kCompressorLast = 15,
        kKvrbChannel = 16,
        kParameterCount = 17
    };
    enum DacMode : int64_t { kVolume = 0, kOneBit = 1, kTesslow = 2, kKvrb = 3, kFuture4 = 4, kFuture5 = 5 };
    enum LoopMode : int32_t { kRegion = 0, kContinue = 1, kLoop = 2, kFullWave = 3 };

    static constexpr uint64_t kNever = vantor::QuantumTimer::kNever;
    static constexpr uint8_t kDefaultSubIndex = 3;
    // Shortest period in ticks (at most 16 samples per tick) and the longest interval returned.
    static constexpr double kMinPeriodTicks = 1.0 / 16.0;
    static constexpr double kMaxTicks = 2147483647.0;

    // `initialStep` is the starting freeStep and keyStep (seconds per sample).
    SID_DAC_sub(ChipSubWriter* subWriter, uint64_t chipIndex, uint8_t subIndex = kDefaultSubIndex,
                vantor::QuantumManager* quantumManager = nullptr, float initialStep = 1.0f);
    ~SID_DAC_sub() override = default;

    // ChipSubController.
    bool prepare() override { return true; }
    void setClock(float) override {}
    void noteOn(uint32_t note, float noteAmplitude) override;
    void noteOff() override;
    void retrigger(uint32_t note) override;
    void setAmplitude(float value) override { amplitude = value; }
    // Samples per second without key tracking; not finite or not positive is ignored.
    void setPitch(float rate) override;
    void updateVoiceParameters(float level) override { voiceLevel = level; }
    // Null values count as 0.
    void setParameter(uint32_t index, const int32_t* intValue, const float* floatValue) override;
    // One firing: renders one sample (a KVRB cycle step) and returns the ticks to the next;
    // kNever when the channel has stopped. `rate` is in scheduler ticks per second.
    virtual uint64_t renderBlock(double rate);

    // vantor::QuantumTimer.
    uint64_t quantumElapsed(vantor::QuantumTimer* timer, uint64_t argument, double rate) override;

    // Attaches the sample (not owned) and points the play and region positions at its start and end
    // markers; a playing note goes on from the new start. Null detaches.
    void setSample(const DacSampleRecord* record);
    // The sample's rate; 8000 without a sample.
    float getSampleRate() const;
    // Samples per second with key tracking; not finite or not positive is ignored.
    void setKeyPitch(float rate);
    void setScheduler(vantor::QuantumManager* manager) { scheduler = manager; }
    void setActivityQuerier(ChanActivityQuerier* querier) { activityQuerier = querier; }
    void setLinearModelTable(bool linear) { linearModelTable = linear; }
    // Without it, a firing after the sample has played out in the volume and one-bit encodings
    // leaves the chip alone: its encoder would take registers and at once give them back.
    void setExactRender(bool on) { exactRender = on; }
    bool isLinearModelTable() const { return linearModelTable; }

    // The register writer's merge for a synth write (not DIRECT_WRITE) to this channel's chip:
    // stores the value as the synth's last and returns what reaches the chip.
    uint8_t synthWrite(uint8_t reg, uint8_t value)
    {
        const unsigned r = reg & 31u;
        savedValue[r] = value;
        return uint8_t((value & ~ownedBits[r]) | (ownedValue[r] & ownedBits[r]));
    }
    // Restores every held register to the synth's last value.
    void releaseRegisters();
    // One sample through the encoder of dacMode, then the position moves on.
    void renderSample();
    void advancePosition();

    // Burst rule of the KVRB mode for a period in ticks (ratio = period / 130): the samples of the
    // next burst; sets burstFactor (samples per cycle) and moves burstPhase.
    uint32_t burstCount(double period);

    // The sample at `index`; 0 at and past the sample's length.
    int16_t sampleAt(uint32_t index) const
    {
        return sample && index < sampleLength ? sample->sample(index) : int16_t(0);
    }
    uint32_t getSampleLength() const { return sampleLength; }

    // Positions are sample indices into the attached record; the ends are exclusive.
    const DacSampleRecord* sample = nullptr;  // not owned
    uint32_t sampleLength = 0;                // the record's length cut to its data area
    uint32_t playPos = 0;
    uint32_t sampleEnd = 0;
    uint32_t regionStart = 0;
    uint32_t regionEnd = 0;
    uint32_t loopEnd = 0;
    int32_t loopMode = 0;
    int64_t dacMode = 0;
    int64_t oneBitTarget = 0;
    int64_t dacChannel = 0;  // kept within 0..2
    uint64_t burstState = 0;
    uint32_t burstPhase = 0;
    double burstFactor = 1.0;
    bool released = false;
    ChanActivityQuerier* activityQuerier = nullptr;  // not owned
    int32_t midiOffset = 36;
    uint8_t noteMarkerCount = 0;
    float voiceLevel = 1.0f;
    float amplitude = 1.0f;
    float gain = 1.0f;
    float bias = 0.0f;
    float freeStep;
    float keyStep;
    double timeRemainder = 0.0;
    vantor::QuantumManager* scheduler;  // not owned
    DACCompressor compressor;
    bool compressorOn = false;
    bool voicesPrepared = false;
    bool linearModelTable = false;
    bool exactRender = false;
    // Register ownership: while bit r of ownedMask is set the channel holds ownedBits[r] of register
    // r at ownedValue[r]; both are 0 otherwise. savedValue[r] is the synth's last write.
    uint64_t ownedMask = 0;
    std::array<uint8_t, 32> ownedBits{};
    std::array<uint8_t, 32> ownedValue{};
    std::array<uint8_t, 32> savedValue{};

private:
    void directWrite(uint8_t reg, uint8_t value);
    void take(uint8_t reg, uint8_t bits, uint8_t value);
    void releaseRegister(unsigned reg);
    // Releases every held register whose bit is clear in `keep`.
    void releaseExcept(uint64_t keep);
    // Shared end of a played-out sample.
    void endPlayback();
    uint64_t stop();
    void encodeVolume(float s, float level);
    void encodeOneBit(float s);
    void encodeTesslow(float s, float level);
    void encodeKvrb(float s, float level);
    uint64_t ticksFor(double x);
    // The position has reached the end of the loop mode's playing (advancePosition only ends).
    bool playedOut() const;
};
