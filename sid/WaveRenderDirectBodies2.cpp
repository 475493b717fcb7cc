// Direct renderer bodies for nibbles 8-11.
#include "sid/WaveRenderInstances.h"

WAVE_DIRECT_NO_INDEX_NIBBLE(8)
WAVE_DIRECT_TRI_NIBBLE(9)
WAVE_DIRECT_SAW_NIBBLE(10)
WAVE_DIRECT_SAW_NIBBLE(11)
