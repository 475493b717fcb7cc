// The engine's state chunk as opcode 19 reads it: a chunk that is taken must write back to the
// same bytes, and one that is refused must leave the state as it was.

#include "fuzz/FuzzSupport.h"
#include "shims/engine/EngineChunk.h"

#include "abi/ExtensionBlocks.h"

#include <cstdlib>
#include <cstring>

namespace {

using vantor::engine::EngineState;

EngineState sampleState(bool withBlocks)
{
    EngineState state;
    for (size_t i = 0; i < state.values.size(); ++i)
        state.values[i] = float(i % 17) / 16.0f;
    if (withBlocks) {
        EngineState::Block steps{StepTableBlock::kId, 3, std::vector<uint8_t>(StepTableBlock::kSize, 0)};
        for (size_t i = 0; i < 64; ++i)
            steps.bytes[StepTableBlock::kStepsOffset + i] = uint8_t(i * 3 + 1);
        state.blocks.push_back(std::move(steps));
        EngineState::Block path{FilePathBlock::kId, 1, std::vector<uint8_t>(FilePathBlock::kMinSize, 0)};
        std::memcpy(path.bytes.data() + FilePathBlock::kPathOffset, "/tmp/tune.sid", 13);
        state.blocks.push_back(std::move(path));
        state.blocks.push_back({TextSlotBlock::kId, 0, std::vector<uint8_t>(TextSlotBlock::kSize, 'x')});
    }
    return state;
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    seeds.add("values", vantor::engine::encodeEngineChunk(sampleState(false)));
    seeds.add("blocks", vantor::engine::encodeEngineChunk(sampleState(true)));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const EngineState kBefore = sampleState(true);
    EngineState state = kBefore;
    if (!vantor::engine::decodeEngineChunk(data, size, state)) {
        // Refused: untouched.
        if (state.values != kBefore.values || state.blocks.size() != kBefore.blocks.size())
            abort();
        return 0;
    }
    const std::vector<uint8_t> again = vantor::engine::encodeEngineChunk(state);
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0)
        abort();
    return 0;
}
