// The drive in the machine: built on the bus with the image, ticked with the machine, answering
// ATN on CIA2 port A.
#include "C64TestSupport.h"
#include "DriveRig.h"

#include "machine/C1541.h"

#include <gtest/gtest.h>

namespace {

using namespace c64_test;

TEST(C64Drive, BuiltOnTheBusWithTheImage)
{
    const Bytes image = drive_rig::standardImage();
    const auto disk = drive_rig::openD64(image);
    C64Rig rig("", false, disk.get());
    C64Emu& m = *rig.machine;
    ASSERT_NE(m.getDrive(), nullptr);
    EXPECT_EQ(m.getDrive()->tag(), "1541");
    EXPECT_EQ(m.getDrive()->deviceNumber, 8u);
    EXPECT_EQ(m.getDrive()->iecBus(), m.getIecHost());
    EXPECT_EQ(m.getIecHost()->deviceCount(), 1u);

    // A second build replaces the drive and its bus.
    ASSERT_TRUE(m.buildMachine(&rig.canvas));
    EXPECT_EQ(m.getIecHost()->deviceCount(), 1u);
    EXPECT_EQ(m.getDrive()->iecBus(), m.getIecHost());

    ASSERT_TRUE(m.buildMachine(&rig.canvas, nullptr, false));
    EXPECT_EQ(m.getDrive(), nullptr);
    EXPECT_EQ(m.getIecHost()->deviceCount(), 0u);
}

TEST(C64Drive, AtnOnPortAIsAnsweredOnDataIn)
{
    // Stepped one cycle at a time: DATA in (port A bit 7) reads 0 exactly 50 cycles after the
    // write that pulls ATN.
    C64Rig rig;
    C64Emu& m = *rig.machine;
    m.writeMemory(0xDD02, 0x3F);
    m.writeMemory(0xDD00, 0x03);
    EXPECT_EQ(m.readMemory(0xDD00) & 0xC0, 0xC0);  // CLK and DATA released
    m.writeMemory(0xDD00, 0x03 | 0x08);
    EXPECT_EQ(m.getIecHost()->getIecLine(IEC_ATN), 0);
    uint64_t answered = 0;
    for (uint64_t t = 1; t <= 60 && !answered; ++t) {
        m.tick(1);
        if (!(m.readMemory(0xDD00) & 0x80))
            answered = t;
    }
    EXPECT_EQ(answered, 50u);
}

TEST(C64Drive, AtnFromTheCpuIsAnsweredWithinSixtyCycles)
{
    // The CPU pulls ATN and polls DATA in: each round of the loop is 9 cycles (INX 2, BIT 4,
    // BMI 3), so an answer within 60 cycles ends it after 7 rounds at most.
    const Bytes code = {
        0x78,              // 1000 SEI
        0xA9, 0x3F,        // 1001 LDA #$3F
        0x8D, 0x02, 0xDD,  // 1003 STA $DD02
        0xA9, 0x0B,        // 1006 LDA #$0B      ATN pulled
        0xA2, 0x00,        // 1008 LDX #0
        0x8D, 0x00, 0xDD,  // 100A STA $DD00
        0xE8,              // 100D INX
        0x2C, 0x00, 0xDD,  // 100E BIT $DD00
        0x30, 0xFA,        // 1011 BMI $100D
        0x8E, 0x00, 0x20,  // 1013 STX $2000
        0x4C, 0x16, 0x10,  // 1016 JMP $1016
    };
    C64Rig rig;
    ASSERT_TRUE(rig.install(fixtures::PsidBuilder().rsid().load(0x1000).init(0x1000).code(code)));
    rig.run(2000);
    EXPECT_GE(rig.peek(0x2000), 5);  // not before 50 cycles
    EXPECT_LE(rig.peek(0x2000), 7);
}

}  // namespace
