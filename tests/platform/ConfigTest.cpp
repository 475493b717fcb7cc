#include "platform/config.h"

#include "PlistFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace plistfixture;
using namespace vantor;
using Strings = std::vector<std::string>;

namespace {

const std::string kDomain = "com.test.config";

class Config : public ::testing::Test {
protected:
    std::string user() const { return root.userFile(kDomain); }
    std::string host() const { return root.hostFile(kDomain); }
    std::string machine() const { return root.machineFile(kDomain); }
    void put(const std::string& file, const std::string& entries) const
    {
        root.put(file, xml(dict(entries)));
    }

    // A value at a scope, read back through the stand-in: a string, "dict{...}" or "<none>".
    static std::string at(CFStringRef user, CFStringRef host, const char* key)
    {
        CFStringRef domain =
            CFStringCreateWithCString(kCFAllocatorDefault, kDomain.c_str(), kCFStringEncodingUTF8);
        CFStringRef k = CFStringCreateWithCString(kCFAllocatorDefault, key, kCFStringEncodingUTF8);
        CFTypeRef value = CFPreferencesCopyValue(k, domain, user, host);
        const std::string out = describe(value);
        for (CFTypeRef r : {CFTypeRef(domain), CFTypeRef(k), value})
            if (r)
                CFRelease(r);
        return out;
    }
    static std::string describe(CFTypeRef value)
    {
        if (!value)
            return "<none>";
        if (CFGetTypeID(value) == CFStringGetTypeID()) {
            char buffer[4096];
            CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer, kCFStringEncodingUTF8);
            return buffer;
        }
        if (CFGetTypeID(value) != CFDictionaryGetTypeID())
            return "<other>";
        auto d = static_cast<CFDictionaryRef>(value);
        std::vector<const void*> keys(size_t(CFDictionaryGetCount(d))), values(keys.size());
        CFDictionaryGetKeysAndValues(d, keys.data(), values.data());
        std::string out = "dict{";
        for (size_t i = 0; i < keys.size(); ++i)
            out += (i ? "," : "") + describe(keys[i]) + "=" + describe(values[i]);
        return out + "}";
    }

    PreferencesRoot root;
};

}  // namespace

TEST_F(Config, NumbersReadOnlyAsNumbers)
{
    put(user(),
        entry("text", str("12")) + entry("int", "<integer>-7</integer>") +
            entry("whole", "<real>3.0</real>") + entry("half", "<real>3.5</real>") +
            entry("big", "<integer>2147483648</integer>") + entry("flag", "<true/>"));
    const struct {
        const char* key;
        bool intFound;
        int32_t intValue;
        bool doubleFound;
        double doubleValue;
    } kCases[] = {
        {"text", false, 99, false, 99.0},       {"int", true, -7, true, -7.0},
        {"whole", true, 3, true, 3.0},          {"half", false, 99, true, 3.5},
        {"big", false, 99, true, 2147483648.0}, {"flag", false, 99, false, 99.0},
        {"none", false, 99, false, 99.0},
    };
    for (const auto& c : kCases) {
        int32_t i = 99;
        double d = 99.0;
        EXPECT_EQ(readConfigIntValue(kDomain, c.key, i, CONFIG_LEVEL_USER), c.intFound) << c.key;
        EXPECT_EQ(i, c.intValue) << c.key << ": untouched unless found";
        EXPECT_EQ(readConfigDoubleValue(kDomain, c.key, d, CONFIG_LEVEL_USER), c.doubleFound) << c.key;
        EXPECT_EQ(d, c.doubleValue) << c.key;
    }
}

