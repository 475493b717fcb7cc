#include "synth/LayerModSources.h"
#include "synth/Modulator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace ZRS;

namespace {

struct Heard
{
    std::string who;
    std::string what;  // "active" or "value"
    const Modulator* source;
    int a;  // active flag, or reset
    int b;  // extra, or -1
    bool operator==(const Heard&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Heard& h)
{
    return os << h.who << ' ' << h.what << ' ' << h.a << ' ' << h.b;
}

class RecordingListener : public ModListener
{
public:
    RecordingListener(std::string name, std::vector<Heard>& log) : name(std::move(name)), log(log)
    {
    }
    void modulatorValueChanged(Modulator* source, bool reset) override
    {
        log.push_back({name, "value", source, reset ? 1 : 0, -1});
        values.push_back(source->getValue());
    }
    void modulatorActiveChanged(Modulator* source, uint8_t active, uint8_t extra) override
    {
        log.push_back({name, "active", source, active, extra});
    }

    std::string name;
    std::vector<Heard>& log;
    std::vector<float> values;
};

}  // namespace

TEST(Modulator, WriteTellsEveryListenerOfActivityThenOfValue)
{
    std::vector<Heard> log;
    RecordingListener l1("L1", log), l2("L2", log);
    GenericFloatModulator m;
    m.addListener(&l1);
    m.addListener(&l2);
    m.addListener(&l1);  // listed once

    m.writeValue(0.75f);

    const std::vector<Heard> want = {{"L1", "active", &m, 1, 0},
                                     {"L2", "active", &m, 1, 0},
                                     {"L1", "value", &m, 0, -1},
                                     {"L2", "value", &m, 0, -1}};
    EXPECT_EQ(log, want);
    EXPECT_EQ(l1.values, std::vector<float>{0.75f});
    EXPECT_EQ(m.getValue(), 0.75f);
    EXPECT_EQ(m.isActive(), 1);

    m.removeListener(&l1);
    m.removeListener(&l1);
    ASSERT_EQ(m.listeners().size(), 1u);
    EXPECT_EQ(m.listeners()[0], &l2);
}

TEST(Modulator, WriteWithoutListenersKeepsTheValue)
{
    MIDI7Modulator m;
    EXPECT_EQ(m.isActive(), 0);
    EXPECT_EQ(m.getValue(), 0.0f);
    m.writeMidi(64);
    EXPECT_EQ(m.getValue(), 64.0f / 127.0f);
    EXPECT_EQ(m.isActive(), 1);
    m.setActive(0);  // tells nobody, keeps the value
    EXPECT_EQ(m.isActive(), 0);
    EXPECT_EQ(m.getValue(), 64.0f / 127.0f);
}

TEST(Modulator, RangeOfEveryClassWhateverItsValue)
{
    GenericFloatModulator generic;
    KeyTrackModulator key;
    MIDI7Modulator midi;
    MIDI7ModulatorRaw raw;
    RandomModulator random;
    PitchBendModulator bend;
    PitchBendPosModulator up;
    PitchBendNegModulator down;
    const struct
    {
        const char* name;
        Modulator* m;
        uint8_t kind;
        float min, max;
    } kCases[] = {
        {"GenericFloat", &generic, 0, 0.0f, 1.0f}, {"KeyTrack", &key, 2, -127.0f, 127.0f},
        {"MIDI7", &midi, 0, 0.0f, 1.0f},           {"MIDI7Raw", &raw, 2, 0.0f, 127.0f},
        {"Random", &random, 0, 0.0f, 1.0f},        {"PitchBend", &bend, 1, -1.0f, 1.0f},
        {"PitchBendPos", &up, 0, 0.0f, 1.0f},      {"PitchBendNeg", &down, 0, 0.0f, 1.0f},
    };
    for (const auto& c : kCases) {
        c.m->writeValue(500.0f);
        EXPECT_EQ(c.m->getRangeKind(), c.kind) << c.name;
        EXPECT_EQ(c.m->getMinValue(), c.min) << c.name;
        EXPECT_EQ(c.m->getMaxValue(), c.max) << c.name;
        EXPECT_EQ(c.m->getValue(), 500.0f) << c.name;
    }
}

TEST(Modulator, KeyTrackAndRawValues)
{
    KeyTrackModulator key;
    EXPECT_EQ(key.centerNote, 60);
    EXPECT_EQ(key.scale, 1.0f);
    key.writeNote(48);
    EXPECT_EQ(key.getValue(), -12.0f);
    key.centerNote = 0;
    key.scale = 0.5f;
    key.writeNote(127);
    EXPECT_EQ(key.getValue(), 63.5f);

    MIDI7ModulatorRaw raw;
    raw.writeMidi(100);
    EXPECT_EQ(raw.getValue(), 100.0f);
    MIDI7Modulator scaled;
    scaled.writeMidi(127);
    EXPECT_EQ(scaled.getValue(), 1.0f);
}

TEST(Modulator, PitchBendWritesBendThenUpThenDown)
{
    const struct
    {
        uint32_t value14;
        float bend, up, down;
    } kCases[] = {
        {0, -1.0f, 0.0f, 1.0f},
        {8192, 0.0f, 0.0f, 0.0f},
        {16383, 8191.0f / 8192.0f, 8191.0f / 8192.0f, 0.0f},
        {4096, -0.5f, 0.0f, 0.5f},
    };
    for (const auto& c : kCases) {
        std::vector<Heard> log;
        RecordingListener l("L", log);
        LayerModSources block;
        block.bend.addListener(&l);
        block.bendUp.addListener(&l);
        block.bendDown.addListener(&l);

        block.writePitchBend14(c.value14);

        EXPECT_EQ(block.bend.getValue(), c.bend) << c.value14;
        EXPECT_EQ(block.bendUp.getValue(), c.up) << c.value14;
        EXPECT_EQ(block.bendDown.getValue(), c.down) << c.value14;
        const std::vector<Heard> want = {
            {"L", "active", &block.bend, 1, 0},     {"L", "value", &block.bend, 0, -1},
            {"L", "active", &block.bendUp, 1, 0},   {"L", "value", &block.bendUp, 0, -1},
            {"L", "active", &block.bendDown, 1, 0}, {"L", "value", &block.bendDown, 0, -1},
        };
        EXPECT_EQ(log, want) << c.value14;
    }
}

TEST(LayerModSources, NewBlockHoldsInactiveSourcesAndEmptySlots)
{
    auto block = std::make_unique<LayerModSources>();
    std::vector<const Modulator*> fixed;
    for (size_t v = 0; v < LayerModSources::kVoices; ++v) {
        fixed.insert(fixed.end(), {&block->voiceAlternation[v], &block->voiceKeyTrack[v],
                                   &block->voiceNote[v], &block->voiceVelocity[v],
                                   &block->voiceRandom[v], &block->voicePressure[v]});
        for (size_t t = 0; t < LayerModSources::kExpressionTypes; ++t)
            fixed.push_back(&block->voiceExpression[t][v]);
    }
    fixed.insert(fixed.end(), {&block->alternation, &block->keyTrack, &block->velocity,
                               &block->note, &block->random, &block->channelPressure,
                               &block->program, &block->bend, &block->bendUp, &block->bendDown});
    ASSERT_EQ(fixed.size(), 12u * 6 + 96 + 10);
    for (const Modulator* m : fixed) {
        EXPECT_EQ(m->isActive(), 0);
        EXPECT_EQ(m->getValue(), 0.0f);
        EXPECT_TRUE(m->listeners().empty());
    }
    for (const auto& a : block->actions)
        EXPECT_FALSE(a);
    for (uint32_t n = 0; n < 128; ++n)
        EXPECT_TRUE(block->controller(n) == nullptr);
    EXPECT_EQ(block->voiceGroup, 0u);
    EXPECT_EQ(block->alternationFlag, 0);
    EXPECT_EQ(block->voiceKeyTrack[11].centerNote, 60);
    block.reset();  // only the fixed members: nothing else to free
}

TEST(LayerModSources, ControllerModulatorsAreCreatedOnceInactive)
{
    LayerModSources block;
    Modulator& cc7 = block.ensureController(7);
    EXPECT_EQ(&block.ensureController(7 + 128), &cc7);
    EXPECT_EQ(block.controller(7), &cc7);
    EXPECT_NE(dynamic_cast<MIDI7Modulator*>(&cc7), nullptr);
    EXPECT_EQ(cc7.isActive(), 0);
    EXPECT_EQ(cc7.getValue(), 0.0f);
    EXPECT_TRUE(block.controller(8) == nullptr);
}

namespace {

std::vector<std::string> gDestroyed;

class LoggedController : public Modulator
{
public:
    explicit LoggedController(int n) : n(n) {}
    ~LoggedController() override { gDestroyed.push_back("CC" + std::to_string(n)); }
    int n;
};

class LoggedAction : public ModAction
{
public:
    explicit LoggedAction(int n) : ModAction(0, TableRecord{}, 0), n(n) {}
    ~LoggedAction() override { gDestroyed.push_back("slot" + std::to_string(n)); }
    int n;
};

}  // namespace

TEST(LayerModSources, DestroysControllersHighestFirstThenActionsLastSlotFirst)
{
    gDestroyed.clear();
    {
        LayerModSources block;
        block.actions[0] = std::make_unique<LoggedAction>(0);
        block.actions[17] = std::make_unique<LoggedAction>(17);
        block.controllers[0] = std::make_unique<LoggedController>(0);
        block.controllers[64] = std::make_unique<LoggedController>(64);
        block.controllers[127] = std::make_unique<LoggedController>(127);
    }
    const std::vector<std::string> want = {"CC127", "CC64", "CC0", "slot17", "slot0"};
    EXPECT_EQ(gDestroyed, want);
}
