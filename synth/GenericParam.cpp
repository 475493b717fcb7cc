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
}

// Never freed: the pointer keeps it reachable for the rest of the process.
GenericParam& GenericParam::instance()
{
    if (!created) {
        single = new GenericParam();
        created = true;
    }
    return *single;
}

}  // namespace ZRS
