// The stand-in engine's side of the plug-in's calls: blocks with the caller's buffers, events and
// transport, audio settings that change after the start, and state reloaded into a running
// instance.

#include "abi/ExtensionBlocks.h"
#include "shims/engine/Engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantor::engine {

namespace {

void takeItemValue(const vantor::HDMIDIEvent& e, std::array<float, kControllerItems>& values)
{
    if (e.kind == kEventControllerItem && e.index >= 0 && uint64_t(e.index) < kControllerItems)
        values[size_t(e.index)] = e.value;
}

}  // namespace

int64_t Instance::processInto(uint32_t frames, const vantor::HDMIDIEvent* engineEvents, uint32_t engineCount,
                              const vantor::HDMIDIEvent* events, uint32_t count,
                              const vantor::SyncInfo* hostTransport, float* const* outputs,
                              uint32_t outputCount, bool render)
{
    if (!started || frames > config.blockSize || uint64_t(engineCount) + count > kMaxModuleEvents ||
        (engineCount && !engineEvents) || (count && !events)) {
        for (uint32_t c = 0; outputs && c < outputCount; ++c)
            if (outputs[c])
                std::fill_n(outputs[c], frames, 0.0f);
        return -1;
    }
    if (engineCount)
        std::memcpy(incomingBlock->events, engineEvents, engineCount * sizeof(vantor::HDMIDIEvent));
    if (count)
        std::memcpy(incomingBlock->events + engineCount, events, count * sizeof(vantor::HDMIDIEvent));
    const uint64_t n = uint64_t(engineCount) + count;
    incomingBlock->count = n;
    outgoingBlock->count = 0;
    for (uint64_t i = 0; i < n; ++i)
        takeItemValue(incomingBlock->events[i], itemValues);

    if (hostTransport)
        transport = *hostTransport;
    else
        transport.setDefaults();
    if (!(transport.tempo > 0.0) || !std::isfinite(transport.tempo))
        transport.tempo = 120.0;
    if (!std::isfinite(transport.ppqPosition))
        transport.ppqPosition = 0.0;
    if (!std::isfinite(transport.barStart))
        transport.barStart = 0.0;

    for (uint32_t c = 0; c < channelCount; ++c)
        std::fill_n(buffers[c].data(), frames, 0.0f);
    if (render) {
        quietHostCalls = true;
        entry->process(entry, channelPointers, int32_t(frames), incomingBlock.get(), outgoingBlock.get(),
                       &transport);
        quietHostCalls = false;
    }
    const uint64_t back = std::min<uint64_t>(outgoingBlock->count, kMaxModuleEvents);
    for (uint64_t i = 0; i < back; ++i)
        takeItemValue(outgoingBlock->events[i], itemValues);

    // A mono instrument: its channel 0 on every output.
    for (uint32_t c = 0; outputs && c < outputCount; ++c)
        if (outputs[c])
            std::memcpy(outputs[c], buffers[0].data(), size_t(frames) * sizeof(float));
    framesProcessed += frames;
    return int64_t(n);
}

void Instance::onQuietHostCall(int32_t op, intptr_t a, void* b)
{
    if (op == kHostNoteFrequency) {
        const double answer = config.a4 * std::exp2((double(int32_t(a)) - 69.0) / 12.0);
        if (b)
            std::memcpy(b, &answer, sizeof answer);
    } else if (op == kHostNotify && b && (a == 1 || a == 2)) {
        SharedBlock* block = sharedBlockAt(b);
        if (block && block->id == ParameterChangeBlock::kId)
            readParameterChanges(*block, nullptr);
    }
}

bool Instance::setAudioSettings(double sampleRate, uint32_t blockSize)
{
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate) || blockSize == 0 || blockSize > kMaxBlockSize)
        return false;
    if (started && sampleRate == config.sampleRate && blockSize == config.blockSize)
        return true;
    config.sampleRate = sampleRate;
    config.blockSize = blockSize;
    if (!started)
        return true;
    for (uint32_t c = 0; c < channelCount; ++c) {
        buffers[c].assign(blockSize, 0.0f);
        channelPointers[c] = buffers[c].data();
    }
    sendAudioSettings();
    return true;
}

bool Instance::reloadBlocks(const EngineState& state)
{
    if (!started)
        return false;
    // Everything is checked before anything changes.
    std::vector<std::pair<const EngineState::Block*, SharedBlock*>> order;
    std::vector<const EngineState::Block*> added;
    for (const EngineState::Block& s : state.blocks) {
        const size_t size = extensionBlockSize(s.id);
        SharedBlock* block = findSharedBlock(s.id, s.index);
        if (size == 0 || (block ? s.bytes.size() != block->size : s.bytes.size() < size))
            return false;
        if (!block)
            added.push_back(&s);
    }
    for (const auto& block : sharedBlocks)
        for (const EngineState::Block& s : state.blocks)
            if (s.id == block->id && s.index == block->index)
                order.emplace_back(&s, block.get());
    for (const EngineState::Block* s : added)
        order.emplace_back(s, &addSharedBlock(s->id, s->index, s->bytes.size()));

    for (auto& [saved, block] : order) {
        std::copy(saved->bytes.begin(), saved->bytes.end(), block->bytes.get());
        ExtensionBlock::writeU32(block->bytes.get(), ExtensionBlock::kIdOffset, block->id);
        if (block->id == ParameterChangeBlock::kId)
            takeParameterTable(*block);
        sendExtension(*block, 1);
    }
    return true;
}

}  // namespace vantor::engine
