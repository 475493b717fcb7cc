// The built C64Module end to end: loaded by the stand-in engine, and played by the command-line
// host at 48000 Hz in 256-frame blocks, without a chip database unless a test writes one. Sound
// is checked on a Hann-windowed FFT of 32768 samples (bins of 1.46 Hz).

#include "RenderFixture.h"
#include "SignalAnalysis.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/ChipLogWriters.h"
#include "fixtures/Spectrum.h"
#include "fixtures/TempDir.h"
#include "fixtures/VgmBuilder.h"
#include "fixtures/c64/C64Tunes.h"
#include "shims/engine/Engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace commandline;

constexpr double kRate = 48000.0;
constexpr size_t kFft = 32768;
constexpr double kBin = kRate / kFft;

double noteHz(int note)
{
    return 440.0 * std::exp2((note - 69) / 12.0);
}

class C64Render : public RenderFixture
{
protected:
    Wav renderScript(const std::string& script, double seconds)
    {
        return renderWav("--script " + quoted(dir.write("notes.txt", script)) + " --seconds " +
                         std::to_string(seconds));
    }
    static double peakHz(const std::vector<float>& x, double fromSeconds)
    {
        const size_t at = size_t(fromSeconds * kRate);
        if (x.size() < at + kFft)
            return 0.0;
        return analysis::binFrequency(analysis::peakBin(x.data() + at, kFft), kFft, kRate);
    }
    // About the mean: the chips' DC level leaks through the 5 Hz high-pass, whose coefficients
    // are rounded to float, as a constant of about 0.002 (-54 dBFS).
    static double rmsBetween(const std::vector<float>& x, double from, double to)
    {
        const size_t first = size_t(from * kRate);
        return analysis::rmsAboutMean(x.data() + first, size_t(to * kRate) - first);
    }
};

TEST_F(C64Render, NoteSixtyNineIs440HzOnChannelZeroOnly)
{
    const Wav w = renderWav("--note 69 --seconds 1 --module-channels");
    ASSERT_EQ(w.left.size(), 48000u);
    EXPECT_NEAR(peakHz(w.left, 0.0), 440.0, kBin);
    EXPECT_EQ(w.right, std::vector<float>(w.right.size(), 0.0f));
}

