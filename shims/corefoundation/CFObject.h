#pragma once
// Inside the stand-in: the common object header and the concrete object types.

#include "shims/corefoundation/CoreFoundationShim.h"

#include <atomic>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

enum : CFTypeID {
    kCFShimErrorTypeID = 1,
    kCFShimStringTypeID,
    kCFShimNumberTypeID,
    kCFShimURLTypeID,
    kCFShimBundleTypeID,
    kCFShimArrayTypeID,
    kCFShimDictionaryTypeID,
    kCFShimBooleanTypeID,
    kCFShimDataTypeID,
    kCFShimDateTypeID,
};

struct CFObject {
    explicit CFObject(CFTypeID id) : typeID(id) {}
    virtual ~CFObject() = default;
    CFObject(const CFObject&) = delete;
    CFObject& operator=(const CFObject&) = delete;

    // Defaults: identity.
    virtual bool equals(const CFObject& other) const { return this == &other; }
    virtual CFHashCode hash() const;

    const CFTypeID typeID;
    mutable std::atomic<CFIndex> refs{1};
    bool immortal = false;
};

// The object behind a CFTypeRef, or null.
inline const CFObject* cfObject(CFTypeRef cf) { return static_cast<const CFObject*>(cf); }

struct CFStringObject final : CFObject {
    explicit CFStringObject(std::u16string u) : CFObject(kCFShimStringTypeID), units(std::move(u)) {}
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override;
    const std::u16string units;
};

struct CFErrorObject final : CFObject {
    CFErrorObject(CFStringRef d, CFIndex c);
    ~CFErrorObject() override;
    const CFStringRef domain;
    const CFIndex code;
};

struct CFURLObject final : CFObject {
    CFURLObject(std::string p, bool folder);
    ~CFURLObject() override;
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override;
    const std::string path;  // no trailing slash except for the root
    const bool isDirectory;
    CFStringRef urlString = nullptr;
};

// Values are retained while held. Only the mutable kinds may be changed.
struct CFArrayObject final : CFObject {
    explicit CFArrayObject(bool m) : CFObject(kCFShimArrayTypeID), isMutable(m) {}
    ~CFArrayObject() override;
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override { return CFHashCode(values.size()); }
    std::vector<CFTypeRef> values;
    const bool isMutable;
};

// Keys and values are retained while held; entries keep the order in which keys were first set.
struct CFDictionaryObject final : CFObject {
    explicit CFDictionaryObject(bool m) : CFObject(kCFShimDictionaryTypeID), isMutable(m) {}
    ~CFDictionaryObject() override;
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override { return CFHashCode(entries.size()); }
    // Index of the entry whose key equals `key`, or -1.
    CFIndex find(CFTypeRef key) const;
    void set(CFTypeRef key, CFTypeRef value);  // both retained
    bool remove(CFTypeRef key);
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
    std::unordered_multimap<CFHashCode, size_t> index;  // key hash -> entry
    const bool isMutable;
};

// Helpers shared by the object files.
std::u16string cfShimUnitsFromUTF8(const std::string& utf8, bool* ok);
bool cfShimUTF8FromUnits(const std::u16string& units, std::string& out);
CFURLRef cfShimMakeURL(std::string path, bool isDirectory);
