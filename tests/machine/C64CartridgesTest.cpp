// Bank switching and lines of each cartridge type. Every bank is filled with its marker (its
// number, | $80 in ROMH), so a window read names the bank behind it.
#include "machine/C64Cartridges.h"

#include "CartridgeHarness.h"

#include <gtest/gtest.h>

using namespace cart_test;
using fixtures::Bytes;
using fixtures::CrtBuilder;
using fixtures::crtBankMarker;

namespace {

constexpr uint8_t L(unsigned bank) { return crtBankMarker(0, bank); }
constexpr uint8_t H(unsigned bank) { return crtBankMarker(1, bank); }

// `count` banks at $8000 of `size` bytes each (16 KB gives ROML and ROMH).
CrtBuilder banks(uint16_t type, unsigned count, uint16_t size)
{
    CrtBuilder builder(type);
    for (unsigned bank = 0; bank < count; ++bank)
        builder.chip(uint16_t(bank), 0x8000, size);
    return builder;
}

// The last ROML/ROMH mapping the listener saw shows `marker` (0 for a zero bank).
void expectMapped(const Cart& cart, unsigned which, uint8_t marker)
{
    ASSERT_NE(cart.listener.mapped[which], nullptr);
    EXPECT_EQ(cart.listener.mapped[which][0], marker);
    EXPECT_EQ(cart.listener.mapped[which][0x1FFF], marker);
    EXPECT_EQ(which == 0 ? cart.mapper->readRomL(0x1000) : cart.mapper->readRomH(0x1000), marker);
}

}  // namespace

// Banks go by the packets' bank numbers whatever their load address; the selected bank's
// first 8 KB shows at $8000 and, in the 16 KB configuration, its second (or its only) 8 KB at
// $A000. Bank numbers of 32 and above mean the 8 KB configuration.
TEST(CartOcean, IO1SelectsTheBank)
{
    constexpr int kNone = -1;  // the ROMH window is never mapped
    struct Select {
        uint8_t value;  // IO1 write; 0xFF: the state after load
        uint8_t roml;
        int romh;
    };
    const auto highBanks = [](uint16_t type) {
        CrtBuilder builder(type);
        for (unsigned bank = 0; bank < 32; ++bank)
            builder.chip(uint16_t(bank), bank < 16 ? 0x8000 : 0xA000, 0x2000);
        return builder;
    };
    const struct {
        const char* name;
        CrtBuilder (*image)(uint16_t type);
        Lines lines;
        std::vector<Select> selects;
    } cases[] = {
        {"8 KB banks at $8000",
         [](uint16_t type) { return banks(type, 4, 0x2000); },
         {0, 0},
         {{0xFF, L(0), L(0)}, {2, L(2), L(2)}, {0x83, L(3), L(3)}, {9, 0, 0}, {0, L(0), L(0)}}},
        {"16 KB banks at $8000",
         [](uint16_t type) { return banks(type, 4, 0x4000); },
         {0, 0},
         {{0xFF, L(0), H(0)}, {3, L(3), H(3)}, {0x81, L(1), H(1)}}},
        {"256 KB, banks 16-31 at $A000",
         highBanks,
         {0, 0},
         {{20, H(20), H(20)}, {15, L(15), L(15)}, {31, H(31), H(31)}}},
        {"$8000 and $A000 chips of one number make one bank",
         [](uint16_t type) {
             return CrtBuilder(type)
                 .chip(0, 0x8000, 0x2000)
                 .chip(0, 0xA000, 0x2000)
                 .chip(1, 0x8000, 0x2000)
                 .chip(2, 0xE000, 0x1000);
         },
         {0, 0},
         {{0xFF, L(0), H(0)}, {1, L(1), L(1)}, {2, H(2), H(2)}, {0, L(0), H(0)}}},
        {"12 KB and 4 KB chips",
         [](uint16_t type) { return CrtBuilder(type).chip(0, 0x8000, 0x3000).chip(1, 0x8000, 0x1000); },
         {0, 0},
         {{0xFF, L(0), H(0)}, {1, L(1), L(1)}}},
        {"bank 0 only at $A000",
         [](uint16_t type) { return CrtBuilder(type).chip(0, 0xA000, 0x2000).chip(1, 0x8000, 0x2000); },
         {0, 0},
         {{0xFF, H(0), H(0)}, {1, L(1), L(1)}}},
        {"512 KB, 64 banks at $8000",
         [](uint16_t type) { return banks(type, 64, 0x2000); },
         {1, 0},
         {{0xFF, L(0), kNone}, {40, L(40), kNone}, {0xBF, L(63), kNone}}},
        {"a bank number above 31 at $A000",
         [](uint16_t type) { return CrtBuilder(type).chip(0, 0x8000, 0x2000).chip(40, 0xA000, 0x2000); },
         {1, 0},
         {{40, H(40), kNone}, {0, L(0), kNone}}},
    };
    for (const uint16_t type : {5, 7}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "type " << type << ", " << c.name);
            const auto cart = makeCart(c.image(type));
            ASSERT_TRUE(cart->loaded);
            EXPECT_EQ(cart->listener.linesSince(0), (std::vector<Lines>{c.lines}));
            EXPECT_EQ(cart->as<C64OceanType1>()->sixteenK(), c.lines.game == 0);
            for (const Select& s : c.selects) {
                SCOPED_TRACE(testing::Message() << "IO1 " << int(s.value));
                if (s.value != 0xFF) {
                    cart->mapper->writeIO1(0x00, s.value);
                    EXPECT_EQ(cart->mapper->romLBank(), s.value & 127u);
                }
                expectMapped(*cart, 0, s.roml);
                if (s.romh == kNone) {
                    EXPECT_EQ(cart->listener.mapped[1], nullptr);
                } else {
                    expectMapped(*cart, 1, uint8_t(s.romh));
                }
            }
        }
        EXPECT_FALSE(makeCart(CrtBuilder(type).chip(1, 0x8000, 0x2000))->loaded) << type;
        EXPECT_FALSE(makeCart(CrtBuilder(type).chip(1, 0xA000, 0x2000).chip(2, 0x8000, 0x4000))->loaded) << type;
    }
}

