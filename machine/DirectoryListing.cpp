#include "machine/DirectoryListing.h"

#include <algorithm>

namespace {

constexpr uint16_t kBasicStart = 0x0801;
constexpr size_t kFileLineBytes = 32;
constexpr size_t kNameBytes = 16;
constexpr uint8_t kReverseOn = 0x12;
constexpr uint8_t kQuote = 0x22;
constexpr uint8_t kSpace = 0x20;
constexpr const char* kTypeNames[16] = {"DEL", "SEQ", "PRG", "USR", "REL", "WTF", "WTF", "WTF",
                                        "WTF", "WTF", "WTF", "WTF", "WTF", "WTF", "WTF", "WTF"};

void put16(std::vector<uint8_t>& out, uint64_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

uint64_t blocksOf(uint64_t bytes) { return (bytes + 253) / 254; }

// Link, line number, text and the line's end.
void appendFileLine(std::vector<uint8_t>& out, uint16_t address, const DiskFileEntry& file)
{
    const size_t start = out.size();
    const uint64_t blocks = blocksOf(file.bytes.size());
    put16(out, uint16_t(address + kFileLineBytes));
    put16(out, blocks);
    out.insert(out.end(), blocks < 10 ? 3 : blocks < 100 ? 2 : 1, kSpace);
    const size_t nameLength = std::min(file.name.size(), kNameBytes);
    out.push_back(kQuote);
    out.insert(out.end(), file.name.begin(), file.name.begin() + nameLength);
    out.push_back(kQuote);
    out.insert(out.end(), kNameBytes - nameLength + 1, kSpace);
    const char* type = kTypeNames[file.type & 0x0F];
    out.insert(out.end(), type, type + 3);
    if (!(file.type & 0x80))
        out.push_back('*');  // not closed
    else if (file.type & 0x40)
        out.push_back('<');  // locked
    out.resize(start + kFileLineBytes - 1, kSpace);
    out.push_back(0);
}

}  // namespace

bool buildDirectoryListing(const DiskFile* disk, DiskFileEntry& entry)
{
    if (!disk)
        return false;
    std::vector<uint8_t>& out = entry.bytes;
    out.reserve(out.size() + 64 + kFileLineBytes * disk->files.size());
    put16(out, kBasicStart);

    // Header line: link to the first file line, line 0, name, ID and DOS type in reverse.
    uint16_t address = kBasicStart + 30;
    put16(out, address);
    put16(out, 0);
    out.push_back(kReverseOn);
    out.push_back(kQuote);
    const size_t nameLength = std::min(disk->diskName.size(), kNameBytes);
    out.insert(out.end(), disk->diskName.begin(), disk->diskName.begin() + nameLength);
    out.insert(out.end(), kNameBytes - nameLength, kSpace);
    out.push_back(kQuote);
    out.push_back(kSpace);
    for (const uint8_t id : disk->diskId)
        out.push_back(id >= 0x80 ? kSpace : id);
    out.push_back(kSpace);
    out.insert(out.end(), disk->dosType.begin(), disk->dosType.end());
    out.push_back(0);

    for (const DiskFileEntry& file : disk->files) {
        appendFileLine(out, address, file);
        address = uint16_t(address + kFileLineBytes);
    }

    static const char kFree[] = "BLOCKS FREE.             ";  // 12 letters, 13 spaces
    put16(out, uint16_t(address + 30));
    put16(out, blocksOf(disk->freeDataBytes));
    out.insert(out.end(), kFree, kFree + sizeof kFree - 1);
    out.push_back(0);
    put16(out, 0);
    return true;
}
