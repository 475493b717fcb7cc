#include "machine/PSIDReader.h"

#include "machine/C64Emu.h"
#include "machine/CBMMapper.h"
#include "machine/DiskImages.h"
#include "machine/G64File.h"
#include "machine/SidId.h"
#include "media/MediaCallback.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t kProbeBytes = 16;
constexpr uint64_t kD81Size = 819200;
constexpr uint64_t kD64Sizes[] = {174848, 175531, 196608, 197376, 205312, 206114};
constexpr uint64_t kHeaderBytes = sizeof(PSIDHeader);  // 0x7C
constexpr uint64_t kFourSidHeaderBytes = 0x80;
constexpr uint64_t kVersion1HeaderBytes = 0x76;
// The largest tune whose data can fit: the highest data offset, an embedded load address, 64 KB.
constexpr uint64_t kMaxTuneFile = 0xFFFF + 2 + 0x10000;
constexpr uint64_t kCrtMinimum = 8272;  // header, one packet header and 8 KB
constexpr uint64_t kRawCartHeader = 80;  // CRT header and one CHIP packet header

// T64 directory: the header, then the first 32-byte entry.
constexpr uint64_t kT64Directory = 0x60;
constexpr size_t kT64UsedEntries = 0x24;
constexpr size_t kT64EntryType = 0x40;
constexpr size_t kT64FileType = 0x41;
constexpr size_t kT64StartAddress = 0x42;
constexpr size_t kT64DataOffset = 0x48;
constexpr size_t kT64Name = 0x50;
constexpr uint8_t kT64NormalFile = 1;
constexpr uint8_t kT64ProgramType = 0x82;

// Bytes of the raw header that stay 0 whatever the version (the ends of the three texts).
constexpr size_t kTextEnds[] = {0x35, 0x55, 0x75};

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void putBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void putBe32(uint8_t* p, uint32_t v)
{
    putBe16(p, uint16_t(v >> 16));
    putBe16(p + 2, uint16_t(v));
}

bool readAt(vantor::VirtualFile& file, uint64_t at, uint8_t* out, uint64_t count)
{
    if (count == 0)
        return true;
    return file.seek(int64_t(at)) && file.read(out, count) == count;
}

std::unique_ptr<uint8_t[]> zeroed(uint64_t n)
{
    return std::unique_ptr<uint8_t[]>(new uint8_t[n]());
}

// The file name without its folder.
std::string baseName(const std::string& path)
{
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

const char* modelName(uint32_t model)
{
    switch (model & 3) {
    case 1: return "6581";
    case 2: return "8580";
    case 3: return "Both";
    default: return "Unk.";
    }
}

uint16_t tuneFlags(const PSIDHeader& h)
{
    return h.version >= 2 ? h.flags : 0;
}

bool isWrapped(const PSIDHeader& h)
{
    return (tuneFlags(h) & psid::kFlagWrappedProgram) != 0;
}

}  // namespace

struct PSIDReader::Media {
    std::unique_ptr<uint8_t[]> tune;  // at least kHeaderBytes, zero after the file
    uint64_t tuneSize = 0;            // the file's bytes in it
    uint64_t dataSize = 0;
    std::unique_ptr<DiskFile> disk;
    std::unique_ptr<uint8_t[]> cart;
    uint64_t cartSize = 0;

    PSIDHeader& header() { return *reinterpret_cast<PSIDHeader*>(tune.get()); }

    // An RSID header in host order for a program (load 0: its first two bytes), then the bytes.
    void wrapProgram(const uint8_t* bytes, uint64_t count, const std::string& title, uint16_t load)
    {
        tuneSize = kWrappedDataOffset + count;
        tune = zeroed(tuneSize);
        PSIDHeader& h = header();
        std::memcpy(h.magic, "RSID", 4);
        h.version = 2;
        h.dataOffset = kWrappedDataOffset;
        h.loadAddress = load;
        h.songs = 1;
        h.startSong = 1;
        h.flags = psid::kFlagWrappedProgram;
        std::memcpy(h.title, title.data(), std::min<size_t>(title.size(), sizeof h.title - 1));
        if (count)
            std::memcpy(tune.get() + kWrappedDataOffset, bytes, count);
    }
};

