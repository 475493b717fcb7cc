#pragma once
// The in-memory register log that every log reader builds and the log player plays: a song of
// per-chip event streams keyed by chip kind, the PCM-chip state kept while a log is read and,
// for an archive, its song entries with its notes, playlist and picture.

#include "media/SampleBank.h"
#include "support/MetaContainer.h"
#include "support/XMLFile.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {
class VirtualFile;
}

// One timed event: dt in bits 0-31 (1/rate seconds of the chip since its previous event), the
// kind letter in 32-39, register 40-47, value 48-55, port 56-63.
struct VGMXEvent
{
    static constexpr char kWrite = 'W';  // the only kind that acts in playback
    static constexpr char kRead = 'R';
    static constexpr char kDelay = 'D';
    static constexpr char kInfo = 'I';
    static constexpr char kStart = 'S';
    static constexpr char kLoop = 'L';
    static constexpr char kEnd = 'E';

    static constexpr VGMXEvent pack(uint32_t dt, char kind, uint8_t reg, uint8_t value, uint8_t port)
    {
        return {uint64_t(dt) | uint64_t(uint8_t(kind)) << 32 | uint64_t(reg) << 40 |
                uint64_t(value) << 48 | uint64_t(port) << 56};
    }
    constexpr uint32_t dt() const { return uint32_t(word); }
    constexpr char kind() const { return char(word >> 32); }
    constexpr uint8_t reg() const { return uint8_t(word >> 40); }
    constexpr uint8_t value() const { return uint8_t(word >> 48); }
    constexpr uint8_t port() const { return uint8_t(word >> 56); }
    friend constexpr bool operator==(VGMXEvent, VGMXEvent) = default;

    uint64_t word = 0;
};
static_assert(sizeof(VGMXEvent) == 8);

// Chip kind of a chip name (exact, case kept); 100 for an empty or unknown name.
int32_t chipKindFromName(std::string_view name);

namespace VGM {

constexpr int32_t kUnknownChipKind = 100;  // never stored in a song
constexpr int32_t kFirstDacKind = 84;
constexpr int32_t kSidChipKind = 77;
constexpr size_t kPendingKinds = 100;      // kinds 0-99 keep a pending wait
// The wait built up per kind since that kind's last event. A wait of the log counts for every
// kind at once, so the table keeps the time of each kind's last event.
class PendingWaits
{
public:
    static constexpr size_t size() { return kPendingKinds; }
    // Adds to every kind's wait.
    void wait(uint64_t samples) { now += samples; }
    uint64_t operator[](size_t kind) const { return now - since[kind]; }
    void set(size_t kind, uint64_t samples) { since[kind] = now - samples; }
    // The kind's wait, which starts again from 0.
    uint64_t take(size_t kind)
    {
        const uint64_t samples = now - since[kind];
        since[kind] = now;
        return samples;
    }

private:
    uint64_t now = 0;
    std::array<uint64_t, kPendingKinds> since{};
};

constexpr uint32_t saturateDt(uint64_t dt)
{
    return dt > UINT32_MAX ? UINT32_MAX : uint32_t(dt);
}

// The first 256 bytes of a VGM file, zero beyond what the file supplies. Fields are
// little-endian at their offsets from the start of the file.
struct VgmHeader
{
    static constexpr size_t kSize = 256;

    uint8_t u8(size_t offset) const { return offset < kSize ? bytes[offset] : 0; }
    uint16_t u16(size_t offset) const { return uint16_t(u8(offset) | u8(offset + 1) << 8); }
    uint32_t u32(size_t offset) const { return uint32_t(u16(offset)) | uint32_t(u16(offset + 2)) << 16; }
    void setU32(size_t offset, uint32_t value)
    {
        for (size_t i = 0; i < 4 && offset + i < kSize; ++i)
            bytes[offset + i] = uint8_t(value >> (8 * i));
    }

