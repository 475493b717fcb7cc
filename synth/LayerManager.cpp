#include "synth/LayerManager.h"

#include "platform/SaturatingCast.h"
#include "synth/GenericParam.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ZRS {

namespace {

// Stands in for a missing listener: every call does nothing, every kind is supported.
class NullLayerListener final : public LayerListener
{
public:
    void voicePitchChanged(uint64_t, uint64_t) override {}
    void voiceParametersChanged(uint64_t, uint64_t) override {}
    void voiceStart(uint64_t, uint64_t, uint8_t) override {}
    void voiceRelease(uint64_t, uint64_t) override {}
    void voiceAmplitudeChanged(uint64_t, uint64_t) override {}
    void voiceRetrigger(uint64_t, uint64_t, uint8_t) override {}
    void triggerLayerVoice(uint64_t, uint64_t, uint8_t) override {}
};

NullLayerListener g_nullListener;

// Per table: the parameter kind its actions carry and its parameter-mask bit.
constexpr uint16_t kKindOfTable[] = {LayerManager::kDetune, LayerManager::kTranspose,
                                     LayerManager::kFixedFrequency, LayerManager::kAmp,
                                     LayerManager::kAmpSteps};
constexpr uint32_t kBitOfTable[] = {LayerManager::kBitDetune, LayerManager::kBitTranspose,
                                    LayerManager::kBitFixedFrequency, LayerManager::kBitAmp,
                                    LayerManager::kBitAmpSteps};

constexpr uint8_t kPublished = 0x03;
constexpr uint8_t kPerVoice = 0x10;
constexpr float kTimerPeriod = 0.004166667f;          // seconds a delayed start counts down
constexpr double kTimerPeriodTicks = 0.004166666883975267;  // 1/240 as a float, times the rate
constexpr float kExponentialGlide = 0.0098738f;       // share kept per period, per amount unit

bool isPitchKind(uint16_t kind)
{
    return kind == LayerManager::kTranspose || kind == LayerManager::kDetune ||
           kind == LayerManager::kFixedFrequency;
}

const ParameterInfo& descriptorOf(size_t table, const LayerBase& layer)
{
    const GenericParam& g = GenericParam::instance();
    switch (table) {
    case 0: return g.record(GenericParam::kDetune);
    case 1: return g.record(GenericParam::kTranspose);
    case 2: return g.record(GenericParam::kFixedFreq);
    case 3: return g.record(GenericParam::kAmplitude);
    default:
        return g.record(layer.ampStepsMax == 15 ? GenericParam::kAmplitude4Bit
                                                : GenericParam::kAmplitude7Bit);
    }
}

// "%2d": leading blanks, then at most two characters of sign and digits.
bool readTwoDigitNumber(std::string_view text, size_t at, int& number)
{
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    const size_t end = std::min(text.size(), at + 2);
    bool negative = false;
    if (at < end && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    int n = 0;
    bool digits = false;
    for (; at < end && text[at] >= '0' && text[at] <= '9'; ++at) {
        n = n * 10 + (text[at] - '0');
        digits = true;
    }
    if (!digits)
        return false;
    number = negative ? -n : n;
    return true;
}

}  // namespace

LayerManager::LayerManager() = default;

LayerManager::~LayerManager() = default;

int LayerManager::tableOf(uint16_t kind)
{
    for (size_t t = 0; t < kTables; ++t)
        if (kKindOfTable[t] == kind)
            return int(t);
    return -1;
}

LayerBase* LayerManager::layerAt(uint64_t l) const
{
    return l < kLayers && currentPatch ? currentPatch->layer(size_t(l)) : nullptr;
}

LayerListener& LayerManager::out() const
{
    return listener ? *listener : g_nullListener;
}

void LayerManager::setPatch(PatchBase* newPatch)
{
    currentPatch.reset(newPatch);
}

size_t LayerManager::voiceCount(uint64_t layer) const
{
    const LayerBase* p = layerAt(layer);
    return p ? std::min<size_t>(p->voiceCount, sized[layer]) : 0;
}

// ---------------------------------------------------------------------------------------------
// Set-up

void LayerManager::setupLayers(LayerListener* layerListener, uint32_t setupOptions)
{
    listener = layerListener;
    options = setupOptions;
    mask = 0;
    for (uint64_t l = 0; l < kLayers; ++l)
        mask |= out().layerParameterMask(l);
    GenericParam::instance();

    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* layer = layerAt(l);
        const size_t n = layer ? layer->voiceCount : 0;
        gates[l].resize(n, 0.0f);
        for (size_t t = 0; t < kTables; ++t) {
            if (mask & kBitOfTable[t])
                tables[t][l].resize(n);
            applied[t][l].assign(n, layer ? descriptorOf(t, *layer).defaultValue : 0.0f);
        }
        glides[l].resize(n);
        delays[l].resize(n);
        sized[l] = n;
        for (size_t v = 0; v < n; ++v) {
            const uint64_t id = (l << 8) | v;
            for (size_t t = 0; t < kTables; ++t)
                if (v < tables[t][l].size())
                    tables[t][l][v].configure(id, kKindOfTable[t], &descriptorOf(t, *layer),
                                              this);
        }
    }
}

