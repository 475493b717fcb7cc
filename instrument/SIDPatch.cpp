#include "instrument/SIDPatch.h"

#include "platform/SaturatingCast.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

SIDCTRLLayer::SIDCTRLLayer(uint64_t number) : layerNumber(number)
{
    active = number == 0 ? 1 : 0;
}

SIDCTRLPatch::SIDCTRLPatch()
{
    setName("Base");
    for (size_t i = 0; i < kSIDLayers; ++i)
        layers[i] = new SIDCTRLLayer(i);
}

SIDCTRLLayer* SIDCTRLPatch::sidLayer(size_t i) const
{
    return dynamic_cast<SIDCTRLLayer*>(layer(i));
}

namespace {

// Slot layout.
constexpr size_t kSlotName = 0;
constexpr size_t kSlotNameSize = 16;
constexpr size_t kSlotType = 16;
constexpr size_t kSlotFilter = 84;
constexpr size_t kSlotVoices[3] = {96, 112, 128};

void decodeVoiceRecord(const uint8_t* b, SIDCTRLLayer& layer)
{
    layer.phaseReset = (b[0] >> 2) & 1;
    layer.wave = b[1] & 0x0F;
    layer.active = (b[1] & 0x10) ? 0 : 1;
    layer.hardSync = (b[1] >> 5) & 1;
    layer.ringMod = (b[1] >> 6) & 1;
    layer.attack = b[2] >> 4;
    layer.decay = b[2] & 0x0F;
    layer.sustain = b[3] >> 4;
    layer.release = b[3] & 0x0F;
    layer.pulseWidth = uint16_t(((b[5] & 0x0F) << 8) | b[4]);
    layer.fixedFrequency = 0;
    layer.lowKey = 0;
    layer.highKey = 127;
    layer.transpose = int8_t(uint8_t(b[8] - 64));
    layer.detune = int8_t(uint8_t(b[9] - 128));
    layer.delayStart = b[7] == 0 ? 0.0f : std::pow(float(b[7]), 1.8766f);
    layer.glideAmount = float(b[11]);
}

}  // namespace

bool decodeBankSlot(std::span<const uint8_t> slot, SIDCTRLPatch& patch)
{
    if (slot.size() < kBankSlotSize)
        return false;
    std::memset(patch.name, 0, sizeof patch.name);
    std::memcpy(patch.name, slot.data() + kSlotName, kSlotNameSize);
    if (slot[kSlotType] != 0)
        return true;

    const uint8_t* f = slot.data() + kSlotFilter;
    for (size_t v = 0; v < 3; ++v)
        if (SIDCTRLLayer* layer = patch.sidLayer(v))
            layer->toFilter = (f[0] >> v) & 1;
    patch.lowPass = (f[0] >> 4) & 1;
    patch.bandPass = (f[0] >> 5) & 1;
    patch.highPass = (f[0] >> 6) & 1;
    patch.voice3Off = (f[0] >> 7) & 1;
    patch.cutoff = uint16_t((((f[2] & 0x0F) << 8) | f[1]) >> 1);
    patch.resonance = f[3] >> 4;

    for (size_t v = 0; v < 3; ++v)
        if (SIDCTRLLayer* layer = patch.sidLayer(v))
            decodeVoiceRecord(slot.data() + kSlotVoices[v], *layer);
    return true;
}

bool decodeBankSlot(std::span<const uint8_t> bank, uint64_t number, SIDCTRLPatch& patch)
{
    const size_t offset = size_t(number & (kBankSlots - 1)) * kBankSlotSize;
    if (bank.size() < offset + kBankSlotSize)
        return false;
    return decodeBankSlot(bank.subspan(offset, kBankSlotSize), patch);
}

bool decodeSmallInstrument(std::span<const uint8_t> bytes, SIDCTRLPatch& patch)
{
    SIDCTRLLayer* first = patch.sidLayer(0);
    if (!first || bytes.size() < 2 || bytes.size() > 130 || bytes[0] != 0xA1 || bytes[1] != 0x04)
        return false;
    const uint8_t ad = bytes.size() > 3 ? bytes[3] : 0;
    const uint8_t sr = bytes.size() > 4 ? bytes[4] : 0;
    first->active = 1;
    for (size_t v = 1; v < 3; ++v)
        if (SIDCTRLLayer* layer = patch.sidLayer(v))
            layer->active = 0;
    first->fixedFrequency = 0;
    first->transpose = 0;
    first->detune = 0;
    first->attack = ad >> 4;
    first->decay = ad & 0x0F;
    first->sustain = sr >> 4;
    first->release = sr & 0x0F;
    return true;
}

