// Every load of a cut or bit-flipped chip log answers true or false, reads and writes only what
// it has (the sanitizer build checks), allocates nothing sized by an announced count beyond the
// data, and a failed load leaves the song that was there.
#include "fixtures/AllocationCounter.h"

#include "media/VGMX.h"

#include "../VGMXTestSupport.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/ChipLogWriters.h"
#include "fixtures/TempDir.h"
#include "fixtures/VgmBuilder.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string_view>
#include <string>

using VGM::VGMX;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// Every chip record reserves 8 MiB, which the sanitizer poisons and unpoisons on each load.
constexpr size_t kLengthStep = 8;
constexpr size_t kSeededFlips = 256;
#else
constexpr size_t kLengthStep = 1;
constexpr size_t kSeededFlips = 0;  // every bit
#endif

constexpr size_t kReservation = VGM::VGMXChip::kReservedEvents * sizeof(VGMXEvent);

#if !defined(__SANITIZE_ADDRESS__)
// Keeps the freed chip reservations in the heap instead of handing them back to the kernel after
// every load, which would cost more than the loads.
const bool g_heapKept = mallopt(M_MMAP_THRESHOLD, 32 << 20) && mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif

// Loads the bytes of one file into the log.
using Loader = std::function<bool(VGMX&, const std::string& bytes)>;

