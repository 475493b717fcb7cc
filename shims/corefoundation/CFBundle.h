#pragma once
// Bundles as folders: NAME.bundle/Contents/Resources holds the resources.

#include "shims/corefoundation/CFURL.h"

typedef struct CFBundleObject* CFBundleRef;

CFTypeID CFBundleGetTypeID();
// Null when the URL names no folder.
CFBundleRef CFBundleCreate(CFAllocatorRef alloc, CFURLRef bundleURL);
CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);
CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
// Resources[/subDir]/name[.type] when something exists there, else null. A leading "." of the
// type is ignored.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type, CFStringRef subDir);
