#include "platform/PlatformTools.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

TEST(Text, TrimAndCase)
{
    std::string out;
    trim(" \t\r\n", out);
    EXPECT_EQ(out, "");
    trim("\xC3x ", out);
    EXPECT_EQ(out, "\xC3x");
    trim_left("  a b  ", out);
    EXPECT_EQ(out, "a b  ");
    trim_right("  a b  ", out);
    EXPECT_EQ(out, "  a b");
    lowercase("AbZ\xC9", out);
    EXPECT_EQ(out, "abz\xC9");  // bytes from 0x80 up are kept whatever the locale
    uppercase("azM\xE9", out);
    EXPECT_EQ(out, "AZM\xE9");
    std::string s = "a\r\nb\nc\r";
    PRemoveNewlines(s);
    EXPECT_EQ(s, "abc");
    std::wstring w = L"x\ny";
    PRemoveNewlines(w);
    EXPECT_EQ(w, L"xy");
}

TEST(Text, Tokenizer)
{
    const struct { const char* text; const char* sep; Strings before; Strings want; } kCases[] = {
        {"a,b,,c", ",", {}, {"a", "b", "", "c"}},
        {",a,", ",", {}, {"", "a", ""}},
        {"abc", ",", {"x"}, {"x", "abc"}},  // no separator still appends into a filled vector
        {"", ",", {}, {""}},
        {"a", "long separator", {}, {"a"}},
        {"a||b", "||", {}, {"a", "b"}},
        {"a,b", "", {}, {"a,b"}},
        {"aaa", "aa", {}, {"", "a"}},  // occurrences never overlap
    };
    for (const auto& c : kCases) {
        Strings out = c.before;
        PSimpleStringTokenizer(c.text, c.sep, out);
        EXPECT_EQ(out, c.want) << '"' << c.text << "\" at \"" << c.sep << '"';
    }
    std::vector<std::wstring> wide;
    PSimpleStringTokenizer(L"k=v=w", L"=", wide);
    EXPECT_EQ(wide, (std::vector<std::wstring>{L"k", L"v", L"w"}));
}

TEST(Text, ReplacerAndEscape)
{
    std::string out;
    PStringReplacer("aaaa", out, "aa", "b");
    EXPECT_EQ(out, "bb");
    PStringReplacer("abc", out, "x", "y");
    EXPECT_EQ(out, "abc");
    PStringReplacer("abc", out, "", "y");
    EXPECT_EQ(out, "abc");
    std::string same = "-a-";
    PStringReplacer(same, same, "-", "--");
    EXPECT_EQ(same, "--a--");
    std::wstring w;
    PStringReplacer(std::wstring(L"a.b"), w, L".", L"::");
    EXPECT_EQ(w, L"a::b");
    EXPECT_EQ(PXmlStringEscape("a<b & 'c'"), "a&lt;b &amp; &apos;c&apos;");
    EXPECT_EQ(PXmlStringEscape("\"x>"), "&quot;x&gt;");
}

TEST(Numbers, Strtod)
{
    const struct { const char* text; double want; size_t end; } kCases[] = {
        {"1,5", 1.5, 3}, {"1.5", 1.5, 3}, {"5.", 5.0, 2},   {".5", 0.5, 2},
        {"1e3", 1000, 3}, {"1E3", 1000, 3}, {"1d3", 1000, 3}, {"1D3", 1000, 3},
        {"1e", 1, 1},     {"1e+", 1, 1},    {"abc", 0, 0},    {"  -x", 0, 0},
        {".", 0, 0},      {" -2.5e-1z", -0.25, 8}, {"\x7F+7", 7, 3}, {"\xA0" "1", 0, 0},
    };
    for (const auto& c : kCases) {
        const char* end = nullptr;
        EXPECT_EQ(PStrtod(c.text, &end), c.want) << c.text;
        EXPECT_EQ(size_t(end - c.text), c.end) << c.text;
    }
    // The running fraction factor is not the correctly rounded parse.
    EXPECT_NEAR(PStrtod("3.14159"), 3.14159, 3.14159 * 1e-13);
    EXPECT_NEAR(PStrtod("12.5e-3"), 0.0125, 0.0125 * 1e-13);
}

