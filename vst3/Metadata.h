#pragma once
// NKS metadata: how each parameter is shown to an NKS host and how parameters are laid out on
// pages, with its validation and its MessagePack form.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace nks {

// Interface ids as the four 32-bit words of their FUID, in declaration order.
using InterfaceId = std::array<uint32_t, 4>;
inline constexpr InterfaceId kINKS1PluginIID = {0x4E93AF45, 0xA4904C68, 0xBF41B535, 0x443028AE};
inline constexpr InterfaceId kINKS1HostIID = {0x66CE0222, 0xEF124867, 0xA29B88E1, 0xF6565E61};
inline constexpr InterfaceId kINKSMetadataPluginIID = {0x5F2E1675, 0x46C24B61, 0x87684487,
                                                       0x53E4FD07};

namespace metadata::v1 {

namespace parameter_descriptive_info {

// Any 8-bit value can be stored; validation rejects the ones it does not know.
enum class Type : uint8_t {
    Continuous = 0,
    ContinuousBipolar = 1,  // negative minimum
    Toggle = 2,
    Discrete = 3,
    DiscreteBipolar = 4,  // negative minimum
};

enum class Style : uint8_t {
    Default = 0,      // any type
    Knob = 1,         // continuous
    Generic = 2,      // any type
    OnOff = 3,        // toggle
    Toggle = 4,       // toggle
    Menu = 5,         // discrete
    WaveIcons = 6,    // discrete, needs display values
    FilterIcons = 7,  // discrete, needs display values
};

struct Attributes {
    Attributes(Type type, Style style, uint32_t valueCount)
        : type(type), style(style), valueCount(valueCount)
    {
    }
    Attributes(Type type, Style style, std::vector<std::string> displayValues)
        : type(type), style(style), valueCount(uint32_t(displayValues.size())),
          displayValues(std::move(displayValues))
    {
    }
    bool operator==(const Attributes&) const = default;

    Type type;
    Style style;
    uint32_t valueCount;
    std::vector<std::string> displayValues;
};

namespace display_values {
extern const std::vector<std::string> waveform;
extern const std::vector<std::string> filter_type;
}  // namespace display_values

}  // namespace parameter_descriptive_info

namespace parameter_navigation {

inline constexpr uint32_t kNoParameter = 0xFFFFFFFF;

struct Parameter {
    Parameter(uint32_t id, std::string name) : id(id), name(std::move(name)) {}
    bool operator==(const Parameter&) const = default;

    uint32_t id;
    std::string name;
};

struct Section {
    bool operator==(const Section&) const = default;

    std::string name;
    std::vector<Parameter> parameters;
};

struct Group {
    bool operator==(const Group&) const = default;

    std::string name;
    std::vector<Section> sections;
};

struct Data {
    bool operator==(const Data&) const = default;

    std::vector<Section> performanceMode;
    std::vector<Group> groups;
};

}  // namespace parameter_navigation

struct Metadata {
    bool operator==(const Metadata&) const = default;

    std::unordered_map<uint32_t, parameter_descriptive_info::Attributes> parameterDescriptiveInfo;
    parameter_navigation::Data parameterNavigation;
};

struct Result {
    enum Id : int32_t {
        kValid = 0,
        kIncompatibleStyle = 2,
        kNoValueCount = 3,
        kInconsistentValueCount = 4,
        kTooFewValues = 5,
        kTooManyValues = 6,
        kIconStyleWithoutValues = 7,
        kNoPerformanceMode = 9,
        kUnnamedGroup = 10,
        kUnnamedSection = 11,
        kNoValidParameter = 12,
        kUndefinedParameter = 13,  // a navigation id without an attributes entry
    };

    bool operator==(const Result&) const = default;

    Id id = kValid;
    std::string message;
};

}  // namespace metadata::v1

namespace metadata {

// The first rule the metadata breaks, with its message; id 0 and no message when it is valid.
// Throws only std::runtime_error "Formatting error".
v1::Result validate(const v1::Metadata& metadata);

// Validates, then appends the MessagePack document to bytes; bytes stay as they were unless the
// result is valid.
v1::Result writeVANTOR(const v1::Metadata& metadata, std::vector<unsigned char>& bytes);

namespace utilities {
// printf into a new string; throws std::runtime_error "Formatting error" for an empty result.
std::string stringFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace utilities

}  // namespace metadata

}  // namespace nks
