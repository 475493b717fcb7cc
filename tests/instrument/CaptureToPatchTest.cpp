// Captured register frames to a patch with step modulators, and the export and import of
// captures as VGMX files.
#include "SIDCtrlDoubles.h"

#include "fixtures/TempDir.h"
#include "media/SIDCapture.h"
#include "media/VGMX.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace sidctrl_test;

constexpr uint32_t kClock = 985248;
constexpr uint8_t kGate = 0x01, kSync = 0x02, kRing = 0x04, kTest = 0x08;
constexpr uint8_t kTriangle = 0x10, kPulse = 0x40;
// A4 and the major third and fifth above it, as frequency register values at the PAL clock.
constexpr uint16_t kA4 = 7493, kCSharp5 = 9441, kE5 = 11227;

void setVoice(SID_shadow& f, int v, uint16_t frequency, uint8_t control, uint16_t pw = 0x800,
              uint8_t ad = 0x00, uint8_t sr = 0xF0)
{
    uint8_t* r = f.regs + 7 * v;
    r[0] = uint8_t(frequency);
    r[1] = uint8_t(frequency >> 8);
    r[2] = uint8_t(pw);
    r[3] = uint8_t(pw >> 8);
    r[4] = control;
    r[5] = ad;
    r[6] = sr;
}

// `count` frames of a held pulse note on voice 0; `edit` changes frame i.
template <typename F>
std::vector<SID_shadow> heldNote(size_t count, F edit)
{
    std::vector<SID_shadow> frames(count);
    for (size_t i = 0; i < count; ++i) {
        setVoice(frames[i], 0, kA4, kPulse | kGate);
        edit(frames[i], i);
    }
    return frames;
}

std::string line(int slot, const std::string& destination, const std::string& math,
                 const std::string& amount = "1.0")
{
    return "source=STEP" + std::to_string(slot) + ";destination=" + destination + ";MATH=" + math +
           ";AMOUNT=" + amount + ";OFFSET=0.0\n";
}

class CaptureToPatch : public ::testing::Test
{
protected:
    CaptureToPatch() { rig.ctrl->setCyclesPerFrame(19656); }

    void convert(const std::vector<SID_shadow>& frames, uint64_t voiceMask)
    {
        rig.listener.routingTexts.clear();
        rig.listener.reports.clear();
        for (RecordingChip& chip : rig.chipObjects)
            chip.parameterSets.clear();
        rig.ctrl->patchFromFrames(frames, kClock, voiceMask);
    }
    // Chip-model settings (parameter 0) that synth chip `c` received.
    size_t chipModelSets(size_t c) const
    {
        size_t n = 0;
        for (const auto& [index, value] : rig.chipObjects[c].parameterSets)
            n += index == 0;
        return n;
    }
    // The one routing text installed by the last conversion.
    std::string routing() const
    {
        EXPECT_EQ(rig.listener.routingTexts.size(), 1u);
        return rig.listener.routingTexts.empty() ? "(none)" : rig.listener.routingTexts.back();
    }
    float slotParameter(uint64_t slot, uint32_t p) const
    {
        float value = -1.0f;
        for (const Report& r : rig.listener.reports)
            if (r.what == "slot" && r.a == slot && r.n == p)
                value = r.value;
        return value;
    }
    SIDCTRLPatch& patch() { return rig.ctrl->patch(); }
    SIDCTRLLayer& layer(size_t n) { return *patch().sidLayer(n); }

    StepTableRig rig;
};

TEST_F(CaptureToPatch, HeldNoteGivesStaticValuesOnly)
{
    convert(heldNote(60, [](SID_shadow& f, size_t) { setVoice(f, 0, kA4, kPulse | kGate, 0x123, 0x4A, 0xB6); }), 1);
    EXPECT_EQ(routing(), "");
    EXPECT_EQ(layer(0).active, 1);
    EXPECT_EQ(layer(0).pulseWidth, 0x123);
    EXPECT_EQ(layer(0).wave, 4);
    EXPECT_EQ(layer(0).gate, 1);
    EXPECT_EQ(layer(0).attack, 4);
    EXPECT_EQ(layer(0).decay, 10);
    EXPECT_EQ(layer(0).sustain, 11);
    EXPECT_EQ(layer(0).release, 6);
    EXPECT_EQ(layer(0).transpose, 0);
    EXPECT_EQ(layer(0).detune, 0);
    EXPECT_EQ(layer(1).active, 0);
    EXPECT_EQ(patch().voice3Off, 1);  // voice 2 not taken
    for (size_t c = 0; c < SIDCtrl::kSynthChips; ++c)
        EXPECT_EQ(chipModelSets(c), 1u) << c;
}

