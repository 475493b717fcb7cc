#include "shims/corefoundation/CFObject.h"

#include <cassert>

const CFArrayCallBacks kCFTypeArrayCallBacks = {0};

CFArrayObject::~CFArrayObject()
{
    for (CFTypeRef v : values)
        CFRelease(v);
}

bool CFArrayObject::equals(const CFObject& other) const
{
    const auto& o = static_cast<const CFArrayObject&>(other);
    if (values.size() != o.values.size())
        return false;
    for (size_t i = 0; i < values.size(); ++i)
        if (!CFEqual(values[i], o.values[i]))
            return false;
    return true;
}

namespace {

CFArrayObject* makeArray(bool isMutable, const void* const* values, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (!values[i])
            return nullptr;
    auto* array = new CFArrayObject(isMutable);
    array->values.reserve(count);
    for (size_t i = 0; i < count; ++i)
        array->values.push_back(CFRetain(values[i]));
    return array;
}

}  // namespace

CFTypeID CFArrayGetTypeID() { return kCFShimArrayTypeID; }

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex count, const CFArrayCallBacks*)
{
    if (count < 0 || (!values && count != 0))
        return nullptr;
    return makeArray(false, values, size_t(count));
}

CFArrayRef CFArrayCreateCopy(CFAllocatorRef, CFArrayRef array)
{
    return array ? makeArray(false, array->values.data(), array->values.size()) : nullptr;
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex, const CFArrayCallBacks*)
{
    return new CFArrayObject(true);
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex, CFArrayRef array)
{
    return array ? makeArray(true, array->values.data(), array->values.size()) : nullptr;
}

CFIndex CFArrayGetCount(CFArrayRef array) { return array ? CFIndex(array->values.size()) : 0; }

const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index)
{
    if (!array || index < 0 || size_t(index) >= array->values.size())
        return nullptr;
    return array->values[size_t(index)];
}

void CFArrayAppendValue(CFMutableArrayRef array, const void* value)
{
    assert(array && array->isMutable && value);
    if (array && array->isMutable && value)
        array->values.push_back(CFRetain(value));
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index)
{
    assert(array && array->isMutable);
    if (!array || !array->isMutable || index < 0 || size_t(index) >= array->values.size())
        return;
    CFTypeRef gone = array->values[size_t(index)];
    array->values.erase(array->values.begin() + index);
    CFRelease(gone);
}