PSIDReader::PSIDReader(MediaCallback* mediaCallback, std::string folder, PixelCanvas* canvas,
                       bool ntscMachine, const SidAddressList* sidAddresses)
    : MediaReader(mediaCallback),
      extraSidAddresses(sidAddresses),
      screen(canvas),
      ntsc(ntscMachine),
      dataFolder(std::move(folder))
{
}

PSIDReader::~PSIDReader()
{
    machine.reset();
    cartImage.reset();
    tuneBuffer.reset();
    diskImage.reset();
}

// ---------------------------------------------------------------------------------------------
// Opening

namespace {

using Media = PSIDReader::Media;

// A PSID or RSID file whole, its header turned to host order.
bool readTune(vantor::VirtualFile& file, uint64_t size, Media& m)
{
    if (size > kMaxTuneFile) {
        std::puts(PSIDReader::kTooMuchData);  // no data offset can bring it below 64 KB
        return false;
    }
    uint8_t raw[kFourSidHeaderBytes] = {};
    if (!readAt(file, 0, raw, std::min<uint64_t>(size, sizeof raw)))
        return false;
    const uint16_t version = be16(raw + 0x04);
    const uint64_t headerBytes = version == psid::kVersionFourSids ? kFourSidHeaderBytes
                                 : version >= 2                    ? kHeaderBytes
                                                                   : kVersion1HeaderBytes;
    if (size < headerBytes)
        return false;

    m.tuneSize = size;
    m.tune = zeroed(std::max(size, kHeaderBytes));
    if (!readAt(file, 0, m.tune.get(), size))
        return false;
    uint8_t* b = m.tune.get();
    for (const size_t at : kTextEnds)
        b[at] = 0;
    PSIDHeader h;
    std::memcpy(&h, b, sizeof h);
    h.version = version;
    h.dataOffset = be16(b + 0x06);
    h.loadAddress = be16(b + 0x08);
    h.initAddress = be16(b + 0x0A);
    h.playAddress = be16(b + 0x0C);
    h.songs = be16(b + 0x0E);
    h.startSong = be16(b + 0x10);
    h.speed = uint32_t(be16(b + 0x12)) << 16 | be16(b + 0x14);
    // A version 1 header ends at 0x76: what follows is data and stays as it is.
    const size_t converted = version >= 2 ? sizeof h : kVersion1HeaderBytes;
    if (version >= 2)
        h.flags = uint16_t((b[0x76] & 3) << 8 | b[0x77]);
    std::memcpy(b, &h, converted);
    return true;
}

bool readCartridge(vantor::VirtualFile& file, uint64_t size, Media& m)
{
    if (size > PSIDReader::kMaxImageFile)
        return false;
    m.cart = zeroed(std::max(size, kCrtMinimum));
    m.cartSize = size;
    return readAt(file, 0, m.cart.get(), size);
}

// A raw ROM dump behind a CRT header and one CHIP packet that declares 8 KB at $8000.
bool readRawCartridge(vantor::VirtualFile& file, uint64_t size, Media& m)
{
    if (size > PSIDReader::kMaxImageFile)
        return false;
    m.cartSize = size + kRawCartHeader;
    m.cart = zeroed(m.cartSize);
    uint8_t* c = m.cart.get();
    std::memcpy(c, "C64 CARTRIDGE   ", 16);
    putBe32(c + 0x10, 0x40);    // header length
    putBe16(c + 0x14, 0x0100);  // version
    putBe16(c + 0x16, 0);       // hardware type
    c[0x18] = 0;                // EXROM
    c[0x19] = 1;                // GAME
    std::memcpy(c + 0x20, "UKN", 3);
    uint8_t* chip = c + 0x40;
    std::memcpy(chip, "CHIP", 4);
    putBe32(chip + 0x04, 0x2010);  // packet length
    putBe16(chip + 0x08, 0);       // ROM
    putBe16(chip + 0x0A, 0);       // bank
    putBe16(chip + 0x0C, 0x8000);  // load address
    putBe16(chip + 0x0E, 0x2000);  // size
    return readAt(file, 0, c + kRawCartHeader, size);
}

// A tape with exactly one used entry, a program: its data up to the end of the file.
bool readTape(vantor::VirtualFile& file, uint64_t size, Media& m)
{
    uint8_t dir[kT64Directory];
    if (size < kT64Directory || !readAt(file, 0, dir, sizeof dir))
        return false;
    if (le16(dir + kT64UsedEntries) != 1 || dir[kT64EntryType] != kT64NormalFile ||
        dir[kT64FileType] != kT64ProgramType)
        return false;
    const uint64_t offset = le32(dir + kT64DataOffset);
    if (offset >= size || size - offset > PSIDReader::kMaxProgramBytes)
        return false;
    std::vector<uint8_t> data(size - offset);
    if (!readAt(file, offset, data.data(), data.size()))
        return false;
    const std::string title(reinterpret_cast<const char*>(dir + kT64Name), 16);
    m.wrapProgram(data.data(), data.size(), title.c_str(), le16(dir + kT64StartAddress));
    return true;
}

// A disk image; its first file becomes the tune when it loads at $0801.
bool readDisk(vantor::VirtualFile& file, uint64_t size, const uint8_t* probe, Media& m)
{
    std::unique_ptr<DiskFile> disk;
    if (size == kD81Size) {
        disk = std::make_unique<D81File>(&file);
    } else if (std::memcmp(probe, G64::kSignature, 8) == 0) {
        if (size > PSIDReader::kMaxImageFile)
            return false;
        disk = std::make_unique<G64File>(&file);
    } else {
        disk = std::make_unique<D64File>(&file);
    }
    if (!disk->scan())
        return false;
    if (!disk->files.empty()) {
        const DiskFileEntry& first = disk->files.front();
        if (first.bytes.size() >= 4 && first.bytes[0] == 0x01 && first.bytes[1] == 0x08)
            m.wrapProgram(first.bytes.data(), first.bytes.size(), first.name, 0);
    }
    m.disk = std::move(disk);
    return true;
}

bool readProgram(vantor::VirtualFile& file, uint64_t size, Media& m)
{
    if (size - 2 > PSIDReader::kMaxProgramBytes)
        return false;
    std::vector<uint8_t> bytes(size);
    if (!readAt(file, 0, bytes.data(), size))
        return false;
    m.wrapProgram(bytes.data(), size, baseName(vantor::virtualFileName(file)), 0);
    return true;
}

// The embedded load address taken out, init defaulted, the end checked.
bool finishTune(Media& m)
{
    PSIDHeader& h = m.header();
    if (h.dataOffset > m.tuneSize)
        return false;
    m.dataSize = m.tuneSize - h.dataOffset;
    if (h.loadAddress == 0) {
        if (m.dataSize < 2 || h.dataOffset > 0xFFFF - 2)
            return false;
        h.loadAddress = le16(m.tune.get() + h.dataOffset);
        h.dataOffset = uint16_t(h.dataOffset + 2);
        m.dataSize -= 2;
    }
    if (h.initAddress == 0)
        h.initAddress = h.loadAddress;
    if (h.loadAddress + m.dataSize > 0x10000) {
        std::puts(PSIDReader::kTooMuchData);
        return false;
    }
    return true;
}

}  // namespace

