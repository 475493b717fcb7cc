#pragma once
// Joystick input into a machine or a reader that passes it on.

#include <cstdint>

class InputListener {
public:
    virtual ~InputListener() = default;
    // Joystick of port (port & 1): the clear bits become active (0), the set bits inactive (1);
    // bit 0 up, 1 down, 2 left, 3 right, 4 fire.
    virtual void inputEvent(uint32_t port, uint8_t clearBits, uint8_t setBits) = 0;
};
