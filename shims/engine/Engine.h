#pragma once
// A small stand-in for the host engine: loads an instrument module through its four exports,
// creates and starts an instance, runs blocks with events and transport, keeps the instance's
// controller values and answers (and records) the module's host requests. Single-threaded: no
// dispatcher call is made while a block runs.

#include "abi/ModuleABI.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

class WaveFileWriter;

namespace vantor::engine {

// A module opened with dlopen (RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE), or linked in, and its
// four exports.
class ModuleLibrary
{
public:
    // Null, with a message naming the module and what failed (the missing export, or the
    // loader's own text), when it cannot be used.
    static std::unique_ptr<ModuleLibrary> open(const std::string& path, std::string& error);
    // The exports of a module linked into this program; `name` stands for the path.
    static std::unique_ptr<ModuleLibrary> linked(const std::string& name,
                                                 GetNumTarnPluginsFunction getNumPlugins,
                                                 FillTarnPluginInfoFunction fillInfo,
                                                 NewInstanceFunction newInstance,
                                                 DeleteInstanceFunction deleteInstance);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    int32_t pluginCount() const;
    // Fills a zeroed 4 KiB info block; false when the module refuses the index.
    bool pluginInfo(int32_t index, std::vector<uint8_t>& info) const;
    // The identifier of instrument `index`, empty when there is none.
    std::string identifier(int32_t index) const;

    const std::string& getPath() const { return path; }
    NewInstanceFunction getNewInstance() const { return newInstance; }
    DeleteInstanceFunction getDeleteInstance() const { return deleteInstance; }

private:
    ModuleLibrary() = default;

    std::string path;
    void* handle = nullptr;
    GetNumTarnPluginsFunction getNumPlugins = nullptr;
    FillTarnPluginInfoFunction fillInfo = nullptr;
    NewInstanceFunction newInstance = nullptr;
    DeleteInstanceFunction deleteInstance = nullptr;
};

// Items 384-511 (media transport) are not restored with a saved state.
inline constexpr uint32_t kMediaItemFirst = 384, kMediaItemEnd = 512;

struct EngineConfig
{
    double sampleRate = 48000.0;
    uint32_t blockSize = 256;
    std::string chipDatabasePath;  // empty: the init record carries a null path
    std::string dataFolder;        // sent after init (ROM images, signature files); empty: not sent
    uint32_t hostVersion = kEngineSDKVersion;
    double a4 = 440.0;  // answer of host opcode 13 for note 69
    double tempo = 120.0;
    uint32_t polyphony = 12;  // master setting 3, sent right after init
};

// One host request as it arrived. Payloads are copied during the call: op 8 (the block's
// 32-byte header, or the whole block when given to registerBlock), 10 (two u64), 11 (a bytes, at most
// 64 KiB), 12 (the 48-byte record; SysEx bytes in `extra`, at most 64 KiB).
struct HostCall
{
    int32_t op = 0;
    intptr_t a = 0;
    uintptr_t b = 0;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> extra;
    double answer = 0.0;  // op 13
    // Op 8 about one of the engine's shared blocks: its id, the text it carries (text slot,
    // routing text, image path) and the items it listed for re-reading (parameter changes).
    uint32_t blockId = 0;
    uint64_t blockIndex = 0;
    std::string text;
    std::vector<uint16_t> items;
};

// A block the engine allocates, hands to the module with opcode 20 and keeps for the instance's
// whole life; its memory never moves.
struct SharedBlock
{
    uint32_t id = 0;
    uint64_t index = 0;  // index or key sent with it
    size_t size = 0;
    std::unique_ptr<uint8_t[]> bytes;
    int32_t result = 0;  // the module's answer to the last command about it
};

// A saved instance: the engine's value table and every shared block's bytes, in handover order.
struct EngineState
{
    struct Block
    {
        uint32_t id = 0;
        uint64_t index = 0;
        std::vector<uint8_t> bytes;
    };
    std::array<float, kControllerItems> values{};
    std::vector<Block> blocks;
};

// What the engine writes into the sample block (47731).
struct SampleData
{
    struct Marker
    {
        uint32_t position = 0;
        uint8_t kind = 0;  // 1 start, 2 end, 5 note
    };
    uint32_t rate = 0;
    std::vector<int16_t> samples;  // beyond 261792 cut
    std::vector<Marker> markers;   // slot = place in the list; beyond 128 cut
};

class Instance
{
public:
    static constexpr int32_t kMasterPolyphony = 3;
    static constexpr uint32_t kMaxBlockSize = 8192;
    static constexpr uint32_t kMaxChannels = 16;

