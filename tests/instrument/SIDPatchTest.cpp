#include "SIDCtrlDoubles.h"

#include "instrument/SIDPatch.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SIDPatch, Defaults)
{
    SIDCTRLPatch patch;
    EXPECT_STREQ(patch.name, "Base");
    EXPECT_EQ(patch.cutoff, 2047);
    EXPECT_EQ(patch.resonance, 0);
    EXPECT_EQ(patch.lowPass + patch.bandPass + patch.highPass + patch.voice3Off, 0);
    EXPECT_EQ(patch.volume, 15);
    for (size_t i = 0; i < ZRS::PatchBase::kLayers; ++i)
        EXPECT_EQ(patch.layers[i] != nullptr, i < 4) << i;
    for (size_t i = 0; i < 4; ++i) {
        const SIDCTRLLayer* l = patch.sidLayer(i);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->layerNumber, i);
        EXPECT_EQ(l->active, i == 0 ? 1 : 0);
        EXPECT_EQ(l->fixedFrequency + l->monoRetrigger + l->transpose + l->detune, 0);
        EXPECT_EQ(l->delayStart, 0.0f);
        EXPECT_EQ(l->glideAmount, 0.0f);
        EXPECT_EQ(l->glideMode, 0);
        EXPECT_EQ(l->auxValue, 0.0f);
        EXPECT_EQ(l->amp, 1.0f);
        EXPECT_EQ(l->ampSteps, 127);
        EXPECT_EQ(l->ampStepsMax, 127);
        EXPECT_EQ(l->lowKey, 0);
        EXPECT_EQ(l->highKey, 127);
        EXPECT_EQ(l->voiceCount, 12);
        EXPECT_EQ(l->voiceGroup, 0u);
        EXPECT_EQ(l->pulseWidth, 2048);
        EXPECT_EQ(l->sustain, 15);
        EXPECT_EQ(l->wave, 4);
        EXPECT_EQ(l->phaseReset, 1);
        EXPECT_EQ(l->attack + l->decay + l->release + l->gate + l->hardSync + l->ringMod +
                      l->stall + l->toFilter,
                  0);
    }
}

// One slot: name, type, filter record, three voice records.
Bytes bankSlot(const char* name, uint8_t type)
{
    Bytes slot(kBankSlotSize, 0);
    std::memcpy(slot.data(), name, std::min<size_t>(16, std::strlen(name)));
    slot[16] = type;
    const uint8_t filter[4] = {0x80 | 0x20 | 0x05, 0xFF, 0x0F, 0xA0};
    std::memcpy(slot.data() + 84, filter, 4);
    const uint8_t voices[3][12] = {
        //  b0    b1    b2    b3    b4    b5  b6  b7   b8   b9  b10  b11
        {0x04, 0x61, 0x12, 0xA9, 0x34, 0xF2, 0, 1, 64, 128, 0, 50},
        {0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0, 2, 60, 131, 0, 0},
        {0x00, 0x28, 0xFF, 0xFF, 0xFF, 0xFF, 0, 255, 0, 255, 0, 255},
    };
    for (size_t v = 0; v < 3; ++v)
        std::memcpy(slot.data() + 96 + 16 * v, voices[v], 12);
    return slot;
}

