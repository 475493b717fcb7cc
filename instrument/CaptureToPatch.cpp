#include "instrument/CaptureToPatch.h"

#include "instrument/ChipControllerListener.h"
#include "instrument/SIDCtrl.h"
#include "instrument/StepTableWriter.h"
#include "media/SIDCapture.h"
#include "platform/SaturatingCast.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace {

constexpr uint64_t kMaxSlots = 15;
constexpr uint64_t kLastStep = 127;  // a modulator writes at most 128 steps
constexpr uint64_t kNoLoop = StepTableWriters::kNoLoopPoint;
constexpr uint16_t kLayerBlock = 16;
constexpr uint16_t kPW = 0, kWave = 2, kStall = 3, kRingMod = 5, kHardSync = 6, kToFilter = 11;
constexpr const char* kReplace = ";MATH=REPLACE;AMOUNT=1.0;OFFSET=0.0\n";
constexpr const char* kAccum = ";MATH=ACCUM;AMOUNT=1.0;OFFSET=0.0\n";
constexpr const char* kOffsetHalf = ";MATH=OFFSET;AMOUNT=0.5;OFFSET=0.0\n";
constexpr const char* kOffsetOne = ";MATH=OFFSET;AMOUNT=1.0;OFFSET=0.0\n";
constexpr const char* kOffsetHalfPW = ";MATH=OFFSET;AMOUNT=0.500000;OFFSET=0.0\n";
constexpr uint8_t kTriangle = 1, kPulse = 4;

struct LayerFrame
{
    uint16_t pulseWidth;
    uint8_t adsr[4];
    uint8_t waveform;
    uint8_t flags[5];  // gate, hard sync, ring mod, stall, to filter
    int16_t transpose;
    int8_t detune;
    uint8_t voice3Off;
    uint16_t cutoff;
    uint8_t resonance;
    uint8_t volume;
    uint8_t lowPass, bandPass, highPass;
    uint8_t externalFiltered;
    friend bool operator==(const LayerFrame&, const LayerFrame&) = default;
};
enum Flag { kGate, kSync, kRing, kTest, kFilter };

// Where a track stops changing: e is the start of the run of equal values that ends at step
// min(N - 1, 127); constant when nothing before it differs, or when only the last of at least
// 16 frames does.
struct TrackShape
{
    uint64_t e = 0;
    bool constant = true;
};

template <typename T>
TrackShape trackShape(const std::vector<T>& x)
{
    TrackShape shape;
    if (x.empty())
        return shape;
    const uint64_t n = x.size();
    const uint64_t k0 = std::min<uint64_t>(n - 1, kLastStep);
    uint64_t e = k0;
    while (e > 0 && x[e - 1] == x[k0])
        --e;
    shape.e = e;
    shape.constant = e == 0;
    if (!shape.constant && n >= 16 && e == n - 1)
        shape.constant = std::all_of(x.begin(), x.end() - 1, [&](const T& v) { return v == x[0]; });
    return shape;
}

template <typename T>
bool monotonic(const std::vector<T>& x)
{
    return std::is_sorted(x.begin(), x.end()) || std::is_sorted(x.rbegin(), x.rend());
}

template <typename T, typename F>
std::vector<T> track(const std::vector<LayerFrame>& frames, F field)
{
    std::vector<T> out;
    out.reserve(frames.size());
    for (const LayerFrame& f : frames)
        out.push_back(T(field(f)));
    return out;
}

bool allWithin(const std::vector<int32_t>& values, uint64_t count, int32_t lo, int32_t hi)
{
    for (uint64_t i = 0; i < count && i < values.size(); ++i)
        if (values[i] < lo || values[i] > hi)
            return false;
    return true;
}

// Appends "source=STEPn" + the destination piece + the math piece and takes the slot; false,
// with nothing appended, once every slot is used.
bool takeSlot(CaptureRoutingContext& context, const std::string& destination, const char* math,
              uint64_t& slot)
{
    if (context.slot >= kMaxSlots)
        return false;
    slot = context.slot++;
    context.text += "source=STEP" + std::to_string(slot) + destination + math;
    return true;
}

