#pragma once
// The stand-in engine as the plug-in sees it: the opcodes of caddisOpcode on top of ModuleLibrary
// and Instance, and the test hook. The bundle "Caddis Engine" exports these two as caddisOpcode
// and caddisTestHook (CaddisExports.cpp).
//
// Opcode 9 opens the module ($VANTOR_ENGINE_MODULE, else C64Module.so beside the file holding
// this code) and creates one instance of "com.Vantor.Emulator.C64"; 11 starts it (later calls
// send changed audio settings only); 42 processes; 10 deletes it. Opcodes 42 and 17 may come on
// the audio thread, the rest on others: 42 takes no lock and allocates nothing, the value table
// is atomic, and the events of 17 and 19 wait in fixed rings for the next block.

#include "abi/EngineABI.h"

#include <cstdint>

namespace vantor::engine {

inline constexpr const char* kEngineModuleVariable = "VANTOR_ENGINE_MODULE";
inline constexpr const char* kEngineInstrument = "com.Vantor.Emulator.C64";
inline constexpr uint32_t kAutomatableFirstItem = 768;  // automatable index i is item 768 + i

int32_t caddisEngineOpcode(void* instance, int32_t opcode, void* p1, void* p2, void* p3, intptr_t i1, float f,
                           int32_t i2, int32_t i3);
int32_t caddisEngineTestHook(int32_t op, void* p, intptr_t a, intptr_t b);

}  // namespace vantor::engine
