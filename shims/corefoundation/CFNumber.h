#pragma once
// Numbers: integers up to 64 bits and floating-point values.

#include "shims/corefoundation/CFBase.h"

typedef const struct CFNumberObject* CFNumberRef;

typedef CFIndex CFNumberType;
enum : CFNumberType {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberMaxType = 14,
};

CFTypeID CFNumberGetTypeID();
// Null for an unknown type or a null value pointer.
CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType type, const void* value);
CFNumberType CFNumberGetType(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
// Stores the value converted to `type` (saturated, truncated toward zero) and returns whether
// the conversion was exact.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value);

// The two boolean objects; never freed. Booleans are not numbers.
typedef const struct CFBooleanObject* CFBooleanRef;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

CFTypeID CFBooleanGetTypeID();
Boolean CFBooleanGetValue(CFBooleanRef boolean);
