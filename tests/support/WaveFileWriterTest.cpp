#include "support/WaveFileWriter.h"

#include "TreeDump.h"
#include "fixtures/TempDir.h"
#include "support/IFFTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t le32(const Bytes& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
uint16_t le16(const Bytes& b, size_t at)
{
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}
std::string tag(const Bytes& b, size_t at)
{
    return std::string(reinterpret_cast<const char*>(&b.at(at)), 4);
}
uint32_t fourCC(const char* s)
{
    uint32_t v;
    std::memcpy(&v, s, 4);
    return v;
}

// The file as the chunk tree reader sees it.
std::string treeOf(const std::string& path)
{
    vantor::IFFTree tree(path);
    testing::internal::CaptureStdout();
    const bool loaded = tree.load(3);
    const std::string printed = testing::internal::GetCapturedStdout();
    return loaded ? dumpTree(tree) : "not loaded: " + printed;
}

// Checks the fixed header and the data chunk at the end; returns the file.
Bytes readBytes(const std::string& path)
{
    const std::string s = fixtures::readFile(path);
    return Bytes(s.begin(), s.end());
}

Bytes expectWave(const std::string& path, size_t dataBytes)
{
    const Bytes b = readBytes(path);
    EXPECT_GE(b.size(), 44u);
    if (b.size() < 44)
        return b;
    EXPECT_EQ(tag(b, 0), "RIFF");
    EXPECT_EQ(le32(b, 4), b.size() - 8);
    EXPECT_EQ(tag(b, 8), "WAVE");
    EXPECT_EQ(tag(b, 12), "fmt ");
    EXPECT_EQ(le32(b, 16), 16u);
    const size_t data = b.size() - dataBytes - 8;
    EXPECT_EQ(tag(b, data), "data");
    EXPECT_EQ(le32(b, data + 4), dataBytes);
    return b;
}

TEST(WaveFileWriter, FormatFromBeginData)
{
    const struct { uint32_t rate, channels, bits, isFloat; uint16_t tag, align; uint32_t perSecond; }
        kCases[] = {
            {44100, 2, 16, 0, 1, 4, 176400}, {48000, 1, 24, 0, 1, 3, 144000},
            {44100, 1, 32, 1, 3, 4, 176400}, {44100, 2, 32, 0, 1, 8, 352800},
            {22050, 1, 4, 0, 17, 0, 0},      {8000, 1, 8, 1, 1, 1, 8000},
        };
    for (const auto& c : kCases) {
        fixtures::TempDir dir;
        const std::string p = dir / "fmt.wav";
        {
            WaveFileWriter w(p);
            ASSERT_TRUE(w.isOpen());
            EXPECT_EQ(w.beginData(c.rate, c.channels, c.bits, c.isFloat), 1u);
        }
        const Bytes b = expectWave(p, 0);
        ASSERT_EQ(b.size(), 44u) << c.bits;
        EXPECT_EQ(le32(b, 4), 36u);
        EXPECT_EQ(le16(b, 20), c.tag) << c.bits;
        EXPECT_EQ(le16(b, 22), c.channels);
        EXPECT_EQ(le32(b, 24), c.rate);
        EXPECT_EQ(le32(b, 28), c.perSecond) << c.bits;
        EXPECT_EQ(le16(b, 32), c.align) << c.bits;
        EXPECT_EQ(le16(b, 34), c.bits);
        EXPECT_EQ(treeOf(p), "RIFF(WAVE)@0+36[fmt @12+16,data@36+0]");
    }
}

TEST(WaveFileWriter, PlaceholderUntilFinalized)
{
    fixtures::TempDir dir;
    const std::string p = dir / "placeholder.wav";
    WaveFileWriter w(p);
    w.beginData(44100, 1, 16, 0);
    std::fflush(nullptr);
    const Bytes b = readBytes(p);
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(b[0], 0xFF);
    for (size_t i = 1; i < 36; ++i)
        EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(le32(b, 40), 0xFFFFFFFFu);
    EXPECT_TRUE(w.finalize());
    EXPECT_EQ(le32(readBytes(p), 4), 36u);
}

