// CRT recognition, the factory's refusals and choices, the CHIP packet walk and the type 0 start.
#include "machine/C64Cartridges.h"

#include "CartridgeHarness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

using namespace cart_test;
using fixtures::Bytes;
using fixtures::CrtBuilder;
using fixtures::CrtChip;
using fixtures::crtBankMarker;

namespace {

CrtChip chipWith(uint16_t bank, uint16_t loadAddress, const Bytes& data)
{
    CrtChip chip;
    chip.bank = bank;
    chip.loadAddress = loadAddress;
    chip.size = uint16_t(data.size());
    chip.data = data;
    return chip;
}

// Every byte of the 8 KB window as the mapper reads it.
Bytes window(CBMMapper& mapper, unsigned which)
{
    Bytes out(CBMMapper::kBankSize);
    for (uint16_t i = 0; i < out.size(); ++i)
        out[i] = which == 0 ? mapper.readRomL(i) : mapper.readRomH(i);
    return out;
}

Bytes bankBytes(const CBMMapper& mapper, unsigned which, unsigned bank)
{
    const uint8_t* data = mapper.bankData(which, bank);
    return Bytes(data, data + CBMMapper::kBankSize);
}

}  // namespace

TEST(CrtSignature, OnlyTheExactSixteenBytes)
{
    const struct {
        const char* text;
        bool want;
    } cases[] = {
        {"C64 CARTRIDGE   ", true},
        {"C64 CARTRIDGE  \0", false},
        {"C64 CARTRIDGE  X", false},
        {"c64 cartridge   ", false},
        {"C64  CARTRIDGE  ", false},
        {"C128 CARTRIDGE  ", false},
    };
    for (const auto& c : cases) {
        uint8_t bytes[16];
        std::memcpy(bytes, c.text, 16);
        EXPECT_EQ(isC64CrtSignature(bytes), c.want) << c.text;
    }
}

TEST(RawCartridge, NeedsEightKilobytesAndTheAutostartBytes)
{
    EXPECT_FALSE(isRawC64Cartridge(fixtures::rawCartridge(8191).data(), 8191));
    EXPECT_TRUE(isRawC64Cartridge(fixtures::rawCartridge(8192).data(), 8192));
    EXPECT_TRUE(isRawC64Cartridge(fixtures::rawCartridge(16384).data(), 16384));
    for (size_t at = 4; at <= 8; ++at) {
        Bytes raw = fixtures::rawCartridge(8192);
        raw[at] ^= 0x01;
        EXPECT_FALSE(isRawC64Cartridge(raw.data(), raw.size())) << "byte " << at;
    }
    Bytes shifted = fixtures::rawCartridge(8192, false);
    std::memcpy(shifted.data() + 5, fixtures::kCartAutostart, 5);
    EXPECT_FALSE(isRawC64Cartridge(shifted.data(), shifted.size()));
}

TEST(CrtFactory, RefusesMalformedImagesBeforeAnyMapperExists)
{
    const auto valid = [] { return CrtBuilder(0).chip(0, 0x8000, 0x2000); };
    CrtChip badLength;
    badLength.declaredLength = 0x2000 + 15;
    const struct {
        const char* name;
        Bytes image;
    } cases[] = {
        {"header length $20", valid().headerLength(0x20).bytes()},
        {"header length $41", valid().headerLength(0x41).bytes()},
        {"signature", valid().signature("C64 CARTRIDGE  !").bytes()},
        {"first packet length", CrtBuilder(0).chip(badLength).bytes()},
        {"79 bytes", CrtBuilder(0).chip(0, 0x8000, 0).truncated(79)},
        {"type 1", valid().hardwareType(1).bytes()},
        {"type 2", valid().hardwareType(2).bytes()},
        {"type 61", valid().hardwareType(61).bytes()},
        {"type 200", valid().hardwareType(200).bytes()},
        {"empty", {}},
    };
    for (const auto& c : cases) {
        RecordingListener listener;
        EXPECT_EQ(createC64Cartridge(c.image.data(), c.image.size(), &listener), nullptr) << c.name;
        EXPECT_TRUE(listener.calls.empty()) << c.name;
    }
    // The smallest valid image: the header and one empty packet.
    const Bytes smallest = CrtBuilder(0).chip(0, 0x8000, 0).bytes();
    ASSERT_EQ(smallest.size(), 80u);
    EXPECT_TRUE(isValidCrtImage(smallest.data(), smallest.size()));
    EXPECT_FALSE(isValidCrtImage(smallest.data(), 79));
}

