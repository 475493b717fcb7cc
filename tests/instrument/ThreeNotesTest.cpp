// The example tune end to end: three-notes.sid played by the command-line host through the built
// module without ROM images, 48000 Hz in 256-frame blocks: its three notes measured on a
// Hann-windowed FFT of 32768 samples (bins of 1.46 Hz), and the player's screen on the canvas.
#include "CommandLine.h"
#include "PngReader.h"
#include "SignalAnalysis.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using namespace commandline;

constexpr double kRate = 48000.0;
constexpr size_t kFft = 32768;
constexpr double kBin = kRate / kFft;

class ThreeNotes : public ::testing::Test
{
protected:
    Wav renderTune(const std::string& options)
    {
        const std::string wav = dir / "t.wav";
        const CommandResult r = run(render(quoted(THREE_NOTES_SID) + " --seconds 3 -o " + quoted(wav) + " " + options));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        Wav w;
        EXPECT_TRUE(readWav(wav, w));
        return w;
    }

    fixtures::TempDir dir;
};

TEST_F(ThreeNotes, PlaysItsThreeNotesOnChannelZero)
{
    const Wav w = renderTune("");
    ASSERT_EQ(w.left.size(), 144000u);
    EXPECT_EQ(w.rate, 48000u);
    const struct {
        double from, hz;
    } notes[] = {{0.1, 440.0}, {1.1, 659.26}, {2.1, 880.0}};
    for (const auto& n : notes) {
        const size_t bin = analysis::peakBin(w.left.data() + size_t(n.from * kRate), kFft);
        EXPECT_NEAR(analysis::binFrequency(bin, kFft, kRate), n.hz, kBin) << "from " << n.from << " s";
    }
    EXPECT_GT(analysis::rmsAboutMean(w.left.data() + 4800, 4800), 0.01) << "audible";

    const Wav own = renderTune("--module-channels");
    ASSERT_EQ(own.right.size(), 144000u);
    EXPECT_TRUE(std::all_of(own.right.begin(), own.right.end(), [](float x) { return x == 0.0f; }));
}

TEST_F(ThreeNotes, ShowsThePlayerScreenOnTheCanvas)
{
    const std::string picture = dir / "out.png";
    renderTune("--canvas " + quoted(picture));
    png::Image image;
    std::string why;
    ASSERT_TRUE(png::decode(fixtures::readFile(picture), image, why)) << why;
    ASSERT_EQ(image.width, 384u);
    ASSERT_EQ(image.height, 272u);
    std::map<uint32_t, size_t> colours;
    size_t outside = 0, firstLine = 0;
    for (uint32_t row = 0; row < image.height; ++row)
        for (uint32_t column = 0; column < image.width; ++column) {
            const uint8_t* p = image.pixel(row, column);
            const uint32_t rgb = uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
            ++colours[rgb];
            if (rgb == 0x6C5EB5) {  // light blue: the text
                outside += row < 36 || row > 235 || column < 32 || column > 351;
                firstLine += row >= 36 && row <= 43;
            }
        }
    EXPECT_EQ(colours.size(), 2u);
    EXPECT_GT(colours[0x000000], 0u);
    EXPECT_GT(colours[0x6C5EB5], 1000u);
    EXPECT_EQ(outside, 0u);
    EXPECT_GT(firstLine, 0u) << "the first text line";
}

}  // namespace
