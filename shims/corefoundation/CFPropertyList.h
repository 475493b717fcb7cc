#pragma once
// Property lists: trees of dictionaries, arrays, strings, numbers, booleans, data and dates,
// read from XML or binary files and written as XML or binary.

#include "shims/corefoundation/CFArray.h"
#include "shims/corefoundation/CFData.h"
#include "shims/corefoundation/CFDictionary.h"
#include "shims/corefoundation/CFError.h"
#include "shims/corefoundation/CFNumber.h"
#include "shims/corefoundation/CFString.h"

typedef CFTypeRef CFPropertyListRef;

typedef CFIndex CFPropertyListFormat;
enum : CFPropertyListFormat {
    kCFPropertyListOpenStepFormat = 1,  // neither read nor written
    kCFPropertyListXMLFormat_v1_0 = 100,
    kCFPropertyListBinaryFormat_v1_0 = 200,
};

enum : CFOptionFlags {
    kCFPropertyListImmutable = 0,
    kCFPropertyListMutableContainers = 1,
    kCFPropertyListMutableContainersAndLeaves = 2,  // strings and data stay immutable here
};

// Error codes in kCFErrorDomainCocoa.
enum : CFIndex { kCFPropertyListReadCorruptError = 3840, kCFPropertyListWriteStreamError = 3851 };

// The deepest nesting of containers read or written.
inline constexpr int kCFShimPropertyListMaxDepth = 256;

// Reads an XML or binary property list. Null (and a new error in *error when asked) for data
// that is not a whole property list, that nests containers deeper than the limit, holds a
// string or key that is not valid UTF-8, a non-string key, a binary key holding U+0000 or a
// keyed-archive reference, or is larger than 16 MiB. Integers are 64-bit two's complement values; dictionaries keep the order
// of the data.
CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef alloc, CFDataRef data, CFOptionFlags options,
                                               CFPropertyListFormat* format, CFErrorRef* error);
// Writes XML or binary. Null (and an error when asked) for an object that is not a property
// list: another kind of object, a non-string key, a string holding U+0000, a date outside the
// years 1933 to 2069, or nesting deeper than the limit.
CFDataRef CFPropertyListCreateData(CFAllocatorRef alloc, CFPropertyListRef plist, CFPropertyListFormat format,
                                   CFOptionFlags options, CFErrorRef* error);
