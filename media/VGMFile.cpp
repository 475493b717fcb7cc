// VGM logs: the header with its chip clocks, the GD3 tag and the stream of timed chip commands,
// read into the song of a VGMX. Nothing is played here.

#include "media/VGMX.h"

#include "platform/PlatformTools.h"
#include "platform/ZRGSConv.h"
#include "support/MetaContainer.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace VGM {

namespace {

// Header fields, by offset.
enum HeaderField : size_t {
    kEndOfFile = 0x04,
    kVersion = 0x08,
    kSn76489Clock = 0x0C,
    kYm2413Clock = 0x10,
    kGd3Offset = 0x14,
    kTotalSamples = 0x18,
    kLoopOffset = 0x1C,
    kLoopSamples = 0x20,
    kSnFeedback = 0x28,
    kSnShiftWidth = 0x2A,
    kYm2612Clock = 0x2C,
    kYm2151Clock = 0x30,
    kDataOffset = 0x34,
    kSegaPcmClock = 0x38,
    kSegaPcmInterface = 0x3C,
    kRf5c68Clock = 0x40,
    kYm2203Clock = 0x44,
    kYm2608Clock = 0x48,
    kYm2610Clock = 0x4C,
    kYm3812Clock = 0x50,
    kYm3526Clock = 0x54,
    kY8950Clock = 0x58,
    kYmf262Clock = 0x5C,
    kYmf278bClock = 0x60,
    kYmf271Clock = 0x64,
    kYmz280bClock = 0x68,
    kRf5c164Clock = 0x6C,
    kPwmClock = 0x70,
    kAy8910Clock = 0x74,
    kAyType = 0x78,
    kGameBoyClock = 0x80,
    kNesClock = 0x84,
    kUpd7759Clock = 0x8C,
    kOkim6258Clock = 0x90,
    kOkim6258Flags = 0x94,
    kOkim6295Clock = 0x98,
    kK051649Clock = 0x9C,
    kPokeyClock = 0xB0,
    kWonderSwanClock = 0xC0,
    kVsuClock = 0xC4,
    kSaa1099Clock = 0xC8,
    kEs5503Clock = 0xCC,
    kEs5506Clock = 0xD0,
    kX1010Clock = 0xD8,
    kC352Clock = 0xDC,
    kGa20Clock = 0xE0,
    kMikeyClock = 0xE4,
};

constexpr size_t kFirstRead = 64;
constexpr uint64_t kDefaultDataStart = 0x40;
constexpr uint32_t kClockMask = 0x3FFFFFFF;
constexpr uint32_t kSecondChipBit = 1u << 30;
constexpr uint32_t kBit31 = 1u << 31;
constexpr uint32_t kRate = 44100;
constexpr uint32_t kDacChannels = 16;
constexpr uint64_t kNoPosition = ~uint64_t(0);

// Kinds that the commands address.
enum Kind : int32_t {
    kSn76489 = 0,
    kSn76489Second = 1,
    kYm2612 = 5,
    kYm2610 = 9,
    kYm2610B = 10,
    kAy8910 = 31,
    kAy8910Second = 32,
    kPokey = 36,
    kMikey = 39,
    kFds = 41,
    kNesApu = 44,
    kNesApuSecond = 45,
    kGameBoy = 48,
    kSaa1099 = 53,
    kScc = 59,
};

// A chip of the header with one clock field: its second chip (bit 30 of the clock) takes
// `second`, -1 for chips that come single.
struct HeaderChip {
    size_t clock;
    const char* type;
    const char* display;
    int32_t kind;
    int32_t second;
};

constexpr HeaderChip kHeaderChips[] = {
    {kYm2413Clock, "YM2413", "OPLL", 4, 16},
    {kYm2612Clock, "YM2612", "OPN2", 5, 17},
    {kYm2151Clock, "YM2151", "OPM", 6, 18},
    {kYm2203Clock, "YM2203", "OPN", 7, 19},
    {kYm2608Clock, "YM2608", "OPNA", 8, 20},
    {kYm3812Clock, "YM3812", "OPL2", 11, 23},
    {kYm3526Clock, "YM3526", "OPL", 12, 24},
    {kY8950Clock, "Y8950", "MSX-AUDIO", 13, 25},
    {kYmf262Clock, "YMF262", "OPL3", 15, 27},
    {kYmf278bClock, "YMF278B", "OPL4", 28, -1},
    {kYmf271Clock, "YMF271", "OPX", 29, -1},
    {kYmz280bClock, "YMZ280B", "PCMD8", 14, 26},
    {kGameBoyClock, "GBDMG", "DMG-CPU", kGameBoy, -1},
    {kPokeyClock, "Pokey", "Pokey", kPokey, -1},
    {kK051649Clock, "SCC", "SCC", kScc, -1},
    {kWonderSwanClock, "WSwan", "WSwan", 51, -1},
    {kVsuClock, "VSU-VUE", "VSU", 52, -1},
    {kSaa1099Clock, "SAA1099", "SAA1099", kSaa1099, -1},
    {kEs5503Clock, "ES5503", "DOC1", 54, -1},
    {kEs5506Clock, "ES5506", "ES5506", 55, -1},
    {kX1010Clock, "X1-010", "X1-010", 56, -1},
    {kC352Clock, "C352", "C352", 57, -1},
    {kGa20Clock, "GA20", "GA20", 58, -1},
    {kMikeyClock, "MIKEY", "MIKEY", kMikey, -1},
};

// The PCM chips whose channels become DAC channels; only the first present one is taken.
struct PcmChip {
    size_t clock;
    uint32_t channels;
    const char* name;
};

constexpr PcmChip kPcmChips[] = {
    {kSegaPcmClock, 16, "SegaPCM"}, {kRf5c68Clock, 8, "RF5C68"},     {kRf5c164Clock, 2, "RF5C164"},
    {kPwmClock, 2, "32X PWM"},      {kUpd7759Clock, 1, "uPD7759"},    {kOkim6258Clock, 8, "OKIM6258"},
    {kOkim6295Clock, 8, "OKIM6295"},
};

// The chip that a two-operand "register, value" command writes.
constexpr int32_t plainWriteKind(uint8_t op)
{
    switch (op) {
    case 0x40:
    case 0x4E: return kMikey;
    case 0x51: return 4;
    case 0x54: return 6;
    case 0x55: return 7;
    case 0x5A: return 11;
    case 0x5B: return 12;
    case 0x5C: return 13;
    case 0x5D: return 14;
    case 0xA1: return 16;
    case 0xA4: return 18;
    case 0xA5: return 19;
    case 0xAA: return 23;
    case 0xAB: return 24;
    case 0xAC: return 25;
    case 0xAD: return 26;
    case 0xB3: return kGameBoy;
    case 0xBB: return kPokey;
    default: return kSaa1099;  // 0xBD
    }
}

const char* ayTypeName(uint8_t type)
{
    switch (type) {
    case 0x01: return "AY8912";
    case 0x02: return "AY8913";
    case 0x03: return "AY8930";
    case 0x10: return "YM2149";
    case 0x11: return "YM3439";
    case 0x12: return "YMZ284";
    case 0x13: return "YMZ294";
    default: return "AY8910";
    }
}

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Forward reads of the command stream: straight from the bytes of an in-memory source, else a
// window at a time. Past the end of the source every byte reads as 0.
class Cursor
{
public:
    Cursor(vantor::VirtualFile& source, uint64_t start) : source(source)
    {
        if (auto* ram = dynamic_cast<vantor::VirtualRAMFile*>(&source); ram && ram->data) {
            window = ram->data;
            filled = ram->length;
            at = start;
        } else {
            own.resize(kWindow);
            window = own.data();
            windowStart = start;
            more = true;
        }
    }