bool PSIDReader::openMedia(vantor::VirtualFile* file)
{
    uint8_t probe[kProbeBytes];
    if (!file || file->size() < int64_t(kProbeBytes) || !readAt(*file, 0, probe, kProbeBytes))
        return false;
    const uint64_t size = uint64_t(file->size());
    Media m;
    bool ok;
    if ((probe[0] | 2) == 'R' && std::memcmp(probe + 1, "SID", 3) == 0) {
        ok = readTune(*file, size, m);
    } else if (isC64CrtSignature(probe)) {
        ok = readCartridge(*file, size, m);
    } else if (std::memcmp(probe, "C64", 3) == 0 && (probe[3] == 'S' || probe[3] == ' ' || probe[3] == 'F')) {
        ok = probe[3] != 'F' && readTape(*file, size, m);
    } else if (size == kD81Size || std::memcmp(probe, G64::kSignature, 8) == 0 ||
               std::find(std::begin(kD64Sizes), std::end(kD64Sizes), size) != std::end(kD64Sizes)) {
        ok = readDisk(*file, size, probe, m);
    } else if (isRawC64Cartridge(probe, size)) {
        ok = readRawCartridge(*file, size, m);
    } else {
        ok = readProgram(*file, size, m);
    }
    file->seek(0);
    if (!ok || (m.tune && !finishTune(m)))
        return false;
    return adopt(m);
}

