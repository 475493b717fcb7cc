#pragma once
// Process-wide templates for the per-voice and per-layer parameters. Users copy a record and
// give the copy their own label and index.

#include "platform/ParameterInfo.h"

#include <cstddef>

namespace ZRS {

class GenericParam
{
public:
    enum Record : size_t {
        kAmplitude4Bit = 0,
        kAmplitude7Bit = 1,
        kAmplitude = 2,
        kDetune = 3,
        kTranspose = 4,
        kFixedFreq = 5,
        kRecordCount
    };

    // Created on first use and kept until the process ends.
    static GenericParam& instance();
    static bool isCreated() { return created; }

    const ParameterInfo& record(size_t i) const { return records[i]; }

    GenericParam(const GenericParam&) = delete;
    GenericParam& operator=(const GenericParam&) = delete;
    virtual ~GenericParam() = default;

private:
    GenericParam();

    static inline bool created = false;

    ParameterInfo records[kRecordCount];
};

}  // namespace ZRS
