// Importers of other programs' chip logs: YM files (AY-3-8910 frames), raw OPL captures and
// YM7129 register dumps. Every field is checked against the bytes present before it is read,
// and nothing is added to the song until the file has been found whole.

#include "media/VGMX.h"

#include "platform/PlatformTools.h"
#include "platform/ZRGSConv.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace VGM {

namespace {

constexpr int32_t kAyKind = 31;
constexpr uint32_t kAyClock = 1789772;
constexpr uint32_t kAyFrameRate = 60;
constexpr uint64_t kYmRegisters = 14;  // registers 14 and 15 of YM5 and YM6 frames are not read

constexpr uint32_t kOplRate = 1000;  // dt in milliseconds
constexpr uint64_t kDroMinimumSize = 13;
constexpr uint64_t kDroV2HeaderSize = 26;  // the code map follows

constexpr int32_t kOpk2Kind = 60;
constexpr uint32_t kOpk2Clock = 3579545;
constexpr uint32_t kOpk2Rate = 180000;
constexpr uint64_t kDumpRecordSize = 4;  // wait (big-endian), register, value

struct OplChip
{
    int32_t kind;
    const char* typeName;
    const char* displayName;
    uint32_t clock;
};
// By raw OPL hardware type: OPL2, dual OPL2, OPL3.
constexpr OplChip kOplChips[] = {
    {11, "YM3812", "OPL2", 3579545},
    {11, "YM3812", "OPL2", 3579545},
    {15, "YMF262", "OPL3", 14318182},
};
constexpr uint8_t kOplHardwareTypes = uint8_t(std::size(kOplChips));

uint16_t big16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

uint32_t big32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint16_t little16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where a YM member keeps its frames.
struct YmLayout
{
    std::string tag;
    uint64_t frames = 0;
    uint64_t data = 0;  // register r of frame f is at data + r * frames + f
    bool hasLoop = false;
    uint64_t loopFrame = 0;
    uint32_t clock = kAyClock;
    uint32_t rate = kAyFrameRate;
    bool hasTexts = false;
    std::string author;
    std::string comment;
};

// A zero-terminated text at pos; false when no zero comes before the end.
bool readText(const uint8_t* bytes, uint64_t size, uint64_t& pos, std::string& out)
{
    const void* zero = pos < size ? std::memchr(bytes + pos, 0, size - pos) : nullptr;
    if (!zero)
        return false;
    const uint64_t end = uint64_t(static_cast<const uint8_t*>(zero) - bytes);
    out = ZRGSConv(std::string(reinterpret_cast<const char*>(bytes + pos), end - pos), ENC_UTF8);
    pos = end + 1;
    return true;
}

// False when a header field, a digidrum, a text or the register data runs past the member, or
// a version 4 to 6 file lacks its "End!" trailer. An unknown tag has no frames.
bool readYmLayout(const uint8_t* bytes, uint64_t size, YmLayout& ym)
{
    if (size < 4)
        return false;
    ym.tag.assign(reinterpret_cast<const char*>(bytes), 4);
    if (ym.tag == "YM2!" || ym.tag == "YM3!") {
        ym.frames = (size - 4) / kYmRegisters;
        ym.data = 4;
        return true;
    }
    if (ym.tag == "YM3b") {
        if (size < 8)
            return false;
        ym.frames = (size - 8) / kYmRegisters;
        ym.data = 4;
        ym.hasLoop = true;
        ym.loopFrame = little32(bytes + size - 4);
        return true;
    }
    const bool version4 = ym.tag == "YM4!";
    if (!version4 && ym.tag != "YM5!" && ym.tag != "YM6!")
        return true;
    const uint64_t headerSize = version4 ? 28 : 34;
    if (size < headerSize || std::memcmp(bytes + size - 4, "End!", 4) != 0)
        return false;
    ym.frames = big32(bytes + 12);
    ym.hasLoop = true;
    uint32_t digidrums;
    uint64_t pos;
    if (version4) {
        digidrums = big16(bytes + 22);
        ym.loopFrame = big32(bytes + 24);
        pos = headerSize;
    } else {
        digidrums = big16(bytes + 20);
        ym.clock = big32(bytes + 22);
        ym.rate = big16(bytes + 26);
        ym.loopFrame = big32(bytes + 28);
        pos = headerSize + big16(bytes + 32);  // extra header bytes
    }
    if (pos > size)
        return false;
    for (uint32_t d = 0; d < digidrums; ++d) {
        if (size - pos < 4)
            return false;
        const uint32_t length = big32(bytes + pos);
        pos += 4;
        if (length > size - pos)
            return false;
        pos += length;
    }
    std::string songName;  // the file name names the song instead
    if (!readText(bytes, size, pos, songName) || !readText(bytes, size, pos, ym.author) ||
        !readText(bytes, size, pos, ym.comment))
        return false;
    ym.hasTexts = true;
    if (ym.frames * kYmRegisters > size - pos)
        return false;
    ym.data = pos;
    return true;
}

}  // namespace

