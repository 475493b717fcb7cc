// RPN/NRPN decoding from control changes, the MPE configuration and the MPE layer mode.
#include "synth/SynthController.h"
#include "synth/XrpnDecoder.h"
#include "synth/support/SynthTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace ZRS;
using ZRS::test::TestSynth;

namespace {

using Calls = std::vector<std::string>;

struct Cc
{
    uint8_t channel, controller, value;
};

void send(TestSynth& s, const std::vector<Cc>& ccs)
{
    for (const Cc& c : ccs)
        s.processMidiMessage(uint8_t(0xB0 | c.channel), c.controller, c.value);
}

Calls deliveries(const TestSynth& s)
{
    Calls out;
    for (const std::string& h : s.hooks)
        if (h.rfind("rpn", 0) == 0 || h.rfind("nrpn", 0) == 0)
            out.push_back(h);
    return out;
}

void expectRoute(const TestSynth& s, size_t channel, int64_t group, int64_t member, int master)
{
    const ChannelRoute& r = s.channelRoute(channel);
    EXPECT_EQ(r.group, group) << "channel index " << channel;
    EXPECT_EQ(r.member, member) << "channel index " << channel;
    EXPECT_EQ(r.isMaster, master) << "channel index " << channel;
}

}  // namespace

TEST(XrpnDecoder, ControllerSequencesDeliverOnce)
{
    const struct
    {
        const char* name;
        std::vector<Cc> ccs;
        Calls want;
    } kCases[] = {
        {"msb, lsb, data msb, data lsb", {{0, 101, 0}, {0, 100, 0}, {0, 6, 12}, {0, 38, 0}},
         {"rpn 0 0 12 0"}},
        {"data msb waits", {{0, 101, 0}, {0, 100, 0}, {0, 6, 12}}, {}},
        {"any next controller delivers with lsb 0",
         {{0, 101, 0}, {0, 100, 0}, {0, 6, 12}, {0, 7, 90}}, {"rpn 0 0 12 0"}},
        {"lsb first selects too", {{0, 100, 0}, {0, 101, 0}, {0, 6, 12}, {0, 38, 0}},
         {"rpn 0 0 12 0"}},
        {"data lsb then msb", {{0, 101, 0}, {0, 100, 0}, {0, 38, 5}, {0, 6, 2}}, {"rpn 0 0 2 5"}},
        {"a controller while the msb is held resets; 100 then starts anew",
         {{0, 101, 0}, {0, 7, 1}, {0, 100, 3}, {0, 101, 1}, {0, 6, 4}, {0, 38, 0}},
         {"rpn 0 131 4 0"}},
        {"121 resets an idle channel", {{0, 101, 0}, {0, 121, 0}, {0, 100, 0}, {0, 6, 5}}, {}},
        {"the delivering controller selects nothing",
         {{0, 101, 0}, {0, 100, 0}, {0, 6, 1}, {0, 101, 0}, {0, 100, 0}, {0, 6, 2}, {0, 38, 0}},
         {"rpn 0 0 1 0"}},
        {"one value per selection",
         {{0, 101, 0}, {0, 100, 0}, {0, 6, 1}, {0, 38, 2}, {0, 6, 3}, {0, 38, 4}},
         {"rpn 0 0 1 2"}},
        {"nrpn", {{0, 99, 1}, {0, 98, 2}, {0, 6, 3}, {0, 38, 4}}, {"nrpn 0 130 3 4"}},
        {"nrpn lsb first", {{0, 98, 2}, {0, 99, 1}, {0, 38, 4}, {0, 6, 3}}, {"nrpn 0 130 3 4"}},
        {"mixed selection resets", {{0, 101, 0}, {0, 98, 0}, {0, 6, 3}, {0, 38, 0}}, {}},
        {"null rpn", {{0, 101, 127}, {0, 100, 127}, {0, 6, 9}, {0, 38, 0}},
         {"rpn 0 16383 9 0"}},
        {"channels are apart",
         {{0, 101, 0}, {1, 100, 0}, {0, 100, 0}, {1, 101, 0}, {1, 6, 7}, {0, 6, 2}, {1, 38, 1},
          {0, 38, 3}},
         {"rpn 1 0 7 1", "rpn 0 0 2 3"}},
    };
    for (const auto& c : kCases) {
        TestSynth s;
        send(s, c.ccs);
        EXPECT_EQ(deliveries(s), c.want) << c.name;
        EXPECT_EQ(s.voiceManager(0).channelBendRangeCents(), 4800.0f) << c.name;  // no zone
    }
}

