#include "shims/corefoundation/CFObject.h"

#include <cassert>
#include <cstdint>

CFHashCode CFObject::hash() const { return CFHashCode(reinterpret_cast<uintptr_t>(this)); }

CFTypeRef CFRetain(CFTypeRef cf)
{
    assert(cf);
    if (cf)
        cfObject(cf)->refs.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf)
{
    assert(cf);
    const CFObject* object = cfObject(cf);
    if (!object || object->immortal)
        return;
    const CFIndex before = object->refs.fetch_sub(1, std::memory_order_acq_rel);
    assert(before > 0);
    if (before == 1)
        delete object;
}

CFIndex CFGetRetainCount(CFTypeRef cf)
{
    return cf ? cfObject(cf)->refs.load(std::memory_order_relaxed) : 0;
}

CFTypeID CFGetTypeID(CFTypeRef cf) { return cf ? cfObject(cf)->typeID : 0; }

Boolean CFEqual(CFTypeRef a, CFTypeRef b)
{
    if (a == b)
        return true;
    if (!a || !b)
        return false;
    const CFObject* x = cfObject(a);
    const CFObject* y = cfObject(b);
    return x->typeID == y->typeID && x->equals(*y);
}

CFHashCode CFHash(CFTypeRef cf) { return cf ? cfObject(cf)->hash() : 0; }

// ---------------------------------------------------------------------------------------------
// Errors

const CFStringRef kCFErrorDomainPOSIX = CFSTR("NSPOSIXErrorDomain");
const CFStringRef kCFErrorDomainCocoa = CFSTR("NSCocoaErrorDomain");

CFErrorObject::CFErrorObject(CFStringRef d, CFIndex c)
    : CFObject(kCFShimErrorTypeID), domain(static_cast<CFStringRef>(CFRetain(d))), code(c)
{
}

CFErrorObject::~CFErrorObject() { CFRelease(domain); }

CFTypeID CFErrorGetTypeID() { return kCFShimErrorTypeID; }

CFErrorRef CFErrorCreate(CFAllocatorRef, CFStringRef domain, CFIndex code)
{
    return domain ? new CFErrorObject(domain, code) : nullptr;
}

CFStringRef CFErrorGetDomain(CFErrorRef error) { return error ? error->domain : nullptr; }

CFIndex CFErrorGetCode(CFErrorRef error) { return error ? error->code : 0; }
