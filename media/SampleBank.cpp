#include "media/SampleBank.h"
#include "media/VGMX.h"

#include "platform/PlatformTools.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <array>
#include <limits>

// ---------------------------------------------------------------------------------------------
// ByteMask

void ByteMask::resize(size_t n)
{
    words.resize((n + 63) / 64, 0);
    if (n % 64)
        words.back() &= (uint64_t(1) << (n % 64)) - 1;  // bits past the end stay clear
    count = n;
}

void ByteMask::set(size_t first, size_t last)
{
    last = std::min(last, count);
    while (first < last) {
        const size_t bit = first % 64;
        const size_t n = std::min<size_t>(64 - bit, last - first);
        const uint64_t mask = n == 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1) << bit;
        words[first / 64] |= mask;
        first += n;
    }
}

bool ByteMask::all(size_t first, size_t last) const
{
    if (last > count)
        return false;
    while (first < last) {
        const size_t bit = first % 64;
        const size_t n = std::min<size_t>(64 - bit, last - first);
        const uint64_t mask = n == 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1) << bit;
        if ((words[first / 64] & mask) != mask)
            return false;
        first += n;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// OkiAdpcm

namespace {

constexpr std::array<int16_t, 49> kOkiSteps = {
    16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,  45,   50,   55,   60,   66,   73,
    80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209, 230,  253,  279,  307,  337,  371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
constexpr int8_t kOkiIndexMoves[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace

int16_t OkiAdpcm::decode(uint8_t nibble)
{
    const int32_t step = kOkiSteps[size_t(stepIndex)];
    int32_t difference = step / 8;
    if (nibble & 1)
        difference += step / 4;
    if (nibble & 2)
        difference += step / 2;
    if (nibble & 4)
        difference += step;
    if (nibble & 8)
        difference = -difference;
    signal = std::clamp(signal + difference, -2048, 2047);
    stepIndex = std::clamp(stepIndex + kOkiIndexMoves[nibble & 7], 0, int32_t(kOkiSteps.size()) - 1);
    return int16_t(signal * 16);
}

// ---------------------------------------------------------------------------------------------
// Data blocks

namespace VGM {

namespace {

constexpr uint32_t kOkiRomLimit = 16u << 20;  // a block reaching past this is not kept
constexpr float kYm2612Rate = 15734.0f;
constexpr float kPackedRate = 22472.0f;
constexpr size_t kPackedHead = 10;

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A bit-packed stream: kind, unpacked size, bits per unpacked and per packed value, sub-kind,
// add value, then the values most significant bit first, until the data is used up. Empty for
// what cannot be unpacked: DPCM (its table is not kept), widths of 0 or above 32, or an unpacked
// width below the packed one.
std::vector<int16_t> unpack(const uint8_t* data, uint32_t size)
{
    std::vector<int16_t> values;
    if (size < kPackedHead)
        return values;
    const uint8_t kind = data[0];
    const uint32_t unpackedBits = data[5];
    const uint32_t packedBits = data[6];
    const uint8_t subKind = data[7];
    const uint32_t add = uint32_t(data[8]) | uint32_t(data[9]) << 8;
    if (kind != 0 || packedBits == 0 || packedBits > 32 || unpackedBits > 32 || unpackedBits < packedBits)
        return values;
    const uint8_t* bits = data + kPackedHead;
    const uint64_t available = uint64_t(size - kPackedHead) * 8;
    values.reserve(size_t(available / packedBits));
    uint64_t accumulator = 0;
    uint32_t held = 0;
    for (uint64_t used = 0; used + packedBits <= available; used += packedBits) {
        while (held < packedBits) {
            accumulator = accumulator << 8 | *bits++;
            held += 8;
        }
        held -= packedBits;
        const uint32_t field = uint32_t(accumulator >> held) & uint32_t((uint64_t(1) << packedBits) - 1);
        uint32_t value = 0;
        if (subKind == 0)
            value = field + add;
        else if (subKind == 1)
            value = (field << (unpackedBits - packedBits)) + add;
        values.push_back(int16_t(uint16_t(value)));
    }
    return values;
}

// 32X PWM samples around their middle, with the level that brings their span to full scale.
void centrePwm(SampleBank& bank)
{
    bank.sampleRate = kPackedRate;
    if (bank.samples.empty())
        return;
    const auto [low, high] = std::minmax_element(bank.samples.begin(), bank.samples.end());
    const int32_t min = *low, max = *high;
    const int32_t middle = min + (max - min) / 2;
    for (int16_t& s : bank.samples)
        s = int16_t(std::clamp<int32_t>(s - middle, INT16_MIN, INT16_MAX));
    uint32_t span = 1;
    while (span < uint32_t(max - min))
        span <<= 1;
    bank.defaultLevel = max == min ? 1 : uint16_t(0x8000 / span);
}

}  // namespace

uint32_t VGMX::dataBlockHeadSize(uint8_t type)
{
    if (type >= 0x80 && type <= 0xBF)
        return 8;
    if (type >= 0xC0 && type <= 0xDF)
        return 2;
    if (type >= 0xE0)
        return 4;
    return 0;
}

bool VGMX::addDataBlock(vantor::VirtualFile& stream, const VgmHeader& header, uint8_t type,
                        uint32_t size, bool secondChip)
{
    if (size < dataBlockHeadSize(type))
        return false;
    const int64_t left = stream.size() - stream.tell();
    std::vector<uint8_t> bytes(size_t(std::clamp<int64_t>(left, 0, size)));
    bytes.resize(size_t(stream.read(bytes.data(), bytes.size())));
    return addDataBlock(bytes.data(), uint32_t(bytes.size()), header, type, secondChip);
}

bool VGMX::addDataBlock(const uint8_t* data, uint32_t size, const VgmHeader& header, uint8_t type,
                        bool secondChip)
{
    const uint32_t head = dataBlockHeadSize(type);
    if (size < head)
        return false;
    const size_t index = song.banks.size();
    SampleBank& bank = song.banks.emplace_back();
    bank.type = type;
    const uint8_t* bytes = data + head;
    const uint32_t count = size - head;

    uint8_t kind = type;
    bool packed = false;
    if (type >= 0x80 && type <= 0xBF) {
        bank.romSize = little32(data);
        bank.startOffset = little32(data + 4);
        PDebugLog("ROM size %08X offset %08X Size %08X, type %d\n", bank.romSize, bank.startOffset, count, type);
    } else if (type >= 0x40 && type <= 0x7E) {
        kind = type & 0x3F;
        packed = true;
    } else if (type >= 0xC0) {
        bank.startOffset = head == 2 ? uint32_t(data[0] | data[1] << 8) : little32(data);
        bank.romSize = count;
    }

    switch (kind) {
    case 0x00:  // YM2612 PCM
        if (packed) {
            bank.samples = unpack(data, size);
            bank.sampleRate = kPackedRate;
        } else {
            bank.raw.assign(bytes, bytes + count);
            bank.samples.assign(bytes, bytes + count);
            bank.sampleRate = kYm2612Rate;
        }
        break;
    case 0x03:  // 32X PWM: 12-bit signed samples in 16-bit words
        if (packed) {
            bank.samples = unpack(data, size);
        } else {
            bank.samples.resize(count / 2);
            for (uint32_t i = 0; i < count / 2; ++i) {
                const uint16_t word = uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
                bank.samples[i] = int16_t(int16_t(uint16_t(word << 4)) >> 4);
            }
        }
        centrePwm(bank);
        break;
    case 0x04:  // OKIM6258 ADPCM
        if (!packed) {
            OkiAdpcm decoder(-2);
            bank.samples.reserve(size_t(count) * 2);
            for (uint32_t i = 0; i < count; ++i)
                decoder.decodeByte(bytes[i], bank.samples);
        }
        break;
    case 0x07:  // NES APU DPCM
    case 0xC2:  // NES APU RAM
        if (!packed)
            bank.raw.assign(bytes, bytes + count);
        break;
    case 0x80:  // SegaPCM ROM
        bank.raw.assign(bytes, bytes + count);
        bank.samples.resize(count);
        for (uint32_t i = 0; i < count; ++i)
            bank.samples[i] = int16_t(bytes[i] - 0x80);
        bank.sampleRate = float(segaPcmClock);
        break;
    case 0x8B: {  // OKIM6295 ROM
        const uint32_t clock = header.u32(0x98);
        bank.sampleRate = float(clock & 0x3FFFFFFF) / ((clock & 0x80000000u) ? 132.0f : 165.0f);
        addOkiRom(index, bank.startOffset, bytes, count, secondChip ? 1 : 0);
        break;
    }
    default:
        break;
    }
    return true;
}

void VGMX::addOkiRom(size_t bankIndex, uint32_t offset, const uint8_t* bytes, uint32_t count,
                     uint32_t chip)
{
    const uint64_t end = uint64_t(offset) + count;
    if (end > kOkiRomLimit)
        return;
    if (okiTables.size() <= chip)
        okiTables.resize(chip + 1);
    OkiPhraseTable& table = okiTables[chip];
    const size_t romSize = size_t(std::min<uint64_t>(std::max<uint64_t>(OkiPhraseTable::kTableBytes, end),
                                                     OkiPhraseTable::kAddressable));
    if (table.rom.size() < romSize) {
        table.rom.resize(romSize, 0);
        table.written.resize(romSize);
    }
    if (offset < table.rom.size()) {
        const size_t kept = size_t(std::min<uint64_t>(end, table.rom.size()));
        std::copy(bytes, bytes + (kept - offset), table.rom.begin() + offset);
        table.written.set(offset, kept);
    }
    if (offset == 0 && end > OkiPhraseTable::kTableBytes - 1)
        table.tableComplete = 1;

    const std::vector<uint8_t>& rom = table.rom;
    for (uint32_t p = 0; p < OkiPhraseTable::kPhrases; ++p) {
        OkiPhrase& phrase = table.phrases[p];
        if (phrase.decoded)
            continue;
        if (!table.tableComplete && !table.written.all(8 * p, 8 * p + 8))
            continue;
        const uint8_t* entry = &rom[8 * p];
        const uint32_t start = uint32_t(entry[0] & 15) << 16 | uint32_t(entry[1]) << 8 | entry[2];
        const uint32_t last = uint32_t(entry[3] & 15) << 16 | uint32_t(entry[4]) << 8 | entry[5];
        if (last >= rom.size() || start > last)
            continue;
        const bool overlaps = start < end && last >= offset;
        const bool inside = start >= offset && last < end;
        if (offset < OkiPhraseTable::kTableBytes || (overlaps && !inside)) {
            if (!table.written.all(start, size_t(last) + 1))
                continue;
        } else if (!overlaps) {
            continue;  // for a later block
        }
        std::vector<int16_t>& samples = song.banks[bankIndex].samples;
        phrase.bank = uint8_t(bankIndex);
        phrase.sampleStart = uint32_t(samples.size());
        phrase.sampleLength = 2 * (last - start + 1);
        samples.reserve(samples.size() + phrase.sampleLength);
        OkiAdpcm decoder;
        for (uint32_t a = start; a <= last; ++a)
            decoder.decodeByte(rom[a], samples);
        phrase.decoded = 1;
    }
}

}  // namespace VGM
