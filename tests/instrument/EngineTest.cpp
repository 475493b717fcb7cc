// The stand-in engine and the command-line host, against the sine test module.

#include "CommandLine.h"
#include "SignalAnalysis.h"
#include "fixtures/TempDir.h"
#include "fixtures/c64/PsidBuilder.h"
#include "shims/engine/Engine.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using vantor::engine::EngineConfig;
using vantor::engine::Instance;
using vantor::engine::ModuleLibrary;
using namespace commandline;

size_t firstSound(const std::vector<float>& x)
{
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i] != 0.0f)
            return i;
    return x.size();
}

TEST(CommandLineHost, RendersANoteThroughTheModule)
{
    fixtures::TempDir dir;
    const std::string wav = dir / "out.wav", log = dir / "log.txt";
    const CommandResult r = run(render("--module " + quoted(SINE_MODULE_PATH) + " --note 69 --seconds 1 " +
                             "--rate 48000 --module-channels -o " + quoted(wav) + " --log " + quoted(log)));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Wav w;
    ASSERT_TRUE(readWav(wav, w));
    EXPECT_EQ(w.format, 3);
    EXPECT_EQ(w.rate, 48000u);
    ASSERT_EQ(w.left.size(), 48000u);
    const size_t n = 32768;
    EXPECT_NEAR(analysis::binFrequency(analysis::peakBin(w.left.data(), n), n, 48000.0), 440.0,
                48000.0 / n);
    EXPECT_EQ(w.right, std::vector<float>(48000, 0.0f));
    EXPECT_NE(fixtures::readFile(log).find("host op=13 a=69 "), std::string::npos);

    const CommandResult low = run(render("--module " + quoted(SINE_MODULE_PATH) + " --note 69 --seconds 1 " +
                               "--rate 48000 --a4 220 -o " + quoted(wav)));
    ASSERT_EQ(low.exitCode, 0) << low.output;
    ASSERT_TRUE(readWav(wav, w));
    EXPECT_NEAR(analysis::binFrequency(analysis::peakBin(w.left.data(), n), n, 48000.0), 220.0,
                48000.0 / n);
}

TEST(CommandLineHost, ScriptTimesLandOnTheirFrames)
{
    fixtures::TempDir dir;
    const std::string wav = dir / "out.wav", log = dir / "log.txt";
    const std::string script = dir.write("notes.txt",
                                         "# a late note\n"
                                         "0.5 on 69   # half a second in\n"
                                         "\n"
                                         "0.75 off 69\n"
                                         "0.1 item 3 0.75\n"
                                         "0.2 midi 0x90 60 100\n"
                                         "0.3 master 7 2.5\n");
    const CommandResult r = run(render("--module " + quoted(SINE_MODULE_PATH) + " --script " + quoted(script) +
                             " --seconds 1 --rate 48000 --block 100 -o " + quoted(wav) + " --log " +
                             quoted(log)));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Wav w;
    ASSERT_TRUE(readWav(wav, w));
    ASSERT_EQ(w.left.size(), 48000u);
    EXPECT_EQ(firstSound(w.left), 24001u);  // sin(0) is 0: sound from the second frame
    for (size_t i = 36000; i < 48000; ++i)
        ASSERT_EQ(w.left[i], 0.0f) << i;
    const std::string text = fixtures::readFile(log);
    // Frame 4800 is offset 0 of the block at 4800; 24000 offset 0 of the block at 24000.
    EXPECT_NE(text.find("out kind=0xb0 index=3 value=0.75 offset=0"), std::string::npos) << text;
    EXPECT_NE(text.find("dispatch op=21"), std::string::npos);
    EXPECT_NE(text.find("block frame=24000 frames=100 in=1 out=1"), std::string::npos);
}

TEST(CommandLineHost, ProgressOnATerminalForLongRendersOnly)
{
    fixtures::TempDir dir;
    const fixtures::Bytes psid = fixtures::PsidBuilder().code({0x60, 0x60}).bytes();
    const std::string file = dir.write("tune.sid", std::string(psid.begin(), psid.end()));
    const std::string out = " -o " + quoted(dir / "out.wav");
    const struct
    {
        std::string options;
        bool progress;
    } kCases[] = {
        {"--module " + quoted(SINE_MODULE_PATH) + " --note 69 --seconds 10.5" + out, true},
        {"--module " + quoted(SINE_MODULE_PATH) + " --note 69 --seconds 10" + out, false},
        {quoted(file) + " --module " + quoted(BLOCK_MODULE_PATH) + " --seconds 0.05" + out, true},
    };
    for (const auto& c : kCases) {
        const CommandResult terminal = runOnTerminal(render(c.options));
        ASSERT_EQ(terminal.exitCode, 0) << c.options << "\n" << terminal.output;
        const size_t line = terminal.output.find("\rc64render: ");
        EXPECT_EQ(line != std::string::npos, c.progress) << c.options << "\n" << terminal.output;
        if (c.progress) {
            EXPECT_NE(terminal.output.find("(100%)", line), std::string::npos) << terminal.output;
        }

        const CommandResult piped = run(render(c.options));
        ASSERT_EQ(piped.exitCode, 0) << piped.output;
        EXPECT_EQ(piped.output.find('\r'), std::string::npos) << c.options << "\n" << piped.output;
    }
}