TEST(Numbers, StrtodRange)
{
    const struct { const char* text; double want; bool range; } kCases[] = {
        {"1e400", 4294967295.0, true},
        {"-1e400", -4294967295.0, true},
        {"1e-400", 0.0, true},
        {"0e-5", 0.0, true},
        {"0e999999999", 0.0, false},  // zero mantissa: no stepping at all
        {"1e99999999999", 4294967295.0, true},
        {"1e-99999999999", 0.0, true},
        {"1e308", 1e308, false},
    };
    for (const auto& c : kCases) {
        errno = 0;
        const double v = PStrtod(c.text);
        EXPECT_EQ(errno == ERANGE, c.range) << c.text;
        if (c.want == 1e308)
            EXPECT_NEAR(v, c.want, 1e308 * 1e-13);
        else
            EXPECT_EQ(v, c.want) << c.text;
    }
    const std::string huge(10000, '9');
    EXPECT_TRUE(std::isinf(PStrtod(huge.c_str())));
    EXPECT_TRUE(std::isinf(PStrtod((huge + "e-999999999").c_str())));
    // An infinite mantissa: a positive exponent overflows like 1e400; a negative one keeps it.
    const std::string nines(400, '9');
    const struct { std::string text; double want; bool range; } kInfinite[] = {
        {nines + "e1", 4294967295.0, true},
        {"-" + nines + "e1", -4294967295.0, true},
        {nines + "e-1", HUGE_VAL, false},
    };
    for (const auto& c : kInfinite) {
        errno = 0;
        EXPECT_EQ(PStrtod(c.text.c_str()), c.want) << c.text;
        EXPECT_EQ(errno == ERANGE, c.range) << c.text;
    }
    EXPECT_NEAR(PStrtod(("0." + huge).c_str()), 1.0, 1e-12);
}

TEST(Numbers, StringToDoubleAndFloat)
{
    double d = -1;
    EXPECT_TRUE(PStringToDouble(" 2", d));
    EXPECT_EQ(d, 2.0);
    EXPECT_FALSE(PStringToDouble("2 ", d));
    EXPECT_EQ(d, 2.0);
    EXPECT_FALSE(PStringToDouble("1e", d));
    EXPECT_EQ(d, 1.0);
    d = 7;
    EXPECT_FALSE(PStringToDouble("", d));
    EXPECT_FALSE(PStringToDouble(nullptr, d));
    EXPECT_EQ(d, 7.0);
    float f = 9;
    EXPECT_TRUE(PStringToFloat("2.5", f));
    EXPECT_EQ(f, 2.5f);
    EXPECT_FALSE(PStringToFloat("2.5x", f));
    EXPECT_EQ(f, 2.5f);
}

TEST(Numbers, DoubleToString)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct { double v; const char* want; } kCases[] = {
        {3, "3.0"},
        {-12, "-12.0"},
        {0, "0.0"},
        {0.5, "0.500000"},
        {1.5e12, "1.5000000000000000e+12"},
        {1e12 + 0.5, "1.0000000000005000e+12"},
        {1e-7, "9.9999999999999995e-08"},
        {1e300, "1.0000000000000001e+300"},
        {std::nan(""), "nan"},
        {inf, "inf"},
        {-inf, "-inf"},
    };
    std::string out;
    for (const auto& c : kCases) {
        PDoubleToString(out, c.v, false);
        EXPECT_EQ(out, c.want) << c.v;
    }
}

TEST(Numbers, DoubleToStringForcesDotUnderCommaLocale)
{
    const char* kLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "fr_FR"};
    const std::string saved = setlocale(LC_NUMERIC, nullptr);
    bool found = false;
    for (const char* name : kLocales)
        if (setlocale(LC_NUMERIC, name)) {
            found = true;
            break;
        }
    if (!found)
        GTEST_SKIP() << "no comma-decimal locale installed";
    std::string out;
    PDoubleToString(out, 0.5, true);
    std::string plain;
    PDoubleToString(plain, 0.5, false);
    setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(out, "0.500000");
    EXPECT_EQ(plain, "0,500000");
    double d = 0;
    EXPECT_TRUE(PStringToDouble("0,5", d));
}

TEST(Numbers, CompressBound)
{
    EXPECT_EQ(PcompressBound(0), 11u);
    EXPECT_EQ(PcompressBound(65536), 65567u);
}

TEST(Time, ClocksAdvanceAndSleepWaits)
{
    const double t0 = PTimeMilli();
    const double b0 = PGetTimeSinceBootInSeconds();
    PmilliSleep(20);
    EXPECT_GE(PTimeMilli() - t0, 19.0);
    EXPECT_GE(PGetTimeSinceBootInSeconds() - b0, 0.019);
    EXPECT_GT(PGetCurrentTimeInSeconds(), 1.7e9);  // after 2023
    PDebugLog("%s %d", "discarded", 1);
}
