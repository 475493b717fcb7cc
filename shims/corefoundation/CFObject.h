#pragma once
// Inside the stand-in: the common object header and the concrete object types.

#include "shims/corefoundation/CoreFoundationShim.h"

#include <atomic>
#include <string>

enum : CFTypeID {
    kCFShimErrorTypeID = 1,
    kCFShimStringTypeID,
    kCFShimNumberTypeID,
    kCFShimURLTypeID,
    kCFShimBundleTypeID,
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

// Helpers shared by the object files.
std::u16string cfShimUnitsFromUTF8(const std::string& utf8, bool* ok);
bool cfShimUTF8FromUnits(const std::u16string& units, std::string& out);
CFURLRef cfShimMakeURL(std::string path, bool isDirectory);
