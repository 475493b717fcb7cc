#pragma once
// Records and C prototypes shared by the instrument module and the engine that loads it. Both
// sides are built separately, so every size and offset below is binding (little-endian, 64-bit
// pointers). The engine includes it; SyncInfo.cpp holds the transport helpers.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantor {

// One event of a block, in either direction.
struct HDMIDIEvent
{
    uint32_t kind = 0;    // one of the kinds below
    int32_t index = 0;    // pitch, item or expression index
    float value = 0.0f;   // velocity or value
    uint8_t midi[3] = {}; // raw MIDI: status, data 1, data 2
    uint8_t midiFlag = 0; // bits 0-1: a raw message carrying a tuning
    uint16_t channel = 0;
    uint16_t reserved = 0;
    int32_t noteId = 0;
    float tuning = 0.0f;
    uint32_t sampleOffset = 0;  // frames from the start of the block
};
static_assert(sizeof(HDMIDIEvent) == 32);
static_assert(offsetof(HDMIDIEvent, kind) == 0);
static_assert(offsetof(HDMIDIEvent, index) == 4);
static_assert(offsetof(HDMIDIEvent, value) == 8);
static_assert(offsetof(HDMIDIEvent, midi) == 12);
static_assert(offsetof(HDMIDIEvent, midiFlag) == 15);
static_assert(offsetof(HDMIDIEvent, channel) == 16);
static_assert(offsetof(HDMIDIEvent, reserved) == 18);
static_assert(offsetof(HDMIDIEvent, noteId) == 20);
static_assert(offsetof(HDMIDIEvent, tuning) == 24);
static_assert(offsetof(HDMIDIEvent, sampleOffset) == 28);

// Event kinds.
inline constexpr uint32_t kEventMidi = 0x000;            // raw MIDI in `midi`
inline constexpr uint32_t kEventControllerItem = 0x0B0;  // controller-map item `index`
inline constexpr uint32_t kEventNoteAux = 0x200;
inline constexpr uint32_t kEventNoteOn = 0x390;
inline constexpr uint32_t kEventNoteOff = 0x480;
inline constexpr uint32_t kEventNoteExpression = 0x500;

// Host transport of one block. The module reads ppqPosition, tempo and barStart; the rest is
// filled by the plug-in (SyncInfo.cpp derives the block fields).
struct SyncInfo
{
    // Result of valid(): 0, or the first failed check (1 rate, 3 tempo, 5 numerator,
    // 6 denominator, 7 position before the bar start, 9 loop end, 10 loop start).
    struct Check
    {
        int32_t code = 0;
        double position = 0.0;  // the position that was checked
    };

    // Tempo 120 and 4/4; every other field zero.
    void setDefaults();
    // Completes the block fields for `frames` frames (stored as at most 32767) at `rate`; false,
    // block fields kept, when valid() fails. Unless `quiet`, a failure appends the diagnostic
    // line (after `key`, when given) and a line feed to `log`, when given.
    bool prepare(int32_t frames, double rate, const char* key, std::string* log, bool quiet);
    // Checks in a fixed order; a loop outside this block is switched off (still valid).
    Check valid();
    // The diagnostic line of a check code.
    void log(int32_t code, std::string& out) const;

