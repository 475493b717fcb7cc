#pragma once
// The SID instrument's sound: a patch with the chip's filter set-up and four layers (layers 0-2 on
// the SID voices, layer 3 on the sampled-sound channel); the decoding of patch-bank slots and of
// the small instrument file; and the import of tracker instrument files, whose wave, note and
// pulse programs become step-sequencer programs plus modulation-routing rows.

#include "platform/ParameterInfo.h"
#include "synth/PatchBase.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantor {
class VirtualFile;
}

// The SID voice values of a layer, one per per-voice parameter of SID_sub.
struct SIDChanData
{
    uint16_t pulseWidth = 2048;
    uint8_t attack = 0;
    uint8_t decay = 0;
    uint8_t sustain = 15;
    uint8_t release = 0;
    uint8_t wave = 4;  // "Pulse"
    uint8_t gate = 0;
    uint8_t hardSync = 0;
    uint8_t ringMod = 0;
    uint8_t stall = 0;
    uint8_t toFilter = 0;
    uint8_t phaseReset = 1;
};

class SIDCTRLLayer : public ZRS::LayerBase, public SIDChanData
{
public:
    // Only layer 0 starts active.
    explicit SIDCTRLLayer(uint64_t number);

    uint64_t layerNumber;
    uint32_t reserved = 0;
};

class SIDCTRLPatch : public ZRS::PatchBase
{
public:
    static constexpr size_t kSIDLayers = 4;

    // "Base", the defaults below and four new layers.
    SIDCTRLPatch();

    // Layer i when it is one of ours; null otherwise.
    SIDCTRLLayer* sidLayer(size_t i) const;

    uint16_t cutoff = 2047;  // 0-2047
    uint8_t resonance = 0;   // 0-15
    uint8_t lowPass = 0;
    uint8_t bandPass = 0;
    uint8_t highPass = 0;
    uint8_t voice3Off = 0;
    uint8_t volume = 15;  // 0-15
};

// Patch bank: 128 slots of 512 bytes.
inline constexpr size_t kBankSlots = 128;
inline constexpr size_t kBankSlotSize = 512;
inline constexpr size_t kBankSize = kBankSlots * kBankSlotSize;

// Copies one 512-byte slot into the patch: its name always, its sound only for slot type 0.
// False, and nothing changed, when fewer than 512 bytes are given.
bool decodeBankSlot(std::span<const uint8_t> slot, SIDCTRLPatch& patch);
// Slot (number & 127) of a bank; false, and nothing changed, when the bank does not hold it.
bool decodeBankSlot(std::span<const uint8_t> bank, uint64_t number, SIDCTRLPatch& patch);

// The small instrument file (at most 130 bytes starting A1 04): envelope of layer 0 from bytes 3
// (attack/decay) and 4 (sustain/release); missing bytes read 0. False, and nothing changed, for
// another file.
bool decodeSmallInstrument(std::span<const uint8_t> bytes, SIDCTRLPatch& patch);

// Where the tracker import stores its programs: the instrument's step-table writers. Each takes
// the step slot, the values, whether a track without a loop plays once, the clamp range, the last
// meaningful index, the loop mode, the loop points (kNoLoopPoint: find them) and the speed.
class StepTableWriters
{
public:
    static constexpr uint64_t kNoLoopPoint = ~uint64_t(0);

    virtual void writeSigned(uint64_t slot, const std::vector<int8_t>& values, bool once,
                             int32_t lo, int32_t hi, uint64_t lastIndex, uint32_t loopMode,
                             uint64_t loopIn, uint64_t loopOut, float speed) = 0;
    virtual void writeUnsigned(uint64_t slot, const std::vector<uint8_t>& values, bool once,
                               int32_t lo, int32_t hi, uint64_t lastIndex, uint32_t loopMode,
                               uint64_t loopIn, uint64_t loopOut, float speed) = 0;
    virtual void writeBits(uint64_t slot, const std::vector<bool>& values, bool once, int32_t lo,
                           int32_t hi, uint64_t lastIndex, uint32_t loopMode, uint64_t loopIn,
                           uint64_t loopOut, float speed) = 0;

protected:
    ~StepTableWriters() = default;
};

// Tracker instrument file ("GTI2" to "GTI5", "GTI!"): edits layers 0-2 of the patch, stores the
// programs through `writers` (slots from 0) and appends one routing row per program to `routing`.
// `parameters` is the synth's table: the labels of parameters 0 (pulse width) and 2 (wave) name
// the destinations, parameter 2's range clamps the wave program. `name` receives the
// instrument's name (at most 15 characters). A file under 32 bytes or with another magic is
// refused and changes nothing.
bool importTrackerInstrument(SIDCTRLPatch& patch, vantor::VirtualFile& file,
                             const std::vector<ParameterInfo>& parameters,
                             StepTableWriters& writers, std::string& name, std::string& routing);
