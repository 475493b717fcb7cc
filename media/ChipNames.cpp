#include "media/VGMX.h"

#include <algorithm>
#include <iterator>

namespace {

struct ChipName
{
    std::string_view name;
    int32_t kind;
};

// Sorted by name, byte order. Names of VGM header chips that are missing here ("Sega PSG",
// "YM2149", "Pokey", "8580", ...) read back as unknown.
constexpr ChipName kChipNames[] = {
    {"6526", 102}, {"6581", 77}, {"AMY", 40}, {"AY-3-8910", 31}, {"AY8910", 31}, {"AY8930", 68},
    {"CEM3394", 81}, {"CEM3396", 82}, {"CIA", 102}, {"D1771C", 61}, {"DAC", 84}, {"DCSG", 0},
    {"EPSG", 68}, {"FDS", 41}, {"GBDMG", 48}, {"L431C", 83}, {"MIKEY", 39}, {"NESAPU", 44},
    {"OPK2", 60}, {"OPLL", 4}, {"OPM", 6}, {"OPN2", 5}, {"OPP", 69}, {"OPSEGS", 71}, {"OPZ", 70},
    {"POKEY", 36}, {"PSG", 31}, {"PSSJ", 72}, {"RP2A0X", 44}, {"RP2C33", 41}, {"SAA1099", 53},
    {"SCC", 59}, {"SDSP", 62}, {"SID", 77}, {"SN76489", 0}, {"TIA", 38}, {"TMS51XX", 64},
    {"TMS5200", 65}, {"VIC1", 77}, {"Y8950", 13}, {"YM2151", 6}, {"YM2164", 69}, {"YM2203", 7},
    {"YM2413", 4}, {"YM2414B", 70}, {"YM2420", 30}, {"YM2608", 8}, {"YM2610", 9}, {"YM2610B", 10},
    {"YM2612", 5}, {"YM3526", 12}, {"YM3812", 11}, {"YM7129", 60}, {"YMF262", 15}, {"YMF271", 29},
    {"YMF278B", 28}, {"YMXXXX", 6}, {"YMZ280B", 14},
};
static_assert(std::size(kChipNames) == 58);
static_assert(std::is_sorted(std::begin(kChipNames), std::end(kChipNames),
                             [](const ChipName& a, const ChipName& b) { return a.name < b.name; }));

}  // namespace

int32_t chipKindFromName(std::string_view name)
{
    const auto* it = std::lower_bound(std::begin(kChipNames), std::end(kChipNames), name,
                                      [](const ChipName& entry, std::string_view key) {
                                          return entry.name < key;
                                      });
    return it != std::end(kChipNames) && it->name == name ? it->kind : VGM::kUnknownChipKind;
}
