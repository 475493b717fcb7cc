#include "PlistFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace plistfixture;

namespace {

CFStringRef s(const char* text)
{
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

CFNumberRef n(int64_t v) { return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &v); }

CFNumberRef real(double v) { return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &v); }

CFDataRef bytes(const std::string& b)
{
    return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(b.data()), CFIndex(b.size()));
}

std::string utf8(CFTypeRef string)
{
    char buffer[4096];
    return CFStringGetCString(static_cast<CFStringRef>(string), buffer, sizeof buffer, kCFStringEncodingUTF8)
        ? buffer
        : "<not a string>";
}

// Reads the bytes; null when they are not a property list.
CFPropertyListRef parse(const std::string& b, CFOptionFlags options = kCFPropertyListImmutable,
                        CFPropertyListFormat* format = nullptr)
{
    CFDataRef data = bytes(b);
    CFErrorRef error = nullptr;
    CFPropertyListRef list = CFPropertyListCreateWithData(kCFAllocatorDefault, data, options, format, &error);
    CFRelease(data);
    EXPECT_EQ(list == nullptr, error != nullptr);
    if (error) {
        EXPECT_EQ(CFErrorGetCode(error), kCFPropertyListReadCorruptError);
        CFRelease(error);
    }
    return list;
}

std::string write(CFPropertyListRef list, CFPropertyListFormat format)
{
    CFDataRef data = CFPropertyListCreateData(kCFAllocatorDefault, list, format, 0, nullptr);
    if (!data)
        return "<fails>";
    std::string out(reinterpret_cast<const char*>(CFDataGetBytePtr(data)), size_t(CFDataGetLength(data)));
    CFRelease(data);
    return out;
}

std::vector<std::string> keysOf(CFDictionaryRef dict)
{
    std::vector<const void*> keys(size_t(CFDictionaryGetCount(dict)));
    CFDictionaryGetKeysAndValues(dict, keys.data(), nullptr);
    std::vector<std::string> names;
    for (const void* k : keys)
        names.push_back(utf8(k));
    return names;
}

void putBigEndian(std::string& out, uint64_t v, int width)
{
    for (int i = width - 1; i >= 0; --i)
        out += char((v >> (8 * i)) & 0xFF);
}

// A binary list of `levels` arrays, each holding the next one; the last is empty.
std::string binaryChain(uint32_t levels)
{
    std::string b = "bplist00";
    std::vector<uint64_t> offsets;
    for (uint32_t i = 0; i < levels; ++i) {
        offsets.push_back(b.size());
        b += i + 1 < levels ? '\xA1' : '\xA0';
        if (i + 1 < levels)
            putBigEndian(b, i + 1, 4);
    }
    const uint64_t table = b.size();
    for (uint64_t o : offsets)
        putBigEndian(b, o, 4);
    b += std::string(6, '\0') + '\x04' + '\x04';  // offset and reference sizes
    putBigEndian(b, levels, 8);
    putBigEndian(b, 0, 8);  // top object
    putBigEndian(b, table, 8);
    return b;
}

// Empty declarations "<!>" back to back, just under the 16 MiB limit.
std::string endlessDeclarations()
{
    std::string text;
    text.reserve(16u << 20);
    while (text.size() + 3 <= (16u << 20))
        text += "<!>";
    return text;
}

}  // namespace

TEST(CFCollections, DictionaryKeepsFirstPlaceAndCopiesAreIndependent)
{
    CFStringRef a = s("a"), b = s("b"), a2 = s("a");
    CFNumberRef one = n(1), two = n(2);
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(d, b, one);
    CFDictionarySetValue(d, a, one);
    CFDictionarySetValue(d, a2, two);  // an equal key: the value changes, the place does not
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(CFDictionaryGetValue(d, a), two);
    EXPECT_EQ(CFGetRetainCount(one), 2);  // held once by the dictionary

    CFMutableDictionaryRef copy = CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, d);
    CFDictionaryRemoveValue(copy, b);
    EXPECT_EQ(keysOf(copy), (std::vector<std::string>{"a"}));
    EXPECT_EQ(CFDictionaryGetValue(copy, a), two);  // the index follows the removal
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"b", "a"}));
    EXPECT_FALSE(CFEqual(d, copy));
    CFDictionarySetValue(copy, b, one);
    EXPECT_TRUE(CFEqual(d, copy));  // order does not matter to equality

    for (CFTypeRef r : {CFTypeRef(a), CFTypeRef(b), CFTypeRef(a2), CFTypeRef(d), CFTypeRef(copy)})
        CFRelease(r);
    EXPECT_EQ(CFGetRetainCount(one), 1);
    CFRelease(one);
    CFRelease(two);
}

