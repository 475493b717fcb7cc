#include "vst3/KeyValuePair.h"
#include "vst3/Metadata.h"
#include "vst3/PMsgpack.h"

#include <utility>

namespace nks::metadata {

namespace {

using Key = KeyValuePair;

void put(pmsgstrmap&) {}

template <class... Rest>
void put(pmsgstrmap& map, const std::string& key, pmsgval&& value, Rest&&... rest)
{
    map.emplace(key, std::move(value));
    put(map, std::forward<Rest>(rest)...);
}

// A string-keyed map of (key, value, key, value...), the values moved in.
template <class... Entries>
pmsgval object(Entries&&... entries)
{
    pmsgstrmap map;
    map.reserve(sizeof...(Entries) / 2);
    put(map, std::forward<Entries>(entries)...);
    return pmsgval(std::move(map));
}

pmsgval sectionsValue(const std::vector<v1::parameter_navigation::Section>& sections)
{
    pmsgarray array;
    array.reserve(sections.size());
    for (const auto& section : sections) {
        pmsgarray parameters;
        parameters.reserve(section.parameters.size());
        for (const auto& p : section.parameters)
            parameters.push_back(object(Key::id(), pmsgval::ofUnsigned(p.id), Key::name(),
                                        pmsgval::ofString(p.name)));
        array.push_back(object(Key::name(), pmsgval::ofString(section.name), Key::parameters(),
                               pmsgval(std::move(parameters))));
    }
    return pmsgval(std::move(array));
}

pmsgval documentValue(const v1::Metadata& metadata)
{
    pmsgintmap attributes;
    attributes.reserve(metadata.parameterDescriptiveInfo.size());
    for (const auto& [id, a] : metadata.parameterDescriptiveInfo)
        attributes.emplace(id, object(Key::type(), pmsgval::ofUnsigned(uint32_t(a.type)),
                                      Key::style(), pmsgval::ofUnsigned(uint32_t(a.style)),
                                      Key::valueCount(), pmsgval::ofUnsigned(a.valueCount),
                                      Key::displayValues(), pmsgval(a.displayValues)));

    const auto& navigation = metadata.parameterNavigation;
    pmsgarray groups;
    groups.reserve(navigation.groups.size());
    for (const auto& group : navigation.groups)
        groups.push_back(object(Key::name(), pmsgval::ofString(group.name), Key::sections(),
                                sectionsValue(group.sections)));

    return object(Key::version(), pmsgval::ofUnsigned(1),
                  Key::parameterDescriptiveInfo(), pmsgval(std::move(attributes)),
                  Key::parameterNavigation(),
                  object(Key::performanceMode(), sectionsValue(navigation.performanceMode),
                         Key::groups(), pmsgval(std::move(groups))));
}

}  // namespace

v1::Result writeVANTOR(const v1::Metadata& metadata, std::vector<unsigned char>& bytes)
{
    v1::Result result = validate(metadata);
    if (result.id != v1::Result::kValid)
        return result;
    // Encoded apart first, so that a failure part-way leaves the caller's bytes as they were.
    pmsgbytes document;
    pmsgpack_push(document, documentValue(metadata));
    bytes.insert(bytes.end(), document.begin(), document.end());
    return result;
}

}  // namespace nks::metadata