TEST_F(C64Render, TwelveNotesSoundTogether)
{
    const Wav w = renderWav("--note 60,61,62,63,64,65,66,67,68,69,70,71 --seconds 1");
    ASSERT_EQ(w.left.size(), 48000u);
    const std::vector<double> m = analysis::magnitudes(w.left.data(), kFft);
    std::vector<double> sorted = m;
    std::nth_element(sorted.begin(), sorted.begin() + ptrdiff_t(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (int note = 60; note <= 71; ++note) {
        const size_t near = size_t(std::lround(noteHz(note) / kBin));
        size_t k = near;
        for (size_t j = near - 1; j <= near + 1; ++j)
            if (m[j] > m[k])
                k = j;
        EXPECT_GT(m[k], m[k - 1]) << note;
        EXPECT_GT(m[k], m[k + 1]) << note;
        EXPECT_GE(20.0 * std::log10(m[k] / median), 20.0) << note;
    }
}

TEST_F(C64Render, ANoteEndsWithItsRelease)
{
    const Wav w = renderScript("0 on 69\n0.5 off 69\n", 1.0);
    const double held = rmsBetween(w.left, 0.2, 0.3);
    EXPECT_GT(held, 0.01);
    EXPECT_LE(rmsBetween(w.left, 0.7, 0.8), held * 1e-3);  // 60 dB down
}

TEST_F(C64Render, PitchBendOverTheSetRange)
{
    for (const auto& [bend, hz] : {std::pair{"1.0", 493.883}, {"-1.0", 391.995}}) {
        const Wav w = renderScript(std::string("0 master 1 200\n0 on 69\n0.5 item 128 ") + bend + "\n",
                                   2.0);
        EXPECT_NEAR(peakHz(w.left, 0.1), 440.0, kBin) << bend;
        EXPECT_NEAR(peakHz(w.left, 0.6), hz, kBin) << bend;
    }
}

// The demo's notes held at once at their most, from its printed script.
size_t mostNotesHeld(const std::string& script)
{
    std::multimap<double, std::pair<std::string, int>> timeline;
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        double t = 0.0;
        std::string command;
        int note = 0;
        if (words >> t >> command >> note && (command == "on" || command == "off"))
            timeline.emplace(t, std::pair{command, note});
    }
    size_t held = 0, most = 0;
    for (const auto& [t, e] : timeline) {
        held = e.first == "on" ? held + 1 : held - std::min<size_t>(held, 1);
        most = std::max(most, held);
    }
    return most;
}

TEST_F(C64Render, DemoPhraseWithoutNotesOrScript)
{
    const CommandResult printed = run(render("--print-demo"));
    ASSERT_EQ(printed.exitCode, 0);
    EXPECT_GE(mostNotesHeld(printed.output), 6u);
    EXPECT_NE(printed.output.find(" item 128 "), std::string::npos);  // a pitch bend
    EXPECT_NE(printed.output.find(" item 865 "), std::string::npos);  // a synth parameter

    const Wav w = renderWav("");
    EXPECT_EQ(w.format, 3);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 48000u);
    EXPECT_EQ(w.left.size(), 8u * 48000u);
    EXPECT_GT(analysis::rms(w.left.data(), w.left.size()), 0.01);  // above -40 dBFS
    EXPECT_EQ(w.right, w.left);  // the mono instrument on both sides

    const Wav module = renderWav("--seconds 0.5 --module-channels");
    ASSERT_EQ(module.left.size(), 24000u);
    EXPECT_TRUE(std::equal(module.left.begin(), module.left.end(), w.left.begin()));
    EXPECT_EQ(module.right, std::vector<float>(module.right.size(), 0.0f));
}

// Skipping silent chips is exact: the same file, byte for byte, as rendering every cycle. After
// a note's release the chips rest on their DC level and the output chain settles on it: the
// last 20 s of a one-note script with 30 s of silence after it are exact zeros.
TEST_F(C64Render, ExactRenderWritesTheSameFile)
{
    const std::string oneNote = " --script " + quoted(dir.write("one.txt", "0 on 60\n0.5 off 60\n")) + " --seconds 30.5";
    for (const std::string& options : {std::string("--note 60 --seconds 10"), std::string(), oneNote}) {
        const std::string skipping = dir / "skipping.wav", exact = dir / "exact.wav";
        ASSERT_EQ(run(render(options + kNoDatabase + " -o " + quoted(skipping))).exitCode, 0);
        ASSERT_EQ(run(render(options + kNoDatabase + " --exact-render -o " + quoted(exact))).exitCode, 0);
        const std::string a = fixtures::readFile(skipping), b = fixtures::readFile(exact);
        ASSERT_GT(a.size(), 400000u) << options;
        EXPECT_TRUE(a == b) << "'" << options << "' differs";
    }
    Wav w;
    ASSERT_TRUE(readWav(dir / "skipping.wav", w));
    ASSERT_EQ(w.left.size(), size_t(30.5 * kRate));
    EXPECT_GT(rmsBetween(w.left, 0.1, 0.5), 0.01);
    const auto tail = w.left.begin() + ptrdiff_t(10.5 * kRate);
    EXPECT_EQ(std::count(tail, w.left.end(), 0.0f), w.left.end() - tail);
}

TEST_F(C64Render, AFileNoReaderTakesPlaysNoDemo)
{
    const std::string file = dir.write("unknown.bin", std::string(4096, '\x5A'));
    const Wav w = renderWav(quoted(file) + " --seconds 0.5");
    ASSERT_EQ(w.left.size(), 24000u);
    EXPECT_LT(rmsBetween(w.left, 0.0, 0.5), 1e-3);  // below -60 dBFS: no notes
}

