// Direct renderer bodies for nibbles 4-7.
#include "sid/WaveRenderInstances.h"

WAVE_DIRECT_NO_INDEX_NIBBLE(4)
WAVE_DIRECT_TRI_NIBBLE(5)
WAVE_DIRECT_SAW_NIBBLE(6)
WAVE_DIRECT_QUIRK_NIBBLE