    std::array<uint8_t, kSize> bytes{};
};

struct VGMXChip
{
    // Room for long logs, taken by every constructor so that recording never reallocates.
    static constexpr size_t kReservedEvents = size_t(1) << 20;
    static constexpr uint64_t kNoLoop = ~uint64_t(0);

    VGMXChip() { events.reserve(kReservedEvents); }
    VGMXChip(const VGMXChip& other) : VGMXChip() { *this = other; }
    VGMXChip(VGMXChip&&) noexcept = default;
    VGMXChip& operator=(const VGMXChip&) = default;
    VGMXChip& operator=(VGMXChip&&) noexcept = default;

    // Appends an event; adds dt to the total and notes non-zero ports and registers.
    void addEvent(uint32_t dt, uint8_t value, uint8_t port, uint8_t reg, char letter);
    // Back to a fresh record, keeping the room of the events.
    void clear();
    friend bool operator==(const VGMXChip&, const VGMXChip&) = default;

    uint32_t id = 0;
    std::map<std::string, std::string> attributes;
    std::vector<VGMXEvent> events;
    int32_t kind = 0;
    uint32_t subtype = 0;
    uint32_t extra = 0;
    uint32_t clock = 0;    // Hz
    uint32_t rate = 44100; // dt units per second
    uint8_t usesRegisters = 0;
    uint8_t usesPorts = 0;
    std::string typeName;     // as written: "6581", "YM2612", "DAC"
    std::string displayName;  // "SID", "OPN2", the PCM chip's name
    uint64_t loopIndex = kNoLoop;  // event at which a loop restarts
    uint64_t total = 0;            // sum of the events' dt

private:
    struct Unreserved {};
    explicit VGMXChip(Unreserved) {}
};

struct VGMXSong
{
    // The eleven tag texts, in the order of a VGM file's tag.
    enum Tag : size_t {
        kTrackName, kTrackNameJapanese, kGameName, kGameNameJapanese, kSystemName,
        kSystemNameJapanese, kAuthor, kAuthorJapanese, kReleaseDate, kConvertedBy, kNotes,
        kTagCount
    };

    uint32_t header = 0;
    std::map<std::string, std::string> info;
    std::map<int32_t, VGMXChip> chips;  // by kind: songs play and list their chips in kind order
    std::vector<SampleBank> banks;
    uint64_t songNumber = 0;                        // handed to the stream players
    std::map<std::string, std::string> attributes;  // handed to the stream players
    uint64_t loopStart = 0;
    uint64_t loopEnd = VGMXChip::kNoLoop;
    std::array<std::string, kTagCount> tags;
    uint8_t loaded = 0;
    float speed = 1.0f;
};

class VGMX
{
public:
    // Archive entries above this size are not extracted.
    static constexpr uint64_t kMaxEntrySize = uint64_t(256) << 20;
    static constexpr uint32_t kSegaPcmChannels = 16;
    static constexpr const char* kNoOpn2Data = "OPN2 Data needed but no PCM data in file?\n";

    VGMX() = default;
    // A fresh object holding a copy of the other's song, nothing else.
    VGMX(const VGMX& other);
    VGMX& operator=(const VGMX&) = delete;
    virtual ~VGMX();