    uint64_t position() const { return windowStart + at; }

    uint8_t next() { return at < filled ? window[at++] : refill(); }
    uint16_t u16()
    {
        const uint8_t low = next();
        return uint16_t(low | next() << 8);
    }
    uint32_t u32()
    {
        const uint16_t low = u16();
        return uint32_t(low) | uint32_t(u16()) << 16;
    }
    void skip(uint32_t n)
    {
        while (n--)
            next();
    }
    // The next n bytes, which the source must hold: in place when they are in the window, else
    // copied into `scratch`.
    const uint8_t* take(uint64_t n, std::vector<uint8_t>& scratch)
    {
        if (at <= filled && filled - at >= n) {
            const uint8_t* bytes = window + at;
            at += n;
            return bytes;
        }
        scratch.assign(size_t(n), 0);
        const uint64_t held = at < filled ? filled - at : 0;
        if (held)
            std::copy_n(window + at, held, scratch.data());
        if (more)
            source.read(scratch.data() + held, n - held);
        windowStart = position() + n;
        at = filled = 0;
        return scratch.data();
    }

private:
    static constexpr size_t kWindow = 64 * 1024;

    uint8_t refill()
    {
        if (more) {
            windowStart += at;
            at = 0;
            filled = source.read(own.data(), own.size());
            more = filled != 0;
            if (filled)
                return window[at++];
        }
        ++at;
        return 0;
    }

