#include "platform/ZRGSConv.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

using Bytes = std::string;

namespace {

const uint8_t* bytes(const Bytes& b) { return reinterpret_cast<const uint8_t*>(b.data()); }

}  // namespace

TEST(ZRGSConv, EncodingNames)
{
    EXPECT_STREQ(getCharEncodingName(ENC_WINDOWS_LATIN), "WINDOWS_LATIN/CP_ACP");
    EXPECT_STREQ(getCharEncodingName(ENC_OEM), "OEM");
    EXPECT_STREQ(getCharEncodingName(CHARACTER_ENCODING(14)), "");
    EXPECT_STREQ(getCharEncodingName(CHARACTER_ENCODING(15)), "");
    EXPECT_STREQ(getCharEncodingName(CHARACTER_ENCODING(16)), "UTF8");  // low four bits
}

TEST(ZRGSConv, DetectsEncodings)
{
    const struct { Bytes data; CHARACTER_ENCODING want; uint32_t mark; } kCases[] = {
        {Bytes("\xFF\xFE\0\0\x41\0\0\0", 8), ENC_UTF32LE, 4},  // tried before its UTF-16LE half
        {Bytes("\xFF\xFE\x41\0\x42\0", 6), ENC_UTF16LE, 2},
        {Bytes("\xFE\xFF\0\x41\0\x42", 6), ENC_UTF16BE, 2},
        {Bytes("\0\0\xFE\xFF\0", 5), ENC_UTF32BE, 4},
        {"\xEF\xBB\xBF" "AB", ENC_UTF8, 3},
        {"\xEF\xBB\xBF" "A", ENC_UTF8, 0},  // four bytes: no mark test, found as UTF-8
        {"", ENC_ASCII, 0},
        {"plain 7-bit text\r\n", ENC_ASCII, 0},
        {"A\xC3\xA9", ENC_UTF8, 0},
        {"A\xE9" "B", ENC_WINDOWS_LATIN, 0},
        {"\xE9", ENC_WINDOWS_LATIN, 0},
    };
    for (const auto& c : kCases) {
        uint32_t mark = 99;
        EXPECT_EQ(getCharEncodingFromData(bytes(c.data), c.data.size(), mark, nullptr), c.want) << c.data;
        EXPECT_EQ(mark, c.mark) << c.data;
    }
}

TEST(ZRGSConv, DetectionRemarks)
{
    uint32_t mark = 0;
    std::string log = "before:";
    EXPECT_EQ(getCharEncodingFromData(bytes("A\xE9" "B"), 3, mark, &log), ENC_WINDOWS_LATIN);
    EXPECT_EQ(log, "before:Binary detected! off:1 = 233"
                   " Exhausted heuristics! Will use WINDOWS LATIN encoding!\n");
    log.clear();
    EXPECT_EQ(getCharEncodingFromData(bytes("A\xC3\xA9"), 3, mark, &log), ENC_UTF8);
    EXPECT_EQ(log, "Binary detected! off:1 = 195 brute force detected UTF-8!\n");
}

TEST(ZRGSConv, MarkOfAFile)
{
    fixtures::TempDir dir;
    CHARACTER_ENCODING encoding = ENC_OEM;
    uint32_t mark = 99;
    EXPECT_FALSE(getCharEncodingFromBOM(dir.write("three", "\xEF\xBB\xBF"), encoding, mark));
    EXPECT_FALSE(getCharEncodingFromBOM(dir.write("plain", "abcd"), encoding, mark));
    EXPECT_FALSE(getCharEncodingFromBOM(dir / "missing", encoding, mark));
    EXPECT_FALSE(getCharEncodingFromBOM(dir.path(), encoding, mark));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(getCharEncodingFromBOM(dir / "fifo", encoding, mark));  // and does not wait for a writer
    EXPECT_EQ(encoding, ENC_OEM);
    EXPECT_EQ(mark, 99u);
    EXPECT_TRUE(getCharEncodingFromBOM(dir.write("marked", Bytes("\xFF\xFE\0\0", 4)), encoding, mark));
    EXPECT_EQ(encoding, ENC_UTF32LE);
    EXPECT_EQ(mark, 4u);
}

