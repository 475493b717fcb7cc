#include "shims/corefoundation/CFObject.h"

#include <cstring>

struct CFDataObject final : CFObject {
    CFDataObject(const uint8_t* p, size_t n) : CFObject(kCFShimDataTypeID), bytes(p, p + n) {}
    bool equals(const CFObject& other) const override
    {
        return bytes == static_cast<const CFDataObject&>(other).bytes;
    }
    CFHashCode hash() const override { return CFHashCode(bytes.size()); }
    const std::vector<uint8_t> bytes;
};

struct CFDateObject final : CFObject {
    explicit CFDateObject(CFAbsoluteTime t) : CFObject(kCFShimDateTypeID), at(t) {}
    bool equals(const CFObject& other) const override
    {
        return at == static_cast<const CFDateObject&>(other).at;
    }
    CFHashCode hash() const override
    {
        uint64_t bits;
        const double v = at == 0.0 ? 0.0 : at;  // -0 and +0 are equal
        memcpy(&bits, &v, sizeof bits);
        return CFHashCode(bits);
    }
    const CFAbsoluteTime at;
};

CFTypeID CFDataGetTypeID() { return kCFShimDataTypeID; }

CFDataRef CFDataCreate(CFAllocatorRef, const uint8_t* bytes, CFIndex length)
{
    if (length < 0 || (!bytes && length != 0))
        return nullptr;
    return new CFDataObject(bytes, size_t(length));
}

CFIndex CFDataGetLength(CFDataRef data) { return data ? CFIndex(data->bytes.size()) : 0; }

const uint8_t* CFDataGetBytePtr(CFDataRef data)
{
    return data && !data->bytes.empty() ? data->bytes.data() : nullptr;
}

CFTypeID CFDateGetTypeID() { return kCFShimDateTypeID; }

CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at) { return new CFDateObject(at); }

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef date) { return date ? date->at : 0.0; }
