#pragma once
// The compatibility interface through which a host learns which older plug-in identifiers a
// plug-in replaces. The SDK subset on this system lacks it; the layout and id are the VST3 ones.

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/base/ibstream.h>

namespace Steinberg {

class IPluginCompatibility : public FUnknown
{
public:
    // Writes the compatibility JSON text to the stream.
    virtual tresult PLUGIN_API getCompatibilityJSON(IBStream* stream) = 0;

    static const FUID iid;
};

DECLARE_CLASS_IID(IPluginCompatibility, 0x4AFD4B6A, 0x35D7C240, 0xA5C31414, 0xFB7D15E6)

// The factory category of the class that implements it.
inline constexpr const char* kPluginCompatibilityClass = "Plugin Compatibility Class";

}  // namespace Steinberg
