#pragma once
// Re-blocks a resampling stage to exactly the frames the caller asks for: renders source frames
// behind the input the provider left unconsumed, resamples, and copies out. Buffers are sized
// once by `setup`; a pull never needs more.

#include "instrument/Provider.h"

#include <cstdint>

template <typename T>
class Repackager
{
public:
    static constexpr uint64_t kMaxChannels = 16;

    Repackager() = default;
    virtual ~Repackager();
    Repackager(const Repackager&) = delete;
    Repackager& operator=(const Repackager&) = delete;

    // Zero-filled planar buffers of `capacity` frames per channel; drops pending input. False
    // (and no buffers) for 0 frames, 0 or more than 16 channels, or when memory runs out.
    bool setup(uint64_t capacity, uint64_t channels);

    void setProvider(Provider<T>* p) { provider = p; }
    void setRenderer(SRCSubRenderer<T>* r) { renderer = r; }
    // Forgets input that the provider has not consumed yet.
    void clearPending() { pending = 0; }

    // Writes exactly `frames` frames into each of the channel pointers. Each render is cut so that
    // pending plus rendered frames fit the buffers. When the provider makes no progress at all,
    // the rest of the pull is zero-filled.
    void pull(T** outputs, uint64_t frames);

    uint64_t getCapacity() const { return capacity; }
    uint64_t getChannelCount() const { return channelCount; }
    uint64_t getPendingFrames() const { return pending; }

private:
    void release();

    uint64_t channelCount = 0;
    T** source = nullptr;  // chip-rate input; pending frames at the front
    T** output = nullptr;  // provider output at the host rate
    uint64_t capacity = 0;
    uint64_t pending = 0;
    Provider<T>* provider = nullptr;
    SRCSubRenderer<T>* renderer = nullptr;
};

extern template class Repackager<float>;
