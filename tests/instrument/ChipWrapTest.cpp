// The instrument instance: what construction reports, the descriptors and controller map built at
// init, teardown order, commands and the notifications that queue controller events.

#include "ChipWrapFixtures.h"

#include "fixtures/StubChip.h"
#include "instrument/Repackager.h"
#include "sid/SIDEmu.h"
#include "synth/SynthBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

using namespace chipwrap_test;
using acme::ChipWrap;

uint32_t query(PluginEntryRecord* entry, uint32_t op)
{
    uint32_t word = 0xDEADBEEF;
    entry->dispatcher(entry, op, 0, &word);
    return word;
}

TEST(ChipWrapInstance, ConstructionReportsTheSIDInstrument)
{
    ChipWrap wrap(nullptr, "C64xyz", 3);
    PluginEntryRecord* entry = wrap.getEntryRecord();
    EXPECT_EQ(wrap.getName(), "C64");
    EXPECT_EQ(query(entry, kOpGetOutputCount), 2u);
    EXPECT_EQ(query(entry, kOpGetInputCount), 0u);
    EXPECT_EQ(query(entry, kOpGetFlags), 0x3Cu);
    EXPECT_EQ(query(entry, kOpGetWord5), 1u);
    EXPECT_EQ(wrap.chipCount(), 16u);
    ASSERT_NE(wrap.getSIDController(), nullptr);
    EXPECT_FLOAT_EQ(wrap.getChannelScale(0), 1.0f / 2097153.0f);

    // Before init: an empty map, 1792 default descriptors.
    auto map = std::make_unique<ModuleEvents>();
    map->count = 77;
    entry->dispatcher(entry, kOpGetControllerMap, reinterpret_cast<intptr_t>(map.get()), nullptr);
    EXPECT_EQ(map->count, 0u);
    const void* descriptors = nullptr;
    uint32_t count = 0;
    entry->dispatcher(entry, kOpGetParameterDescriptors, reinterpret_cast<intptr_t>(&descriptors),
                      &count);
    EXPECT_EQ(count, 1792u);
    EXPECT_EQ(descriptors, wrap.getDescriptors().data());
    EXPECT_EQ(wrap.getDescriptors()[900].index, 0xFFFF);

    // Another name builds nothing; the instance stays harmless.
    ChipWrap other(nullptr, "SID", 3);
    EXPECT_EQ(other.chipCount(), 0u);
    EXPECT_EQ(other.getController(), nullptr);
    EXPECT_EQ(query(other.getEntryRecord(), kOpGetFlags), 0x04u);
    EXPECT_FALSE(other.init(nullptr, nullptr, 2123));
    Blocks blocks(other.getEntryRecord());
    blocks.left.assign(blocks.left.size(), 1.0f);
    blocks.right.assign(blocks.right.size(), 1.0f);
    EXPECT_TRUE(blocks.run(64, {itemEvent(1000, 0.5f)}).empty());
    EXPECT_EQ(blocks.left[0], 0.0f);   // its one output channel is zeroed
    EXPECT_EQ(blocks.right[0], 1.0f);  // the second is not its own
}

