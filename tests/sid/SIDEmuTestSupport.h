#pragma once
// Helpers of the chip tests: chips set up for rendering, renders into fresh buffers, databases
// written to a temporary folder and loaded outside the process-wide singleton.

#include "sid/SIDDatabase.h"
#include "sid/SIDEmu.h"

#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/TempDir.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace sidtest {

// A chip after init(n) without a database, then reset.
inline std::unique_ptr<SIDEmu> makeChip(uint64_t n = 256, uint32_t initValue = SIDEmu::kDefaultInitValue)
{
    auto chip = std::make_unique<SIDEmu>();
    chip->init(n, nullptr, initValue);
    chip->reset();
    return chip;
}

inline void write(SIDEmu& chip, std::initializer_list<std::pair<uint16_t, uint8_t>> regs)
{
    for (const auto& [r, v] : regs)
        chip.writeRegister(r, v);
}

// Renders `cycles` into `out` (added to what is there) in calls of at most `block` cycles.
inline void renderInto(SIDEmu& chip, std::vector<int32_t>& out, uint64_t cycles, uint64_t block,
                       uint64_t at = 0)
{
    int32_t* p = out.data() + at;
    while (cycles > 0) {
        const uint64_t n = std::min(cycles, block);
        int32_t* channels[1] = {p};
        chip.render(channels, n);
        p += n;
        cycles -= n;
    }
}

inline std::vector<int32_t> render(SIDEmu& chip, uint64_t cycles, uint64_t block = 256)
{
    std::vector<int32_t> out(cycles, 0);
    renderInto(chip, out, cycles, block);
    return out;
}

// A database file of the given chips, loaded as a private (non-singleton) database.
inline std::unique_ptr<SIDDatabase> loadDatabase(const std::vector<fixtures::ChipDescription>& chips)
{
    fixtures::TempDir dir;
    const fixtures::Bytes bytes = fixtures::writeChipDatabase(chips, fixtures::DatabaseForm::Riff);
    const std::string path = dir.write("chips.sdb", std::string(bytes.begin(), bytes.end()));
    return std::make_unique<SIDDatabase>(path);
}

}  // namespace sidtest
