#pragma once
// Key names of the NKS metadata document, each built once on first use.

#include <string>

namespace nks::metadata {

struct KeyValuePair {
    static const std::string& version();
    static const std::string& id();
    static const std::string& type();
    static const std::string& style();
    static const std::string& valueCount();
    static const std::string& displayValues();
    static const std::string& parameterDescriptiveInfo();
    static const std::string& name();  // of a parameter, a section and a group
    static const std::string& parameters();
    static const std::string& sections();
    static const std::string& performanceMode();
    static const std::string& groups();
    static const std::string& parameterNavigation();
};

}  // namespace nks::metadata
