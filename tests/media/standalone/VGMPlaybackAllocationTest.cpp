// Register-log playback on the scheduler allocates nothing once a song is selected: stream
// players, DAC channels and the display in its text and register pages, across second changes,
// stream ends and loops.
#include "fixtures/AllocationCounter.h"

#include "../PlaybackSupport.h"

#include "media/DACStreamer.h"
#include "media/PixelCanvas.h"

#include <gtest/gtest.h>

namespace {

using namespace playback;
using VGM::DACStreamer;

class Silent : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
};

VGM::VGMX busySong(bool loop)
{
    VGM::VGMX doc;
    doc.song.tags[VGM::VGMXSong::kGameName] = "Game";
    doc.song.tags[VGM::VGMXSong::kTrackName] = "Track";
    doc.song.banks.resize(1);
    doc.song.banks[0].samples = std::vector<int16_t>(400, 1234);
    if (loop) {
        doc.song.loopStart = 100;
        doc.song.loopEnd = 5000;
    }
    std::vector<VGMXEvent> sid{E('S')}, ym{E('S')}, dac{E('S')};
    for (uint32_t i = 0; i < 300; ++i) {
        sid.push_back(W(i % 3 ? 0 : 20, uint8_t(i % 25), uint8_t(i)));
        ym.push_back(W(441, uint8_t(0x10 + i % 8), uint8_t(i)));
    }
    for (const VGMXEvent e : dac32(DACStreamer::kFrequencyHigh, 8000))
        dac.push_back(e);
    for (int i = 0; i < 20; ++i) {
        dac.push_back(W(0, DACStreamer::kPlayBank, 0));
        dac.push_back(W(i % 2 ? 30 : 70, DACStreamer::kLeftLevel, 0x40));
    }
    dac.push_back(W(20, DACStreamer::kStop));
    VGM::VGMXChip& s = addChip(doc, 77, "6581", 1000, sid);
    s.loopIndex = 0;
    VGM::VGMXChip& y = addChip(doc, 4, "YM2413", 44100, ym);
    y.loopIndex = 0;
    VGM::VGMXChip& d = addChip(doc, 84, "DAC", 1000, dac);
    d.loopIndex = 0;
    return doc;
}

TEST(VGMPlaybackAllocation, NoneWhilePlaying)
{
    std::vector<uint8_t> pixels(384 * 272);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), 272, 384, nullptr};
    for (const bool loop : {false, true})
        for (const int32_t mode : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << (loop ? ", looping" : ""));
            Silent callback;
            vantor::QuantumManager manager(64);
            manager.setRate(985248);
            VGM::Reader reader(&callback, &canvas, nullptr);
            reader.setDisplayMode(mode);
            ASSERT_TRUE(reader.openDocument(busySong(loop)));
            ASSERT_TRUE(reader.selectSong(0));
            reader.attachTimers(&manager);
            runUntil(manager, 985248 / 10);

            const long before = fixtures::allocationCount();
            runUntil(manager, 985248 * 5);  // several stream ends and seconds
            reader.detachTimers(&manager);
            reader.setSpeed(3.0);
            reader.seek(0.0);
            reader.attachTimers(&manager);
            runUntil(manager, 985248 * 8);
            EXPECT_EQ(fixtures::allocationCount() - before, 0);
            reader.detachTimers(&manager);
        }
}

}  // namespace