namespace {

constexpr size_t kMinimumTrackerFile = 32;
constexpr size_t kTrackerFileLimit = 4096;  // more than the largest file reads
constexpr size_t kTableRows = 255;
constexpr size_t kMaxPulseRun = 4080;
constexpr size_t kLongestProgramEnd = 127;

// Reads bytes in order; past the end every byte is 0.
class ByteCursor
{
public:
    explicit ByteCursor(std::span<const uint8_t> bytes) : data(bytes) {}
    uint8_t u8()
    {
        const uint8_t b = pos < data.size() ? data[pos] : 0;
        ++pos;
        return b;
    }
    void skip(size_t n) { pos += n; }

private:
    std::span<const uint8_t> data;
    size_t pos = 0;
};

struct Table
{
    uint8_t left[kTableRows] = {};
    uint8_t right[kTableRows] = {};
    size_t rows = 0;

    // A count byte, then the left column, then the right one.
    void readColumns(ByteCursor& in)
    {
        rows = in.u8();
        for (size_t i = 0; i < rows; ++i)
            left[i] = in.u8();
        for (size_t i = 0; i < rows; ++i)
            right[i] = in.u8();
    }
};

std::string labelOf(const std::vector<ParameterInfo>& parameters, size_t index)
{
    if (index >= parameters.size())
        return {};
    const char* text = parameters[index].label;  // copied out: the member is not aligned
    return text ? std::string(text) : std::string();
}

// The trimming rule: the program ends where the final run of equal entries begins; no program
// when the list does not change, or when a long list changes only at its last entry.
template <typename T>
bool programEnd(const std::vector<T>& x, uint64_t& end)
{
    const size_t n = x.size();
    if (n < 2)
        return false;
    const size_t e = std::min(n - 1, kLongestProgramEnd);
    size_t t = e;
    while (t > 0 && x[t - 1] == x[e])
        --t;
    if (t == 0)
        return false;
    if (n > 15 && t == n - 1 &&
        std::all_of(x.begin(), x.begin() + ptrdiff_t(n - 1), [&](T v) { return v == x[0]; }))
        return false;
    end = t;
    return true;
}

template <typename T>
std::vector<T> head(const std::vector<T>& x, uint64_t end)
{
    return std::vector<T>(x.begin(), x.begin() + ptrdiff_t(end + 1));
}

void appendRow(std::string& routing, uint64_t slot, const std::string& destination,
               const char* math)
{
    routing += "source=STEP" + std::to_string(slot) + ";destination=" + destination +
               ";MATH=" + math + ";AMOUNT=1.0;OFFSET=0.0\n";
}

}  // namespace

