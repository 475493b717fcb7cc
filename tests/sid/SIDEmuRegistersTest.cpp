// Register file of the chip: writes, read-backs, the decaying bus, paddles and reset.

#include "SIDEmuTestSupport.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>

using sidtest::makeChip;
using sidtest::render;
using sidtest::write;

namespace {

struct RegisterCase {
    const char* name;
    std::function<void(SIDEmu&)> check;
};

const RegisterCase kRegisterCases[] = {
    {"0xFF to register 21 changes only cutoff bits 0-2",
     [](SIDEmu& c) {
         write(c, {{22, 0xA5}, {21, 0x02}});
         ASSERT_EQ(c.getCutoff(), 0xA5 * 8 + 2);
         write(c, {{21, 0xFF}});
         EXPECT_EQ(c.getCutoff(), 0xA5 * 8 + 7);
         EXPECT_EQ(c.getLinearFilter().getCutoff(), 0xA5u * 8 + 7);
         write(c, {{22, 0x00}});
         EXPECT_EQ(c.getCutoff(), 7);
     }},
    {"registers 27 and 29-31 do nothing before extensions are enabled",
     [](SIDEmu& c) {
         write(c, {{27, 3}, {29, 255}, {30, 128}, {31, 1}});
         for (size_t v = 0; v < 3; ++v) {
             EXPECT_EQ(c.voiceOff(v), 0) << v;
             EXPECT_EQ(c.voiceLevel(v), 1.0f) << v;
         }
         EXPECT_EQ(c.registerImage(29), 255);  // the image still holds the value
     }},
    {"with extensions, registers 27 and 29-31 switch voices off and set their levels",
     [](SIDEmu& c) {
         c.extensionsEnabled = 1;
         write(c, {{29, 255}, {30, 0x80}, {27, 3}});
         EXPECT_EQ(c.voiceLevel(0), 0.0f);
         EXPECT_EQ(c.voiceLevel(1), float(0x7F) / 255.0f);
         EXPECT_EQ(c.voiceOff(0), 1);
         EXPECT_EQ(c.voiceOff(1), 1);
         EXPECT_EQ(c.voiceOff(2), 0);
         write(c, {{29, 0}, {27, 0}});
         EXPECT_EQ(c.voiceLevel(0), 1.0f);
         EXPECT_EQ(c.voiceOff(0), 0);
     }},
    {"a write-only register reads the bus, which decays after 499,712 cycles",
     [](SIDEmu& c) {
         write(c, {{4, 0x41}});
         EXPECT_EQ(c.readRegister(0), 0x41);
         render(c, 499711, 1000);
         EXPECT_EQ(c.readRegister(0), 0x41);
         render(c, 1);
         EXPECT_EQ(c.readRegister(0), 0);
         EXPECT_EQ(c.readRegister(24), 0);
     }},
    {"register 27 reads voice 3's waveform even while voice 3 is off",
     [](SIDEmu& c) {
         write(c, {{14, 0x00}, {15, 0x40}, {18, 0x20}, {24, 0x8F}});
         render(c, 1000);
         ASSERT_NE(c.voice(2).lastOutput, 0u);
         EXPECT_EQ(c.readRegister(27), c.voice(2).lastOutput >> 4);
         EXPECT_EQ(c.getBusValue(), c.voice(2).lastOutput >> 4);  // a read drives the bus
     }},
    {"register 28 reads the DAC stage of the cycle-exact envelope",
     [](SIDEmu& c) {
         write(c, {{19, 0x00}, {20, 0xF0}, {18, 0x11}});
         render(c, 300);
         const uint8_t level = c.readRegister(28);
         EXPECT_GT(level, 0);
         EXPECT_EQ(level, c.voice(2).envelope.getDacStage2());
     }},
    {"register 28 keeps the stage the cycle-exact form left when a quirk-free form runs",
     [](SIDEmu& c) {
         c.extensionsEnabled = 1;
         c.setParameter(SIDParam::kAdsrBehavior, 0.0f);  // "Lin DR"
         write(c, {{19, 0x00}, {20, 0xF0}, {18, 0x11}});
         render(c, 3000);
         EXPECT_EQ(c.voice(2).envelope.getEnvelopeLevel(), 255);
         EXPECT_EQ(c.readRegister(28), 0);
     }},
    {"reset puts every accumulator at 0x555555 and every noise register at 0xFFFFFC",
     [](SIDEmu& c) {
         write(c, {{0, 0x34}, {1, 0x12}, {4, 0x81}, {7, 0x11}, {11, 0x21}, {14, 0x77}, {18, 0x41}});
         render(c, 5000);
         c.reset();
         for (size_t v = 0; v < 3; ++v) {
             const SIDVoice& s = c.voice(v);
             EXPECT_EQ(s.accumulator, 0x555555u) << v;
             EXPECT_EQ(s.accumulatorPrev, 0x555555u) << v;
             EXPECT_EQ(s.accumulatorPrev2, 0x555555u) << v;
             EXPECT_EQ(s.noisePending, 0xFFFFFCu) << v;
             EXPECT_EQ(s.noiseLatched, 0xFFFFFCu) << v;
             EXPECT_EQ(s.frequency, 0) << v;
             EXPECT_EQ(s.control, 0u) << v;
             EXPECT_EQ(s.envelope.getEnvelopeLevel(), 0) << v;
         }
         EXPECT_EQ(c.readRegister(0), 0);  // the last reset write was 0
     }},
    {"paddles: 255 before any setting, then -round(v / 5) mod 256",
     [](SIDEmu& c) {
         EXPECT_EQ(c.readRegister(25), 255);
         EXPECT_EQ(c.readRegister(26), 255);
         c.setPaddles(24, 0.0f);
         EXPECT_EQ(c.readRegister(25), 0);
         c.setPaddles(24, 5.0f);
         EXPECT_EQ(c.readRegister(25), 255);
         c.setPaddles(23, 1275.0f);
         EXPECT_EQ(c.readRegister(26), 1);
         EXPECT_EQ(c.readRegister(25), 255);
         c.setPaddles(22, 100.0f);  // no such paddle
         EXPECT_EQ(c.getPotX(), 255);
         EXPECT_EQ(c.getPotY(), 1);
         for (float bad : {-100.0f, std::numeric_limits<float>::quiet_NaN(),
                           -std::numeric_limits<float>::infinity()}) {
             c.setPaddles(24, bad);
             EXPECT_EQ(c.getPotX(), 0) << bad;
         }
         c.setPaddles(24, std::numeric_limits<float>::infinity());  // saturates, no overflow
         c.setPaddles(24, 1e30f);
     }},
    {"a control write with the test bit clears the accumulator",
     [](SIDEmu& c) {
         write(c, {{0, 0x00}, {1, 0x10}, {4, 0x20}});
         render(c, 100);
         ASSERT_NE(c.voice(0).accumulator, 0u);
         write(c, {{4, 0x28}});
         EXPECT_EQ(c.voice(0).accumulator, 0u);
         EXPECT_EQ(c.voice(0).waveform, 2u);
     }},
    {"voice registers reach their voice; pulse width keeps 12 bits",
     [](SIDEmu& c) {
         write(c, {{7, 0x34}, {8, 0x12}, {9, 0xCD}, {10, 0xFB}, {17, 0x08}});
         EXPECT_EQ(c.voice(1).frequency, 0x1234);
         EXPECT_EQ(c.voice(1).pulseWidth, 0xBCD);
         EXPECT_EQ(c.voice(2).pulseWidth, 0x800);
         write(c, {{9, 0x01}});
         EXPECT_EQ(c.voice(1).pulseWidth, 0xB01);
     }},
    {"registers 23 and 24 split into resonance, routing, external input, mode and volume",
     [](SIDEmu& c) {
         write(c, {{23, 0xAD}, {24, 0xD7}});
         EXPECT_EQ(c.getLinearFilter().getResonance(), 0xAu);
         EXPECT_EQ(c.getRouting(), 5u);
         EXPECT_EQ(c.getExternalInput(), 1);
         EXPECT_EQ(c.getMode(), 5u);
         EXPECT_EQ(c.getVolume(), 7);
         EXPECT_EQ(c.voiceOff(2), 1);
     }},
    {"registers 32 and above land only in the image",
     [](SIDEmu& c) {
         write(c, {{21 + 32, 0x07}, {24 + 64, 0x0F}, {0xFFFF, 0x12}});
         EXPECT_EQ(c.getCutoff(), 0);
         EXPECT_EQ(c.getVolume(), 0);
         EXPECT_EQ(c.registerImage(21), 0x07);
         EXPECT_EQ(c.registerImage(31), 0x12);
         EXPECT_EQ(c.readRegister(25 + 32), 0x12);  // reads the bus, not POTX
     }},
};

TEST(SIDEmuRegisters, Table)
{
    for (const RegisterCase& rc : kRegisterCases) {
        SCOPED_TRACE(rc.name);
        auto chip = makeChip();
        rc.check(*chip);
    }
}

TEST(SIDEmuRegisters, ChipDescription)
{
    SIDEmu chip;
    const ChipInfo* info = chip.getChipInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->infoVersion, 1u);
    EXPECT_EQ(info->inputChannels, 0u);
    EXPECT_EQ(info->outputChannels, 2u);
    EXPECT_EQ(info->clockDivider, 1u);
    EXPECT_EQ(info->clocks, (std::vector<double>{985248.0, 1000000.0, 1022727.0, 3579545.4545 / 2,
                                                 3579545.4545 / 4}));
    EXPECT_EQ(info->defaultClockIndex, 0);
    EXPECT_EQ(info->chipType, "6581");
    EXPECT_EQ(info->family, "SID");
    EXPECT_EQ(std::bit_cast<uint32_t>(info->outputScales[0]), 0x34FFFFF8u);
    EXPECT_EQ(std::bit_cast<uint32_t>(info->outputScales[1]), 0x34FFFFF8u);
    EXPECT_EQ(info->outputScales[2], 1.0f / 256.0f);
    EXPECT_EQ(info->outputScales[3], 1.0f / 256.0f);
    EXPECT_EQ(info->parameters.size(), SIDParam::kCount);
}

