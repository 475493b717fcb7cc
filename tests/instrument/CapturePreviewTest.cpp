// A capture item previewed on the real player chips: its stream replaces the media, plays the
// captured note, and lasts its frames plus the closing second.
#include "SIDCtrlDoubles.h"

#include "fixtures/Spectrum.h"
#include "media/VGMReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace sidctrl_test;

constexpr double kPalClock = 985248.0;
constexpr uint64_t kCyclesPerFrame = 19656;

// Counts its own destruction.
class WatchedReader : public MediaReader
{
public:
    WatchedReader(MediaCallback* cb, int* deleted) : MediaReader(cb), deletions(deleted) {}
    ~WatchedReader() override { ++*deletions; }
    bool selectSong(uint64_t) override { return true; }
    uint64_t getSongCount() override { return 1; }
    bool isDrivenByTimers() override { return true; }

private:
    int* deletions;
};

class CapturePreview : public ::testing::Test
{
protected:
    CapturePreview()
    {
        ctrl = std::make_unique<CaptureCtrl>(&real.chips, &listener);
        ctrl->init(nullptr, 1006);
        ctrl->setRate(0, kPalClock, kPalClock);
        ctrl->setCyclesPerFrame(int64_t(kCyclesPerFrame));
    }

    std::vector<double> render(size_t ticks) { return renderTicks(*ctrl, ticks); }

    RealChips real;
    RecordingListener listener;
    std::unique_ptr<CaptureCtrl> ctrl;
};

TEST_F(CapturePreview, ItemPlaysItsNoteForItsFramesAndOneSecond)
{
    // 100 frames of a held triangle note at 440 Hz on voice 0.
    std::vector<SID_shadow>& frames = ctrl->frames();
    frames.assign(100, SID_shadow());
    for (SID_shadow& f : frames) {
        f.regs[0] = 7493 & 0xFF;
        f.regs[1] = 7493 >> 8;
        f.regs[4] = 0x11;
        f.regs[6] = 0xF0;
        f.regs[24] = 0x0F;
    }
    int deleted = 0;
    ctrl->adoptReader(new WatchedReader(ctrl.get(), &deleted));
    ctrl->mediaCommand(0, nullptr, 1.0);
    EXPECT_EQ(deleted, 1);
    auto* reader = dynamic_cast<VGM::Reader*>(ctrl->getReader());
    ASSERT_NE(reader, nullptr);
    ASSERT_NE(reader->getCollection(), nullptr);
    EXPECT_EQ(reader->getCollection()->song.tags[VGM::VGMXSong::kGameName],
              "00:00 - 100 Frames [0:99] CH:1");
    for (size_t c = 0; c < ChipController::kChips; ++c)
        ctrl->setChipEnabled(c, c == 12);

    const std::vector<double> out = render(size_t(kPalClock));
    const fixtures::Spectrum spectrum(out, kPalClock);
    EXPECT_NEAR(spectrum.peakFrequency(200.0, 2000.0), 440.0, 1.0);

    // The gate stays on until the stream has played through.
    const uint64_t length = 250 + 100 * kCyclesPerFrame + 985248;
    uint64_t now = uint64_t(kPalClock);
    uint64_t released = 0;
    while (now < length + 4 * kCyclesPerFrame && !released) {
        render(1000);
        now += 1000;
        if (!(ctrl->shadow(12).regs[4] & 1))
            released = now;
    }
    EXPECT_NEAR(double(released), double(length), double(kCyclesPerFrame));
}

}  // namespace
