#include "shims/corefoundation/CFObject.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

enum class Kind { Int8, Int16, Int32, Int64, Float32, Float64, Invalid };

Kind kindOf(CFNumberType type)
{
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType: return Kind::Int8;
    case kCFNumberSInt16Type:
    case kCFNumberShortType: return Kind::Int16;
    case kCFNumberSInt32Type:
    case kCFNumberIntType: return Kind::Int32;
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType: return Kind::Int64;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: return Kind::Float32;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType: return Kind::Float64;
    default: return Kind::Invalid;
    }
}

template <class T>
T load(const void* p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(void* p, T v)
{
    memcpy(p, &v, sizeof v);
}

template <class I>
bool storeInteger(void* out, int64_t v)
{
    const I clamped = v < int64_t(std::numeric_limits<I>::min())   ? std::numeric_limits<I>::min()
                      : v > int64_t(std::numeric_limits<I>::max()) ? std::numeric_limits<I>::max()
                                                                    : I(v);
    store(out, clamped);
    return int64_t(clamped) == v;
}

// Whether d is exactly the integer i.
bool sameAsInteger(double d, int64_t i)
{
    return d >= -9223372036854775808.0 && d < 9223372036854775808.0 && int64_t(d) == i;
}

// Truncates toward zero; NaN gives 0, values beyond I's range its minimum or maximum.
template <class I>
I clampedInteger(double v)
{
    if (std::isnan(v))
        return I(0);
    if (v <= double(std::numeric_limits<I>::min()))
        return std::numeric_limits<I>::min();
    if (v >= double(std::numeric_limits<I>::max()))  // rounds up to a power of two for 64 bits
        return std::numeric_limits<I>::max();
    return I(v);
}

template <class I>
bool storeIntegerFromDouble(void* out, double v)
{
    const I i = clampedInteger<I>(v);
    store(out, i);
    return double(i) == v;
}

}  // namespace

struct CFNumberObject final : CFObject {
    CFNumberObject(CFNumberType t, bool f, int64_t i, double d)
        : CFObject(kCFShimNumberTypeID), type(t), isFloat(f), integer(i), real(d)
    {
    }
    bool equals(const CFObject& other) const override
    {
        const auto& o = static_cast<const CFNumberObject&>(other);
        if (isFloat || o.isFloat)
            return value() == o.value();
        return integer == o.integer;
    }
    CFHashCode hash() const override
    {
        const double v = value();
        if (v == std::floor(v) && std::fabs(v) < 9.2e18)  // whole values hash alike in both kinds
            return CFHashCode(int64_t(v));
        uint64_t bits;
        memcpy(&bits, &v, sizeof bits);
        return CFHashCode(bits);
    }
    double value() const { return isFloat ? real : double(integer); }

    const CFNumberType type;
    const bool isFloat;
    const int64_t integer;
    const double real;
};

CFTypeID CFNumberGetTypeID() { return kCFShimNumberTypeID; }

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* value)
{
    if (!value)
        return nullptr;
    switch (kindOf(type)) {
    case Kind::Int8: return new CFNumberObject(type, false, load<int8_t>(value), 0.0);
    case Kind::Int16: return new CFNumberObject(type, false, load<int16_t>(value), 0.0);
    case Kind::Int32: return new CFNumberObject(type, false, load<int32_t>(value), 0.0);
    case Kind::Int64: return new CFNumberObject(type, false, load<int64_t>(value), 0.0);
    case Kind::Float32: return new CFNumberObject(type, true, 0, load<float>(value));
    case Kind::Float64: return new CFNumberObject(type, true, 0, load<double>(value));
    case Kind::Invalid: break;
    }
    return nullptr;
}

CFNumberType CFNumberGetType(CFNumberRef number) { return number ? number->type : 0; }

Boolean CFNumberIsFloatType(CFNumberRef number) { return number && number->isFloat; }

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value)
{
    if (!number || !value)
        return false;
    const Kind kind = kindOf(type);
    if (kind == Kind::Float32) {
        const float f = float(number->value());
        store(value, f);
        return number->isFloat ? (double(f) == number->real || std::isnan(f))
                               : sameAsInteger(double(f), number->integer);
    }
    if (kind == Kind::Float64) {
        store(value, number->value());
        return number->isFloat || sameAsInteger(number->value(), number->integer);
    }
    if (number->isFloat) {
        switch (kind) {
        case Kind::Int8: return storeIntegerFromDouble<int8_t>(value, number->real);
        case Kind::Int16: return storeIntegerFromDouble<int16_t>(value, number->real);
        case Kind::Int32: return storeIntegerFromDouble<int32_t>(value, number->real);
        case Kind::Int64: return storeIntegerFromDouble<int64_t>(value, number->real);
        default: return false;
        }
    }
    switch (kind) {
    case Kind::Int8: return storeInteger<int8_t>(value, number->integer);
    case Kind::Int16: return storeInteger<int16_t>(value, number->integer);
    case Kind::Int32: return storeInteger<int32_t>(value, number->integer);
    case Kind::Int64: return storeInteger<int64_t>(value, number->integer);
    default: return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Booleans

struct CFBooleanObject final : CFObject {
    explicit CFBooleanObject(bool v) : CFObject(kCFShimBooleanTypeID), value(v) { immortal = true; }
    const bool value;
};

namespace {
CFBooleanObject trueObject(true);
CFBooleanObject falseObject(false);
}  // namespace

const CFBooleanRef kCFBooleanTrue = &trueObject;
const CFBooleanRef kCFBooleanFalse = &falseObject;

CFTypeID CFBooleanGetTypeID() { return kCFShimBooleanTypeID; }

Boolean CFBooleanGetValue(CFBooleanRef boolean) { return boolean && boolean->value; }
