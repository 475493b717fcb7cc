#include "SIDCtrlDoubles.h"

#include "fixtures/DacFixtures.h"
#include "instrument/SID_sub.h"

#include <gtest/gtest.h>

#include <functional>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace sidctrl_test;

class SIDCtrlTest : public ::testing::Test
{
protected:
    explicit SIDCtrlTest(bool initialise = true) : chipObjects(ChipController::kChips)
    {
        for (RecordingChip& c : chipObjects)
            chips.push_back(&c);
        ctrl = std::make_unique<TestCtrl>(&chips, &listener);
        if (initialise)
            ctrl->init("d/chips/db", 1006);
        clear();
    }

    void clear()
    {
        for (RecordingChip& c : chipObjects)
            c.writes.clear();
        listener.reports.clear();
    }

    RecordingChip& chip(size_t c) { return chipObjects[c]; }
    ZRS::LayerListener& layers() { return *ctrl; }

    std::vector<RecordingChip> chipObjects;
    std::vector<ChipEmu*> chips;
    RecordingListener listener;
    std::unique_ptr<TestCtrl> ctrl;
};

// ---------------------------------------------------------------------------------------------
// Parameter table

TEST_F(SIDCtrlTest, ParameterTableRecords)
{
    const struct
    {
        uint16_t index;
        const char* label;
        uint32_t type, display;
        float min, max, def;
        uint8_t flags, math;
        uint16_t mod, layers;
    } kRows[] = {
        {0, "Osc1 PW", 1, 0, 0, 4095, 2048, 0x33, 0x07, 0x0541, 1},
        {1, "Osc1 Gate", 2, 0, 0, 1, 0, 0x13, 0x01, 0x0081, 1},
        {18, "Osc2 Wave", 3, 0, 0, 8, 4, 0x13, 0x01, 0x0081, 2},
        {19, "Osc2 Stall", 2, 0, 0, 1, 0, 0x13, 0x01, 0x0081, 2},
        {23, "Osc2 Attack", 1, 0, 0, 15, 0, 0x13, 0x03, 0x0001, 2},
        {41, "Osc3 Sustain", 1, 0, 0, 15, 15, 0x13, 0x03, 0x0001, 4},
        {43, "Osc3 To Filter", 2, 0, 0, 1, 0, 0x13, 0x01, 0x0081, 4},
        {44, "Osc3 Phase Reset", 2, 0, 0, 1, 0, 0x13, 0x01, 0x0001, 4},
        {96, "Osc3 Mute", 2, 3, 0, 1, 0, 0x13, 0x01, 0x0081, 4},
        {97, "Filter Cutoff", 1, 0, 0, 2047, 2047, 0x73, 0x07, 0x0541, 15},
        {98, "Filter Res", 1, 0, 0, 15, 0, 0x53, 0x03, 0x0541, 15},
        {99, "Filter LP", 2, 3, 0, 1, 1, 0x53, 0x01, 0x0081, 15},
        {101, "Filter HP", 2, 3, 0, 1, 0, 0x53, 0x01, 0x0081, 15},
        {102, "Core Volume", 1, 0, 0, 15, 15, 0x53, 0x03, 0x0541, 15},
        {134, "DAC Mode", 3, 0, 0, 5, 0, 0x03, 0, 0, 8},
        {135, "DAC OneBit Target", 3, 0, 0, 11, 0, 0x03, 0, 0, 8},
        {136, "DAC Bias", 0, 0, -1, 1, 0, 0x03, 0x01, 0x0401, 8},
        {137, "DAC Gain", 0, 0, 0, 4, 1, 0x03, 0x01, 0x0401, 8},
        {138, "DAC Loop Mode", 3, 0, 0, 3, 1, 0x03, 0x01, 0x0001, 8},
        {139, "DAC MIDI Offset", 1, 0, 0, 48, 36, 0x03, 0, 0, 8},
        {141, "DAC Compressor Threshold", 0, 0, 0, 1, 0.5f, 0x03, 0, 0, 8},
        {143, "DAC Compressor MakeUp Gain", 0, 0, 0, 1, 0.75f, 0x03, 0, 0, 8},
        {146, "DAC Compressor RMS Time", 0, 0, 0, 1, 0.01f, 0x03, 0, 0, 8},
        {149, "DAC Compressor Band Balance", 0, 0, 0, 1, 0.5f, 0x03, 0, 0, 8},
        {150, "DAC KVRB Channel", 3, 0, 0, 2, 0, 0x03, 0, 0, 8},
    };
    ASSERT_EQ(ctrl->parameters.size(), 151u);
    for (const auto& r : kRows) {
        const ParameterInfo& p = ctrl->parameters[r.index];
        const char* label = p.label;
        ASSERT_NE(label, nullptr) << r.index;
        EXPECT_STREQ(label, r.label) << r.index;
        EXPECT_EQ(p.type, r.type) << r.index;
        EXPECT_EQ(p.displayMode, r.display) << r.index;
        EXPECT_EQ(p.minValue, r.min) << r.index;
        EXPECT_EQ(p.maxValue, r.max) << r.index;
        EXPECT_EQ(p.defaultValue, r.def) << r.index;
        EXPECT_EQ(p.flags, r.flags) << r.index;
        EXPECT_EQ(p.mathFlags, r.math) << r.index;
        EXPECT_EQ(p.modFlags, r.mod) << r.index;
        EXPECT_EQ(p.layerMask, r.layers) << r.index;
        EXPECT_EQ(p.index, r.index);
        EXPECT_EQ(p.factor, 1.0f) << r.index;
        EXPECT_EQ(p.offset, 0.0f) << r.index;
    }
    const char* waves = ctrl->parameters[34].list;
    EXPECT_STREQ(waves, "None|Tri|Saw|T+S|Pulse|P+T|P+S|P+T+S|Noise");
    const char* targets = ctrl->parameters[135].list;
    EXPECT_STREQ(targets, "PW1|PW2|PW3|PW1Hi|PW2Hi|PW3Hi|Ftr1|Ftr2|Ftr3|LpfOn|BpfOn|HpfOn");

    std::vector<uint16_t> unlabelled;
    for (uint16_t n = 0; n < 3; ++n)
        for (uint16_t k : {4, 13, 14, 15})
            unlabelled.push_back(uint16_t(16 * n + k));
    for (uint16_t i = 48; i <= 95; ++i)
        unlabelled.push_back(i);
    for (uint16_t i = 103; i <= 133; ++i)
        unlabelled.push_back(i);
    unlabelled.push_back(140);
    for (uint16_t i : unlabelled) {
        const char* label = ctrl->parameters[i].label;
        EXPECT_EQ(label, nullptr) << i;
        EXPECT_EQ(ctrl->parameters[i].index, 0xFFFF) << i;
    }
}

