#include "shims/corefoundation/CFObject.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// Bytes 0x80-0x9F of code page 1252; the five bytes it leaves undefined map to the C1 controls.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int cp1252FromCodePoint(uint32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return int(cp);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == cp)
            return 0x80 + i;
    return -1;
}

enum class Form { Utf8, Utf16, Utf32, Cp1252, Ascii };
enum class Order { HostWithMark, Little, Big };

struct Encoding {
    Form form;
    Order order;
};

bool describe(CFStringEncoding e, Encoding& out)
{
    switch (e) {
    case kCFStringEncodingUTF8: out = {Form::Utf8, Order::Little}; return true;
    case kCFStringEncodingUTF16: out = {Form::Utf16, Order::HostWithMark}; return true;
    case kCFStringEncodingUTF16LE: out = {Form::Utf16, Order::Little}; return true;
    case kCFStringEncodingUTF16BE: out = {Form::Utf16, Order::Big}; return true;
    case kCFStringEncodingUTF32: out = {Form::Utf32, Order::HostWithMark}; return true;
    case kCFStringEncodingUTF32LE: out = {Form::Utf32, Order::Little}; return true;
    case kCFStringEncodingUTF32BE: out = {Form::Utf32, Order::Big}; return true;
    case kCFStringEncodingWindowsLatin1: out = {Form::Cp1252, Order::Little}; return true;
    case kCFStringEncodingASCII: out = {Form::Ascii, Order::Little}; return true;
    default: return false;
    }
}

bool isSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDFFF; }

void appendCodePoint(std::u16string& out, uint32_t cp)
{
    if (cp < 0x10000) {
        out += char16_t(cp);
    } else {
        cp -= 0x10000;
        out += char16_t(0xD800 + (cp >> 10));
        out += char16_t(0xDC00 + (cp & 0x3FF));
    }
}

bool decodeUtf8(const uint8_t* p, size_t n, std::u16string& out)
{
    size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            out += char16_t(b);
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp, least;
        if ((b & 0xE0) == 0xC0) {
            len = 2, cp = b & 0x1Fu, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, cp = b & 0x0Fu, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, cp = b & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (size_t k = 1; k < len; ++k) {
            const uint8_t c = p[i + k];
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (cp < least || cp > 0x10FFFF || isSurrogate(cp))
            return false;
        appendCodePoint(out, cp);
        i += len;
    }
    return true;
}

uint32_t readUnit(const uint8_t* p, size_t width, bool big)
{
    uint32_t v = 0;
    for (size_t k = 0; k < width; ++k)
        v |= uint32_t(p[big ? width - 1 - k : k]) << (8 * k);
    return v;
}

// Whether the units are big-endian; the host-order forms read and skip a leading byte-order
// mark and are little-endian without one.
bool isBigEndian(const uint8_t*& p, size_t& n, size_t width, Order order)
{
    if (order == Order::Big)
        return true;
    if (order == Order::Little)
        return false;
    if (n >= width && readUnit(p, width, true) == 0xFEFF) {
        p += width, n -= width;
        return true;
    }
    if (n >= width && readUnit(p, width, false) == 0xFEFF)
        p += width, n -= width;
    return false;
}

bool decode(const uint8_t* p, size_t n, const Encoding& e, std::u16string& out)
{
    switch (e.form) {
    case Form::Utf8:
        return decodeUtf8(p, n, out);
    case Form::Utf16: {
        const bool big = isBigEndian(p, n, 2, e.order);
        if (n % 2)
            return false;
        for (size_t i = 0; i < n; i += 2)
            out += char16_t(readUnit(p + i, 2, big));
        return true;
    }
    case Form::Utf32: {
        const bool big = isBigEndian(p, n, 4, e.order);
        if (n % 4)
            return false;
        for (size_t i = 0; i < n; i += 4) {
            const uint32_t cp = readUnit(p + i, 4, big);
            if (cp > 0x10FFFF || isSurrogate(cp))
                return false;
            appendCodePoint(out, cp);
        }
        return true;
    }
    case Form::Cp1252:
        for (size_t i = 0; i < n; ++i)
            out += p[i] >= 0x80 && p[i] < 0xA0 ? kCp1252High[p[i] - 0x80] : char16_t(p[i]);
        return true;
    case Form::Ascii:
        for (size_t i = 0; i < n; ++i) {
            if (p[i] >= 0x80)
                return false;
            out += char16_t(p[i]);
        }
        return true;
    }
    return false;
}

void putUnit(std::string& out, uint32_t v, size_t width, bool big)
{
    for (size_t k = 0; k < width; ++k)
        out += char((v >> (8 * (big ? width - 1 - k : k))) & 0xFF);
}

// Appends one character (a code point, or a lone surrogate when `lone` is set); false when the
// encoding cannot hold it.
bool encodeOne(uint32_t cp, bool lone, const Encoding& e, std::string& out)
{
    const bool big = e.order == Order::Big;
    switch (e.form) {
    case Form::Utf8:
        if (lone)
            return false;
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
        return true;
    case Form::Utf16:
        if (cp < 0x10000) {
            putUnit(out, cp, 2, big);
        } else {
            putUnit(out, 0xD800 + ((cp - 0x10000) >> 10), 2, big);
            putUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF), 2, big);
        }
        return true;
    case Form::Utf32:
        if (lone)
            return false;
        putUnit(out, cp, 4, big);
        return true;
    case Form::Cp1252: {
        const int b = lone ? -1 : cp1252FromCodePoint(cp);
        if (b < 0)
            return false;
        out += char(b);
        return true;
    }
    case Form::Ascii:
        if (lone || cp >= 0x80)
            return false;
        out += char(cp);
        return true;
    }
    return false;
}

