// The C64 cartridge types createC64Cartridge builds, by CRT hardware type.
#pragma once

#include "machine/CBMMapper.h"

#include <array>

// Type 0: plain 8 KB or 16 KB ROM, lines from the header.
class C64Generic : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
};

// Types 5 and 7: a bank is what the chips of one bank number hold, whatever their load
// address. Its first 8 KB is the $8000 chip's, or the $A000/$E000 chip's when that is all the
// bank has; its second 8 KB is the $A000/$E000 chip's or the upper half of a 12/16 KB $8000 chip,
// else the first again. So an $8000 and an $A000 chip of one number make a 16 KB bank, as one
// 16 KB chip does. An IO1 write selects bank value & 127: its first 8 KB at $8000 and, in the
// 16 KB configuration, its second at $A000. Boards of banks 0-31 (up to 256 KB) run in the 16 KB
// configuration; a bank number of 32 or more is the 512 KB board, run in the 8 KB configuration.
class C64OceanType1 : public CBMMapper {
public:
    static constexpr unsigned kSixteenKBanks = 32;

    using CBMMapper::CBMMapper;
    bool load() override;
    void writeIO1(uint8_t address, uint8_t value) override;
    // The 16 KB configuration (else 8 KB).
    bool sixteenK() const { return wide; }

private:
    void select(unsigned bank);

    bool wide = false;
};

// Type 8: IO2 write selects ROML bank (bits 0-1), switches off (bit 2) and locks (bit 3).
class C64SuperGames : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    void writeIO2(uint8_t address, uint8_t value) override;
    bool locked() const { return isLocked; }

private:
    bool isLocked = false;
};

// Type 10: switches itself off after more than 10000 cycles without a ROML or IO1 access.
class C64Fastload : public CBMMapper {
public:
    static constexpr uint64_t kIdleLimit = 10000;

    using CBMMapper::CBMMapper;
    bool load() override;
    uint8_t readRomL(uint16_t offset) override;
    uint8_t readIO1(uint8_t address) override;
    void tick(uint64_t cycles) override;

private:
    void wake();

    uint64_t idleCycles = 0;
    bool on = false;
};

// Type 15: IO1 write selects ROML bank value & 127.
class C64GSSystem3 : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    void writeIO1(uint8_t address, uint8_t value) override;
};

// Type 16: the IO pages show the end of ROML bank 0; IO2 write maps ROMH bank 1.
class C64WarpSpeed : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    void writeIO1(uint8_t address, uint8_t value) override;
    void writeIO2(uint8_t address, uint8_t value) override;
    uint8_t readIO1(uint8_t address) override;
    uint8_t readIO2(uint8_t address) override;
};

// Type 17: an IO1 read selects ROML bank address & 127.
class C64Dinamic : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    uint8_t readIO1(uint8_t address) override;
};

// Type 18: ROML shows the first 4 KB twice; a ROML read's address bit 12 selects ROMH bank 0 or 1.
class C64Zaxxon : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    uint8_t readRomL(uint16_t offset) override;

private:
    std::array<uint8_t, kBankSize> romL{};
};

// Type 19: IO1 write selects ROML bank; bit 7 switches the cartridge off.
class C64MagicDesk : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    void writeIO1(uint8_t address, uint8_t value) override;
};

// Type 32: bank register at IO1 $00, line control at IO1 $02, 256 bytes of RAM at IO2.
class C64EasyFlash : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    void writeIO1(uint8_t address, uint8_t value) override;
    uint8_t readIO1(uint8_t address) override;
    void writeIO2(uint8_t address, uint8_t value) override;
    uint8_t readIO2(uint8_t address) override;

private:
    std::array<uint8_t, 256> ram{};
};

// Type 60: IO1 write selects ROML bank value & 63, or with bits 7-6 set the EEPROM.
class C64GMod2 : public CBMMapper {
public:
    using CBMMapper::CBMMapper;
    bool load() override;
    void writeIO1(uint8_t address, uint8_t value) override;
    uint8_t readIO1(uint8_t address) override;
    bool eepromSelected() const { return eepromSelect; }

private:
    std::array<uint8_t, 2048> eeprom{};
    bool eepromSelect = false;
};
