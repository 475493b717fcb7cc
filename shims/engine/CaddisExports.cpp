// The two exports of the "Caddis Engine" bundle.

#include "shims/engine/EngineBridge.h"

#define CADDIS_EXPORT extern "C" __attribute__((visibility("default")))

CADDIS_EXPORT int32_t caddisOpcode(void* instance, int32_t opcode, void* p1, void* p2, void* p3, intptr_t i1,
                                   float f, int32_t i2, int32_t i3)
{
    return vantor::engine::caddisEngineOpcode(instance, opcode, p1, p2, p3, i1, f, i2, i3);
}

CADDIS_EXPORT int32_t caddisTestHook(int32_t op, void* p, intptr_t a, intptr_t b)
{
    return vantor::engine::caddisEngineTestHook(op, p, a, b);
}