TEST(CrtFactory, ChoosesTheClassOfEachListedTypeAndNoOther)
{
    using Check = std::function<bool(CBMMapper*)>;
    const auto is = []<class T>(T*) -> Check {
        return [](CBMMapper* m) { return dynamic_cast<T*>(m) != nullptr; };
    };
    const std::map<unsigned, Check> listed = {
        {0, is((C64Generic*)nullptr)},     {5, is((C64OceanType1*)nullptr)},
        {7, is((C64OceanType1*)nullptr)},  {8, is((C64SuperGames*)nullptr)},
        {10, is((C64Fastload*)nullptr)},   {15, is((C64GSSystem3*)nullptr)},
        {16, is((C64WarpSpeed*)nullptr)},  {17, is((C64Dinamic*)nullptr)},
        {18, is((C64Zaxxon*)nullptr)},     {19, is((C64MagicDesk*)nullptr)},
        {32, is((C64EasyFlash*)nullptr)},  {60, is((C64GMod2*)nullptr)},
    };
    Bytes image = CrtBuilder(0).chip(0, 0x8000, 0x2000).bytes();
    for (unsigned type = 0; type <= 0xFFFF; ++type) {
        image[22] = uint8_t(type >> 8);
        image[23] = uint8_t(type);
        const auto mapper = createC64Cartridge(image.data(), image.size(), nullptr);
        const auto it = listed.find(type);
        if (it == listed.end()) {
            EXPECT_EQ(mapper, nullptr) << "type " << type;
        } else {
            ASSERT_NE(mapper, nullptr) << "type " << type;
            EXPECT_TRUE(it->second(mapper.get())) << "type " << type;
        }
    }
}

TEST(CrtPacketWalk, PlacesEachChipByLoadAddressAndSize)
{
    const Bytes data16k = fixtures::countingBytes(0x4000, 1);
    const Bytes data12k = fixtures::countingBytes(0x3000, 2);
    const Bytes data8k = fixtures::countingBytes(0x2000, 3);
    const Bytes data4k = fixtures::countingBytes(0x1000, 4);
    const auto first = [](const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + n); };
    const auto joined = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const auto twice = [&](const Bytes& b) { return joined(b, b); };
    const Bytes zeros(CBMMapper::kBankSize, 0);

    struct Bank {
        unsigned which, bank;
        Bytes want;
    };
    const struct {
        const char* name;
        std::vector<CrtChip> chips;
        std::vector<Bank> banks;  // every other bank must be absent
    } cases[] = {
        {"16 KB at $8000",
         {chipWith(0, 0x8000, data16k)},
         {{0, 0, first(data16k, 0x2000)}, {1, 0, Bytes(data16k.begin() + 0x2000, data16k.end())}}},
        {"12 KB at $8000: ROMH half mirrored",
         {chipWith(4, 0x8000, data12k)},
         {{0, 4, first(data12k, 0x2000)}, {1, 4, twice(Bytes(data12k.begin() + 0x2000, data12k.end()))}}},
        {"8 KB at $A000, bank 2", {chipWith(2, 0xA000, data8k)}, {{1, 2, data8k}}},
        {"8 KB at $E000, bank 2", {chipWith(2, 0xE000, data8k)}, {{1, 2, data8k}}},
        {"4 KB at $8000 mirrored", {chipWith(0, 0x8000, data4k)}, {{0, 0, twice(data4k)}}},
        {"4 KB at $E000 mirrored", {chipWith(1, 0xE000, data4k)}, {{1, 1, twice(data4k)}}},
        {"16 KB at $A000: first 8 KB", {chipWith(0, 0xA000, data16k)}, {{1, 0, first(data16k, 0x2000)}}},
        {"8 KB at $9000 and 2 KB at $8000 skipped",
         {chipWith(0, 0x9000, data8k), chipWith(1, 0x8000, first(data8k, 0x800))},
         {}},
        {"empty ROML chip skipped", {chipWith(0, 0x8000, {})}, {}},
        {"2 KB at $A000 four times",
         {chipWith(0, 0xA000, first(data8k, 0x800))},
         {{1, 0, twice(twice(first(data8k, 0x800)))}}},
        {"6 KB at $E000, then 0",
         {chipWith(3, 0xE000, first(data8k, 0x1800))},
         {{1, 3, joined(first(data8k, 0x1800), Bytes(0x800, 0))}}},
        {"empty ROMH chip: a bank of 0", {chipWith(5, 0xA000, {})}, {{1, 5, zeros}}},
        {"bank 127 and a later chip replacing bank 0",
         {chipWith(0, 0x8000, data4k), chipWith(127, 0x8000, data8k), chipWith(0, 0x8000, data8k)},
         {{0, 0, data8k}, {0, 127, data8k}}},
    };
    for (const uint16_t type : {0, 32}) {
        for (const auto& c : cases) {
            CrtBuilder builder(type);
            for (const CrtChip& chip : c.chips)
                builder.chip(chip);
            const auto cart = makeCart(builder);
            ASSERT_NE(cart->mapper, nullptr) << c.name;
            EXPECT_TRUE(cart->loaded) << c.name;
            for (unsigned which = 0; which < 2; ++which) {
                for (unsigned bank = 0; bank < CBMMapper::kBankCount; ++bank) {
                    const Bank* want = nullptr;
                    for (const Bank& b : c.banks)
                        if (b.which == which && b.bank == bank)
                            want = &b;
                    EXPECT_EQ(cart->mapper->hasBank(which, bank), want != nullptr)
                        << c.name << " type " << type << " which " << which << " bank " << bank;
                    EXPECT_EQ(bankBytes(*cart->mapper, which, bank), want ? want->want : zeros)
                        << c.name << " type " << type << " which " << which << " bank " << bank;
                }
            }
        }
    }
}