std::string parameterDestination(const ParameterInfo& parameter)
{
    return std::string(";destination=") + (parameter.label ? parameter.label : "");
}

std::string layerDestination(size_t layer, const char* what)
{
    return ";destination=L0" + std::to_string(layer + 1) + " " + what;
}

float mostCommonFrequency(const std::vector<SidFrameAnalysis>& records, size_t voice)
{
    std::map<float, uint64_t> counts;
    for (const SidFrameAnalysis& r : records) {
        const float f = r.voices[voice].frequency;
        if (f != 0.0f && std::isfinite(f))
            ++counts[f];
    }
    float best = 0.0f;
    uint64_t bestCount = 0;
    for (const auto& [f, count] : counts)  // ascending: a tie keeps the lower frequency
        if (count > bestCount) {
            best = f;
            bestCount = count;
        }
    return best;
}

class Conversion
{
public:
    Conversion(SIDCtrl& controller, float speed) : context{0, {}, controller, speed} {}

    void run(const std::vector<SidFrameAnalysis>& records, uint64_t voiceMask);

private:
    const ParameterInfo* parameter(uint16_t index) const
    {
        const auto& table = context.controller.parameters;
        return index < table.size() ? &table[index] : nullptr;
    }
    void byteModulator(uint16_t index, const std::vector<uint8_t>& values)
    {
        if (const ParameterInfo* p = parameter(index))
            addStepByteModulator(context, *p, values);
    }
    void bitModulator(uint16_t index, const std::vector<bool>& bits, uint32_t loopMode)
    {
        if (const ParameterInfo* p = parameter(index))
            addStepBitModulator(context, *p, bits, loopMode);
    }
    void pitch(size_t layer, SIDCTRLLayer& target, const std::vector<LayerFrame>& frames);
    void fullLayer(size_t layer, SIDCTRLLayer& target, const std::vector<LayerFrame>& frames);
    void pulseWidth(size_t layer, SIDCTRLLayer& target, const std::vector<LayerFrame>& frames);
    void filter(SIDCTRLPatch& patch, const std::vector<LayerFrame>& frames);

    CaptureRoutingContext context;
    bool filterDone = false;
};