TEST(ChipWrapInstance, InitBuildsTheOutputChainAndTheControllerMap)
{
    Started s(44100.0, 256, 2123, false);
    ChipWrap& w = *s.wrap;
    EXPECT_EQ(s.initResult, 1u);
    EXPECT_EQ(w.getMaxTicks(), 111472u);  // ((int)(256 x 4800000 / 44100 x 4 + 0.5) + 16) & ~15
    EXPECT_EQ(w.getRepackager()->getCapacity(), 111472u);
    EXPECT_EQ(w.getChipRate(), 985248.0);
    EXPECT_EQ(Started(48000.0, 256, 2123, false).wrap->getMaxTicks(), 102416u);

    const ModuleEvents& map = w.controllerMapRecord();
    EXPECT_EQ(map.count, 1792u);
    EXPECT_EQ(map.events[0].kind, 0xB0u);
    EXPECT_EQ(map.events[0].index, 0);
    EXPECT_EQ(map.events[0].value, 0.0f);
    EXPECT_EQ(map.events[1791].index, 1791);
    EXPECT_EQ(map.events[1792].kind, 0u);
    EXPECT_EQ(map.events[256].value, 0.0f);      // default clock index
    EXPECT_EQ(map.events[257].value, 5.0f);      // high-pass cutoff
    EXPECT_EQ(map.events[258].value, 22050.0f);  // low-pass cutoff: half the host rate
    EXPECT_EQ(map.events[389].value, 1.0f);      // media speed
    for (int32_t i = 1568; i < 1792; ++i)
        ASSERT_EQ(map.events[i].value, 0.0f) << i;  // automation slots 18-31

    const std::vector<ParameterInfo>& d = w.getDescriptors();
    const SIDCtrl& ctrl = *w.getSIDController();
    size_t synth = 0;
    for (const ParameterInfo& p : ctrl.parameters) {
        if (p.index == 0xFFFF)
            continue;
        ++synth;
        EXPECT_EQ(d[768 + p.index].index, 768 + p.index);
        EXPECT_STREQ(d[768 + p.index].label, p.label);
        EXPECT_EQ(map.events[768 + p.index].value, p.defaultValue);
    }
    EXPECT_GT(synth, 50u);
    for (uint16_t i : {416, 417, 418})
        EXPECT_EQ(d[i].index, i);
    EXPECT_EQ(d[512].index, 512);   // layer 0, parameter 0
    EXPECT_EQ(d[1024].index, 1024); // chip model of the synth chips
    EXPECT_EQ(d[1216].index, 1216); // chip model of tune chip 12
    EXPECT_EQ(d[511].index, 0xFFFF);
}

// A chip that logs its end; the controller logs its own.
class WatchChip : public fixtures::StubChip
{
public:
    WatchChip(size_t i, std::vector<std::string>* l) : index(i), log(l)
    {
        info.clocks = {985248.0};
    }
    ~WatchChip() override { log->push_back("chip " + std::to_string(index)); }
    const ChipInfo* getChipInfo() const override { return &info; }

private:
    ChipInfo info;
    size_t index;
    std::vector<std::string>* log;
};

class WatchCtrl : public SIDCtrl
{
public:
    WatchCtrl(std::vector<ChipEmu*>* chips, ChipControllerListener* l, std::vector<std::string>* g)
        : SIDCtrl(chips, l), log(g)
    {
    }
    ~WatchCtrl() override { log->push_back("controller"); }

private:
    std::vector<std::string>* log;
};

class WatchFactory : public acme::ChipWrapFactory
{
public:
    ChipEmu* createChip(size_t index) const override { return new WatchChip(index, &log); }
    ChipController* createController(std::vector<ChipEmu*>* chips,
                                     ChipControllerListener* listener) const override
    {
        return new WatchCtrl(chips, listener, &log);
    }
    mutable std::vector<std::string> log;
};

TEST(ChipWrapInstance, TeardownEndsTheControllerBeforeAnyChip)
{
    WatchFactory factory;
    delete new ChipWrap(nullptr, "C64", 3, &factory);
    ASSERT_EQ(factory.log.size(), 17u);
    EXPECT_EQ(factory.log[0], "controller");
    for (size_t i = 1; i < 17; ++i)
        EXPECT_EQ(factory.log[i], "chip " + std::to_string(16 - i));
}

TEST(ChipWrapInstance, AudioSettingsBeforeInitAreOnlyStoredAndBadOnesIgnored)
{
    ChipWrap w(nullptr, "C64", 3);
    PluginEntryRecord* entry = w.getEntryRecord();
    AudioSettingsRecord s;
    s.sampleRate = 48000.0;
    s.blockSize = 8;
    entry->dispatcher(entry, kOpSetAudioSettings, reinterpret_cast<intptr_t>(&s), nullptr);
    EXPECT_EQ(w.getAudioSettings().sampleRate, 48000.0);
    EXPECT_FALSE(w.isInitialised());
    EXPECT_TRUE(w.pendingOutgoing().empty());  // no chip-rate update without a chain

    // A block before init: zeroed outputs and nothing else.
    Blocks blocks(entry);
    blocks.left.assign(blocks.left.size(), 1.0f);
    w.queueControllerEvent(0, 0xB0, 5, 1.0f);
    EXPECT_TRUE(blocks.run(64, {itemEvent(1000, 0.5f)}).empty());
    EXPECT_EQ(blocks.left[0], 0.0f);
    EXPECT_EQ(blocks.left[63], 0.0f);
    EXPECT_EQ(blocks.left[64], 1.0f);
    EXPECT_EQ(w.pendingOutgoing().size(), 1u);

    for (const auto& [rate, block] : {std::pair{0.0, 256u}, {-48000.0, 256u}, {NAN, 256u},
                                      {INFINITY, 256u}, {44100.0, 0u}}) {
        AudioSettingsRecord bad;
        bad.sampleRate = rate;
        bad.blockSize = block;
        entry->dispatcher(entry, kOpAudioSettingsChanged, reinterpret_cast<intptr_t>(&bad), nullptr);
    }
    EXPECT_EQ(w.getAudioSettings().sampleRate, 48000.0);
    EXPECT_EQ(w.getAudioSettings().blockSize, 8u);

    ASSERT_TRUE(w.init(nullptr, nullptr, 2123));
    EXPECT_EQ(w.getMaxTicks(), 3216u);  // T from the block of 8 frames
    EXPECT_EQ(w.pendingOutgoing()[1].index, 262);
}

