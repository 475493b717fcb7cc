// The drive's side of the bus protocol, cycle by cycle: its answer to ATN, the end-or-identify
// acknowledge as listener, the bit timing as talker, and the decoding of every command byte.
#include "DriveRig.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <set>
#include <string>
#include <utility>

using drive_rig::Bytes;
using drive_rig::Rig;
using Edge = fixtures::IecBusMaster::Edge;

namespace {

std::vector<Edge> edgesOf(const std::vector<Edge>& all, int line)
{
    std::vector<Edge> out;
    for (const Edge& e : all)
        if (e.line == line)
            out.push_back(e);
    return out;
}

TEST(C1541Protocol, DataPulledFiftyCyclesAfterAtn)
{
    // From rest, and from waiting for a first bit after the end of a LISTEN sequence.
    for (const bool afterListen : {false, true}) {
        Rig rig;
        if (afterListen) {
            ASSERT_TRUE(rig.master.listen(8, 0xF0, "X"));
            ASSERT_EQ(rig.drive.currentState(), C1541::cSTATE_WAIT_FIRST_BIT);
        }
        std::vector<Edge> edges;
        rig.master.setEdgeLog(&edges);
        rig.master.set(IEC_ATN, 0);
        const uint64_t start = rig.master.cycles();
        rig.master.idle(300);
        const std::vector<Edge> data = edgesOf(edges, IEC_DATA);
        ASSERT_EQ(data.size(), 1u) << afterListen;
        EXPECT_EQ(data[0].level, 0) << afterListen;
        EXPECT_EQ(data[0].cycle - start, 50u) << afterListen;
    }
}

TEST(C1541Protocol, TalkerPauseIsAcknowledgedForSeventyThreeCycles)
{
    Rig rig;
    ASSERT_TRUE(rig.master.sendUnderAtn({0x28}));  // LISTEN 8, acknowledged: DATA held
    rig.master.set(IEC_ATN, 1);
    std::vector<Edge> edges;
    rig.master.setEdgeLog(&edges);
    rig.master.set(IEC_CLK, 1);  // ready to send, and then nothing
    const uint64_t ready = rig.master.cycles();
    rig.master.idle(20000);
    const std::vector<Edge> data = edgesOf(edges, IEC_DATA);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[0].level, 1);  // ready for data
    EXPECT_EQ(data[0].cycle - ready, 130u);
    EXPECT_EQ(data[1].level, 0);  // CLK left released for 200 cycles: end-or-identify
    EXPECT_EQ(data[1].cycle - data[0].cycle, 200u);
    EXPECT_EQ(data[2].level, 1);
    EXPECT_EQ(data[2].cycle - data[1].cycle, 73u);
    // Then it waits for CLK with no time limit.
    EXPECT_EQ(rig.drive.currentState(), C1541::cSTATE_WAIT_FIRST_BIT);
    EXPECT_FALSE(rig.drive.timerPending());
    const std::vector<Edge> clk = edgesOf(edges, IEC_CLK);
    ASSERT_EQ(clk.size(), 1u);  // the master's own release only
    EXPECT_EQ(clk[0].cycle, ready);
}

TEST(C1541Protocol, TalkerBitTiming)
{
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    ASSERT_TRUE(rig.master.listen(8, 0xF0, "HELLO"));
    ASSERT_TRUE(rig.master.sendUnderAtn({0x48, 0x60}));
    ASSERT_TRUE(rig.master.turnAround());  // the drive has pulled CLK
    const uint64_t turned = rig.master.cycles();
    std::vector<Edge> edges;
    rig.master.setEdgeLog(&edges);
    const fixtures::IecBusMaster::Received r = rig.master.receive(3);
    ASSERT_EQ(r.bytes, Bytes(drive_rig::helloBytes().begin(), drive_rig::helloBytes().begin() + 3));

    const std::vector<Edge> clk = edgesOf(edges, IEC_CLK);
    // The drive's release 200 cycles after the turnaround, then per byte: eight bits (pull,
    // release) and the byte's end (pull, release when the listener acknowledges).
    ASSERT_GE(clk.size(), 1u + 3 * 18);
    EXPECT_EQ(clk[0].level, 1);
    EXPECT_EQ(clk[0].cycle - turned, 200u);
    for (size_t byte = 0; byte < 3; ++byte) {
        const size_t at = 1 + byte * 18;
        for (size_t bit = 0; bit < 8; ++bit) {
            const Edge& pull = clk[at + 2 * bit];
            const Edge& release = clk[at + 2 * bit + 1];
            const Edge& next = clk[at + 2 * bit + 2];
            ASSERT_EQ(pull.level, 0);
            ASSERT_EQ(release.level, 1);
            EXPECT_EQ(release.cycle - pull.cycle, 115u) << "byte " << byte << " bit " << bit;
            EXPECT_EQ(next.cycle - release.cycle, 75u) << "byte " << byte << " bit " << bit;
        }
    }
}

