// c64render: renders notes or a note script through an instrument module's own exports, using
// the stand-in engine, into a stereo 32-bit float WAV file. The instrument is a mono source on
// channel 0; it goes to both sides unless --module-channels asks for the module's own channels.

#include "EngineOutputs.h"
#include "RenderScript.h"
#include "shims/engine/Engine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#ifndef VANTOR_DEFAULT_MODULE
#define VANTOR_DEFAULT_MODULE ""
#endif

namespace {

constexpr const char* kUsage =
    "usage: c64render [FILE] [-o OUT.wav] [--module PATH] [--rate HZ] [--block N]\n"
    "                 [--seconds S] [--note N[,N...]] [--velocity V] [--script FILE]\n"
    "                 [--chipdb PATH] [--data FOLDER] [--host-version N] [--a4 HZ] [--log FILE]\n"
    "                 [--canvas OUT.ppm] [--syx OUT.syx] [--module-channels]\n"
    "                 [--exact-render] [--single-stage] [--import FILE] [--export FILE]\n"
    "       c64render --print-demo\n"
    "\n"
    "Renders through the module's exports into a stereo 32-bit float WAV file. Without FILE,\n"
    "--note or --script it plays the built-in demo phrase (--print-demo shows its script).\n"
    "  FILE              a tune, program, disk or cartridge image or chip log handed to the\n"
    "                    module before the first block; it plays alone unless --note or\n"
    "                    --script add notes\n"
    "  -o OUT.wav        output file (default out.wav)\n"
    "  --module PATH     instrument module (default: the built C64Module)\n"
    "  --rate HZ         sample rate, 8000..768000 (default 48000)\n"
    "  --block N         block size in frames, 1..8192 (default 256)\n"
    "  --seconds S       length (default: the demo's length; 60 with FILE; else 2)\n"
    "  --note N,...      notes held from the start\n"
    "  --velocity V      velocity 0..1 of --note and of script notes without one (default 0.8)\n"
    "  --script FILE     timed commands, one a line: T on N [VEL] | T off N | T item I V |\n"
    "                    T midi S D1 D2 | T master K V | T sysex HH HH ...\n"
    "                    (T in seconds, # comments)\n"
    "  --chipdb PATH     chip database handed to the module's init\n"
    "  --data FOLDER     the module's data folder: C64 ROM images, player signature files\n"
    "  --host-version N  engine interface version given to init (default 2123)\n"
    "  --a4 HZ           tuning answered to the module's note-frequency request (default 440)\n"
    "  --log FILE        log of every dispatcher call and host request\n"
    "  --canvas OUT      the module's canvas at the end, as PPM (PNG when OUT ends in .png)\n"
    "  --syx OUT.syx     the SysEx bytes the module sent, one after the other\n"
    "  --module-channels the module's channels 0 and 1 as they are (default: channel 0 on both)\n"
    "  --exact-render    every chip renders every cycle (no silence skipped); the same samples\n"
    "  --single-stage    resample the chips' rate in a single speexdsp stage\n"
    "  --import FILE     a file the module loads through its file-loading call before the first\n"
    "                    block (a VGMX capture becomes the patch)\n"
    "  --export FILE     after the last block, the module saves its media (the register\n"
    "                    capture, as VGMX) to FILE through its file-saving call\n";

// The demo phrase: the default patch with a filtered, softer pulse, four-note chords over a
// bass line and a melody (six voices at once), and one bend of a whole tone near the end.
constexpr double kDemoSeconds = 8.0;
constexpr double kFileSeconds = 60.0;
constexpr const char* kDemoScript = R"(# c64render demo phrase: 120 bpm, four bars of 2 s
# Synth parameters are items 768 + n.
0     item 768 1536    # Osc1 PW
0     item 775 1       # Osc1 Attack
0     item 776 9       # Osc1 Decay
0     item 777 10      # Osc1 Sustain
0     item 778 7       # Osc1 Release
0     item 779 1       # Osc1 To Filter
0     item 865 1300    # Filter Cutoff
0     item 866 9       # Filter Res
0     item 867 1       # Filter LP

# Bar 1: C
0     on 36 0.9
0     on 55 0.6
0     on 60 0.6
0     on 64 0.6
0     on 67 0.6
0     on 72
0.5   off 72
0.5   on 74
1     off 74
1     on 76
1.5   off 76
1.5   on 79
# Bar 2: A minor
2     off 36
2     off 55
2     off 67
2     off 79
2     on 33 0.9
2     on 57 0.6
2     on 69 0.6
2     on 77
2.5   off 77
2.5   on 76
3     off 76
3     on 74
3.5   off 74
3.5   on 72
# Bar 3: F
4     off 33
4     off 64
4     off 69
4     off 72
4     on 29 0.9
4     on 53 0.6
4     on 65 0.6
4     on 69
4.5   off 69
4.5   on 72
5     off 72
5     on 77
5.5   off 77
5.5   on 76
# Bar 4: G, the melody bent up a whole tone (200 of the 1200 cents range)
6     off 29
6     off 53
6     off 57
6     off 60
6     off 65
6     off 76
6     on 31 0.9
6     on 55 0.6
6     on 59 0.6
6     on 62 0.6
6     on 67 0.6
6     on 74
6.5   item 128 0.04
6.55  item 128 0.08
6.6   item 128 0.125
6.65  item 128 0.1667
7.4   off 31
7.4   off 55
7.4   off 59
7.4   off 62
7.4   off 67
7.4   off 74
7.95  item 128 0
)";

