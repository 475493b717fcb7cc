#pragma once
// Error lines met on the audio thread. There they are only counted, in a fixed record (no
// allocation, no lock, no I/O); flush, on any other thread, writes one "E:" line per kind that
// came up, with " (N times)" appended when it came up more than once, and clears the counts.

#include <atomic>
#include <cstdint>

namespace vantor {

class AudioLog
{
public:
    enum Kind : uint32_t {
        kTooManyEvents,  // "Too many events!"
        kEngineError,    // "engine error:" + the last status
        kKinds,
    };

    void count(Kind kind, int32_t status = 0)
    {
        if (kind == kEngineError)
            lastStatus.store(status, std::memory_order_relaxed);
        counts[kind].fetch_add(1, std::memory_order_release);
    }
    void flush();

private:
    std::atomic<uint32_t> counts[kKinds] = {};
    std::atomic<int32_t> lastStatus{0};
};

}  // namespace vantor
