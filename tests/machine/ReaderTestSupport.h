#pragma once
// A tune reader on a recording media callback and a 384 x 272 canvas, opened on bytes in memory.

#include "machine/C64Emu.h"
#include "machine/PSIDReader.h"

#include "fixtures/c64/FakeMediaCallback.h"
#include "fixtures/c64/PsidBuilder.h"
#include "support/VirtualFile.h"

#include <memory>
#include <string>
#include <vector>

namespace reader_test {

using fixtures::Bytes;

struct ReaderRig {
    fixtures::FakeMediaCallback media;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(384 * 272);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), 272, 384, nullptr};
    SidAddressList sids = {0xD400, 0, 0};
    std::string dataFolder;
    Bytes bytes;  // the file, kept for the reader's whole life
    vantor::VirtualRAMFile file;
    std::unique_ptr<PSIDReader> reader;

    explicit ReaderRig(std::string folder = "") : dataFolder(std::move(folder))
    {
        reader = std::make_unique<PSIDReader>(&media, dataFolder, &canvas, false, &sids);
    }

    // `name` is the file's name as the reader sees it.
    bool open(Bytes content, const std::string& name = "")
    {
        bytes = std::move(content);
        file = vantor::VirtualRAMFile(bytes.data(), bytes.size());
        file.name = name;
        return reader->openMedia(&file);
    }

    C64Emu& machine() { return *reader->getMachine(); }
    uint32_t state() { return reader->getMachine() ? machine().getState() : ~0u; }
    const PSIDHeader& header() { return *reader->getHeader(); }
};

}  // namespace reader_test
