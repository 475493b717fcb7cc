#pragma once
// Per-note tuning supplied by the host.

#include <cstdint>

namespace ZRS {

class NoteTuningSource
{
public:
    virtual ~NoteTuningSource() = default;
    virtual double noteFrequency(uint8_t note) = 0;  // Hz
    virtual double noteTuningOffset(uint8_t note) = 0;
    virtual bool isNoteEnabled(uint8_t note) = 0;
};

}  // namespace ZRS
