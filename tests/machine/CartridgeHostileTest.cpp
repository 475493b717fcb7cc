// Hostile cartridge images: truncations, bit flips, extreme packet sizes and bank counts. Each
// image lives in a buffer of exactly its size, so the sanitizer build traps any read past it.
#include "machine/C64Cartridges.h"

#include "CartridgeHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace cart_test;
using fixtures::Bytes;
using fixtures::CrtBuilder;
using fixtures::CrtChip;
using fixtures::crtBankMarker;

namespace {

constexpr uint16_t kTypes[] = {0, 5, 7, 8, 10, 15, 16, 17, 18, 19, 32, 60};

// Loads a copy of `image` of exactly its size and drives every entry point.
bool exercise(const Bytes& image)
{
    const Bytes exact(image.begin(), image.end());
    RecordingListener listener;
    auto mapper = createC64Cartridge(exact.data(), exact.size(), &listener);
    if (!mapper || !mapper->load())
        return false;
    unsigned sum = 0;
    for (unsigned i = 0; i < 256; ++i) {
        const uint8_t v = uint8_t(i * 37);
        mapper->writeIO1(uint8_t(i), v);
        mapper->writeIO2(uint8_t(i), v);
        sum += mapper->readIO1(uint8_t(i)) + mapper->readIO2(uint8_t(i));
        sum += mapper->readRomL(uint16_t(i * 97)) + mapper->readRomH(uint16_t(i * 89));
        mapper->tick(i * 50);
        for (unsigned w = 0; w < 2; ++w)
            if (listener.mapped[w])
                sum += listener.mapped[w][0] + listener.mapped[w][0x1FFF];
    }
    return sum != ~0u;
}

}  // namespace

TEST(CartHostile, TruncationsAreRefusedOrFailExceptAtPacketEnds)
{
    for (const uint16_t type : {0, 32}) {
        const CrtBuilder builder = fixtures::mixedPacketCartridge(type);
        const Bytes full = builder.bytes();
        std::vector<size_t> starts;  // of each packet, and the image's end
        for (size_t i = 0; i <= 5; ++i)
            starts.push_back(builder.packetOffset(i));
        const std::vector<size_t> packetEnds(starts.begin() + 1, starts.end());
        // Every length near a packet's start or its header's end, a stride elsewhere.
        const auto nearEdge = [&](size_t length) {
            for (const size_t start : starts)
                if (length + 24 >= start && length <= start + 40)
                    return true;
            return false;
        };
        for (size_t length = 0; length <= full.size(); ++length) {
            if (!nearEdge(length) && length % 31 != 0)
                continue;
            const bool atPacketEnd =
                std::find(packetEnds.begin(), packetEnds.end(), length) != packetEnds.end();
            ASSERT_EQ(exercise(Bytes(full.begin(), full.begin() + length)), atPacketEnd)
                << "type " << type << " length " << length;
        }
    }
    for (const uint16_t type : kTypes) {
        const Bytes full = fixtures::mixedPacketCartridge(type).bytes();
        for (size_t length = 0; length <= full.size(); length += 251)
            exercise(Bytes(full.begin(), full.begin() + length));
    }
}

TEST(CartHostile, SeededBitFlipsNeverReadOutsideTheImage)
{
    std::mt19937 rng(31);
    for (const uint16_t type : kTypes) {
        const Bytes full = fixtures::mixedPacketCartridge(type).bytes();
        for (int round = 0; round < 1000; ++round) {
            Bytes image = full;
            const int flips = 1 + int(rng() % 4);
            for (int f = 0; f < flips; ++f) {
                // Half of the flips hit the header or the first packet header.
                const size_t at = rng() % 2 ? rng() % 96 : rng() % image.size();
                image[at] ^= uint8_t(1u << (rng() % 8));
            }
            exercise(image);
        }
    }
}

TEST(CartHostile, ExtremePacketSizes)
{
    const auto sized = [](uint16_t loadAddress, uint16_t size, std::optional<uint32_t> declared) {
        CrtChip chip;
        chip.loadAddress = loadAddress;
        chip.size = size;
        chip.declaredLength = declared;
        return CrtBuilder(0).chip(0, 0x8000, 0x2000).chip(chip);
    };
    const struct {
        const char* name;
        Bytes image;
        bool loads;
        uint8_t romh0;  // first ROMH byte after loading
    } cases[] = {
        {"size 0", sized(0x8000, 0, {}).bytes(), true, 0},
        {"size $FFFF at $8000 skipped", sized(0x8000, 0xFFFF, {}).bytes(), true, 0},
        {"size $FFFF at $A000 takes 8 KB", sized(0xA000, 0xFFFF, {}).bytes(), true, crtBankMarker(1, 0)},
        {"size $FFFF cut short", sized(0xA000, 0xFFFF, {}).truncated(64 + 0x2010 + 0x8000), false, 0},
        {"declared length past the end", sized(0x8000, 0x100, 0x10000).bytes(), false, 0},
        {"declared length $FFFFFFFF", sized(0x8000, 0x100, 0xFFFFFFFF).bytes(), false, 0},
        {"declared length 0", sized(0x8000, 0, 0).bytes(), false, 0},
    };
    for (const auto& c : cases) {
        const Bytes exact(c.image.begin(), c.image.end());
        auto mapper = createC64Cartridge(exact.data(), exact.size(), nullptr);
        ASSERT_NE(mapper, nullptr) << c.name;
        ASSERT_EQ(mapper->load(), c.loads) << c.name;
        if (c.loads) {
            EXPECT_EQ(mapper->readRomH(0), c.romh0) << c.name;
        }
    }
}

