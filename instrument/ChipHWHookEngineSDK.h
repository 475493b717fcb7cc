#pragma once
// Hardware output through the host engine: every message becomes a MIDI output record handed at
// once, on the calling thread, to the host's opcode 12. Records live only for the call.

#include "instrument/ChipHWHook.h"

#include <cstdint>

class ChipControllerListener;

class ChipHWHookEngineSDK : public ChipHWHook
{
public:
    explicit ChipHWHookEngineSDK(ChipControllerListener* listener);

    void* run() override { return nullptr; }
    void flush() override {}
    // A short message: status, register, value, 0.
    void writeRegister(uint8_t reg, uint8_t value, uint8_t status, uint64_t extra) override;
    void sendSysEx(const uint8_t* bytes, uint64_t length) override;
    uint8_t readRegister() override { return 255; }
    void setPort(uint32_t newPort) override { port = newPort; }
    void getPendingCount(uint32_t* count) override
    {
        if (count)
            *count = 0;
    }
    uint32_t getPort() const { return port; }

private:
    ChipControllerListener* listener;
    uint32_t port = 0;
};