TEST(XrpnDecoder, BendRangeNeedsAnActiveZone)
{
    TestSynth s;
    send(s, {{0, 101, 0}, {0, 100, 0}, {0, 6, 12}, {0, 38, 0}});
    EXPECT_EQ(s.voiceManager(0).channelBendRangeCents(), 4800.0f);
    send(s, {{0, 101, 0}, {0, 100, 6}, {0, 6, 3}, {0, 38, 0}});  // lower zone, 3 members
    send(s, {{0, 101, 0}, {0, 100, 0}, {0, 6, 12}, {0, 38, 0}});
    EXPECT_EQ(s.voiceManager(0).channelBendRangeCents(), 1200.0f);
    send(s, {{15, 101, 0}, {15, 100, 0}, {15, 6, 2}, {15, 38, 0}});
    EXPECT_EQ(s.voiceManager(1).channelBendRangeCents(), 200.0f);
    send(s, {{4, 101, 0}, {4, 100, 0}, {4, 6, 5}, {4, 38, 0}});  // not a master channel
    EXPECT_EQ(s.voiceManager(0).channelBendRangeCents(), 1200.0f);
    EXPECT_EQ(s.voiceManager(1).channelBendRangeCents(), 200.0f);
}

TEST(MpeZones, ConfigurationMessagesFillTheChannelRoutes)
{
    TestSynth s;
    s.setLowerZoneMembers(3);
    expectRoute(s, 0, 0, -1, 1);
    for (int64_t k = 0; k < 3; ++k)
        expectRoute(s, size_t(k + 1), 0, k, 0);
    expectRoute(s, 4, -1, -1, 0);

    send(s, {{0, 101, 0}, {0, 100, 6}, {0, 6, 1}, {0, 38, 0}});
    expectRoute(s, 1, 0, 0, 0);
    expectRoute(s, 2, -1, -1, 0);
    expectRoute(s, 3, -1, -1, 0);
    EXPECT_EQ(s.activeZoneMembers(0), 1u);

    send(s, {{15, 101, 0}, {15, 100, 6}, {15, 6, 2}, {15, 38, 0}});
    expectRoute(s, 15, 1, -1, 1);
    expectRoute(s, 14, 1, 0, 0);
    expectRoute(s, 13, 1, 1, 0);
    expectRoute(s, 12, -1, -1, 0);

    // A count of 0 clears the members and the master flag; the master keeps its group.
    s.setUpperZoneMembers(0);
    expectRoute(s, 15, 1, -1, 0);
    expectRoute(s, 14, -1, -1, 0);
    expectRoute(s, 13, -1, -1, 0);

    // Other channels do not configure zones.
    send(s, {{3, 101, 0}, {3, 100, 6}, {3, 6, 5}, {3, 38, 0}});
    EXPECT_EQ(s.activeZoneMembers(0), 1u);
    EXPECT_EQ(s.activeZoneMembers(1), 0u);
}

TEST(MpeZones, CountsAboveFifteenAreClamped)
{
    TestSynth s;
    send(s, {{0, 101, 0}, {0, 100, 6}, {0, 6, 127}, {0, 38, 0}});
    EXPECT_EQ(s.activeZoneMembers(0), 15u);
    expectRoute(s, 15, 0, 14, 0);
    send(s, {{15, 101, 0}, {15, 100, 6}, {15, 6, 100}, {15, 38, 0}});
    EXPECT_EQ(s.activeZoneMembers(1), 15u);
    expectRoute(s, 0, 1, 14, 1);  // the upper zone's last member overwrites the lower master
    expectRoute(s, 15, 1, 14, 1);
    send(s, {{15, 101, 0}, {15, 100, 6}, {15, 6, 0}, {15, 38, 0}});
    for (size_t c = 0; c < 15; ++c)
        expectRoute(s, c, -1, -1, c == 0 ? 1 : 0);

    s.setMpeZoneSize(0, 99);
    EXPECT_EQ(s.configuredZoneMembers(0), 15u);
    s.setMpeZoneSize(2, 3);  // no zone 2
    EXPECT_EQ(s.configuredZoneMembers(1), 0u);
}

TEST(MpeZones, EnteringModeFiveAppliesTheConfiguredCountsAndLayerGroups)
{
    TestSynth s;
    s.setMpeZoneSize(0, 3);
    s.setMpeZoneSize(1, 2);
    s.setLayerVoiceGroup(1, 1);
    s.setLayerVoiceGroup(2, 7);  // no group 7
    s.setLayerVoiceGroup(4, 1);  // no layer 4
    s.setLayerMode(5);
    expectRoute(s, 0, 0, -1, 1);
    expectRoute(s, 3, 0, 2, 0);
    expectRoute(s, 4, -1, -1, 0);
    expectRoute(s, 15, 1, -1, 1);
    expectRoute(s, 13, 1, 1, 0);
    expectRoute(s, 12, -1, -1, 0);
    EXPECT_EQ(s.layerManager().patch()->layers[1]->voiceGroup, 1u);
    EXPECT_EQ(s.layerManager().patch()->layers[2]->voiceGroup, 0u);

    s.setLayerMode(1);
    for (size_t c = 0; c < 16; ++c)
        expectRoute(s, c, -1, -1, 0);
}

