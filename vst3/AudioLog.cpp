#include "vst3/AudioLog.h"

#include "platform/ConsoleLogger.h"

#include <string>

namespace vantor {

void AudioLog::flush()
{
    for (uint32_t kind = 0; kind < kKinds; ++kind) {
        const uint32_t n = counts[kind].exchange(0, std::memory_order_acquire);
        if (n == 0)
            continue;
        std::string line = kind == kTooManyEvents
            ? std::string("Too many events!")
            : "engine error:" + std::to_string(lastStatus.load(std::memory_order_relaxed));
        if (n > 1)
            line += " (" + std::to_string(n) + " times)";
        logError(line);
    }
}

}  // namespace vantor
