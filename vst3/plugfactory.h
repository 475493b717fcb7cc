#pragma once
// The plug-in's class ids, its compatibility class and the module's exports.

#include "vst3/IPluginCompatibility.h"

#include <base/source/fobject.h>
#include <pluginterfaces/base/ipluginbase.h>

#include <string>

namespace vantor {

// The nine-line JSON text naming the processor's id as "New" and the older id twice as "Old".
std::string pluginCompatibilityText();

}  // namespace vantor

class PluginCompatibility : public Steinberg::FObject, public Steinberg::IPluginCompatibility
{
public:
    static Steinberg::FUnknown* createCompatibilityInstance(void* context);

    Steinberg::tresult PLUGIN_API getCompatibilityJSON(Steinberg::IBStream* stream) SMTG_OVERRIDE;

    OBJ_METHODS(PluginCompatibility, FObject)
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    REFCOUNT_METHODS(FObject)
};

extern "C" {
SMTG_EXPORT_SYMBOL Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory();
SMTG_EXPORT_SYMBOL bool InitModule();
SMTG_EXPORT_SYMBOL bool DeinitModule();
// The Linux entry pair: the first entry runs InitModule, the exit that balances the last entry
// runs DeinitModule; an exit without an entry is refused.
SMTG_EXPORT_SYMBOL bool ModuleEntry(void* sharedLibraryHandle);
SMTG_EXPORT_SYMBOL bool ModuleExit();
}