std::string bytesOf(const fixtures::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// What a load must leave: by default, after a failure, the song that was there.
using Check = std::function<void(const VGMX& log, bool loaded, uint64_t songBefore)>;

// Cuts at every kLengthStep-th length and flips every bit (or kSeededFlips seeded ones), with
// `wrap` turning the mutated bytes into the file. All variants load into one log, so that each
// meets the song the one before left.
void sweep(VGMX& log, const std::string& name, const std::string& bytes, const Loader& load,
           const std::function<std::string(const std::string&)>& wrap = {}, const Check& check = {})
{
    SCOPED_TRACE(name + " (" + std::to_string(bytes.size()) + " bytes)");
    ASSERT_LT(bytes.size(), 1024u);
    auto file = [&](const std::string& variant) { return wrap ? wrap(variant) : variant; };
    vgmxtest::fillSentinel(log);
    ASSERT_TRUE(load(log, file(bytes)));
    fixtures::resetLargestAllocation();
    auto loadVariant = [&](const std::string& variant, const char* what, size_t detail) {
        SCOPED_TRACE(std::string(what) + " " + std::to_string(detail));
        const uint64_t before = vgmxtest::songFingerprint(log);
        const bool loaded = load(log, file(variant));
        if (check) {
            check(log, loaded, before);
        } else if (!loaded) {
            EXPECT_EQ(vgmxtest::songFingerprint(log), before);
        }
        for (uint64_t n = 0; n < log.songEntries.size(); ++n)
            log.loadSong(n);
    };
    // One length in kLengthStep, through every remainder.
    for (size_t k = 0; k * kLengthStep < bytes.size(); ++k) {
        const size_t length = k * kLengthStep + k % kLengthStep;
        if (length < bytes.size())
            loadVariant(bytes.substr(0, length), "length", length);
    }
    const size_t bits = bytes.size() * 8;
    std::mt19937 random(uint32_t(bytes.size()));
    const size_t flips = kSeededFlips ? kSeededFlips : bits;
    for (size_t i = 0; i < flips; ++i) {
        const size_t bit = kSeededFlips ? random() % bits : i;
        std::string variant = bytes;
        variant[bit / 8] = char(variant[bit / 8] ^ (1 << (bit % 8)));
        loadVariant(variant, "bit", bit);
    }
    EXPECT_LE(fixtures::largestAllocation(), kReservation);
}

// The same into a log of its own.
void sweep(const std::string& name, const std::string& bytes, const Loader& load,
           const std::function<std::string(const std::string&)>& wrap = {}, const Check& check = {})
{
    VGMX log;
    sweep(log, name, bytes, load, wrap, check);
}

const uint8_t* data(const std::string& bytes)
{
    return reinterpret_cast<const uint8_t*>(bytes.data());
}

const Loader kText = [](VGMX& log, const std::string& bytes) {
    vantor::VirtualRAMFile stream(data(bytes), bytes.size());
    return log.loadXmlStream(&stream);
};
const Loader kYm = [](VGMX& log, const std::string& bytes) {
    return log.importYmFromMemory(data(bytes), bytes.size(), "x.ym");
};
const Loader kDro = [](VGMX& log, const std::string& bytes) {
    return log.importDroFromMemory(data(bytes), bytes.size());
};
const Loader kDump = [](VGMX& log, const std::string& bytes) {
    return log.importRegisterDumpFromMemory(data(bytes), bytes.size());
};
// Archives are opened by path: each variant is a new file, removed after the load (rewriting
// one file in place makes some file systems flush it every time).
Loader fileLoader(const fixtures::TempDir& dir, const std::string& file)
{
    return [&dir, file, count = 0](VGMX& log, const std::string& bytes) mutable {
        const std::string name = dir / (std::to_string(count++) + file);
        std::ofstream(name, std::ios::binary) << bytes;
        const bool loaded = log.open(name);
        std::remove(name.c_str());
        return loaded;
    };
}

std::string vgmxText()
{
    // One chip made (each costs the sanitizer build a reservation per load); the other two
    // elements are refused or join it.
    return fixtures::VgmxDocument()
        .chip({{"id", "1"}, {"type", "6581"}, {"clock", "985248"}, {"rate", "50"}})
        .write(24, 15, 1)
        .event('W', {{"hr", "0x04"}, {"bv", "00010001"}, {"dt", "882"}, {"p", "1"}})
        .event('D', {{"dt", "4294967296"}})
        .chip({{"type", "FOO"}, {"clock", "7670453"}})
        .event('R', {{"r", "300"}, {"hv", "FF"}})
        .chip({{"type", "SID"}, {"clock", "1"}})
        .event('I', {{"v", "-1"}})
        .text();
}

std::string ymMember()
{
    fixtures::YmFile ym;
    ym.tag = "YM5!";
    ym.frames = 8;
    ym.loopFrame = 3;
    ym.digidrums = {"abc"};
    ym.extraHeader = "xy";
    return fixtures::asString(fixtures::makeYm(ym));
}

std::string droV1()
{
    return fixtures::asString(fixtures::makeDroV1(
        {.commands = {0x00, 0x09, 0x01, 0x10, 0x00, 0x02, 0x20, 0x3F, 0x03, 0x04, 0x05, 0x07, 0xB0, 0x20}}));
}

std::string droV2()
{
    return fixtures::asString(fixtures::makeDroV2(
        {.codeMap = {0x20, 0x40, 0xB0},
         .pairs = {{0x7D, 0x09}, {0x81, 0x33}, {0x7E, 0x01}, {0x00, 0x11}, {0x02, 0x20}, {0x05, 0x01}}}));
}

std::string registerDump()
{
    return fixtures::asString(fixtures::makeRegisterDump({{0, 0x10, 0x20}, {300, 0x11, 0x22}, {5, 0x12, 0x33}}));
}

std::string collection()
{
    return bytesOf(fixtures::makeZip({{"a.vgm", "Vgm song", false},
                                      {"notes.txt", "Notes"},
                                      {"c.vgz", "song c"},
                                      {"list.m3u", "a.vgm\n"},
                                      {"cover.png", "\x89PNG picture"}}));
}

}  // namespace

TEST(VGMXBadInput, VgmxText)
{
    sweep("VGMX text", vgmxText(), kText);
}

TEST(VGMXBadInput, YmInContainers)
{
    const std::string member = ymMember();
    fixtures::TempDir dir;
    sweep("YM in gzip", bytesOf(fixtures::makeGzip(member)), kYm);
    sweep("YM in zip", bytesOf(fixtures::makeZip({{"x.ym", member}})), fileLoader(dir, "x.ym"));
    sweep("YM member in gzip", member, kYm, [](const std::string& m) { return bytesOf(fixtures::makeGzip(m)); });
    sweep("YM3b member in gzip", fixtures::asString(fixtures::makeYm({.tag = "YM3b", .frames = 5, .loopFrame = 2})),
          kYm, [](const std::string& m) { return bytesOf(fixtures::makeGzip(m)); });
}