    vantor::VirtualFile& source;
    std::vector<uint8_t> own;
    const uint8_t* window = nullptr;
    uint64_t windowStart = 0;  // source position of window[0]
    uint64_t filled = 0;
    uint64_t at = 0;
    bool more = false;  // the source may hold bytes past the window
};

// The GD3 tag at `at`: eleven zero-terminated UTF-16LE texts. False when its head is not a
// valid tag's; texts that run past the tag's length end the reading.
bool readGd3(VGMX& log, vantor::VirtualFile& source, uint64_t at, int64_t sourceSize)
{
    uint8_t head[12];
    if (at >= uint64_t(INT64_MAX) || !source.seek(int64_t(at)) || source.read(head, sizeof head) != sizeof head)
        return false;
    const uint32_t version = little32(head + 4);
    const uint32_t length = little32(head + 8);
    if (std::memcmp(head, "Gd3 ", 4) != 0 || version < 0x100 || length == 0 || (length & 1))
        return false;
    const int64_t position = source.tell();
    const uint64_t available = position >= 0 && sourceSize > position ? uint64_t(sourceSize - position) : 0;
    std::vector<uint8_t> bytes(size_t(std::min<uint64_t>(length, available)));
    bytes.resize(size_t(source.read(bytes.data(), bytes.size())));

    const size_t units = bytes.size() / 2;
    auto unitAt = [&](size_t i) { return char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8); };
    std::u16string text;
    size_t unit = 0;
    for (std::string& tag : log.song.tags) {
        size_t end = unit;
        while (end < units && unitAt(end) != 0)
            ++end;
        if (end >= units)
            break;
        text.clear();
        for (size_t i = unit; i < end; ++i)
            text.push_back(unitAt(i));
        tag = ZRGSConvCrudeUTF16_TO_UTF8(text);
        unit = end + 1;
    }
    return true;
}

class VgmReader
{
public:
    VgmReader(VGMX& log, vantor::VirtualFile& source) : log(log), source(source) {}

    bool read(bool readTag);

private:
    bool fail(const char* message)
    {
        log.appendMessage(message);
        return false;
    }
    void makeChips();
    void makeChip(uint32_t word, const char* type, const char* display, int32_t kind, uint32_t subtype = 0);
    bool readCommands(Cursor& in);
    bool dataBlock(Cursor& in);
    void dacStream(Cursor& in, uint8_t op);
    void ym2612Sample();
    void markLoop();
    bool finish();