bool PSIDReader::adopt(Media& m)
{
    // The old machine goes before what it may point into.
    machine.reset();
    cartImage = std::move(m.cart);
    cartSize = m.cartSize;
    tuneBuffer = std::move(m.tune);
    tuneBufferSize = m.tuneSize;
    header = tuneBuffer ? reinterpret_cast<PSIDHeader*>(tuneBuffer.get()) : nullptr;
    dataSize = m.dataSize;
    diskImage = std::move(m.disk);
    playerInfo = nullptr;
    if (header && !dataFolder.empty()) {
        loadSidIdDatabase(dataFolder);
        playerInfo = findSidIdPlayer(tuneBuffer.get() + header->dataOffset, dataSize);
    }
    machine = std::make_unique<C64Emu>(callback, dataFolder, ntsc);
    machine->setSpeed(speed);
    opened = songReady = machine->buildMachine(screen, diskImage.get());
    return songReady;
}

// ---------------------------------------------------------------------------------------------
// Playing

bool PSIDReader::selectSong(uint64_t song)
{
    if (!machine || !opened)
        return false;
    if (!header)
        return songReady = startWithoutTune();
    const bool wrapped = isWrapped(*header);
    std::string text;
    if (wrapped) {
        if (extraSidAddresses) {
            if (const uint16_t second = (*extraSidAddresses)[1])
                header->secondSid = uint8_t(second >> 4);
            if (const uint16_t third = (*extraSidAddresses)[2])
                header->thirdSid = uint8_t(third >> 4);
        }
    } else {
        text = informationText(song);
    }
    songReady = machine->installTune(header, dataSize, uint32_t(song & 0xFF), text);
    if (songReady)
        callback->songSelected(song);
    else if (wrapped)
        songReady = machine->bootMachine();
    return songReady;
}

// A cartridge starts, anything else boots to the prompt (a disk image without a tune).
bool PSIDReader::startWithoutTune()
{
    if (cartImage && machine->insertCartridge(cartImage.get(), cartSize))
        return true;
    return machine->bootMachine();
}

uint64_t PSIDReader::advanceTicks(uint64_t ticks, double rate)
{
    if (!machine || !songReady)
        return ticks;
    return machine->advance(ticks, rate);
}