TEST(WaveFileWriter, RawChunkAndInfoSizes)
{
    fixtures::TempDir dir;
    const std::string p = dir / "chunks.wav";
    {
        WaveFileWriter w(p.c_str());
        EXPECT_TRUE(w.writeChunk(fourCC("abcd"), 5, "12345"));
        EXPECT_TRUE(w.writeInfo(0, "abcd"));
        EXPECT_TRUE(w.writeInfo(0, "abcde"));
        EXPECT_FALSE(w.writeInfo(1, "abcd"));  // undefined kind: nothing written
        EXPECT_FALSE(w.writeChunk(fourCC("nope"), 3, nullptr));
        EXPECT_TRUE(w.writeSamplerLoop(60, 100, 200));
        EXPECT_EQ(w.beginData(44100, 1, 16, 0), 1u);
    }
    const Bytes b = expectWave(p, 0);
    size_t at = 36;
    EXPECT_EQ(tag(b, at), "abcd");
    EXPECT_EQ(le32(b, at + 4), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at + 8]), 5), "12345");
    EXPECT_EQ(b[at + 13], 0);
    at += 14;
    for (const char* text : {"abcd", "abcde"}) {
        EXPECT_EQ(tag(b, at), "LIST");
        EXPECT_EQ(le32(b, at + 4), 18u);
        EXPECT_EQ(tag(b, at + 8), "INFO");
        EXPECT_EQ(tag(b, at + 12), "ICOP");
        EXPECT_EQ(le32(b, at + 16), 6u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at + 20])), text);
        at += 26;
    }
    EXPECT_EQ(tag(b, at), "smpl");
    EXPECT_EQ(le32(b, at + 4), 60u);
    EXPECT_EQ(le32(b, at + 8 + 12), 60u);   // unity note
    EXPECT_EQ(le32(b, at + 8 + 28), 1u);    // loops
    EXPECT_EQ(le32(b, at + 8 + 44), 100u);  // loop start
    EXPECT_EQ(le32(b, at + 8 + 48), 200u);  // loop end
    at += 68;
    EXPECT_EQ(tag(b, at), "data");
    EXPECT_EQ(treeOf(p), "RIFF(WAVE)@0+170[fmt @12+16,abcd@36+6,LIST(INFO)@50+18[ICOP@62+6],"
                         "LIST(INFO)@76+18[ICOP@88+6],smpl@102+60,data@170+0]");
}

TEST(WaveFileWriter, Cues)
{
    fixtures::TempDir dir;
    const std::string empty = dir / "cues0.wav", two = dir / "cues2.wav";
    {
        WaveFileWriter w(empty);
        EXPECT_TRUE(w.writeCues({}));
    }
    Bytes b = expectWave(empty, 0);
    EXPECT_EQ(tag(b, 36), "cue ");
    EXPECT_EQ(le32(b, 40), 4u);
    EXPECT_EQ(le32(b, 44), 0u);
    EXPECT_EQ(tag(b, 48), "LIST");
    EXPECT_EQ(le32(b, 52), 4u);
    EXPECT_EQ(tag(b, 56), "adtl");
    EXPECT_EQ(treeOf(empty), "RIFF(WAVE)@0+60[fmt @12+16,cue @36+4,LIST(adtl)@48+4,data@60+0]");

    {
        WaveFileWriter w(two);
        EXPECT_TRUE(w.writeCues({{10, 5, "ab"}, {20, 7, "abc"}}));
        w.beginData(44100, 1, 16, 0);
    }
    b = expectWave(two, 0);
    EXPECT_EQ(le32(b, 40), 52u);
    EXPECT_EQ(le32(b, 44), 2u);
    EXPECT_EQ(le32(b, 48), 1u);  // first point: id, position, "data", 0, 0, position
    EXPECT_EQ(le32(b, 52), 10u);
    EXPECT_EQ(tag(b, 56), "data");
    EXPECT_EQ(le32(b, 68), 10u);
    const size_t list = 36 + 60;
    EXPECT_EQ(tag(b, list), "LIST");
    EXPECT_EQ(le32(b, list + 4), 90u);
    EXPECT_EQ(tag(b, list + 8), "adtl");
    EXPECT_EQ(tag(b, list + 12), "ltxt");
    EXPECT_EQ(le32(b, list + 16), 20u);
    EXPECT_EQ(le32(b, list + 24), 5u);
    EXPECT_EQ(tag(b, list + 28), "rgn ");
    const size_t labl = list + 12 + 2 * 28;
    EXPECT_EQ(tag(b, labl), "labl");
    EXPECT_EQ(le32(b, labl + 4), 6u);
    EXPECT_EQ(le32(b, labl + 8), 1u);
    EXPECT_EQ(tag(b, labl + 14), "labl");
    EXPECT_EQ(le32(b, labl + 18), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[labl + 26])), "abc");
    EXPECT_EQ(labl + 30, list + 8 + 90);
    EXPECT_EQ(treeOf(two), "RIFF(WAVE)@0+194[fmt @12+16,cue @36+52,LIST(adtl)@96+90[ltxt@108+20,"
                           "ltxt@136+20,labl@164+6,labl@178+8],data@194+0]");
}

