#pragma once
// The PSID/RSID tune header as it sits at the start of a tune buffer, every multi-byte field
// already in host byte order. Version 1 headers end at flags (their data begins at 0x76).

#include <cstdint>

#pragma pack(push, 1)
struct PSIDHeader {
    char magic[4];  // "PSID" or "RSID"
    uint16_t version;
    uint16_t dataOffset;
    uint16_t loadAddress;
    uint16_t initAddress;
    uint16_t playAddress;  // 0: the tune plays from its own interrupts
    uint16_t songs;
    uint16_t startSong;  // from 1
    uint32_t speed;      // bit n set: song n + 1 uses CIA timing
    char title[32];
    char author[32];
    char released[32];
    // Version 2 and later.
    uint16_t flags;
    uint8_t startPage;
    uint8_t pageLength;
    uint8_t secondSid;  // address $D000 + byte x 16
    uint8_t thirdSid;   // version 78: SID 2's model in bits 4-5
};
#pragma pack(pop)
static_assert(sizeof(PSIDHeader) == 0x7C);

namespace psid {

inline constexpr uint16_t kFlagMus = 0x0001;
inline constexpr uint16_t kFlagBasic = 0x0002;
inline constexpr uint16_t kFlagWrappedProgram = 0x8000;  // set by the reader for programs
inline constexpr uint16_t kVersionFourSids = 78;
inline constexpr uint16_t kClockPal = 1, kClockNtsc = 2, kClockBoth = 3;

inline bool isRsid(const PSIDHeader& h)
{
    return h.magic[0] == 'R' && h.magic[1] == 'S' && h.magic[2] == 'I' && h.magic[3] == 'D';
}

// An extra SID address byte (may be computed past 0xFF): even, in $42-$7E or $E0-$FE.
inline constexpr bool isValidExtraSid(uint32_t b)
{
    return (b & 1) == 0 && ((b >= 0x42 && b <= 0x7E) || (b >= 0xE0 && b <= 0xFE));
}

// Address bytes of SIDs 2, 3 and 4 (0 when the header has none): version 78 places them at the
// second byte, + 2 and + 4; versions 2 and later have a second and a third; version 1 none.
struct ExtraSids {
    uint32_t bytes[3] = {0, 0, 0};
};
inline ExtraSids extraSids(const PSIDHeader& h)
{
    ExtraSids s;
    if (h.version < 2)
        return s;
    s.bytes[0] = h.secondSid;
    if (h.version == kVersionFourSids) {
        s.bytes[1] = h.secondSid + 2u;
        s.bytes[2] = h.secondSid + 4u;
    } else {
        s.bytes[1] = h.thirdSid;
    }
    return s;
}

}  // namespace psid
