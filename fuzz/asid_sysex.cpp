// ASID SysEx input: the input, cut after every F7, is fed message by message to a receiver, as
// the SID instrument feeds it. Registers stay 0-24 with 8-bit values, the payload buffer within
// 64 bytes, and a message that failed calls nothing more.

#include "fuzz/FuzzSupport.h"
#include "media/Asid.h"

#include <cstdint>
#include <vector>

namespace {

class Checker : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t kind, uint64_t, uint32_t, uint32_t reg, uint32_t value, double) override
    {
        if (kind != 80 || reg > 24 || value > 0xFF)
            __builtin_trap();
        called();
    }
    void addChip(uint32_t, uint32_t, uint32_t) override { called(); }
    void releaseAllGates(uint32_t) override { called(); }
    void captureRegisters(uint64_t) override { called(); }
    void setDisplayText(const char* text) override
    {
        for (; *text; ++text)
            if (uint8_t(*text) >= 0x80)
                __builtin_trap();
        called();
    }
    void called()
    {
        if (receiver && receiver->getState() == ASIDReceiver::kError)
            __builtin_trap();
    }
    ASIDReceiver* receiver = nullptr;
};

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    fuzz::Bytes all;
    buildAsidStart(all);
    const uint8_t text[] = {'A', 'S', 'I', 'D'};
    buildAsidText(text, sizeof text, all);
    uint8_t image[25];
    for (uint8_t r = 0; r < 25; ++r)
        image[r] = uint8_t(r * 37);
    buildAsidRegisters(image, all);
    fuzz::Bytes one;
    for (uint8_t r = 0; r < 25; r += 6)
        buildAsidRegister(r, uint8_t(0x80 | r), one);
    all.insert(all.end(), one.begin(), one.end());
    buildAsidStop(all);
    seeds.add("session", all);
    seeds.add("registers", one);
    seeds.add("doubled", fuzz::Bytes{0xF0, 0x2D, 0x4E, 0, 0, 0, 0x7F, 0, 0, 0, 0x7F, 1, 2, 3, 4, 5, 6, 7, 0xF7});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Checker checker;
    ASIDReceiver receiver(&checker, 80);
    size_t begin = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0xF7 && i + 1 != size)
            continue;
        receiver.reset();
        checker.receiver = nullptr;
        for (size_t k = begin; k <= i; ++k) {
            const bool failed = receiver.getState() == ASIDReceiver::kError;
            checker.receiver = failed ? &receiver : nullptr;
            receiver.feed(data[k]);
            if (receiver.bufferedBytes() > 64 || receiver.bufferCapacity() > 64)
                __builtin_trap();
        }
        begin = i + 1;
    }
    return 0;
}