TEST(CommandLineHost, BadInputGivesAMessageAndAnError)
{
    fixtures::TempDir dir;
    const std::string wav = dir / "out.wav";
    const std::string module = " --module " + quoted(SINE_MODULE_PATH) + " -o " + quoted(wav);
    const char* const kBadLines[] = {
        "0.1 on 128",  "0.1 on 60 1.5", "-1 on 60",   "x on 60",     "0.1 of 60",
        "0.1 off",     "0.1 item 1792 0", "0.1 item 3", "0.1 midi 0x7F 0 0", "0.1 midi 0x90 0 128",
        "0.1 master 1", "0.1",          "nan on 60",  "0.1 on 60 0.5 9",
        "0.1 sysex",   "0.1 sysex F0 100", "0.1 sysex F0 0x2D", "0.1 sysex F0 -1", "0.1 sysex G0",
    };
    for (const char* line : kBadLines) {
        const std::string script = dir.write("bad.txt", std::string("0 on 60\n") + line + "\n");
        const CommandResult r = run(render("--script " + quoted(script) + module));
        EXPECT_NE(r.exitCode, 0) << line;
        EXPECT_NE(r.output.find(":2: bad line: " + std::string(line)), std::string::npos)
            << line << "\n" << r.output;
    }

    const std::string notModule = dir.write("text.so", "not a library");
    const struct
    {
        std::string options;
        std::string message;
    } kCases[] = {
        {"--module " + quoted(dir / "missing.so"), "cannot load module"},
        {"--module " + quoted(notModule), "cannot load module"},
        {"--module " + quoted(MISSING_EXPORT_MODULE_PATH), "lacks the export deleteInstance"},
        {"tune.sid --module " + quoted(BLOCK_MODULE_PATH) + " -o " + quoted(wav),
         "cannot render tune.sid: No such file or directory"},
        {"--script " + quoted(dir / "none.txt") + module, "cannot read script"},
        {"--note 60 --export " + quoted(dir / "capture.vgmx") + module, "the module wrote no"},
        {"--song 2" + module, "--song and --list need a PSID or RSID tune"},
        {"--list" + module, "--song and --list need a PSID or RSID tune"},
        {"--pal --ntsc" + module, "--pal and --ntsc exclude each other"},
        {"--seconds 30000 --rate 48000" + module,
         "--seconds 30000.0 is more than a WAV file holds at 48000 Hz: at most 11184.8 s"},
        {"--seconds 900 --rate 768000" + module, "at 768000 Hz: at most 699.0 s"},
    };
    for (const auto& c : kCases) {
        const CommandResult r = run(render(c.options));
        EXPECT_NE(r.exitCode, 0) << c.options;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.options << "\n" << r.output;
    }
    EXPECT_NE(access(wav.c_str(), F_OK), 0) << "a failed render leaves no WAV";

    // A bad option is one line that points to --help; the name is refused before any value.
    const struct
    {
        std::string options;
        std::string line;
    } kOptions[] = {
        {"--rate 0" + module, "c64render: bad --rate 0; try --help"},
        {"--block 0" + module, "c64render: bad --block 0; try --help"},
        {"--note 60,x" + module, "c64render: bad --note 60,x; try --help"},
        {"--song 0" + module, "c64render: bad --song 0; try --help"},
        {"--bogus 1" + module, "c64render: unknown option --bogus; try --help"},
        {module + " --bogus", "c64render: unknown option --bogus; try --help"},
        {module + " --rate", "c64render: missing value after --rate; try --help"},
    };
    for (const auto& c : kOptions) {
        const CommandResult r = run(render(c.options));
        EXPECT_EQ(r.exitCode, 2) << c.options;
        EXPECT_EQ(r.output, c.line + "\n") << c.options;
    }
}