void LayerManager::registerParameters(std::vector<ParameterInfo>& table)
{
    table.resize(kRecords);
    const GenericParam& generic = GenericParam::instance();
    for (size_t l = 0; l < kLayers; ++l) {
        const LayerBase* layer = layerAt(l);
        const uint32_t lm = out().layerParameterMask(l);
        const uint8_t withVoices = layer && layer->voiceCount != 0 ? kPerVoice : 0;
        const uint8_t perVoiceFlags = kPublished | withVoices;
        const bool fourBit = layer && layer->ampStepsMax == 15;

        auto record = [&](uint16_t id, const char* name) -> ParameterInfo& {
            ParameterInfo& p = table[16 * l + id];
            char label[32];
            std::snprintf(label, sizeof label, "L%02zu %s", l + 1, name);
            p.setLabel(label);
            p.index = uint16_t(16 * l + id);
            return p;
        };
        auto onOff = [&](uint16_t id, const char* name) {
            ParameterInfo& p = record(id, name);
            p.type = ParameterInfo::Switch;
            p.displayMode = ParameterInfo::OnOffZero;
            p.mathFlags |= ParameterInfo::Replace;
            p.flags |= kPublished;
            return &p;
        };
        auto upTo100 = [&](uint16_t id, const char* name) {
            ParameterInfo& p = record(id, name);
            p.type = ParameterInfo::Integer;
            p.maxValue = 100.0f;
            p.mathFlags |= ParameterInfo::Replace;
            p.flags |= kPublished;
        };
        auto copied = [&](uint16_t id, const char* name, GenericParam::Record from) {
            table[16 * l + id] = generic.record(from);
            return &record(id, name);
        };

        onOff(kActive, "Active");
        onOff(kMonoRetrigger, "Mono Retrig");
        upTo100(kDelayStart, "Delay Start");
        if (lm & kBitTranspose)
            copied(kTranspose, "Transpose", GenericParam::kTranspose)->flags |= perVoiceFlags;
        if (lm & kBitDetune)
            copied(kDetune, "Detune", GenericParam::kDetune)->flags |= perVoiceFlags;
        if (lm & kBitAmp)
            copied(kAmp, "Amp", GenericParam::kAmplitude)->flags = perVoiceFlags;
        onOff(kFixedFrequency, "Fixed Freq")->modFlags |= 0x81;
        upTo100(kGlideAmount, "Glide Amount");
        if (lm & kBitAmpSteps)
            copied(kAmpSteps, "Amp (steps)",
                   fourBit ? GenericParam::kAmplitude4Bit : GenericParam::kAmplitude7Bit)
                ->flags = perVoiceFlags;
    }
}

// ---------------------------------------------------------------------------------------------
// Layer parameters

void LayerManager::setLayerParameter(uint64_t layer, uint32_t id, float value)
{
    if (LayerBase* p = layerAt(layer))
        applyLayerParameter(layer, *p, id, value);
}

// A missing layer is ignored here as well, and then nothing is reported.
void LayerManager::setLayerParameterAndNotify(uint64_t layer, uint32_t id, float value)
{
    LayerBase* p = layerAt(layer);
    if (!p)
        return;
    applyLayerParameter(layer, *p, id, value);
    out().layerParameterChanged(layer, uint16_t(id), 0, value);
}

void LayerManager::setActions(uint64_t l, size_t table, float value)
{
    ParameterActionVector& list = tables[table][l];
    for (size_t v = 0; v < list.size(); ++v)
        list[v].setValue(value);
}

