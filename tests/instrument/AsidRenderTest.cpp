// The command-line host and the built module end to end: a register log's screen, its capture
// exported and played back as a patch, ASID output of the synth's first chip and ASID input
// playing chip 15. 48000 Hz, 256-frame blocks.
#include "RenderFixture.h"
#include "SignalAnalysis.h"
#include "fixtures/TempDir.h"
#include "media/Asid.h"
#include "media/BitmapFont.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace commandline;

constexpr double kRate = 48000.0;
constexpr size_t kFft = 32768;
constexpr double kBin = kRate / kFft;

// Frequency register values of A4, C#5 and E5 at 985248 Hz.
constexpr uint16_t kA4 = 7493;
constexpr uint16_t kArpeggio[3] = {7493, 9441, 11227};

// One 6581 at rate 44100: a triangle note on voice 1 (AD 0x00, SR 0xF0), then `frames` frames of
// 882 ticks, each rewriting register 24 (and, with `arpeggio`, the frequency: 0, 4, 7 semitones).
std::string logDocument(int frames, bool arpeggio)
{
    std::string text = "<VGMX>\n<Chip id=\"0\" type=\"6581\" clock=\"985248\" rate=\"44100\">\n";
    auto write = [&text](int reg, int value, int dt) {
        text += "<W r=\"" + std::to_string(reg) + "\" v=\"" + std::to_string(value) + "\" dt=\"" +
                std::to_string(dt) + "\"/>\n";
    };
    for (int r = 0; r < 24; ++r)
        write(r, 0, 0);
    const int start[7] = {kA4 & 0xFF, kA4 >> 8, 0x00, 0x08, 0x11, 0x00, 0xF0};
    for (int r = 0; r < 7; ++r)
        write(r, start[r], 0);
    for (int i = 0; i < frames; ++i) {
        if (arpeggio) {
            write(0, kArpeggio[i % 3] & 0xFF, 0);
            write(1, kArpeggio[i % 3] >> 8, 0);
        }
        write(24, 0x0F, 882);
    }
    return text + "</Chip>\n</VGMX>\n";
}

struct Ppm
{
    uint64_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(uint64_t x, uint64_t y) const { return &rgb[3 * (y * width + x)]; }
};

bool readPpm(const std::string& path, Ppm& out)
{
    const std::string bytes = fixtures::readFile(path);
    unsigned w = 0, h = 0, maxValue = 0;
    int used = 0;
    if (std::sscanf(bytes.c_str(), "P6 %u %u %u%n", &w, &h, &maxValue, &used) != 3 || maxValue != 255)
        return false;
    const size_t offset = size_t(used) + 1;
    if (bytes.size() != offset + size_t(w) * h * 3)
        return false;
    out.width = w;
    out.height = h;
    out.rgb.assign(bytes.begin() + ptrdiff_t(offset), bytes.end());
    return true;
}

// Where the built-in font sets a pixel of `text` at (x, y), the picture shows `colour`; where it
// leaves one clear, it does not.
void expectText(const Ppm& picture, const std::string& text, uint64_t x, uint64_t y, uint32_t vertical,
                const uint8_t (&colour)[3])
{
    const uint64_t width = text.size() * 8, height = 8 * vertical;
    std::vector<uint8_t> drawn(width * height, 0);
    VGM::drawBitmapText(VGM::builtInFont(), true, drawn.data(), width, height, text.data(), text.size(),
                        0, 0, 1, vertical, 1);
    size_t wrong = 0, set = 0;
    for (uint64_t row = 0; row < height; ++row)
        for (uint64_t column = 0; column < width; ++column) {
            const uint8_t* p = picture.at(x + column, y + row);
            const bool lit = p[0] == colour[0] && p[1] == colour[1] && p[2] == colour[2];
            set += drawn[row * width + column];
            wrong += lit != (drawn[row * width + column] != 0);
        }
    EXPECT_GT(set, 0u) << text;
    EXPECT_EQ(wrong, 0u) << "\"" << text << "\" at (" << x << ", " << y << ")";
}

using AsidRender = RenderFixture;

TEST_F(AsidRender, LogScreenThroughTheCanvas)
{
    const std::string log = dir.write("held.vgmx", logDocument(3 * 50, false));
    renderWav(quoted(log) + " --canvas " + quoted(dir / "out.ppm") + " --seconds 2");
    Ppm picture;
    ASSERT_TRUE(readPpm(dir / "out.ppm", picture));
    ASSERT_EQ(picture.width, 384u);
    ASSERT_EQ(picture.height, 272u);
    const uint8_t white[3] = {0xFF, 0xFF, 0xFF};
    const uint8_t lightGreen[3] = {0x9A, 0xD2, 0x84};
    expectText(picture, "SID Register Playback", 8, 8, 2, white);
    expectText(picture, "Time:  0:02", 8, 256, 1, white);
    expectText(picture, "Stream 0:     6581 (0.99MHz)", 8, 56, 1, lightGreen);
}

