// Keyboard matrix, joysticks and MIDI as the CIA1 ports read them, and the time-of-day clocks
// driven from the cycles run.
#include "C64TestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace c64_test;

struct InputRig : C64Rig {
    InputRig() { EXPECT_TRUE(machine->bootMachine()); }

    mos6526_new& cia1() { return *machine->getCia1(); }

    // Port B with port-A line `row` driven low, as a KERNAL key scan reads it.
    uint8_t scanRow(int row)
    {
        cia1().writeRegister(2, 0xFF);
        cia1().writeRegister(0, uint8_t(~(1u << row)));
        cia1().writeRegister(3, 0x00);
        return cia1().readRegister(1);
    }
    // Port A with nothing driven: joystick 2.
    uint8_t joystick2()
    {
        cia1().writeRegister(2, 0x00);
        cia1().writeRegister(3, 0x00);
        return cia1().readRegister(0);
    }
};

TEST(C64Input, NoteOnPressesItsKey)
{
    InputRig rig;
    rig.machine->sendMidiInput(0x90, 0, 100, 1);  // note 0: key $0104
    EXPECT_EQ(rig.scanRow(1), 0xFB);
    EXPECT_EQ(rig.scanRow(0), 0xFF);
    rig.machine->sendMidiInput(0x80, 0, 0, 1);
    EXPECT_EQ(rig.scanRow(1), 0xFF);
    rig.machine->sendMidiInput(0x90, 0, 100, 1);
    rig.machine->sendMidiInput(0x90, 0, 0, 1);  // velocity 0 releases too
    EXPECT_EQ(rig.scanRow(1), 0xFF);

    // Notes 60 and 24 share key $0710.
    rig.machine->sendMidiInput(0x90, 60, 1, 1);
    EXPECT_EQ(rig.scanRow(7), 0xEF);
    rig.machine->sendMidiInput(0x80, 24, 0, 1);
    EXPECT_EQ(rig.scanRow(7), 0xFF);

    // The other tables: note 0 is $0702 in table 2, nothing in table 3.
    rig.machine->sendMidiInput(0x90, 0, 1, 2);
    EXPECT_EQ(rig.scanRow(7), 0xFD);
    rig.machine->sendMidiInput(0x80, 0, 0, 2);
    rig.machine->sendMidiInput(0x90, 0, 1, 3);
    for (int row = 0; row < 8; ++row)
        EXPECT_EQ(rig.scanRow(row), 0xFF) << row;
}

TEST(C64Input, KeyRowsAreReadBothWays)
{
    InputRig rig;
    rig.machine->pressKey(0x0420);  // row 4, column 5
    EXPECT_EQ(rig.scanRow(4), 0xDF);
    // Driving port-B line 5 low shows row 4 on port A.
    mos6526_new& cia = rig.cia1();
    cia.writeRegister(2, 0x00);
    cia.writeRegister(3, 0xFF);
    cia.writeRegister(1, 0xDF);
    EXPECT_EQ(cia.readRegister(0), 0xEF);
    cia.writeRegister(1, 0xFF);
    EXPECT_EQ(cia.readRegister(0), 0xFF);
    rig.machine->releaseKey(0x0420);
    EXPECT_EQ(rig.scanRow(4), 0xFF);
}

TEST(C64Input, ControllersSteerJoystickTwo)
{
    struct Case {
        uint8_t status, data1, data2;
        uint8_t portA;
    };
    const Case cases[] = {
        {0xB0, 1, 127, 0xFD},  // CC1 up: down
        {0xB0, 1, 0, 0xFE},    // CC1 down: up
        {0xE0, 0, 127, 0xF7},  // pitch bend up: right
        {0xE0, 0, 0, 0xFB},    // pitch bend down: left
        {0xC0, 0, 1, 0xEF},    // program change with data 2 = 1: fire
        {0xB0, 7, 1, 0xEF},    // any other controller: fire
    };
    for (const Case& c : cases) {
        InputRig rig;
        ASSERT_EQ(rig.joystick2(), 0xFF);
        rig.machine->sendMidiInput(c.status, c.data1, c.data2, 1);
        EXPECT_EQ(rig.joystick2(), c.portA) << std::hex << int(c.status) << " " << int(c.data2);
        rig.machine->sendMidiInput(c.status, c.data1, c.status == 0xB0 && c.data1 != 1 ? 0 : 64, 1);
        EXPECT_EQ(rig.joystick2(), 0xFF) << "centred again";
    }
    // Mapping 0 ignores everything.
    InputRig rig;
    rig.machine->sendMidiInput(0x90, 0, 100, 0);
    rig.machine->sendMidiInput(0xB0, 1, 127, 0);
    EXPECT_EQ(rig.joystick2(), 0xFF);
    EXPECT_EQ(rig.scanRow(1), 0xFF);
}

TEST(C64Input, JoystickEvents)
{
    InputRig rig;
    rig.machine->inputEvent(3, 0x11, 0x00);  // port 2: up and fire
    EXPECT_EQ(rig.joystick2(), 0xEE);
    rig.machine->inputEvent(1, 0x00, 0x01);  // up released
    EXPECT_EQ(rig.joystick2(), 0xEF);
    rig.machine->inputEvent(0, 0x04, 0x00);  // port 1: left, read on port B
    EXPECT_EQ(rig.scanRow(0) & 0x1F, 0x1B);
}

TEST(C64Input, TimeOfDayFollowsTheCyclesRun)
{
    InputRig rig;
    mos6526_new& cia = rig.cia1();
    cia.writeRegister(14, 0x80);  // 50 Hz input
    cia.writeRegister(11, 0x01);  // 1:00:00.0 AM, started by the tenths write
    cia.writeRegister(10, 0x00);
    cia.writeRegister(9, 0x00);
    cia.writeRegister(8, 0x00);
    // Odd slices, so that no slice boundary meets a pulse boundary.
    rig.run(10 * 985'248, 977);
    EXPECT_EQ(cia.readRegister(11), 0x01);
    EXPECT_EQ(cia.readRegister(10), 0x00);
    EXPECT_EQ(cia.readRegister(9), 0x10);
    EXPECT_EQ(cia.readRegister(8), 0x00);
}

TEST(C64Input, TimeOfDayOnNtscRunsAtSixtyHertz)
{
    C64Rig rig("", true);
    ASSERT_TRUE(rig.machine->bootMachine());
    mos6526_new& cia = *rig.machine->getCia2();
    cia.writeRegister(14, 0x00);  // 60 Hz input
    cia.writeRegister(11, 0x01);
    cia.writeRegister(8, 0x00);
    rig.run(5 * 1'022'727 + 1'022'727 / 2 + 100, 4099, kNtsc);  // 330 pulses
    EXPECT_EQ(cia.readRegister(11), 0x01);
    EXPECT_EQ(cia.readRegister(9), 0x05);
    EXPECT_EQ(cia.readRegister(8), 0x05);
}

}  // namespace
