#include "shims/corefoundation/CFPropertyList.h"

#include "shims/corefoundation/CFObject.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr size_t kMaxInput = size_t(16) << 20;

// --- nesting checks before libplist sees the data (its readers recurse per level) -------------

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool startsTag(const char* p, size_t n, size_t at, const char* name)
{
    const size_t k = strlen(name);
    if (n - at < k)
        return false;
    for (size_t i = 0; i < k; ++i) {
        char c = p[at + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != name[i])
            return false;
    }
    return true;
}

// The first occurrence of a text at or after a position, asked for positions that never go
// back: every byte is searched at most once.
class ForwardFinder {
public:
    ForwardFinder(std::string_view input, std::string_view text) : input_(input), text_(text) {}

    // Where the first occurrence at or after `from` starts; npos when there is none.
    size_t startFrom(size_t from)
    {
        if (found_ != std::string_view::npos && found_ >= from)
            return found_;
        if (exhausted_)
            return std::string_view::npos;
        found_ = input_.find(text_, from);
        exhausted_ = found_ == std::string_view::npos;
        return found_;
    }
    // The position after it; npos when there is none.
    size_t endFrom(size_t from)
    {
        const size_t at = startFrom(from);
        return at == std::string_view::npos ? at : at + text_.size();
    }

private:
    std::string_view input_, text_;
    size_t found_ = std::string_view::npos;
    bool exhausted_ = false;
};

// An upper bound of the container nesting an XML reader can meet: every "<array" or "<dict"
// tag that does not close itself opens a level, wherever it stands; a closing tag counts only
// outside comments, sections, declarations and instructions, each taken to run to the farthest
// end any reader could give it (a construct that never ends stops a reader, so the ends that
// are missing do not count). One pass: the searches only move forward.
bool xmlNestingWithin(const char* p, size_t n, int limit)
{
    const std::string_view input(p, n);
    ForwardFinder ends[] = {{input, ">"}, {input, "]>"}, {input, "?>"}, {input, "-->"}, {input, "]]>"}};
    ForwardFinder tagEnd(input, ">");
    int depth = 0;
    size_t quietUntil = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != '<')
            continue;
        if (i >= quietUntil && i + 1 < n && (p[i + 1] == '!' || p[i + 1] == '?')) {
            size_t end = 0;
            for (ForwardFinder& terminator : ends)
                if (const size_t at = terminator.endFrom(i + 2); at != std::string_view::npos && at > end)
                    end = at;
            quietUntil = end ? end : n;
        }
        size_t at = i + 1;
        while (at < n && isSpace(p[at]))
            ++at;
        if (i >= quietUntil && at < n && p[at] == '/') {
            const size_t name = at + 1;
            for (const char* closing : {"array", "dict"}) {
                const size_t k = strlen(closing);
                if (n - name > k && memcmp(p + name, closing, k) == 0 &&
                    (p[name + k] == '>' || isSpace(p[name + k])))
                    --depth;
            }
            continue;
        }
        if (startsTag(p, n, at, "array") || startsTag(p, n, at, "dict")) {
            const size_t close = tagEnd.startFrom(at);
            const bool selfClosing = close != std::string_view::npos && p[close - 1] == '/';
            if (!selfClosing && ++depth > limit)
                return false;
        }
    }
    return true;
}