void Conversion::run(const std::vector<SidFrameAnalysis>& records, uint64_t voiceMask)
{
    SIDCtrl& ctrl = context.controller;
    double reference = 99999.0;
    for (size_t v = 0; v < 3; ++v)
        if ((voiceMask >> v) & 1)
            if (const float f = mostCommonFrequency(records, v); f != 0.0f)
                reference = std::min(reference, double(f));
    if (reference == 99999.0 || !(reference > 0.0))
        return;

    bool layerOn[3] = {}, layerFull[3] = {};
    for (size_t v = 0; v < 3; ++v) {
        if ((voiceMask >> v) & 1) {
            layerOn[v] = layerFull[v] = true;
            continue;
        }
        const size_t modulated = (v + 1) % 3;
        for (const SidFrameAnalysis& r : records) {
            const auto& m = r.voices[modulated];
            if (m.sync || (m.ring && (m.waveform & kTriangle)))
                layerOn[v] = true;
        }
    }

    SIDCTRLPatch& patch = ctrl.patch();
    for (size_t L = 0; L < 3; ++L) {
        SIDCTRLLayer& layer = *patch.sidLayer(L);
        layer.pulseWidth = 2048;
        layer.attack = layer.decay = layer.release = 0;
        layer.sustain = 15;
        layer.wave = 4;
        layer.gate = layer.hardSync = layer.ringMod = layer.stall = layer.toFilter = 0;
        layer.fixedFrequency = 0;
        layer.transpose = 0;
        layer.detune = 0;
        layer.active = layerOn[L];
        if (L < 2 && !layerFull[L]) {
            layer.wave = 0;
            layer.stall = 1;
            layer.attack = layer.decay = layer.sustain = layer.release = 0;
        }
    }
    patch.voice3Off = layerFull[2] ? 0 : 1;

    bool framesDiffer = false;
    for (size_t L = 0; L < 3; ++L) {
        if (!layerOn[L])
            continue;
        std::vector<LayerFrame> frames;
        frames.reserve(records.size());
        for (const SidFrameAnalysis& r : records) {
            const auto& v = r.voices[L];
            LayerFrame f{};
            f.pulseWidth = v.pulseWidth;
            f.adsr[0] = v.attack;
            f.adsr[1] = v.decay;
            f.adsr[2] = v.sustain;
            f.adsr[3] = v.release;
            f.waveform = v.waveform;
            f.flags[kGate] = v.gate;
            f.flags[kSync] = v.sync;
            f.flags[kRing] = v.ring;
            f.flags[kTest] = v.test;
            f.flags[kFilter] = v.filtered;
            const double ratio = double(v.frequency) / reference;
            if (v.frequency > 0.0f && std::isfinite(ratio)) {
                double cents = std::log10(ratio) * 3986.313713864835;
                int32_t transpose = 0;
                if (cents > 100.0 || cents < -100.0) {
                    transpose = vantor::saturatingCast<int32_t>(std::floor(cents / 100.0 + 0.5));
                    cents -= 100.0 * transpose;
                }
                f.transpose = int16_t(std::clamp(transpose, -32768, 32767));
                f.detune = int8_t(std::clamp(vantor::saturatingCast<int32_t>(std::floor(cents + 0.5)), -128, 127));
            }
            f.voice3Off = L == 2 ? v.voice3Off : 0;
            f.cutoff = r.cutoff;
            f.resonance = r.resonance;
            f.volume = r.volume;
            f.lowPass = r.lowPass;
            f.bandPass = r.bandPass;
            f.highPass = r.highPass;
            f.externalFiltered = r.externalFiltered;
            if (!frames.empty() && !(frames.back() == f))
                framesDiffer = true;
            frames.push_back(f);
        }
        SIDCTRLLayer& target = *patch.sidLayer(L);
        pitch(L, target, frames);
        if (layerFull[L])
            fullLayer(L, target, frames);
    }

    ctrl.applyPatch(&patch, 1, 0);
    ctrl.applyChipModel();
    if (ChipControllerListener* listener = ctrl.getListener())
        listener->setModRoutingText(framesDiffer && !context.text.empty() ? context.text.c_str() : "");
}

void Conversion::pitch(size_t L, SIDCTRLLayer& target, const std::vector<LayerFrame>& frames)
{
    SIDCtrl& ctrl = context.controller;
    uint64_t slot = 0;
    const auto transposes = track<int16_t>(frames, [](const LayerFrame& f) { return f.transpose; });
    const TrackShape transposeShape = trackShape(transposes);
    if (transposeShape.constant) {
        target.transpose = int8_t(std::clamp<int32_t>(transposes[0], -128, 127));
    } else if (std::all_of(transposes.begin(), transposes.end(), [](int16_t t) { return t >= -128 && t <= 127; })) {
        if (takeSlot(context, layerDestination(L, "Transpose"), kOffsetOne, slot))
            writeStepTableInt16(ctrl, slot, transposes, false, -128, 127, transposeShape.e, 2, kNoLoop,
                                kNoLoop, context.speed);
    } else {
        uint64_t count = transposeShape.e + 1;
        std::vector<int32_t> deltas;
        stepDeltasSigned16(transposes, count, deltas);
        if (count > 0 && allWithin(deltas, deltas.size(), -128, 127) &&
            takeSlot(context, layerDestination(L, "Transpose"), kAccum, slot))
            writeStepTableInt32(ctrl, slot, deltas, true, -128, 127, count - 1, 2, kNoLoop, kNoLoop,
                                context.speed);
    }

    const auto detunes = track<int8_t>(frames, [](const LayerFrame& f) { return f.detune; });
    const TrackShape detuneShape = trackShape(detunes);
    if (detuneShape.e >= 2 && !detuneShape.constant) {
        if (takeSlot(context, layerDestination(L, "Detune"), kOffsetOne, slot))
            writeStepTableSigned(ctrl, slot, detunes, false, -100, 100, detuneShape.e, 2, kNoLoop,
                                 kNoLoop, context.speed);
    } else {
        target.detune = detunes[0];
    }
}

