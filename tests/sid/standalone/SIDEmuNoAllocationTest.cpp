// Rendering never allocates: every operator new of the process is counted around renders of the
// chip's paths and models, so it runs alone.

#include "../SIDEmuTestSupport.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(SIDEmuNoAllocation, RenderAndRegisterAccess)
{
    const auto db = sidtest::loadDatabase({fixtures::syntheticChip("lin", 1, true),
                                           fixtures::syntheticChip("measured", 2, false)});
    const struct {
        int profile;  // -1: built-in model
        uint8_t controls[3];
    } kCases[] = {
        {-1, {0x11, 0x21, 0x41}},  // no source
        {-1, {0x15, 0x21, 0x81}},  // one ring voice
        {-1, {0x13, 0x23, 0x61}},  // sync voices: stepped phases
        {0, {0x13, 0x23, 0x61}},   {1, {0x11, 0x83, 0x41}},
    };
    std::vector<int32_t> out(5000, 0);
    int32_t* channels[1] = {out.data()};
    for (const auto& k : kCases) {
        auto chip = sidtest::makeChip(256);
        chip->extensionsEnabled = 1;
        chip->setParameter(SIDParam::kOscLeak, 1.0f);
        if (k.profile >= 0) {
            chip->useDatabase(*db);
            chip->setParameter(SIDParam::kModel, float(k.profile));
        }
        const long before = fixtures::allocationCount();
        sidtest::write(*chip, {{24, 0x3F}, {23, 0x73}, {22, 40}, {1, 0x10}, {8, 0x21}, {15, 0x07}, {6, 0xF0},
                               {13, 0xF0}, {20, 0xF0}, {29, 0x40}});
        for (size_t v = 0; v < 3; ++v)
            chip->writeRegister(uint16_t(7 * v + 4), k.controls[v]);
        chip->render(channels, 300);   // more than the init block: rendered in pieces
        chip->render(channels, 5000);
        chip->writeRegister(23, 0x01);
        chip->render(channels, 100);
        chip->readRegister(27);
        chip->readRegister(28);
        EXPECT_EQ(fixtures::allocationCount(), before) << "profile " << k.profile;
    }
}

}  // namespace
