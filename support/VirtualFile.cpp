#include "support/VirtualFile.h"

#include "platform/PlatformTools.h"
#include "platform/ZRGSConv.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>

namespace vantor {

// ---------------------------------------------------------------------------------------------
// VirtualRAMFile

uint64_t VirtualRAMFile::read(void* buffer, uint64_t count)
{
    if (!data || position >= length || !buffer)
        return 0;
    const uint64_t n = std::min(count, length - position);
    memcpy(buffer, data + position, size_t(n));
    position += n;
    return n;
}

uint32_t VirtualRAMFile::readLittleEndian(uint64_t width)
{
    if (!data || position >= length)
        return 0;
    const uint64_t n = std::min(width, length - position);
    uint32_t value = 0;
    for (uint64_t k = 0; k < n; ++k)
        value |= uint32_t(data[position + k]) << (8 * k);
    position += n;
    return value;
}

uint32_t VirtualRAMFile::readU8() { return readLittleEndian(1); }
uint16_t VirtualRAMFile::readU16() { return uint16_t(readLittleEndian(2)); }
uint32_t VirtualRAMFile::readU32() { return readLittleEndian(4); }

bool VirtualRAMFile::skip(int64_t offset)
{
    const uint64_t target = position + uint64_t(offset);
    if (target >= length)
        return false;
    position = target;
    return true;
}

bool VirtualRAMFile::seek(int64_t where)
{
    if (where < 0 || uint64_t(where) >= length)
        return false;
    position = uint64_t(where);
    return true;
}

// ---------------------------------------------------------------------------------------------
// ZRGFile

ZRGFile::ZRGFile(const std::string& path) { open(path); }

ZRGFile::ZRGFile(const char* path) { open(path ? ZRGSConv(path, ENC_UTF8) : std::string()); }

ZRGFile::~ZRGFile() { close(); }

void ZRGFile::open(const std::string& path)
{
    FILE* f = POpenRegularFile(path);
    if (!f)
        return;
    off_t end = -1;
    if (fseeko(f, 0, SEEK_END) == 0)
        end = ftello(f);
    if (end < 0 || fseeko(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return;
    }
    stream_ = f;
    length_ = int64_t(end);
    path_ = path;
}

void ZRGFile::close()
{
    if (stream_)
        fclose(stream_);
    stream_ = nullptr;
}

uint64_t ZRGFile::read(void* buffer, uint64_t count)
{
    if (!stream_ || !buffer)
        return 0;
    return fread(buffer, 1, size_t(count), stream_);
}

uint32_t ZRGFile::readLittleEndian(size_t width)
{
    uint8_t bytes[4] = {};
    if (stream_)
        fread(bytes, 1, width, stream_);
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

uint32_t ZRGFile::readU8() { return readLittleEndian(1); }
uint16_t ZRGFile::readU16() { return uint16_t(readLittleEndian(2)); }
uint32_t ZRGFile::readU32() { return readLittleEndian(4); }

bool ZRGFile::skip(int64_t offset) { return stream_ && fseeko(stream_, off_t(offset), SEEK_CUR) == 0; }

bool ZRGFile::seek(int64_t position) { return stream_ && fseeko(stream_, off_t(position), SEEK_SET) == 0; }

int64_t ZRGFile::tell() { return stream_ ? int64_t(ftello(stream_)) : -1; }

std::string virtualFileName(VirtualFile& file)
{
    if (const auto* disk = dynamic_cast<const ZRGFile*>(&file))
        return disk->getPath();
    if (const auto* ram = dynamic_cast<const VirtualRAMFile*>(&file))
        return ram->name;
    return {};
}

}  // namespace vantor
