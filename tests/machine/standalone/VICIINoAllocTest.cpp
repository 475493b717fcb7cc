// Stepping the video chip allocates nothing, with sprites, collisions and frame flushes included.
#include "../VICIIRig.h"

#include "fixtures/AllocationCounter.h"

namespace {

TEST(VICIINoAllocation, Frames)
{
    vicii_test::VicRig rig;
    for (uint32_t a = 0; a < 0x10000; ++a)
        rig.ram[a] = uint8_t(a * 13);
    rig.vic->setBank(2);
    rig.vic->writeRegister(0x11, 0x3B);
    rig.vic->writeRegister(0x16, 0x18);
    rig.vic->writeRegister(0x15, 0xFF);
    rig.vic->writeRegister(0x1A, 0x0F);
    for (uint32_t n = 0; n < 8; ++n) {
        rig.vic->writeRegister(2 * n, uint8_t(30 + 20 * n));
        rig.vic->writeRegister(2 * n + 1, uint8_t(60 + 5 * n));
    }
    rig.runFrames(1);
    const long before = fixtures::allocationCount();
    rig.vic->run(3 * vicii_test::kPalFrame);
    for (uint32_t i = 0; i < 1000; ++i)
        rig.vic->step();
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_GE(rig.canvasCounter.changes, 3);
}

}  // namespace
