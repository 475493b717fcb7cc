#pragma once
// The source modulators of one voice group. Fixed members are built in place; controller
// modulators and automation actions are created by the routing code when it needs them.

#include "synth/ModAction.h"
#include "synth/Modulator.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ZRS {

struct LayerModSources
{
    static constexpr size_t kSlots = 18;
    static constexpr size_t kControllers = 128;
    static constexpr size_t kVoices = 12;
    static constexpr size_t kExpressionTypes = 8;  // volume, pan, tuning, vibrato, expression,
                                                   // brightness, pressure, extra

    LayerModSources() = default;
    LayerModSources(const LayerModSources&) = delete;
    LayerModSources& operator=(const LayerModSources&) = delete;

    // Controller modulator n (n & 127), or null when none was created.
    Modulator* controller(uint32_t n) const { return controllers[n & 127].get(); }
    // Controller modulator n (n & 127), created inactive at 0.0 when absent.
    Modulator& ensureController(uint32_t n);

    // Writes the three bend sources from a 14-bit bend value.
    void writePitchBend14(uint32_t value14)
    {
        writeBend(bend, bendUp, bendDown, normalisedBend(value14));
    }

    // Members in construction order; destruction runs the other way round (arrays last element
    // first), so the actions go last, slot 17 first.
    std::unique_ptr<ModAction> actions[kSlots];
    std::unique_ptr<Modulator> controllers[kControllers];
    GenericFloatModulator voiceAlternation[kVoices];
    KeyTrackModulator voiceKeyTrack[kVoices];
    MIDI7ModulatorRaw voiceNote[kVoices];
    MIDI7Modulator voiceVelocity[kVoices];
    RandomModulator voiceRandom[kVoices];
    MIDI7Modulator voicePressure[kVoices];
    GenericFloatModulator voiceExpression[kExpressionTypes][kVoices];
    GenericFloatModulator alternation;
    KeyTrackModulator keyTrack;
    MIDI7Modulator velocity;
    MIDI7ModulatorRaw note;
    RandomModulator random;
    MIDI7Modulator channelPressure;
    MIDI7ModulatorRaw program;
    PitchBendModulator bend;
    PitchBendPosModulator bendUp;
    PitchBendNegModulator bendDown;
    uint64_t voiceGroup = 0;
    uint8_t alternationFlag = 0;
};

}  // namespace ZRS
