#include "platform/PlatformTools.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

// ---------------------------------------------------------------------------------------------
// Text

void trim(const std::string& in, std::string& out)
{
    size_t b = 0, e = in.size();
    while (b < e && static_cast<unsigned char>(in[b]) <= 0x20)
        ++b;
    while (e > b && static_cast<unsigned char>(in[e - 1]) <= 0x20)
        --e;
    out = in.substr(b, e - b);
}

void trim_left(const std::string& in, std::string& out)
{
    const size_t b = in.find_first_not_of(' ');
    out = b == std::string::npos ? std::string() : in.substr(b);
}

void trim_right(const std::string& in, std::string& out)
{
    const size_t e = in.find_last_not_of(' ');
    out = e == std::string::npos ? std::string() : in.substr(0, e + 1);
}

void lowercase(const std::string& in, std::string& out)
{
    out = in;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
}

void uppercase(const std::string& in, std::string& out)
{
    out = in;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
}

namespace {

template <class S>
void removeNewlines(S& text)
{
    std::erase_if(text, [](auto c) { return c == '\r' || c == '\n'; });
}

template <class S>
void tokenize(const S& text, const S& separator, std::vector<S>& out)
{
    if (separator.empty()) {
        out.push_back(text);
        return;
    }
    size_t start = 0;
    for (size_t hit; (hit = text.find(separator, start)) != S::npos; start = hit + separator.size())
        out.push_back(text.substr(start, hit - start));
    out.push_back(text.substr(start));
}

template <class S>
void replace(const S& in, S& out, const S& find, const S& replacement)
{
    std::vector<S> pieces;
    tokenize(in, find, pieces);
    if (find.empty() || pieces.size() == 1) {
        out = in;
        return;
    }
    S result;
    for (size_t i = 0; i + 1 < pieces.size(); ++i)
        result += pieces[i] + replacement;
    result += pieces.back();
    out = std::move(result);
}

}  // namespace

void PRemoveNewlines(std::string& text) { removeNewlines(text); }
void PRemoveNewlines(std::wstring& text) { removeNewlines(text); }

void PSimpleStringTokenizer(const std::string& text, const std::string& separator,
                            std::vector<std::string>& out)
{
    tokenize(text, separator, out);
}

void PSimpleStringTokenizer(const std::wstring& text, const std::wstring& separator,
                            std::vector<std::wstring>& out)
{
    tokenize(text, separator, out);
}

void PStringReplacer(const std::string& in, std::string& out, const std::string& find,
                     const std::string& replacement)
{
    replace(in, out, find, replacement);
}

void PStringReplacer(const std::wstring& in, std::wstring& out, const std::wstring& find,
                     const std::wstring& replacement)
{
    replace(in, out, find, replacement);
}

std::string PXmlStringEscape(const std::string& text)
{
    // The ampersand goes first so that the later entities are not escaped again.
    static const char* const kPairs[][2] = {
        {"&", "&amp;"}, {"<", "&lt;"}, {">", "&gt;"}, {"\"", "&quot;"}, {"'", "&apos;"}};
    std::string s = text;
    for (const auto& p : kPairs)
        PStringReplacer(s, s, p[0], p[1]);
    return s;
}

// ---------------------------------------------------------------------------------------------
// Numbers

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

constexpr double kRangeMagnitude = 4294967295.0;  // stands in for infinity on overflow
constexpr double kMaxDouble = 1.7976931348623157e308;
constexpr double kMinNormal = 2.2250738585072014e-308;

}  // namespace

