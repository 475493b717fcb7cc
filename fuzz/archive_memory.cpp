// The archive container over bytes in memory (a zip goes through its temporary copy).

#include "fuzz/ArchiveInput.h"

void fuzzSeeds(fuzz::Seeds& seeds) { fuzz::archiveSeeds(seeds); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Bytes archive = fuzz::archiveOf(data, size);
    vantor::MetaContainer container(archive.data(), archive.size());
    fuzz::readWholeArchive(container);
    return 0;
}
