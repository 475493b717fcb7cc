#include "vst3/Metadata.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace nks::metadata {

using namespace v1;
using parameter_descriptive_info::Attributes;
using parameter_descriptive_info::Style;
using parameter_descriptive_info::Type;

std::string utilities::stringFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length < 1) {
        va_end(again);
        throw std::runtime_error("Formatting error");
    }
    std::string text(size_t(length) + 1, '\0');
    vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.resize(size_t(length));
    return text;
}

namespace {

using utilities::stringFormat;

bool isDiscrete(const Attributes& a)
{
    return a.type == Type::Discrete || a.type == Type::DiscreteBipolar;
}

int count(const Attributes& a)
{
    return int(a.valueCount);
}

int size(const Attributes& a)
{
    return int(a.displayValues.size());
}

bool invalidStyleValidation(const Attributes& a)
{
    const auto s = uint8_t(a.style);
    if (s == 0 || s == 2)
        return false;
    switch (a.type) {
    case Type::Continuous:
    case Type::ContinuousBipolar:
        return s != 1;
    case Type::Toggle:
        return s != 3 && s != 4;
    case Type::Discrete:
        return s < 5 || s > 7;
    default:
        return true;
    }
}

bool hasNoValueCountValidation(const Attributes& a)
{
    return isDiscrete(a) && a.valueCount == 0 && a.displayValues.empty();
}

bool hasInconsistentValueCountValidation(const Attributes& a)
{
    return isDiscrete(a) && a.valueCount != 0 && !a.displayValues.empty() &&
        a.displayValues.size() != a.valueCount;
}

bool violatesDiscreteLowerBoundValidation(const Attributes& a)
{
    const size_t n = a.displayValues.size();
    return isDiscrete(a) && ((a.valueCount >= 1 && a.valueCount <= 2) || (n >= 1 && n <= 2));
}

bool violatesDiscreteUpperBoundValidation(const Attributes& a)
{
    return isDiscrete(a) && (a.valueCount > 128 || a.displayValues.size() > 128);
}

bool missingDisplayValuesForIconStyleParameterValidation(const Attributes& a)
{
    const bool icons = a.style == Style::WaveIcons || a.style == Style::FilterIcons;
    return icons && a.displayValues.empty();
}

struct Rule {
    bool (*fails)(const Attributes&);
    Result (*result)(uint32_t id, const Attributes&);
};

// Tried in this order, each over the whole map.
const Rule kRules[] = {
    {invalidStyleValidation,
     [](uint32_t id, const Attributes& a) {
         return Result{
             Result::kIncompatibleStyle,
             stringFormat("Parameter Descriptive Information: Attributes for parameter id "
                          "'%d' define an incompatible style '%d' for the given "
                          "parameter type '%d'",
                          int(id), int(a.style), int(a.type))};
     }},
    {hasNoValueCountValidation,
     [](uint32_t id, const Attributes&) {
         return Result{
             Result::kNoValueCount,
             stringFormat("Parameter Descriptive Information: Attributes for parameter id "
                          "'%d' define it as a discrete parameter type, but 'display "
                          "values' is empty and 'value count' is set to `0`",
                          int(id))};
     }},
    {hasInconsistentValueCountValidation,
     [](uint32_t id, const Attributes& a) {
         return Result{
             Result::kInconsistentValueCount,
             stringFormat("Parameter Descriptive Information: Attributes for parameter id "
                          "'%d' define a 'value count' '%d' that does not match the "
                          "defined 'display values' size '%d'",
                          int(id), count(a), size(a))};
     }},
    {violatesDiscreteLowerBoundValidation,
     [](uint32_t id, const Attributes& a) {
         return Result{
             Result::kTooFewValues,
             stringFormat("Parameter Descriptive Information: Attributes for parameter id "
                          "'%d' define a 'value count' of '%d' and 'display values' of "
                          "size '%d' of which at least one is less than '3'. Please "
                          "consider either using a toggle parameter type instead or "
                          "increasing the defined 'value count'/'display values'",
                          int(id), count(a), size(a))};
     }},
    {violatesDiscreteUpperBoundValidation,
     [](uint32_t id, const Attributes& a) {
         return Result{
             Result::kTooManyValues,
             stringFormat("Parameter Descriptive Information: Attributes for parameter id "
                          "'%d' define a 'value count' of '%d' and 'display values' of "
                          "size '%d' of which at least one is greater than '128'. Please "
                          "consider either using a toggle parameter type instead or "
                          "increasing the defined 'valuecount'/'display values'",
                          int(id), count(a), size(a))};
     }},
    {missingDisplayValuesForIconStyleParameterValidation,
     [](uint32_t id, const Attributes& a) {
         return Result{
             Result::kIconStyleWithoutValues,
             stringFormat("Parameter Descriptive Information: Attribute for parameter id "
                          "'%d' defines style '%d' but no display values",
                          int(id), int(a.style))};
     }},
};

bool hasValidParameter(const parameter_navigation::Section& section)
{
    for (const auto& p : section.parameters)
        if (p.id != parameter_navigation::kNoParameter)
            return true;
    return false;
}

// The first parameter of the section whose id the attributes do not define, or null.
const parameter_navigation::Parameter* undefinedParameter(const parameter_navigation::Section& section,
                                                          const Metadata& metadata)
{
    for (const auto& p : section.parameters)
        if (p.id != parameter_navigation::kNoParameter && !metadata.parameterDescriptiveInfo.count(p.id))
            return &p;
    return nullptr;
}

Result validateNavigation(const Metadata& metadata)
{
    const parameter_navigation::Data& navigation = metadata.parameterNavigation;
    if (navigation.performanceMode.empty())
        return {Result::kNoPerformanceMode,
                "Parameter navigation: The Performance Mode is undefined"};

    for (size_t g = 0; g < navigation.groups.size(); ++g)
        if (navigation.groups[g].name.empty())
            return {Result::kUnnamedGroup,
                    stringFormat("Parameter navigation: Undefined name for group at index '%d' "
                                 "(0-based)",
                                 int(g))};

    for (size_t s = 0; s < navigation.performanceMode.size(); ++s) {
        const auto& section = navigation.performanceMode[s];
        if (section.name.empty())
            return {Result::kUnnamedSection,
                    stringFormat("Parameter navigation: Undefined name for section at index '%d' "
                                 "(0-based) in Performance Mode",
                                 int(s))};
        if (!hasValidParameter(section))
            return {Result::kNoValidParameter,
                    stringFormat("Parameter navigation: Section '%s' in Performance Mode does not "
                                 "define any parameter with a valid id",
                                 section.name.c_str())};
    }

    for (const auto& group : navigation.groups)
        for (size_t s = 0; s < group.sections.size(); ++s) {
            const auto& section = group.sections[s];
            if (section.name.empty())
                return {Result::kUnnamedSection,
                        stringFormat("Parameter navigation: Undefined name for section at index "
                                     "'%d' (0-based) of group '%s'",
                                     int(s), group.name.c_str())};
            if (!hasValidParameter(section))
                return {Result::kNoValidParameter,
                        stringFormat("Parameter navigation: Section '%s' in group '%s' does not "
                                     "define any parameter with a valid id",
                                     section.name.c_str(), group.name.c_str())};
        }

    for (const auto& section : navigation.performanceMode)
        if (const auto* p = undefinedParameter(section, metadata))
            return {Result::kUndefinedParameter,
                    stringFormat("Parameter navigation: Section '%s' in Performance Mode: no parameter "
                                 "for id %u",
                                 section.name.c_str(), p->id)};
    for (const auto& group : navigation.groups)
        for (const auto& section : group.sections)
            if (const auto* p = undefinedParameter(section, metadata))
                return {Result::kUndefinedParameter,
                        stringFormat("Parameter navigation: Section '%s' in group '%s': no parameter "
                                     "for id %u",
                                     section.name.c_str(), group.name.c_str(), p->id)};

    return {};
}

}  // namespace

Result validate(const Metadata& metadata)
{
    for (const Rule& rule : kRules)
        for (const auto& [id, attributes] : metadata.parameterDescriptiveInfo)
            if (rule.fails(attributes))
                return rule.result(id, attributes);
    return validateNavigation(metadata);
}

}  // namespace nks::metadata
