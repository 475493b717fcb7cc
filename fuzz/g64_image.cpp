// G64 images: the header, every half-track's bounds and its GCR decoding, with the decoder's
// log written, and the (empty) directory listing.

#include "fuzz/FuzzSupport.h"
#include "machine/DirectoryListing.h"
#include "machine/DiskImages.h"
#include "machine/G64File.h"
#include "support/VirtualFile.h"

#include "fixtures/c64/D64Builder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

fuzz::Bytes written(G64Builder& builder)
{
    const std::string path = fuzz::scratchFolder() + "/seed.g64";
    if (!builder.writeG64(path))
        abort();
    std::ifstream in(path, std::ios::binary);
    return fuzz::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    fixtures::D64Builder disk;
    disk.name("G64").addFile("PROGRAM", fuzz::Bytes(300, 0x55));
    const fuzz::Bytes image = disk.image();
    vantor::VirtualRAMFile source(image.data(), image.size());
    D64File d64(&source);
    // The first sectors of a track only: whole tracks make inputs of 7 KB that decode slowly.
    const auto encoded = [&](uint64_t track, size_t sectors) {
        GcrBits bits;
        d64.encodeTrack(track, bits);
        bits.resize(sectors * 2824);
        return bits;
    };

    G64Builder directory;  // track 18 at half-track 34, a bare sync at 70
    directory.storeHalfTrackBits(encoded(18, 3), 34);
    directory.storeHalfTrackBits(GcrBits(16, 1), 70);
    seeds.add("track-18", written(directory));

    G64Builder three;
    for (const uint64_t track : {1, 18, 35})
        three.storeHalfTrackBits(encoded(track, 2), 2 * (track - 1));
    seeds.add("tracks-1-18-35", written(three));

    // One sector's header and data block, then a damaged copy of it.
    GcrBits sector;
    const fuzz::Bytes data(256, 0x12);
    encodeSectorGcr(sector, 18, 0, data.data());
    GcrBits damaged = sector;
    for (size_t i = 600; i < 700; ++i)
        damaged[i] ^= 1;
    sector.insert(sector.end(), damaged.begin(), damaged.end());
    G64Builder one;
    one.storeHalfTrackBits(sector, 34);
    seeds.add("one-sector", written(one));

    G64Builder none;
    none.header[9] = 0;
    seeds.add("no-half-tracks", written(none));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FILE* const log = fopen("/dev/null", "w");
    vantor::VirtualRAMFile source(data, size);
    G64File image(&source);
    image.setDecodeLog(log);
    if (image.scan()) {
        if (image.tracks.size() > G64::kMaxHalfTracks)
            __builtin_trap();
        const uint8_t* begin = image.fileData.data();
        for (const G64File::Track& track : image.tracks)
            if (track.data && (track.data < begin + 2 || track.data + track.length > begin + image.fileData.size()))
                __builtin_trap();
    }
    DiskFileEntry listing;
    if (!buildDirectoryListing(&image, listing) || listing.bytes.size() != 64 + 32 * image.files.size())
        __builtin_trap();
    return 0;
}