void LayerManager::releaseLayer(uint64_t l, LayerBase& layer)
{
    const size_t n = voiceCount(l);
    for (size_t v = 0; v < n; ++v) {
        if (layer.flags & LayerBase::kFlagGatedAmplitude) {
            gates[l][v] = 0.0f;
            out().voiceParametersChanged(v, l);
        }
        out().voiceRelease(v, l);
    }
}

void LayerManager::clearDelays(uint64_t l)
{
    for (DelayState& d : delays[l]) {
        d.remaining = 0.0f;
        d.pending = 0;
    }
}

void LayerManager::clearGlides(uint64_t l)
{
    for (GlideState& g : glides[l]) {
        g.offset = 0.0f;
        g.originNote = GlideState::kNoNote;
    }
}

void LayerManager::applyLayerParameter(uint64_t l, LayerBase& layer, uint32_t id, float value)
{
    const size_t n = voiceCount(l);
    auto pitchChanged = [&] {
        for (size_t v = 0; v < n; ++v)
            out().voicePitchChanged(v, l);
    };
    auto parametersChanged = [&] {
        for (size_t v = 0; v < n; ++v)
            out().voiceParametersChanged(v, l);
    };

    switch (id) {
    case kActive: {
        const bool on = value > 0.0f;
        if (layer.active && !on) {
            layer.active = 0;
            releaseLayer(l, layer);
        }
        if (!on)  // a start still pending would sound on a silent layer
            clearDelays(l);
        layer.active = on ? 1 : 0;
        out().layerActiveChanged(l, layer.active);
        rebuildKeyMap();
        out().layerInfoChanged(keys);
        break;
    }
    case kMonoRetrigger:
        layer.monoRetrigger = value > 0.0f ? 1 : 0;
        break;
    case kLowKey:
    case kHighKey: {
        const uint8_t key = uint8_t(vantor::saturatingCast<uint32_t>(value) & 127);
        (id == kLowKey ? layer.lowKey : layer.highKey) = key;
        rebuildKeyMap();
        out().layerInfoChanged(keys);
        break;
    }
    case kDelayStart:
        layer.delayStart = value;
        if (value == 0.0f)
            clearDelays(l);
        break;
    case kTranspose:
        layer.transpose = vantor::saturatingCast<int8_t>(value);
        setActions(l, kTabTranspose, value);
        pitchChanged();
        break;
    case kDetune:
        layer.detune = vantor::saturatingCast<int8_t>(value);
        setActions(l, kTabDetune, value);
        pitchChanged();
        break;
    case kAmp:
        layer.amp = value;
        if (out().layerParameterMask(l) & kBitAmp)
            setActions(l, kTabAmp, value);
        parametersChanged();
        break;
    case kFixedFrequency:
        layer.fixedFrequency = value > 0.0f ? 1 : 0;
        setActions(l, kTabFixed, value);
        pitchChanged();
        break;
    case kAuxValue:
        layer.auxValue = value;
        break;
    case kGlideAmount:
        layer.glideAmount = value;
        if (value == 0.0f)
            clearGlides(l);
        break;
    case kGlideMode:
        layer.glideMode = vantor::saturatingCast<int64_t>(value);
        break;
    case kVoiceCount:  // the per-voice state keeps the length it got at setupLayers
        layer.voiceCount = vantor::saturatingCast<uint8_t>(value);
        break;
    case kAmpSteps:
        layer.ampSteps = uint8_t(vantor::saturatingCast<uint32_t>(value) & layer.ampStepsMax);
        if (out().layerParameterMask(l) & kBitAmpSteps)
            setActions(l, kTabAmpSteps, value);
        parametersChanged();
        break;
    default:  // 9 and above 14
        break;
    }
}

float LayerManager::getLayerParameter(uint64_t layer, uint32_t id) const
{
    const LayerBase* p = layerAt(layer);
    if (!p) {
        switch (id) {
        case kHighKey: return 127.0f;
        case kAmp: return 1.0f;
        case kAmpSteps: return 15.0f;
        default: return 0.0f;
        }
    }
    switch (id) {
    case kActive: return p->active ? 1.0f : 0.0f;
    case kMonoRetrigger: return p->monoRetrigger ? 1.0f : 0.0f;
    case kLowKey: return float(p->lowKey);
    case kHighKey: return float(p->highKey);
    case kDelayStart: return p->delayStart;
    case kTranspose: return float(p->transpose);
    case kDetune: return float(p->detune);
    case kAmp: return p->amp;
    case kFixedFrequency: return p->fixedFrequency ? 1.0f : 0.0f;
    case kAuxValue: return p->auxValue;
    case kGlideAmount: return p->glideAmount;
    case kGlideMode: return float(uint64_t(p->glideMode));
    case kVoiceCount: return float(p->voiceCount);
    case kAmpSteps: return float(p->ampSteps);
    default: return 0.0f;
    }
}