TEST(MpeMode, MasterNotesAreSilentAndMemberValuesWaitForTheNote)
{
    TestSynth s;
    s.setLayerMode(5);  // lower zone of 15 members
    VoiceManager& vm = s.voiceManager(0);
    s.processMidiMessage(0x90, 60, 100);  // master channel
    EXPECT_EQ(vm.heldVoiceCount(), 0u);

    // Member 0 (channel 2): bend, timbre and pressure before the note.
    s.processMidiMessage(0xE1, 0x00, 0x60);  // +0.5
    s.processMidiMessage(0xB1, 74, 127);
    s.processMidiMessage(0xD1, 64, 0);
    s.processMidiMessage(0x91, 60, 100);
    ASSERT_EQ(vm.heldVoiceCount(), 1u);
    const int64_t v = vm.channel(0).voice;
    ASSERT_EQ(v, 0);
    EXPECT_EQ(vm.voicePitchCents(v), 0.5f * 4800.0f);
    EXPECT_EQ(s.mpeTimbreSource(0, 0).getValue(), 1.0f);
    EXPECT_EQ(s.mpePressureSource(0, 0).getValue(), 64.0f / 127.0f);
    EXPECT_EQ(s.mpeBendSource(0, 0).getValue(), 0.5f);

    // After the note they update that voice.
    s.processMidiMessage(0xB1, 74, 0);
    s.processMidiMessage(0xD1, 127, 0);
    s.processMidiMessage(0xE1, 0x00, 0x40);
    EXPECT_EQ(s.mpeTimbreSource(0, 0).getValue(), 0.0f);
    EXPECT_EQ(s.mpePressureSource(0, 0).getValue(), 1.0f);
    EXPECT_EQ(vm.voicePitchCents(v), 0.0f);
    EXPECT_EQ(vm.channel(0).timbre, 127);  // stored values stay for the next note

    // Member 1 (channel 3) plays its own voice; the note-off frees the member's slot.
    s.processMidiMessage(0x92, 64, 100);
    EXPECT_EQ(vm.channel(1).voice, 1);
    s.processMidiMessage(0x92, 64, 0);
    EXPECT_EQ(vm.channel(1).voice, -1);
    EXPECT_EQ(vm.heldVoiceCount(), 1u);
    s.processMidiMessage(0x81, 60, 0);
    EXPECT_EQ(vm.heldVoiceCount(), 0u);
}

TEST(MpeMode, MasterChannelMessagesActOnTheZone)
{
    TestSynth s;
    s.setLayerMode(5);
    LayerModSources& b = s.modSources(0);
    b.ensureController(1);
    s.processMidiMessage(0xB0, 1, 127);
    EXPECT_EQ(b.controller(1)->getValue(), 1.0f);
    s.processMidiMessage(0xB2, 1, 0);  // members use only controller 74
    EXPECT_EQ(b.controller(1)->getValue(), 1.0f);
    s.processMidiMessage(0xC0, 9, 0);
    s.processMidiMessage(0xC3, 10, 0);  // member: dropped
    EXPECT_EQ(b.program.getValue(), 9.0f);
    s.processMidiMessage(0xD0, 127, 0);
    EXPECT_EQ(b.channelPressure.getValue(), 1.0f);
    s.processMidiMessage(0xE0, 0x00, 0x00);
    EXPECT_EQ(b.bend.getValue(), -1.0f);
    EXPECT_EQ(s.voiceManager(0).pitchBendCents(), -1200.0f);

    s.processMidiMessage(0x91, 60, 100);
    s.processMidiMessage(0xA1, 60, 127);  // poly pressure is dropped in MPE mode
    EXPECT_FALSE(b.voicePressure[0].isActive());
    s.processMidiMessage(0xB0, 123, 0);  // all notes off on the master ends the zone's notes
    EXPECT_EQ(s.voiceManager(0).heldVoiceCount(), 0u);
}

TEST(MpeMode, SystemMessagesNeedTheRouteOfTheirLowNibble)
{
    TestSynth s;
    s.setMpeZoneSize(0, 3);
    s.setLayerMode(5);
    s.processMidiMessage(0xFE, 0, 0);
    s.processMidiMessage(0xF2, 5, 0);  // route 2: a member of the lower zone
    EXPECT_EQ(s.hooks, (Calls{"system 242 5"}));
    send(s, {{15, 101, 0}, {15, 100, 6}, {15, 6, 2}, {15, 38, 0}});
    s.clearRecords();
    s.processMidiMessage(0xFE, 0, 0);
    EXPECT_EQ(s.hooks, (Calls{"system 254 0"}));
}

TEST(MpeMode, ControlChangesOnUnroutedChannelsAreStillDecoded)
{
    TestSynth s;
    s.setMpeZoneSize(0, 0);
    s.setLayerMode(5);
    expectRoute(s, 0, -1, -1, 0);
    send(s, {{0, 101, 0}, {0, 100, 6}, {0, 6, 2}, {0, 38, 0}});
    EXPECT_EQ(deliveries(s), (Calls{"rpn 0 6 2 0"}));
    expectRoute(s, 2, 0, 1, 0);
}
