#pragma once
// Sector images of Commodore DOS disks: D64 (1541), D71 (1571) and D81 (1581). The image is read
// once into memory and never written back; writeSector changes only that copy.

#include "machine/DiskFile.h"
#include "machine/Gcr.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace vantor {
class VirtualFile;
}

namespace CBMDOS {

constexpr uint64_t kSectorBytes = 256;

// First sector number of each 1541 track, counted from track 1 sector 0 (index: track, 0-40).
extern const uint16_t kTrackStart1541[41];
// Sectors on a 1541 track: 21, 19, 18, 17 by zone; tracks 0 and above 35 included.
uint64_t sectorsOnTrack1541(uint64_t track);

class File : public DiskFile
{
public:
    // The 256 bytes of a sector, or null outside the image.
    uint8_t* sectorPointer(uint64_t track, uint64_t sector);
    const uint8_t* sectorPointer(uint64_t track, uint64_t sector) const;

    // Map of valid sectors: "." valid, "X" not, one line per track.
    virtual void printSectorMap(FILE* out) const;
    virtual bool isValidTrackSector(uint64_t track, uint64_t sector) const;
    // Counted from track 1 sector 0, with no range check.
    virtual uint64_t sectorIndex(uint64_t track, uint64_t sector) const = 0;
    // Copies 256 bytes into the image and marks the sector valid; nothing outside the image.
    virtual void writeSector(uint64_t track, uint64_t sector, const uint8_t* bytes);
    // Appends every sector of the track as GCR, in sector order; a sector outside the image
    // is encoded from zero bytes.
    virtual bool encodeTrack(uint64_t track, GcrBits& bits) const;

    // Reads the chain of a 32-byte directory entry and appends the file; false when its last
    // sector uses no byte at all (index byte 0), or when the files of this scan would pass
    // kMaxScanBytes.
    bool readFileChain(const uint8_t* entry);

    // What one scan reads into files at most. A sound image holds under 350 KB of files;
    // cross-linked chains in a hostile one could repeat its sectors into gigabytes.
    static constexpr uint64_t kMaxScanBytes = uint64_t(16) << 20;

    uint64_t trackCount() const { return tracks_; }
    uint64_t sectorCount() const { return validFlags_.size(); }
    bool isSectorValid(uint64_t index) const { return index < validFlags_.size() && validFlags_[index]; }
    const std::vector<uint8_t>& image() const { return image_; }

protected:
    // Reads the image from the start of the source (what it gives; the rest stays zero).
    File(vantor::VirtualFile* source, uint64_t tracks, uint64_t sectors);

    // Sectors that encodeTrack writes for a track (tracks 0 and past the last included).
    virtual uint64_t sectorsOnTrack(uint64_t track) const = 0;
    // Where sectorPointer answers.
    virtual bool isAddressable(uint64_t track, uint64_t sector) const;

    // Header and directory walk shared by D64 and D71, the header at track 18 sector 0.
    bool scanDirectory(uint64_t freeBlocks);

private:
    bool readChain(uint64_t track, uint64_t sector, DiskFileEntry& entry);

    uint64_t tracks_;
    std::vector<uint8_t> image_;
    std::vector<uint8_t> validFlags_;
    std::vector<uint8_t> visited_;       // directory walk: sectors already read
    std::vector<uint8_t> chainVisited_;  // file walk: sectors already read
    uint64_t scanBytes_ = 0;             // read into files by this scan
};

}  // namespace CBMDOS

class D64File : public CBMDOS::File
{
public:
    static constexpr uint64_t kImageSize = 174848;
    static constexpr uint64_t kTracks = 35;
    static constexpr uint64_t kSectors = 683;

    explicit D64File(vantor::VirtualFile* source);
    bool scan() override;
    uint64_t sectorIndex(uint64_t track, uint64_t sector) const override;

    // Encodes tracks 1-35 to GCR and decodes them back into this image; writes the decoder's
    // log and the sector map to the report; true when all 683 sectors came back.
    bool checkGcrRoundTrip(FILE* report = stdout);

protected:
    uint64_t sectorsOnTrack(uint64_t track) const override { return CBMDOS::sectorsOnTrack1541(track); }
};

class D71File : public CBMDOS::File
{
public:
    static constexpr uint64_t kImageSize = 349696;
    static constexpr uint64_t kTracks = 70;
    static constexpr uint64_t kSectors = 1366;

    explicit D71File(vantor::VirtualFile* source);
    bool scan() override;
    uint64_t sectorIndex(uint64_t track, uint64_t sector) const override;

protected:
    // The second side repeats the first side's zones.
    uint64_t sectorsOnTrack(uint64_t track) const override;
};

class D81File : public CBMDOS::File
{
public:
    static constexpr uint64_t kImageSize = 819200;
    static constexpr uint64_t kTracks = 80;
    static constexpr uint64_t kSectors = 3200;
    static constexpr uint64_t kSectorsPerTrack = 40;

    explicit D81File(vantor::VirtualFile* source);
    // A D81 lists nothing: no name, no ID, no files.
    bool scan() override { return true; }
    void printSectorMap(FILE*) const override {}
    bool isValidTrackSector(uint64_t track, uint64_t sector) const override;
    uint64_t sectorIndex(uint64_t track, uint64_t sector) const override;

protected:
    uint64_t sectorsOnTrack(uint64_t) const override { return kSectorsPerTrack; }
    bool isAddressable(uint64_t track, uint64_t sector) const override;
};
