#pragma once
// Reference-counted objects of the CoreFoundation stand-in: every object starts with one
// reference held by its creator; CFRelease drops one and frees the object at zero.

#include <cstddef>
#include <cstdint>

typedef unsigned char Boolean;
typedef uint16_t UniChar;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;
typedef unsigned long CFOptionFlags;
typedef const void* CFTypeRef;

typedef const struct CFAllocatorObject* CFAllocatorRef;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;        // every object uses new/delete
inline constexpr CFAllocatorRef kCFAllocatorSystemDefault = nullptr;

struct CFRange {
    CFIndex location;
    CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) { return {location, length}; }

typedef CFIndex CFComparisonResult;
enum : CFComparisonResult { kCFCompareLessThan = -1, kCFCompareEqualTo = 0, kCFCompareGreaterThan = 1 };

// Adds a reference and returns the object.
CFTypeRef CFRetain(CFTypeRef cf);
// Drops a reference; the last one frees the object. Constant strings are never freed.
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
// Equal strings (same UTF-16 units), numbers (same value) and URLs (same path and folder flag);
// other objects only equal themselves. Equal objects have equal hashes.
Boolean CFEqual(CFTypeRef a, CFTypeRef b);
CFHashCode CFHash(CFTypeRef cf);
