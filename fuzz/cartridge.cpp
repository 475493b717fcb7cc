// CRT and raw cartridge images: the factory, the packet walk and, after a successful load, the
// windows, the IO pages and the clock. The input is a step count n, n steps of three bytes
// (operation, address, value), then the image; a raw ROM dump is wrapped into a CRT as the tune
// reader does it. The image is freed before the steps run: the banks are the mapper's own.

#include "fuzz/FuzzSupport.h"
#include "machine/CBMMapper.h"

#include "fixtures/c64/CrtBuilder.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kStepBytes = 3;

// Keeps the reads of the windows from being optimised away.
volatile unsigned readSum;

// Header, type 0, EXROM 0, GAME 1, one 8 KB CHIP packet at $8000, then the whole dump.
fuzz::Bytes wrapRawDump(const uint8_t* dump, size_t size)
{
    fuzz::Bytes image(CBMMapper::kHeaderSize + CBMMapper::kPacketHeaderSize, 0);
    memcpy(image.data(), "C64 CARTRIDGE   ", 16);
    image[19] = 0x40;  // header length
    image[20] = 0x01;  // version 1.0
    image[25] = 1;     // GAME
    memcpy(&image[32], "UKN", 3);
    const uint8_t packet[16] = {'C', 'H', 'I', 'P', 0, 0, 0x20, 0x10, 0, 0, 0, 0, 0x80, 0, 0x20, 0};
    memcpy(&image[CBMMapper::kHeaderSize], packet, sizeof packet);
    image.insert(image.end(), dump, dump + size);
    return image;
}

// Records the windows the mapper hands out, as the machine keeps them.
class Windows final : public CBMMapperListener {
public:
    void mapBank(unsigned which, const uint8_t* bank) override
    {
        if (which > 1 || !bank)
            __builtin_trap();
        window[which] = bank;
    }
    void setExromGame(uint32_t game, uint32_t exrom) override
    {
        if (game > 1 || exrom > 1)
            __builtin_trap();
    }

    // Both ends of each mapped 8 KB.
    unsigned touch() const
    {
        unsigned sum = 0;
        for (const uint8_t* bank : window)
            if (bank)
                sum += bank[0] + bank[CBMMapper::kBankSize - 1];
        return sum;
    }

    const uint8_t* window[2] = {nullptr, nullptr};
};

unsigned step(CBMMapper& mapper, uint8_t operation, uint8_t address, uint8_t value)
{
    switch (operation % 8) {
    case 0: mapper.writeIO1(address, value); return 0;
    case 1: mapper.writeIO2(address, value); return 0;
    case 2: return mapper.readIO1(address);
    case 3: return mapper.readIO2(address);
    case 4: return mapper.readRomL(uint16_t(address | value << 8));
    case 5: return mapper.readRomH(uint16_t(address | value << 8));
    case 6: mapper.tick(uint64_t(value) << (address % 24)); return 0;
    default: mapper.mapperHook7(); return mapper.romLBank() + mapper.romHBank();
    }
}

void addSeed(fuzz::Seeds& seeds, const std::string& name, const fuzz::Bytes& steps, const fuzz::Bytes& image)
{
    fuzz::Bytes input{uint8_t(steps.size() / kStepBytes)};
    input.insert(input.end(), steps.begin(), steps.end());
    input.insert(input.end(), image.begin(), image.end());
    seeds.add(name, input);
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using fixtures::CrtBuilder;
    // Bank switches, line control, IO reads and a long idle spell for every type.
    const fuzz::Bytes steps = {0, 0, 0x85, 0, 2, 0x07, 0, 2, 0x04, 1, 0x10, 0x02, 1, 0, 0x08, 2, 5, 0,
                               3, 0x10, 0, 4, 0x34, 0x12, 5, 0xFF, 0x1F, 6, 8, 40, 4, 0, 0, 0, 0, 0xC0,
                               0, 0, 0x45, 7, 0, 0};
    for (const uint16_t type : {0, 5, 7, 8, 10, 15, 16, 17, 18, 19, 32, 60})
        addSeed(seeds, "type-" + std::to_string(type), steps, fixtures::mixedPacketCartridge(type).bytes());
    // Ocean banks numbered by their packets wherever they load, in either configuration.
    addSeed(seeds, "type-5-a000-banks", steps,
            CrtBuilder(5)
                .chip(0, 0x8000, 0x1000)
                .chip(1, 0xA000, 0x1000)
                .chip(2, 0xE000, 0x800)
                .chip(2, 0x8000, 0x3000)
                .bytes());
    addSeed(seeds, "type-5-high-bank", steps, CrtBuilder(5).chip(0, 0xA000, 0x1000).chip(69, 0x8000, 0x1000).bytes());
    addSeed(seeds, "type-0-8k", steps, CrtBuilder(0).chip(0, 0x8000, 0x2000, true).bytes());
    fixtures::CrtChip odd;
    odd.size = 0x100;
    odd.declaredLength = 0x200;
    addSeed(seeds, "declared-length", {}, CrtBuilder(0).chip(odd).bytes());
    addSeed(seeds, "raw-8k", steps, fixtures::rawCartridge(0x2000, true, 0x5A));
    addSeed(seeds, "raw-16k", {}, fixtures::rawCartridge(0x4000, true, 0x5B));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t stepBytes = std::min(size_t(data[0]) * kStepBytes, size - 1);
    const uint8_t* steps = data + 1;
    const uint8_t* file = steps + stepBytes;
    const size_t fileSize = size - 1 - stepBytes;

    // An exact copy, so that a read past the file's end traps.
    auto image = isRawC64Cartridge(file, fileSize) ? wrapRawDump(file, fileSize) : fuzz::Bytes(file, file + fileSize);
    Windows windows;
    auto mapper = createC64Cartridge(image.data(), image.size(), &windows);
    if (!mapper || !mapper->load())
        return 0;
    fuzz::Bytes().swap(image);

    unsigned sum = windows.touch();
    for (size_t i = 0; i + kStepBytes <= stepBytes; i += kStepBytes) {
        sum += step(*mapper, steps[i], steps[i + 1], steps[i + 2]);
        sum += windows.touch();
    }
    for (unsigned which = 0; which < 2; ++which)
        for (unsigned bank = 0; bank < CBMMapper::kBankCount; ++bank)
            sum += mapper->bankData(which, bank)[CBMMapper::kBankSize - 1];
    readSum = sum;
    return 0;
}