void Conversion::fullLayer(size_t L, SIDCTRLLayer& target, const std::vector<LayerFrame>& frames)
{
    const LayerFrame& first = frames[0];
    target.pulseWidth = first.pulseWidth;
    target.attack = first.adsr[0];
    target.decay = first.adsr[1];
    target.sustain = first.adsr[2];
    target.release = first.adsr[3];
    target.wave = first.waveform;
    target.gate = first.flags[kGate];
    target.hardSync = first.flags[kSync];
    target.ringMod = first.flags[kRing];
    target.stall = first.flags[kTest];
    target.toFilter = first.flags[kFilter];

    const uint16_t base = uint16_t(kLayerBlock * L);
    auto bits = [&frames](int flag) {
        return track<bool>(frames, [flag](const LayerFrame& f) { return f.flags[flag] != 0; });
    };
    auto any = [&frames](auto test) { return std::any_of(frames.begin(), frames.end(), test); };

    byteModulator(base + kWave, track<uint8_t>(frames, [](const LayerFrame& f) { return f.waveform; }));
    bitModulator(base + kHardSync, bits(kSync), 2);
    if (any([](const LayerFrame& f) { return f.waveform & kTriangle; }) &&
        any([](const LayerFrame& f) { return f.flags[kRing] != 0; }))
        bitModulator(base + kRingMod, bits(kRing), 2);
    bitModulator(base + kStall, bits(kTest), 2);
    if (any([](const LayerFrame& f) { return f.waveform & kPulse; }) && context.slot < kMaxSlots)
        pulseWidth(L, target, frames);
    if (any([](const LayerFrame& f) { return f.flags[kFilter] != 0; })) {
        bitModulator(base + kToFilter, bits(kFilter), 2);
        if (!filterDone)
            filter(context.controller.patch(), frames);
    }
}

void Conversion::pulseWidth(size_t L, SIDCTRLLayer& target, const std::vector<LayerFrame>& frames)
{
    const auto values = track<uint16_t>(frames, [](const LayerFrame& f) { return f.pulseWidth; });
    const TrackShape shape = trackShape(values);
    if (shape.constant)
        return;
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    const int32_t min = *lowest, range = *highest - *lowest;
    const bool steady = monotonic(values);
    uint64_t count = shape.e + 1;
    std::vector<int32_t> deltas;
    stepDeltasUnsigned16(values, count, deltas);
    const ParameterInfo* pw = parameter(uint16_t(kLayerBlock * L + kPW));
    if (!pw)
        return;
    const std::string destination = parameterDestination(*pw);
    uint64_t slot = 0;
    if ((steady || range >= 257) && allWithin(deltas, deltas.size(), -128, 128)) {
        if (count > 0 && takeSlot(context, destination, kAccum, slot))
            writeStepTableInt32(context.controller, slot, deltas, false, -128, 127, count - 1, 2, kNoLoop,
                                kNoLoop, context.speed);
        return;
    }
    const int32_t center = min + range / 2;
    target.pulseWidth = uint16_t(center);
    const double factor = range < 257 ? 1.0 : 256.0 / double(pw->maxValue > 0.0f ? pw->maxValue : 4095.0f);
    std::vector<int32_t> steps;
    steps.reserve(values.size());
    for (uint16_t v : values)
        steps.push_back(vantor::saturatingCast<int32_t>(std::floor(double(v - center) * factor + 0.5)));
    const char* math = !steady && range < 257 ? kOffsetOne : kOffsetHalfPW;
    if (takeSlot(context, destination, math, slot))
        writeStepTableInt32(context.controller, slot, steps, false, -128, 127, shape.e, 2, kNoLoop, kNoLoop,
                            context.speed);
}

