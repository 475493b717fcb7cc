#pragma once
// Holders that own one CoreFoundation reference each and release it when they go out of scope.
// A holder lives in one scope; it is never copied or moved.

#include "shims/corefoundation/CoreFoundationShim.h"

#include <string>

namespace vantor {

class CFStringWrapper {
public:
    explicit CFStringWrapper(CFStringRef ref = nullptr) : ref_(ref) {}
    // The whole byte string (zero bytes included) in `encoding`; with `fallback`, in the system
    // encoding when that fails.
    CFStringWrapper(const std::string& text, CFStringEncoding encoding, bool fallback);
    // The bytes up to the terminating zero.
    CFStringWrapper(const char* text, CFStringEncoding encoding, bool fallback);
    // UTF-32LE code units (the encoding argument is not used); with `fallback`, the same bytes as
    // UTF-16LE, as host UTF-16 and in the system encoding, the first that can be read.
    CFStringWrapper(const std::wstring& text, CFStringEncoding encoding, bool fallback);
    ~CFStringWrapper();
    CFStringWrapper(const CFStringWrapper&) = delete;
    CFStringWrapper& operator=(const CFStringWrapper&) = delete;

    CFStringRef getCFStringRef() const { return ref_; }
    // Releases what is held and takes ownership of `ref`.
    void reset(CFStringRef ref);

    // The text in `encoding` through a buffer of the named size, terminator included: false and
    // `out` untouched when nothing is held or the text does not fit or cannot be represented.
    bool getCString64(std::string& out, CFStringEncoding encoding) const;
    bool getCString256(std::string& out, CFStringEncoding encoding) const;
    bool getCString512(std::string& out, CFStringEncoding encoding) const;
    bool getCString1024(std::string& out, CFStringEncoding encoding) const;
    bool getCString2048(std::string& out, CFStringEncoding encoding) const;
    bool getCStringPath(std::string& out, CFStringEncoding encoding) const;  // 1024 bytes
    // The whole text in `encoding`, of any length, zero characters included.
    bool getBytes(std::string& out, CFStringEncoding encoding) const;
    // Clears the record; stores at most 255 UTF-16 units (254 when the 255th would split a
    // surrogate pair) and their count. False when nothing is held.
    bool getCharacters(HFSUniStr255& out) const;

private:
    CFStringRef ref_ = nullptr;
};

class CFURLWrapper {
public:
    explicit CFURLWrapper(CFURLRef ref = nullptr) : ref_(ref) {}
    CFURLWrapper(CFStringRef path, bool isFolder);
    // Raw path bytes.
    CFURLWrapper(const char* bytes, size_t length, bool isFolder);
    // The resources folder of the bundle with `resources`, else the bundle itself.
    CFURLWrapper(CFBundleRef bundle, bool resources);
    CFURLWrapper(CFBundleRef bundle, CFStringRef name, CFStringRef type, CFStringRef subFolder);
    ~CFURLWrapper();
    CFURLWrapper(const CFURLWrapper&) = delete;
    CFURLWrapper& operator=(const CFURLWrapper&) = delete;

    CFURLRef getCFURLRef() const { return ref_; }
    // False and `out` untouched when nothing is held; otherwise `out` becomes the path (empty
    // when it does not fit in 1024 bytes) and the result is whether it fitted.
    bool getFileSystemRepresentation(std::string& out) const;

private:
    CFURLRef ref_ = nullptr;
};

class CFTypeWrapper {
public:
    explicit CFTypeWrapper(CFTypeRef ref = nullptr) : ref_(ref) {}
    ~CFTypeWrapper();
    CFTypeWrapper(const CFTypeWrapper&) = delete;
    CFTypeWrapper& operator=(const CFTypeWrapper&) = delete;

    CFTypeRef getCFTypeRef() const { return ref_; }
    void reset(CFTypeRef ref);
    // As CFStringWrapper::getCString2048; false unless a string is held.
    bool getCString2048(std::string& out, CFStringEncoding encoding) const;

private:
    CFTypeRef ref_ = nullptr;
};

}  // namespace vantor
