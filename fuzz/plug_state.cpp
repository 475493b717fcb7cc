// The processor's state reader over a memory stream: a taken state's chunk is the stream's own
// bytes at the place its form names, and nothing is allocated beyond what the stream holds.

#include "fuzz/FuzzSupport.h"
#include "vst3/plugprocessor.h"

#include <public.sdk/source/common/memorystream.h>

#include <cstdlib>
#include <cstring>

namespace {

fuzz::Bytes plain(uint32_t flag, const fuzz::Bytes& chunk)
{
    fuzz::Bytes b(8, 0);
    const auto n = uint32_t(chunk.size());
    for (int i = 0; i < 4; ++i)
        b[size_t(i)] = uint8_t(flag >> (8 * i)), b[size_t(4 + i)] = uint8_t(n >> (8 * i));
    b.insert(b.end(), chunk.begin(), chunk.end());
    return b;
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    const fuzz::Bytes chunk = {'C', 'h', 'n', 'k', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    seeds.add("plain", plain(1, chunk));
    fuzz::Bytes vstw(176, 0);
    std::memcpy(vstw.data(), "VstW", 4);
    vstw[12] = 1;
    std::memcpy(vstw.data() + 16, "CcnK", 4);
    vstw[31] = 1;
    vstw.insert(vstw.end(), chunk.begin(), chunk.end());
    seeds.add("vstw", vstw);
    fuzz::Bytes ccnk(160, 0);
    std::memcpy(ccnk.data(), "CcnK", 4);
    ccnk[159] = uint8_t(chunk.size());
    ccnk.insert(ccnk.end(), chunk.begin(), chunk.end());
    seeds.add("ccnk", ccnk);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Bytes bytes(data, data + size);
    Steinberg::MemoryStream stream(bytes.data(), Steinberg::TSize(size));
    vantor::PlugState state;
    if (!vantor::readPlugState(&stream, state))
        return 0;
    const size_t n = state.chunk.size();
    if (n == 0 || n > size)
        abort();
    // The chunk follows the head of its form: 8 bytes (plain), 160 ("CcnK", no flag) or 176
    // ("VstW", the chunk to the end).
    const auto at = [&](size_t offset) { return offset + n <= size && std::memcmp(state.chunk.data(), data + offset, n) == 0; };
    const bool placed = state.hasBypass ? at(8) || (size - n == 176 && at(176)) : at(160);
    if (!placed)
        abort();
    return 0;
}
