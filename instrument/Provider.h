#pragma once
// Pull interfaces of the output chain: a resampling stage, and the renderer it pulls from.

#include <cstdint>

template <typename T>
class Provider
{
public:
    virtual ~Provider() = default;
    // Converts planar input to planar output. On entry the counts hold the input frames given and
    // the output room; on return the frames consumed and produced.
    virtual void process(T** input, T** output, uint64_t* inputFrames, uint64_t* outputFrames) = 0;
    // Input frames to ask for to make `outputFrames`; at least 1.
    virtual uint64_t inputFramesFor(uint64_t outputFrames) = 0;
    virtual void reset() = 0;
    virtual int64_t inputLatency() = 0;
    virtual int64_t outputLatency() = 0;
};

template <typename T>
class SRCSubRenderer
{
public:
    virtual ~SRCSubRenderer() = default;
    // Writes `frames` samples into each channel buffer.
    virtual void renderSubBlock(T** buffers, uint64_t frames) = 0;
};
