#include "machine/C64RomSet.h"

#include "platform/PlatformTools.h"

#include <array>
#include <cstring>
#include <mutex>

namespace {

using Candidates = std::array<const char*, 6>;

constexpr Candidates kBasicNames = {"basic", "basic.rom", "basic.c64", "basic.901226-01.bin", "901226-01.u3",
                                    "basic_generic.rom"};
constexpr Candidates kCharNames = {"chargen",      "chargen.rom", "chargen.c64", "characters.901225-01.bin",
                                   "901225-01.u5", "chargen_openroms.rom"};
constexpr Candidates kKernalNames = {"kernal", "kernal.rom", "kernal.c64", "kernal.901227-03.bin",
                                     "901227-03.u4", "kernal_generic.rom"};

// The first candidate that reads whole with at least `size` bytes fills image.
void loadImage(const std::string& folder, const Candidates& names, uint8_t* image, uint64_t size)
{
    for (const char* name : names) {
        const std::string path = folder + "/" + name;
        if (!fileExists(path))
            continue;
        uint64_t length = 0;
        uint64_t spare = 0;
        uint8_t* data = binFileInternalize(path, length, spare);
        const bool fits = data && length >= size;
        if (fits)
            std::memcpy(image, data, size);
        binFileFree(data);
        if (fits)
            return;
    }
}

C64RomImages gRomSet;
std::once_flag gRomSetOnce;

}  // namespace

void loadRomSet(const std::string& folder, C64RomImages& images)
{
    loadImage(folder, kBasicNames, images.basicRom, sizeof images.basicRom);
    loadImage(folder, kCharNames, images.charRom, sizeof images.charRom);
    loadImage(folder, kKernalNames, images.kernalRom, sizeof images.kernalRom);
}

const C64RomImages& c64RomSet()
{
    return gRomSet;
}

void loadRomSetOnce(const std::string& folder)
{
    std::call_once(gRomSetOnce, [&folder] { loadRomSet(folder, gRomSet); });
}
