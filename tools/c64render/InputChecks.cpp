#include "InputChecks.h"

#include "machine/CBMMapper.h"
#include "machine/DiskImages.h"
#include "platform/PlatformTools.h"
#include "support/MetaContainer.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the tune reader refuses or recognises (sizes in bytes).
constexpr uint64_t kMinimumMedia = 16;
constexpr uint64_t kMaxProgram = 51199;  // after the two-byte load address
constexpr uint64_t kMaxImage = uint64_t(8) << 20;
constexpr uint64_t kD81Size = 819200;
constexpr uint64_t kD64Sizes[] = {174848, 175531, 196608, 197376, 205312, 206114};
constexpr uint64_t kT64Directory = 0x60;
constexpr uint64_t kRawCartridge = 8192;
constexpr uint64_t kKernalSize = 8192;
constexpr uint64_t kVgmHeader = 128;
constexpr size_t kProbeBytes = 0x80;  // the longest PSID header
constexpr uint16_t kFourSidVersion = 78;
constexpr uint64_t kMemoryTop = 0x10000;
constexpr uint16_t kBasicStart = 0x0801;  // where a disk's first program must load
constexpr uint16_t kMusFlag = 1;           // PSID flags bit 0: Sidplayer MUS data

// The common names of the CRT hardware types, by number.
const char* const kCartridgeNames[] = {
    "Normal cartridge", "Action Replay", "KCS Power Cartridge", "Final Cartridge III", "Simons' BASIC",
    "Ocean type 1", "Expert Cartridge", "Fun Play, Power Play", "Super Games", "Atomic Power",
    "Epyx Fastload", "Westermann Learning", "Rex Utility", "Final Cartridge I", "Magic Formel",
    "C64 Game System, System 3", "Warp Speed", "Dinamic", "Zaxxon, Super Zaxxon", "Magic Desk, Domark, HES Australia",
    "Super Snapshot V5", "Comal-80", "Structured BASIC", "Ross", "Dela EP64",
    "Dela EP7x8", "Dela EP256", "Rex EP256", "Mikro Assembler", "Final Cartridge Plus",
    "Action Replay 4", "Stardos", "EasyFlash", "EasyFlash Xbank", "Capture",
    "Action Replay 3", "Retro Replay", "MMC64", "MMC Replay", "IDE64",
    "Super Snapshot V4", "IEEE-488", "Game Killer", "Prophet64", "EXOS",
    "Freeze Frame", "Freeze Machine", "Snapshot64", "Super Explode V5.0", "Magic Voice",
    "Action Replay 2", "MACH 5", "Diashow-Maker", "Pagefox", "Kingsoft",
    "Silverrock 128K Cartridge", "Formel 64", "RGCD", "RR-Net MK3", "EasyCalc",
    "GMod2", "MAX Basic", "GMod3"};

const char* const kClockNames[] = {"unknown", "PAL", "NTSC", "both"};
const char* const kModelNames[] = {"unknown", "6581", "8580", "both"};

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[1] << 8 | p[0]);
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string sized(const std::string& what, uint64_t size)
{
    return what + " (" + std::to_string(size) + " bytes)";
}

std::string hex4(uint32_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "$%04X", value & 0xFFFFu);
    return text;
}

// "" when `bytes` of data loaded at `load` end at $FFFF or below, as the tune reader demands.
std::string pastTheTop(uint64_t load, uint64_t bytes)
{
    if (load + bytes <= kMemoryTop)
        return "";
    return "the data runs past $FFFF (load " + hex4(uint32_t(load)) + ", " + std::to_string(bytes) + " bytes)";
}

bool readAt(FILE* file, uint64_t offset, uint8_t* out, size_t count)
{
    return fseeko(file, off_t(offset), SEEK_SET) == 0 && std::fread(out, 1, count, file) == count;
}

// A 32-byte header text up to its first NUL (the last byte is always one), Latin-1 to UTF-8.
std::string headerText(const uint8_t* p)
{
    std::string out;
    for (size_t i = 0; i < 31 && p[i] != 0; ++i) {
        if (p[i] < 0x80) {
            out += char(p[i]);
        } else {
            out += char(0xC0 | p[i] >> 6);
            out += char(0x80 | (p[i] & 0x3F));
        }
    }
    return out;
}

