// Patches and instrument imports: a 512-byte bank slot, a whole bank, the small instrument file
// and tracker instrument files.

#include "fuzz/FuzzSupport.h"
#include "instrument/SIDPatch.h"
#include "support/VirtualFile.h"

void fuzzSeeds(fuzz::Seeds& seeds)
{
    fuzz::Bytes slot(kBankSlotSize, 0);
    const char name[] = "Lead";
    std::copy(name, name + 4, slot.begin());
    for (size_t i = 16; i < slot.size(); ++i)
        slot[i] = uint8_t(i * 7);
    seeds.add("bank-slot", slot);
    seeds.add("small-instrument", fuzz::Bytes{0xA1, 0x04, 0x00, 0x12, 0xA9, 0x00});
    // "GTI!": AD, SR, pulse settings, the wave row count, the name, then wave rows.
    fuzz::Bytes bang = {'G', 'T', 'I', '!', 0x12, 0xA9, 0x04, 0x02, 0x10, 0x20, 0, 6};
    bang.resize(28, 0);
    bang.insert(bang.end(), {0x41, 0x00, 0x21, 0x0C, 0xFF, 0x00});
    seeds.add("tracker-bang", bang);
    // "GTI5": AD, SR, seven bytes, the name, then wave, pulse and filter tables.
    fuzz::Bytes v5 = {'G', 'T', 'I', '5', 0x12, 0xA9, 0, 0, 0, 0, 0, 0, 0};
    v5.resize(29, 'n');
    v5.insert(v5.end(), {2, 0x41, 0xFF, 0x00, 0x01, 1, 0x88, 0x00, 0});
    seeds.add("tracker-v5", v5);
}

namespace {

class Writers : public StepTableWriters {
public:
    void writeSigned(uint64_t, const std::vector<int8_t>& values, bool, int32_t, int32_t, uint64_t, uint32_t,
                     uint64_t, uint64_t, float) override
    {
        count += values.size();
    }
    void writeUnsigned(uint64_t, const std::vector<uint8_t>& values, bool, int32_t, int32_t, uint64_t, uint32_t,
                       uint64_t, uint64_t, float) override
    {
        count += values.size();
    }
    void writeBits(uint64_t, const std::vector<bool>& values, bool, int32_t, int32_t, uint64_t, uint32_t, uint64_t,
                   uint64_t, float) override
    {
        count += values.size();
    }
    size_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    {
        SIDCTRLPatch patch;
        decodeBankSlot(bytes, patch);
        decodeBankSlot(bytes, size ? data[0] : 0, patch);
        decodeSmallInstrument(bytes, patch);
    }
    static const std::vector<ParameterInfo> parameters = {
        {"Osc1 PW", ParameterInfo::Integer, 0.0f, 4095.0f, 2048.0f, 0, 0},
        {"Osc1 Gate", ParameterInfo::Switch, 0.0f, 1.0f, 0.0f, 0, 0},
        {"Osc1 Wave", ParameterInfo::Choice, 0.0f, 8.0f, 4.0f, 0, 0},
    };
    SIDCTRLPatch patch;
    vantor::VirtualRAMFile file(data, size);
    Writers writers;
    std::string name, routing;
    importTrackerInstrument(patch, file, parameters, writers, name, routing);
    return 0;
}
