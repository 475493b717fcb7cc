#include "vst3/PMsgpack.h"

#include <bit>
#include <cassert>

namespace nks::metadata {

namespace {

template <class Map>
std::unique_ptr<Map> copyOf(const std::unique_ptr<Map>& map)
{
    return map ? std::make_unique<Map>(*map) : nullptr;
}

// An array or map header: the fix form below 16 entries, else the 16-bit or 32-bit form.
void header(pmsgbytes& bytes, size_t n, uint8_t fix, uint8_t form16, uint8_t form32)
{
    assert(n <= 0xFFFFFFFF);
    if (n < 16) {
        bytes.push_back(uint8_t(fix | n));
    } else if (n <= 0xFFFF) {
        bytes.push_back(form16);
        pmsgpack_be16(bytes, uint16_t(n));
    } else {
        bytes.push_back(form32);
        pmsgpack_be32(bytes, uint32_t(n));
    }
}

template <class Map>
void packMap(pmsgbytes& bytes, const Map& map)
{
    pmsgpack_map_header(bytes, map.size());
    for (const auto& [key, value] : map) {
        pmsgpack(bytes, key);
        pmsgpack_push(bytes, value);
    }
}

}  // namespace

pmsgval::pmsgval(pmsgstrmap m) : kind(kStrMap), strmap(std::make_unique<pmsgstrmap>(std::move(m)))
{
}

pmsgval::pmsgval(pmsgintmap m) : kind(kIntMap), intmap(std::make_unique<pmsgintmap>(std::move(m)))
{
}

pmsgval::pmsgval(pmsgarray array) : kind(kArray), a(std::move(array)) {}

pmsgval::pmsgval(const std::vector<std::string>& strings) : kind(kArray)
{
    a.reserve(strings.size());
    for (const std::string& text : strings)
        a.push_back(ofString(text));
}

pmsgval::pmsgval(const pmsgval& o)
    : kind(o.kind), i(o.i), u(o.u), f(o.f), b(o.b), s(o.s), a(o.a), map(copyOf(o.map)),
      strmap(copyOf(o.strmap)), intmap(copyOf(o.intmap))
{
}

pmsgval::pmsgval(pmsgval&& o) noexcept = default;

pmsgval& pmsgval::operator=(const pmsgval& o)
{
    if (this != &o)
        *this = pmsgval(o);
    return *this;
}

pmsgval& pmsgval::operator=(pmsgval&& o) noexcept = default;

pmsgval::~pmsgval() = default;

pmsgval pmsgval::ofSigned(int32_t v)
{
    pmsgval value;
    value.kind = kSigned;
    value.i = v;
    return value;
}

pmsgval pmsgval::ofUnsigned(uint32_t v)
{
    pmsgval value;
    value.kind = kUnsigned;
    value.u = v;
    return value;
}

pmsgval pmsgval::ofFloat(float v)
{
    pmsgval value;
    value.kind = kFloat;
    value.f = v;
    return value;
}

pmsgval pmsgval::ofBool(bool v)
{
    pmsgval value;
    value.kind = kBool;
    value.b = v;
    return value;
}

pmsgval pmsgval::ofString(std::string v)
{
    pmsgval value;
    value.kind = kString;
    value.s = std::move(v);
    return value;
}

pmsgval pmsgval::ofMap(pmsgmap m)
{
    pmsgval value;
    value.kind = kMap;
    value.map = std::make_unique<pmsgmap>(std::move(m));
    return value;
}

void pmsgpack_be16(pmsgbytes& bytes, uint16_t v)
{
    bytes.push_back(uint8_t(v >> 8));
    bytes.push_back(uint8_t(v));
}

void pmsgpack_be32(pmsgbytes& bytes, uint32_t v)
{
    bytes.push_back(uint8_t(v >> 24));
    bytes.push_back(uint8_t(v >> 16));
    bytes.push_back(uint8_t(v >> 8));
    bytes.push_back(uint8_t(v));
}

void pmsgpack_array_header(pmsgbytes& bytes, size_t n)
{
    header(bytes, n, 0x90, 0xDC, 0xDD);
}

void pmsgpack_map_header(pmsgbytes& bytes, size_t n)
{
    header(bytes, n, 0x80, 0xDE, 0xDF);
}

void pmsgpack(pmsgbytes& bytes, const std::string& v)
{
    const size_t n = v.size();
    assert(n <= 0xFFFFFFFF);
    if (n < 32) {
        bytes.push_back(uint8_t(0xA0 | n));
    } else if (n <= 0xFF) {
        bytes.push_back(0xD9);
        bytes.push_back(uint8_t(n));
    } else if (n <= 0xFFFF) {
        bytes.push_back(0xDA);
        pmsgpack_be16(bytes, uint16_t(n));
    } else {
        bytes.push_back(0xDB);
        pmsgpack_be32(bytes, uint32_t(n));
    }
    bytes.insert(bytes.end(), v.begin(), v.end());
}

void pmsgpack(pmsgbytes& bytes, const char* v)
{
    pmsgpack(bytes, std::string(v ? v : ""));
}

void pmsgpack(pmsgbytes& bytes, int32_t v)
{
    bytes.push_back(0xD2);
    pmsgpack_be32(bytes, uint32_t(v));
}

void pmsgpack(pmsgbytes& bytes, uint32_t v)
{
    if (v <= 0x7F) {
        bytes.push_back(uint8_t(v));
    } else if (v <= 0xFFFF) {
        bytes.push_back(0xCD);
        pmsgpack_be16(bytes, uint16_t(v));
    } else {
        bytes.push_back(0xCE);
        pmsgpack_be32(bytes, v);
    }
}

void pmsgpack(pmsgbytes& bytes, float v)
{
    bytes.push_back(0xCA);
    pmsgpack_be32(bytes, std::bit_cast<uint32_t>(v));
}

void pmsgpack(pmsgbytes& bytes, bool v)
{
    bytes.push_back(v ? 0xC3 : 0xC2);
}

void pmsgpack(pmsgbytes& bytes, const pmsgarray& v)
{
    pmsgpack_array_header(bytes, v.size());
    for (const pmsgval& element : v)
        pmsgpack_push(bytes, element);
}

void pmsgpack(pmsgbytes& bytes, const pmsgmap& v)
{
    packMap(bytes, v);
}

void pmsgpack(pmsgbytes& bytes, const pmsgintmap& v)
{
    packMap(bytes, v);
}

void pmsgpack(pmsgbytes& bytes, const pmsgstrmap& v)
{
    packMap(bytes, v);
}

void pmsgpack_push(pmsgbytes& bytes, const pmsgval& v)
{
    switch (v.kind) {
    case pmsgval::kSigned:
        pmsgpack(bytes, v.i);
        break;
    case pmsgval::kUnsigned:
        pmsgpack(bytes, v.u);
        break;
    case pmsgval::kFloat:
        pmsgpack(bytes, v.f);
        break;
    case pmsgval::kBool:
        pmsgpack(bytes, v.b);
        break;
    case pmsgval::kString:
        pmsgpack(bytes, v.s);
        break;
    case pmsgval::kArray:
        pmsgpack(bytes, v.a);
        break;
    case pmsgval::kMap:
        v.map ? pmsgpack(bytes, *v.map) : pmsgpack_map_header(bytes, 0);
        break;
    case pmsgval::kIntMap:
        v.intmap ? pmsgpack(bytes, *v.intmap) : pmsgpack_map_header(bytes, 0);
        break;
    case pmsgval::kStrMap:
        v.strmap ? pmsgpack(bytes, *v.strmap) : pmsgpack_map_header(bytes, 0);
        break;
    default:
        break;
    }
}

}  // namespace nks::metadata