// After TALK and SECOND the controller releases ATN and CLK, in either order. Counted from the
// later of the two releases, the drive holds CLK for 200 cycles, releases it and talks: the same
// lines and states at the same cycles, and the same bytes, whichever came first.
TEST(C1541Protocol, TurnaroundInEitherOrder)
{
    struct Course
    {
        std::vector<Edge> edges;                           // cycles from the turnaround
        std::vector<std::pair<uint64_t, int32_t>> states;  // state changes, the same
        fixtures::IecBusMaster::Received received;
    };
    const Bytes image = drive_rig::standardImage();
    auto course = [&image](uint64_t clkFirst) {
        Rig rig(&image);
        Course c;
        EXPECT_TRUE(rig.master.listen(8, 0xF0, "HELLO"));
        EXPECT_TRUE(rig.master.sendUnderAtn({0x48, 0x60}));
        rig.master.set(IEC_DATA, 0);  // the listener's side of the turnaround
        rig.master.idle(20);
        if (clkFirst) {
            rig.master.set(IEC_CLK, 1);
            rig.master.idle(clkFirst);
            rig.master.set(IEC_ATN, 1);
        } else {
            rig.master.set(IEC_ATN, 1);
            rig.master.idle(20);
            rig.master.set(IEC_CLK, 1);
        }
        const uint64_t turned = rig.master.cycles();
        c.states.emplace_back(0, rig.drive.currentState());
        rig.master.onStep = [&c, &rig, turned](fixtures::IecBusMaster& m) {
            if (rig.drive.currentState() != c.states.back().second)
                c.states.emplace_back(m.cycles() - turned, rig.drive.currentState());
        };
        std::vector<Edge> edges;
        rig.master.setEdgeLog(&edges);
        c.received = rig.master.receive();
        rig.master.onStep = nullptr;
        for (Edge e : edges) {
            e.cycle -= turned;
            c.edges.push_back(e);
        }
        return c;
    };

    const Course standard = course(0);
    ASSERT_EQ(standard.received.bytes, drive_rig::helloBytes());
    EXPECT_EQ(standard.received.eoiIndex, 599u);
    ASSERT_GE(standard.states.size(), 3u);
    EXPECT_EQ(standard.states[0], (std::pair<uint64_t, int32_t>{0, C1541::cSTATE_TALK_DELAY}));
    EXPECT_EQ(standard.states[1], (std::pair<uint64_t, int32_t>{200, C1541::cSTATE_WAIT_LISTENER_READY}));
    ASSERT_FALSE(standard.edges.empty());
    EXPECT_EQ(standard.edges[0].cycle, 200u);  // the drive lets CLK go: ready to talk
    EXPECT_EQ(standard.edges[0].line, IEC_CLK);
    EXPECT_EQ(standard.edges[0].level, 1);

    for (const uint64_t clkFirst : {10u, 1000u}) {
        const Course early = course(clkFirst);
        const std::string what = "CLK released " + std::to_string(clkFirst) + " cycles before ATN";
        EXPECT_EQ(early.received.bytes, standard.received.bytes) << what;
        EXPECT_EQ(early.received.eoiIndex, standard.received.eoiIndex) << what;
        EXPECT_EQ(early.states, standard.states) << what;
        ASSERT_EQ(early.edges.size(), standard.edges.size()) << what;
        for (size_t i = 0; i < early.edges.size(); ++i) {
            const Edge& a = early.edges[i];
            const Edge& b = standard.edges[i];
            ASSERT_TRUE(a.cycle == b.cycle && a.line == b.line && a.level == b.level)
                << what << ": edge " << i << " at " << a.cycle << " line " << a.line << " level " << a.level
                << ", the standard order's at " << b.cycle << " line " << b.line << " level " << b.level;
        }
    }
}

