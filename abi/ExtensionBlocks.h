#pragma once
// Layouts of the shared blocks that the engine allocates and hands to the module with dispatcher
// opcode 20 (`ExtensionCommandRecord`, ModuleABI.h). Both sides read and write them, so every
// offset below is binding. Blocks are little-endian and may be unaligned: fields are read and
// written through the helpers at the end, never through a cast.
//
// Every block starts with a 32-byte header: u32 id, u32 size or used length, u32 version or
// capacity, u32 flags, 16 bytes the module does not touch.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ExtensionBlock {

inline constexpr size_t kIdOffset = 0x00;
inline constexpr size_t kSizeOffset = 0x04;
inline constexpr size_t kVersionOffset = 0x08;
inline constexpr size_t kFlagsOffset = 0x0C;
inline constexpr size_t kHeaderSize = 0x20;

// Flag bits of the header word at +0x0C that the two sides use.
inline constexpr uint32_t kFlagResettable = 0x01;  // curve: the synth formats it
inline constexpr uint32_t kFlagWritten = 0x08;
inline constexpr uint32_t kFlagHandled = 0x10;
inline constexpr uint32_t kFlagTextSlot = 0x30;

// Accepted and ignored by the module (result 0).
inline constexpr uint32_t kIgnoredId = 20824;

inline uint16_t readU16(const uint8_t* block, size_t offset)
{
    uint16_t v;
    std::memcpy(&v, block + offset, sizeof v);
    return v;
}
inline uint32_t readU32(const uint8_t* block, size_t offset)
{
    uint32_t v;
    std::memcpy(&v, block + offset, sizeof v);
    return v;
}
inline float readF32(const uint8_t* block, size_t offset)
{
    float v;
    std::memcpy(&v, block + offset, sizeof v);
    return v;
}
inline void writeU16(uint8_t* block, size_t offset, uint16_t v)
{
    std::memcpy(block + offset, &v, sizeof v);
}
inline void writeU32(uint8_t* block, size_t offset, uint32_t v)
{
    std::memcpy(block + offset, &v, sizeof v);
}
inline void writeF32(uint8_t* block, size_t offset, float v)
{
    std::memcpy(block + offset, &v, sizeof v);
}

// Length of the zero-terminated text at `offset`, reading at most `capacity` bytes; a text
// without a terminator ends at the capacity.
inline size_t boundedTextLength(const uint8_t* block, size_t offset, size_t capacity)
{
    const void* end = std::memchr(block + offset, 0, capacity);
    return end ? size_t(static_cast<const uint8_t*>(end) - (block + offset)) : capacity;
}

}  // namespace ExtensionBlock

// 35607: the screen. The controller chooses the size; pixels are colour indices into the three
// 256-entry palettes.
struct PixelCanvasBlock
{
    static constexpr uint32_t kId = 35607;
    static constexpr size_t kSize = 308012;
    static constexpr size_t kWidthOffset = 0x28;   // u16, the descriptor's second dimension
    static constexpr size_t kHeightOffset = 0x2A;  // u16, the descriptor's first dimension
    static constexpr size_t kRedOffset = 0x2C;
    static constexpr size_t kGreenOffset = 0x12C;
    static constexpr size_t kBlueOffset = 0x22C;
    static constexpr size_t kPaletteSize = 256;
    static constexpr size_t kPixelsOffset = 0x32C;
    static constexpr size_t kPixelBytes = 307200;
};
static_assert(PixelCanvasBlock::kPixelsOffset + PixelCanvasBlock::kPixelBytes == PixelCanvasBlock::kSize);

// 12497: values the module reports and items the engine must re-read.
struct ParameterChangeBlock
{
    static constexpr uint32_t kId = 12497;
    static constexpr size_t kSize = 12324;
    static constexpr size_t kPayloadSize = kSize - ExtensionBlock::kHeaderSize;  // 12292
    static constexpr size_t kEntries = 2048;
    static constexpr size_t kListOffset = 0x20;     // u16[2048] items to re-read
    static constexpr size_t kValuesOffset = 0x1020;  // f32[2048] by item index
    static constexpr size_t kCountOffset = 0x3020;   // u32 entries in the list
    static constexpr uint32_t kSizeWord = 32768;
    static constexpr uint32_t kVersionWord = 1000;
    static constexpr uint32_t kFlagsWord = 8;
    static constexpr float kReread = 8388608.0f;  // value-table marker: re-read the item
};
static_assert(ParameterChangeBlock::kListOffset + 2 * ParameterChangeBlock::kEntries ==
              ParameterChangeBlock::kValuesOffset);
static_assert(ParameterChangeBlock::kValuesOffset + 4 * ParameterChangeBlock::kEntries ==
              ParameterChangeBlock::kCountOffset);
