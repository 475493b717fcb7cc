#include "sid/SIDEmu.h"

#include "platform/PlatformTools.h"
#include "platform/SaturatingCast.h"
#include "sid/SIDCombinedTables.h"
#include "sid/SIDDatabase.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr std::array<double, 5> kSidClockList = {985248.0, 1000000.0, 1022727.0, 3579545.4545 / 2,
                                                 3579545.4545 / 4};
constexpr float kFilterRate = 1000000.0f;

// Published output scales: just under 2^-21 for the two chip channels, 1/256 for the others.
constexpr uint32_t kOutputScaleBits = 0x34FFFFF8;

constexpr const char* kCombineWaveList =
    "Normal|AND|AND2|MIX|JOIN|POPCNT|FRACRPT|BITMASH|OCTAVE|STEP|2.5|ICE|REED|SINE|ORGAN|FRACMIX|"
    "NOISY|CURVY|WSINE|FLAKY|XOR|PLUCK|EDGY|VOCAL|TEEBEY|SINESEG|SINESEG2|SEGMENT|INVERT|SCREAM|"
    "CEEZEY|WOODY";

struct ParameterRow {
    const char* label;
    uint32_t type;
    float min, max, defaultValue;
    const char* list;
};

constexpr ParameterRow kParameterRows[SIDParam::kCount] = {
    {"SID Model", ParameterInfo::Choice, 0, 1, 0, "GENERIC8580"},
    {"Filter Dist Gain", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter Filter DC", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter Cutoff Offset", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter Gain", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Volume DC Bias", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"SID_FUTURE2", ParameterInfo::Continuous, 0, 1, 0, nullptr},
    {"Emulate 8580 Clipping", ParameterInfo::Choice, 0, 1, 1, "Off|On"},
    {"ch0 mute", ParameterInfo::Switch, 0, 1, 0, nullptr},
    {"ch1 mute", ParameterInfo::Switch, 0, 1, 0, nullptr},
    {"ch2 mute", ParameterInfo::Switch, 0, 1, 0, nullptr},
    {"digi mute", ParameterInfo::Switch, 0, 1, 0, nullptr},
    {"ADSR Behavior", ParameterInfo::Choice, 0, 1, 0,
     "Lin DR|Lin DR, Fast A0|Exp DR, HW Bugs|Exp DR|Exp DR, Fast A0"},
    {"SID Combine Wave", ParameterInfo::Choice, 0, 1, 0, kCombineWaveList},
    {"Filter Pops", ParameterInfo::Choice, 0, 1, 1, "Full emu|Mods only"},
    {"Osc Leak", ParameterInfo::Choice, 0, 1, 0, "Off|On"},
    {"Filter 6", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter 7", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter 8", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter 9", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter 10", ParameterInfo::Continuous, -1, 1, 0, nullptr},
    {"Filter 11", ParameterInfo::Continuous, -1, 1, 0, nullptr},
};

// Voice v takes its ring and sync source from voice kSource[v].
constexpr std::size_t kSource[3] = {2, 0, 1};

constexpr float kVoiceScale = 1.9073486e-06f;  // 2^-19
constexpr float kVolumeStep = 0.06666667f;     // 1/15
constexpr uint32_t kSyncBit = 2, kRingBit = 4, kTestBit = 8;
constexpr uint32_t kQuirkLimit = 0x821000;

// A chip parameter's integer value: truncated and saturated to I's range (so negative values give
// 0 for unsigned I), NaN 0.
template <class I>
I parameterInteger(float value)
{
    return vantor::saturatingCast<I>(value);
}

}  // namespace

SIDEmu::SIDEmu() : profile(&defaultSIDChipInfo())
{
    applied.fill(-1);
    info.clocks.assign(kSidClockList.begin(), kSidClockList.end());
    info.chipType = "6581";
    info.family = "SID";
    const float scale = std::bit_cast<float>(kOutputScaleBits);
    info.outputScales = {scale, scale, 1.0f / 256.0f, 1.0f / 256.0f};
    registerChipParameters();
}

SIDEmu::~SIDEmu()
{
    delete[] directMix;
    delete[] filterMix;
}

