#include "platform/ZRGSConv.h"

#include "platform/CFTools.h"
#include "platform/PlatformTools.h"

#include <cstdio>

const char* const ZRGS_EncodingNames[16] = {
    "UTF8", "UTF16BE", "UTF16LE", "UTF32BE", "UTF32LE", "UTF7", "UTF1", "UTF_EBCDIC", "SCSU", "BOCU1",
    "UNKNOWN_8BIT", "ASCII", "WINDOWS_LATIN/CP_ACP", "OEM", "", ""};

namespace {

struct ByteOrderMark {
    CHARACTER_ENCODING encoding;
    uint8_t bytes[4];
    uint32_t length;
};

// In the order they are tried: the UTF-32LE mark before the UTF-16LE mark, its first half.
constexpr ByteOrderMark kMarks[10] = {
    {ENC_UTF8, {0xEF, 0xBB, 0xBF}, 3},        {ENC_UTF16BE, {0xFE, 0xFF}, 2},
    {ENC_UTF32LE, {0xFF, 0xFE, 0x00, 0x00}, 4}, {ENC_UTF16LE, {0xFF, 0xFE}, 2},
    {ENC_UTF32BE, {0x00, 0x00, 0xFE, 0xFF}, 4}, {ENC_UTF7, {0x2B, 0x2F, 0x76}, 3},
    {ENC_UTF1, {0xF7, 0x64, 0x4C}, 3},        {ENC_UTF_EBCDIC, {0xDD, 0x73, 0x66, 0x73}, 4},
    {ENC_SCSU, {0x0E, 0xFE, 0xFF}, 3},        {ENC_BOCU1, {0xFB, 0xEE, 0x28}, 3},
};

const char kErrorFromLatin[] = "ZRGSConv_ERROR6";
const char kErrorFromUTF8[] = "ZRGSConv_ERROR6a";
const char kErrorFromWide[] = "ZRGSConv_ERROR8";

void appendUTF8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

template <class Unit>
std::string crudeUTF16(const Unit* units, size_t count)
{
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t u = uint16_t(units[i]);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const uint32_t next = uint16_t(units[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUTF8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUTF8(out, u);  // unpaired surrogates keep their 3-byte form
    }
    return out;
}

template <class Unit>
size_t zeroTerminatedLength(const Unit* text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

}  // namespace

const char* getCharEncodingName(CHARACTER_ENCODING encoding) { return ZRGS_EncodingNames[encoding & 15]; }

bool getCharEncodingFromBOM(const uint8_t* data, CHARACTER_ENCODING& encoding, uint32_t& markLength)
{
    if (!data)
        return false;
    for (const ByteOrderMark& mark : kMarks) {
        uint32_t k = 0;
        while (k < mark.length && data[k] == mark.bytes[k])
            ++k;
        if (k == mark.length) {
            encoding = mark.encoding;
            markLength = mark.length;
            return true;
        }
    }
    return false;
}

bool getCharEncodingFromBOM(const std::string& path, CHARACTER_ENCODING& encoding, uint32_t& markLength)
{
    FILE* f = POpenRegularFile(path);
    if (!f)
        return false;
    uint8_t head[4] = {};
    const size_t got = fread(head, 1, sizeof head, f);
    fclose(f);
    return got == sizeof head && getCharEncodingFromBOM(head, encoding, markLength);
}

CHARACTER_ENCODING getCharEncodingFromData(const uint8_t* data, uint64_t count, uint32_t& markLength,
                                           std::string* log)
{
    markLength = 0;
    if (!data)
        count = 0;
    CHARACTER_ENCODING marked;
    if (count >= 5 && getCharEncodingFromBOM(data, marked, markLength))
        return marked;
    uint64_t first = 0;
    while (first < count && data[first] < 0x80)
        ++first;
    if (first == count)
        return ENC_ASCII;
    if (log)
        *log += "Binary detected! off:" + std::to_string(first) + " = " + std::to_string(data[first]);
    for (uint64_t i = 1; i < count; ++i) {
        if (data[i] >= 0x80 && data[i - 1] >= 0xC0) {
            if (log)
                *log += " brute force detected UTF-8!\n";
            return ENC_UTF8;
        }
    }
    if (log)
        *log += " Exhausted heuristics! Will use WINDOWS LATIN encoding!\n";
    return ENC_WINDOWS_LATIN;
}

std::string ZRGSConv(const std::string& text, CHARACTER_ENCODING source)
{
    if (source != ENC_WINDOWS_LATIN)
        return text;
    std::string out;
    vantor::CFStringWrapper s(text, kCFStringEncodingWindowsLatin1, false);
    return s.getBytes(out, kCFStringEncodingUTF8) ? out : kErrorFromLatin;
}

std::string ZRGSConv(const char* text, CHARACTER_ENCODING source)
{
    return text ? ZRGSConv(std::string(text), source) : std::string();
}

std::string ZRGSConv(const std::string& utf8, CHARACTER_ENCODING, CHARACTER_ENCODING target)
{
    std::string out;
    vantor::CFStringWrapper s(utf8, kCFStringEncodingUTF8, false);
    const CFStringEncoding to =
        target == ENC_WINDOWS_LATIN ? kCFStringEncodingWindowsLatin1 : kCFStringEncodingUTF8;
    return s.getBytes(out, to) ? out : kErrorFromUTF8;
}

std::string ZRGSConv(const std::wstring& text, CHARACTER_ENCODING, bool fallback)
{
    std::string out;
    vantor::CFStringWrapper s(text, kCFStringEncodingUTF32LE, fallback);
    return s.getBytes(out, kCFStringEncodingUTF8) ? out : kErrorFromWide;
}

std::string ZRGSConv(const std::u16string& text, CHARACTER_ENCODING)
{
    return ZRGSConvCrudeUTF16_TO_UTF8(text);
}

std::string ZRGSConvCrudeUTF16_TO_UTF8(const std::u16string& text)
{
    return crudeUTF16(text.data(), text.size());
}

std::string ZRGSConvCrudeUTF16_TO_UTF8(const char16_t* text)
{
    return text ? crudeUTF16(text, zeroTerminatedLength(text)) : std::string();
}

std::string ZRGSConvCrudeUTF16_TO_UTF8(const uint16_t* text)
{
    return text ? crudeUTF16(text, zeroTerminatedLength(text)) : std::string();
}

std::string ZRGSConvCrudeUTF16_IN_UINT32_TO_UTF8(const uint32_t* text)
{
    return text ? crudeUTF16(text, zeroTerminatedLength(text)) : std::string();
}
