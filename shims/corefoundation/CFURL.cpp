#include "shims/corefoundation/CFObject.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

const CFStringRef kCFURLVolumeURLKey = CFSTR("NSURLVolumeURLKey");

namespace {

std::string escapePath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            strchr("-._~/!$&'()*+,;=:@", c)) {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

void setError(CFErrorRef* error, int code)
{
    if (error)
        *error = CFErrorCreate(kCFAllocatorDefault, kCFErrorDomainPOSIX, code);
}

// The topmost folder above `path` that is still on the same device: its mount point.
bool mountPointOf(const std::string& path, std::string& out, int& code)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) {
        code = errno;
        return false;
    }
    std::string current = resolved;
    free(resolved);
    struct stat st{};
    if (stat(current.c_str(), &st) != 0) {
        code = errno;
        return false;
    }
    while (current != "/") {
        const size_t slash = current.rfind('/');
        const std::string parent = slash == 0 ? "/" : current.substr(0, slash);
        struct stat up{};
        if (stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev)
            break;
        current = parent;
    }
    out = current;
    return true;
}

}  // namespace

CFURLObject::CFURLObject(std::string p, bool folder)
    : CFObject(kCFShimURLTypeID), path(std::move(p)), isDirectory(folder)
{
    std::string text = escapePath(path);
    if (!path.empty() && path[0] == '/')
        text = "file://" + text;
    if (isDirectory && path != "/")
        text += '/';
    urlString = CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(text.data()),
                                        CFIndex(text.size()), kCFStringEncodingASCII, false);
}

CFURLObject::~CFURLObject() { CFRelease(urlString); }

bool CFURLObject::equals(const CFObject& other) const
{
    const auto& o = static_cast<const CFURLObject&>(other);
    return path == o.path && isDirectory == o.isDirectory;
}

CFHashCode CFURLObject::hash() const { return CFHashCode(std::hash<std::string>()(path)); }

CFURLRef cfShimMakeURL(std::string path, bool isDirectory)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return nullptr;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return new CFURLObject(std::move(path), isDirectory);
}

CFTypeID CFURLGetTypeID() { return kCFShimURLTypeID; }

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFURLPathStyle style,
                                       Boolean isDirectory)
{
    std::string bytes;
    if (!path || style != kCFURLPOSIXPathStyle || !cfShimUTF8FromUnits(path->units, bytes))
        return nullptr;
    return cfShimMakeURL(std::move(bytes), isDirectory);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const uint8_t* bytes, CFIndex count,
                                                 Boolean isDirectory)
{
    if (!bytes || count <= 0)
        return nullptr;
    return cfShimMakeURL(std::string(reinterpret_cast<const char*>(bytes), size_t(count)), isDirectory);
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef url, CFStringRef component,
                                               Boolean isDirectory)
{
    std::string name;
    if (!url || !component || !cfShimUTF8FromUnits(component->units, name))
        return nullptr;
    return cfShimMakeURL(url->path == "/" ? "/" + name : url->path + "/" + name, isDirectory);
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, uint8_t* buffer, CFIndex maxBufLen)
{
    if (!url || !buffer || maxBufLen <= 0 || url->path.size() >= size_t(maxBufLen))
        return false;
    memcpy(buffer, url->path.c_str(), url->path.size() + 1);
    return true;
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style)
{
    if (!url || style != kCFURLPOSIXPathStyle)
        return nullptr;
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(url->path.data()),
                                   CFIndex(url->path.size()), kCFStringEncodingUTF8, false);
}

CFStringRef CFURLGetString(CFURLRef url) { return url ? url->urlString : nullptr; }

Boolean CFURLHasDirectoryPath(CFURLRef url) { return url && url->isDirectory; }

Boolean CFURLCopyResourcePropertyForKey(CFURLRef url, CFStringRef key, void* propertyValue, CFErrorRef* error)
{
    if (error)
        *error = nullptr;
    if (!url || !propertyValue) {
        setError(error, EINVAL);
        return false;
    }
    CFTypeRef* value = static_cast<CFTypeRef*>(propertyValue);
    *value = nullptr;
    if (!CFEqual(key, kCFURLVolumeURLKey)) {
        setError(error, EINVAL);
        return false;
    }
    std::string mount;
    int code = 0;
    if (!mountPointOf(url->path, mount, code)) {
        setError(error, code);
        return false;
    }
    *value = cfShimMakeURL(mount, true);
    return true;
}
