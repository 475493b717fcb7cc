// The example tune end to end: three-notes.sid played by the command-line host through the built
// module without ROM images, 48000 Hz in 256-frame blocks: its three notes measured on a
// Hann-windowed FFT of 32768 samples (bins of 1.46 Hz), and the player's screen on the canvas.
#include "CommandLine.h"
#include "PngReader.h"
#include "SignalAnalysis.h"
#include "fixtures/TempDir.h"
#include "machine/VICII.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace {

using namespace commandline;

constexpr double kRate = 48000.0;
constexpr size_t kFft = 32768;
constexpr double kBin = kRate / kFft;

class ThreeNotes : public ::testing::Test
{
protected:
    Wav renderTune(const std::string& options, const std::string& length = "--seconds 3")
    {
        const std::string wav = dir / "t.wav";
        const CommandResult r = run(render(quoted(THREE_NOTES_SID) + " " + length + " -o " + quoted(wav) + " " + options));
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

// A file alone plays nothing but the tune: its first note fills the spectrum.
TEST_F(ThreeNotes, FileAlonePlaysWithoutTheDemo)
{
    const Wav w = renderTune("--rate 8000 --block 4096", "--seconds 1");
    ASSERT_EQ(w.left.size(), 8000u);
    constexpr size_t kShort = 4096;
    const double hz = analysis::binFrequency(analysis::peakBin(w.left.data() + 800, kShort), kShort, 8000.0);
    EXPECT_NEAR(hz, 440.0, 8000.0 / kShort);
    // Every other note would put power away from the harmonics of 440 Hz.
    const std::vector<double> m = analysis::magnitudes(w.left.data() + 800, kShort);
    double onHarmonics = 0.0, elsewhere = 0.0;
    for (size_t k = 4; k < m.size(); ++k) {
        const double f = analysis::binFrequency(k, kShort, 8000.0);
        const double fromHarmonic = std::abs(f - 440.0 * std::round(f / 440.0));
        (fromHarmonic < 12.0 ? onHarmonics : elsewhere) += m[k] * m[k];
    }
    EXPECT_LT(elsewhere, 0.01 * onHarmonics);
}

// Light-blue pixels of the canvas by text row (8 pixel lines each, from line 36).
std::vector<size_t> textRows(const png::Image& image)
{
    std::vector<size_t> rows(25, 0);
    for (uint32_t row = 36; row < 236; ++row)
        for (uint32_t column = 0; column < image.width; ++column) {
            const uint8_t* p = image.pixel(row, column);
            rows[(row - 36) / 8] += (uint32_t(p[0]) << 16 | p[1] << 8 | p[2]) == 0x6C5EB5;
        }
    return rows;
}

// Whether text cell (row, column) of the canvas draws the glyph: its set pixels in one colour,
// the others in another.
bool cellShows(const png::Image& image, uint32_t row, uint32_t column, const uint8_t* glyph)
{
    const auto rgb = [&](uint32_t y, uint32_t x) {
        const uint8_t* p = image.pixel(36 + row * 8 + y, 32 + column * 8 + x);
        return uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
    };
    std::vector<uint32_t> on, off;
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            ((glyph[y] >> (7 - x)) & 1 ? on : off).push_back(rgb(y, x));
    const auto uniform = [](const std::vector<uint32_t>& v) {
        return !v.empty() && std::all_of(v.begin(), v.end(), [&](uint32_t c) { return c == v[0]; });
    };
    return uniform(on) && uniform(off) && on[0] != off[0];
}

// Without ROMs nothing sets the video chip's column mode, yet the player screen keeps its first
// and last columns: "orbella ...", the rule's ends and "Title" in the lower-case set.
TEST_F(ThreeNotes, PlayerScreenShowsAllFortyColumns)
{
    const std::string picture = dir / "out.png";
    renderTune("--canvas " + quoted(picture), "--seconds 0.5");
    png::Image image;
    std::string why;
    ASSERT_TRUE(png::decode(fixtures::readFile(picture), image, why)) << why;
    ASSERT_EQ(image.width, 384u);
    const auto glyph = [](uint8_t code) { return kVICIICharacterImage.data() + 0x800 + code * 8; };
    const struct {
        uint32_t row, column;
        uint8_t code;
        const char* what;
    } cells[] = {
        {0, 0, 15, "o of orbella"}, {0, 1, 18, "r of orbella"}, {2, 0, 45, "the rule's first -"},
        {2, 39, 45, "the rule's last -"}, {3, 0, 84, "T of Title"},
    };
    for (const auto& c : cells)
        EXPECT_TRUE(cellShows(image, c.row, c.column, glyph(c.code))) << c.what;
    EXPECT_FALSE(cellShows(image, 0, 0, glyph(18))) << "a cell matches only its own glyph";
}

// --data hands the module its data folder: a signature file that fits the tune adds the
// "Player:" lines under the SID lines.
TEST_F(ThreeNotes, DataFolderSignaturesNameThePlayer)
{
    const std::string picture = dir / "out.png";
    png::Image plain, named;
    std::string why;
    renderTune("--canvas " + quoted(picture), "--seconds 0.5");
    ASSERT_TRUE(png::decode(fixtures::readFile(picture), plain, why)) << why;
    fixtures::TempDir data;
    data.write("sidid.cfg", "Notes_Player\nA9 0F 8D 18 D4 AND F0 8D 06 D4 END\n");
    data.write("sidid.nfo", "Notes_Player\n     NAME: Three Notes Player\n   AUTHOR: Someone\n");
    renderTune("--canvas " + quoted(picture) + " --data " + quoted(data.path()), "--seconds 0.5");
    ASSERT_TRUE(png::decode(fixtures::readFile(picture), named, why)) << why;
    const std::vector<size_t> before = textRows(plain), after = textRows(named);
    // One SID line (row 16) and a rule; then the player's name and author, no reference.
    EXPECT_GT(before[17], 0u);
    EXPECT_EQ(before[18], 0u);
    EXPECT_GT(after[18], 0u) << "Player:";
    EXPECT_GT(after[19], 0u) << "Author:";
    EXPECT_EQ(after[20], 0u);
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
