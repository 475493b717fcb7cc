// Expansion-port cartridges: CRT images turned into ROM banks, the ROML/ROMH windows, the IO1/IO2
// pages and the GAME/EXROM lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The machine side of the expansion port.
class CBMMapperListener {
public:
    virtual ~CBMMapperListener() = default;

    // which: 0 ROML, 1 ROMH; bank: its 8 KB, owned by the mapper and valid as long as it lives.
    virtual void mapBank(unsigned which, const uint8_t* bank) = 0;
    // Line levels, 0 active: (1, 0) 8 KB, (0, 0) 16 KB, (1, 1) off, (0, 1) Ultimax.
    virtual void setExromGame(uint32_t game, uint32_t exrom) = 0;
};

// One cartridge. The banks are copied out of the image by load(), so the image may be freed
// afterwards; a bank no packet filled reads 0.
class CBMMapper {
public:
    static constexpr size_t kBankSize = 0x2000;
    static constexpr unsigned kBankCount = 128;
    static constexpr size_t kHeaderSize = 64;
    static constexpr size_t kPacketHeaderSize = 16;

    // The image must stay valid until load() returns; listener null means nothing is connected.
    CBMMapper(const uint8_t* file, size_t size, CBMMapperListener* listener);
    virtual ~CBMMapper();
    CBMMapper(const CBMMapper&) = delete;
    CBMMapper& operator=(const CBMMapper&) = delete;

    // Called once; false leaves the cartridge unusable and the listener uncalled.
    virtual bool load();
    // offset: inside the 8 KB window.
    virtual uint8_t readRomL(uint16_t offset) { return romLData[offset & (kBankSize - 1)]; }
    virtual uint8_t readRomH(uint16_t offset) { return romHData[offset & (kBankSize - 1)]; }
    // address: the low byte of the I/O address.
    virtual void writeIO1(uint8_t address, uint8_t value);
    virtual void writeIO2(uint8_t address, uint8_t value);
    virtual void mapperHook7() {}
    virtual uint8_t readIO1(uint8_t address);
    virtual uint8_t readIO2(uint8_t address);
    virtual void tick(uint64_t cycles);

    unsigned romLBank() const { return romLIndex; }
    unsigned romHBank() const { return romHIndex; }
    // A ROML chip of at least 8 KB carries the autostart bytes.
    bool autostart() const { return autostartFlag; }
    // A bank's 8 KB (which: 0 ROML, 1 ROMH); the zero block when no packet filled it.
    const uint8_t* bankData(unsigned which, unsigned bank) const;
    bool hasBank(unsigned which, unsigned bank) const;

protected:
    // Walks the CHIP packets and copies their data into the banks; false on a malformed packet.
    bool loadChipPackets();
    void mapRomL(unsigned bank) { mapWindow(0, bank, 0); }
    void mapRomH(unsigned bank) { mapWindow(1, bank, 1); }
    // Window `which` (0 ROML, 1 ROMH) shows `bank` of table `table` (0 ROML, 1 ROMH).
    void mapWindow(unsigned which, unsigned bank, unsigned table);
    // Maps 8 KB that are not one of the bank tables' blocks (keeps the current index).
    void mapData(unsigned which, const uint8_t* data);
    void setExromGame(uint32_t game, uint32_t exrom) { listener->setExromGame(game, exrom); }

    // Header line levels (0 or 1), read at construction.
    uint32_t headerGame = 1;
    uint32_t headerExrom = 1;
    size_t fileSize;

private:
    const uint8_t* file;  // the image until load() returns, then null
    CBMMapperListener* listener;
    const uint8_t* banks[2][kBankCount];
    std::unique_ptr<uint8_t[]> storage;  // every filled bank, 8 KB each
    unsigned romLIndex = 0;
    unsigned romHIndex = 0;
    const uint8_t* romLData;
    const uint8_t* romHData;
    bool autostartFlag = false;
};

// The 16-byte CRT signature "C64 CARTRIDGE   ".
bool isC64CrtSignature(const uint8_t* bytes);
// A raw ROM dump: at least 8 KB with the autostart bytes at offset 4.
bool isRawC64Cartridge(const uint8_t* bytes, size_t size);
// Header and first packet header present, signature, header length $40, first packet length
// equal to its ROM size + 16.
bool isValidCrtImage(const uint8_t* file, size_t size);
// The mapper for the image's hardware type, not yet loaded; null for an invalid image or an
// unknown type.
std::unique_ptr<CBMMapper> createC64Cartridge(const uint8_t* file, size_t size,
                                              CBMMapperListener* listener);
