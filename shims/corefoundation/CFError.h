#pragma once
// Error objects: a domain and a code (errno in the POSIX domain).

#include "shims/corefoundation/CFString.h"

typedef const struct CFErrorObject* CFErrorRef;

extern const CFStringRef kCFErrorDomainPOSIX;
extern const CFStringRef kCFErrorDomainCocoa;  // property-list codes

CFTypeID CFErrorGetTypeID();
CFErrorRef CFErrorCreate(CFAllocatorRef alloc, CFStringRef domain, CFIndex code);
CFStringRef CFErrorGetDomain(CFErrorRef error);
CFIndex CFErrorGetCode(CFErrorRef error);
