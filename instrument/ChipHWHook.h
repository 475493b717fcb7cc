#pragma once
// Output of register data to external hardware. The thread part is never started: every
// operation runs in its caller.

#include "support/Threads.h"

#include <cstdint>

class ChipHWHook : public vantor::ThreadDetached
{
public:
    ChipHWHook(bool roundRobin, const char* name) : vantor::ThreadDetached(roundRobin, name) {}
    ~ChipHWHook() override = default;

    virtual void flush() = 0;
    virtual void writeRegister(uint8_t reg, uint8_t value, uint8_t status, uint64_t extra) = 0;
    virtual void sendSysEx(const uint8_t* bytes, uint64_t length) = 0;
    virtual uint8_t readRegister() = 0;
    virtual void setPort(uint32_t port) = 0;
    // Messages not yet sent.
    virtual void getPendingCount(uint32_t* count) = 0;
};