TEST(ChipWrapCommands, MasterSettings)
{
    Started s;
    SIDCtrl& ctrl = s.spy();
    EXPECT_EQ(ctrl.voiceManager(0).voiceCount(), 12u);
    s.command(1, -1.0);
    EXPECT_EQ(ctrl.voiceManager(0).pitchBendRangeCents(), 200.0f);
    s.command(1, -0.5);
    EXPECT_EQ(ctrl.voiceManager(0).pitchBendRangeCents(), -0.5f);
    s.command(4, 0.25);
    EXPECT_EQ(ctrl.voiceManager(0).velocitySensitivityValue(), 0.25f);
    s.command(0x10004, -1.0);
    EXPECT_TRUE(ctrl.isAsidInput());
    s.command(0x2000A, 3.0);  // media command 10: ASID output from chip 2
    EXPECT_EQ(ctrl.getAsidChip(), 2u);
    s.command(10, 0.0);
    EXPECT_EQ(ctrl.voiceManager(0).noteTuningSource(), s.wrap.get());
    s.command(11, 300.0);  // low byte
    EXPECT_EQ(ctrl.getFixedPitchNote(), 44);
    for (int32_t kind : {0, 5, 8, 12, 0xFFFF, -1})
        s.command(kind, 7.0);  // ignored
    EXPECT_EQ(ctrl.voiceManager(0).voiceCount(), 12u);
}

bool waitsForTheMutex(Started& s, int32_t kind, double value)
{
    return chipwrap_test::waitsForTheMutex(s.wrap->getMutex(), [&] { s.command(kind, value); });
}

TEST(ChipWrapCommands, TheLockingKindsTakeTheMutex)
{
    Started s;
    const struct
    {
        int32_t kind;
        double value;
        bool locks;
    } kCases[] = {
        {2, 50.0, true},  {3, 6.0, true},      {7, 1.0, true},         {1, 300.0, false},
        {4, 0.5, false},  {0x10002, 1.0, false}, {0x30005, 1.0, true},  // media command 0x10005
    };
    for (const auto& c : kCases)
        EXPECT_EQ(waitsForTheMutex(s, c.kind, c.value), c.locks) << std::hex << c.kind;
    EXPECT_EQ(s.spy().voiceManager(0).masterTuneCents(), 50.0f);
    EXPECT_EQ(s.spy().voiceManager(0).voiceCount(), 6u);
}

