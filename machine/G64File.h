#pragma once
// G64 images: the raw GCR stream of each half-track of a 1541 disk. Each half-track is decoded
// to check it, but the sectors are not kept, so the image lists no files.

#include "machine/DiskFile.h"
#include "machine/Gcr.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vantor {
class VirtualFile;
}

namespace G64 {

constexpr char kSignature[] = "GCR-1541";
constexpr size_t kMaxHalfTracks = 84;
constexpr size_t kHeaderBytes = 12 + 2 * 4 * kMaxHalfTracks;  // 684
constexpr size_t kOffsetTable = 12;
constexpr size_t kSpeedTable = 12 + 4 * kMaxHalfTracks;
constexpr size_t kMaxTrackBytes = 7928;

}  // namespace G64

class G64File : public DiskFile
{
public:
    struct Track
    {
        uint16_t length = 0;
        uint8_t speedZone = 0;
        const uint8_t* data = nullptr;  // inside fileData; null when the half-track has none
        uint8_t flags = 0;
    };

    // Reads the whole source from its start.
    explicit G64File(vantor::VirtualFile* source);

    // False for a wrong signature, a version other than 0, a file shorter than its header or
    // more than 84 half-tracks; a half-track whose data passes the end is kept empty.
    bool scan() override;

    // Where the decoder's log goes during scan (none by default).
    void setDecodeLog(FILE* log) { decodeLog_ = log; }

    std::vector<uint8_t> fileData;
    std::vector<Track> tracks;  // one per half-track of the header's count
    bool hasDecodedSectors = false;

private:
    FILE* decodeLog_ = nullptr;
};

// Lays out a G64 file from half-track streams.
class G64Builder
{
public:
    G64Builder();

    // Packs a non-empty bit stream into the half-track (0-83).
    void storeHalfTrackBits(const GcrBits& bits, size_t halfTrack);
    // Index of the first 0xFF byte; the size when there is none.
    static size_t findFirstSync(const std::vector<uint8_t>& bytes);
    // Header, then for each non-empty half-track a 16-bit length and at most 7928 bytes.
    bool writeG64(const std::string& path);

    std::array<uint8_t, G64::kHeaderBytes> header{};
    std::array<std::vector<uint8_t>, G64::kMaxHalfTracks> halfTracks;
};