TEST_F(CaptureToPatch, SyncSourceOutsideTheMaskIsAStalledLayer)
{
    // Voice 1 syncs to voice 0 in one frame; voice 0 plays an octave above voice 1.
    std::vector<SID_shadow> frames(20);
    for (size_t i = 0; i < frames.size(); ++i) {
        setVoice(frames[i], 1, kA4, uint8_t(kPulse | kGate | (i == 7 ? kSync : 0)));
        setVoice(frames[i], 0, 2 * kA4, kTriangle | kGate, 0x800, 0x55, 0x55);
    }
    convert(frames, 2);
    EXPECT_EQ(layer(0).active, 1);
    EXPECT_EQ(layer(0).wave, 0);
    EXPECT_EQ(layer(0).stall, 1);
    EXPECT_EQ(layer(0).attack + layer(0).decay + layer(0).sustain + layer(0).release, 0);
    EXPECT_EQ(layer(0).transpose, 12);
    EXPECT_EQ(layer(0).detune, 0);
    EXPECT_EQ(layer(1).active, 1);
    EXPECT_EQ(layer(2).active, 0);
    EXPECT_EQ(routing(), line(0, "Osc2 Hard Sync", "REPLACE"));
}

TEST_F(CaptureToPatch, VibratoBecomesADetuneTable)
{
    // 0, +30, 0, -30 cents.
    const uint16_t cycle[] = {kA4, 7624, kA4, 7364};
    convert(heldNote(40, [&](SID_shadow& f, size_t i) { setVoice(f, 0, cycle[i % 4], kPulse | kGate); }), 1);
    EXPECT_EQ(routing(), line(0, "L01 Detune", "OFFSET"));
    EXPECT_EQ(rig.steps(0, 5), (std::vector<int>{0, 30, 0, 0xE2, 0}));
    EXPECT_EQ(layer(0).transpose, 0);
}

TEST_F(CaptureToPatch, ArpeggioBecomesALoopingTransposeTable)
{
    const uint16_t notes[] = {kA4, kCSharp5, kE5};
    convert(heldNote(30, [&](SID_shadow& f, size_t i) { setVoice(f, 0, notes[i % 3], kPulse | kGate); }), 1);
    EXPECT_EQ(routing(), line(0, "L01 Transpose", "OFFSET"));
    EXPECT_EQ(rig.steps(0, 4), (std::vector<int>{0, 4, 7, 0}));
    EXPECT_EQ(slotParameter(0, 9), 0.0f);
    EXPECT_EQ(slotParameter(0, 10), 2.0f);
    EXPECT_EQ(slotParameter(0, 2), 2.0f);
    EXPECT_EQ(slotParameter(0, 6), 1.0f);  // 985248 / 50 / 19656 rounds to 1
}

TEST_F(CaptureToPatch, SpeedFollowsTheFrameLength)
{
    const uint16_t notes[] = {kA4, kCSharp5, kE5};
    const auto frames = heldNote(30, [&](SID_shadow& f, size_t i) { setVoice(f, 0, notes[i % 3], kPulse | kGate); });
    for (auto [cycles, speed] : {std::pair{int64_t(9828), 2.0f}, {0, 1.0f}}) {
        rig.ctrl->setCyclesPerFrame(cycles);
        convert(frames, 1);
        EXPECT_EQ(slotParameter(0, 6), speed) << cycles;
    }
}

TEST_F(CaptureToPatch, PulseSweepAccumulates)
{
    std::vector<SID_shadow> frames;
    for (uint16_t pw = 256; pw <= 3840; pw += 64) {
        frames.emplace_back();
        setVoice(frames.back(), 0, kA4, kPulse | kGate, pw);
    }
    convert(frames, 1);
    EXPECT_EQ(routing(), line(0, "Osc1 PW", "ACCUM"));
    EXPECT_EQ(rig.steps(0, 3), (std::vector<int>{0x00, 0x40, 0}));
    EXPECT_EQ(layer(0).pulseWidth, 256);
}

