// The archive container over a file (gzip read through stdio, 7z through libarchive's file
// reader, zip through minizip).

#include "fuzz/ArchiveInput.h"

void fuzzSeeds(fuzz::Seeds& seeds) { fuzz::archiveSeeds(seeds); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Bytes archive = fuzz::archiveOf(data, size);
    vantor::MetaContainer container(fuzz::writeScratch("archive.bin", archive.data(), archive.size()));
    fuzz::readWholeArchive(container);
    return 0;
}
