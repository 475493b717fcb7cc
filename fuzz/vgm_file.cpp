// VGM logs with their data blocks and PCM chips: the bytes read from memory, read as a stream
// that cannot seek backwards (the reader's windowed path), and loaded as a file in memory that
// may be a VGZ (gzip) or another archive.

#include "fuzz/FuzzSupport.h"
#include "media/VGMX.h"
#include "support/VirtualFile.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/VgmBuilder.h"

#include <memory>

void fuzzSeeds(fuzz::Seeds& seeds)
{
    for (const fixtures::NamedLog& log : fixtures::sampleVgmLogs()) {
        seeds.add(log.name + ".vgm", log.bytes);
        seeds.add(log.name + ".vgz", fixtures::makeGzip(std::string(log.bytes.begin(), log.bytes.end())));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One log for every run: its chip records keep their event room between reads, as fresh
    // 8 MiB reservations under the sanitizer cost milliseconds each.
    static const auto log = std::make_unique<VGM::VGMX>();
    vantor::VirtualRAMFile memory(data, size);
    VGM::readVgm(*log, memory, true);
    fixtures::ForwardOnlyFile stream(data, size);
    VGM::readVgm(*log, stream, false);
    log->loadFromMemory(data, size);
    return 0;
}