TEST(CrtPacketWalk, ReadsTheSelectedBankThroughTheWindows)
{
    // EasyFlash switches any bank into both windows; bank 3 has no packet.
    CrtBuilder builder(32);
    for (uint16_t bank : {0, 1, 2, 4})
        builder.chip(bank, 0x8000, 0x4000);
    const auto cart = makeCart(builder);
    ASSERT_TRUE(cart->loaded);
    for (uint8_t bank : {4, 2, 3, 0}) {
        cart->mapper->writeIO1(0, bank);
        const bool present = bank != 3;
        EXPECT_EQ(window(*cart->mapper, 0), Bytes(0x2000, present ? crtBankMarker(0, bank) : 0))
            << "bank " << int(bank);
        EXPECT_EQ(window(*cart->mapper, 1), Bytes(0x2000, present ? crtBankMarker(1, bank) : 0))
            << "bank " << int(bank);
        EXPECT_EQ(cart->listener.mapped[0], cart->mapper->bankData(0, bank));
        EXPECT_EQ(cart->listener.mapped[1], cart->mapper->bankData(1, bank));
    }
}

TEST(CrtPacketWalk, AutostartFlagComesFromAnEightKilobyteRomlChip)
{
    const struct {
        const char* name;
        uint16_t loadAddress, size;
        bool autostart, want;
    } cases[] = {
        {"8 KB at $8000", 0x8000, 0x2000, true, true},
        {"16 KB at $8000", 0x8000, 0x4000, true, true},
        {"8 KB at $8000 without the bytes", 0x8000, 0x2000, false, false},
        {"4 KB at $8000", 0x8000, 0x1000, true, false},
        {"8 KB at $A000", 0xA000, 0x2000, true, false},
    };
    for (const auto& c : cases) {
        const auto cart = makeCart(CrtBuilder(0).chip(0, c.loadAddress, c.size, c.autostart));
        ASSERT_TRUE(cart->loaded) << c.name;
        EXPECT_EQ(cart->mapper->autostart(), c.want) << c.name;
    }
    // The flag from a later bank.
    const auto cart = makeCart(CrtBuilder(0).chip(0, 0x8000, 0x2000).chip(5, 0x8000, 0x2000, true));
    EXPECT_TRUE(cart->mapper->autostart());
}

TEST(CrtPacketWalk, MalformedPacketsFailTheLoad)
{
    CrtChip noChip;
    noChip.declaredLength = 0x2000 + 17;
    CrtChip bank128;
    bank128.bank = 128;
    const auto twoChips = [] { return CrtBuilder(0).chip(0, 0x8000, 0x2000).chip(1, 0x8000, 0x2000); };
    const size_t full = twoChips().bytes().size();
    const size_t second = twoChips().packetOffset(1);
    Bytes badTag = twoChips().bytes();
    badTag[second] = 'c';
    const struct {
        const char* name;
        Bytes image;
    } cases[] = {
        {"bank 128", CrtBuilder(0).chip(0, 0x8000, 0x2000).chip(bank128).bytes()},
        {"second packet length", CrtBuilder(0).chip(0, 0x8000, 0x2000).chip(noChip).bytes()},
        {"second packet tag", badTag},
        {"data cut 1 byte short", twoChips().truncated(full - 1)},
        {"header cut", twoChips().truncated(second + 15)},
        {"stray bytes after the last packet", twoChips().trailer({0, 0, 0}).bytes()},
    };
    for (const auto& c : cases) {
        RecordingListener listener;
        auto mapper = createC64Cartridge(c.image.data(), c.image.size(), &listener);
        ASSERT_NE(mapper, nullptr) << c.name;
        EXPECT_FALSE(mapper->load()) << c.name;
        EXPECT_TRUE(listener.calls.empty()) << c.name;
    }
    // Cut exactly after the first packet the image is whole.
    const Bytes one = twoChips().truncated(second);
    auto mapper = createC64Cartridge(one.data(), one.size(), nullptr);
    ASSERT_NE(mapper, nullptr);
    EXPECT_TRUE(mapper->load());
}