TEST_F(Config, RoundTrips)
{
    for (int32_t v : {-5, 2147483647}) {
        int32_t back = 0;
        EXPECT_TRUE(writeConfigIntValue(kDomain, "n", v, CONFIG_LEVEL_USER));
        EXPECT_TRUE(readConfigIntValue(kDomain, "n", back, CONFIG_LEVEL_USER));
        EXPECT_EQ(back, v);
    }
    // Doubles are written by others (there is no double writer); 0.1 comes back bit for bit.
    const double tenth = 0.1;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &tenth);
    CFStringRef domain =
        CFStringCreateWithCString(kCFAllocatorDefault, kDomain.c_str(), kCFStringEncodingUTF8);
    CFPreferencesSetAppValue(CFSTR("d"), number, domain);
    EXPECT_TRUE(CFPreferencesAppSynchronize(domain));
    CFRelease(number);
    CFRelease(domain);
    double d = 0;
    EXPECT_TRUE(readConfigDoubleValue(kDomain, "d", d, CONFIG_LEVEL_USER));
    EXPECT_EQ(d, tenth);

    std::string out = "before";
    EXPECT_TRUE(writeConfigStringValue(kDomain, "s", std::string(2047, 'x'), CONFIG_LEVEL_USER));
    EXPECT_TRUE(readConfigStringValue(kDomain, "s", out, CONFIG_LEVEL_USER));
    EXPECT_EQ(out, std::string(2047, 'x'));
    EXPECT_TRUE(writeConfigStringValue(kDomain, "s", std::string(2048, 'y'), CONFIG_LEVEL_USER));
    EXPECT_FALSE(readConfigStringValue(kDomain, "s", out, CONFIG_LEVEL_USER))
        << "longer than the 2048-byte buffer";
    EXPECT_EQ(out, std::string(2047, 'x'));

    EXPECT_TRUE(deleteConfigValue(kDomain, "s", CONFIG_LEVEL_USER));
    EXPECT_FALSE(readConfigStringValue(kDomain, "s", out, CONFIG_LEVEL_USER));
    EXPECT_TRUE(deleteConfigValue(kDomain, "s", CONFIG_LEVEL_USER)) << "nothing to remove is still done";
    EXPECT_EQ(at(kCFPreferencesCurrentUser, kCFPreferencesAnyHost, "n"), "<other>");  // written as a number
}

TEST_F(Config, LevelFourReadsTheUserFileDirectly)
{
    put(user(),
        entry("Path", str("first")) + entry("path", str("second")) + entry("PATH", "<integer>1</integer>"));
    put(machine(), entry("machine_only", str("m")));
    std::string out;
    EXPECT_TRUE(readConfigStringValue(kDomain, "pAtH", out, CONFIG_LEVEL_USER_FILE));
    EXPECT_EQ(out, "second");  // the later string entry; the number is passed by
    EXPECT_FALSE(readConfigStringValue(kDomain, "machine_only", out, CONFIG_LEVEL_USER_FILE));
    EXPECT_TRUE(readConfigStringValue(kDomain, "machine_only", out, CONFIG_LEVEL_USER));  // service lookup
    EXPECT_EQ(out, "m");
}

TEST_F(Config, PluginReadFindsTheMachineWideValue)
{
    put(machine(), entry("base_dir", str("/data")));
    std::string out;
    EXPECT_TRUE(readConfigStringValue(kDomain, "base_dir", out, CONFIG_LEVEL_SYSTEM));
    EXPECT_EQ(out, "/data");
    EXPECT_TRUE(readConfigStringValue(kDomain, ConfigKeyPath{"base_dir"}, out, CONFIG_LEVEL_SYSTEM));
}

TEST_F(Config, KeyPathReads)
{
    put(machine(), entry("m", dict(entry("inner", str("from machine")))) + entry("top", str("machine top")));
    put(user(),
        entry("u", dict(entry("a", dict(entry("b", str("deep")))) + entry("t", str("text")))) +
            entry("top", str("user top")) + entry("only_user", str("user only")));
    const struct {
        ConfigKeyPath path;
        CONFIG_LEVEL level;
        bool found;
        const char* value;
    } kCases[] = {
        {{"m", "inner"}, CONFIG_LEVEL_USER, true, "from machine"},  // through the repeat at level 3
        {{"m", "inner"}, CONFIG_LEVEL_MACHINE_FILE, true, "from machine"},
        {{"u", "a", "b"}, CONFIG_LEVEL_USER_2, true, "deep"},
        {{"u", "t"}, CONFIG_LEVEL_SYSTEM, true, "text"},
        {{"u", "t", "more"}, CONFIG_LEVEL_USER, false, ""},  // a text lets "more" pass; nothing is left
        {{"u", "missing"}, CONFIG_LEVEL_USER, false, ""},
        {{"u", "a"}, CONFIG_LEVEL_USER, false, ""},  // a dictionary, not a text
        {{}, CONFIG_LEVEL_USER, false, ""},
        {{"top"}, CONFIG_LEVEL_MACHINE_FILE, true, "machine top"},  // the machine-wide file first
        {{"only_user"}, CONFIG_LEVEL_MACHINE_FILE, true, "user only"},
        {{"u"}, CONFIG_LEVEL_MACHINE_FILE, false, ""},
    };
    for (const auto& c : kCases) {
        std::string out;
        const std::string where =
            (c.path.empty() ? std::string() : c.path[0]) + "/" + std::to_string(c.level);
        EXPECT_EQ(readConfigStringValue(kDomain, c.path, out, c.level), c.found) << where;
        EXPECT_EQ(out, c.value) << where;
    }
}

