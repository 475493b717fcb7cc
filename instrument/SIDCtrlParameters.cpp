// The synth's parameter table: three blocks of per-oscillator parameters, the chip-wide filter
// and volume parameters and the sampled-sound parameters. Labels, lists and numbers are stored
// in presets and shown to the host: they must not change.
#include "instrument/SIDCtrl.h"
#include "instrument/SID_sub.h"
#include "sid/DACCompressor.h"

#include <iterator>
#include <string>

namespace {

// Flag bits of the records.
constexpr uint8_t kPublished = 0x01;
constexpr uint8_t kListed = 0x02;
constexpr uint8_t kPerVoice = 0x10;
constexpr uint8_t kRawScale = 0x20;
constexpr uint8_t kZoned = 0x40;

constexpr uint16_t kLayerOsc3 = 4;
constexpr uint16_t kLayerSample = 8;
constexpr uint16_t kLayersAll = 15;

constexpr const char* kWaveList = "None|Tri|Saw|T+S|Pulse|P+T|P+S|P+T+S|Noise";
constexpr const char* kDacModeList = "Volume|OneBit|Tesslow|KVRB|Future4|Future5";
constexpr const char* kOneBitTargetList =
    "PW1|PW2|PW3|PW1Hi|PW2Hi|PW3Hi|Ftr1|Ftr2|Ftr3|LpfOn|BpfOn|HpfOn";
constexpr const char* kLoopModeList = "Region|Continue|Loop|FullWave";
constexpr const char* kKvrbChannelList = "Ch1|Ch2|Ch3";

// Compressor parameters 0-8, after "DAC Compressor ".
constexpr const char* kCompressorNames[] = {"Threshold", "Ratio",    "MakeUp Gain",
                                            "Attack",    "Release",  "RMS Time",
                                            "Parallel",  "Multiband", "Band Balance"};

ParameterInfo record(const char* label, uint32_t type, float min, float max, float def,
                     uint8_t math, uint16_t mod, uint8_t flags = 0)
{
    ParameterInfo p(label, type, min, max, def, math, mod);
    p.flags = flags;
    return p;
}

ParameterInfo onOffZero(const char* label, float def, uint8_t flags, uint16_t layers)
{
    ParameterInfo p = record(label, ParameterInfo::Switch, 0.0f, 1.0f, def, 0x01, 0x0081, flags);
    p.displayMode = ParameterInfo::OnOffZero;
    p.layerMask = layers;
    return p;
}

}  // namespace

void SIDCtrl::declareOscParameter(const ParameterInfo& source, const char* name, uint16_t k)
{
    ParameterInfo p = source;
    p.flags |= kPerVoice;
    for (uint16_t n = 0; n < kSIDVoices; ++n) {
        const std::string label = "Osc" + std::to_string(n + 1) + " " + name;
        p.setLabel(label.c_str());
        p.layerMask = uint16_t(1u << n);
        parameters[size_t(kOscBlock * n + k)] = p;
    }
}

