#pragma once
// File URLs: a path (bytes, as the file system takes them) and a folder flag. A relative path
// stays relative and is resolved by the file system against the working folder.

#include "shims/corefoundation/CFError.h"
#include "shims/corefoundation/CFString.h"

typedef const struct CFURLObject* CFURLRef;

typedef CFIndex CFURLPathStyle;
enum : CFURLPathStyle { kCFURLPOSIXPathStyle = 0 };

// Resource key whose value is the URL of the mount point that holds the item.
extern const CFStringRef kCFURLVolumeURLKey;

CFTypeID CFURLGetTypeID();
// Null for an empty path, a path with a zero byte or a style other than POSIX. Trailing
// slashes are dropped (the root stays "/").
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef path, CFURLPathStyle style,
                                       Boolean isDirectory);
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef alloc, const uint8_t* bytes, CFIndex count,
                                                 Boolean isDirectory);
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef alloc, CFURLRef url, CFStringRef component,
                                               Boolean isDirectory);
// The path bytes and a terminating zero; false when they do not fit.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, uint8_t* buffer,
                                         CFIndex maxBufLen);
// The path as a string; null when the path bytes are not UTF-8.
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style);
// "file://" + the percent-escaped absolute path (a trailing "/" for folders); owned by the URL.
CFStringRef CFURLGetString(CFURLRef url);
Boolean CFURLHasDirectoryPath(CFURLRef url);
// Stores a new reference to the value in *propertyValue (a CFTypeRef). False for an unknown
// key or an item that cannot be queried; *error then receives a new error object when given.
Boolean CFURLCopyResourcePropertyForKey(CFURLRef url, CFStringRef key, void* propertyValue,
                                        CFErrorRef* error);
