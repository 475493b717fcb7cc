// The command-line host's checks of a file before the module sees it (that the readers take it
// and that something then plays: the data below $FFFF, no MUS data, a mapped cartridge type, a
// disk whose first file starts): the first byte picks the extension, the rest is the file. A
// refusal always says why; a file that passes as a tune must give its header's listing.

#include "fuzz/FuzzSupport.h"
#include "tools/c64render/InputChecks.h"

#include "fixtures/ArchiveWriters.h"
#include "fixtures/c64/CrtBuilder.h"
#include "fixtures/c64/D64Builder.h"
#include "fixtures/c64/PsidBuilder.h"
#include "fixtures/c64/T64Builder.h"

#include <iterator>

namespace {

const char* const kExtensions[] = {"sid", "SID", "prg", "t64", "d64", "d71", "d81", "g64", "crt", "bin",
                                   "vgm", "vgz", "gz",  "zip", "7z",  "mus", "vgmx", "txt"};
constexpr size_t kExtensionCount = std::size(kExtensions);

fuzz::Bytes withExtension(size_t index, const fuzz::Bytes& file)
{
    fuzz::Bytes input{uint8_t(index)};
    input.insert(input.end(), file.begin(), file.end());
    return input;
}

size_t indexOf(const char* extension)
{
    for (size_t i = 0; i < kExtensionCount; ++i)
        if (std::string(kExtensions[i]) == extension)
            return i;
    return 0;
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    seeds.add("psid", withExtension(indexOf("sid"), fixtures::PsidBuilder().title("Seed").songs(3, 2).code({0x60, 0x60}).bytes()));
    seeds.add("rsid", withExtension(indexOf("sid"), fixtures::PsidBuilder().rsid().code({0x60}).bytes()));
    seeds.add("d64", withExtension(indexOf("d64"), fixtures::D64Builder().image()));
    fixtures::D64Builder starts, elsewhere;
    starts.addFile("LOADER", {0x01, 0x08, 0x00, 0x00, 0x60});
    elsewhere.addFile("TUNE", {0x00, 0xC0, 0x60});
    seeds.add("d64-starts", withExtension(indexOf("d64"), starts.image()));
    seeds.add("d71-elsewhere", withExtension(indexOf("d71"), elsewhere.image()));
    seeds.add("crt", withExtension(indexOf("crt"), fixtures::CrtBuilder().chip(0, 0x8000, 0x2000).bytes()));
    seeds.add("crt-unmapped", withExtension(indexOf("crt"), fixtures::CrtBuilder(36).chip(0, 0x8000, 0x2000).bytes()));
    seeds.add("psid-mus", withExtension(indexOf("sid"), fixtures::PsidBuilder().init(0).play(0).flags(1).code({0x60, 0x60}).bytes()));
    fixtures::Bytes high = {0x00, 0xF0};
    high.resize(4098, 0xEA);
    seeds.add("prg-high", withExtension(indexOf("prg"), high));
    seeds.add("t64", withExtension(indexOf("t64"), fixtures::T64Builder().bytes()));
    seeds.add("zip", withExtension(indexOf("zip"), fixtures::makeZip({{"a.vgm", "Vgm ", true}, {"b.sid", "PSID", false}})));
    seeds.add("gz", withExtension(indexOf("vgz"), fixtures::makeGzip("Vgm \x00\x00\x00\x00")));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* extension = kExtensions[data[0] % kExtensionCount];
    const std::string path = fuzz::writeScratch(std::string("input.") + extension, data + 1, size - 1);
    InputFile file;
    std::string reason;
    const bool taken = checkInputFile(path, file, reason);
    if (!taken && reason.empty())
        __builtin_trap();  // a refusal always says why
    if (file.hasTune && tuneListing(file.tune).empty())
        __builtin_trap();
    return 0;
}
