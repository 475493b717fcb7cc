#pragma once
// Internal: explicit instantiation lists of the renderer bodies, one set per nibble. The table
// refers to each body by its canonical index (WaveRenderEntries.h); a body missing here fails
// the link.

#include "sid/WaveRenderKernels.h"

#define WAVE_DIRECT(K)                                                                                  \
    template void wave_render::directWave<(K)>(SIDVoice&, uint32_t*, uint64_t, uint32_t*, uint32_t*, \
                                                uint8_t*);
#define WAVE_DIRECT_AND_ADVANCING(K)                                                                   \
    WAVE_DIRECT(K)                                                                                      \
    template void wave_render::directWaveAdvancingSource<(K)>(SIDVoice&, uint32_t*, uint64_t, uint32_t*, \
                                                               uint32_t*, uint8_t*);

// Without ring: free running, synced, and under test.
#define WAVE_DIRECT_PLAIN(K) WAVE_DIRECT_AND_ADVANCING(K) WAVE_DIRECT((K) + 640) WAVE_DIRECT_AND_ADVANCING((K) + 16)

// Nibbles 0, 4, 8, 12: delay changes nothing.
#define WAVE_DIRECT_NO_INDEX_NIBBLE(n) WAVE_DIRECT_PLAIN(n)

// Nibbles 2, 3, 6, 10, 11, 14 (7 and 15 share 6 and 14).
#define WAVE_DIRECT_SAW_NIBBLE(n) WAVE_DIRECT_PLAIN(n) WAVE_DIRECT_PLAIN((n) + 64)

// Nibble 6 with the saw+pulse quirk (test ignores the quirk).
#define WAVE_DIRECT_QUIRK_NIBBLE                                                                      \
    WAVE_DIRECT_AND_ADVANCING(38) WAVE_DIRECT(38 + 640) WAVE_DIRECT_AND_ADVANCING(38 + 64)            \
        WAVE_DIRECT(38 + 64 + 640)

// Nibbles 1, 5, 9, 13: ring without source, ring with source, ring and sync, each also under test.
#define WAVE_DIRECT_TRI_DELAY(K)                                                                      \
    WAVE_DIRECT_PLAIN(K)                                                                              \
    WAVE_DIRECT((K) + 256) WAVE_DIRECT((K) + 384) WAVE_DIRECT((K) + 896) WAVE_DIRECT((K) + 16 + 256) \
        WAVE_DIRECT((K) + 16 + 384)
#define WAVE_DIRECT_TRI_NIBBLE(n) WAVE_DIRECT_TRI_DELAY(n) WAVE_DIRECT_TRI_DELAY((n) + 64)

#define WAVE_BUFFERED(K) \
    template void wave_render::bufferedWave<(K)>(SIDVoice&, uint32_t*, uint64_t, const uint16_t*, const uint16_t*);
