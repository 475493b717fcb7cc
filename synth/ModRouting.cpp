#include "synth/ModRouting.h"

#include "platform/PlatformTools.h"

#include <cctype>
#include <cstdint>
#include <iterator>
#include <limits>
#include <vector>

namespace ZRS {

namespace {

// The names' order is the note-expression types' order; stored texts rely on both.
constexpr std::string_view kExpressionSourceNames[] = {
    "EXP_VOLUME",     "EXP_PAN",        "EXP_TUNING",   "EXP_VIBRATO",
    "EXP_EXPRESSION", "EXP_BRIGHTNESS", "EXP_PRESSURE", "EXP_EXTRA",
};
static_assert(std::size(kExpressionSourceNames) == 8);

struct FunctionName
{
    std::string_view name;
    uint32_t code;
};

constexpr FunctionName kFunctionNames[] = {
    {"LINEAR_INV", 1}, {"SQUARED", 2},  {"SQUARED_INV", 3}, {"CUBE", 4},   {"CUBE_INV", 5},
    {"SQRT", 6},       {"SQRT_INV", 7}, {"SWITCH", 8},      {"SWITCH_INV", 9},
};

struct SourceRange
{
    std::string_view name;
    float minimum, maximum;
};

constexpr SourceRange kSourceRanges[] = {
    {"PB", -1.0f, 1.0f},        {"PB_POS", 0.0f, 1.0f},     {"PB_NEG", 0.0f, 1.0f},
    {"CP", 0.0f, 1.0f},         {"PC", 0.0f, 127.0f},       {"POLYKT", -127.0f, 127.0f},
    {"MONOKT", -127.0f, 127.0f}, {"POLYKEY", 0.0f, 127.0f}, {"MONOKEY", 0.0f, 127.0f},
    {"POLYVEL", 0.0f, 1.0f},    {"MONOVEL", 0.0f, 1.0f},    {"POLYRAND", 0.0f, 1.0f},
    {"MONORAND", 0.0f, 1.0f},   {"MPE_PB", -1.0f, 1.0f},    {"MPE_CP", 0.0f, 1.0f},
    {"MPE_CC74", 0.0f, 1.0f},
};

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool isBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Blanks, sign, digits; the magnitude saturates at the largest unsigned 64-bit value.
bool readDecimal(std::string_view text, bool& negative, uint64_t& magnitude)
{
    size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    magnitude = 0;
    bool digits = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const uint64_t d = uint64_t(text[at] - '0');
        magnitude = magnitude > (kMax - d) / 10 ? kMax : magnitude * 10 + d;
        digits = true;
    }
    return digits;
}

uint8_t mathOf(std::string_view text)
{
    if (text == "REPLACE")
        return 1;
    if (text == "ACCUM")
        return 4;
    if (text == "SCALE")
        return 8;
    return 2;
}

}  // namespace

bool readDecimalInt(std::string_view text, int32_t& out)
{
    bool negative = false;
    uint64_t magnitude = 0;
    if (!readDecimal(text, negative, magnitude))
        return false;
    if (negative)
        out = magnitude > uint64_t(INT32_MAX) + 1 ? INT32_MIN : int32_t(-int64_t(magnitude));
    else
        out = magnitude > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(magnitude);
    return true;
}

bool readDecimalSize(std::string_view text, uint64_t& out)
{
    bool negative = false;
    uint64_t magnitude = 0;
    if (!readDecimal(text, negative, magnitude))
        return false;
    out = negative ? uint64_t(0) - magnitude : magnitude;
    return true;
}

int32_t expressionSourceType(std::string_view keyword)
{
    for (size_t t = 0; t < std::size(kExpressionSourceNames); ++t)
        if (keyword == kExpressionSourceNames[t])
            return int32_t(t);
    return -1;
}

uint32_t parseRouteFunction(const char* text, size_t length)
{
    if (!text || length < 4 || length > 11)
        return 0;
    const std::string_view name(text, length);
    for (const FunctionName& f : kFunctionNames)
        if (name == f.name)
            return f.code;
    return 0;
}

uint8_t parseRouteMath(const char* text, size_t length)
{
    return text ? mathOf(std::string_view(text, length)) : 2;
}

bool validateRouteRow(ModRouteRow& row, bool invert)
{
    if (row.source.empty() || row.destination.empty())
        return false;
    if (invert) {
        if (row.amount < 0.0f)
            return false;
        row.amount = -row.amount;
    }
    return true;
}

bool modSourceRange(std::string_view keyword, float& minimum, float& maximum)
{
    for (const SourceRange& r : kSourceRanges) {
        if (keyword == r.name) {
            minimum = r.minimum;
            maximum = r.maximum;
            return true;
        }
    }
    if (keyword.size() > 2 && startsWith(keyword, "CC")) {
        minimum = 0.0f;
        maximum = 1.0f;
        return true;
    }
    if (keyword.size() > 4 && startsWith(keyword, "EXP_")) {
        minimum = 0.0f;
        maximum = 1.0f;
        return true;
    }
    if (keyword.size() >= 4 && startsWith(keyword, "STEP")) {
        minimum = -128.0f;
        maximum = 127.0f;
        return true;
    }
    return false;
}

// Nothing is trimmed: a blank belongs to the key or value it stands in.
bool parseRouteRow(const std::string& line, ModRouteRow& row)
{
    row = ModRouteRow{};
    bool invert = false;
    std::vector<std::string> fields;
    PSimpleStringTokenizer(line, ";", fields);
    std::string upper;
    std::vector<std::string> parts;
    for (const std::string& field : fields) {
        if (field.empty())
            continue;
        upper = field;
        for (char& c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        parts.clear();
        PSimpleStringTokenizer(upper, "=", parts);
        if (parts.size() != 2)
            continue;
        const std::string& key = parts[0];
        const std::string& value = parts[1];
        if (key == "SOURCE") {
            row.source = value;
        } else if (key == "DESTINATION") {
            row.destination = value;
        } else if (key == "CONTROL") {
            row.control = value;
        } else if (key == "SOURCE_FUNC") {
            row.sourceFunction = parseRouteFunction(value.data(), value.size());
        } else if (key == "CONTROL_FUNC") {
            row.controlFunction = parseRouteFunction(value.data(), value.size());
        } else if (key == "MATH") {
            row.combine = parseRouteMath(value.data(), value.size());
        } else if (key == "AMOUNT") {
            PStringToFloat(value.c_str(), row.amount);
        } else if (key == "OFFSET") {
            PStringToFloat(value.c_str(), row.offset);
        } else if (key == "MIN") {
            PStringToFloat(value.c_str(), row.minimum);
        } else if (key == "MAX") {
            PStringToFloat(value.c_str(), row.maximum);
        } else if (key == "INV") {
            invert = value == "1";
        } else if (key == "TRIGGER_ZONE") {
            int32_t zone = 0;
            readDecimalInt(value, zone);
            const uint32_t bit = uint32_t(zone) & 31;
            row.zoneMask = bit < 16 ? uint16_t(1u << bit) : uint16_t(0);
        }
    }
    return validateRouteRow(row, invert);
}

}  // namespace ZRS
