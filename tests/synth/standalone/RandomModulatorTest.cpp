// Random sources draw from the process-wide generator, and switching it off cannot be undone.
#include "platform/PlatformTools.h"
#include "synth/LayerModSources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace ZRS;

namespace {

class OrderListener : public ModListener
{
public:
    void modulatorValueChanged(Modulator* source, bool) override { seen.push_back(source->getValue()); }
    void modulatorActiveChanged(Modulator* source, uint8_t, uint8_t) override
    {
        seen.push_back(source->isActive() ? -1.0f : -2.0f);
    }
    std::vector<float> seen;
};

}  // namespace

TEST(RandomModulator, DrawsThroughThePlatformGeneratorUntilSwitchedOff)
{
    LayerModSources block;
    OrderListener l;
    block.voiceRandom[3].addListener(&l);

    Psrand(42);
    const float want = float(rand() * 4.656612875245797e-10);
    Psrand(42);
    block.voiceRandom[3].draw();
    EXPECT_EQ(block.voiceRandom[3].getValue(), want);
    // Active before anybody hears of the value.
    EXPECT_EQ(l.seen, (std::vector<float>{-1.0f, want}));

    for (int i = 0; i < 100; ++i) {
        block.random.draw();
        EXPECT_GE(block.random.getValue(), 0.0f);
        EXPECT_LE(block.random.getValue(), 1.0f);
    }

    PRandOFF();
    l.seen.clear();
    block.voiceRandom[3].draw();
    EXPECT_EQ(block.voiceRandom[3].getValue(), 0.0f);
    EXPECT_EQ(block.voiceRandom[3].isActive(), 1);
    EXPECT_EQ(l.seen, (std::vector<float>{-1.0f, 0.0f}));
}
