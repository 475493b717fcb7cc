#include "platform/CFTools.h"

#include <vector>

namespace vantor {

namespace {

CFStringRef fromBytes(const void* bytes, size_t count, CFStringEncoding encoding)
{
    return CFStringCreateWithBytes(kCFAllocatorSystemDefault, static_cast<const uint8_t*>(bytes),
                                   CFIndex(count), encoding, false);
}

CFStringRef fromBytesWithFallback(const void* bytes, size_t count, CFStringEncoding encoding, bool fallback)
{
    CFStringRef ref = fromBytes(bytes, count, encoding);
    if (!ref && fallback)
        ref = fromBytes(bytes, count, CFStringGetSystemEncoding());
    return ref;
}

bool copyOut(CFStringRef ref, size_t size, std::string& out, CFStringEncoding encoding)
{
    if (!ref)
        return false;
    std::vector<char> buffer(size, 0);
    if (!CFStringGetCString(ref, buffer.data(), CFIndex(size), encoding))
        return false;
    buffer[size - 1] = 0;
    out = buffer.data();
    return true;
}

void release(CFTypeRef ref)
{
    if (ref)
        CFRelease(ref);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CFStringWrapper

CFStringWrapper::CFStringWrapper(const std::string& text, CFStringEncoding encoding, bool fallback)
    : ref_(fromBytesWithFallback(text.data(), text.size(), encoding, fallback))
{
}

CFStringWrapper::CFStringWrapper(const char* text, CFStringEncoding encoding, bool fallback)
{
    if (!text)
        return;
    ref_ = CFStringCreateWithCString(kCFAllocatorSystemDefault, text, encoding);
    if (!ref_ && fallback)
        ref_ = CFStringCreateWithCString(kCFAllocatorSystemDefault, text, CFStringGetSystemEncoding());
}

CFStringWrapper::CFStringWrapper(const std::wstring& text, CFStringEncoding, bool fallback)
{
    static_assert(sizeof(wchar_t) == 4, "wide text is taken as 4-byte code units");
    // The bytes of the units in host (little-endian) order.
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 4);
    for (wchar_t c : text)
        for (int k = 0; k < 4; ++k)
            bytes.push_back(uint8_t(uint32_t(c) >> (8 * k)));
    ref_ = fromBytes(bytes.data(), bytes.size(), kCFStringEncodingUTF32LE);
    if (ref_ || !fallback)
        return;
    const CFStringEncoding fallbacks[] = {kCFStringEncodingUTF16LE, kCFStringEncodingUnicode,
                                          CFStringGetSystemEncoding()};
    for (CFStringEncoding e : fallbacks)
        if ((ref_ = fromBytes(bytes.data(), bytes.size(), e)))
            return;
}

CFStringWrapper::~CFStringWrapper() { release(ref_); }

void CFStringWrapper::reset(CFStringRef ref)
{
    if (ref == ref_)
        return;
    release(ref_);
    ref_ = ref;
}

bool CFStringWrapper::getCString64(std::string& out, CFStringEncoding e) const
{
    return copyOut(ref_, 64, out, e);
}
bool CFStringWrapper::getCString256(std::string& out, CFStringEncoding e) const
{
    return copyOut(ref_, 256, out, e);
}
bool CFStringWrapper::getCString512(std::string& out, CFStringEncoding e) const
{
    return copyOut(ref_, 512, out, e);
}
bool CFStringWrapper::getCString1024(std::string& out, CFStringEncoding e) const
{
    return copyOut(ref_, 1024, out, e);
}
bool CFStringWrapper::getCString2048(std::string& out, CFStringEncoding e) const
{
    return copyOut(ref_, 2048, out, e);
}
bool CFStringWrapper::getCStringPath(std::string& out, CFStringEncoding e) const
{
    return copyOut(ref_, 1024, out, e);
}

bool CFStringWrapper::getBytes(std::string& out, CFStringEncoding encoding) const
{
    if (!ref_)
        return false;
    const CFIndex length = CFStringGetLength(ref_);
    CFIndex used = 0;
    if (CFStringGetBytes(ref_, {0, length}, encoding, 0, false, nullptr, 0, &used) != length)
        return false;
    std::string bytes(size_t(used), '\0');
    CFStringGetBytes(ref_, {0, length}, encoding, 0, false, reinterpret_cast<uint8_t*>(bytes.data()), used,
                     nullptr);
    out = std::move(bytes);
    return true;
}

bool CFStringWrapper::getCharacters(HFSUniStr255& out) const
{
    out = HFSUniStr255{};
    if (!ref_)
        return false;
    CFIndex count = CFStringGetLength(ref_);
    if (count > 255) {
        count = 255;
        const UniChar last = CFStringGetCharacterAtIndex(ref_, 254);
        if (last >= 0xD800 && last <= 0xDBFF)
            count = 254;  // never split a surrogate pair
    }
    out.length = uint16_t(count);
    CFStringGetCharacters(ref_, {0, count}, out.unicode);
    return true;
}

// ---------------------------------------------------------------------------------------------
// CFURLWrapper

CFURLWrapper::CFURLWrapper(CFStringRef path, bool isFolder)
    : ref_(CFURLCreateWithFileSystemPath(kCFAllocatorSystemDefault, path, kCFURLPOSIXPathStyle, isFolder))
{
}

CFURLWrapper::CFURLWrapper(const char* bytes, size_t length, bool isFolder)
    : ref_(CFURLCreateFromFileSystemRepresentation(kCFAllocatorSystemDefault,
                                                   reinterpret_cast<const uint8_t*>(bytes), CFIndex(length),
                                                   isFolder))
{
}

CFURLWrapper::CFURLWrapper(CFBundleRef bundle, bool resources)
    : ref_(resources ? CFBundleCopyResourcesDirectoryURL(bundle) : CFBundleCopyBundleURL(bundle))
{
}

CFURLWrapper::CFURLWrapper(CFBundleRef bundle, CFStringRef name, CFStringRef type, CFStringRef subFolder)
    : ref_(CFBundleCopyResourceURL(bundle, name, type, subFolder))
{
}

CFURLWrapper::~CFURLWrapper() { release(ref_); }

bool CFURLWrapper::getFileSystemRepresentation(std::string& out) const
{
    if (!ref_)
        return false;
    uint8_t buffer[1024] = {};
    const bool ok = CFURLGetFileSystemRepresentation(ref_, true, buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = 0;
    out = ok ? reinterpret_cast<const char*>(buffer) : "";
    return ok;
}

// ---------------------------------------------------------------------------------------------
// CFTypeWrapper

CFTypeWrapper::~CFTypeWrapper() { release(ref_); }

void CFTypeWrapper::reset(CFTypeRef ref)
{
    if (ref == ref_)
        return;
    release(ref_);
    ref_ = ref;
}

bool CFTypeWrapper::getCString2048(std::string& out, CFStringEncoding encoding) const
{
    if (!ref_ || CFGetTypeID(ref_) != CFStringGetTypeID())
        return false;
    return copyOut(static_cast<CFStringRef>(ref_), 2048, out, encoding);
}

}  // namespace vantor
