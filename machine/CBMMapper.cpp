#include "machine/CBMMapper.h"

#include "machine/C64Cartridges.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace {

constexpr char kCrtSignature[] = "C64 CARTRIDGE   ";
constexpr uint8_t kAutostart[5] = {0xC3, 0xC2, 0xCD, 0x38, 0x30};
constexpr size_t kAutostartOffset = 4;

// Shared by every absent bank.
const uint8_t kZeroBank[CBMMapper::kBankSize] = {};

class NullListener final : public CBMMapperListener {
public:
    void mapBank(unsigned, const uint8_t*) override {}
    void setExromGame(uint32_t, uint32_t) override {}
};

NullListener nullListener;

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

uint32_t be32(const uint8_t* p) { return uint32_t(be16(p)) << 16 | be16(p + 2); }

bool hasAutostart(const uint8_t* data, size_t size)
{
    return size >= kAutostartOffset + sizeof kAutostart &&
           std::memcmp(data + kAutostartOffset, kAutostart, sizeof kAutostart) == 0;
}

struct ChipPacket {
    unsigned bank;
    uint16_t loadAddress;
    const uint8_t* data;
    size_t size;
};

// Calls visit for each CHIP packet from offset 64 to the end of the image; false at a packet
// without its tag, with a length that is not its size + 16, a bank above 127, or a header or
// data that runs past the end.
template <class Visit>
bool walkChipPackets(const uint8_t* image, size_t size, Visit&& visit)
{
    size_t offset = CBMMapper::kHeaderSize;
    while (offset < size) {
        if (size - offset < CBMMapper::kPacketHeaderSize)
            return false;
        const uint8_t* packet = image + offset;
        const ChipPacket chip{be16(packet + 10), be16(packet + 12),
                              packet + CBMMapper::kPacketHeaderSize, be16(packet + 14)};
        if (std::memcmp(packet, "CHIP", 4) != 0 ||
            be32(packet + 4) != chip.size + CBMMapper::kPacketHeaderSize ||
            chip.bank >= CBMMapper::kBankCount ||
            size - offset - CBMMapper::kPacketHeaderSize < chip.size)
            return false;
        visit(chip);
        offset += CBMMapper::kPacketHeaderSize + chip.size;
    }
    return true;
}

// An 8 KB bank a chip fills (which: 0 ROML, 1 ROMH) from `length` (at most 8 KB) bytes at
// `from`.
struct ChipPart {
    unsigned which;
    size_t from;
    size_t length;
};

// $8000: 4 or 8 KB fill ROML, 12 or 16 KB ROML and ROMH; $A000 and $E000: any chip fills ROMH,
// with at most its first 8 KB. Other sizes and addresses fill nothing.
int chipParts(const ChipPacket& chip, ChipPart parts[2])
{
    constexpr size_t kBank = CBMMapper::kBankSize;
    if (chip.loadAddress == 0x8000) {
        if (chip.size == kBank / 2 || chip.size == kBank) {
            parts[0] = {0, 0, chip.size};
            return 1;
        }
        if (chip.size == kBank * 3 / 2 || chip.size == kBank * 2) {
            parts[0] = {0, 0, kBank};
            parts[1] = {1, kBank, chip.size - kBank};
            return 2;
        }
    } else if (chip.loadAddress == 0xA000 || chip.loadAddress == 0xE000) {
        parts[0] = {1, 0, std::min(chip.size, kBank)};
        return 1;
    }
    return 0;
}

// A chip of 2^k bytes repeats through the bank, as the address lines it lacks leave it; after
// a chip of any other size the bank reads 0.
void fillBank(uint8_t* block, const uint8_t* from, size_t length)
{
    std::memcpy(block, from, length);
    size_t filled = length;
    if (length > 0 && std::has_single_bit(length))
        for (; filled < CBMMapper::kBankSize; filled += length)
            std::memcpy(block + filled, from, length);
    std::memset(block + filled, 0, CBMMapper::kBankSize - filled);
}

}  // namespace

bool isC64CrtSignature(const uint8_t* bytes)
{
    return std::memcmp(bytes, kCrtSignature, 16) == 0;
}

bool isRawC64Cartridge(const uint8_t* bytes, size_t size)
{
    return size >= CBMMapper::kBankSize && hasAutostart(bytes, size);
}

bool isValidCrtImage(const uint8_t* file, size_t size)
{
    constexpr size_t kFirst = CBMMapper::kHeaderSize;
    if (file == nullptr || size < kFirst + CBMMapper::kPacketHeaderSize)
        return false;
    return isC64CrtSignature(file) && be32(file + 16) == kFirst &&
           be32(file + kFirst + 4) == uint32_t(be16(file + kFirst + 14)) + 16;
}

