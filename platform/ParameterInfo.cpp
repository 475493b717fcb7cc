#include "platform/ParameterInfo.h"

#include "platform/PMIDI.h"
#include "platform/PlatformTools.h"
#include "platform/SaturatingCast.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Null for a null or empty text, else a new array copy.
char* safeAllocCopyString(const char* text)
{
    if (!text || !*text)
        return nullptr;
    const size_t n = strlen(text) + 1;
    char* copy = new char[n];
    memcpy(copy, text, n);
    return copy;
}


// True when the format holds exactly one floating conversion
// %[flags][width][.precision][l](f|F|e|E|g|G|a|A), besides any number of "%%".
bool isSingleFloatFormat(const char* f)
{
    int conversions = 0;
    for (const char* p = f; *p; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        ++p;
        while (*p && strchr("-+ #0", *p))
            ++p;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        if (*p == 'l')
            ++p;
        if (!*p || !strchr("fFeEgGaA", *p))
            return false;
        ++conversions;
    }
    return conversions == 1;
}

std::vector<std::string> splitNames(const char* text)
{
    std::vector<std::string> names;
    if (text)
        PSimpleStringTokenizer(text, "|", names);
    return names;
}

// Writes the name at position k (a whole number as double); out-of-range or NaN writes nothing.
void writeName(char* b, size_t n, const std::vector<std::string>& names, double k)
{
    if (k >= 0.0 && k < double(names.size()))
        snprintf(b, n, "%s", names[size_t(k)].c_str());
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void writeFormatted(char* b, size_t n, const char* format, double v)
{
    snprintf(b, n, format, v);
}
#pragma GCC diagnostic pop

}  // namespace

ParameterInfo::ParameterInfo(const char* labelText, uint32_t valueType, float minimum, float maximum,
                             float defaultVal, uint8_t math, uint16_t modulation)
    : type(valueType),
      mathFlags(math),
      modFlags(modulation),
      minValue(minimum),
      maxValue(maximum),
      defaultValue(defaultVal)
{
    setLabel(labelText);
}

ParameterInfo::ParameterInfo(const ParameterInfo& other) { *this = other; }

ParameterInfo& ParameterInfo::operator=(const ParameterInfo& o)
{
    if (this == &o)
        return *this;
    version = o.version;
    type = o.type;
    displayMode = o.displayMode;
    flags = o.flags;
    mathFlags = o.mathFlags;
    modFlags = o.modFlags;
    minValue = o.minValue;
    maxValue = o.maxValue;
    defaultValue = o.defaultValue;
    factor = o.factor;
    setLabel(o.label);
    setList(o.list);
    index = o.index;
    layerMask = o.layerMask;
    setDisplayFormat(o.displayFormat);
    offset = o.offset;
    return *this;
}

ParameterInfo::~ParameterInfo()
{
    delete[] label;
    delete[] list;
    delete[] displayFormat;
}

// Each setter takes its copy before the old text goes, so the argument may alias it. The pointer
// members are packed (misaligned): they are only read and assigned by value, never referenced.
void ParameterInfo::setLabel(const char* text)
{
    char* old = label;
    label = safeAllocCopyString(text);
    delete[] old;
}

void ParameterInfo::setList(const char* text)
{
    const std::vector<std::string> names = splitNames(text && *text ? text : nullptr);
    if (names.size() < 2) {
        clearList();
        return;
    }
    minValue = 0.0f;
    maxValue = float(names.size() - 1);
    char* old = list;
    list = safeAllocCopyString(text);
    delete[] old;
}

void ParameterInfo::setDisplayFormat(const char* text)
{
    const bool fits = text && strlen(text) <= kMaxDisplayFormat;
    char* old = displayFormat;
    displayFormat = fits ? safeAllocCopyString(text) : nullptr;
    delete[] old;
}

void ParameterInfo::clearLabel() { setLabel(nullptr); }
void ParameterInfo::clearList()
{
    delete[] list;
    list = nullptr;
}
void ParameterInfo::clearDisplayFormat() { setDisplayFormat(nullptr); }

void ParameterInfo::resetEverythingButLabel()
{
    version = kVersion;
    type = Continuous;
    displayMode = ByType;
    flags = 0;
    mathFlags = 0;
    modFlags = 0;
    minValue = 0.0f;
    maxValue = 1.0f;
    defaultValue = 0.0f;
    factor = 1.0f;
    clearList();
    index = 0xFFFF;
    layerMask = 0xFFFF;
    clearDisplayFormat();
    offset = 0.0f;
}

void ParameterInfo::reset()
{
    resetEverythingButLabel();
    clearLabel();
}

void ParameterInfo::pack01(float& v) const
{
    const float r = maxValue - minValue;
    switch (type) {
    case Continuous:
    case Integer:
    case Choice:
        if (r > 0.0f)
            v = (v - minValue) / r;
        break;
    case Switch: v = v == offset ? 0.0f : 1.0f; break;
    default: break;
    }
}

void ParameterInfo::pack(float& v) const
{
    if (type == Switch)
        v = v == offset ? 0.0f : 1.0f;
}

