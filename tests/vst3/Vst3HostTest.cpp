// The built plug-in bundle end to end in the small host: classes listed, one note rendered
// through the plug-in, the engine bundle and the module, state and editor, teardown.

#include "tests/instrument/CommandLine.h"
#include "tests/vst3/EngineHome.h"

#include "Vst3Host.h"
#include "fixtures/Spectrum.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace enginehome;
using commandline::quoted;
using commandline::run;

std::string host(const std::string& arguments) { return quoted(VST3HOST_PATH) + " " + arguments; }

TEST(Vst3HostCommand, ListsTheThreeClasses)
{
    const auto r = run(host(quoted(PLUGIN_BUNDLE_PATH) + " --list"));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("vendor: Vantor Works"), std::string::npos) << r.output;
    for (const char* line : {"class 0: Audio Module Class | orbella C64 | 5C5CA79682FC437AB6539BA224BAB342",
                             "class 1: Component Controller Class | orbella C64Controller | 3B57678B49484734A76756FCF0F5EDA3",
                             "class 2: Plugin Compatibility Class | orbella C64 | D8118E1C279D435288D8FD4A96E37FD3"})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
}

// Help needs no bundle, wherever it stands, and goes to standard output.
TEST(Vst3HostCommand, HelpPrintsTheUsageAndSucceeds)
{
    for (const char* args : {"--help", "-h", "--note 60 --help", "/nonexistent/Nothing.vst3 --help"}) {
        const auto r = run("(" + host(args) + " 2>/dev/null)");
        EXPECT_EQ(r.exitCode, 0) << args << "\n" << r.output;
        for (const char* part : {"usage: vst3host BUNDLE", "--list", "--host-name TEXT", "--seconds S", "-o OUT.wav"})
            EXPECT_NE(r.output.find(part), std::string::npos) << args << ": " << part << "\n" << r.output;
    }
}

TEST(Vst3HostCommand, RefusesBadArgumentsAndMissingBundles)
{
    for (const std::string& args : {std::string(""), std::string("--bogus"), quoted(PLUGIN_BUNDLE_PATH) + " --rate x",
                                     quoted(PLUGIN_BUNDLE_PATH) + " --note 128", quoted(PLUGIN_BUNDLE_PATH) + " --block 0"}) {
        const auto r = run(host(args));
        EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.output;
        EXPECT_NE(r.output.find("usage: vst3host"), std::string::npos);
    }
    const auto missing = run(host("/nonexistent/Nothing.vst3 --list"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("cannot open /nonexistent/Nothing.vst3/Contents/x86_64-linux/Nothing.so"),
              std::string::npos)
        << missing.output;
}

class Vst3HostRender : public EngineHome
{
};

TEST_F(Vst3HostRender, OneNoteThroughPlugInEngineAndModule)
{
    fixtures::TempDir out;
    vst3host::Options o;
    o.bundle = PLUGIN_BUNDLE_PATH;
    o.output = out / "note.wav";
    ASSERT_TRUE(o.rate == 48000.0 && o.block == 512 && o.note == 69 && o.seconds == 1.0);
    std::ostringstream said;
    ASSERT_EQ(vst3host::run(o, said), 0) << said.str();
    EXPECT_NE(said.str().find("editor: X11EmbedWindowID not supported, NSView supported, size 640 x 480"),
              std::string::npos)
        << said.str();

    // The engine's view: created, started, set up, processed, and destroyed last.
    std::vector<int32_t> ops;
    for (const TestCall& c : calls())
        ops.push_back(c.opcode);
    ASSERT_FALSE(ops.empty());
    auto after = [&](size_t from, int32_t op) {
        const auto at = std::find(ops.begin() + int64_t(from), ops.end(), op);
        return size_t(at - ops.begin());
    };
    const size_t create = after(0, 9), start = after(create, 11), latency = after(start, 13), process = after(latency, 42);
    EXPECT_LT(process, ops.size()) << opcodes();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), 42), 94);  // 48000 frames in blocks of 512
    EXPECT_EQ(ops.back(), 10) << opcodes();

    commandline::Wav wav;
    ASSERT_TRUE(commandline::readWav(o.output, wav));
    ASSERT_EQ(wav.rate, 48000u);
    ASSERT_EQ(wav.left.size(), 48000u);
    EXPECT_EQ(wav.left, wav.right);
    const size_t n = 32768, from = wav.left.size() - n;
    for (const std::vector<float>* channel : {&wav.left, &wav.right}) {
        const fixtures::Spectrum s(std::vector<double>(channel->begin() + int64_t(from), channel->end()), 48000.0);
        EXPECT_NEAR(s.peakFrequency(50.0, 5000.0), 440.0, 48000.0 / double(n));
    }
}

}  // namespace