TEST(SIDPatch, BankSlot)
{
    SIDCTRLPatch patch;
    patch.volume = 9;
    patch.sidLayer(3)->attack = 7;
    ASSERT_TRUE(decodeBankSlot(bankSlot("SixteenCharsLong", 0), patch));

    EXPECT_EQ(std::string(patch.name), "SixteenCharsLong");
    EXPECT_EQ(patch.cutoff, 2047);
    EXPECT_EQ(patch.resonance, 10);
    EXPECT_EQ(patch.lowPass, 0);
    EXPECT_EQ(patch.bandPass, 1);
    EXPECT_EQ(patch.highPass, 0);
    EXPECT_EQ(patch.voice3Off, 1);
    EXPECT_EQ(patch.volume, 9);
    EXPECT_EQ(patch.sidLayer(3)->attack, 7);

    const SIDCTRLLayer& l0 = *patch.sidLayer(0);
    EXPECT_EQ(l0.toFilter, 1);
    EXPECT_EQ(l0.phaseReset, 1);
    EXPECT_EQ(l0.wave, 1);
    EXPECT_EQ(l0.active, 1);
    EXPECT_EQ(l0.hardSync, 1);
    EXPECT_EQ(l0.ringMod, 1);
    EXPECT_EQ(l0.attack, 1);
    EXPECT_EQ(l0.decay, 2);
    EXPECT_EQ(l0.sustain, 10);
    EXPECT_EQ(l0.release, 9);
    EXPECT_EQ(l0.pulseWidth, 0x234);
    EXPECT_EQ(l0.transpose, 0);
    EXPECT_EQ(l0.detune, 0);
    EXPECT_EQ(l0.delayStart, 1.0f);
    EXPECT_EQ(l0.glideAmount, 50.0f);

    const SIDCTRLLayer& l1 = *patch.sidLayer(1);
    EXPECT_EQ(l1.toFilter, 0);
    EXPECT_EQ(l1.active, 0);
    EXPECT_EQ(l1.wave, 4);
    EXPECT_EQ(l1.phaseReset, 0);
    EXPECT_EQ(l1.transpose, -4);
    EXPECT_EQ(l1.detune, 3);
    EXPECT_EQ(l1.delayStart, std::pow(2.0f, 1.8766f));
    EXPECT_NEAR(l1.delayStart, 3.672f, 0.001f);

    const SIDCTRLLayer& l2 = *patch.sidLayer(2);
    EXPECT_EQ(l2.toFilter, 1);
    EXPECT_EQ(l2.active, 1);
    EXPECT_EQ(l2.wave, 8);
    EXPECT_EQ(l2.pulseWidth, 0xFFF);
    EXPECT_EQ(l2.transpose, -64);
    EXPECT_EQ(l2.detune, 127);
    EXPECT_NEAR(l2.delayStart, 3.28e4f, 0.01e4f);
    EXPECT_EQ(l2.glideAmount, 255.0f);
}

TEST(SIDPatch, BankSlotOfAnotherTypeChangesOnlyTheName)
{
    SIDCTRLPatch patch;
    ASSERT_TRUE(decodeBankSlot(bankSlot("Drums", 1), patch));
    EXPECT_STREQ(patch.name, "Drums");
    EXPECT_EQ(patch.cutoff, 2047);
    EXPECT_EQ(patch.sidLayer(0)->pulseWidth, 2048);
    EXPECT_EQ(patch.sidLayer(1)->toFilter, 0);
}

TEST(SIDPatch, BankSlotNumbersWrapAt128)
{
    Bytes bank(kBankSize, 0);
    const Bytes slot = bankSlot("Third", 0);
    std::copy(slot.begin(), slot.end(), bank.begin() + 3 * kBankSlotSize);
    SIDCTRLPatch patch;
    ASSERT_TRUE(decodeBankSlot(bank, 131, patch));
    EXPECT_STREQ(patch.name, "Third");

    SIDCTRLPatch untouched;
    EXPECT_FALSE(decodeBankSlot(std::span<const uint8_t>(bank).first(kBankSize - 1), 127,
                                untouched));
    EXPECT_FALSE(decodeBankSlot(std::span<const uint8_t>(slot).first(511), untouched));
    EXPECT_STREQ(untouched.name, "Base");
}

TEST(SIDPatch, SmallInstrument)
{
    SIDCTRLPatch patch;
    patch.cutoff = 100;
    for (size_t i = 0; i < 3; ++i) {
        patch.sidLayer(i)->active = 1;
        patch.sidLayer(i)->fixedFrequency = 1;
        patch.sidLayer(i)->transpose = 5;
        patch.sidLayer(i)->detune = 5;
    }
    ASSERT_TRUE(decodeSmallInstrument(Bytes{0xA1, 0x04, 0x00, 0x12, 0xA9, 0x00}, patch));
    const SIDCTRLLayer& l0 = *patch.sidLayer(0);
    EXPECT_EQ(l0.active, 1);
    EXPECT_EQ(l0.attack, 1);
    EXPECT_EQ(l0.decay, 2);
    EXPECT_EQ(l0.sustain, 10);
    EXPECT_EQ(l0.release, 9);
    EXPECT_EQ(l0.fixedFrequency + l0.transpose + l0.detune, 0);
    EXPECT_EQ(patch.sidLayer(1)->active, 0);
    EXPECT_EQ(patch.sidLayer(2)->active, 0);
    EXPECT_EQ(patch.sidLayer(1)->transpose, 5);
    EXPECT_EQ(patch.cutoff, 100);
    EXPECT_EQ(l0.pulseWidth, 2048);

    for (const Bytes& other : {Bytes{0xA1, 0x05, 0, 0x12, 0xA9}, Bytes{0xA1}, Bytes(131, 0xA1)}) {
        SIDCTRLPatch untouched;
        EXPECT_FALSE(decodeSmallInstrument(other, untouched));
        EXPECT_EQ(untouched.sidLayer(0)->sustain, 15);
    }
}

