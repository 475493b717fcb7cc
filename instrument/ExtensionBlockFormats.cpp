#include "instrument/ExtensionBlockFormats.h"

#include "synth/AutomTables.h"

#include <algorithm>
#include <cmath>

namespace ExtensionBlock {

namespace {

// Zeroes the area and copies at most capacity - 1 bytes of the text.
size_t putText(uint8_t* block, size_t offset, size_t capacity, const char* text)
{
    std::fill(block + offset, block + offset + capacity, uint8_t(0));
    if (!text)
        return 0;
    const size_t n = strnlen(text, capacity - 1);
    std::memcpy(block + offset, text, n);
    return n;
}

}  // namespace

void changeFlags(uint8_t* block, uint32_t set, uint32_t clear)
{
    writeU32(block, kFlagsOffset, (readU32(block, kFlagsOffset) & ~clear) | set);
}

std::string readText(const uint8_t* block, size_t offset, size_t capacity)
{
    return std::string(reinterpret_cast<const char*>(block + offset),
                       boundedTextLength(block, offset, capacity));
}

std::string readRoutingText(const uint8_t* block)
{
    return readText(block, RoutingTextBlock::kTextOffset, RoutingTextBlock::kTextBytes);
}

std::string readSlotText(const uint8_t* block)
{
    return readText(block, TextSlotBlock::kTextOffset, TextSlotBlock::kTextBytes);
}

std::string readPath(const uint8_t* block)
{
    return readText(block, FilePathBlock::kPathOffset, FilePathBlock::kPathBytes);
}

void formatCanvas(uint8_t* block)
{
    std::fill(block + PixelCanvasBlock::kPixelsOffset,
              block + PixelCanvasBlock::kPixelsOffset + PixelCanvasBlock::kPixelBytes, uint8_t(0));
    writeU32(block, kIdOffset, PixelCanvasBlock::kId);
    writeU32(block, kSizeOffset, uint32_t(PixelCanvasBlock::kSize));
    writeU32(block, kFlagsOffset, 0);
}

void writeCanvasSize(uint8_t* block, uint64_t first, uint64_t second)
{
    writeU16(block, PixelCanvasBlock::kHeightOffset, uint16_t(first));
    writeU16(block, PixelCanvasBlock::kWidthOffset, uint16_t(second));
}

void formatParameterChange(uint8_t* block)
{
    writeU32(block, kSizeOffset, ParameterChangeBlock::kSizeWord);
    writeU32(block, kVersionOffset, ParameterChangeBlock::kVersionWord);
    clearParameterChanges(block);
}

void clearParameterChanges(uint8_t* block)
{
    std::fill(block + kHeaderSize, block + ParameterChangeBlock::kSize, uint8_t(0));
    writeU32(block, kFlagsOffset, ParameterChangeBlock::kFlagsWord);
}

bool storeChangedValue(uint8_t* block, uint16_t item, float value)
{
    if (item >= ParameterChangeBlock::kEntries)
        return false;
    const size_t at = ParameterChangeBlock::kValuesOffset + 4 * size_t(item);
    const float old = readF32(block, at);
    if (old == value)  // false for a NaN on either side
        return false;
    writeF32(block, at, value);
    return true;
}

void markForReread(uint8_t* block, uint16_t item)
{
    if (item >= ParameterChangeBlock::kEntries)
        return;
    writeF32(block, ParameterChangeBlock::kValuesOffset + 4 * size_t(item), ParameterChangeBlock::kReread);
    const uint32_t count = readU32(block, ParameterChangeBlock::kCountOffset);
    const uint32_t listed = std::min<uint32_t>(count, ParameterChangeBlock::kEntries);
    for (uint32_t i = 0; i < listed; ++i)
        if (readU16(block, ParameterChangeBlock::kListOffset + 2 * size_t(i)) == item)
            return;
    if (count >= ParameterChangeBlock::kEntries)
        return;
    writeU16(block, ParameterChangeBlock::kListOffset + 2 * size_t(count), item);
    writeU32(block, ParameterChangeBlock::kCountOffset, count + 1);
}

void formatRoutingText(uint8_t* block)
{
    writeU32(block, kSizeOffset, RoutingTextBlock::kFormattedSizeWord);
    writeU32(block, kVersionOffset, RoutingTextBlock::kVersionWord);
    putText(block, RoutingTextBlock::kTextOffset, RoutingTextBlock::kTextBytes, nullptr);
    writeU32(block, kFlagsOffset, RoutingTextBlock::kFormattedFlags);
}

size_t writeRoutingText(uint8_t* block, const char* text)
{
    changeFlags(block, kFlagWritten, 0);
    writeU32(block, kVersionOffset, RoutingTextBlock::kVersionWord);
    const size_t n = putText(block, RoutingTextBlock::kTextOffset, RoutingTextBlock::kTextBytes, text);
    changeFlags(block, kFlagWritten | kFlagTextSlot, 0);
    writeU32(block, kSizeOffset, uint32_t(kHeaderSize + n));
    return n;
}

void markRoutingTextApplied(uint8_t* block, size_t length)
{
    changeFlags(block, kFlagTextSlot, 0);
    writeU32(block, kSizeOffset, uint32_t(kHeaderSize + length));
}

void formatStepTable(uint8_t* block)
{
    ZRS::writeDefaultStepTable(block, StepTableBlock::kSize);
}

void formatTextSlot(uint8_t* block, uint64_t key)
{
    writeU32(block, kSizeOffset, TextSlotBlock::kSizeWord);
    writeU32(block, kVersionOffset, TextSlotBlock::kVersionWord);
    changeFlags(block, kFlagTextSlot, 0);
    putText(block, TextSlotBlock::kTextOffset, TextSlotBlock::kTextBytes, nullptr);
    if (key != 0 && key != 2)
        changeFlags(block, 0, kFlagTextSlot);
}

size_t writeSlotText(uint8_t* block, const char* text)
{
    return putText(block, TextSlotBlock::kTextOffset, TextSlotBlock::kTextBytes, text);
}

void formatSample(uint8_t* block)
{
    writeU32(block, kIdOffset, SampleBlock::kId);
    writeU32(block, kSizeOffset, SampleBlock::kSizeWord);
    changeFlags(block, kFlagHandled, kFlagResettable | kFlagHandled);
    writeU32(block, SampleBlock::kLengthOffset, 0);
    writeU32(block, SampleBlock::kWord30Offset, 0);
    std::fill(block + SampleBlock::kSamplesOffset, block + SampleBlock::kSize, uint8_t(0));
}

size_t writePath(uint8_t* block, const char* path)
{
    return putText(block, FilePathBlock::kPathOffset, FilePathBlock::kPathBytes, path);
}

}  // namespace ExtensionBlock
