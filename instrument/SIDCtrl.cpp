#include "instrument/SIDCtrl.h"

#include "instrument/ChipControllerListener.h"
#include "instrument/ChipHWHookEngineSDK.h"
#include "instrument/CommandLock.h"
#include "instrument/SID_sub.h"
#include "media/MediaReader.h"
#include "platform/PlatformTools.h"
#include "platform/SaturatingCast.h"
#include "platform/ZRGSConv.h"
#include "sid/SIDEmu.h"
#include "support/Threads.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

int32_t roundToInt(double v)
{
    return vantor::saturatingCast<int32_t>(std::floor(v + 0.5));
}

}  // namespace

void SIDCtrl::SubList::release()
{
    for (ChipSubController* s : subs)
        delete s;
    subs.clear();
}

SIDCtrl::SIDCtrl(std::vector<ChipEmu*>* chipList, ChipControllerListener* chipListener)
    : ChipController(chipList, chipListener),
      chunkBuffer(new int32_t[kChunkWords]()),
      surplusRing(new int32_t[kRingWords]())
{
    asidBytes.reserve(kAsidMessageBytes);
    captureFrames.reserve(kMaxCaptureFrames);  // capturing then never allocates
    if (chips) {
        const size_t count = std::min(chips->size(), kChips);
        for (size_t c = 0; c < count; ++c)
            sidChips[c] = dynamic_cast<SIDEmu*>((*chips)[c]);
    }
    for (size_t c = 0; c < kSynthChips; ++c) {
        SID_sub::createVoices(subControllers[c].subs, &shadows[c], this, c);
        dacSubs[c] = std::make_unique<SID_DAC_sub>(this, c, SID_DAC_sub::kDefaultSubIndex, nullptr,
                                                   kDacInitialStep);
        dacSubs[c]->setScheduler(static_cast<vantor::QuantumManager*>(this));
    }
    setSyncProvider(static_cast<ChipController*>(this));
    setScheduler(static_cast<vantor::QuantumManager*>(this));
    currentPatch = new SIDCTRLPatch;
    layerManager().setPatch(currentPatch);
    currentPatch->volume = 15;
}

SIDCtrl::~SIDCtrl()
{
    dataFolder.clear();
    for (size_t c = kSynthChips; c-- > 0;) {
        cancel(dacSubs[c].get());  // no entry of a deleted channel stays queued
        dacSubs[c].reset();
    }
    for (size_t c = kSynthChips; c-- > 0;)
        subControllers[c].release();
    patchBank.reset();
    asidReceiver.reset();
    while (!captureFrames.empty())
        captureFrames.pop_back();
}

bool SIDCtrl::chipPresent(uint64_t chip) const
{
    return chips && chip < kChips && chip < chips->size() && (*chips)[chip] != nullptr;
}

SID_sub* SIDCtrl::sidVoice(size_t chip, size_t voice) const
{
    if (chip >= kSynthChips || voice >= subControllers[chip].subs.size())
        return nullptr;
    return static_cast<SID_sub*>(subControllers[chip].subs[voice]);
}

ZRS::VoiceManager& SIDCtrl::layerVoiceManager(uint64_t layer)
{
    const ZRS::LayerBase* l = currentPatch->layer(size_t(layer));
    return voiceManager(l ? size_t(l->voiceGroup) : 0);
}

// ---------------------------------------------------------------------------------------------
// Set-up

bool SIDCtrl::init(const char* path, uint32_t version)
{
    hostVersion = version;
    if (path) {
        const size_t length = std::strlen(path);
        uint32_t markLength = 0;
        const CHARACTER_ENCODING encoding = getCharEncodingFromData(
            reinterpret_cast<const uint8_t*>(path), length, markLength, nullptr);
        std::string text = ZRGSConv(path, encoding);
        std::replace(text.begin(), text.end(), '\\', '/');
        dataFolder = getPathFromFile(text);
    }
    declareParameters();
    createVoiceParameters(7);
    setupParameters(this, this, this, 0);
    for (size_t c = 0; c < kSynthChips; ++c) {
        if (SIDEmu* chip = sidChip(c)) {
            chip->extensionsEnabled = 1;
            chip->applyAdsrBehavior();
        }
    }
    for (size_t c = 0; c < kSynthChips; ++c)
        for (ChipSubController* s : subControllers[c].subs)
            s->prepare();
    for (std::unique_ptr<SID_DAC_sub>& dac : dacSubs)
        dac->setActivityQuerier(this);
    initialised = true;
    applyPatch(currentPatch, 0, 0);
    return true;
}