void SIDEmu::registerChipParameters()
{
    info.parameters.reserve(SIDParam::kCount);
    for (const ParameterRow& row : kParameterRows) {
        ParameterInfo p(row.label, row.type, row.min, row.max, row.defaultValue, 0, 0);
        if (row.list)
            p.setList(row.list);
        info.parameters.push_back(p);
    }
    for (std::size_t i = 0; i < info.parameters.size(); ++i) {
        ParameterInfo& p = info.parameters[i];
        if (p.label != nullptr) {
            p.flags = uint8_t(p.flags | 3);
            p.index = uint16_t(i);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Lifecycle

bool SIDEmu::init(uint64_t n, const char* path, uint32_t value)
{
    wake();
    initValue = value;
    n = std::clamp<uint64_t>(n, 1, kMaxBlockCycles);
    bool ok = true;
    for (SIDVoice& v : voices) {
        ok = v.reset(n) && ok;
        v.delayedOutput = linearModel;
    }

    dcTable = kDefaultDcTable.data();
    linearFilter.setRate(kFilterRate);
    linearFilter.update();
    measuredFilter.reset();
    measuredFilter.setRate(kFilterRate);
    measuredFilter.update();
    measuredFilter.updateResonance();

    if (path && *path && fileExists(path))
        useDatabase(*SIDDatabase::createInstance(std::string(path)));
    if (!databaseLoaded) {
        applyCombinedTables();
        baseDc = dcTable[56];
        filterDcScale = 1.0f;
    }

    delete[] directMix;
    delete[] filterMix;
    directMix = new (std::nothrow) float[n]();
    filterMix = new (std::nothrow) float[n]();
    ok = ok && directMix && filterMix;
    blockCapacity = ok ? n : 0;
    updateOutputDc();
    return ok;
}

void SIDEmu::useDatabase(const SIDDatabase& db)
{
    wake();
    if (db.chipCount() == 0)
        return;
    database = &db;
    databaseLoaded = 1;
    info.parameters[SIDParam::kModel].setList(db.chipList().c_str());
    selectChip(int64_t(SIDDatabase::kDefaultChip), initValue);
}

void SIDEmu::powerOn() { reset(); }

void SIDEmu::reset()
{
    wake();
    for (uint16_t r = 0; r <= 24; ++r)
        writeRegister(r, 0);
    for (SIDVoice& v : voices)
        v.resetState();
    measuredFilter.reset();
    linearFilter.setCutoff(0);
    linearFilter.update();
    linearFilter.clearBandState();
}

// ---------------------------------------------------------------------------------------------
// Registers

void SIDEmu::writeRegister(uint16_t reg, uint8_t value, uint64_t)
{
    registers[reg & 31] = value;
    busValue = value;
    busAge = 0;
    if (reg < 32) {
        // Writing the value a register already holds changes nothing that sounds.
        if (applied[reg] != value)
            wake();
        const bool inert = (reg == 27 || reg >= 29) && !extensionsEnabled;
        applied[reg] = inert ? int16_t(-1) : int16_t(value);
    }
    switch (reg) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6:
    case 7: case 8: case 9: case 10: case 11: case 12: case 13:
    case 14: case 15: case 16: case 17: case 18: case 19: case 20:  // voice registers
        voices[reg / 7].writeRegister(reg % 7, value);
        break;
    case 21:  // FC LO: cutoff bits 0-2
        cutoff = uint16_t((cutoff & 0x7F8) | (value & 7));
        setCutoff(cutoff);
        break;
    case 22:  // FC HI: cutoff bits 3-10
        cutoff = uint16_t((cutoff & 7) + value * 8);
        setCutoff(cutoff);
        break;
    case 23:  // RES/FILT
        setResonance(value >> 4);
        routing = value & 7;
        externalInput = (value >> 3) & 1;
        break;
    case 24:  // MODE/VOL
        volume = value & 15;
        voicesOff[2] = value >> 7;
        mode = (value >> 4) & 7;
        break;
    case 27:  // voice 1 and 2 off
        if (extensionsEnabled) {
            voicesOff[0] = value & 1;
            voicesOff[1] = (value >> 1) & 1;
        }
        break;
    case 29: case 30: case 31:  // voice levels, 0 full, 255 silent
        if (extensionsEnabled)
            voiceLevels[reg - 29] = float(value ^ 255) / 255.0f;
        break;
    default:  // 25, 26, 28 are read-only; 32 and above land in the image only
        break;
    }
}

uint8_t SIDEmu::readRegister(uint16_t reg, uint64_t)
{
    switch (reg) {
    case 25:  // POTX
        busValue = potX;
        break;
    case 26:  // POTY
        busValue = potY;
        break;
    case 27:  // OSC3: upper 8 bits of voice 3's waveform
        busValue = uint8_t(voices[2].lastOutput >> 4);
        break;
    case 28:  // ENV3: voice 3's level as its DAC saw it
        busValue = voices[2].envelope.getDacStage2();
        break;
    default:  // write-only registers read the decaying bus
        break;
    }
    return busValue;
}

void SIDEmu::setCutoff(uint32_t c)
{
    measuredFilter.setCutoff(c & 0x7FF);
    measuredFilter.update();
    linearFilter.setCutoff(c & 0x7FF);
    linearFilter.update();
}

void SIDEmu::setResonance(uint32_t q)
{
    measuredFilter.setResonance(q & 15);
    measuredFilter.updateResonance();
    linearFilter.setResonance(q & 15);
    linearFilter.update();
}

void SIDEmu::setPaddles(uint64_t index, float value)
{
    const int64_t p = std::max<int64_t>(0, vantor::saturatingCast<int64_t>(std::floor(value / 5.0f + 0.5f)));
    const uint8_t pot = uint8_t(-uint64_t(p));
    if (index == 24)
        potX = pot;
    else if (index == 23)
        potY = pot;
}

// ---------------------------------------------------------------------------------------------
// Parameters and profiles

void SIDEmu::setParameter(uint64_t index, float value)
{
    wake();
    const bool on = value > 0.0f;
    switch (index) {
    case SIDParam::kModel:
        selectChip(parameterInteger<int64_t>(value), initValue);
        break;
    case SIDParam::kFilterDistGain:
        measuredFilter.setParameter(SIDFilterParam::kDistGain, value);
        linearFilter.update();
        break;
    case SIDParam::kFilterDc:
        measuredFilter.setParameter(SIDFilterParam::kDcGain, value);
        linearFilter.update();
        break;
    case SIDParam::kFilterCutoffOffset:
        setFilterParameter(SIDFilterParam::kCutoffOffset, value);
        break;
    case SIDParam::kFilterGain:
        setFilterParameter(SIDFilterParam::kGain, value);
        break;
    case SIDParam::kVolumeDcBias:
        if (std::isfinite(value)) {
            dcBias = -value;
            updateOutputDc();
        }
        break;
    case SIDParam::kClipping:
        clipping = parameterInteger<uint32_t>(value);
        break;
    case SIDParam::kMute0:
    case SIDParam::kMute0 + 1:
    case SIDParam::kMute0 + 2:
        mutes[index - SIDParam::kMute0] = on;
        break;
    case SIDParam::kDigiMute:
        digiMute = on;
        break;
    case SIDParam::kAdsrBehavior:
        adsrBehavior = parameterInteger<uint32_t>(value);
        applyAdsrBehavior();
        break;
    case SIDParam::kCombineWave:
        combineWaveMode = parameterInteger<uint64_t>(value);
        applyCombinedTables();
        break;
    case SIDParam::kFilterPops:
        filterPops = on;
        break;
    case SIDParam::kOscLeak:
        oscLeak = on;
        break;
    default:  // SID_FUTURE2, Filter 6-11 and unknown indices
        break;
    }
}

void SIDEmu::setFilterParameter(uint32_t index, float value)
{
    wake();
    measuredFilter.setParameter(index, value);
    linearFilter.setParameter(index, value);
}

void SIDEmu::applyAdsrBehavior()
{
    wake();
    const uint32_t c = extensionsEnabled ? adsrBehavior : 2;
    for (SIDVoice& v : voices)
        v.envelope.setBehaviour(c != 2, c == 1 || c == 4, c < 2);
}

void SIDEmu::applyCombinedTables()
{
    wake();
    const uint16_t* tables[4];
    uint8_t quirk = 0, generated = 0;
    if (combineWaveMode != 0) {
        for (unsigned k = 0; k < 4; ++k)
            tables[k] = builtinCombineTable(combineWaveMode, k);
        generated = 1;
    } else {
        // A profile's own tables only when all 8 slots are there; a waveSet past 4 gives set 4.
        const uint16_t* set = chipCombinedTables(databaseLoaded ? *profile : defaultSIDChipInfo());
        for (unsigned k = 0; k < 4; ++k)
            tables[k] = set + kCombinedVoiceSlots[k] * kCombinedTableLength;
        if (databaseLoaded)
            quirk = (profile->tableModel == 0) == (profile->wave6Quirk == 0);
    }
    for (SIDVoice& v : voices) {
        v.combinedTable3 = tables[0];
        v.combinedTable5 = tables[1];
        v.combinedTable6 = tables[2];
        v.combinedTable7 = tables[3];
        v.sawPulseQuirk = quirk;
        v.generatedCombinedTables = generated;
    }
}

void SIDEmu::selectChip(int64_t index, uint32_t value)
{
    wake();
    if (!databaseLoaded || !database)
        return;
    const uint64_t chip = uint64_t(std::max<int64_t>(index, 0));
    if (chip != selectedChip) {
        notifyChipListener(chip, value);
        selectedChip = chip;
    }
    profile = &database->chipInfoAt(chip);
    record = &database->chipRecordAt(chip);
    applyCombinedTables();
    linearModel = profile->tableModel != 0;
    if (linearModel) {
        linearFilter.setTables(profile->resoInverseQ, profile->lineRows);
        linearFilter.update();
    } else {
        measuredFilter.setRecord(record);
    }
    for (std::size_t k = 0; k < 3; ++k) {
        SIDVoice& v = voices[k];
        if (k < profile->voiceTables.size()) {
            const VoiceCurveTables& t = profile->voiceTables[k];
            // The curves are stored unsigned; the DACs read them as signed.
            v.envelope.setWaveDac(reinterpret_cast<const int16_t*>(t.oscCurve.data()));
            v.envelope.setEnvelopeDac(reinterpret_cast<const uint32_t*>(t.envCurve.data()));
        } else {
            v.envelope.setWaveDac(nullptr);
            v.envelope.setEnvelopeDac(nullptr);
        }
        v.delayedOutput = linearModel;
    }
    dcTable = profile->dcTable.data();
    baseDc = profile->outputDc;
    filterDcScale = profile->filterScale;
    updateOutputDc();
}

void SIDEmu::updateOutputDc()
{
    wake();
    outputDcLevel = baseDc + dcBias + profile->filterDcBias + profile->volumeDcBias;
}

void SIDEmu::markModified()
{
    wake();
    measuredFilter.setFirstBlock();
}

void SIDEmu::markModifiedForPops()
{
    wake();
    if (!filterPops)
        return;
    measuredFilter.setFirstBlock();
    linearFilter.setFirstBlock();
}

bool SIDEmu::isVoiceSounding(uint64_t voice) const
{
    return voice < 3 && voices[voice].envelope.getEnvelopeLevel() > 0;
}

void SIDEmu::notifyChipListener(uint64_t index, uint32_t value)
{
    if (listener)
        listener->swallowPop(index, value);
}

// ---------------------------------------------------------------------------------------------
// Render

void SIDEmu::render(int32_t* const* outputs, uint64_t cycles)
{
    busAge = busAge + cycles < busAge ? UINT64_MAX : busAge + cycles;
    if (busAge >= kBusDecayCycles)
        busValue = 0;
    if (blockCapacity == 0)
        return;
    int32_t* out = outputs ? outputs[outputChannel] : nullptr;
    while (cycles > 0) {
        const uint64_t n = std::min(cycles, blockCapacity);
        if (resting) {
            advanceResting(n);
            if (out)
                addSaturating(out, n, restOutput);
        } else {
            const unsigned quiet = renderPiece(out, n);
            resting = !exactRender && canRest(n, quiet);
        }
        if (out)
            out += n;
        cycles -= n;
    }
}

bool SIDEmu::skipResting(uint64_t cycles)
{
    if (!resting || blockCapacity == 0)
        return false;
    busAge = busAge + cycles < busAge ? UINT64_MAX : busAge + cycles;
    if (busAge >= kBusDecayCycles)
        busValue = 0;
    while (cycles > 0) {
        const uint64_t n = std::min(cycles, blockCapacity);
        advanceResting(n);
        cycles -= n;
    }
    return true;
}

void SIDEmu::setExactRender(bool on)
{
    exactRender = on;
    wake();
}

bool SIDEmu::directOscillators(bool uses[3], std::size_t& user) const
{
    unsigned users = 0;
    user = 0;
    for (std::size_t v = 0; v < 3; ++v) {
        uses[v] = (voices[v].control & (kSyncBit | kRingBit)) != 0;
        if (uses[v]) {
            ++users;
            user = v;
        }
    }
    return users == 0 || (users == 1 && !(voices[kSource[user]].waveform == 6 && linearModel));
}

bool SIDEmu::canRest(uint64_t n, unsigned quiet)
{
    bool uses[3];
    std::size_t user;
    if (n == 0 || !directOscillators(uses, user))
        return false;
    const int64_t leak = SIDEnvelope::leakTerm(oscLeak ? kLeakLevels[linearModel ? 0 : 1] : 0.0f);
    for (std::size_t k = 0; k < 3; ++k) {
        const SIDVoice& v = voices[k];
        if ((!((quiet >> k) & 1) && v.outputBuffer[n - 1] != 0) || !v.envelope.isSilentFromNowOn(leak))
            return false;
    }
    if (linearModel ? !linearFilter.isAtRest() : !measuredFilter.isAtRest())
        return false;
    // What the last cycle added, through the output stage's four-lane path.
    int32_t one[4] = {};
    const float mix[4] = {directMix[n - 1], directMix[n - 1], directMix[n - 1], directMix[n - 1]};
    outputFrom(mix, one, 4);
    restOutput = one[0];
    return true;
}

void SIDEmu::advanceResting(uint64_t n)
{
    bool uses[3];
    std::size_t user;
    directOscillators(uses, user);
    const SIDVoice& source = voices[kSource[user]];
    const uint32_t acc = source.accumulator, freq = source.frequency;
    const uint8_t msb = uint8_t((acc >> 23) & 1);
    for (std::size_t v = 0; v < 3; ++v) {
        if (uses[v])
            voices[v].advanceWaveBlock(n, 1, acc, freq, msb);
        else
            voices[v].advanceWaveBlock(n, 0, 0, 0, 0);
        voices[v].envelope.advance(n);
    }
}

unsigned SIDEmu::findQuietVoices() const
{
    const int64_t leak = SIDEnvelope::leakTerm(oscLeak ? kLeakLevels[linearModel ? 0 : 1] : 0.0f);
    unsigned quiet = 0;
    for (std::size_t v = 0; v < 3; ++v)
        if (voices[v].envelope.isSilentFromNowOn(leak))
            quiet |= 1u << v;
    return quiet;
}

void SIDEmu::renderOscillators(uint64_t n)
{
    bool uses[3];
    std::size_t user = 0;
    if (!directOscillators(uses, user)) {
        renderPhases(n);
        return;
    }
    // Every call gets the source as it was before the block; the dependent voice steps its own
    // copy.
    uint32_t acc = 0, freq = 0;
    uint8_t msb = 0;
    if (uses[0] || uses[1] || uses[2]) {
        const SIDVoice& source = voices[kSource[user]];
        acc = source.accumulator;
        freq = source.frequency;
        msb = uint8_t((acc >> 23) & 1);
    }
    for (std::size_t v = 0; v < 3; ++v) {
        const uint32_t has = uses[v] ? 1 : 0;
        if ((quietVoices >> v) & 1)
            voices[v].advanceWaveBlock(n, has, acc, freq, msb);
        else
            voices[v].renderWaveBlock(voices[v].outputBuffer, n, has, acc, freq, msb);
    }
}

// Steps the three accumulators together, cycle by cycle, with test, the saw+pulse quirk and hard
// sync, then renders each voice from the stored tops.
void SIDEmu::renderPhases(uint64_t n)
{
    uint32_t acc[3], prev[3], prev2[3], freq[3], clearMask[3], quirkMask[3], syncMask[3];
    uint16_t* tops[3];
    for (std::size_t v = 0; v < 3; ++v) {
        SIDVoice& s = voices[v];
        acc[v] = s.accumulator;
        prev[v] = s.accumulatorPrev;
        prev2[v] = s.accumulatorPrev2;
        freq[v] = s.frequency;
        clearMask[v] = (s.control & kTestBit) ? 0 : 0xFFFFFF;
        quirkMask[v] = (s.sawPulseQuirk && s.waveform == 6) ? 0x800000 : 0;
        syncMask[v] = (s.control & kSyncBit) ? 0xFFFFFFFF : 0;
        s.accumulatorBuffer[2] = uint16_t((s.accumulatorPrev >> 12) & 0xFFF);
        s.accumulatorBuffer[3] = uint16_t((s.accumulator >> 12) & 0xFFF);
        tops[v] = s.accumulatorBuffer + 4;
    }
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t next[3];
        for (std::size_t v = 0; v < 3; ++v) {
            uint32_t a = (acc[v] + freq[v]) & clearMask[v];
            if (a < kQuirkLimit)
                a &= ~quirkMask[v];
            next[v] = a;
        }
        // A source's rising bit 23, before its own sync, resets the synced voice.
        uint32_t rising[3];
        for (std::size_t v = 0; v < 3; ++v)
            rising[v] = next[v] & ~acc[v] & 0x800000;
        for (std::size_t v = 0; v < 3; ++v) {
            if (rising[kSource[v]] & syncMask[v])
                next[v] = 0;
            prev2[v] = prev[v];
            prev[v] = acc[v];
            acc[v] = next[v];
            tops[v][i] = uint16_t(next[v] >> 12);
        }
    }
    for (std::size_t v = 0; v < 3; ++v) {
        voices[v].accumulator = acc[v];
        voices[v].accumulatorPrev = prev[v];
        voices[v].accumulatorPrev2 = prev2[v];
    }
    for (std::size_t v = 0; v < 3; ++v)
        voices[v].renderWaveFromPhases(voices[v].outputBuffer, n, tops[v], tops[kSource[v]]);
}

void SIDEmu::renderEnvelopes(uint64_t n)
{
    const float leak = oscLeak ? kLeakLevels[linearModel ? 0 : 1] : 0.0f;
    for (std::size_t k = 0; k < 3; ++k) {
        SIDVoice& v = voices[k];
        if ((quietVoices >> k) & 1)
            v.envelope.advance(n);
        else
            v.envelope.render(v.outputBuffer, n, leak);
    }
}

namespace {

using F32x4 = float __attribute__((vector_size(16)));
using I32x4 = int32_t __attribute__((vector_size(16)));
using U32x4 = uint32_t __attribute__((vector_size(16)));

inline F32x4 splat(float v) { return F32x4{v, v, v, v}; }

// One mix buffer: a DC level plus the voices routed to it, in voice order,
// mix[i] = ((dc + s1[i] x q1 x g) + s2[i] x q2 x g) + ..., four cycles at a time.
struct MixSources {
    const uint32_t* samples[3];
    float scale[3];
    int count = 0;
};

// With AddHeld the value the buffer held is added last: ((dc + s1...) + held).
template <int Count, bool AddHeld = false>
[[gnu::always_inline]] inline void mixInto(float* mix, uint64_t from, uint64_t n, float dc,
                                           const MixSources& m, float gain)
{
    mix += from;
    const uint32_t* samples[3] = {};
    for (int v = 0; v < Count; ++v)
        samples[v] = m.samples[v] + from;
    uint64_t i = 0;
    const F32x4 dc4 = splat(dc), g4 = splat(gain);
    F32x4 q4[3];
    for (int v = 0; v < Count; ++v)
        q4[v] = splat(m.scale[v]);
    for (; i + 4 <= n; i += 4) {
        F32x4 acc = dc4;
        for (int v = 0; v < Count; ++v) {
            I32x4 s;
            std::memcpy(&s, samples[v] + i, sizeof s);
            acc += __builtin_convertvector(s, F32x4) * q4[v] * g4;
        }
        if constexpr (AddHeld) {
            F32x4 held;
            std::memcpy(&held, mix + i, sizeof held);
            acc += held;
        }
        std::memcpy(mix + i, &acc, sizeof acc);
    }
    for (; i < n; ++i) {
        float acc = dc;
        for (int v = 0; v < Count; ++v)
            acc += float(int32_t(samples[v][i])) * m.scale[v] * gain;
        if constexpr (AddHeld)
            acc += mix[i];
        mix[i] = acc;
    }
}

template <bool AddHeld = false>
[[gnu::always_inline]] inline void mix(float* to, uint64_t from, uint64_t n, float dc, const MixSources& m,
                                       float gain)
{
    switch (m.count) {
    case 0: mixInto<0, AddHeld>(to, from, n, dc, m, gain); break;
    case 1: mixInto<1, AddHeld>(to, from, n, dc, m, gain); break;
    case 2: mixInto<2, AddHeld>(to, from, n, dc, m, gain); break;
    default: mixInto<3, AddHeld>(to, from, n, dc, m, gain); break;
    }
}

}  // namespace

struct SIDEmu::MixPlan {
    MixSources filtered, direct;
    float filterDc, directLevel, filteredGain, directGain;
    ModeGains gains;
};

SIDEmu::MixPlan SIDEmu::planMix(uint64_t n)
{
    const uint32_t voice3Off = voicesOff[2] ? 1 : 0;
    const float directDc = dcTable[64 * voice3Off + 8 * routing + mode];
    const float filterDc = dcTable[128 + routing + 8 * voice3Off] * filterDcScale;

    float lpGain = 1.0f, bpGain = 1.0f, hpGain = 1.0f;
    float filteredGain = 1.0f, directGain = 1.0f;
    float a = 0.0f, b = 0.0f, s = 1.0f;
    if (!linearModel) {
        const std::size_t set = initValue < kSecondModeGainsInitValue ? 0 : 3;
        lpGain = profile->modeGains[set];
        bpGain = profile->modeGains[set + 1];
        hpGain = profile->modeGains[set + 2];
        directGain = profile->mixerGains[3];
        filteredGain = profile->mixerSign;
        measuredFilter.getModeDc(a, b);
        s = measuredFilter.getInputScale();
    }
    const ModeGains g = {(mode & 1) ? lpGain : 0.0f, (mode & 2) ? bpGain : 0.0f, (mode & 4) ? hpGain : 0.0f};

    const float k = -s * filterDc;
    if (!linearModel && lastModel == 0 && k != lastFilterDc)
        measuredFilter.addPendingInputStep(k - lastFilterDc);
    lastModel = linearModel;
    lastFilterDc = k;

    // Muted voices are silent; a voice switched off still sounds through the filter. A quiet
    // voice's buffer was not written: its 0 x scale x gain changes no sum that does not start
    // from -0 and has finite factors, so it is left out, or else its 0s are filled in.
    const float directLevel = directDc - k * (g.lp + a * g.bp + a * b * g.hp) + profile->filterDcBias;
    const auto dropsZero = [](float dc, float gain) {
        return std::isfinite(gain) && !(dc == 0.0f && std::signbit(dc));
    };
    const bool filteredDrops = dropsZero(filterDc, filteredGain);
    const bool directDrops = dropsZero(directLevel, directGain);
    MixSources filtered, direct;
    for (std::size_t v = 0; v < 3; ++v) {
        const bool routed = (routing >> v) & 1;
        if (mutes[v] || (voicesOff[v] && !routed))
            continue;
        const float scale = voiceLevels[v] * kVoiceScale;
        if ((quietVoices >> v) & 1) {
            if ((routed ? filteredDrops : directDrops) && std::isfinite(scale))
                continue;
            std::fill_n(voices[v].outputBuffer, n, 0u);
        }
        MixSources& m = routed ? filtered : direct;
        m.samples[m.count] = voices[v].outputBuffer;
        m.scale[m.count] = scale;
        ++m.count;
    }
    return {filtered, direct, filterDc, directLevel, filteredGain, directGain, g};
}

SIDEmu::ModeGains SIDEmu::mixVoices(uint64_t n)
{
    const MixPlan p = planMix(n);
    mix(filterMix, 0, n, p.filterDc, p.filtered, p.filteredGain);
    mix(directMix, 0, n, p.directLevel, p.direct, p.directGain);
    return p.gains;
}

void SIDEmu::runFilter(uint64_t n, const ModeGains& g)
{
    if (linearModel)
        linearFilter.process(filterMix, directMix, n, g.lp, g.bp, g.hp);
    else
        measuredFilter.process(filterMix, directMix, n, g.lp, g.bp, g.hp);
}

namespace {

// The output formula, y = (mix - d) x g + d, then for linear-model chips with clipping on a knee
// of width 0.2 around F (flat at F below F - 0.1) under the ceiling H.
inline float outputLevel(float x, float d, float g) { return (x - d) * g + d; }

inline float knee(float y, float ceiling, float kneeLevel)
{
    y = ceiling < y ? ceiling : y;
    if (y < kneeLevel + 0.1f) {
        float x = y - kneeLevel;
        if (x < -0.1f) {
            x = 0.0f;
        } else {
            const float t = x - 0.1f;
            x = (2.5f * t + 1.0f) * t + 0.1f;
        }
        y = x + kneeLevel;
    }
    return y;
}

// The same, four at a time with the same operations.
inline F32x4 knee4(F32x4 y, F32x4 ceiling, F32x4 kneeLevel)
{
    const F32x4 tenth = splat(0.1f), zero = splat(0.0f);
    y = ceiling < y ? ceiling : y;
    const F32x4 x = y - kneeLevel;
    const F32x4 t = x - tenth;
    const F32x4 bent = (splat(2.5f) * t + splat(1.0f)) * t + tenth;
    const F32x4 k = (x < -tenth ? zero : bent) + kneeLevel;
    return y < kneeLevel + tenth ? k : y;
}

// floor(y x 2^20 + 0.5) saturated to the 32-bit range (NaN as 0), then added with saturation.
// The scaling by 2^20 is exact; the rounding works on the truncated value and its exact remainder.
inline I32x4 fixedPoint4(F32x4 y)
{
    const F32x4 top = splat(2147483520.0f);  // largest float below 2^31
    const F32x4 bottom = splat(-2147483648.0f);
    const F32x4 half = splat(0.5f);
    const F32x4 v = y * splat(1048576.0f);
    F32x4 c = v == v ? v : splat(0.0f);
    c = c > top ? top : c;
    c = c < bottom ? bottom : c;
    const I32x4 t = __builtin_convertvector(c, I32x4);
    const F32x4 frac = c - __builtin_convertvector(t, F32x4);
    // Comparisons give 0 or -1: subtracting "frac >= 0.5" adds one.
    const I32x4 r = t - (frac >= half) + (frac < -half);
    const I32x4 intMax = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
    return v > top ? intMax : r;
}

inline I32x4 saturatingAdd4(I32x4 a, I32x4 b)
{
    const I32x4 intMax = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
    const I32x4 sum = I32x4(U32x4(a) + U32x4(b));  // wrapping
    const I32x4 overflow = ((a ^ sum) & (b ^ sum)) < 0;
    return overflow ? (a >> 31) ^ intMax : sum;  // INT32_MIN below, INT32_MAX above
}

inline int32_t addFixedPoint(int32_t to, float y)
{
    const int32_t v = vantor::saturatingCast<int32_t>(std::floor(double(y) * 1048576.0 + 0.5));
    return int32_t(std::clamp<int64_t>(int64_t(to) + v, INT32_MIN, INT32_MAX));
}

}  // namespace

void addSaturating(int32_t* out, uint64_t n, int32_t c)
{
    if (c == 0)
        return;
    const I32x4 c4 = {c, c, c, c};
    uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        I32x4 o;
        std::memcpy(&o, out + i, sizeof o);
        o = saturatingAdd4(o, c4);
        std::memcpy(out + i, &o, sizeof o);
    }
    for (; i < n; ++i)
        out[i] = int32_t(std::clamp<int64_t>(int64_t(out[i]) + c, INT32_MIN, INT32_MAX));
}