void VGMX::addImportedChip(int32_t kind, const char* typeName, const char* displayName,
                           uint32_t clock, uint32_t rate)
{
    // What addChip does with a fresh record, without building one.
    VGMXChip& chip = chipOfKind(kind);
    chip.clear();
    chip.kind = kind;
    chip.typeName = typeName;
    chip.displayName = displayName;
    chip.clock = clock;
    chip.rate = rate;
    chip.addEvent(0, 0, 0, 0, VGMXEvent::kStart);
}

bool VGMX::importYm(const std::string& file)
{
    path = file;
    vantor::MetaContainer archive(file);
    return importYmContainer(archive, file);
}

bool VGMX::importYmFromMemory(const uint8_t* data, uint64_t size, const std::string& file)
{
    vantor::MetaContainer archive(data, size);
    return importYmContainer(archive, file);
}

bool VGMX::importYmContainer(vantor::MetaContainer& archive, const std::string& file)
{
    if (!archive.scan() || archive.entries().size() != 1)
        return false;
    std::vector<uint8_t> member;
    if (!extractWhole(archive, archive.entries()[0], member))
        return false;
    YmLayout ym;
    if (!readYmLayout(member.data(), member.size(), ym))
        return false;

    if (ym.hasTexts) {
        song.tags[VGMXSong::kAuthor] = ym.author;
        song.tags[VGMXSong::kNotes] = ym.comment;
    }
    song.tags[VGMXSong::kGameName] = ym.tag + " import";
    song.tags[VGMXSong::kTrackName] = stripFileExtension(getFileFromPath(file));
    song.loaded = 1;
    addImportedChip(kAyKind, "AY-3-8910", "", ym.clock, ym.rate);
    VGMXChip& ay = song.chips.at(kAyKind);

    const uint8_t* data = member.data() + ym.data;
    for (uint64_t f = 0; f < ym.frames; ++f) {
        if (ym.hasLoop && f == ym.loopFrame) {
            song.loopStart = ym.loopFrame;
            song.loopEnd = ym.frames;
            for (auto& [kind, chip] : song.chips)
                chip.loopIndex = chip.events.size();
            ay.addEvent(0, 0, 0, 0, VGMXEvent::kLoop);
        }
        for (uint64_t r = 0; r < kYmRegisters; ++r)  // one frame from register 0 on
            ay.addEvent(r == 0 ? 1 : 0, data[r * ym.frames + f], 0, uint8_t(r), VGMXEvent::kWrite);
    }
    if (ym.hasLoop)
        ay.addEvent(0, 0, 0, 0, VGMXEvent::kEnd);
    return true;
}