bool importTrackerInstrument(SIDCTRLPatch& patch, vantor::VirtualFile& file,
                             const std::vector<ParameterInfo>& parameters,
                             StepTableWriters& writers, std::string& name, std::string& routing)
{
    SIDCTRLLayer* first = patch.sidLayer(0);
    const int64_t size = file.size();
    if (!first || size < int64_t(kMinimumTrackerFile) || !file.seek(0))
        return false;
    std::vector<uint8_t> bytes(std::min(size_t(size), kTrackerFileLimit), 0);
    bytes.resize(file.read(bytes.data(), bytes.size()));
    if (bytes.size() < kMinimumTrackerFile || std::memcmp(bytes.data(), "GTI", 3) != 0)
        return false;
    const bool bang = bytes[3] == '!';
    if (!bang && (bytes[3] < '2' || bytes[3] > '5'))
        return false;

    ByteCursor in(bytes);
    in.skip(4);
    const uint8_t ad = in.u8();
    const uint8_t sr = in.u8();
    first->active = 1;
    for (size_t v = 1; v < 3; ++v)
        if (SIDCTRLLayer* layer = patch.sidLayer(v))
            layer->active = 0;

    Table wave, pulse;
    char nameField[16] = {};
    uint64_t slot = 0;
    if (bang) {
        const uint8_t w = in.u8();
        const uint8_t speed = in.u8();
        const int32_t low = in.u8() * 16;
        const int32_t high = in.u8() * 16;
        const int32_t pw = (w & 0xFE) * 16;
        first->pulseWidth = uint16_t(pw != 0 ? pw : 2048);
        if (speed != 0) {
            // Steps are signed bytes: a speed above 127 steps the other way.
            const int8_t up = int8_t(speed);
            const int8_t down = int8_t(uint8_t(-speed));
            const int32_t p = first->pulseWidth;
            std::vector<int8_t> steps;
            for (size_t n = 0; high > p && p + int32_t(n) * speed < high && n < kMaxPulseRun; ++n)
                steps.push_back(up);
            for (size_t n = 0; low < p && p - int32_t(n) * speed > low && n < kMaxPulseRun; ++n)
                steps.push_back(down);
            if (!steps.empty()) {
                appendRow(routing, slot, labelOf(parameters, 0), "ACCUM");
                const uint64_t last = steps.size() - 1;
                writers.writeSigned(slot, steps, true, -128, 127, last, 2, 0, last, 1.0f);
                ++slot;
            }
        }
        in.skip(1);
        const size_t count = in.u8();
        for (char& c : nameField)
            c = char(in.u8());
        wave.rows = count >= 2 ? count / 2 : 0;
        for (size_t i = 0; i < wave.rows; ++i) {
            wave.left[i] = in.u8();
            wave.right[i] = in.u8();
        }
    } else {
        in.skip(7);
        for (char& c : nameField)
            c = char(in.u8());
        wave.readColumns(in);
        pulse.readColumns(in);
        first->pulseWidth = uint16_t((pulse.left[0] * 16) | (pulse.left[1] >> 4));
    }
    nameField[15] = 0;
    name.assign(nameField, strnlen(nameField, sizeof nameField));

    first->fixedFrequency = 0;
    first->transpose = 0;
    first->detune = 0;
    first->attack = ad >> 4;
    first->decay = ad & 0x0F;
    first->sustain = sr >> 4;
    first->release = sr & 0x0F;
    first->wave = wave.left[0] >> 4;
    if (wave.rows == 0) {
        first->fixedFrequency = 1;
        return true;
    }

    // Walk the wave table once, unrolling delays; jumps are not followed.
    std::vector<uint8_t> waves;
    std::vector<int8_t> notes;
    std::vector<bool> absolute;
    uint8_t currentWave = wave.left[0] >> 4;
    int8_t currentNote = int8_t(wave.right[0]);
    bool currentAbsolute = false;
    bool relativeNote = false;
    for (size_t i = 0; i < wave.rows; ++i) {
        const uint8_t l = wave.left[i];
        const uint8_t r = wave.right[i];
        const bool lastRow = i + 1 == wave.rows;
        if (l >= 0x01 && l <= 0x0F) {
            for (uint8_t k = 0; k < l; ++k) {
                waves.push_back(currentWave);
                notes.push_back(currentNote);
                absolute.push_back(currentAbsolute);
            }
        } else if (l == 0xFF) {
            if (r == 0 || lastRow)
                break;
            continue;
        } else {
            if (l >= 0x10 && l <= 0xDF)
                currentWave = l >> 4;
            else if (l >= 0xE0 && l <= 0xEF)
                currentWave = 0;
            waves.push_back(currentWave);
            if ((r >= 0x81 && r <= 0xDF) || (bang && r == 0x80)) {
                currentNote = int8_t(r - 0x80);
                currentAbsolute = true;
            } else if (r < 0x60) {
                currentNote = int8_t(r);
                currentAbsolute = false;
                relativeNote = true;
            } else if (r <= 0x7F) {
                currentNote = int8_t(0x60 - r);
                currentAbsolute = false;
                relativeNote = true;
            }
            notes.push_back(currentNote);
            absolute.push_back(currentAbsolute);
        }
        if (lastRow)
            break;
    }
    if (!relativeNote)
        first->fixedFrequency = 1;

    constexpr uint64_t none = StepTableWriters::kNoLoopPoint;
    uint64_t end = 0;
    if (programEnd(notes, end)) {
        appendRow(routing, slot, "L01 Transpose", "OFFSET");
        if (!relativeNote)
            first->transpose = -48;
        writers.writeSigned(slot, head(notes, end), false, -128, 127, end, 2, none, none, 1.0f);
        ++slot;
    }
    if (programEnd(absolute, end)) {
        appendRow(routing, slot, "L01 Fixed Freq", "REPLACE");
        writers.writeBits(slot, head(absolute, end), false, 0, 1, end, 2, none, none, 1.0f);
        ++slot;
    }
    if (programEnd(waves, end)) {
        appendRow(routing, slot, labelOf(parameters, 2), "REPLACE");
        int32_t lo = 0, hi = 8;
        if (parameters.size() > 2) {
            lo = vantor::saturatingCast<int32_t>(parameters[2].minValue);
            hi = vantor::saturatingCast<int32_t>(parameters[2].maxValue);
        }
        writers.writeUnsigned(slot, head(waves, end), false, lo, hi, end, 2, none, none, 1.0f);
        ++slot;
    }
    return true;
}