bool isExtraSidByte(uint32_t b)
{
    return b <= 0xFF && (b & 1) == 0 && ((b >= 0x40 && b <= 0x7F) || b >= 0xE0);
}

bool isD64Size(uint64_t size)
{
    return std::find(std::begin(kD64Sizes), std::end(kD64Sizes), size) != std::end(kD64Sizes);
}

bool isCrt(const uint8_t* probe)
{
    return std::memcmp(probe, "C64 CARTRIDGE   ", 16) == 0;
}

bool isRawCartridge(const uint8_t* probe, uint64_t size)
{
    static constexpr uint8_t kAutostart[5] = {0xC3, 0xC2, 0xCD, 0x38, 0x30};  // "CBM80"
    return size >= kRawCartridge && std::memcmp(probe + 4, kAutostart, sizeof kAutostart) == 0;
}

bool isG64(const uint8_t* probe, uint64_t size)
{
    return std::memcmp(probe, "GCR-1541", 8) == 0 && probe[8] == 0 && size <= kMaxImage;
}

bool isTuneMagic(const uint8_t* probe, uint64_t size)
{
    return size >= 4 && (std::memcmp(probe, "PSID", 4) == 0 || std::memcmp(probe, "RSID", 4) == 0);
}

bool isT64Magic(const uint8_t* probe)
{
    return std::memcmp(probe, "C64", 3) == 0 && (probe[3] == 'S' || probe[3] == ' ');
}

bool isInstrumentMagic(const uint8_t* probe, uint64_t size)
{
    return size >= 8 && ((probe[0] == 0xA1 && probe[1] == 0x04) || std::memcmp(probe, "GTI", 3) == 0 ||
                         (probe[0] == 0xF0 && probe[1] == 0x00));
}

// A PSID/RSID header: `probe` holds the file's first bytes (zero past its end).
bool readTuneHeader(FILE* file, const uint8_t* probe, uint64_t size, TuneHeader& h, std::string& reason)
{
    reason = "not a PSID/RSID tune";
    if (!isTuneMagic(probe, size))
        return false;
    h.rsid = probe[0] == 'R';
    h.version = be16(probe + 0x04);
    const uint64_t headerBytes = h.version == kFourSidVersion ? 0x80 : h.version >= 2 ? 0x7C : 0x76;
    h.dataOffset = be16(probe + 0x06);
    if (size < headerBytes || size < uint64_t(h.dataOffset) + 2)
        return false;
    h.loadAddress = be16(probe + 0x08);
    h.initAddress = be16(probe + 0x0A);
    h.playAddress = be16(probe + 0x0C);
    h.songs = be16(probe + 0x0E);
    h.startSong = be16(probe + 0x10);
    h.speed = uint32_t(be16(probe + 0x12)) << 16 | be16(probe + 0x14);
    h.title = headerText(probe + 0x16);
    h.author = headerText(probe + 0x36);
    h.released = headerText(probe + 0x56);
    if (h.version >= 2) {
        h.flags = uint16_t((probe[0x76] & 3) << 8 | probe[0x77]);
        h.secondSid = probe[0x7A];
        h.thirdSid = probe[0x7B];
    }
    if (h.version == kFourSidVersion) {
        h.modelBytes[0] = probe[0x7B];
        h.modelBytes[1] = probe[0x7D];
        h.modelBytes[2] = probe[0x7F];
    }
    // A load address of 0: the first two data bytes hold it.
    uint64_t load = h.loadAddress;
    uint64_t dataSize = size - h.dataOffset;
    if (load == 0) {
        uint8_t embedded[2];
        if (!readAt(file, h.dataOffset, embedded, 2)) {
            reason = std::strerror(errno);
            return false;
        }
        load = le16(embedded);
        dataSize -= 2;
    }
    reason = pastTheTop(load, dataSize);
    return reason.empty();
}

// "" when the tune reader plays the tune; else why not.
std::string tuneProblem(const TuneHeader& h)
{
    if (!h.rsid && (h.flags & kMusFlag))
        return "this tune holds Sidplayer MUS data, which needs its player; it is not played";
    return "";
}

