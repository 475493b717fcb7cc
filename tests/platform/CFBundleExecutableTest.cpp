#include "fixtures/TempDir.h"
#include "shims/corefoundation/CoreFoundationShim.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

CFBundleRef bundleAt(const std::string& path)
{
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(path.data()), CFIndex(path.size()), true);
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
    CFRelease(url);
    return bundle;
}

}  // namespace

TEST(CFBundle, LoadsItsExecutable)
{
    fixtures::TempDir dir;
    const std::string folder = dir.makeFolder("orbella Test.vst3/Contents/x86_64-linux");
    std::filesystem::copy_file(TEST_BUNDLE_EXECUTABLE, folder + "/orbella Test.so");
    CFBundleRef bundle = bundleAt(dir / "orbella Test.vst3");
    ASSERT_NE(bundle, nullptr);

    CFURLRef executable = CFBundleCopyExecutableURL(bundle);
    ASSERT_NE(executable, nullptr);
    CFStringRef path = CFURLCopyFileSystemPath(executable, kCFURLPOSIXPathStyle);
    char buffer[1024];
    ASSERT_TRUE(CFStringGetCString(path, buffer, sizeof buffer, kCFStringEncodingUTF8));
    EXPECT_EQ(std::string(buffer), folder + "/orbella Test.so");
    CFRelease(path);
    CFRelease(executable);

    EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle));
    auto answer = reinterpret_cast<int (*)()>(
        CFBundleGetFunctionPointerForName(bundle, CFSTR("vantorTestBundleAnswer")));
    ASSERT_NE(answer, nullptr);  // loaded on the way
    EXPECT_EQ(answer(), 42);
    EXPECT_TRUE(CFBundleIsExecutableLoaded(bundle));
    EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, CFSTR("missingFunction")), nullptr);
    CFBundleUnloadExecutable(bundle);
    EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle));
    CFRelease(bundle);
}

TEST(CFBundle, WithoutAnExecutable)
{
    fixtures::TempDir dir;
    dir.write("Empty.bundle/Contents/x86_64-linux/Other.so", "not the bundle's name");
    dir.write("Broken.bundle/Contents/x86_64-linux/Broken.so", "not a shared library");
    for (const char* name : {"Empty.bundle", "Broken.bundle"}) {
        CFBundleRef bundle = bundleAt(dir / name);
        ASSERT_NE(bundle, nullptr) << name;
        EXPECT_FALSE(CFBundleLoadExecutable(bundle)) << name;
        EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, CFSTR("vantorTestBundleAnswer")), nullptr)
            << name;
        CFRelease(bundle);
    }
}