// Any order of line changes, stopped anywhere: once the controller lets the bus go and then
// pulls and releases ATN, the drive lets go of CLK and DATA and rests in state 0.
TEST(C1541Protocol, RandomLineSweepEndsIdleAfterAtn)
{
    const Bytes image = drive_rig::standardImage();
    enum Start { kIdle, kListening, kTalking };
    std::set<int32_t> visited;
    for (const Start start : {kIdle, kListening, kTalking}) {
        for (const uint32_t seed : {1u, 2u}) {
            const std::string what = "start " + std::to_string(int(start)) + " seed " + std::to_string(seed);
            Rig rig(&image);
            int own[IEC_LINE_COUNT] = {1, 1, 1, 1, 1};  // the master's side of each line
            if (start == kListening) {
                ASSERT_TRUE(rig.master.sendUnderAtn({0x28, 0xF0}));
                own[IEC_ATN] = own[IEC_CLK] = 0;
            } else if (start == kTalking) {
                ASSERT_TRUE(rig.master.listen(8, 0xF0, "AB"));  // its first byte is the one before the last
                ASSERT_TRUE(rig.master.sendUnderAtn({0x48, 0x60}));
                ASSERT_TRUE(rig.master.turnAround());
                own[IEC_DATA] = 0;
            }
            rig.master.onStep = [&visited, &rig](fixtures::IecBusMaster&) {
                visited.insert(rig.drive.currentState());
            };
            std::mt19937 rng(seed);
            for (uint64_t t = 0; t < 1'000'000;) {
                const uint64_t wait = 1 + rng() % 300;
                rig.master.idle(wait);
                t += wait;
                const uint32_t pick = rng() % 32;  // ATN seldom, CLK most often
                const int line = pick == 0 ? IEC_ATN : pick < 22 ? IEC_CLK : IEC_DATA;
                own[line] ^= 1;
                rig.master.set(line, own[line]);
            }
            rig.master.onStep = nullptr;

            for (const int line : {IEC_ATN, IEC_CLK, IEC_DATA})
                rig.master.set(line, 1);
            rig.master.idle(5000);
            rig.master.set(IEC_ATN, 0);
            rig.master.idle(1000);
            rig.master.set(IEC_ATN, 1);
            rig.master.idle(10000);
            EXPECT_EQ(rig.drive.currentState(), C1541::cSTATE_IDLE) << what;
            EXPECT_FALSE(rig.drive.timerPending()) << what;
            EXPECT_EQ(rig.master.level(IEC_CLK), 1) << what;
            EXPECT_EQ(rig.master.level(IEC_DATA), 1) << what;
            // It still loads, once an UNTALK has dropped whatever name the sweep left.
            EXPECT_TRUE(rig.master.sendUnderAtn({0x5F})) << what;
            rig.master.releaseAll();
            EXPECT_EQ(rig.master.load("HELLO").bytes, drive_rig::helloBytes()) << what;
        }
    }
    // The sweeps went through both sides of the protocol.
    for (int32_t state = 0; state < C1541::cSTATE_COUNT; ++state)
        EXPECT_TRUE(visited.count(state)) << "state " << state << " never reached";
}