// "" when the tape holds one program the tune reader takes; else why not.
std::string tapeProblem(FILE* file, const uint8_t* probe, uint64_t size)
{
    const std::string notOne = sized("not a T64 tape holding one program", size);
    if (!isT64Magic(probe) || size < kT64Directory)
        return notOne;
    if (le16(probe + 0x24) != 1 || probe[0x40] != 1 || probe[0x41] != 0x82)
        return notOne;
    const uint64_t offset = le32(probe + 0x48);
    if (offset >= size || size - offset > kMaxProgram)
        return notOne;
    // A load address of 0: the data's first two bytes hold it.
    uint64_t load = le16(probe + 0x42), bytes = size - offset;
    if (load == 0) {
        uint8_t embedded[2];
        if (bytes < 2 || !readAt(file, offset, embedded, 2))
            return notOne;
        load = le16(embedded);
        bytes -= 2;
    }
    return pastTheTop(load, bytes);
}

// A directory name as text: PETSCII letters and ASCII punctuation as they are, anything else "?".
std::string printableName(const std::string& petscii)
{
    std::string out;
    for (const char c : petscii) {
        const uint8_t b = uint8_t(c);
        out += b >= 0x20 && b < 0x7F ? char(b) : b >= 0xC1 && b <= 0xDA ? char(b - 0x80) : '?';
    }
    return out;
}

// "" when the D64 image's first file is a program the tune reader starts; else why not.
std::string diskProblem(const std::string& path)
{
    vantor::ZRGFile file(path);
    if (!file.isOpen())
        return std::strerror(errno ? errno : EIO);
    D64File disk(&file);
    if (!disk.scan())
        return "the disk's directory or a file's sector chain cannot be read";
    if (disk.files.empty())
        return "the disk lists no files";
    const DiskFileEntry& first = disk.files.front();
    const std::string name = "\"" + printableName(first.name) + "\"";
    const std::string started = "; only a first file that loads at $0801 is started";
    if (first.bytes.size() >= 2 && le16(first.bytes.data()) != kBasicStart)
        return "the disk's first file " + name + " loads at " + hex4(le16(first.bytes.data())) + started;
    if (first.bytes.size() < 4)
        return "the disk's first file " + name + " holds only " + std::to_string(first.bytes.size()) +
               (first.bytes.size() == 1 ? " byte" : " bytes") + started;
    return pastTheTop(kBasicStart, first.bytes.size() - 2);
}

// Whether the machine's cartridge factory builds a mapper for CRT hardware type `type`: asked
// with a header and one empty CHIP packet of that type.
bool typeGetsMapper(uint16_t type)
{
    uint8_t image[CBMMapper::kHeaderSize + CBMMapper::kPacketHeaderSize] = {};
    std::memcpy(image, "C64 CARTRIDGE   ", 16);
    image[0x13] = CBMMapper::kHeaderSize;
    image[0x16] = uint8_t(type >> 8);
    image[0x17] = uint8_t(type);
    std::memcpy(image + CBMMapper::kHeaderSize, "CHIP", 4);
    image[CBMMapper::kHeaderSize + 7] = CBMMapper::kPacketHeaderSize;  // packet length, no ROM
    return createC64Cartridge(image, sizeof image, nullptr) != nullptr;
}

// "" when the cartridge's hardware type gets a mapper (a raw image is type 0); else why not.
std::string cartridgeProblem(const uint8_t* probe)
{
    if (!isCrt(probe))
        return "";
    const uint16_t type = be16(probe + 0x16);
    if (typeGetsMapper(type))
        return "";
    std::string supported;
    for (uint16_t t = 0; t < std::size(kCartridgeNames); ++t)  // every mapped type has a name
        if (typeGetsMapper(t))
            supported += (supported.empty() ? "" : ", ") + std::to_string(t);
    const std::string name = type < std::size(kCartridgeNames) ? std::string(" (") + kCartridgeNames[type] + ")" : "";
    return "cartridge hardware type " + std::to_string(type) + name + " is not supported (supported: " + supported + ")";
}

// "" when the archive holds a song the register-log reader plays: a member whose extension,
// as written, is vgm, vgz or gz.
std::string archiveProblem(const std::string& path, uint64_t size)
{
    vantor::MetaContainer archive(path);
    if (!archive.scan())
        return sized("not a zip or 7z archive", size);
    for (const vantor::MetaContainerEntry& entry : archive.entries()) {
        const std::string extension = getFileExtension(entry.name);
        if (extension == "vgm" || extension == "vgz" || extension == "gz")
            return "";
    }
    return "the archive holds no .vgm, .vgz or .gz song";
}

