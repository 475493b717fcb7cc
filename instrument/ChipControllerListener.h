#pragma once
// How the controller reaches the host side: parameter reports, outgoing controller events, text
// slots, routing text, images, display information, raw host calls and MIDI out, and the output
// channels' settings. Change kinds: 0 send the value out, 1 the value changed, 2 re-read it.

#include "abi/ModuleABI.h"

#include <cstdint>

class ChipControllerListener
{
public:
    virtual void queueControlChange(int32_t index, float value) = 0;
    virtual void notifyVoiceParameter(uint64_t chip, uint32_t n, uint32_t changeKind,
                                      float value) = 0;
    virtual void notifyLayerParameter(uint64_t layer, uint32_t n, uint32_t changeKind,
                                      float value) = 0;
    virtual void notifySynthParameter(uint32_t n, uint32_t changeKind, float value) = 0;
    virtual void notifyMediaParameter(uint32_t n, uint32_t changeKind, float value) = 0;
    virtual void notifyAutomationSlot(uint64_t slot, uint32_t n, uint32_t changeKind,
                                      float value) = 0;
    virtual void queueControllerEvent(uint16_t channel, uint32_t kind, int32_t index,
                                      float value) = 0;
    virtual void notifyRangeChanged(uint64_t unused, uint64_t first, uint64_t last) = 0;
    virtual void notifyIdle() = 0;
    virtual void setTextSlot0(const char* text) = 0;
    virtual void setTextSlot1(const char* text) = 0;
    virtual void setModRoutingText(const char* text) = 0;
    virtual void publishImageFile(const uint8_t* bytes, uint64_t length) = 0;
    // 128 bytes.
    virtual void setDisplayInfo(const uint8_t* info) = 0;
    virtual void notifyHost(void* b, uint32_t low, uint32_t high) = 0;
    virtual void callHostOpcode12(HostMidiOutRecord* record) = 0;
    virtual void setChannelScale(uint64_t channel, int32_t steps) = 0;
    virtual void setChannelFilterCutoff(uint64_t channel, double cutoff) = 0;
    virtual void setChannelHighPassCutoff(uint64_t channel, double cutoff) = 0;

protected:
    ~ChipControllerListener() = default;
};