// Step-table writes as the import makes them.
struct StepCall
{
    char kind;  // 's' signed, 'u' unsigned, 'b' bits
    uint64_t slot;
    std::vector<int> values;
    bool once;
    int32_t lo, hi;
    uint64_t last;
    uint32_t mode;
    uint64_t loopIn, loopOut;
    float speed;
    bool operator==(const StepCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const StepCall& c)
{
    out << c.kind << " slot " << c.slot << " [";
    for (int v : c.values)
        out << v << ' ';
    return out << "] once " << c.once << " " << c.lo << ".." << c.hi << " last " << c.last
               << " mode " << c.mode << " loop " << int64_t(c.loopIn) << ".."
               << int64_t(c.loopOut) << " speed " << c.speed;
}

class RecordingWriters : public StepTableWriters
{
public:
    template <typename V>
    void record(char kind, uint64_t slot, const V& values, bool once, int32_t lo, int32_t hi,
                uint64_t last, uint32_t mode, uint64_t in, uint64_t out, float speed)
    {
        calls.push_back({kind, slot, std::vector<int>(values.begin(), values.end()), once, lo, hi,
                         last, mode, in, out, speed});
    }
    void writeSigned(uint64_t slot, const std::vector<int8_t>& values, bool once, int32_t lo,
                     int32_t hi, uint64_t last, uint32_t mode, uint64_t in, uint64_t out,
                     float speed) override
    {
        record('s', slot, values, once, lo, hi, last, mode, in, out, speed);
    }
    void writeUnsigned(uint64_t slot, const std::vector<uint8_t>& values, bool once, int32_t lo,
                       int32_t hi, uint64_t last, uint32_t mode, uint64_t in, uint64_t out,
                       float speed) override
    {
        record('u', slot, values, once, lo, hi, last, mode, in, out, speed);
    }
    void writeBits(uint64_t slot, const std::vector<bool>& values, bool once, int32_t lo,
                   int32_t hi, uint64_t last, uint32_t mode, uint64_t in, uint64_t out,
                   float speed) override
    {
        record('b', slot, values, once, lo, hi, last, mode, in, out, speed);
    }
    std::vector<StepCall> calls;
};

constexpr uint64_t kNone = StepTableWriters::kNoLoopPoint;

using Rows = std::vector<std::pair<uint8_t, uint8_t>>;

void putName(Bytes& f, const char* name)
{
    char field[16] = {};
    std::memcpy(field, name, std::min<size_t>(sizeof field, std::strlen(name)));
    f.insert(f.end(), field, field + 16);
}

// "GTI!": AD 0x12, SR 0xA9, then the pulse settings, the wave rows; padded to 32 bytes.
Bytes bangFile(uint8_t w, uint8_t speed, uint8_t low, uint8_t high, const Rows& rows)
{
    Bytes f = {'G', 'T', 'I', '!', 0x12, 0xA9, w, speed, low, high, 0,
               uint8_t(rows.size() * 2)};
    putName(f, "Lead");
    for (auto [l, r] : rows) {
        f.push_back(l);
        f.push_back(r);
    }
    if (f.size() < 32)
        f.resize(32, 0);
    return f;
}

// "GTIn": AD 0x12, SR 0xA9, seven bytes, the name, wave, pulse and (empty) filter tables.
Bytes versionFile(char version, const Rows& wave, const Rows& pulse)
{
    Bytes f = {'G', 'T', 'I', uint8_t(version), 0x12, 0xA9, 0, 0, 0, 0, 0, 0, 0};
    putName(f, "SixteenCharsName");
    for (const Rows* table : {&wave, &pulse}) {
        f.push_back(uint8_t(table->size()));
        for (auto row : *table)
            f.push_back(row.first);
        for (auto row : *table)
            f.push_back(row.second);
    }
    f.push_back(0);
    if (f.size() < 32)
        f.resize(32, 0);
    return f;
}

class TrackerImport : public ::testing::Test
{
protected:
    TrackerImport()
    {
        parameters.emplace_back("Osc1 PW", ParameterInfo::Integer, 0.0f, 4095.0f, 2048.0f, 0, 0);
        parameters.emplace_back("Osc1 Gate", ParameterInfo::Switch, 0.0f, 1.0f, 0.0f, 0, 0);
        parameters.emplace_back("Osc1 Wave", ParameterInfo::Choice, 0.0f, 8.0f, 4.0f, 0, 0);
    }

