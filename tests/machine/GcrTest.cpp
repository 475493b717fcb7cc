// GCR coding: the 4-to-5 code, bit packing, sector encoding, block and track decoding.
#include "machine/Gcr.h"

#include "MemoryStream.h"
#include "fixtures/c64/D64Builder.h"
#include "machine/DiskImages.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using Bytes = std::vector<uint8_t>;

namespace {

std::string bitText(const GcrBits& bits)
{
    std::string text;
    for (const uint8_t b : bits)
        text += char('0' + b);
    return text;
}

Bytes gcrOf(const Bytes& plain)
{
    GcrBits bits;
    appendGcrBytes(bits, plain.data(), plain.size());
    return packBits(bits);
}

Bytes headerBlock(uint8_t track, uint8_t sector, uint8_t checksumError = 0)
{
    return gcrOf({0x08, uint8_t(sector ^ track ^ 0x36 ^ 0x39 ^ checksumError), sector, track, 0x36,
                  0x39, 0x0F, 0x0F});
}

Bytes sectorData(uint8_t seed)
{
    Bytes data(256);
    for (int i = 0; i < 256; ++i)
        data[i] = uint8_t(seed + i * 13);
    return data;
}

Bytes dataBlock(const Bytes& data, uint8_t mark = 0x07, uint8_t checksumError = 0)
{
    Bytes plain{mark};
    uint8_t checksum = 0;
    for (const uint8_t b : data) {
        plain.push_back(b);
        checksum ^= b;
    }
    plain.push_back(uint8_t(checksum ^ checksumError));
    plain.push_back(0);
    plain.push_back(0);
    return gcrOf(plain);
}

Bytes prefix(const Bytes& bytes, size_t count) { return Bytes(bytes.begin(), bytes.begin() + count); }

}  // namespace

TEST(Gcr, CodesOfZeroAndFF)
{
    const uint8_t zero = 0x00, ones = 0xFF;
    GcrBits bits;
    EXPECT_TRUE(appendGcrBytes(bits, &zero, 1));
    EXPECT_EQ(bitText(bits), "0101001010");
    bits.clear();
    appendGcrBytes(bits, &ones, 1);
    EXPECT_EQ(bitText(bits), "1010110101");
}

TEST(Gcr, TableAndInverseAgree)
{
    int validCodes = 0;
    for (int code = 0; code < 32; ++code)
        if (kGcrDecode[code] >= 0) {
            ++validCodes;
            EXPECT_EQ(kGcrEncode[kGcrDecode[code]], code);
        }
    EXPECT_EQ(validCodes, 16);
    // Runs across code boundaries: at most two zeros (clock recovery) and at most eight ones,
    // so data never looks like a sync of ten.
    int leadingOnes = 0, trailingOnes = 0;
    for (int n = 0; n < 16; ++n) {
        const uint8_t code = kGcrEncode[n];
        EXPECT_NE(code & 0x18, 0) << n;
        EXPECT_NE(code & 0x03, 0) << n;
        int lead = 0, trail = 0;
        while (lead < 5 && (code >> (4 - lead)) & 1)
            ++lead;
        while (trail < 5 && (code >> trail) & 1)
            ++trail;
        leadingOnes = std::max(leadingOnes, lead);
        trailingOnes = std::max(trailingOnes, trail);
    }
    EXPECT_LE(leadingOnes + trailingOnes, 8);
}

TEST(Gcr, EveryByteSurvivesAGroupRoundTrip)
{
    Bytes plain(256);
    for (int i = 0; i < 256; ++i)
        plain[i] = uint8_t(i);
    const Bytes gcr = gcrOf(plain);
    ASSERT_EQ(gcr.size(), 320u);
    Bytes decoded(256);
    for (size_t g = 0; g < 64; ++g)
        EXPECT_TRUE(decodeGcrGroup(gcr.data() + 5 * g, decoded.data() + 4 * g));
    EXPECT_EQ(decoded, plain);
}

TEST(Gcr, DecodeGroupFlagsInvalidCodes)
{
    const uint8_t zeros[5] = {0x52, 0x94, 0xA5, 0x29, 0x4A};
    uint8_t out[4] = {1, 2, 3, 4};
    EXPECT_TRUE(decodeGcrGroup(zeros, out));
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0, 0, 0, 0}));

    const uint8_t invalid[5] = {};
    EXPECT_FALSE(decodeGcrGroup(invalid, out));
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));

    // One bad code among good ones: the rest still decode.
    const Bytes good = gcrOf({0x12, 0x34, 0x56, 0x78});
    Bytes bad = good;
    bad[4] &= 0xE0;  // last code 00000
    EXPECT_FALSE(decodeGcrGroup(bad.data(), out));
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x12, 0x34, 0x56, 0x7F}));
}

