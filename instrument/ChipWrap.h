#pragma once
// One instrument instance: owns the sound chips, the controller that drives them, the output
// chain from chip ticks to host frames, and the records handed to the engine (parameter
// descriptors and the controller map). Every dispatcher opcode and every process call of the
// engine reaches this object.

#include "instrument/ChipControllerListener.h"
#include "instrument/EnginePluginSDK.h"
#include "instrument/OutputFilters.h"
#include "instrument/Provider.h"
#include "media/PixelCanvas.h"
#include "platform/ParameterInfo.h"
#include "sid/ChipEmu.h"
#include "support/Threads.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vantor {
class ZRGFile;
}
namespace ZRS {
class LayerManagerCommands;
class MasterSettingsListener;
class SynthBase;
class SynthController;
class SynthParams;
}  // namespace ZRS
class ChipController;
class SIDCtrl;
class SpeexProvider;
class DecimatingProvider;
template <typename T>
class Repackager;

namespace acme {

// One entry of a block's render schedule.
struct RenderStep
{
    enum Kind : uint32_t { kRender = 0, kDeliver = 1 };
    uint32_t kind = kRender;
    vantor::HDMIDIEvent event;  // kDeliver: the event, its sampleOffset the delivery frame
    uint64_t frames = 0;        // kRender: 1 to the maximum segment
};

// What a "C64" instance builds. The defaults make SID chips and the SID controller; tests put
// stand-ins in.
class ChipWrapFactory
{
public:
    virtual ~ChipWrapFactory() = default;
    virtual ChipEmu* createChip(size_t index) const;
    virtual ChipController* createController(std::vector<ChipEmu*>* chips,
                                             ChipControllerListener* listener) const;
};

class ChipWrap : public vantor::EnginePluginSDK::InstrumentPlugin,
                 public SRCSubRenderer<float>,
                 public ChipControllerListener,
                 public PixelCanvasListener,
                 public SwallowPopListener
{
public:
    static constexpr size_t kChips = 16;
    static constexpr size_t kMaxChannels = 4;
    static constexpr uint32_t kGrid = 4;
    static constexpr uint64_t kMaxSegment = 256;
    static constexpr size_t kMaxEvents = kMaxModuleEvents;  // in and out, per block
    // Events of blocks that found the mutex busy, kept for the next block that gets it.
    static constexpr size_t kMaxCarried = kMaxModuleEvents;
    static constexpr size_t kMaxScheduled = kMaxEvents + kMaxCarried;
    static constexpr size_t kDisplayRecordSize = 33028;
    static constexpr double kDefaultHighPass = 5.0;  // Hz
    static constexpr double kMaxDetune = 2400.0;     // cents either way
    static constexpr int32_t kMaxQuality = 10;
    // Chip ticks buffered per pull are capped here; the repackager cuts longer renders.
    static constexpr uint64_t kMaxTicks = uint64_t(1) << 22;
    // From this host version on, raw messages of a zero-frame block wait for the block's end.
    static constexpr uint32_t kDeferRawHostVersion = 2114;

    // Controller items.
    static constexpr int32_t kPitchBendItem = 128;
    static constexpr int32_t kOutputItems = 256;
    static constexpr int32_t kMediaItems = 384;
    static constexpr int32_t kVoiceItems = 416;  // three per-voice synth parameters
    static constexpr int32_t kLayerItems = 512;
    static constexpr int32_t kSynthItems = 768;
    static constexpr int32_t kChipItems = 1024;
    static constexpr int32_t kTuneChipItems = 1216;
    static constexpr int32_t kSlotItems = 1280;
    static constexpr int32_t kChipRateItem = 262;
    static_assert(kExactChipRenderItem == kOutputItems + 7 && kSingleStageChainItem == kOutputItems + 8);

    // Output settings (item - 256).
    enum OutputSetting : uint64_t {
        kClockIndex = 0,
        kHighPassCutoff = 1,
        kLowPassCutoff = 2,
        kDetune = 3,
        kOutputFilterMode = 4,
        kResamplerQuality = 5,
        kExactChipRender = 7,
        kSingleStageChain = 8,
    };

    // `name` is `nameLength` bytes, not necessarily terminated. Only "C64" builds chips and a
    // controller; `factory` (not owned, only used here) defaults to the SID parts.
    ChipWrap(PluginHostRecord* host, const char* name, size_t nameLength,
             const ChipWrapFactory* factory = nullptr);
    // The provider and repackager first, then the controller, the chips last.
    ~ChipWrap() override;

    // Engine plug-in operations.
    bool init(const char* path, void* argument, uint32_t hostVersion) override;
    bool engineCommand(uint32_t op, intptr_t a) override;
    bool resetVoices(intptr_t x, intptr_t y) override;
    // Rate <= 0 or not finite, or block 0: ignored. Before the first init only stored.
    void setAudioSettings(const AudioSettingsRecord* settings) override;
    const ParameterInfo* getParameterDescriptors(uint64_t* count) override;
    void queryChannelConfig(const void* request, uint32_t* accepted) override;
    void getControllerMap(void* destination) override;
    // A block that finds the mutex busy is silent; its events are kept for the next block that
    // gets it, which delivers them at frame 0 ahead of its own.
    void process(float** outputs, uint32_t frames, ModuleEvents* incoming, ModuleEvents* outgoing,
                 vantor::SyncInfo* transport) override;
    void receiveSysEx(const HostMidiOutRecord* record) override;
    void onHostOpcode27(uint32_t op, intptr_t a) override;
    void onHostOpcode28(uint32_t op, intptr_t a) override;
    void setDataFolder(const char* folder) override;
    int64_t loadFile(int64_t kind, const char* path) override;
    int64_t saveFile(int64_t kind, void* pointer) override;
    void handleCommand(MasterSettingsCommand* command) override;
    // Opcode 20: registers, formats or reads back one of the engine's shared blocks. -1 for a
    // null record or block, an unknown id, or an id that needs the synth part without one.
    int32_t handleExtensionCommand(ExtensionCommandRecord* record) override;

    // SRCSubRenderer<float>: `frames` chip ticks of every output channel, scaled and filtered.
    void renderSubBlock(float** buffers, uint64_t frames) override;

    // ChipControllerListener.
    void queueControlChange(int32_t index, float value) override;
    void notifyVoiceParameter(uint64_t chip, uint32_t n, uint32_t changeKind, float value) override;
    void notifyLayerParameter(uint64_t layer, uint32_t n, uint32_t changeKind,
                              float value) override;
    void notifySynthParameter(uint32_t n, uint32_t changeKind, float value) override;
    void notifyMediaParameter(uint32_t n, uint32_t changeKind, float value) override;
    void notifyAutomationSlot(uint64_t slot, uint32_t n, uint32_t changeKind,
                              float value) override;
    // Kept while fewer than 2048 events wait; later ones are dropped (never handed back anyway).
    void queueControllerEvent(uint16_t channel, uint32_t kind, int32_t index,
                              float value) override;
    void notifyRangeChanged(uint64_t unused, uint64_t first, uint64_t last) override;
    void notifyIdle() override;
    void setTextSlot0(const char* text) override;
    void setTextSlot1(const char* text) override;
    void setModRoutingText(const char* text) override;
    void publishImageFile(const uint8_t* bytes, uint64_t length) override;
    void setDisplayInfo(const uint8_t* info) override;
    void notifyHost(void* b, uint32_t low, uint32_t high) override;
    void callHostOpcode12(HostMidiOutRecord* record) override;
    // Channels outside 0..3 are ignored.
    void setChannelScale(uint64_t channel, int32_t steps) override;
    void setChannelFilterCutoff(uint64_t channel, double cutoff) override;
    void setChannelHighPassCutoff(uint64_t channel, double cutoff) override;

    // PixelCanvasListener.
    void canvasChanged() override;

    // SwallowPopListener: the chips' profile change primes the high-pass like swallowPop().
    void swallowPop(uint64_t chipIndex, uint32_t value) override;
    // The next sub-block starts channel 0's high-pass at its first sample.
    void swallowPop();

    // Output chain.
    void updateChipRate(bool force);
    void setOutputParameter(uint64_t index, double value);
    // Controller items 1024-1279: p 0-191 on the synth chips, 192-255 on the tune chips.
    void setChipParameter(uint32_t p, float value);

    // Lays the events on a grid of `grid` frames in stable time order and cuts the block into
    // renders of at most `maxSegment` frames. An event past the block is delivered at its last
    // grid position. Allocates nothing while the schedule has room for the events and renders.
    static void scheduleEvents(const std::vector<vantor::HDMIDIEvent>& events,
                               std::vector<RenderStep>& schedule, uint64_t frames, uint32_t grid,
                               uint64_t maxSegment, uint32_t shift);

    // Inspection.
    const std::string& getName() const { return name; }
    ChipController* getController() const { return controller.get(); }
    SIDCtrl* getSIDController() const { return sidCtrl; }
    ChipEmu* chip(size_t index) const { return index < chips.list.size() ? chips.list[index] : nullptr; }
    size_t chipCount() const { return chips.list.size(); }
    vantor::Mutex& getMutex() { return mutex; }
    const ModuleEvents& controllerMapRecord() const { return *controllerMap; }
    const std::vector<ParameterInfo>& getDescriptors() const { return descriptors; }
    const std::vector<vantor::HDMIDIEvent>& pendingOutgoing() const { return outgoing; }
    const std::vector<RenderStep>& lastSchedule() const { return schedule; }
    size_t carriedEvents() const { return carriedCount; }
    uint64_t droppedEvents() const { return droppedCount; }
    bool isInitialised() const { return provider != nullptr; }
    uint32_t getHostInterfaceVersion() const { return hostInterfaceVersion; }
    uint64_t getMaxTicks() const { return maxTicks; }
    int32_t getResamplerQuality() const { return resamplerQuality; }
    bool isExactChipRender() const { return exactChipRender; }
    bool isSingleStageChain() const { return singleStageChain; }
    int64_t getOutputFilterMode() const { return outputFilterMode; }
    int64_t getClockIndex() const { return clockIndex; }
    double getDetune() const { return detune; }
    double getChipRate() const { return chipRate; }
    double getResampleRatio() const { return resampleRatio; }
    float getChannelScale(size_t c) const { return c < kMaxChannels ? scale[c] : 0.0f; }
    const LPFilter& lowPass(size_t c) const { return lp[c % kMaxChannels]; }
    const HPFilter& highPass(size_t c) const { return hp[c % kMaxChannels]; }
    const SIDOutputFilter& outputFilter(size_t c) const { return outputFilters[c % kMaxChannels]; }
    bool isHighPassPrimed() const { return primeHighPass; }
    const SpeexProvider* getProvider() const { return provider.get(); }
    const DecimatingProvider* getDecimatingProvider() const { return decimating.get(); }
    const Repackager<float>* getRepackager() const { return repackager.get(); }
    const PixelCanvas& getCanvas() const { return *canvas; }
    const void* getCanvasBlock() const { return canvasBlock; }
    const void* getImageBlock() const { return imageBlock; }
    const void* getRoutingTextBlock() const { return routingTextBlock; }
    const void* getParameterChangeBlock() const { return parameterChangeBlock; }
    const std::map<uint64_t, void*>& getTextSlots() const { return textSlots; }
    const vantor::ZRGFile* getHeldMediaFile() const { return heldMediaFile.get(); }
    const std::string& getImagePath() const { return imagePath; }
    const uint8_t* getDisplayRecord() const { return displayRecord.get(); }

private:
    // Owns the chips; deletes them from the last to the first.
    struct ChipList
    {
        ChipList() = default;
        ChipList(const ChipList&) = delete;
        ChipList& operator=(const ChipList&) = delete;
        ~ChipList();
        std::vector<ChipEmu*> list;
    };

    void buildControllerMap();
    void setMapValue(int32_t item, float value);
    // Copies `source` into descriptor `item` when the item lies in [first, end).
    bool putDescriptor(const ParameterInfo& source, uint32_t item, int32_t first, int32_t end);
    void reserveSchedule(uint64_t blockSize);
    // A busy block's events, at offset 0, for the next block that gets the mutex.
    void carry(const ModuleEvents* in);
    void deliver(const vantor::HDMIDIEvent& e, uint32_t blockFrames);
    void dispatchControllerItem(int32_t index, float value);
    void sendRawMessage(const uint8_t* bytes);
    void notifyChange(uint32_t item, uint32_t changeKind, float value);
    // Host opcode 8 with a = 1 about a shared block; nothing for a block not registered.
    void notifyBlock(void* block);
    // The extension commands by id; `block` is not null.
    int32_t attachCanvasBlock(uint8_t* block, uint64_t subCommand);
    int32_t takeParameterChangeBlock(uint8_t* block, uint64_t subCommand);
    int32_t takeRoutingTextBlock(uint8_t* block, uint64_t subCommand);
    int32_t takeTextSlotBlock(uint8_t* block, uint64_t key, uint64_t subCommand, uint32_t extra);
    int32_t takeSampleBlock(uint8_t* block, uint64_t subCommand);
    int32_t takeFilePathBlock(uint8_t* block, uint64_t index, uint64_t subCommand);
    void setTextSlot(uint64_t key, const char* text);
    double hostRate() const { return audioSettings.sampleRate; }
    // The chip rate of the fastest clock at the largest detune: the resampler is sized for it.
    uint64_t fastestChipRate() const;
    // Sets up the resampling stage of the chain in use and hands it to the repackager.
    void setupResampler(bool both);
    // The chain's chip-rate stage: the chips' ticks scaled, then the one-pole filters.
    void singleStageChannel(uint64_t c, const int32_t* in, float* out, uint64_t n);
    void decimatedChannel(uint64_t c, const int32_t* in, float* out, uint64_t n);

    std::unique_ptr<uint8_t[]> displayRecord;
    std::unique_ptr<SpeexProvider> provider;        // the single stage
    std::unique_ptr<DecimatingProvider> decimating;  // decimator, then speexdsp
    std::unique_ptr<Repackager<float>> repackager;
    std::string name;
    int32_t resamplerQuality = 0;
    bool exactChipRender = false;
    bool singleStageChain = false;
    int64_t outputFilterMode = 0;
    int64_t clockIndex = 0;
    double lastClock = -1.0;
    double detune = 0.0;
    double resampleRatio = 1.0;
    double chipRate = 0.0;
    double lastHostRate = 0.0;
    ChipList chips;
    uint32_t hostInterfaceVersion = 0;
    const ChipInfo* chipInfo = nullptr;
    std::unique_ptr<ChipController> controller;
    std::unique_ptr<vantor::ZRGFile> heldMediaFile;
    ZRS::MasterSettingsListener* masterSettings = nullptr;
    ZRS::SynthParams* synthParams = nullptr;
    ZRS::SynthBase* synthBase = nullptr;
    ZRS::SynthController* synthController = nullptr;
    ZRS::LayerManagerCommands* layerCommands = nullptr;
    SIDCtrl* sidCtrl = nullptr;
    float scale[kMaxChannels] = {};
    LPFilter lp[kMaxChannels];
    HPFilter hp[kMaxChannels];
    bool primeHighPass = true;
    SIDOutputFilter outputFilters[kMaxChannels];
    vantor::Mutex mutex;
    std::unique_ptr<ModuleEvents> controllerMap;
    std::vector<ParameterInfo> descriptors;
    std::map<uint64_t, void*> textSlots;
    std::vector<vantor::HDMIDIEvent> outgoing;
    std::vector<vantor::HDMIDIEvent> incoming;
    std::vector<RenderStep> schedule;
    std::string imagePath;
    std::unique_ptr<PixelCanvas> canvas;
    void* canvasBlock = nullptr;
    void* imageBlock = nullptr;
    void* routingTextBlock = nullptr;
    void* parameterChangeBlock = nullptr;

    // Chip ticks as the chips write them: one block of maxTicks words per output channel.
    std::unique_ptr<int32_t[]> tickBuffer;
    uint64_t maxTicks = 0;
    uint64_t zeroTicks[kMaxChannels] = {};  // leading ticks of each channel known to be zero
    uint64_t reservedBlock = 0;  // the largest block the schedule has room for
    std::unique_ptr<vantor::HDMIDIEvent[]> carried;  // kMaxCarried, in arrival order
    size_t carriedCount = 0;
    uint64_t droppedCount = 0;  // events no carry list had room for
    // Raw messages of a zero-frame block, sent after its other events.
    std::array<std::array<uint8_t, 3>, kMaxScheduled> deferred{};
    size_t deferredCount = 0;
};

}  // namespace acme
