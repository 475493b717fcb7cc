#include "shims/corefoundation/CFObject.h"

#include <cassert>

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0};

CFDictionaryObject::~CFDictionaryObject()
{
    for (const auto& [key, value] : entries) {
        CFRelease(key);
        CFRelease(value);
    }
}

bool CFDictionaryObject::equals(const CFObject& other) const
{
    const auto& o = static_cast<const CFDictionaryObject&>(other);
    if (entries.size() != o.entries.size())
        return false;
    for (const auto& [key, value] : entries) {
        const CFIndex at = o.find(key);
        if (at < 0 || !CFEqual(value, o.entries[size_t(at)].second))
            return false;
    }
    return true;
}

CFIndex CFDictionaryObject::find(CFTypeRef key) const
{
    const auto [first, last] = index.equal_range(CFHash(key));
    for (auto it = first; it != last; ++it)
        if (CFEqual(entries[it->second].first, key))
            return CFIndex(it->second);
    return -1;
}

void CFDictionaryObject::set(CFTypeRef key, CFTypeRef value)
{
    const CFIndex at = find(key);
    CFRetain(value);
    if (at >= 0) {
        CFTypeRef old = entries[size_t(at)].second;
        entries[size_t(at)].second = value;
        CFRelease(old);
        return;
    }
    entries.emplace_back(CFRetain(key), value);
    index.emplace(CFHash(key), entries.size() - 1);
}

bool CFDictionaryObject::remove(CFTypeRef key)
{
    const CFIndex at = find(key);
    if (at < 0)
        return false;
    const auto gone = entries[size_t(at)];
    entries.erase(entries.begin() + at);
    index.clear();
    for (size_t i = 0; i < entries.size(); ++i)
        index.emplace(CFHash(entries[i].first), i);
    CFRelease(gone.first);
    CFRelease(gone.second);
    return true;
}

namespace {

CFDictionaryObject* copyOf(CFDictionaryRef dict, bool isMutable)
{
    auto* copy = new CFDictionaryObject(isMutable);
    copy->entries.reserve(dict->entries.size());
    for (const auto& [key, value] : dict->entries) {
        copy->entries.emplace_back(CFRetain(key), CFRetain(value));
        copy->index.emplace(CFHash(key), copy->entries.size() - 1);
    }
    return copy;
}

}  // namespace

CFTypeID CFDictionaryGetTypeID() { return kCFShimDictionaryTypeID; }

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                   const CFDictionaryKeyCallBacks*, const CFDictionaryValueCallBacks*)
{
    if (count < 0 || ((!keys || !values) && count != 0))
        return nullptr;
    for (CFIndex i = 0; i < count; ++i)
        if (!keys[i] || !values[i])
            return nullptr;
    auto* dict = new CFDictionaryObject(false);
    for (CFIndex i = 0; i < count; ++i)
        dict->set(keys[i], values[i]);
    return dict;
}

CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef, CFDictionaryRef dict)
{
    return dict ? copyOf(dict, false) : nullptr;
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks*,
                                                 const CFDictionaryValueCallBacks*)
{
    return new CFDictionaryObject(true);
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex, CFDictionaryRef dict)
{
    return dict ? copyOf(dict, true) : nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dict) { return dict ? CFIndex(dict->entries.size()) : 0; }

Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key)
{
    return dict && key && dict->find(key) >= 0;
}

const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key)
{
    if (!dict || !key)
        return nullptr;
    const CFIndex at = dict->find(key);
    return at < 0 ? nullptr : dict->entries[size_t(at)].second;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef dict, const void* key, const void** value)
{
    const void* found = CFDictionaryGetValue(dict, key);
    if (found && value)
        *value = found;
    return found != nullptr;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values)
{
    if (!dict)
        return;
    for (size_t i = 0; i < dict->entries.size(); ++i) {
        if (keys)
            keys[i] = dict->entries[i].first;
        if (values)
            values[i] = dict->entries[i].second;
    }
}

void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value)
{
    assert(dict && dict->isMutable && key && value);
    if (dict && dict->isMutable && key && value)
        dict->set(key, value);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key)
{
    assert(dict && dict->isMutable);
    if (dict && dict->isMutable && key)
        dict->remove(key);
}

void CFDictionaryRemoveAllValues(CFMutableDictionaryRef dict)
{
    assert(dict && dict->isMutable);
    if (!dict || !dict->isMutable)
        return;
    auto gone = std::move(dict->entries);
    dict->entries.clear();
    dict->index.clear();
    for (const auto& [key, value] : gone) {
        CFRelease(key);
        CFRelease(value);
    }
}
