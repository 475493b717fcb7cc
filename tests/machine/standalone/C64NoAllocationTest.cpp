// advance allocates nothing: every allocation of the process is counted around it, with a PSID
// at play, an RSID on its raster interrupt, the screen messages of a jam and MIDI input.
#include "../C64TestSupport.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

namespace {

using namespace c64_test;

class NullMedia : public MediaCallback {
public:
    uint64_t writes = 0;
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override { ++writes; }
};

struct Machine {
    NullMedia media;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(384 * 272);
    PixelCanvas canvas{nullptr, nullptr, nullptr, 1, pixels.data(), 272, 384, nullptr};
    C64Emu machine{&media, "", false};
    Bytes image;

    explicit Machine(const fixtures::PsidBuilder& tune)
    {
        EXPECT_TRUE(machine.buildMachine(&canvas));
        image = tune.hostImage();
        machine.installTune(fixtures::psidHeader(image), tune.hostDataSize(), 0, "info text\n");
    }
};

TEST(C64NoAllocation, Advance)
{
    auto psid = std::make_unique<Machine>(counterTune());
    auto rsid = std::make_unique<Machine>(fixtures::PsidBuilder().rsid().load(0x1000).code(rasterTuneCode()));
    const Bytes jamCode = {0x60, 0xA9, 0x01, 0x8D, 0x00, 0xD4, 0x02};  // play at $1001 stores, then jams
    auto jam = std::make_unique<Machine>(fixtures::PsidBuilder().load(0x1000).play(0x1001).code(jamCode));

    const long before = fixtures::allocationCount();
    for (Machine* m : {psid.get(), rsid.get(), jam.get()}) {
        for (const uint64_t slice : {16u, 441u, 20000u}) {
            uint64_t done = 0;
            while (done < 40 * kPalFrame)
                done += m->machine.advance(slice, kPal);
        }
        m->machine.sendMidiInput(0x90, 60, 100, 1);
        m->machine.sendMidiInput(0xB0, 1, 127, 1);
        m->machine.advance(1000, kPal);
    }
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_GT(psid->media.writes, 40u * 25u);
    EXPECT_GT(rsid->media.writes, 100u);
    EXPECT_EQ(jam->machine.getState(), C64Emu::STATE_JAMMED);
}

}  // namespace
