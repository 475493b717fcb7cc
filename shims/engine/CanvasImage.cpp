#include "shims/engine/CanvasImage.h"

#include "abi/ExtensionBlocks.h"

#include <zlib.h>

#include <cstdio>
#include <memory>

namespace vantor::engine {

namespace {

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void putBig32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    putBig32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBig32(out, uint32_t(crc32(0L, out.data() + start, uInt(out.size() - start))));
}

// 8-bit RGB, no interlace, every row with filter 0.
bool encodePng(const CanvasImage& image, std::vector<uint8_t>& out)
{
    std::vector<uint8_t> raw;
    const size_t row = size_t(image.width) * 3;
    raw.reserve((row + 1) * image.height);
    for (uint32_t y = 0; y < image.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), image.rgb.begin() + y * row, image.rgb.begin() + (y + 1) * row);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_BEST_SPEED) != Z_OK)
        return false;
    packed.resize(packedSize);

    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.assign(kSignature, kSignature + 8);
    std::vector<uint8_t> header;
    putBig32(header, image.width);
    putBig32(header, image.height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // depth 8, RGB, deflate, filter 0, no interlace
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", packed);
    putChunk(out, "IEND", {});
    return true;
}

}  // namespace

bool readCanvasImage(const uint8_t* block, size_t size, CanvasImage& image, std::string& error)
{
    using ExtensionBlock::readU16;
    if (!block || size < PixelCanvasBlock::kSize) {
        error = "no canvas block";
        return false;
    }
    const uint32_t width = readU16(block, PixelCanvasBlock::kWidthOffset);
    const uint32_t height = readU16(block, PixelCanvasBlock::kHeightOffset);
    if (width == 0 || height == 0) {
        error = "the canvas has no size";
        return false;
    }
    if (size_t(width) * height > PixelCanvasBlock::kPixelBytes) {
        error = "the canvas size " + std::to_string(width) + "x" + std::to_string(height) +
                " does not fit its pixel area";
        return false;
    }
    image.width = width;
    image.height = height;
    image.rgb.resize(size_t(width) * height * 3);
    const uint8_t* pixels = block + PixelCanvasBlock::kPixelsOffset;
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        const uint8_t c = pixels[i];
        image.rgb[3 * i] = block[PixelCanvasBlock::kRedOffset + c];
        image.rgb[3 * i + 1] = block[PixelCanvasBlock::kGreenOffset + c];
        image.rgb[3 * i + 2] = block[PixelCanvasBlock::kBlueOffset + c];
    }
    return true;
}

bool writeCanvasImage(const CanvasImage& image, const std::string& path, std::string& error)
{
    std::vector<uint8_t> bytes;
    if (endsWith(path, ".png")) {
        if (!encodePng(image, bytes)) {
            error = "cannot compress the canvas";
            return false;
        }
    } else {
        const std::string header =
            "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
        bytes.assign(header.begin(), header.end());
        bytes.insert(bytes.end(), image.rgb.begin(), image.rgb.end());
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fclose(file.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace vantor::engine
