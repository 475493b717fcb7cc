#pragma once
// A 7z, zip or gzip archive, on disk or in memory, as a flat list of named entries that are
// extracted one at a time. The format is told by the first bytes only, never by the name.

#include "platform/ZRGSConv.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct archive;
struct unz_file_info64_s;

namespace vantor {

struct MetaContainerEntry {
    std::string name;  // UTF-8
    uint64_t size = 0;  // uncompressed; what a buffer handed to extractEntry must hold
    uint64_t index = 0;  // 7z: header ordinal (folders counted); zip: listing position; gzip: 0
    CHARACTER_ENCODING nameEncoding = ENC_UTF8;  // UTF8, UTF16LE (7z) or OEM (zip without bit 11)
    std::string storedName;  // the name as the archive stores it (zip, gzip); empty for 7z
};

class MetaContainer {
public:
    enum ContainerKind : uint32_t { ContainerPath = 2, ContainerMemory = 3 };
    enum ArchiveType : uint32_t { ArchiveNone = 0, ArchiveZip = 1, ArchiveGzip = 2, Archive7z = 4 };

    // The member record of a gzip archive (RFC 1952).
    struct GzipMember {
        std::string name;  // FNAME, first 511 bytes
        std::string comment;  // FCOMMENT, first 511 bytes
        FILE* file = nullptr;  // file form: positioned at the compressed data after scan
        uint64_t totalLength = 0;
        uint8_t header[10] = {};
        uint16_t headerCheck = 0;  // FHCRC, not verified
        const uint8_t* compressedData = nullptr;  // memory form
        uint64_t dataOffset = 0;  // first byte after the header fields
        uint64_t compressedLength = 0;
        uint8_t trailer[8] = {};  // CRC32, ISIZE (little-endian)
    };

    MetaContainer();  // no path: scan fails
    explicit MetaContainer(const std::string& path);
    // Over the caller's bytes, which must outlive the container.
    MetaContainer(const uint8_t* data, uint64_t length);
    virtual ~MetaContainer();
    MetaContainer(const MetaContainer&) = delete;
    MetaContainer& operator=(const MetaContainer&) = delete;

    // Releases what an earlier scan opened, then lists the archive.
    bool scan();

    // Writes exactly entry->size bytes into the buffer; false when the entry cannot be produced
    // at that size (the buffer's contents are then unspecified).
    bool extractEntry(const MetaContainerEntry* entry, void* buffer);
    bool extract7zEntry(const MetaContainerEntry* entry, void* buffer);
    // The entry's bytes in `out`. False, and `out` emptied, for a null entry, a size of 0 or
    // above `maxSize`, or data that is not exactly the entry's size. `out` grows as the data
    // arrives, so an archive announcing more than it holds costs no more than what it holds.
    bool extractToVector(const MetaContainerEntry* entry, std::vector<uint8_t>& out, uint64_t maxSize);
    // Writes a 7z or zip entry of at most `maxSize` bytes to folder + "/" + name (name alone
    // for an empty folder). No folder is created; absolute names and names with a ".." part
    // are refused.
    bool extractToFolder(const MetaContainerEntry* entry, const std::string& folder, uint64_t maxSize);
    // One raw deflate stream, memory to memory: true when the stream end is reached.
    static bool inflateRawBuffer(const uint8_t* input, uint64_t inputLength, uint8_t* output,
                                 uint64_t outputLength);

    const std::vector<MetaContainerEntry>& entries() const { return entries_; }
    uint32_t containerKind() const { return containerKind_; }
    const uint8_t* data() const { return data_; }
    uint64_t length() const { return length_; }  // path form: set by scan
    const std::string& path() const { return path_; }  // in-memory zip: the temporary copy
    uint32_t archiveType() const { return archiveType_; }
    uint32_t magic() const { return magic_; }  // first four bytes, little-endian; 0 below 5 bytes
    const GzipMember* gzipMember() const { return gzip_.get(); }
    // How many times a 7z reader was opened (scan and extraction).
    uint32_t readerOpenCount() const { return readerOpens_; }

private:
    class Output;
    struct ZipPosition {
        uint64_t directoryOffset;
        uint64_t fileNumber;
    };

    void release();
    bool probeFile();
    bool scanZip();
    bool scan7z();
    bool scanGzip();
    bool writeTemporaryCopy();
    bool readZipCurrent(unz_file_info64_s& info, std::string& name);
    bool selectZipEntry(const MetaContainerEntry& entry, unz_file_info64_s& info);
    bool extractInto(const MetaContainerEntry& entry, Output& out);
    bool extractZip(const MetaContainerEntry& entry, Output& out);
    bool extractGzip(const MetaContainerEntry& entry, Output& out);
    bool extract7z(const MetaContainerEntry& entry, Output& out);
    bool sevenZipIsSound();
    ::archive* open7zReader();
    void close7zReader();

    std::vector<MetaContainerEntry> entries_;
    uint32_t containerKind_ = ContainerPath;
    const uint8_t* data_ = nullptr;
    uint64_t length_ = 0;
    std::string path_;
    uint32_t archiveType_ = ArchiveNone;
    uint32_t magic_ = 0;

    // The open archive, by archiveType_.
    void* zip_ = nullptr;  // minizip handle
    std::vector<ZipPosition> zipPositions_;  // per listed entry, to find it again quickly
    std::unique_ptr<GzipMember> gzip_;
    ::archive* sevenZipReader_ = nullptr;  // positioned before header sevenZipNext_
    uint64_t sevenZipNext_ = 0;
    uint32_t readerOpens_ = 0;
    std::string temporaryFile_;  // created by this container, deleted on release
};

}  // namespace vantor