// ATN at random points of a talk of HELLO (from the turnaround to past its end), held for a
// random time, with the listener's DATA let go or kept, and then UNTALK or just ATN released.
// The drive stops talking at once and answers ATN; once the controller lets the bus go it holds
// no line, and the next load (with no UNTALK before it in half the trials) is whole.
TEST(C1541Protocol, AtnAtRandomPointsOfATalk)
{
    const Bytes image = drive_rig::standardImage();
    auto startTalk = [](Rig& rig) {
        EXPECT_TRUE(rig.master.listen(8, 0xF0, "HELLO"));
        EXPECT_TRUE(rig.master.sendUnderAtn({0x48, 0x60}));
        EXPECT_TRUE(rig.master.turnAround());
    };
    uint64_t talkCycles = 0;
    {
        Rig rig(&image);
        startTalk(rig);
        const uint64_t start = rig.master.cycles();
        ASSERT_EQ(rig.master.receive().bytes, drive_rig::helloBytes());
        talkCycles = rig.master.cycles() - start;
    }

    std::mt19937 rng(7);
    std::set<int32_t> cutStates;
    for (int trial = 0; trial < 48; ++trial) {
        // One trial in eight near the end: the pause before the last byte, the last byte, rest.
        const uint64_t at = rng() % 8 ? rng() % talkCycles : talkCycles - 3000 + rng() % 6000;
        const uint64_t hold = rng() % 3000;
        const bool letDataGo = rng() & 1;
        const bool untalk = rng() & 1;
        const std::string what = "trial " + std::to_string(trial) + ": ATN " + std::to_string(at) +
                                 " cycles into the talk";
        Rig rig(&image);
        startTalk(rig);
        const uint64_t start = rig.master.cycles();
        bool cut = false;
        int32_t after = -1;
        int lowClkSteps = 0;  // steps with CLK low after the cut: the master never pulls it here
        auto pullAtn = [&](fixtures::IecBusMaster& m) {
            cut = true;
            cutStates.insert(rig.drive.currentState());
            m.set(IEC_ATN, 0);
            after = rig.drive.currentState();
            if (letDataGo)
                m.set(IEC_DATA, 1);
        };
        rig.master.onStep = [&](fixtures::IecBusMaster& m) {
            if (!cut && m.cycles() - start >= at)
                pullAtn(m);
            else if (cut && m.level(IEC_CLK) == 0)
                ++lowClkSteps;
        };
        rig.master.receive();
        if (!cut) {  // the talk ended before
            rig.master.idle(at - std::min(at, rig.master.cycles() - start));
            if (!cut)
                pullAtn(rig.master);
        }
        rig.master.idle(hold);
        rig.master.onStep = nullptr;
        EXPECT_EQ(after, C1541::cSTATE_WAIT_ATN_RESPONSE_REQUIRED) << what;
        EXPECT_EQ(lowClkSteps, 0) << what;
        if (hold > 50) {
            EXPECT_EQ(rig.master.level(IEC_DATA), 0) << what;  // the ATN answer
        }
        if (untalk) {
            EXPECT_TRUE(rig.master.sendUnderAtn({0x5F})) << what;
        }
        rig.master.releaseAll();
        rig.master.idle(2000);
        EXPECT_EQ(rig.master.level(IEC_CLK), 1) << what;
        EXPECT_EQ(rig.master.level(IEC_DATA), 1) << what;
        EXPECT_EQ(rig.drive.role(), C1541::kRoleNone) << what;
        const fixtures::IecBusMaster::Received next = rig.master.load("AB");
        EXPECT_EQ(next.bytes, drive_rig::kAB) << what;
        EXPECT_EQ(next.eoiIndex, 1u) << what;
    }
    // The cuts fell into the talk and after its end.
    std::string states;
    for (const int32_t state : cutStates)
        states += " " + std::to_string(state);
    EXPECT_TRUE(cutStates.count(C1541::cSTATE_SEND_BIT) || cutStates.count(C1541::cSTATE_BIT_VALID)) << states;
    EXPECT_TRUE(cutStates.count(C1541::cSTATE_IDLE)) << states;
}

struct Snapshot
{
    uint32_t role;
    uint8_t primary, secondary;
    std::array<C1541::Channel, 16> channels;
    std::string name;
    const DiskFileEntry* file;

