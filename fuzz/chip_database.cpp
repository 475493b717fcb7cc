// The SID chip database file, loaded from a file as the instrument loads it.

#include "fuzz/FuzzSupport.h"
#include "sid/SIDDatabase.h"

#include "fixtures/ChipDatabaseWriter.h"

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using namespace fixtures;
    seeds.add("measured", writeChipDatabase({syntheticChip("6581 R4AR", 1)}, DatabaseForm::Riff));
    seeds.add("table-model", writeChipDatabase({syntheticChip("8580 R5", 2, true)}, DatabaseForm::Form));
    seeds.add("without-ddcm", writeChipDatabase({syntheticChip("Old", 3).without("Ddcm")}, DatabaseForm::Riff));
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