bool SIDCtrl::engineCommand(uint32_t op, intptr_t a)
{
    return acceptEngineCommand(int32_t(op), int64_t(a));
}

bool SIDCtrl::resetVoices(intptr_t /*x*/, intptr_t /*y*/)
{
    return resetVoiceGroups();
}

bool SIDCtrl::setRate(uint64_t newVideoStandard, double chipRate, double chipClock)
{
    ChipController::setRate(newVideoStandard, chipRate, chipClock);
    for (size_t c = 0; c < kSynthChips; ++c)
        for (ChipSubController* s : subControllers[c].subs)
            s->setClock(float(chipClock));
    return true;
}

void SIDCtrl::setNoteTable(const void* record)
{
    const auto* sample = static_cast<const DacSampleRecord*>(record);
    if (!sample || sample->length() == 0)
        return;
    for (std::unique_ptr<SID_DAC_sub>& dac : dacSubs)
        dac->setSample(sample);
}

void SIDCtrl::layerVoicesReset(uint64_t layer)
{
    catchUpAll();
    if (swallowPopListener)
        swallowPopListener->swallowPop(layer, 0);
    for (size_t c = 0; c < kSynthChips; ++c)
        chipEnabled[c] = 0;
    bool anyActive = false;
    for (size_t l = 0; l < kSynthLayers; ++l)
        if (const ZRS::LayerBase* p = currentPatch->layer(l))
            anyActive = anyActive || p->active != 0;
    if (!anyActive)
        return;
    const uint64_t n = std::min<uint64_t>(layerVoiceManager(layer).voiceCount(), kSynthChips);
    for (uint64_t c = 0; c < n; ++c) {
        chipEnabled[c] = 1;
        if (SIDEmu* chip = sidChip(c))
            chip->markModified();
    }
}