TEST(ChipWrapCommands, QueriesMidiInputAndForwards)
{
    Started s;
    s.spy().log.clear();
    PluginEntryRecord* e = s.entry;
    for (const auto& [request, answer] : {std::pair{2u, 1u}, {3u, 0u}, {0u, 0u}}) {
        ChannelConfigRequest r;
        r.outputChannels = request;
        uint32_t accepted = 7;
        e->dispatcher(e, kOpQueryChannelConfig, reinterpret_cast<intptr_t>(&r), &accepted);
        EXPECT_EQ(accepted, answer) << request;
    }

    HostMidiOutRecord midi;
    midi.bytes[0] = 0xF8;
    e->dispatcher(e, kOpReceiveSysEx, reinterpret_cast<intptr_t>(&midi), nullptr);
    EXPECT_TRUE(s.spy().log.empty());  // dropped before the controller is asked
    midi.bytes[0] = 0x90;
    e->dispatcher(e, kOpReceiveSysEx, reinterpret_cast<intptr_t>(&midi), nullptr);
    EXPECT_EQ(s.spy().log, std::vector<std::string>{"accepts?"});  // it declines
    const uint8_t sysex[4] = {0xF0, 0x2D, 0x01, 0xF7};
    midi.kind = 1;
    midi.size = 4;
    midi.sysex = sysex;
    e->dispatcher(e, kOpReceiveSysEx, reinterpret_cast<intptr_t>(&midi), nullptr);
    EXPECT_EQ(s.spy().log.back(), "sysex 4");
    midi.sysex = nullptr;  // a length without bytes is refused
    e->dispatcher(e, kOpReceiveSysEx, reinterpret_cast<intptr_t>(&midi), nullptr);
    EXPECT_EQ(s.spy().log.size(), 2u);

    e->dispatcher(e, kOpSetDataFolder, reinterpret_cast<intptr_t>("/data/c64"), nullptr);
    EXPECT_EQ(s.spy().getDataFolder(), "/data/c64");
    EXPECT_TRUE(s.wrap->engineCommand(8, 0));
    EXPECT_TRUE(s.wrap->resetVoices(9, 0));
    EXPECT_EQ(s.wrap->loadFile(0, "/nonexistent/tune.sid"), 0);  // the controller takes no media
    EXPECT_EQ(s.wrap->loadFile(0, nullptr), 0);
    EXPECT_EQ(s.wrap->saveFile(0, nullptr), 0);
}

TEST(ChipWrapNotifications, ChangeKindZeroQueuesControllerEvents)
{
    ChipWrap w(nullptr, "C64", 3);
    w.queueControlChange(5, 0.5f);
    w.notifyVoiceParameter(11, 15, 0, 1.0f);
    w.notifyAutomationSlot(17, 15, 0, 2.0f);
    w.notifyLayerParameter(3, 2, 0, 3.0f);
    w.notifySynthParameter(97, 0, 4.0f);
    w.notifyMediaParameter(5, 0, 5.0f);
    w.notifySynthParameter(97, 1, 9.0f);  // kinds 1 and 2 use the engine's shared block
    w.notifyAutomationSlot(1, 1, 2, 9.0f);
    const auto& out = w.pendingOutgoing();
    ASSERT_EQ(out.size(), 6u);
    const int32_t items[] = {261, 1215, 1567, 562, 865, 389};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(out[i].kind, 0xB0u);
        EXPECT_EQ(out[i].index, items[i]);
        EXPECT_EQ(out[i].value, float(i == 0 ? 0.5 : double(i)));
        EXPECT_EQ(out[i].channel, 0);
        EXPECT_EQ(out[i].sampleOffset, 0u);
    }
    // Bounded: at most 2048 wait.
    for (int i = 0; i < 3000; ++i)
        w.queueControllerEvent(3, 0xB0, 7, 1.0f);
    EXPECT_EQ(out.size(), 2048u);
    EXPECT_EQ(out.back().channel, 3);
}

TEST(ChipWrapNotifications, ChannelOperationsOutsideTheFourChannelsAreIgnored)
{
    Started s;
    ChipWrap& w = *s.wrap;
    for (uint64_t c : {4ull, 99ull, ~0ull}) {
        w.setChannelScale(c, 1);
        w.setChannelFilterCutoff(c, 1000.0);
        w.setChannelHighPassCutoff(c, 10.0);
    }
    w.setChannelScale(0, -1);  // would divide by zero
    EXPECT_FLOAT_EQ(w.getChannelScale(0), 1.0f / 2097153.0f);
    w.setChannelScale(0, 1);
    EXPECT_EQ(w.getChannelScale(0), 0.5f);
    w.setChannelFilterCutoff(1, -3.0);
    EXPECT_EQ(w.lowPass(1).getCutoff(), 24000.0);
    w.setChannelHighPassCutoff(1, -3.0);
    EXPECT_EQ(w.highPass(1).getCutoff(), 5.0);
    w.setChannelHighPassCutoff(1, NAN);
    EXPECT_EQ(w.highPass(1).getCutoff(), 5.0);
}

}  // namespace
