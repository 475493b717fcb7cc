#pragma once
// The engine's state chunk (opcodes 18 and 19): "CENG", u32 version 1, the 1792 item values as
// f32, u32 block count, then per block u32 id, u64 index, u32 size and its bytes; little-endian.

#include "shims/engine/Engine.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor::engine {

inline constexpr uint32_t kChunkVersion = 1;
inline constexpr uint32_t kMaxChunkBlocks = 1024;
inline constexpr size_t kMaxFilePathBlockSize = 65536;

std::vector<uint8_t> encodeEngineChunk(const EngineState& state);
// False, `state` untouched, unless every length, id and value checks out: the header, the
// count, each block's size against what is left and against its kind (known ids only, each id
// and index once), finite values, and no bytes left over.
bool decodeEngineChunk(const uint8_t* data, size_t length, EngineState& state);

}  // namespace vantor::engine
