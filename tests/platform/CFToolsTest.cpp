#include "platform/CFTools.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using vantor::CFStringWrapper;
using vantor::CFTypeWrapper;
using vantor::CFURLWrapper;

TEST(CFStringWrapper, InvalidTextGivesAnEmptyHolder)
{
    CFStringWrapper bad(std::string("\xE9t\xE9"), kCFStringEncodingUTF8, false);
    EXPECT_EQ(bad.getCFStringRef(), nullptr);
    std::string out = "kept";
    EXPECT_FALSE(bad.getCString64(out, kCFStringEncodingUTF8));
    EXPECT_FALSE(bad.getCString2048(out, kCFStringEncodingUTF8));
    EXPECT_FALSE(bad.getCStringPath(out, kCFStringEncodingUTF8));
    EXPECT_FALSE(bad.getBytes(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, "kept");
    HFSUniStr255 record;
    record.length = 7;
    EXPECT_FALSE(bad.getCharacters(record));
    EXPECT_EQ(record.length, 0);

    // The fallback reads the text in the system encoding (UTF-8).
    CFStringWrapper strict("\xC3\xA9", kCFStringEncodingASCII, false);
    CFStringWrapper lenient("\xC3\xA9", kCFStringEncodingASCII, true);
    EXPECT_EQ(strict.getCFStringRef(), nullptr);
    ASSERT_TRUE(lenient.getCString64(out, kCFStringEncodingWindowsLatin1));
    EXPECT_EQ(out, "\xE9");
}

TEST(CFStringWrapper, FixedBuffersRefuseTextsThatDoNotFit)
{
    using Getter = bool (CFStringWrapper::*)(std::string&, CFStringEncoding) const;
    const struct { Getter get; size_t size; } kBuffers[] = {
        {&CFStringWrapper::getCString64, 64},     {&CFStringWrapper::getCString256, 256},
        {&CFStringWrapper::getCString512, 512},   {&CFStringWrapper::getCString1024, 1024},
        {&CFStringWrapper::getCString2048, 2048}, {&CFStringWrapper::getCStringPath, 1024},
    };
    for (const auto& b : kBuffers) {
        const std::string fits(b.size - 1, 'x');
        const std::string tooLong(b.size, 'x');
        std::string out = "kept";
        const CFStringWrapper tooLongHolder(tooLong, kCFStringEncodingUTF8, false);
        const CFStringWrapper fitsHolder(fits, kCFStringEncodingUTF8, false);
        EXPECT_FALSE((tooLongHolder.*b.get)(out, kCFStringEncodingUTF8));
        EXPECT_EQ(out, "kept") << b.size;
        EXPECT_TRUE((fitsHolder.*b.get)(out, kCFStringEncodingUTF8));
        EXPECT_EQ(out, fits) << b.size;
    }
    // The limit counts encoded bytes: 32 two-byte characters fill 64 bytes.
    std::string twoByte;
    for (int i = 0; i < 32; ++i)
        twoByte += "\xC3\xA9";
    std::string out;
    const CFStringWrapper holder(twoByte, kCFStringEncodingUTF8, false);
    EXPECT_FALSE(holder.getCString64(out, kCFStringEncodingUTF8));
    EXPECT_TRUE(holder.getCString64(out, kCFStringEncodingWindowsLatin1));
    EXPECT_EQ(out.size(), 32u);
}

TEST(CFStringWrapper, ByteStringsKeepZeroBytes)
{
    std::string out;
    ASSERT_TRUE(CFStringWrapper(std::string("a\0\xE9", 3), kCFStringEncodingWindowsLatin1, false)
                    .getBytes(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, std::string("a\0\xC3\xA9", 4));
    ASSERT_TRUE(CFStringWrapper("a\0b", kCFStringEncodingUTF8, false).getBytes(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, "a");  // a plain character pointer ends at its zero
    const CFStringWrapper null(static_cast<const char*>(nullptr), kCFStringEncodingUTF8, true);
    EXPECT_EQ(null.getCFStringRef(), nullptr);
}

TEST(CFStringWrapper, WideText)
{
    std::string out;
    const CFStringWrapper wide(std::wstring(L"A\u00E9\u20AC\U0001F600"), 0, false);
    ASSERT_TRUE(wide.getBytes(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

    // Surrogates and values above 10FFFF are no UTF-32; the fallback reads the same bytes as UTF-16LE.
    const std::wstring kInvalid[] = {std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0x110000))};
    for (const std::wstring& w : kInvalid)
        EXPECT_EQ(CFStringWrapper(w, 0, false).getCFStringRef(), nullptr);
    CFStringWrapper fallback(std::wstring(1, wchar_t(0x110000)), 0, true);
    ASSERT_TRUE(fallback.getBytes(out, kCFStringEncodingUTF16LE));
    EXPECT_EQ(out, std::string("\0\0\x11\0", 4));
}

TEST(CFStringWrapper, CharactersRecord)
{
    HFSUniStr255 record;
    ASSERT_TRUE(CFStringWrapper("ab\xC3\xA9", kCFStringEncodingUTF8, false).getCharacters(record));
    EXPECT_EQ(record.length, 3);
    EXPECT_EQ(record.unicode[2], 0xE9);
    EXPECT_EQ(record.unicode[3], 0);

    ASSERT_TRUE(CFStringWrapper(std::string(300, 'a'), kCFStringEncodingUTF8, false).getCharacters(record));
    EXPECT_EQ(record.length, 255);
    EXPECT_EQ(record.unicode[254], 'a');

    // 254 units and a pair: the pair would be split at 255, so 254 are kept.
    const std::string split = std::string(254, 'a') + "\xF0\x9F\x98\x80";
    ASSERT_TRUE(CFStringWrapper(split, kCFStringEncodingUTF8, false).getCharacters(record));
    EXPECT_EQ(record.length, 254);
    EXPECT_EQ(record.unicode[254], 0);
}

TEST(CFStringWrapper, ResetReleasesWhatWasHeld)
{
    CFStringRef first = CFStringCreateWithCString(kCFAllocatorDefault, "first", kCFStringEncodingUTF8);
    CFRetain(first);  // our own reference, to watch the count
    {
        CFStringWrapper holder(first);
        EXPECT_EQ(CFGetRetainCount(first), 2);
        holder.reset(CFStringCreateWithCString(kCFAllocatorDefault, "second", kCFStringEncodingUTF8));
        EXPECT_EQ(CFGetRetainCount(first), 1);
        std::string out;
        EXPECT_TRUE(holder.getCString64(out, kCFStringEncodingUTF8));
        EXPECT_EQ(out, "second");
    }
    EXPECT_EQ(CFGetRetainCount(first), 1);
    CFRelease(first);

    CFNumberRef number = nullptr;
    {
        const int32_t seven = 7;
        number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &seven);
        CFRetain(number);
        CFTypeWrapper holder(number);
        holder.reset(CFSTR("s"));
        EXPECT_EQ(CFGetRetainCount(number), 1);
    }
    CFRelease(number);
}

TEST(CFTypeWrapper, CopiesOnlyStrings)
{
    const int32_t seven = 7;
    CFTypeWrapper number(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &seven));
    std::string out = "kept";
    EXPECT_FALSE(number.getCString2048(out, kCFStringEncodingUTF8));
    EXPECT_FALSE(CFTypeWrapper().getCString2048(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, "kept");
    CFTypeWrapper text(CFStringCreateWithCString(kCFAllocatorDefault, "txt", kCFStringEncodingUTF8));
    EXPECT_TRUE(text.getCString2048(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, "txt");
}

TEST(CFURLWrapper, FileSystemRepresentation)
{
    const std::string raw = "/some/where/\xFF\xFE name";
    std::string out = "kept";
    EXPECT_TRUE(CFURLWrapper(raw.data(), raw.size(), false).getFileSystemRepresentation(out));
    EXPECT_EQ(out, raw);

    out = "kept";
    EXPECT_FALSE(CFURLWrapper().getFileSystemRepresentation(out));
    EXPECT_EQ(out, "kept");

    const std::string tooLong = "/" + std::string(1100, 'x');
    EXPECT_FALSE(CFURLWrapper(tooLong.data(), tooLong.size(), false).getFileSystemRepresentation(out));
    EXPECT_EQ(out, "");  // replaced, as the conversion failed

    CFStringWrapper path("/a/b", kCFStringEncodingUTF8, false);
    EXPECT_TRUE(CFURLWrapper(path.getCFStringRef(), true).getFileSystemRepresentation(out));
    EXPECT_EQ(out, "/a/b");
}

TEST(CFURLWrapper, BundleFolders)
{
    fixtures::TempDir dir;
    dir.write("My.bundle/Contents/Resources/icon.png", "png");
    dir.write("My.bundle/Contents/Resources/sub/notes.txt", "txt");
    const std::string bundlePath = dir / "My.bundle";
    CFURLWrapper bundleURL(bundlePath.data(), bundlePath.size(), true);
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, bundleURL.getCFURLRef());
    ASSERT_NE(bundle, nullptr);

    std::string out;
    EXPECT_TRUE(CFURLWrapper(bundle, false).getFileSystemRepresentation(out));
    EXPECT_EQ(out, bundlePath);
    EXPECT_TRUE(CFURLWrapper(bundle, true).getFileSystemRepresentation(out));
    EXPECT_EQ(out, bundlePath + "/Contents/Resources");

    const struct { CFStringRef name, type, sub; const char* want; } kCases[] = {
        {CFSTR("icon"), CFSTR("png"), nullptr, "/Contents/Resources/icon.png"},
        {CFSTR("icon"), CFSTR(".png"), nullptr, "/Contents/Resources/icon.png"},
        {CFSTR("icon.png"), nullptr, nullptr, "/Contents/Resources/icon.png"},
        {CFSTR("notes"), CFSTR("txt"), CFSTR("sub"), "/Contents/Resources/sub/notes.txt"},
        {CFSTR("sub"), nullptr, nullptr, "/Contents/Resources/sub"},
        {CFSTR("notes"), CFSTR("txt"), nullptr, nullptr},
        {CFSTR("missing"), CFSTR("png"), nullptr, nullptr},
        {nullptr, CFSTR("png"), nullptr, nullptr},
    };
    for (const auto& c : kCases) {
        CFURLWrapper url(bundle, c.name, c.type, c.sub);
        if (!c.want) {
            EXPECT_EQ(url.getCFURLRef(), nullptr);
            continue;
        }
        EXPECT_TRUE(url.getFileSystemRepresentation(out));
        EXPECT_EQ(out, bundlePath + c.want);
    }
    CFRelease(bundle);

    const std::string missing = dir / "Missing.bundle";
    CFURLWrapper missingURL(missing.data(), missing.size(), true);
    EXPECT_EQ(CFBundleCreate(kCFAllocatorDefault, missingURL.getCFURLRef()), nullptr);
}
