#pragma once
// A voice group's timed modulation source for one automation slot: one action voice per synth
// voice, each a scheduler timer and a modulator. Step voices play a step table, curve voices an
// envelope; both run at the slot's step length, the voice's speed and the chosen time base.

#include "support/QuantumManager.h"
#include "synth/AutomTables.h"
#include "synth/CurveSegment.h"
#include "synth/Modulator.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace ZRS {

class AutomSlot;
class AutomSlotZone;
class ModAction;
class PitchProvider;
class SyncProvider;

class ModActionParent
{
public:
    virtual ~ModActionParent() = default;
};

class ModActionVoice : public vantor::QuantumTimer, public Modulator
{
public:
    ModActionVoice(ModAction& owner, uint64_t index, uint8_t rangeKind);
    ~ModActionVoice() override = default;

    virtual void resetAction() = 0;
    // Stores the flag and tells the listeners (extra 1), as setActive does.
    virtual void setVoiceActive(uint8_t flag);
    virtual void startAction() = 0;
    virtual void startActionAt(uint64_t offset) = 0;
    uint8_t getVoiceRangeKind() const { return rangeKind; }

    void setActive(uint8_t flag) override;
    uint8_t getRangeKind() const override { return rangeKind; }

    void setGate(uint8_t g) { gate = g; }

    // Inspection.
    ModAction& owner() const { return action; }
    uint64_t voiceIndex() const { return index; }
    uint64_t position() const { return pos; }
    uint16_t delayCounter() const { return delay; }
    float rampLevel() const { return ramp; }
    uint8_t gateValue() const { return gate; }

protected:
    ModAction& action;
    uint64_t index;
    uint64_t pos = 0;  // stage index of a curve voice, absolute step of a step voice
    float tickRemainder = 0.0f;
    float ramp = 1.0f;
    uint16_t delay = 0;  // steps still to wait
    uint8_t rangeKind;
    uint8_t gate = 0;
    uint8_t previousGate = 0;  // the gate at the previous position change
};

class StepActionVoice final : public ModActionVoice
{
public:
    StepActionVoice(ModAction& owner, uint64_t index);

    void resetAction() override;
    void startAction() override;
    void startActionAt(uint64_t offset) override;
    uint64_t quantumElapsed(vantor::QuantumTimer* timer, uint64_t argument, double rate) override;

    float getMinValue() const override { return stepRangeLow(); }
    float getMaxValue() const override { return stepRangeHigh(); }
    float stepRangeLow() const;
    float stepRangeHigh() const;

    uint64_t stepCounter() const { return counter; }

private:
    uint64_t frameBase() const;
    void emitStep();
    void advancePosition();

    uint64_t counter = 0;  // steps played since the start
};

class CurveActionVoice final : public ModActionVoice
{
public:
    static constexpr float kPeriod = 0.0041666669f;  // 1/240 s

    CurveActionVoice(ModAction& owner, uint64_t index, uint8_t polarity);

    void resetAction() override;
    void startAction() override;
    void startActionAt(uint64_t offset) override;
    uint64_t quantumElapsed(vantor::QuantumTimer* timer, uint64_t argument, double rate) override;

    double currentValue() const { return current; }
    const CurveSegment& segment() const { return seg; }

private:
    float mapped() const;
    void loadNextStage(double rate);

    CurveSegment seg;
    double current = 0.0;  // unmapped envelope value
};

class ModAction : public ModActionParent
{
public:
    static constexpr size_t kMaxVoices = 12;

    // Step voices for a step table, curve voices (bipolar when `polarity` is set) for an
    // envelope, none for a record of any other kind. At most kMaxVoices.
    ModAction(size_t voiceCount, TableRecord table, uint8_t polarity);
    ModAction(const ModAction&) = delete;
    ModAction& operator=(const ModAction&) = delete;
    // Deletes the voices, last first.
    ~ModAction() override;

    // The voice's step period in seconds.
    virtual float evaluateVoice(uint64_t voice);

    void bind(int64_t group, AutomSlot* slot, AutomSlotZone* zone, SyncProvider* sync,
              PitchProvider* pitch);

    void restartAllVoices();
    // Voice i, voice 0 when i is beyond the voices, null when there are none.
    ModActionVoice* voiceAt(uint64_t i) const;
    void restartVoice(uint64_t i);
    // Starts voice i at the host position; returns the ticks to its next step.
    uint64_t startVoiceAtTransport(uint64_t i, double rate);
    void setVoiceGate(uint64_t i, uint8_t gate);
    void setAllVoicesActive(uint8_t flag);

    size_t voiceCount() const { return voices.size(); }
    int64_t voiceGroup() const { return group; }
    AutomSlot* slot() const { return slotPtr; }
    AutomSlotZone* zone() const { return zonePtr; }
    TableRecord table() const { return record; }

    // What the voices read, with the defaults of a fresh slot while nothing is bound.
    StepTableView steps() const { return StepTableView(record); }
    EnvelopeView envelope() const { return EnvelopeView(record); }
    float stepFraction(uint64_t voice) const;
    uint64_t frame(uint64_t voice) const;
    uint16_t zoneDelay() const;
    float rampIncrement() const;
    uint64_t loopIn() const;
    uint64_t loopOut() const;
    int32_t loopMode() const;
    uint64_t stepCount() const;
    float swing() const;
    // Beats per minute; a tempo that is not a positive number falls back to the internal one,
    // and that to 125.
    float internalTempo() const;
    float hostTempo() const;

private:
    AutomSlotZone* zonePtr = nullptr;
    AutomSlot* slotPtr = nullptr;
    TableRecord record;
    int64_t group = -1;
    std::vector<std::unique_ptr<ModActionVoice>> voices;
    SyncProvider* syncProvider = nullptr;
    PitchProvider* pitchProvider = nullptr;
};

}  // namespace ZRS
