#pragma once
// The module's four exports, for code that links the export layer in-process (the engine finds
// them with dlsym instead).

#include "abi/ModuleABI.h"

extern "C" {
int32_t getNumTarnPlugins(void);
int32_t fillTarnPluginInfo(int32_t index, void* record);
PluginEntryRecord* newInstance(const char* identifier, PluginHostRecord* host);
void deleteInstance(PluginEntryRecord* entry);
}