void ParameterInfo::unpack01(float& v) const
{
    const float r = maxValue - minValue;
    switch (type) {
    case Continuous:
    case 4:
    case 5:
        if (r > 0.0f)
            v = minValue + r * v;
        break;
    case Integer:
    case Choice:
        if (r > 0.0f)
            v = minValue + float(vantor::saturatingCast<int32_t>(std::floor(r * v + 0.5f)));
        break;
    case Switch: v = v == 0.0f ? offset : factor; break;
    default: break;
    }
}

void ParameterInfo::unpack(float& v) const
{
    if (type == Switch)
        v = v == 0.0f ? offset : factor;
}

void ParameterInfo::toString(char* b, float x, size_t n) const
{
    if (!b || n == 0 || displayMode >= DisplayModeCount)
        return;
    const char* format =
        displayFormat && isSingleFloatFormat(displayFormat) ? displayFormat : nullptr;
    switch (displayMode) {
    case ByType:
        switch (type) {
        case Continuous:
        case 4:
        case 5: snprintf(b, n, "%f", double(x)); break;
        case Integer:
            snprintf(b, n, "%d", vantor::saturatingCast<int>(std::floor(double(x) + 0.5)));
            break;
        case Switch: snprintf(b, n, "%s", x == 0.0f ? "False" : "True"); break;
        case Choice: writeName(b, n, splitNames(list), std::floor(double(x) + 0.5)); break;
        default: break;
        }
        break;
    case CFormat:
        if (format)
            writeFormatted(b, n, format, double((x + offset) * factor));
        else
            snprintf(b, n, "%f", double(x));
        break;
    case OnOffCenter: snprintf(b, n, "%s", x < 0.5f ? "Off" : "On"); break;
    case OnOffZero: snprintf(b, n, "%s", x == 0.0f ? "Off" : "On"); break;
    case StereoPan: {
        const double pan = (double(x) - 0.5) * 200.0;
        if (x < 0.49)
            snprintf(b, n, "%3.f%% L", std::fabs(pan));
        else if (x > 0.51)
            snprintf(b, n, "%3.f%% R", pan);
        else
            snprintf(b, n, "C");
        break;
    }
    case Linear2Db:
        if (x < 0.000001f)
            snprintf(b, n, "-oo dB");
        else if (x == 1.0f)
            snprintf(b, n, "0 dB");
        else
            snprintf(b, n, "%+3.f dB", double(20.0f * std::log10(x)));
        break;
    case Linear2DbConcave:
        if (x < 0.000001f)
            snprintf(b, n, "-oo dB");
        else if (x > 0.99999f)
            snprintf(b, n, "0 dB");
        else
            snprintf(b, n, "%+3.f dB", double(20.0f * std::log10(x * x)));
        break;
    case Float2Midi7: snprintf(b, n, "%03d", PDowngradeToMIDI7(x)); break;
    case Float2Midi14: snprintf(b, n, "%05d", PDowngradeToMIDI14(x)); break;
    case List: {
        const std::vector<std::string> names = splitNames(displayFormat);
        if (names.size() < 2) {
            snprintf(b, n, "%f", double(x));
            break;
        }
        const float count = float(names.size());
        float k = std::floor(count * x + 0.5f);
        if (k == count)
            k -= 1.0f;
        writeName(b, n, names, double(k));
        break;
    }
    case OnOffValue: snprintf(b, n, "%s", x == offset ? "Off" : "On"); break;
    case CFormatFactorOffset:
        if (format)
            writeFormatted(b, n, format, double(x * factor + offset));
        else
            snprintf(b, n, "%f", double(x));
        break;
    case FixedString: snprintf(b, n, "%s", displayFormat ? displayFormat : ""); break;
    default: break;
    }
}

uint32_t ParameterInfo::getDisplayModeFromText(const char* text)
{
    static const struct { const char* name; DisplayMode mode; } kNames[] = {
        {"cformat", CFormat},
        {"cformatoffsetfactor", CFormat},
        {"onoffcenter", OnOffCenter},
        {"onoffzero", OnOffZero},
        {"stereopan", StereoPan},
        {"linear2db", Linear2Db},
        {"linear2dbconcave", Linear2DbConcave},
        {"float2midi7", Float2Midi7},
        {"float2midi14", Float2Midi14},
        {"list", List},
        {"onoffvalue", OnOffValue},
        {"cformatfactoroffset", CFormatFactorOffset},
        {"fixedstring", FixedString},
    };
    if (text)
        for (const auto& e : kNames)
            if (strcmp(text, e.name) == 0)
                return e.mode;
    return ByType;
}

void ParameterInfo::listMathFlags(std::vector<uint8_t>& out)
{
    out.insert(out.end(), {Replace, Offset, Accum, Scale});
}

void ParameterInfo::getMathFlagName(uint8_t flag, std::string& out)
{
    switch (flag) {
    case Replace: out = "Replace"; break;
    case Offset: out = "Offset"; break;
    case Accum: out = "Accum"; break;
    case Scale: out = "Scale"; break;
    default: break;
    }
}

void ParameterInfo::listModFlags(std::vector<uint16_t>& out)
{
    for (uint16_t bit = 0x0001; bit <= 0x0400; bit <<= 1)
        out.push_back(bit);
}

void mergeParamInfo(std::map<uint16_t, ParameterInfo>& target,
                    const std::map<uint16_t, ParameterInfo>& source)
{
    for (const auto& [key, info] : source)
        target[key] = info;
}
