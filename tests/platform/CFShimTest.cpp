#include "shims/corefoundation/CoreFoundationShim.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <string>

namespace {

using Bytes = std::string;

CFStringRef make(const Bytes& bytes, CFStringEncoding encoding)
{
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(bytes.data()),
                                   CFIndex(bytes.size()), encoding, false);
}

// The whole string in `encoding`, or "<fails>".
Bytes bytesOf(CFStringRef s, CFStringEncoding encoding, bool external = false)
{
    const CFIndex n = CFStringGetLength(s);
    CFIndex used = 0;
    if (CFStringGetBytes(s, {0, n}, encoding, 0, external, nullptr, 0, &used) != n)
        return "<fails>";
    Bytes out(size_t(used), '\0');
    CFStringGetBytes(s, {0, n}, encoding, 0, external, reinterpret_cast<uint8_t*>(out.data()), used, nullptr);
    return out;
}

std::u16string unitsOf(CFStringRef s)
{
    std::u16string u(size_t(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, {0, CFStringGetLength(s)}, reinterpret_cast<UniChar*>(u.data()));
    return u;
}

const std::u16string kSample = u"A\u00E9\u20AC\U0001F600";  // 1-, 2-, 3- and 4-byte UTF-8

}  // namespace

TEST(CFShim, ReferenceCounting)
{
    CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, "x", kCFStringEncodingUTF8);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_EQ(CFRetain(s), s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(s);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
    CFRelease(s);  // freed: the sanitizer build reports a leak or a double free otherwise

    // Constant strings are shared per text and outlive any number of releases.
    CFStringRef c = CFSTR("constant");
    EXPECT_EQ(c, CFSTR("constant"));
    CFRelease(c);
    CFRelease(c);
    EXPECT_EQ(bytesOf(c, kCFStringEncodingUTF8), "constant");
}

