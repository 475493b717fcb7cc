#include "synth/SynthParams.h"

#include <cctype>
#include <cstring>

namespace ZRS {

ParameterInfo* SynthParams::findParameterIndex(const char* name, uint64_t length, uint16_t& index)
{
    index = kNoParameter;
    const size_t count = parameters.size() < kNoParameter ? parameters.size() : kNoParameter;
    for (size_t i = 0; i < count; ++i) {
        const char* label = parameters[i].label;
        if (!label)
            continue;
        const size_t n = std::strlen(label);
        if (n != length)
            continue;
        bool same = true;
        for (size_t k = 0; k < n && same; ++k)
            same = char(std::toupper(static_cast<unsigned char>(label[k]))) == name[k];
        if (same) {
            index = uint16_t(i);
            return &parameters[i];
        }
    }
    return nullptr;
}

}  // namespace ZRS