TEST(CrtGeneric, StartsWithTheHeaderLinesAndMapsBankZero)
{
    const auto cart = makeCart(CrtBuilder(0).lines(0, 1).chip(0, 0x8000, 0x4000));
    ASSERT_TRUE(cart->loaded);
    const auto& calls = cart->listener.calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, Call::SetLines);
    EXPECT_EQ(calls[0].lines, (Lines{1, 0}));
    EXPECT_EQ(calls[1].kind, Call::Map);
    EXPECT_EQ(calls[1].which, 0u);
    EXPECT_EQ(calls[1].bank, cart->mapper->bankData(0, 0));
    EXPECT_EQ(calls[2].kind, Call::Map);
    EXPECT_EQ(calls[2].which, 1u);
    EXPECT_EQ(calls[2].bank, cart->mapper->bankData(1, 0));
    EXPECT_EQ(cart->mapper->readRomL(0x1FFF), crtBankMarker(0, 0));
    EXPECT_EQ(cart->mapper->readRomH(0), crtBankMarker(1, 0));
}

TEST(CrtGeneric, AnAutostartingSingleEightKilobyteImageStartsInTheEightKilobyteMode)
{
    const struct {
        const char* name;
        CrtBuilder builder;
        Lines want;
    } cases[] = {
        {"8272 bytes with autostart", CrtBuilder(0).lines(0, 0).chip(0, 0x8000, 0x2000, true), {1, 0}},
        {"8272 bytes without", CrtBuilder(0).lines(0, 0).chip(0, 0x8000, 0x2000, false), {0, 0}},
        {"16 KB image with autostart", CrtBuilder(0).lines(0, 0).chip(0, 0x8000, 0x4000, true), {0, 0}},
        {"header lines nonzero", CrtBuilder(0).lines(7, 9).chip(0, 0x8000, 0x2000), {1, 1}},
    };
    for (const auto& c : cases) {
        const auto cart = makeCart(c.builder);
        ASSERT_TRUE(cart->loaded) << c.name;
        ASSERT_TRUE(cart->listener.lines) << c.name;
        EXPECT_EQ(*cart->listener.lines, c.want) << c.name;
    }
}

TEST(CrtMapper, OutlivesTheFreedImage)
{
    Bytes data = fixtures::countingBytes(0x4000, 9);
    CrtBuilder builder(32);
    builder.chip(chipWith(0, 0x8000, data)).chip(1, 0xA000, 0x1000).chip(2, 0x8000, 0x2000);
    auto image = std::make_unique<Bytes>(builder.bytes());
    RecordingListener listener;
    auto mapper = createC64Cartridge(image->data(), image->size(), &listener);
    ASSERT_NE(mapper, nullptr);
    ASSERT_TRUE(mapper->load());
    std::fill(image->begin(), image->end(), 0xEE);
    image.reset();  // the sanitizer build traps any read of it from here on

    EXPECT_EQ(window(*mapper, 0), Bytes(data.begin(), data.begin() + 0x2000));
    EXPECT_EQ(window(*mapper, 1), Bytes(data.begin() + 0x2000, data.end()));
    EXPECT_EQ(Bytes(listener.mapped[1], listener.mapped[1] + 0x2000), window(*mapper, 1));
    mapper->writeIO1(0, 1);
    EXPECT_EQ(window(*mapper, 1), Bytes(0x2000, crtBankMarker(1, 1)));
    EXPECT_EQ(window(*mapper, 0), Bytes(0x2000, 0));
    mapper->writeIO1(0, 2);
    EXPECT_EQ(window(*mapper, 0), Bytes(0x2000, crtBankMarker(0, 2)));
    // A second load has no image left to read.
    EXPECT_FALSE(mapper->load());
}
