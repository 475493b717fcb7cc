#pragma once
// The current frequency of a voice of a voice group.

#include <cstdint>

namespace ZRS {

class PitchProvider
{
public:
    virtual ~PitchProvider() = default;
    virtual float voiceFrequency(uint64_t group, int64_t voice) = 0;  // Hz
};

}  // namespace ZRS
