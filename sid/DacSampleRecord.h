#pragma once
// The sample block the host hands to the sampled-sound channels, read by byte offset only (layout
// in abi/ExtensionBlocks.h). The channels never own it.

#include "abi/ExtensionBlocks.h"

#include <cstddef>
#include <cstdint>

struct DacSampleRecord : SampleBlock {
    uint8_t bytes[kSize];

    uint32_t word(size_t offset) const { return ExtensionBlock::readU32(bytes, offset); }
    void setWord(size_t offset, uint32_t v) { ExtensionBlock::writeU32(bytes, offset, v); }

    uint32_t id() const { return word(ExtensionBlock::kIdOffset); }
    // As stored; may exceed kMaxSamples.
    uint32_t length() const { return word(kLengthOffset); }
    // Length cut to the data area.
    uint32_t usableLength() const { return length() < kMaxSamples ? length() : kMaxSamples; }
    uint32_t rate() const { return word(kRateOffset); }
    uint32_t position(size_t slot) const { return word(kPositionsOffset + 4 * (slot % kSlots)); }
    // Marker kind of a slot: kStartMarker, kEndMarker, kNoteMarker; any other value is no marker.
    uint8_t kind(size_t slot) const { return bytes[kKindsOffset + slot % kSlots]; }
    // Sample `index` (below kMaxSamples).
    int16_t sample(uint32_t index) const
    {
        return int16_t(ExtensionBlock::readU16(bytes, kSamplesOffset + 2 * size_t(index)));
    }
};
static_assert(sizeof(DacSampleRecord) == SampleBlock::kSize);
