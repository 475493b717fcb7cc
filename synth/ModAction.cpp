#include "synth/ModAction.h"

#include "platform/SaturatingCast.h"
#include "synth/AutomSlot.h"
#include "synth/PitchProvider.h"
#include "synth/SyncProvider.h"

#include <algorithm>
#include <cmath>

namespace ZRS {

namespace {

constexpr float kDefaultTempo = 125.0f;
constexpr float kDefaultStepFraction = 0.0625f;
constexpr float kUnscaledPeriod = 0.12f;  // a 1/16 step at speed 1 and tempo 125

bool isPositiveNumber(float v)
{
    return v > 0.0f && std::isfinite(v);
}

// Ticks to the next firing: never 0, so the scheduler always moves on.
uint64_t atLeastOne(uint64_t ticks)
{
    return ticks == 0 ? 1 : ticks;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Action

ModAction::ModAction(size_t voiceCount, TableRecord table, uint8_t polarity) : record(table)
{
    const uint32_t kind = table.kind();
    const size_t n = std::min(voiceCount, kMaxVoices);
    if (kind != kStepTableKind && kind != kEnvelopeKind)
        return;
    voices.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (kind == kStepTableKind)
            voices.push_back(std::make_unique<StepActionVoice>(*this, i));
        else
            voices.push_back(std::make_unique<CurveActionVoice>(*this, i, polarity ? 1 : 0));
    }
}

ModAction::~ModAction()
{
    while (!voices.empty())
        voices.pop_back();
}

void ModAction::bind(int64_t voiceGroup, AutomSlot* slot, AutomSlotZone* zone, SyncProvider* sync,
                     PitchProvider* pitch)
{
    group = voiceGroup;
    slotPtr = slot;
    zonePtr = zone;
    syncProvider = sync;
    pitchProvider = pitch;
}

float ModAction::internalTempo() const
{
    const float t = syncProvider ? syncProvider->getTempo() : kDefaultTempo;
    return isPositiveNumber(t) ? t : kDefaultTempo;
}

float ModAction::hostTempo() const
{
    const float t = syncProvider ? syncProvider->getSyncValueA() : 0.0f;
    return isPositiveNumber(t) ? t : internalTempo();
}

float ModAction::stepFraction(uint64_t voice) const
{
    return zonePtr ? zonePtr->stepFraction(voice) : kDefaultStepFraction;
}

uint64_t ModAction::frame(uint64_t voice) const
{
    return zonePtr ? zonePtr->frame(voice) : 0;
}

uint16_t ModAction::zoneDelay() const
{
    return zonePtr ? zonePtr->delay() : 0;
}

float ModAction::rampIncrement() const
{
    return zonePtr ? zonePtr->rampIncrement() : 1.0f;
}

uint64_t ModAction::loopIn() const
{
    return zonePtr ? zonePtr->loopIn() : 0;
}

uint64_t ModAction::loopOut() const
{
    return zonePtr ? zonePtr->loopOut() : 31;
}

int32_t ModAction::loopMode() const
{
    return slotPtr ? slotPtr->loopMode() : 0;
}

uint64_t ModAction::stepCount() const
{
    return slotPtr ? slotPtr->stepCount() : 32;
}

float ModAction::swing() const
{
    return slotPtr ? slotPtr->swing() : 0.0f;
}

float ModAction::evaluateVoice(uint64_t voice)
{
    const float f = stepFraction(voice);
    const int32_t timeBase = slotPtr ? slotPtr->timeBase() : 1;
    if (timeBase == 2) {
        float hz = pitchProvider ? pitchProvider->voiceFrequency(uint64_t(group), int64_t(voice))
                                 : 1.0f;
        if (!(hz > 1.0f))  // NaN too
            hz = 1.0f;
        return f * 128.0f / hz;
    }
    return f * 240.0f / (timeBase == 0 ? hostTempo() : internalTempo());
}

ModActionVoice* ModAction::voiceAt(uint64_t i) const
{
    if (voices.empty())
        return nullptr;
    return voices[i < voices.size() ? size_t(i) : 0].get();
}

void ModAction::restartAllVoices()
{
    for (auto& v : voices) {
        v->resetAction();
        v->startAction();
    }
}

void ModAction::restartVoice(uint64_t i)
{
    if (ModActionVoice* v = voiceAt(i)) {
        v->resetAction();
        v->startAction();
    }
}

// A position before the bar start, or a step of no length, starts nothing and asks to fire now.
uint64_t ModAction::startVoiceAtTransport(uint64_t i, double rate)
{
    ModActionVoice* v = voiceAt(i);
    if (!v)
        return 0;
    const float position = syncProvider ? syncProvider->getSyncValueB() : 0.0f;
    const float barStart = syncProvider ? syncProvider->getSyncValueC() : 0.0f;
    const float d = position - barStart;
    if (!(d >= 0.0f) || !std::isfinite(d))
        return 0;
    const float p = 4.0f * stepFraction(i);  // quarter notes per step
    if (!isPositiveNumber(p))
        return 0;
    const float n = d / p;
    if (!std::isfinite(n))
        return 0;
    const uint64_t k = vantor::saturatingCast<uint64_t>(n);
    const float remainder = 1.0f - (n - float(k));
    const float secondsPerStep = p * 60.0f / hostTempo();
    v->startActionAt(k);
    return vantor::saturatingCast<uint64_t>(
        std::floor(double(secondsPerStep) * double(remainder) * rate + 0.5));
}

void ModAction::setVoiceGate(uint64_t i, uint8_t gate)
{
    if (ModActionVoice* v = voiceAt(i))
        v->setGate(gate);
}

void ModAction::setAllVoicesActive(uint8_t flag)
{
    for (auto& v : voices) {
        v->setVoiceActive(flag);
        v->startAction();
    }
}

// ---------------------------------------------------------------------------------------------
// Voices

ModActionVoice::ModActionVoice(ModAction& owner, uint64_t voiceIndex, uint8_t kind)
    : action(owner), index(voiceIndex), rangeKind(kind)
{
}

void ModActionVoice::setVoiceActive(uint8_t flag)
{
    active = flag;
    notifyActiveChanged(flag, 1);
}

void ModActionVoice::setActive(uint8_t flag)
{
    active = flag;
    notifyActiveChanged(flag, 1);
}

// Step voice ----------------------------------------------------------------------------------

StepActionVoice::StepActionVoice(ModAction& owner, uint64_t voiceIndex)
    : ModActionVoice(owner, voiceIndex, kRawScale)
{
}

float StepActionVoice::stepRangeLow() const
{
    return float(action.steps().low());
}

float StepActionVoice::stepRangeHigh() const
{
    return float(action.steps().high());
}

// Positions are unsigned and wrap; the table index is taken modulo its 16384 steps.
uint64_t StepActionVoice::frameBase() const
{
    return action.frame(index) * action.stepCount();
}

void StepActionVoice::startAction()
{
    pos = frameBase();
    counter = 0;
    value = 0.0f;
    delay = action.zoneDelay();
    ramp = action.rampIncrement();
    notifyValueChanged(true);
}

void StepActionVoice::startActionAt(uint64_t offset)
{
    tickRemainder = 0.0f;
    pos = frameBase() + offset;
    counter = 0;
    emitStep();
    advancePosition();
}

void StepActionVoice::resetAction()
{
    tickRemainder = 0.0f;
    pos = frameBase();
    counter = 0;
}

void StepActionVoice::emitStep()
{
    float v = float(action.steps().step(pos));
    if (ramp < 1.0f) {
        v *= ramp;
        if (delay == 0)
            ramp += action.rampIncrement();
    }
    value = v;
    notifyValueChanged(false);
}

void StepActionVoice::advancePosition()
{
    if (delay > 0) {
        --delay;
        return;
    }
    const uint64_t count = action.stepCount();
    const uint64_t base = frameBase();
    const uint64_t inFrame = pos & (count - 1);
    const int32_t mode = action.loopMode();
    const bool held = mode == 1 && gate;
    const bool released = mode == 1 && !gate && previousGate;  // leaves the loop
    if (mode == 2 || held) {
        const uint64_t next = base + inFrame + 1;
        pos = next > base + action.loopOut() ? base + action.loopIn() : next;
    } else if (released) {
        pos = base + action.loopOut() + 1;
    } else if (mode == 0 || mode == 1) {  // one-shot: stops on the frame's last step
        pos = std::min(base + inFrame + 1, base + count - 1);
    }
    previousGate = gate;
}

uint64_t StepActionVoice::quantumElapsed(vantor::QuantumTimer*, uint64_t, double rate)
{
    emitStep();
    advancePosition();
    const float s = action.swing();
    const float period = action.evaluateVoice(index);
    float interval;
    if (s != 0.0f) {
        const float factor = (counter & 1) ? 1.0f + s : 1.0f - s;
        interval = float(rate) * factor * period;
    } else {
        interval = float(rate * double(period));
    }
    if (!(interval > 0.0f))  // a swing beyond 1, or a rate that is no number
        interval = 0.0f;
    ++counter;
    tickRemainder += interval;
    if (!std::isfinite(tickRemainder)) {  // a step without end
        tickRemainder = 0.0f;
        return kNever;
    }
    const int64_t n = vantor::saturatingCast<int64_t>(std::floor(double(tickRemainder) + 0.5));
    tickRemainder -= float(n);
    return n > 0 ? uint64_t(n) : 1;
}

// Curve voice ---------------------------------------------------------------------------------

CurveActionVoice::CurveActionVoice(ModAction& owner, uint64_t voiceIndex, uint8_t polarity)
    : ModActionVoice(owner, voiceIndex, polarity ? kBipolar : kUnipolar)
{
}

float CurveActionVoice::mapped() const
{
    return rangeKind == kBipolar ? float((current - 0.5) * 2.0) : float(current);
}

void CurveActionVoice::startAction()
{
    pos = 0;
    delay = action.zoneDelay();
    const EnvelopeView envelope = action.envelope();
    seg = CurveSegment();
    if (envelope.stageCount() > 0) {
        const EnvelopeStage first = envelope.stage(0);
        seg.setFromStage(first);
        current = first.level;
    } else {
        current = 0.0;
    }
    value = mapped();
    notifyValueChanged(true);
}

void CurveActionVoice::startActionAt(uint64_t offset)
{
    tickRemainder = 0.0f;
    pos = offset;
    notifyValueChanged(false);
}

void CurveActionVoice::resetAction()
{
    pos = 0;
    tickRemainder = 0.0f;
}

void CurveActionVoice::loadNextStage(double rate)
{
    switch (action.loopMode()) {
    case 0: ++pos; break;
    case 1:
        if (gate)
            pos = pos + 1 <= action.loopOut() ? pos + 1 : action.loopIn();
        else if (previousGate)
            pos = action.loopOut() + 1;
        else
            ++pos;
        break;
    case 2: pos = pos + 1 <= action.loopOut() ? pos + 1 : action.loopIn(); break;
    default: break;
    }
    previousGate = gate;

    const EnvelopeView envelope = action.envelope();
    const uint32_t count = envelope.stageCount();
    if (count == 0)
        return;
    if (pos >= count)
        pos = count - 1;
    const EnvelopeStage stage = envelope.stage(size_t(pos));
    seg.setFromStage(stage);
    seg.time = stage.time * (action.evaluateVoice(index) / kUnscaledPeriod);
    seg.prepare(current, false, current, rate);  // no length: current takes the target
}

// The listeners hear the value of the previous firing; this one computes the next.
uint64_t CurveActionVoice::quantumElapsed(vantor::QuantumTimer*, uint64_t, double rate)
{
    notifyValueChanged(false);
    if (delay > 0) {
        --delay;
        return atLeastOne(
            vantor::saturatingCast<uint64_t>(double(action.evaluateVoice(index)) * rate));
    }
    tickRemainder = float(double(tickRemainder) + rate * double(kPeriod));
    const int32_t n = vantor::saturatingCast<int32_t>(std::floor(double(tickRemainder) + 0.5));
    tickRemainder -= float(n);
    if (!std::isfinite(tickRemainder))
        tickRemainder = 0.0f;
    const uint32_t period = n > 0 ? uint32_t(n) : 0;

    const uint32_t had = seg.remaining;
    uint32_t ticks = period;
    const bool runs = seg.advance(ticks, current);
    value = mapped();
    if (runs)
        return atLeastOne(period);
    // The next firing falls where the ended segment ran out.
    loadNextStage(rate);
    return atLeastOne(had > 0 ? had : period);
}

}  // namespace ZRS
