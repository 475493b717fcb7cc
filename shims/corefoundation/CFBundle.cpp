#include "shims/corefoundation/CFObject.h"

#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>

struct CFBundleObject final : CFObject {
    explicit CFBundleObject(CFURLRef u) : CFObject(kCFShimBundleTypeID), url(u) {}
    ~CFBundleObject() override { CFRelease(url); }  // a loaded executable stays loaded
    const CFURLRef url;  // owned
    std::mutex lock;  // guards `executable`
    void* executable = nullptr;
};

namespace {

CFURLRef resourcesURL(CFBundleRef bundle)
{
    return cfShimMakeURL(bundle->url->path + "/Contents/Resources", true);
}

bool utf8(CFStringRef s, std::string& out) { return s && cfShimUTF8FromUnits(s->units, out); }

// Contents/x86_64-linux/NAME.so, NAME being the folder's name without its extension.
std::string executablePath(CFBundleRef bundle)
{
    const std::string& folder = bundle->url->path;
    std::string name = folder.substr(folder.rfind('/') + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return folder + "/Contents/x86_64-linux/" + name + ".so";
}

bool isFile(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

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

CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle)
{
    if (!bundle)
        return nullptr;
    const std::string path = executablePath(bundle);
    return isFile(path) ? cfShimMakeURL(path, false) : nullptr;
}

Boolean CFBundleLoadExecutable(CFBundleRef bundle)
{
    if (!bundle)
        return false;
    const std::string path = executablePath(bundle);
    const std::lock_guard<std::mutex> guard(bundle->lock);
    if (!bundle->executable && isFile(path))
        bundle->executable = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return bundle->executable != nullptr;
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle)
{
    if (!bundle)
        return false;
    const std::lock_guard<std::mutex> guard(bundle->lock);
    return bundle->executable != nullptr;
}

void CFBundleUnloadExecutable(CFBundleRef bundle)
{
    if (!bundle)
        return;
    const std::lock_guard<std::mutex> guard(bundle->lock);
    if (bundle->executable)
        dlclose(bundle->executable);
    bundle->executable = nullptr;
}

void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef name)
{
    std::string symbol;
    if (!utf8(name, symbol) || symbol.empty() || symbol.find('\0') != std::string::npos ||
        !CFBundleLoadExecutable(bundle))
        return nullptr;
    const std::lock_guard<std::mutex> guard(bundle->lock);
    return bundle->executable ? dlsym(bundle->executable, symbol.c_str()) : nullptr;
}
