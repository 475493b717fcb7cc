#include "support/MetaContainer.h"

#include "platform/PlatformTools.h"
#include "platform/PlatformToolsDesktop.h"
#include "support/SevenZipCheck.h"

#include <archive.h>
#include <archive_entry.h>
#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

namespace vantor {

namespace {

constexpr uint32_t kMagic7z = 0xAFBC7A37;    // 37 7A BC AF
constexpr uint32_t kMagicZip = 0x04034B50;   // "PK" 3 4
constexpr uint32_t kMagicGzip = 0x088B1F;    // 1F 8B 08 (deflate), low 24 bits
constexpr uint32_t kZipUtf8Flag = 0x800;     // general-purpose bit 11
constexpr uint64_t kZipCentralEntryMin = 46;  // fixed part of a central directory record
constexpr size_t kGzipTextMax = 511;
constexpr uint64_t kGzipHeaderLength = 10;
constexpr uint64_t kGzipTrailerLength = 8;
constexpr uint8_t kGzipFlagHeaderCrc = 2, kGzipFlagExtra = 4, kGzipFlagName = 8, kGzipFlagComment = 16;
constexpr uint64_t kFileChunk = 65536;
constexpr uint64_t kBlockMax = 1u << 30;  // zlib, minizip and libarchive counts are 32-bit or signed
constexpr size_t k7zReadBlock = 16384;
// A growing output takes what has arrived so far again, within these bounds.
constexpr uint64_t kGrowMin = 65536, kGrowMax = uint64_t(16) << 20;

uint32_t readLittle32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Runs libarchive under a UTF-8 character type for the scope: an archive object fixes its
// conversions at first use from the thread's locale, and 7z names then come out as UTF-8 text
// whatever the process locale is.
class Utf8CharacterType {
public:
    Utf8CharacterType()
    {
        static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        if (utf8)
            previous_ = uselocale(utf8);
    }
    ~Utf8CharacterType()
    {
        if (previous_)
            uselocale(previous_);
    }
    Utf8CharacterType(const Utf8CharacterType&) = delete;
    Utf8CharacterType& operator=(const Utf8CharacterType&) = delete;

private:
    locale_t previous_ = locale_t(0);
};

// Inflates one raw deflate stream into `out` (an Output). `refill(pointer, count)` hands the next
// input block and returns false when there is none. True when the stream end is reached.
template <class Out, class Refill>
bool inflateRaw(Out& out, Refill&& refill)
{
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return false;
    uint8_t spare = 0;
    bool ended = false;
    for (;;) {
        if (zs.avail_in == 0) {
            const uint8_t* block = nullptr;
            uInt count = 0;
            if (refill(block, count)) {
                zs.next_in = const_cast<Bytef*>(block);
                zs.avail_in = count;
            }
        }
        uint64_t room = 0;
        uint8_t* at = out.room(room);
        zs.next_out = at ? at : &spare;
        zs.avail_out = uInt(room);
        const int result = inflate(&zs, Z_NO_FLUSH);
        out.wrote(room - zs.avail_out);
        if (result == Z_STREAM_END) {
            ended = true;
            break;
        }
        if (result != Z_OK)  // Z_BUF_ERROR: input exhausted or output full
            break;
    }
    inflateEnd(&zs);
    return ended;
}

// Hands a block of memory to inflateRaw in pieces zlib's counters can hold.
struct MemoryBlocks {
    const uint8_t* next;
    uint64_t left;
    bool operator()(const uint8_t*& block, uInt& count)
    {
        if (left == 0)
            return false;
        block = next;
        count = uInt(std::min(left, kBlockMax));
        next += count;
        left -= count;
        return true;
    }
};

// Absolute names and names with a ".." part would leave the folder they are written to.
bool nameStaysInFolder(const std::string& name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\')
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = std::min(name.find_first_of("/\\", start), name.size());
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

// Where extraction writes: the caller's buffer of the entry's size, or a vector that grows as
// the data arrives, never past the entry's size.
class MetaContainer::Output {
public:
    Output(uint8_t* buffer, uint64_t size) : buffer_(buffer), size_(size) {}
    Output(std::vector<uint8_t>& vector, uint64_t size) : vector_(&vector), size_(size) { vector.clear(); }

    uint64_t size() const { return size_; }
    uint64_t done() const { return done_; }
    bool full() const { return done_ == size_; }
    // Room at the write position, at most kBlockMax bytes and never past the size: its start
    // and length (null and 0 when the size is reached or memory ran out).
    uint8_t* room(uint64_t& length)
    {
        length = 0;
        if (vector_ && vector_->size() == done_ && !full()) {
            const uint64_t grown = done_ + std::min(size_ - done_, std::clamp(done_, kGrowMin, kGrowMax));
            try {
                vector_->reserve(size_t(grown));
                vector_->resize(size_t(grown));
            } catch (const std::exception&) {
                return nullptr;
            }
        }
        length = std::min((vector_ ? vector_->size() : size_) - done_, kBlockMax);
        if (length == 0)
            return nullptr;
        return (vector_ ? vector_->data() : buffer_) + done_;
    }
    void wrote(uint64_t count) { done_ += count; }
    // Drops the room that was not written.
    void trim()
    {
        if (vector_)
            vector_->resize(size_t(done_));
    }

private:
    uint8_t* buffer_ = nullptr;
    std::vector<uint8_t>* vector_ = nullptr;
    uint64_t size_ = 0;
    uint64_t done_ = 0;
};

MetaContainer::MetaContainer() = default;

MetaContainer::MetaContainer(const std::string& path) : path_(path) {}

MetaContainer::MetaContainer(const uint8_t* data, uint64_t length)
    : containerKind_(ContainerMemory), data_(data), length_(length)
{
    if (data && length >= 5)
        magic_ = readLittle32(data);
}

MetaContainer::~MetaContainer() { release(); }

void MetaContainer::release()
{
    entries_.clear();
    zipPositions_.clear();
    if (zip_) {
        unzClose(zip_);
        zip_ = nullptr;
    }
    if (gzip_) {
        if (gzip_->file)
            fclose(gzip_->file);
        gzip_.reset();
    }
    close7zReader();
    if (!temporaryFile_.empty()) {
        PDeleteFile(temporaryFile_);
        if (path_ == temporaryFile_)
            path_.clear();
        temporaryFile_.clear();
    }
    archiveType_ = ArchiveNone;
}

bool MetaContainer::probeFile()
{
    length_ = 0;
    magic_ = 0;
    FILE* f = POpenRegularFile(path_);
    if (!f)
        return false;
    bool ok = fseeko(f, 0, SEEK_END) == 0;
    const off_t end = ok ? ftello(f) : -1;
    ok = end >= 0 && fseeko(f, 0, SEEK_SET) == 0;
    if (ok) {
        length_ = uint64_t(end);
        uint8_t first[4];
        if (length_ >= 5) {
            ok = fread(first, 1, 4, f) == 4;
            magic_ = ok ? readLittle32(first) : 0;
        }
    }
    fclose(f);
    return ok;
}

bool MetaContainer::scan()
{
    release();
    if (containerKind_ == ContainerPath && !probeFile())
        return false;
    if (magic_ == 0 || length_ == 0)
        return false;
    bool ok = false;
    if (magic_ == kMagic7z)
        ok = scan7z();
    else if (magic_ == kMagicZip)
        ok = scanZip();
    else if ((magic_ & 0xFFFFFF) == kMagicGzip)
        ok = scanGzip();
    if (!ok)
        release();
    return ok;
}

// ---- zip --------------------------------------------------------------------------------------

bool MetaContainer::writeTemporaryCopy()
{
    std::string name;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        name = makeTempFileName(".deleteme");
        fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    temporaryFile_ = name;  // from here on release() deletes it
    path_ = name;
    uint64_t written = 0;
    while (written < length_) {
        const ssize_t n = write(fd, data_ + written, size_t(std::min(length_ - written, kBlockMax)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += uint64_t(n);
    }
    return close(fd) == 0 && written == length_;
}

bool MetaContainer::readZipCurrent(unz_file_info64& info, std::string& name)
{
    if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    name.assign(info.size_filename, '\0');  // the whole name, however long
    return info.size_filename == 0 ||
           unzGetCurrentFileInfo64(zip_, &info, name.data(), info.size_filename, nullptr, 0, nullptr, 0) ==
               UNZ_OK;
}

bool MetaContainer::scanZip()
{
    if (containerKind_ == ContainerMemory && !writeTemporaryCopy())
        return false;
    zip_ = unzOpen64(path_.c_str());
    if (!zip_)
        return false;
    archiveType_ = ArchiveZip;

    uint64_t announced = 0;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip_, &global) == UNZ_OK)
        announced = global.number_entry;
    // The count is the archive's word: reserve no more than its size can hold.
    const uint64_t room = std::min(announced, length_ / kZipCentralEntryMin);
    entries_.reserve(size_t(room));
    zipPositions_.reserve(size_t(room));

    int status = announced ? unzGoToFirstFile(zip_) : UNZ_END_OF_LIST_OF_FILE;
    for (uint64_t i = 0; i < announced && status == UNZ_OK; ++i) {
        unz_file_info64 info{};
        MetaContainerEntry entry;
        unz64_file_pos position{};
        if (!readZipCurrent(info, entry.storedName) || unzGetFilePos64(zip_, &position) != UNZ_OK)
            break;
        entry.nameEncoding = (info.flag & kZipUtf8Flag) ? ENC_UTF8 : ENC_OEM;
        entry.name = ZRGSConv(entry.storedName, entry.nameEncoding);
        entry.size = info.uncompressed_size;
        entry.index = i;
        entries_.push_back(std::move(entry));
        zipPositions_.push_back({position.pos_in_zip_directory, position.num_of_file});
        if (i + 1 < announced)
            status = unzGoToNextFile(zip_);
    }
    return entries_.size() == announced;
}

// Makes the entry current (by its listing position when the name there matches, else by a
// case-sensitive search of the whole name) and reads its information.
bool MetaContainer::selectZipEntry(const MetaContainerEntry& entry, unz_file_info64& info)
{
    std::string name;
    if (entry.index < zipPositions_.size()) {
        unz64_file_pos position{zipPositions_[entry.index].directoryOffset,
                                zipPositions_[entry.index].fileNumber};
        if (unzGoToFilePos64(zip_, &position) == UNZ_OK && readZipCurrent(info, name) &&
            name == entry.storedName)
            return true;
    }
    for (int s = unzGoToFirstFile(zip_); s == UNZ_OK; s = unzGoToNextFile(zip_))
        if (readZipCurrent(info, name) && name == entry.storedName)
            return true;
    return false;
}

bool MetaContainer::extractZip(const MetaContainerEntry& entry, Output& out)
{
    unz_file_info64 info{};
    if (!zip_ || !selectZipEntry(entry, info) || info.uncompressed_size != entry.size)
        return false;
    if (unzOpenCurrentFile(zip_) != UNZ_OK)
        return false;
    bool ok = true;
    while (ok && !out.full()) {
        uint64_t room = 0;
        uint8_t* at = out.room(room);
        const int n = at ? unzReadCurrentFile(zip_, at, unsigned(room)) : 0;
        ok = n > 0;
        if (ok)
            out.wrote(uint64_t(n));
    }
    // Closing a completely read entry compares its CRC.
    const int closed = unzCloseCurrentFile(zip_);
    return ok && closed == UNZ_OK;
}

// ---- 7z ---------------------------------------------------------------------------------------

::archive* MetaContainer::open7zReader()
{
    Utf8CharacterType utf8;
    ++readerOpens_;
    ::archive* reader = archive_read_new();
    if (!reader)
        return nullptr;
    int result = archive_read_support_format_7zip(reader);
    if (result == ARCHIVE_OK)
        result = containerKind_ == ContainerMemory
                     ? archive_read_open_memory(reader, data_, size_t(length_))
                     : archive_read_open_filename(reader, path_.c_str(), k7zReadBlock);
    if (result != ARCHIVE_OK) {
        archive_read_free(reader);
        return nullptr;
    }
    return reader;
}

void MetaContainer::close7zReader()
{
    if (sevenZipReader_)
        archive_read_free(sevenZipReader_);
    sevenZipReader_ = nullptr;
    sevenZipNext_ = 0;
}

// Holds the archive's headers against the file before libarchive, which trusts their sizes,
// reads it.
bool MetaContainer::sevenZipIsSound()
{
    if (containerKind_ == ContainerMemory)
        return sevenZipLayoutIsSound(length_, [this](uint64_t offset, void* out, size_t count) {
            if (offset > length_ || count > length_ - offset)
                return false;
            memcpy(out, data_ + offset, count);
            return true;
        });
    const int fd = POpenRegularFileDescriptor(path_);
    if (fd < 0)
        return false;
    const bool sound = sevenZipLayoutIsSound(length_, [fd](uint64_t offset, void* out, size_t count) {
        auto* at = static_cast<uint8_t*>(out);
        while (count > 0) {
            const ssize_t n = pread(fd, at, count, off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            at += n;
            offset += uint64_t(n);
            count -= size_t(n);
        }
        return true;
    });
    close(fd);
    return sound;
}

bool MetaContainer::scan7z()
{
    if (!sevenZipIsSound())
        return false;
    ::archive* reader = open7zReader();
    if (!reader)
        return false;
    archiveType_ = Archive7z;
    sevenZipReader_ = reader;
    Utf8CharacterType utf8;
    for (uint64_t ordinal = 0;; ++ordinal) {
        archive_entry* header = nullptr;
        const int result = archive_read_next_header(reader, &header);
        if (result == ARCHIVE_EOF)
            break;
        if (result != ARCHIVE_OK && result != ARCHIVE_WARN)
            return false;
        sevenZipNext_ = ordinal + 1;
        if (archive_entry_filetype(header) == AE_IFDIR)
            continue;
        // libarchive composes names to NFC and gives none for invalid UTF-16 (a lone surrogate).
        const char* name = archive_entry_pathname_utf8(header);
        if (!name || !*name)
            continue;
        MetaContainerEntry entry;
        entry.name = name;
        entry.size = uint64_t(std::max<la_int64_t>(archive_entry_size(header), 0));
        entry.index = ordinal;
        entry.nameEncoding = ENC_UTF16LE;
        entries_.push_back(std::move(entry));
    }
    // The listing read every header: extraction starts over with a fresh reader.
    close7zReader();
    return !entries_.empty();
}

bool MetaContainer::extract7zEntry(const MetaContainerEntry* entry, void* buffer)
{
    if (!entry || entry->size == 0 || !buffer || archiveType_ != Archive7z)
        return false;
    Output out(static_cast<uint8_t*>(buffer), entry->size);
    return extract7z(*entry, out);
}

bool MetaContainer::extract7z(const MetaContainerEntry& entry, Output& out)
{
    if (entry.size == 0 || archiveType_ != Archive7z)
        return false;
    Utf8CharacterType utf8;
    // Entries at or after the reader's position are reached by reading on; one before it
    // needs a new reader.
    if (!sevenZipReader_ || entry.index < sevenZipNext_) {
        close7zReader();
        sevenZipReader_ = open7zReader();
        if (!sevenZipReader_)
            return false;
    }
    while (sevenZipNext_ <= entry.index) {
        archive_entry* header = nullptr;
        const int result = archive_read_next_header(sevenZipReader_, &header);
        if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
            close7zReader();
            return false;
        }
        ++sevenZipNext_;
    }
    while (!out.full()) {
        uint64_t room = 0;
        uint8_t* at = out.room(room);
        const la_ssize_t n = at ? archive_read_data(sevenZipReader_, at, size_t(room)) : -1;
        if (n < 0) {
            close7zReader();
            return false;
        }
        if (n == 0)
            return false;
        out.wrote(uint64_t(n));
    }
    uint8_t beyond = 0;
    const la_ssize_t more = archive_read_data(sevenZipReader_, &beyond, 1);
    if (more < 0)
        close7zReader();
    return more == 0;
}

// ---- gzip -------------------------------------------------------------------------------------

bool MetaContainer::scanGzip()
{
    gzip_ = std::make_unique<GzipMember>();
    archiveType_ = ArchiveGzip;
    GzipMember& g = *gzip_;
    if (containerKind_ == ContainerMemory) {
        g.totalLength = length_;
        if (g.totalLength < kGzipHeaderLength + kGzipTrailerLength)
            return false;
        memcpy(g.header, data_, kGzipHeaderLength);
        memcpy(g.trailer, data_ + g.totalLength - kGzipTrailerLength, kGzipTrailerLength);
    } else {
        g.file = POpenRegularFile(path_);
        if (!g.file || fseeko(g.file, 0, SEEK_END) != 0)
            return false;
        const off_t end = ftello(g.file);
        if (end < off_t(kGzipHeaderLength + kGzipTrailerLength))
            return false;
        g.totalLength = uint64_t(end);
        if (fseeko(g.file, off_t(g.totalLength - kGzipTrailerLength), SEEK_SET) != 0 ||
            fread(g.trailer, 1, kGzipTrailerLength, g.file) != kGzipTrailerLength ||
            fseeko(g.file, 0, SEEK_SET) != 0 || fread(g.header, 1, kGzipHeaderLength, g.file) != kGzipHeaderLength)
            return false;
    }

    // Every header field must end before the trailer.
    const uint64_t limit = g.totalLength - kGzipTrailerLength;
    uint64_t position = kGzipHeaderLength;
    auto nextByte = [&](uint8_t& byte) {
        if (position >= limit)
            return false;
        if (g.file) {
            const int c = fgetc(g.file);
            if (c == EOF)
                return false;
            byte = uint8_t(c);
        } else {
            byte = data_[position];
        }
        ++position;
        return true;
    };
    auto next16 = [&](uint16_t& value) {
        uint8_t low = 0, high = 0;
        if (!nextByte(low) || !nextByte(high))
            return false;
        value = uint16_t(low | high << 8);
        return true;
    };
    auto zeroTerminated = [&](std::string& text) {
        for (uint8_t c = 0;;) {
            if (!nextByte(c))
                return false;
            if (c == 0)
                return true;
            if (text.size() < kGzipTextMax)
                text.push_back(char(c));
        }
    };

    const uint8_t flags = g.header[3];
    if (flags & kGzipFlagExtra) {
        uint16_t extraLength = 0;
        if (!next16(extraLength) || extraLength > limit - position)
            return false;
        position += extraLength;
        if (g.file && fseeko(g.file, off_t(position), SEEK_SET) != 0)
            return false;
    }
    if ((flags & kGzipFlagName) && !zeroTerminated(g.name))
        return false;
    if ((flags & kGzipFlagComment) && !zeroTerminated(g.comment))
        return false;
    if ((flags & kGzipFlagHeaderCrc) && !next16(g.headerCheck))
        return false;
    g.dataOffset = position;
    g.compressedLength = limit - position;
    if (!g.file)
        g.compressedData = data_ + position;

    MetaContainerEntry entry;
    if (!g.name.empty()) {
        entry.storedName = g.name;
        entry.name = ZRGSConv(g.name, ENC_UTF8);
    } else {
        entry.name = path_.empty() ? std::string("gzextract_noname.bin") : stripFileExtension(path_);
    }
    entry.size = readLittle32(g.trailer + 4);  // ISIZE: the size modulo 2^32
    entry.nameEncoding = ENC_UTF8;
    entries_.push_back(std::move(entry));
    return true;
}

bool MetaContainer::extractGzip(const MetaContainerEntry& entry, Output& out)
{
    if (!gzip_)
        return false;
    GzipMember& g = *gzip_;
    bool ended = false;
    if (!g.file) {
        ended = inflateRaw(out, MemoryBlocks{g.compressedData, g.compressedLength});
    } else {
        // Reads on from the file's position: the entry extracts once per scan.
        std::vector<uint8_t> block(size_t(std::min(g.compressedLength, kFileChunk)));
        uint64_t left = g.compressedLength;
        ended = inflateRaw(out, [&](const uint8_t*& next, uInt& count) {
            if (left == 0)
                return false;
            const size_t want = size_t(std::min<uint64_t>(left, block.size()));
            if (fread(block.data(), 1, want, g.file) != want) {
                left = 0;
                return false;
            }
            left -= want;
            next = block.data();
            count = uInt(want);
            return true;
        });
    }
    return ended && out.done() == entry.size;
}

bool MetaContainer::inflateRawBuffer(const uint8_t* input, uint64_t inputLength, uint8_t* output,
                                     uint64_t outputLength)
{
    if ((!input && inputLength) || (!output && outputLength))
        return false;
    Output out(output, outputLength);
    return inflateRaw(out, MemoryBlocks{input, inputLength});
}

// ---- any format -------------------------------------------------------------------------------

bool MetaContainer::extractInto(const MetaContainerEntry& entry, Output& out)
{
    switch (archiveType_) {
    case Archive7z:
        return extract7z(entry, out);
    case ArchiveZip:
        return extractZip(entry, out);
    case ArchiveGzip:
        return extractGzip(entry, out);
    default:
        return false;
    }
}

bool MetaContainer::extractEntry(const MetaContainerEntry* entry, void* buffer)
{
    if (!entry || (!buffer && entry->size))
        return false;
    if (archiveType_ == ArchiveZip && entry->size)
        memset(buffer, 0, size_t(entry->size));
    Output out(static_cast<uint8_t*>(buffer), entry->size);
    return extractInto(*entry, out);
}

bool MetaContainer::extractToVector(const MetaContainerEntry* entry, std::vector<uint8_t>& out, uint64_t maxSize)
{
    bool ok = entry && entry->size != 0 && entry->size <= maxSize;
    if (ok) {
        Output grown(out, entry->size);
        ok = extractInto(*entry, grown) && grown.full();
        grown.trim();
    }
    if (!ok)
        std::vector<uint8_t>().swap(out);
    return ok;
}

bool MetaContainer::extractToFolder(const MetaContainerEntry* entry, const std::string& folder, uint64_t maxSize)
{
    if (!entry || (archiveType_ != ArchiveZip && archiveType_ != Archive7z) || !nameStaysInFolder(entry->name))
        return false;
    std::vector<uint8_t> bytes;
    const bool ok = archiveType_ == ArchiveZip && entry->size == 0 ? extractEntry(entry, nullptr)
                                                                    : extractToVector(entry, bytes, maxSize);
    if (!ok)
        return false;
    const std::string target = folder.empty() ? entry->name : folder + "/" + entry->name;
    return binFileExternalize(target, bytes.data(), bytes.size());
}

}  // namespace vantor