TEST(VGMXBadInput, RawOplAndRegisterDumps)
{
    sweep("raw OPL v1", droV1(), kDro);
    sweep("raw OPL v2", droV2(), kDro);
    sweep("register dump", registerDump(), kDump);
}

TEST(VGMXBadInput, ZipCollection)
{
    fixtures::TempDir dir;
    sweep("zip collection", collection(), fileLoader(dir, "x.zip"));
}

// A zip entry announcing 300 MiB over 320 KB of incompressible data passes the container's
// compression-ratio check; it must still not be extracted.
TEST(VGMXBadInput, EntriesAbove256MiBAreNotExtracted)
{
    constexpr uint32_t kAnnounced = 300u << 20;
    auto bigZip = [&](const std::string& name) {
        std::string data(320 * 1024, '\0');
        std::mt19937 random(7);
        for (char& c : data)
            c = char(random());
        fixtures::Bytes zip = fixtures::makeZip({{name, data}});
        const fixtures::ZipEnd end = fixtures::zipEnd(zip);
        const size_t central = fixtures::little32(zip, end.record + fixtures::ZipEnd::kDirectoryOffset);
        fixtures::putLittle(zip, 22, kAnnounced, 4);           // local header
        fixtures::putLittle(zip, central + 24, kAnnounced, 4);  // central directory
        return bytesOf(zip);
    };
    fixtures::TempDir dir;
    fixtures::resetLargestAllocation();

    VGMX collection;
    vgmxtest::fillSentinel(collection);
    ASSERT_TRUE(collection.scanArchive(dir.write("songs.zip", bigZip("big.vgm"))));
    ASSERT_EQ(collection.songEntries.at(0).size, kAnnounced);
    collection.loadSong(0);
    EXPECT_EQ(collection.song.loaded, 0);
    EXPECT_EQ(collection.song.chips.size(), 1u);

    VGMX texts;
    EXPECT_FALSE(texts.scanArchive(dir.write("notes.zip", bigZip("notes.txt"))));
    EXPECT_EQ(texts.notesText(), nullptr);
    EXPECT_FALSE(texts.scanArchive(dir.write("image.zip", bigZip("cover.png"))));
    EXPECT_TRUE(texts.image.empty());

    VGMX ym;
    EXPECT_FALSE(ym.importYm(dir.write("big.ym", bigZip("big.ym"))));
    EXPECT_TRUE(ym.song.chips.empty());

    VGMX vgm;
    EXPECT_FALSE(vgm.open(dir.write("big.vgm", bigZip("big.vgm"))));
    EXPECT_EQ(vgm.message, "VGM: marker not found\n");
    const std::string inMemory = bigZip("big.vgm");
    EXPECT_FALSE(vgm.loadFromMemory(reinterpret_cast<const uint8_t*>(inMemory.data()), inMemory.size()));
    EXPECT_TRUE(vgm.song.chips.empty());

    EXPECT_LE(fixtures::largestAllocation(), kReservation);
}

// ---- VGM logs ----

