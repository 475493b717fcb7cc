#include "PlistFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace plistfixture;

namespace {

const CFStringRef kDomain = CFSTR("com.test.prefs");

std::string text(CFTypeRef value)
{
    char buffer[256];
    if (!value || CFGetTypeID(value) != CFStringGetTypeID() ||
        !CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer, kCFStringEncodingUTF8))
        return "<none>";
    return buffer;
}

// The value as text, "<none>" when absent; the reference is released.
std::string take(CFTypeRef value)
{
    const std::string out = text(value);
    if (value)
        CFRelease(value);
    return out;
}

std::string appValue(const char* key)
{
    CFStringRef k = CFStringCreateWithCString(kCFAllocatorDefault, key, kCFStringEncodingUTF8);
    const std::string out = take(CFPreferencesCopyAppValue(k, kDomain));
    CFRelease(k);
    return out;
}

std::vector<std::string> keyList(CFStringRef user, CFStringRef host)
{
    CFArrayRef keys = CFPreferencesCopyKeyList(kDomain, user, host);
    if (!keys)
        return {"<no file>"};
    std::vector<std::string> out;
    for (CFIndex i = 0; i < CFArrayGetCount(keys); ++i)
        out.push_back(text(CFArrayGetValueAtIndex(keys, i)));
    CFRelease(keys);
    return out;
}

}  // namespace

TEST(CFPreferences, EachScopeHasItsFile)
{
    PreferencesRoot root;
    const struct {
        CFStringRef user, host;
        std::string file;
    } kScopes[] = {
        {kCFPreferencesCurrentUser, kCFPreferencesAnyHost, root.userFile("com.test.prefs")},
        {kCFPreferencesCurrentUser, kCFPreferencesCurrentHost, root.hostFile("com.test.prefs")},
        {kCFPreferencesAnyUser, kCFPreferencesCurrentHost, root.machineFile("com.test.prefs")},
    };
    for (const auto& scope : kScopes) {
        CFPreferencesSetValue(CFSTR("k"), CFSTR("v"), kDomain, scope.user, scope.host);
        EXPECT_TRUE(CFPreferencesSynchronize(kDomain, scope.user, scope.host)) << scope.file;
        EXPECT_TRUE(fixtures::readFile(scope.file).find("<string>v</string>") != std::string::npos)
            << scope.file;
        EXPECT_EQ(take(CFPreferencesCopyValue(CFSTR("k"), kDomain, scope.user, scope.host)), "v");
        // Nothing is left beside the file from its replacement.
        EXPECT_EQ(fixtures::folderEntries(scope.file.substr(0, scope.file.rfind('/'))).size(), 1u)
            << scope.file;
    }
    CFPreferencesSetValue(CFSTR("k"), CFSTR("v"), kDomain, kCFPreferencesAnyUser, kCFPreferencesAnyHost);
    EXPECT_FALSE(CFPreferencesSynchronize(kDomain, kCFPreferencesAnyUser, kCFPreferencesAnyHost));

    // Domains that would leave the preferences folder have no file.
    for (CFStringRef bad : {CFSTR("../escape"), CFSTR(".."), CFSTR("")}) {
        CFPreferencesSetAppValue(CFSTR("k"), CFSTR("v"), bad);
        EXPECT_FALSE(CFPreferencesAppSynchronize(bad));
    }
    EXPECT_EQ(fixtures::folderEntries(root.home() + "/Library").size(), 1u);
}

TEST(CFPreferences, AppValueSearchOrder)
{
    PreferencesRoot root;
    root.put(root.hostFile("com.test.prefs"), xml(dict(entry("k", str("host")))));
    root.put(root.userFile("com.test.prefs"), xml(dict(entry("k", str("user")) + entry("u", str("user")))));
    root.put(root.machineFile("com.test.prefs"),
             xml(dict(entry("k", str("machine")) + entry("m", str("machine")))));
    EXPECT_EQ(appValue("k"), "host");
    EXPECT_EQ(appValue("u"), "user");
    EXPECT_EQ(appValue("m"), "machine");
    EXPECT_EQ(appValue("none"), "<none>");
    CFPreferencesSetValue(CFSTR("k"), nullptr, kDomain, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost);
    EXPECT_EQ(appValue("k"), "user");
    CFPreferencesSetAppValue(CFSTR("k"), nullptr, kDomain);
    EXPECT_EQ(appValue("k"), "machine");
    EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain));
}