TEST(CFCollections, ArraysAndBooleans)
{
    CFStringRef x = s("x");
    const void* values[] = {x, kCFBooleanTrue};
    CFArrayRef array = CFArrayCreate(kCFAllocatorDefault, values, 2, &kCFTypeArrayCallBacks);
    CFMutableArrayRef copy = CFArrayCreateMutableCopy(kCFAllocatorDefault, 0, array);
    EXPECT_TRUE(CFEqual(array, copy));
    CFArrayRemoveValueAtIndex(copy, 0);
    CFArrayAppendValue(copy, kCFBooleanFalse);
    EXPECT_EQ(CFArrayGetCount(copy), 2);
    EXPECT_EQ(CFArrayGetValueAtIndex(copy, 1), kCFBooleanFalse);
    EXPECT_EQ(CFArrayGetValueAtIndex(copy, 2), nullptr);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 0), x);
    EXPECT_NE(CFGetTypeID(kCFBooleanTrue), CFNumberGetTypeID());
    CFRelease(array);
    CFRelease(copy);
    CFRelease(x);
}

TEST(CFPropertyList, ReadsValuesInFileOrder)
{
    const std::string file =
        xml(dict(entry("z", str("last &amp; &lt;first&gt;")) + entry("neg", "<integer>-5</integer>") +
                 entry("big", "<integer>18446744073709551615</integer>") + entry("r", "<real>0.5</real>") +
                 entry("t", "<true/>") + entry("d", "<data>AAEC</data>") +
                 entry("when", "<date>2001-01-01T00:01:00Z</date>") +
                 entry("a", "<array><string>\xC3\xA9</string><dict/></array>")));
    CFPropertyListFormat format = 0;
    CFPropertyListRef list = parse(file, kCFPropertyListImmutable, &format);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
    auto d = static_cast<CFDictionaryRef>(list);
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"z", "neg", "big", "r", "t", "d", "when", "a"}));
    EXPECT_EQ(utf8(CFDictionaryGetValue(d, CFSTR("z"))), "last & <first>");
    int64_t v = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(d, CFSTR("neg"))), kCFNumberSInt64Type,
                     &v);
    EXPECT_EQ(v, -5);
    CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(d, CFSTR("big"))), kCFNumberSInt64Type,
                     &v);
    EXPECT_EQ(v, -1);  // 64-bit two's complement
    EXPECT_TRUE(CFNumberIsFloatType(static_cast<CFNumberRef>(CFDictionaryGetValue(d, CFSTR("r")))));
    EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("t")), kCFBooleanTrue);
    auto data = static_cast<CFDataRef>(CFDictionaryGetValue(d, CFSTR("d")));
    ASSERT_EQ(CFDataGetLength(data), 3);
    EXPECT_EQ(CFDataGetBytePtr(data)[2], 2);
    EXPECT_EQ(CFDateGetAbsoluteTime(static_cast<CFDateRef>(CFDictionaryGetValue(d, CFSTR("when")))), 60.0);
    auto a = static_cast<CFArrayRef>(CFDictionaryGetValue(d, CFSTR("a")));
    EXPECT_EQ(utf8(CFArrayGetValueAtIndex(a, 0)), "\xC3\xA9");
    EXPECT_EQ(CFGetTypeID(CFArrayGetValueAtIndex(a, 1)), CFDictionaryGetTypeID());

    // Written as XML and as binary, each reads back equal, in the same order.
    for (CFPropertyListFormat f : {kCFPropertyListXMLFormat_v1_0, kCFPropertyListBinaryFormat_v1_0}) {
        CFPropertyListFormat seen = 0;
        CFPropertyListRef back = parse(write(list, f), kCFPropertyListImmutable, &seen);
        ASSERT_NE(back, nullptr) << f;
        EXPECT_EQ(seen, f);
        EXPECT_TRUE(CFEqual(back, list)) << f;
        EXPECT_EQ(keysOf(static_cast<CFDictionaryRef>(back)), keysOf(d)) << f;
        CFRelease(back);
    }
    CFRelease(list);
}