    void wait(uint64_t samples)
    {
        elapsed += samples;
        pending.wait(samples);
    }
    // A "W" event on the kind's chip, made when missing; the song keeps its chips in place until
    // the end, so each is looked up once.
    void timedWrite(int32_t kind, uint8_t reg, uint8_t value, uint8_t port)
    {
        if (VGMXChip* chip = chips[size_t(kind)]) {
            chip->addEvent(saturateDt(pending.take(size_t(kind))), value, port, reg, VGMXEvent::kWrite);
        } else {
            log.addTimedWrite(kind, pending, value, port, reg, VGMXEvent::kWrite);
            chips[size_t(kind)] = &log.song.chips.find(kind)->second;
        }
    }
    // To a chip of the header; dropped when the header has no clock for it.
    void writeTo(int32_t kind, uint8_t reg, uint8_t value, uint8_t port = 0)
    {
        if (writable[size_t(kind)])
            timedWrite(kind, reg, value, port);
    }
    void writeDac(int32_t kind, uint8_t reg, uint8_t value, uint8_t port = 0) { timedWrite(kind, reg, value, port); }
    uint32_t clock(size_t field) const { return header.u32(field); }

    VGMX& log;
    vantor::VirtualFile& source;
    int64_t sourceSize = 0;
    VgmHeader header;
    PendingWaits pending;
    std::array<bool, kPendingKinds> writable{};  // kinds whose writes make events
    std::array<VGMXChip*, kPendingKinds> chips{};
    std::array<bool, kDacChannels> dacUsed{};
    uint64_t elapsed = 0;
    uint64_t dataEnd = 0;
    uint64_t loopPosition = kNoPosition;
    int32_t ym2610Kind = kYm2610;
    bool opn2Warned = false;
    std::vector<uint8_t> scratch;
};

bool VgmReader::read(bool readTag)
{
    sourceSize = source.size();
    if (sourceSize <= 127)
        return fail("VGM: File too short\n");
    if (source.tell() != 0 && !source.seek(0))
        return fail("VGM: marker not found\n");
    source.read(header.bytes.data(), kFirstRead);
    if (std::memcmp(header.bytes.data(), "Vgm ", 4) != 0)
        return fail("VGM: marker not found\n");
    const uint32_t version = header.u32(kVersion);
    if (!(version & 0x100)) {
        char text[64];
        std::snprintf(text, sizeof text, "VGM: bad version %04X \n", version);
        return fail(text);
    }
    log.resetSong();

    if (version <= 0x10F) {
        header.bytes[kSnFeedback] = 9;
        header.bytes[kSnFeedback + 1] = 0;
        header.bytes[kSnShiftWidth] = 16;
        header.setU32(kYm2612Clock, clock(kYm2413Clock));
        header.setU32(kYm2151Clock, clock(kYm2413Clock));
    }
    const uint32_t dataOffset = clock(kDataOffset);
    const uint64_t dataStart = dataOffset ? kDataOffset + uint64_t(dataOffset) : kDefaultDataStart;
    const uint64_t headerEnd = std::min<uint64_t>(dataStart, VgmHeader::kSize);
    if (headerEnd > kFirstRead)
        source.read(header.bytes.data() + kFirstRead, headerEnd - kFirstRead);

    if (readTag && clock(kGd3Offset) != 0 && readGd3(log, source, kGd3Offset + uint64_t(clock(kGd3Offset)), sourceSize) &&
        !source.canSeekBackwards())
        return fail("cannot seek backwards\n");

    dataEnd = std::min<uint64_t>(uint64_t(clock(kEndOfFile)) + 4, uint64_t(sourceSize));
    if (clock(kLoopSamples) != 0)
        loopPosition = kLoopOffset + uint64_t(clock(kLoopOffset));
    makeChips();

    // A failed seek reads nothing rather than going on from wherever the source stands.
    if (dataStart < dataEnd && source.seek(int64_t(dataStart))) {
        Cursor in(source, dataStart);
        if (!readCommands(in))
            return false;
    }
    return finish();
}

void VgmReader::makeChip(uint32_t word, const char* type, const char* display, int32_t kind, uint32_t subtype)
{
    VGMXChip chip = log.newChip();
    chip.kind = kind;
    chip.typeName = type;
    chip.displayName = display;
    chip.clock = word & kClockMask;
    chip.rate = kRate;
    chip.subtype = subtype;
    log.addChip(std::move(chip), true);
    writable[size_t(kind)] = true;
}

