// The stand-in engine's shared blocks: the handover after init, the sample and file-path blocks on
// request, what op 8 reports about them, and saving and restoring an instance.

#include "abi/ExtensionBlocks.h"
#include "shims/engine/Engine.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

namespace vantor::engine {

namespace {

using ExtensionBlock::readF32;
using ExtensionBlock::readU16;
using ExtensionBlock::readU32;
using ExtensionBlock::writeU16;
using ExtensionBlock::writeU32;

struct PlannedBlock
{
    uint32_t id;
    uint64_t index;
    size_t size;
    uint32_t flags;
};

constexpr size_t kStartStepTables = 15;
constexpr size_t kStartCurves = 15;

// Handed over after init, in this order. The parameter-change block goes first: sub-command 0 of
// the routing text reports it. The step tables and envelope curves go before the routing text,
// whose rows find only the tables the module already has.
std::vector<PlannedBlock> startBlocks()
{
    std::vector<PlannedBlock> plan = {{ParameterChangeBlock::kId, 0, ParameterChangeBlock::kSize, 0}};
    for (uint64_t i = 0; i < kStartStepTables; ++i)
        plan.push_back({StepTableBlock::kId, i, StepTableBlock::kSize, 0});
    for (uint64_t i = 0; i < kStartCurves; ++i)
        plan.push_back({CurveBlock::kId, i, CurveBlock::kSize, ExtensionBlock::kFlagResettable});
    plan.insert(plan.end(), {
        {RoutingTextBlock::kId, 0, RoutingTextBlock::kSize, 0},
        {TextSlotBlock::kId, 0, TextSlotBlock::kSize, 0},
        {TextSlotBlock::kId, 1, TextSlotBlock::kSize, 0},
        {TextSlotBlock::kId, 2, TextSlotBlock::kSize, 0},
        {FilePathBlock::kId, FilePathBlock::kImageIndex, FilePathBlock::kMinSize, 0},
        {PixelCanvasBlock::kId, 0, PixelCanvasBlock::kSize, 0},
    });
    return plan;
}

// Where blocks with this id go in the plan; ids it lacks go last.
size_t planRank(const std::vector<PlannedBlock>& plan, uint32_t id)
{
    for (size_t i = 0; i < plan.size(); ++i)
        if (plan[i].id == id)
            return i;
    return plan.size();
}

std::string blockText(const SharedBlock& block, size_t offset, size_t capacity)
{
    if (block.size <= offset)
        return {};
    capacity = std::min(capacity, block.size - offset);
    const size_t n = ExtensionBlock::boundedTextLength(block.bytes.get(), offset, capacity);
    return std::string(reinterpret_cast<const char*>(block.bytes.get() + offset), n);
}

// One log line per call: quotes, backslashes and control characters escaped.
std::string escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (uint8_t(c) < 0x20) {
            out += '?';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

SharedBlock& Instance::addSharedBlock(uint32_t id, uint64_t index, size_t size)
{
    auto block = std::make_unique<SharedBlock>();
    block->id = id;
    block->index = index;
    block->size = std::max(size, ExtensionBlock::kHeaderSize);
    block->bytes = std::make_unique<uint8_t[]>(block->size);  // zeroed
    writeU32(block->bytes.get(), ExtensionBlock::kIdOffset, id);
    sharedBlocks.push_back(std::move(block));
    return *sharedBlocks.back();
}

SharedBlock* Instance::findSharedBlock(uint32_t id, uint64_t index) const
{
    for (const auto& block : sharedBlocks)
        if (block->id == id && block->index == index)
            return block.get();
    return nullptr;
}

SharedBlock* Instance::sharedBlockAt(const void* address) const
{
    for (const auto& block : sharedBlocks)
        if (block->bytes.get() == address)
            return block.get();
    return nullptr;
}

int32_t Instance::sendExtension(SharedBlock& block, uint64_t subCommand, uint32_t extra)
{
    ExtensionCommandRecord record;
    record.block = block.bytes.get();
    record.index = block.index;
    record.subCommand = subCommand;
    record.extra = extra;
    uint32_t result = 0;
    dispatch(kOpExtensionCommand, reinterpret_cast<intptr_t>(&record), &result);
    block.result = int32_t(result);
    if (block.id == ParameterChangeBlock::kId)
        takeParameterTable(block);
    if (log)
        std::fprintf(log, "extension %" PRIu32 " index=%" PRIu64 " sub=%" PRIu64 " result=%" PRId32 "\n",
                     block.id, block.index, subCommand, block.result);
    return block.result;
}

void Instance::handOverBlocks(const EngineState* saved)
{
    const std::vector<PlannedBlock> plan = startBlocks();
    if (saved) {
        // In the plan's order, whatever order the state lists them in.
        std::vector<const EngineState::Block*> order;
        for (const EngineState::Block& s : saved->blocks)
            order.push_back(&s);
        std::stable_sort(order.begin(), order.end(), [&](const auto* x, const auto* y) {
            return planRank(plan, x->id) < planRank(plan, y->id);
        });
        for (const EngineState::Block* b : order) {
            const EngineState::Block& s = *b;
            const size_t size = extensionBlockSize(s.id);
            if (size == 0 || findSharedBlock(s.id, s.index))
                continue;
            SharedBlock& block = addSharedBlock(s.id, s.index, std::max(size, s.bytes.size()));
            std::copy(s.bytes.begin(), s.bytes.end(), block.bytes.get());
            writeU32(block.bytes.get(), ExtensionBlock::kIdOffset, s.id);
            if (block.id == ParameterChangeBlock::kId)
                takeParameterTable(block);
            sendExtension(block, block.id == PixelCanvasBlock::kId ? 0 : 1);
        }
    }
    for (const PlannedBlock& p : plan) {
        if (findSharedBlock(p.id, p.index))
            continue;
        SharedBlock& block = addSharedBlock(p.id, p.index, p.size);
        if (p.flags)
            writeU32(block.bytes.get(), ExtensionBlock::kFlagsOffset, p.flags);
        sendExtension(block, 0);
    }
}

int32_t Instance::handOverSample(const SampleData& sample)
{
    SharedBlock* block = findSharedBlock(SampleBlock::kId, 0);
    if (!block)
        block = &addSharedBlock(SampleBlock::kId, 0, SampleBlock::kSize);
    sendExtension(*block, 0);

    uint8_t* p = block->bytes.get();
    const uint32_t length = uint32_t(std::min<size_t>(sample.samples.size(), SampleBlock::kMaxSamples));
    writeU32(p, SampleBlock::kLengthOffset, length);
    writeU32(p, SampleBlock::kRateOffset, sample.rate);
    std::fill(p + SampleBlock::kPositionsOffset, p + SampleBlock::kSamplesOffset, uint8_t(0));
    const size_t markers = std::min(sample.markers.size(), SampleBlock::kSlots);
    for (size_t i = 0; i < markers; ++i) {
        writeU32(p, SampleBlock::kPositionsOffset + 4 * i, sample.markers[i].position);
        p[SampleBlock::kKindsOffset + i] = sample.markers[i].kind;
    }
    for (uint32_t i = 0; i < length; ++i)
        writeU16(p, SampleBlock::kSamplesOffset + 2 * size_t(i), uint16_t(sample.samples[i]));
    return sendExtension(*block, 1);
}

int32_t Instance::openMediaFile(const std::string& path, uint64_t index)
{
    if (index > 1 || path.size() >= FilePathBlock::kPathBytes || path.find('\0') != std::string::npos)
        return -1;
    SharedBlock* block = findSharedBlock(FilePathBlock::kId, index);
    if (!block)
        block = &addSharedBlock(FilePathBlock::kId, index, FilePathBlock::kMinSize);
    uint8_t* text = block->bytes.get() + FilePathBlock::kPathOffset;
    std::fill(text, text + FilePathBlock::kPathBytes, uint8_t(0));
    std::copy(path.begin(), path.end(), text);
    return sendExtension(*block, 1);
}

void Instance::onBlockNotified(SharedBlock& block, intptr_t a, HostCall& call)
{
    call.blockId = block.id;
    call.blockIndex = block.index;
    const uint8_t* p = block.bytes.get();
    call.payload.assign(p, p + std::min(block.size, ExtensionBlock::kHeaderSize));
    if (a == 2) {
        if (block.id == ParameterChangeBlock::kId)
            readParameterChanges(block, &call);
        return;
    }
    if (a != 1)
        return;
    switch (block.id) {
    case PixelCanvasBlock::kId:
        canvasDump.assign(p, p + block.size);
        ++canvasDumpCount;
        break;
    case TextSlotBlock::kId:
        call.text = blockText(block, TextSlotBlock::kTextOffset, TextSlotBlock::kTextBytes);
        textSlots[block.index] = call.text;
        break;
    case RoutingTextBlock::kId:
        call.text = blockText(block, RoutingTextBlock::kTextOffset, RoutingTextBlock::kTextBytes);
        routingText = call.text;
        break;
    case FilePathBlock::kId:
        call.text = blockText(block, FilePathBlock::kPathOffset, FilePathBlock::kPathBytes);
        if (block.index == FilePathBlock::kImageIndex)
            imagePath = call.text;
        break;
    case ParameterChangeBlock::kId:
        // The module re-formatted the table: it reports no values, only a new starting point.
        takeParameterTable(block);
        readParameterChanges(block, &call);
        break;
    default:
        break;
    }
}

// Values that changed since the engine last looked go into its value table (the re-read marker
// excepted); the listed items are taken and the list emptied.
void Instance::readParameterChanges(SharedBlock& block, HostCall* call)
{
    uint8_t* p = block.bytes.get();
    const uint32_t count =
        std::min<uint32_t>(readU32(p, ParameterChangeBlock::kCountOffset), ParameterChangeBlock::kEntries);
    for (uint32_t i = 0; call && i < count; ++i)
        call->items.push_back(readU16(p, ParameterChangeBlock::kListOffset + 2 * size_t(i)));
    for (size_t item = 0; item < ParameterChangeBlock::kEntries; ++item) {
        const float v = readF32(p, ParameterChangeBlock::kValuesOffset + 4 * item);
        if (std::memcmp(&v, &parameterTable[item], sizeof v) == 0)
            continue;
        parameterTable[item] = v;
        if (item < kControllerItems && v != ParameterChangeBlock::kReread)
            itemValues[item] = v;
    }
    writeU32(p, ParameterChangeBlock::kCountOffset, 0);
}

void Instance::takeParameterTable(const SharedBlock& block)
{
    for (size_t item = 0; item < ParameterChangeBlock::kEntries; ++item)
        parameterTable[item] = readF32(block.bytes.get(), ParameterChangeBlock::kValuesOffset + 4 * item);
}

void Instance::logBlockCall(const HostCall& call)
{
    std::fprintf(log, " block=%" PRIu32 " index=%" PRIu64, call.blockId, call.blockIndex);
    if (call.blockId == PixelCanvasBlock::kId && canvasDump.size() >= PixelCanvasBlock::kPixelsOffset)
        std::fprintf(log, " canvas=%ux%u", unsigned(readU16(canvasDump.data(), PixelCanvasBlock::kWidthOffset)),
                     unsigned(readU16(canvasDump.data(), PixelCanvasBlock::kHeightOffset)));
    if (!call.text.empty())
        std::fprintf(log, " text=\"%s\"", escaped(call.text).c_str());
    for (const uint16_t item : call.items)
        std::fprintf(log, " reread=%u", unsigned(item));
}

EngineState Instance::saveState() const
{
    EngineState state;
    state.values = itemValues;
    for (const auto& block : sharedBlocks)
        state.blocks.push_back({block->id, block->index,
                                std::vector<uint8_t>(block->bytes.get(), block->bytes.get() + block->size)});
    return state;
}

bool Instance::restoreState(const EngineState& state, std::string& error)
{
    if (started) {
        error = "instance already started";
        return false;
    }
    restoring = &state;
    const bool ok = start(error);
    restoring = nullptr;
    if (!ok)
        return false;

    std::vector<vantor::HDMIDIEvent> events;
    for (size_t item = 0; item < kControllerItems; ++item) {
        if (item >= kMediaItemFirst && item < kMediaItemEnd)
            continue;
        vantor::HDMIDIEvent e;
        e.kind = kEventControllerItem;
        e.index = int32_t(item);
        e.value = state.values[item];
        events.push_back(e);
        itemValues[item] = state.values[item];
    }
    if (process(0, std::move(events)) < 0) {
        error = "the module refused the restored values";
        return false;
    }
    return true;
}

}  // namespace vantor::engine
