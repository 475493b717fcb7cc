#pragma once
// Immutable byte blocks and points in time, as property lists hold them.

#include "shims/corefoundation/CFBase.h"

typedef const struct CFDataObject* CFDataRef;
typedef const struct CFDateObject* CFDateRef;

// Seconds since 2001-01-01 00:00:00 UTC.
typedef double CFAbsoluteTime;

CFTypeID CFDataGetTypeID();
// Null when `length` is negative or `bytes` is null with a non-zero length.
CFDataRef CFDataCreate(CFAllocatorRef alloc, const uint8_t* bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef data);
// Valid while the object lives; null for an empty block.
const uint8_t* CFDataGetBytePtr(CFDataRef data);

CFTypeID CFDateGetTypeID();
CFDateRef CFDateCreate(CFAllocatorRef alloc, CFAbsoluteTime at);
CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef date);