TEST(SIDEmuRegisters, InitSetsUpTheBuiltInModel)
{
    SIDEmu chip;
    EXPECT_EQ(chip.getDcTable(), nullptr);
    EXPECT_EQ(chip.getLinearFilter().getRate(), 44100.0f);
    ASSERT_TRUE(chip.init(128, nullptr, 1234));
    EXPECT_EQ(chip.getInitValue(), 1234u);
    EXPECT_EQ(chip.getMaxBlockCycles(), 128u);
    EXPECT_EQ(chip.getDcTable(), kDefaultDcTable.data());
    EXPECT_EQ(chip.getLinearFilter().getRate(), 1000000.0f);
    EXPECT_EQ(chip.getMeasuredFilter().getRate(), 1000000.0);
    EXPECT_EQ(chip.isDatabaseLoaded(), 0);
    EXPECT_EQ(chip.isLinearModel(), 1);
    EXPECT_EQ(chip.getSelectedChip(), SIDEmu::kNoChipSelected);
    EXPECT_FLOAT_EQ(chip.getOutputDcLevel(), 4.0153694f + kBuiltInVolumeDcBias);
    for (size_t v = 0; v < 3; ++v) {
        const SIDVoice& s = chip.voice(v);
        EXPECT_NE(s.outputBuffer, nullptr);
        EXPECT_NE(s.accumulatorBuffer, nullptr);
        EXPECT_EQ(s.delayedOutput, 1);
        EXPECT_EQ(s.sawPulseQuirk, 0);  // no database: no quirk
        EXPECT_EQ(s.generatedCombinedTables, 0);
        EXPECT_NE(s.combinedTable6, nullptr);
        EXPECT_EQ(s.accumulator, 0x555555u);
    }
    // A missing database file changes nothing.
    SIDEmu other;
    ASSERT_TRUE(other.init(16, "/nonexistent/chips.sdb", 1000));
    EXPECT_EQ(other.isDatabaseLoaded(), 0);
    // Block sizes outside 1..kMaxBlockCycles are kept inside it.
    SIDEmu tiny, huge;
    ASSERT_TRUE(tiny.init(0, nullptr, 1000));
    EXPECT_EQ(tiny.getMaxBlockCycles(), 1u);
    ASSERT_TRUE(huge.init(UINT64_MAX, nullptr, 1000));
    EXPECT_EQ(huge.getMaxBlockCycles(), SIDEmu::kMaxBlockCycles);
}