CFStringRef makeString(std::u16string units) { return new CFStringObject(std::move(units)); }

char16_t foldCase(char16_t u)
{
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return char16_t(u + 0x20);
    return u;
}

}  // namespace

bool CFStringObject::equals(const CFObject& other) const
{
    return units == static_cast<const CFStringObject&>(other).units;
}

CFHashCode CFStringObject::hash() const
{
    uint64_t h = 1469598103934665603ull;  // FNV-1a over the units
    for (char16_t u : units)
        h = (h ^ u) * 1099511628211ull;
    return CFHashCode(h);
}

std::u16string cfShimUnitsFromUTF8(const std::string& utf8, bool* ok)
{
    std::u16string units;
    const bool good = decodeUtf8(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), units);
    if (ok)
        *ok = good;
    return units;
}

bool cfShimUTF8FromUnits(const std::u16string& units, std::string& out)
{
    CFStringObject s(units);
    s.immortal = true;
    CFIndex used = 0;
    const CFIndex n = CFIndex(units.size());
    if (CFStringGetBytes(&s, {0, n}, kCFStringEncodingUTF8, 0, false, nullptr, 0, &used) != n)
        return false;
    out.assign(size_t(used), '\0');
    CFStringGetBytes(&s, {0, n}, kCFStringEncodingUTF8, 0, false, reinterpret_cast<uint8_t*>(out.data()),
                     used, nullptr);
    return true;
}

CFTypeID CFStringGetTypeID() { return kCFShimStringTypeID; }

CFStringEncoding CFStringGetSystemEncoding() { return kCFStringEncodingUTF8; }

Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding)
{
    Encoding e;
    return describe(encoding, e);
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* text, CFStringEncoding encoding)
{
    if (!text)
        return nullptr;
    return CFStringCreateWithBytes(alloc, reinterpret_cast<const uint8_t*>(text), CFIndex(strlen(text)),
                                   encoding, false);
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const uint8_t* bytes, CFIndex count,
                                    CFStringEncoding encoding, Boolean)
{
    Encoding e;
    if (count < 0 || (count > 0 && !bytes) || !describe(encoding, e))
        return nullptr;
    std::u16string units;
    if (!decode(bytes, size_t(count), e, units))
        return nullptr;
    return makeString(std::move(units));
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* units, CFIndex count)
{
    if (count < 0 || (count > 0 && !units))
        return nullptr;
    return makeString(std::u16string(units, units + count));
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef string)
{
    return string ? static_cast<CFStringRef>(CFRetain(string)) : nullptr;
}

CFIndex CFStringGetLength(CFStringRef string) { return string ? CFIndex(string->units.size()) : 0; }