    Instance(const ModuleLibrary& module, const EngineConfig& config);
    // Deletes the module's instance first, then frees the engine's own blocks.
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // newInstance with the identifier; false with a message when the module returns null.
    bool create(const std::string& identifier, std::string& error);
    // Audio settings (op 12), init (op 19), the data folder (op 24) when one is configured, the
    // polyphony (op 21, master setting 3), then the queries 3, 4, 7, 15, 10, 17 and 18, then the
    // shared blocks (handOverBlocks).
    bool start(std::string& error);
    // On a created instance that was not started: the same start, but the saved blocks are copied
    // back and sent with sub-command 1 (the canvas with 0, which alone attaches it) in the order
    // of the start's handover, whatever order the state lists them in; then the
    // saved values except items 384-511 (media transport) as 0xB0 events at offset 0 of one
    // zero-frame block.
    bool restoreState(const EngineState& state, std::string& error);
    EngineState saveState() const;

    // Shared blocks. Opcode 20 about one block; returns the module's result.
    int32_t sendExtension(SharedBlock& block, uint64_t subCommand, uint32_t extra = 0);
    // Allocates the sample block on first use, then sub-command 0, the data, sub-command 1.
    // Returns the result of sub-command 1.
    int32_t handOverSample(const SampleData& sample);
    // The path at +0x220 of the file-path block of `index` (0 or 1), sub-command 1. Returns the
    // module's result; -1 without asking the module when the path does not fit or the index is
    // not 0 or 1.
    int32_t openMediaFile(const std::string& path, uint64_t index = 0);
    const std::vector<std::unique_ptr<SharedBlock>>& getSharedBlocks() const { return sharedBlocks; }
    // Null when no such block was handed over.
    SharedBlock* findSharedBlock(uint32_t id, uint64_t index = 0) const;

    // What op 8 told the engine about its blocks.
    const std::vector<uint8_t>& getCanvasDump() const { return canvasDump; }
    uint64_t getCanvasDumpCount() const { return canvasDumpCount; }
    const std::map<uint64_t, std::string>& getTextSlots() const { return textSlots; }
    const std::string& getRoutingText() const { return routingText; }
    const std::string& getImagePath() const { return imagePath; }

    // Any opcode with its record.
    void dispatch(uint32_t op, intptr_t a, void* b);
    // Opcode 21; the value fills both the integer and the f64 field.
    void sendMasterSettings(int32_t kind, double value);

    // One block: events sorted stably by offset, those at or past `frames` dropped (offset 0 is
    // kept in a zero-frame block), at most 2048 kept; the outgoing count zeroed before the call; a zeroed transport with tempo,
    // position and bar start. Returns the events handed over; -1 when frames exceeds the block
    // size or the instance is not started.
    int64_t process(uint32_t frames, std::vector<vantor::HDMIDIEvent> events);
    // The plug-in's form of a block (EngineHostProcess.cpp): the engine's own events, then the
    // caller's, copied as they are (at most 2048 together); the caller's transport (null: tempo
    // 120, 4/4, position 0; positions and tempo that are not finite are replaced); the module's
    // channel 0 copied to every output that is not null. Item events of either direction go
    // into the value table. Records no host call and allocates nothing. Returns the events
    // handed over; -1, outputs zeroed, when frames exceeds the block size, the instance is not
    // started or the events do not fit. With `render` false the module is not called.
    int64_t processInto(uint32_t frames, const vantor::HDMIDIEvent* engineEvents, uint32_t engineCount,
                        const vantor::HDMIDIEvent* events, uint32_t count, const vantor::SyncInfo* transport,
                        float* const* outputs, uint32_t outputCount, bool render = true);
    // Before start: the settings start uses. After: changed settings are sent again (opcode 12)
    // and the buffers resized. False for a rate that is not finite and positive or a block size
    // of 0 or above kMaxBlockSize.
    bool setAudioSettings(double sampleRate, uint32_t blockSize);
    // On a started instance: each saved block is copied back into the block of the same id and
    // index (made when missing) and sent with sub-command 1, in the order of the handover. The
    // values are the caller's to send. False, nothing changed, when a saved block is smaller
    // than the block it would go into or has an unknown id.
    bool reloadBlocks(const EngineState& state);
    const ModuleEvents& getOutgoingBlock() const { return *outgoingBlock; }
    bool isStarted() const { return started; }

