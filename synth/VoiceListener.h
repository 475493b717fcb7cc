#pragma once
// What a voice manager reports about its voices. The group argument is the manager's layer index.

#include <cstdint>

namespace ZRS {

class VoiceListener
{
public:
    virtual ~VoiceListener() = default;
    // Returns the note.
    virtual uint8_t voiceStarted(uint64_t group, int64_t voice, uint8_t note, uint8_t velocity) = 0;
    virtual void voiceRetriggered(uint64_t group, int64_t voice, uint8_t note, uint8_t velocity,
                                  uint8_t newNote) = 0;
    virtual void voiceEnded(uint64_t group, int64_t voice, uint8_t note, uint8_t velocity) = 0;
    virtual void voiceStopped(uint64_t group, int64_t voice, uint8_t note) = 0;
    virtual void voicePitchChanged(uint64_t group, int64_t voice) = 0;
    virtual void voiceUpdated(uint64_t group, int64_t voice) = 0;
    // Reached when no held voice remains after a key release.
    virtual void unusedVoiceHook8(uint64_t /*group*/) {}
    // Reached by a pan note expression, with value 1.
    virtual void unusedVoiceHook9(uint64_t /*group*/, int64_t /*voice*/, int32_t /*value*/) {}
};

}  // namespace ZRS
