#include "platform/config.h"

#include "platform/CFTools.h"
#include "platform/PlatformTools.h"
#include "platform/PlatformToolsLinux.h"

#include <set>

namespace vantor {

namespace {

// A UTF-8 text made into a string; empty when it is not UTF-8.
class Text {
public:
    explicit Text(const std::string& text) : string_(text, kCFStringEncodingUTF8, false) {}
    CFStringRef get() const { return string_.getCFStringRef(); }
    explicit operator bool() const { return get() != nullptr; }

private:
    CFStringWrapper string_;
};

bool isA(CFTypeRef ref, CFTypeID type) { return ref && CFGetTypeID(ref) == type; }

bool isDictionary(CFTypeRef ref) { return isA(ref, CFDictionaryGetTypeID()); }

// The string as UTF-8 through a 2048-byte buffer; `out` untouched when it is no string or too long.
bool copyText(CFTypeRef ref, std::string& out)
{
    if (!isA(ref, CFStringGetTypeID()))
        return false;
    char buffer[2048];
    if (!CFStringGetCString(static_cast<CFStringRef>(ref), buffer, sizeof buffer, kCFStringEncodingUTF8))
        return false;
    out = buffer;
    return true;
}

// Appends the dictionary's keys in its order; the number appended.
size_t appendKeys(CFTypeRef dict, std::vector<std::string>& out)
{
    if (!isDictionary(dict))
        return 0;
    const auto d = static_cast<CFDictionaryRef>(dict);
    std::vector<const void*> keys(size_t(CFDictionaryGetCount(d)));
    CFDictionaryGetKeysAndValues(d, keys.data(), nullptr);
    size_t appended = 0;
    for (const void* key : keys) {
        std::string name;
        if (copyText(key, name)) {
            out.push_back(name);
            ++appended;
        }
    }
    return appended;
}

CFTypeRef serviceLookup(CFStringRef domain, CFStringRef key)
{
    CFTypeRef value = CFPreferencesCopyAppValue(key, domain);
    return value ? value
                 : CFPreferencesCopyValue(key, domain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

// The dictionary of a preferences file read directly: Library/Preferences/DOMAIN.plist of the
// user's or the local domain. Null when it is missing, unreadable or not a dictionary.
CFDictionaryRef readPreferencesFile(ZRC_FindFolderDomain where, const std::string& domain)
{
    std::string library;
    if (domain.empty() || domain == "." || domain == ".." || domain.find('/') != std::string::npos ||
        !wrap_FindFolder(kFolderLibrary, where, library, false))
        return nullptr;
    std::vector<uint8_t> bytes;
    if (!binFileInternalize(library + "/Preferences/" + domain + ".plist", bytes) || bytes.empty())
        return nullptr;
    const CFTypeWrapper data(CFDataCreate(kCFAllocatorDefault, bytes.data(), CFIndex(bytes.size())));
    CFPropertyListRef list =
        CFPropertyListCreateWithData(kCFAllocatorDefault, static_cast<CFDataRef>(data.getCFTypeRef()),
                                     kCFPropertyListImmutable, nullptr, nullptr);
    if (list && !isDictionary(list)) {
        CFRelease(list);
        list = nullptr;
    }
    return static_cast<CFDictionaryRef>(list);
}

// A new reference to the entry of the dictionary, or null.
CFTypeRef copyEntry(CFDictionaryRef dict, CFStringRef key)
{
    CFTypeRef value = dict ? CFDictionaryGetValue(dict, key) : nullptr;
    return value ? CFRetain(value) : nullptr;
}

// Owns a mutable copy of a dictionary, or a new one when the value is none.
class MutableDictionary {
public:
    explicit MutableDictionary(CFTypeRef ref)
        : dict_(isDictionary(ref)
                    ? CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, static_cast<CFDictionaryRef>(ref))
                    : CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                &kCFTypeDictionaryValueCallBacks))
    {
    }
    ~MutableDictionary() { CFRelease(dict_); }
    MutableDictionary(const MutableDictionary&) = delete;
    MutableDictionary& operator=(const MutableDictionary&) = delete;
    CFMutableDictionaryRef get() const { return dict_; }

private:
    CFMutableDictionaryRef dict_;
};

struct Scope {
    CFStringRef user;
    CFStringRef host;
};

Scope keyPathScope(CONFIG_LEVEL level)
{
    return {level == CONFIG_LEVEL_SYSTEM ? kCFPreferencesAnyUser : kCFPreferencesCurrentUser,
            kCFPreferencesCurrentHost};
}

// Sets (or with null removes) the key at current user x any host and synchronises.
bool storeUserValue(CFStringRef domain, CFStringRef key, CFTypeRef value)
{
    CFPreferencesSetValue(key, value, domain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    return CFPreferencesSynchronize(domain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

// The walk of a key path below its top value: each further name is looked up while the current
// value is a dictionary (a missing name ends the walk); a value that is not one lets the name
// pass. With `wantText`, a string under the last name is the result; otherwise the value the
// last name reached is. Takes over `current`; returns a new reference or null.
CFTypeRef walk(CFTypeRef current, const ConfigKeyPath& path, bool wantText)
{
    CFTypeWrapper held(current);
    for (size_t i = 1; i < path.size(); ++i) {
        if (!isDictionary(held.getCFTypeRef()))
            continue;
        const Text name(path[i]);
        CFTypeRef next = name
            ? CFDictionaryGetValue(static_cast<CFDictionaryRef>(held.getCFTypeRef()), name.get())
            : nullptr;
        if (!next)
            return nullptr;
        CFRetain(next);
        held.reset(next);
        if (wantText && i + 1 == path.size() && isA(next, CFStringGetTypeID()))
            return CFRetain(next);
    }
    if (wantText)
        return nullptr;
    return held.getCFTypeRef() ? CFRetain(held.getCFTypeRef()) : nullptr;
}

}  // namespace

bool readConfigIntValue(const std::string& domain, const std::string& key, int32_t& out, CONFIG_LEVEL)
{
    const Text d(domain), k(key);
    if (!d || !k)
        return false;
    const CFTypeWrapper value(serviceLookup(d.get(), k.get()));
    int32_t v = 0;
    if (!isA(value.getCFTypeRef(), CFNumberGetTypeID()) ||
        !CFNumberGetValue(static_cast<CFNumberRef>(value.getCFTypeRef()), kCFNumberSInt32Type, &v))
        return false;
    out = v;
    return true;
}

bool readConfigDoubleValue(const std::string& domain, const std::string& key, double& out, CONFIG_LEVEL)
{
    const Text d(domain), k(key);
    if (!d || !k)
        return false;
    const CFTypeWrapper value(serviceLookup(d.get(), k.get()));
    if (!isA(value.getCFTypeRef(), CFNumberGetTypeID()))
        return false;
    double v = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(value.getCFTypeRef()), kCFNumberFloat64Type, &v);  // nearest
    out = v;
    return true;
}

bool readConfigStringValue(const std::string& domain, const std::string& key, std::string& out,
                           CONFIG_LEVEL level)
{
    const Text d(domain), k(key);
    if (!d || !k)
        return false;
    if (level != CONFIG_LEVEL_USER_FILE) {
        const CFTypeWrapper value(serviceLookup(d.get(), k.get()));
        return copyText(value.getCFTypeRef(), out);
    }
    const CFTypeWrapper file(readPreferencesFile(kDomainUser, domain));
    if (!file.getCFTypeRef())
        return false;
    const auto dict = static_cast<CFDictionaryRef>(file.getCFTypeRef());
    std::vector<const void*> keys(size_t(CFDictionaryGetCount(dict))), values(keys.size());
    CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
    bool taken = false;
    for (size_t i = 0; i < keys.size(); ++i)
        if (isA(keys[i], CFStringGetTypeID()) &&
            CFStringCompare(static_cast<CFStringRef>(keys[i]), k.get(), kCFCompareCaseInsensitive) ==
                kCFCompareEqualTo)
            taken = copyText(values[i], out) || taken;
    return taken;
}

bool writeConfigIntValue(const std::string& domain, const std::string& key, int32_t value, CONFIG_LEVEL)
{
    const Text d(domain), k(key);
    if (!d || !k)
        return false;
    const CFTypeWrapper number(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value));
    return storeUserValue(d.get(), k.get(), number.getCFTypeRef());
}

bool writeConfigStringValue(const std::string& domain, const std::string& key, const std::string& value,
                            CONFIG_LEVEL)
{
    const Text d(domain), k(key), v(value);
    return d && k && v && storeUserValue(d.get(), k.get(), v.get());
}

bool deleteConfigValue(const std::string& domain, const std::string& key, CONFIG_LEVEL)
{
    const Text d(domain), k(key);
    return d && k && storeUserValue(d.get(), k.get(), nullptr);
}

bool deleteConfigKey(const std::string&, const std::string&, CONFIG_LEVEL) { return false; }

bool listConfigStringKeys(const std::string&, const std::string&, std::vector<std::string>&, CONFIG_LEVEL)
{
    return false;
}

bool listConfigKeys(const std::string& domain, const std::string& key, std::vector<std::string>& out,
                    CONFIG_LEVEL)
{
    const Text d(domain), k(key.empty() ? std::string("Root") : key);
    if (!d || !k)
        return false;
    const CFTypeWrapper value(serviceLookup(d.get(), k.get()));
    return appendKeys(value.getCFTypeRef(), out) > 0;
}

bool listAndMergeSystemUserConfigKeys(const std::string& domain, const std::string& key,
                                      std::vector<std::string>& out)
{
    const CFStringWrapper d(domain, CFStringGetSystemEncoding(), false),
        k(key, CFStringGetSystemEncoding(), false);
    if (!d.getCFStringRef() || !k.getCFStringRef())
        return false;
    std::vector<std::string> keys;
    for (CFStringRef user : {kCFPreferencesAnyUser, kCFPreferencesCurrentUser}) {
        const CFTypeWrapper dict(
            CFPreferencesCopyValue(k.getCFStringRef(), d.getCFStringRef(), user, kCFPreferencesCurrentHost));
        appendKeys(dict.getCFTypeRef(), keys);
    }
    const std::set<std::string> merged(keys.begin(), keys.end());  // ascending byte order
    out.insert(out.end(), merged.begin(), merged.end());
    return !merged.empty();
}

bool readConfigStringValue(const std::string& domain, const ConfigKeyPath& path, std::string& out,
                           CONFIG_LEVEL level)
{
    if (path.size() == 1 && level != CONFIG_LEVEL_MACHINE_FILE)
        return readConfigStringValue(domain, path[0], out, level);
    const Text d(domain);
    if (path.empty() || !d)
        return false;
    const Text first(path[0]);
    CFTypeRef top = nullptr;
    if (first) {
        if (level == CONFIG_LEVEL_SYSTEM) {
            top = CFPreferencesCopyAppValue(first.get(), d.get());
        } else if (level == CONFIG_LEVEL_MACHINE_FILE) {
            const CFTypeWrapper file(readPreferencesFile(kDomainLocal, domain));
            top = copyEntry(static_cast<CFDictionaryRef>(file.getCFTypeRef()), first.get());
        }
        if (!top)
            top = CFPreferencesCopyValue(first.get(), d.get(), kCFPreferencesCurrentUser,
                                         kCFPreferencesAnyHost);
    }
    bool found = false;
    if (top && path.size() == 1) {
        const CFTypeWrapper held(top);
        found = copyText(top, out);
    } else if (top) {
        const CFTypeWrapper text(walk(top, path, true));
        found = copyText(text.getCFTypeRef(), out);
    }
    if (!found && level != CONFIG_LEVEL_MACHINE_FILE)
        return readConfigStringValue(domain, path, out, CONFIG_LEVEL_MACHINE_FILE);
    return found;
}

bool writeConfigStringValue(const std::string& domain, const ConfigKeyPath& path, const std::string& value,
                            CONFIG_LEVEL level)
{
    if (path.empty() || path.size() > 3)
        return false;
    const Text d(domain), v(value), n1(path[0]), n2(path.size() > 1 ? path[1] : ""),
        n3(path.size() > 2 ? path[2] : "");
    if (!d || !v || !n1 || !n2 || !n3)
        return false;
    const Scope scope = keyPathScope(level);
    CFTypeWrapper stored(CFRetain(v.get()));
    if (path.size() > 1) {
        const CFTypeWrapper current(CFPreferencesCopyValue(n1.get(), d.get(), scope.user, scope.host));
        const MutableDictionary outer(current.getCFTypeRef());
        if (path.size() == 2) {
            CFDictionarySetValue(outer.get(), n2.get(), v.get());
        } else {
            const MutableDictionary inner(CFDictionaryGetValue(outer.get(), n2.get()));
            CFDictionarySetValue(inner.get(), n3.get(), v.get());
            CFDictionarySetValue(outer.get(), n2.get(), inner.get());
        }
        stored.reset(CFRetain(outer.get()));
    }
    CFPreferencesSetValue(n1.get(), stored.getCFTypeRef(), d.get(), scope.user, scope.host);
    return CFPreferencesSynchronize(d.get(), scope.user, scope.host);
}

bool listConfigKeys(const std::string& domain, const ConfigKeyPath& path, std::vector<std::string>& out,
                    CONFIG_LEVEL level)
{
    if (path.size() == 1)
        return listConfigKeys(domain, path[0], out, level);
    const Text d(domain);
    if (!d)
        return false;
    if (path.empty()) {
        const CFTypeWrapper keys(
            CFPreferencesCopyKeyList(d.get(), kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
        if (!keys.getCFTypeRef())
            return false;
        const auto array = static_cast<CFArrayRef>(keys.getCFTypeRef());
        for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
            std::string name;
            if (copyText(CFArrayGetValueAtIndex(array, i), name))
                out.push_back(name);
        }
        return true;
    }
    const Text first(path[0]);
    if (!first)
        return false;
    CFTypeRef top =
        CFPreferencesCopyValue(first.get(), d.get(), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    if (!top)
        return false;
    const CFTypeWrapper last(walk(top, path, false));
    return appendKeys(last.getCFTypeRef(), out) > 0;
}

bool deleteConfigKey(const std::string& domain, const ConfigKeyPath& path, const std::string& key,
                     CONFIG_LEVEL level)
{
    if (path.size() > 2)
        return false;
    const Text d(domain), k(key);
    if (!d || !k)
        return false;
    const Scope scope = keyPathScope(level);
    if (path.empty()) {
        CFPreferencesSetValue(k.get(), nullptr, d.get(), scope.user, scope.host);
        return CFPreferencesSynchronize(d.get(), scope.user, scope.host);
    }
    const Text n1(path[0]), n2(path.size() > 1 ? path[1] : "");
    if (!n1 || !n2)
        return false;
    const CFTypeWrapper current(CFPreferencesCopyValue(n1.get(), d.get(), scope.user, scope.host));
    if (isDictionary(current.getCFTypeRef())) {
        const MutableDictionary outer(current.getCFTypeRef());
        bool changed = false;
        if (path.size() == 1) {
            changed = CFDictionaryContainsKey(outer.get(), k.get());
            CFDictionaryRemoveValue(outer.get(), k.get());
        } else if (CFTypeRef inner = CFDictionaryGetValue(outer.get(), n2.get()); isDictionary(inner)) {
            const MutableDictionary innerCopy(inner);
            changed = CFDictionaryContainsKey(innerCopy.get(), k.get());
            CFDictionaryRemoveValue(innerCopy.get(), k.get());
            CFDictionarySetValue(outer.get(), n2.get(), innerCopy.get());
        }
        if (changed)  // nothing to remove: nothing to write
            CFPreferencesSetValue(n1.get(), outer.get(), d.get(), scope.user, scope.host);
    }
    return CFPreferencesSynchronize(d.get(), scope.user, scope.host);
}

}  // namespace vantor