void SIDCtrl::forwardAddressedEvent(uint32_t kind, uint64_t a, uint64_t index)
{
    if (!listener)
        return;
    switch (kind) {
    case 0:
        listener->notifySynthParameter(uint32_t(index), 2, 0.0f);
        break;
    case 1:
        listener->notifyAutomationSlot(a, uint32_t(index), 2, 0.0f);
        break;
    case 3:
        listener->notifyLayerParameter(a, uint32_t(index), 2, 0.0f);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Parameters

ParameterInfo* SIDCtrl::findParameterIndex(const char* name, uint64_t length, uint16_t& index)
{
    if (name && length == 9) {
        const std::string_view n(name, 9);
        if ((n == "FILTER FC" || n == "Filter FC") && parameters.size() > kFilterCutoff) {
            index = kFilterCutoff;
            return &parameters[kFilterCutoff];
        }
    }
    return ZRS::SynthParams::findParameterIndex(name, length, index);
}

void SIDCtrl::setParameter(uint16_t index, float value)
{
    if (index >= kParameterCount)
        return;
    if (ZRS::ParameterActionVector* actions = parameterActions(index))
        for (size_t i = 0; i < actions->size(); ++i)
            (*actions)[i].setValueInvertible(value);
    const int32_t v = roundToInt(value);
    if (index < kOscParameters) {
        SIDCTRLLayer* layer = currentPatch->sidLayer(index >> 4);
        if (!layer)
            return;
        switch (index & 15) {
        case SID_sub::kPulseWidth: layer->pulseWidth = uint16_t(v & 0xFFF); break;
        case SID_sub::kGate: layer->gate = v > 0; break;
        case SID_sub::kWave: layer->wave = uint8_t(v & 15); break;
        case SID_sub::kRingMod: layer->ringMod = v > 0; break;
        case SID_sub::kHardSync: layer->hardSync = v > 0; break;
        case SID_sub::kAttack: layer->attack = uint8_t(v & 15); break;
        case SID_sub::kDecay: layer->decay = uint8_t(v & 15); break;
        case SID_sub::kSustain: layer->sustain = uint8_t(v & 15); break;
        case SID_sub::kRelease: layer->release = uint8_t(v & 15); break;
        case SID_sub::kToFilter:
            layer->toFilter = v > 0;
            refreshFilterPops();
            break;
        case SID_sub::kPhaseReset: layer->phaseReset = v > 0; break;
        default: break;  // 3 (stall), 4 and 13 up store nothing
        }
        return;
    }
    if (index >= kFirstDacParameter) {
        for (std::unique_ptr<SID_DAC_sub>& dac : dacSubs)
            dac->setParameter(index - kFirstDacParameter, &v, &value);
        return;
    }
    switch (index) {
    case kVoice3Off: currentPatch->voice3Off = v > 0; break;
    case kFilterCutoff: currentPatch->cutoff = uint16_t(v); break;
    case kFilterResonance: currentPatch->resonance = uint8_t(v); break;
    case kFilterLowPass:
        currentPatch->lowPass = v > 0;
        refreshFilterPops();
        break;
    case kFilterBandPass:
        currentPatch->bandPass = v > 0;
        refreshFilterPops();
        break;
    case kFilterHighPass:
        currentPatch->highPass = v > 0;
        refreshFilterPops();
        break;
    case kPlayerOption:
        playerOptionValue = uint32_t(v);
        if (reader)
            reader->setPlayerOption(0, v);
        break;
    default:  // 102 and the unlisted indices
        break;
    }
}

void SIDCtrl::writeMasked(uint64_t chip, uint8_t reg, uint8_t keep, uint8_t set)
{
    writeRegister(chip, reg, uint8_t((shadows[chip].regs[reg] & keep) | set));
}

void SIDCtrl::applyParameterAction(uint64_t chip, uint16_t index, float value, bool notify)
{
    if (notify && listener) {
        const int64_t last = layerVoiceManager(0).lastVoice();
        if (last == -1 || uint64_t(last) == chip)
            listener->notifySynthParameter(index, 1, value);
    }
    if (chip >= kSynthChips)
        return;
    const int32_t v = roundToInt(value);
    if (index < kOscParameters) {
        const uint64_t o = index >> 4;
        const uint32_t k = index & 15;
        if (k == SID_sub::kGate && hostVersion >= kGateCheckHostVersion &&
            gateActive[kSynthLayers * chip + o] == 0)
            return;
        if (SID_sub* sub = sidVoice(chip, o))
            sub->setParameter(k, &v, &value);
        return;
    }
    const uint8_t on = v > 0 ? 1 : 0;
    switch (index) {
    case kVoice3Off: writeMasked(chip, 24, 0x7F, uint8_t(on << 7)); break;
    case kFilterCutoff:
        writeRegister(chip, 21, uint8_t(v & 7));
        writeRegister(chip, 22, uint8_t((v >> 3) & 0xFF));
        break;
    case kFilterResonance: writeMasked(chip, 23, 0x0F, uint8_t((v << 4) & 0xF0)); break;
    case kFilterLowPass: writeMasked(chip, 24, 0xEF, uint8_t(on << 4)); break;
    case kFilterBandPass: writeMasked(chip, 24, 0xDF, uint8_t(on << 5)); break;
    case kFilterHighPass: writeMasked(chip, 24, 0xBF, uint8_t(on << 6)); break;
    case kCoreVolume: writeMasked(chip, 24, 0xF0, uint8_t(v & 0x0F)); break;
    default: break;
    }
}

void SIDCtrl::updateParameter(uint16_t index, float value)
{
    if (index >= parameters.size())
        return;
    const ParameterInfo& record = parameters[index];
    float v = std::clamp(value, record.minValue, record.maxValue);
    if (record.flags & 0x08)
        v = record.maxValue - v;
    if (ZRS::ParameterActionVector* actions = parameterActions(index))
        for (size_t i = 0; i < actions->size(); ++i)
            (*actions)[i].setValueInvertible(v);
    if (listener)
        listener->notifySynthParameter(index, 0, v);
}

void SIDCtrl::applyLayerValue(uint64_t chip, uint64_t layer, uint16_t index, uint32_t k,
                              int32_t value)
{
    if (layer < kSIDVoices)
        if (SID_sub* sub = sidVoice(chip, layer)) {
            const float f = float(value);
            sub->setParameter(k, &value, &f);
        }
    if (chip == 0)
        updateParameter(index, float(value));
}

void SIDCtrl::applyPatch(SIDCTRLPatch* p, uint64_t /*unused*/, uint8_t applyGate)
{
    if (!p || !initialised)
        return;
    for (uint64_t o = 0; o < kSIDVoices; ++o) {
        SIDCTRLLayer* layer = p->sidLayer(o);
        if (!layer)
            continue;
        const struct
        {
            uint32_t k;
            int32_t value;
        } values[] = {
            {SID_sub::kPulseWidth, layer->pulseWidth}, {SID_sub::kAttack, layer->attack},
            {SID_sub::kDecay, layer->decay},           {SID_sub::kSustain, layer->sustain},
            {SID_sub::kRelease, layer->release},       {SID_sub::kPhaseReset, layer->phaseReset},
            {SID_sub::kToFilter, layer->toFilter},     {SID_sub::kHardSync, layer->hardSync},
            {SID_sub::kRingMod, layer->ringMod},       {SID_sub::kStall, layer->stall},
            {SID_sub::kWave, layer->wave},
        };
        for (uint64_t c = 0; c < kSynthChips; ++c) {
            for (const auto& [k, value] : values)
                applyLayerValue(c, o, uint16_t(kOscBlock * o + k), k, value);
            if (c == 0 && applyGate == 1)
                applyLayerValue(c, o, uint16_t(kOscBlock * o + SID_sub::kGate), SID_sub::kGate,
                                layer->gate);
        }
        ZRS::LayerManager& lm = layerManager();
        using Id = ZRS::LayerManager::Id;
        lm.setLayerParameterAndNotify(o, Id::kActive, layer->active ? 1.0f : 0.0f);
        lm.setLayerParameterAndNotify(o, Id::kLowKey, float(layer->lowKey));
        lm.setLayerParameterAndNotify(o, Id::kHighKey, float(layer->highKey));
        lm.setLayerParameterAndNotify(o, Id::kDelayStart, layer->delayStart);
        lm.setLayerParameterAndNotify(o, Id::kTranspose, float(layer->transpose));
        lm.setLayerParameterAndNotify(o, Id::kDetune, float(layer->detune));
        lm.setLayerParameterAndNotify(o, Id::kFixedFrequency, layer->fixedFrequency ? 1.0f : 0.0f);
        lm.setLayerParameterAndNotify(o, Id::kGlideAmount, layer->glideAmount);
        lm.setLayerParameterAndNotify(o, Id::kGlideMode, float(layer->glideMode));
    }
    for (uint64_t c = 0; c < kSynthChips; ++c) {
        const auto flag = [](uint8_t f) { return f ? 1.0f : 0.0f; };
        writeMasked(c, 24, 0x7F, uint8_t(p->voice3Off ? 0x80 : 0));
        updateParameter(kVoice3Off, flag(p->voice3Off));
        writeRegister(c, 21, uint8_t(p->cutoff & 7));
        writeRegister(c, 22, uint8_t((p->cutoff >> 3) & 0xFF));
        updateParameter(kFilterCutoff, float(p->cutoff));
        writeMasked(c, 23, 0x0F, uint8_t((p->resonance & 15) << 4));
        updateParameter(kFilterResonance, float(p->resonance));
        writeMasked(c, 24, 0xEF, uint8_t(p->lowPass ? 0x10 : 0));
        updateParameter(kFilterLowPass, flag(p->lowPass));
        writeMasked(c, 24, 0xDF, uint8_t(p->bandPass ? 0x20 : 0));
        updateParameter(kFilterBandPass, flag(p->bandPass));
        writeMasked(c, 24, 0xBF, uint8_t(p->highPass ? 0x40 : 0));
        updateParameter(kFilterHighPass, flag(p->highPass));
        writeMasked(c, 24, 0xF0, uint8_t(p->volume & 15));
        updateParameter(kCoreVolume, float(p->volume));
    }
}

void SIDCtrl::applyChipModel()
{
    const float value = float(playerOptions.tuneChipSettings[0]);
    if (listener)
        listener->notifyVoiceParameter(0, 0, 0, value);
    for (size_t c = 0; c < kSynthChips; ++c)
        if (ChipEmu* chip = chipAt(c))
            chip->setParameter(0, value);
}

void SIDCtrl::refreshFilterPops()
{
    const SIDEmu* first = sidChip(0);
    if (!first || !first->getFilterPops())
        return;
    if (swallowPopListener)
        swallowPopListener->swallowPop(0, 0);
    for (size_t c = 0; c < kSynthChips; ++c)
        if (SIDEmu* chip = sidChip(c))
            chip->markModifiedForPops();
}

bool SIDCtrl::loadBankSlot(uint64_t entry, SIDCTRLPatch& p) const
{
    if (!patchBank)
        return false;
    return decodeBankSlot(std::span<const uint8_t>(patchBank.get(), kBankSize), entry, p);
}

bool SIDCtrl::importSmallInstrument(std::span<const uint8_t> bytes, SIDCTRLPatch& p) const
{
    return decodeSmallInstrument(bytes, p);
}

bool SIDCtrl::setPatchBank(std::span<const uint8_t> bank)
{
    if (bank.size() != kBankSize)
        return false;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[kBankSize]);
    std::memcpy(copy.get(), bank.data(), kBankSize);
    patchBank = std::move(copy);
    return true;
}

void SIDCtrl::setTuneChipSetting(size_t slot, uint64_t value)
{
    if (slot < std::size(playerOptions.tuneChipSettings))
        playerOptions.tuneChipSettings[slot] = value;
}

// ---------------------------------------------------------------------------------------------
// Options and commands

void SIDCtrl::setInstrumentOption(uint32_t index, double value)
{
    const int32_t v = roundToInt(value);
    switch (index) {
    case 2:
        playerOptions.sidAddresses[1] = uint16_t(v);
        break;
    case 3:
        playerOptions.sidAddresses[2] = uint16_t(v);
        break;
    case 4:
        asidReceiver.reset();
        catchUpAll();
        if (value == -1.0) {
            asidInput = true;
            setChipEnabled(15, true);
        } else {
            asidInput = false;
            setChipEnabled(15, false);
            playerOptions.option4 = uint16_t(v);
        }
        break;
    default:  // 1 and unknown options
        break;
    }
}

void SIDCtrl::mediaCommand(uint32_t command, vantor::Mutex* mutex, double value)
{
    const CommandLock lock(mutex);
    if (command > 10)
        return;
    if (command <= 5 && !(value > 0.0))
        return;
    switch (command) {
    case 0:
    case 1:
    case 2:
    case 3:
        capturePaused = true;
        setMediaParameter(kStop, 1.0);
        if (command == 0)
            captureItem = captureItem == 0 ? 0 : captureItem - 1;
        else if (command == 1)
            captureItem = captureItem < 10 ? 0 : captureItem - 10;
        else
            captureItem += command == 2 ? 1 : 10;
        previewCaptureItem(captureItem);
        break;
    case 4:
        capturePaused = true;
        setMediaParameter(kStop, 1.0);
        patchFromCaptureItem(captureItem);
        break;
    case 5:
        captureItem = 0;
        while (!captureFrames.empty())
            captureFrames.pop_back();
        patchFromShadowRegisters();
        break;
    case 10: {
        // 1-16 select chips 0-15; anything else switches the output off.
        const int32_t n = roundToInt(value);
        if (n >= 1 && n <= int32_t(kChips))
            setAsidOutput(true, uint64_t(n - 1));
        else
            setAsidOutput(false, kNoAsidChip);
        break;
    }
    default:  // 6-9
        break;
    }
}

void SIDCtrl::setAsidOutput(bool on, uint64_t chip)
{
    freeHardwareHook();
    if (!on || chip >= kChips) {
        asidChip = kNoAsidChip;
        return;
    }
    asidChip = chip;
    uint8_t image[asid::kRegisterCount];
    std::copy_n(shadows[chip].regs, asid::kRegisterCount, image);
    hardwareHook = new ChipHWHookEngineSDK(listener);
    static constexpr char kOutputName[] = "orbella C64 ASID Output";
    const auto send = [this](bool built) {
        if (built)
            hardwareHook->sendSysEx(asidBytes.data(), asidBytes.size());
        asidBytes.clear();
    };
    asidBytes.clear();
    send(buildAsidText(reinterpret_cast<const uint8_t*>(kOutputName), sizeof kOutputName - 1, asidBytes));
    send(buildAsidStart(asidBytes));
    send(buildAsidRegisters(image, asidBytes));
}

void SIDCtrl::receiveSysEx(const uint8_t* bytes, uint64_t length)
{
    if (!asidInput || !bytes || length < 4 || bytes[1] != asid::kManufacturer)
        return;
    asidReceiver.feedMessage(bytes, length);
}

void SIDCtrl::refreshAsidOutput()
{
    if (asidChip != kNoAsidChip)
        setAsidOutput(true, asidChip);
}

