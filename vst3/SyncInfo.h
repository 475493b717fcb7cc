#pragma once
// The transport record filled from the VST3 host's process context.

#include "abi/ModuleABI.h"

namespace Steinberg::Vst {
struct ProcessContext;
}

namespace vantor {

// Copies the host's transport; what the host marks as unknown gets tempo 120, 4/4, position,
// bar and loop 0 and no clock (0xFFFFFF). Nothing happens for a null argument.
void fillSyncInfo(const Steinberg::Vst::ProcessContext* context, SyncInfo* info);

}  // namespace vantor
