#include "machine/G64File.h"

#include "machine/DiskImages.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kVersionOffset = 8;
constexpr size_t kCountOffset = 9;
constexpr size_t kMaxSizeOffset = 10;

uint32_t readU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void writeU32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(value >> (8 * i));
}

}  // namespace

G64File::G64File(vantor::VirtualFile* source)
{
    if (!source || !source->seek(0))
        return;
    fileData.resize(size_t(std::max<int64_t>(source->size(), 0)));
    fileData.resize(source->read(fileData.data(), fileData.size()));
}

bool G64File::scan()
{
    using namespace G64;
    const size_t size = fileData.size();
    if (size < kHeaderBytes || memcmp(fileData.data(), kSignature, 8) != 0 ||
        fileData[kVersionOffset] != 0 || fileData[kCountOffset] > kMaxHalfTracks)
        return false;

    tracks.clear();
    hasDecodedSectors = false;
    D64File scratch(nullptr);  // receives the decoded sectors, which are not kept
    for (size_t i = 0; i < fileData[kCountOffset]; ++i) {
        const uint64_t offset = readU32(&fileData[kOffsetTable + 4 * i]);
        if (offset == 0 || offset + 2 > size) {
            tracks.push_back({});
            continue;
        }
        const uint16_t length = uint16_t(fileData[offset] | fileData[offset + 1] << 8);
        const uint8_t* data = fileData.data() + offset + 2;
        if (offset + 2 + length > size) {
            tracks.push_back({});
            continue;
        }
        GcrDecodeContext context;
        context.disk = &scratch;
        decodeGcrTrack(context, unpackBits(data, length), decodeLog_);
        hasDecodedSectors = !context.decodedSectors.empty();
        tracks.push_back({length, fileData[kSpeedTable + 4 * i], data, 0});
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

G64Builder::G64Builder()
{
    using namespace G64;
    memcpy(header.data(), kSignature, 8);
    header[kVersionOffset] = 0;
    header[kCountOffset] = kMaxHalfTracks;
    header[kMaxSizeOffset] = uint8_t(kMaxTrackBytes);
    header[kMaxSizeOffset + 1] = uint8_t(kMaxTrackBytes >> 8);
    // The 1541's speed zone of each half-track's track: 3 on 1-17 down to 0 on 31 and above.
    for (size_t i = 0; i < kMaxHalfTracks; ++i) {
        const size_t track = i / 2 + 1;
        header[kSpeedTable + 4 * i] = track <= 17 ? 3 : track <= 24 ? 2 : track <= 30 ? 1 : 0;
    }
}

void G64Builder::storeHalfTrackBits(const GcrBits& bits, size_t halfTrack)
{
    if (bits.empty() || halfTrack >= G64::kMaxHalfTracks)
        return;
    halfTracks[halfTrack] = packBits(bits);
}

size_t G64Builder::findFirstSync(const std::vector<uint8_t>& bytes)
{
    return size_t(std::find(bytes.begin(), bytes.end(), 0xFF) - bytes.begin());
}

bool G64Builder::writeG64(const std::string& path)
{
    using namespace G64;
    FILE* out = fopen(path.c_str(), "wb");
    if (!out)
        return false;
    uint32_t offset = kHeaderBytes;
    for (size_t i = 0; i < kMaxHalfTracks; ++i) {
        const size_t length = std::min(halfTracks[i].size(), kMaxTrackBytes);
        writeU32(&header[kOffsetTable + 4 * i], length ? offset : 0);
        offset += length ? uint32_t(2 + length) : 0;
    }
    bool ok = fwrite(header.data(), 1, header.size(), out) == header.size();
    for (size_t i = 0; i < kMaxHalfTracks && ok; ++i) {
        const size_t length = std::min(halfTracks[i].size(), kMaxTrackBytes);
        if (!length)
            continue;
        const uint8_t size[2] = {uint8_t(length), uint8_t(length >> 8)};
        ok = fwrite(size, 1, 2, out) == 2 && fwrite(halfTracks[i].data(), 1, length, out) == length;
    }
    return fclose(out) == 0 && ok;
}