namespace {

bool isHex(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

// One line of the reader's diagnostics, without its line feed.
bool isVgmMessage(std::string_view line)
{
    static const std::set<std::string_view> kFixed = {
        "VGM: File too short", "VGM: marker not found", "cannot seek backwards",
        "Treating this last opcode as the end", "data block not at end", "data block busting protection",
        "pcm ram block not at end", "no chips used?", "TotalLength!=sampleCount", "longest>sampleCount",
        "OPN2 Data needed but no PCM data in file?"};
    if (kFixed.contains(line))
        return true;
    constexpr std::string_view kVersion = "VGM: bad version ";
    if (line.starts_with(kVersion) && line.ends_with(' ')) {
        const std::string_view digits = line.substr(kVersion.size(), line.size() - kVersion.size() - 1);
        return digits.size() >= 4 && digits.size() <= 8 && isHex(digits);
    }
    constexpr std::string_view kOpcode = " UNKNOWN OPCODE 0x";
    return line.size() == 8 + kOpcode.size() + 2 + 13 && isHex(line.substr(0, 8)) &&
           line.substr(8, kOpcode.size()) == kOpcode && isHex(line.substr(8 + kOpcode.size(), 2)) &&
           (line.ends_with(", advancing 0") || line.ends_with(", advancing 1"));
}

// A read succeeds with a whole song (every chip ending at the same time), or fails leaving either
// the song that was there or one that is not loaded; every message is one of the reader's.
void checkVgm(const VGMX& log, bool loaded, uint64_t songBefore)
{
    if (!log.message.empty()) {
        EXPECT_EQ(log.message.back(), '\n') << log.message;
    }
    size_t start = 0;
    for (size_t end; (end = log.message.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_TRUE(isVgmMessage(std::string_view(log.message).substr(start, end - start))) << log.message;
    if (loaded) {
        EXPECT_EQ(log.song.loaded, 1);
        ASSERT_FALSE(log.song.chips.empty());
        const uint64_t total = log.song.chips.begin()->second.total;
        for (const auto& [kind, chip] : log.song.chips) {
            EXPECT_GT(chip.events.size(), 3u) << kind;
            EXPECT_EQ(chip.total, total) << kind;
            EXPECT_EQ(vgmxtest::sumOfDt(chip), total) << kind;
        }
    } else if (vgmxtest::songFingerprint(log) != songBefore) {
        EXPECT_EQ(log.song.loaded, 0);
    }
}

// The bytes copied to the end of a readable area that an unreadable page follows: a read past
// them faults, in every build.
const uint8_t* guarded(const std::string& bytes)
{
    static const size_t kPage = size_t(sysconf(_SC_PAGESIZE));
    static constexpr size_t kReadable = 64 * 1024;
    static uint8_t* const area = [] {
        void* p = mmap(nullptr, kReadable + kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED || mprotect(static_cast<uint8_t*>(p) + kReadable, kPage, PROT_NONE) != 0)
            std::abort();
        return static_cast<uint8_t*>(p);
    }();
    if (bytes.size() > kReadable)
        std::abort();
    uint8_t* start = area + kReadable - bytes.size();
    std::copy(bytes.begin(), bytes.end(), start);
    return start;
}

const Loader kVgm = [](VGMX& log, const std::string& bytes) {
    vantor::VirtualRAMFile source(guarded(bytes), bytes.size());
    return VGM::readVgm(log, source, true);
};
// Through the reader's windowed path; without the tag, which this source cannot give.
const Loader kVgmStream = [](VGMX& log, const std::string& bytes) {
    fixtures::ForwardOnlyFile source(guarded(bytes), bytes.size());
    return VGM::readVgm(log, source, false);
};
const Loader kVgz = [](VGMX& log, const std::string& bytes) { return log.loadFromMemory(guarded(bytes), bytes.size()); };

std::string gzipped(const std::string& member)
{
    return bytesOf(fixtures::makeGzip(member));
}

// Plain, through the stream path, as the member of a VGZ and as the VGZ's own bytes. One log
// takes every read, so that its chip records are reserved once (the sanitizer makes each fresh
// reservation cost milliseconds).
void sweepVgm(VGMX& into, const std::string& name, const std::string& log)
{
    sweep(into, name, log, kVgm, {}, checkVgm);
    sweep(into, name + " as a stream", log, kVgmStream, {}, checkVgm);
    sweep(into, name + " in a VGZ", log, kVgz, gzipped, checkVgm);
    const std::string vgz = gzipped(log);
    if (vgz.size() < 1024)
        sweep(into, name + " VGZ bytes", vgz, kVgz, {}, checkVgm);
}

}  // namespace

TEST(VGMFileBadInput, SampleLogs)
{
    // Every chip of the header, a tag and a loop, each block type, each PCM chip.
    VGMX into;
    for (const fixtures::NamedLog& log : fixtures::sampleVgmLogs())
        sweepVgm(into, log.name, std::string(log.bytes.begin(), log.bytes.end()));
}