void Conversion::filter(SIDCTRLPatch& patch, const std::vector<LayerFrame>& frames)
{
    filterDone = true;
    if (context.slot < kMaxSlots) {
        const auto values = track<uint16_t>(frames, [](const LayerFrame& f) { return f.cutoff; });
        patch.cutoff = values[0];
        const TrackShape shape = trackShape(values);
        const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
        const int32_t range = *highest - *lowest;
        const ParameterInfo* cutoff = parameter(SIDCtrl::kFilterCutoff);
        if (cutoff && shape.e >= 2 && !shape.constant && !(range < 257 && !monotonic(values))) {
            uint64_t count = shape.e + 1;
            std::vector<int32_t> deltas;
            stepDeltasUnsigned16(values, count, deltas);
            const std::string destination = parameterDestination(*cutoff);
            uint64_t slot = 0;
            if (allWithin(deltas, deltas.size(), -128, 128)) {
                if (count > 0 && takeSlot(context, destination, kAccum, slot))
                    writeStepTableInt32(context.controller, slot, deltas, true, -128, 127, count - 1, 2,
                                        kNoLoop, kNoLoop, context.speed);
            } else {
                patch.cutoff = 1024;
                std::vector<int32_t> steps;
                for (uint16_t v : values)
                    steps.push_back(vantor::saturatingCast<int32_t>(std::floor(v / 2048.0 * 256.0 - 128.0 + 0.5)));
                if (takeSlot(context, destination, kOffsetHalf, slot))
                    writeStepTableInt32(context.controller, slot, steps, false, -128, 127, shape.e, 2, kNoLoop,
                                        kNoLoop, context.speed);
            }
        }
    }
    patch.resonance = frames[0].resonance;
    byteModulator(SIDCtrl::kFilterResonance, track<uint8_t>(frames, [](const LayerFrame& f) { return f.resonance; }));
    patch.lowPass = frames[0].lowPass;
    patch.bandPass = frames[0].bandPass;
    patch.highPass = frames[0].highPass;
    bitModulator(SIDCtrl::kFilterLowPass, track<bool>(frames, [](const LayerFrame& f) { return f.lowPass != 0; }), 1);
    bitModulator(SIDCtrl::kFilterBandPass, track<bool>(frames, [](const LayerFrame& f) { return f.bandPass != 0; }), 1);
    bitModulator(SIDCtrl::kFilterHighPass, track<bool>(frames, [](const LayerFrame& f) { return f.highPass != 0; }), 1);
}

template <typename V, typename W>
void addStepModulator(CaptureRoutingContext& context, const ParameterInfo& parameter, const V& values, W write)
{
    if (context.slot >= kMaxSlots || values.size() <= 1)
        return;
    const TrackShape shape = trackShape(values);
    if (shape.constant)
        return;
    uint64_t slot = 0;
    if (takeSlot(context, parameterDestination(parameter), kReplace, slot))
        write(slot, vantor::saturatingCast<int32_t>(parameter.minValue),
              vantor::saturatingCast<int32_t>(parameter.maxValue), shape.e);
}

}  // namespace

void addStepByteModulator(CaptureRoutingContext& context, const ParameterInfo& parameter,
                          const std::vector<uint8_t>& values)
{
    addStepModulator(context, parameter, values, [&](uint64_t slot, int32_t lo, int32_t hi, uint64_t e) {
        writeStepTableUnsigned(context.controller, slot, values, false, lo, hi, e, 2, kNoLoop, kNoLoop,
                               context.speed);
    });
}

void addStepBitModulator(CaptureRoutingContext& context, const ParameterInfo& parameter,
                         const std::vector<bool>& bits, uint32_t loopMode)
{
    addStepModulator(context, parameter, bits, [&](uint64_t slot, int32_t lo, int32_t hi, uint64_t e) {
        writeStepTableBits(context.controller, slot, bits, false, lo, hi, e, loopMode, kNoLoop, kNoLoop,
                           context.speed);
    });
}

void captureToStepPatch(SIDCtrl& controller, const std::vector<SidFrameAnalysis>& records,
                        uint64_t voiceMask, float speed)
{
    if (records.empty())
        return;
    Conversion(controller, speed).run(records, voiceMask);
}

SidFrameAnalysis presetFrameAnalysis()
{
    SidFrameAnalysis record;
    std::memset(&record, 0, sizeof record);
    for (auto& voice : record.voices) {
        voice.pulseWidth = 2048;
        voice.sustain = 15;
        voice.waveform = 4;
    }
    return record;
}
