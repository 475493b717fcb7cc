#include "synth/GenericParam.h"

namespace ZRS {

namespace {

constexpr uint8_t kPerVoice = 0x10;

}  // namespace

GenericParam::GenericParam()
    : records{
          {"Amplitude (4-bit)", ParameterInfo::Integer, 0.0f, 15.0f, 15.0f, 11, 0x441},
          {"Amplitude (7-bit)", ParameterInfo::Integer, 0.0f, 127.0f, 127.0f, 11, 0x541},
          {"Amplitude", ParameterInfo::Continuous, 0.0f, 1.0f, 1.0f, 11, 0x501},
          {"Detune", ParameterInfo::Integer, -100.0f, 100.0f, 0.0f, 3, 0x541},
          {"Transpose", ParameterInfo::Integer, -128.0f, 127.0f, 0.0f, 7, 0x541},
          {"Fixed Freq", ParameterInfo::Switch, 0.0f, 1.0f, 0.0f, 1, 0x481},
      }
{
    for (ParameterInfo& p : records)
        p.flags = kPerVoice;
    ParameterInfo& amp = records[kAmplitude];
    amp.displayMode = ParameterInfo::CFormatFactorOffset;
    amp.setDisplayFormat("%3.0f");
    amp.factor = 100.0f;
    created = true;
}

// A function-local static rather than a never-freed allocation: the texts' pointers sit
// misaligned in the packed records, where a leak checker cannot see them.
GenericParam& GenericParam::instance()
{
    static GenericParam single;
    return single;
}

}  // namespace ZRS