TEST(CartSuperGames, IO2SwitchesBankLinesAndLock)
{
    const auto cart = makeCart(banks(8, 4, 0x4000));
    ASSERT_TRUE(cart->loaded);
    EXPECT_EQ(cart->listener.linesSince(0), (std::vector<Lines>{{0, 0}}));
    expectMapped(*cart, 0, L(0));
    CBMMapper& m = *cart->mapper;

    m.writeIO2(0x00, 0x02);
    expectMapped(*cart, 0, L(2));
    EXPECT_EQ(m.readRomH(0), H(0));  // ROMH stays on bank 0
    EXPECT_EQ(cart->listener.lines, (Lines{0, 0}));

    m.writeIO2(0x00, 0x04);
    expectMapped(*cart, 0, L(0));
    EXPECT_EQ(cart->listener.lines, (Lines{1, 1}));
    EXPECT_FALSE(cart->as<C64SuperGames>()->locked());

    m.writeIO2(0x00, 0x08);
    EXPECT_EQ(cart->listener.lines, (Lines{0, 0}));
    EXPECT_TRUE(cart->as<C64SuperGames>()->locked());

    const size_t before = cart->listener.calls.size();
    m.writeIO2(0x00, 0x01);
    EXPECT_EQ(cart->listener.calls.size(), before);
    EXPECT_EQ(m.readRomL(0), L(0));

    EXPECT_FALSE(makeCart(CrtBuilder(8).chip(1, 0x8000, 0x4000))->loaded);
}

TEST(CartFastload, SwitchesOffWhenIdleAndOnAtAnyAccess)
{
    const auto cart = makeCart(CrtBuilder(10).chip(0, 0x8000, 0x2000).chip(1, 0x8000, 0x2000));
    ASSERT_TRUE(cart->loaded);
    CBMMapper& m = *cart->mapper;
    EXPECT_EQ(cart->listener.linesSince(0), (std::vector<Lines>{{1, 0}}));

    size_t mark = cart->listener.calls.size();
    m.tick(10000);
    EXPECT_TRUE(cart->listener.linesSince(mark).empty());
    m.tick(1);
    EXPECT_EQ(cart->listener.linesSince(mark), (std::vector<Lines>{{1, 1}}));

    mark = cart->listener.calls.size();
    EXPECT_EQ(m.readRomL(0x0123), L(0));
    EXPECT_EQ(cart->listener.linesSince(mark), (std::vector<Lines>{{1, 0}}));

    // Accesses restart the count.
    m.tick(9000);
    EXPECT_EQ(m.readIO1(0x00), 255);
    m.tick(9000);
    m.readRomL(0);
    m.tick(9000);
    EXPECT_EQ(cart->listener.linesSince(mark), (std::vector<Lines>{{1, 0}}));

    m.tick(2000);
    mark = cart->listener.calls.size();
    EXPECT_EQ(m.readIO1(0x42), 255);
    EXPECT_EQ(cart->listener.linesSince(mark), (std::vector<Lines>{{1, 0}}));

    EXPECT_FALSE(makeCart(CrtBuilder(10).chip(1, 0x8000, 0x2000))->loaded);
}

