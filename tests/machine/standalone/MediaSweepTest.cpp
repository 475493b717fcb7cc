// Every kind of file the tune reader takes, cut short and with bits flipped, through open, the
// queries and (every 32nd) a song start and a run, on a machine with the tests' mini KERNAL; and
// signature files mangled the same way through the player database. Runs alone: the ROM set and
// the player database are loaded once per process.
#include "../ReaderTestSupport.h"

#include "fixtures/TempDir.h"
#include "fixtures/c64/C64Tunes.h"
#include "fixtures/c64/CrtBuilder.h"
#include "fixtures/c64/D64Builder.h"
#include "fixtures/c64/T64Builder.h"
#include "machine/DiskImages.h"
#include "machine/G64File.h"
#include "machine/SidId.h"
#include "platform/PlatformTools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

using namespace reader_test;
using namespace fixtures::c64_tunes;
using fixtures::CrtBuilder;
using fixtures::D64Builder;
using fixtures::PsidBuilder;

constexpr uint32_t kSeed = 0x5EED34;
constexpr size_t kFlips = 500;
constexpr size_t kSpreadLengths = 64;

constexpr const char* kCfg =
    "Counter_Player\n"
    "EE 40 10 AD AND 9D 00 D4 END\n"
    "A9 ?? 8D 18 D4 END\n"
    "\n"
    "Gap_Player\n"
    "78 AND 58 4C END\n";
constexpr const char* kNfo =
    "Counter_Player\n"
    "     NAME: Counting Player\n"
    "   AUTHOR: Test Writer\n"
    "  COMMENT: counts\n"
    "           and stores\n"
    "\n"
    "Gap_Player\n"
    "REFERENCE: none\n";

Bytes readBytes(const std::string& path)
{
    const std::string text = fixtures::readFile(path);
    return Bytes(text.begin(), text.end());
}

Bytes prefixed(uint16_t load, const Bytes& code)
{
    Bytes out(code.size() + 2);
    out[0] = uint8_t(load);
    out[1] = uint8_t(load >> 8);
    std::copy(code.begin(), code.end(), out.begin() + 2);
    return out;
}

// The folder every machine of this process is built with: the mini KERNAL and the signatures.
const fixtures::TempDir& dataFolder()
{
    static fixtures::TempDir dir;
    static const bool written = [] {
        dir.write("kernal.rom", fixtures::readFile(std::string(MACHINE_TEST_PROGRAM_DIR) + "/mini_kernal.bin"));
        dir.write("sidid.cfg", kCfg);
        dir.write("sidid.nfo", kNfo);
        return true;
    }();
    (void)written;
    return dir;
}

struct Seed {
    std::string name;
    Bytes bytes;
    std::vector<size_t> hot;  // where flips land besides the first 256 bytes
};

Bytes g64Image(const fixtures::TempDir& dir)
{
    const Bytes image = D64Builder::distinctSectors();
    vantor::VirtualRAMFile source(image.data(), image.size());
    D64File disk(&source);
    G64Builder builder;
    for (unsigned track : {1u, 18u}) {
        GcrBits bits;
        disk.encodeTrack(track, bits);
        builder.storeHalfTrackBits(bits, 2 * (track - 1));
    }
    EXPECT_TRUE(builder.writeG64(dir / "disk.g64"));
    return readBytes(dir / "disk.g64");
}

std::vector<Seed> seeds(const fixtures::TempDir& scratch)
{
    std::vector<Seed> out;
    const Bytes basic = basicProgram(basicSidLoop());
    out.push_back({"PSID v1", counterTune().version(1).songs(3, 2).bytes(), {}});
    out.push_back({"PSID v2", counterTune().flags(0x94).secondSid(0x42).thirdSid(0x44).speed(2).bytes(), {}});
    out.push_back({"PSID v78", counterTune().version(78).secondSid(0x42).embeddedLoad(0x1000).bytes(), {}});
    out.push_back({"RSID", PsidBuilder().rsid().code(rasterTuneCode()).bytes(), {}});
    out.push_back({"BASIC RSID", PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0801).code(basic).bytes(), {}});
    out.push_back({"PRG", prefixed(0x0801, basic), {}});
    fixtures::T64Entry entry;
    entry.data = basic;
    out.push_back({"T64", fixtures::T64Builder().entry(entry).bytes(), {}});
    out.push_back({"CRT 0", CrtBuilder(0).chip(0, 0x8000, 0x2000, true).bytes(), {}});
    CrtBuilder ocean(5);
    for (uint16_t bank = 0; bank < 4; ++bank)
        ocean.chip(bank, 0x8000, 0x2000, bank == 0);
    out.push_back({"CRT 5", ocean.bytes(), {ocean.packetOffset(2)}});
    CrtBuilder flash(32);
    flash.chip(0, 0x8000, 0x2000, true).chip(0, 0xA000, 0x2000).chip(1, 0x8000, 0x2000);
    out.push_back({"CRT 32", flash.bytes(), {flash.packetOffset(1), flash.packetOffset(2)}});
    out.push_back({"raw cartridge", fixtures::rawCartridge(8192), {}});
    D64Builder d64;
    d64.addFile("FIRST", prefixed(0x0801, basic));
    d64.addFile("SECOND", prefixed(0xC000, Bytes(300, 0xEA)));
    const size_t header = D64Builder::sectorIndex(18, 0) * 256;
    out.push_back({"D64", d64.image(), {header, header + 256, 256 * D64Builder::sectorIndex(1, 0)}});
    out.push_back({"D81", Bytes(819200, 0), {0x61800}});
    out.push_back({"G64", g64Image(scratch), {}});
    return out;
}