struct Options
{
    std::string file;
    std::string output = "out.wav";
    std::string module = VANTOR_DEFAULT_MODULE;
    double rate = 48000.0;
    uint32_t block = 256;
    double seconds = -1.0;  // not given
    std::vector<int32_t> notes;
    float velocity = 0.8f;
    std::string script;
    std::string chipdb;
    std::string data;
    uint32_t hostVersion = kEngineSDKVersion;
    double a4 = 440.0;
    std::string log;
    std::string canvas;
    std::string syx;
    std::string import;
    std::string exportPath;
    bool moduleChannels = false;
    bool exactRender = false;
    bool singleStage = false;
};

// One line on standard error, rewritten as a long render goes; only on a terminal.
class Progress
{
public:
    Progress(uint64_t totalFrames, double rate, bool show)
        : total(totalFrames), seconds(double(totalFrames) / rate), shown(show && totalFrames > 0)
    {
    }
    ~Progress()
    {
        if (percent >= 0)
            std::fputc('\n', stderr);
    }
    void update(uint64_t done)
    {
        const int now = int(done * 100 / total);
        if (!shown || now == percent)
            return;
        percent = now;
        std::fprintf(stderr, "\rc64render: %.1f of %.1f s (%d%%)", seconds * now / 100.0, seconds,
                     now);
        std::fflush(stderr);
    }

private:
    uint64_t total;
    double seconds;
    bool shown;
    int percent = -1;
};

bool toDouble(const std::string& s, double lo, double hi, double& out)
{
    double v = 0.0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !(v >= lo && v <= hi))
        return false;
    out = v;
    return true;
}

bool toInt(const std::string& s, int64_t lo, int64_t hi, int64_t& out)
{
    int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// 0 on success, otherwise the exit code (after printing the reason).
int parseOptions(int argc, char** argv, Options& o)
{
    auto fail = [](const std::string& why) {
        std::cerr << "c64render: " << why << "\n" << kUsage;
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return -1;
        }
        if (arg == "--print-demo") {
            std::cout << kDemoScript;
            return -1;
        }
        if (arg == "--module-channels") {
            o.moduleChannels = true;
            continue;
        }
        if (arg == "--exact-render" || arg == "--single-stage") {
            (arg == "--exact-render" ? o.exactRender : o.singleStage) = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            if (i + 1 >= argc)
                return fail("missing value after " + arg);
            const std::string v = argv[++i];
            double d = 0.0;
            int64_t n = 0;
            if (arg == "-o") {
                o.output = v;
            } else if (arg == "--module") {
                o.module = v;
            } else if (arg == "--rate") {
                if (!toDouble(v, 8000.0, 768000.0, d) || d != std::floor(d))
                    return fail("bad --rate " + v);
                o.rate = d;
            } else if (arg == "--block") {
                if (!toInt(v, 1, vantor::engine::Instance::kMaxBlockSize, n))
                    return fail("bad --block " + v);
                o.block = uint32_t(n);
            } else if (arg == "--seconds") {
                if (!toDouble(v, 0.0, 86400.0, d))
                    return fail("bad --seconds " + v);
                o.seconds = d;
            } else if (arg == "--note") {
                std::stringstream list(v);
                for (std::string item; std::getline(list, item, ',');) {
                    if (!toInt(item, 0, 127, n))
                        return fail("bad --note " + v);
                    o.notes.push_back(int32_t(n));
                }
            } else if (arg == "--velocity") {
                if (!toDouble(v, 0.0, 1.0, d))
                    return fail("bad --velocity " + v);
                o.velocity = float(d);
            } else if (arg == "--script") {
                o.script = v;
            } else if (arg == "--chipdb") {
                o.chipdb = v;
            } else if (arg == "--data") {
                o.data = v;
            } else if (arg == "--host-version") {
                if (!toInt(v, 0, UINT32_MAX, n))
                    return fail("bad --host-version " + v);
                o.hostVersion = uint32_t(n);
            } else if (arg == "--a4") {
                if (!toDouble(v, 1.0, 100000.0, d))
                    return fail("bad --a4 " + v);
                o.a4 = d;
            } else if (arg == "--log") {
                o.log = v;
            } else if (arg == "--canvas") {
                o.canvas = v;
            } else if (arg == "--syx") {
                o.syx = v;
            } else if (arg == "--import") {
                o.import = v;
            } else if (arg == "--export") {
                o.exportPath = v;
            } else {
                return fail("unknown option " + arg);
            }
        } else if (o.file.empty()) {
            o.file = arg;
        } else {
            return fail("more than one FILE");
        }
    }
    return 0;
}