void LayerManager::rebuildKeyMap()
{
    std::fill(std::begin(keys), std::end(keys), uint8_t(0));
    if (!currentPatch)
        return;
    for (const LayerBase* p : currentPatch->layers) {
        if (!p || !p->active)
            continue;
        for (unsigned k = p->lowKey; k <= p->highKey && k < kKeys; ++k)
            keys[k] = 1;
    }
}

ParameterActionVector* LayerManager::findLayerActions(std::string_view address,
                                                      uint64_t& outLayer)
{
    if (address.size() < 4 || address[0] != 'L')
        return nullptr;
    int number = 0;
    if (!readTwoDigitNumber(address, 1, number) || number < 1)
        return nullptr;
    const uint64_t l = uint64_t(number - 1);
    outLayer = l;
    if (l >= kLayers)
        return nullptr;
    const uint32_t lm = out().layerParameterMask(l);
    const std::string_view name = address.substr(4);
    if ((lm & kBitAmpSteps) && name == "AMP (STEPS)")
        return &tables[kTabAmpSteps][l];
    if ((lm & kBitAmp) && name == "AMP")
        return &tables[kTabAmp][l];
    if ((lm & kBitDetune) && name == "DETUNE")
        return &tables[kTabDetune][l];
    if ((lm & kBitTranspose) && name == "TRANSPOSE")
        return &tables[kTabTranspose][l];
    if ((lm & kBitFixedFrequency) && name == "FIXED FREQ")
        return &tables[kTabFixed][l];
    return nullptr;
}

void LayerManager::reset()
{
    std::fill(std::begin(actionMarkers), std::end(actionMarkers), uint8_t(0));
    std::fill(std::begin(modulatorMarkers), std::end(modulatorMarkers), uint8_t(0));
    for (size_t t : {kTabAmp, kTabAmpSteps, kTabDetune, kTabTranspose, kTabFixed})
        for (size_t l = 0; l < kLayers; ++l)
            clearActionRoutes(tables[t][l]);
}

float LayerManager::gate(uint64_t layer, uint64_t voice) const
{
    return layer < kLayers && voice < gates[layer].size() ? gates[layer][voice] : 0.0f;
}

GlideState LayerManager::glideState(uint64_t layer, uint64_t voice) const
{
    return layer < kLayers && voice < glides[layer].size() ? glides[layer][voice] : GlideState();
}

DelayState LayerManager::delayState(uint64_t layer, uint64_t voice) const
{
    return layer < kLayers && voice < delays[layer].size() ? delays[layer][voice] : DelayState();
}

ParameterActionVector* LayerManager::actions(uint64_t layer, uint16_t kind)
{
    const int t = tableOf(kind);
    return t >= 0 && layer < kLayers ? &tables[t][layer] : nullptr;
}

float LayerManager::appliedValue(uint64_t layer, uint16_t kind, uint64_t voice) const
{
    const int t = tableOf(kind);
    if (t < 0 || layer >= kLayers || voice >= applied[t][layer].size())
        return 0.0f;
    return applied[t][layer][voice];
}

// ---------------------------------------------------------------------------------------------
// Actions

void LayerManager::parameterActionActiveChanged(uint64_t index, uint16_t code, uint8_t active,
                                                uint8_t fromAction)
{
    const uint64_t l = (index >> 8) & 255;
    if (l >= kLayers || (code != kAmp && code != kAmpSteps))
        return;
    (fromAction ? actionMarkers[l] : modulatorMarkers[l]) |= active;
}

void LayerManager::applyParameterAction(uint64_t index, uint16_t code, float value,
                                        bool modulated)
{
    const uint64_t l = (index >> 8) & 255;
    const uint64_t v = index & 255;
    if (l >= kLayers)
        return;
    if (modulated)
        out().layerParameterChanged(l, code, 1, value);
    const int t = tableOf(code);
    if (t < 0 || v >= applied[t][l].size())
        return;
    applied[t][l][v] = value;
    if (isPitchKind(code))
        out().voicePitchChanged(v, l);
    else
        out().voiceParametersChanged(v, l);
}

