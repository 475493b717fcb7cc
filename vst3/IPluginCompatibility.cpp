#include "vst3/IPluginCompatibility.h"

namespace Steinberg {

DEF_CLASS_IID(IPluginCompatibility)

}  // namespace Steinberg
