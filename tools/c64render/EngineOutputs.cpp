#include "EngineOutputs.h"

#include "abi/ExtensionBlocks.h"
#include "shims/engine/CanvasImage.h"

bool handFileToModule(vantor::engine::Instance& instance, const std::string& path, std::string& error)
{
    if (path.size() >= FilePathBlock::kPathBytes) {
        error = "cannot render " + path + ": the path is longer than " +
                std::to_string(FilePathBlock::kPathBytes - 1) + " bytes";
        return false;
    }
    const int32_t result = instance.openMediaFile(path, 0);
    if (result == -1) {
        error = "cannot render " + path + ": the module cannot open it";
        return false;
    }
    return true;
}

bool takeHostCalls(vantor::engine::Instance& instance, FILE* syx)
{
    bool ok = true;
    if (syx) {
        for (const vantor::engine::HostCall& call : instance.getHostCalls()) {
            if (call.op != kHostMidiOut || call.extra.empty())
                continue;
            ok = ok && std::fwrite(call.extra.data(), 1, call.extra.size(), syx) == call.extra.size();
        }
    }
    instance.clearHostCalls();
    return ok;
}

bool writeCanvasFile(const vantor::engine::Instance& instance, const std::string& path, std::string& error)
{
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    if (instance.getCanvasDumpCount() > 0) {
        bytes = instance.getCanvasDump().data();
        size = instance.getCanvasDump().size();
    } else if (const vantor::engine::SharedBlock* block = instance.findSharedBlock(PixelCanvasBlock::kId)) {
        bytes = block->bytes.get();
        size = block->size;
    }
    vantor::engine::CanvasImage image;
    std::string why;
    if (!vantor::engine::readCanvasImage(bytes, size, image, why) ||
        !vantor::engine::writeCanvasImage(image, path, why)) {
        error = "cannot write the canvas to " + path + ": " + why;
        return false;
    }
    return true;
}