TEST(CFShim, EncodingsRoundTrip)
{
    CFStringRef reference = CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(kSample.data()), CFIndex(kSample.size()));
    const struct { CFStringEncoding encoding; Bytes bytes; } kCases[] = {
        {kCFStringEncodingUTF8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {kCFStringEncodingUTF16LE, Bytes("A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10)},
        {kCFStringEncodingUTF16BE, Bytes("\0A\0\xE9\x20\xAC\xD8\x3D\xDE\x00", 10)},
        {kCFStringEncodingUnicode, Bytes("A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10)},  // host order
        {kCFStringEncodingUTF32LE, Bytes("A\0\0\0\xE9\0\0\0\xAC\x20\0\0\x00\xF6\x01\0", 16)},
        {kCFStringEncodingUTF32BE, Bytes("\0\0\0A\0\0\0\xE9\0\0\x20\xAC\0\x01\xF6\x00", 16)},
    };
    for (const auto& c : kCases) {
        CFStringRef s = make(c.bytes, c.encoding);
        ASSERT_NE(s, nullptr) << std::hex << c.encoding;
        EXPECT_TRUE(CFEqual(s, reference)) << std::hex << c.encoding;
        EXPECT_EQ(bytesOf(reference, c.encoding), c.bytes) << std::hex << c.encoding;
        CFRelease(s);
    }
    CFRelease(reference);

    // Every byte of code page 1252 comes back as itself, the five undefined ones included.
    Bytes all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    CFStringRef latin = make(all, kCFStringEncodingWindowsLatin1);
    ASSERT_NE(latin, nullptr);
    EXPECT_EQ(CFStringGetCharacterAtIndex(latin, 0x80), 0x20AC);
    EXPECT_EQ(CFStringGetCharacterAtIndex(latin, 0x81), 0x0081);
    EXPECT_EQ(CFStringGetCharacterAtIndex(latin, 0x9D), 0x009D);
    EXPECT_EQ(bytesOf(latin, kCFStringEncodingWindowsLatin1), all);
    CFRelease(latin);
}

TEST(CFShim, InvalidBytesMakeNoString)
{
    const struct { CFStringEncoding encoding; Bytes bytes; } kCases[] = {
        {kCFStringEncodingUTF8, "\xC0\x80"},          // overlong
        {kCFStringEncodingUTF8, "\xED\xA0\x80"},      // surrogate
        {kCFStringEncodingUTF8, "\xF4\x90\x80\x80"},  // above 10FFFF
        {kCFStringEncodingUTF8, "a\xE2\x82"},         // cut short
        {kCFStringEncodingUTF8, "\x80"},              // stray continuation
        {kCFStringEncodingUTF16LE, "abc"},            // odd length
        {kCFStringEncodingUTF32LE, Bytes("\0\xD8\0\0", 4)},
        {kCFStringEncodingUTF32LE, Bytes("\0\0\x11\0", 4)},
        {kCFStringEncodingUTF32LE, "abcde"},
        {kCFStringEncodingASCII, "\x80"},
        {0x7777, "a"},  // unknown encoding
    };
    for (const auto& c : kCases)
        EXPECT_EQ(make(c.bytes, c.encoding), nullptr) << std::hex << c.encoding;
    EXPECT_EQ(CFStringCreateWithCString(kCFAllocatorDefault, nullptr, kCFStringEncodingUTF8), nullptr);
}

TEST(CFShim, ByteOrderMarks)
{
    const struct { Bytes bytes; CFStringEncoding encoding; std::u16string units; } kCases[] = {
        {Bytes("\xFE\xFF\0A", 4), kCFStringEncodingUnicode, u"A"},
        {Bytes("\xFF\xFE" "A\0", 4), kCFStringEncodingUnicode, u"A"},
        {Bytes("A\0", 2), kCFStringEncodingUnicode, u"A"},
        {Bytes("\0\0\xFE\xFF\0\0\0A", 8), kCFStringEncodingUTF32, u"A"},
        // With an explicit order the mark is a character.
        {Bytes("\xFF\xFE" "A\0", 4), kCFStringEncodingUTF16LE, u"\uFEFFA"},
    };
    for (const auto& c : kCases) {
        CFStringRef s = make(c.bytes, c.encoding);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(unitsOf(s), c.units);
        CFRelease(s);
    }
    CFStringRef a = CFSTR("A");
    EXPECT_EQ(bytesOf(a, kCFStringEncodingUnicode, true), "\xFF\xFE" "A" + Bytes(1, '\0'));
    EXPECT_EQ(bytesOf(a, kCFStringEncodingUTF16LE, true), Bytes("A\0", 2));
}

TEST(CFShim, CStringsAndUnrepresentableCharacters)
{
    CFStringRef abc = CFSTR("abc");
    char buffer[8] = "zzzzzzz";
    EXPECT_TRUE(CFStringGetCString(abc, buffer, 4, kCFStringEncodingUTF8));
    EXPECT_STREQ(buffer, "abc");
    EXPECT_FALSE(CFStringGetCString(abc, buffer, 3, kCFStringEncodingUTF8));  // no room for the zero

    const UniChar kOutsideLatin[] = {'a', 0x0100, 'b'};
    CFStringRef s = CFStringCreateWithCharacters(kCFAllocatorDefault, kOutsideLatin, 3);
    EXPECT_FALSE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingWindowsLatin1));
    EXPECT_FALSE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingASCII));
    uint8_t out[8] = {};
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s, {0, 3}, kCFStringEncodingWindowsLatin1, '?', false, out, 8, &used), 3);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(out), size_t(used)), "a?b");
    EXPECT_EQ(CFStringGetBytes(s, {0, 3}, kCFStringEncodingWindowsLatin1, 0, false, out, 8, &used), 1);
    // U+0100 needs two more bytes than the buffer has.
    EXPECT_EQ(CFStringGetBytes(s, {0, 3}, kCFStringEncodingUTF8, 0, false, out, 2, &used), 1);
    EXPECT_EQ(used, 1);
    CFRelease(s);

    // A lone surrogate has no UTF-8 or UTF-32 form; UTF-16 keeps it.
    const UniChar kLone[] = {0xD800, 'x'};
    CFStringRef lone = CFStringCreateWithCharacters(kCFAllocatorDefault, kLone, 2);
    EXPECT_EQ(bytesOf(lone, kCFStringEncodingUTF8), "<fails>");
    EXPECT_EQ(bytesOf(lone, kCFStringEncodingUTF32LE), "<fails>");
    EXPECT_EQ(bytesOf(lone, kCFStringEncodingUTF16LE), Bytes("\0\xD8x\0", 4));
    CFRelease(lone);
}