void PSIDReader::setPlayerOption(uint32_t option, int64_t value)
{
    if (option == 0)
        keyboardMapping = int(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void PSIDReader::resetPlayback()
{
    MediaReader::resetPlayback();
    setSpeed(1.0);
}

void PSIDReader::setSpeed(double newSpeed)
{
    if (newSpeed > 0.001)
        speed = newSpeed;
    if (machine)
        machine->setSpeed(speed);
}

void PSIDReader::sendMidiInput(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (machine)
        machine->sendMidiInput(status, data1, data2, keyboardMapping);
}

void PSIDReader::inputEvent(uint32_t port, uint8_t clearBits, uint8_t setBits)
{
    if (machine)
        machine->inputEvent(port, clearBits, setBits);
}

void PSIDReader::pressKey(uint16_t code)
{
    if (machine)
        machine->pressKey(code);
}

void PSIDReader::releaseKey(uint16_t code)
{
    if (machine)
        machine->releaseKey(code);
}

bool PSIDReader::isTuneReady()
{
    return machine && machine->getState() == C64Emu::STATE_PLAYING;
}

void PSIDReader::detachTimers(vantor::QuantumManager* queue)
{
    if (queue)
        queue->cancel(this);
}

void PSIDReader::attachTimers(vantor::QuantumManager* queue)
{
    if (queue)
        queue->addTimer(this, 0);
}

// ---------------------------------------------------------------------------------------------
// Queries

uint64_t PSIDReader::getSongCount()
{
    return header ? header->songs : 0;
}

uint64_t PSIDReader::getStartSong()
{
    // Songs count from 1; a start song of 0 means the first.
    return header && header->startSong > 0 ? header->startSong - 1u : 0;
}

const char* PSIDReader::getTitle(uint64_t)
{
    return header ? header->title : nullptr;
}

const char* PSIDReader::getAuthor(uint64_t)
{
    if (header && header->author[0] != 0)
        return header->author;
    return playerInfo ? playerInfo->author.c_str() : nullptr;
}

const char* PSIDReader::getReleased(uint64_t)
{
    return header ? header->released : nullptr;
}

const char* PSIDReader::getPlayerName(uint64_t)
{
    return playerInfo ? playerInfo->name.c_str() : nullptr;
}

const char* PSIDReader::getPlayerReference(uint64_t)
{
    return playerInfo ? playerInfo->reference.c_str() : nullptr;
}

uint64_t PSIDReader::getChipCount()
{
    if (!header)
        return cartImage ? 1 : 0;
    if (header->version < 2)
        return 1;
    const psid::ExtraSids extra = psid::extraSids(*header);
    if (!psid::isValidExtraSid(extra.bytes[0]))
        return 1;
    if (!psid::isValidExtraSid(extra.bytes[1]))
        return 2;
    if (header->version != psid::kVersionFourSids || !psid::isValidExtraSid(extra.bytes[2]))
        return 3;
    return 4;
}

std::string PSIDReader::informationText(uint64_t song) const
{
    if (!header)
        return {};
    const PSIDHeader& h = *header;
    const std::string rule = std::string(40, '-') + "\n";
    std::string text = "orbella C64 SID Player v1.0\nVantor Works.\n" + rule;
    char line[64];
    auto add = [&text, &line](const char* format, auto... values) {
        std::snprintf(line, sizeof line, format, values...);
        text += line;
    };
    if (h.title[0])
        add("Title :%s\n", h.title);
    if (h.author[0])
        add("Author:%s\n", h.author);
    if (h.released[0])
        add("(C)   :%s\n", h.released);
    add("Song  :%d/%d\n", int(song + 1), int(h.songs));
    text += rule;
    const bool rsid = psid::isRsid(h);
    add("Format:%s V%X\n", rsid ? "RSID" : "PSID", unsigned(h.version));
    const uint64_t end = h.loadAddress + (dataSize ? dataSize - 1 : 0);
    add("Memory:$%04X-$%04X\n", unsigned(h.loadAddress), unsigned(end));
    add("Init  :$%04X\n", unsigned(h.initAddress));
    if (!rsid)
        add("Play  :$%04X\n", unsigned(h.playAddress));
    text += rule;
    const uint16_t flags = tuneFlags(h);
    static constexpr const char* kClocks[4] = {"Unk.", "PAL ", "NTSC", "Both"};
    add("System:%s\n", kClocks[(flags >> 2) & 3]);
    if (rsid)
        text += "Sync  :Custom\n";
    else
        add("Sync  :%s\n", (h.speed >> std::min<uint64_t>(song, 31)) & 1 ? "CIA1" : "VBI");
    text += rule;

    const uint8_t* raw = tuneBuffer.get();
    const bool four = h.version == psid::kVersionFourSids;
    const uint32_t first = (flags >> 4) & 3;
    const uint32_t models[4] = {first, four ? uint32_t(raw[0x7B] >> 4) : uint32_t(flags >> 6),
                                four ? uint32_t(raw[0x7D] >> 4) : uint32_t(flags >> 8),
                                four ? uint32_t(raw[0x7F] >> 4) : 0u};
    const psid::ExtraSids extra = psid::extraSids(h);
    for (uint32_t n = 0; n < 4; ++n) {
        uint32_t address = 0xD400;
        if (n > 0) {
            if (!psid::isValidExtraSid(extra.bytes[n - 1]))
                continue;
            address = 0xD000 + extra.bytes[n - 1] * 16;
        }
        const uint32_t model = (models[n] & 3) ? models[n] : first;
        add("SID%u  :%s at $%04X\n", unsigned(n + 1), modelName(model), unsigned(address));
    }
    text += rule;
    if (playerInfo) {
        text += "Player:" + playerInfo->name + "\n";
        if (!playerInfo->author.empty())
            text += "Author:" + playerInfo->author + "\n";
        if (!playerInfo->reference.empty())
            text += "Ref   :" + playerInfo->reference + "\n";
    }
    return text;
}
