#include "shims/engine/EngineChunk.h"

#include "abi/ExtensionBlocks.h"

#include <cmath>
#include <cstring>
#include <set>
#include <utility>

namespace vantor::engine {

namespace {

constexpr char kMagic[4] = {'C', 'E', 'N', 'G'};
constexpr size_t kHeaderBytes = 4 + 4 + kControllerItems * 4 + 4;
constexpr size_t kBlockHeaderBytes = 4 + 8 + 4;

// Little-endian words at a cursor.
void putLE(uint8_t*& p, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        *p++ = uint8_t(v >> (8 * i));
}

uint64_t getLE(const uint8_t* p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

bool sizeFits(uint32_t id, uint64_t size)
{
    const size_t expected = extensionBlockSize(id);
    if (expected == 0)
        return false;
    if (id == FilePathBlock::kId)
        return size >= expected && size <= kMaxFilePathBlockSize;
    return size == expected;
}

}  // namespace

std::vector<uint8_t> encodeEngineChunk(const EngineState& state)
{
    size_t total = kHeaderBytes;
    for (const EngineState::Block& b : state.blocks)
        total += kBlockHeaderBytes + b.bytes.size();
    std::vector<uint8_t> out(total);
    uint8_t* p = out.data();
    std::memcpy(p, kMagic, 4);
    p += 4;
    putLE(p, kChunkVersion, 4);
    for (const float v : state.values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        putLE(p, bits, 4);
    }
    putLE(p, state.blocks.size(), 4);
    for (const EngineState::Block& b : state.blocks) {
        putLE(p, b.id, 4);
        putLE(p, b.index, 8);
        putLE(p, b.bytes.size(), 4);
        if (!b.bytes.empty())
            std::memcpy(p, b.bytes.data(), b.bytes.size());
        p += b.bytes.size();
    }
    return out;
}

bool decodeEngineChunk(const uint8_t* data, size_t length, EngineState& state)
{
    if (!data || length < kHeaderBytes || std::memcmp(data, kMagic, 4) != 0 ||
        getLE(data + 4, 4) != kChunkVersion)
        return false;
    EngineState decoded;
    const uint8_t* p = data + 8;
    for (float& v : decoded.values) {
        const uint32_t bits = uint32_t(getLE(p, 4));
        std::memcpy(&v, &bits, 4);
        if (!std::isfinite(v))
            return false;
        p += 4;
    }
    const uint64_t count = getLE(p, 4);
    p += 4;
    if (count > kMaxChunkBlocks)
        return false;
    size_t left = length - kHeaderBytes;
    std::set<std::pair<uint32_t, uint64_t>> seen;
    for (uint64_t i = 0; i < count; ++i) {
        if (left < kBlockHeaderBytes)
            return false;
        const uint32_t id = uint32_t(getLE(p, 4));
        const uint64_t index = getLE(p + 4, 8);
        const uint64_t size = getLE(p + 12, 4);
        p += kBlockHeaderBytes;
        left -= kBlockHeaderBytes;
        if (size > left || !sizeFits(id, size) || !seen.emplace(id, index).second)
            return false;
        decoded.blocks.push_back({id, index, std::vector<uint8_t>(p, p + size)});
        p += size;
        left -= size;
    }
    if (left != 0)
        return false;
    state = std::move(decoded);
    return true;
}

}  // namespace vantor::engine