TEST(CFPreferences, ChangesKeepTheRestOfTheFile)
{
    PreferencesRoot root;
    const std::string file = root.put(root.userFile("com.test.prefs"),
                                      xml(dict(entry("b", str("1")) + entry("a", "<data>AAEC</data>") +
                                               entry("c", "<date>2020-05-01T10:00:00Z</date>"))));
    CFPreferencesSetAppValue(CFSTR("a"), CFSTR("new"), kDomain);
    CFPreferencesSetAppValue(CFSTR("d"), kCFBooleanTrue, kDomain);
    CFPreferencesSetAppValue(CFSTR("missing"), nullptr, kDomain);
    EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain));
    EXPECT_EQ(keyList(kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
              (std::vector<std::string>{"b", "a", "c", "d"}));
    const std::string written = fixtures::readFile(file);
    EXPECT_NE(written.find("<date>2020-05-01T10:00:00Z</date>"), std::string::npos) << written;
    EXPECT_EQ(appValue("a"), "new");

    // Removing what is not there writes nothing, not even a missing file.
    CFPreferencesSetValue(CFSTR("x"), nullptr, kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    EXPECT_TRUE(CFPreferencesSynchronize(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
    EXPECT_FALSE(fixtures::readFile(root.machineFile("com.test.prefs")).size());
}

TEST(CFPreferences, UnreadableFilesHoldNothingAndRefuseChanges)
{
    const struct {
        const char* what;
        std::string bytes;
    } kCases[] = {
        {"truncated", xml(dict(entry("k", str("v")))).substr(0, 60)},
        {"random bytes", std::string("\x93\x01\xFFplist\x00\x7F<dict>", 16)},
        {"array at the top", xml("<array><string>k</string></array>")},
        {"string not UTF-8", xml(dict(entry("k", str("\xFF"))))},
        {"empty", ""},
        {"binary key holding U+0000", kZeroUnitKey},
    };
    for (const auto& c : kCases) {
        PreferencesRoot root;
        const std::string file = root.put(root.userFile("com.test.prefs"), c.bytes);
        EXPECT_EQ(appValue("k"), "<none>") << c.what;
        EXPECT_EQ(keyList(kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
                  std::vector<std::string>{"<no file>"})
            << c.what;
        CFPreferencesSetAppValue(CFSTR("k"), CFSTR("new"), kDomain);
        EXPECT_FALSE(CFPreferencesAppSynchronize(kDomain)) << c.what;
        EXPECT_EQ(fixtures::readFile(file), c.bytes) << c.what;
        EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain)) << "the failure is reported once";
    }
}

TEST(CFPreferences, KeyListsAndMissingFolders)
{
    PreferencesRoot root;
    EXPECT_EQ(keyList(kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
              std::vector<std::string>{"<no file>"});
    root.put(root.userFile("com.test.prefs"), xml("<dict/>"));
    EXPECT_EQ(keyList(kCFPreferencesCurrentUser, kCFPreferencesAnyHost), std::vector<std::string>{});

    // A plain file where the preferences folder should be: nothing to read, nothing written.
    root.put(root.home() + "/Library/Preferences/ByHost", "not a folder");
    EXPECT_EQ(take(CFPreferencesCopyValue(CFSTR("k"), kDomain, kCFPreferencesCurrentUser,
                                          kCFPreferencesCurrentHost)),
              "<none>");
    CFPreferencesSetValue(CFSTR("k"), CFSTR("v"), kDomain, kCFPreferencesCurrentUser,
                          kCFPreferencesCurrentHost);
    EXPECT_FALSE(CFPreferencesSynchronize(kDomain, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost));
    EXPECT_EQ(fixtures::readFile(root.home() + "/Library/Preferences/ByHost"), "not a folder");
}
