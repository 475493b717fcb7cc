#pragma once
// The canvas block (extension 35607) as a picture: the used width x height pixels looked up in
// the block's three palettes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantor::engine {

struct CanvasImage
{
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // width x height x 3, rows top to bottom
};

// False with a message when the block is shorter than a canvas block, has no size yet, or its size
// does not fit the pixel area.
bool readCanvasImage(const uint8_t* block, size_t size, CanvasImage& image, std::string& error);

// Binary PPM (P6), or PNG when the path ends in ".png". False with a message on failure.
bool writeCanvasImage(const CanvasImage& image, const std::string& path, std::string& error);

}  // namespace vantor::engine
