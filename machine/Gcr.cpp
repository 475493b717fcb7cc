#include "machine/Gcr.h"

#include "machine/DiskImages.h"

#include <cstdarg>

const uint8_t kGcrEncode[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};

const int8_t kGcrDecode[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, 8,  0,  1,  -1, 12, 4,  5,
                               -1, -1, 2,  3,  -1, 15, 6,  7,  -1, 9,  10, 11, -1, 13, 14, -1};

namespace {

constexpr unsigned kSyncBits = 40;
constexpr unsigned kMinSyncRun = 10;  // one-bits before a 0 that mark a sync
constexpr unsigned kGapBytes = 8;
constexpr uint8_t kHeaderMark = 0x08;
constexpr uint8_t kDataMark = 0x07;
constexpr uint8_t kDiskId[2] = {0x36, 0x39};
constexpr size_t kDataGcrBytes = 325;  // 65 groups: mark, 256 bytes, checksum, two pad bytes

void appendCode(GcrBits& bits, uint8_t code)
{
    for (int b = 4; b >= 0; --b)
        bits.push_back((code >> b) & 1);
}

void logText(FILE* log, const char* format, ...) __attribute__((format(printf, 2, 3)));

void logText(FILE* log, const char* format, ...)
{
    if (!log)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
}

bool fail(FILE* log, const char* text)
{
    logText(log, "%s", text);
    return false;
}

}  // namespace

bool appendGcrBytes(GcrBits& bits, const uint8_t* bytes, size_t count)
{
    bits.reserve(bits.size() + count * 10);
    for (size_t i = 0; i < count; ++i) {
        appendCode(bits, kGcrEncode[bytes[i] >> 4]);
        appendCode(bits, kGcrEncode[bytes[i] & 0x0F]);
    }
    return true;
}

std::vector<uint8_t> packBits(const GcrBits& bits)
{
    std::vector<uint8_t> bytes(bits.size() / 8);
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t value = 0;
        for (size_t b = 0; b < 8; ++b)
            value = uint8_t(value << 1 | (bits[i * 8 + b] & 1));
        bytes[i] = value;
    }
    return bytes;
}

GcrBits unpackBits(const uint8_t* bytes, size_t count)
{
    GcrBits bits(count * 8);
    for (size_t i = 0; i < count; ++i)
        for (size_t b = 0; b < 8; ++b)
            bits[i * 8 + b] = (bytes[i] >> (7 - b)) & 1;
    return bits;
}