TEST_F(SIDCtrlTest, FilterFcNamesTheCutoff)
{
    uint16_t index = 0;
    EXPECT_EQ(ctrl->findParameterIndex("Filter FC", 9, index), &ctrl->parameters[97]);
    EXPECT_EQ(index, 97);
    index = 0;
    EXPECT_EQ(ctrl->findParameterIndex("FILTER FC", 9, index), &ctrl->parameters[97]);
    EXPECT_EQ(index, 97);
    // The general lookup takes upper-case labels only.
    EXPECT_EQ(ctrl->findParameterIndex("filter fc", 9, index), nullptr);
    EXPECT_EQ(index, ZRS::SynthParams::kNoParameter);
    EXPECT_EQ(ctrl->findParameterIndex("OSC2 ATTACK", 11, index), &ctrl->parameters[23]);
    EXPECT_EQ(index, 23);
}

// ---------------------------------------------------------------------------------------------
// Parameters into the patch

struct PatchFields
{
    std::vector<int> values;
    bool operator==(const PatchFields&) const = default;
};

PatchFields fieldsOf(const SIDCTRLPatch& p)
{
    PatchFields f;
    f.values = {p.cutoff, p.resonance, p.lowPass, p.bandPass, p.highPass, p.voice3Off, p.volume};
    for (size_t l = 0; l < 3; ++l) {
        const SIDCTRLLayer* x = p.sidLayer(l);
        f.values.insert(f.values.end(),
                        {x->pulseWidth, x->attack, x->decay, x->sustain, x->release, x->wave,
                         x->gate, x->hardSync, x->ringMod, x->stall, x->toFilter, x->phaseReset});
    }
    return f;
}