TEST_F(CaptureToPatch, AlternatingPulseWidthIsAnOffsetAroundTheCenter)
{
    convert(heldNote(20, [](SID_shadow& f, size_t i) { setVoice(f, 0, kA4, kPulse | kGate, i % 2 ? 2100 : 2000); }), 1);
    EXPECT_EQ(layer(0).pulseWidth, 2050);
    EXPECT_EQ(routing(), line(0, "Osc1 PW", "OFFSET"));
    EXPECT_EQ(rig.steps(0, 2), (std::vector<int>{0xCE, 0x32}));
}

TEST_F(CaptureToPatch, WidePulseSwingIsAHalfAmountOffsetInEveryLocale)
{
    // Range 1000 jumps (deltas beyond 128): scaled by 256 / 4095 around the center 2500.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // a comma locale where installed
    convert(heldNote(20, [](SID_shadow& f, size_t i) { setVoice(f, 0, kA4, kPulse | kGate, i % 2 ? 3000 : 2000); }), 1);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(routing(), line(0, "Osc1 PW", "OFFSET", "0.500000"));
    EXPECT_EQ(layer(0).pulseWidth, 2500);
    EXPECT_EQ(rig.steps(0, 2), (std::vector<int>{0xE1, 0x1F}));  // -31, 31
}

TEST_F(CaptureToPatch, ChangeOnlyInTheLastFrameMakesNoModulator)
{
    convert(heldNote(20, [](SID_shadow& f, size_t i) { setVoice(f, 0, kA4, kPulse | kGate, i == 19 ? 900 : 800); }), 1);
    EXPECT_EQ(routing(), "");
    EXPECT_EQ(layer(0).pulseWidth, 800);
}

TEST_F(CaptureToPatch, LongTracksKeepAtMost128Steps)
{
    convert(heldNote(200, [](SID_shadow& f, size_t i) {
                setVoice(f, 0, kA4, kPulse | kGate, uint16_t(1000 + i * 37 % 200));
            }),
            1);
    EXPECT_EQ(routing(), line(0, "Osc1 PW", "OFFSET"));
    EXPECT_EQ(slotParameter(0, 5), 128.0f);
    EXPECT_EQ(rig.highestStep(0), 127);
    EXPECT_EQ(rig.step(0, 128), 0);
}

TEST_F(CaptureToPatch, FilterIsLeftAloneWhenNoVoiceIsRoutedToIt)
{
    patch().cutoff = 1234;
    patch().resonance = 7;
    patch().lowPass = 1;
    convert(heldNote(20, [](SID_shadow& f, size_t i) {
                f.regs[22] = uint8_t(i * 9);
                f.regs[23] = uint8_t((i % 16) << 4 | 0x06);  // voices 1 and 2 routed, not voice 0
                f.regs[24] = uint8_t(i % 2 ? 0x2F : 0x4F);
            }),
            1);
    EXPECT_EQ(patch().cutoff, 1234);
    EXPECT_EQ(patch().resonance, 7);
    EXPECT_EQ(patch().lowPass, 1);
    EXPECT_EQ(routing(), "");
}

TEST_F(CaptureToPatch, FilterOfTheFirstRoutedVoice)
{
    convert(heldNote(20, [](SID_shadow& f, size_t i) {
                f.regs[21] = 0;
                f.regs[22] = uint8_t(40 + 8 * i);  // cutoff rising by 64 a frame
                f.regs[23] = uint8_t(0x51 | (i % 2 ? 0x20 : 0));  // voice 0 routed, resonance 5/7
                f.regs[24] = 0x1F;
            }),
            1);
    EXPECT_EQ(patch().cutoff, 320);
    EXPECT_EQ(patch().resonance, 5);
    EXPECT_EQ(patch().lowPass, 1);
    EXPECT_EQ(routing(), line(0, "Filter Cutoff", "ACCUM") + line(1, "Filter Res", "REPLACE"));
}