    double samplePosition = 0.0;
    double sampleRate = 0.0;
    double systemTime = 0.0;   // nanoseconds, 0 when unknown
    double ppqPosition = 0.0;  // quarter notes
    double tempo = 0.0;        // quarter notes per minute
    double barStart = 0.0;     // quarter notes
    double loopStart = 0.0;
    double loopEnd = 0.0;
    int32_t timeSigNumerator = 0;
    int32_t timeSigDenominator = 0;
    int32_t samplesToNextClock = 0;  // 0xFFFFFF when unknown
    uint8_t reserved[8] = {};
    uint8_t playing = 0;
    uint8_t recording = 0;
    uint8_t looping = 0;
    uint8_t diff = 0;
    uint8_t barInBlock = 0;
    uint8_t loopInBlock = 0;
    int16_t blockFrames = 0;
    int32_t samplesToNextBar = 0;
    double barLength = 0.0;      // quarter notes
    double blockQuarters = 0.0;  // quarter notes this block spans
    double lastPpqPosition = 0.0;
    uint8_t tail[8] = {};  // the record is handed over as 128 zeroed bytes
};
static_assert(sizeof(SyncInfo) == 128);
static_assert(offsetof(SyncInfo, samplePosition) == 0);
static_assert(offsetof(SyncInfo, sampleRate) == 8);
static_assert(offsetof(SyncInfo, systemTime) == 16);
static_assert(offsetof(SyncInfo, ppqPosition) == 0x18);
static_assert(offsetof(SyncInfo, tempo) == 0x20);
static_assert(offsetof(SyncInfo, barStart) == 0x28);
static_assert(offsetof(SyncInfo, loopStart) == 48);
static_assert(offsetof(SyncInfo, loopEnd) == 56);
static_assert(offsetof(SyncInfo, timeSigNumerator) == 64);
static_assert(offsetof(SyncInfo, timeSigDenominator) == 68);
static_assert(offsetof(SyncInfo, samplesToNextClock) == 72);
static_assert(offsetof(SyncInfo, reserved) == 76);
static_assert(offsetof(SyncInfo, playing) == 84);
static_assert(offsetof(SyncInfo, recording) == 85);
static_assert(offsetof(SyncInfo, looping) == 86);
static_assert(offsetof(SyncInfo, diff) == 87);
static_assert(offsetof(SyncInfo, barInBlock) == 88);
static_assert(offsetof(SyncInfo, loopInBlock) == 89);
static_assert(offsetof(SyncInfo, blockFrames) == 90);
static_assert(offsetof(SyncInfo, samplesToNextBar) == 92);
static_assert(offsetof(SyncInfo, barLength) == 96);
static_assert(offsetof(SyncInfo, blockQuarters) == 104);
static_assert(offsetof(SyncInfo, lastPpqPosition) == 112);
static_assert(offsetof(SyncInfo, tail) == 120);  // the fields end at 120

// Frames from the position to the next bar start, and to the next beat (or bar start, when
// that comes first); 0 for a tempo, rate or bar that is not finite and positive.
int64_t samplesToNextBar(double tempo, double ppqPosition, double barStart, int32_t numerator,
                         int32_t denominator, double sampleRate);
int64_t samplesToNextBeat(double tempo, double ppqPosition, double barStart, int32_t numerator,
                          int32_t denominator, double sampleRate);

}  // namespace vantor

// Interface version of both sides.
inline constexpr uint32_t kEngineSDKVersion = 2123;
inline constexpr uint64_t kMaxModuleEvents = 2048;
inline constexpr uint64_t kControllerItems = 1792;
// Controller items of two render switches (value >= 0.5 is on): every chip renders every cycle
// (silence is not skipped); the output chain resamples in a single stage.
inline constexpr int32_t kExactChipRenderItem = 263;
inline constexpr int32_t kSingleStageChainItem = 264;

// Events of one block: engine -> module (incoming) and module -> engine (outgoing). The
// controller map of dispatcher opcode 10 has the same layout (count 1792, kind 0xB0 entries).
struct ModuleEvents
{
    uint64_t count = 0;
    vantor::HDMIDIEvent events[kMaxModuleEvents];
};
static_assert(sizeof(ModuleEvents) == 65544);
static_assert(offsetof(ModuleEvents, events) == 8);

// Filled by fillTarnPluginInfo; the module writes only the named fields.
struct PluginInfoRecord
{
    char identifier[256];  // "com.Vantor.Emulator.<name>"
    uint32_t word100;      // 0
    uint32_t word104;      // 4
    uint8_t gap108[0xB8];
    uint32_t word1C0;      // 1
    uint8_t gap1C4[8];
    uint32_t sdkVersion;   // 2123
    uint8_t gap1D0[8];
    uint32_t extensionIds[8];
    uint32_t extensionCount;  // 8
    uint32_t word1FC;         // 1
    char name[512];
    char description[256];  // "Emulator\t<name>"
    uint32_t ignoredExtensionId;  // 20824
    uint8_t gap504[0x7C];
    uint32_t word580;  // 1
    uint8_t gap584[0x7C];
    uint32_t words600[4];  // 2, 1, 3, 15
    uint32_t words610[4];  // 4, 2, 1, 1
    uint32_t word620;      // 1
};
static_assert(offsetof(PluginInfoRecord, word100) == 0x100);
static_assert(offsetof(PluginInfoRecord, word104) == 0x104);
static_assert(offsetof(PluginInfoRecord, word1C0) == 0x1C0);
static_assert(offsetof(PluginInfoRecord, sdkVersion) == 0x1CC);
static_assert(offsetof(PluginInfoRecord, extensionIds) == 0x1D8);
static_assert(offsetof(PluginInfoRecord, extensionCount) == 0x1F8);
static_assert(offsetof(PluginInfoRecord, word1FC) == 0x1FC);
static_assert(offsetof(PluginInfoRecord, name) == 0x200);
static_assert(offsetof(PluginInfoRecord, description) == 0x400);
static_assert(offsetof(PluginInfoRecord, ignoredExtensionId) == 0x500);
static_assert(offsetof(PluginInfoRecord, word580) == 0x580);
static_assert(offsetof(PluginInfoRecord, words600) == 0x600);
static_assert(offsetof(PluginInfoRecord, words610) == 0x610);
static_assert(offsetof(PluginInfoRecord, word620) == 0x620);
static_assert(sizeof(PluginInfoRecord) == 0x624);
inline constexpr size_t kPluginInfoBufferSize = 4096;  // what the engine hands over

