#include "platform/PlatformTools.h"

#include "platform/PlatformToolsDesktop.h"
#include "platform/PlatformToolsLinux.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <istream>
#include <new>
#include <streambuf>
#include <sys/stat.h>
#include <unistd.h>

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
            } else if (std::isinf(value) && !negative && exponent > 0) {
                errno = ERANGE;  // the first step already passes the largest double
                value = kRangeMagnitude;
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

// ---------------------------------------------------------------------------------------------
// Paths

namespace {

// Position of the later of the last "/" and the last backslash, or npos.
size_t lastSeparator(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t backslash = path.rfind('\\');
    if (slash == std::string::npos)
        return backslash;
    if (backslash == std::string::npos)
        return slash;
    return std::max(slash, backslash);
}

}  // namespace

std::string getFileExtension(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::string stripFileExtension(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(0, dot);
}

std::string getFileFromPath(const std::string& path)
{
    const size_t split = lastSeparator(path);
    return split == std::string::npos ? path : path.substr(split + 1);
}

std::string getPathFromFile(const std::string& path)
{
    if (path.empty())
        return std::string();
    const size_t split = lastSeparator(path);
    return split == std::string::npos ? std::string(".") : path.substr(0, split);
}

bool pathIsRelative(const std::string& path) { return path.empty() || path[0] != '/'; }

void cleanPathName(std::string& name)
{
    if (name.empty())
        return;
    name.resize(strlen(name.c_str()));
    for (char& c : name)
        if (strchr("\\/*?><|: ", c))
            c = '_';
}

void PToPosix(const std::string& in, std::string& out)
{
    out = in;
    std::replace(out.begin(), out.end(), '\\', '/');
}

void PToPosix(const char* in, std::string& out) { PToPosix(std::string(in ? in : ""), out); }

void PToPosix(const std::wstring& in, std::wstring& out)
{
    out = in;
    std::replace(out.begin(), out.end(), L'\\', L'/');
}

// ---------------------------------------------------------------------------------------------
// File information

bool fileExists(const std::string& path, bool) { return wrap_FileExists(path); }

bool directoryExists(const std::string& path) { return wrap_FileExists(path); }

namespace {

struct stat statOrZero(const std::string& path)
{
    struct stat st;
    memset(&st, 0, sizeof st);
    if (stat(path.c_str(), &st) != 0)
        memset(&st, 0, sizeof st);
    return st;
}

}  // namespace

int64_t fileDate(const std::string& path) { return int64_t(statOrZero(path).st_mtime); }

int64_t fileSize(const std::string& path) { return int64_t(statOrZero(path).st_size); }

std::string getFileTimeDetails(const std::string& path)
{
    const time_t t = statOrZero(path).st_mtime;
    char text[64] = {};
    if (!ctime_r(&t, text))
        text[0] = 0;
    std::string details = std::string("mtime : ") + text;
    if (text[0])
        details.pop_back();  // the newline of the ctime text
    return details;
}

int POpenRegularFileDescriptor(const std::string& path)
{
    struct stat st;
    if (path.find('\0') != std::string::npos || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    // Non-blocking, so that a path swapped for a FIFO after the check cannot hang the open.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

FILE* POpenRegularFile(const std::string& path)
{
    const int fd = POpenRegularFileDescriptor(path);
    if (fd < 0)
        return nullptr;
    FILE* f = fdopen(fd, "rb");
    if (!f)
        close(fd);
    return f;
}

// ---------------------------------------------------------------------------------------------
// Whole files

namespace {

// Input stream buffer over a stdio file.
class FileReadBuffer : public std::streambuf {
public:
    explicit FileReadBuffer(FILE* f) : file_(f) {}

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        const size_t n = fread(buffer_, 1, sizeof buffer_, file_);
        if (n == 0)
            return traits_type::eof();
        setg(buffer_, buffer_, buffer_ + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    FILE* file_;
    char buffer_[4096];
};

template <class Sink>
bool readLines(const std::string& path, Sink sink)
{
    FILE* f = POpenRegularFile(path);
    if (!f)
        return false;
    {
        FileReadBuffer buffer(f);
        std::istream in(&buffer);
        std::string line;
        while (getLine(in, line))
            sink(line);
    }
    fclose(f);
    return true;
}

bool writeAll(int fd, const void* data, uint64_t length)
{
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = write(fd, p, size_t(std::min<uint64_t>(length, 1u << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= uint64_t(n);
    }
    return true;
}

// For devices, FIFOs and the like, which cannot be replaced by a new file.
bool writeInPlace(const std::string& path, const void* data, uint64_t length)
{
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, data, length);
    return close(fd) == 0 && written;
}

std::string folderOfPosixPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool getLine(std::istream& in, std::string& line)
{
    line.clear();
    char c;
    while (in.get(c)) {
        if (c == '\n')
            break;
        if (c == '\r') {
            // A CR LF pair is one break; a CR as the last byte ends its line like a LF would,
            // without marking the stream as ended yet.
            const auto next = in.peek();
            if (next == '\n')
                in.get();
            else if (next == std::istream::traits_type::eof())
                in.clear(in.rdstate() & ~std::ios::eofbit);
            break;
        }
        line += c;
    }
    return !line.empty() || !in.eof();
}

bool textInternalize(const std::string& path, std::string& text)
{
    return readLines(path, [&](const std::string& line) {
        text += line;
        text += '\n';
    });
}

bool textInternalize(const std::string& path, std::vector<std::string>& lines)
{
    return readLines(path, [&](const std::string& line) { lines.push_back(line); });
}

bool textInternalizeRAM(const std::string& text, std::vector<std::string>& lines, bool skipEmpty)
{
    lines.clear();
    if (text.empty())
        return true;
    std::string current;
    current.reserve(text.size());
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            if (!current.empty()) {
                lines.push_back(current);
                current.clear();
            } else if (!skipEmpty) {
                lines.emplace_back();
            }
            if (c == '\r' && i + 1 < n && text[i + 1] == '\n')
                ++i;
        } else if (i + 1 == n) {
            if (c != 0)
                current += c;
            if (!current.empty() || !skipEmpty)
                lines.push_back(current);
        } else {
            current += c;
        }
    }
    return !lines.empty();
}

namespace {

// The length of an open file, or -1 (the position is back at the start).
int64_t measure(FILE* f)
{
    if (fseeko(f, 0, SEEK_END) != 0)
        return -1;
    const off_t end = ftello(f);
    if (end < 0 || fseeko(f, 0, SEEK_SET) != 0)
        return -1;
    return int64_t(end);
}

}  // namespace

bool binFileInternalize(const std::string& path, std::vector<uint8_t>& data)
{
    FILE* f = POpenRegularFile(path);
    if (!f)
        return false;
    const int64_t length = measure(f);
    std::vector<uint8_t> bytes;
    bool ok = length >= 0;
    if (ok) {
        try {
            bytes.resize(size_t(length));
        } catch (const std::exception&) {
            ok = false;
        }
    }
    ok = ok && (length == 0 || fread(bytes.data(), 1, size_t(length), f) == size_t(length));
    fclose(f);
    if (ok)
        data.swap(bytes);
    return ok;
}

uint8_t* binFileInternalize(const std::string& path, uint64_t& length, uint64_t& spare)
{
    length = 0;
    FILE* f = POpenRegularFile(path);
    if (!f)
        return nullptr;
    const int64_t measured = measure(f);
    if (measured < 0) {
        fclose(f);
        return nullptr;
    }
    const uint64_t fileLength = uint64_t(measured);
    length = fileLength;
    const uint64_t wanted = fileLength + spare;
    const uint64_t size = (wanted + 15) & ~uint64_t(15);
    uint8_t* buffer = nullptr;
    if (wanted >= fileLength && size >= wanted)  // no wrap-around
        buffer = new (std::nothrow) uint8_t[size]();
    const bool ok = buffer && (fileLength == 0 || fread(buffer, 1, fileLength, f) == fileLength);
    fclose(f);
    if (!ok) {
        delete[] buffer;
        return nullptr;
    }
    spare = size - fileLength;
    return buffer;
}

uint8_t* binFileAlloc(uint64_t bytes) { return new (std::nothrow) uint8_t[bytes]; }

void binFileFree(uint8_t* buffer) { delete[] buffer; }

bool binFileExternalize(const std::string& path, const void* data, uint64_t length)
{
    if ((length > 0 && !data) || path.empty() || path.find('\0') != std::string::npos)
        return false;
    std::string target = path;
    struct stat old;
    const bool exists = stat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return writeInPlace(path, data, length);
    if (exists) {
        // Replace the file a link points to, not the link.
        if (char* resolved = realpath(path.c_str(), nullptr)) {
            target = resolved;
            free(resolved);
        }
    }

    const std::string folder = folderOfPosixPath(target);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = folder + "/.zrg" + std::to_string(PUniqueTicks()) + ".tmp";
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, data, length);
    if (ok && exists) {
        // The owner stays only where the rights allow it (chown first: it may clear set-id bits).
        const bool ownerKept = fchown(fd, old.st_uid, old.st_gid) == 0;
        (void)ownerKept;
        ok = fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

bool createStringMap(const std::string& path, std::map<std::string, std::string>& map, char separator,
                     bool skipComments)
{
    return readLines(path, [&](const std::string& line) {
        if (line.empty() || (skipComments && (line[0] == '/' || line[0] == '#')))
            return;
        const size_t split = line.find(separator);
        if (split == std::string::npos)
            return;
        std::string key, value;
        trim(line.substr(0, split), key);
        trim(line.substr(split + 1), value);
        map[key] = value;
    });
}