void VgmReader::makeChips()
{
    if (const uint32_t word = clock(kSn76489Clock)) {
        const bool segaPsg = header.u8(kSnShiftWidth) == 16;
        const char* type = segaPsg ? "Sega PSG" : "SN76489";
        makeChip(word, type, "DCSG", kSn76489, segaPsg ? 1 : 0);
        if (word & kBit31)
            makeChip(word, type, "DCSG", kSn76489Second, segaPsg ? 1 : 0);
    }
    for (const HeaderChip& row : kHeaderChips) {
        const uint32_t word = clock(row.clock);
        if (!word)
            continue;
        makeChip(word, row.type, row.display, row.kind);
        if (row.second >= 0 && (word & kSecondChipBit))
            makeChip(word, row.type, row.display, row.second);
    }
    if (const uint32_t word = clock(kYm2610Clock)) {
        const bool b = (word & kBit31) != 0;
        ym2610Kind = b ? kYm2610B : kYm2610;
        makeChip(word, b ? "YM2610B" : "YM2610", b ? "OPNB2" : "OPNB", ym2610Kind);
        if (word & kSecondChipBit)
            makeChip(word, b ? "YM2610B" : "YM2610", b ? "OPNB2" : "OPNB", ym2610Kind + 12);
    }
    // The AY and NES commands only ask whether their clock is set.
    if (const uint32_t word = clock(kAy8910Clock)) {
        const char* type = ayTypeName(header.u8(kAyType));
        makeChip(word, type, "AY", kAy8910);
        if (word & kSecondChipBit)
            makeChip(word, type, "AY", kAy8910Second);
        writable[kAy8910Second] = true;
    }
    if (const uint32_t word = clock(kNesClock)) {
        makeChip(word, "RP2A0X", "NESAPU", kNesApu);
        writeTo(kNesApu, 0x15, 0x0F);
        if (word & kSecondChipBit) {
            makeChip(word, "RP2A0X", "NESAPU", kNesApuSecond);
            writeTo(kNesApuSecond, 0x15, 0x0F);
        }
        if (word & kBit31) {
            makeChip(word, "RP2C33", "FDS", kFds);
            writeTo(kFds, 0x23, 0x83);
        }
        writable[kNesApuSecond] = writable[kFds] = true;
    }

    const PcmChip* pcm = nullptr;
    for (const PcmChip& row : kPcmChips)
        if (clock(row.clock)) {
            pcm = &row;
            break;
        }
    if (pcm) {
        uint32_t extra = 0;
        if (pcm->clock == kSegaPcmClock) {
            extra = clock(kSegaPcmInterface);
            log.segaPcmBankShift = extra & 15;
            log.segaPcmBankMask = ((extra >> 16) & 0x8C) | 0x70;
            log.segaPcmClock = clock(kSegaPcmClock) & kClockMask;
        } else if (pcm->clock == kOkim6258Clock) {
            extra = header.u8(kOkim6258Flags);
        }
        log.addPcmChannels(clock(pcm->clock) & kClockMask, pcm->channels, pcm->name, extra);
    } else {
        for (uint32_t i = 0; i < kDacChannels; ++i) {
            VGMXChip chip = log.newChip();
            chip.kind = kFirstDacKind + int32_t(i);
            chip.typeName = chip.displayName = "DAC";
            chip.clock = chip.rate = kRate;
            log.addChip(std::move(chip), false);
        }
    }
    if (const uint32_t word = clock(kPwmClock) & kClockMask)
        log.pwm.clock = word;
}

