#pragma once
// Decodes MessagePack bytes with msgpack-c (an independent decoder) into a canonical text:
// maps with their entries sorted by key text, strings quoted, integer keys bare, floats with "f".

#include <msgpack.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace msgpack_text {

inline std::string quoted(const char* p, size_t n)
{
    std::string text = "\"";
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c == '"' || c == '\\' || c < 0x20 || c > 0x7E) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else {
            text += char(c);
        }
    }
    return text + "\"";
}

inline std::string render(const msgpack_object& o)
{
    switch (o.type) {
    case MSGPACK_OBJECT_NIL:
        return "nil";
    case MSGPACK_OBJECT_BOOLEAN:
        return o.via.boolean ? "true" : "false";
    case MSGPACK_OBJECT_POSITIVE_INTEGER:
        return std::to_string(o.via.u64);
    case MSGPACK_OBJECT_NEGATIVE_INTEGER:
        return std::to_string(o.via.i64);
    case MSGPACK_OBJECT_FLOAT32:
    case MSGPACK_OBJECT_FLOAT64: {
        char text[40];
        snprintf(text, sizeof text, "%gf", o.via.f64);
        return text;
    }
    case MSGPACK_OBJECT_STR:
        return quoted(o.via.str.ptr, o.via.str.size);
    case MSGPACK_OBJECT_ARRAY: {
        std::string text = "[";
        for (uint32_t i = 0; i < o.via.array.size; ++i)
            text += (i ? "," : "") + render(o.via.array.ptr[i]);
        return text + "]";
    }
    case MSGPACK_OBJECT_MAP: {
        std::vector<std::pair<std::string, std::string>> entries;
        for (uint32_t i = 0; i < o.via.map.size; ++i)
            entries.emplace_back(render(o.via.map.ptr[i].key), render(o.via.map.ptr[i].val));
        std::sort(entries.begin(), entries.end());
        std::string text = "{";
        for (size_t i = 0; i < entries.size(); ++i)
            text += (i ? "," : "") + entries[i].first + ":" + entries[i].second;
        return text + "}";
    }
    default:
        return "<other>";
    }
}

// The text of the one object the bytes hold; "<error>" unless they hold exactly one.
inline std::string decode(const std::vector<unsigned char>& bytes, size_t from = 0)
{
    msgpack_unpacked result;
    msgpack_unpacked_init(&result);
    size_t offset = from;
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    std::string text = "<error>";
    if (msgpack_unpack_next(&result, data, bytes.size(), &offset) == MSGPACK_UNPACK_SUCCESS &&
        offset == bytes.size())
        text = render(result.data);
    msgpack_unpacked_destroy(&result);
    return text;
}

}  // namespace msgpack_text