namespace {

template <bool Clip>
[[gnu::always_inline]] inline void outputInto(int32_t* out, const float* mix, uint64_t n, float d, float g,
                                              float ceiling, float kneeLevel)
{
    uint64_t i = 0;
    const F32x4 d4 = splat(d), g4 = splat(g), h4 = splat(ceiling), f4 = splat(kneeLevel);
    const F32x4 kneeTop = f4 + splat(0.1f);
    for (; i + 4 <= n; i += 4) {
        F32x4 y;
        std::memcpy(&y, mix + i, sizeof y);
        y = (y - d4) * g4 + d4;
        if constexpr (Clip) {
            // Only values below the knee's top or above the ceiling change.
            const I32x4 bent = (y < kneeTop) | (h4 < y);
            uint64_t any[2];
            std::memcpy(any, &bent, sizeof any);
            if (any[0] | any[1])
                y = knee4(y, h4, f4);
        }
        I32x4 o;
        std::memcpy(&o, out + i, sizeof o);
        o = saturatingAdd4(o, fixedPoint4(y));
        std::memcpy(out + i, &o, sizeof o);
    }
    for (; i < n; ++i) {
        float y = outputLevel(mix[i], d, g);
        if constexpr (Clip)
            y = knee(y, ceiling, kneeLevel);
        out[i] = addFixedPoint(out[i], y);
    }
}

}  // namespace

