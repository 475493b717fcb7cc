#pragma once
// The SID instrument's controller: a synth core whose voices are chips 0-11 (layers 0-2 on each
// chip's three SID voices, layer 3 on its sampled-sound channel), and a chip controller whose
// media reader plays chips 12-15. Every register write of either side goes through
// writeRegister, which keeps the chip's register image and feeds hardware output.

#include "instrument/ChipController.h"
#include "instrument/SIDPatch.h"
#include "instrument/StepTableWriter.h"
#include "machine/PSIDReader.h"
#include "media/Asid.h"
#include "media/SID_shadow.h"
#include "sid/ChanActivityQuerier.h"
#include "sid/ChipSubWriter.h"
#include "sid/SID_DAC_sub.h"
#include "synth/AutomSlot.h"
#include "synth/LayerListener.h"
#include "synth/ParameterAction.h"
#include "synth/SynthController.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantor {
class Mutex;
}
namespace VGM {
class VGMX;
}
class ChipSubController;
class SID_sub;
class SIDEmu;
class SwallowPopListener;

class SIDCtrl : public ZRS::SynthController,
                public ZRS::LayerListener,
                public ZRS::AutomSlotListener,
                public ChipController,
                public ChipSubWriter,
                public ChanActivityQuerier,
                public virtual ZRS::ParameterActionListener
{
public:
    static constexpr size_t kSynthChips = 12;
    static constexpr size_t kSIDVoices = 3;
    static constexpr size_t kSynthLayers = 4;  // three SID voices and the sampled-sound channel
    static constexpr size_t kParameterCount = 151;
    static constexpr uint64_t kNoAsidChip = 16;
    static constexpr uint8_t kFirstPlayerChip = 12;
    static constexpr uint64_t kRawChipMask = 0x0FFFFFFF;  // chip bits of a raw write
    static constexpr uint32_t kGateCheckHostVersion = 1006;  // gate actions need a sounding voice
    static constexpr size_t kRingWords = 65536;
    static constexpr size_t kChunkWords = 256;
    static constexpr size_t kMaxCaptureFrames = 18000;
    static constexpr uint32_t kFirstPlayerKind = 77;  // media chip kinds 77-80: chips 12-15
    static constexpr uint32_t kAsidInputKind = 80;    // ASID input plays chip 15
    static constexpr size_t kAsidMessageBytes = 64;     // the longest message sent is 37 bytes
    static constexpr uint64_t kBankFileSize = 132608;
    static constexpr uint64_t kSmallInstrumentLimit = 130;
    static constexpr uint64_t kCanvasRows = 272;
    static constexpr uint64_t kCanvasColumns = 384;
    // Tune render: machine runs in a row that render nothing before the rest of the block is
    // rendered without it (a reader that cannot run).
    static constexpr uint32_t kMaxStalledRuns = 16;
    static constexpr float kDacInitialStep = 0.000125f;  // 8000 samples per second

    // Parameter numbers. Oscillator n (0-2) has parameter 16 n + k for SID_sub parameter k.
    enum ParameterIndex : uint16_t {
        kOscBlock = 16,
        kOscParameters = 48,
        kVoice3Off = 96,
        kFilterCutoff = 97,
        kFilterResonance = 98,
        kFilterLowPass = 99,
        kFilterBandPass = 100,
        kFilterHighPass = 101,
        kCoreVolume = 102,
        kPlayerOption = 133,
        kFirstDacParameter = 134,
        kLastDacParameter = 150,
    };

    // Handed by address to every tune reader: SID addresses and the tune chips' settings.
    struct PlayerOptions
    {
        SidAddressList sidAddresses = {0xD400, 0, 0};  // SID 1, 2, 3; 0: the tune's own
        uint16_t option4 = 0;
        uint64_t tuneChipSettings[4] = {};  // word 0 is the chip model
    };

    // chipList (chip n at index n, at most 16 read) and chipListener are not owned and must
    // outlive the controller; the list is not changed afterwards.
    SIDCtrl(std::vector<ChipEmu*>* chipList, ChipControllerListener* chipListener);
    SIDCtrl(const SIDCtrl&) = delete;
    SIDCtrl& operator=(const SIDCtrl&) = delete;
    ~SIDCtrl() override;

    // ZRS::SynthParams.
    ParameterInfo* findParameterIndex(const char* name, uint64_t length, uint16_t& index) override;
    void setParameter(uint16_t index, float value) override;

    // ZRS::SynthController.
    void processMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) override;
    int64_t noteOn(uint64_t group, uint32_t noteId, uint16_t note, float velocity,
                   float tuning) override;
    void noteOff(uint64_t group, uint32_t noteId, uint16_t note) override;
    void forwardAddressedEvent(uint32_t kind, uint64_t a, uint64_t index) override;
    // The engine's sample record (a DacSampleRecord) for every sampled-sound channel; it stays
    // the engine's. A record of length 0 changes nothing.
    void setNoteTable(const void* record) override;
    void layerVoicesReset(uint64_t layer) override;
    // Plays bank entry (note & 127) as the sound of all synth chips; nothing without a bank.
    virtual void previewNote(uint64_t layer, uint8_t note);

    // ChipController.
    bool init(const char* path, uint32_t version) override;
    bool engineCommand(uint32_t op, intptr_t a) override;
    bool resetVoices(intptr_t x, intptr_t y) override;
    bool setRate(uint64_t newVideoStandard, double chipRate, double chipClock) override;
    void silencePlayerChips() override;
    uint64_t renderUntilEvent(uint64_t frames) override;
    // Adds every enabled chip into channels[0]; the channel pointers are not moved. Words
    // rendered ahead by a tune come first; a playing tune then runs its machine for the block.
    void render(int32_t** channels, uint64_t channelCount, int32_t frames) override;
    // The start sequence again while output is on.
    void refreshAsidOutput() override;
    // One ASID message (with ASID input on): its calls reach chip 15 as media kind 80.
    void receiveSysEx(const uint8_t* bytes, uint64_t length) override;
    // Also on the chips and the sampled-sound channels.
    void setExactRender(bool on) override;
    // Patch files, patch banks, tracker instruments, and tunes and C64 images (only once a
    // canvas exists): 1 when a tune was opened and its start song started, else 0.
    int64_t loadMedia(int64_t index, vantor::VirtualFile* file) override;
    // The first canvas is kept: 272 x 384 with the PAL colours; every call clears its pixels.
    PixelCanvas* attachCanvas(PixelCanvas* newCanvas) override;
    // Colours 0-15 of the video chip; the canvas keeps them (screens leave its tables alone).
    void setCanvasPalette(bool ntsc);

    // MediaCallback: player chips 12-15 are chip kinds 77-80.
    void releaseAllGates(uint32_t value) override;
    void mediaStarted(const uint8_t* data, uint64_t size) override;
    void addChip(uint32_t chipKind, uint32_t subtype, uint32_t eventRate) override;
    void writeMediaRegister(uint32_t chipKind, uint64_t delay, uint32_t port, uint32_t reg,
                            uint32_t value, double rate) override;
    uint8_t readMediaRegister(uint32_t chipKind, uint64_t time, uint32_t port,
                              uint32_t reg) override;
    // The player chips' ticks up to the machine's present: into the block while its budget
    // lasts, the rest into the surplus ring for the next render.
    void renderChips(uint32_t chipKind, uint64_t ticks) override;
    // A song starts: the capture starts afresh unless paused; the canvas takes the colours of
    // the video standard.
    void songSelected(uint64_t song) override;
    // Player chips 12 up to the reader's chip count enabled, the others off.
    void mediaChipCountChanged() override;
    // One capture frame of chip 12 (at most kMaxCaptureFrames), then its gate flags cleared.
    void captureRegisters(uint64_t tick) override;

    // ZRS::LayerListener: voice v is chip v, layers 0-2 its SID voices, layer 3 its DAC.
    using ZRS::SynthController::voicePitchChanged;
    void voicePitchChanged(uint64_t voice, uint64_t layer) override;
    void voiceParametersChanged(uint64_t voice, uint64_t layer) override;
    void voiceStart(uint64_t voice, uint64_t layer, uint8_t note) override;
    void voiceRelease(uint64_t voice, uint64_t layer) override;
    void voiceAmplitudeChanged(uint64_t voice, uint64_t layer) override;
    void voiceRetrigger(uint64_t voice, uint64_t layer, uint8_t note) override;
    void layerInfoChanged(const uint8_t* keyMap) override;
    uint32_t layerParameterMask(uint64_t layer) override;
    void layerParameterChanged(uint64_t layer, uint16_t id, uint8_t kind, float value) override;

    // ZRS::AutomSlotListener.
    void automSlotChanged(uint8_t slot, uint16_t setting, uint8_t kind, float value) override;

    // ZRS::MasterSettingsListener.
    void setInstrumentOption(uint32_t index, double value) override;
    // Locks `mutex` (which the caller must not hold) around the command; runs it even when the
    // lock fails.
    void mediaCommand(uint32_t command, vantor::Mutex* mutex, double value) override;

    // ChipSubWriter: the one register write path (chip | DIRECT_WRITE for a raw write).
    void writeRegister(uint64_t chip, uint8_t reg, uint8_t value) override;

    // ChanActivityQuerier.
    bool isChannelActive(uint64_t voice, uint64_t chip, uint64_t sub) override;

    // ZRS::ParameterActionListener: an action's value for one chip.
    void applyParameterAction(uint64_t chip, uint16_t index, float value, bool notify) override;

    // Writes the patch into the synth chips and the parameters; the second argument is not
    // read. Nothing before init.
    void applyPatch(SIDCTRLPatch* patch, uint64_t unused, uint8_t applyGate);
    void applyLayerValue(uint64_t chip, uint64_t layer, uint16_t index, uint32_t k, int32_t value);
    // Chip model from tune-chip setting 0 onto chips 0-11.
    void applyChipModel();
    void refreshFilterPops();
    void declareParameters();
    void declareOscParameter(const ParameterInfo& record, const char* name, uint16_t k);

    // Patch bank entries and the small instrument file, decoded into `patch`.
    bool loadBankSlot(uint64_t entry, SIDCTRLPatch& patch) const;
    bool importSmallInstrument(std::span<const uint8_t> bytes, SIDCTRLPatch& patch) const;
    // Copies a bank of kBankSize bytes; false, and the old bank kept, for another size.
    bool setPatchBank(std::span<const uint8_t> bank);

    // ASID output of one chip (16: off): a new hook and the text, start and register image
    // messages; then every write of registers 0-24 to the chip as it was written.
    void setAsidOutput(bool on, uint64_t chip);
    // Tune-chip setting slot `slot` (0-3).
    void setTuneChipSetting(size_t slot, uint64_t value);
    void setSwallowPopListener(SwallowPopListener* l) { swallowPopListener = l; }
    void setDataFolder(const char* folder) { dataFolder = folder ? folder : ""; }

    // Register capture. Preview plays capture item `item` through a new log reader; the patch
    // commands turn an item, or chip 12's register image, into the current patch and its
    // step modulators.
    virtual void previewCaptureItem(uint64_t item);
    virtual void patchFromCaptureItem(uint64_t item);
    virtual void patchFromShadowRegisters();
    // Writes item `item` as a VGMX file; false, and no file, on failure.
    bool exportCaptureItem(uint64_t item, const char* path);
    // Index 0: the current item to `path` (capture paused and playback stopped first); false
    // when nothing could be written. Other indices: false, nothing done.
    bool exportMedia(int64_t index, const char* path) override;
    // A VGMX file holding one SID stream becomes the patch (dt counted as machine cycles, a
    // frame ending at each dt of 2301 or more); false, with nothing changed, for anything else.
    bool importVgmxCapture(vantor::VirtualFile& file);
    // Analyses every frame (all voices) and converts them; nothing for no frames.
    virtual void patchFromFrames(const std::vector<SID_shadow>& frames, uint32_t clock, uint64_t voiceMask);
    // 985248 (PAL) or 1022727 (NTSC).
    uint32_t getMachineClock() const;
    double captureSecondsPerFrame() const;
    uint64_t getCyclesPerFrame() const { return captureInterval > 0 ? uint64_t(captureInterval) : 0; }

    // Inspection.
    SIDCTRLPatch& patch() { return *currentPatch; }
    const SID_shadow& shadow(size_t chip) const { return shadows[chip % ChipController::kChips]; }
    SID_sub* sidVoice(size_t chip, size_t voice) const;
    SID_DAC_sub* dacSub(size_t chip) const
    {
        return chip < kSynthChips ? dacSubs[chip].get() : nullptr;
    }
    uint8_t gateActiveByte(size_t chip, size_t layer) const
    {
        return chip < kSynthChips && layer < kSynthLayers ? gateActive[kSynthLayers * chip + layer]
                                                          : 0;
    }
    const PlayerOptions& getPlayerOptions() const { return playerOptions; }
    uint32_t getPlayerOptionValue() const { return playerOptionValue; }
    uint32_t getHostVersion() const { return hostVersion; }
    uint64_t getAsidChip() const { return asidChip; }
    bool isAsidInput() const { return asidInput; }
    bool hasPatchBank() const { return patchBank != nullptr; }
    uint64_t getCaptureItem() const { return captureItem; }
    bool isCapturePaused() const { return capturePaused; }
    const std::vector<SID_shadow>& getCaptureFrames() const { return captureFrames; }
    int64_t getCaptureInterval() const { return captureInterval; }
    // Words waiting in the surplus ring.
    size_t surplusWords() const { return uint16_t(ringWrite - ringRead); }
    const std::string& getDataFolder() const { return dataFolder; }