TEST(CFShim, CompareAndHash)
{
    CFStringRef a = CFSTR("Caf\xC3\xA9 Zone");
    CFStringRef b = CFSTR("cAF\xC3\x89 zONE");
    EXPECT_EQ(CFStringCompare(a, b, kCFCompareCaseInsensitive), kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompare(a, b, 0), kCFCompareLessThan);  // 'C' < 'c'
    EXPECT_EQ(CFStringCompare(CFSTR("ab"), CFSTR("abc"), 0), kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(CFSTR("b"), CFSTR("abc"), 0), kCFCompareGreaterThan);

    CFStringRef copy = make("Caf\xC3\xA9 Zone", kCFStringEncodingUTF8);
    EXPECT_TRUE(CFEqual(a, copy));
    EXPECT_EQ(CFHash(a), CFHash(copy));
    EXPECT_FALSE(CFEqual(a, b));
    CFRelease(copy);
}

TEST(CFShim, Numbers)
{
    const int32_t i300 = 300;
    const double half = 1.5, three = 3.0, nan = std::nan("");
    CFNumberRef n300 = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &i300);
    CFNumberRef nHalf = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &half);
    CFNumberRef nThree = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &three);
    CFNumberRef nNan = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &nan);
    EXPECT_EQ(CFGetTypeID(n300), CFNumberGetTypeID());
    EXPECT_FALSE(CFNumberIsFloatType(n300));
    EXPECT_TRUE(CFNumberIsFloatType(nHalf));

    int64_t i64 = 0;
    int8_t i8 = 0;
    int32_t i32 = 0;
    float f = 0;
    EXPECT_TRUE(CFNumberGetValue(n300, kCFNumberSInt64Type, &i64));
    EXPECT_EQ(i64, 300);
    EXPECT_FALSE(CFNumberGetValue(n300, kCFNumberSInt8Type, &i8));  // saturated
    EXPECT_EQ(i8, 127);
    EXPECT_FALSE(CFNumberGetValue(nHalf, kCFNumberIntType, &i32));  // truncated
    EXPECT_EQ(i32, 1);
    EXPECT_TRUE(CFNumberGetValue(nThree, kCFNumberSInt32Type, &i32));
    EXPECT_EQ(i32, 3);
    EXPECT_FALSE(CFNumberGetValue(nNan, kCFNumberSInt32Type, &i32));
    EXPECT_EQ(i32, 0);
    const double hugeNegative = -1e300, inf = std::numeric_limits<double>::infinity();
    CFNumberRef nHuge = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &hugeNegative);
    CFNumberRef nInf = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &inf);
    EXPECT_FALSE(CFNumberGetValue(nHuge, kCFNumberSInt8Type, &i8));
    EXPECT_EQ(i8, -128);
    EXPECT_FALSE(CFNumberGetValue(nInf, kCFNumberSInt64Type, &i64));
    EXPECT_EQ(i64, std::numeric_limits<int64_t>::max());
    EXPECT_TRUE(CFNumberGetValue(nHalf, kCFNumberFloatType, &f));
    EXPECT_EQ(f, 1.5f);

    const int64_t i3 = 3;
    CFNumberRef n3 = CFNumberCreate(kCFAllocatorDefault, kCFNumberLongLongType, &i3);
    EXPECT_TRUE(CFEqual(n3, nThree));
    EXPECT_EQ(CFHash(n3), CFHash(nThree));
    EXPECT_EQ(CFNumberCreate(kCFAllocatorDefault, 99, &i3), nullptr);
    for (CFNumberRef n : {n300, nHalf, nThree, nNan, nHuge, nInf, n3})
        CFRelease(n);
}

