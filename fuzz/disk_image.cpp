// D64, D71 and D81 sector images: the header, the directory walk, every file chain and the
// directory listing. A mode byte comes first: bits 0-1 the kind (0 and 3 D64, 1 D71, 2 D81);
// bit 2 set, the rest holds the image's sectors with the directory track first (track 18's 19
// sectors, then tracks 1-17, then the others), so that small inputs reach the directory; bit 2
// clear, the rest is the image file as it stands, any length.

#include "fuzz/FuzzSupport.h"
#include "machine/DirectoryListing.h"
#include "machine/DiskImages.h"
#include "support/VirtualFile.h"

#include "fixtures/c64/D64Builder.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr uint8_t kD64 = 0, kD71 = 1, kD81 = 2;
constexpr uint8_t kDirectoryFirst = 4;
constexpr size_t kSector = 256;
constexpr size_t kDirectoryTrackStart = 357;  // track 18 sector 0
constexpr size_t kDirectoryTrackSectors = 19;

// Image sector of the n-th sector of a directory-first input.
size_t imageSector(size_t n)
{
    if (n < kDirectoryTrackSectors)
        return kDirectoryTrackStart + n;
    return n < kDirectoryTrackStart + kDirectoryTrackSectors ? n - kDirectoryTrackSectors : n;
}

fuzz::Bytes directoryFirst(const fuzz::Bytes& image)
{
    const size_t sectors = image.size() / kSector;
    fuzz::Bytes out(sectors * kSector);
    for (size_t n = 0; n < sectors; ++n)
        memcpy(&out[n * kSector], &image[imageSector(n) * kSector], kSector);
    // Zero sectors at the end say nothing: the reader fills them in.
    size_t used = out.size();
    while (used > 0 && out[used - 1] == 0)
        --used;
    out.resize((used + kSector - 1) / kSector * kSector);
    return out;
}

void addSeed(fuzz::Seeds& seeds, const std::string& name, uint8_t mode, const fuzz::Bytes& image)
{
    fuzz::Bytes input{mode};
    const fuzz::Bytes body = mode & kDirectoryFirst ? directoryFirst(image) : image;
    input.insert(input.end(), body.begin(), body.end());
    seeds.add(name, input);
}

template <class Image>
void readImage(vantor::VirtualFile& source)
{
    Image image(&source);
    const bool scanned = image.scan();
    // Each directory sector is read once and each chain visits a sector once.
    const size_t sectors = image.sectorCount();
    if (image.files.size() > 8 * sectors)
        __builtin_trap();
    size_t total = 0;
    for (const DiskFileEntry& file : image.files) {
        if (file.bytes.size() > 254 * sectors || file.name.size() > 16)
            __builtin_trap();
        total += file.bytes.size();
    }
    if (total > CBMDOS::File::kMaxScanBytes)
        __builtin_trap();
    DiskFileEntry listing;
    if (!buildDirectoryListing(&image, listing) || listing.bytes.size() != 64 + 32 * image.files.size())
        __builtin_trap();
    const size_t count = image.files.size();
    if (image.scan() != scanned || image.files.size() != count)
        __builtin_trap();
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using fixtures::D64Builder;
    D64Builder disk;
    disk.name("FUZZDISK").id('F', 'Z').allocateInBam();
    disk.addFile("PROGRAM", fuzz::Bytes(600, 0x41));
    D64Builder::FileSpec loop{"LOOP", fuzz::Bytes(3 * 254, 0x42)};
    loop.loop = true;
    disk.addFile(loop);
    D64Builder::FileSpec noStart{"NO START", {}};
    noStart.start = D64Builder::Place{0, 0};
    disk.addFile(noStart);
    D64Builder::FileSpec offDisk{"OFF DISK", fuzz::Bytes(254, 0x43)};
    offDisk.lastLink = D64Builder::Place{36, 2};
    disk.addFile(offDisk);
    D64Builder::FileSpec indexZero{"INDEX ZERO", fuzz::Bytes(300, 0x44)};
    indexZero.lastIndex = 0;
    for (int i = 0; i < 9; ++i)  // into the second directory sector
        disk.addFile("F" + std::to_string(i), fuzz::Bytes(size_t(10 + 40 * i), uint8_t(i)), uint8_t(0x80 + i % 5));
    disk.addFile(indexZero);
    const fuzz::Bytes image = disk.image();
    addSeed(seeds, "d64", kD64 | kDirectoryFirst, image);
    addSeed(seeds, "d71", kD71 | kDirectoryFirst, image);
    addSeed(seeds, "d64-file", kD64, image);
    addSeed(seeds, "d64-errors-file", kD64, disk.image(175531));

    D64Builder looping;
    looping.name("LOOPDIR");
    for (int i = 0; i < 10; ++i)
        looping.addFile("L" + std::to_string(i), fuzz::Bytes(20, uint8_t(i)));
    looping.linkDirectorySector(1, D64Builder::Place{18, 1});
    addSeed(seeds, "d64-directory-loop", kD64 | kDirectoryFirst, looping.image());

    addSeed(seeds, "d64-empty", kD64 | kDirectoryFirst, D64Builder().image());
    fuzz::Bytes d81(D81File::kImageSize, 0);
    memset(&d81[39 * 40 * kSector], 0xA0, 3 * kSector);  // track 40, the directory track
    addSeed(seeds, "d81", kD81 | kDirectoryFirst, d81);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const uint8_t kind = mode & 3;
    const size_t imageSize = kind == kD71 ? D71File::kImageSize : kind == kD81 ? D81File::kImageSize : D64File::kImageSize;
    fuzz::Bytes image;
    if (mode & kDirectoryFirst) {
        image.assign(imageSize, 0);
        const size_t sectors = std::min((size - 1) / kSector, imageSize / kSector);
        for (size_t n = 0; n < sectors; ++n)
            memcpy(&image[imageSector(n) * kSector], data + 1 + n * kSector, kSector);
    } else {
        image.assign(data + 1, data + size);
    }
    vantor::VirtualRAMFile source(image.data(), image.size());
    if (kind == kD71)
        readImage<D71File>(source);
    else if (kind == kD81)
        readImage<D81File>(source);
    else
        readImage<D64File>(source);
    return 0;
}
