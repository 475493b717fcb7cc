#pragma once
// The sample block the host hands to the sampled-sound channels: 524288 bytes, little-endian, read
// by byte offset only. The channels never own it.

#include <cstddef>
#include <cstdint>

struct DacSampleRecord {
    static constexpr size_t kSize = 524288;
    static constexpr uint32_t kId = 47731;  // the extension command that carries it
    static constexpr size_t kIdOffset = 0;
    static constexpr size_t kHeaderWordOffset = 4;
    static constexpr size_t kFlagsOffset = 12;
    static constexpr size_t kLengthOffset = 32;   // u32 samples
    static constexpr size_t kRateOffset = 36;     // u32 Hz
    static constexpr size_t kWord48Offset = 48;
    static constexpr size_t kPositionsOffset = 64;  // u32[128] marker positions
    static constexpr size_t kKindsOffset = 576;     // u8[128] marker kinds
    static constexpr size_t kSamplesOffset = 704;   // s16 samples to the end
    static constexpr size_t kSlots = 128;
    static constexpr uint32_t kMaxSamples = uint32_t((kSize - kSamplesOffset) / 2);  // 261792

    // Marker kinds the channels read; any other value is no marker.
    static constexpr uint8_t kStartMarker = 1;
    static constexpr uint8_t kEndMarker = 2;
    static constexpr uint8_t kNoteMarker = 5;

    uint8_t bytes[kSize];

    uint32_t word(size_t offset) const
    {
        return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
               uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
    }
    void setWord(size_t offset, uint32_t v)
    {
        for (size_t i = 0; i < 4; ++i)
            bytes[offset + i] = uint8_t(v >> (8 * i));
    }

    uint32_t id() const { return word(kIdOffset); }
    // As stored; may exceed kMaxSamples.
    uint32_t length() const { return word(kLengthOffset); }
    // Length cut to the data area.
    uint32_t usableLength() const { return length() < kMaxSamples ? length() : kMaxSamples; }
    uint32_t rate() const { return word(kRateOffset); }
    uint32_t position(size_t slot) const { return word(kPositionsOffset + 4 * (slot % kSlots)); }
    uint8_t kind(size_t slot) const { return bytes[kKindsOffset + slot % kSlots]; }
    // Sample `index` (below kMaxSamples).
    int16_t sample(uint32_t index) const
    {
        const size_t o = kSamplesOffset + 2 * size_t(index);
        return int16_t(uint16_t(bytes[o] | bytes[o + 1] << 8));
    }
};
static_assert(sizeof(DacSampleRecord) == DacSampleRecord::kSize);
static_assert(DacSampleRecord::kMaxSamples == 261792);
