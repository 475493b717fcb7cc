#include "platform/ParameterInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

std::string show(const ParameterInfo& p, float x, size_t capacity = 64)
{
    char buf[128];
    memset(buf, '#', sizeof buf);
    buf[sizeof buf - 1] = 0;
    p.toString(buf, x, capacity);
    return buf;
}

ParameterInfo withMode(uint32_t mode, uint32_t type = ParameterInfo::Continuous)
{
    ParameterInfo p;
    p.displayMode = mode;
    p.type = type;
    return p;
}

const std::string kUntouched(127, '#');

}  // namespace

TEST(ParameterInfo, Defaults)
{
    const ParameterInfo p;
    EXPECT_EQ(p.version, 2121u);
    EXPECT_EQ(p.type, 0u);
    EXPECT_EQ(p.displayMode, 0u);
    EXPECT_EQ(p.flags, 0);
    EXPECT_EQ(p.mathFlags, 0);
    EXPECT_EQ(p.modFlags, 0);
    EXPECT_EQ(p.minValue, 0.0f);
    EXPECT_EQ(p.maxValue, 1.0f);
    EXPECT_EQ(p.defaultValue, 0.0f);
    EXPECT_EQ(p.factor, 1.0f);
    EXPECT_TRUE(p.label == nullptr);
    EXPECT_TRUE(p.list == nullptr);
    EXPECT_EQ(p.index, 0xFFFF);
    EXPECT_EQ(p.layerMask, 0xFFFF);
    EXPECT_TRUE(p.displayFormat == nullptr);
    EXPECT_EQ(p.offset, 0.0f);

    const ParameterInfo q("Cutoff", ParameterInfo::Integer, 2, 9, 3, 5, 0x400);
    EXPECT_STREQ(q.label, "Cutoff");
    EXPECT_EQ(q.type, 1u);
    EXPECT_EQ(q.minValue, 2.0f);
    EXPECT_EQ(q.maxValue, 9.0f);
    EXPECT_EQ(q.defaultValue, 3.0f);
    EXPECT_EQ(q.mathFlags, 5);
    EXPECT_EQ(q.modFlags, 0x400);
    EXPECT_EQ(q.index, 0xFFFF);
    EXPECT_TRUE(ParameterInfo("", 0, 0, 1, 0, 0, 0).label == nullptr);
}

TEST(ParameterInfo, TextsAndCopies)
{
    ParameterInfo p;
    p.minValue = 5;
    p.maxValue = 7;
    p.setList("Off");
    EXPECT_TRUE(p.list == nullptr);
    EXPECT_EQ(p.minValue, 5.0f);
    EXPECT_EQ(p.maxValue, 7.0f);
    p.setList("Off|On");
    EXPECT_STREQ(p.list, "Off|On");
    EXPECT_EQ(p.minValue, 0.0f);
    EXPECT_EQ(p.maxValue, 1.0f);
    p.setList("");
    EXPECT_TRUE(p.list == nullptr);

    p.setList("a|b|c");
    p.maxValue = 10;  // assignment restores the list's range
    p.setLabel("Wave");
    p.setLabel(p.label);  // aliasing its own text
    p.setDisplayFormat("%3.0f");
    p.flags = 0x42;
    p.index = 7;
    ParameterInfo q;
    q.setLabel("old");
    q = p;
    EXPECT_EQ(q.maxValue, 2.0f);
    EXPECT_STREQ(q.label, "Wave");
    EXPECT_TRUE(q.label != p.label);  // pointer members are packed: compared by value
    EXPECT_STREQ(q.list, "a|b|c");
    EXPECT_STREQ(q.displayFormat, "%3.0f");
    EXPECT_EQ(q.flags, 0x42);
    EXPECT_EQ(q.index, 7);
    q = q;  // self-assignment keeps the record
    EXPECT_STREQ(q.label, "Wave");
    EXPECT_EQ(q.maxValue, 2.0f);
    const ParameterInfo r(q);
    EXPECT_STREQ(r.list, "a|b|c");

    const std::string fits(511, 'x'), tooLong(512, 'x');
    p.setDisplayFormat(fits.c_str());
    EXPECT_STREQ(p.displayFormat, fits.c_str());
    p.setDisplayFormat(tooLong.c_str());
    EXPECT_TRUE(p.displayFormat == nullptr);

    p.resetEverythingButLabel();
    EXPECT_STREQ(p.label, "Wave");
    EXPECT_TRUE(p.list == nullptr);
    EXPECT_EQ(p.index, 0xFFFF);
    EXPECT_EQ(p.flags, 0);
    p.reset();
    EXPECT_TRUE(p.label == nullptr);
}

