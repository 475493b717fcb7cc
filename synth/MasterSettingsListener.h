#pragma once
// Instrument-wide settings that the host changes outside rendering.

#include <cstdint>

namespace vantor {
class Mutex;
}

namespace ZRS {

class NoteTuningSource;

class MasterSettingsListener
{
public:
    virtual ~MasterSettingsListener() = default;
    virtual void setPitchBendRange(float cents) = 0;
    virtual void setMasterTune(float cents) = 0;
    virtual void setPolyphony(uint64_t voices) = 0;
    virtual void setMonoRetrigger(uint8_t flag) = 0;
    virtual void setVelocitySensitivity(float sensitivity) = 0;
    virtual void setNoteTuningSource(NoteTuningSource* source) = 0;
    virtual void setLayerMode(uint32_t mode) = 0;
    virtual void setFixedPitchNote(uint8_t note) = 0;
    virtual void setMonoLayerFlag(uint8_t flag) = 0;
    // The instrument's own options and media commands.
    virtual void setInstrumentOption(uint32_t index, double value) = 0;
    virtual void mediaCommand(uint32_t command, vantor::Mutex* mutex, double value) = 0;
};

}  // namespace ZRS
