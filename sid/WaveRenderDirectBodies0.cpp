// Direct renderer bodies for nibbles 0-3.
#include "sid/WaveRenderInstances.h"

WAVE_DIRECT_NO_INDEX_NIBBLE(0)
WAVE_DIRECT_TRI_NIBBLE(1)
WAVE_DIRECT_SAW_NIBBLE(2)
WAVE_DIRECT_SAW_NIBBLE(3)