uint64_t bigEndian(const uint8_t* p, size_t width)
{
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Walks the object graph of a binary list without recursion: false when it is malformed,
// has a cycle, nests containers deeper than the limit or has a dictionary key that is not a
// text free of U+0000 (libplist asserts on such a key as it hands it out).
bool binaryListIsSound(const uint8_t* p, size_t n, int limit)
{
    if (n < 8 + 32)
        return false;
    const uint8_t* trailer = p + n - 32;
    const size_t offsetSize = trailer[6], refSize = trailer[7];
    const uint64_t count = bigEndian(trailer + 8, 8), top = bigEndian(trailer + 16, 8),
                   table = bigEndian(trailer + 24, 8);
    const size_t tableEnd = n - 32;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 || top >= count ||
        table < 8 || table > tableEnd || count > (tableEnd - table) / offsetSize)
        return false;

    auto offsetOf = [&](uint64_t object, size_t& at) {
        at = size_t(bigEndian(p + table + object * offsetSize, offsetSize));
        return at >= 8 && at < table;
    };
    // The count of an object's marker at `at`; `at` moves to its first byte after the count.
    auto countAt = [&](size_t& at, uint64_t& number) {
        number = p[at] & 0x0F;
        ++at;
        if (number != 0x0F)
            return true;
        if (at >= table || (p[at] >> 4) != 0x1)
            return false;
        const size_t width = size_t(1) << (p[at] & 0x0F);
        if (width > 8 || table - at - 1 < width)
            return false;
        number = bigEndian(p + at + 1, width);
        at += 1 + width;
        return true;
    };
    auto isContainer = [](uint8_t kind) { return kind == 0xA || kind == 0xC || kind == 0xD; };
    // The object's kind and, for a container, where its references start and how many there are.
    auto children = [&](uint64_t object, uint8_t& kind, size_t& refs, uint64_t& number) {
        size_t at;
        if (!offsetOf(object, at))
            return false;
        kind = p[at] >> 4;
        if (!isContainer(kind))
            return true;
        if (!countAt(at, number))
            return false;
        if (kind == 0xD) {
            if (number > (table - at) / refSize / 2)
                return false;
            number *= 2;
        } else if (number > (table - at) / refSize) {
            return false;
        }
        refs = at;
        return true;
    };
    // An ASCII or UTF-16 string without a zero unit.
    auto isKeyText = [&](uint64_t object) {
        size_t at;
        uint64_t units = 0;
        if (!offsetOf(object, at))
            return false;
        const uint8_t kind = p[at] >> 4;
        if ((kind != 0x5 && kind != 0x6) || !countAt(at, units))
            return false;
        const size_t width = kind == 0x6 ? 2 : 1;
        if (units > (table - at) / width)
            return false;
        for (uint64_t i = 0; i < units; ++i)
            if (p[at + i * width] == 0 && p[at + i * width + width - 1] == 0)
                return false;
        return true;
    };

    // 0 unseen, 1 on the path, else 2 + the nesting below and including the object.
    std::unique_ptr<uint32_t[]> state(new uint32_t[count]());
    std::unique_ptr<bool[]> keyChecked(new bool[count]());
    struct Step {
        uint64_t object;
        size_t refs;
        uint64_t number, next, keys;  // a dictionary's first `keys` references are its keys
        uint32_t deepest;
    };
    std::unique_ptr<Step[]> path(new Step[size_t(limit) + 1]);
    size_t depth = 0;

    auto enter = [&](uint64_t object) {  // false: reject
        size_t refs = 0;
        uint64_t number = 0;
        uint8_t kind = 0;
        if (!children(object, kind, refs, number))
            return false;
        if (!isContainer(kind)) {
            state[object] = 2;
            return true;
        }
        if (depth == size_t(limit))
            return false;
        state[object] = 1;
        path[depth++] = {object, refs, number, 0, kind == 0xD ? number / 2 : 0, 0};
        return true;
    };

    if (!enter(top))
        return false;
    while (depth > 0) {
        Step& step = path[depth - 1];
        if (step.next == step.number) {
            const uint32_t below = step.deepest + 1;
            state[step.object] = 2 + below;
            --depth;
            if (depth > 0 && below > path[depth - 1].deepest)
                path[depth - 1].deepest = below;
            continue;
        }
        const uint64_t child = bigEndian(p + step.refs + step.next * refSize, refSize);
        const bool key = step.next < step.keys;
        ++step.next;
        if (child >= count || state[child] == 1)
            return false;
        if (key && !keyChecked[child]) {
            if (!isKeyText(child))
                return false;
            keyChecked[child] = true;
        }
        if (state[child] >= 2) {
            const uint32_t below = state[child] - 2;
            if (depth + below > size_t(limit))
                return false;
            if (below > step.deepest)
                step.deepest = below;
            continue;
        }
        if (!enter(child))
            return false;
    }
    return true;
}

// --- libplist tree to objects -------------------------------------------------------------------

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistHolder = std::unique_ptr<void, PlistFree>;

CFTypeRef fromNode(plist_t node, bool mutableContainers, int depth);

