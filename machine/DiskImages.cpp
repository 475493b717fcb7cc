#include "machine/DiskImages.h"

#include "support/VirtualFile.h"

#include <algorithm>
#include <cstring>

namespace CBMDOS {

const uint16_t kTrackStart1541[41] = {0,   0,   21,  42,  63,  84,  105, 126, 147, 168, 189,
                                      210, 231, 252, 273, 294, 315, 336, 357, 376, 395, 414,
                                      433, 452, 471, 490, 508, 526, 544, 562, 580, 598, 615,
                                      632, 649, 666, 683, 700, 717, 734, 751};

uint64_t sectorsOnTrack1541(uint64_t track)
{
    return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
}

namespace {

constexpr uint64_t kDirectoryTrack = 18;
constexpr uint64_t kFirstDirectorySector = 1;
constexpr uint64_t kEntriesPerSector = 8;
constexpr uint64_t kEntryBytes = 32;
constexpr uint64_t kDataBytesPerSector = 254;

// Header (track 18 sector 0) offsets.
constexpr size_t kFreeCounts = 0x04;  // first byte of each 4-byte track entry
constexpr size_t kDiskName = 0x90;
constexpr size_t kDiskId = 0xA2;
constexpr size_t kDosType = 0xA5;
constexpr size_t kSecondSideFreeCounts = 0xDD;  // one byte per track, 36-70

// Free blocks of tracks 1-35; the directory track is not counted.
uint64_t firstSideFreeBlocks(const uint8_t* header)
{
    uint64_t free = 0;
    for (uint64_t track = 1; track <= 35; ++track)
        if (track != kDirectoryTrack)
            free += header[kFreeCounts + 4 * (track - 1)];
    return free;
}

uint64_t secondSideFreeBlocks(const uint8_t* header)
{
    uint64_t free = 0;
    for (size_t track = 36; track <= 70; ++track)
        free += header[kSecondSideFreeCounts + (track - 36)];
    return free;
}

// Tracks past the table keep 17 sectors each.
uint64_t trackStart1541(uint64_t track)
{
    return track <= 40 ? kTrackStart1541[track] : kTrackStart1541[40] + (track - 40) * 17;
}

}  // namespace

File::File(vantor::VirtualFile* source, uint64_t tracks, uint64_t sectors)
    : tracks_(tracks), image_(sectors * kSectorBytes), validFlags_(sectors), visited_(sectors),
      chainVisited_(sectors)
{
    if (source && source->seek(0))
        source->read(image_.data(), image_.size());
}

bool File::isAddressable(uint64_t track, uint64_t sector) const
{
    return track >= 1 && track <= tracks_ && sectorIndex(track, sector) < sectorCount();
}

uint8_t* File::sectorPointer(uint64_t track, uint64_t sector)
{
    return isAddressable(track, sector) ? image_.data() + sectorIndex(track, sector) * kSectorBytes
                                        : nullptr;
}

const uint8_t* File::sectorPointer(uint64_t track, uint64_t sector) const
{
    return const_cast<File*>(this)->sectorPointer(track, sector);
}

bool File::isValidTrackSector(uint64_t track, uint64_t sector) const
{
    return track >= 1 && track <= tracks_ && sector < sectorsOnTrack(track);
}

void File::writeSector(uint64_t track, uint64_t sector, const uint8_t* bytes)
{
    const uint64_t index = sectorIndex(track, sector);
    if (index >= sectorCount())
        return;
    memcpy(image_.data() + index * kSectorBytes, bytes, kSectorBytes);
    validFlags_[index] = 1;
}

bool File::encodeTrack(uint64_t track, GcrBits& bits) const
{
    static const uint8_t kZeros[kSectorBytes] = {};
    const uint64_t count = sectorsOnTrack(track);
    bits.reserve(bits.size() + count * 2824);
    for (uint64_t sector = 0; sector < count; ++sector) {
        const uint8_t* data = sectorPointer(track, sector);
        encodeSectorGcr(bits, uint8_t(track), uint8_t(sector), data ? data : kZeros);
    }
    return true;
}

void File::printSectorMap(FILE* out) const
{
    const std::string rule(58, '-');
    fprintf(out, "%s\n01 ", rule.c_str());
    uint64_t valid = 0;
    for (uint64_t track = 1; track <= tracks_; ++track) {
        if (track > 1)
            fprintf(out, "\n%02d ", int(track));
        for (uint64_t sector = 0; sector < sectorsOnTrack(track); ++sector) {
            const bool ok = isSectorValid(sectorIndex(track, sector));
            valid += ok;
            fputc(ok ? '.' : 'X', out);
        }
    }
    fprintf(out, "\n%s\nTotal valid DOS sectors %d/%d\n", rule.c_str(), int(valid),
            int(sectorCount()));
}

bool File::scanDirectory(uint64_t freeBlocks)
{
    const uint8_t* header = sectorPointer(kDirectoryTrack, 0);
    diskName = cbmName(header + kDiskName);
    diskId = {header[kDiskId], header[kDiskId + 1]};
    dosType = {header[kDosType], header[kDosType + 1]};
    freeBytes = freeBlocks * kSectorBytes;
    freeDataBytes = freeBlocks * kDataBytesPerSector;
    files.clear();
    scanBytes_ = 0;

    // A directory that revisits a sector ends there.
    std::fill(visited_.begin(), visited_.end(), 0);
    uint64_t track = kDirectoryTrack, sector = kFirstDirectorySector;
    for (;;) {
        const uint64_t index = sectorIndex(track, sector);
        if (visited_[index])
            return true;
        visited_[index] = 1;
        const uint8_t* bytes = image_.data() + index * kSectorBytes;
        for (uint64_t e = 0; e < kEntriesPerSector; ++e) {
            const uint8_t* entry = bytes + e * kEntryBytes;
            if (entry[2] != 0 && !readFileChain(entry))
                return false;
        }
        track = bytes[0];
        sector = bytes[1];
        if (track < 1 || track > tracks_ || sector == 0 || sector == 0xFF ||
            sectorIndex(track, sector) >= sectorCount())
            return true;
    }
}

bool File::readFileChain(const uint8_t* entry)
{
    DiskFileEntry file;
    file.type = entry[2];
    file.name = cbmName(entry + 5);
    if (!readChain(entry[3], entry[4], file))
        return false;
    files.push_back(std::move(file));
    return true;
}

// A chain that revisits a sector ends there, keeping what it read.
bool File::readChain(uint64_t track, uint64_t sector, DiskFileEntry& file)
{
    if (track == 0 || track > tracks_ || sectorIndex(track, sector) >= sectorCount())
        return true;
    std::fill(chainVisited_.begin(), chainVisited_.end(), 0);
    for (;;) {
        const uint64_t index = sectorIndex(track, sector);
        if (chainVisited_[index])
            return true;
        chainVisited_[index] = 1;
        const uint8_t* bytes = image_.data() + index * kSectorBytes;
        if (bytes[0] == 0 && bytes[1] == 0)
            return false;
        const uint8_t* end = bytes[0] != 0 ? bytes + kSectorBytes : bytes + bytes[1] + 1;
        scanBytes_ += uint64_t(end - (bytes + 2));
        if (scanBytes_ > kMaxScanBytes)
            return false;
        file.bytes.insert(file.bytes.end(), bytes + 2, end);
        track = bytes[0];
        sector = bytes[1];
        if (track == 0 || track > tracks_ || sectorIndex(track, sector) >= sectorCount())
            return true;
    }
}

}  // namespace CBMDOS

