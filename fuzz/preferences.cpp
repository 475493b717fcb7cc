// The preferences store over hostile preference files: the same bytes as the user's file, its
// by-host file and the machine-wide file of one domain. A file that is no dictionary must read
// as empty and refuse writes, unchanged.

#include "fuzz/PlistSeeds.h"
#include "platform/config.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

void fuzzSeeds(fuzz::Seeds& seeds) { fuzz::plistSeeds(seeds); }

namespace {

const std::string kDomain = "com.fuzz.prefs";

struct Files {
    std::string user, host, machine;
};

const Files& files()
{
    static const Files paths = [] {
        const std::string home = fuzz::scratchFolder() + "/home", local = fuzz::scratchFolder() + "/local";
        setenv("HOME", home.c_str(), 1);
        setenv("VANTOR_LOCAL_ROOT", local.c_str(), 1);
        std::filesystem::create_directories(home + "/Library/Preferences/ByHost");
        std::filesystem::create_directories(local + "/Library/Preferences");
        return Files{CFShimHomeFolder() + "/Library/Preferences/" + kDomain + ".plist",
                     CFShimHomeFolder() + "/Library/Preferences/ByHost/" + kDomain + "." + CFShimHostName() + ".plist",
                     CFShimLocalRoot() + "/Library/Preferences/" + kDomain + ".plist"};
    }();
    return paths;
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool isDictionary(const uint8_t* data, size_t size)
{
    CFDataRef bytes = CFDataCreate(kCFAllocatorDefault, data, CFIndex(size));
    CFPropertyListRef list =
        CFPropertyListCreateWithData(kCFAllocatorDefault, bytes, kCFPropertyListImmutable, nullptr, nullptr);
    CFRelease(bytes);
    const bool dictionary = list && CFGetTypeID(list) == CFDictionaryGetTypeID();
    if (list)
        CFRelease(list);
    return dictionary;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Files& f = files();
    for (const std::string* path : {&f.user, &f.host, &f.machine})
        fuzz::writeFile(*path, data, size);
    const bool readable = isDictionary(data, size);

    using namespace vantor;
    std::string text;
    int32_t integer = 0;
    double real = 0;
    std::vector<std::string> keys;
    for (const CONFIG_LEVEL level : {CONFIG_LEVEL_USER, CONFIG_LEVEL_SYSTEM, CONFIG_LEVEL_MACHINE_FILE,
                                     CONFIG_LEVEL_USER_FILE}) {
        const bool found = readConfigStringValue(kDomain, "base_dir", text, level);
        if (found && !readable && level == CONFIG_LEVEL_USER_FILE)
            __builtin_trap();
        readConfigIntValue(kDomain, "integer", integer, level);
        readConfigDoubleValue(kDomain, "real", real, level);
        readConfigStringValue(kDomain, ConfigKeyPath{"a", "b", "c"}, text, level);
        listConfigKeys(kDomain, std::string(), keys, level);
        listConfigKeys(kDomain, ConfigKeyPath{"a", "b"}, keys, level);
        listConfigKeys(kDomain, ConfigKeyPath{}, keys, level);
    }
    listAndMergeSystemUserConfigKeys(kDomain, "Root", keys);

    // Writes: refused by a file that cannot be read, which stays as it was.
    const bool written = writeConfigStringValue(kDomain, "k", "new", CONFIG_LEVEL_USER);
    if (!readable && (written || contents(f.user) != std::string(data, data + size)))
        __builtin_trap();
    writeConfigStringValue(kDomain, ConfigKeyPath{"a", "b", "c"}, "v", CONFIG_LEVEL_SYSTEM);
    deleteConfigKey(kDomain, ConfigKeyPath{"a"}, "b", CONFIG_LEVEL_USER);
    return 0;
}
