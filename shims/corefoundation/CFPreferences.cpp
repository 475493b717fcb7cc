#include "shims/corefoundation/CFPreferences.h"

#include "shims/corefoundation/CFObject.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const CFStringRef kCFPreferencesCurrentUser = CFSTR("kCFPreferencesCurrentUser");
const CFStringRef kCFPreferencesAnyUser = CFSTR("kCFPreferencesAnyUser");
const CFStringRef kCFPreferencesCurrentHost = CFSTR("kCFPreferencesCurrentHost");
const CFStringRef kCFPreferencesAnyHost = CFSTR("kCFPreferencesAnyHost");

namespace {

constexpr off_t kMaxFile = off_t(16) << 20;

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

// Serialises changes and guards the record of failed changes per file.
std::mutex& changeLock()
{
    static std::mutex lock;
    return lock;
}

std::map<std::string, bool>& failedChanges()
{
    static std::map<std::string, bool> failed;
    return failed;
}

bool text(CFStringRef s, std::string& out)
{
    return s && CFGetTypeID(s) == CFStringGetTypeID() && cfShimUTF8FromUnits(s->units, out) &&
        out.find('\0') == std::string::npos;
}

// The file of a scope; false when it has none.
bool fileOf(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName, std::string& path)
{
    std::string domain;
    if (!text(applicationID, domain) || domain.empty() || domain == "." || domain == ".." ||
        domain.find('/') != std::string::npos)
        return false;
    const bool currentUser = CFEqual(userName, kCFPreferencesCurrentUser);
    const bool currentHost = CFEqual(hostName, kCFPreferencesCurrentHost);
    if ((!currentUser && !CFEqual(userName, kCFPreferencesAnyUser)) ||
        (!currentHost && !CFEqual(hostName, kCFPreferencesAnyHost)))
        return false;
    if (!currentUser) {
        if (!currentHost)
            return false;
        const std::string root = CFShimLocalRoot();
        path = (root == "/" ? "" : root) + "/Library/Preferences/" + domain + ".plist";
        return true;
    }
    const std::string home = CFShimHomeFolder();
    if (home.empty())
        return false;
    const std::string folder = (home == "/" ? "" : home) + "/Library/Preferences/";
    if (!currentHost) {
        path = folder + domain + ".plist";
        return true;
    }
    const std::string host = CFShimHostName();
    if (host.empty() || host.find('/') != std::string::npos)
        return false;
    path = folder + "ByHost/" + domain + "." + host + ".plist";
    return true;
}

enum class Load { Missing, Read, Unreadable };

// Reads the file's dictionary into `out` (a new reference, mutable when asked).
Load loadDictionary(const std::string& path, CFDictionaryRef& out, bool mutableContainers)
{
    out = nullptr;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? Load::Missing : Load::Unreadable;
    struct stat st{};
    std::vector<uint8_t> bytes;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFile;
    if (ok) {
        bytes.resize(size_t(st.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            ok = got > 0;
            done += ok ? size_t(got) : 0;
        }
    }
    close(fd);
    if (!ok)
        return Load::Unreadable;
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, bytes.data(), CFIndex(bytes.size()));
    CFPropertyListRef list = CFPropertyListCreateWithData(
        kCFAllocatorDefault, data,
        mutableContainers ? kCFPropertyListMutableContainers : kCFPropertyListImmutable, nullptr, nullptr);
    CFRelease(data);
    if (!list)
        return Load::Unreadable;
    if (CFGetTypeID(list) != CFDictionaryGetTypeID()) {
        CFRelease(list);
        return Load::Unreadable;
    }
    out = static_cast<CFDictionaryRef>(list);
    return Load::Read;
}

bool writeAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        p += put;
        n -= size_t(put);
    }
    return true;
}

