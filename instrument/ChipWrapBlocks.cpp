// The engine's shared blocks: the extension commands that register, format and read them back,
// and the notifications that write into them or call the host.
#include "instrument/ChipWrap.h"

#include "instrument/ChipController.h"
#include "instrument/CommandLock.h"
#include "instrument/ExtensionBlockFormats.h"
#include "platform/PlatformTools.h"
#include "platform/PlatformToolsDesktop.h"
#include "support/VirtualFile.h"
#include "synth/SynthBase.h"
#include "synth/SynthController.h"

#include <cstring>

namespace acme {

namespace {

using namespace ExtensionBlock;

constexpr size_t kDisplayInfoSize = 128;
constexpr size_t kDisplayInfoOffset = 4;  // after the version word
constexpr uint64_t kRangeItemOffset = 768;

enum ChangeKind : uint32_t { kSendValue = 0, kValueChanged = 1, kReread = 2 };
enum BlockNotice : intptr_t { kBlockChanged = 1, kParameterChanged = 2 };

}  // namespace

// ---------------------------------------------------------------------------------------------
// Extension commands

int32_t ChipWrap::handleExtensionCommand(ExtensionCommandRecord* record)
{
    if (!record)
        return -1;
    ExtensionCommandRecord r;
    std::memcpy(&r, record, sizeof r);  // packed: the pointer and the words may be unaligned
    auto* block = static_cast<uint8_t*>(r.block);
    if (!block)
        return -1;
    switch (readU32(block, kIdOffset)) {
    case PixelCanvasBlock::kId:
        return attachCanvasBlock(block, r.subCommand);
    case ParameterChangeBlock::kId:
        return takeParameterChangeBlock(block, r.subCommand);
    case RoutingTextBlock::kId:
        return takeRoutingTextBlock(block, r.subCommand);
    case StepTableBlock::kId: {
        if (!synthBase)
            return -1;
        const CommandLock lock(&mutex);
        if (r.subCommand == 0)
            formatStepTable(block);
        synthBase->addStepTableBlock(block, StepTableBlock::kSize, r.index);
        return 0;
    }
    case CurveBlock::kId: {
        if (!synthBase)
            return -1;
        const CommandLock lock(&mutex);
        synthBase->addCurveBlock(block, CurveBlock::kSize, r.index);
        changeFlags(block, kFlagHandled, 0);
        return 0;
    }
    case TextSlotBlock::kId:
        return takeTextSlotBlock(block, r.index, r.subCommand, r.extra);
    case SampleBlock::kId:
        return takeSampleBlock(block, r.subCommand);
    case FilePathBlock::kId:
        return takeFilePathBlock(block, r.index, r.subCommand);
    case kIgnoredId:
        return 0;
    default:
        return -1;
    }
}

int32_t ChipWrap::attachCanvasBlock(uint8_t* block, uint64_t subCommand)
{
    // No lock: the canvas is handed over before any media can draw into it.
    canvasBlock = block;
    if (subCommand == 1 || subCommand == 2)
        return 1;
    if (subCommand > 2)
        return 0;
    formatCanvas(block);
    canvas->listener = this;
    canvas->keepsOwnPalette = 0;
    canvas->red = block + PixelCanvasBlock::kRedOffset;
    canvas->green = block + PixelCanvasBlock::kGreenOffset;
    canvas->blue = block + PixelCanvasBlock::kBlueOffset;
    canvas->pixels = block + PixelCanvasBlock::kPixelsOffset;
    if (controller)
        controller->attachCanvas(canvas.get());
    writeCanvasSize(block, canvas->rows, canvas->columns);
    return 1;
}

int32_t ChipWrap::takeParameterChangeBlock(uint8_t* block, uint64_t subCommand)
{
    if (!synthBase)
        return -1;
    const CommandLock lock(&mutex);
    parameterChangeBlock = block;
    if (subCommand != 0)
        return 0;
    formatParameterChange(block);
    return 1;
}

int32_t ChipWrap::takeRoutingTextBlock(uint8_t* block, uint64_t subCommand)
{
    if (!synthBase)
        return -1;
    const CommandLock lock(&mutex);
    routingTextBlock = block;
    auto* parameters = static_cast<uint8_t*>(parameterChangeBlock);
    switch (subCommand) {
    case 0:
        formatRoutingText(block);
        synthBase->setModRoutingText("", readU32(block, kVersionOffset));
        notifyBlock(parameters);
        notifyBlock(block);
        return 1;
    case 1:
    case 2: {
        if (subCommand == 2 && parameters)
            clearParameterChanges(parameters);
        const std::string text = readRoutingText(block);
        synthBase->setModRoutingText(text.c_str(), readU32(block, kVersionOffset));
        if (subCommand == 2)
            markRoutingTextApplied(block, text.size());
        notifyBlock(parameters);
        return 1;
    }
    default:
        return 0;
    }
}

int32_t ChipWrap::takeTextSlotBlock(uint8_t* block, uint64_t key, uint64_t subCommand,
                                    uint32_t extra)
{
    const CommandLock lock(&mutex);
    void*& slot = textSlots[key];
    if (!slot) {
        slot = block;
        if (key == 0 || key == 2)
            changeFlags(block, kFlagTextSlot, 0);
    }
    if (subCommand == 1 || subCommand == 2) {
        if (controller && key == 2)
            controller->registerTextSlot(2, slot, subCommand, extra);
        if (controller && key == 0) {
            const std::string text = readSlotText(block);
            if (!text.empty())
                controller->receiveTextSlotInput(0, text.c_str());
        }
        return 1;
    }
    if (subCommand == 0) {
        formatTextSlot(static_cast<uint8_t*>(slot), key);
        return 1;
    }
    return 0;
}

int32_t ChipWrap::takeSampleBlock(uint8_t* block, uint64_t subCommand)
{
    if (!synthBase)
        return -1;
    const CommandLock lock(&mutex);
    if (subCommand == 0)
        formatSample(block);
    // The sample input reads the length and markers bounded to the block.
    if (subCommand <= 2 && synthController)
        synthController->setNoteTable(block);
    changeFlags(block, kFlagHandled, 0);
    return 0;
}

int32_t ChipWrap::takeFilePathBlock(uint8_t* block, uint64_t index, uint64_t subCommand)
{
    const CommandLock lock(&mutex);
    changeFlags(block, 0, kFlagTextSlot);
    if (index == FilePathBlock::kImageIndex) {
        imageBlock = block;
        return 0;
    }
    if (index > FilePathBlock::kImageIndex || subCommand != 1)
        return 0;
    const std::string path = readPath(block);
    if (path.empty() || !fileExists(path))
        return -1;
    if (!controller)
        return 0;
    bool opened = controller->loadMediaPath(index, path.c_str());
    if (!opened) {
        bool handled = false;
        opened = controller->tryOpenFile(int64_t(index), path.c_str(), &handled) != 0;
    }
    if (!opened) {
        heldMediaFile = std::make_unique<vantor::ZRGFile>(path);
        opened = controller->loadMedia(int64_t(index), heldMediaFile.get()) != 0;
    }
    if (opened)
        controller->setMediaParameter(ChipController::kPlay, 1.0);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Notifications

void ChipWrap::notifyBlock(void* block)
{
    if (block)
        callHost(kHostNotify, kBlockChanged, block);
}

void ChipWrap::notifyChange(uint32_t item, uint32_t changeKind, float value)
{
    const auto shortItem = uint16_t(item);
    auto* block = static_cast<uint8_t*>(parameterChangeBlock);
    switch (changeKind) {
    case kSendValue:
        queueControllerEvent(0, vantor::kEventControllerItem, int32_t(shortItem), value);
        break;
    case kValueChanged:
        if (block && storeChangedValue(block, shortItem, value))
            callHost(kHostNotify, kParameterChanged, block);
        break;
    case kReread:
        if (block)
            markForReread(block, shortItem);
        break;
    default:
        break;
    }
}

void ChipWrap::notifyRangeChanged(uint64_t /*unused*/, uint64_t first, uint64_t last)
{
    uint64_t range[2] = {first + kRangeItemOffset, last + kRangeItemOffset};
    callHost(kHostRangeChanged, 0, range);
}

void ChipWrap::notifyIdle() {}

void ChipWrap::setTextSlot(uint64_t key, const char* text)
{
    void* block = textSlots[key];  // the entry waits for the block of this key
    if (!block || !text)
        return;
    writeSlotText(static_cast<uint8_t*>(block), text);
    notifyBlock(block);
}

void ChipWrap::setTextSlot0(const char* text)
{
    setTextSlot(0, text);
}

void ChipWrap::setTextSlot1(const char* text)
{
    setTextSlot(1, text);
}

void ChipWrap::setModRoutingText(const char* text)
{
    auto* routing = static_cast<uint8_t*>(routingTextBlock);
    auto* parameters = static_cast<uint8_t*>(parameterChangeBlock);
    if (!synthBase || !routing || !parameters)
        return;
    clearParameterChanges(parameters);
    writeRoutingText(routing, text);
    // The stored text is terminated inside its area.
    synthBase->setModRoutingText(reinterpret_cast<const char*>(routing + RoutingTextBlock::kTextOffset),
                                 RoutingTextBlock::kVersionWord);
    notifyBlock(routing);
    notifyBlock(parameters);
}

void ChipWrap::publishImageFile(const uint8_t* bytes, uint64_t length)
{
    if (!imagePath.empty()) {
        PDeleteFile(imagePath);
        imagePath.clear();
    }
    auto* block = static_cast<uint8_t*>(imageBlock);
    if (!block)
        return;
    const std::string path = makeTempFileName(".png");
    if (path.size() >= FilePathBlock::kPathBytes)
        return;
    if (!binFileExternalize(path, bytes, bytes ? length : 0))
        return;
    writePath(block, path.c_str());
    notifyBlock(block);
    imagePath = path;
}

void ChipWrap::setDisplayInfo(const uint8_t* info)
{
    if (info)
        std::memcpy(displayRecord.get() + kDisplayInfoOffset, info, kDisplayInfoSize);
    callHost(kHostDisplayInfo, intptr_t(kDisplayRecordSize), displayRecord.get());
}

void ChipWrap::notifyHost(void* b, uint32_t low, uint32_t high)
{
    callHost(kHostNotify, intptr_t((uint64_t(high) << 32) | low), b);
}

void ChipWrap::callHostOpcode12(HostMidiOutRecord* record)
{
    sendHostMidi(record);
}

void ChipWrap::canvasChanged()
{
    notifyBlock(canvasBlock);
}

}  // namespace acme
