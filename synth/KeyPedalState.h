#pragma once
// Per-key state machine combining the key with the sustain and sostenuto pedals. Eleven
// handlers, one per state, decide the next state and whether the key's sound starts or ends.

#include <cstdint>

namespace ZRS {

struct KeyPedalState
{
    enum Event : int32_t {
        kKeyDown = 0,
        kKeyUp = 1,
        kSustainUp = 2,
        kSustainDown = 3,
        kSostenutoUp = 4,
        kSostenutoDown = 5,
    };
    enum Result : int32_t { kNothing = 0, kStart = 1, kRelease = 2 };
    static constexpr uint8_t kStateCount = 11;

    // State 2 with the sustain pedal down, else 0; then a sostenuto-down event when that pedal
    // is down.
    void init(bool sustainDown, bool sostenutoDown);
    // Events outside 0..5, and events a state ignores, keep the state and return kNothing.
    int32_t handleEvent(int32_t event);

    uint8_t state = 0;
};

}  // namespace ZRS