bool decodeGcrGroup(const uint8_t* in5, uint8_t* out4)
{
    uint64_t word = 0;
    for (int i = 0; i < 5; ++i)
        word = word << 8 | in5[i];
    bool valid = true;
    uint8_t nibbles[8];
    for (int i = 0; i < 8; ++i) {
        const int8_t nibble = kGcrDecode[(word >> (35 - 5 * i)) & 0x1F];
        valid &= nibble >= 0;
        nibbles[i] = nibble >= 0 ? uint8_t(nibble) : 15;
    }
    for (int i = 0; i < 4; ++i)
        out4[i] = uint8_t(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
    return valid;
}

bool encodeSectorGcr(GcrBits& bits, uint8_t track, uint8_t sector, const uint8_t* data256)
{
    bits.reserve(bits.size() + 2824);
    bits.insert(bits.end(), kSyncBits, 1);
    const uint8_t header[8] = {kHeaderMark, uint8_t(sector ^ track ^ kDiskId[0] ^ kDiskId[1]),
                               sector,      track,
                               kDiskId[0],  kDiskId[1],
                               0x0F,        0x0F};
    appendGcrBytes(bits, header, sizeof header);
    for (unsigned i = 0; i < kGapBytes * 8; ++i)
        bits.push_back(i & 1);
    bits.insert(bits.end(), kSyncBits, 1);
    uint8_t block[260] = {kDataMark};
    uint8_t checksum = 0;
    for (int i = 0; i < 256; ++i) {
        block[1 + i] = data256[i];
        checksum ^= data256[i];
    }
    block[257] = checksum;
    appendGcrBytes(bits, block, sizeof block);
    return true;
}

void decodeGcrTrack(GcrDecodeContext& context, const GcrBits& bits, FILE* log)
{
    // Each block is packed into one buffer reused across the track.
    std::vector<uint8_t> block;
    block.reserve(bits.size() / 8);
    size_t start = 0;
    const auto close = [&](size_t end) {
        block.resize((end - start) / 8);
        const uint8_t* from = bits.data() + start;
        for (uint8_t& byte : block) {
            uint8_t value = 0;
            for (size_t b = 0; b < 8; ++b)
                value = uint8_t(value << 1 | (from[b] & 1));
            byte = value;
            from += 8;
        }
        if (!decodeGcrBlock(context, block, log))
            context.track = context.sector = kNoHeader;
        start = end;
    };
    // A block ends before the 0 that follows a sync.
    unsigned ones = 0;
    for (size_t i = 0; i < bits.size(); ++i) {
        if (bits[i]) {
            ++ones;
            continue;
        }
        if (ones >= kMinSyncRun)
            close(i);
        ones = 0;
    }
    if (start < bits.size())
        close(bits.size());
}

bool decodeGcrBlock(GcrDecodeContext& context, const std::vector<uint8_t>& block, FILE* log)
{
    if (block.empty())
        return false;
    if (block[0] >> 4 != 5)
        return fail(log, "JUNK DATA\n");
    if (block.size() < 10)
        return fail(log, "packet NOT LONG ENOUGH ERROR\n");

    logText(log, "GCR DECODING...");
    uint8_t head[8];
    if (!decodeGcrGroup(block.data(), head) && context.strict)
        return fail(log, "ERROR\n");

    const uint8_t mark = head[0];
    if (mark == kHeaderMark) {
        if (!decodeGcrGroup(block.data() + 5, head + 4))
            return fail(log, "HEADER GCR DECODING ERROR\n");
        const uint8_t track = head[3], sector = head[2];
        if (track < 1 || track > 41 || head[1] != (sector ^ track ^ head[4] ^ head[5]))
            return fail(log, "BAD SECTOR HEADER\n");
        if (!context.disk || !context.disk->isValidTrackSector(track, sector)) {
            logText(log, "This disk type does not support track%d sector %d\n", track, sector);
            return false;
        }
        context.track = track;
        context.sector = sector;
        context.absoluteSector = context.disk->sectorIndex(track, sector);
        logText(log, "!! TRACK %d SECTOR %d (ABS %d)!!\n", track, sector,
                int(context.absoluteSector));
        return true;
    }

    if (mark == kDataMark) {
        if (block.size() < kDataGcrBytes) {
            context.track = context.sector = kNoHeader;
            logText(log, "SECTOR TOO SMALL (GCR Bytes:%d Decoded bytes:%d)\n", int(block.size()),
                    int(block.size() * 4 / 5));
            return false;
        }
        uint8_t data[260];
        bool valid = true;
        for (size_t g = 0; g < 65; ++g)
            valid &= decodeGcrGroup(block.data() + 5 * g, data + 4 * g);
        if (!valid && context.strict)
            return fail(log, "SECTOR GCR DECODING ERROR\n");
        uint8_t checksum = 0;
        for (int i = 1; i <= 256; ++i)
            checksum ^= data[i];
        if (data[0] != kDataMark || data[257] != checksum)
            return fail(log, "Sector has bad checksum!!!\n");
        if (context.track == kNoHeader || context.sector == kNoHeader)
            return fail(log, "Good Sector but unsure about the past header at all!\n");
        logText(log, "!! Good Sector !!\n");
        if (context.disk)
            context.disk->writeSector(context.track, context.sector, data + 1);
        context.decodedSectors.insert(context.absoluteSector);
        return true;
    }

    logText(log, "Unknown block %d START!\n", mark);
    return false;
}
