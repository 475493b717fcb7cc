#include "vst3/Metadata.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using namespace nks::metadata;
using namespace nks::metadata::v1;
using parameter_descriptive_info::Attributes;
using parameter_descriptive_info::Style;
using parameter_descriptive_info::Type;
using parameter_navigation::Group;
using parameter_navigation::Parameter;
using parameter_navigation::Section;
using Strings = std::vector<std::string>;

constexpr uint32_t kNone = parameter_navigation::kNoParameter;

// Valid navigation: a performance mode of one section "Main" holding parameter 0, a toggle.
Metadata valid()
{
    Metadata m;
    m.parameterDescriptiveInfo.emplace(0, Attributes(Type::Toggle, Style::Default, 0u));
    m.parameterNavigation.performanceMode = {Section{"Main", {Parameter(0, "Cutoff")}}};
    return m;
}

Metadata withAttributes(const Attributes& a, uint32_t id = 1)
{
    Metadata m = valid();
    m.parameterDescriptiveInfo.emplace(id, a);
    return m;
}

Attributes attributes(int type, int style, uint32_t count, const Strings& values = {})
{
    Attributes a(Type(type), Style(style), values);
    a.valueCount = count;
    return a;
}

Strings names(size_t n)
{
    Strings v;
    for (size_t i = 0; i < n; ++i)
        v.push_back("v" + std::to_string(i));
    return v;
}

TEST(NksValidate, OnePerformanceSectionOnADescribedParameterIsValid)
{
    EXPECT_EQ(validate(valid()), (Result{Result::kValid, ""}));
    Metadata undescribed = valid();
    undescribed.parameterDescriptiveInfo.clear();
    EXPECT_EQ(validate(undescribed),
              (Result{Result::kUndefinedParameter,
                      "Parameter navigation: Section 'Main' in Performance Mode: no parameter for id 0"}));
}