UniChar CFStringGetCharacterAtIndex(CFStringRef string, CFIndex index)
{
    if (!string || index < 0 || size_t(index) >= string->units.size())
        return 0;
    return string->units[size_t(index)];
}

void CFStringGetCharacters(CFStringRef string, CFRange range, UniChar* buffer)
{
    const CFIndex length = CFStringGetLength(string);
    if (!buffer || range.location < 0 || range.length < 0 || range.location > length ||
        range.length > length - range.location)
        return;
    std::copy_n(string->units.begin() + range.location, range.length, buffer);
}

CFIndex CFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, uint8_t lossByte,
                         Boolean isExternalRepresentation, uint8_t* buffer, CFIndex maxBufLen,
                         CFIndex* usedBufLen)
{
    if (usedBufLen)
        *usedBufLen = 0;
    Encoding e;
    const CFIndex length = CFStringGetLength(string);
    if (!string || !describe(encoding, e) || range.location < 0 || range.length < 0 ||
        range.location > length || range.length > length - range.location)
        return 0;
    const size_t room = buffer ? size_t(std::max<CFIndex>(maxBufLen, 0)) : SIZE_MAX;
    size_t used = 0;
    std::string piece;
    auto put = [&]() {
        if (piece.size() > room - used)
            return false;
        if (buffer)
            memcpy(buffer + used, piece.data(), piece.size());
        used += piece.size();
        return true;
    };

    if (isExternalRepresentation && e.order == Order::HostWithMark && e.form != Form::Utf8) {
        encodeOne(0xFEFF, false, e, piece);
        if (!put())
            return 0;
    }
    const std::u16string& u = string->units;
    size_t i = size_t(range.location);
    const size_t end = i + size_t(range.length);
    while (i < end) {
        uint32_t cp = u[i];
        size_t width = 1;
        bool lone = false;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < end && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (u[i + 1] - 0xDC00u);
            width = 2;
        } else {
            lone = isSurrogate(cp);
        }
        piece.clear();
        if (!encodeOne(cp, lone, e, piece)) {
            piece.clear();
            if (!lossByte || !encodeOne(lossByte, false, e, piece))
                break;
        }
        if (!put())
            break;
        i += width;
    }
    if (usedBufLen)
        *usedBufLen = CFIndex(used);
    return CFIndex(i) - range.location;
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding)
{
    if (!string || !buffer || bufferSize <= 0)
        return false;
    const CFIndex length = CFStringGetLength(string);
    CFIndex used = 0;
    const CFIndex done = CFStringGetBytes(string, {0, length}, encoding, 0, false,
                                         reinterpret_cast<uint8_t*>(buffer), bufferSize - 1, &used);
    if (done != length)
        return false;
    buffer[used] = 0;
    return true;
}

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFOptionFlags options)
{
    static const std::u16string kEmpty;
    const std::u16string& x = a ? a->units : kEmpty;
    const std::u16string& y = b ? b->units : kEmpty;
    const bool fold = options & kCFCompareCaseInsensitive;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        const char16_t p = fold ? foldCase(x[i]) : x[i];
        const char16_t q = fold ? foldCase(y[i]) : y[i];
        if (p != q)
            return p < q ? kCFCompareLessThan : kCFCompareGreaterThan;
    }
    if (x.size() == y.size())
        return kCFCompareEqualTo;
    return x.size() < y.size() ? kCFCompareLessThan : kCFCompareGreaterThan;
}

CFStringRef CFShimConstantString(const char* utf8)
{
    static std::mutex lock;
    static auto* const table = new std::map<std::string, CFStringObject*>;  // never freed
    const std::string key = utf8 ? utf8 : "";
    std::lock_guard<std::mutex> hold(lock);
    CFStringObject*& slot = (*table)[key];
    if (!slot) {
        bool ok = false;
        std::u16string units = cfShimUnitsFromUTF8(key, &ok);
        if (!ok) {
            units.clear();
            Encoding latin{Form::Cp1252, Order::Little};
            decode(reinterpret_cast<const uint8_t*>(key.data()), key.size(), latin, units);
        }
        slot = new CFStringObject(std::move(units));
        slot->immortal = true;
    }
    return slot;
}
