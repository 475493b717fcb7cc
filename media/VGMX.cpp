#include "media/VGMX.h"

#include "platform/PlatformTools.h"

namespace VGM {

void VGMXChip::addEvent(uint32_t dt, uint8_t value, uint8_t port, uint8_t reg, char letter)
{
    total += dt;
    if (port)
        usesPorts = 1;
    if (reg)
        usesRegisters = 1;
    events.push_back(VGMXEvent::pack(dt, letter, reg, value, port));
}

void VGMXChip::clear()
{
    std::vector<VGMXEvent> room = std::move(events);
    room.clear();
    *this = VGMXChip(Unreserved());
    events = std::move(room);
}

VGMX::VGMX(const VGMX& other)
{
    song = other.song;
}

VGMX::~VGMX() = default;

VGMXChip& VGMX::chipOfKind(int32_t kind)
{
    if (auto it = song.chips.find(kind); it != song.chips.end())
        return it->second;
    VGMXChip& chip = song.chips.emplace(kind, newChip()).first->second;
    chip.kind = kind;
    return chip;
}

VGMXChip VGMX::newChip()
{
    if (spareChips.empty())
        return VGMXChip();
    VGMXChip chip = std::move(spareChips.back());
    spareChips.pop_back();
    return chip;
}

void VGMX::removeChip(int32_t kind)
{
    const auto it = song.chips.find(kind);
    if (it == song.chips.end())
        return;
    if (spareChips.size() < kSpareChips && it->second.events.capacity() >= VGMXChip::kReservedEvents) {
        it->second.clear();
        spareChips.push_back(std::move(it->second));
    }
    song.chips.erase(it);
}

bool VGMX::extractWhole(vantor::MetaContainer& archive, const vantor::MetaContainerEntry& entry,
                        std::vector<uint8_t>& out)
{
    std::vector<uint8_t> bytes;
    if (entry.size != 0 && !archive.extractToVector(&entry, bytes, kMaxEntrySize))
        return false;
    out.swap(bytes);
    return true;
}

void VGMX::addChip(const VGMXChip& chip, bool withStart)
{
    VGMXChip& target = chipOfKind(chip.kind);
    target = chip;
    if (withStart)
        target.addEvent(0, 0, 0, 0, VGMXEvent::kStart);
}

void VGMX::addChip(VGMXChip&& chip, bool withStart)
{
    const int32_t kind = chip.kind;
    VGMXChip& target = song.chips.insert_or_assign(kind, std::move(chip)).first->second;
    if (withStart)
        target.addEvent(0, 0, 0, 0, VGMXEvent::kStart);
}

void VGMX::addTimedWrite32(int32_t kind, PendingWaits& pending, uint8_t highReg, uint32_t value)
{
    addTimedWrite(kind, pending, uint8_t(value >> 24), uint8_t(value >> 16), highReg, VGMXEvent::kWrite);
    addTimedWrite(kind, pending, uint8_t(value >> 8), uint8_t(value), uint8_t(highReg + 1), VGMXEvent::kWrite);
}

void VGMX::addTimedWrite(int32_t kind, PendingWaits& pending, uint8_t value, uint8_t port,
                         uint8_t reg, char letter)
{
    const uint64_t dt = kind >= 0 && size_t(kind) < pending.size() ? pending.take(size_t(kind)) : 0;
    chipOfKind(kind).addEvent(saturateDt(dt), value, port, reg, letter);
}

void VGMX::addEventToKind(int32_t kind, uint32_t dt, uint8_t value, uint8_t port, uint8_t reg,
                          char letter)
{
    chipOfKind(kind).addEvent(dt, value, port, reg, letter);
}

void VGMX::flushPending(PendingWaits& pending, char letter)
{
    for (auto& [kind, chip] : song.chips) {
        // Kinds from 100 up keep no wait.
        const uint64_t dt = kind >= 0 && size_t(kind) < pending.size() ? pending.take(size_t(kind)) : 0;
        chip.addEvent(saturateDt(dt), 0, 0, 0, letter);
    }
}

void VGMX::setTrackName(const char* text)
{
    song.tags[VGMXSong::kTrackName] = text ? text : "";
}

void VGMX::setGameName(const char* text)
{
    song.tags[VGMXSong::kGameName] = text ? text : "";
}

void VGMX::setAuthor(const char* text)
{
    song.tags[VGMXSong::kAuthor] = text ? text : "";
}

bool VGMX::finishCapture()
{
    if (!song.chips.empty())
        song.loaded = 1;
    return song.loaded != 0;
}

void VGMX::resetSong()
{
    while (!song.chips.empty())
        removeChip(song.chips.begin()->first);
    song = VGMXSong();
    message.clear();
    ym2612SamplePosition = 0;
    pendingOkiPhrase = -1;
    spare = 0;
    okiTables.clear();
    segaPcm = {};
    segaPcmClock = 0;
    segaPcmBankShift = 0;
    segaPcmBankMask = 0;
    pwm = PwmState();
}

const uint8_t* VGMX::ym2612SampleData(uint64_t& size)
{
    size = 0;
    if (!song.chips.contains(kFirstDacKind))
        return nullptr;
    if (song.banks.empty() || song.banks[0].type != 0 || song.banks[0].raw.empty()) {
        appendMessage(kNoOpn2Data);
        return nullptr;
    }
    size = song.banks[0].raw.size();
    return song.banks[0].raw.data();
}

void VGMX::addSampleStart(uint32_t offset)
{
    ym2612SamplePosition = offset;
    if (!song.banks.empty())
        song.banks[0].sampleStarts.insert(offset);
}

bool VGMX::open(const std::string& file)
{
    if (!fileExists(file))
        return false;
    std::string extension;
    lowercase(getFileExtension(file), extension);
    if (extension == "dro")
        return importDro(file);
    if (extension == "ym")
        return importYm(file);
    if (extension == "vgmx" || extension == "vgx")
        return loadXml(file);
    if (extension == "zip" || extension == "7z" || extension == "vgm7z" || extension == "rar")
        return scanArchive(file);
    if (extension == "vgm" || extension == "vgz" || extension == "gz")
        return loadFromArchive(file);
    if (extension == "bin")
        return importRegisterDump(file);
    return false;
}

}  // namespace VGM