double PStrtod(const char* text, const char** end)
{
    const char* p = text;
    if (end)
        *end = text;
    while ((*p >= 0x01 && *p <= 0x20) || *p == 0x7F)
        ++p;
    double sign = 1.0;
    if (*p == '+' || *p == '-')
        sign = *p++ == '-' ? -1.0 : 1.0;

    double value = 0.0;
    bool anyDigit = false;
    for (; isDigit(*p); ++p, anyDigit = true)
        value = value * 10.0 + (*p - '0');
    if (*p == '.' || *p == ',') {
        ++p;
        double scale = 0.1;
        for (; isDigit(*p); ++p, anyDigit = true) {
            value += (*p - '0') * scale;
            scale *= 0.1;
        }
    }
    if (!anyDigit)
        return 0.0;
    if (end)
        *end = p;

    if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
        const char* q = p + 1;
        bool negative = false;
        if (*q == '+' || *q == '-')
            negative = *q++ == '-';
        if (isDigit(*q)) {
            // 64-bit accumulation, capped just past the 32-bit range it stands for.
            constexpr int64_t kCap = int64_t(INT32_MAX) + 1;
            int64_t exponent = 0;
            for (; isDigit(*q); ++q)
                exponent = std::min<int64_t>(exponent * 10 + (*q - '0'), kCap);
            if (end)
                *end = q;
            if (exponent == kCap) {
                errno = ERANGE;
                value = negative ? 0.0 : kRangeMagnitude;
            } else if (value == 0.0 || std::isinf(value)) {
                // Stepping would not change the value; only the underflow report remains.
                if (value == 0.0 && negative && exponent > 0)
                    errno = ERANGE;
            } else if (negative) {
                for (int64_t i = 0; i < exponent; ++i) {
                    value *= 0.1;
                    if (value < kMinNormal) {
                        errno = ERANGE;
                        value = 0.0;
                        break;
                    }
                }
            } else {
                for (int64_t i = 0; i < exponent; ++i) {
                    value *= 10.0;
                    if (value > kMaxDouble) {
                        errno = ERANGE;
                        value = kRangeMagnitude;
                        break;
                    }
                }
            }
        }
    }
    return sign * value;
}

bool PStringToDouble(const char* text, double& out)
{
    if (!text || !*text)
        return false;
    const char* end = text;
    out = PStrtod(text, &end);
    return end != text && *end == 0;
}

bool PStringToFloat(const char* text, float& out)
{
    double v = 0.0;
    if (!PStringToDouble(text, v))
        return false;
    out = float(v);
    return true;
}

void PDoubleToString(std::string& out, double value, bool forceDot)
{
    char buf[128] = {};
    const double magnitude = std::fabs(value);
    if (std::isnan(value))
        snprintf(buf, sizeof buf, "nan");
    else if (std::isinf(value))
        snprintf(buf, sizeof buf, value < 0 ? "-inf" : "inf");
    else if (magnitude >= 1e12)
        snprintf(buf, sizeof buf, "%.16e", value);
    else if (std::fabs(value - double(int64_t(value))) <= 2.220446049250313e-16)
        snprintf(buf, sizeof buf, "%.1f", value);
    else if (magnitude <= 1e-6)
        snprintf(buf, sizeof buf, "%.16e", value);
    else
        snprintf(buf, sizeof buf, "%f", value);
    if (forceDot)
        for (char& c : buf)
            if (c == ',')
                c = '.';
    out = buf;
}

uint64_t PcompressBound(uint64_t n) { return n + (n >> 12) + (n >> 14) + 11; }

// ---------------------------------------------------------------------------------------------
// Random

bool g_PRandOFF = false;

void PRandOFF() { g_PRandOFF = true; }

void Psrand(uint32_t seed) { srand(seed); }

double PUrand() { return g_PRandOFF ? 0.0 : rand() * 4.656612875245797e-10; }

float PUrandf() { return float(PUrand()); }

double PBrand() { return g_PRandOFF ? 0.0 : rand() * 9.313225750491594e-10 - 1.0; }

float PBrandf() { return float(PBrand()); }

// ---------------------------------------------------------------------------------------------
// Time

double PTimeMilli()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double(ts.tv_sec) * 1e9 + double(ts.tv_nsec)) * 1e-6;
}

void PmilliSleep(uint64_t milliseconds)
{
    timespec left{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

double PGetCurrentTimeInSeconds()
{
    using namespace std::chrono;
    return double(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) / 1e6;
}

double PGetTimeSinceBootInSeconds()
{
    using namespace std::chrono;
    return double(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count()) / 1e9;
}

void PDebugLog(const char* format, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
}