void checkReader(PSIDReader& reader, const std::string& what)
{
    for (uint64_t song = 0; song < 2; ++song) {
        (void)reader.getSongCount();
        (void)reader.getStartSong();
        for (const char* text : {reader.getTitle(song), reader.getAuthor(song), reader.getReleased(song),
                                 reader.getPlayerName(song), reader.getPlayerReference(song)})
            if (text)
                (void)std::strlen(text);
    }
    EXPECT_LE(reader.getChipCount(), 4u) << what;
    (void)reader.isTuneReady();
    if (const PSIDHeader* h = reader.getHeader()) {
        EXPECT_LE(std::strlen(h->title), 31u) << what;
        EXPECT_LE(uint64_t(h->loadAddress) + reader.getDataSize(), 0x10000u) << what;
        EXPECT_EQ(reader.getDataSize() == 0 || reader.getTuneBuffer() != nullptr, true) << what;
        (void)reader.informationText(0);
    }
}

TEST(MediaSweep, EveryFormatCutAndFlipped)
{
    const std::string folder = dataFolder().path();
    fixtures::TempDir scratch;
    std::mt19937 rng(kSeed);
    size_t runs = 0, opened = 0, started = 0;
    for (const Seed& seed : seeds(scratch)) {
        ReaderRig whole(folder);
        ASSERT_TRUE(whole.open(seed.bytes)) << seed.name;

        // Cuts of the first 256 bytes, cuts spread over the rest, then flips of 1-8 bits.
        const size_t cuts = std::min<size_t>(256, seed.bytes.size());
        const size_t spread = seed.bytes.size() > 256 ? kSpreadLengths : 0;
        Bytes b;
        for (size_t v = 0; v < cuts + spread + kFlips; ++v) {
            if (v < cuts) {
                b.assign(seed.bytes.begin(), seed.bytes.begin() + long(v));
            } else if (v < cuts + spread) {
                const size_t n = 256 + (seed.bytes.size() - 256) * (v - cuts + 1) / (kSpreadLengths + 1);
                b.assign(seed.bytes.begin(), seed.bytes.begin() + long(n));
            } else {
                b = seed.bytes;
                for (size_t k = 1 + rng() % 8; k > 0; --k) {
                    const size_t region = rng() % (seed.hot.size() + 1);
                    const size_t base = region == 0 ? 0 : seed.hot[region - 1];
                    b[(base + rng() % 256) % b.size()] ^= uint8_t(1u << (rng() % 8));
                }
            }
            const std::string what = seed.name + " variant " + std::to_string(v) + " (seed " + std::to_string(kSeed) + ")";
            SCOPED_TRACE(what);
            ReaderRig rig(folder);
            rig.media.recording = false;
            const bool ok = rig.open(b);
            opened += ok;
            EXPECT_EQ(rig.reader->getMachine() != nullptr, ok);
            checkReader(*rig.reader, what);
            if (++runs % 32 == 0 && ok) {
                started += rig.reader->selectSong(rig.reader->getStartSong());
                for (uint64_t done = 0; done < 50000;)
                    done += rig.reader->advanceTicks(50000 - done, 985248.0);
                checkReader(*rig.reader, what);
            }
            if (HasFatalFailure())
                return;
        }
    }
    EXPECT_GT(opened, runs / 2);
    EXPECT_GT(started, 0u);
}

TEST(MediaSweep, SignatureFilesCutAndFlipped)
{
    std::mt19937 rng(kSeed + 1);
    Bytes data = counterTuneCode();
    const Bytes gap = {0x78, 0x00, 0x58, 0x4C};
    data.insert(data.end(), gap.begin(), gap.end());
    const std::string cfg = kCfg, nfo = kNfo;
    for (size_t v = 0; v < 2 * (cfg.size() + nfo.size()) + kFlips; ++v) {
        std::string c = cfg, n = nfo;
        if (v < cfg.size()) {
            c.resize(v);
        } else if (v < cfg.size() + nfo.size()) {
            n.resize(v - cfg.size());
        } else {
            std::string& text = rng() % 2 ? c : n;
            for (size_t k = 1 + rng() % 8; k > 0; --k)
                text[rng() % text.size()] ^= char(1u << (rng() % 8));
        }
        SCOPED_TRACE("variant " + std::to_string(v) + " (seed " + std::to_string(kSeed + 1) + ")");
        std::vector<std::string> cfgLines, nfoLines;
        textInternalizeRAM(c, cfgLines, false);
        textInternalizeRAM(n, nfoLines, false);
        SidIdDatabase db;
        loadSidIdDatabase(db, cfgLines, nfoLines);
        for (const auto& [id, player] : db.players) {
            EXPECT_FALSE(player.signatures.empty()) << id;
            EXPECT_FALSE(player.name.empty()) << id;
            for (const SidIdSignature& s : player.signatures) {
                ASSERT_FALSE(s.empty());
                EXPECT_LE(s.front(), 255u);
                EXPECT_NE(s.back(), kSidIdGap);
            }
        }
        (void)findSidIdPlayer(db, data.data(), data.size());
    }
}

}  // namespace
