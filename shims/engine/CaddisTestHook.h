#pragma once
// The stand-in engine's second export, caddisTestHook(op, p, a, b), through which a test that
// opens the engine's file (dlopen) beside the plug-in steers and watches it: the call log,
// forced statuses, callbacks fired on demand, and the contents the engine answers with. The
// settings are process-wide; kHookReset puts every one back.

#include "abi/EngineABI.h"
#include "platform/ParameterInfo.h"

#include <cstddef>
#include <cstdint>

namespace vantor::engine {

extern "C" typedef int32_t (*CaddisTestHookFunction)(int32_t op, void* p, intptr_t a, intptr_t b);
inline constexpr const char* kTestHookName = "caddisTestHook";

enum TestHookOp : int32_t {
    kHookReset = 0,          // a: TestLogFlags. Defaults everywhere, call log emptied.
    kHookForceStatus = 1,    // p: const TestForcedStatus*
    kHookCallCount = 2,      // returns the number of logged calls
    kHookGetCall = 3,        // p: const TestCall** out, a: index; the entry lives until a reset
    kHookFireHostOpcode = 4, // p: TestHostCall*; returns the number of callbacks called
    kHookSetParameter = 5,   // a: automatable index, p: const TestParameter* (null: back to the module's)
    kHookSetRender = 6,      // a: 0 keeps the module from rendering (blocks stay silent)
    kHookSetListCounts = 7,  // p: const TestListCounts*
    kHookSetKeyMap = 8,      // p: const Tarn::ExportKB*
    kHookSetViewSize = 9,    // a: width, b: height
    kHookSetLatency = 10,    // a: frames
    kHookSetAnswers = 11,    // a: TestAnswerFlags
    kHookInstanceCount = 12, // returns the number of live engine instances
};

enum TestLogFlags : intptr_t {
    kLogCalls = 1,    // every opcode but the process forms
    kLogProcess = 2,  // opcodes 15, 31 and 42 too
};

enum TestAnswerFlags : intptr_t {
    kAnswerUnterminated = 1,  // texts fill their whole fields without a terminator
    kAnswerNullPointers = 2,  // opcodes that hand out a pointer answer 0 with a null one
};

// Status `status` for `opcode` (for 30: its sub-code `query`, 0 for every sub-code) without
// doing anything; `clear` removes the entry.
struct TestForcedStatus
{
    int32_t opcode = 0;
    int32_t query = 0;
    int32_t status = 1;
    int32_t clear = 0;
};

// One call as it arrived, with copies of what its record pointed at: 9 the init record and its
// two texts, 13 and 38 the latency record, 19 the chunk bytes, 23 its path (in dataFolder), 30
// the query record (a list's entries behind it), 33 the settings record, 15/31/42 the process
// record, its events and its transport.
struct TestCall
{
    int32_t opcode = 0;
    int32_t status = 0;
    void* instance = nullptr;
    void* p1 = nullptr;
    void* p2 = nullptr;
    void* p3 = nullptr;
    intptr_t i1 = 0;
    float f = 0.0f;
    int32_t i2 = 0;
    int32_t i3 = 0;
    const uint8_t* record = nullptr;
    size_t recordSize = 0;
    const HDMIDIEvent* events = nullptr;
    uint32_t eventCount = 0;
    const SyncInfo* transport = nullptr;
    const char* dataFolder = nullptr;
    const char* extraPath = nullptr;
};

// A host opcode sent to every registered callback; the statuses in registration order.
struct TestHostCall
{
    int32_t op = 0;
    void* p1 = nullptr;
    void* p2 = nullptr;
    int32_t i1 = 0;
    int32_t i2 = 0;
    int32_t i3 = 0;
    float f = 0.0f;
    uint32_t count = 0;
    int32_t statuses[16] = {};
};

// What opcodes 37 and 35 answer for one automatable index.
struct TestParameter
{
    ParameterInfo info;
    char name[64] = {};
};

struct TestListCounts
{
    uint32_t banks = 2;
    uint32_t programsPerBank = 2;
    uint32_t presetTypes = 1;  // "Patch", "Patch 2", ...
    uint32_t presetsPerType = 3;
};

}  // namespace vantor::engine