void SIDCtrl::declareParameters()
{
    parameters.resize(kParameterCount);

    using T = ParameterInfo;
    const ParameterInfo onOff = record(nullptr, T::Switch, 0.0f, 1.0f, 0.0f, 0x01, 0x0081);
    declareOscParameter(onOff, "Stall", SID_sub::kStall);
    declareOscParameter(onOff, "Gate", SID_sub::kGate);
    declareOscParameter(onOff, "Ring Mod", SID_sub::kRingMod);
    declareOscParameter(onOff, "Hard Sync", SID_sub::kHardSync);
    declareOscParameter(onOff, "To Filter", SID_sub::kToFilter);
    declareOscParameter(record(nullptr, T::Switch, 0.0f, 1.0f, 0.0f, 0x01, 0x0001), "Phase Reset",
                        SID_sub::kPhaseReset);
    ParameterInfo wave = record(nullptr, T::Choice, 0.0f, 8.0f, 4.0f, 0x01, 0x0081);
    wave.setList(kWaveList);
    declareOscParameter(wave, "Wave", SID_sub::kWave);

    const ParameterInfo envelope = record(nullptr, T::Integer, 0.0f, 15.0f, 0.0f, 0x03, 0x0001);
    declareOscParameter(envelope, "Attack", SID_sub::kAttack);
    declareOscParameter(envelope, "Decay", SID_sub::kDecay);
    declareOscParameter(envelope, "Release", SID_sub::kRelease);
    ParameterInfo sustain = envelope;
    sustain.defaultValue = 15.0f;
    declareOscParameter(sustain, "Sustain", SID_sub::kSustain);

    const ParameterInfo pw =
        record(nullptr, T::Integer, 0.0f, 4095.0f, 2048.0f, 0x07, 0x0541, kRawScale);
    declareOscParameter(pw, "PW", SID_sub::kPulseWidth);

    constexpr uint8_t kChipWide = kPerVoice | kZoned;
    const auto chipWide = [](const char* label, float max, float def, uint8_t math,
                             uint8_t flags) {
        ParameterInfo p = record(label, T::Integer, 0.0f, max, def, math, 0x0541, flags);
        p.layerMask = kLayersAll;
        return p;
    };
    parameters[kVoice3Off] = onOffZero("Osc3 Mute", 0.0f, kPerVoice, kLayerOsc3);
    parameters[kFilterLowPass] = onOffZero("Filter LP", 1.0f, kChipWide, kLayersAll);
    parameters[kFilterBandPass] = onOffZero("Filter BP", 0.0f, kChipWide, kLayersAll);
    parameters[kFilterHighPass] = onOffZero("Filter HP", 0.0f, kChipWide, kLayersAll);
    parameters[kFilterResonance] = chipWide("Filter Res", 15.0f, 0.0f, 0x03, kChipWide);
    parameters[kCoreVolume] = chipWide("Core Volume", 15.0f, 15.0f, 0x03, kChipWide);
    parameters[kFilterCutoff] =
        chipWide("Filter Cutoff", 2047.0f, 2047.0f, 0x07, kChipWide | kRawScale);

    // The sampled-sound parameters; 140 (the compressor switch) has no record.
    const auto listed = [this](uint16_t index, const char* label, float max, float def,
                               uint8_t math, uint16_t mod, const char* list) {
        parameters[index] = record(label, T::Choice, 0.0f, max, def, math, mod);
        parameters[index].setList(list);
    };
    listed(134, "DAC Mode", 5.0f, 0.0f, 0, 0, kDacModeList);
    listed(135, "DAC OneBit Target", 8.0f, 0.0f, 0, 0, kOneBitTargetList);
    parameters[136] = record("DAC Bias", T::Continuous, -1.0f, 1.0f, 0.0f, 0x01, 0x0401);
    parameters[137] = record("DAC Gain", T::Continuous, 0.0f, 4.0f, 1.0f, 0x01, 0x0401);
    listed(138, "DAC Loop Mode", 3.0f, 1.0f, 0x01, 0x0001, kLoopModeList);
    parameters[139] = record("DAC MIDI Offset", T::Integer, 0.0f, 48.0f, 36.0f, 0, 0);
    for (uint32_t i = 0; i < std::size(kCompressorNames); ++i) {
        const std::string label = std::string("DAC Compressor ") + kCompressorNames[i];
        parameters[141 + i] = record(label.c_str(), T::Continuous, 0.0f, 1.0f,
                                     DACCompressor::defaultParameter(i), 0, 0);
    }
    listed(150, "DAC KVRB Channel", 2.0f, 0.0f, 0, 0, kKvrbChannelList);
    for (size_t i = kFirstDacParameter; i <= kLastDacParameter; ++i)
        parameters[i].layerMask = kLayerSample;

    for (size_t i = 0; i < parameters.size(); ++i) {
        ParameterInfo& p = parameters[i];
        if (p.label) {
            p.flags |= kPublished | kListed;
            p.index = uint16_t(i);
        }
    }
}
