#include "support/SupportTools.h"

#include "platform/PlatformToolsLinux.h"

#include <array>
#include <cstdlib>
#include <sys/stat.h>

namespace {

constexpr std::array<uint8_t, 256> makeReversedBits()
{
    std::array<uint8_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (v & (1u << bit))
                r |= 0x80u >> bit;
        table[v] = uint8_t(r);
    }
    return table;
}

constexpr std::array<uint8_t, 256> kReversedBits = makeReversedBits();

}  // namespace

bool isHostLittleEndian() { return true; }

void swapBytes16InPlace(uint16_t* values, uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i)
        values[i] = __builtin_bswap16(values[i]);
}

void swapBytes32InPlace(uint32_t* values, uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i)
        values[i] = __builtin_bswap32(values[i]);
}

uint8_t reverseBits8(const uint8_t* byte) { return kReversedBits[*byte]; }

uint64_t nextPowerOfTwo(uint64_t n)
{
    n -= 1;
    n |= n >> 32;
    n |= n >> 16;
    n |= n >> 8;
    n |= n >> 4;
    n |= n >> 2;
    n |= n >> 1;
    return n + 1;
}

void* allocBuffer(uint64_t size) { return calloc(size_t(size), 1); }

void freeBuffer(void* buffer) { free(buffer); }

void* reallocBuffer(void* buffer, uint64_t size) { return realloc(buffer, size_t(size)); }

int64_t folderTotalSize(const std::string& folder)
{
    std::set<std::string> paths;
    wrap_FileLister(folder, "*.*", paths, {}, nullptr);
    int64_t total = 0;
    for (const std::string& path : paths) {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            total += int64_t(st.st_size);
    }
    return total;
}

void listFiles(const std::string& folder, const std::string& pattern, std::set<std::string>& out,
               volatile int* stop)
{
    wrap_FileLister(folder, pattern, out, {}, stop);
}

void listFilesWithExtensions(const std::string& folder, const std::vector<std::string>& extensions,
                             std::set<std::string>& out, volatile int* stop)
{
    wrap_FileLister(folder, std::string(), out, extensions, stop);
}

void listSubfolders(const std::string& folder, std::set<std::string>& out)
{
    wrap_DirectoryLister(folder, out);
}