CFTypeRef fromDict(plist_t node, bool mutableContainers, int depth)
{
    auto* dict = new CFDictionaryObject(mutableContainers);
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    bool ok = it != nullptr;
    while (ok) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (!key || !value) {
            free(key);
            break;
        }
        CFStringRef name = CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(key),
                                                   CFIndex(strlen(key)), kCFStringEncodingUTF8, false);
        free(key);
        CFTypeRef object = name ? fromNode(value, mutableContainers, depth + 1) : nullptr;
        ok = object != nullptr;
        if (ok) {
            dict->set(name, object);
            CFRelease(object);
        }
        if (name)
            CFRelease(name);
    }
    free(it);
    if (!ok) {
        delete dict;
        return nullptr;
    }
    return dict;
}

CFTypeRef fromArray(plist_t node, bool mutableContainers, int depth)
{
    auto* array = new CFArrayObject(mutableContainers);
    const uint32_t size = plist_array_get_size(node);
    for (uint32_t i = 0; i < size; ++i) {
        CFTypeRef object = fromNode(plist_array_get_item(node, i), mutableContainers, depth + 1);
        if (!object) {
            delete array;
            return nullptr;
        }
        array->values.push_back(object);
    }
    return array;
}

CFTypeRef fromNode(plist_t node, bool mutableContainers, int depth)
{
    if (!node || depth > kCFShimPropertyListMaxDepth)
        return nullptr;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return v ? kCFBooleanTrue : kCFBooleanFalse;
    }
    case PLIST_UINT: {
        uint64_t bits = 0;
        plist_get_uint_val(node, &bits);
        int64_t v;  // two's complement, so negative values come back
        memcpy(&v, &bits, sizeof v);
        return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &v);
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &v);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        if (!text)
            return nullptr;
        return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(text),
                                       CFIndex(length), kCFStringEncodingUTF8, false);
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(bytes), CFIndex(length));
    }
    case PLIST_DATE: {
        int32_t seconds = 0, micro = 0;
        plist_get_date_val(node, &seconds, &micro);
        return CFDateCreate(kCFAllocatorDefault, double(seconds) + double(micro) / 1e6);
    }
    case PLIST_ARRAY:
        return depth < kCFShimPropertyListMaxDepth ? fromArray(node, mutableContainers, depth) : nullptr;
    case PLIST_DICT:
        return depth < kCFShimPropertyListMaxDepth ? fromDict(node, mutableContainers, depth) : nullptr;
    default: return nullptr;  // keyed-archive references and the rest
    }
}

// --- objects to a libplist tree -----------------------------------------------------------------

bool utf8Text(CFStringRef s, std::string& out)
{
    return cfShimUTF8FromUnits(s->units, out) && out.find('\0') == std::string::npos;
}

