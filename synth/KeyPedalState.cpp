#include "synth/KeyPedalState.h"

namespace ZRS {

namespace {

// States: 0 idle; 1 key down; 2 sustain down; 3 sostenuto down, holding nothing; 4 both pedals
// down, holding nothing; 5 key up, held by sostenuto; 6 key down, held by sostenuto; 7 key and
// sustain down, held by sostenuto; 8 key and sustain down; 9 sustain down, held by sostenuto;
// 10 key up, held by sustain. Columns: key down, key up, sustain up, sustain down, sostenuto up,
// sostenuto down. Each entry gives the next state and the result.
struct Transition
{
    uint8_t next;
    int8_t result;
};

constexpr uint8_t kKeep = 0xFF;
constexpr Transition kIgnored = {kKeep, 0};

constexpr Transition kTable[KeyPedalState::kStateCount][6] = {
    /* 0 */ {{1, 1}, kIgnored, kIgnored, {2, 0}, kIgnored, kIgnored},
    /* 1 */ {kIgnored, {0, 2}, kIgnored, {8, 0}, kIgnored, {6, 0}},
    /* 2 */ {{8, 1}, kIgnored, {0, 0}, kIgnored, kIgnored, {4, 0}},
    /* 3 */ {{6, 1}, kIgnored, kIgnored, {4, 0}, {0, 0}, kIgnored},
    /* 4 */ {{7, 1}, kIgnored, {3, 0}, kIgnored, {2, 0}, kIgnored},
    /* 5 */ {{6, 0}, kIgnored, kIgnored, {9, 0}, {0, 2}, kIgnored},
    /* 6 */ {kIgnored, {5, 0}, kIgnored, {7, 0}, {1, 0}, kIgnored},
    /* 7 */ {kIgnored, {9, 0}, {6, 0}, kIgnored, {8, 0}, kIgnored},
    /* 8 */ {kIgnored, {10, 0}, {1, 0}, kIgnored, kIgnored, {7, 0}},
    /* 9 */ {{7, 0}, kIgnored, {5, 0}, kIgnored, {10, 0}, kIgnored},
    /* 10 */ {{8, 0}, kIgnored, {0, 2}, kIgnored, kIgnored, {9, 0}},
};

template <uint8_t S>
int32_t handleState(uint8_t& state, int32_t event)
{
    if (event < 0 || event > 5)
        return KeyPedalState::kNothing;
    const Transition t = kTable[S][event];
    if (t.next != kKeep)
        state = t.next;
    return t.result;
}

using Handler = int32_t (*)(uint8_t&, int32_t);

constexpr Handler kHandlers[KeyPedalState::kStateCount] = {
    handleState<0>, handleState<1>, handleState<2>, handleState<3>,  handleState<4>, handleState<5>,
    handleState<6>, handleState<7>, handleState<8>, handleState<9>, handleState<10>,
};

}  // namespace

void KeyPedalState::init(bool sustainDown, bool sostenutoDown)
{
    state = sustainDown ? 2 : 0;
    if (sostenutoDown)
        handleEvent(kSostenutoDown);
}

int32_t KeyPedalState::handleEvent(int32_t event)
{
    if (state >= kStateCount)
        return kNothing;
    return kHandlers[state](state, event);
}

}  // namespace ZRS