// Register logs given as FILE open through the register-log reader: the title reaches text slot
// 1; a SID log plays its note, and logs of chips the instrument does not play render their
// length in silence, titled as not playable by the player display.
TEST_F(C64Render, RegisterLogsOpenAsFiles)
{
    const std::string vgmx = dir.write("song.vgmx", "<VGMX>\n<Chip type=\"6581\" clock=\"985248\" rate=\"44100\">\n"
                                                    "<W r=\"24\" v=\"15\" dt=\"0\"/>\n<W r=\"5\" v=\"0\" dt=\"0\"/>\n"
                                                    "<W r=\"6\" v=\"240\" dt=\"0\"/>\n<W r=\"0\" v=\"69\" dt=\"0\"/>\n"
                                                    "<W r=\"1\" v=\"29\" dt=\"0\"/>\n<W r=\"4\" v=\"17\" dt=\"0\"/>\n"
                                                    "<D dt=\"132300\"/>\n</Chip>\n</VGMX>\n");
    const std::string log = dir / "log.txt";
    const Wav sid = renderWav(quoted(vgmx) + " --seconds 2 --module-channels --log " + quoted(log));
    ASSERT_EQ(sid.left.size(), 96000u);
    EXPECT_EQ(sid.right, std::vector<float>(sid.right.size(), 0.0f));
    const std::string hostLog = fixtures::readFile(log);
    EXPECT_NE(hostLog.find("block=32391 index=1 text=\" - song.vgmx\""), std::string::npos) << hostLog;
    EXPECT_NEAR(peakHz(sid.left, 0.25), 440.0, kBin);  // registers 0/1 = 0x1D45
    const double sidRms = rmsBetween(sid.left, 0.25, 2.0);
    EXPECT_GT(sidRms, 0.01);

    fixtures::VgmBuilder vgm;
    vgm.clock(fixtures::VgmBuilder::kYm2612, 7670453);
    for (uint8_t ch = 0; ch < 3; ++ch)
        vgm.write(0x52, uint8_t(0xA4 + ch), 0x22).write(0x52, uint8_t(0xA0 + ch), 0x69).write(0x52, 0x28, uint8_t(0xF0 | ch));
    vgm.wait(44100 * 2).end();
    fixtures::YmFile ym;
    ym.tag = "YM3!";
    ym.frames = 100;
    const std::pair<std::string, std::string> files[] = {
        {dir.write("opn2.vgz", fixtures::asString(fixtures::makeGzip(vgm.text()))),
         " - * No suitable data found! *"},
        {dir.write("tune.ym", fixtures::asString(fixtures::makeGzip(fixtures::asString(fixtures::makeYm(ym))))),
         "YM3! import - * No suitable data found! *"},
    };
    for (const auto& [file, title] : files) {
        const Wav w = renderWav(quoted(file) + " --seconds 2 --log " + quoted(log));
        ASSERT_EQ(w.left.size(), 96000u) << file;
        EXPECT_LT(rmsBetween(w.left, 0.0, 2.0), sidRms * 1e-3) << file;  // 60 dB below the SID log
        const std::string opened = fixtures::readFile(log);
        EXPECT_NE(opened.find("block=32391 index=1 text=\"" + title + "\""), std::string::npos) << opened;
    }
}

std::string bytesOf(const fixtures::PsidBuilder& tune)
{
    const fixtures::Bytes b = tune.bytes();
    return std::string(b.begin(), b.end());
}

