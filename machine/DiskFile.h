#pragma once
// A disk image as the drive and the tune reader see it: header fields and the files of the
// directory, each with its bytes as the sector chain yields them.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct DiskFileEntry
{
    std::vector<uint8_t> bytes;  // a program's first two bytes are its load address
    std::string name;            // PETSCII, as stored
    uint8_t type = 0;            // bits 0-3 file type, bit 6 locked, bit 7 closed
};

class DiskFile
{
public:
    DiskFile() = default;
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;
    virtual ~DiskFile() = default;

    // Reads the header and the directory into the fields below.
    virtual bool scan() = 0;

    std::string diskName;
    uint64_t imageSize = 0;
    uint64_t freeBytes = 0;      // free blocks × 256
    uint64_t dataCapacity = 0;   // 254 per usable block of an empty disk
    uint64_t freeDataBytes = 0;  // free blocks × 254
    std::array<uint8_t, 2> dosType{};
    std::array<uint8_t, 2> diskId{};
    std::vector<DiskFileEntry> files;  // directory order
};

// A 16-byte directory name: the bytes before the first 0xA0, then cut at the first 0x00.
std::string cbmName(const uint8_t* name16);