// ---------------------------------------------------------------------------------------------
// D64

D64File::D64File(vantor::VirtualFile* source) : File(source, kTracks, kSectors) {}

uint64_t D64File::sectorIndex(uint64_t track, uint64_t sector) const
{
    return CBMDOS::trackStart1541(track) + sector;
}

bool D64File::scan()
{
    imageSize = kImageSize;
    dataCapacity = 664 * CBMDOS::kDataBytesPerSector;
    return scanDirectory(CBMDOS::firstSideFreeBlocks(sectorPointer(18, 0)));
}

bool D64File::checkGcrRoundTrip(FILE* report)
{
    GcrDecodeContext context;
    context.disk = this;
    for (uint64_t track = 1; track <= kTracks; ++track) {
        GcrBits bits;
        encodeTrack(track, bits);
        decodeGcrTrack(context, bits, report);
    }
    printSectorMap(report);
    uint64_t valid = 0;
    for (uint64_t index = 0; index < kSectors; ++index)
        valid += isSectorValid(index);
    return valid == kSectors;
}

// ---------------------------------------------------------------------------------------------
// D71: the second side's tracks 36-70 follow the first side's 683 sectors.

D71File::D71File(vantor::VirtualFile* source) : File(source, kTracks, kSectors) {}

uint64_t D71File::sectorIndex(uint64_t track, uint64_t sector) const
{
    return track <= 35 ? CBMDOS::trackStart1541(track) + sector
                       : D64File::kSectors + CBMDOS::trackStart1541(track - 35) + sector;
}

uint64_t D71File::sectorsOnTrack(uint64_t track) const
{
    return CBMDOS::sectorsOnTrack1541(track <= 35 ? track : track - 35);
}

bool D71File::scan()
{
    imageSize = kImageSize;
    dataCapacity = 1328 * CBMDOS::kDataBytesPerSector;
    const uint8_t* header = sectorPointer(18, 0);
    return scanDirectory(CBMDOS::firstSideFreeBlocks(header) + CBMDOS::secondSideFreeBlocks(header));
}

// ---------------------------------------------------------------------------------------------
// D81: 80 tracks of 40 sectors.

D81File::D81File(vantor::VirtualFile* source) : File(source, kTracks, kSectors) {}

uint64_t D81File::sectorIndex(uint64_t track, uint64_t sector) const
{
    return (track - 1) * kSectorsPerTrack + sector;
}

bool D81File::isValidTrackSector(uint64_t track, uint64_t sector) const
{
    return track <= kTracks && sector < kSectorsPerTrack;
}

bool D81File::isAddressable(uint64_t track, uint64_t sector) const
{
    return track >= 1 && track <= kTracks && sector < kSectorsPerTrack;
}
