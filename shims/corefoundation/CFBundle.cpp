#include "shims/corefoundation/CFObject.h"

#include <sys/stat.h>

struct CFBundleObject final : CFObject {
    explicit CFBundleObject(CFURLRef u) : CFObject(kCFShimBundleTypeID), url(u) {}
    ~CFBundleObject() override { CFRelease(url); }
    const CFURLRef url;  // owned
};

namespace {

CFURLRef resourcesURL(CFBundleRef bundle)
{
    return cfShimMakeURL(bundle->url->path + "/Contents/Resources", true);
}

bool utf8(CFStringRef s, std::string& out) { return s && cfShimUTF8FromUnits(s->units, out); }

}  // namespace

CFTypeID CFBundleGetTypeID() { return kCFShimBundleTypeID; }

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL)
{
    struct stat st{};
    if (!bundleURL || stat(bundleURL->path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return nullptr;
    return new CFBundleObject(cfShimMakeURL(bundleURL->path, true));
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle)
{
    return bundle ? static_cast<CFURLRef>(CFRetain(bundle->url)) : nullptr;
}

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle)
{
    return bundle ? resourcesURL(bundle) : nullptr;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type, CFStringRef subDir)
{
    std::string file, extension, folder;
    if (!bundle || !utf8(name, file) || file.empty() || (type && !utf8(type, extension)) ||
        (subDir && !utf8(subDir, folder)))
        return nullptr;
    if (!extension.empty() && extension[0] == '.')
        extension.erase(0, 1);
    std::string path = bundle->url->path + "/Contents/Resources";
    if (!folder.empty())
        path += "/" + folder;
    path += "/" + file;
    if (!extension.empty())
        path += "." + extension;
    struct stat st{};
    if (stat(path.c_str(), &st) != 0)
        return nullptr;
    return cfShimMakeURL(path, S_ISDIR(st.st_mode));
}
