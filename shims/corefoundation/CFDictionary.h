#pragma once
// Dictionaries of CoreFoundation objects, keys compared with CFEqual. Entries keep the order in
// which their keys were first set (so a property list keeps the order of its file).

#include "shims/corefoundation/CFBase.h"

typedef const struct CFDictionaryObject* CFDictionaryRef;
typedef struct CFDictionaryObject* CFMutableDictionaryRef;

// Only object keys and values are held (retained); the callbacks arguments are accepted for the
// familiar signatures and not used.
struct CFDictionaryKeyCallBacks {
    CFIndex version;
};
struct CFDictionaryValueCallBacks {
    CFIndex version;
};
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFTypeID CFDictionaryGetTypeID();
// A repeated key keeps its first place and its last value. Null when `count` is negative, the
// arrays are null with a non-zero count, or a key or value is null.
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef alloc, const void** keys, const void** values,
                                   CFIndex count, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);
CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef alloc, CFDictionaryRef dict);
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
// A shallow copy: the same keys and values, in the same order.
CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef alloc, CFIndex capacity,
                                                     CFDictionaryRef dict);

CFIndex CFDictionaryGetCount(CFDictionaryRef dict);
Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key);
// Not retained for the caller; null when the key is absent.
const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key);
Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef dict, const void* key, const void** value);
// Fills either array (when not null) with CFDictionaryGetCount entries, in entry order.
void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values);

// Replaces the value of a present key in its place, or appends the entry.
void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key);
void CFDictionaryRemoveAllValues(CFMutableDictionaryRef dict);