TEST_F(Config, KeyPathWritesAndDeletes)
{
    put(host(), entry("n1", str("a text")));
    EXPECT_TRUE(writeConfigStringValue(kDomain, ConfigKeyPath{"n1", "n2", "n3"}, "v", CONFIG_LEVEL_USER));
    EXPECT_EQ(at(kCFPreferencesCurrentUser, kCFPreferencesCurrentHost, "n1"), "dict{n2=dict{n3=v}}");
    EXPECT_TRUE(writeConfigStringValue(kDomain, ConfigKeyPath{"n1", "n2", "n4"}, "w", CONFIG_LEVEL_USER));
    EXPECT_TRUE(writeConfigStringValue(kDomain, ConfigKeyPath{"n1", "x"}, "y", CONFIG_LEVEL_MACHINE_FILE));
    EXPECT_EQ(at(kCFPreferencesCurrentUser, kCFPreferencesCurrentHost, "n1"), "dict{n2=dict{n3=v,n4=w},x=y}");
    EXPECT_FALSE(writeConfigStringValue(kDomain, ConfigKeyPath{"a", "b", "c", "d"}, "v", CONFIG_LEVEL_USER));
    EXPECT_FALSE(writeConfigStringValue(kDomain, ConfigKeyPath{}, "v", CONFIG_LEVEL_USER));

    // Level 1 writes for any user on this host: the machine-wide file.
    EXPECT_TRUE(writeConfigStringValue(kDomain, ConfigKeyPath{"sys"}, "s", CONFIG_LEVEL_SYSTEM));
    EXPECT_EQ(at(kCFPreferencesAnyUser, kCFPreferencesCurrentHost, "sys"), "s");

    EXPECT_TRUE(deleteConfigKey(kDomain, ConfigKeyPath{"n1", "n2"}, "n3", CONFIG_LEVEL_USER));
    EXPECT_TRUE(deleteConfigKey(kDomain, ConfigKeyPath{"n1"}, "x", CONFIG_LEVEL_USER));
    EXPECT_EQ(at(kCFPreferencesCurrentUser, kCFPreferencesCurrentHost, "n1"), "dict{n2=dict{n4=w}}");
    EXPECT_TRUE(deleteConfigKey(kDomain, ConfigKeyPath{"n1"}, "absent", CONFIG_LEVEL_USER));
    EXPECT_FALSE(deleteConfigKey(kDomain, ConfigKeyPath{"n1", "n2", "n4"}, "k", CONFIG_LEVEL_USER));
    EXPECT_TRUE(deleteConfigKey(kDomain, ConfigKeyPath{}, "n1", CONFIG_LEVEL_USER));
    EXPECT_EQ(at(kCFPreferencesCurrentUser, kCFPreferencesCurrentHost, "n1"), "<none>");

    // The single-key forms that do nothing.
    const std::string before = fixtures::readFile(host());
    Strings out{"kept"};
    EXPECT_FALSE(deleteConfigKey(kDomain, "sys", CONFIG_LEVEL_USER));
    EXPECT_FALSE(listConfigStringKeys(kDomain, "sys", out, CONFIG_LEVEL_USER));
    EXPECT_EQ(out, Strings{"kept"});
    EXPECT_EQ(fixtures::readFile(host()), before);
}