struct PluginHostRecord;
struct PluginEntryRecord;

extern "C" {
// Host requests; the result is not used, answers come back through b.
typedef intptr_t (*PluginHostFunction)(PluginHostRecord* host, int32_t op, intptr_t a, void* b);
typedef void (*PluginDispatchFunction)(PluginEntryRecord* entry, uint32_t op, intptr_t a, void* b);
typedef void (*PluginProcessFunction)(PluginEntryRecord* entry, float** outputs, int32_t frames,
                                      ModuleEvents* incoming, ModuleEvents* outgoing,
                                      vantor::SyncInfo* transport);

// The four module exports.
typedef int32_t (*GetNumTarnPluginsFunction)(void);
typedef int32_t (*FillTarnPluginInfoFunction)(int32_t index, void* record);
typedef PluginEntryRecord* (*NewInstanceFunction)(const char* identifier, PluginHostRecord* host);
typedef void (*DeleteInstanceFunction)(PluginEntryRecord* entry);
}

// Engine-owned; only the first field is used by the module. An engine may put its own data behind.
struct PluginHostRecord
{
    PluginHostFunction function;
};
static_assert(offsetof(PluginHostRecord, function) == 0);

// The engine's handle on one instance; part of the instance object.
struct PluginEntryRecord
{
    uint32_t version;  // 2123
    uint32_t padding;
    PluginDispatchFunction dispatcher;
    PluginProcessFunction process;
    void* reserved;  // 0
    void* object;    // the instance; never changes
};
static_assert(sizeof(PluginEntryRecord) == 40);
static_assert(offsetof(PluginEntryRecord, dispatcher) == 0x08);
static_assert(offsetof(PluginEntryRecord, process) == 0x10);
static_assert(offsetof(PluginEntryRecord, reserved) == 0x18);
static_assert(offsetof(PluginEntryRecord, object) == 0x20);

#pragma pack(push, 1)
// Opcodes 2 and 12.
struct AudioSettingsRecord
{
    double sampleRate = 44100.0;
    uint32_t sampleRateInt = 44100;
    uint32_t padding0 = 0;
    double samplePeriod = 1.0 / 44100.0;
    uint32_t blockSize = 256;
    uint32_t padding1 = 0;
    double blockDuration = 256.0 / 44100.0;
    double inverseBlockSize = 1.0 / 256.0;
    uint8_t flags[5] = {};
};
#pragma pack(pop)
static_assert(sizeof(AudioSettingsRecord) == 53);
static_assert(offsetof(AudioSettingsRecord, sampleRateInt) == 0x08);
static_assert(offsetof(AudioSettingsRecord, samplePeriod) == 0x10);
static_assert(offsetof(AudioSettingsRecord, blockSize) == 0x18);
static_assert(offsetof(AudioSettingsRecord, blockDuration) == 0x20);
static_assert(offsetof(AudioSettingsRecord, inverseBlockSize) == 0x28);
static_assert(offsetof(AudioSettingsRecord, flags) == 0x30);

// Opcode 19: init arguments; the module stores its result as a u64 at +0x08.
struct PluginInitRecord
{
    uint64_t reserved0 = 0;
    uint64_t result = 0;
    const char* path = nullptr;  // chip database file, or null
    void* argument = nullptr;
    uint32_t hostVersion = 0;
    uint32_t padding = 0;
};
static_assert(sizeof(PluginInitRecord) == 40);
static_assert(offsetof(PluginInitRecord, result) == 0x08);
static_assert(offsetof(PluginInitRecord, path) == 0x10);
static_assert(offsetof(PluginInitRecord, argument) == 0x18);
static_assert(offsetof(PluginInitRecord, hostVersion) == 0x20);

// Opcode 17 request: the output channel count asked for.
struct ChannelConfigRequest
{
    uint32_t reserved0 = 0;
    uint32_t outputChannels = 0;
};
static_assert(offsetof(ChannelConfigRequest, outputChannels) == 0x04);