    // Building a song. Kinds are created on first use.
    // Copies the record over the song's chip of its kind; withStart appends an "S" event.
    void addChip(const VGMXChip& chip, bool withStart);
    // The same, taking over the record and its event room.
    void addChip(VGMXChip&& chip, bool withStart);
    // dt := pending[kind], which is then cleared.
    void addTimedWrite(int32_t kind, PendingWaits& pending, uint8_t value, uint8_t port,
                       uint8_t reg, char letter);
    // A 32-bit value as two "W" events: register highReg gets bits 31-24 as value and 23-16 as
    // port, register highReg + 1 bits 15-8 and 7-0.
    void addTimedWrite32(int32_t kind, PendingWaits& pending, uint8_t highReg, uint32_t value);
    void addEventToKind(int32_t kind, uint32_t dt, uint8_t value, uint8_t port, uint8_t reg,
                        char letter);
    // One event of the letter per chip, in kind order, carrying and clearing its pending wait.
    void flushPending(PendingWaits& pending, char letter);
    void appendMessage(std::string_view text) { message += text; }
    // Null gives an empty text.
    void setTrackName(const char* text);
    void setGameName(const char* text);
    void setAuthor(const char* text);
    // Sets loaded when the song has a chip; returns loaded.
    bool finishCapture();
    // Empties the song, the message and the PCM-chip state (start of every VGM read).
    void resetSong();
    // A fresh chip record. Its event room is that of a record the song dropped, when there is
    // one, so that reading one log after another reserves no new room.
    VGMXChip newChip();
    // Drops the song's chip of that kind, keeping its event room for newChip.
    void removeChip(int32_t kind);
    // The first sample bank's bytes for YM2612 sample writes; null (with a message when a DAC
    // chip wants them) when there are none.
    const uint8_t* ym2612SampleData(uint64_t& size);
    void addSampleStart(uint32_t offset);

    // Loading. Failures leave the song as it was, unless said otherwise.
    // By the path's extension (any case); false for a missing path or another extension.
    bool open(const std::string& file);
    // VGMX text from a file or an open stream; the title is the file or stream name.
    bool loadXml(const std::string& file);
    bool loadXmlStream(vantor::VirtualFile* stream);
    // Lists a 7z, zip or gzip archive's songs ("vgm", "vgz", "gz" entries) and keeps its "txt",
    // "m3u" and "png" entries; true when it holds a song. Replaces the previous archive.
    bool scanArchive(const std::string& file);
    // 1 without an archive, else the number of song entries.
    uint64_t getSongCount() const;
    // Makes song n of the archive current; loaded is cleared when it cannot be extracted.
    VGMXSong& loadSong(uint64_t n);

    // Other chip logs: a YM file inside a one-entry 7z, zip or gzip container, a raw OPL
    // capture, a YM7129 register dump. Each adds one chip to the song.
    bool importYm(const std::string& file);
    bool importDro(const std::string& file);
    bool importRegisterDump(const std::string& file);
    // The same over bytes in memory; `file` names the YM song.
    bool importYmFromMemory(const uint8_t* data, uint64_t size, const std::string& file);
    bool importDroFromMemory(const uint8_t* data, uint64_t size);
    bool importRegisterDumpFromMemory(const uint8_t* data, uint64_t size);

    // VGM and VGZ files. From a path: the first entry of an archive (7z, zip, gzip), else the
    // plain file. From memory: the first entry of an archive, else the bytes themselves.
    bool loadFromArchive(const std::string& file);
    bool loadFromPlainFile(const std::string& file);
    virtual bool loadFromMemory(const uint8_t* data, uint64_t size);

    // Sample data of a VGM data block (command 0x67): appends one bank to the song, and for
    // OKIM6295 ROM images fills the chip's phrase table and decodes the phrases it completes.
    // `size` excludes the chip-select bit. False, with nothing added, when the block is shorter
    // than its own sub-header (dataBlockHeadSize).
    bool addDataBlock(const uint8_t* data, uint32_t size, const VgmHeader& header, uint8_t type,
                      bool secondChip);
    // The same, reading the block's bytes from a stream (fewer when the stream ends first).
    bool addDataBlock(vantor::VirtualFile& stream, const VgmHeader& header, uint8_t type,
                      uint32_t size, bool secondChip);
    // Bytes before a block's data: ROM images 8 (ROM size, offset), RAM writes 2 or 4 (offset).
    static uint32_t dataBlockHeadSize(uint8_t type);

