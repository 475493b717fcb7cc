#pragma once
// One emulated SID chip: three voices, the two filter models, the register file and the output
// stage, behind the ChipEmu interface. Everything runs on the rendering thread; render allocates
// nothing.

#include "sid/ChipEmu.h"
#include "sid/SIDChipRecords.h"
#include "sid/SIDFilter.h"
#include "sid/SIDVoice.h"

#include <array>
#include <cstddef>
#include <cstdint>

class SIDDatabase;

// Adds c to n words with saturation, as a chip adds its output.
void addSaturating(int32_t* out, uint64_t n, int32_t c);

namespace sid_emu_detail {

// Mixer DC level by routing: entries 0-127 (64 x voice-3-off + 8 x routing + mode) fall by one
// step per voice that goes through the filter (voice 3 counts while off and not routed) and move
// with each filter mode bit; entries 128-143 (128 + routing + 8 x voice-3-off) are the filter
// path's DC, one step per routed voice.
constexpr std::array<float, 144> defaultDcTable()
{
    constexpr double kBase = 4.0355539, kLowPass = -0.0053997, kBandPass = 0.0046000;
    constexpr double kHighPass = 0.0055003, kVoiceStep = 0.0067281723;
    std::array<float, 144> t{};
    for (unsigned idx = 0; idx < 128; ++idx) {
        const unsigned mode = idx & 7, routing = (idx >> 3) & 7, voice3Off = idx >> 6;
        unsigned k = (routing & 1) + ((routing >> 1) & 1) + ((routing >> 2) & 1);
        if (voice3Off && !(routing & 4))
            ++k;
        t[idx] = float(kBase + kLowPass * (mode & 1) + kBandPass * ((mode >> 1) & 1) +
                       kHighPass * ((mode >> 2) & 1) - kVoiceStep * k);
    }
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned routing = i & 7;
        t[128 + i] = float(kVoiceStep * ((routing & 1) + ((routing >> 1) & 1) + ((routing >> 2) & 1)));
    }
    return t;
}

}  // namespace sid_emu_detail

inline constexpr std::array<float, 144> kDefaultDcTable = sid_emu_detail::defaultDcTable();
// Envelope leak while "Osc Leak" is on: linear model, measured model.
inline constexpr std::array<float, 2> kLeakLevels = {0.0005f, 0.0054347827f};

// The chip's parameters, by index.
namespace SIDParam {
inline constexpr uint64_t kModel = 0;
inline constexpr uint64_t kFilterDistGain = 1;
inline constexpr uint64_t kFilterDc = 2;
inline constexpr uint64_t kFilterCutoffOffset = 3;
inline constexpr uint64_t kFilterGain = 4;
inline constexpr uint64_t kVolumeDcBias = 5;
inline constexpr uint64_t kFuture2 = 6;
inline constexpr uint64_t kClipping = 7;
inline constexpr uint64_t kMute0 = 8;  // 9, 10 for voices 2 and 3
inline constexpr uint64_t kDigiMute = 11;
inline constexpr uint64_t kAdsrBehavior = 12;
inline constexpr uint64_t kCombineWave = 13;
inline constexpr uint64_t kFilterPops = 14;
inline constexpr uint64_t kOscLeak = 15;
inline constexpr std::size_t kCount = 22;  // 16-21 are listed but do nothing
}  // namespace SIDParam

class SIDEmu final : public ChipEmu {
public:
    static constexpr uint32_t kDefaultInitValue = 1000;
    // Init values from this one on take the measured chips' second set of mode gains.
    static constexpr uint32_t kSecondModeGainsInitValue = 1006;
    static constexpr uint64_t kBusDecayCycles = 0x7A000;  // about half a second
    // Longer blocks are rendered in pieces of this many cycles.
    static constexpr uint64_t kMaxBlockCycles = 65536;
    static constexpr uint64_t kNoChipSelected = uint64_t(INT64_MAX);

    SIDEmu();
    ~SIDEmu() override;
    SIDEmu(const SIDEmu&) = delete;
    SIDEmu& operator=(const SIDEmu&) = delete;