protected:
    // Owns the three SID voices of one chip.
    struct SubList
    {
        SubList() = default;
        SubList(const SubList&) = delete;
        SubList& operator=(const SubList&) = delete;
        ~SubList() { release(); }
        void release();
        std::vector<ChipSubController*> subs;
    };

    bool chipPresent(uint64_t chip) const;
    // A chip reached during a render is first rendered up to the present.
    ChipEmu* chipAt(uint64_t chip)
    {
        if (!chipPresent(chip))
            return nullptr;
        catchUp(chip);
        return (*chips)[chip];
    }
    SIDEmu* sidChip(uint64_t chip)
    {
        if (chip >= kChips)
            return nullptr;
        catchUp(chip);
        return sidChips[chip];
    }
    // While the synth path renders, each chip is rendered only when something reaches it (a
    // register write, a read, a change of its enable flag) and at the end of the call, so a timer
    // cuts only the render of the chip it writes. A chip that rests over the whole call adds its
    // constant with the others in one pass.
    void catchUp(uint64_t chip);
    void catchUpAll();
    // The voice manager whose voices play layer `layer` of the current patch.
    ZRS::VoiceManager& layerVoiceManager(uint64_t layer);
    // Clamp, hand to the index's actions and report to the host as sent (kind 0).
    void updateParameter(uint16_t index, float value);
    // One register of a synth chip: (shadow & keep) | set.
    void writeMasked(uint64_t chip, uint8_t reg, uint8_t keep, uint8_t set);
    void renderEveryCycle();
    // Every enabled chip adds `ticks` words at `out`.
    void renderEnabledChips(int32_t* out, uint64_t ticks);
    // The player chips silenced and the media closed, then item `item` as a capture stream in
    // `document`; false when the document is not usable.
    bool buildCaptureDocument(uint64_t item, VGM::VGMX& document, std::string& label);
    // Tune path: the reader's machine runs until the block's budget is rendered.
    void renderTune();
    // The chip reset, its register image and gate flags all 0.
    void resetPlayerChip(uint64_t chip);
    // Where the tracker instrument import stores its step programs.
    virtual StepTableWriters& stepTableWriters();
    // The queue's next stretch, at most `frames` (0 only for 0); fires due timers.
    uint64_t nextStretch(uint64_t frames);
    void runPendingAdvance();

    // Media side: tune render staging.
    int32_t* outCursor = nullptr;
    int32_t* cursors[4] = {};  // every chip renders into channel 0
    int32_t frameBudget = 0;
    std::unique_ptr<int32_t[]> chunkBuffer;
    std::unique_ptr<int32_t[]> surplusRing;
    uint16_t ringRead = 0;
    uint16_t ringWrite = 0;
    // Media side: register capture.
    std::vector<SID_shadow> captureFrames;
    bool capturePaused = false;
    uint64_t captureItem = 0;
    uint64_t lastCaptureTick = 0;
    int64_t captureInterval = 0;
    uint32_t captureEventRate = 0;  // event rate of the log's first SID stream (kind 77)
    ASIDReceiver asidReceiver{static_cast<ChipController*>(this), kAsidInputKind};
    bool asidInput = false;

    uint32_t playerOptionValue = 0;
    uint32_t hostVersion = 0;
    bool initialised = false;
    std::unique_ptr<uint8_t[]> patchBank;  // kBankSize bytes, or none
    SIDCTRLPatch* currentPatch = nullptr;  // owned by the layer manager
    SID_shadow shadows[kChips];
    SubList subControllers[kSynthChips];
    std::unique_ptr<SID_DAC_sub> dacSubs[kSynthChips];
    uint8_t gateActive[kSynthChips * kSynthLayers] = {};
    PlayerOptions playerOptions;
    uint64_t asidChip = kNoAsidChip;
    std::string dataFolder;
    SwallowPopListener* swallowPopListener = nullptr;
    SIDEmu* sidChips[kChips] = {};  // the list's SID chips, null for others
    // The synth render in progress: channel 0 of the call, the present, each chip's end.
    int32_t* lazyBase = nullptr;
    uint64_t lazyNow = 0;
    uint64_t lazyEnd = 0;
    uint64_t lazyDone[kChips] = {};
    int64_t restingSum = 0;  // constants of the chips resting through the whole call
    std::vector<uint8_t> asidBytes;  // the message being sent; reserved at construction
    SynthStepTableWriters synthStepTables{*this};
};
