#include "synth/KeyPedalState.h"

#include <gtest/gtest.h>

#include <vector>

using ZRS::KeyPedalState;

namespace {

// Next state / result per state (rows) and event (columns: key down, key up, sustain up,
// sustain down, sostenuto up, sostenuto down). -1 marks an ignored event.
constexpr int kIgnore = -1;
struct Cell
{
    int next;
    int result;
};
constexpr Cell X = {kIgnore, 0};
constexpr Cell kTable[11][6] = {
    /* 0 */ {{1, 1}, X, X, {2, 0}, X, X},
    /* 1 */ {X, {0, 2}, X, {8, 0}, X, {6, 0}},
    /* 2 */ {{8, 1}, X, {0, 0}, X, X, {4, 0}},
    /* 3 */ {{6, 1}, X, X, {4, 0}, {0, 0}, X},
    /* 4 */ {{7, 1}, X, {3, 0}, X, {2, 0}, X},
    /* 5 */ {{6, 0}, X, X, {9, 0}, {0, 2}, X},
    /* 6 */ {X, {5, 0}, X, {7, 0}, {1, 0}, X},
    /* 7 */ {X, {9, 0}, {6, 0}, X, {8, 0}, X},
    /* 8 */ {X, {10, 0}, {1, 0}, X, X, {7, 0}},
    /* 9 */ {{7, 0}, X, {5, 0}, X, {10, 0}, X},
    /* 10 */ {{8, 0}, X, {0, 2}, X, X, {9, 0}},
};

enum : int32_t { Down = 0, Up = 1, SusUp = 2, SusDown = 3, SosUp = 4, SosDown = 5 };

}  // namespace

TEST(KeyPedalState, EveryStateAndEvent)
{
    for (int s = 0; s < 11; ++s) {
        for (int e = 0; e < 6; ++e) {
            KeyPedalState k;
            k.state = uint8_t(s);
            const int result = k.handleEvent(e);
            const Cell want = kTable[s][e];
            EXPECT_EQ(result, want.result) << "state " << s << " event " << e;
            EXPECT_EQ(k.state, want.next == kIgnore ? s : want.next)
                << "state " << s << " event " << e;
        }
        for (int e : {-1, 6, 1000}) {
            KeyPedalState k;
            k.state = uint8_t(s);
            EXPECT_EQ(k.handleEvent(e), 0);
            EXPECT_EQ(k.state, s);
        }
    }
}

TEST(KeyPedalState, Sequences)
{
    const struct
    {
        const char* name;
        std::vector<int32_t> events;
        std::vector<int> states;
        std::vector<int> results;
    } kCases[] = {
        {"sustain holds the key", {Down, SusDown, Up, SusUp}, {1, 8, 10, 0}, {1, 0, 0, 2}},
        {"sostenuto holds the key", {Down, SosDown, Up, SosUp}, {1, 6, 5, 0}, {1, 0, 0, 2}},
        {"key pressed under sustain", {SusDown, Down, Up, SusUp}, {2, 8, 10, 0}, {0, 1, 0, 2}},
        {"sostenuto before the key holds nothing",
         {SosDown, Down, Up},
         {0, 1, 0},
         {0, 1, 2}},
        {"both pedals: only the last event releases",
         {Down, SosDown, SusDown, Up, SosUp, SusUp},
         {1, 6, 7, 9, 10, 0},
         {1, 0, 0, 0, 0, 2}},
        {"key up while idle", {Up}, {0}, {0}},
        {"key pressed again while held by sustain", {Down, SusDown, Up, Down}, {1, 8, 10, 8},
         {1, 0, 0, 0}},
    };
    for (const auto& c : kCases) {
        KeyPedalState k;
        std::vector<int> states, results;
        for (int32_t e : c.events) {
            results.push_back(k.handleEvent(e));
            states.push_back(k.state);
        }
        EXPECT_EQ(states, c.states) << c.name;
        EXPECT_EQ(results, c.results) << c.name;
    }
}

TEST(KeyPedalState, InitFromPedalPositions)
{
    const struct
    {
        bool sustain, sostenuto;
        int state;
    } kCases[] = {{false, false, 0}, {true, false, 2}, {true, true, 4}, {false, true, 0}};
    for (const auto& c : kCases) {
        KeyPedalState k;
        k.state = 7;
        k.init(c.sustain, c.sostenuto);
        EXPECT_EQ(k.state, c.state) << c.sustain << c.sostenuto;
    }
}
