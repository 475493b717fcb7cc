#include "vst3/KeyValuePair.h"

#include "vst3/Metadata.h"

namespace nks::metadata {

#define NKS_KEY(function, text)                                                                   \
    const std::string& KeyValuePair::function()                                                   \
    {                                                                                             \
        static const std::string key(text);                                                       \
        return key;                                                                               \
    }

NKS_KEY(version, "version")
NKS_KEY(id, "id")
NKS_KEY(type, "type")
NKS_KEY(style, "style")
NKS_KEY(valueCount, "value_count")
NKS_KEY(displayValues, "display_values")
NKS_KEY(parameterDescriptiveInfo, "parameter_descriptive_info")
NKS_KEY(name, "name")
NKS_KEY(parameters, "parameters")
NKS_KEY(sections, "sections")
NKS_KEY(performanceMode, "performance_mode")
NKS_KEY(groups, "groups")
NKS_KEY(parameterNavigation, "parameter_navigation")

#undef NKS_KEY

}  // namespace nks::metadata

namespace nks::metadata::v1::parameter_descriptive_info::display_values {

const std::vector<std::string> waveform = {
    "default",   "sine",      "square",    "square2",    "square3",    "square4",    "triangle",
    "triangle2", "triangle3", "triangle4", "saw",        "saw2",       "saw3",       "saw4",
    "noise",     "pwm",       "wavetable", "wavetable2", "wavetable3", "wavetable4", "complex"};

const std::vector<std::string> filter_type = {
    "default", "hi_pass", "resonant_hi_pass", "lo_pass", "resonant_lo_pass", "band_pass",
    "all_pass", "bell", "prop_q", "band_shelf", "analog_lo_shelf", "analog_hi_shelf",
    "baxandall_lo_shelf", "baxandall_hi_shelf", "comb", "band_reject"};

}  // namespace nks::metadata::v1::parameter_descriptive_info::display_values
