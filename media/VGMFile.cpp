// VGM and VGZ files are not read yet: every such source fails.

#include "media/VGMX.h"

namespace VGM {

bool VGMX::loadFromArchive(const std::string& /*file*/)
{
    return false;
}

bool VGMX::loadFromMemory(const uint8_t* /*data*/, uint64_t /*size*/)
{
    return false;
}

}  // namespace VGM