    bool import(const Bytes& bytes)
    {
        vantor::VirtualRAMFile file(bytes.data(), bytes.size());
        return importTrackerInstrument(patch, file, parameters, writers, name, routing);
    }
    const SIDCTRLLayer& layer0() const { return *patch.sidLayer(0); }

    SIDCTRLPatch patch;
    std::vector<ParameterInfo> parameters;
    RecordingWriters writers;
    std::string name, routing;
};

std::string row(int slot, const std::string& destination, const std::string& math)
{
    return "source=STEP" + std::to_string(slot) + ";destination=" + destination + ";MATH=" +
           math + ";AMOUNT=1.0;OFFSET=0.0\n";
}

TEST_F(TrackerImport, PulseNoteAndWavePrograms)
{
    patch.sidLayer(1)->active = 1;
    ASSERT_TRUE(import(bangFile(0x80, 64, 0x40, 0xC0, {{0x41, 0x00}, {0x21, 0x0C}, {0xFF, 0x00}})));

    EXPECT_EQ(name, "Lead");
    EXPECT_EQ(layer0().pulseWidth, 2048);
    EXPECT_EQ(layer0().active, 1);
    EXPECT_EQ(patch.sidLayer(1)->active, 0);
    EXPECT_EQ(patch.sidLayer(2)->active, 0);
    EXPECT_EQ(layer0().attack, 1);
    EXPECT_EQ(layer0().decay, 2);
    EXPECT_EQ(layer0().sustain, 10);
    EXPECT_EQ(layer0().release, 9);
    EXPECT_EQ(layer0().wave, 4);
    EXPECT_EQ(layer0().fixedFrequency, 0);
    EXPECT_EQ(layer0().transpose, 0);

    std::vector<int> pulse(16, 64);
    pulse.insert(pulse.end(), 16, -64);
    const std::vector<StepCall> want = {
        {'s', 0, pulse, true, -128, 127, 31, 2, 0, 31, 1.0f},
        {'s', 1, {0, 12}, false, -128, 127, 1, 2, kNone, kNone, 1.0f},
        {'u', 2, {4, 2}, false, 0, 8, 1, 2, kNone, kNone, 1.0f},
    };
    EXPECT_EQ(writers.calls, want);
    EXPECT_EQ(routing, row(0, "Osc1 PW", "ACCUM") + row(1, "L01 Transpose", "OFFSET") +
                           row(2, "Osc1 Wave", "REPLACE"));
}

// The same file loaded by the controller: its programs land in the synth's step tables.
TEST(TrackerImportTables, ProgramsFillTheStepTables)
{
    sidctrl_test::StepTableRig rig;
    const Bytes file = bangFile(0x80, 64, 0x40, 0xC0, {{0x41, 0x00}, {0x21, 0x0C}, {0xFF, 0x00}});
    vantor::VirtualRAMFile ram(file.data(), file.size());
    rig.ctrl->loadMedia(0, &ram);

    std::vector<int> pulse(16, 0x40);
    pulse.insert(pulse.end(), 16, 0xC0);
    pulse.push_back(0);
    EXPECT_EQ(rig.steps(0, 33), pulse);
    EXPECT_EQ(rig.steps(1, 3), (std::vector<int>{0x00, 0x0C, 0}));
    auto slotValue = [&](uint64_t slot, uint32_t p) {
        float value = -1.0f;
        for (const sidctrl_test::Report& r : rig.listener.reports)
            if (r.what == "slot" && r.a == slot && r.n == p)
                value = r.value;
        return value;
    };
    const struct
    {
        uint64_t slot;
        float steps, loopIn, loopOut;
    } want[] = {{0, 32, 0, 31}, {1, 4, 1, 1}};
    for (const auto& w : want) {
        EXPECT_EQ(slotValue(w.slot, 5), w.steps) << w.slot;
        EXPECT_EQ(slotValue(w.slot, 9), w.loopIn) << w.slot;
        EXPECT_EQ(slotValue(w.slot, 10), w.loopOut) << w.slot;
        EXPECT_EQ(slotValue(w.slot, 2), 2.0f) << w.slot;
        EXPECT_EQ(slotValue(w.slot, 6), 1.0f) << w.slot;
    }
    ASSERT_FALSE(rig.listener.routingTexts.empty());
    EXPECT_EQ(rig.listener.routingTexts.back().rfind("source=STEP0;destination=Osc1 PW;MATH=ACCUM", 0), 0u);
}

TEST_F(TrackerImport, PulseWidthByteBelowTwoMeansMiddle)
{
    for (uint8_t w : {0, 1}) {
        writers.calls.clear();
        routing.clear();
        ASSERT_TRUE(import(bangFile(w, 0, 0x40, 0xC0, {{0x41, 0x00}, {0x21, 0x0C}})));
        EXPECT_EQ(layer0().pulseWidth, 2048);
        ASSERT_EQ(writers.calls.size(), 2u);
        EXPECT_EQ(writers.calls[0].slot, 0u);
        EXPECT_EQ(writers.calls[0].values, (std::vector<int>{0, 12}));
        EXPECT_EQ(routing.rfind("source=STEP0;destination=L01 Transpose;", 0), 0u);
    }
}

TEST_F(TrackerImport, PulseSpeedAboveSignedRangeStepsTheOtherWay)
{
    ASSERT_TRUE(import(bangFile(0x80, 200, 0x40, 0xC0, {})));
    ASSERT_FALSE(writers.calls.empty());
    std::vector<int> want(6, -56);
    want.insert(want.end(), 6, 56);
    EXPECT_EQ(writers.calls[0].values, want);
    EXPECT_EQ(writers.calls[0].last, 11u);
    // No wave rows: fixed frequency, wave 0.
    EXPECT_EQ(layer0().fixedFrequency, 1);
    EXPECT_EQ(layer0().wave, 0);
}

TEST_F(TrackerImport, PulseLimitsOnOneSideMakeOneRun)
{
    ASSERT_TRUE(import(bangFile(0x80, 100, 0x90, 0xC0, {})));  // low limit above the width
    EXPECT_EQ(writers.calls.at(0).values, std::vector<int>(11, 100));  // 2048 + 11 x 100 >= 3072
    writers.calls.clear();
    routing.clear();
    ASSERT_TRUE(import(bangFile(0x80, 100, 0x80, 0x80, {})));  // both limits at the width
    EXPECT_TRUE(writers.calls.empty());
    EXPECT_TRUE(routing.empty());
}

TEST_F(TrackerImport, AbsoluteNotesOnly)
{
    ASSERT_TRUE(import(versionFile('2', {{0x41, 0x90}, {0x41, 0x94}}, {{0x80, 0}})));
    EXPECT_EQ(layer0().fixedFrequency, 1);
    EXPECT_EQ(layer0().transpose, -48);
    const std::vector<StepCall> want = {
        {'s', 0, {16, 20}, false, -128, 127, 1, 2, kNone, kNone, 1.0f},
    };
    EXPECT_EQ(writers.calls, want);
    EXPECT_EQ(routing, row(0, "L01 Transpose", "OFFSET"));
    EXPECT_EQ(name, "SixteenCharsNam");
}

TEST_F(TrackerImport, PulseTableOfTheVersionedFiles)
{
    ASSERT_TRUE(import(versionFile('3', {{0x41, 0x00}}, {{0x80, 0x00}, {0x30, 0x00}})));
    EXPECT_EQ(layer0().pulseWidth, 2051);
    ASSERT_TRUE(import(versionFile('5', {{0x41, 0x00}}, {{0xFF, 0x00}})));
    EXPECT_EQ(layer0().pulseWidth, 4080);  // the missing second row reads 0
}

TEST_F(TrackerImport, OneOrdinaryRowMakesNoProgram)
{
    ASSERT_TRUE(import(versionFile('4', {{0x21, 0x05}}, {})));
    EXPECT_TRUE(writers.calls.empty());
    EXPECT_TRUE(routing.empty());
    EXPECT_EQ(layer0().wave, 2);
    EXPECT_EQ(layer0().fixedFrequency, 0);
}

TEST_F(TrackerImport, LongListChangingOnlyAtItsEnd)
{
    // Delay rows repeat the current values: 20 x wave 4, then wave 2.
    ASSERT_TRUE(import(versionFile('2', {{0x41, 0x00}, {0x0F, 0x00}, {0x04, 0x00}, {0x21, 0x00}},
                                   {})));
    EXPECT_TRUE(writers.calls.empty());

    // 19 x wave 4, then 2, 2: the program ends where the last run begins.
    ASSERT_TRUE(import(versionFile(
        '2', {{0x41, 0x00}, {0x0F, 0x00}, {0x03, 0x00}, {0x21, 0x00}, {0x21, 0x00}}, {})));
    ASSERT_EQ(writers.calls.size(), 1u);
    EXPECT_EQ(writers.calls[0].kind, 'u');
    EXPECT_EQ(writers.calls[0].last, 19u);
    EXPECT_EQ(writers.calls[0].values.size(), 20u);
    EXPECT_EQ(writers.calls[0].values.back(), 2);
}

TEST_F(TrackerImport, NoteRowsAndJumps)
{
    // Relative notes up and down, an absolute note that sets the flag, and a jump that is not
    // followed; the last row's 0x80 keeps the note in the versioned files.
    const Rows rows = {{0x41, 0x05}, {0x00, 0x6C}, {0xFF, 0x01}, {0xE1, 0x81}, {0x11, 0x80}};
    ASSERT_TRUE(import(versionFile('2', rows, {})));
    const std::vector<StepCall> want = {
        {'s', 0, {5, -12, 1}, false, -128, 127, 2, 2, kNone, kNone, 1.0f},
        {'b', 1, {0, 0, 1}, false, 0, 1, 2, 2, kNone, kNone, 1.0f},
        {'u', 2, {4, 4, 0, 1}, false, 0, 8, 3, 2, kNone, kNone, 1.0f},
    };
    EXPECT_EQ(writers.calls, want);
    EXPECT_EQ(layer0().fixedFrequency, 0);
    EXPECT_EQ(layer0().transpose, 0);
    EXPECT_EQ(routing, row(0, "L01 Transpose", "OFFSET") + row(1, "L01 Fixed Freq", "REPLACE") +
                           row(2, "Osc1 Wave", "REPLACE"));

    // In "GTI!" files 0x80 is absolute note 0; a jump to 0 ends the table.
    writers.calls.clear();
    ASSERT_TRUE(import(bangFile(0x80, 0, 0, 0, {{0x41, 0x05}, {0x41, 0x80}, {0xFF, 0x00},
                                                {0x21, 0x07}})));
    ASSERT_EQ(writers.calls.size(), 2u);
    EXPECT_EQ(writers.calls[0].values, (std::vector<int>{5, 0}));
    EXPECT_EQ(writers.calls[1].values, (std::vector<int>{0, 1}));
    EXPECT_EQ(writers.calls[1].kind, 'b');
}

TEST_F(TrackerImport, TruncatedTablesReadZero)
{
    Bytes f = versionFile('2', {}, {});
    f[29] = 200;  // wave rows promised, none present
    f.resize(40);
    ASSERT_TRUE(import(f));
    EXPECT_EQ(layer0().wave, 0);
    EXPECT_EQ(layer0().pulseWidth, 0);
    EXPECT_TRUE(writers.calls.empty());
}

TEST_F(TrackerImport, RefusedFilesChangeNothing)
{
    Bytes shortFile = bangFile(0x80, 64, 0x40, 0xC0, {{0x41, 0x00}});
    shortFile.resize(31);
    Bytes wrongMagic = versionFile('2', {{0x41, 0x00}}, {});
    wrongMagic[3] = '6';
    Bytes otherFile = wrongMagic;
    otherFile[0] = 'X';
    patch.sidLayer(1)->active = 1;
    for (const Bytes& f : {shortFile, wrongMagic, otherFile}) {
        EXPECT_FALSE(import(f));
        EXPECT_EQ(patch.sidLayer(1)->active, 1);
        EXPECT_EQ(layer0().sustain, 15);
        EXPECT_EQ(layer0().pulseWidth, 2048);
        EXPECT_TRUE(writers.calls.empty());
        EXPECT_TRUE(routing.empty());
    }
}

}  // namespace