TEST(Gcr, PackAndUnpackBits)
{
    EXPECT_EQ(bitText(unpackBits(Bytes{0xA5, 0x01}.data(), 2)), "1010010100000001");
    const GcrBits twelve = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 1, 1};
    EXPECT_EQ(packBits(twelve), Bytes{0xA5});
    EXPECT_TRUE(packBits(GcrBits(7, 1)).empty());
}

TEST(Gcr, SectorEncodingLayout)
{
    const Bytes data = sectorData(3);
    GcrBits bits = {1, 0};  // appended after what is there
    EXPECT_TRUE(encodeSectorGcr(bits, 18, 5, data.data()));
    ASSERT_EQ(bits.size(), 2u + 2824);
    const GcrBits sector(bits.begin() + 2, bits.end());
    EXPECT_EQ(bitText(GcrBits(sector.begin(), sector.begin() + 41)), std::string(40, '1') + "0");

    const Bytes packed = packBits(sector);  // 2824 bits = 353 bytes
    ASSERT_EQ(packed.size(), 353u);
    EXPECT_EQ(Bytes(packed.begin() + 5, packed.begin() + 15), headerBlock(18, 5));
    EXPECT_EQ(Bytes(packed.begin() + 15, packed.begin() + 23), Bytes(8, 0x55));  // gap
    EXPECT_EQ(Bytes(packed.begin() + 23, packed.begin() + 28), Bytes(5, 0xFF));  // sync
    EXPECT_EQ(Bytes(packed.begin() + 28, packed.end()), dataBlock(data));
}

TEST(Gcr, DecodeBlockResultsAndLogTexts)
{
    const Bytes data = sectorData(0x40);
    Bytes bad = dataBlock(data);
    bad[100] = 0;  // two invalid codes
    Bytes badHeader = headerBlock(18, 3);
    badHeader[7] = 0;

    constexpr uint64_t kNone = kNoHeader;
    struct Row
    {
        const char* what;
        Bytes block;
        uint64_t track, sector;  // context before the block
        uint8_t strict;
        bool ok;
        const char* log;
        int64_t written;  // sector number that received data, or -1
    } const kRows[] = {
        {"no bytes", {}, 18, 0, 0, false, "", -1},
        {"junk", {0x12, 0x52, 0x94, 0xA5, 0x29, 0x4A, 0x52, 0x94, 0xA5, 0x29}, 18, 0, 0, false, "JUNK DATA\n", -1},
        {"short", prefix(headerBlock(18, 0), 9), 18, 0, 0, false,
         "packet NOT LONG ENOUGH ERROR\n", -1},
        {"track 0", headerBlock(0, 0), kNone, kNone, 0, false, "GCR DECODING...BAD SECTOR HEADER\n", -1},
        {"track 42", headerBlock(42, 0), kNone, kNone, 0, false, "GCR DECODING...BAD SECTOR HEADER\n", -1},
        {"header checksum", headerBlock(18, 0, 0x01), kNone, kNone, 0, false,
         "GCR DECODING...BAD SECTOR HEADER\n", -1},
        {"no such sector", headerBlock(18, 19), kNone, kNone, 0, false,
         "GCR DECODING...This disk type does not support track18 sector 19\n", -1},
        {"header codes", badHeader, kNone, kNone, 0, false, "GCR DECODING...HEADER GCR DECODING ERROR\n", -1},
        {"good header", headerBlock(18, 0), kNone, kNone, 0, true,
         "GCR DECODING...!! TRACK 18 SECTOR 0 (ABS 357)!!\n", -1},
        {"small data", prefix(dataBlock(data), 300), 18, 0, 0, false,
         "GCR DECODING...SECTOR TOO SMALL (GCR Bytes:300 Decoded bytes:240)\n", -1},
        {"data checksum", dataBlock(data, 0x07, 0x80), 18, 0, 0, false,
         "GCR DECODING...Sector has bad checksum!!!\n", -1},
        {"no header", dataBlock(data), kNone, kNone, 0, false,
         "GCR DECODING...Good Sector but unsure about the past header at all!\n", -1},
        {"mark 3", dataBlock(data, 0x03), 18, 0, 0, false, "GCR DECODING...Unknown block 3 START!\n", -1},
        {"good data", dataBlock(data), 18, 0, 0, true, "GCR DECODING...!! Good Sector !!\n", 357},
        {"fresh context", dataBlock(data), 0, 0, 0, true, "GCR DECODING...!! Good Sector !!\n", 0},
        {"bad codes, lenient", bad, 18, 0, 0, false, "GCR DECODING...Sector has bad checksum!!!\n", -1},
        {"bad codes, strict", bad, 18, 0, 1, false, "GCR DECODING...SECTOR GCR DECODING ERROR\n", -1},
        {"bad mark codes, strict", Bytes(10, 0x50), 18, 0, 1, false, "GCR DECODING...ERROR\n", -1},
    };
    for (const Row& row : kRows) {
        D64File disk(nullptr);
        GcrDecodeContext context;
        context.disk = &disk;
        context.track = row.track;
        context.sector = row.sector;
        context.absoluteSector = row.track == 18 ? 357 : 0;
        context.strict = row.strict;
        MemoryStream log;
        EXPECT_EQ(decodeGcrBlock(context, row.block, log.file()), row.ok) << row.what;
        EXPECT_EQ(log.text(), row.log) << row.what;
        EXPECT_EQ(decodeGcrBlock(context, row.block, nullptr), row.ok) << row.what << " without a log";

        for (uint64_t i = 0; i < disk.sectorCount(); ++i)
            ASSERT_EQ(disk.isSectorValid(i), int64_t(i) == row.written) << row.what << " sector " << i;
        if (row.written >= 0) {
            EXPECT_EQ(0, memcmp(disk.image().data() + row.written * 256, data.data(), 256)) << row.what;
            EXPECT_EQ(context.decodedSectors, std::set<uint64_t>{uint64_t(row.written)}) << row.what;
        } else {
            EXPECT_TRUE(context.decodedSectors.empty()) << row.what;
        }
    }
}