// A PSID in the KERNAL's area, whose calls run with the KERNAL banked out, played on a machine
// that booted the free ROM set: ten seconds of its notes, note for note those it plays on a
// machine without ROMs (where the boot does nothing).
TEST_F(C64Render, TuneUnderTheKernalPlaysAfterTheFreeRomBoot)
{
    const std::string roms = FREE_ROM_DIR;
    if (!std::filesystem::exists(roms + "/kernal_generic.rom"))
        GTEST_SKIP() << "the free ROM set is not in " << roms << " (it comes with the shared folder)";
    using fixtures::c64_tunes::kKernalAreaNotes;
    const std::string tune = dir.write("kernal.sid", bytesOf(fixtures::c64_tunes::kernalAreaTune()));
    const Wav bare = renderWav(quoted(tune) + " --seconds 10");
    const Wav booted = renderWav(quoted(tune) + " --seconds 10 --data " + quoted(roms));
    ASSERT_EQ(booted.left.size(), bare.left.size());
    // 50 play calls of 19,656 cycles per note: note k sounds from 0.9975 k seconds on.
    for (int k = 0; k < 10; ++k) {
        const double at = k + 0.2;
        const double bareHz = peakHz(bare.left, at);
        EXPECT_NEAR(bareHz, kKernalAreaNotes[k % 8], 2 * kBin) << "note " << k << " without ROMs";
        EXPECT_NEAR(peakHz(booted.left, at), bareHz, kBin) << "note " << k << " after the boot";
        EXPECT_GT(rmsBetween(booted.left, at, at + 0.5), 0.5 * rmsBetween(bare.left, at, at + 0.5)) << "note " << k;
    }
}

// An RSID that banks BASIC out itself ($36 to $01) and plays from $A000: without ROMs the port's
// direction register is set up as a KERNAL reset leaves it, so the bank switch takes.
TEST_F(C64Render, RsidUnderTheBasicAreaPlaysWithoutRoms)
{
    const std::string tune = dir.write("basic.sid", bytesOf(fixtures::c64_tunes::basicAreaRsid(440.0)));
    const Wav w = renderWav(quoted(tune) + " --seconds 1");
    EXPECT_NEAR(peakHz(w.left, 0.2), 440.0, 2 * kBin);
    EXPECT_GT(rmsBetween(w.left, 0.2, 0.9), 0.01);
}

// Frequency registers of notes: 440 Hz and 660 Hz on the PAL clock, 440 Hz on the NTSC one.
constexpr uint16_t kPal440 = 7493, kPal660 = 11239, kNtsc440 = 7218;

// The strongest frequency between 300 and 800 Hz, from 0.2 s on.
double toneHz(const Wav& w)
{
    const size_t from = size_t(0.2 * kRate);
    if (w.left.size() <= from)
        return 0.0;
    return fixtures::Spectrum(std::vector<double>(w.left.begin() + ptrdiff_t(from), w.left.end()), kRate)
        .peakFrequency(300.0, 800.0);
}

// Pixels of one colour in a PPM canvas of 384 x 272.
size_t pixelsOf(const std::string& ppm, uint32_t rgb)
{
    const std::string header = "P6\n384 272\n255\n";
    if (ppm.compare(0, header.size(), header) != 0)
        return 0;
    size_t n = 0;
    for (size_t at = header.size(); at + 3 <= ppm.size(); at += 3)
        n += (uint32_t(uint8_t(ppm[at])) << 16 | uint32_t(uint8_t(ppm[at + 1])) << 8 | uint8_t(ppm[at + 2])) == rgb;
    return n;
}