TEST(NksValidate, AttributeRules)
{
    const struct {
        int type, style;
        uint32_t count;
        Strings values;
        int want;
    } kCases[] = {
        {2, 3, 0, {}, 0},     // toggle with its own style
        {2, 4, 0, {}, 0},
        {2, 5, 0, {}, 2},     // toggle with a discrete style
        {0, 1, 0, {}, 0},     // continuous with its own style
        {1, 1, 0, {}, 0},
        {1, 3, 0, {}, 2},
        {3, 5, 3, {}, 0},
        {3, 7, 0, {"a", "b", "c"}, 0},
        {4, 5, 3, {}, 2},     // negative-minimum discrete takes only 0 or 2
        {5, 1, 0, {}, 2},     // unknown types take only 0 or 2
        {255, 0, 0, {}, 0},
        {3, 2, 2, {}, 5},     // count 2
        {3, 2, 1, {}, 5},
        {3, 2, 3, {}, 0},
        {3, 2, 128, {}, 0},
        {3, 2, 129, {}, 6},
        {4, 2, 129, {}, 6},
        {3, 2, 0, {"a", "b", "c"}, 0},
        {3, 2, 0, {}, 3},     // discrete with neither count nor values
        {4, 0, 0, {}, 3},
        {3, 2, 0, {"a"}, 5},
        {3, 2, 0, {"a", "b"}, 5},
        {3, 2, 0, names(128), 0},
        {3, 2, 0, names(129), 6},
        {3, 2, 129, names(129), 6},
        {3, 2, 4, {"a", "b", "c"}, 4},  // mismatch wins over the bounds
        {3, 2, 2, {"a", "b", "c"}, 4},
        {3, 2, 200, names(129), 4},
        {3, 6, 5, {}, 7},     // icon style without names
        {3, 7, 5, {}, 7},
        {3, 6, 0, {"a", "b", "c"}, 0},
        {2, 3, 7, {}, 0},     // counts of non-discrete types are not checked
        {0, 2, 1, {"x"}, 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(validate(withAttributes(attributes(c.type, c.style, c.count, c.values))).id,
                  c.want)
            << "type " << c.type << " style " << c.style << " count " << c.count << " values "
            << c.values.size();
}

TEST(NksValidate, StylesZeroAndTwoSuitEveryType)
{
    for (int type = 0; type <= 4; ++type)
        for (int style : {0, 2}) {
            const uint32_t count = type >= 3 ? 3 : 0;
            EXPECT_EQ(validate(withAttributes(attributes(type, style, count))).id, 0)
                << "type " << type << " style " << style;
        }
}

TEST(NksValidate, AttributeMessages)
{
    EXPECT_EQ(validate(withAttributes(attributes(2, 5, 0))).message,
              "Parameter Descriptive Information: Attributes for parameter id '1' define an "
              "incompatible style '5' for the given parameter type '2'");
    EXPECT_EQ(validate(withAttributes(attributes(3, 2, 4, {"a", "b", "c"}), 9)).message,
              "Parameter Descriptive Information: Attributes for parameter id '9' define a 'value "
              "count' '4' that does not match the defined 'display values' size '3'");
    EXPECT_EQ(validate(withAttributes(attributes(3, 2, 0, {"a", "b"}), 300)).message,
              "Parameter Descriptive Information: Attributes for parameter id '300' define a "
              "'value count' of '0' and 'display values' of size '2' of which at least one is less "
              "than '3'. Please consider either using a toggle parameter type instead or "
              "increasing the defined 'value count'/'display values'");
    EXPECT_EQ(validate(withAttributes(attributes(3, 6, 5), 22)).message,
              "Parameter Descriptive Information: Attribute for parameter id '22' defines style "
              "'6' but no display values");
}

// The earlier rule in the table wins, whichever entry the map visits first.
TEST(NksValidate, EarlierRuleWinsWhateverTheMapOrder)
{
    for (uint32_t first = 0; first < 40; ++first)
        for (bool styleFirst : {false, true}) {
            const uint32_t upperId = first, styleId = first + 1000;
            Metadata m = valid();
            const Attributes upper = attributes(3, 2, 200);  // rule 5
            const Attributes style = attributes(0, 7, 0);    // rule 1
            if (styleFirst) {
                m.parameterDescriptiveInfo.emplace(styleId, style);
                m.parameterDescriptiveInfo.emplace(upperId, upper);
            } else {
                m.parameterDescriptiveInfo.emplace(upperId, upper);
                m.parameterDescriptiveInfo.emplace(styleId, style);
            }
            for (uint32_t filler = 2000; filler < 2000 + first % 7; ++filler)
                m.parameterDescriptiveInfo.emplace(filler, attributes(2, 3, 0));
            const Result r = validate(m);
            EXPECT_EQ(r.id, 2) << first;
            EXPECT_NE(r.message.find("id '" + std::to_string(styleId) + "'"), std::string::npos);
        }
}

TEST(NksValidate, NavigationRules)
{
    const auto G = [](std::string name, std::vector<Section> sections) {
        return Group{std::move(name), std::move(sections)};
    };
    const Section named{"S", {Parameter(3, "")}};  // parameter names are not checked
    const Section allNone{"Empty", {Parameter(kNone, "a"), Parameter(kNone, "b")}};
    const Section unnamed{"", {Parameter(1, "x")}};

    const struct {
        const char* what;
        std::vector<Section> performance;
        std::vector<Group> groups;
        Result want;
    } kCases[] = {
        {"no performance mode, bad groups too", {}, {G("", {unnamed})},
         {Result::kNoPerformanceMode, "Parameter navigation: The Performance Mode is undefined"}},
        {"performance section of no valid id", {allNone}, {},
         {Result::kNoValidParameter, "Parameter navigation: Section 'Empty' in Performance Mode "
                                     "does not define any parameter with a valid id"}},
        {"performance section without parameters", {Section{"Bare", {}}}, {},
         {Result::kNoValidParameter, "Parameter navigation: Section 'Bare' in Performance Mode "
                                     "does not define any parameter with a valid id"}},
        {"unnamed group before unnamed performance section", {unnamed}, {G("G", {}), G("", {})},
         {Result::kUnnamedGroup,
          "Parameter navigation: Undefined name for group at index '1' (0-based)"}},
        {"unnamed second performance section", {named, unnamed}, {G("G", {allNone})},
         {Result::kUnnamedSection, "Parameter navigation: Undefined name for section at index "
                                   "'1' (0-based) in Performance Mode"}},
        {"unnamed section of a group", {named}, {G("G", {unnamed})},
         {Result::kUnnamedSection, "Parameter navigation: Undefined name for section at index "
                                   "'0' (0-based) of group 'G'"}},
        {"group section of no valid id", {named}, {G("A", {named}), G("B", {named, allNone})},
         {Result::kNoValidParameter, "Parameter navigation: Section 'Empty' in group 'B' does "
                                     "not define any parameter with a valid id"}},
        {"group without sections", {named}, {G("G", {})}, {}},
        {"a valid id among empty slots", {Section{"P", {Parameter(kNone, ""), Parameter(7, "")}}},
         {G("G", {named})}, {}},
        {"performance slot of an undescribed id", {Section{"P", {Parameter(3, ""), Parameter(9, "x")}}},
         {G("G", {named})},
         {Result::kUndefinedParameter,
          "Parameter navigation: Section 'P' in Performance Mode: no parameter for id 9"}},
        {"group slot of an undescribed id", {named},
         {G("G", {named}), G("H", {named, Section{"T", {Parameter(kNone, ""), Parameter(4000000000u, "")}}})},
         {Result::kUndefinedParameter,
          "Parameter navigation: Section 'T' in group 'H': no parameter for id 4000000000"}},
        {"the other navigation rules come first", {Section{"P", {Parameter(9, "")}}},
         {G("G", {named, allNone})},
         {Result::kNoValidParameter, "Parameter navigation: Section 'Empty' in group 'G' does "
                                     "not define any parameter with a valid id"}},
    };
    for (const auto& c : kCases) {
        Metadata m;
        for (uint32_t id : {1u, 3u, 7u})
            m.parameterDescriptiveInfo.emplace(id, Attributes(Type::Toggle, Style::Default, 0u));
        m.parameterNavigation.performanceMode = c.performance;
        m.parameterNavigation.groups = c.groups;
        EXPECT_EQ(validate(m), c.want) << c.what;
    }
}

TEST(NksValidate, AttributesAreCheckedBeforeNavigation)
{
    Metadata m = withAttributes(attributes(3, 2, 0));
    m.parameterNavigation.performanceMode.clear();
    EXPECT_EQ(validate(m).id, 3);
}

TEST(NksValidate, StringFormat)
{
    using utilities::stringFormat;
    const char* empty = "";  // through a variable: the literal is a format warning
    try {
        stringFormat(empty);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Formatting error");
    }
    EXPECT_THROW(stringFormat("%s", ""), std::runtime_error);
    EXPECT_EQ(stringFormat("%d '%s' %d", -1, "G", 255), "-1 'G' 255");
    const std::string longText(5000, 'x');
    EXPECT_EQ(stringFormat("<%s>", longText.c_str()), "<" + longText + ">");
}

TEST(NksValidate, ResultEquality)
{
    const Result a{Result::kUnnamedGroup, "m"};
    EXPECT_TRUE(a == (Result{Result::kUnnamedGroup, "m"}));
    EXPECT_FALSE(a != (Result{Result::kUnnamedGroup, "m"}));
    EXPECT_TRUE(a != (Result{Result::kUnnamedGroup, "n"}));
    EXPECT_TRUE(a != (Result{Result::kUnnamedSection, "m"}));
}

TEST(NksMetadataModel, EqualityComparesEveryField)
{
    const Attributes a(Type::Discrete, Style::Menu, Strings{"a", "b", "c"});
    EXPECT_EQ(a.valueCount, 3u);
    EXPECT_EQ(a, attributes(3, 5, 3, {"a", "b", "c"}));
    EXPECT_NE(a, attributes(3, 5, 3, {"a", "b", "d"}));
    EXPECT_NE(a, attributes(3, 5, 4, {"a", "b", "c"}));
    EXPECT_NE(a, attributes(3, 6, 3, {"a", "b", "c"}));
    EXPECT_NE(a, attributes(4, 5, 3, {"a", "b", "c"}));
    EXPECT_EQ(Attributes(Type::Toggle, Style::OnOff, 0u).displayValues.size(), 0u);

    EXPECT_NE(Parameter(1, "a"), Parameter(2, "a"));
    EXPECT_NE(Parameter(1, "a"), Parameter(1, "b"));
    Metadata m = withAttributes(a);
    Metadata n = m;
    EXPECT_EQ(m, n);
    n.parameterNavigation.performanceMode[0].parameters[0].name = "Res";
    EXPECT_NE(m, n);
    n = m;
    n.parameterNavigation.groups.push_back(Group{"G", {}});
    EXPECT_NE(m, n);
}

TEST(NksMetadataModel, DisplayValueLists)
{
    using namespace parameter_descriptive_info::display_values;
    ASSERT_EQ(waveform.size(), 21u);
    EXPECT_EQ(waveform.front(), "default");
    EXPECT_EQ(waveform[6], "triangle");
    EXPECT_EQ(waveform[10], "saw");
    EXPECT_EQ(waveform[14], "noise");
    EXPECT_EQ(waveform[15], "pwm");
    EXPECT_EQ(waveform.back(), "complex");
    ASSERT_EQ(filter_type.size(), 16u);
    EXPECT_EQ(filter_type[3], "lo_pass");
    EXPECT_EQ(filter_type.back(), "band_reject");
}

}  // namespace