TEST(ZRGSConv, WindowsLatinToUTF8AndBack)
{
    EXPECT_EQ(ZRGSConv(Bytes("\xE9"), ENC_WINDOWS_LATIN), "\xC3\xA9");
    EXPECT_EQ(ZRGSConv(Bytes("\xE9"), ENC_UTF8), "\xE9");  // other sources: unchanged
    EXPECT_EQ(ZRGSConv(Bytes("\x80\x81"), ENC_WINDOWS_LATIN), "\xE2\x82\xAC\xC2\x81");
    EXPECT_EQ(ZRGSConv(Bytes("a\0\xE9", 3), ENC_WINDOWS_LATIN), Bytes("a\0\xC3\xA9", 4));
    EXPECT_EQ(ZRGSConv(static_cast<const char*>(nullptr), ENC_WINDOWS_LATIN), "");
    EXPECT_EQ(ZRGSConv("\xE9", ENC_WINDOWS_LATIN), "\xC3\xA9");

    // Every byte survives the trip to UTF-8 and back.
    Bytes all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const Bytes utf8 = ZRGSConv(all, ENC_WINDOWS_LATIN);
    EXPECT_EQ(ZRGSConv(utf8, ENC_UTF8, ENC_WINDOWS_LATIN), all);
}

TEST(ZRGSConv, FromUTF8)
{
    const struct { Bytes in; CHARACTER_ENCODING target; Bytes want; } kCases[] = {
        {"\xC2\x81", ENC_WINDOWS_LATIN, "\x81"},
        {"\xE2\x82\xAC", ENC_WINDOWS_LATIN, "\x80"},
        {"\xC4\x80", ENC_WINDOWS_LATIN, "ZRGSConv_ERROR6a"},  // U+0100 is not in 1252
        {"\xE9", ENC_WINDOWS_LATIN, "ZRGSConv_ERROR6a"},      // not UTF-8
        {"\xE9", ENC_UTF8, "ZRGSConv_ERROR6a"},
        {"\xF0\x9F\x98\x80", ENC_UTF16LE, "\xF0\x9F\x98\x80"},  // any other target: UTF-8 again
        {Bytes(2000, 'x') + "\xC3\xA9", ENC_UTF8, Bytes(2000, 'x') + "\xC3\xA9"},  // no length limit
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ZRGSConv(c.in, ENC_UTF8, c.target), c.want) << c.in.substr(0, 8);
}

TEST(ZRGSConv, WideText)
{
    EXPECT_EQ(ZRGSConv(std::wstring(L"A\u00E9\u20AC\U0001F600"), ENC_UTF8, false),
              "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(ZRGSConv(std::wstring(), ENC_UTF8, false), "");
    const std::wstring surrogate(1, wchar_t(0xD800));
    EXPECT_EQ(ZRGSConv(surrogate, ENC_UTF8, false), "ZRGSConv_ERROR8");
    EXPECT_EQ(ZRGSConv(surrogate, ENC_UTF8, true), "ZRGSConv_ERROR8");  // as UTF-16 a lone surrogate remains
    EXPECT_EQ(ZRGSConv(std::wstring(1, wchar_t(0x110000)), ENC_UTF8, true), Bytes("\0\x11", 2));
}

TEST(ZRGSConv, CrudeUTF16)
{
    const struct { std::u16string in; Bytes want; } kCases[] = {
        {u"\u0041\u00E9\u20AC", "\x41\xC3\xA9\xE2\x82\xAC"},
        {u"\u0041\xD83D\xDE00\u0042", "\x41\xF0\x9F\x98\x80\x42"},
        {std::u16string(1, char16_t(0xDC00)), "\xED\xB0\x80"},
        {std::u16string{char16_t(0xD800), u'A'}, "\xED\xA0\x80\x41"},
        {std::u16string{u'A', char16_t(0xD800)}, "A\xED\xA0\x80"},
        {std::u16string{u'a', u'\0', u'b'}, Bytes("a\0b", 3)},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ZRGSConvCrudeUTF16_TO_UTF8(c.in), c.want);
        EXPECT_EQ(ZRGSConv(c.in, ENC_UTF16LE), c.want);
    }
    EXPECT_EQ(ZRGSConvCrudeUTF16_TO_UTF8(u"x\u00E9"), "x\xC3\xA9");
    EXPECT_EQ(ZRGSConvCrudeUTF16_TO_UTF8(static_cast<const char16_t*>(nullptr)), "");
    const uint16_t units[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(ZRGSConvCrudeUTF16_TO_UTF8(units), "\xF0\x9F\x98\x80");
    const uint32_t wide[] = {0x10041, 0x42, 0};
    EXPECT_EQ(ZRGSConvCrudeUTF16_IN_UINT32_TO_UTF8(wide), "AB");  // low 16 bits of each unit
}