// ---------------------------------------------------------------------------------------------
// Voice events

void LayerManager::resetGlides(uint64_t group)
{
    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* p = layerAt(l);
        if (p && p->voiceGroup == group)
            clearGlides(l);
    }
}

// A voice beyond a layer's voices plays voice 0 of that layer and of the layers after it.
void LayerManager::startLayerVoices(uint64_t group, uint64_t voice, uint8_t note,
                                    uint8_t /*velocity*/, uint8_t originNote)
{
    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* p = layerAt(l);
        if (!p || p->voiceGroup != group)
            continue;
        const size_t n = voiceCount(l);
        if (n == 0)
            continue;
        if (voice >= n)
            voice = 0;
        if (p->active && p->lowKey <= note && note <= p->highKey) {
            if (p->delayStart > 0.0f) {
                delays[l][voice] = DelayState{p->delayStart * 0.01f, 1, note};
            } else {
                gates[l][voice] = 1.0f;
                out().triggerLayerVoice(voice, l, note);
            }
            glides[l][voice].originNote = originNote;
        } else if (p->flags & LayerBase::kFlagGatedAmplitude) {
            gates[l][voice] = 0.0f;
            out().voiceParametersChanged(voice, l);
        }
    }
}

void LayerManager::retriggerLayerVoices(uint64_t group, uint64_t voice, uint8_t note,
                                        uint8_t /*velocity*/, uint8_t regate, uint8_t retrigger,
                                        uint8_t velocityUpdate)
{
    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* p = layerAt(l);
        if (!p || p->voiceGroup != group || (p->flags & LayerBase::kFlagIndependent) ||
            !p->active || note < p->lowKey || note > p->highKey)
            continue;
        const size_t n = voiceCount(l);
        if (n == 0)
            continue;
        if (voice >= n)
            voice = 0;

        GlideState& g = glides[l][voice];
        if (p->glideAmount > 0.0f) {
            g.offset = (g.offset / 100.0f + float(g.originNote) - float(note)) * 100.0f;
            g.mode = uint64_t(p->glideMode);
            g.originNote = note;
        } else {
            g.offset = 0.0f;
            g.originNote = GlideState::kNoNote;
        }
        out().voicePitchChanged(voice, l);
        if (!retrigger)
            continue;
        const bool regates = regate || p->monoRetrigger;
        if (options & 1) {
            if (regates) {
                out().voiceParametersChanged(voice, l);
                out().voiceStart(voice, l, note);
                continue;
            }
        } else if (regates) {
            out().voiceRetrigger(voice, l, note);
        }
        if (velocityUpdate)
            out().voiceAmplitudeChanged(voice, l);
    }
}

void LayerManager::stopLayerVoices(uint64_t group, uint64_t voice)
{
    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* p = layerAt(l);
        if (!p || p->voiceGroup != group || voice >= voiceCount(l))
            continue;
        if (p->flags & LayerBase::kFlagGatedAmplitude) {
            gates[l][voice] = 0.0f;
            out().voiceParametersChanged(voice, l);
        }
        out().voiceRelease(voice, l);
        delays[l][voice] = DelayState{0.0f, 0, delays[l][voice].note};
    }
}

void LayerManager::endLayerVoices(uint64_t group, uint64_t voice)
{
    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* p = layerAt(l);
        if (p && p->voiceGroup == group && voice < voiceCount(l))
            delays[l][voice] = DelayState{0.0f, 0, delays[l][voice].note};
    }
}

void LayerManager::updateLayerVoices(uint64_t group, uint64_t voice)
{
    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* p = layerAt(l);
        if (p && p->voiceGroup == group && !(p->flags & LayerBase::kFlagIndependent))
            out().voiceParametersChanged(voice, l);
    }
}

void LayerManager::updateLayerPitch(uint64_t group, uint64_t voice)
{
    for (uint64_t l = 0; l < kLayers; ++l) {
        const LayerBase* p = layerAt(l);
        if (p && p->voiceGroup == group && !(p->flags & LayerBase::kFlagIndependent))
            out().voicePitchChanged(voice, l);
    }
}