TEST(CFPropertyList, NumbersRoundTripExactly)
{
    const double reals[] = {0.1, 1.0 / 3.0, -2.5e-300, 1e300, 3.0};
    const int64_t integers[] = {-5, INT64_MIN, INT64_MAX, 2147483647};
    CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    for (double r : reals) {
        CFNumberRef num = real(r);
        CFArrayAppendValue(array, num);
        CFRelease(num);
    }
    for (int64_t i : integers) {
        CFNumberRef num = n(i);
        CFArrayAppendValue(array, num);
        CFRelease(num);
    }
    CFPropertyListRef back = parse(write(array, kCFPropertyListXMLFormat_v1_0));
    ASSERT_NE(back, nullptr);
    auto b = static_cast<CFArrayRef>(back);
    ASSERT_EQ(CFArrayGetCount(b), CFIndex(std::size(reals) + std::size(integers)));
    for (size_t i = 0; i < std::size(reals); ++i) {
        double v = 0;
        auto num = static_cast<CFNumberRef>(CFArrayGetValueAtIndex(b, CFIndex(i)));
        EXPECT_TRUE(CFNumberIsFloatType(num)) << reals[i];  // a whole real stays a real
        CFNumberGetValue(num, kCFNumberFloat64Type, &v);
        EXPECT_EQ(v, reals[i]);
    }
    for (size_t i = 0; i < std::size(integers); ++i) {
        int64_t v = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(b, CFIndex(std::size(reals) + i))),
                         kCFNumberSInt64Type, &v);
        EXPECT_EQ(v, integers[i]);
    }
    CFRelease(back);
    CFRelease(array);
}

TEST(CFPropertyList, MutableContainersOnRequest)
{
    const std::string file = xml(dict(entry("inner", dict(entry("k", str("v"))))));
    CFPropertyListRef list = parse(file, kCFPropertyListMutableContainers);
    ASSERT_NE(list, nullptr);
    auto outer = const_cast<CFMutableDictionaryRef>(static_cast<CFDictionaryRef>(list));
    auto inner = const_cast<CFMutableDictionaryRef>(
        static_cast<CFDictionaryRef>(CFDictionaryGetValue(outer, CFSTR("inner"))));
    CFDictionarySetValue(inner, CFSTR("k2"), CFSTR("v2"));
    CFDictionaryRemoveValue(outer, CFSTR("missing"));
    EXPECT_EQ(CFDictionaryGetCount(inner), 2);
    CFRelease(list);
}

TEST(CFPropertyList, BadInputReadsAsNothing)
{
    auto nested = [](int levels) {
        std::string x = "<plist>";
        for (int i = 0; i < levels; ++i)
            x += "<array>";
        for (int i = 0; i < levels; ++i)
            x += "</array>";
        return x + "</plist>";
    };
    std::string closedInComments = "<plist>";
    for (int i = 0; i < 300; ++i)
        closedInComments += "<array><!-- </array> -->";  // closings a reader skips
    const std::string good = xml(dict(entry("a", str("b"))));

    const struct {
        const char* what;
        std::string bytes;
    } kCases[] = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() / 2)},
        {"not a property list", "hello"},
        {"string not UTF-8", xml(dict(entry("a", str("\xC3("))))},
        {"key not UTF-8", xml(dict(entry("\xFF", str("b"))))},
        {"nested deeper than the limit", nested(kCFShimPropertyListMaxDepth + 1)},
        {"closings hidden in comments", closedInComments + "</plist>"},
        {"zero bytes", std::string(100000, '\0')},
        {"binary header only", "bplist00"},
        {"binary key holding U+0000", kZeroUnitKey},
        {"16 MiB of empty declarations", endlessDeclarations()},
    };
    for (const auto& c : kCases) {
        CFPropertyListRef list = parse(c.bytes);
        EXPECT_EQ(list, nullptr) << c.what;
        if (list)
            CFRelease(list);
    }
    std::string siblings;
    for (int i = 0; i < 1000; ++i)
        siblings += "<dict></dict><array></array>";
    for (const std::string& fine :
         {nested(kCFShimPropertyListMaxDepth), xml("<array>" + siblings + "</array>")}) {
        CFPropertyListRef ok = parse(fine);
        EXPECT_NE(ok, nullptr) << "nesting up to the limit and containers side by side read";
        if (ok)
            CFRelease(ok);
    }
}

