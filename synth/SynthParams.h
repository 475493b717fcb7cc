#pragma once
// The synth's parameter table: 64-byte descriptions found by number or by upper-case name.

#include "platform/ParameterInfo.h"

#include <cstdint>
#include <vector>

namespace ZRS {

class SynthParams
{
public:
    static constexpr uint16_t kNoParameter = 0xFFFF;

    SynthParams() = default;
    SynthParams(const SynthParams&) = delete;
    SynthParams& operator=(const SynthParams&) = delete;
    virtual ~SynthParams() = default;

    // The first record whose upper-cased label is exactly the `length` bytes of `name`; null and
    // kNoParameter when none. The query is not upper-cased: callers pass upper-case names.
    virtual ParameterInfo* findParameterIndex(const char* name, uint64_t length, uint16_t& index);
    virtual void setParameter(uint16_t index, float value) = 0;

    // A record's number is its position. Actions keep pointers into the table: it must not
    // change once the controller's set-up has run, until the set-up runs again.
    std::vector<ParameterInfo> parameters;
};

}  // namespace ZRS
