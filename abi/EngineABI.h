#pragma once
// The host engine's entry function, its opcodes, query sub-codes, host-callback opcodes and the
// records passed by address: the contract between the plug-in and the engine it loads. Both are
// built separately, so every size and offset below is binding (little-endian, natural alignment,
// 64-bit pointers). Header only.

#include "abi/ModuleABI.h"

#include <cstddef>
#include <cstdint>

namespace vantor {

inline constexpr uint16_t kEngineSdkVersion = uint16_t(kEngineSDKVersion);  // 2123
inline constexpr uint32_t kMaxBlockEvents = 2048;

// The events of one process call, in ascending sampleOffset; records past `count` are zero.
struct MIDIEvents
{
    uint32_t count = 0;
    uint32_t version = 1;  // set once, never changed
    HDMIDIEvent events[kMaxBlockEvents] = {};
};
static_assert(sizeof(MIDIEvents) == 65544);
static_assert(offsetof(MIDIEvents, count) == 0);
static_assert(offsetof(MIDIEvents, version) == 4);
static_assert(offsetof(MIDIEvents, events) == 8);

// Orders by sampleOffset as unsigned numbers; equal offsets compare equal (use a stable sort).
inline bool midiSort(const HDMIDIEvent& a, const HDMIDIEvent& b)
{
    return a.sampleOffset < b.sampleOffset;
}

extern "C" {
// caddisOpcode: the engine's one export. Status 0 is success.
typedef int32_t (*CaddisOpcodeFunction)(void* instance, int32_t opcode, void* p1, void* p2, void* p3,
                                        intptr_t i1, float f, int32_t i2, int32_t i3);
// A host callback: TARN_HOST_STATUS for a TARN_HOST_OPCODE.
typedef int32_t (*TarnHostCallback)(int32_t op, void* p1, void* p2, int32_t i1, int32_t i2, int32_t i3,
                                    float f, void* user);
}
inline constexpr const char* kEngineEntryName = "caddisOpcode";

enum EngineOpcode : int32_t {
    kEngineDetails = 8,            // none: p1 char[128] out, i1 1
    kEngineCreate = 9,             // none: p1 EngineInitRecord, p2 void** handle out
    kEngineDestroy = 10,
    kEngineStart = 11,             // i1 sample rate, i2 maximum block
    kEngineSuspend = 12,
    kEngineSetLatencyMode = 13,    // p1 TarnEngineLatencyInfo, i1 offline flag
    kEngineRandomOff = 14,         // none: i1 0x1234
    kEngineProcessEvents = 15,     // p1 MIDIEvents, p2 float** outputs, i1 frames
    kEngineGetParameter = 16,      // p1 float out, i1 index
    kEngineSetParameter = 17,      // i1 index, f plain value
    kEngineGetChunk = 18,          // p1 const void** bytes out, p2 uint32_t size out
    kEngineSetChunk = 19,          // p1 bytes, i1 length
    kEngineGetStats = 20,          // p1 TarnEngineStats
    kEngineAddView = 21,           // p1 ticket
    kEngineRemoveView = 22,        // p1 ticket
    kEngineCreateViewTicket = 23,  // none: p1 path, p2 void** ticket out, p3 engine instance
    kEngineDestroyViewTicket = 24, // ticket
    kEngineOpenView = 25,          // ticket: p1 parent, i3 8 when not embedded
    kEngineIdleView = 26,          // ticket
    kEngineGetViewSize = 27,       // ticket: p1 int32 height out, p2 int32 width out
    kEngineQuery = 30,             // p1 record, i1 EngineQuery
    kEngineProcessInputs = 31,     // p1 TarnEngineProcessEx version 1
    kEngineRegisterCallback = 32,  // p1 callback, p2 user, i1 flags
    kEngineSetSettings = 33,       // p1 EngineSettingsRecord
    kEngineRemoveCallback = 34,    // p1 callback, p2 user
    kEngineGetParameterName = 35,  // p1 const char** out, p2 instance, i1 index, i2, i3 sub-indices
    kEngineIdle = 36,
    kEngineGetParameterInfo = 37,  // p1 const ParameterInfo** out, i1 index
    kEngineGetLatency = 38,        // p1 TarnEngineLatencyInfo
    kEngineGetExportKB = 39,       // p1 const Tarn::ExportKB** out
    kEngineImportFile = 40,        // p1 path
    kEngineProcess = 42,           // p1 TarnEngineProcessEx version 2
    kEngineViewFdNotify = 43,      // ticket: i1 descriptor
    kEngineViewTimerNotify = 44,   // ticket: i1 timer id
};

// Sub-codes of opcode 30.
enum EngineQuery : int32_t {
    ENGINE_GET_CURRENT_PRODUCT = 0x10000,  // EngineProductRecord
    kQueryPrograms = 0x10002,              // p1 void** program list out
    kQueryEngineInfo = 0x10003,            // EngineInfoRecord
    kQuerySlotFilled = 0x10004,            // EngineSlotRecord
    kQuerySetProgram = 0x10005,            // EngineSlotRecord
    kQueryClearProgram = 0x10006,          // EngineSlotRecord
    kQueryAddHostCallback = 0x10007,       // HostCallbackRegistration
    kQueryBanks = 0x10008,                 // EngineListRecord of TarnBankEntry
    kQueryBankPrograms = 0x10009,          // TarnPrograms
    kQueryPresetTypes = 0x1000C,           // EngineListRecord of TarnPresetTypeEntry
    kQueryPresets = 0x1000D,               // TarnPresets
    kQueryLoadPreset = 0x1000E,            // EnginePresetLoadRecord
    kQuerySetSlotChannel = 0x1000F,        // EngineSlotChannelRecord
    kQueryGetSlotChannel = 0x10010,        // EngineSlotChannelRecord
};

enum TARN_HOST_OPCODE : int32_t {
    kHostEngineMessage = 0x1000,  // p1 title, p2 content, i1 level (0 info, 1 warning, 2 error)
    kHostAccepted1001 = 0x1001,
    kHostAccepted1002 = 0x1002,
    kHostAccepted1003 = 0x1003,
    kHostNamesChanged = 0x2002,
    kHostValueChanged = 0x2003,  // p1 ParameterInfo, i2 index, i3 1 = no host edit, f plain value
    kHostLatencyChanged = 0x2004,
    kHostKeyMapChanged = 0x2005,  // i1
    kHostEditorSize = 0x2006,     // i1 width, i2 height
    kHostBeginEdit = 0x2007,      // i2 index
    kHostEndEdit = 0x2008,        // i2 index
    kHostAccepted2009 = 0x2009,
};
enum TARN_HOST_STATUS : int32_t { TARN_HOST_HANDLED = 0, TARN_HOST_NOT_HANDLED = 2 };

// Callback flags the plug-in registers with.
inline constexpr uint32_t kCallbackFlagsDefault = 10;
inline constexpr uint32_t kCallbackFlagsStartUp = 0x70;
inline constexpr uint32_t kCallbackFlagsController = 0xF0;

inline constexpr uint64_t kInitRecordConstant = 0x0843AA55;

// Opcode 9.
struct EngineInitRecord
{
    uint64_t inputs = 0;
    uint64_t outputs = 0;
    uint64_t versionAndFormat = 0;  // (kEngineSdkVersion << 16) | plug-in format
    const char* dataFolder = nullptr;
    uint64_t constant = kInitRecordConstant;
    const char* extraPath = nullptr;
};
static_assert(sizeof(EngineInitRecord) == 48);
static_assert(offsetof(EngineInitRecord, outputs) == 8);
static_assert(offsetof(EngineInitRecord, versionAndFormat) == 16);
static_assert(offsetof(EngineInitRecord, dataFolder) == 24);
static_assert(offsetof(EngineInitRecord, constant) == 32);
static_assert(offsetof(EngineInitRecord, extraPath) == 40);

// Query 0x10000.
struct EngineProductRecord
{
    uint32_t version = 1;
    int32_t productId = 0;
    int32_t slotCount = 0;
    char name[64] = {};
    char title[64] = {};
    char address[512] = {};
};
static_assert(sizeof(EngineProductRecord) == 652);
static_assert(offsetof(EngineProductRecord, productId) == 4);
static_assert(offsetof(EngineProductRecord, slotCount) == 8);
static_assert(offsetof(EngineProductRecord, name) == 12);
static_assert(offsetof(EngineProductRecord, title) == 76);
static_assert(offsetof(EngineProductRecord, address) == 140);

// Query 0x10003.
struct EngineInfoRecord
{
    uint32_t version = 1;
    int32_t id = 0;
    uint8_t reserved[24] = {};
    char first[96] = {};
    char second[896] = {};
};
static_assert(sizeof(EngineInfoRecord) == 1024);
static_assert(offsetof(EngineInfoRecord, id) == 4);
static_assert(offsetof(EngineInfoRecord, first) == 32);
static_assert(offsetof(EngineInfoRecord, second) == 128);

// Query 0x10007. The engine reads its first 28 bytes.
struct HostCallbackRegistration
{
    uint32_t version = 1;
    TarnHostCallback function = nullptr;
    void* user = nullptr;
    uint32_t flags = 0xFFFFFFFF;
};
static_assert(sizeof(HostCallbackRegistration) == 32);
static_assert(offsetof(HostCallbackRegistration, function) == 8);
static_assert(offsetof(HostCallbackRegistration, user) == 16);
static_assert(offsetof(HostCallbackRegistration, flags) == 24);
inline constexpr size_t kHostCallbackRegistrationRead = 28;

// Opcode 33.
struct EngineSettingsRecord
{
    uint32_t version = 1;
    uint64_t inputs = 0;
    uint64_t outputs = 0;
    uint32_t one = 1;
    uint64_t sampleRate = 0;
    uint64_t maxBlock = 0;
};
static_assert(sizeof(EngineSettingsRecord) == 48);
static_assert(offsetof(EngineSettingsRecord, inputs) == 8);
static_assert(offsetof(EngineSettingsRecord, outputs) == 16);
static_assert(offsetof(EngineSettingsRecord, one) == 24);
static_assert(offsetof(EngineSettingsRecord, sampleRate) == 32);
static_assert(offsetof(EngineSettingsRecord, maxBlock) == 40);

// Opcodes 13 and 38.
struct TarnEngineLatencyInfo
{
    uint32_t version = kEngineSDKVersion;
    uint32_t latency = 0;
    uint64_t zero = 0;
};
static_assert(sizeof(TarnEngineLatencyInfo) == 16);
static_assert(offsetof(TarnEngineLatencyInfo, latency) == 4);
static_assert(offsetof(TarnEngineLatencyInfo, zero) == 8);

// Opcode 42 (version 2) and 31 (version 1).
struct TarnEngineProcessEx
{
    uint32_t version = 2;
    MIDIEvents* events = nullptr;
    uint64_t zero = 0;
    float** inputs = nullptr;
    float** outputs = nullptr;
    SyncInfo* transport = nullptr;
    uint32_t frames = 0;
};
static_assert(sizeof(TarnEngineProcessEx) == 56);
static_assert(offsetof(TarnEngineProcessEx, events) == 8);
static_assert(offsetof(TarnEngineProcessEx, zero) == 16);
static_assert(offsetof(TarnEngineProcessEx, inputs) == 24);
static_assert(offsetof(TarnEngineProcessEx, outputs) == 32);
static_assert(offsetof(TarnEngineProcessEx, transport) == 40);
static_assert(offsetof(TarnEngineProcessEx, frames) == 48);

// Opcode 20; its contents beyond the version word are the engine's.
struct TarnEngineStats
{
    uint32_t version = 1;
    uint32_t activeInstances = 0;
    uint64_t framesProcessed = 0;
    uint8_t reserved[48] = {};
};
static_assert(sizeof(TarnEngineStats) == 64);

// Two-call lists (queries 0x10008 and 0x1000C): sent without entries, the engine sets the count;
// sent again with that many initialised entries, the engine fills them.
struct EngineListRecord
{
    uint32_t version = 1;
    uint32_t count = 0;
    void* entries = nullptr;
};
static_assert(sizeof(EngineListRecord) == 16);
static_assert(offsetof(EngineListRecord, count) == 4);
static_assert(offsetof(EngineListRecord, entries) == 8);

struct TarnBankEntry
{
    uint32_t version = 1;
    int32_t bank = -1;
    uint32_t reserved8 = 0;
    uint32_t programCount = 0;
    char name[512] = {};
    uint8_t reserved[1024] = {};
};
static_assert(sizeof(TarnBankEntry) == 1552);
static_assert(offsetof(TarnBankEntry, bank) == 4);
static_assert(offsetof(TarnBankEntry, programCount) == 12);
static_assert(offsetof(TarnBankEntry, name) == 16);

struct TarnPresetTypeEntry
{
    uint32_t version = 1;
    uint32_t presetCount = 0;
    uint8_t reserved[24] = {};
    char name[128] = {};
};
static_assert(sizeof(TarnPresetTypeEntry) == 160);
static_assert(offsetof(TarnPresetTypeEntry, presetCount) == 4);
static_assert(offsetof(TarnPresetTypeEntry, name) == 32);

struct TarnProgram
{
    uint32_t version = 1;
    int32_t index = 0;
    int32_t bank = 0;
    char name[512] = {};
    uint8_t reserved[56] = {};
};
static_assert(sizeof(TarnProgram) == 580);
static_assert(offsetof(TarnProgram, name) == 12);

// Query 0x10009.
struct TarnPrograms
{
    int32_t bank = 0;
    uint32_t count = 0;
    TarnProgram* entries = nullptr;
};
static_assert(sizeof(TarnPrograms) == 16);
static_assert(offsetof(TarnPrograms, count) == 4);
static_assert(offsetof(TarnPrograms, entries) == 8);

struct TarnPreset
{
    uint32_t version = 1;
    int32_t index = 0;
    char name[512] = {};
    uint8_t reserved[24] = {};
};
static_assert(sizeof(TarnPreset) == 544);
static_assert(offsetof(TarnPreset, name) == 8);

// Query 0x1000D.
struct TarnPresets
{
    uint32_t version = 1;
    uint32_t count = 0;
    char typeName[128] = {};  // 127 characters kept
    TarnPreset* entries = nullptr;
};
static_assert(sizeof(TarnPresets) == 144);
static_assert(offsetof(TarnPresets, count) == 4);
static_assert(offsetof(TarnPresets, typeName) == 8);
static_assert(offsetof(TarnPresets, entries) == 136);

// Queries 0x10004, 0x10005, 0x10006.
struct EngineSlotRecord
{
    static constexpr uint32_t kFilled = 3;
    uint32_t version = 1;
    uint32_t slot = 0;
    uint32_t state = 0;
    uint8_t reserved12[8] = {};
    int32_t bank = -1;  // -1: the current bank
    uint8_t reserved24[488] = {};
    char programName[512] = {};  // 511 characters kept
};
static_assert(sizeof(EngineSlotRecord) == 1024);
static_assert(offsetof(EngineSlotRecord, slot) == 4);
static_assert(offsetof(EngineSlotRecord, state) == 8);
static_assert(offsetof(EngineSlotRecord, bank) == 20);
static_assert(offsetof(EngineSlotRecord, programName) == 512);

// Query 0x1000E.
struct EnginePresetLoadRecord
{
    uint32_t version = 1;
    uint32_t firstNumber = 0;
    uint32_t secondNumber = 0;
    uint8_t reserved[20] = {};
    char firstText[128] = {};
    char secondText[128] = {};
    TarnPreset* preset = nullptr;
};
static_assert(sizeof(EnginePresetLoadRecord) == 296);
static_assert(offsetof(EnginePresetLoadRecord, firstNumber) == 4);
static_assert(offsetof(EnginePresetLoadRecord, secondNumber) == 8);
static_assert(offsetof(EnginePresetLoadRecord, firstText) == 32);
static_assert(offsetof(EnginePresetLoadRecord, secondText) == 160);
static_assert(offsetof(EnginePresetLoadRecord, preset) == 288);

// Queries 0x1000F and 0x10010.
struct EngineSlotChannelRecord
{
    uint32_t version = 1;
    uint32_t kind = 0x1001;
    uint32_t slot = 0;
    uint32_t zero = 0;
    uint32_t one = 1;
    uint8_t reserved[8] = {};
    uint32_t confirmed = 0;  // the engine sets 1
    int32_t channel = 0;
};
static_assert(offsetof(EngineSlotChannelRecord, kind) == 4);
static_assert(offsetof(EngineSlotChannelRecord, slot) == 8);
static_assert(offsetof(EngineSlotChannelRecord, zero) == 12);
static_assert(offsetof(EngineSlotChannelRecord, one) == 16);
static_assert(offsetof(EngineSlotChannelRecord, confirmed) == 28);
static_assert(offsetof(EngineSlotChannelRecord, channel) == 32);

namespace Tarn {

// Opcode 39: the key map. Only the kinds and names are read.
struct ExportKB
{
    uint8_t keyKind[128];
    uint8_t reserved128[128];
    char keyName[128][128];
    uint8_t rest[1069];
};
static_assert(sizeof(ExportKB) == 17709);
static_assert(offsetof(ExportKB, keyKind) == 0);
static_assert(offsetof(ExportKB, keyName) == 256);

}  // namespace Tarn

}  // namespace vantor