TEST(CFPropertyList, BinaryNestingAndCyclesAreRefused)
{
    // Arrays nested `levels` deep, written by the shim itself, then a cycle made by hand.
    auto nested = [](int levels) {
        CFMutableArrayRef top = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
        CFMutableArrayRef current = top;
        for (int i = 1; i < levels; ++i) {
            CFMutableArrayRef inner = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
            CFArrayAppendValue(current, inner);
            CFRelease(inner);
            current = inner;
        }
        return top;
    };
    CFMutableArrayRef ok = nested(kCFShimPropertyListMaxDepth),
                      tooDeep = nested(kCFShimPropertyListMaxDepth + 1);
    EXPECT_EQ(write(tooDeep, kCFPropertyListBinaryFormat_v1_0).substr(0, 7), "<fails>");
    const std::string bin = write(ok, kCFPropertyListBinaryFormat_v1_0);
    CFPropertyListRef back = parse(bin);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(CFEqual(back, ok));
    CFRelease(back);
    CFRelease(ok);
    CFRelease(tooDeep);

    const uint32_t limit = kCFShimPropertyListMaxDepth;
    for (uint32_t levels : {limit, limit + 1, 100000u}) {
        CFPropertyListRef list = parse(binaryChain(levels));
        EXPECT_EQ(list != nullptr, levels <= limit) << levels;
        if (list)
            CFRelease(list);
    }

    // One array holding itself: header, object 0 = array of one reference to object 0,
    // offset table, trailer.
    std::string cycle = "bplist00";
    cycle += "\xA1";
    cycle += '\0';
    cycle += '\x08';  // offset table: object 0 at byte 8
    std::string trailer(32, '\0');
    trailer[6] = 1;  // offset size
    trailer[7] = 1;  // reference size
    trailer[15] = 1;  // one object
    trailer[31] = 10;  // offset table at byte 10
    EXPECT_EQ(parse(cycle + trailer), nullptr);

    // Random damage to valid lists never crashes and never leaks.
    std::mt19937 random(7);
    const std::string good =
        xml(dict(entry("Root", dict(entry("a", str("x")) + entry("n", "<integer>1</integer>")))));
    CFPropertyListRef parsed = parse(good);
    const std::string goodBinary = write(parsed, kCFPropertyListBinaryFormat_v1_0);
    CFRelease(parsed);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = round % 2 ? goodBinary : good;
        for (int k = 0; k < 4; ++k)
            damaged[random() % damaged.size()] = char(random());
        if (round % 3 == 0)
            damaged.resize(random() % damaged.size());
        if (CFPropertyListRef list = parse(damaged))
            CFRelease(list);
    }
}

TEST(CFPropertyList, WritingRefusesWhatIsNoPropertyList)
{
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(kCFAllocatorDefault,
                                                           reinterpret_cast<const uint8_t*>("/x"), 2, false);
    const UniChar withZero[] = {'a', 0, 'b'};
    CFStringRef zero = CFStringCreateWithCharacters(kCFAllocatorDefault, withZero, 3);
    CFNumberRef key = n(1);
    CFMutableDictionaryRef numberKey = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, nullptr, nullptr);
    CFDictionarySetValue(numberKey, key, CFSTR("v"));
    CFDateRef late = CFDateCreate(kCFAllocatorDefault, 3e9);  // after 2069
    for (CFTypeRef bad : {CFTypeRef(url), CFTypeRef(zero), CFTypeRef(numberKey), CFTypeRef(late)}) {
        CFErrorRef error = nullptr;
        EXPECT_EQ(
            CFPropertyListCreateData(kCFAllocatorDefault, bad, kCFPropertyListXMLFormat_v1_0, 0, &error),
            nullptr);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(CFErrorGetCode(error), kCFPropertyListWriteStreamError);
        CFRelease(error);
        CFRelease(bad);
    }
    CFRelease(key);
}
