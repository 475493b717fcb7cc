// Counts every allocation of the process, so it runs alone: once a tune is loaded and started,
// the controller's tune render (the machine, the player chips, the surplus ring and register
// capture) allocates nothing, in blocks shorter and longer than a video frame.

#include "instrument/SIDCtrl.h"
#include "media/PixelCanvas.h"
#include "sid/SIDEmu.h"
#include "support/VirtualFile.h"

#include "fixtures/c64/C64Tunes.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

TEST(SIDCtrlTuneNoAlloc, TuneRender)
{
    constexpr double kClock = 985248.0;
    std::vector<SIDEmu> sids(ChipController::kChips);
    std::vector<ChipEmu*> chips;
    for (SIDEmu& s : sids) {
        ASSERT_TRUE(s.init(4096, nullptr, SIDEmu::kDefaultInitValue));
        chips.push_back(&s);
    }
    auto ctrl = std::make_unique<SIDCtrl>(&chips, nullptr);
    ctrl->init("data/chips.db", 1006);
    ctrl->setRate(0, kClock, kClock);

    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    std::vector<uint8_t> pixels(384 * 272);
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), 0, 0, nullptr};
    ctrl->attachCanvas(&canvas);
    // The counter tune stores a rising count to every SID register once a frame.
    const fixtures::Bytes tune = fixtures::c64_tunes::counterTune().bytes();
    vantor::VirtualRAMFile file(tune.data(), tune.size());
    ASSERT_EQ(ctrl->loadMedia(0, &file), 1);
    ctrl->setMediaParameter(ChipController::kPlay, 1.0);

    std::vector<int32_t> out(4096);
    int32_t* channels[2] = {out.data(), nullptr};
    for (int block = 0; block < 10; ++block)
        ctrl->render(channels, 1, 4096);

    const long before = fixtures::allocationCount();
    int32_t peak = 0;
    for (const int32_t frames : {256, 4096, 17, 1000}) {
        for (int block = 0; block < 60; ++block) {
            std::fill(out.begin(), out.end(), 0);
            ctrl->render(channels, 1, frames);
            for (int32_t i = 0; i < frames; ++i)
                peak = std::max(peak, std::abs(out[size_t(i)]));
        }
    }
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_GT(peak, 0) << "the tune played";
    EXPECT_GT(ctrl->getCaptureFrames().size(), 10u);
}

}  // namespace
