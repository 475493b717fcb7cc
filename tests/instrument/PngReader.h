#pragma once
// Reads an 8-bit RGB or RGBA PNG file for checks on rendered pictures: signature, chunk CRCs,
// IHDR, the zlib stream of the IDAT chunks and the five row filters.

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace png {

struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // width x height x 3

    const uint8_t* pixel(uint32_t row, uint32_t column) const { return rgb.data() + 3 * (size_t(row) * width + column); }
};

// False with the reason when the file is not such a PNG.
inline bool decode(const std::string& file, Image& image, std::string& why)
{
    auto be32 = [&file](size_t at) {
        return uint32_t(uint8_t(file[at])) << 24 | uint32_t(uint8_t(file[at + 1])) << 16 |
               uint32_t(uint8_t(file[at + 2])) << 8 | uint8_t(file[at + 3]);
    };
    if (file.compare(0, 8, std::string("\x89PNG\r\n\x1A\n", 8)) != 0) {
        why = "no PNG signature";
        return false;
    }
    std::string idat;
    uint32_t channels = 0;
    bool ended = false;
    for (size_t at = 8; !ended;) {
        if (at + 12 > file.size()) {
            why = "truncated chunk";
            return false;
        }
        const uint32_t length = be32(at);
        if (at + 12 + length > file.size()) {
            why = "chunk past the end";
            return false;
        }
        const std::string type = file.substr(at + 4, 4);
        const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(file.data() + at + 4), uInt(length + 4));
        if (crc != be32(at + 8 + length)) {
            why = "bad CRC in " + type;
            return false;
        }
        const size_t data = at + 8;
        if (type == "IHDR") {
            image.width = be32(data);
            image.height = be32(data + 4);
            const uint8_t depth = uint8_t(file[data + 8]), colour = uint8_t(file[data + 9]);
            if (depth != 8 || (colour != 2 && colour != 6) || file[data + 12] != 0) {
                why = "not 8-bit RGB(A) without interlace";
                return false;
            }
            channels = colour == 2 ? 3 : 4;
        } else if (type == "IDAT") {
            idat.append(file, data, length);
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    if (channels == 0) {
        why = "no IHDR";
        return false;
    }
    const size_t stride = size_t(image.width) * channels;
    std::vector<uint8_t> raw((stride + 1) * image.height);
    uLongf rawSize = uLongf(raw.size());
    if (uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(idat.data()), uLong(idat.size())) != Z_OK ||
        rawSize != raw.size()) {
        why = "bad image data";
        return false;
    }
    std::vector<uint8_t> previous(stride, 0), line(stride);
    image.rgb.clear();
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* in = raw.data() + y * (stride + 1);
        for (size_t x = 0; x < stride; ++x) {
            const int a = x >= channels ? line[x - channels] : 0, b = previous[x];
            const int c = x >= channels ? previous[x - channels] : 0;
            int p = 0;
            switch (in[0]) {
            case 0: break;
            case 1: p = a; break;
            case 2: p = b; break;
            case 3: p = (a + b) / 2; break;
            case 4: {
                const int e = a + b - c, pa = std::abs(e - a), pb = std::abs(e - b), pc = std::abs(e - c);
                p = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                break;
            }
            default: why = "bad row filter"; return false;
            }
            line[x] = uint8_t(in[1 + x] + p);
        }
        for (uint32_t x = 0; x < image.width; ++x)
            image.rgb.insert(image.rgb.end(), line.begin() + long(x * channels), line.begin() + long(x * channels + 3));
        previous = line;
    }
    return true;
}

}  // namespace png