TEST_F(AsidRender, CaptureExportedAndPlayedAsAPatch)
{
    const std::string log = dir.write("arp.vgmx", logDocument(4 * 50, true));
    const std::string capture = dir / "cap.vgmx";
    renderWav(quoted(log) + " --seconds 3 --export " + quoted(capture));
    const std::string document = fixtures::readFile(capture);
    ASSERT_FALSE(document.empty());
    EXPECT_NE(document.find("type=\"6581\""), std::string::npos) << document.substr(0, 400);
    EXPECT_NE(document.find("rate=\"985248\""), std::string::npos) << document.substr(0, 400);
    EXPECT_EQ(document.find("<Chip", document.find("<Chip") + 1), std::string::npos) << "one chip";
    const CommandResult refused = run(render(quoted(log) + " --seconds 1 --export " + quoted(dir / "no/such/cap.vgmx") +
                                             kNoDatabase + " -o " + quoted(dir / "x.wav")));
    EXPECT_EQ(refused.exitCode, 2) << refused.output;  // before rendering
    EXPECT_NE(refused.output.find("--export " + dir / "no/such/cap.vgmx" + ": No such file or directory"),
              std::string::npos)
        << refused.output;

    // The notes change every frame (20 ms), which spreads a spectrum's lines 16.7 Hz apart and
    // off the notes: each cycle is measured instead.
    const Wav w = renderWav("--import " + quoted(capture) + " --note 69 --seconds 2");
    const std::vector<double> cycles = analysis::cycleFrequencies(w.left, 4800, kRate);
    ASSERT_GT(cycles.size(), 1000u);
    size_t matched = 0;
    for (double hz : {440.0, 554.37, 659.26}) {
        const size_t n = size_t(std::count_if(cycles.begin(), cycles.end(),
                                              [hz](double f) { return std::abs(f - hz) < kBin; }));
        EXPECT_GT(n, cycles.size() / 5) << hz << " Hz";
        matched += n;
    }
    EXPECT_GT(matched, cycles.size() * 8 / 10) << "cycles off every note of the arpeggio";
}

TEST_F(AsidRender, OutputOfTheFirstSynthChip)
{
    std::string script = "0 master 0x2000A 1\n";
    for (int note = 60; note < 72; ++note)
        script += "0.1 on " + std::to_string(note) + "\n";
    const std::string syx = dir / "out.syx";
    renderWav("--script " + quoted(dir.write("s.txt", script)) + " --seconds 0.5 --syx " + quoted(syx));
    const std::string bytes = fixtures::readFile(syx);
    const std::vector<uint8_t> s(bytes.begin(), bytes.end());

    // Split at F7.
    std::vector<std::vector<uint8_t>> messages(1);
    for (uint8_t b : s) {
        messages.back().push_back(b);
        if (b == 0xF7)
            messages.emplace_back();
    }
    ASSERT_TRUE(messages.back().empty()) << "the file ends inside a message";
    messages.pop_back();
    ASSERT_GT(messages.size(), 3u);
    const std::string name = "orbella C64 ASID Output";
    std::vector<uint8_t> text{0xF0, 0x2D, 0x4F};
    text.insert(text.end(), name.begin(), name.end());
    text.push_back(0xF7);
    EXPECT_EQ(messages[0], text);
    EXPECT_EQ(messages[1], (std::vector<uint8_t>{0xF0, 0x2D, 0x4C, 0xF7}));
    EXPECT_EQ(messages[2].size(), 37u);
    size_t gates = 0;
    for (size_t i = 3; i < messages.size(); ++i) {
        const std::vector<uint8_t>& m = messages[i];
        ASSERT_EQ(m.size(), 13u) << i;
        ASSERT_EQ(m[2], 0x4E) << i;
        // Mask byte 3, bits 1-3: control registers 4, 11, 18; data bit 0 is the gate.
        if ((m[6] & 0x0E) && (m[11] & 1))
            ++gates;
    }
    EXPECT_GT(gates, 0u);
}

TEST_F(AsidRender, InputPlaysChipFifteen)
{
    uint8_t image[25] = {};
    image[0] = 0x45;
    image[1] = 0x1D;
    image[5] = 0x00;
    image[6] = 0xF0;
    image[24] = 0x0F;
    image[4] = 0x11;
    std::vector<uint8_t> message;
    ASSERT_TRUE(buildAsidRegisters(image, message));
    std::string line = "0 sysex";
    char hex[4];
    for (uint8_t b : message) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    const std::string script = "0 master 0x10004 -1\n0 sysex F0 2D 4C F7\n" + line + "\n";
    const Wav w = renderWav("--script " + quoted(dir.write("s.txt", script)) + " --seconds 1");
    ASSERT_GE(w.left.size(), 4800 + kFft);
    const size_t peak = analysis::peakBin(w.left.data() + 4800, kFft);
    EXPECT_NEAR(analysis::binFrequency(peak, kFft, kRate), 440.0, kBin);
}

}  // namespace