bool VgmReader::readCommands(Cursor& in)
{
    for (;;) {
        const uint64_t at = in.position();
        if (at == loopPosition)
            markLoop();
        if (at >= dataEnd) {
            PDebugLog("GetPos() >= fileEndOffset");
            return true;
        }
        const uint8_t op = in.next();
        switch (op) {
        case 0x00:
            break;
        case 0x30:
            writeTo(kSn76489Second, 0, in.next());
            break;
        case 0x31:
        case 0x32 ... 0x3E:
            in.next();
            break;
        case 0x3F:
            writeTo(kSn76489Second, 1, in.next());
            break;
        case 0x4F:
            writeTo(kSn76489, 1, in.next());
            break;
        case 0x50:
            writeTo(kSn76489, 0, in.next());
            break;
        case 0x41 ... 0x4D:
            in.skip(2);
            break;
        case 0x40:
        case 0x4E:
        case 0x51:
        case 0x54:
        case 0x55:
        case 0x5A ... 0x5D:
        case 0xA1:
        case 0xA4:
        case 0xA5:
        case 0xAA ... 0xAD:
        case 0xB3:
        case 0xBB:
        case 0xBD: {
            const uint8_t reg = in.next();
            writeTo(plainWriteKind(op), reg, in.next());
            break;
        }
        case 0x52 ... 0x53:
        case 0x56 ... 0x59:
        case 0x5E ... 0x5F:
        case 0xA2 ... 0xA3:
        case 0xA6 ... 0xA9:
        case 0xAE ... 0xAF: {
            const uint8_t reg = in.next();
            const uint8_t value = in.next();
            int32_t kind = 0;
            switch (op & 0xFE) {
            case 0x52: kind = kYm2612; break;
            case 0x56: kind = 8; break;
            case 0x58: kind = ym2610Kind; break;
            case 0x5E: kind = 15; break;
            case 0xA2: kind = kYm2612 + 12; break;
            case 0xA6: kind = 8 + 12; break;
            case 0xA8: kind = ym2610Kind + 12; break;
            default: kind = 15 + 12; break;
            }
            writeTo(kind, reg, value, op & 1);
            break;
        }
        case 0x61:
            wait(in.u16());
            break;
        case 0x62:
            wait(735);
            break;
        case 0x63:
            wait(882);
            break;
        case 0x66:
            return true;
        case 0x67:
            if (!dataBlock(in))
                return false;
            break;
        case 0x68:
            if (in.next() != 0x66)
                return fail("pcm ram block not at end\n");
            in.skip(10);
            break;
        case 0x70 ... 0x7F:
            wait((op & 15) + 1);
            break;
        case 0x80 ... 0x8F:
            ym2612Sample();
            wait(op & 15);
            break;
        case 0x90 ... 0x95:
            dacStream(in, op);
            break;
        case 0xA0: {
            const uint8_t reg = in.next();
            const uint8_t value = in.next();
            writeTo(reg < 0x80 ? kAy8910 : kAy8910Second, reg & 0x7F, value);
            break;
        }
        case 0xB0: {
            const uint8_t reg = in.next();
            log.writeRf5c68(reg, in.next());
            break;
        }
        case 0xB1:
        case 0xB5 ... 0xB7:
        case 0xB9 ... 0xBA:
        case 0xBC:
        case 0xBE ... 0xBF:
            in.skip(2);
            break;
        case 0xB2: {
            const uint8_t byte1 = in.next();
            const uint8_t byte2 = in.next();
            if (clock(kPwmClock))
                log.writePwm(clock(kPwmClock), pending, byte1, byte2);
            break;
        }
        case 0xB4: {
            const uint8_t reg = in.next();
            const uint8_t value = in.next();
            if (reg < 0x20)
                writeTo(kNesApu, reg, value);
            else if (reg >= 0x80)
                writeTo(kNesApuSecond, reg & 0x1F, value);
            else
                writeTo(kFds, reg < 0x3F ? uint8_t(reg + 0x60) : reg == 0x3F ? 0x23 : reg, value);
            break;
        }
        case 0xB8: {
            const uint8_t reg = in.next();
            const uint8_t value = in.next();
            if (clock(kOkim6295Clock))
                log.writeOkim6295(clock(kOkim6295Clock), pending, reg, value);
            break;
        }
        case 0xC0: {
            const uint16_t address = in.u16();
            const uint8_t value = in.next();
            if (clock(kSegaPcmClock))
                log.writeSegaPcm(clock(kSegaPcmClock), pending, address, value);
            break;
        }
        case 0xC1 ... 0xD1:
        case 0xD3 ... 0xDF:
            in.skip(3);
            break;
        case 0xD2: {
            const uint8_t port = in.next();
            const uint8_t reg = in.next();
            writeTo(kScc, reg, in.next(), port);
            break;
        }
        case 0xE0:
            log.addSampleStart(in.u32());
            break;
        case 0xE1 ... 0xFF:
            in.skip(4);
            break;
        default: {
            // 0x01-0x2F take one operand; the rest are unknown to every version: the end.
            const bool end = op > 0x2F;
            char text[80];
            std::snprintf(text, sizeof text, "%08X UNKNOWN OPCODE 0x%02X, advancing %d\n", uint32_t(at), op, end ? 0 : 1);
            log.appendMessage(text);
            if (end) {
                log.appendMessage("Treating this last opcode as the end\n");
                return true;
            }
            in.next();
            break;
        }
        }
    }
}

