#include "instrument/Repackager.h"

#include "support/SupportTools.h"

#include <algorithm>
#include <cstring>

namespace {

// One zero-filled block cut into per-channel slices, with its pointer array.
template <typename T>
T** allocPlanar(uint64_t channels, uint64_t frames)
{
    auto** pointers = static_cast<T**>(allocBuffer(channels * sizeof(T*)));
    T* block = static_cast<T*>(allocBuffer(channels * frames * sizeof(T)));
    if (!pointers || !block) {
        freeBuffer(pointers);
        freeBuffer(block);
        return nullptr;
    }
    for (uint64_t c = 0; c < channels; ++c)
        pointers[c] = block + c * frames;
    return pointers;
}

template <typename T>
void freePlanar(T** pointers)
{
    if (!pointers)
        return;
    freeBuffer(pointers[0]);
    freeBuffer(pointers);
}

}  // namespace

template <typename T>
Repackager<T>::~Repackager()
{
    release();
}

template <typename T>
void Repackager<T>::release()
{
    freePlanar(source);
    freePlanar(output);
    source = output = nullptr;
    channelCount = capacity = pending = 0;
}

template <typename T>
bool Repackager<T>::setup(uint64_t frames, uint64_t channels)
{
    release();
    if (frames == 0 || channels == 0 || channels > kMaxChannels ||
        frames > UINT64_MAX / (kMaxChannels * sizeof(T)))
        return false;
    source = allocPlanar<T>(channels, frames);
    output = allocPlanar<T>(channels, frames);
    if (!source || !output) {
        release();
        return false;
    }
    channelCount = channels;
    capacity = frames;
    return true;
}

template <typename T>
void Repackager<T>::pull(T** outputs, uint64_t frames)
{
    if (channelCount == 0)
        return;
    T* out[kMaxChannels];
    std::copy(outputs, outputs + channelCount, out);
    uint64_t wanted = frames;
    while (wanted > 0 && provider && renderer) {
        // Render behind the pending input, never past the buffers.
        const uint64_t m = std::min(provider->inputFramesFor(wanted), capacity - pending);
        if (m > 0) {
            T* at[kMaxChannels];
            for (uint64_t c = 0; c < channelCount; ++c)
                at[c] = source[c] + pending;
            renderer->renderSubBlock(at, m);
        }
        const uint64_t given = m + pending;
        const uint64_t room = std::min(wanted, capacity);
        uint64_t consumed = given, produced = room;
        provider->process(source, output, &consumed, &produced);
        consumed = std::min(consumed, given);
        produced = std::min(produced, room);

        pending = given - consumed;
        if (pending > 0 && consumed > 0)
            for (uint64_t c = 0; c < channelCount; ++c)
                std::memmove(source[c], source[c] + consumed, pending * sizeof(T));

        if (produced > 0) {
            for (uint64_t c = 0; c < channelCount; ++c) {
                std::memcpy(out[c], output[c], produced * sizeof(T));
                out[c] += produced;
            }
            wanted -= produced;
        } else if (m == 0 && consumed == 0) {
            break;  // buffers full of input the provider will not take
        }
    }
    for (uint64_t c = 0; c < channelCount && wanted > 0; ++c)
        std::fill(out[c], out[c] + wanted, T(0));  // no provider, or one that makes no progress
}

template class Repackager<float>;
