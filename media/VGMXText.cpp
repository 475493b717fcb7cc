#include "media/VGMX.h"

#include "platform/PlatformTools.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cstring>

namespace VGM {

namespace {

constexpr uint64_t kFileReadBuffer = 4096;
constexpr uint64_t kStreamReadBuffer = 64;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

size_t skipBlanks(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

// Decimal with an optional sign, taken modulo 2^64 so that its low bits are exact; 0 without
// digits.
uint64_t parseDecimal(std::string_view text)
{
    size_t i = skipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + uint64_t(text[i] - '0');
    return negative ? 0 - value : value;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hexadecimal with or without "0x", modulo 2^64.
uint64_t parseHex(std::string_view text)
{
    size_t i = skipBlanks(text);
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        i += 2;
    uint64_t value = 0;
    for (int digit; i < text.size() && (digit = hexDigit(text[i])) >= 0; ++i)
        value = value << 4 | uint64_t(digit);
    return value;
}

// Unsigned decimal, saturating at 2^32 - 1.
uint32_t parseDt(std::string_view text)
{
    size_t i = skipBlanks(text);
    if (i < text.size() && text[i] == '+')
        ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<uint64_t>(value * 10 + uint64_t(text[i] - '0'), UINT32_MAX);
    return uint32_t(value);
}

// Exactly eight characters, most significant bit first; "1" is a one.
bool parseBits(std::string_view text, uint8_t& value)
{
    if (text.size() != 8)
        return false;
    value = 0;
    for (char c : text)
        value = uint8_t(value << 1 | (c == '1'));
    return true;
}

VGMXVisitor::State eventState(const char* name)
{
    if (name[0] == 0 || name[1] != 0)
        return VGMXVisitor::kNone;
    switch (name[0]) {
    case 'W': return VGMXVisitor::kWriteEvent;
    case 'R': return VGMXVisitor::kReadEvent;
    case 'D': return VGMXVisitor::kDelayEvent;
    case 'I': return VGMXVisitor::kInfoEvent;
    default: return VGMXVisitor::kNone;
    }
}

char eventLetter(VGMXVisitor::State state)
{
    switch (state) {
    case VGMXVisitor::kReadEvent: return VGMXEvent::kRead;
    case VGMXVisitor::kDelayEvent: return VGMXEvent::kDelay;
    case VGMXVisitor::kInfoEvent: return VGMXEvent::kInfo;
    default: return VGMXEvent::kWrite;
    }
}

bool isFree(const VGMXSong& song, int32_t kind)
{
    return !song.chips.contains(kind);
}

// The kind a new chip of this name takes: its own when free, else the first free one of its
// family (second SN76489s, second FM chips, more AY8910s, more DAC channels); -1 when none.
int32_t freeKindFor(const VGMXSong& song, int32_t kind)
{
    if (isFree(song, kind))
        return kind;
    auto firstFree = [&](int32_t first, int32_t last) {
        for (int32_t k = first; k <= last; ++k)
            if (isFree(song, k))
                return k;
        return -1;
    };
    if (kind == 0)
        return firstFree(1, 3);
    if (kind >= 4 && kind <= 15)
        return firstFree(kind + 12, kind + 12);
    if (kind == 31)
        return firstFree(32, 35);
    if (kind == kFirstDacKind)
        return firstFree(85, 99);
    return -1;
}

std::string streamName(vantor::VirtualFile& stream)
{
    if (auto* ram = dynamic_cast<vantor::VirtualRAMFile*>(&stream))
        return ram->name;
    if (auto* file = dynamic_cast<vantor::ZRGFile*>(&stream))
        return getFileFromPath(file->getPath());
    return {};
}

}  // namespace

bool VGMXVisitor::startElement(const char* name)
{
    state = std::strcmp(name, "Chip") == 0 ? kChip : kNone;
    return true;
}

bool VGMXVisitor::emptyTag(const char* name)
{
    state = std::strcmp(name, "Chip") == 0 ? kChip : eventState(name);
    return true;
}

bool VGMXVisitor::closeTag(const char* /*name*/)
{
    return true;
}

bool VGMXVisitor::attributes(const std::vector<vantor::XMLAttribute>& list)
{
    switch (state) {
    case kNone:
        return true;
    case kChip:
        return declareChip(list);
    default:
        addEvent(list);
        return true;
    }
}

bool VGMXVisitor::declareChip(const std::vector<vantor::XMLAttribute>& list)
{
    std::string_view type;
    uint32_t clock = 0;
    uint32_t rate = 44100;
    for (const vantor::XMLAttribute& attribute : list) {
        const std::string& value = attribute.value;
        if (attribute.name == "id") {
            if (value.empty() || value[0] < '0' || value[0] > '9')
                return false;
        } else if (attribute.name == "type") {
            type = value;
        } else if (attribute.name == "clock") {
            clock = uint32_t(parseDecimal(value));
        } else if (attribute.name == "rate") {
            rate = uint32_t(parseDecimal(value));
        }
    }
    const int32_t named = chipKindFromName(type);
    if (named == kUnknownChipKind)
        return false;
    // With no free kind the element joins the chip declared last and its attributes are dropped.
    if (const int32_t kind = freeKindFor(song, named); kind >= 0) {
        VGMXChip& chip = song.chips[kind];
        chip.kind = kind;
        chip.clock = clock;
        chip.rate = rate;
        chip.typeName = type;
        lastKind = kind;
    }
    if (auto it = song.chips.find(lastKind); it != song.chips.end())
        current = &it->second;
    return true;
}

void VGMXVisitor::addEvent(const std::vector<vantor::XMLAttribute>& list)
{
    if (!current)
        return;  // no chip declared yet
    uint32_t dt = 0;
    uint8_t reg = 0, value = 0, port = 0;
    for (const vantor::XMLAttribute& attribute : list) {
        const std::string& name = attribute.name;
        const std::string_view text = attribute.value;
        if (name == "r")
            reg = uint8_t(parseDecimal(text));
        else if (name == "hr")
            reg = uint8_t(parseHex(text));
        else if (name == "v")
            value = uint8_t(parseDecimal(text));
        else if (name == "hv")
            value = uint8_t(parseHex(text));
        else if (name == "bv")
            parseBits(text, value);
        else if (name == "dt")
            dt = parseDt(text);
        else if (name == "p")
            port = uint8_t(parseDecimal(text));
    }
    current->events.push_back(VGMXEvent::pack(dt, eventLetter(state), reg, value, port));
}

bool VGMX::loadXml(const std::string& file)
{
    vantor::XMLFile xml;
    if (!xml.open(file))
        return false;
    path = file;
    return readXml(xml, getFileFromPath(file), kFileReadBuffer);
}

bool VGMX::loadXmlStream(vantor::VirtualFile* stream)
{
    vantor::XMLFile xml;
    if (!xml.openStream(stream))
        return false;
    return readXml(xml, streamName(*stream), kStreamReadBuffer);
}

bool VGMX::readXml(vantor::XMLFile& xml, const std::string& title, uint64_t bufferSize)
{
    VGMXVisitor visitor;
    if (!xml.parseXmlText(&visitor, bufferSize))
        return false;
    song = std::move(visitor.song);
    song.tags[VGMXSong::kTrackName] = title;
    for (auto& [kind, chip] : song.chips) {
        chip.total = 0;
        for (const VGMXEvent event : chip.events)
            chip.total += event.dt();
    }
    song.loaded = 1;
    return true;
}

bool VGMX::scanArchive(const std::string& file)
{
    path = file;
    songEntries.clear();
    notes.clear();
    playlist.clear();
    image.clear();
    container = std::make_unique<vantor::MetaContainer>(file);
    if (!container->scan()) {
        container.reset();
        return false;
    }
    auto readText = [this](const vantor::MetaContainerEntry& entry, std::vector<char>& text) {
        std::vector<uint8_t> bytes;
        if (!extractWhole(*container, entry, bytes))
            return;
        text.assign(bytes.begin(), bytes.end());
        text.push_back('\0');
    };
    for (const vantor::MetaContainerEntry& entry : container->entries()) {
        const std::string extension = getFileExtension(entry.name);  // case kept
        if (extension == "vgm" || extension == "vgz" || extension == "gz")
            songEntries.push_back(entry);
        else if (extension == "txt")
            readText(entry, notes);
        else if (extension == "m3u")
            readText(entry, playlist);
        else if (extension == "png")
            extractWhole(*container, entry, image);
    }
    return !songEntries.empty();
}

uint64_t VGMX::getSongCount() const
{
    return container ? songEntries.size() : 1;
}

VGMXSong& VGMX::loadSong(uint64_t n)
{
    if (!container || n >= songEntries.size())
        return song;
    std::vector<uint8_t> bytes;
    const vantor::MetaContainerEntry& entry = songEntries[n];
    if (entry.size == 0 || !extractWhole(*container, entry, bytes))
        song.loaded = 0;
    else
        song.loaded = loadFromMemory(bytes.data(), bytes.size()) ? 1 : 0;
    return song;
}

}  // namespace VGM
