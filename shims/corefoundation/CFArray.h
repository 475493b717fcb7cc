#pragma once
// Arrays of CoreFoundation objects, retained while held.

#include "shims/corefoundation/CFBase.h"

typedef const struct CFArrayObject* CFArrayRef;
typedef struct CFArrayObject* CFMutableArrayRef;

// Only object values are held (retained on insertion, released on removal); the callbacks
// argument is accepted for the familiar signatures and not used.
struct CFArrayCallBacks {
    CFIndex version;
};
extern const CFArrayCallBacks kCFTypeArrayCallBacks;

CFTypeID CFArrayGetTypeID();
// Null when `count` is negative or `values` is null with a non-zero count, or a value is null.
CFArrayRef CFArrayCreate(CFAllocatorRef alloc, const void** values, CFIndex count,
                         const CFArrayCallBacks* callBacks);
CFArrayRef CFArrayCreateCopy(CFAllocatorRef alloc, CFArrayRef array);
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                       const CFArrayCallBacks* callBacks);
CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef alloc, CFIndex capacity, CFArrayRef array);
CFIndex CFArrayGetCount(CFArrayRef array);
// Not retained for the caller; null outside the array.
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);
void CFArrayAppendValue(CFMutableArrayRef array, const void* value);
void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index);
