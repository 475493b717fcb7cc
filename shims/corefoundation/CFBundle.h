#pragma once
// Bundles as folders: NAME.bundle (or NAME.vst3 and the like)/Contents/Resources holds the
// resources, Contents/x86_64-linux/NAME.so the executable.

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

// The executable's URL when the file exists, else null.
CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle);
// Loads the executable (dlopen, symbols resolved now and kept local); true once it is loaded.
// Releasing the bundle does not unload it.
Boolean CFBundleLoadExecutable(CFBundleRef bundle);
Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle);
void CFBundleUnloadExecutable(CFBundleRef bundle);
// The address of an exported symbol, loading the executable first; null when there is none.
void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef name);
