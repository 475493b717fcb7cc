#include "media/MediaCallback.h"
#include "media/MediaReader.h"
#include "media/SID_shadow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class Callback : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
};

class Reader : public MediaReader
{
public:
    using MediaReader::MediaReader;
    bool selectSong(uint64_t song) override
    {
        selected.push_back(song);
        return song < 2;
    }
    uint64_t getSongCount() override { return 2; }
    uint64_t getStartSong() override { return start; }
    bool isDrivenByTimers() override { return true; }

    uint64_t start = 0;
    std::vector<uint64_t> selected;
};

TEST(MediaReader, BaseState)
{
    Callback callback;
    Reader reader(&callback);
    EXPECT_EQ(reader.callback, &callback);
    EXPECT_FALSE(reader.playing);
    EXPECT_TRUE(reader.fresh);
    EXPECT_EQ(reader.speed, 1.0);
    EXPECT_EQ(reader.userValue, nullptr);
    EXPECT_EQ(reader.framePeriod, 1.0 / 60.0);
    EXPECT_FALSE(reader.songReady);
    EXPECT_EQ(reader.pendingIndex, -1);
    EXPECT_EQ(reader.currentSong, 0u);

    EXPECT_TRUE(reader.play());
    EXPECT_TRUE(reader.playing);
    EXPECT_TRUE(reader.stop());
    EXPECT_FALSE(reader.playing);
    int value = 0;
    reader.setUserValue(&value);
    EXPECT_EQ(reader.userValue, &value);
    EXPECT_EQ(reader.advanceTicks(123, 985248.0), 123u);
    EXPECT_FALSE(reader.openCollection("x.vgm"));
    EXPECT_FALSE(reader.openMedia(nullptr));
    EXPECT_EQ(reader.getTitle(0), nullptr);

    reader.play();
    reader.songReady = true;
    reader.currentSong = 1;
    reader.resetPlayback();
    EXPECT_FALSE(reader.playing);
    EXPECT_FALSE(reader.fresh);
    EXPECT_EQ(reader.userValue, nullptr);
    EXPECT_FALSE(reader.songReady);
    EXPECT_EQ(reader.currentSong, 0u);
    EXPECT_EQ(reader.callback, &callback);
}

TEST(MediaReader, RestartSelectsTheStartSong)
{
    Reader reader(nullptr);
    reader.start = 1;
    EXPECT_TRUE(reader.restart());
    reader.start = 5;
    EXPECT_FALSE(reader.restart());
    EXPECT_EQ(reader.selected, (std::vector<uint64_t>{1, 5}));
}

TEST(MediaCallback, ReadsAnswer255ByDefault)
{
    Callback callback;
    MediaCallback& c = callback;
    EXPECT_EQ(c.readMediaRegister(77, 0, 0, 25), 255);
    EXPECT_EQ(c.readMediaPort(), 255);
}

TEST(SIDShadow, StartsSilentWithFullVolume)
{
    SID_shadow s;
    uint8_t want[32] = {};
    want[24] = 15;
    EXPECT_EQ(std::memcmp(s.regs, want, sizeof want), 0);
    EXPECT_EQ(s.gateChanged[0] + s.gateChanged[1] + s.gateChanged[2], 0);
}

TEST(SIDShadow, GateChangesMarkTheirVoice)
{
    SID_shadow s;
    s.store(4, 0x41);     // gate on: voice 0
    s.store(11, 0x40);    // no gate change
    s.store(50, 0x01);    // register 18: voice 2
    s.store(5, 0x01);     // not a control register
    EXPECT_EQ(s.gateChanged[0], 1);
    EXPECT_EQ(s.gateChanged[1], 0);
    EXPECT_EQ(s.gateChanged[2], 1);
    EXPECT_EQ(s.regs[18], 0x01);
    EXPECT_EQ(s.regs[5], 0x01);

    const SID_shadow copy = s;
    EXPECT_EQ(std::memcmp(copy.regs, s.regs, 32), 0);
    EXPECT_EQ(std::memcmp(copy.gateChanged, s.gateChanged, 3), 0);
}

}  // namespace
