// Per-chip override text files, read as the database reads them for a measured chip, a
// table-model chip and a chip without "Ddcm" (whose file name carries ".old").

#include "fuzz/FuzzSupport.h"
#include "sid/SIDDcRules.h"

#include <memory>

void fuzzSeeds(fuzz::Seeds& seeds)
{
    seeds.add("measured", std::string("CutOffOverride,3,12000\r\nbaseinvqoverride,15,0.25\ninverseqoverride,0,0.75\n"
                                      "bleedbpfoverride,1,0.125\nbleedhpfoverride,2,0.375\nreshapegainin,99,1.5\n"
                                      "curveclip,0,a,b,7\nadjustoutputgain,0,1e2\nunknownkey,0,5\n"));
    seeds.add("table", std::string("filterinddcscale,0,-0.5\ncutoffoverride,4\n lpfdrivescale,0,nope\n"));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string database = fuzz::scratchFolder() + "/chips.sdb";
    const struct {
        const char* name;
        bool ddcm;
        uint8_t tableModel;
    } kChips[] = {{"Measured", true, 0}, {"Table", true, 1}, {"Old", false, 0}};
    // Records of 270 KB: copied over from defaults made once, as fresh allocations under the
    // sanitizer cost milliseconds each.
    static const auto defaultInfo = std::make_unique<const SIDChipInfo>();
    static const auto defaultRecord = std::make_unique<const SIDChipRecord>();
    static const auto info = std::make_unique<SIDChipInfo>();
    static const auto record = std::make_unique<SIDChipRecord>();
    for (const auto& chip : kChips) {
        const std::string path = sidOverridePath(database, chip.name, chip.ddcm);
        fuzz::writeScratch(path.substr(fuzz::scratchFolder().size() + 1), data, size);
        *info = *defaultInfo;
        *record = *defaultRecord;
        info->tableModel = chip.tableModel;
        applySidOverrideFile(database, chip.name, chip.ddcm, *info, *record);
    }
    return 0;
}