TEST(CFShim, FileURLs)
{
    const Bytes raw = "/tmp/a b/\xFF\xFE";
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(raw.data()), CFIndex(raw.size()), true);
    ASSERT_NE(url, nullptr);
    uint8_t buffer[64] = {};
    EXPECT_TRUE(CFURLGetFileSystemRepresentation(url, true, buffer, sizeof buffer));
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(buffer)), raw);
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(url, true, buffer, CFIndex(raw.size())));  // no room for 0
    EXPECT_EQ(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle), nullptr);  // not UTF-8
    EXPECT_EQ(bytesOf(CFURLGetString(url), kCFStringEncodingUTF8), "file:///tmp/a%20b/%FF%FE/");
    EXPECT_TRUE(CFURLHasDirectoryPath(url));
    CFRelease(url);

    auto fromPath = [](CFStringRef path, bool folder) {
        return CFURLCreateWithFileSystemPath(kCFAllocatorDefault, path, kCFURLPOSIXPathStyle, folder);
    };
    CFURLRef folder = fromPath(CFSTR("/x/y//"), true);
    CFURLRef root = fromPath(CFSTR("/"), true);
    CFURLRef relative = fromPath(CFSTR("r/s"), false);
    EXPECT_EQ(bytesOf(CFURLGetString(folder), kCFStringEncodingUTF8), "file:///x/y/");
    EXPECT_EQ(bytesOf(CFURLGetString(root), kCFStringEncodingUTF8), "file:///");
    EXPECT_EQ(bytesOf(CFURLGetString(relative), kCFStringEncodingUTF8), "r/s");
    CFStringRef path = CFURLCopyFileSystemPath(folder, kCFURLPOSIXPathStyle);
    EXPECT_EQ(bytesOf(path, kCFStringEncodingUTF8), "/x/y");
    CFURLRef inner = CFURLCreateCopyAppendingPathComponent(kCFAllocatorDefault, root, CFSTR("z"), false);
    EXPECT_EQ(bytesOf(CFURLGetString(inner), kCFStringEncodingUTF8), "file:///z");
    for (CFTypeRef r : {CFTypeRef(folder), CFTypeRef(root), CFTypeRef(relative), CFTypeRef(path),
                        CFTypeRef(inner)})
        CFRelease(r);

    EXPECT_EQ(fromPath(CFSTR(""), false), nullptr);
    EXPECT_EQ(CFURLCreateFromFileSystemRepresentation(kCFAllocatorDefault,
                                                      reinterpret_cast<const uint8_t*>("a\0b"), 3, false),
              nullptr);
}

TEST(CFShim, VolumeOfAPath)
{
    fixtures::TempDir dir;
    auto fromBytes = [](const std::string& path) {
        return CFURLCreateFromFileSystemRepresentation(
            kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(path.data()), CFIndex(path.size()), false);
    };
    CFURLRef url = fromBytes(dir.write("f", "x"));
    CFTypeRef volume = nullptr;
    CFErrorRef error = nullptr;
    ASSERT_TRUE(CFURLCopyResourcePropertyForKey(url, kCFURLVolumeURLKey, &volume, &error));
    EXPECT_EQ(error, nullptr);
    ASSERT_EQ(CFGetTypeID(volume), CFURLGetTypeID());
    const Bytes text = bytesOf(CFURLGetString(static_cast<CFURLRef>(volume)), kCFStringEncodingUTF8);
    EXPECT_EQ(text.rfind("file:///", 0), 0u) << text;
    EXPECT_EQ(text.back(), '/') << text;
    CFRelease(volume);
    CFRelease(url);

    url = fromBytes(dir / "missing");
    EXPECT_FALSE(CFURLCopyResourcePropertyForKey(url, kCFURLVolumeURLKey, &volume, &error));
    EXPECT_EQ(volume, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(CFErrorGetCode(error), ENOENT);
    EXPECT_TRUE(CFEqual(CFErrorGetDomain(error), kCFErrorDomainPOSIX));
    CFRelease(error);
    CFRelease(url);
}
