#pragma once
// A DAC channel of a register log (chip kinds 84-99): its "W" events are the registers of a small
// sample player that plays 16-bit samples out of the song's sample banks between events and
// hands each one, with a left and a right level, to the listeners.

#include "media/VGMReader.h"

#include <cstdint>

namespace VGM {

class DACStreamer : public ChipStreamer
{
public:
    // Registers of the channel. A 32-bit value comes in two halves, value * 256 + port each.
    enum Register : uint8_t {
        kFormat = 0,          // passed with every sample
        kBank = 2,
        kStepAndBase = 3,     // value: samples advanced per sample played; port: address base
        kFrequencyHigh = 4,   // samples per second
        kFrequencyLow = 5,
        kLeftLevel = 6,
        kRightLevel = 7,
        kStartHigh = 8,
        kStartLow = 9,
        kLengthHigh = 10,
        kLengthLow = 11,
        kPlayAtAddress = 12,  // value: loop flag
        kPlayBank = 13,       // value: bank
        kStop = 14,
        kPlayFromStart = 15,  // start and length within the bank of register 2
    };
    static constexpr double kNoSample = 9223372036854775808.0;  // 2^63 ticks

    void setUp(const VGMXChip& chip, const VGMXSong& song,
               const std::vector<MediaCallback*>& listeners) override;
    void rewind() override;
    void reset() override;
    uint64_t quantumElapsed(vantor::QuantumTimer* timer, uint64_t cookie, double rate) override;

    void writeRegister(VGMXEvent event);
    // Plays the next sample, or ends the play.
    void outputSample(double rate);

    bool isPlaying() const { return playing; }
    double getSamplePeriod() const { return samplePeriod; }

private:
    // The sample player as constructed, its registers kept.
    void stopPlayer();

    bool nextIsEvent = true;
    bool playing = false;
    int16_t leftLevel = 0;
    int16_t rightLevel = 0;
    uint32_t shift = 0;
    uint32_t frequency = 0;
    double samplePeriod = 1.0;  // seconds, not scaled by the playback speed
    double eventRemaining = 0.0;
    double sampleRemaining = kNoSample;
    uint8_t bankIndex = 0;
    uint8_t format = 0;
    const int16_t* samples = nullptr;  // inside a sample bank
    uint64_t position = 0;
    uint64_t step = 1;
    uint32_t length = 0;
    uint32_t playLength = 0;
    uint8_t loopFlag = 0;
    uint32_t start = 0;
    uint8_t base = 0;
};

}  // namespace VGM
