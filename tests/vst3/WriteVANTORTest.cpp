#include "vst3/Metadata.h"

#include "MsgpackText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using namespace nks::metadata;
using namespace nks::metadata::v1;
using parameter_descriptive_info::Attributes;
using parameter_descriptive_info::Style;
using parameter_descriptive_info::Type;
using parameter_navigation::Group;
using parameter_navigation::Parameter;
using parameter_navigation::Section;
using Bytes = std::vector<unsigned char>;
using Strings = std::vector<std::string>;

constexpr uint32_t kNone = parameter_navigation::kNoParameter;

Metadata fixture()
{
    Metadata m;
    m.parameterDescriptiveInfo.emplace(1, Attributes(Type::Toggle, Style::OnOff, 0u));
    m.parameterDescriptiveInfo.emplace(
        40, Attributes(Type::Discrete, Style::Menu, Strings{"a", "b", "c"}));
    m.parameterDescriptiveInfo.emplace(70000,
                                       Attributes(Type::DiscreteBipolar, Style::Generic, 128u));
    m.parameterNavigation.performanceMode = {
        Section{"Filter", {Parameter(40, "1ToFil"), Parameter(kNone, "")}}};
    m.parameterNavigation.groups = {Group{"Osc1", {Section{"Osc1", {Parameter(1, "Active")}}}},
                                    Group{"Bare", {}}};
    return m;
}