TEST_F(SIDCtrlTest, SetParameterStoresIntoThePatch)
{
    SIDCTRLPatch& p = ctrl->patch();
    ctrl->setParameter(0, 5000.0f);
    EXPECT_EQ(p.sidLayer(0)->pulseWidth, 904);
    ctrl->setParameter(97, 3000.0f);
    EXPECT_EQ(p.cutoff, 3000);  // not clamped
    ctrl->setParameter(16 + 2, 24.0f);
    EXPECT_EQ(p.sidLayer(1)->wave, 8);
    ctrl->setParameter(32 + 10, 17.4f);
    EXPECT_EQ(p.sidLayer(2)->release, 1);
    ctrl->setParameter(32 + 5, 0.6f);
    EXPECT_EQ(p.sidLayer(2)->ringMod, 1);
    ctrl->setParameter(98, 300.0f);
    EXPECT_EQ(p.resonance, 300 & 255);
    ctrl->setParameter(100, 1.0f);
    EXPECT_EQ(p.bandPass, 1);
    ctrl->setParameter(96, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(p.voice3Off, 0);

    const PatchFields before = fieldsOf(p);
    for (const auto& [index, value] : {std::pair<uint16_t, float>{3, 1.0f}, {102, 7.0f},
                                       {151, 1.0f}, {13, 1.0f}, {60, 1.0f}, {120, 1.0f}}) {
        ctrl->setParameter(index, value);
        EXPECT_EQ(fieldsOf(p), before) << index;
    }
}

TEST_F(SIDCtrlTest, SampleParametersReachEveryChannel)
{
    ctrl->setParameter(137, 2.5f);
    ctrl->setParameter(134, 1.6f);
    ctrl->setParameter(139, 40.0f);
    ctrl->setParameter(150, 2.0f);
    for (size_t c = 0; c < 12; ++c) {
        const SID_DAC_sub* dac = ctrl->dacSub(c);
        EXPECT_EQ(dac->gain, 2.5f) << c;
        EXPECT_EQ(dac->dacMode, 2) << c;
        EXPECT_EQ(dac->midiOffset, 40) << c;
        EXPECT_EQ(dac->dacChannel, 2) << c;
    }
    EXPECT_EQ(ctrl->dacSub(12), nullptr);
}

TEST_F(SIDCtrlTest, PlayerOptionGoesToTheReader)
{
    MidiReader* r = ctrl->adoptReader(new MidiReader(ctrl.get()));
    ctrl->setParameter(133, 2.0f);
    EXPECT_EQ(ctrl->getPlayerOptionValue(), 2u);
    ASSERT_EQ(r->options.size(), 1u);
    EXPECT_EQ(r->options[0], (std::pair<uint32_t, int64_t>{0, 2}));
}

// ---------------------------------------------------------------------------------------------
// Parameter actions

TEST_F(SIDCtrlTest, FilterActionsWriteFromTheShadow)
{
    ctrl->applyParameterAction(5, 97, 1027.0f, false);
    EXPECT_EQ(chip(5).writes, (std::vector<RegWrite>{{21, 3}, {22, 128}}));
    EXPECT_TRUE(listener.reports.empty());

    const struct
    {
        uint16_t index;
        float value;
        uint8_t reg, before, after;
    } kRows[] = {
        {96, 1.0f, 24, 0x0F, 0x8F},  {96, 0.0f, 24, 0xFF, 0x7F}, {98, 9.0f, 23, 0x35, 0x95},
        {99, 1.0f, 24, 0x80, 0x90},  {100, 1.0f, 24, 0x0A, 0x2A}, {101, 0.4f, 24, 0xFF, 0xBF},
        {102, 7.0f, 24, 0xF2, 0xF7},
    };
    for (const auto& r : kRows) {
        ctrl->writeRegister(6, r.reg, r.before);
        chip(6).writes.clear();
        ctrl->applyParameterAction(6, r.index, r.value, false);
        EXPECT_EQ(chip(6).writes, (std::vector<RegWrite>{{r.reg, r.after}})) << r.index;
    }
    for (uint16_t index : {48, 103, 133, 140})
        ctrl->applyParameterAction(6, index, 1.0f, false);
    ctrl->applyParameterAction(12, 97, 1.0f, false);
    EXPECT_EQ(chip(6).writes.size(), 1u);
    EXPECT_TRUE(chip(12).writes.empty());
}

TEST_F(SIDCtrlTest, GateActionNeedsASoundingVoiceFromHost1006)
{
    ctrl->applyParameterAction(3, 17, 1.0f, false);
    EXPECT_TRUE(chip(3).writes.empty());

    TestCtrl older(&chips, &listener);
    older.init(nullptr, 1005);
    clear();
    older.applyParameterAction(3, 17, 1.0f, false);
    EXPECT_EQ(chip(3).writes, (std::vector<RegWrite>{{11, 0x41}}));
}

TEST_F(SIDCtrlTest, ActionReportsWhileNoVoiceStarted)
{
    ctrl->applyParameterAction(4, 0, 1000.0f, true);
    ASSERT_EQ(listener.reports.size(), 1u);
    EXPECT_EQ(listener.reports[0].n, 0u);
    EXPECT_EQ(listener.reports[0].kind, 1u);
    EXPECT_EQ(listener.reports[0].value, 1000.0f);
    EXPECT_EQ(chip(4).writes, (std::vector<RegWrite>{{2, 0xE8}, {3, 0x03}}));
}

// ---------------------------------------------------------------------------------------------
// Patches

TEST_F(SIDCtrlTest, DefaultPatchReachesEverySynthChip)
{
    ctrl->applyPatch(&ctrl->patch(), 0, 0);
    for (size_t c = 0; c < 12; ++c) {
        EXPECT_EQ(chip(c).lastWrite(21), 7) << c;
        EXPECT_EQ(chip(c).lastWrite(22), 255) << c;
        EXPECT_EQ(chip(c).lastWrite(24) & 15, 15) << c;
        EXPECT_EQ(ctrl->shadow(c).regs[24] & 15, 15) << c;
        EXPECT_EQ(chip(c).lastWrite(4) >> 4, 4) << c;  // pulse
        EXPECT_EQ(chip(c).lastWrite(3), 8) << c;       // pulse width 2048
    }
    for (size_t c = 12; c < 16; ++c)
        EXPECT_TRUE(chip(c).writes.empty()) << c;
    for (uint32_t n = 96; n <= 102; ++n)
        EXPECT_EQ(listener.synthReports(n, 0), 12u) << n;
    EXPECT_EQ(listener.synthReports(0, 0), 1u);  // chip 0's layer values only
    EXPECT_EQ(listener.synthReports(1, 0), 0u);  // no gate without the flag
}

TEST_F(SIDCtrlTest, PatchValuesAndGateFlag)
{
    SIDCTRLPatch& p = ctrl->patch();
    p.cutoff = 1027;
    p.resonance = 9;
    p.highPass = 1;
    p.voice3Off = 1;
    p.volume = 6;
    p.sidLayer(1)->attack = 5;
    p.sidLayer(1)->gate = 1;
    ctrl->applyPatch(&p, 0, 1);
    for (size_t c = 0; c < 12; ++c) {
        EXPECT_EQ(chip(c).lastWrite(21), 3) << c;
        EXPECT_EQ(chip(c).lastWrite(22), 128) << c;
        EXPECT_EQ(chip(c).lastWrite(23) >> 4, 9) << c;
        EXPECT_EQ(chip(c).lastWrite(24), 0xC6) << c;
        EXPECT_EQ(chip(c).lastWrite(12) >> 4, 5) << c;
    }
    EXPECT_EQ(chip(0).lastWrite(11) & 1, 1);
    EXPECT_EQ(listener.synthReports(17, 0), 1u);
    int layerReports = 0;
    for (const Report& r : listener.reports)
        layerReports += r.what == "layer" && r.kind == 0;
    EXPECT_EQ(layerReports, 27);  // nine values of layers 0-2
}

TEST(SIDCtrlBeforeInit, ApplyPatchDoesNothing)
{
    std::vector<RecordingChip> objects(16);
    std::vector<ChipEmu*> chips;
    for (RecordingChip& c : objects)
        chips.push_back(&c);
    RecordingListener listener;
    TestCtrl ctrl(&chips, &listener);
    ctrl.applyPatch(&ctrl.patch(), 0, 1);
    ctrl.applyPatch(nullptr, 0, 1);
    for (const RecordingChip& c : objects)
        EXPECT_TRUE(c.writes.empty());
    EXPECT_TRUE(listener.reports.empty());
    EXPECT_EQ(ctrl.patch().volume, 15);
    EXPECT_EQ(ctrl.getAsidChip(), 16u);
    EXPECT_EQ(ctrl.getPlayerOptions().sidAddresses[0], 0xD400);
}

TEST_F(SIDCtrlTest, PreviewNoteNeedsABank)
{
    ctrl->previewNote(0, 5);
    for (const RecordingChip& c : chipObjects)
        EXPECT_TRUE(c.writes.empty());
    EXPECT_STREQ(ctrl->patch().name, "Base");

    std::vector<uint8_t> bank(kBankSize, 0);
    EXPECT_FALSE(ctrl->setPatchBank(std::span<const uint8_t>(bank.data(), 100)));
    const size_t slot = 5 * kBankSlotSize;
    std::memcpy(bank.data() + slot, "Bright", 6);
    bank[slot + 84] = 0x10;  // low pass
    bank[slot + 85] = 0x00;  // cutoff 0x200 >> 1
    bank[slot + 86] = 0x02;
    ASSERT_TRUE(ctrl->setPatchBank(bank));
    ctrl->previewNote(3, 128 + 5);
    EXPECT_STREQ(ctrl->patch().name, "Bright");
    EXPECT_EQ(ctrl->patch().cutoff, 0x100);
    for (size_t c = 0; c < 12; ++c) {
        EXPECT_EQ(chip(c).lastWrite(22), 0x100 >> 3) << c;
        EXPECT_EQ(chip(c).lastWrite(24) & 0x10, 0x10) << c;
    }
}

TEST_F(SIDCtrlTest, ChipModelFromTheFirstTuneChipSetting)
{
    ctrl->setTuneChipSetting(0, 1);
    ctrl->setTuneChipSetting(9, 5);  // no such slot
    ctrl->applyChipModel();
    ASSERT_EQ(listener.reports.size(), 1u);
    EXPECT_EQ(listener.reports[0].what, "voice");
    EXPECT_EQ(listener.reports[0].value, 1.0f);
    for (size_t c = 0; c < 16; ++c) {
        const auto want = c < 12 ? std::vector<std::pair<uint64_t, float>>{{0, 1.0f}}
                                 : std::vector<std::pair<uint64_t, float>>{};
        EXPECT_EQ(chip(c).parameterSets, want) << c;
    }
}

// ---------------------------------------------------------------------------------------------
// Options, commands, host reports

TEST_F(SIDCtrlTest, InstrumentOptions)
{
    ctrl->setInstrumentOption(4, -1.0);
    EXPECT_TRUE(ctrl->isAsidInput());
    EXPECT_TRUE(ctrl->isChipEnabled(15));
    ctrl->setInstrumentOption(4, 0.0);
    EXPECT_FALSE(ctrl->isAsidInput());
    EXPECT_FALSE(ctrl->isChipEnabled(15));
    ctrl->setInstrumentOption(4, 70000.0);
    EXPECT_EQ(ctrl->getPlayerOptions().option4, uint16_t(70000));
    ctrl->setInstrumentOption(2, 54304.4);
    ctrl->setInstrumentOption(3, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(ctrl->getPlayerOptions().sidAddresses[1], 0xD420);
    EXPECT_EQ(ctrl->getPlayerOptions().sidAddresses[2], 0);
    ctrl->setInstrumentOption(1, 5.0);
    ctrl->setInstrumentOption(99, 5.0);
    EXPECT_EQ(ctrl->getPlayerOptions().sidAddresses[0], 0xD400);
}

TEST_F(SIDCtrlTest, CaptureCommands)
{
    vantor::Mutex mutex("test", false);
    ctrl->watched = &mutex;
    ctrl->mediaCommand(0, &mutex, 1.0);
    ctrl->mediaCommand(3, &mutex, 1.0);
    ctrl->mediaCommand(2, &mutex, 1.0);
    ctrl->mediaCommand(0, &mutex, 1.0);
    ctrl->mediaCommand(1, &mutex, 1.0);   // 10 -> 0
    ctrl->mediaCommand(0, &mutex, 0.0);   // no value: nothing
    ctrl->mediaCommand(2, &mutex, -1.0);  // nothing
    ctrl->mediaCommand(4, &mutex, 1.0);
    ctrl->mediaCommand(11, &mutex, 1.0);
    const std::vector<std::string> want = {"preview 0",  "preview 10", "preview 11",
                                           "preview 10", "preview 0",  "patch 0"};
    EXPECT_EQ(ctrl->captureCalls, want);
    EXPECT_TRUE(ctrl->isCapturePaused());
    EXPECT_FALSE(ctrl->mutexFreeDuringCall);
    EXPECT_TRUE(mutex.tryLock());
    mutex.unlock();

    ctrl->mediaCommand(2, &mutex, 1.0);
    ctrl->mediaCommand(2, &mutex, 1.0);
    ctrl->captureCalls.clear();
    ctrl->mediaCommand(5, nullptr, 1.0);
    EXPECT_EQ(ctrl->captureCalls, std::vector<std::string>{"shadows"});
    EXPECT_EQ(ctrl->getCaptureItem(), 0u);

    // A mutex that cannot be locked: the command runs all the same.
    class BrokenMutex : public vantor::Mutex
    {
    public:
        BrokenMutex() : vantor::Mutex("broken", false) { valid = false; }
    } broken;
    ctrl->captureCalls.clear();
    ctrl->mediaCommand(2, &broken, 1.0);
    EXPECT_EQ(ctrl->captureCalls, std::vector<std::string>{"preview 1"});
}

TEST_F(SIDCtrlTest, StopCommandReleasesTheGates)
{
    ctrl->writeRegister(13, 11, 0x41);
    clear();
    ctrl->mediaCommand(4, nullptr, 1.0);
    EXPECT_EQ(chip(13).writes, (std::vector<RegWrite>{{4, 0}, {11, 0x40}, {18, 0}}));
}

TEST_F(SIDCtrlTest, AsidOutputCommand)
{
    const struct
    {
        double value;
        uint64_t chip;
    } kRows[] = {{3.0, 2}, {0.0, 16}, {1.0, 0}, {16.0, 15}, {17.0, 16}, {-4.0, 16},
                 {13.4, 12}, {std::numeric_limits<double>::quiet_NaN(), 16}};
    for (const auto& r : kRows) {
        ctrl->mediaCommand(10, nullptr, r.value);
        EXPECT_EQ(ctrl->getAsidChip(), r.chip) << r.value;
    }
    ctrl->mediaCommand(10, nullptr, 6.0);
    ctrl->refreshAsidOutput();
    EXPECT_EQ(ctrl->getAsidChip(), 5u);
}

TEST_F(SIDCtrlTest, AddressedEventsAskTheHostToReRead)
{
    ctrl->forwardAddressedEvent(0, 7, 97);
    ctrl->forwardAddressedEvent(1, 3, 5);
    ctrl->forwardAddressedEvent(2, 3, 5);
    ctrl->forwardAddressedEvent(3, 2, 11);
    ASSERT_EQ(listener.reports.size(), 3u);
    const struct
    {
        const char* what;
        uint64_t a;
        uint32_t n;
    } kWant[] = {{"synth", 0, 97}, {"slot", 3, 5}, {"layer", 2, 11}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(listener.reports[i].what, kWant[i].what);
        EXPECT_EQ(listener.reports[i].a, kWant[i].a);
        EXPECT_EQ(listener.reports[i].n, kWant[i].n);
        EXPECT_EQ(listener.reports[i].kind, 2u);
        EXPECT_EQ(listener.reports[i].value, 0.0f);
    }
}

TEST_F(SIDCtrlTest, LayerVoicesResetEnablesThePolyphony)
{
    ctrl->setPolyphony(6);
    for (size_t c = 0; c < 16; ++c)
        EXPECT_EQ(ctrl->isChipEnabled(c), c < 6) << c;

    ctrl->patch().sidLayer(0)->active = 0;
    ctrl->layerVoicesReset(0);
    for (size_t c = 0; c < 16; ++c)
        EXPECT_FALSE(ctrl->isChipEnabled(c)) << c;
}

TEST(SIDCtrlInit, DataFolderFromThePath)
{
    const struct
    {
        const char* path;
        const char* folder;
    } kRows[] = {{"d/chips/db", "d/chips"}, {"a\\b\\c", "a/b"}, {"db", "."}, {"", ""},
                 {nullptr, ""}};
    for (const auto& r : kRows) {
        std::vector<ChipEmu*> chips(16, nullptr);
        SIDCtrl ctrl(&chips, nullptr);
        EXPECT_TRUE(ctrl.init(r.path, 1000));
        EXPECT_EQ(ctrl.getDataFolder(), r.folder) << (r.path ? r.path : "(null)");
        EXPECT_EQ(ctrl.getHostVersion(), 1000u);
    }
}

TEST(SIDCtrlLifetime, ReaderGoesBeforeThePatch)
{
    class WatchingReader : public MidiReader
    {
    public:
        WatchingReader(MediaCallback* cb, ZRS::SynthController* s, bool* seen)
            : MidiReader(cb), synth(s), patchSeen(seen)
        {
        }
        ~WatchingReader() override
        {
            const ZRS::PatchBase* p = synth->layerManager().patch();
            *patchSeen = p && std::string(p->name) == "Base";
        }
        ZRS::SynthController* synth;
        bool* patchSeen;
    };
    std::vector<ChipEmu*> chips(16, nullptr);
    bool patchSeen = false;
    {
        TestCtrl ctrl(&chips, nullptr);
        ctrl.init(nullptr, 1006);
        ctrl.adoptReader(new WatchingReader(&ctrl, &ctrl, &patchSeen));
    }
    EXPECT_TRUE(patchSeen);
}

// ---------------------------------------------------------------------------------------------
// Voice events

TEST_F(SIDCtrlTest, VoiceStartAndRelease)
{
    layers().voiceStart(4, 2, 60);
    EXPECT_EQ(ctrl->gateActiveByte(4, 2), 1);
    const float gain = ctrl->voiceManager(0).velocityGain(4);
    const SID_sub* sub = ctrl->sidVoice(4, 2);
    EXPECT_EQ(sub->amplitude, gain);
    const float x = std::floor(gain * gain * sub->layerLevel * 255.0f + 0.5f);
    const uint8_t level = uint8_t(255 - int(x));
    ASSERT_FALSE(chip(4).writes.empty());
    EXPECT_EQ(chip(4).writes.front(), (RegWrite{31, level}));
    EXPECT_EQ(chip(4).lastWrite(18) & 1, 1);
    for (size_t c = 0; c < 16; ++c)
        EXPECT_TRUE(c == 4 || chip(c).writes.empty()) << c;

    layers().voiceStart(4, 0, 60);
    layers().voiceRetrigger(7, 1, 62);
    EXPECT_EQ(ctrl->gateActiveByte(7, 1), 1);
    layers().voiceRelease(4, 2);
    EXPECT_EQ(ctrl->gateActiveByte(4, 2), 0);
    EXPECT_EQ(ctrl->gateActiveByte(4, 0), 1);
    EXPECT_EQ(chip(4).lastWrite(18) & 1, 0);
    EXPECT_EQ(chip(4).lastWrite(4) & 1, 1);

    layers().voiceStart(12, 0, 60);  // no such chip
    layers().voiceStart(3, 4, 60);   // no such layer
    EXPECT_TRUE(chip(12).writes.empty());
    EXPECT_TRUE(chip(3).writes.empty());
}

TEST_F(SIDCtrlTest, SampleLayerEvents)
{
    fixtures::DacSampleBuilder sample;
    sample.sine(4000, 8000, 500.0);
    ctrl->setNoteTable(sample.get());
    ctrl->setParameter(138, 3.0f);  // the whole sample on every key
    SID_DAC_sub& dac = *ctrl->dacSub(4);
    dac.amplitude = 0.25f;
    layers().voiceStart(4, 3, 60);
    EXPECT_EQ(ctrl->gateActiveByte(4, 3), 1);
    EXPECT_EQ(dac.amplitude, 1.0f);
    EXPECT_FALSE(dac.released);
    EXPECT_NE(ctrl->dueOf(&dac), -1);  // the first sample played, the next one queued
    for (size_t v = 0; v < 3; ++v)
        EXPECT_EQ(ctrl->gateActiveByte(4, v), 0);
    ASSERT_FALSE(chip(4).writes.empty());
    for (const RegWrite& w : chip(4).writes)
        EXPECT_EQ(w.reg, 24);  // the volume register only: no SID voice plays

    layers().voiceRelease(4, 3);
    EXPECT_EQ(ctrl->gateActiveByte(4, 3), 0);
    EXPECT_TRUE(dac.released);
    EXPECT_EQ(ctrl->dueOf(&dac), -1);

    layers().voiceRetrigger(4, 3, 61);
    EXPECT_EQ(ctrl->gateActiveByte(4, 3), 1);
    EXPECT_FALSE(dac.released);
}

TEST_F(SIDCtrlTest, SampleLayerPitchIsASampleRate)
{
    SID_DAC_sub& dac = *ctrl->dacSub(0);
    layers().voicePitchChanged(0, 3);
    EXPECT_EQ(dac.freeStep, 1.0f / 8000.0f);  // no sample: 8000 per second

    ctrl->layerManager().setLayerParameter(3, ZRS::LayerManager::kTranspose, 12.0f);
    layers().voicePitchChanged(0, 3);
    EXPECT_NEAR(dac.freeStep, 1.0f / 16000.0f, 1e-9f);

    fixtures::DacSampleBuilder sample;
    sample.sine(1000, 22050, 441.0);
    ctrl->setNoteTable(sample.get());
    ctrl->layerManager().setLayerParameter(3, ZRS::LayerManager::kTranspose, 0.0f);
    ctrl->setPolyphony(12);
    ctrl->processMidiMessage(0x90, 72, 127);  // 523.25 Hz, twice middle C
    ASSERT_EQ(ctrl->voiceManager(0).findVoiceByNote(72), 0);
    layers().voicePitchChanged(0, 3);
    EXPECT_EQ(dac.freeStep, 1.0f / 22050.0f);
    EXPECT_NEAR(dac.keyStep, 1.0f / 44100.0f, 1e-9f);
}

TEST_F(SIDCtrlTest, NoteTableGoesToEveryChannel)
{
    fixtures::DacSampleBuilder empty;
    ctrl->setNoteTable(empty.get());
    ctrl->setNoteTable(nullptr);
    EXPECT_EQ(ctrl->dacSub(0)->sample, nullptr);

    fixtures::DacSampleBuilder sample;
    sample.sine(100, 11025, 100.0);
    ctrl->setNoteTable(sample.get());
    for (size_t c = 0; c < 12; ++c) {
        EXPECT_EQ(ctrl->dacSub(c)->sample, sample.get()) << c;
        EXPECT_EQ(ctrl->dacSub(c)->getSampleRate(), 11025.0f) << c;
    }
}

TEST_F(SIDCtrlTest, LayerParameterMask)
{
    EXPECT_EQ(layers().layerParameterMask(3), 19u);
    for (uint64_t l : {0, 1, 2})
        EXPECT_EQ(layers().layerParameterMask(l), 31u);
}

TEST_F(SIDCtrlTest, LayerAndSlotChangesReachTheHost)
{
    layers().layerParameterChanged(2, 5, 1, 3.0f);
    ctrl->automSlotChanged(4, 7, 0, 0.5f);
    const uint8_t keys[128] = {};
    layers().layerInfoChanged(keys);
    ASSERT_EQ(listener.reports.size(), 2u);
    EXPECT_EQ(listener.reports[0].what, "layer");
    EXPECT_EQ(listener.reports[0].a, 2u);
    EXPECT_EQ(listener.reports[0].n, 5u);
    EXPECT_EQ(listener.reports[0].kind, 1u);
    EXPECT_EQ(listener.reports[1].what, "slot");
    EXPECT_EQ(listener.reports[1].a, 4u);
    EXPECT_EQ(listener.reports[1].value, 0.5f);
    EXPECT_EQ(listener.displayInfo, keys);
}

TEST_F(SIDCtrlTest, PitchAtTheChipClock)
{
    ctrl->setRate(0, 985248.0, 985248.0);
    ctrl->setPolyphony(12);
    ctrl->processMidiMessage(0x90, 69, 100);
    // 440 Hz x 2^24 / 985248 Hz = 7492.5
    EXPECT_EQ(chip(0).lastWrite(0) | (chip(0).lastWrite(1) << 8), 7493);
    EXPECT_EQ(chip(0).lastWrite(4) & 1, 1);
    EXPECT_EQ(ctrl->gateActiveByte(0, 0), 1);
    ctrl->processMidiMessage(0x80, 69, 0);
    EXPECT_EQ(chip(0).lastWrite(4) & 1, 0);
}

TEST_F(SIDCtrlTest, NotesAndMidiReachALoadedTune)
{
    ctrl->setPolyphony(12);
    MidiReader* r = ctrl->adoptReader(new MidiReader(ctrl.get()));
    ctrl->noteOn(0, 1, 60, 1.0f, 0.0f);
    ctrl->noteOn(0, 2, 61, 0.0f, 0.0f);
    ctrl->noteOn(0, 3, 62, std::numeric_limits<float>::quiet_NaN(), 0.0f);
    ctrl->noteOn(0, 4, 200, 1.0f, 0.0f);
    EXPECT_GE(ctrl->voiceManager(0).findVoiceByNote(200 & 127), 0);  // the synth still plays it
    ctrl->noteOff(0, 1, 60);
    ctrl->noteOff(0, 4, 200);
    ctrl->processMidiMessage(0xB0, 1, 64);
    const std::vector<std::vector<uint8_t>> want = {{0x90, 60, 127}, {0x90, 61, 0},
                                                    {0x90, 62, 0},   {0x80, 60, 0},
                                                    {0xB0, 1, 64}};
    EXPECT_EQ(r->midi, want);
}

TEST_F(SIDCtrlTest, MidiWithoutATuneReachesTheSynth)
{
    ctrl->setPolyphony(12);
    ctrl->processMidiMessage(0x90, 64, 90);
    EXPECT_EQ(ctrl->gateActiveByte(0, 0), 1);
    EXPECT_EQ(chip(0).lastWrite(4) & 1, 1);
}

// ---------------------------------------------------------------------------------------------
// Register write path

TEST_F(SIDCtrlTest, RawWritesReachOnlyTheChip)
{
    ctrl->mediaCommand(10, nullptr, 4.0);
    listener.sysex.clear();
    const SID_shadow before = ctrl->shadow(3);
    ctrl->writeRegister(3 | ChipSubWriter::DIRECT_WRITE, 4, 0x41);
    EXPECT_EQ(chip(3).writes, (std::vector<RegWrite>{{4, 0x41}}));
    EXPECT_EQ(std::memcmp(ctrl->shadow(3).regs, before.regs, 32), 0);
    EXPECT_EQ(ctrl->shadow(3).gateChanged[0], 0);
    EXPECT_TRUE(listener.sysex.empty());

    ctrl->writeRegister(uint64_t(0xE0000003) | ChipSubWriter::DIRECT_WRITE, 5, 0x12);  // top bits
    EXPECT_EQ(chip(3).lastWrite(5), 0x12);
    ctrl->writeRegister(16, 4, 1);
    ctrl->writeRegister(40 | ChipSubWriter::DIRECT_WRITE, 4, 1);
    ctrl->writeRegister(0x20000000 | 2, 4, 1);
    for (size_t c = 0; c < 16; ++c)
        EXPECT_TRUE(c == 3 || chip(c).writes.empty()) << c;
}

TEST_F(SIDCtrlTest, ShadowSlotsAndGateFlags)
{
    ctrl->writeRegister(3, 36, 0x41);
    EXPECT_EQ(chip(3).writes, (std::vector<RegWrite>{{36, 0x41}}));
    EXPECT_EQ(ctrl->shadow(3).regs[4], 0x41);
    EXPECT_EQ(ctrl->shadow(3).gateChanged[0], 1);

    ctrl->writeRegister(8, 11, 0x40);
    ctrl->writeRegister(8, 11, 0x20);
    EXPECT_EQ(ctrl->shadow(8).gateChanged[1], 0);
    ctrl->writeRegister(8, 11, 0x21);
    EXPECT_EQ(ctrl->shadow(8).gateChanged[1], 1);
    EXPECT_EQ(ctrl->shadow(8).gateChanged[0], 0);
    EXPECT_EQ(ctrl->shadow(8).gateChanged[2], 0);
}

TEST_F(SIDCtrlTest, SampleChannelBitsWinOnTheChipOnly)
{
    ctrl->mediaCommand(10, nullptr, 3.0);  // chip 2
    listener.sysex.clear();
    SID_DAC_sub& dac = *ctrl->dacSub(2);
    dac.ownedMask |= 1u << 24;
    dac.ownedBits[24] = 0x0F;
    dac.ownedValue[24] = 0x05;
    ctrl->writeRegister(2, 24, 0x3F);
    EXPECT_EQ(chip(2).writes, (std::vector<RegWrite>{{24, 0x35}}));
    EXPECT_EQ(ctrl->shadow(2).regs[24], 0x3F);
    EXPECT_EQ(dac.savedValue[24], 0x3F);
    ASSERT_EQ(listener.sysex.size(), 1u);
    EXPECT_EQ(listener.sysex[0][11], 0x3F);

    // Its own writes go straight through.
    ctrl->writeRegister(2 | ChipSubWriter::DIRECT_WRITE, 24, 0x0A);
    EXPECT_EQ(chip(2).lastWrite(24), 0x0A);
    EXPECT_EQ(dac.savedValue[24], 0x3F);
    EXPECT_EQ(ctrl->shadow(2).regs[24], 0x3F);
}

TEST_F(SIDCtrlTest, AsidMirrorsTheSelectedChip)
{
    ctrl->mediaCommand(10, nullptr, 3.0);  // chip 2
    listener.sysex.clear();
    ctrl->writeRegister(2, 18, 0xFF);
    ctrl->writeRegister(2, 0, 0x12);
    ctrl->writeRegister(2, 25, 0x01);
    ctrl->writeRegister(2, 36, 0x01);
    ctrl->writeRegister(3, 0, 0x01);
    const std::vector<std::vector<uint8_t>> want = {
        {0xF0, 0x2D, 0x4E, 0, 0, 0, 0x08, 0, 0, 0, 0x08, 0x7F, 0xF7},
        {0xF0, 0x2D, 0x4E, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x12, 0xF7},
    };
    EXPECT_EQ(listener.sysex, want);
}

TEST_F(SIDCtrlTest, GatesAndPlayerChipSilencing)
{
    for (uint64_t c = 0; c < 16; ++c) {
        ctrl->writeRegister(c, 4, 0x41);
        ctrl->writeRegister(c, 11, 0x20);
        ctrl->writeRegister(c, 18, 0x81);
    }
    clear();
    ctrl->releaseAllGates(0);
    for (size_t c = 0; c < 16; ++c)
        EXPECT_EQ(chip(c).writes, (std::vector<RegWrite>{{4, 0x40}, {11, 0x20}, {18, 0x80}}))
            << c;

    clear();
    ctrl->silencePlayerChips();
    for (size_t c = 0; c < 16; ++c) {
        const std::vector<RegWrite> want =
            c < 12 ? std::vector<RegWrite>{}
                   : std::vector<RegWrite>{{4, 8}, {6, 0}, {11, 8}, {13, 0}, {18, 8}, {20, 0}};
        EXPECT_EQ(chip(c).writes, want) << c;
    }
    EXPECT_FALSE(ctrl->isChannelActive(0, 12, 0));
    EXPECT_FALSE(ctrl->isChannelActive(0, 3, 0));  // not a SID chip
}

TEST(SIDCtrlChips, MissingChipsAreSkipped)
{
    RecordingChip a, b;
    std::vector<ChipEmu*> chips = {&a, nullptr, &b};
    TestCtrl ctrl(&chips, nullptr);
    ctrl.init(nullptr, 1006);
    a.writes.clear();
    b.writes.clear();
    const SID_shadow before = ctrl.shadow(1);
    ctrl.writeRegister(1, 4, 1);
    ctrl.writeRegister(3, 4, 1);
    EXPECT_EQ(std::memcmp(ctrl.shadow(1).regs, before.regs, 32), 0);
    ctrl.releaseAllGates(0);
    ctrl.silencePlayerChips();
    EXPECT_EQ(a.writes.size(), 3u);
    EXPECT_EQ(b.writes.size(), 3u);
}

// ---------------------------------------------------------------------------------------------
// Render

class TickTimer : public vantor::QuantumTimer
{
public:
    explicit TickTimer(uint64_t first, uint64_t period = kNever) : delay(first), every(period) {}
    uint64_t quantumElapsed(vantor::QuantumTimer*, uint64_t, double) override
    {
        if (added) {
            firedAt.push_back(owner->getNow());
            if (onFire)
                onFire(owner->getNow());
        }
        added = true;
        return firedAt.empty() ? delay : every;
    }
    std::function<void(uint64_t)> onFire;
    uint64_t delay, every;
    bool added = false;
    vantor::QuantumManager* owner = nullptr;
    std::vector<uint64_t> firedAt;
};

// Exact render: every enabled chip is cut at every due timer. Otherwise a chip is cut only where
// a timer reaches it (here chip 13, by a register write at tick 800).
TEST_F(SIDCtrlTest, RenderCutsAtDueTimers)
{
    for (const bool exact : {true, false}) {
        ctrl->setExactRender(exact);
        ctrl->cancel(&ctrl->layerManager());
        ctrl->setChipEnabled(0, true);
        ctrl->setChipEnabled(13, true);
        chip(13).mark = 100;
        for (RecordingChip& c : chipObjects)
            c.renders.clear();
        TickTimer t(300, 500);
        t.owner = ctrl.get();
        const uint64_t start = ctrl->getNow();
        t.onFire = [&](uint64_t now) {
            if (now == start + 800)
                ctrl->writeRegister(13, 24, 15);
        };
        ctrl->addTimer(&t, 0);
        std::vector<int32_t> out(1000, 0);
        int32_t* channels[2] = {out.data(), nullptr};
        ctrl->render(channels, 2, 1000);
        if (exact) {
            EXPECT_EQ(chip(0).renders, (std::vector<uint64_t>{300, 500, 200}));
            EXPECT_EQ(chip(13).renders, (std::vector<uint64_t>{300, 500, 200}));
        } else {
            EXPECT_EQ(chip(0).renders, (std::vector<uint64_t>{1000}));
            EXPECT_EQ(chip(13).renders, (std::vector<uint64_t>{800, 200}));
        }
        EXPECT_EQ(t.firedAt, (std::vector<uint64_t>{start + 300, start + 800}));
        for (int32_t w : out)
            ASSERT_EQ(w, 101);
        EXPECT_EQ(channels[0], out.data());
        EXPECT_TRUE(chip(1).renders.empty());
        ctrl->cancel(&t);
    }
}

TEST_F(SIDCtrlTest, TimerDueForEverDoesNotHang)
{
    ctrl->cancel(&ctrl->layerManager());
    ctrl->setChipEnabled(0, true);
    TickTimer t(0, 0);
    t.owner = ctrl.get();
    ctrl->addTimer(&t, 0);
    std::vector<int32_t> out(64, 0);
    int32_t* channels[1] = {out.data()};
    ctrl->render(channels, 1, 64);
    EXPECT_EQ(chip(0).renders.back(), 64u);
    EXPECT_EQ(ctrl->renderUntilEvent(64), 64u);
    EXPECT_EQ(ctrl->renderUntilEvent(0), 0u);
    ctrl->cancel(&t);
}

TEST_F(SIDCtrlTest, PendingAdvanceRunsFirst)
{
    ctrl->cancel(&ctrl->layerManager());
    MidiReader* r = ctrl->adoptReader(new MidiReader(ctrl.get()));
    r->timers = false;  // a self-driven reader
    r->playing = true;
    ctrl->setAdvancePending();
    std::vector<int32_t> out(100, 0);
    int32_t* channels[1] = {out.data()};
    ctrl->render(channels, 1, 100);
    EXPECT_EQ(r->selected, std::vector<uint64_t>{1});
    EXPECT_FALSE(ctrl->isAdvancePending());
    const uint64_t rendered = r->advanceCalls;
    EXPECT_GT(rendered, 0u) << "the render runs a self-driven reader";

    ctrl->setAdvancePending();
    EXPECT_EQ(ctrl->renderUntilEvent(50), 50u);
    EXPECT_EQ(r->selected, (std::vector<uint64_t>{1, 0}));
    EXPECT_EQ(r->advanceCalls, rendered);  // time never goes to the reader here
}

}  // namespace
