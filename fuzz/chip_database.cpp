// The SID chip database file, loaded from a file as the instrument loads it.

#include "fuzz/FuzzSupport.h"
#include "sid/SIDDatabase.h"

#include "fixtures/ChipDatabaseWriter.h"

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using namespace fixtures;
    const std::vector<ChipDescription> chips = {syntheticChip("6581 R4AR", 1), syntheticChip("8580 R5", 2, true),
                                                syntheticChip("Old", 3).without("Ddcm")};
    seeds.add("riff", writeChipDatabase(chips, DatabaseForm::Riff));
    seeds.add("form", writeChipDatabase({chips[1]}, DatabaseForm::Form));
    ChipDescription sparse;
    sparse.text("Name", "Sparse");
    seeds.add("sparse", writeChipDatabase({sparse}, DatabaseForm::Riff));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SIDDatabase database(fuzz::writeScratch("chips.sdb", data, size));
    if (database.chipCount() > SIDDatabase::kMaxChips)
        __builtin_trap();
    return 0;
}
