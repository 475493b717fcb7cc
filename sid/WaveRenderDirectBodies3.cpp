// Direct renderer bodies for nibbles 12-15.
#include "sid/WaveRenderInstances.h"

WAVE_DIRECT_NO_INDEX_NIBBLE(12)
WAVE_DIRECT_TRI_NIBBLE(13)
WAVE_DIRECT_SAW_NIBBLE(14)