TEST(ParameterInfo, PackAndUnpack)
{
    ParameterInfo integer("n", ParameterInfo::Integer, 0, 127, 0, 0, 0);
    float v = 0.5f;
    integer.unpack01(v);
    EXPECT_EQ(v, 64.0f);
    v = 64;
    integer.pack01(v);
    EXPECT_EQ(v, 64.0f / 127.0f);
    v = std::nanf("");
    integer.unpack01(v);
    EXPECT_EQ(v, 0.0f);
    v = std::numeric_limits<float>::infinity();
    integer.unpack01(v);
    EXPECT_EQ(v, float(INT32_MAX));

    ParameterInfo sw("s", ParameterInfo::Switch, 0, 1, 0, 0, 0);
    const struct { void (ParameterInfo::*fn)(float&) const; float in, out; } kSwitch[] = {
        {&ParameterInfo::pack01, 0.3f, 1.0f},  {&ParameterInfo::pack01, 0.0f, 0.0f},
        {&ParameterInfo::unpack01, 0.0f, 0.0f}, {&ParameterInfo::unpack01, 0.2f, 1.0f},
        {&ParameterInfo::pack, 0.3f, 1.0f},    {&ParameterInfo::unpack, 0.2f, 1.0f},
    };
    for (const auto& c : kSwitch) {
        float x = c.in;
        (sw.*c.fn)(x);
        EXPECT_EQ(x, c.out) << c.in;
    }

    ParameterInfo cont("c", ParameterInfo::Continuous, -1, 1, 0, 0, 0);
    v = 0.5f;
    cont.pack01(v);
    EXPECT_EQ(v, 0.75f);
    cont.unpack01(v);
    EXPECT_EQ(v, 0.5f);
    v = 0.25f;
    cont.pack(v);  // switch positions only
    EXPECT_EQ(v, 0.25f);

    ParameterInfo empty("e", ParameterInfo::Continuous, 3, 3, 0, 0, 0);
    v = 0.4f;
    empty.pack01(v);
    empty.unpack01(v);
    EXPECT_EQ(v, 0.4f);

    ParameterInfo kind4("k", 4, 0, 10, 0, 0, 0);
    v = 0.5f;
    kind4.pack01(v);
    EXPECT_EQ(v, 0.5f);
    kind4.unpack01(v);
    EXPECT_EQ(v, 5.0f);
}