TEST_F(C64Render, SongsOfATuneAndItsHeader)
{
    const fixtures::PsidBuilder tune = fixtures::c64_tunes::notesTune({kPal440, kPal660})
                                           .title("Two Songs")
                                           .author("Someone")
                                           .released("2024 Tests")
                                           .flags(0x14);  // PAL, 6581
    const std::string file = dir.write("two.sid", bytesOf(tune));
    EXPECT_NEAR(toneHz(renderWav(quoted(file) + " --seconds 1")), 440.0, 1.0);
    EXPECT_NEAR(toneHz(renderWav(quoted(file) + " --seconds 1 --song 2")), 660.0, 1.0);
    fixtures::PsidBuilder second = tune, none = tune;
    const std::string startsSecond = dir.write("second.sid", bytesOf(second.songs(2, 2)));
    const std::string startsAtZero = dir.write("zero.sid", bytesOf(none.songs(2, 0)));
    EXPECT_NEAR(toneHz(renderWav(quoted(startsSecond) + " --seconds 1")), 660.0, 1.0);
    EXPECT_NEAR(toneHz(renderWav(quoted(startsAtZero) + " --seconds 1")), 440.0, 1.0) << "start song 0 is song 1";

    const CommandResult three = run(render(quoted(file) + " --song 3 -o " + quoted(dir / "three.wav")));
    EXPECT_EQ(three.exitCode, 2);
    EXPECT_EQ(three.output, "c64render: " + file + " has 2 songs\n");
    EXPECT_NE(access((dir / "three.wav").c_str(), F_OK), 0);

    const CommandResult list = run(render(quoted(file) + " --list"));
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.output,
              "title Two Songs\nauthor Someone\nreleased 2024 Tests\nsongs 2\nstart 1\nclock PAL\nmodel 6581\n");
    fixtures::PsidBuilder twoSids = tune;
    const std::string stereo = dir.write("stereo.sid", bytesOf(twoSids.flags(0x98).secondSid(0x42)));
    const CommandResult both = run(render(quoted(stereo) + " --list"));
    EXPECT_NE(both.output.find("\nclock NTSC\nmodel 6581 8580\n"), std::string::npos) << both.output;
}

// The machine follows the tune's clock: an NTSC-only tune plays its 440 Hz on the NTSC machine,
// whose palette the canvas then shows (the red border, colour 2).
TEST_F(C64Render, NtscTuneFollowsItsClock)
{
    const std::string file = dir.write("ntsc.sid", bytesOf(fixtures::c64_tunes::notesTune({kNtsc440}).flags(0x18)));
    const std::string ntsc = dir / "ntsc.ppm", pal = dir / "pal.ppm";
    EXPECT_NEAR(toneHz(renderWav(quoted(file) + " --seconds 1 --canvas " + quoted(ntsc))), 440.0, 1.0);
    EXPECT_NEAR(toneHz(renderWav(quoted(file) + " --seconds 1 --pal --canvas " + quoted(pal))), 423.9, 1.0);
    EXPECT_GT(pixelsOf(fixtures::readFile(ntsc), 0xB42455), 1000u);
    EXPECT_EQ(pixelsOf(fixtures::readFile(pal), 0xB42455), 0u);
    EXPECT_GT(pixelsOf(fixtures::readFile(pal), 0x68372B), 1000u);
}

TEST_F(C64Render, HostTuningWithA4)
{
    const Wav w = renderWav("--note 69 --a4 432 --seconds 1");
    EXPECT_NEAR(toneHz(w), 432.0, 1.0);
}

TEST_F(C64Render, FilesThatMayNeedRomsSaySoWithoutThem)
{
    const std::string note = "c64render: no C64 ROMs (give --data FOLDER with kernal, basic and chargen images; "
                             "names tried: kernal, kernal.rom, kernal.c64, kernal.901227-03.bin, 901227-03.u4, "
                             "kernal_generic.rom); this file may need them\n";
    fixtures::Bytes program = {0x01, 0x08};
    const fixtures::Bytes basic = fixtures::c64_tunes::basicProgram(fixtures::c64_tunes::basicSidLoop());
    program.insert(program.end(), basic.begin(), basic.end());
    const struct
    {
        std::string file;
        bool note;
    } kCases[] = {
        {dir.write("raster.sid", bytesOf(fixtures::PsidBuilder().rsid().code(fixtures::c64_tunes::rasterTuneCode()))),
         true},
        {dir.write("loop.prg", std::string(program.begin(), program.end())), true},
        {dir.write("counter.sid", bytesOf(fixtures::c64_tunes::counterTune())), false},
    };
    for (const auto& c : kCases) {
        const CommandResult r = run(render(quoted(c.file) + " --seconds 0.1 -o " + quoted(dir / "x.wav")));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.find(note) != std::string::npos, c.note) << c.file << "\n" << r.output;
    }
    if (access(FREE_ROM_DIR, R_OK) != 0)
        GTEST_SKIP() << "no free ROM set at " << FREE_ROM_DIR << " (the CI machine has it)";
    const CommandResult withRoms = run(render(quoted(kCases[1].file) + " --seconds 0.1 --data " + quoted(FREE_ROM_DIR) +
                                              " -o " + quoted(dir / "x.wav")));
    EXPECT_EQ(withRoms.exitCode, 0) << withRoms.output;
    EXPECT_EQ(withRoms.output.find("no C64 ROMs"), std::string::npos) << withRoms.output;
}

