#include "instrument/SID_sub.h"
#include "media/SID_shadow.h"
#include "sid/ChipSubWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

struct Write
{
    uint64_t chip;
    uint8_t reg;
    uint8_t value;
    bool operator==(const Write&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Write& w)
{
    return out << "{chip " << w.chip << ", reg " << int(w.reg) << ", 0x" << std::hex
               << int(w.value) << std::dec << "}";
}

// Records every write and checks that the image already held it.
class RecordingWriter : public ChipSubWriter
{
public:
    void writeRegister(uint64_t chip, uint8_t reg, uint8_t value) override
    {
        writes.push_back({chip, reg, value});
        if (shadow && shadow->regs[reg % 32] != value)
            ++writesAheadOfShadow;
    }
    std::vector<Write> writes;
    const SID_shadow* shadow = nullptr;
    int writesAheadOfShadow = 0;
};

class SIDSubTest : public ::testing::Test
{
protected:
    SIDSubTest()
    {
        writer.shadow = &shadow;
        SID_sub::createVoices(voices, &shadow, &writer, 7);
    }
    ~SIDSubTest() override
    {
        for (ChipSubController* v : voices)
            delete v;
        EXPECT_EQ(writer.writesAheadOfShadow, 0);
    }

    SID_sub& voice(size_t v) { return *static_cast<SID_sub*>(voices[v]); }
    void set(size_t v, uint32_t index, int32_t value)
    {
        const float f = float(value);
        voice(v).setParameter(index, &value, &f);
    }