TEST(Gcr, HeaderSetsAndShortDataForgetsThePlace)
{
    D64File disk(nullptr);
    GcrDecodeContext context;
    context.disk = &disk;
    ASSERT_TRUE(decodeGcrBlock(context, headerBlock(35, 16), nullptr));
    EXPECT_EQ(context.track, 35u);
    EXPECT_EQ(context.sector, 16u);
    EXPECT_EQ(context.absoluteSector, 682u);
    EXPECT_FALSE(decodeGcrBlock(context, prefix(dataBlock(sectorData(1)), 324), nullptr));
    EXPECT_EQ(context.track, kNoHeader);
    EXPECT_EQ(context.sector, kNoHeader);
}

TEST(Gcr, WholeDiskRoundTrip)
{
    const Bytes source = fixtures::D64Builder::distinctSectors();
    vantor::VirtualRAMFile file(source.data(), source.size());
    D64File original(&file);
    D64File decoded(nullptr);
    GcrDecodeContext context;
    context.disk = &decoded;
    for (uint64_t track = 1; track <= 35; ++track) {
        GcrBits bits;
        EXPECT_TRUE(original.encodeTrack(track, bits));
        EXPECT_EQ(bits.size(), CBMDOS::sectorsOnTrack1541(track) * 2824) << track;
        decodeGcrTrack(context, bits, nullptr);
    }
    for (uint64_t i = 0; i < 683; ++i)
        ASSERT_TRUE(decoded.isSectorValid(i)) << i;
    EXPECT_EQ(decoded.image(), source);
    EXPECT_EQ(context.decodedSectors.size(), 683u);

    MemoryStream report;
    EXPECT_TRUE(original.checkGcrRoundTrip(report.file()));
    const std::string text = report.text();
    EXPECT_NE(text.find("!! TRACK 35 SECTOR 16 (ABS 682)!!\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("Total valid DOS sectors 683/683\n"));
    EXPECT_EQ(original.image(), source);
}

TEST(Gcr, TrackWithABadHeaderLosesOnlyThatSector)
{
    const Bytes source = fixtures::D64Builder::distinctSectors();
    vantor::VirtualRAMFile file(source.data(), source.size());
    D64File original(&file);
    GcrBits bits;
    original.encodeTrack(18, bits);
    // Sector 3's header track byte: flipping a bit breaks its checksum (or its code).
    bits[3 * 2824 + 40 + 31] ^= 1;

    D64File decoded(nullptr);
    GcrDecodeContext context;
    context.disk = &decoded;
    MemoryStream log;
    decodeGcrTrack(context, bits, log.file());
    EXPECT_EQ(context.decodedSectors.size(), 18u);
    EXPECT_FALSE(decoded.isSectorValid(357 + 3));
    // Sector 3's data went nowhere, in particular not over sector 2.
    EXPECT_EQ(0, memcmp(decoded.image().data() + 359 * 256, source.data() + 359 * 256, 256));
    EXPECT_NE(log.text().find("Good Sector but unsure about the past header at all!\n"), std::string::npos);
}

TEST(Gcr, SectorsOutsideTheImageEncodeAsZeros)
{
    Bytes source(174848, 0xFF);
    vantor::VirtualRAMFile file(source.data(), source.size());
    D64File disk(&file);
    const Bytes zeros(256, 0);
    for (const uint64_t track : {0u, 36u, 41u}) {
        GcrBits bits, want;
        EXPECT_TRUE(disk.encodeTrack(track, bits));
        for (uint64_t s = 0; s < CBMDOS::sectorsOnTrack1541(track); ++s)
            encodeSectorGcr(want, uint8_t(track), uint8_t(s), zeros.data());
        EXPECT_EQ(bits, want) << track;
    }
    EXPECT_EQ(CBMDOS::sectorsOnTrack1541(0), 21u);
    EXPECT_EQ(CBMDOS::sectorsOnTrack1541(36), 17u);
}
