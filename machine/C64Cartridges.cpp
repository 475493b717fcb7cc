#include "machine/C64Cartridges.h"

#include <cstring>

namespace {

// An image of exactly one 8 KB packet.
constexpr size_t kSingle8kImageSize = CBMMapper::kHeaderSize + CBMMapper::kPacketHeaderSize +
                                      CBMMapper::kBankSize;

}  // namespace

bool C64Generic::load()
{
    if (!loadChipPackets())
        return false;
    uint32_t game = headerGame;
    if (game == 0 && fileSize == kSingle8kImageSize)
        game = autostart() ? 1 : 0;  // an 8 KB ROM that autostarts wants the 8 KB configuration
    setExromGame(game, headerExrom);
    mapRomL(0);
    mapRomH(0);
    return true;
}

bool C64OceanType1::load()
{
    if (!loadChipPackets() || (!hasBank(0, 0) && !hasBank(1, 0)))  // bank 0 at any address
        return false;
    wide = true;
    for (unsigned bank = kSixteenKBanks; bank < kBankCount; ++bank)
        if (hasBank(0, bank) || hasBank(1, bank))
            wide = false;
    setExromGame(wide ? 0 : 1, 0);
    select(0);
    return true;
}

void C64OceanType1::writeIO1(uint8_t, uint8_t value)
{
    select(value & 127);
}

void C64OceanType1::select(unsigned bank)
{
    mapWindow(0, bank, hasBank(0, bank) ? 0 : 1);
    if (wide)
        mapWindow(1, bank, hasBank(1, bank) ? 1 : 0);
}

bool C64SuperGames::load()
{
    if (!loadChipPackets() || !hasBank(0, 0))
        return false;
    setExromGame(0, 0);
    mapRomL(0);
    return true;
}

// ROMH stays on bank 0 whichever ROML bank runs.
void C64SuperGames::writeIO2(uint8_t, uint8_t value)
{
    if (isLocked)
        return;
    mapRomL(value & 3);
    const uint32_t off = (value >> 2) & 1;
    setExromGame(off, off);
    isLocked = (value & 8) != 0;
}

bool C64Fastload::load()
{
    if (!loadChipPackets() || !hasBank(0, 0))
        return false;
    idleCycles = 0;
    on = true;
    setExromGame(1, 0);
    mapRomL(0);
    return true;
}

// The lines change only when the cartridge was off, so a busy ROML costs no listener call.
void C64Fastload::wake()
{
    idleCycles = 0;
    if (!on) {
        on = true;
        setExromGame(1, 0);
    }
}

uint8_t C64Fastload::readRomL(uint16_t offset)
{
    wake();
    return bankData(0, 0)[offset & (kBankSize - 1)];
}

uint8_t C64Fastload::readIO1(uint8_t)
{
    wake();
    return 255;
}

void C64Fastload::tick(uint64_t cycles)
{
    idleCycles += cycles;
    if (on && idleCycles > kIdleLimit) {
        on = false;
        setExromGame(1, 1);
    }
}

bool C64GSSystem3::load()
{
    if (!loadChipPackets() || !hasBank(0, 0))
        return false;
    setExromGame(headerGame, headerExrom);
    mapRomL(0);
    return true;
}

void C64GSSystem3::writeIO1(uint8_t, uint8_t value)
{
    mapRomL(value & 127);
}

bool C64WarpSpeed::load()
{
    if (!loadChipPackets() || !hasBank(0, 0) || !hasBank(1, 0))
        return false;
    setExromGame(0, 0);
    mapRomL(0);
    mapRomH(0);
    return true;
}

void C64WarpSpeed::writeIO1(uint8_t, uint8_t)
{
    mapRomL(0);
}

// Bank 1 reads zeros when the image has none.
void C64WarpSpeed::writeIO2(uint8_t, uint8_t)
{
    mapRomH(1);
}

uint8_t C64WarpSpeed::readIO1(uint8_t address)
{
    return bankData(0, 0)[0x1E00 + address];
}

uint8_t C64WarpSpeed::readIO2(uint8_t address)
{
    return bankData(0, 0)[0x1F00 + address];
}

bool C64Dinamic::load()
{
    if (!loadChipPackets() || !hasBank(0, 0))
        return false;
    setExromGame(1, 0);
    mapRomL(0);
    return true;
}

uint8_t C64Dinamic::readIO1(uint8_t address)
{
    mapRomL(address & 127);
    return 255;
}

bool C64Zaxxon::load()
{
    if (!loadChipPackets() || !hasBank(0, 0))
        return false;
    const uint8_t* first = bankData(0, 0);
    std::memcpy(romL.data(), first, kBankSize / 2);
    std::memcpy(romL.data() + kBankSize / 2, first, kBankSize / 2);
    setExromGame(0, 0);
    mapData(0, romL.data());
    mapRomH(0);
    return true;
}

// Only a change of the ROMH bank reaches the listener.
uint8_t C64Zaxxon::readRomL(uint16_t offset)
{
    const unsigned bank = (offset >> 12) & 1;
    if (bank != romHBank())
        mapRomH(bank);
    return romL[offset & (kBankSize - 1)];
}

bool C64MagicDesk::load()
{
    if (!loadChipPackets() || !hasBank(0, 0))
        return false;
    setExromGame(1, 0);
    mapRomL(0);
    return true;
}

void C64MagicDesk::writeIO1(uint8_t, uint8_t value)
{
    if (value & 0x80) {
        setExromGame(1, 1);
    } else {
        setExromGame(1, 0);
        mapRomL(value);
    }
}

bool C64EasyFlash::load()
{
    if (!loadChipPackets())
        return false;
    ram.fill(0);
    setExromGame(headerGame, headerExrom);
    mapRomL(0);
    mapRomH(0);
    return true;
}

void C64EasyFlash::writeIO1(uint8_t address, uint8_t value)
{
    switch (address) {
    case 0:  // bank register
        mapRomL(value & 127);
        mapRomH(value & 127);
        break;
    case 2:  // control: GAME = bit 2 and not bit 0, EXROM = not bit 1
        setExromGame((value & 4) && !(value & 1) ? 1 : 0, (value & 2) ? 0 : 1);
        break;
    default: break;
    }
}

uint8_t C64EasyFlash::readIO1(uint8_t)
{
    return 0;
}

void C64EasyFlash::writeIO2(uint8_t address, uint8_t value)
{
    ram[address] = value;
}

uint8_t C64EasyFlash::readIO2(uint8_t address)
{
    return ram[address];
}

bool C64GMod2::load()
{
    if (!loadChipPackets())
        return false;
    eeprom.fill(0);
    setExromGame(headerGame, headerExrom);
    mapRomL(0);
    return true;
}

void C64GMod2::writeIO1(uint8_t, uint8_t value)
{
    switch (value & 0xC0) {
    case 0xC0: eepromSelect = true; break;
    case 0x00: mapRomL(value & 63); break;
    default: break;
    }
}

uint8_t C64GMod2::readIO1(uint8_t)
{
    return 0;
}