void SIDEmu::outputStage(int32_t* out, uint64_t n)
{
    outputFrom(directMix, out, n);
}

void SIDEmu::outputFrom(const float* mix, int32_t* out, uint64_t n)
{
    const float g = digiMute ? 1.0f : float(volume) * kVolumeStep;
    const float ceiling = profile->finalTrim[0], kneeLevel = profile->finalTrim[1];
    if (linearModel && clipping)
        outputInto<true>(out, mix, n, outputDcLevel, g, ceiling, kneeLevel);
    else
        outputInto<false>(out, mix, n, outputDcLevel, g, ceiling, kneeLevel);
}

namespace {

// The direct voices' mix and the output stage over a range of cycles, as the filter hands them
// on: mix = ((dc + direct voices) + filter output), the order of adding the filter output to the
// mixed buffer.
template <bool Clip>
struct MixAndOutput {
    int32_t* out;
    float* mixed;
    const MixSources& direct;
    float directLevel, directGain;
    float d, g, ceiling, kneeLevel;
    [[gnu::always_inline]] void operator()(uint64_t from, uint64_t count) const
    {
        mix<true>(mixed, from, count, directLevel, direct, directGain);
        outputInto<Clip>(out + from, mixed + from, count, d, g, ceiling, kneeLevel);
    }
};

}  // namespace