bool contains(const Bytes& bytes, const Bytes& part)
{
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

TEST(WriteVANTOR, DocumentDecodesToTheMetadata)
{
    Bytes bytes;
    EXPECT_EQ(writeVANTOR(fixture(), bytes), (Result{Result::kValid, ""}));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0], 0x83);
    EXPECT_EQ(msgpack_text::decode(bytes),
              "{\"parameter_descriptive_info\":{"
              "1:{\"display_values\":[],\"style\":3,\"type\":2,\"value_count\":0},"
              "40:{\"display_values\":[\"a\",\"b\",\"c\"],\"style\":5,\"type\":3,"
              "\"value_count\":3},"
              "70000:{\"display_values\":[],\"style\":2,\"type\":4,\"value_count\":128}},"
              "\"parameter_navigation\":{"
              "\"groups\":["
              "{\"name\":\"Osc1\",\"sections\":[{\"name\":\"Osc1\",\"parameters\":[{\"id\":1,"
              "\"name\":\"Active\"}]}]},"
              "{\"name\":\"Bare\",\"sections\":[]}],"
              "\"performance_mode\":[{\"name\":\"Filter\",\"parameters\":["
              "{\"id\":40,\"name\":\"1ToFil\"},{\"id\":4294967295,\"name\":\"\"}]}]},"
              "\"version\":1}");

    // Exact forms: the display values array, the attributes' integer keys, the all-ones id.
    const Bytes displayValues = {0xAE, 'd', 'i', 's', 'p', 'l', 'a', 'y', '_', 'v', 'a', 'l',
                                 'u', 'e', 's', 0x93, 0xA1, 'a', 0xA1, 'b', 0xA1, 'c'};
    EXPECT_TRUE(contains(bytes, displayValues));
    EXPECT_TRUE(contains(bytes, {0xCE, 0x00, 0x01, 0x11, 0x70, 0x84}));  // key 70000, 4 entries
    EXPECT_TRUE(contains(bytes, {0xA2, 'i', 'd', 0xCE, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(contains(bytes, {0xA7, 'v', 'e', 'r', 's', 'i', 'o', 'n', 0x01}));
}

TEST(WriteVANTOR, RootHasThreeEntriesWhateverTheMetadataHolds)
{
    Metadata m;
    m.parameterDescriptiveInfo.emplace(0, Attributes(Type::Continuous, Style::Default, 0u));
    m.parameterNavigation.performanceMode = {Section{"Main", {Parameter(0, "")}}};
    Bytes bytes;
    ASSERT_EQ(writeVANTOR(m, bytes).id, Result::kValid);
    EXPECT_EQ(bytes[0], 0x83);
    EXPECT_EQ(msgpack_text::decode(bytes),
              "{\"parameter_descriptive_info\":{0:{\"display_values\":[],\"style\":0,\"type\":0,"
              "\"value_count\":0}},\"parameter_navigation\":{\"groups\":[],"
              "\"performance_mode\":[{\"name\":\"Main\",\"parameters\":[{\"id\":0,"
              "\"name\":\"\"}]}]},"
              "\"version\":1}");
}

TEST(WriteVANTOR, AppendsAfterWhatTheBytesHold)
{
    Bytes bytes = {0xAA, 0xBB};
    ASSERT_EQ(writeVANTOR(fixture(), bytes).id, Result::kValid);
    Bytes alone;
    writeVANTOR(fixture(), alone);
    ASSERT_EQ(bytes.size(), alone.size() + 2);
    EXPECT_EQ(bytes[0], 0xAA);
    EXPECT_EQ(bytes[1], 0xBB);
    EXPECT_NE(msgpack_text::decode(bytes, 2), "<error>");
}

TEST(WriteVANTOR, InvalidMetadataLeavesTheBytes)
{
    const Bytes before = {1, 2, 3};
    Metadata noPerformance = fixture();
    noPerformance.parameterNavigation.performanceMode.clear();
    Metadata badStyle = fixture();
    badStyle.parameterDescriptiveInfo.emplace(5, Attributes(Type::Toggle, Style::Menu, 0u));

    Bytes bytes = before;
    EXPECT_EQ(writeVANTOR(noPerformance, bytes),
              (Result{Result::kNoPerformanceMode,
                      "Parameter navigation: The Performance Mode is undefined"}));
    EXPECT_EQ(bytes, before);
    EXPECT_EQ(writeVANTOR(badStyle, bytes), validate(badStyle));
    EXPECT_EQ(validate(badStyle).id, Result::kIncompatibleStyle);
    EXPECT_EQ(bytes, before);
}

// Random metadata of every shape: a result every time, bytes only when valid, and then a whole
// document whose attribute map has an entry per parameter.
TEST(WriteVANTOR, RandomSweep)
{
    const uint32_t seed = 43;
    std::mt19937 rng(seed);
    const auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    const auto name = [&]() {
        static const size_t kLengths[] = {0, 1, 5, 31, 32, 255, 256};
        const size_t length = pick(1000) == 0 ? 70000 : kLengths[pick(std::size(kLengths))];
        return std::string(length, char('a' + pick(26)));
    };
    std::vector<uint32_t> described;
    // Slots mostly name described ids, now and then an undescribed one or none.
    const auto section = [&]() {
        Section s{pick(16) ? name() + "S" : "", {}};
        for (uint32_t n = pick(10) ? 1 + pick(3) : 0; n > 0; --n) {
            const uint32_t kind = pick(16);
            const uint32_t id = kind < 4 ? kNone
                : kind == 4 || described.empty() ? pick(300)
                : described[pick(uint32_t(described.size()))];
            s.parameters.emplace_back(id, name());
        }
        return s;
    };

    size_t valid = 0;
    for (int round = 0; round < 3000; ++round) {
        Metadata m;
        for (uint32_t n = pick(5); n > 0; --n) {
            const auto type = Type(pick(4) ? pick(5) : pick(256));
            const auto style = Style(pick(4) == 0 ? pick(256) : pick(2) ? pick(8) : 2 * pick(2));
            static const uint32_t kCounts[] = {0, 0, 1, 2, 3, 4, 64, 128, 129, 100000, 0xFFFFFFFF};
            Strings values;
            if (pick(2))
                for (uint32_t v = pick(3) ? pick(6) : 126 + pick(5); v > 0; --v)
                    values.push_back(name());
            Attributes a(type, style, std::move(values));
            if (pick(2))
                a.valueCount = kCounts[pick(std::size(kCounts))];
            m.parameterDescriptiveInfo.emplace(pick(3) ? pick(256) : rng(), std::move(a));
        }
        described.clear();
        for (const auto& entry : m.parameterDescriptiveInfo)
            described.push_back(entry.first);
        for (uint32_t n = pick(8) ? 1 + pick(2) : 0; n > 0; --n)
            m.parameterNavigation.performanceMode.push_back(section());
        for (uint32_t n = pick(4); n > 0; --n) {
            Group g{pick(16) ? name() + "G" : "", {}};
            for (uint32_t k = pick(3); k > 0; --k)
                g.sections.push_back(section());
            m.parameterNavigation.groups.push_back(std::move(g));
        }

        Bytes bytes = {0x5A};
        Result r;
        ASSERT_NO_THROW(r = writeVANTOR(m, bytes)) << "seed " << seed << " round " << round;
        EXPECT_EQ(r, validate(m));
        if (r.id != Result::kValid) {
            EXPECT_FALSE(r.message.empty());
            EXPECT_EQ(bytes, Bytes{0x5A}) << "round " << round;
            continue;
        }
        ++valid;
        EXPECT_TRUE(r.message.empty());
        ASSERT_GT(bytes.size(), 1u);
        EXPECT_EQ(bytes[1], 0x83);
        const std::string text = msgpack_text::decode(bytes, 1);
        ASSERT_NE(text, "<error>") << "round " << round;
        // One attributes entry per parameter: count the "type" keys.
        size_t types = 0;
        for (size_t at = text.find("\"type\":"); at != std::string::npos;
             at = text.find("\"type\":", at + 1))
            ++types;
        EXPECT_EQ(types, m.parameterDescriptiveInfo.size()) << "round " << round;
    }
    EXPECT_GT(valid, 100u) << "the sweep should reach the writer";
}

}  // namespace