    const float* channel(uint32_t c) const { return c < channelCount ? buffers[c].data() : nullptr; }
    uint32_t getChannelCount() const { return channelCount; }
    const std::vector<vantor::HDMIDIEvent>& getOutgoing() const { return outgoing; }
    const std::vector<HostCall>& getHostCalls() const { return hostCalls; }
    void clearHostCalls() { hostCalls.clear(); }
    const std::array<float, kControllerItems>& getItemValues() const { return itemValues; }
    uint64_t getFramesProcessed() const { return framesProcessed; }
    PluginEntryRecord* getEntry() const { return entry; }
    const EngineConfig& getConfig() const { return config; }

    // What the start sequence learned.
    uint32_t getInputCount() const { return inputCount; }
    uint32_t getOutputCount() const { return outputCount; }
    uint32_t getFlags() const { return flags; }
    uint64_t getInitResult() const { return initResult; }
    uint32_t getDescriptorCount() const { return descriptorCount; }
    const void* getDescriptors() const { return descriptors; }
    uint32_t getChannelConfigAccepted() const { return channelConfigAccepted; }
    uint32_t getProcessInfoFlag() const { return processInfoFlag; }
    const ProcessInfoRecord& getProcessInfo() const { return processInfo; }

    // Lines for every dispatcher call and host request; null writes nothing.
    void setLog(FILE* stream) { log = stream; }
    // An engine-owned block whose contents op 8 copies whole.
    void registerBlock(const void* block, size_t size);

private:
    struct HostRecord
    {
        PluginHostRecord record;
        Instance* owner;
    };
    static intptr_t hostFunction(PluginHostRecord* host, int32_t op, intptr_t a, void* b);
    void onHostCall(int32_t op, intptr_t a, void* b);
    // During processInto: answers and value-table updates only, nothing recorded.
    void onQuietHostCall(int32_t op, intptr_t a, void* b);
    void readControllerMap();
    // Opcode 12 with the configured rate and block size.
    void sendAudioSettings();
    // The fixed set of blocks after init: fresh with sub-command 0, or from `saved`.
    void handOverBlocks(const EngineState* saved);
    SharedBlock& addSharedBlock(uint32_t id, uint64_t index, size_t size);
    SharedBlock* sharedBlockAt(const void* address) const;
    void onBlockNotified(SharedBlock& block, intptr_t a, HostCall& call);
    // `call` null: the values only, no record of the listed items.
    void readParameterChanges(SharedBlock& block, HostCall* call);
    void takeParameterTable(const SharedBlock& block);
    void logBlockCall(const HostCall& call);

    const ModuleLibrary& module;
    EngineConfig config;
    HostRecord hostRecord;
    PluginEntryRecord* entry = nullptr;
    bool started = false;

    AudioSettingsRecord audioSettings;
    PluginInitRecord initRecord;
    std::unique_ptr<ModuleEvents> incomingBlock;
    std::unique_ptr<ModuleEvents> outgoingBlock;
    std::unique_ptr<ModuleEvents> controllerMap;
    vantor::SyncInfo transport;
    std::vector<std::vector<float>> buffers;
    float* channelPointers[kMaxChannels] = {};
    uint32_t channelCount = 0;

    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    uint32_t flags = 0;
    uint64_t initResult = 0;
    uint32_t descriptorCount = 0;
    const void* descriptors = nullptr;
    uint32_t channelConfigAccepted = 0;
    uint32_t processInfoFlag = 0;
    ProcessInfoRecord processInfo;

    std::array<float, kControllerItems> itemValues{};
    std::vector<vantor::HDMIDIEvent> outgoing;
    std::vector<HostCall> hostCalls;
    std::vector<std::pair<const void*, size_t>> blocks;
    uint64_t framesProcessed = 0;
    FILE* log = nullptr;

    std::vector<std::unique_ptr<SharedBlock>> sharedBlocks;
    const EngineState* restoring = nullptr;  // set while restoreState runs start
    bool quietHostCalls = false;             // set while processInto runs the module
    // The parameter-change block's value table as the engine last saw it.
    std::array<float, 2048> parameterTable{};
    std::vector<uint8_t> canvasDump;
    uint64_t canvasDumpCount = 0;
    std::map<uint64_t, std::string> textSlots;
    std::string routingText;
    std::string imagePath;
};

// Stereo 32-bit float WAV output.
class WavSink
{
public:
    WavSink(const std::string& path, uint32_t sampleRate);
    ~WavSink();
    bool isOpen() const { return ok; }
    // False when the file could not take every frame.
    bool write(const float* left, const float* right, uint64_t frames);
    bool finish();

private:
    std::unique_ptr<WaveFileWriter> writer;
    bool ok = false;
};

}  // namespace vantor::engine