bool VgmReader::dataBlock(Cursor& in)
{
    if (in.next() != 0x66)
        return fail("data block not at end\n");
    const uint8_t type = in.next();
    const uint32_t word = in.u32();
    const uint32_t length = word & 0x7FFFFFFF;
    const uint64_t position = in.position();
    const uint64_t remaining = uint64_t(sourceSize) > position ? uint64_t(sourceSize) - position : 0;
    if (length > remaining || length < VGMX::dataBlockHeadSize(type))
        return fail("data block busting protection\n");
    log.addDataBlock(in.take(length, scratch), length, header, type, (word & kBit31) != 0);
    if (type == 0xC2)  // NES APU RAM: the APU is told the new bank
        writeTo(kNesApu, 0x19, uint8_t(log.song.banks.size() - 1));
    return true;
}

void VgmReader::dacStream(Cursor& in, uint8_t op)
{
    const uint8_t channel = in.next();
    const int32_t kind = kFirstDacKind + (channel & 15);
    switch (op) {
    case 0x90: {
        const uint8_t type = in.next();
        const uint8_t port = in.next();
        const uint8_t command = in.next();
        writeDac(kind, 0, type);
        writeDac(kind, 1, command, port);
        break;
    }
    case 0x91: {
        const uint8_t bank = in.next();
        const uint8_t step = in.next();
        const uint8_t base = in.next();
        writeDac(kind, 2, bank);
        writeDac(kind, 3, step, base);
        break;
    }
    case 0x92:
        log.addTimedWrite32(kind, pending, 4, in.u32());
        break;
    case 0x93: {
        const uint32_t start = in.u32();
        const uint8_t mode = in.next();
        const uint32_t length = in.u32();
        dacUsed[channel & 15] = true;
        log.addTimedWrite32(kind, pending, 8, start);
        log.addTimedWrite32(kind, pending, 10, length);
        writeDac(kind, 12, mode);
        break;
    }
    case 0x94:
        if (channel == 0xFF) {
            for (uint32_t c = 0; c < kDacChannels; ++c)
                if (dacUsed[c])
                    writeDac(kFirstDacKind + int32_t(c), 14, 0);
        } else {
            writeDac(kind, 14, 0);
            dacUsed[channel & 15] = true;
        }
        break;
    default: {  // 0x95
        const uint16_t block = in.u16();
        const uint8_t flags = in.next();
        dacUsed[channel & 15] = true;
        writeDac(kind, 13, uint8_t(block), flags);
        break;
    }
    }
}

// One byte of the first sample bank to the YM2612's DAC register per command.
void VgmReader::ym2612Sample()
{
    const std::vector<SampleBank>& banks = log.song.banks;
    const bool usable = !banks.empty() && banks[0].type == 0 && !banks[0].raw.empty();
    if (!usable && opn2Warned)
        return;  // said once per log
    uint64_t size = 0;
    const uint8_t* bytes = log.ym2612SampleData(size);
    if (!bytes) {
        opn2Warned = log.song.chips.contains(kFirstDacKind);
        return;
    }
    if (log.ym2612SamplePosition < size) {
        writeTo(kYm2612, 0x2A, bytes[log.ym2612SamplePosition]);
        ++log.ym2612SamplePosition;
    }
}

