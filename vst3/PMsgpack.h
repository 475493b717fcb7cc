#pragma once
// A small MessagePack writer: a value tree (pmsgval) and the encoders that append to a byte vector.
// Integers always take their shortest unsigned form (no uint 8) or int 32; floats take float 32.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace nks::metadata {

struct pmsgval;

using pmsgbytes = std::vector<unsigned char>;
using pmsgarray = std::vector<pmsgval>;
using pmsgmap = std::map<std::string, pmsgval>;  // written in ascending key order
using pmsgstrmap = std::unordered_map<std::string, pmsgval>;
using pmsgintmap = std::unordered_map<uint32_t, pmsgval>;

// Every payload side by side; the kind says which one is written.
struct pmsgval {
    enum Kind : int32_t {
        kNone = 0,  // as any kind outside 1-9: writes nothing
        kSigned = 1,
        kUnsigned = 2,
        kFloat = 3,
        kBool = 4,
        kString = 5,
        kArray = 6,
        kMap = 7,
        kIntMap = 8,
        kStrMap = 9,
    };

    pmsgval() = default;
    explicit pmsgval(pmsgstrmap map);
    explicit pmsgval(pmsgintmap map);
    explicit pmsgval(pmsgarray array);
    explicit pmsgval(const std::vector<std::string>& strings);
    pmsgval(const pmsgval& other);
    pmsgval(pmsgval&& other) noexcept;
    pmsgval& operator=(const pmsgval& other);
    pmsgval& operator=(pmsgval&& other) noexcept;
    ~pmsgval();

    static pmsgval ofSigned(int32_t v);
    static pmsgval ofUnsigned(uint32_t v);
    static pmsgval ofFloat(float v);
    static pmsgval ofBool(bool v);
    static pmsgval ofString(std::string v);
    static pmsgval ofMap(pmsgmap map);

    int32_t kind = kNone;
    int32_t i = 0;
    uint32_t u = 0;
    float f = 0.0f;
    bool b = false;
    std::string s;
    pmsgarray a;
    std::unique_ptr<pmsgmap> map;        // kind 7; null writes an empty map
    std::unique_ptr<pmsgstrmap> strmap;  // kind 9
    std::unique_ptr<pmsgintmap> intmap;  // kind 8
};

void pmsgpack_be16(pmsgbytes& bytes, uint16_t v);
void pmsgpack_be32(pmsgbytes& bytes, uint32_t v);
void pmsgpack_array_header(pmsgbytes& bytes, size_t n);
void pmsgpack_map_header(pmsgbytes& bytes, size_t n);

void pmsgpack(pmsgbytes& bytes, const std::string& v);
void pmsgpack(pmsgbytes& bytes, const char* v);  // else a literal would pick the bool overload
void pmsgpack(pmsgbytes& bytes, int32_t v);
void pmsgpack(pmsgbytes& bytes, uint32_t v);
void pmsgpack(pmsgbytes& bytes, float v);
void pmsgpack(pmsgbytes& bytes, bool v);
void pmsgpack(pmsgbytes& bytes, const pmsgarray& v);
void pmsgpack(pmsgbytes& bytes, const pmsgmap& v);
void pmsgpack(pmsgbytes& bytes, const pmsgintmap& v);
void pmsgpack(pmsgbytes& bytes, const pmsgstrmap& v);

// Writes the value by its kind.
void pmsgpack_push(pmsgbytes& bytes, const pmsgval& v);

}  // namespace nks::metadata
