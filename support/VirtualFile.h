#pragma once
// Read-only byte streams: a file on disk (ZRGFile) or bytes already in memory (VirtualRAMFile).
// Typed reads are little-endian (host order); a short read gives the bytes present in the low
// end and 0 for the rest.

#include <cstdint>
#include <cstdio>
#include <string>

namespace vantor {

class VirtualFile {
public:
    virtual ~VirtualFile() = default;
    virtual bool isOpen() = 0;
    virtual uint64_t read(void* buffer, uint64_t count) = 0;
    virtual uint32_t readU8() = 0;
    virtual uint16_t readU16() = 0;
    virtual uint32_t readU32() = 0;
    virtual bool skip(int64_t offset) = 0;
    virtual bool seek(int64_t position) = 0;
    virtual int64_t tell() = 0;
    virtual int64_t size() = 0;
    virtual bool canSeekBackwards() { return true; }
};

// A stream over a buffer that the creator owns and frees after the stream.
class VirtualRAMFile : public VirtualFile {
public:
    VirtualRAMFile() = default;
    VirtualRAMFile(const uint8_t* bytes, uint64_t count) : data(bytes), length(count) {}

    bool isOpen() override { return data != nullptr && length != 0; }
    uint64_t read(void* buffer, uint64_t count) override;
    uint32_t readU8() override;
    uint16_t readU16() override;
    uint32_t readU32() override;
    // Moves by the offset (wrapping around, so a negative one moves back) when the new
    // position lies inside the data; the end itself is refused.
    bool skip(int64_t offset) override;
    bool seek(int64_t position) override;  // refused at or past the end
    int64_t tell() override { return int64_t(position); }
    int64_t size() override { return int64_t(length); }

    std::string name;  // label, such as the archive entry's name
    const uint8_t* data = nullptr;
    uint64_t length = 0;
    uint64_t position = 0;

private:
    uint32_t readLittleEndian(uint64_t width);
};

// A regular file opened for reading. Anything else (missing, a folder, a FIFO) leaves it not
// open, with size 0, reads of 0 bytes, failed moves and position -1.
class ZRGFile : public VirtualFile {
public:
    explicit ZRGFile(const std::string& path);
    explicit ZRGFile(const char* path);
    ~ZRGFile() override;
    ZRGFile(const ZRGFile&) = delete;
    ZRGFile& operator=(const ZRGFile&) = delete;

    void close();
    const std::string& getPath() const { return path_; }  // empty unless the open succeeded

    bool isOpen() override { return stream_ != nullptr; }
    uint64_t read(void* buffer, uint64_t count) override;
    uint32_t readU8() override;
    uint16_t readU16() override;
    uint32_t readU32() override;
    bool skip(int64_t offset) override;
    bool seek(int64_t position) override;  // positions past the end are accepted
    int64_t tell() override;
    int64_t size() override { return length_; }

private:
    void open(const std::string& path);
    uint32_t readLittleEndian(size_t width);

    std::string path_;
    FILE* stream_ = nullptr;
    int64_t length_ = 0;
};

// The path a ZRGFile was opened on, or a VirtualRAMFile's label; empty for anything else.
std::string virtualFileName(VirtualFile& file);

}  // namespace vantor
