#include "machine/DiskFile.h"

std::string cbmName(const uint8_t* name16)
{
    size_t length = 0;
    while (length < 16 && name16[length] != 0xA0 && name16[length] != 0x00)
        ++length;
    return std::string(reinterpret_cast<const char*>(name16), length);
}
