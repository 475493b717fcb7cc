#include "synth/PatchBase.h"

namespace ZRS {

void PatchBase::releaseLayers()
{
    for (size_t i = kLayers; i-- > 0;) {
        delete layers[i];
        layers[i] = nullptr;
    }
}

void PatchBase::setName(const char* text)
{
    size_t n = 0;
    if (text)
        for (; n + 1 < kNameSize && text[n]; ++n)
            name[n] = text[n];
    for (; n < kNameSize; ++n)
        name[n] = 0;
}

}  // namespace ZRS