TEST(WaveFileWriter, ChunkWritersRefuseAfterBeginData)
{
    fixtures::TempDir dir;
    const std::string p = dir / "late.wav";
    WaveFileWriter w(p);
    EXPECT_EQ(w.beginData(44100, 2, 16, 0), 1u);
    const uint8_t header[36] = {}, loop[24] = {};
    EXPECT_FALSE(w.writeChunk(fourCC("abcd"), 2, "xy"));
    EXPECT_FALSE(w.writeSampler(header, loop));
    EXPECT_FALSE(w.writeSamplerLoop(1, 2, 3));
    EXPECT_FALSE(w.writeInfo(0, "x"));
    EXPECT_FALSE(w.writeCues({{1, 2, "x"}}));
    EXPECT_EQ(w.beginData(48000, 1, 8, 0), 0u);
    EXPECT_TRUE(w.finalize());
    const Bytes b = expectWave(p, 0);
    EXPECT_EQ(b.size(), 44u);
    EXPECT_EQ(le32(b, 24), 44100u);
    EXPECT_EQ(treeOf(p), "RIFF(WAVE)@0+36[fmt @12+16,data@36+0]");
}

TEST(WaveFileWriter, NoDataChunkGivesEmptyWave)
{
    fixtures::TempDir dir;
    const std::string p = dir / "nodata.wav";
    {
        WaveFileWriter w(p);
        const uint8_t header[36] = {}, loop[24] = {};
        EXPECT_FALSE(w.writeSampler(nullptr, loop));
        EXPECT_TRUE(w.writeSampler(header, loop));
        EXPECT_EQ(w.writeSamples("ab", 2), 0u);  // before beginData
        EXPECT_EQ(w.writeInterleavedStereo("ab", "cd", 1), 0u);
    }
    const Bytes b = expectWave(p, 0);
    EXPECT_EQ(b.size(), 44u + 68u);
    EXPECT_EQ(le16(b, 20), 1u);  // default format: PCM mono 44100 16 bits
    EXPECT_EQ(le32(b, 28), 88200u);
    EXPECT_EQ(treeOf(p), "RIFF(WAVE)@0+104[fmt @12+16,smpl@36+60,data@104+0]");
}

TEST(WaveFileWriter, SamplesAndInterleavedStereo)
{
    fixtures::TempDir dir;
    const std::string p = dir / "samples.wav";
    {
        WaveFileWriter w(p);
        w.beginData(44100, 2, 16, 0);
        EXPECT_EQ(w.writeSamples("\x01\x02\x03", 3), 3u);
        const int16_t left[3] = {1, 2, 3}, right[3] = {-1, -2, -3};
        EXPECT_EQ(w.writeInterleavedStereo(left, right, 3), 3u);
        EXPECT_TRUE(w.finalize());
        EXPECT_EQ(w.writeSamples("x", 1), 0u);  // the header is complete
    }
    const Bytes b = expectWave(p, 15);  // odd size, no pad byte
    const Bytes want = {1, 2, 3, 1, 0, 0xFF, 0xFF, 2, 0, 0xFE, 0xFF, 3, 0, 0xFD, 0xFF};
    EXPECT_EQ(Bytes(b.end() - 15, b.end()), want);
    // The reader rounds the odd size up; the missing pad byte leaves the data out of reach.
    EXPECT_EQ(treeOf(p), "RIFF(WAVE)@0+52[fmt @12+16,data@36+16]");
}

