#include "support/SevenZipCheck.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <span>
#include <vector>

namespace vantor {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t kStartHeaderLength = 32;

// Property ids of the header.
enum : uint8_t {
    kEnd = 0x00,
    kHeader = 0x01,
    kArchiveProperties = 0x02,
    kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04,
    kFilesInfo = 0x05,
    kPackInfo = 0x06,
    kUnpackInfo = 0x07,
    kSubStreamsInfo = 0x08,
    kSize = 0x09,
    kCrc = 0x0A,
    kFolder = 0x0B,
    kCodersUnpackSize = 0x0C,
    kNumUnpackStream = 0x0D,
    kEncodedHeader = 0x17,
};

// Coder ids (the id bytes read big-endian).
constexpr uint64_t kCopy = 0, kLzma2 = 0x21, kLzma = 0x030101, kPpmd = 0x030401, kBcj2 = 0x0303011B;

constexpr uint64_t kMaxCoders = 4;  // per folder, as libarchive accepts
constexpr uint64_t kMaxCoderStreams = 32;
// Folders, pack streams, substreams and files: libarchive allocates a record for each.
constexpr uint64_t kMaxItems = uint64_t(1) << 20;

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t little64(const uint8_t* p) { return little32(p) | uint64_t(little32(p + 4)) << 32; }

void putLittle(Bytes& out, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void putNumber(Bytes& out, uint64_t value)
{
    out.push_back(0xFF);
    putLittle(out, value, 8);
}

class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    size_t position() const { return at_; }
    // The bytes from `start` to the position.
    std::span<const uint8_t> since(size_t start) const { return bytes_.subspan(start, at_ - start); }
    uint64_t left() const { return bytes_.size() - at_; }

    uint8_t byte()
    {
        if (at_ >= bytes_.size()) {
            ok_ = false;
            return kEnd;
        }
        return bytes_[at_++];
    }
    // The leading one bits of the first byte count the little-endian bytes that follow; the
    // first byte's remaining bits are the value's top.
    uint64_t number()
    {
        const uint8_t first = byte();
        uint64_t value = 0;
        uint8_t mask = 0x80;
        for (int i = 0; i < 8; ++i, mask >>= 1) {
            if ((first & mask) == 0)
                return value | uint64_t(first & (mask - 1)) << (8 * i);
            value |= uint64_t(byte()) << (8 * i);
        }
        return value;
    }
    // A count of things each written with at least one byte, bounded by `limit`.
    uint64_t count(uint64_t limit = kMaxItems)
    {
        const uint64_t n = number();
        if (n > limit || n > left())
            ok_ = false;
        return ok_ ? n : 0;
    }
    std::span<const uint8_t> take(uint64_t n)
    {
        if (n > left()) {
            ok_ = false;
            return {};
        }
        const auto part = bytes_.subspan(at_, size_t(n));
        at_ += size_t(n);
        return part;
    }
    bool fail()
    {
        ok_ = false;
        return false;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

// What the check keeps of a folder.
struct Folder {
    uint64_t packedStreams = 0;
    uint64_t outs = 0;
    uint64_t finalOut = 0;  // the last output no bind pair consumes: the folder's result
    bool hasFinalOut = false;  // none: libarchive takes the size as 0
    uint64_t unpackSize = 0;
    uint64_t streams = 1;  // substreams
    bool copyOnly = false;  // one copy coder: libarchive copies pack bytes straight out
    bool bcj2 = false;  // buffers sized by the folder's own stream sizes
    bool digestDefined = false;
    uint32_t digest = 0;
};

struct Streams {
    uint64_t packPosition = 0;
    std::vector<uint64_t> packSizes;
    std::vector<Folder> folders;
    std::span<const uint8_t> unpackInfo;  // from kUnpackInfo to its kEnd, as stored
};

// A digest list of n items: which are defined, and their values.
bool readDigests(Cursor& c, uint64_t n, std::vector<bool>& defined, std::vector<uint32_t>& values)
{
    if (n > kMaxItems)
        return c.fail();
    defined.assign(size_t(n), true);
    if (c.byte() == 0) {
        const auto bits = c.take((n + 7) / 8);
        if (!c.ok())
            return false;
        for (uint64_t i = 0; i < n; ++i)
            defined[size_t(i)] = (bits[size_t(i / 8)] >> (7 - i % 8)) & 1;
    }
    values.assign(size_t(n), 0);
    for (uint64_t i = 0; i < n; ++i)
        if (defined[size_t(i)]) {
            const auto crc = c.take(4);
            if (!c.ok())
                return false;
            values[size_t(i)] = little32(crc.data());
        }
    return c.ok();
}

bool coderMemoryWithinLimit(uint64_t id, std::span<const uint8_t> properties)
{
    if ((id == kLzma || id == kPpmd) && properties.size() >= 5)
        return little32(properties.data() + 1) <= kSevenZipDecoderMemoryMax;
    if (id == kLzma2 && !properties.empty()) {
        const uint8_t p = properties[0];
        return p < 40 && (uint64_t(2 | (p & 1)) << (p / 2 + 11)) <= kSevenZipDecoderMemoryMax;
    }
    return true;
}

bool readFolder(Cursor& c, Folder& f)
{
    const uint64_t coders = c.number();
    if (coders == 0 || coders > kMaxCoders)
        return c.fail();
    uint64_t ins = 0;
    uint64_t firstId = 0;
    for (uint64_t i = 0; i < coders; ++i) {
        const uint8_t flags = c.byte();
        const unsigned idSize = flags & 0x0F;
        if (idSize > 8 || (flags & 0x80))  // alternative methods: never written
            return c.fail();
        uint64_t id = 0;
        for (uint8_t b : c.take(idSize))
            id = id << 8 | b;
        uint64_t coderIns = 1, coderOuts = 1;
        if (flags & 0x10) {
            coderIns = c.number();
            coderOuts = c.number();
            if (coderIns > kMaxCoderStreams || coderOuts > kMaxCoderStreams)
                return c.fail();
        }
        std::span<const uint8_t> properties;
        if (flags & 0x20)
            properties = c.take(c.number());
        if (!c.ok() || !coderMemoryWithinLimit(id, properties))
            return c.fail();
        if (i == 0)
            firstId = id;
        f.bcj2 = f.bcj2 || id == kBcj2;
        ins += coderIns;
        f.outs += coderOuts;
    }
    f.copyOnly = coders == 1 && firstId == kCopy;
    if (f.outs == 0 || ins < f.outs - 1)
        return c.fail();
    const uint64_t bindPairs = f.outs - 1;
    std::vector<bool> bound(size_t(f.outs), false);
    for (uint64_t i = 0; i < bindPairs; ++i) {
        const uint64_t in = c.number(), out = c.number();
        if (in >= ins || out >= f.outs)
            return c.fail();
        bound[size_t(out)] = true;
    }
    for (uint64_t out = f.outs; out-- > 0 && !f.hasFinalOut;)
        if (!bound[size_t(out)]) {
            f.finalOut = out;
            f.hasFinalOut = true;
        }
    f.packedStreams = ins - bindPairs;
    if (f.packedStreams == 0)
        return c.fail();
    if (f.packedStreams > 1)
        for (uint64_t i = 0; i < f.packedStreams; ++i)
            if (c.number() >= ins)
                return c.fail();
    return c.ok();
}

bool readPackInfo(Cursor& c, Streams& s)
{
    s.packPosition = c.number();
    const uint64_t n = c.count();
    s.packSizes.assign(size_t(n), 0);
    uint8_t type = c.byte();
    if (type == kSize) {
        for (uint64_t& size : s.packSizes)
            size = c.number();
        type = c.byte();
    }
    if (type == kCrc) {
        std::vector<bool> defined;
        std::vector<uint32_t> values;
        if (!readDigests(c, n, defined, values))
            return false;
        type = c.byte();
    }
    return type == kEnd && c.ok();
}

bool readUnpackInfo(Cursor& c, Streams& s)
{
    if (c.byte() != kFolder)
        return c.fail();
    const uint64_t n = c.count();
    if (c.byte() != 0)  // folders kept in another stream: libarchive refuses them too
        return c.fail();
    s.folders.resize(size_t(n));
    for (Folder& f : s.folders)
        if (!readFolder(c, f))
            return false;
    if (c.byte() != kCodersUnpackSize)
        return c.fail();
    for (Folder& f : s.folders)
        for (uint64_t i = 0; i < f.outs; ++i) {
            const uint64_t size = c.number();
            if (f.hasFinalOut && i == f.finalOut)
                f.unpackSize = size;
            if (f.bcj2 && size > kSevenZipDecoderMemoryMax)
                return c.fail();
        }
    uint8_t type = c.byte();
    if (type == kCrc) {
        std::vector<bool> defined;
        std::vector<uint32_t> values;
        if (!readDigests(c, n, defined, values))
            return false;
        for (size_t i = 0; i < s.folders.size(); ++i) {
            s.folders[i].digestDefined = defined[i];
            s.folders[i].digest = values[i];
        }
        type = c.byte();
    }
    return type == kEnd && c.ok();
}

bool readSubStreamsInfo(Cursor& c, Streams& s)
{
    uint8_t type = c.byte();
    uint64_t total = s.folders.size();
    bool several = false;
    if (type == kNumUnpackStream) {
        total = 0;
        for (Folder& f : s.folders) {
            f.streams = c.number();
            total += f.streams;
            if (f.streams > kMaxItems || total > kMaxItems || total > c.left())
                return c.fail();
            several = several || f.streams > 1;
        }
        type = c.byte();
    }
    if (type == kSize) {
        for (const Folder& f : s.folders) {
            uint64_t sum = 0;
            for (uint64_t i = 1; i < f.streams; ++i) {
                const uint64_t size = c.number();
                if (size > f.unpackSize - sum)  // the last stream's size is what is left
                    return c.fail();
                sum += size;
            }
        }
        type = c.byte();
    } else if (several) {
        return c.fail();
    }
    if (type == kCrc) {
        uint64_t unknown = 0;
        for (const Folder& f : s.folders)
            if (f.streams != 1 || !f.digestDefined)
                unknown += f.streams;
        std::vector<bool> defined;
        std::vector<uint32_t> values;
        if (!readDigests(c, unknown, defined, values))
            return false;
        type = c.byte();
    }
    return type == kEnd && c.ok();
}

bool readStreams(Cursor& c, Streams& s)
{
    uint8_t type = c.byte();
    if (type == kPackInfo) {
        if (!readPackInfo(c, s))
            return false;
        type = c.byte();
    }
    if (type == kUnpackInfo) {
        const size_t start = c.position() - 1;
        if (!readUnpackInfo(c, s))
            return false;
        s.unpackInfo = c.since(start);
        type = c.byte();
    }
    if (type == kSubStreamsInfo) {
        if (!readSubStreamsInfo(c, s))
            return false;
        type = c.byte();
    }
    return type == kEnd && c.ok();
}

// Pack streams inside the packed data (`dataLength` bytes after the start header); every
// folder's pack streams listed; a copy folder's stream long enough for its output.
bool streamsFit(const Streams& s, uint64_t dataLength)
{
    uint64_t end = s.packPosition;
    if (end > dataLength)
        return false;
    for (uint64_t size : s.packSizes) {
        if (size > dataLength - end)
            return false;
        end += size;
    }
    uint64_t packIndex = 0;
    for (const Folder& f : s.folders) {
        if (f.packedStreams > s.packSizes.size() - packIndex)
            return false;
        if (f.copyOnly && s.packSizes[size_t(packIndex)] < f.unpackSize)
            return false;
        packIndex += f.packedStreams;
    }
    return true;
}

// The compressed header's bytes, decoded by libarchive from a small archive of our own whose one
// file is the header's folder.
bool decodeHeader(const Streams& s, const ArchiveReader& read, Bytes& decoded)
{
    uint64_t packed = 0;
    for (uint64_t size : s.packSizes)
        packed += size;  // within the file: streamsFit held
    const Folder& f = s.folders[0];
    if (s.folders.size() != 1 || f.streams != 1 || f.unpackSize == 0 || f.unpackSize > kSevenZipHeaderMax ||
        packed > kSevenZipHeaderMax)
        return false;

    Bytes inner;  // the header of the small archive
    inner.insert(inner.end(), {kHeader, kMainStreamsInfo, kPackInfo, 0x00});
    putNumber(inner, s.packSizes.size());
    inner.push_back(kSize);
    for (uint64_t size : s.packSizes)
        putNumber(inner, size);
    inner.push_back(kEnd);
    inner.insert(inner.end(), s.unpackInfo.begin(), s.unpackInfo.end());
    inner.insert(inner.end(), {kSubStreamsInfo, kEnd, kEnd});  // one stream per folder
    // One file, "h".
    inner.insert(inner.end(), {kFilesInfo, 0x01, 0x11, 0x05, 0x00, 'h', 0x00, 0x00, 0x00, kEnd, kEnd});

    Bytes archive(kSignature, kSignature + 6);
    archive.insert(archive.end(), {0x00, 0x04});
    Bytes start;
    putLittle(start, packed, 8);
    putLittle(start, inner.size(), 8);
    putLittle(start, crc32(0, inner.data(), uInt(inner.size())), 4);
    putLittle(archive, crc32(0, start.data(), uInt(start.size())), 4);
    archive.insert(archive.end(), start.begin(), start.end());
    const size_t at = archive.size();
    archive.resize(at + size_t(packed));
    if (!read(kStartHeaderLength + s.packPosition, archive.data() + at, size_t(packed)))
        return false;
    archive.insert(archive.end(), inner.begin(), inner.end());

    bool ok = false;
    ::archive* reader = archive_read_new();
    archive_entry* entry = nullptr;
    if (reader && archive_read_support_format_7zip(reader) == ARCHIVE_OK &&
        archive_read_open_memory(reader, archive.data(), archive.size()) == ARCHIVE_OK &&
        archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        uint8_t block[16384];
        ok = true;
        while (ok) {
            const la_ssize_t n = archive_read_data(reader, block, sizeof block);
            ok = n >= 0 && uint64_t(n) <= f.unpackSize - decoded.size();
            if (!ok || n == 0)
                break;
            decoded.insert(decoded.end(), block, block + n);
        }
        ok = ok && decoded.size() == f.unpackSize;
    }
    if (reader)
        archive_read_free(reader);
    return ok && (!f.digestDefined || crc32(0, decoded.data(), uInt(decoded.size())) == f.digest);
}

bool headerIsSound(std::span<const uint8_t> header, uint64_t dataLength, const ArchiveReader& read,
                   bool mayBeEncoded)
{
    Cursor c(header);
    uint8_t type = c.byte();
    if (type == kEncodedHeader && mayBeEncoded) {
        Streams s;
        if (!readStreams(c, s) || !streamsFit(s, dataLength) || s.folders.empty())
            return false;
        Bytes decoded;
        return decodeHeader(s, read, decoded) && headerIsSound(decoded, dataLength, read, false);
    }
    if (type != kHeader)
        return false;
    type = c.byte();
    if (type == kArchiveProperties) {
        while (c.ok() && c.byte() != kEnd)
            c.take(c.number());
        type = c.byte();
    }
    for (const uint8_t streams : {kAdditionalStreamsInfo, kMainStreamsInfo})
        if (type == streams) {
            Streams s;
            if (!readStreams(c, s) || !streamsFit(s, dataLength))
                return false;
            type = c.byte();
        }
    if (type == kFilesInfo) {
        c.count();
        return c.ok();
    }
    return type == kEnd && c.ok();
}

}  // namespace

bool sevenZipLayoutIsSound(uint64_t length, const ArchiveReader& read)
{
    uint8_t start[kStartHeaderLength];
    if (length < kStartHeaderLength || !read(0, start, sizeof start) ||
        !std::equal(kSignature, kSignature + 6, start))
        return false;
    const uint64_t offset = little64(start + 12), size = little64(start + 20);
    const uint64_t dataLength = length - kStartHeaderLength;
    if (offset > dataLength || size > dataLength - offset || size > kSevenZipHeaderMax)
        return false;
    if (size == 0)
        return true;  // no entries
    Bytes header(size_t(size), 0);
    return read(kStartHeaderLength + offset, header.data(), header.size()) &&
           headerIsSound(header, offset, read, true);
}

}  // namespace vantor