// A tune that ends its note after 50 frames (1.0 s) went silent then; a log of chips the
// instrument does not play is silent throughout, and says why.
TEST_F(C64Render, SilenceIsReported)
{
    const std::string stops = dir.write("stops.sid", bytesOf(fixtures::c64_tunes::notesTune({kPal440}, 50)));
    const std::string wav = dir / "x.wav";
    const CommandResult r = run(render(quoted(stops) + " --seconds 7 -o " + quoted(wav)));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string said = "c64render: the render went silent at ";
    const size_t at = r.output.find(said);
    ASSERT_NE(at, std::string::npos) << r.output;
    EXPECT_NEAR(std::stod(r.output.substr(at + said.size())), 1.0, 0.1) << r.output;
    const CommandResult failing = run(render(quoted(stops) + " --seconds 7 --fail-on-silence -o " + quoted(wav)));
    EXPECT_EQ(failing.exitCode, 3) << failing.output;
    Wav kept;
    EXPECT_TRUE(readWav(wav, kept)) << "the render itself is kept";

    const std::string holds = dir.write("holds.sid", bytesOf(fixtures::c64_tunes::notesTune({kPal440})));
    const CommandResult held = run(render(quoted(holds) + " --seconds 7 --fail-on-silence -o " + quoted(wav)));
    EXPECT_EQ(held.exitCode, 0) << held.output;
    EXPECT_EQ(held.output.find("silent"), std::string::npos) << held.output;

    fixtures::VgmBuilder vgm;
    vgm.clock(fixtures::VgmBuilder::kYm2612, 7670453);
    vgm.write(0x52, 0xA4, 0x22).write(0x52, 0xA0, 0x69).write(0x52, 0x28, 0xF0).wait(44100).end();
    const std::string log = dir.write("opn2.vgm", vgm.text());
    const CommandResult quiet = run(render(quoted(log) + " --seconds 1 --fail-on-silence -o " + quoted(wav)));
    EXPECT_EQ(quiet.exitCode, 3) << quiet.output;
    EXPECT_NE(quiet.output.find("c64render: the render is silent\nc64render: likely because the log's chips are "
                                "not ones the instrument plays"),
              std::string::npos)
        << quiet.output;
}