// Every option --help shows with a value is one --options lists, and no other.
TEST(CommandLineHost, OptionsListTheOptionsThatTakeAValue)
{
    const CommandResult help = run(render("--help"));
    ASSERT_EQ(help.exitCode, 0);
    std::set<std::string> shown;
    std::istringstream lines(help.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string option, value;
        if (line.rfind("  -", 0) == 0 && words >> option >> value && std::isupper(uint8_t(value[0])))
            shown.insert(option);
    }
    const CommandResult listed = run(render("--options"));
    ASSERT_EQ(listed.exitCode, 0);
    std::set<std::string> options;
    std::istringstream names(listed.output);
    for (std::string name; std::getline(names, name);)
        options.insert(name);
    EXPECT_GE(shown.size(), 18u) << help.output;
    EXPECT_EQ(shown, options);
}

// A script plays to its last line and 2 s more.
TEST(CommandLineHost, ScriptLengthIsItsLastLinePlusTwoSeconds)
{
    fixtures::TempDir dir;
    const std::string script = dir.write("s.txt", "0 on 69\n2.5 off 69\n");
    const CommandResult r = run(render("--module " + quoted(SINE_MODULE_PATH) + " --script " + quoted(script) +
                                       " -o " + quoted(dir / "out.wav")));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Wav w;
    ASSERT_TRUE(readWav(dir / "out.wav", w));
    EXPECT_EQ(w.left.size(), 216000u);
}

TEST(ModuleTarget, ExportsExactlyTheFourNames)
{
    EXPECT_EQ(definedDynamicSymbols(SINE_MODULE_PATH),
              (std::set<std::string>{"deleteInstance", "fillTarnPluginInfo", "getNumTarnPlugins",
                                     "newInstance"}));
}

class EngineWithSineModule : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        module = ModuleLibrary::open(SINE_MODULE_PATH, error);
        ASSERT_NE(module, nullptr) << error;
        config.sampleRate = 48000.0;
        config.blockSize = 64;
        instance = std::make_unique<Instance>(*module, config);
        ASSERT_TRUE(instance->create(module->identifier(0), error)) << error;
        ASSERT_TRUE(instance->start(error)) << error;
    }
    static vantor::HDMIDIEvent item(int32_t index, float value, uint32_t offset)
    {
        vantor::HDMIDIEvent e;
        e.kind = 0xB0;
        e.index = index;
        e.value = value;
        e.sampleOffset = offset;
        return e;
    }

    EngineConfig config;
    std::unique_ptr<ModuleLibrary> module;
    std::unique_ptr<Instance> instance;
};

TEST_F(EngineWithSineModule, StartSequenceLearnsTheInstance)
{
    EXPECT_EQ(module->pluginCount(), 1);
    EXPECT_EQ(module->identifier(0), "com.Vantor.Emulator.C64");
    EXPECT_EQ(module->identifier(1), "");
    EXPECT_EQ(instance->getInitResult(), 1u);
    EXPECT_EQ(instance->getInputCount(), 0u);
    EXPECT_EQ(instance->getOutputCount(), 2u);
    EXPECT_EQ(instance->getFlags(), 0x3Cu);
    EXPECT_EQ(instance->getDescriptorCount(), 0u);
    EXPECT_EQ(instance->getDescriptors(), nullptr);
    EXPECT_EQ(instance->getChannelConfigAccepted(), 0u);
    EXPECT_EQ(instance->getProcessInfoFlag(), 1u);
    EXPECT_EQ(instance->getChannelCount(), 2u);
    EXPECT_TRUE(instance->getHostCalls().empty());
}

TEST_F(EngineWithSineModule, EventsAreSortedEchoedAndTracked)
{
    std::vector<vantor::HDMIDIEvent> events = {item(3, 0.75f, 40), item(4, 0.5f, 7),
                                               item(5, 0.25f, 40), item(6, 1.0f, 64)};
    EXPECT_EQ(instance->process(64, events), 3);  // offset 64 is past the block
    const auto& out = instance->getOutgoing();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].index, 4);
    EXPECT_EQ(out[0].sampleOffset, 7u);
    EXPECT_EQ(out[1].index, 3);  // equal offsets keep their order
    EXPECT_EQ(out[1].sampleOffset, 40u);
    EXPECT_EQ(out[2].index, 5);
    EXPECT_EQ(instance->getItemValues()[3], 0.75f);
    EXPECT_EQ(instance->getItemValues()[4], 0.5f);
    EXPECT_EQ(instance->getItemValues()[6], 0.0f);

    // At most 2048 events go in; the outgoing count is zeroed for every block.
    std::vector<vantor::HDMIDIEvent> many(3000, item(7, 0.125f, 1));
    EXPECT_EQ(instance->process(64, many), 2048);
    EXPECT_EQ(instance->getOutgoing().size(), 2048u);
    EXPECT_EQ(instance->process(64, {}), 0);
    EXPECT_TRUE(instance->getOutgoing().empty());
    EXPECT_EQ(instance->process(65, {}), -1);  // larger than the block size
    EXPECT_EQ(instance->getFramesProcessed(), 192u);
}