std::unique_ptr<CBMMapper> createC64Cartridge(const uint8_t* file, size_t size,
                                              CBMMapperListener* listener)
{
    if (!isValidCrtImage(file, size))
        return nullptr;
    switch (be16(file + 22)) {
    case 0: return std::make_unique<C64Generic>(file, size, listener);
    case 5:
    case 7: return std::make_unique<C64OceanType1>(file, size, listener);
    case 8: return std::make_unique<C64SuperGames>(file, size, listener);
    case 10: return std::make_unique<C64Fastload>(file, size, listener);
    case 15: return std::make_unique<C64GSSystem3>(file, size, listener);
    case 16: return std::make_unique<C64WarpSpeed>(file, size, listener);
    case 17: return std::make_unique<C64Dinamic>(file, size, listener);
    case 18: return std::make_unique<C64Zaxxon>(file, size, listener);
    case 19: return std::make_unique<C64MagicDesk>(file, size, listener);
    case 32: return std::make_unique<C64EasyFlash>(file, size, listener);
    case 60: return std::make_unique<C64GMod2>(file, size, listener);
    default: return nullptr;
    }
}

CBMMapper::CBMMapper(const uint8_t* file, size_t size, CBMMapperListener* listener)
    : fileSize(file ? size : 0),
      file(file),
      listener(listener ? listener : &nullListener),
      romLData(kZeroBank),
      romHData(kZeroBank)
{
    if (fileSize >= kHeaderSize) {
        headerExrom = file[24] ? 1 : 0;
        headerGame = file[25] ? 1 : 0;
    }
    for (auto& table : banks)
        for (const uint8_t*& bank : table)
            bank = kZeroBank;
}

CBMMapper::~CBMMapper() = default;

bool CBMMapper::load()
{
    return loadChipPackets();
}

void CBMMapper::writeIO1(uint8_t, uint8_t) {}

void CBMMapper::writeIO2(uint8_t, uint8_t) {}

uint8_t CBMMapper::readIO1(uint8_t)
{
    return 255;
}

uint8_t CBMMapper::readIO2(uint8_t)
{
    return 255;
}

void CBMMapper::tick(uint64_t) {}

const uint8_t* CBMMapper::bankData(unsigned which, unsigned bank) const
{
    return which < 2 && bank < kBankCount ? banks[which][bank] : kZeroBank;
}

bool CBMMapper::hasBank(unsigned which, unsigned bank) const
{
    return bankData(which, bank) != kZeroBank;
}

void CBMMapper::mapWindow(unsigned which, unsigned bank, unsigned table)
{
    bank %= kBankCount;
    (which == 0 ? romLIndex : romHIndex) = bank;
    mapData(which, banks[table & 1][bank]);
}

void CBMMapper::mapData(unsigned which, const uint8_t* data)
{
    (which == 0 ? romLData : romHData) = data;
    listener->mapBank(which, data);
}

bool CBMMapper::loadChipPackets()
{
    const uint8_t* image = file;
    if (image == nullptr)
        return false;
    file = nullptr;  // the banks are copies: nothing reads the image after this walk

    // First pass: check every packet and find the banks they fill; nothing changes on failure.
    bool filled[2][kBankCount] = {};
    bool foundAutostart = false;
    const bool valid = walkChipPackets(image, fileSize, [&](const ChipPacket& chip) {
        if (chip.loadAddress == 0x8000 && chip.size >= kBankSize && hasAutostart(chip.data, chip.size))
            foundAutostart = true;
        ChipPart parts[2];
        for (int i = 0, n = chipParts(chip, parts); i < n; ++i)
            filled[parts[i].which][chip.bank] = true;
    });
    if (!valid)
        return false;

    // One block for all banks, then the second pass copies.
    size_t count = 0;
    for (const auto& table : filled)
        for (const bool used : table)
            count += used;
    storage = std::make_unique_for_overwrite<uint8_t[]>(count * kBankSize);
    uint8_t* blocks[2][kBankCount];
    uint8_t* next = storage.get();
    for (unsigned which = 0; which < 2; ++which) {
        for (unsigned bank = 0; bank < kBankCount; ++bank) {
            blocks[which][bank] = filled[which][bank] ? std::exchange(next, next + kBankSize) : nullptr;
            banks[which][bank] = filled[which][bank] ? blocks[which][bank] : kZeroBank;
        }
    }
    walkChipPackets(image, fileSize, [&](const ChipPacket& chip) {
        ChipPart parts[2];
        for (int i = 0, n = chipParts(chip, parts); i < n; ++i) {
            uint8_t* block = blocks[parts[i].which][chip.bank];
            const uint8_t* from = chip.data + parts[i].from;
            fillBank(block, from, parts[i].length);
        }
    });
    autostartFlag = foundAutostart;
    // The windows read the current banks even before a type maps them.
    romLData = banks[0][romLIndex];
    romHData = banks[1][romHIndex];
    return true;
}