TEST(SIDEmuRegisters, VoiceQueriesAndFilterMarks)
{
    auto chip = makeChip();
    EXPECT_FALSE(chip->isVoiceSounding(0));
    write(*chip, {{5, 0x00}, {6, 0xF0}, {4, 0x11}});
    render(*chip, 100);
    EXPECT_TRUE(chip->isVoiceSounding(0));
    EXPECT_FALSE(chip->isVoiceSounding(1));
    EXPECT_FALSE(chip->isVoiceSounding(3));
    EXPECT_FALSE(chip->isVoiceSounding(UINT64_MAX));

    render(*chip, 100);  // both filters have run a block
    ASSERT_EQ(chip->getLinearFilter().getFirstBlock(), 0);
    chip->markModified();
    EXPECT_EQ(chip->getMeasuredFilter().getFirstBlock(), 1);
    EXPECT_EQ(chip->getLinearFilter().getFirstBlock(), 0);
    chip->setParameter(SIDParam::kFilterPops, 0.0f);  // "Full emu"
    chip->markModifiedForPops();
    EXPECT_EQ(chip->getLinearFilter().getFirstBlock(), 0);
    chip->setParameter(SIDParam::kFilterPops, 1.0f);  // "Mods only"
    chip->markModifiedForPops();
    EXPECT_EQ(chip->getLinearFilter().getFirstBlock(), 1);
}

}  // namespace