TEST_F(CaptureToPatch, AtMostFifteenModulators)
{
    // Six tracks of every voice change each frame: wave, sync, ring, stall, pulse width, filter.
    std::vector<SID_shadow> frames(20);
    for (size_t i = 0; i < frames.size(); ++i) {
        const bool odd = i % 2;
        const uint8_t control = odd ? kGate | kSync | kRing | kTest | kPulse | kTriangle : kGate | kPulse;
        for (int v = 0; v < 3; ++v)
            setVoice(frames[i], v, kA4, control, odd ? 2100 : 2000);
        frames[i].regs[23] = odd ? 0x07 : 0x00;
    }
    convert(frames, 7);
    const std::string text = routing();
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("source=STEP", at)) != std::string::npos; at += 11) {
        const std::string head = "source=STEP" + std::to_string(lines) + ";";
        EXPECT_EQ(text.compare(at, head.size(), head), 0) << "line " << lines;
        ++lines;
    }
    EXPECT_EQ(lines, 15u);
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(CaptureToPatch, NoFrequencyChangesNothing)
{
    patch().cutoff = 99;
    layer(0).pulseWidth = 77;
    convert(heldNote(20, [](SID_shadow& f, size_t i) { setVoice(f, 0, 0, kPulse | kGate, uint16_t(i * 50)); }), 1);
    EXPECT_TRUE(rig.listener.routingTexts.empty());
    EXPECT_EQ(layer(0).pulseWidth, 77);
    EXPECT_EQ(patch().cutoff, 99);
}

TEST_F(CaptureToPatch, ShadowRegistersBecomeAStaticPatch)
{
    setVoice(rig.ctrl->liveImage(), 2, kA4, kPulse | kGate, 0x456);
    rig.listener.routingTexts.clear();
    rig.ctrl->frames().resize(5);
    rig.ctrl->mediaCommand(5, nullptr, 1.0);
    EXPECT_TRUE(rig.ctrl->frames().empty());
    EXPECT_EQ(routing(), "");
    EXPECT_EQ(layer(2).pulseWidth, 0x456);
    EXPECT_EQ(layer(2).active, 1);
}

// ---------------------------------------------------------------------------------------------
// Export and import

class CaptureFiles : public CaptureToPatch
{
protected:
    bool loadFile(const std::string& path)
    {
        vantor::ZRGFile file(path);
        rig.listener.routingTexts.clear();
        return rig.ctrl->loadMedia(0, &file) != 0;
    }
    fixtures::TempDir dir;
};

TEST_F(CaptureFiles, ExportedItemImportsBack)
{
    // Voice 0: notes at 5 and 25 in 40 frames, an arpeggio over the first.
    const uint16_t notes[] = {kA4, kCSharp5, kE5};
    auto& frames = rig.ctrl->frames();
    frames = heldNote(40, [&](SID_shadow& f, size_t i) {
        setVoice(f, 0, notes[i % 3], uint8_t(kPulse | (i >= 5 && i != 24 ? kGate : 0)));
    });
    rig.ctrl->mediaCommand(2, nullptr, 1.0);  // item 1 is [25, 40); back to item 0: [5, 25)
    rig.ctrl->mediaCommand(0, nullptr, 1.0);
    ASSERT_EQ(rig.ctrl->getCaptureItem(), 0u);
    const std::string path = dir / "arp.vgmx";
    ASSERT_TRUE(rig.ctrl->exportMedia(0, path.c_str()));
    EXPECT_TRUE(rig.ctrl->isCapturePaused());

    VGM::VGMX back;
    ASSERT_TRUE(back.loadXml(path));
    ASSERT_EQ(back.song.chips.size(), 1u);
    const VGM::VGMXChip& chip = back.song.chips.at(77);
    EXPECT_EQ(chip.typeName, "6581");
    EXPECT_EQ(chip.clock, kClock);
    EXPECT_EQ(chip.rate, kClock);

    rig.ctrl->converted.clear();
    ASSERT_TRUE(loadFile(path));
    ASSERT_EQ(rig.ctrl->converted.size(), 1u);
    EXPECT_EQ(rig.ctrl->converted[0].frames, 21u);  // the item's 20 and the closing one
    EXPECT_EQ(rig.ctrl->converted[0].clock, kClock);
    EXPECT_EQ(rig.ctrl->converted[0].voiceMask, 1u);
    EXPECT_EQ(rig.ctrl->frames().size(), 40u);
    EXPECT_EQ(rig.ctrl->getCyclesPerFrame(), 19506u);  // the last frame's: its delay alone
    EXPECT_EQ(routing().rfind(line(0, "L01 Transpose", "OFFSET"), 0), 0u);
}