int run(const Options& o)
{
    if (o.module.empty()) {
        std::cerr << "c64render: no module built; give one with --module PATH\n";
        return 1;
    }

    RenderScript script;
    const bool demo = o.file.empty() && o.script.empty() && o.notes.empty();
    if (demo) {
        std::string error;
        if (!parseRenderScript(kDemoScript, "demo", o.rate, o.velocity, script, error)) {
            std::cerr << "c64render: " << error << "\n";
            return 1;
        }
    } else if (!o.script.empty()) {
        std::ifstream in(o.script, std::ios::binary);
        if (!in) {
            std::cerr << "c64render: cannot read script " << o.script << "\n";
            return 1;
        }
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!parseRenderScript(text.str(), o.script, o.rate, o.velocity, script, error)) {
            std::cerr << "c64render: " << error << "\n";
            return 1;
        }
    }
    for (int32_t note : o.notes)
        script.events.push_back({0, makeNoteOn(note, o.velocity)});
    // The switches go first, ahead of everything at frame 0.
    if (o.singleStage)
        script.events.insert(script.events.begin(), {0, makeItem(kSingleStageChainItem, 1.0f)});
    if (o.exactRender)
        script.events.insert(script.events.begin(), {0, makeItem(kExactChipRenderItem, 1.0f)});
    std::stable_sort(script.events.begin(), script.events.end(),
                     [](const ScriptEvent& a, const ScriptEvent& b) { return a.frame < b.frame; });
    std::stable_sort(script.masters.begin(), script.masters.end(),
                     [](const MasterCommand& a, const MasterCommand& b) { return a.frame < b.frame; });
    std::stable_sort(script.sysex.begin(), script.sysex.end(),
                     [](const SysExMessage& a, const SysExMessage& b) { return a.frame < b.frame; });

    FILE* log = nullptr;
    if (!o.log.empty() && !(log = std::fopen(o.log.c_str(), "w"))) {
        std::cerr << "c64render: cannot write log " << o.log << "\n";
        return 1;
    }
    FILE* syx = nullptr;
    if (!o.syx.empty() && !(syx = std::fopen(o.syx.c_str(), "wb"))) {
        std::cerr << "c64render: cannot write " << o.syx << "\n";
        return 1;
    }
    struct Closer
    {
        FILE* f;
        ~Closer()
        {
            if (f)
                std::fclose(f);
        }
    } closer{log}, syxCloser{syx};

    std::string error;
    auto module = vantor::engine::ModuleLibrary::open(o.module, error);
    if (!module) {
        std::cerr << "c64render: " << error << "\n";
        return 1;
    }
    if (module->pluginCount() < 1) {
        std::cerr << "c64render: module " << o.module << " holds no instrument\n";
        return 1;
    }
    const std::string identifier = module->identifier(0);
    if (identifier.empty()) {
        std::cerr << "c64render: module " << o.module << " describes no instrument\n";
        return 1;
    }

    vantor::engine::EngineConfig config;
    config.sampleRate = o.rate;
    config.blockSize = o.block;
    config.chipDatabasePath = o.chipdb;
    config.dataFolder = o.data;
    config.hostVersion = o.hostVersion;
    config.a4 = o.a4;
    const double seconds = o.seconds >= 0.0   ? o.seconds
                           : demo             ? kDemoSeconds
                           : !o.file.empty()  ? kFileSeconds
                                              : 2.0;
    const uint64_t total = uint64_t(std::llround(seconds * o.rate));
    uint64_t dropped = 0, late = 0;
    {
        vantor::engine::Instance instance(*module, config);
        instance.setLog(log);
        if (!instance.create(identifier, error) || !instance.start(error) ||
            (!o.file.empty() && !handFileToModule(instance, o.file, error))) {
            std::cerr << "c64render: " << error << "\n";
            return 1;
        }
        if (!o.import.empty()) {
            int32_t mediaIndex = 0;
            instance.dispatch(kOpLoadFile, reinterpret_cast<intptr_t>(o.import.c_str()), &mediaIndex);
        }
        if (!takeHostCalls(instance, syx)) {
            std::cerr << "c64render: writing " << o.syx << " failed\n";
            return 1;
        }
        vantor::engine::WavSink wav(o.output, uint32_t(o.rate));
        if (!wav.isOpen()) {
            std::cerr << "c64render: cannot write " << o.output << "\n";
            return 1;
        }
        Progress progress(total, o.rate,
                          isatty(STDERR_FILENO) && (seconds > 10.0 || !o.file.empty()));
        size_t nextEvent = 0, nextMaster = 0, nextSysEx = 0;
        std::vector<vantor::HDMIDIEvent> events;
        for (uint64_t start = 0; start < total;) {
            const uint32_t frames = uint32_t(std::min<uint64_t>(o.block, total - start));
            while (nextMaster < script.masters.size() && script.masters[nextMaster].frame < start + frames) {
                instance.sendMasterSettings(script.masters[nextMaster].kind,
                                            script.masters[nextMaster].value);
                ++nextMaster;
            }
            while (nextSysEx < script.sysex.size() && script.sysex[nextSysEx].frame < start + frames) {
                const std::vector<uint8_t>& bytes = script.sysex[nextSysEx].bytes;
                HostMidiOutRecord record;
                record.kind = 1;
                record.size = bytes.size();
                record.sysex = bytes.data();
                instance.dispatch(kOpReceiveSysEx, reinterpret_cast<intptr_t>(&record), nullptr);
                ++nextSysEx;
            }
            events.clear();
            while (nextEvent < script.events.size() && script.events[nextEvent].frame < start + frames) {
                vantor::HDMIDIEvent e = script.events[nextEvent].event;
                e.sampleOffset = uint32_t(script.events[nextEvent].frame - start);
                events.push_back(e);
                ++nextEvent;
            }
            const int64_t taken = instance.process(frames, events);
            if (taken < 0) {
                std::cerr << "c64render: the engine refused a block\n";
                return 1;
            }
            dropped += events.size() - uint64_t(taken);
            if (!takeHostCalls(instance, syx)) {
                std::cerr << "c64render: writing " << o.syx << " failed\n";
                return 1;
            }
            const float* left = instance.channel(0);
            if (!wav.write(left, o.moduleChannels ? instance.channel(1) : left, frames)) {
                std::cerr << "c64render: writing " << o.output << " failed\n";
                return 1;
            }
            start += frames;
            progress.update(start);
        }
        late = (script.events.size() - nextEvent) + (script.masters.size() - nextMaster) +
               (script.sysex.size() - nextSysEx);
        if (!o.exportPath.empty()) {
            std::error_code ec;
            const auto before = std::filesystem::last_write_time(o.exportPath, ec);
            const bool existed = !ec;
            int32_t mediaIndex = 0;
            instance.dispatch(kOpSaveFile, reinterpret_cast<intptr_t>(o.exportPath.c_str()), &mediaIndex);
            const auto after = std::filesystem::last_write_time(o.exportPath, ec);
            if (ec || (existed && after == before)) {
                std::cerr << "c64render: the module wrote no " << o.exportPath << "\n";
                return 1;
            }
        }
        if (!o.canvas.empty() && !writeCanvasFile(instance, o.canvas, error)) {
            std::cerr << "c64render: " << error << "\n";
            return 1;
        }
        if (!wav.finish()) {
            std::cerr << "c64render: writing " << o.output << " failed\n";
            return 1;
        }
    }
    if (dropped)
        std::cerr << "c64render: " << dropped << " events beyond 2048 in a block were dropped\n";
    if (late)
        std::cerr << "c64render: " << late << " script lines after the end were not sent\n";
    std::cout << o.output << ": " << total << " frames, "
              << (o.moduleChannels ? "module channels 0 and 1, " : "channel 0 on both sides, ")
              << uint32_t(o.rate) << " Hz, 32-bit float\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;
    return run(options);
}