// A long render stopped by a signal while it writes (once it has written 1 MB, and for the
// first two not before 2 s): the exit status says which, and nothing of it is left, neither at
// -o nor as a temporary file; a WAV already at -o keeps its bytes.
TEST_F(C64Render, ASignalStopsARenderAndLeavesNothing)
{
    const struct
    {
        int signal;
        bool existing;  // -o already holds a WAV
        int seconds;    // at least this long after the start
    } kCases[] = {{SIGINT, false, 2}, {SIGINT, true, 2}, {SIGTERM, true, 0}, {SIGHUP, false, 0}};
    const std::string wav = dir / "out.wav";
    for (const auto& c : kCases) {
        std::remove(wav.c_str());
        if (c.existing)
            renderWav("--note 69 --seconds 0.1");
        const std::string before = c.existing ? fixtures::readFile(wav) : "";
        const auto listing = fixtures::folderContents(dir.path());
        BackgroundCommand command(render("--note 60 --seconds 600 -o " + quoted(wav)));
        ASSERT_TRUE(command.started());
        // Until the render has written 1 MB somewhere in the folder (at most 30 s).
        const auto start = std::chrono::steady_clock::now();
        auto written = [&] {
            for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
                if (entry.path().filename() != "out.wav" && entry.is_regular_file() && entry.file_size() >= (1u << 20))
                    return true;
            return false;
        };
        while ((!written() || std::chrono::steady_clock::now() - start < std::chrono::seconds(c.seconds)) &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(30))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(written()) << "no temporary file beside -o grew";
        const CommandResult r = command.stop(c.signal);
        EXPECT_EQ(r.exitCode, 128 + c.signal) << c.signal << "\n" << r.output;
        EXPECT_NE(r.output.find("c64render: interrupted\n"), std::string::npos) << r.output;
        EXPECT_TRUE(fixtures::folderContents(dir.path()) == listing) << "signal " << c.signal;
        if (c.existing) {
            EXPECT_TRUE(fixtures::readFile(wav) == before) << "the WAV at -o changed";
        }
    }

    // A log written into a pipe whose reader stops: the broken pipe ends the render the same way.
    std::remove(wav.c_str());
    const auto listing = fixtures::folderContents(dir.path());
    const CommandResult piped = run(render("--note 60 --seconds 600 -o " + quoted(wav) + " --log /dev/stdout") +
                                    " 2>/dev/null | head -c 100 >/dev/null");
    EXPECT_EQ(piped.exitCode, 0) << piped.output;
    EXPECT_TRUE(fixtures::folderContents(dir.path()) == listing);
}

// render.sh with the built c64render (C64RENDER: nothing is installed or built).
class RenderSh : public RenderFixture
{
protected:
    CommandResult renderSh(const std::string& arguments)
    {
        return run("cd " + quoted(dir.path()) + " && C64RENDER=" + quoted(C64RENDER_PATH) + " " + quoted(RENDER_SH) +
                   " " + arguments);
    }
};

TEST_F(RenderSh, AFileRendersIntoItsOwnName)
{
    const std::string file = dir.write("X.sid", fixtures::readFile(THREE_NOTES_SID));
    const CommandResult r = renderSh("--exact-render X.sid --seconds 0.5");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Wav w;
    ASSERT_TRUE(readWav(dir / "X.wav", w)) << r.output;
    EXPECT_EQ(w.left.size(), 24000u);
    EXPECT_NE(access((dir / "demo.wav").c_str(), F_OK), 0);
}

TEST_F(RenderSh, PrintedDemoReplaysTheDemo)
{
    ASSERT_EQ(renderSh("--print-demo > d.txt").exitCode, 0);
    const CommandResult replay = renderSh("--script d.txt --seconds 8 -o replay.wav");
    ASSERT_EQ(replay.exitCode, 0) << replay.output;
    const CommandResult demo = renderSh("");
    ASSERT_EQ(demo.exitCode, 0) << demo.output;
    const std::string a = fixtures::readFile(dir / "demo.wav"), b = fixtures::readFile(dir / "replay.wav");
    EXPECT_GT(a.size(), 8u * 48000 * 8);
    EXPECT_TRUE(a == b) << "the replayed script renders other samples";
}