void VgmReader::markLoop()
{
    for (auto& [kind, chip] : log.song.chips)
        chip.loopIndex = chip.events.size();
    log.song.loopStart = elapsed;
    log.song.loopEnd = elapsed + clock(kLoopSamples);
    log.flushPending(pending, VGMXEvent::kLoop);
}

bool VgmReader::finish()
{
    log.flushPending(pending, VGMXEvent::kEnd);
    std::vector<int32_t> unused;
    for (const auto& [kind, chip] : log.song.chips)
        if (chip.events.size() <= 3)
            unused.push_back(kind);
    for (int32_t kind : unused)
        log.removeChip(kind);
    if (log.song.chips.empty())
        return fail("no chips used?\n");

    if (auto psg = log.song.chips.find(kSn76489); psg != log.song.chips.end()) {
        const auto& events = psg->second.events;
        if (std::any_of(events.begin(), events.end(), [](VGMXEvent e) {
                return e.kind() == VGMXEvent::kWrite && e.reg() == 1 && e.value() != 0xFF;
            })) {
            psg->second.typeName = "Sega GG";
            psg->second.subtype = 2;
        }
    }
    if (elapsed != clock(kTotalSamples))
        log.appendMessage("TotalLength!=sampleCount\n");
    for (const auto& [kind, chip] : log.song.chips)
        if (chip.total > elapsed)
            return fail("longest>sampleCount\n");
    // Chips whose waits were cut to 32 bits catch up, repeating their last event.
    for (auto& [kind, chip] : log.song.chips) {
        const VGMXEvent last = chip.events.back();
        while (chip.total < elapsed) {
            const uint32_t dt = saturateDt(elapsed - chip.total);
            chip.addEvent(dt, last.value(), last.port(), last.reg(), last.kind());
        }
    }
    log.song.loaded = 1;
    return true;
}

// A buffer of zeros where an entry could not be extracted: the reader then fails as it would
// on the zero-filled entry.
bool readUnextracted(VGMX& log, uint64_t size)
{
    std::vector<uint8_t> zeros(size_t(std::min<uint64_t>(size, VgmHeader::kSize)), 0);
    vantor::VirtualRAMFile source(zeros.data(), zeros.size());
    return readVgm(log, source, true);
}

}  // namespace

bool readVgm(VGMX& collection, vantor::VirtualFile& source, bool readTag)
{
    return VgmReader(collection, source).read(readTag);
}

bool VGMX::loadFromArchive(const std::string& file)
{
    path = file;
    vantor::MetaContainer archive(file);
    if (!archive.scan())
        return loadFromPlainFile(file);
    if (archive.entries().empty())
        return false;
    std::vector<uint8_t> bytes;
    if (!extractWhole(archive, archive.entries().front(), bytes))
        return readUnextracted(*this, archive.entries().front().size);
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    return readVgm(*this, source, true);
}

bool VGMX::loadFromPlainFile(const std::string& file)
{
    path = file;
    std::vector<uint8_t> bytes;
    if (!binFileInternalize(file, bytes))
        return false;
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    return readVgm(*this, source, true);
}

bool VGMX::loadFromMemory(const uint8_t* data, uint64_t size)
{
    vantor::MetaContainer archive(data, size);
    if (archive.scan()) {
        std::vector<uint8_t> bytes;
        if (archive.entries().empty() || !extractWhole(archive, archive.entries().front(), bytes))
            return false;
        vantor::VirtualRAMFile source(bytes.data(), bytes.size());
        return readVgm(*this, source, true);
    }
    vantor::VirtualRAMFile source(data, size);
    return readVgm(*this, source, true);
}

}  // namespace VGM