TEST_F(EngineWithSineModule, NoteFrequencyIsAnsweredInEqualTemperament)
{
    vantor::HDMIDIEvent on;
    on.kind = 0x390;
    on.index = 81;
    on.value = 1.0f;
    ASSERT_EQ(instance->process(64, {on}), 1);
    ASSERT_EQ(instance->getHostCalls().size(), 1u);
    const auto& call = instance->getHostCalls()[0];
    EXPECT_EQ(call.op, 13);
    EXPECT_EQ(call.a, 81);
    EXPECT_EQ(call.answer, 880.0);
    EXPECT_NE(instance->channel(0)[1], 0.0f);
    EXPECT_EQ(instance->channel(1)[1], 0.0f);
}

TEST_F(EngineWithSineModule, HostRequestPayloadsAreCopiedDuringTheCall)
{
    for (int kind = 101; kind <= 105; ++kind)
        instance->sendMasterSettings(kind, 300.0);
    const auto& calls = instance->getHostCalls();
    ASSERT_EQ(calls.size(), 6u);  // op 14 twice for command 105

    std::vector<uint8_t> ramp(64);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = uint8_t(i);
    EXPECT_EQ(calls[0].op, 8);
    EXPECT_EQ(calls[0].a, 1);
    EXPECT_EQ(calls[0].payload, std::vector<uint8_t>(ramp.begin(), ramp.begin() + 32));

    EXPECT_EQ(calls[1].op, 10);
    uint64_t range[2];
    ASSERT_EQ(calls[1].payload.size(), 16u);
    std::memcpy(range, calls[1].payload.data(), 16);
    EXPECT_EQ(range[0], 300u);
    EXPECT_EQ(range[1], 301u);

    EXPECT_EQ(calls[2].op, 11);
    EXPECT_EQ(calls[2].a, 64);
    EXPECT_EQ(calls[2].payload, ramp);

    EXPECT_EQ(calls[3].op, 12);
    EXPECT_EQ(calls[3].a, 48);
    ASSERT_EQ(calls[3].payload.size(), 48u);
    HostMidiOutRecord midi;
    std::memcpy(&midi, calls[3].payload.data(), 48);
    EXPECT_EQ(midi.version, 2123u);
    EXPECT_EQ(midi.kind, 1u);
    EXPECT_EQ(calls[3].extra, (std::vector<uint8_t>{0xF0, 0x2D, 0x4C, 0x01, 0xF7}));

    // Op 14 is never answered: the module keeps its slots' first values.
    EXPECT_EQ(calls[4].op, 14);
    EXPECT_EQ(calls[5].op, 14);
    EXPECT_EQ(calls[4].a, 60);
    instance->process(64, {});
    EXPECT_EQ(instance->getItemValues()[10], 0.0f);
    EXPECT_EQ(instance->getItemValues()[11], 1.0f);
}

TEST(Engine, ModulesThatCannotBeUsedAreNamed)
{
    std::string error;
    EXPECT_EQ(ModuleLibrary::open(MISSING_EXPORT_MODULE_PATH, error), nullptr);
    EXPECT_NE(error.find("deleteInstance"), std::string::npos) << error;
    EXPECT_NE(error.find(MISSING_EXPORT_MODULE_PATH), std::string::npos) << error;

    error.clear();
    EXPECT_EQ(ModuleLibrary::open("/nonexistent/module.so", error), nullptr);
    EXPECT_NE(error.find("/nonexistent/module.so"), std::string::npos) << error;

    auto module = ModuleLibrary::open(SINE_MODULE_PATH, error);
    ASSERT_NE(module, nullptr);
    Instance instance(*module, EngineConfig());
    EXPECT_FALSE(instance.create("com.Vantor.Emulator.SID", error));
    EXPECT_NE(error.find("com.Vantor.Emulator.SID"), std::string::npos) << error;
    EXPECT_FALSE(instance.start(error));
    EXPECT_EQ(instance.process(16, {}), -1);
}

}  // namespace