void SIDEmu::filterAndOutput(int32_t* out, uint64_t n, const MixPlan& p)
{
    // The filter's values go into directMix; each finished group of cycles then gets the direct
    // voices and its output worked out beside the filter's next cycles.
    mix(filterMix, 0, n, p.filterDc, p.filtered, p.filteredGain);
    const float g = digiMute ? 1.0f : float(volume) * kVolumeStep;
    const float ceiling = profile->finalTrim[0], kneeLevel = profile->finalTrim[1];
    const ModeGains& m = p.gains;
    if (clipping)
        linearFilter.process<true>(filterMix, directMix, n, m.lp, m.bp, m.hp,
                                   MixAndOutput<true>{out, directMix, p.direct, p.directLevel, p.directGain,
                                                      outputDcLevel, g, ceiling, kneeLevel});
    else
        linearFilter.process<true>(filterMix, directMix, n, m.lp, m.bp, m.hp,
                                   MixAndOutput<false>{out, directMix, p.direct, p.directLevel, p.directGain,
                                                       outputDcLevel, g, ceiling, kneeLevel});
}

unsigned SIDEmu::renderPiece(int32_t* out, uint64_t n)
{
    // A voice held at level 0 scales every sample to 0 until a write: only its state moves.
    quietVoices = exactRender ? 0 : findQuietVoices();
    renderOscillators(n);
    renderEnvelopes(n);
    if (out && linearModel) {
        filterAndOutput(out, n, planMix(n));
    } else {
        const ModeGains gains = mixVoices(n);
        runFilter(n, gains);
        if (out)
            outputStage(out, n);
    }
    const unsigned quiet = quietVoices;
    quietVoices = 0;
    return quiet;
}