// Opcode 18 answer: words B (+0x04) and A (+0x08).
struct ProcessInfoRecord
{
    uint32_t reserved0 = 0;
    uint32_t wordB = 0;
    uint32_t wordA = 0;
    uint32_t reserved1 = 0;
};
static_assert(offsetof(ProcessInfoRecord, wordB) == 0x04);
static_assert(offsetof(ProcessInfoRecord, wordA) == 0x08);

// MIDI out through host opcode 12 (a = 48); MIDI in through dispatcher opcode 23.
struct HostMidiOutRecord
{
    uint64_t version = kEngineSDKVersion;
    uint64_t kind = 0;  // 0 short message, 1 SysEx
    uint64_t size = 0;  // 4 for a short message, else the SysEx byte count
    uint64_t port = 0;
    const uint8_t* sysex = nullptr;
    uint8_t bytes[4] = {};  // status, data 1, data 2, 0
    uint8_t padding[4] = {};
};
static_assert(sizeof(HostMidiOutRecord) == 48);
static_assert(offsetof(HostMidiOutRecord, kind) == 0x08);
static_assert(offsetof(HostMidiOutRecord, size) == 0x10);
static_assert(offsetof(HostMidiOutRecord, port) == 0x18);
static_assert(offsetof(HostMidiOutRecord, sysex) == 0x20);
static_assert(offsetof(HostMidiOutRecord, bytes) == 0x28);

#pragma pack(push, 1)
// Opcode 20. Members are unaligned: copy them out, never bind a reference to them.
struct ExtensionCommandRecord
{
    uint32_t reserved0 = 0;
    void* block = nullptr;  // its first u32 is the extension id
    uint64_t reserved1 = 0;
    uint64_t index = 0;
    uint64_t subCommand = 0;
    uint32_t extra = 0;
};
#pragma pack(pop)
static_assert(sizeof(ExtensionCommandRecord) == 40);
static_assert(offsetof(ExtensionCommandRecord, block) == 0x04);
static_assert(offsetof(ExtensionCommandRecord, index) == 0x14);
static_assert(offsetof(ExtensionCommandRecord, subCommand) == 0x1C);
static_assert(offsetof(ExtensionCommandRecord, extra) == 0x24);

// Opcode 21.
struct MasterSettingsCommand
{
    uint64_t reserved0 = 0;
    int32_t kind = 0;
    uint32_t padding = 0;
    uint64_t integerValue = 0;  // integer, boolean or byte value
    uint64_t reserved1 = 0;
    double value = 0.0;
};
static_assert(sizeof(MasterSettingsCommand) == 40);
static_assert(offsetof(MasterSettingsCommand, kind) == 0x08);
static_assert(offsetof(MasterSettingsCommand, integerValue) == 0x10);
static_assert(offsetof(MasterSettingsCommand, value) == 0x20);

// Dispatcher opcodes.
enum ModuleOpcode : uint32_t {
    kOpInit = 0,
    kOpSetAudioSettings = 2,
    kOpGetInputCount = 3,
    kOpGetOutputCount = 4,
    kOpGetWord5 = 5,
    kOpGetWord6 = 6,
    kOpGetFlags = 7,
    kOpEngineCommand = 8,
    kOpResetVoices9 = 9,
    kOpGetControllerMap = 10,
    kOpResetVoices = 11,
    kOpAudioSettingsChanged = 12,
    kOpGetParameterDescriptors = 15,
    kOpQueryChannelConfig = 17,
    kOpGetProcessInfo = 18,
    kOpInitWithRecord = 19,
    kOpExtensionCommand = 20,
    kOpMasterSettings = 21,
    kOpReceiveSysEx = 23,
    kOpSetDataFolder = 24,
    kOpSaveFile = 25,
    kOpLoadFile = 26,
    kOpHost27 = 27,
    kOpHost28 = 28,
};

// Host opcodes the module sends.
enum ModuleHostOpcode : int32_t {
    kHostNotify = 8,
    kHostRangeChanged = 10,
    kHostDisplayInfo = 11,
    kHostMidiOut = 12,
    kHostNoteFrequency = 13,
    kHostNoteTuning = 14,
};

// Export names, as the engine looks them up.
inline constexpr const char* kExportGetNumPlugins = "getNumTarnPlugins";
inline constexpr const char* kExportFillPluginInfo = "fillTarnPluginInfo";
inline constexpr const char* kExportNewInstance = "newInstance";
inline constexpr const char* kExportDeleteInstance = "deleteInstance";
inline constexpr const char* kIdentifierPrefix = "com.Vantor.Emulator.";
