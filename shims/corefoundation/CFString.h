#pragma once
// Immutable strings held as UTF-16 code units, converted from and to byte encodings.

#include "shims/corefoundation/CFBase.h"

typedef const struct CFStringObject* CFStringRef;

typedef uint32_t CFStringEncoding;
enum : CFStringEncoding {
    kCFStringEncodingUnicode = 0x0100,  // UTF-16 in host order; a leading byte-order mark is read
    kCFStringEncodingUTF16 = 0x0100,
    kCFStringEncodingWindowsLatin1 = 0x0500,  // code page 1252
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
    kCFStringEncodingUTF32 = 0x0c000100,  // UTF-32 in host order; a leading byte-order mark is read
    kCFStringEncodingUTF16BE = 0x10000100,
    kCFStringEncodingUTF16LE = 0x14000100,
    kCFStringEncodingUTF32BE = 0x18000100,
    kCFStringEncodingUTF32LE = 0x1c000100,
    kCFStringEncodingInvalidId = 0xffffffffu,
};

enum : CFOptionFlags { kCFCompareCaseInsensitive = 1 };

CFTypeID CFStringGetTypeID();
// UTF-8 on this system.
CFStringEncoding CFStringGetSystemEncoding();
Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding);

// Null when the bytes are not valid in the encoding or the encoding is not available.
// UTF-8 must be well-formed (no overlong forms, surrogates or values above 10FFFF); UTF-16 takes
// any units; UTF-32 takes Unicode scalar values; code page 1252 takes every byte (its five
// undefined bytes stand for U+0081, U+008D, U+008F, U+0090 and U+009D).
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* text, CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const uint8_t* bytes, CFIndex count,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* units, CFIndex count);
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef string);

// Length in UTF-16 units.
CFIndex CFStringGetLength(CFStringRef string);
UniChar CFStringGetCharacterAtIndex(CFStringRef string, CFIndex index);
void CFStringGetCharacters(CFStringRef string, CFRange range, UniChar* buffer);

// Converts the units of `range` into `buffer` (null: only measures) until one does not fit or
// cannot be represented (unless `lossByte` is not 0, which then stands in for it). Returns the
// number of units converted; `usedBufLen` receives the bytes written. An external
// representation of UTF-16 or UTF-32 starts with a byte-order mark.
CFIndex CFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, uint8_t lossByte,
                         Boolean isExternalRepresentation, uint8_t* buffer, CFIndex maxBufLen,
                         CFIndex* usedBufLen);
// The whole string and a terminating zero byte; false when it does not fit or a character
// cannot be represented.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);

// Unit by unit; case-insensitive comparison folds ASCII and Latin-1 letters.
CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFOptionFlags options);

// A string that lives until the process ends, one per distinct UTF-8 text.
CFStringRef CFShimConstantString(const char* utf8);
#define CFSTR(text) CFShimConstantString("" text "")

// A name of at most 255 UTF-16 units, as file-system catalogs hold them.
struct HFSUniStr255 {
    uint16_t length;
    UniChar unicode[255];
};