TEST(ParameterInfo, ToStringByMode)
{
    using P = ParameterInfo;
    P pq = withMode(P::List);
    pq.setDisplayFormat("P|Q|R|S");
    P fmt1 = withMode(P::CFormat);
    fmt1.setDisplayFormat("%3.0f");
    fmt1.offset = 1;
    fmt1.factor = 2;
    P fmt11 = withMode(P::CFormatFactorOffset);
    fmt11.setDisplayFormat("%.1f%%");
    fmt11.offset = 1;
    fmt11.factor = 2;
    P choice = withMode(P::ByType, P::Choice);
    choice.setList("Tri|Saw");
    P onOff = withMode(P::OnOffValue);
    onOff.offset = 0.25f;
    P fixed = withMode(P::FixedString);
    fixed.setDisplayFormat("fixed");

    const struct { P p; float x; std::string want; } kCases[] = {
        {withMode(P::Linear2Db), 1.0f, "0 dB"},
        {withMode(P::Linear2Db), 0.5f, " -6 dB"},
        {withMode(P::Linear2Db), 0.0f, "-oo dB"},
        {withMode(P::Linear2Db), 2.0f, " +6 dB"},
        {withMode(P::Linear2DbConcave), 0.5f, "-12 dB"},
        {withMode(P::Linear2DbConcave), 0.999995f, "0 dB"},
        {withMode(P::StereoPan), 0.25f, " 50% L"},
        {withMode(P::StereoPan), 0.5f, "C"},
        {withMode(P::StereoPan), 0.75f, " 50% R"},
        {withMode(P::StereoPan), 0.0f, "100% L"},
        {withMode(P::Float2Midi7), 0.5f, "064"},
        {withMode(P::Float2Midi14), 0.0f, "08192"},
        {withMode(P::Float2Midi14), 1.0f, "16383"},
        {withMode(P::Float2Midi14), -1.0f, "00000"},
        {pq, 0.0f, "P"},
        {pq, 0.5f, "R"},
        {pq, 1.0f, "S"},
        {pq, 1.5f, kUntouched},
        {pq, -0.5f, kUntouched},
        {withMode(P::List), 0.5f, "0.500000"},
        {withMode(P::ByType, P::Switch), 0.0f, "False"},
        {withMode(P::ByType, P::Switch), 0.001f, "True"},
        {withMode(P::ByType, P::Integer), 2.5f, "3"},
        {withMode(P::ByType, P::Continuous), 0.25f, "0.250000"},
        {withMode(P::ByType, P::Choice), 0.0f, kUntouched},
        {choice, 1.2f, "Saw"},
        {choice, 2.0f, kUntouched},
        {withMode(P::ByType, 6), 1.0f, kUntouched},
        {fmt1, 4.0f, " 10"},
        {fmt11, 4.0f, "9.0%"},
        {withMode(P::CFormat), 4.0f, "4.000000"},
        {withMode(P::OnOffCenter), 0.49f, "Off"},
        {withMode(P::OnOffCenter), 0.5f, "On"},
        {withMode(P::OnOffZero), 0.0f, "Off"},
        {withMode(P::OnOffZero), 0.1f, "On"},
        {onOff, 0.25f, "Off"},
        {onOff, 0.0f, "On"},
        {fixed, 0.0f, "fixed"},
        {withMode(P::FixedString), 0.0f, ""},
        {withMode(13), 0.0f, kUntouched},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(show(c.p, c.x), c.want) << "mode " << c.p.displayMode << " x " << c.x;

    EXPECT_EQ(show(fixed, 0.0f, 4), "fix");
}

TEST(ParameterInfo, UnsafeDisplayFormatsNeverReachPrintf)
{
    for (const char* bad : {"%s", "%n", "%f %f", "%", "%d", "%Lf", "%*f", "%.*f", "abc"}) {
        for (uint32_t mode : {ParameterInfo::CFormat, ParameterInfo::CFormatFactorOffset}) {
            ParameterInfo p = withMode(mode);
            p.setDisplayFormat(bad);
            EXPECT_EQ(show(p, 0.5f), "0.500000") << bad;
        }
    }
    ParameterInfo ok = withMode(ParameterInfo::CFormat);
    ok.setDisplayFormat("%% %+#08.3lf %%");
    EXPECT_EQ(show(ok, 0.5f), "% +000.500 %");
}

TEST(ParameterInfo, ToStringStaysDefinedAndInsideCapacity)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {std::nanf(""), inf, -inf, 1e30f, -1e30f, 0.5f};
    for (uint32_t mode = 0; mode <= ParameterInfo::FixedString; ++mode) {
        for (uint32_t type = 0; type <= 5; ++type) {
            ParameterInfo p = withMode(mode, type);
            p.setList("a|b|c");
            p.setDisplayFormat(mode == ParameterInfo::List ? "x|y" : "%f");
            for (float x : values) {
                for (size_t n : {1u, 2u, 4u, 64u}) {
                    char* buf = new char[n];  // exact size, so ASan sees any overrun
                    memset(buf, '#', n);
                    p.toString(buf, x, n);
                    delete[] buf;
                }
            }
        }
    }
    ParameterInfo integer = withMode(ParameterInfo::ByType, ParameterInfo::Integer);
    EXPECT_EQ(show(integer, std::nanf("")), "0");
    ParameterInfo names = withMode(ParameterInfo::List);
    names.setDisplayFormat("P|Q");
    EXPECT_EQ(show(names, std::nanf("")), kUntouched);
    EXPECT_EQ(show(names, inf), kUntouched);
}

TEST(ParameterInfo, Vocabulary)
{
    EXPECT_EQ(ParameterInfo::getDisplayModeFromText("cformatoffsetfactor"), 1u);
    EXPECT_EQ(ParameterInfo::getDisplayModeFromText("cformatfactoroffset"), 11u);
    EXPECT_EQ(ParameterInfo::getDisplayModeFromText("cformat"), 1u);
    EXPECT_EQ(ParameterInfo::getDisplayModeFromText("CFORMAT"), 0u);
    EXPECT_EQ(ParameterInfo::getDisplayModeFromText("fixedstring"), 12u);
    EXPECT_EQ(ParameterInfo::getDisplayModeFromText(nullptr), 0u);

    std::string name = "keep";
    ParameterInfo::getMathFlagName(3, name);
    EXPECT_EQ(name, "keep");
    ParameterInfo::getMathFlagName(4, name);
    EXPECT_EQ(name, "Accum");
    std::vector<uint8_t> math{99};
    ParameterInfo::listMathFlags(math);
    EXPECT_EQ(math, (std::vector<uint8_t>{99, 1, 2, 4, 8}));
    std::vector<uint16_t> mods;
    ParameterInfo::listModFlags(mods);
    ASSERT_EQ(mods.size(), 11u);
    EXPECT_EQ(mods.front(), 0x0001);
    EXPECT_EQ(mods.back(), 0x0400);
}

TEST(ParameterInfo, Merge)
{
    std::map<uint16_t, ParameterInfo> target, source;
    target[1].setLabel("one");
    target[5].setLabel("five");
    source[5].setLabel("FIVE");
    source[9].setLabel("nine");
    mergeParamInfo(target, source);
    ASSERT_EQ(target.size(), 3u);
    EXPECT_STREQ(target[1].label, "one");
    EXPECT_STREQ(target[5].label, "FIVE");
    EXPECT_STREQ(target[9].label, "nine");
}
