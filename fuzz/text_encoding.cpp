// Text encodings: detection from the bytes and from a file's mark, and every conversion, fed
// the bytes as 8-, 16- and 32-bit text.

#include "fuzz/FuzzSupport.h"
#include "platform/ZRGSConv.h"

#include <cstring>
#include <vector>

void fuzzSeeds(fuzz::Seeds& seeds)
{
    seeds.add("ascii", std::string("plain text\r\nsecond line"));
    seeds.add("utf8-mark", std::string("\xEF\xBB\xBF\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80 text"));
    seeds.add("utf16le-mark", std::string("\xFF\xFE" "a\0b\0\x3D\xD8\x00\xDE", 10));
    seeds.add("utf16be-mark", std::string("\xFE\xFF\0a\xD8\x3D\xDE\x00\xDC\x00", 10));
    seeds.add("utf32le-mark", std::string("\xFF\xFE\0\0a\0\0\0", 8));
    seeds.add("latin1", std::string("caf\xE9 \x80 \x9F"));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint32_t mark = 0;
    std::string log;
    getCharEncodingFromData(data, size, mark, &log);
    CHARACTER_ENCODING fromMark = ENC_UTF8;
    if (size >= 4)
        getCharEncodingFromBOM(data, fromMark, mark);
    getCharEncodingFromBOM(fuzz::writeScratch("text.txt", data, size), fromMark, mark);

    const std::string text(reinterpret_cast<const char*>(data), size);
    for (uint32_t e = 0; e < 16; ++e) {
        const auto encoding = CHARACTER_ENCODING(e);
        getCharEncodingName(encoding);
        ZRGSConv(text, encoding);
        ZRGSConv(text.c_str(), encoding);
        ZRGSConv(text, encoding, ENC_WINDOWS_LATIN);
    }
    ZRGSConv(text, ENC_UTF8, ENC_UTF8);

    std::u16string units(size / 2, u'\0');
    memcpy(units.data(), data, units.size() * 2);
    ZRGSConv(units, ENC_UTF16LE);
    ZRGSConvCrudeUTF16_TO_UTF8(units);
    ZRGSConvCrudeUTF16_TO_UTF8(units.c_str());
    ZRGSConvCrudeUTF16_TO_UTF8(reinterpret_cast<const uint16_t*>(units.c_str()));

    std::wstring wide(size / 4, L'\0');
    memcpy(wide.data(), data, wide.size() * 4);
    for (const bool fallback : {false, true})
        ZRGSConv(wide, ENC_UTF32LE, fallback);
    std::vector<uint32_t> codes(size / 4 + 1, 0);
    memcpy(codes.data(), data, size / 4 * 4);
    ZRGSConvCrudeUTF16_IN_UINT32_TO_UTF8(codes.data());
    return 0;
}
