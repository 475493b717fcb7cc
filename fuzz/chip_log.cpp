// Chip-log importers and log archives, each over a song already holding a chip: a failed import
// must leave it as it was. A mode byte comes first: bit 0 recomputes a 7z's checksums (as the
// archive harnesses do); bits 1-2 pick the reader: a YM file in a one-member container, a raw
// OPL capture, a register dump, or an archive of songs with its texts and picture.

#include "fuzz/ArchiveInput.h"
#include "media/VGMX.h"

#include "fixtures/ChipLogWriters.h"
#include "tests/media/VGMXTestSupport.h"

namespace {

enum Reader : uint8_t { kYm, kDro, kDump, kCollection };

void addSeed(fuzz::Seeds& seeds, const std::string& name, Reader reader, const fuzz::Bytes& bytes)
{
    const bool sevenZip = bytes.size() > 2 && bytes[0] == '7' && bytes[1] == 'z';
    fuzz::Bytes input{uint8_t(reader << 1 | (sevenZip ? 1 : 0))};
    input.insert(input.end(), bytes.begin(), bytes.end());
    seeds.add(name, input);
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using namespace fixtures;
    YmFile ym3;
    ym3.tag = "YM3!";
    ym3.frames = 12;
    addSeed(seeds, "ym3.gz", kYm, makeGzip(asString(makeYm(ym3))));
    YmFile ym5;
    ym5.frames = 20;
    ym5.loopFrame = 10;
    ym5.digidrums = {"abc"};
    ym5.extraHeader = "xy";
    addSeed(seeds, "ym5.zip", kYm, makeZip({{"tune.ym", asString(makeYm(ym5))}}));
    YmFile ym4;
    ym4.tag = "YM4!";
    ym4.frames = 6;
    ym4.digidrums = {"d1", "d22"};
    addSeed(seeds, "ym4.7z", kYm, make7z({{"tune.ym", asString(makeYm(ym4))}}, "copy"));
    YmFile ym3b;
    ym3b.tag = "YM3b";
    ym3b.frames = 8;
    ym3b.loopFrame = 5;
    addSeed(seeds, "ym3b.gz", kYm, makeGzip(asString(makeYm(ym3b))));

    DroV1 v1;
    v1.commands = {0x00, 0x09, 0x01, 0x10, 0x00, 0x02, 0x20, 0x3F, 0x03, 0x04, 0x05, 0x07};
    addSeed(seeds, "opl-v1", kDro, makeDroV1(v1));
    v1.lengthFirst = false;
    v1.hardwareAs32Bits = true;
    addSeed(seeds, "opl-v1-short-header", kDro, makeDroV1(v1));
    DroV2 v2;
    v2.codeMap = {0x20, 0x40};
    v2.pairs = {{0x7D, 0x09}, {0x81, 0x33}, {0x7E, 0x01}, {0x00, 0x11}, {0x05, 0x01}};
    addSeed(seeds, "opl-v2", kDro, makeDroV2(v2));

    addSeed(seeds, "dump", kDump, makeRegisterDump({{0, 0x10, 0x20}, {300, 0x11, 0x22}, {7, 0x12, 0}}));

    const std::string picture = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(20, '\x07');
    addSeed(seeds, "collection.zip", kCollection,
            makeZip({{"a.vgm", "song a"}, {"notes.txt", "Notes"}, {"c.vgz", "song c", false},
                     {"list.m3u", "a.vgm\nc.vgz\n"}, {"cover.png", picture}, {"d.gz", "song d"}}));
    addSeed(seeds, "collection.7z", kCollection, make7z({{"x.txt", "t"}, {"s.vgz", "seven"}}, "copy"));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const fuzz::Bytes bytes = fuzz::archiveOf(data, size);
    VGM::VGMX log;
    vgmxtest::fillSentinel(log);
    bool imported = true;
    switch (Reader((data[0] >> 1) & 3)) {
    case kYm: imported = log.importYmFromMemory(bytes.data(), bytes.size(), "tune.ym"); break;
    case kDro: imported = log.importDroFromMemory(bytes.data(), bytes.size()); break;
    case kDump: imported = log.importRegisterDumpFromMemory(bytes.data(), bytes.size()); break;
    case kCollection:
        log.scanArchive(fuzz::writeScratch("songs.zip", bytes.data(), bytes.size()));
        for (uint64_t n = 0; n < log.getSongCount(); ++n)
            log.loadSong(n);
        break;
    }
    if (!imported && !vgmxtest::isSentinel(log))
        __builtin_trap();
    return 0;
}