static_assert(ParameterChangeBlock::kCountOffset + 4 == ParameterChangeBlock::kSize);

// 12499: the synth's modulation-routing text.
struct RoutingTextBlock
{
    static constexpr uint32_t kId = 12499;
    static constexpr size_t kSize = 32288;
    static constexpr size_t kTextOffset = 0x20;
    static constexpr size_t kTextBytes = 32256;  // at most 32255 characters and the terminator
    static constexpr uint32_t kFormattedSizeWord = 32768;
    static constexpr uint32_t kVersionWord = 2068;
    static constexpr uint32_t kFormattedFlags = 0x38;
};
static_assert(RoutingTextBlock::kTextOffset + RoutingTextBlock::kTextBytes == RoutingTextBlock::kSize);

// 22362: one step table of the synth's modulators.
struct StepTableBlock
{
    static constexpr uint32_t kId = 22362;
    static constexpr size_t kSize = 16448;
    static constexpr size_t kStepsOffset = 0x40;
    static constexpr size_t kSteps = 16384;
};
static_assert(StepTableBlock::kStepsOffset + StepTableBlock::kSteps == StepTableBlock::kSize);

// 50789: one envelope curve, formatted by the synth while flag kFlagResettable is set.
struct CurveBlock
{
    static constexpr uint32_t kId = 50789;
    static constexpr size_t kSize = 4132;
};

// 32391: text exchanged under a key (0, 1, 2).
struct TextSlotBlock
{
    static constexpr uint32_t kId = 32391;
    static constexpr size_t kSize = 32288;
    static constexpr size_t kTextOffset = 0x20;
    static constexpr size_t kTextBytes = 32256;
    static constexpr uint32_t kSizeWord = 32288;
    static constexpr uint32_t kVersionWord = 1818;
};
static_assert(TextSlotBlock::kTextOffset + TextSlotBlock::kTextBytes == TextSlotBlock::kSize);

// 47731: the sampled sound of the layer-3 sample players.
struct SampleBlock
{
    static constexpr uint32_t kId = 47731;
    static constexpr size_t kSize = 524288;
    static constexpr size_t kLengthOffset = 0x20;     // u32 samples
    static constexpr size_t kRateOffset = 0x24;       // u32 Hz
    static constexpr size_t kWord30Offset = 0x30;
    static constexpr size_t kPositionsOffset = 0x40;  // u32[128] marker positions
    static constexpr size_t kKindsOffset = 0x240;     // u8[128] marker kinds
    static constexpr size_t kSamplesOffset = 0x2C0;   // s16 samples to the end
    static constexpr size_t kSlots = 128;
    static constexpr uint32_t kMaxSamples = uint32_t((kSize - kSamplesOffset) / 2);  // 261792
    static constexpr uint32_t kSizeWord = 32;
    static constexpr uint8_t kStartMarker = 1;
    static constexpr uint8_t kEndMarker = 2;
    static constexpr uint8_t kNoteMarker = 5;
};
static_assert(SampleBlock::kPositionsOffset + 4 * SampleBlock::kSlots == SampleBlock::kKindsOffset);
static_assert(SampleBlock::kKindsOffset + SampleBlock::kSlots == SampleBlock::kSamplesOffset);
static_assert(SampleBlock::kMaxSamples == 261792);

// 61715: a file path; index 0 and 1 name media to open, index 2 is where image files go.
struct FilePathBlock
{
    static constexpr uint32_t kId = 61715;
    static constexpr size_t kMinSize = 1056;
    static constexpr size_t kPathOffset = 0x220;
    static constexpr size_t kPathBytes = 512;  // at most 511 characters and the terminator
    static constexpr uint64_t kImageIndex = 2;
};
static_assert(FilePathBlock::kPathOffset + FilePathBlock::kPathBytes == FilePathBlock::kMinSize);

// The size the module may use of a block of this id; 0 for an id that names no block.
inline size_t extensionBlockSize(uint32_t id)
{
    switch (id) {
    case PixelCanvasBlock::kId:
        return PixelCanvasBlock::kSize;
    case ParameterChangeBlock::kId:
        return ParameterChangeBlock::kSize;
    case RoutingTextBlock::kId:
        return RoutingTextBlock::kSize;
    case StepTableBlock::kId:
        return StepTableBlock::kSize;
    case CurveBlock::kId:
        return CurveBlock::kSize;
    case TextSlotBlock::kId:
        return TextSlotBlock::kSize;
    case SampleBlock::kId:
        return SampleBlock::kSize;
    case FilePathBlock::kId:
        return FilePathBlock::kMinSize;
    default:
        return 0;
    }
}