// The kind the module makes of a file by its first bytes and size, as the tune reader tells
// them apart (instrument files first, as the instrument does).
InputKind kindByContent(const uint8_t* probe, uint64_t size)
{
    if (isInstrumentMagic(probe, size))
        return InputKind::Instrument;
    if (isTuneMagic(probe, size))
        return InputKind::Tune;
    if (!isCrt(probe) && !isT64Magic(probe) && (size == kD81Size || std::memcmp(probe, "GCR-1541", 8) == 0))
        return InputKind::EmptyDisk;
    return InputKind::Program;
}

}  // namespace

std::vector<uint32_t> TuneHeader::sidModels() const
{
    const uint32_t first = (flags >> 4) & 3u;
    std::vector<uint32_t> models{first};
    auto add = [&](uint32_t model) { models.push_back(model ? model : first); };
    if (version < 2)
        return models;
    if (version == kFourSidVersion) {
        for (uint32_t k = 0; k < 3; ++k)
            if (isExtraSidByte(uint32_t(secondSid) + 2 * k))
                add((modelBytes[k] >> 4) & 3u);
        return models;
    }
    if (isExtraSidByte(secondSid))
        add((flags >> 6) & 3u);
    if (isExtraSidByte(thirdSid))
        add((flags >> 8) & 3u);
    return models;
}

bool InputFile::mayNeedRoms() const
{
    return kind == InputKind::Program || kind == InputKind::EmptyDisk ||
           (kind == InputKind::Tune && tune.rsid);
}

std::string lowerExtension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string extension;
    lowercase(getFileExtension(name), extension);
    return extension;
}

std::string readableFileProblem(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return std::strerror(errno);
    close(fd);
    return "";
}

std::string folderProblem(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    return S_ISDIR(st.st_mode) ? "" : std::strerror(ENOTDIR);
}

