#pragma once
// Asked by a sub-controller whether a voice of a chip still sounds.

#include <cstdint>

class ChanActivityQuerier
{
public:
    // `sub` is the asking sub-controller's place in its chip.
    virtual bool isChannelActive(uint64_t voice, uint64_t chip, uint64_t sub) = 0;

protected:
    ~ChanActivityQuerier() = default;
};
