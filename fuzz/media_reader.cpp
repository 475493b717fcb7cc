// The tune and media reader: a file recognised by its first bytes and size (PSID/RSID, CRT, T64,
// disk images, raw cartridges, PRG), opened on a machine without ROM images and queried. Song
// starts are left to the tests' sweep: each resets the machine, which boots for many frames.

#include "fuzz/FuzzSupport.h"
#include "machine/PSIDReader.h"
#include "media/PixelCanvas.h"
#include "support/VirtualFile.h"

#include "fixtures/c64/C64Tunes.h"
#include "fixtures/c64/CrtBuilder.h"
#include "fixtures/c64/D64Builder.h"
#include "fixtures/c64/FakeMediaCallback.h"
#include "fixtures/c64/T64Builder.h"

#include <cstring>

namespace {

fuzz::Bytes withLoadAddress(uint16_t load, const fuzz::Bytes& code)
{
    fuzz::Bytes out = {uint8_t(load), uint8_t(load >> 8)};
    out.insert(out.end(), code.begin(), code.end());
    return out;
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using namespace fixtures;
    using namespace fixtures::c64_tunes;
    const Bytes basic = basicProgram(basicSidLoop());
    seeds.add("psid-v1", counterTune().version(1).songs(3, 2).bytes());
    seeds.add("psid-v2", counterTune().flags(0x94).secondSid(0x42).thirdSid(0x44).speed(2).title("T").bytes());
    seeds.add("psid-v78", counterTune().version(78).secondSid(0x42).embeddedLoad(0x1000).bytes());
    seeds.add("rsid", PsidBuilder().rsid().code(rasterTuneCode()).bytes());
    seeds.add("rsid-basic", PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0801).code(basic).bytes());
    seeds.add("prg", withLoadAddress(0x0801, basic));
    T64Entry entry;
    entry.data = basic;
    seeds.add("t64", T64Builder().entry(entry).bytes());
    seeds.add("t64-c64", T64Builder().signature("C64 tape image file").entry(entry).bytes());
    seeds.add("crt", CrtBuilder(0).chip(0, 0x8000, 0x2000, true).bytes());
    seeds.add("raw-cartridge", rawCartridge(8192));
    D64Builder d64;
    d64.addFile("FIRST", withLoadAddress(0x0801, basic));
    seeds.add("d64", d64.image());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static uint8_t red[256], green[256], blue[256];
    static uint8_t pixels[384 * 272];
    static PixelCanvas canvas{red, green, blue, 16, pixels, 272, 384, nullptr};
    static const SidAddressList sids = {0xD400, 0xD500, 0};

    fixtures::FakeMediaCallback media;
    media.recording = false;
    vantor::VirtualRAMFile file(data, size);
    PSIDReader reader(&media, "", &canvas, size & 1, &sids);
    const bool opened = reader.openMedia(&file);
    if (opened != (reader.getMachine() != nullptr))
        __builtin_trap();
    for (uint64_t song = 0; song < 2; ++song)
        for (const char* text : {reader.getTitle(song), reader.getAuthor(song), reader.getReleased(song),
                                 reader.getPlayerName(song), reader.getPlayerReference(song)})
            if (text && std::strlen(text) > 255)
                __builtin_trap();
    if (reader.getChipCount() > 4)
        __builtin_trap();
    if (const PSIDHeader* h = reader.getHeader()) {
        if (uint64_t(h->loadAddress) + reader.getDataSize() > 0x10000)
            __builtin_trap();
        (void)reader.informationText(reader.getStartSong());
    }
    return 0;
}
