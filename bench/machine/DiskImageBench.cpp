// Opening disk images: a full D64 (144 directory entries, every block used) constructed, scanned
// and listed as the "$" program; a G64 with all 84 half-tracks scanned (each decoded).
#include "fixtures/TempDir.h"
#include "fixtures/c64/D64Builder.h"
#include "machine/DirectoryListing.h"
#include "machine/DiskImages.h"
#include "machine/G64File.h"
#include "support/VirtualFile.h"

#include <benchmark/benchmark.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fullD64()
{
    fixtures::D64Builder builder;
    builder.name("FULL DISK").id('F', 'D').allocateInBam();
    // 664 blocks over 144 files: 88 of 5 blocks, 56 of 4.
    for (int i = 0; i < 144; ++i) {
        const size_t blocks = i < 88 ? 5 : 4;
        builder.addFile("FILE " + std::to_string(i), Bytes(blocks * 254, uint8_t(i)));
    }
    return builder.image();
}

Bytes fullG64()
{
    const Bytes image = fixtures::D64Builder::distinctSectors(11);
    vantor::VirtualRAMFile source(image.data(), image.size());
    D64File disk(&source);
    G64Builder builder;
    for (size_t half = 0; half < 84; ++half) {
        GcrBits bits;
        disk.encodeTrack(half / 2 + 1, bits);
        builder.storeHalfTrackBits(bits, half);
    }
    fixtures::TempDir dir;
    builder.writeG64(dir / "full.g64");
    const std::string text = fixtures::readFile(dir / "full.g64");
    return Bytes(text.begin(), text.end());
}

void BM_D64OpenAndList(benchmark::State& state)
{
    const Bytes bytes = fullD64();
    size_t files = 0;
    for (auto _ : state) {
        vantor::VirtualRAMFile source(bytes.data(), bytes.size());
        D64File disk(&source);
        disk.scan();
        DiskFileEntry listing;
        buildDirectoryListing(&disk, listing);
        files = disk.files.size();
        benchmark::DoNotOptimize(listing.bytes.data());
    }
    state.counters["files"] = double(files);
    state.counters["opens/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_D64OpenAndList)->Unit(benchmark::kMillisecond);

void BM_G64Scan(benchmark::State& state)
{
    const Bytes bytes = fullG64();
    bool decoded = false;
    for (auto _ : state) {
        vantor::VirtualRAMFile source(bytes.data(), bytes.size());
        G64File file(&source);
        file.scan();
        decoded = file.hasDecodedSectors;
        benchmark::DoNotOptimize(file.tracks.data());
    }
    state.counters["decoded"] = decoded;
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_G64Scan)->Unit(benchmark::kMillisecond);

}  // namespace