bool VGMX::importDroVersion1(const uint8_t* bytes, uint64_t size, bool shifted)
{
    // Files whose u16 at 8 is 0 keep a length in milliseconds first.
    const uint64_t lengthAt = shifted ? 16 : 12;
    const uint64_t hardwareAt = lengthAt + 4;
    if (hardwareAt >= size)
        return false;
    const uint32_t dataLength = little32(bytes + lengthAt);
    const uint8_t hardware = bytes[hardwareAt];
    if (hardware >= kOplHardwareTypes)
        return false;

    uint64_t pos = hardwareAt + 1;
    auto byteAt = [&](uint64_t i) { return i < size ? bytes[i] : uint8_t(0); };
    if (byteAt(pos) == 0 && byteAt(pos + 1) == 0 && byteAt(pos + 2) == 0)
        pos += 3;  // the hardware type was written as 32 bits
    const uint64_t end = std::min(size, pos + dataLength);

    const OplChip& opl = kOplChips[hardware];
    addImportedChip(opl.kind, opl.typeName, opl.displayName, opl.clock, kOplRate);
    VGMXChip& chip = song.chips.at(opl.kind);

    uint64_t wait = 0;
    uint8_t bank = 0;
    auto write = [&](uint8_t reg, uint8_t value) {
        chip.addEvent(saturateDt(wait), value, bank, reg, VGMXEvent::kWrite);
        wait = 0;
    };
    while (pos < end) {
        const uint8_t command = bytes[pos];
        const uint64_t left = end - pos;
        if (command == 0 && left >= 2) {
            wait += uint64_t(bytes[pos + 1]) + 1;
            pos += 2;
        } else if (command == 1 && left >= 3) {
            wait += uint64_t(little16(bytes + pos + 1)) + 1;
            pos += 3;
        } else if (command == 2 || command == 3) {
            bank = command - 2;
            pos += 1;
        } else if (command == 4 && left >= 3) {
            write(bytes[pos + 1], bytes[pos + 2]);
            pos += 3;
        } else if (command > 4 && left >= 2) {
            write(command, bytes[pos + 1]);
            pos += 2;
        } else {
            break;  // the last command's operands lie past the data
        }
    }
    song.loaded = 1;
    return true;
}

bool VGMX::importDro(const std::string& file)
{
    path = file;
    std::vector<uint8_t> bytes;
    return binFileInternalize(file, bytes) && importDroFromMemory(bytes.data(), bytes.size());
}

bool VGMX::importDroFromMemory(const uint8_t* data, uint64_t size)
{
    if (!data || size < kDroMinimumSize || std::memcmp(data, "DBRAWOPL", 8) != 0)
        return false;
    const uint16_t major = little16(data + 8);
    const uint16_t minor = little16(data + 10);
    if (minor == 1)
        return importDroVersion1(data, size, major == 0);
    if (major != 2 || minor != 0 || size < kDroV2HeaderSize)
        return false;

    const uint32_t pairs = little32(data + 12);
    const uint8_t hardware = data[20];
    const uint8_t shortDelay = data[23];
    const uint8_t longDelay = data[24];
    const uint8_t mapLength = data[25];
    const uint8_t* codeMap = data + kDroV2HeaderSize;
    const uint64_t pairsAt = kDroV2HeaderSize + mapLength;
    if (hardware >= kOplHardwareTypes || pairsAt > size || uint64_t(pairs) * 2 > size - pairsAt)
        return false;

    const OplChip& opl = kOplChips[hardware];
    addImportedChip(opl.kind, opl.typeName, opl.displayName, opl.clock, kOplRate);
    VGMXChip& chip = song.chips.at(opl.kind);
    uint64_t wait = 0;
    for (const uint8_t* pair = data + pairsAt; pair != data + pairsAt + uint64_t(pairs) * 2; pair += 2) {
        const uint8_t code = pair[0] & 0x7F;
        const uint8_t value = pair[1];
        if (code == shortDelay) {
            wait += uint64_t(value) + 1;
        } else if (code == longDelay) {
            wait += (uint64_t(value) + 1) * 256;
        } else if (code < mapLength) {
            chip.addEvent(saturateDt(wait), value, pair[0] >> 7, codeMap[code], VGMXEvent::kWrite);
            wait = 0;
        }
    }
    song.loaded = 1;
    return true;
}

bool VGMX::importRegisterDump(const std::string& file)
{
    path = file;
    std::vector<uint8_t> bytes;
    return binFileInternalize(file, bytes) &&
           importRegisterDumpFromMemory(bytes.data(), bytes.size());
}

bool VGMX::importRegisterDumpFromMemory(const uint8_t* data, uint64_t size)
{
    addImportedChip(kOpk2Kind, "YM7129", "OPK2", kOpk2Clock, kOpk2Rate);
    VGMXChip& chip = song.chips.at(kOpk2Kind);
    for (uint64_t at = 0; data && size - at >= kDumpRecordSize; at += kDumpRecordSize) {
        const uint32_t wait = at == 0 ? 0 : big16(data + at);  // the first record's wait is unused
        chip.addEvent(wait, data[at + 3], 0, data[at + 2], VGMXEvent::kWrite);
    }
    song.loaded = 1;
    return true;
}

}  // namespace VGM
