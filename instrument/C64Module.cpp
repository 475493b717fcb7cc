// The C64Module target's instrument: "C64" is a SID instrument instance; other names are refused.
// Compiled only into the module (and into tests that load an instance in-process), so that each
// program has exactly one factory.

#include "instrument/ChipWrap.h"

#include <cstring>

vantor::EnginePluginSDK::Plugin* vantor::EnginePluginSDK::createModuleInstrument(
    PluginHostRecord* host, const char* name)
{
    if (!name || std::strcmp(name, "C64") != 0)
        return nullptr;
    return new acme::ChipWrap(host, name, std::strlen(name));
}