std::string writableFileProblem(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return std::strerror(EISDIR);
        return access(path.c_str(), W_OK) == 0 ? "" : std::strerror(errno);
    }
    if (errno != ENOENT)
        return std::strerror(errno);
    // A new file: its folder must take it.
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string folder = parent.empty() ? "." : parent.string();
    if (stat(folder.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return std::strerror(ENOTDIR);
    return access(folder.c_str(), W_OK | X_OK) == 0 ? "" : std::strerror(errno);
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    // The folders that exist resolved, the rest taken as written with "." and ".." worked out.
    auto normal = [](const std::string& path) {
        std::error_code ec;
        std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
        if (ec)
            p = std::filesystem::absolute(path, ec).lexically_normal();
        return p;
    };
    return !a.empty() && !b.empty() && normal(a) == normal(b);
}

bool checkInputFile(const std::string& path, InputFile& out, std::string& reason)
{
    out = InputFile();
    reason = readableFileProblem(path);
    if (!reason.empty())
        return false;
    FilePtr file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fileno(file.get()), &st) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    const uint64_t size = uint64_t(st.st_size);
    out.size = size;
    if (size == 0) {
        reason = "empty file";
        return false;
    }
    uint8_t probe[kProbeBytes] = {};
    if (!readAt(file.get(), 0, probe, size_t(std::min<uint64_t>(size, kProbeBytes)))) {
        reason = std::strerror(errno ? errno : EIO);
        return false;
    }

    const std::string extension = lowerExtension(path);
    static const char* const kMachineMedia[] = {"sid", "prg", "t64", "d64", "d71", "d81", "g64", "crt"};
    if (std::find(std::begin(kMachineMedia), std::end(kMachineMedia), extension) != std::end(kMachineMedia) &&
        size < kMinimumMedia) {
        reason = sized("too short", size);
        return false;
    }
    auto refuse = [&](const std::string& why) {
        reason = why;
        return false;
    };
    if (extension == "mus")
        return refuse("a .mus file needs its player program; render the .sid that holds both");
    // "" from a check of what the file holds: it plays.
    auto verdict = [&](const std::string& problem) { return problem.empty() || refuse(problem); };
    if (extension == "sid") {
        out.kind = InputKind::Tune;
        out.hasTune = readTuneHeader(file.get(), probe, size, out.tune, reason);
        return out.hasTune && verdict(tuneProblem(out.tune));
    }
    if (extension == "prg") {
        out.kind = InputKind::Program;
        if (size - 2 > kMaxProgram)
            return refuse(sized("a program holds at most " + std::to_string(kMaxProgram) + " bytes after its load address", size));
        return verdict(pastTheTop(le16(probe), size - 2));
    }
    if (extension == "t64") {
        out.kind = InputKind::Program;
        return verdict(tapeProblem(file.get(), probe, size));
    }
    if (extension == "d64") {
        out.kind = InputKind::Program;
        return (isD64Size(size) || refuse(sized("not a D64 image", size))) && verdict(diskProblem(path));
    }
    if (extension == "d71") {
        out.kind = InputKind::Program;  // a D64 by its size is read as one
        return (isD64Size(size) || refuse(sized("D71 images are not read; D64 images are", size))) &&
               verdict(diskProblem(path));
    }
    const std::string listsNothing = "D81 and G64 images are read but list no files, so nothing is started";
    if (extension == "d81") {
        out.kind = InputKind::EmptyDisk;
        return refuse(size == kD81Size ? listsNothing : sized("not a D81 image", size));
    }
    if (extension == "g64") {
        out.kind = InputKind::EmptyDisk;
        return refuse(isG64(probe, size) ? listsNothing : sized("not a G64 image", size));
    }
    if (extension == "crt") {
        out.kind = InputKind::Program;
        const bool cartridge = size <= kMaxImage && (isCrt(probe) || isRawCartridge(probe, size));
        return (cartridge || refuse(sized("not a CRT cartridge", size))) && verdict(cartridgeProblem(probe));
    }
    if (extension == "vgm" || extension == "vgz" || extension == "gz") {
        out.kind = InputKind::Log;
        const bool gzip = size >= 2 && probe[0] == 0x1F && probe[1] == 0x8B;
        const bool plain = size >= kVgmHeader && std::memcmp(probe, "Vgm ", 4) == 0;
        return gzip || plain || refuse(sized("not a VGM file", size));
    }
    if (extension == "zip" || extension == "7z" || extension == "vgm7z") {
        out.kind = InputKind::Log;
        reason = archiveProblem(path, size);
        return reason.empty();
    }
    if (extension == "rar")
        return refuse("RAR archives are not read; zip and 7z archives are");
    if (extension == "vgmx" || extension == "vgx" || extension == "dro" || extension == "ym") {
        out.kind = InputKind::Log;
        return true;
    }
    if (extension == "bin") {
        // A register dump, or else a raw cartridge image.
        out.kind = isRawCartridge(probe, size) ? InputKind::Program : InputKind::Log;
        return true;
    }
    out.kind = size < kMinimumMedia ? InputKind::Other : kindByContent(probe, size);
    if (out.kind == InputKind::Tune) {
        std::string ignored;
        out.hasTune = readTuneHeader(file.get(), probe, size, out.tune, ignored);
        if (!out.hasTune)
            out.kind = InputKind::Other;
    }
    return true;
}

std::string tuneListing(const TuneHeader& tune)
{
    std::string text = "title " + tune.title + "\nauthor " + tune.author + "\nreleased " + tune.released +
                       "\nsongs " + std::to_string(tune.songs) + "\nstart " + std::to_string(tune.startSong) +
                       "\nclock " + kClockNames[tune.clock()] + "\nmodel";
    for (const uint32_t model : tune.sidModels())
        text += std::string(" ") + kModelNames[model & 3u];
    return text + "\n";
}

const std::vector<std::string>& kernalRomNames()
{
    static const std::vector<std::string> names = {"kernal", "kernal.rom", "kernal.c64", "kernal.901227-03.bin",
                                                   "901227-03.u4", "kernal_generic.rom"};
    return names;
}

bool folderHasKernal(const std::string& folder)
{
    for (const std::string& name : kernalRomNames()) {
        struct stat st;
        const std::string path = folder + "/" + name;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) >= kKernalSize &&
            access(path.c_str(), R_OK) == 0)
            return true;
    }
    return false;
}