TEST(CartGSSystem3, IO1WriteSelectsTheBank)
{
    const auto cart = makeCart(banks(15, 16, 0x2000).lines(0, 1));
    ASSERT_TRUE(cart->loaded);
    EXPECT_EQ(cart->listener.lines, (Lines{1, 0}));
    cart->mapper->writeIO1(0x00, 9);
    expectMapped(*cart, 0, L(9));
    EXPECT_EQ(cart->mapper->readIO1(0x00), 255);
}

TEST(CartWarpSpeed, IOPagesShowTheEndOfBankZero)
{
    fixtures::CrtChip chip;
    chip.size = 0x4000;
    chip.data = fixtures::countingBytes(0x4000, 5);
    const auto cart = makeCart(CrtBuilder(16).chip(chip));
    ASSERT_TRUE(cart->loaded);
    CBMMapper& m = *cart->mapper;
    EXPECT_EQ(cart->listener.linesSince(0), (std::vector<Lines>{{0, 0}}));
    for (unsigned address : {0x00u, 0x10u, 0xFFu}) {
        EXPECT_EQ(m.readIO1(uint8_t(address)), (*chip.data)[0x1E00 + address]) << address;
        EXPECT_EQ(m.readIO2(uint8_t(address)), (*chip.data)[0x1F00 + address]) << address;
    }
    m.writeIO2(0x00, 0);
    EXPECT_EQ(m.romHBank(), 1u);
    EXPECT_EQ(Bytes(cart->listener.mapped[1], cart->listener.mapped[1] + 0x2000), Bytes(0x2000, 0));
    EXPECT_EQ(m.readRomH(0x0ABC), 0);

    const size_t mark = cart->listener.calls.size();
    m.writeIO1(0x00, 0x55);
    ASSERT_EQ(cart->listener.calls.size(), mark + 1);
    EXPECT_EQ(cart->listener.calls.back().bank, m.bankData(0, 0));

    EXPECT_FALSE(makeCart(CrtBuilder(16).chip(0, 0x8000, 0x2000))->loaded);  // no ROMH 0
}

TEST(CartDinamic, IO1ReadSelectsTheBankByAddress)
{
    const auto cart = makeCart(banks(17, 16, 0x2000));
    ASSERT_TRUE(cart->loaded);
    EXPECT_EQ(cart->listener.lines, (Lines{1, 0}));
    EXPECT_EQ(cart->mapper->readIO1(0x05), 255);
    expectMapped(*cart, 0, L(5));
    EXPECT_EQ(cart->mapper->readIO1(0x8C), 255);
    expectMapped(*cart, 0, L(12));
}

TEST(CartZaxxon, RomlReadsPickTheRomhBank)
{
    fixtures::CrtChip chip;
    chip.data = fixtures::countingBytes(0x2000, 6);
    const auto cart =
        makeCart(CrtBuilder(18).chip(chip).chip(0, 0xA000, 0x2000).chip(1, 0xA000, 0x2000));
    ASSERT_TRUE(cart->loaded);
    CBMMapper& m = *cart->mapper;
    EXPECT_EQ(cart->listener.linesSince(0), (std::vector<Lines>{{0, 0}}));
    expectMapped(*cart, 1, H(0));

    m.readRomL(0x1234);
    expectMapped(*cart, 1, H(1));
    m.readRomL(0x0234);
    expectMapped(*cart, 1, H(0));
    const size_t mark = cart->listener.calls.size();
    m.readRomL(0x0FFF);
    EXPECT_EQ(cart->listener.calls.size(), mark);  // same bank: no call

    // The first 4 KB twice, in the window and in the block handed to the machine.
    for (uint16_t offset = 0; offset < 0x2000; ++offset) {
        ASSERT_EQ(m.readRomL(offset), (*chip.data)[offset & 0x0FFF]) << offset;
        ASSERT_EQ(cart->listener.mapped[0][offset], (*chip.data)[offset & 0x0FFF]) << offset;
    }
}

