#pragma once
// The plug-in's audio processor: owns the engine bridge and the transport snapshot, declares the
// buses, turns each block's parameter changes and host events into event records and hands
// buffers, events and transport to the engine in one call per block. It stores and restores the
// engine's state chunk and tells the edit controller where its handle block lives.

#include "abi/EngineABI.h"
#include "vst3/AudioEffect.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor {

class TARNWrapper;

// Owns the wrapper and the transport snapshot; the destructor deletes the snapshot, then the
// wrapper (which destroys the engine instance).
class TARNWrapperHolder
{
public:
    TARNWrapperHolder() = default;
    virtual ~TARNWrapperHolder();
    TARNWrapperHolder(const TARNWrapperHolder&) = delete;
    TARNWrapperHolder& operator=(const TARNWrapperHolder&) = delete;

    virtual void TARNSlotChangeLEGACY(int32_t) {}
    virtual void TARNParamChangeLEGACY(int32_t, float) {}
    virtual void TARNLatencyChangeLEGACY(int32_t) {}

    TARNWrapper* wrapper = nullptr;
    SyncInfo* syncInfo = nullptr;
};

// The block whose address the processor sends as "CaddisHandle"/"No". The controller reads the
// wrapper and writes editingParameter from its own threads.
struct PlugHandle : TARNWrapperHolder
{
    uint64_t framesProcessed = 0;
    std::atomic<int32_t> editingParameter{-1};  // the engine editor's open parameter, -1 none
    std::atomic<bool> bypass{false};
};
static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t) && std::atomic<int32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<bool>) == sizeof(bool) && std::atomic<bool>::is_always_lock_free);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(PlugHandle, wrapper) == 8 && offsetof(PlugHandle, syncInfo) == 16);
static_assert(offsetof(PlugHandle, framesProcessed) == 24);
static_assert(offsetof(PlugHandle, editingParameter) == 32 && offsetof(PlugHandle, bypass) == 36);
#pragma GCC diagnostic pop

// True while `address` is the handle block of a live processor (processors join on construction
// and leave on destruction), so that a message's "No" is never taken for a block on trust.
bool isLivePlugHandle(const void* address);

// A state stream's bypass flag and engine chunk, in any of its three forms: the plain one (i32
// bypass, u32 length, the chunk), a 176-byte "VstW" head with its flag at 12 and the chunk to
// the end, or a 160-byte "CcnK" head with the chunk's big-endian length at 156.
struct PlugState
{
    bool hasBypass = false;  // the "CcnK" form carries none
    bool bypass = false;
    std::vector<uint8_t> chunk;
};

// False for a null stream, one that cannot be measured, a short read, or a chunk of length 0 or
// longer than the stream still holds (nothing is allocated for it).
bool readPlugState(Steinberg::IBStream* stream, PlugState& state);

}  // namespace vantor

class PlugProcessor : public Steinberg::Vst::AudioEffect, public vantor::PlugHandle
{
public:
    // Records a block may make before the surplus is dropped; 2048 of them reach the engine.
    static constexpr size_t kPendingCapacity = 8192;

    PlugProcessor();
    ~PlugProcessor() override;

    static Steinberg::FUnknown* createInstance(void* context);

    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API terminate() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint* other) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint* other) SMTG_OVERRIDE;
    Steinberg::tresult receiveText(const char* text) SMTG_OVERRIDE;

    Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                     Steinberg::int32 numIns,
                                                     Steinberg::Vst::SpeakerArrangement* outputs,
                                                     Steinberg::int32 numOuts) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API getLatencySamples() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* stream) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* stream) SMTG_OVERRIDE;

    // The records held for the engine between calls (normally none).
    const vantor::MIDIEvents& heldEvents() const { return events; }
    bool usesNoteIds() const { return useNoteIds; }

private:
    // Writes the lines the audio thread counted. The host's calls that never run on the
    // processing thread (setActive, getState, setState, notify, terminate) start with it; the
    // wrapper writes what is left when it goes.
    void flushAudioLog();
    // "CaddisHandle" with "No" = the handle block's address, sent to the peer.
    void connectToControllerMyselfNoThanks();
    void addParameterChanges(Steinberg::Vst::IParameterChanges* changes, uint32_t frames);
    // True when a record was made from an input event.
    bool addInputEvents(Steinberg::Vst::IEventList* list, uint32_t frames);
    void append(const vantor::HDMIDIEvent& record);
    void appendRaw(uint8_t status, uint8_t data1, uint8_t data2, uint32_t offset);
    // Stable by sampleOffset, without allocating.
    void sortPending();
    // Sorted pending records after the held ones, up to 2048; pending emptied.
    void movePendingToEvents();
    void clearEvents();

    std::vector<vantor::HDMIDIEvent> pending;
    size_t pendingMade = 0;  // records made this block, the dropped ones too
    std::vector<vantor::HDMIDIEvent> scratch;  // the merge sort's other half
    vantor::MIDIEvents events;
    uint64_t sampleRate = 44100;
    uint64_t maxBlock = 2048;
    uint32_t outputChannels = 2;  // what the engine writes per block
    bool useNoteIds = true;
};