TEST_F(CaptureFiles, ExportToAMissingFolderFails)
{
    rig.ctrl->frames() = heldNote(10, [](SID_shadow&, size_t) {});
    const std::string path = dir / "missing/x.vgmx";
    EXPECT_FALSE(rig.ctrl->exportMedia(0, path.c_str()));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    EXPECT_FALSE(rig.ctrl->exportMedia(0, nullptr));
}

TEST_F(CaptureFiles, ImportRefusesOtherLogs)
{
    const std::string sidChip = "<Chip id=\"0\" type=\"6581\" clock=\"985248\" rate=\"985248\">\n";
    const std::string frame = "<W r=\"1\" v=\"29\" dt=\"10\"/>\n<W r=\"4\" v=\"65\" dt=\"10\"/>\n<D dt=\"19000\"/>\n";
    const struct
    {
        const char* name;
        std::string text;
    } cases[] = {
        {"ym.vgmx", "<VGMX>\n<Chip id=\"0\" type=\"YM2612\" clock=\"7670453\">\n<W r=\"40\" v=\"1\" dt=\"3000\"/>\n</Chip>\n</VGMX>\n"},
        {"two.vgmx", "<VGMX>\n" + sidChip + frame + frame + "</Chip>\n<Chip id=\"1\" type=\"YM2612\" clock=\"1\">\n<W r=\"1\" v=\"1\" dt=\"1\"/>\n</Chip>\n</VGMX>\n"},
        {"none.vgmx", "not a log at all"},
    };
    layer(0).pulseWidth = 1111;
    for (const auto& c : cases) {
        EXPECT_FALSE(loadFile(dir.write(c.name, c.text))) << c.name;
        EXPECT_TRUE(rig.listener.routingTexts.empty()) << c.name;
        EXPECT_EQ(layer(0).pulseWidth, 1111) << c.name;
    }
    // Short delays only: no frame, so nothing to convert, yet the file is taken.
    const std::string shortDelays = "<VGMX>\n" + sidChip + "<W r=\"1\" v=\"29\" dt=\"2300\"/>\n</Chip>\n</VGMX>\n";
    EXPECT_TRUE(loadFile(dir.write("short.vgmx", shortDelays)));
    EXPECT_TRUE(rig.listener.routingTexts.empty());
    EXPECT_EQ(layer(0).pulseWidth, 1111);
}

TEST_F(CaptureFiles, OnlyTheLowerCaseExtensionImports)
{
    std::vector<SID_shadow> frames = heldNote(4, [](SID_shadow&, size_t) {});
    VGM::VGMX document;
    buildCaptureStream(1, kClock, frames, document, 19656);
    const std::string text = VGM::vgmxText(document.song);
    rig.ctrl->converted.clear();
    EXPECT_TRUE(loadFile(dir.write("x.vgmx", text)));
    EXPECT_EQ(rig.ctrl->converted.size(), 1u);
    EXPECT_FALSE(loadFile(dir.write("x.VGMX", text)));
    EXPECT_EQ(rig.ctrl->converted.size(), 1u);
}

// A one-frame capture document: a pulse note on voice 0, then the closing second.
std::string oneFrameDocument()
{
    std::string text = "<VGMX>\n<Chip id=\"0\" type=\"6581\" clock=\"985248\" rate=\"985248\">\n";
    const int regs[][2] = {{0, 69}, {1, 29}, {2, 0}, {3, 8}, {4, 65}, {5, 9}, {6, 240}, {23, 1}, {24, 31}};
    for (const auto& [r, v] : regs)
        text += "<W r=\"" + std::to_string(r) + "\" v=\"" + std::to_string(v) + "\" dt=\"10\"/>\n";
    return text + "<D dt=\"19566\"/>\n<D dt=\"985248\"/>\n</Chip>\n</VGMX>\n";
}