TEST(CartMagicDesk, IO1SelectsTheBankOrSwitchesOff)
{
    const auto cart = makeCart(banks(19, 8, 0x2000));
    ASSERT_TRUE(cart->loaded);
    size_t mark = cart->listener.calls.size();
    cart->mapper->writeIO1(0x00, 3);
    EXPECT_EQ(cart->listener.linesSince(mark), (std::vector<Lines>{{1, 0}}));
    expectMapped(*cart, 0, L(3));
    mark = cart->listener.calls.size();
    cart->mapper->writeIO1(0x00, 0x80);
    EXPECT_EQ(cart->listener.linesSince(mark), (std::vector<Lines>{{1, 1}}));
    EXPECT_EQ(cart->listener.calls.size(), mark + 1);
}

TEST(CartEasyFlash, BankAndControlRegistersAndRam)
{
    const auto cart = makeCart(banks(32, 8, 0x4000).lines(1, 0));
    ASSERT_TRUE(cart->loaded);
    CBMMapper& m = *cart->mapper;
    EXPECT_EQ(cart->listener.linesSince(0), (std::vector<Lines>{{0, 1}}));

    m.writeIO1(0x00, 0x85);
    expectMapped(*cart, 0, L(5));
    expectMapped(*cart, 1, H(5));

    const struct {
        uint8_t value;
        Lines want;
    } control[] = {{0x07, {0, 0}}, {0x04, {1, 1}}, {0x06, {1, 0}}, {0x05, {0, 1}}, {0x00, {0, 1}}};
    for (const auto& c : control) {
        m.writeIO1(0x02, c.value);
        EXPECT_EQ(cart->listener.lines, c.want) << int(c.value);
    }

    const size_t mark = cart->listener.calls.size();
    for (uint8_t address : {0x01, 0x03, 0xFF})
        m.writeIO1(address, 0x07);
    EXPECT_EQ(cart->listener.calls.size(), mark);

    for (unsigned a = 0; a < 256; ++a)
        EXPECT_EQ(m.readIO2(uint8_t(a)), 0) << a;
    for (unsigned a = 0; a < 256; ++a)
        m.writeIO2(uint8_t(a), uint8_t(a * 3 + 1));
    for (unsigned a = 0; a < 256; ++a)
        EXPECT_EQ(m.readIO2(uint8_t(a)), uint8_t(a * 3 + 1)) << a;
    EXPECT_EQ(m.readIO1(0x00), 0);
    EXPECT_EQ(m.readIO1(0x02), 0);
}

TEST(CartGMod2, IO1SelectsTheBankOrTheEeprom)
{
    const auto cart = makeCart(banks(60, 64, 0x2000).lines(0, 1));
    ASSERT_TRUE(cart->loaded);
    CBMMapper& m = *cart->mapper;
    auto* gmod = cart->as<C64GMod2>();
    EXPECT_EQ(cart->listener.lines, (Lines{1, 0}));

    m.writeIO1(0x00, 5);
    expectMapped(*cart, 0, L(5));
    m.writeIO1(0x00, 0x3F);
    expectMapped(*cart, 0, L(63));

    size_t mark = cart->listener.calls.size();
    EXPECT_FALSE(gmod->eepromSelected());
    m.writeIO1(0x00, 0xC0);
    EXPECT_TRUE(gmod->eepromSelected());
    EXPECT_EQ(cart->listener.calls.size(), mark);
    m.writeIO1(0x00, 0x45);
    m.writeIO1(0x00, 0x85);
    EXPECT_EQ(cart->listener.calls.size(), mark);
    EXPECT_EQ(m.romLBank(), 63u);
    EXPECT_EQ(m.readIO1(0x00), 0);
}

TEST(CartTypes, NeedRomlBankZeroWhereTheyMapIt)
{
    // Bank 0 only at $A000: types that need ROML 0 refuse; the others load. The Ocean board
    // numbers its banks whatever their load address, so there it is bank 0.
    for (const uint16_t type : {0, 5, 8, 10, 15, 16, 17, 18, 19, 32, 60}) {
        const bool needsRoml0 = type != 0 && type != 5 && type != 32 && type != 60;
        const auto cart = makeCart(CrtBuilder(type).chip(0, 0xA000, 0x2000).chip(1, 0x8000, 0x2000));
        ASSERT_NE(cart->mapper, nullptr) << type;
        EXPECT_EQ(cart->loaded, !needsRoml0) << type;
        EXPECT_EQ(cart->listener.calls.empty(), needsRoml0) << type;
    }
}