    // ChipEmu, in slot order.
    // Sizes the per-block buffers (n is kept within 1..kMaxBlockCycles), sets up the filters and,
    // when `path` names a chip database, loads it once per process and selects chip 18. False only
    // when the buffers cannot be allocated.
    bool init(uint64_t n, const char* path, uint32_t initValue) override;
    void powerOn() override;
    // Registers 0-24 written with 0, voices, envelopes and filters back to their power-on state;
    // parameters are kept.
    void reset() override;
    const ChipInfo* getChipInfo() const override { return &info; }
    // Index 24 sets POTX (register 25), 23 POTY (26), from a value of 0..1275 in steps of 5.
    void setPaddles(uint64_t index, float value) override;
    void writeRegister(uint16_t reg, uint8_t value, uint64_t cycleOffset = 0) override;
    uint8_t readRegister(uint16_t reg, uint64_t cycleOffset = 0) override;
    void setParameter(uint64_t index, float value) override;
    void render(int32_t* const* outputs, uint64_t cycles) override;
    void setOutputChannel(uint64_t channel) override { outputChannel = channel; }

    // Chip-side operations the instrument calls directly.
    void applyAdsrBehavior();
    void applyCombinedTables();
    // Any filter parameter to both filters, measured filter first.
    void setFilterParameter(uint32_t index, float value);
    // Selects a profile of the loaded database (nothing without one): negative counts as 0, past
    // the end is the default profile. The listener hears of every change of index first.
    void selectChip(int64_t index, uint32_t value);
    void updateOutputDc();
    // Starts the measured filter at rest on its next block.
    void markModified();
    // Starts both filters at rest on their next block while "Filter Pops" is "Mods only".
    void markModifiedForPops();
    bool isVoiceSounding(uint64_t voice) const;
    void notifyChipListener(uint64_t index, uint32_t value);
    void setSwallowPopListener(SwallowPopListener* l) { listener = l; }
    // Selects profiles from `db` from now on (init does this with the process's database); a db
    // without chips changes nothing. The database must outlive the chip.
    void useDatabase(const SIDDatabase& db);

    // Set by the instrument on its synth chips: registers 27 and 29-31 and the "ADSR Behavior"
    // choice take effect only while it is 1.
    uint8_t extensionsEnabled = 0;

    // A chip whose voices are silent until the next register write and whose filter and output
    // stage no longer change renders by adding its constant output and moving its oscillators and
    // envelopes on in closed form: the same samples and state as rendering every cycle. With
    // exact rendering every cycle is rendered.
    void setExactRender(bool on);
    bool isExactRender() const { return exactRender; }
    // The chip is skipping silence; its output is restingOutput() per cycle.
    bool isResting() const { return resting; }
    int32_t restingOutput() const { return restOutput; }
    // While resting: moves the chip on by `cycles` as render does, without adding its output,
    // and returns true; otherwise does nothing and returns false.
    bool skipResting(uint64_t cycles);

    // State view.
    const SIDVoice& voice(std::size_t v) const { return voices[v]; }
    float voiceLevel(std::size_t v) const { return voiceLevels[v]; }
    uint8_t voiceOff(std::size_t v) const { return voicesOff[v]; }
    uint8_t registerImage(std::size_t r) const { return registers[r & 31]; }
    uint8_t getBusValue() const { return busValue; }
    uint16_t getCutoff() const { return cutoff; }
    uint32_t getRouting() const { return routing; }
    uint32_t getMode() const { return mode; }
    uint8_t getVolume() const { return volume; }
    uint8_t getExternalInput() const { return externalInput; }
    uint8_t getPotX() const { return potX; }
    uint8_t getPotY() const { return potY; }
    uint64_t getOutputChannel() const { return outputChannel; }
    uint64_t getSelectedChip() const { return selectedChip; }
    uint8_t isDatabaseLoaded() const { return databaseLoaded; }
    uint8_t isLinearModel() const { return linearModel; }
    const float* getDcTable() const { return dcTable; }
    float getBaseDc() const { return baseDc; }
    float getFilterDcScale() const { return filterDcScale; }
    float getOutputDcLevel() const { return outputDcLevel; }
    uint64_t getCombineWaveMode() const { return combineWaveMode; }
    uint32_t getAdsrBehavior() const { return adsrBehavior; }
    uint8_t getFilterPops() const { return filterPops; }
    uint8_t getOscLeak() const { return oscLeak; }
    uint32_t getClipping() const { return clipping; }
    uint8_t getMute(std::size_t v) const { return mutes[v]; }
    uint8_t getDigiMute() const { return digiMute; }
    uint32_t getInitValue() const { return initValue; }
    uint64_t getMaxBlockCycles() const { return blockCapacity; }
    const SIDChipInfo& getProfile() const { return *profile; }
    const SIDFilterLinear& getLinearFilter() const { return linearFilter; }
    const SIDFilter_table& getMeasuredFilter() const { return measuredFilter; }

