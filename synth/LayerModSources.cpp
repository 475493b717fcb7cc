#include "synth/LayerModSources.h"

namespace ZRS {

Modulator& LayerModSources::ensureController(uint32_t n)
{
    std::unique_ptr<Modulator>& slot = controllers[n & 127];
    if (!slot)
        slot = std::make_unique<MIDI7Modulator>();
    return *slot;
}

}  // namespace ZRS