// Replaces the file with the bytes through a temporary file beside it.
bool replaceFile(const std::string& path, CFDataRef data)
{
    const std::string folder = path.substr(0, path.rfind('/'));
    std::error_code ec;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (!std::filesystem::is_directory(folder, ec))
            return false;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat old{};
    bool ok = writeAll(fd, CFDataGetBytePtr(data), size_t(CFDataGetLength(data)));
    if (ok && stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ok = fchmod(fd, old.st_mode & 07777) == 0;
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

// Sets (value not null) or removes the key in the file.
bool change(const std::string& path, CFStringRef key, CFPropertyListRef value)
{
    CFDictionaryRef dict = nullptr;
    const Load load = loadDictionary(path, dict, false);
    if (load == Load::Unreadable)
        return false;
    if (!value && (load == Load::Missing || !CFDictionaryContainsKey(dict, key))) {
        if (dict)
            CFRelease(dict);
        return true;  // nothing to remove
    }
    CFMutableDictionaryRef changed = dict
        ? CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, dict)
        : CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                    &kCFTypeDictionaryValueCallBacks);
    if (dict)
        CFRelease(dict);
    if (value)
        CFDictionarySetValue(changed, key, value);
    else
        CFDictionaryRemoveValue(changed, key);
    CFDataRef data =
        CFPropertyListCreateData(kCFAllocatorDefault, changed, kCFPropertyListXMLFormat_v1_0, 0, nullptr);
    CFRelease(changed);
    if (!data)
        return false;
    const bool ok = replaceFile(path, data);
    CFRelease(data);
    return ok;
}

}  // namespace

std::string CFShimHomeFolder()
{
    std::string home = environment("HOME");
    if (home.empty()) {
        struct passwd entry;
        struct passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
            home = found->pw_dir;
    }
    return home.empty() ? home : withoutTrailingSlashes(home);
}

std::string CFShimLocalRoot()
{
    const std::string root = environment("VANTOR_LOCAL_ROOT");
    return root.empty() ? "/" : withoutTrailingSlashes(root);
}

std::string CFShimHostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}

CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID, CFStringRef userName,
                                         CFStringRef hostName)
{
    std::string path;
    if (!key || CFGetTypeID(key) != CFStringGetTypeID() || !fileOf(applicationID, userName, hostName, path))
        return nullptr;
    CFDictionaryRef dict = nullptr;
    if (loadDictionary(path, dict, false) != Load::Read)
        return nullptr;
    CFTypeRef value = CFDictionaryGetValue(dict, key);
    if (value)
        CFRetain(value);
    CFRelease(dict);
    return value;
}

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID)
{
    const CFStringRef scopes[3][2] = {{kCFPreferencesCurrentUser, kCFPreferencesCurrentHost},
                                      {kCFPreferencesCurrentUser, kCFPreferencesAnyHost},
                                      {kCFPreferencesAnyUser, kCFPreferencesCurrentHost}};
    for (const auto& scope : scopes)
        if (CFPropertyListRef value = CFPreferencesCopyValue(key, applicationID, scope[0], scope[1]))
            return value;
    return nullptr;
}

void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                           CFStringRef userName, CFStringRef hostName)
{
    std::string path;
    if (!fileOf(applicationID, userName, hostName, path))
        return;
    const std::lock_guard<std::mutex> guard(changeLock());
    const bool ok = key && CFGetTypeID(key) == CFStringGetTypeID() && change(path, key, value);
    if (!ok)
        failedChanges()[path] = true;
}

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID)
{
    CFPreferencesSetValue(key, value, applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName)
{
    std::string path;
    if (!fileOf(applicationID, userName, hostName, path))
        return false;
    const std::lock_guard<std::mutex> guard(changeLock());
    return failedChanges().erase(path) == 0;
}

Boolean CFPreferencesAppSynchronize(CFStringRef applicationID)
{
    return CFPreferencesSynchronize(applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

CFArrayRef CFPreferencesCopyKeyList(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName)
{
    std::string path;
    CFDictionaryRef dict = nullptr;
    if (!fileOf(applicationID, userName, hostName, path) || loadDictionary(path, dict, false) != Load::Read)
        return nullptr;
    CFMutableArrayRef keys = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    for (const auto& entry : dict->entries)
        CFArrayAppendValue(keys, entry.first);
    CFRelease(dict);
    return keys;
}