plist_t toNode(CFTypeRef object, int depth)
{
    if (!object || depth > kCFShimPropertyListMaxDepth)
        return nullptr;
    const CFTypeID type = CFGetTypeID(object);
    if (type == CFStringGetTypeID()) {
        std::string text;
        return utf8Text(static_cast<CFStringRef>(object), text) ? plist_new_string(text.c_str()) : nullptr;
    }
    if (type == CFBooleanGetTypeID())
        return plist_new_bool(CFBooleanGetValue(static_cast<CFBooleanRef>(object)) ? 1 : 0);
    if (type == CFNumberGetTypeID()) {
        auto number = static_cast<CFNumberRef>(object);
        if (CFNumberIsFloatType(number)) {
            double v = 0;
            CFNumberGetValue(number, kCFNumberFloat64Type, &v);
            return plist_new_real(v);
        }
        int64_t v = 0;
        CFNumberGetValue(number, kCFNumberSInt64Type, &v);
        uint64_t bits;
        memcpy(&bits, &v, sizeof bits);
        return plist_new_uint(bits);
    }
    if (type == CFDataGetTypeID()) {
        auto data = static_cast<CFDataRef>(object);
        return plist_new_data(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                              uint64_t(CFDataGetLength(data)));
    }
    if (type == CFDateGetTypeID()) {
        const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(object));
        if (!(at >= -2147483648.0 && at < 2147483647.0))
            return nullptr;
        const int64_t micro = std::llround(at * 1e6);
        const int64_t seconds = micro >= 0 ? micro / 1000000 : -((999999 - micro) / 1000000);
        return plist_new_date(int32_t(seconds), int32_t(micro - seconds * 1000000));
    }
    const bool container = type == CFArrayGetTypeID() || type == CFDictionaryGetTypeID();
    if (container && depth >= kCFShimPropertyListMaxDepth)
        return nullptr;
    if (type == CFArrayGetTypeID()) {
        PlistHolder array(plist_new_array());
        for (CFTypeRef value : static_cast<CFArrayRef>(object)->values) {
            plist_t item = toNode(value, depth + 1);
            if (!item)
                return nullptr;
            plist_array_append_item(array.get(), item);
        }
        return array.release();
    }
    if (type == CFDictionaryGetTypeID()) {
        PlistHolder dict(plist_new_dict());
        for (const auto& [key, value] : static_cast<CFDictionaryRef>(object)->entries) {
            std::string name;
            if (CFGetTypeID(key) != CFStringGetTypeID() || !utf8Text(static_cast<CFStringRef>(key), name))
                return nullptr;
            plist_t item = toNode(value, depth + 1);
            if (!item)
                return nullptr;
            plist_dict_set_item(dict.get(), name.c_str(), item);
        }
        return dict.release();
    }
    return nullptr;
}

template <class T>
T fail(CFErrorRef* error, CFIndex code)
{
    if (error)
        *error = CFErrorCreate(kCFAllocatorDefault, kCFErrorDomainCocoa, code);
    return nullptr;
}

}  // namespace

CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data, CFOptionFlags options,
                                               CFPropertyListFormat* format, CFErrorRef* error)
{
    const size_t n = size_t(CFDataGetLength(data));
    const auto* bytes = reinterpret_cast<const char*>(CFDataGetBytePtr(data));
    if (!bytes || n > kMaxInput)
        return fail<CFPropertyListRef>(error, kCFPropertyListReadCorruptError);
    const bool binary = n >= 8 && memcmp(bytes, "bplist00", 8) == 0;
    const bool shallow = binary ? binaryListIsSound(CFDataGetBytePtr(data), n, kCFShimPropertyListMaxDepth)
                                : xmlNestingWithin(bytes, n, kCFShimPropertyListMaxDepth);
    if (!shallow)
        return fail<CFPropertyListRef>(error, kCFPropertyListReadCorruptError);
    plist_t root = nullptr;
    if (binary)
        plist_from_bin(bytes, uint32_t(n), &root);
    else
        plist_from_xml(bytes, uint32_t(n), &root);
    const PlistHolder holder(root);
    CFTypeRef object = fromNode(root, options != kCFPropertyListImmutable, 0);
    if (!object)
        return fail<CFPropertyListRef>(error, kCFPropertyListReadCorruptError);
    if (format)
        *format = binary ? kCFPropertyListBinaryFormat_v1_0 : kCFPropertyListXMLFormat_v1_0;
    return object;
}

CFDataRef CFPropertyListCreateData(CFAllocatorRef, CFPropertyListRef plist, CFPropertyListFormat format,
                                   CFOptionFlags, CFErrorRef* error)
{
    if (format != kCFPropertyListXMLFormat_v1_0 && format != kCFPropertyListBinaryFormat_v1_0)
        return fail<CFDataRef>(error, kCFPropertyListWriteStreamError);
    const PlistHolder root(toNode(plist, 0));
    if (!root)
        return fail<CFDataRef>(error, kCFPropertyListWriteStreamError);
    char* out = nullptr;
    uint32_t length = 0;
    if (format == kCFPropertyListXMLFormat_v1_0)
        plist_to_xml(root.get(), &out, &length);
    else
        plist_to_bin(root.get(), &out, &length);
    if (!out)
        return fail<CFDataRef>(error, kCFPropertyListWriteStreamError);
    CFDataRef data =
        CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(out), CFIndex(length));
    if (format == kCFPropertyListXMLFormat_v1_0)
        plist_to_xml_free(out);
    else
        plist_to_bin_free(out);
    return data;
}
