// A capture document turned into the patch by the command-line host: an arpeggio of 0, 4 and 7
// semitones over a held A4 at 48000 Hz. The notes change every 20 ms, which spreads a spectrum's
// lines away from them, so each cycle of the pulse wave is measured between interpolated rising
// zero crossings.
#include "CommandLine.h"
#include "SignalAnalysis.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace commandline;

constexpr double kRate = 48000.0;

// 60 frames of 19656 cycles: pulse wave, gate held, PW 0x800, AD 0x00, SR 0xF0, volume 15,
// frequency registers cycling A4, C#5, E5.
std::string arpeggioDocument()
{
    const uint16_t notes[] = {7493, 9441, 11227};
    std::string text = "<VGMX>\n<Chip id=\"0\" type=\"6581\" clock=\"985248\" rate=\"985248\">\n";
    auto write = [&text](int reg, int value) {
        text += "<W r=\"" + std::to_string(reg) + "\" v=\"" + std::to_string(value) + "\" dt=\"10\"/>\n";
    };
    for (int r = 0; r < 24; ++r)
        write(r, 0);
    text += "<D dt=\"10\"/>\n";
    for (int i = 0; i < 60; ++i) {
        const uint16_t f = notes[i % 3];
        const int regs[7] = {f & 0xFF, f >> 8, 0x00, 0x08, 0x41, 0x00, 0xF0};
        for (int r = 0; r < 7; ++r)
            write(r, regs[r]);
        for (int r : {7, 8, 14, 15, 21, 22, 23})
            write(r, 0);
        write(24, 0x0F);
        text += "<D dt=\"19506\"/>\n";
    }
    return text + "<D dt=\"985248\"/>\n</Chip>\n</VGMX>\n";
}

TEST(CaptureImportRender, ArpeggioCapturePlaysItsThreeNotes)
{
    fixtures::TempDir dir;
    const std::string capture = dir.write("arp.vgmx", arpeggioDocument());
    const std::string wav = dir / "arp.wav";
    const CommandResult r = run(render("--import " + quoted(capture) + " --note 69 --seconds 2 -o " + quoted(wav) +
                                       " --log " + quoted(dir / "log.txt")));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string log = fixtures::readFile(dir / "log.txt");
    EXPECT_NE(log.find("text=\"source=STEP0;destination=L01 Transpose;MATH=OFFSET"), std::string::npos) << log;

    Wav w;
    ASSERT_TRUE(readWav(wav, w));
    const std::vector<double> cycles = analysis::cycleFrequencies(w.left, 4800, kRate);
    ASSERT_GT(cycles.size(), 1000u);
    size_t matched = 0;
    for (double hz : {440.0, 554.37, 659.26}) {
        const size_t n = size_t(std::count_if(cycles.begin(), cycles.end(), [hz](double f) {
            return std::abs(f - hz) < hz * 0.005;
        }));
        EXPECT_GT(n, cycles.size() / 5) << hz << " Hz";  // 20 ms of each: 8.8, 11.1 and 13.2 cycles
        matched += n;
    }
    EXPECT_GT(matched, cycles.size() * 8 / 10) << "cycles off every note of the arpeggio";
}

}  // namespace