TEST_F(Config, Listings)
{
    Strings out{"kept"};
    EXPECT_FALSE(listConfigKeys(kDomain, ConfigKeyPath{}, out, CONFIG_LEVEL_USER)) << "no file";
    put(user(), "");
    EXPECT_TRUE(listConfigKeys(kDomain, ConfigKeyPath{}, out, CONFIG_LEVEL_USER)) << "an empty dictionary";
    EXPECT_EQ(out, Strings{"kept"});

    put(user(),
        entry("Root", dict(entry("z", str("1")) + entry("a", str("2")) + entry("m", "<dict/>"))) +
            entry("g", dict(entry("h", dict(entry("k2", str("")) + entry("k1", str("")))))) +
            entry("empty", "<dict/>"));
    EXPECT_TRUE(listConfigKeys(kDomain, "", out, CONFIG_LEVEL_USER));
    EXPECT_EQ(out, (Strings{"kept", "z", "a", "m"}));
    out.clear();
    EXPECT_TRUE(listConfigKeys(kDomain, ConfigKeyPath{}, out, CONFIG_LEVEL_USER));
    EXPECT_EQ(out, (Strings{"Root", "g", "empty"}));
    out.clear();
    EXPECT_TRUE(listConfigKeys(kDomain, ConfigKeyPath{"g", "h"}, out, CONFIG_LEVEL_USER));
    EXPECT_EQ(out, (Strings{"k2", "k1"}));
    out.clear();
    EXPECT_FALSE(listConfigKeys(kDomain, ConfigKeyPath{"empty"}, out, CONFIG_LEVEL_USER));
    EXPECT_FALSE(listConfigKeys(kDomain, ConfigKeyPath{"g", "h", "k1"}, out, CONFIG_LEVEL_USER));
    EXPECT_FALSE(listConfigKeys(kDomain, ConfigKeyPath{"g", "nope"}, out, CONFIG_LEVEL_USER));
    EXPECT_TRUE(out.empty());

    // The merged listing of both current-host scopes: once each, in byte order.
    put(machine(),
        entry("set", dict(entry("b", str("")) + entry("\xC3\xA9", str("")) + entry("B", str("")))));
    put(host(), entry("set", dict(entry("a", str("")) + entry("b", str("")))));
    out = {"kept"};
    EXPECT_TRUE(listAndMergeSystemUserConfigKeys(kDomain, "set", out));
    EXPECT_EQ(out, (Strings{"kept", "B", "a", "b", "\xC3\xA9"}));
    EXPECT_FALSE(listAndMergeSystemUserConfigKeys(kDomain, "none", out));
}

TEST_F(Config, BadInput)
{
    put(user(), entry("k", str("v")));
    const std::string good = fixtures::readFile(user());
    std::string out = "unchanged";
    int32_t i = 0;
    EXPECT_FALSE(readConfigStringValue("com.test.\xFF", "k", out, CONFIG_LEVEL_USER));
    EXPECT_FALSE(readConfigStringValue(kDomain, "\xFF", out, CONFIG_LEVEL_USER_FILE));
    EXPECT_FALSE(writeConfigStringValue(kDomain, "k", "\xC3", CONFIG_LEVEL_USER));
    EXPECT_FALSE(writeConfigIntValue(kDomain, "\xC3", 1, CONFIG_LEVEL_USER));
    EXPECT_FALSE(writeConfigStringValue(kDomain, ConfigKeyPath{"a", "\xC3"}, "v", CONFIG_LEVEL_USER));
    EXPECT_EQ(fixtures::readFile(user()), good);

    // Corrupt files (cut short; a binary key holding U+0000): no values, and writes into them
    // are refused.
    for (const std::string& corrupt : {good.substr(0, good.size() - 20), kZeroUnitKey}) {
        root.put(user(), corrupt);
        EXPECT_FALSE(readConfigStringValue(kDomain, "k", out, CONFIG_LEVEL_USER));
        EXPECT_FALSE(readConfigStringValue(kDomain, "k", out, CONFIG_LEVEL_USER_FILE));
        EXPECT_FALSE(readConfigStringValue(kDomain, ConfigKeyPath{"k", "a"}, out, CONFIG_LEVEL_USER));
        EXPECT_FALSE(readConfigIntValue(kDomain, "k", i, CONFIG_LEVEL_USER));
        EXPECT_FALSE(writeConfigStringValue(kDomain, "k", "new", CONFIG_LEVEL_USER));
        EXPECT_FALSE(deleteConfigValue(kDomain, "k", CONFIG_LEVEL_USER));
        Strings keys;
        EXPECT_FALSE(listConfigKeys(kDomain, ConfigKeyPath{}, keys, CONFIG_LEVEL_USER));
        EXPECT_EQ(fixtures::readFile(user()), corrupt);
        EXPECT_EQ(out, "unchanged");
    }

    // A plain file where a folder should be.
    root.put(root.home() + "/Library/Preferences/ByHost", "");
    EXPECT_FALSE(writeConfigStringValue(kDomain, ConfigKeyPath{"a"}, "v", CONFIG_LEVEL_USER));
}
