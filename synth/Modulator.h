#pragma once
// Modulation sources: one float value each, with an ordered list of listeners that follow it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ZRS {

class Modulator;

class Activatable
{
public:
    virtual ~Activatable() = default;
    // Stores the flag and tells nobody; sources that must tell their listeners override it.
    virtual void setActive(uint8_t flag) { active = flag; }

    uint8_t isActive() const { return active; }

protected:
    uint8_t active = 0;
};

class ModListener
{
public:
    virtual ~ModListener() = default;
    virtual void modulatorValueChanged(Modulator* source, bool reset) = 0;
    virtual void modulatorActiveChanged(Modulator* source, uint8_t active, uint8_t extra) = 0;
};

// Range kinds as parameter actions read them.
enum RangeKind : uint8_t { kUnipolar = 0, kBipolar = 1, kRawScale = 2 };

// Listeners are referred to by address and not owned: a bound parameter action leaves the list
// (its routes cleared, or the action destroyed) before the modulator goes.
class Modulator : public Activatable
{
public:
    Modulator() = default;
    Modulator(const Modulator&) = delete;  // listeners refer to it by address
    Modulator& operator=(const Modulator&) = delete;
    ~Modulator() override = default;

    virtual float getValue() const { return value; }
    virtual uint8_t getRangeKind() const { return kUnipolar; }
    virtual float getMinValue() const { return 0.0f; }
    virtual float getMaxValue() const { return 1.0f; }

    // The write protocol: store, set active, then every listener hears of the activity and
    // afterwards of the value, each in list order. Allocates nothing.
    void writeValue(float v);

    // The two halves of the protocol, for sources that compute their own values.
    void notifyActiveChanged(uint8_t flag, uint8_t extra);
    void notifyValueChanged(bool reset);

    // Bookkeeping for the parameter-action binding code; a listener is listed at most once and
    // a new one goes to the end. The modulator never calls these itself.
    void addListener(ModListener* listener);
    void removeListener(ModListener* listener);
    bool hasListener(const ModListener* listener) const;
    const std::vector<ModListener*>& listeners() const { return listenerList; }

protected:
    float value = 0.0f;

private:
    std::vector<ModListener*> listenerList;
};

// Any float its owner stores (note alternation, note expressions).
class GenericFloatModulator : public Modulator
{
};

// (note - centerNote) * scale, in raw units.
class KeyTrackModulator : public Modulator
{
public:
    uint8_t getRangeKind() const override { return kRawScale; }
    float getMinValue() const override { return -127.0f; }
    float getMaxValue() const override { return 127.0f; }

    void writeNote(uint8_t note) { writeValue(float(int(note) - int(centerNote)) * scale); }

    uint8_t centerNote = 60;
    float scale = 1.0f;
};

// A 7-bit MIDI value scaled to 0..1.
class MIDI7Modulator : public Modulator
{
public:
    void writeMidi(uint8_t v) { writeValue(float(v & 127) * (1.0f / 127.0f)); }
};

// A 7-bit MIDI value, unscaled.
class MIDI7ModulatorRaw : public Modulator
{
public:
    uint8_t getRangeKind() const override { return kRawScale; }
    float getMinValue() const override { return 0.0f; }
    float getMaxValue() const override { return 127.0f; }

    void writeMidi(uint8_t v) { writeValue(float(v & 127)); }
};

// A fresh uniform draw from the platform's generator (0 while random numbers are off).
class RandomModulator : public Modulator
{
public:
    void draw();
};

class PitchBendModulator : public Modulator
{
public:
    uint8_t getRangeKind() const override { return kBipolar; }
    float getMinValue() const override { return -1.0f; }
    float getMaxValue() const override { return 1.0f; }
};

// The upward part of the bend, 0..1.
class PitchBendPosModulator : public Modulator
{
};

// The downward part of the bend as a positive value, 0..1.
class PitchBendNegModulator : public Modulator
{
};

// A 14-bit bend value as -1..1: (value - 8192) / 8192.
inline float normalisedBend(uint32_t value14)
{
    return float(int32_t(value14 & 0x3FFF) - 8192) * (1.0f / 8192.0f);
}

// Writes bend, upward and downward part in that order, each with the full protocol.
void writeBend(PitchBendModulator& bend, PitchBendPosModulator& up, PitchBendNegModulator& down,
               float normalised);

}  // namespace ZRS