#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kLengthStep = 8;
constexpr int kFlips = 256;
#else
constexpr size_t kLengthStep = 1;
constexpr int kFlips = -1;  // every bit
#endif

TEST_F(CaptureFiles, DamagedDocumentsLoadOrFailCleanly)
{
    const std::string good = oneFrameDocument();
    ASSERT_LT(good.size(), 1024u);
    auto load = [this](const std::string& bytes) {
        vantor::VirtualRAMFile file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        file.name = "x.vgmx";
        rig.listener.routingTexts.clear();
        rig.ctrl->loadMedia(0, &file);
        for (const std::string& text : rig.listener.routingTexts)
            EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 15);
    };
    load(good);
    EXPECT_EQ(layer(0).attack, 0);
    EXPECT_EQ(layer(0).decay, 9);
    for (size_t length = 0; length < good.size(); length += kLengthStep)
        load(good.substr(0, length));
    const size_t bits = good.size() * 8;
    const size_t flips = kFlips < 0 ? bits : size_t(kFlips);
    uint32_t seed = 12345;
    for (size_t n = 0; n < flips; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const size_t bit = kFlips < 0 ? n : seed % bits;
        std::string damaged = good;
        damaged[bit / 8] = char(damaged[bit / 8] ^ (1 << (bit % 8)));
        load(damaged);
    }
}

TEST_F(CaptureFiles, ExtremeCapturesStayWithinTheLimits)
{
    // Empty: nothing to convert, nothing changed.
    layer(0).pulseWidth = 321;
    rig.listener.routingTexts.clear();
    rig.ctrl->mediaCommand(4, nullptr, 1.0);
    EXPECT_TRUE(rig.listener.routingTexts.empty());
    EXPECT_EQ(layer(0).pulseWidth, 321);

    // All-zero frames, and notes without frequency on every voice: nothing changed.
    for (uint8_t control : {uint8_t(0), uint8_t(kPulse | kGate)}) {
        auto& frames = rig.ctrl->frames();
        frames.assign(100, SID_shadow());
        for (size_t i = 0; i < frames.size(); ++i)
            for (int v = 0; v < 3; ++v)
                setVoice(frames[i], v, 0, uint8_t(control & ~(i == 50 ? kGate : 0)), uint16_t(i));
        rig.ctrl->mediaCommand(4, nullptr, 1.0);
        EXPECT_TRUE(rig.listener.routingTexts.empty());
        EXPECT_EQ(layer(0).pulseWidth, 321);
    }

    // The most frames a capture holds, every field changing: at most 15 lines of 128 steps.
    auto& frames = rig.ctrl->frames();
    frames.assign(SIDCtrl::kMaxCaptureFrames, SID_shadow());
    for (size_t i = 0; i < frames.size(); ++i) {
        for (int v = 0; v < 3; ++v)
            setVoice(frames[i], v, uint16_t(3000 + i * 7 % 5000 + v), uint8_t(kGate | (i * 16 % 256 & 0xF0) | (i % 14)),
                     uint16_t(i * 13 % 4096), uint8_t(i), uint8_t(i * 3));
        for (int r = 21; r < 25; ++r)
            frames[i].regs[r] = uint8_t(i * (r - 19));
    }
    rig.listener.reports.clear();
    rig.ctrl->mediaCommand(4, nullptr, 1.0);
    const std::string text = routing();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 15);
    for (const Report& r : rig.listener.reports) {
        if (r.what == "slot" && r.n == 5) {
            EXPECT_LE(r.value, 128.0f) << "slot " << r.a;
        }
    }
    for (uint64_t slot = 0; slot < 15; ++slot)
        EXPECT_LE(rig.highestStep(slot), 127) << slot;
    // And its preview builds and plays.
    rig.ctrl->mediaCommand(0, nullptr, 1.0);
    EXPECT_NE(rig.ctrl->getReader(), nullptr);
}

TEST_F(CaptureFiles, MachineClockFollowsTheVideoStandard)
{
    EXPECT_EQ(rig.ctrl->getMachineClock(), 985248u);
    rig.ctrl->setVideoStandard(2);
    EXPECT_EQ(rig.ctrl->getMachineClock(), 1022727u);
}

}  // namespace
