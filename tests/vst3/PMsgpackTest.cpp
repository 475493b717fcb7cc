#include "vst3/PMsgpack.h"

#include "MsgpackText.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace nks::metadata;
using Bytes = std::vector<unsigned char>;

Bytes packed(const std::function<void(Bytes&)>& write)
{
    Bytes bytes;
    write(bytes);
    return bytes;
}

Bytes prefix(const Bytes& bytes, size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + std::min(n, bytes.size()));
}

TEST(PMsgpack, Scalars)
{
    const struct {
        Bytes got, want;
        const char* decoded;  // by msgpack-c
    } kCases[] = {
        {packed([](Bytes& b) { pmsgpack(b, 0u); }), {0x00}, "0"},
        {packed([](Bytes& b) { pmsgpack(b, 5u); }), {0x05}, "5"},
        {packed([](Bytes& b) { pmsgpack(b, 127u); }), {0x7F}, "127"},
        {packed([](Bytes& b) { pmsgpack(b, 128u); }), {0xCD, 0x00, 0x80}, "128"},  // no uint 8
        {packed([](Bytes& b) { pmsgpack(b, 200u); }), {0xCD, 0x00, 0xC8}, "200"},
        {packed([](Bytes& b) { pmsgpack(b, 65535u); }), {0xCD, 0xFF, 0xFF}, "65535"},
        {packed([](Bytes& b) { pmsgpack(b, 65536u); }), {0xCE, 0x00, 0x01, 0x00, 0x00}, "65536"},
        {packed([](Bytes& b) { pmsgpack(b, 70000u); }), {0xCE, 0x00, 0x01, 0x11, 0x70}, "70000"},
        {packed([](Bytes& b) { pmsgpack(b, 0xFFFFFFFFu); }), {0xCE, 0xFF, 0xFF, 0xFF, 0xFF},
         "4294967295"},
        {packed([](Bytes& b) { pmsgpack(b, 5); }), {0xD2, 0x00, 0x00, 0x00, 0x05}, "5"},
        {packed([](Bytes& b) { pmsgpack(b, -1); }), {0xD2, 0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
        {packed([](Bytes& b) { pmsgpack(b, int32_t(-2147483647 - 1)); }),
         {0xD2, 0x80, 0x00, 0x00, 0x00}, "-2147483648"},
        {packed([](Bytes& b) { pmsgpack(b, 1.0f); }), {0xCA, 0x3F, 0x80, 0x00, 0x00}, "1f"},
        {packed([](Bytes& b) { pmsgpack(b, -0.375f); }), {0xCA, 0xBE, 0xC0, 0x00, 0x00},
         "-0.375f"},
        {packed([](Bytes& b) { pmsgpack(b, false); }), {0xC2}, "false"},
        {packed([](Bytes& b) { pmsgpack(b, true); }), {0xC3}, "true"},
        {packed([](Bytes& b) { pmsgpack(b, "abc"); }), {0xA3, 0x61, 0x62, 0x63}, "\"abc\""},
        {packed([](Bytes& b) { pmsgpack(b, std::string("abc")); }), {0xA3, 0x61, 0x62, 0x63},
         "\"abc\""},
        {packed([](Bytes& b) { pmsgpack(b, std::string()); }), {0xA0}, "\"\""},
        {packed([](Bytes& b) { pmsgpack(b, std::string("a\0b", 3)); }), {0xA3, 0x61, 0x00, 0x62},
         "\"a\\x00b\""},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        EXPECT_EQ(kCases[i].got, kCases[i].want) << "case " << i;
        EXPECT_EQ(msgpack_text::decode(kCases[i].got), kCases[i].decoded) << "case " << i;
    }
}

TEST(PMsgpack, StringLengthForms)
{
    const struct {
        size_t length;
        Bytes head;
    } kCases[] = {
        {31, {0xBF}},
        {32, {0xD9, 0x20}},
        {255, {0xD9, 0xFF}},
        {256, {0xDA, 0x01, 0x00}},
        {65535, {0xDA, 0xFF, 0xFF}},
        {65536, {0xDB, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const auto& c : kCases) {
        std::string text(c.length, 'x');
        text.back() = 'y';
        const Bytes bytes = packed([&](Bytes& b) { pmsgpack(b, text); });
        EXPECT_EQ(prefix(bytes, c.head.size()), c.head) << c.length;
        EXPECT_EQ(bytes.size(), c.head.size() + c.length) << c.length;
        EXPECT_EQ(msgpack_text::decode(bytes), "\"" + text + "\"") << c.length;
    }
}

TEST(PMsgpack, ContainerSizeForms)
{
    const auto array = [](size_t n) {
        return packed([n](Bytes& b) { pmsgpack(b, pmsgarray(n, pmsgval::ofUnsigned(7))); });
    };
    const auto intMap = [](size_t n) {
        pmsgintmap map;
        for (uint32_t k = 0; k < n; ++k)
            map.emplace(k * 1000, pmsgval::ofBool(true));
        return packed([&](Bytes& b) { pmsgpack(b, map); });
    };
    const auto strMap = [](size_t n) {
        pmsgstrmap map;
        for (size_t k = 0; k < n; ++k)
            map.emplace("k" + std::to_string(k), pmsgval::ofSigned(-2));
        return packed([&](Bytes& b) { pmsgpack(b, map); });
    };
    const struct {
        Bytes bytes;
        Bytes head;
        size_t elementBytes;
    } kCases[] = {
        {array(0), {0x90}, 1},
        {array(15), {0x9F}, 1},
        {array(16), {0xDC, 0x00, 0x10}, 1},
        {array(65535), {0xDC, 0xFF, 0xFF}, 1},
        {array(65536), {0xDD, 0x00, 0x01, 0x00, 0x00}, 1},
        {intMap(0), {0x80}, 0},
        {intMap(15), {0x8F}, 0},
        {intMap(16), {0xDE, 0x00, 0x10}, 0},
        {intMap(65536), {0xDF, 0x00, 0x01, 0x00, 0x00}, 0},
        {strMap(15), {0x8F}, 0},
        {strMap(16), {0xDE, 0x00, 0x10}, 0},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const auto& c = kCases[i];
        EXPECT_EQ(prefix(c.bytes, c.head.size()), c.head) << "case " << i;
        EXPECT_NE(msgpack_text::decode(c.bytes), "<error>") << "case " << i;
    }
    EXPECT_EQ(msgpack_text::decode(array(3)), "[7,7,7]");
    EXPECT_EQ(msgpack_text::decode(intMap(3)), "{0:true,1000:true,2000:true}");
    EXPECT_EQ(msgpack_text::decode(strMap(2)), "{\"k0\":-2,\"k1\":-2}");
}

TEST(PMsgpack, OrderedMapWritesKeysAscending)
{
    pmsgmap map;
    map.emplace("b", pmsgval::ofUnsigned(2));
    map.emplace("c", pmsgval::ofUnsigned(3));
    map.emplace("a", pmsgval::ofUnsigned(1));
    const Bytes want = {0x83, 0xA1, 'a', 0x01, 0xA1, 'b', 0x02, 0xA1, 'c', 0x03};
    EXPECT_EQ(packed([&](Bytes& b) { pmsgpack(b, map); }), want);
    EXPECT_EQ(packed([&](Bytes& b) { pmsgpack_push(b, pmsgval::ofMap(map)); }), want);
}

TEST(PMsgpack, PushWritesByKind)
{
    pmsgval none;
    none.u = 5;
    none.s = "ignored";
    Bytes bytes = {0xEE};
    for (int32_t kind : {0, 10, -1, 1000}) {
        none.kind = kind;
        pmsgpack_push(bytes, none);
    }
    EXPECT_EQ(bytes, Bytes{0xEE});  // nothing written, nothing lost

    // Every payload side by side: the kind picks one.
    pmsgval v = pmsgval::ofUnsigned(300);
    v.i = -3;
    v.f = 0.5f;
    v.b = true;
    v.s = "s";
    const struct {
        int32_t kind;
        const char* decoded;
    } kCases[] = {{1, "-3"}, {2, "300"}, {3, "0.5f"}, {4, "true"}, {5, "\"s\""}, {6, "[]"},
                  {7, "{}"}, {8, "{}"}, {9, "{}"}};
    for (const auto& c : kCases) {
        v.kind = c.kind;
        EXPECT_EQ(msgpack_text::decode(packed([&](Bytes& b) { pmsgpack_push(b, v); })), c.decoded)
            << "kind " << c.kind;
    }
    EXPECT_EQ(packed([&](Bytes& b) { v.kind = 1; pmsgpack_push(b, v); }),
              (Bytes{0xD2, 0xFF, 0xFF, 0xFF, 0xFD}));
}

TEST(PMsgpack, TreeOfEveryContainer)
{
    pmsgval tree(pmsgstrmap{
        {"list", pmsgval(std::vector<std::string>{"a", "", "c"})},
        {"ids",
         pmsgval(pmsgintmap{{70000, pmsgval::ofString("far")}, {1, pmsgval::ofFloat(2.5f)}})},
        {"sorted", pmsgval::ofMap({{"z", pmsgval::ofBool(false)}, {"y", pmsgval(pmsgarray{})}})},
    });
    EXPECT_EQ(tree.kind, pmsgval::kStrMap);
    EXPECT_EQ(tree.strmap->at("list").kind, pmsgval::kArray);
    EXPECT_EQ(tree.strmap->at("list").a[1].kind, pmsgval::kString);
    const std::string want = "{\"ids\":{1:2.5f,70000:\"far\"},\"list\":[\"a\",\"\",\"c\"],"
                             "\"sorted\":{\"y\":[],\"z\":false}}";
    EXPECT_EQ(msgpack_text::decode(packed([&](Bytes& b) { pmsgpack_push(b, tree); })), want);

    // Copies are deep: each outlives and ignores the other.
    pmsgval copy(tree);
    pmsgval assigned;
    assigned = tree;
    tree = pmsgval::ofUnsigned(1);
    copy.strmap->at("ids").intmap->at(1) = pmsgval::ofSigned(-9);
    EXPECT_EQ(msgpack_text::decode(packed([&](Bytes& b) { pmsgpack_push(b, assigned); })), want);
    EXPECT_EQ(msgpack_text::decode(packed([&](Bytes& b) { pmsgpack_push(b, copy); })),
              "{\"ids\":{1:-9,70000:\"far\"},\"list\":[\"a\",\"\",\"c\"],\"sorted\":{\"y\":[],"
              "\"z\":false}}");
}

TEST(PMsgpack, HeaderHelpersAppend)
{
    Bytes bytes = {0x01};
    pmsgpack_be16(bytes, 0xABCD);
    pmsgpack_be32(bytes, 0x01020304);
    pmsgpack_array_header(bytes, 2);
    pmsgpack_map_header(bytes, 0x10000);
    EXPECT_EQ(bytes, (Bytes{0x01, 0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04, 0x92, 0xDF, 0x00, 0x01, 0x00,
                            0x00}));
}

}  // namespace