TEST(WaveFileWriter, NoStream)
{
    for (WaveFileWriter* w : {new WaveFileWriter(static_cast<const char*>(nullptr)),
                              new WaveFileWriter(std::string()),
                              new WaveFileWriter(static_cast<FILE*>(nullptr)),
                              new WaveFileWriter("/nonexistent-folder/x.wav")}) {
        EXPECT_FALSE(w->isOpen());
        EXPECT_FALSE(w->writeChunk(fourCC("abcd"), 2, "xy"));
        EXPECT_FALSE(w->writeInfo(0, "x"));
        EXPECT_FALSE(w->writeCues({}));
        EXPECT_FALSE(w->writeSamplerLoop(1, 2, 3));
        EXPECT_FALSE(w->writeU32(1));
        EXPECT_EQ(w->beginData(44100, 1, 16, 0), 0u);
        EXPECT_EQ(w->writeSamples("x", 1), 0u);
        EXPECT_FALSE(w->finalize());
        delete w;
    }
}

TEST(WaveFileWriter, CallersStreamStaysOpen)
{
    fixtures::TempDir dir;
    const std::string p = dir / "callers.wav";
    FILE* f = std::fopen(p.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    {
        WaveFileWriter w(f);
        w.beginData(8000, 1, 8, 0);
        w.writeSamples("abcd", 4);
    }
    EXPECT_EQ(std::fputc('!', f), '!');  // still open, positioned after the header
    std::fclose(f);
    const Bytes b = readBytes(p);
    ASSERT_EQ(b.size(), 48u);
    EXPECT_EQ(b[36], '!');
}

TEST(WaveFileWriter, FullDeviceReportsFailure)
{
    WaveFileWriter w("/dev/full");
    if (!w.isOpen())
        GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(w.beginData(44100, 2, 16, 0), 1u);  // still in the stream's buffer
    const std::vector<uint8_t> block(1 << 16);
    EXPECT_LT(w.writeSamples(block.data(), block.size()), block.size());
    EXPECT_FALSE(w.finalize());
}

TEST(WaveFileWriter, SizesStopAtFourGiB)
{
    // A sparse file positioned just below 4 GiB stands in for gigabytes of samples.
    fixtures::TempDir dir;
    const std::string p = dir / "big.wav";
    FILE* f = std::fopen(p.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    {
        WaveFileWriter w(f);
        ASSERT_EQ(fseeko(f, 0xFFFFFFF0, SEEK_SET), 0);
        EXPECT_FALSE(w.writeChunk(fourCC("abcd"), 16, "0123456789abcdef"));
        EXPECT_TRUE(w.writeChunk(fourCC("abcd"), 6, "012345"));  // up to 0xFFFFFFFE
        EXPECT_EQ(w.beginData(44100, 1, 16, 0), 1u);
        const char block[64] = {};
        EXPECT_EQ(w.writeSamples(block, 64), 1u);  // RIFF size reaches 0xFFFFFFFF
        EXPECT_EQ(w.writeSamples(block, 64), 0u);
        EXPECT_TRUE(w.finalize());
    }
    uint8_t header[8] = {};
    ASSERT_EQ(fseeko(f, 0, SEEK_SET), 0);
    ASSERT_EQ(std::fread(header, 1, 8, f), 8u);
    EXPECT_EQ(le32(Bytes(header, header + 8), 4), 0xFFFFFFFFu);
    ASSERT_EQ(fseeko(f, 0xFFFFFFFEll + 4, SEEK_SET), 0);
    ASSERT_EQ(std::fread(header, 1, 4, f), 4u);
    EXPECT_EQ(le32(Bytes(header, header + 4), 0), 1u);
    std::fclose(f);
    struct stat st{};
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), 0xFFFFFFFFull + 8);
}

}  // namespace