    SID_shadow shadow;
    RecordingWriter writer;
    std::vector<ChipSubController*> voices;
};

TEST_F(SIDSubTest, CreatesThreeVoicesSharingTheChip)
{
    ASSERT_EQ(voices.size(), 3u);
    for (uint8_t v = 0; v < 3; ++v) {
        EXPECT_EQ(voices[v]->voice, v);
        EXPECT_EQ(voices[v]->chip, 7u);
        EXPECT_EQ(voices[v]->writer, &writer);
        EXPECT_EQ(voice(v).shadow, &shadow);
        EXPECT_EQ(voice(v).frequencyFactor, 1.0f);
        EXPECT_TRUE(voice(v).phaseReset);
        EXPECT_TRUE(voices[v]->prepare());
        EXPECT_TRUE(voices[v]->unusedSubHook3());
    }
    EXPECT_TRUE(writer.writes.empty());
}

TEST_F(SIDSubTest, Pitch)
{
    const struct {
        float clock;  // 0: no setClock
        float hz;
        uint8_t lo, hi;
    } kCases[] = {
        {0.0f, 440.0f, 0xB8, 0x01},
        {985248.0f, 440.0f, 0x45, 0x1D},  // floor(440 x 17.0284 + 0.5) = 7493
        {985248.0f, 4000.0f, 0xFF, 0xFF},
        {985248.0f, -10.0f, 0x00, 0x00},
        {985248.0f, 1e12f, 0x00, 0x00},  // beyond the 32-bit range
        {985248.0f, std::nanf(""), 0x00, 0x00},
    };
    for (const auto& c : kCases) {
        SID_sub v(&shadow, &writer, 2, 1);
        if (c.clock != 0.0f)
            v.setClock(c.clock);
        writer.writes.clear();
        v.setPitch(c.hz);
        EXPECT_EQ(writer.writes, (std::vector<Write>{{2, 7, c.lo}, {2, 8, c.hi}})) << c.hz;
    }
}

TEST_F(SIDSubTest, Level)
{
    const struct {
        float amplitude, layerLevel;
        uint8_t value;
    } kCases[] = {
        {0.03f, 1.0f, 254},  // L = floor(0.2295 + 0.5) = 0: still audible
        {1.0f, 1.0f, 0},
        {0.5f, 1.0f, 191},   // floor(63.75 + 0.5) = 64
        {1.0f, 0.0f, 255},
        {1.0f, 260.0f / 255.0f, 0},  // beyond full level stays full
        {-1.0f, -1.0f, 254},
        {std::nanf(""), 1.0f, 254},
    };
    for (const auto& c : kCases) {
        writer.writes.clear();
        voice(2).updateVoiceParameters(c.layerLevel);
        voice(2).setAmplitude(c.amplitude);
        ASSERT_EQ(writer.writes.size(), 2u);
        EXPECT_EQ(writer.writes.back(), (Write{7, 31, c.value}))
            << c.amplitude << " x " << c.layerLevel;
    }
}

TEST_F(SIDSubTest, NoteOnWritesTheLevelBeforeRetriggering)
{
    voice(0).noteOn(60, 0.0f);
    EXPECT_EQ(writer.writes, (std::vector<Write>{{7, 29, 255}, {7, 4, 0x08}, {7, 4, 0x01}}));
    writer.writes.clear();
    voice(0).noteOff();
    EXPECT_EQ(writer.writes, (std::vector<Write>{{7, 4, 0x00}}));
    voice(0).noteOff();
    EXPECT_EQ(writer.writes.size(), 2u);  // written again all the same
}

TEST_F(SIDSubTest, Retrigger)
{
    set(1, SID_sub::kPhaseReset, 0);
    voice(1).retrigger(0);
    EXPECT_EQ(writer.writes, (std::vector<Write>{{7, 11, 0x01}}));
    EXPECT_EQ(shadow.gateChanged[1], 1);

    shadow.gateChanged[1] = 0;
    shadow.regs[11] = 0x49;  // pulse, test, gate on
    set(1, SID_sub::kPhaseReset, 1);
    writer.writes.clear();
    voice(1).retrigger(0);
    EXPECT_EQ(writer.writes, (std::vector<Write>{{7, 11, 0x48}, {7, 11, 0x48}, {7, 11, 0x41}}));
    EXPECT_EQ(shadow.gateChanged[1], 1);
    EXPECT_EQ(shadow.gateChanged[0], 0);
    EXPECT_EQ(shadow.gateChanged[2], 0);
}

TEST_F(SIDSubTest, PulseWidth)
{
    const struct {
        int32_t v;
        uint8_t lo, hi;
    } kCases[] = {{-5, 0, 0}, {5000, 0xFF, 0x0F}, {0x123, 0x23, 0x01}};
    for (const auto& c : kCases) {
        writer.writes.clear();
        set(1, SID_sub::kPulseWidth, c.v);
        EXPECT_EQ(writer.writes, (std::vector<Write>{{7, 9, c.lo}, {7, 10, c.hi}})) << c.v;
    }
}

TEST_F(SIDSubTest, FieldsKeepTheRestOfTheirRegister)
{
    const struct {
        uint32_t index;
        int32_t v;
        uint8_t reg, before, after;
    } kCases[] = {
        {SID_sub::kGate, 1, 18, 0x40, 0x41},
        {SID_sub::kGate, 0, 18, 0x41, 0x40},
        {SID_sub::kHardSync, 3, 18, 0x10, 0x12},
        {SID_sub::kRingMod, 1, 18, 0x10, 0x14},
        {SID_sub::kStall, 1, 18, 0x41, 0x49},
        {SID_sub::kStall, -1, 18, 0x49, 0x41},
        {SID_sub::kWave, 7, 18, 0x8F, 0x7F},
        {SID_sub::kWave, 0x118, 18, 0x01, 0x81},  // only the low byte's low nibble
        {SID_sub::kAttack, 0x1A, 19, 0x34, 0xA4},
        {SID_sub::kDecay, 9, 19, 0x34, 0x39},
        {SID_sub::kDecay, 0x1F, 19, 0x24, 0x2F},  // stays inside its nibble
        {SID_sub::kSustain, 12, 20, 0x34, 0xC4},
        {SID_sub::kRelease, 0xF2, 20, 0x34, 0x32},
        {SID_sub::kToFilter, 1, 23, 0xF3, 0xF7},
        {SID_sub::kToFilter, 0, 23, 0xFF, 0xFB},
    };
    for (const auto& c : kCases) {
        shadow.regs[c.reg] = c.before;
        writer.writes.clear();
        set(2, c.index, c.v);
        EXPECT_EQ(writer.writes, (std::vector<Write>{{7, c.reg, c.after}}))
            << "index " << c.index << " value " << c.v;
    }
}

TEST_F(SIDSubTest, UnknownParametersWriteNothing)
{
    for (uint32_t index : {4u, 13u, 14u, 200u})
        set(0, index, 1);
    set(0, SID_sub::kPhaseReset, 0);
    voice(0).setParameter(SID_sub::kGate, nullptr, nullptr);
    EXPECT_TRUE(writer.writes.empty());
    EXPECT_FALSE(voice(0).phaseReset);
}

}  // namespace
