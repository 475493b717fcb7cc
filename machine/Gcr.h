#pragma once
// Group code recording as a 1541 writes it: each nibble becomes a 5-bit code, blocks start
// after a sync of one-bits, a sector is a header block and a data block.
// Bit streams are byte vectors with one element (0 or 1) per bit, most significant bit first.

#include <cstdint>
#include <cstdio>
#include <set>
#include <vector>

namespace CBMDOS {
class File;
}

using GcrBits = std::vector<uint8_t>;

// Nibble to 5-bit code.
extern const uint8_t kGcrEncode[16];
// 5-bit code to nibble; -1 for the 16 codes that no nibble has.
extern const int8_t kGcrDecode[32];

// Appends each byte as the codes of its high and low nibble (10 bits per byte).
bool appendGcrBytes(GcrBits& bits, const uint8_t* bytes, size_t count);
// 8 bits per byte; a final group of fewer than 8 bits is dropped.
std::vector<uint8_t> packBits(const GcrBits& bits);
GcrBits unpackBits(const uint8_t* bytes, size_t count);
// Eight 5-bit codes from 5 bytes into 4 bytes; false when any code is invalid (it decodes as 15).
bool decodeGcrGroup(const uint8_t* in5, uint8_t* out4);
// Sync, header block, gap, sync and data block of one sector: 2824 bits.
bool encodeSectorGcr(GcrBits& bits, uint8_t track, uint8_t sector, const uint8_t* data256);

constexpr uint64_t kNoHeader = ~uint64_t(0);

// Decoder state across the blocks of one track.
struct GcrDecodeContext
{
    uint64_t track = 0;  // of the last good header; kNoHeader when none is valid
    uint64_t sector = 0;
    uint64_t absoluteSector = 0;
    uint8_t strict = 0;                // invalid codes fail a block
    CBMDOS::File* disk = nullptr;      // receives the good sectors
    std::set<uint64_t> decodedSectors; // absolute numbers received
};

// Cuts the stream into blocks at each sync and decodes them; a failed block forgets the header.
void decodeGcrTrack(GcrDecodeContext& context, const GcrBits& bits, FILE* log);
// One block from its first byte after a sync (the next sync's one-bits may trail it).
bool decodeGcrBlock(GcrDecodeContext& context, const std::vector<uint8_t>& block, FILE* log);