    static Snapshot of(const C1541& d)
    {
        Snapshot s{d.role(), d.primary(), d.secondary(), {}, d.nameBytes(), d.file()};
        for (unsigned i = 0; i < 16; ++i)
            s.channels[i] = d.channel(i);
        return s;
    }
};

void expectSame(const Snapshot& got, const Snapshot& want, const std::string& what)
{
    EXPECT_EQ(got.role, want.role) << what;
    EXPECT_EQ(got.primary, want.primary) << what;
    EXPECT_EQ(got.secondary, want.secondary) << what;
    for (unsigned i = 0; i < 16; ++i) {
        EXPECT_EQ(got.channels[i].open, want.channels[i].open) << what << " channel " << i;
        EXPECT_EQ(got.channels[i].owner, want.channels[i].owner) << what << " channel " << i;
    }
    EXPECT_EQ(got.name, want.name) << what;
    EXPECT_EQ(got.file, want.file) << what;
}

TEST(C1541Protocol, EveryCommandByteUnderAtn)
{
    // Before the byte: channel 2 opened by device 8 with the name "HELLO", UNLISTEN sent; then
    // the byte alone (not addressed), after LISTEN 8 (listening) or after TALK 8 (talking).
    enum Mode { kAlone, kListening, kTalking };
    const Bytes image = drive_rig::standardImage();
    for (const Mode mode : {kAlone, kListening, kTalking}) {
        for (int b = 0; b < 256; ++b) {
            Rig rig(&image);
            ASSERT_TRUE(rig.master.listen(8, 0xF2, "HELLO"));
            Snapshot want = Snapshot::of(rig.drive);
            ASSERT_EQ(want.channels[2].open, 1);
            ASSERT_EQ(want.name, "HELLO");
            if (mode != kAlone)
                want.role = mode == kListening ? C1541::kRoleListener : C1541::kRoleTalker;

            const uint8_t s = b & 0x0F;
            const bool second = b >= 0x60 && b <= 0x6F;
            // After TALK an OPEN names the channel to talk, as a SECOND does.
            const bool talkOpen = mode == kTalking && b >= 0xF0;
            if (b == 0x3F) {  // UNLISTEN
                want.role = C1541::kRoleNone;
            } else if (b == 0x5F) {  // UNTALK
                want.role = C1541::kRoleNone;
                want.name.clear();
            } else if (b >= 0x20 && b <= 0x2F) {  // LISTEN s
                want.primary = s;
                if (mode == kAlone && s == 8)
                    want.role = C1541::kRoleListener;
            } else if (b >= 0x40 && b <= 0x4F) {  // TALK s
                want.primary = s;
                if (mode == kAlone && s == 8)
                    want.role = C1541::kRoleTalker;
            } else if (second || talkOpen) {  // SECOND s
                want.secondary = s;
                if (s == 2) {
                    want.role = C1541::kRoleTalkReady;
                    want.file = &rig.disk->files[1];
                } else if (s == 15) {
                    want.role = C1541::kRoleTalkReady;
                    want.channels[15] = {1, 0, 8};
                    want.file = &C1541::dummyStatusFile();
                }
            } else if (b >= 0xE0 && b <= 0xEF) {  // CLOSE s
                want.secondary = s;
                if (s == 2)
                    want.channels[2].open = 0;
            } else if (b >= 0xF0) {  // OPEN s: a new name follows
                want.secondary = s;
                if (mode == kListening) {
                    want.channels[s] = {1, 0, 8};
                    want.name.clear();
                }
            }

            const bool sent = mode == kListening ? rig.master.sendUnderAtn({0x28, uint8_t(b)})
                              : mode == kTalking ? rig.master.sendUnderAtn({0x48, uint8_t(b)})
                                                 : rig.master.sendUnderAtn({uint8_t(b)});
            const char* const kModeNames[] = {"byte ", "listening, byte ", "talking, byte "};
            const std::string what = kModeNames[mode] + std::to_string(b);
            ASSERT_TRUE(sent) << what;
            expectSame(Snapshot::of(rig.drive), want, what);
        }
    }
}

}  // namespace