    // The per-block stages, public for the stage benchmarks; render runs them in this order. Only
    // after a successful init, with n at most getMaxBlockCycles().
    void renderOscillators(uint64_t n);
    void renderEnvelopes(uint64_t n);
    // DC terms and voice mix into directMix/filterMix; returns the active filter mode gains.
    struct ModeGains {
        float lp, bp, hp;
    };
    ModeGains mixVoices(uint64_t n);
    void runFilter(uint64_t n, const ModeGains& gains);
    void outputStage(int32_t* out, uint64_t n);

private:
    void registerChipParameters();
    void setCutoff(uint32_t c);
    void setResonance(uint32_t q);
    // Renders n cycles; returns the voices it passed over as quiet (bit v for voice v).
    unsigned renderPiece(int32_t* out, uint64_t n);
    // Voices whose every sample stays 0 until the next register write.
    unsigned findQuietVoices() const;
    void renderPhases(uint64_t n);
    // After a rendered piece of n cycles: whether every later cycle adds what the last one added.
    bool canRest(uint64_t n, unsigned quiet);
    void advanceResting(uint64_t n);
    // Which voices take a ring or sync source; false when the oscillators need the stepped-phase
    // path.
    bool directOscillators(bool uses[3], std::size_t& user) const;
    void wake() { resting = false; }
    void outputFrom(const float* mix, int32_t* out, uint64_t n);
    // The DC levels and the voices routed to each mix buffer of a block (quiet voices left out
    // or their buffers zeroed); mixVoices mixes them.
    struct MixPlan;
    MixPlan planMix(uint64_t n);
    // The mix, runFilter and outputStage of a linear-model chip in one pass.
    void filterAndOutput(int32_t* out, uint64_t n, const MixPlan& plan);

    SIDFilter_table measuredFilter;
    SIDFilterLinear linearFilter;
    ChipInfo info;
    std::array<uint8_t, 32> registers{};
    std::array<float, 3> voiceLevels = {1.0f, 1.0f, 1.0f};
    std::array<uint8_t, 3> mutes{};
    std::array<uint8_t, 3> voicesOff{};
    uint8_t databaseLoaded = 0;
    SIDVoice voices[3];
    float* directMix = nullptr;
    float* filterMix = nullptr;
    uint64_t blockCapacity = 0;
    uint8_t digiMute = 0;
    uint8_t busValue = 0;
    uint64_t busAge = 0;
    uint8_t potX = 255;
    uint8_t potY = 255;
    uint8_t volume = 0;
    uint16_t cutoff = 0;
    uint32_t routing = 0;
    uint32_t mode = 0;
    uint8_t externalInput = 0;
    uint64_t outputChannel = 0;
    SwallowPopListener* listener = nullptr;
    uint64_t selectedChip = kNoChipSelected;
    uint8_t linearModel = 1;
    const float* dcTable = nullptr;
    float filterDcScale = 1.0f;
    float baseDc = 0.0f;
    float lastFilterDc = 0.0f;
    uint8_t lastModel = 1;
    float dcBias = 0.0f;
    float outputDcLevel = 0.0f;
    uint64_t combineWaveMode = 0;
    uint32_t adsrBehavior = 0;
    uint8_t oscLeak = 0;
    uint8_t filterPops = 1;
    const SIDChipInfo* profile;
    uint32_t clipping = 1;
    uint32_t initValue = kDefaultInitValue;
    const SIDDatabase* database = nullptr;
    const SIDChipRecord* record = nullptr;
    bool exactRender = false;
    bool resting = false;
    // While a piece renders: voices that only move their state on, their samples all 0.
    unsigned quietVoices = 0;
    int32_t restOutput = 0;
    // The value whose effect each register 0-31 holds now; -1 when unknown or without effect.
    std::array<int16_t, 32> applied;
};
