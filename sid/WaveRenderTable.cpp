// The two renderer tables, filled at build time. Bodies are instantiated in WaveRender*Bodies*.cpp.

#include <cassert>
#include <utility>

#include "sid/SIDVoice.h"
#include "sid/WaveRender.h"
#include "sid/WaveRenderEntries.h"

namespace wave_render {

void emptyWave(SIDVoice&, uint32_t*, uint64_t, uint32_t*, uint32_t*, uint8_t*) {}

namespace {

template <unsigned Index>
constexpr WaveRenderFn directEntry()
{
    constexpr DirectSlot slot = directSlot(Index);
    if constexpr (slot.kind == DirectSlot::Empty)
        return &emptyWave;
    else if constexpr (slot.kind == DirectSlot::Body)
        return &directWave<slot.key>;
    else
        return &directWaveAdvancingSource<slot.key>;
}

template <std::size_t... I>
constexpr std::array<WaveRenderFn, sizeof...(I)> makeDirectTable(std::index_sequence<I...>)
{
    return {directEntry<I>()...};
}

template <std::size_t... I>
constexpr std::array<BufferedWaveRenderFn, sizeof...(I)> makeBufferedTable(std::index_sequence<I...>)
{
    return {&bufferedWave<bufferedKey(I)>...};
}

}  // namespace
}  // namespace wave_render

constinit const std::array<WaveRenderFn, kWaveRenderTableSize> kWaveRenderTable =
    wave_render::makeDirectTable(std::make_index_sequence<kWaveRenderTableSize>{});

constinit const std::array<BufferedWaveRenderFn, kWaveRenderBufferedTableSize> kWaveRenderBufferedTable =
    wave_render::makeBufferedTable(std::make_index_sequence<kWaveRenderBufferedTableSize>{});

WaveRenderFn waveRendererAt(int32_t nibble, uint32_t test, uint32_t quirk, uint32_t delayed, uint32_t source,
                            uint32_t ring, uint8_t sync)
{
    assert(nibble >= 0 && nibble < 16 && test <= 1 && quirk <= 1 && delayed <= 1 && source <= 1 && ring <= 1 &&
           sync <= 1);
    const int64_t index = int64_t(nibble) + 16 * int64_t(test) + 32 * int64_t(quirk) + 64 * int64_t(delayed) +
                          128 * int64_t(source) + 256 * int64_t(ring) + 512 * int64_t(sync);
    assert(index >= 0 && index < int64_t(kWaveRenderTableSize));
    return kWaveRenderTable[std::size_t(index)];
}

BufferedWaveRenderFn bufferedWaveRendererAt(int32_t nibble, int32_t test, int32_t delayed, int32_t ring)
{
    assert(nibble >= 0 && nibble < 16 && test >= 0 && test <= 1 && delayed >= 0 && delayed <= 1 && ring >= 0 &&
           ring <= 1);
    const int64_t index = int64_t(nibble) + 16 * int64_t(test) + 32 * int64_t(delayed) + 64 * int64_t(ring);
    assert(index >= 0 && index < int64_t(kWaveRenderBufferedTableSize));
    return kWaveRenderBufferedTable[std::size_t(index)];
}
