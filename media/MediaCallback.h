#pragma once
// What a playing media reader reports back: register writes and reads of its chips, chip renders
// up to a cycle, song and frame events. A chip kind names the chip (77-80: SID 1-4). Every
// operation but writeMediaRegister does nothing by default; the two reads answer 255.

#include <cstdint>
#include <vector>

struct SampleBank;

class MediaCallback
{
public:
    virtual void mediaStarted(const uint8_t* /*data*/, uint64_t /*size*/) {}
    virtual void releaseAllGates(uint32_t /*chipKind*/) {}
    virtual void channelKeyed(uint32_t /*chipKind*/) {}
    virtual void markChanged(uint32_t /*chipKind*/, uint32_t /*unused*/) {}
    virtual void addChip(uint32_t /*chipKind*/, uint32_t /*subtype*/, uint32_t /*eventRate*/) {}
    // delay: event ticks since the stream's previous event; rate: scheduler ticks per second.
    virtual void writeMediaRegister(uint32_t chipKind, uint64_t delay, uint32_t port, uint32_t reg,
                                    uint32_t value, double rate) = 0;
    virtual void writeDacSample(uint32_t /*chipKind*/, uint8_t /*format*/, int32_t /*left*/,
                                int32_t /*right*/)
    {
    }
    // Brings the chips up to the present cycle before a register access.
    virtual void renderChips(uint32_t /*chipKind*/, uint64_t /*cycles*/) {}
    virtual uint8_t readMediaRegister(uint32_t /*chipKind*/, uint64_t /*time*/, uint32_t /*port*/,
                                      uint32_t /*reg*/)
    {
        return 255;
    }
    virtual uint8_t readMediaPort() { return 255; }
    virtual void unusedMediaHook10() {}
    virtual void unusedMediaHook11() {}
    virtual void unusedMediaHook12() {}
    virtual void setDataBlocks(const std::vector<SampleBank>* /*banks*/) {}
    virtual void songSelected(uint64_t /*song*/) {}
    virtual void mediaChipCountChanged() {}
    virtual void captureRegisters(uint64_t /*time*/) {}
    virtual void mediaStopped() {}
    virtual void setMediaTime(double /*seconds*/) {}
    virtual void unusedMediaHook19() {}
    virtual void unusedMediaHook20() {}
    virtual void setDisplayText(const char* /*text*/) {}

protected:
    ~MediaCallback() = default;
};