TEST(CartHostile, AllBanksOfEverySize)
{
    for (const uint16_t size : {0, 1, 0x1000, 0x2000, 0x3000, 0x4000, 0x8000}) {
        for (const uint16_t loadAddress : {0x8000, 0xA000}) {
            CrtBuilder builder(32);
            for (unsigned bank = 0; bank < CBMMapper::kBankCount; ++bank)
                builder.chip(uint16_t(bank), loadAddress, size);
            const auto cart = makeCart(builder);
            ASSERT_TRUE(cart->loaded) << size;
            const bool roml = loadAddress == 0x8000 && size >= 0x1000 && size <= 0x4000;
            // Any ROMH chip fills its bank; a 1-byte chip repeats through it.
            const bool romh = loadAddress == 0x8000 ? size >= 0x3000 && size <= 0x4000 : size > 0;
            for (unsigned bank = 0; bank < CBMMapper::kBankCount; ++bank) {
                cart->mapper->writeIO1(0, uint8_t(bank));
                ASSERT_EQ(cart->mapper->readRomL(0x1FFF), roml ? crtBankMarker(0, bank) : 0)
                    << size << " " << loadAddress << " bank " << bank;
                ASSERT_EQ(cart->mapper->readRomH(0x1FFF), romh ? crtBankMarker(1, bank) : 0)
                    << size << " " << loadAddress << " bank " << bank;
            }
        }
    }
}

// Ocean boards of random layouts: bank numbers up to 127, chips of 4 to 16 KB and odd sizes at
// $8000, $A000, $E000 and an address no window has, with or without bank 0. Every bank shows
// what its own chips hold and nothing else.
TEST(CartHostile, OceanOddLayoutsShowEachBanksOwnChips)
{
    std::mt19937 rng(56);
    constexpr uint16_t kSizes[] = {0x1000, 0x2000, 0x3000, 0x4000, 0x0800, 0x1800, 0};
    constexpr uint16_t kAddresses[] = {0x8000, 0xA000, 0xE000, 0x9000};
    for (int round = 0; round < 300; ++round) {
        CrtBuilder builder(round % 2 ? 5 : 7);
        // First byte of each bank's ROML and ROMH data as the last chip filling it left it; -1 none.
        std::vector<int> low(CBMMapper::kBankCount, -1), high(CBMMapper::kBankCount, -1);
        const unsigned packets = 1 + rng() % 24;
        const unsigned bankRange = round % 3 == 0 ? 128 : 32;
        for (unsigned i = 0; i < packets; ++i) {
            const unsigned bank = rng() % bankRange;
            const uint16_t size = kSizes[rng() % std::size(kSizes)];
            const uint16_t address = kAddresses[rng() % std::size(kAddresses)];
            builder.chip(uint16_t(bank), address, size);
            if (address == 0x8000) {
                if (size == 0x1000 || size == 0x2000 || size == 0x3000 || size == 0x4000)
                    low[bank] = crtBankMarker(0, bank);
                if (size == 0x3000 || size == 0x4000)
                    high[bank] = crtBankMarker(1, bank);
            } else if (address != 0x9000) {
                high[bank] = size ? crtBankMarker(1, bank) : 0;  // an empty chip: a bank of 0
            }
        }
        const bool bankZero = low[0] >= 0 || high[0] >= 0;
        bool sixteenK = true;
        for (unsigned bank = 32; bank < CBMMapper::kBankCount; ++bank)
            sixteenK = sixteenK && low[bank] < 0 && high[bank] < 0;

        SCOPED_TRACE(testing::Message() << "round " << round);
        const auto cart = makeCart(builder);
        ASSERT_NE(cart->mapper, nullptr);
        ASSERT_EQ(cart->loaded, bankZero);
        if (!bankZero)
            continue;
        EXPECT_EQ(cart->listener.linesSince(0), (std::vector<Lines>{{sixteenK ? 0u : 1u, 0u}}));
        for (unsigned value = 0; value < 256; ++value) {
            const unsigned bank = value & 127;
            cart->mapper->writeIO1(uint8_t(value), uint8_t(value));
            // A chip of an odd size leaves the rest of its bank 0, so only the first byte is sure.
            const int roml = low[bank] >= 0 ? low[bank] : std::max(high[bank], 0);
            ASSERT_EQ(cart->mapper->readRomL(0), roml) << "bank " << bank;
            if (sixteenK) {
                const int romh = high[bank] >= 0 ? high[bank] : std::max(low[bank], 0);
                ASSERT_EQ(cart->mapper->readRomH(0), romh) << "bank " << bank;
            }
        }
        exercise(builder.bytes());
    }
}