// ---------------------------------------------------------------------------------------------
// Read-back

size_t LayerManager::readIndex(uint64_t l, uint64_t voice) const
{
    return voice < voiceCount(l) ? size_t(voice) : 0;
}

float LayerManager::layerPitchCents(uint64_t layer, uint64_t voice) const
{
    if (voiceCount(layer) == 0)
        return 0.0f;
    const size_t v = readIndex(layer, voice);
    return 100.0f * applied[kTabTranspose][layer][v] + applied[kTabDetune][layer][v] +
           glides[layer][v].offset;
}

float LayerManager::layerPitchRatio(uint64_t layer, uint64_t voice, float base) const
{
    const float cents = layerPitchCents(layer, voice);
    if (cents == 0.0f)
        return base;
    return base * std::exp2f(cents * 0.00083333335f);
}

bool LayerManager::isFixedFrequency(uint64_t layer, uint64_t voice) const
{
    const LayerBase* p = layerAt(layer);
    if (!p)
        return false;
    if ((mask & kBitFixedFrequency) && voiceCount(layer) != 0)
        return applied[kTabFixed][layer][readIndex(layer, voice)] != 0.0f;
    return p->fixedFrequency != 0;
}

// A layer without voices, or with an amp-steps maximum of 0, is silent.
float LayerManager::layerAmplitude(uint64_t layer, uint64_t voice) const
{
    const LayerBase* p = layerAt(layer);
    if (!p || voiceCount(layer) == 0)
        return 0.0f;
    const size_t v = readIndex(layer, voice);
    float g = 1.0f;
    if (p->flags & LayerBase::kFlagGatedAmplitude) {
        if (!p->active)
            return 0.0f;
        if (actionMarkers[layer] == 0) {
            g = gates[layer][v] * p->amp;
            if (modulatorMarkers[layer] == 0)
                return g;
        }
    }
    if (p->ampStepsMax == 0)
        return 0.0f;
    return (applied[kTabAmpSteps][layer][v] / float(p->ampStepsMax)) * g *
           applied[kTabAmp][layer][v];
}

// ---------------------------------------------------------------------------------------------
// Timer

void LayerManager::tickLayer(uint64_t l, LayerBase& layer)
{
    const size_t n = voiceCount(l);
    if (layer.delayStart > 0.0f) {
        for (size_t v = 0; v < n; ++v) {
            DelayState& d = delays[l][v];
            if (!d.pending)
                continue;
            if (d.remaining > 0.0f) {
                d.remaining -= kTimerPeriod;
            } else {
                d.remaining = 0.0f;
                d.pending = 0;
                gates[l][v] = 1.0f;
                out().triggerLayerVoice(v, l, d.note);
            }
        }
    }
    if (layer.glideAmount > 0.0f) {
        // Above 100 the steps would grow instead of shrinking.
        const float a = std::min(layer.glideAmount, 100.0f);
        for (size_t v = 0; v < n; ++v) {
            GlideState& g = glides[l][v];
            float x = g.offset;
            if (x > 1.0f) {
                if (g.mode == 1) {
                    x -= 101.0f - a;
                    if (x < 0.0f)
                        x = 0.0f;
                } else if (g.mode == 0) {
                    x = a * kExponentialGlide * x;
                }
            } else if (x < -1.0f) {
                if (g.mode == 1) {
                    x += 101.0f - a;
                    if (x > 0.0f)
                        x = 0.0f;
                } else if (g.mode == 0) {
                    x = a * kExponentialGlide * x;
                }
            } else {
                x = 0.0f;
            }
            g.offset = x;
            out().voicePitchChanged(v, l);
        }
    }
}

// Never 0, so the scheduler always moves on.
uint64_t LayerManager::quantumElapsed(vantor::QuantumTimer*, uint64_t, double rate)
{
    if (!currentPatch)
        return kNever;
    for (uint64_t l = 0; l < kLayers; ++l)
        if (LayerBase* p = layerAt(l))
            tickLayer(l, *p);
    const double t = rate * kTimerPeriodTicks + tickRemainder;
    const double ticks = std::floor(t + 0.5);
    tickRemainder = t - ticks;
    if (!std::isfinite(tickRemainder))
        tickRemainder = 0.0;
    const uint64_t n = vantor::saturatingCast<uint64_t>(ticks);
    return n == 0 ? 1 : n;
}

}  // namespace ZRS
