#pragma once
// Text encodings: names, detection from a byte-order mark or the bytes themselves, and
// conversion to and from UTF-8.

#include <cstdint>
#include <string>

enum CHARACTER_ENCODING : uint32_t {
    ENC_UTF8 = 0,
    ENC_UTF16BE = 1,
    ENC_UTF16LE = 2,
    ENC_UTF32BE = 3,
    ENC_UTF32LE = 4,
    ENC_UTF7 = 5,
    ENC_UTF1 = 6,
    ENC_UTF_EBCDIC = 7,
    ENC_SCSU = 8,
    ENC_BOCU1 = 9,
    ENC_UNKNOWN_8BIT = 10,
    ENC_ASCII = 11,
    ENC_WINDOWS_LATIN = 12,  // code page 1252
    ENC_OEM = 13,
};

extern const char* const ZRGS_EncodingNames[16];

// The name at (encoding & 15).
const char* getCharEncodingName(CHARACTER_ENCODING encoding);

// Whether `data` (four readable bytes) starts with a byte-order mark; outputs untouched if not.
bool getCharEncodingFromBOM(const uint8_t* data, CHARACTER_ENCODING& encoding, uint32_t& markLength);
// The same for the first four bytes of a regular file; false when it has fewer.
bool getCharEncodingFromBOM(const std::string& path, CHARACTER_ENCODING& encoding, uint32_t& markLength);

// Guesses the encoding: a mark (five bytes or more), then ASCII, then UTF-8 when a byte from
// 0x80 up follows one from 0xC0 up, else code page 1252. Remarks are appended to `log`.
CHARACTER_ENCODING getCharEncodingFromData(const uint8_t* data, uint64_t count, uint32_t& markLength,
                                           std::string* log);

// From code page 1252 to UTF-8 (every other source: an unchanged copy).
std::string ZRGSConv(const std::string& text, CHARACTER_ENCODING source);
std::string ZRGSConv(const char* text, CHARACTER_ENCODING source);  // empty for null
// UTF-8 to code page 1252 (target 12) or to UTF-8 again (any other target); the source
// encoding is not used. "ZRGSConv_ERROR6a" for invalid UTF-8 or a character 1252 lacks.
std::string ZRGSConv(const std::string& utf8, CHARACTER_ENCODING source, CHARACTER_ENCODING target);
// Wide text (UTF-32 units, with the fallbacks of vantor::CFStringWrapper) to UTF-8, or
// "ZRGSConv_ERROR8".
std::string ZRGSConv(const std::wstring& text, CHARACTER_ENCODING encoding, bool fallback);
std::string ZRGSConv(const std::u16string& text, CHARACTER_ENCODING encoding);

// UTF-16 to UTF-8 by hand: pairs become 4-byte sequences, an unpaired surrogate its 3-byte form.
std::string ZRGSConvCrudeUTF16_TO_UTF8(const std::u16string& text);
std::string ZRGSConvCrudeUTF16_TO_UTF8(const char16_t* text);  // up to the zero unit; empty for null
std::string ZRGSConvCrudeUTF16_TO_UTF8(const uint16_t* text);
// Zero-terminated 32-bit units, each cut to its low 16 bits.
std::string ZRGSConvCrudeUTF16_IN_UINT32_TO_UTF8(const uint32_t* text);
