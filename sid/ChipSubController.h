#pragma once
// A per-voice controller of one chip: turns voice events and per-voice sound parameters into
// register writes, which it sends through the instrument's ChipSubWriter.

#include "sid/ChanActivityQuerier.h"
#include "sid/ChipSubWriter.h"

#include <cstdint>

// Base of everything a chip's sub-controllers schedule; carries no state.
class ChipSubTimerListener
{
public:
    virtual ~ChipSubTimerListener() = default;
};

class ChipSubController : public ChipSubTimerListener
{
public:
    ChipSubController(ChipSubWriter* subWriter, uint64_t chipIndex, uint8_t place)
        : writer(subWriter), chip(chipIndex), voice(place)
    {
    }
    ChipSubController(const ChipSubController&) = delete;
    ChipSubController& operator=(const ChipSubController&) = delete;
    ~ChipSubController() override = default;

    virtual void unusedSubHook2() {}
    virtual bool unusedSubHook3() { return true; }
    virtual bool prepare() = 0;
    virtual void setClock(float clockHz) = 0;
    virtual void noteOn(uint32_t note, float amplitude) = 0;
    virtual void noteOff() = 0;
    virtual void retrigger(uint32_t note) = 0;
    virtual void setAmplitude(float amplitude) = 0;
    virtual void setPitch(float value) = 0;
    virtual void unusedSubHook11() {}
    virtual void updateVoiceParameters(float level) = 0;
    // One per-voice sound parameter, given both as integer and as float (the same value).
    virtual void setParameter(uint32_t index, const int32_t* intValue, const float* floatValue) = 0;
    virtual void unusedSubHook14() {}
    virtual void unusedSubHook15() {}

    ChipSubWriter* writer;  // not owned
    uint64_t chip;          // passed with every write
    uint8_t voice;          // 0-2 the SID voices, 3 the sampled-sound channel
};