    // PCM chips of a VGM log become DAC channels (kinds 84 up), whose "W" events are the
    // registers of the DAC channel protocol. `clock` is the chip's clock word of the log header.
    // `count` channel chips with their "S" marker, type name "DAC".
    void addPcmChannels(uint32_t clock, uint32_t count, const char* displayName, uint32_t extra);
    void writeSegaPcm(uint32_t clock, PendingWaits& pending, uint16_t address, uint8_t value);
    void writeOkim6295(uint32_t clock, PendingWaits& pending, uint8_t reg, uint8_t value);
    void writePwm(uint32_t clock, PendingWaits& pending, uint8_t byte1, uint8_t byte2);
    void writeRf5c68(uint8_t reg, uint8_t value);
    // Plays SegaPCM channel c from its current address to its end page; false (nothing sent)
    // when the end does not lie above the start.
    bool startSegaPcmChannel(uint32_t channel, PendingWaits& pending);

    const char* notesText() const { return notes.empty() ? nullptr : notes.data(); }
    const char* playlistText() const { return playlist.empty() ? nullptr : playlist.data(); }

    int32_t pendingOkiPhrase = -1;
    uint8_t spare = 0;
    std::vector<OkiPhraseTable> okiTables;  // per OKIM6295 chip
    std::array<SegaPcmChannel, kSegaPcmChannels> segaPcm{};
    uint32_t segaPcmClock = 0;
    uint32_t segaPcmBankShift = 0;
    uint32_t segaPcmBankMask = 0;
    PwmState pwm;
    std::vector<vantor::MetaContainerEntry> songEntries;
    std::string message;  // diagnostics of the readers, each ending in a line feed
    std::unique_ptr<vantor::MetaContainer> container;
    std::vector<char> notes;     // zero-terminated; empty when there is none
    std::vector<char> playlist;  // zero-terminated; empty when there is none
    std::vector<uint8_t> image;  // the archive's picture
    std::string path;            // last opened
    VGMXSong song;
    uint32_t ym2612SamplePosition = 0;

private:
    // Cleared records of dropped chips, at most kSpareChips of them.
    static constexpr size_t kSpareChips = 128;
    std::vector<VGMXChip> spareChips;

    VGMXChip& chipOfKind(int32_t kind);
    // An OKIM6295 ROM image at `offset` of chip 0 or 1; phrases it completes go to the bank.
    void addOkiRom(size_t bankIndex, uint32_t offset, const uint8_t* bytes, uint32_t count, uint32_t chip);
    // The whole entry, or false (out untouched) when it is above kMaxEntrySize or cannot be
    // extracted.
    static bool extractWhole(vantor::MetaContainer& archive, const vantor::MetaContainerEntry& entry,
                             std::vector<uint8_t>& out);
    bool readXml(vantor::XMLFile& xml, const std::string& title, uint64_t bufferSize);
    bool importYmContainer(vantor::MetaContainer& archive, const std::string& file);
    bool importDroVersion1(const uint8_t* data, uint64_t size, bool shifted);
    // An importer's chip with its "S" marker, as addChip of a fresh record would leave it.
    void addImportedChip(int32_t kind, const char* typeName, const char* displayName,
                         uint32_t clock, uint32_t rate);
};

// Reads one VGM log from the source (wherever it is positioned) into the collection's song;
// readTag also reads its GD3 tag. Diagnostics go to the collection's message text. On failure
// the chips made so far stay in the song, whose loaded flag stays clear.
bool readVgm(VGMX& collection, vantor::VirtualFile& source, bool readTag);

// Reads VGMX text into its own song: "Chip" elements declare chips, self-closing "W", "R", "D"
// and "I" elements are events of the chip declared last.
class VGMXVisitor : public vantor::XMLVisitor
{
public:
    enum State : int32_t { kNone, kChip, kWriteEvent, kReadEvent, kDelayEvent, kInfoEvent };

    bool startElement(const char* name) override;
    bool emptyTag(const char* name) override;
    bool closeTag(const char* name) override;
    bool attributes(const std::vector<vantor::XMLAttribute>& list) override;

    VGMXSong song;
    VGMXChip* current = nullptr;  // in song.chips
    int32_t lastKind = kUnknownChipKind;
    State state = kNone;

private:
    bool declareChip(const std::vector<vantor::XMLAttribute>& list);
    void addEvent(const std::vector<vantor::XMLAttribute>& list);
};

}  // namespace VGM