// A square wave written to the volume register with the voices off. On a 6581 the mixer's DC
// moves with the volume, so such samples play loud; on an 8580 they are faint.
TEST_F(C64Render, VolumeRegisterSamplesPlayLoudOnThe6581)
{
    using fixtures::c64_tunes::kVolumeSquareHz;
    const std::string file = quoted(dir.write("digi.sid", bytesOf(fixtures::c64_tunes::volumeSquareTune())));
    // An 8580 of a chip database: table model, the mixer's DC nearly the output level, no bias.
    fixtures::ChipDescription chip8580;
    chip8580.text("Name", "8580R5 test").text("Type", "8580").text("Mark", "M").text("Date", "D").text("Bcde", "B")
        .leaf("Conf", fixtures::confBytes(1, 0, 0, 4))
        .leaf("Fvob", fixtures::floatBytes({0.0f}))
        .filterLeaf("Glbl", fixtures::floatBytes({4.0f, 0, 0, 0, 0.005f, 0.005f, 0.005f, 1, 1, 1, 0, 0, 0, 1, 1, 1}));
    const fixtures::Bytes db = fixtures::writeChipDatabase({chip8580}, fixtures::DatabaseForm::Riff);
    const std::string database = dir.write("chips.db", std::string(db.begin(), db.end()));

    // dBFS of the square's fundamental over the second half of a one-second render; `script`
    // sets tune chip 12's parameters (items 1216 + n).
    const auto level = [&](const std::string& script, const std::string& chips = "") {
        const std::string options = file + " --seconds 1 --script " + quoted(dir.write("items.txt", script));
        const Wav w = renderWav(options, chips);
        EXPECT_EQ(w.left.size(), 48000u) << script;
        if (w.left.size() < 48000)
            return -200.0;
        const fixtures::Spectrum spectrum(std::vector<double>(w.left.begin() + 24000, w.left.end()), kRate);
        EXPECT_NEAR(spectrum.peakFrequency(500.0, 2000.0), kVolumeSquareHz, 1.0) << script;
        return 20.0 * std::log10(spectrum.amplitudeAt(kVolumeSquareHz) + 1e-30);
    };
    const double builtIn = level("");
    EXPECT_GT(builtIn, -40.0) << "the built-in 6581";
    // "Volume DC Bias" (item 1221) moves the level: lowered by 0.3, the square loses most of it.
    EXPECT_LT(level("0 item 1221 -0.3"), builtIn - 6.0);
    EXPECT_GT(level("0 item 1221 0.5"), builtIn + 3.0);
    // With the database the tune chip starts on chip 18, past its end: the built-in profile again.
    EXPECT_NEAR(level("", database), builtIn, 6.0);
    const double db8580 = level("0 item 1216 0", database);
    EXPECT_LT(db8580, builtIn - 20.0) << "the 8580 keeps its own volume DC bias";
}

TEST(C64Module, ExportsExactlyTheFourNames)
{
    EXPECT_EQ(definedDynamicSymbols(C64MODULE_PATH),
              (std::set<std::string>{"deleteInstance", "fillTarnPluginInfo", "getNumTarnPlugins",
                                     "newInstance"}));
}

TEST(C64Module, FirstBlockReportsTheChipRateAndTheSynthParameters)
{
    std::string error;
    auto module = vantor::engine::ModuleLibrary::open(C64MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;
    vantor::engine::EngineConfig config;
    config.chipDatabasePath = "/nonexistent/chips.db";
    vantor::engine::Instance instance(*module, config);
    ASSERT_TRUE(instance.create(module->identifier(0), error)) << error;
    EXPECT_FALSE(instance.create(module->identifier(0), error));
    ASSERT_TRUE(instance.start(error)) << error;
    EXPECT_EQ(instance.getInitResult(), 1u);
    EXPECT_EQ(instance.getOutputCount(), 2u);
    EXPECT_EQ(instance.getFlags(), 0x3Cu);
    EXPECT_EQ(instance.getDescriptorCount(), 1792u);
    EXPECT_EQ(instance.getChannelConfigAccepted(), 1u);
    EXPECT_EQ(instance.getItemValues()[258], 24000.0f);

    ASSERT_EQ(instance.process(256, {}), 0);
    const auto& out = instance.getOutgoing();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0].kind, 0xB0u);
    EXPECT_EQ(out[0].index, 262);
    EXPECT_EQ(out[0].value, 985248.0f);
    for (int32_t i = 864; i <= 870; ++i)
        EXPECT_EQ(std::count_if(out.begin(), out.end(),
                                [i](const vantor::HDMIDIEvent& e) { return e.index == i; }),
                  12)
            << i;
    EXPECT_EQ(instance.getItemValues()[262], 985248.0f);
}

}  // namespace
