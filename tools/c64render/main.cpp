// c64render: renders notes or a note script through an instrument module's own exports, using
// the stand-in engine, into a stereo 32-bit float WAV file. The instrument is a mono source on
// channel 0; it goes to both sides unless --module-channels asks for the module's own channels.

#include "EngineOutputs.h"
#include "InputChecks.h"
#include "OutputFiles.h"
#include "RenderScript.h"
#include "SoundCheck.h"
#include "platform/PlatformTools.h"
#include "shims/engine/Engine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#ifndef VANTOR_DEFAULT_MODULE
#define VANTOR_DEFAULT_MODULE ""
#endif

namespace {

constexpr const char* kUsage =
    "usage: c64render [FILE] [-o OUT.wav] [--module PATH] [--rate HZ] [--block N]\n"
    "                 [--seconds S] [--note N[,N...]] [--velocity V] [--script FILE]\n"
    "                 [--chipdb PATH] [--data FOLDER] [--host-version N] [--a4 HZ] [--log FILE]\n"
    "                 [--canvas OUT.png] [--syx OUT.syx] [--module-channels] [--song N]\n"
    "                 [--pal | --ntsc] [--fail-on-silence] [--exact-render] [--single-stage]\n"
    "                 [--import FILE] [--export FILE]\n"
    "       c64render TUNE.sid --list\n"
    "       c64render --print-demo | --options | --help\n"
    "\n"
    "Renders through the module's exports into a stereo 32-bit float WAV file. Without FILE,\n"
    "--note or --script it plays the built-in demo phrase (--print-demo shows its script).\n"
    "  FILE              a tune (PSID/RSID), program (PRG), tape (T64), disk image (D64, whose\n"
    "                    first file starts when it loads at $0801), cartridge (CRT or raw),\n"
    "                    chip log (VGM, VGZ, VGMX) or zip/7z of logs, handed to the module\n"
    "                    before the first block; it plays alone unless --note or --script add\n"
    "                    notes. A file the module's readers would refuse, or from which nothing\n"
    "                    would play (data past $FFFF, MUS data, a cartridge type without a\n"
    "                    mapper, a disk whose first file does not start, a D81 or G64 image,\n"
    "                    which list no files), stops c64render before it renders\n"
    "  -o OUT.wav        output file (default out.wav)\n"
    "  --module PATH     instrument module (default: the built C64Module)\n"
    "  --rate HZ         sample rate, 8000..768000 (default 48000)\n"
    "  --block N         block size in frames, 1..8192 (default 256)\n"
    "  --seconds S       length, up to what a WAV file holds (default: the demo's length; 60\n"
    "                    with FILE; with --script its last line + 2 s; else 2)\n"
    "  --note N,...      notes held from the start\n"
    "  --velocity V      velocity 0..1 of --note and of script notes without one (default 0.8)\n"
    "  --script FILE     timed commands, one a line: T on N [VEL] | T off N | T item I V |\n"
    "                    T midi S D1 D2 | T master K V | T sysex HH HH ...\n"
    "                    (T in seconds, # comments). Items: 128 pitch bend, 768 + n synth\n"
    "                    parameters; chip parameters are items 1024 and up: 1024 + n sets\n"
    "                    parameter n (0-15) of the synthesizer's chips, 1216 + 16 k + n that of\n"
    "                    tune chip 12 + k (k 0-3)\n"
    "  --chipdb PATH     chip database handed to the module's init (default: none, every chip\n"
    "                    uses its built-in model)\n"
    "  --data FOLDER     the module's data folder: C64 ROM images (kernal, basic, chargen;\n"
    "                    PSID tunes need none), player signature files\n"
    "  --host-version N  engine interface version given to init (default 2123)\n"
    "  --a4 HZ           tuning of the notes: the module is told to ask the host, which\n"
    "                    answers from this (default: the module's own 440)\n"
    "  --log FILE        log of every dispatcher call and host request\n"
    "  --canvas OUT      the module's canvas at the end, as OUT.png or OUT.ppm\n"
    "  --syx OUT.syx     the SysEx bytes the module sent, one after the other\n"
    "  --module-channels the module's channels 0 and 1 as they are (default: channel 0 on both)\n"
    "  --song N          the tune's song N, from 1 (default: its start song)\n"
    "  --list            prints the tune's header, one line each, and renders nothing:\n"
    "                    \"title T\", \"author A\", \"released R\", \"songs N\", \"start N\",\n"
    "                    \"clock C\" (PAL, NTSC, both or unknown) and \"model M...\" (6581,\n"
    "                    8580, both or unknown for each SID, SID 1 first)\n"
    "  --pal, --ntsc     the machine's and the chips' clock (default: PAL; NTSC for a tune\n"
    "                    made for NTSC only)\n"
    "  --fail-on-silence exit 3 when the render is silent or ends in 5 s or more of silence\n"
    "  --exact-render    every chip renders every cycle (no silence skipped); the same samples\n"
    "  --single-stage    resample the chips' rate in a single speexdsp stage\n"
    "  --import FILE     a file the module loads through its file-loading call before the first\n"
    "                    block (a VGMX capture becomes the patch)\n"
    "  --export FILE     after the last block, the module saves its media (the register\n"
    "                    capture, as VGMX) to FILE through its file-saving call\n"
    "  --options         prints the options that take a value, one a line\n"
    "\n"
    "Every output (-o, --canvas, --export, --syx, --log) is written under a temporary name in its\n"
    "folder and renamed into place when the render succeeds: a failed render, or one stopped by\n"
    "SIGINT, SIGTERM, SIGHUP or a broken pipe, leaves no output and any file of its name as it\n"
    "was. An output that names an input (FILE, --script, --import, --chipdb, --module) or another\n"
    "output stops c64render before anything is written.\n"
    "\n"
    "Exit status: 0 rendered (a silent render is reported on standard error), 1 the file, the\n"
    "module or an output cannot be used, 2 bad options (also an output over an input), 3 silent\n"
    "with --fail-on-silence, 128 + N stopped by signal N (\"c64render: interrupted\").\n";

// The options that take a value, as --options prints them.
constexpr const char* kValueOptions[] = {"-o",       "--module", "--rate",  "--block",  "--seconds",
                                         "--note",   "--velocity", "--script", "--chipdb", "--data",
                                         "--host-version", "--a4", "--log",   "--canvas", "--syx",
                                         "--import", "--export", "--song"};

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
    bool a4Given = false;
    std::string log;
    std::string canvas;
    std::string syx;
    std::string import;
    std::string exportPath;
    uint32_t song = 0;  // from 1; 0: the tune's start song
    bool list = false;
    bool pal = false;
    bool ntsc = false;
    bool failOnSilence = false;
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
        OutputFiles::setLineOpen(false);
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
        OutputFiles::setLineOpen(true);
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

// Controller items and master settings c64render sends.
constexpr int32_t kClockIndexItem = 256;  // the chips' clock, an index into their clock list
constexpr float kPalClock = 0.0f;         // 985248 Hz
constexpr float kNtscClock = 2.0f;        // 1022727 Hz
constexpr int32_t kSelectSongItem = vantor::engine::kMediaItemFirst + 4;  // song index from 0
constexpr int32_t kNoteTuningSource = 10;  // master setting: notes tuned by the host's answers

// A RIFF size (file length - 8) is 32 bits; the header takes 44 bytes; a frame 8.
constexpr uint64_t kWavMaxFrames = (0xFFFFFFFFull + 8 - 44) / 8;
constexpr double kScriptTail = 2.0;      // seconds rendered after a script's last line
constexpr double kSilentTail = 5.0;      // seconds of silence at the end that are reported
constexpr int kSilenceExit = 3;
constexpr const char* kNoLogChips = "* No suitable data found! *";

bool isValueOption(const std::string& arg)
{
    return std::find(std::begin(kValueOptions), std::end(kValueOptions), arg) != std::end(kValueOptions);
}

// 0 on success, -1 when done (help printed), otherwise the exit code (after printing the
// reason).
int parseOptions(int argc, char** argv, Options& o)
{
    auto fail = [](const std::string& why) {
        std::cerr << "c64render: " << why << "; try --help\n";
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
        if (arg == "--options") {
            for (const char* name : kValueOptions)
                std::cout << name << "\n";
            return -1;
        }
        bool* flag = arg == "--module-channels"   ? &o.moduleChannels
                     : arg == "--exact-render"    ? &o.exactRender
                     : arg == "--single-stage"    ? &o.singleStage
                     : arg == "--list"            ? &o.list
                     : arg == "--pal"             ? &o.pal
                     : arg == "--ntsc"            ? &o.ntsc
                     : arg == "--fail-on-silence" ? &o.failOnSilence
                                                  : nullptr;
        if (flag) {
            *flag = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            if (!isValueOption(arg))
                return fail("unknown option " + arg);
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
                o.a4Given = true;
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
            } else if (arg == "--song") {
                if (!toInt(v, 1, UINT16_MAX, n))
                    return fail("bad --song " + v);
                o.song = uint32_t(n);
            }
        } else if (o.file.empty()) {
            o.file = arg;
        } else {
            return fail("more than one FILE");
        }
    }
    return 0;
}

// The paths the options name, before anything is loaded: 0, or 2 after printing the reason.
int checkOptionPaths(const Options& o)
{
    auto fail = [](const std::string& why) {
        std::cerr << "c64render: " << why << "\n";
        return 2;
    };
    if (o.pal && o.ntsc)
        return fail("--pal and --ntsc exclude each other");
    if (!o.data.empty()) {
        if (const std::string why = folderProblem(o.data); !why.empty())
            return fail("--data " + o.data + ": " + why);
    }
    const std::pair<const char*, const std::string*> inputs[] = {{"--chipdb", &o.chipdb}, {"--import", &o.import}};
    for (const auto& [name, path] : inputs) {
        if (path->empty())
            continue;
        if (const std::string why = readableFileProblem(*path); !why.empty())
            return fail(std::string(name) + " " + *path + ": " + why);
    }
    if (!o.canvas.empty()) {
        const bool picture = o.canvas.size() > 4 && (o.canvas.ends_with(".png") || o.canvas.ends_with(".ppm"));
        if (!picture)
            return fail("--canvas " + o.canvas + ": the canvas is written as .png or .ppm");
    }
    const std::pair<const char*, const std::string*> outputs[] = {{"--canvas", &o.canvas}, {"--export", &o.exportPath}};
    for (const auto& [name, path] : outputs) {
        if (path->empty())
            continue;
        if (const std::string why = writableFileProblem(*path); !why.empty())
            return fail(std::string(name) + " " + *path + ": " + why);
    }
    return 0;
}

// 0 when no output names an input or an output before it; else 2 after naming both. Outputs
// into a device (such as /dev/null) share it freely.
int checkOutputsApart(const Options& o)
{
    const std::pair<std::string, const std::string*> inputs[] = {
        {"", &o.file}, {"--script ", &o.script}, {"--import ", &o.import}, {"--chipdb ", &o.chipdb},
        {"--module ", &o.module}};
    const std::pair<std::string, const std::string*> outputs[] = {
        {"-o ", &o.output}, {"--canvas ", &o.canvas}, {"--export ", &o.exportPath}, {"--syx ", &o.syx},
        {"--log ", &o.log}};
    for (size_t i = 0; i < std::size(outputs); ++i) {
        const auto& [name, path] = outputs[i];
        struct stat st;
        if (path->empty() || (stat(path->c_str(), &st) == 0 && !S_ISREG(st.st_mode)))
            continue;
        auto clash = [&](const std::string& otherName, const std::string& other) {
            if (other.empty() || !sameFile(*path, other))
                return false;
            std::cerr << "c64render: " << name << *path << " would overwrite " << otherName << other << "\n";
            return true;
        };
        for (const auto& [inputName, input] : inputs)
            if (clash(inputName, *input))
                return 2;
        for (size_t k = 0; k < i; ++k)
            if (clash(outputs[k].first, *outputs[k].second))
                return 2;
    }
    return 0;
}

// Frames a FILE, a script or notes render when --seconds does not say.
uint64_t defaultFrames(const Options& o, bool demo, const RenderScript& script)
{
    uint64_t last = 0;
    for (const ScriptEvent& e : script.events)
        last = std::max(last, e.frame);
    for (const MasterCommand& m : script.masters)
        last = std::max(last, m.frame);
    for (const SysExMessage& m : script.sysex)
        last = std::max(last, m.frame);
    const uint64_t tail = uint64_t(std::llround(kScriptTail * o.rate));
    const uint64_t scripted = o.script.empty() ? 0 : last + tail;
    if (demo)
        return uint64_t(std::llround(kDemoSeconds * o.rate));
    if (!o.file.empty())
        return std::max(uint64_t(std::llround(kFileSeconds * o.rate)), scripted);
    return o.script.empty() ? uint64_t(std::llround(2.0 * o.rate)) : scripted;
}

// `text` with `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::string formatSeconds(double s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", s);
    return text;
}

int run(const Options& o)
{
    if (const int bad = checkOptionPaths(o))
        return bad;
    if (const int bad = checkOutputsApart(o))
        return bad;
    InputFile input;
    if (!o.file.empty()) {
        std::string why;
        if (!checkInputFile(o.file, input, why)) {
            std::cerr << "c64render: cannot render " << o.file << ": " << why << "\n";
            return 1;
        }
    }
    if ((o.list || o.song) && !input.hasTune) {
        std::cerr << "c64render: --song and --list need a PSID or RSID tune\n";
        return 2;
    }
    if (o.list) {
        std::cout << tuneListing(input.tune);
        return 0;
    }
    if (o.song > input.tune.songs) {
        std::cerr << "c64render: " << o.file << " has " << input.tune.songs
                  << (input.tune.songs == 1 ? " song" : " songs") << "\n";
        return 2;
    }
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

    const uint64_t total = o.seconds >= 0.0 ? uint64_t(std::llround(o.seconds * o.rate))
                                            : defaultFrames(o, demo, script);
    if (total > kWavMaxFrames) {
        const std::string limit = formatSeconds(std::floor(double(kWavMaxFrames) / o.rate * 10.0) / 10.0);
        std::cerr << "c64render: "
                  << (o.seconds >= 0.0 ? "--seconds " + formatSeconds(o.seconds)
                                       : "the script's " + formatSeconds(double(total) / o.rate) + " s")
                  << " is more than a WAV file holds at " << uint32_t(o.rate) << " Hz: at most " << limit
                  << " s\n";
        return 2;
    }

    for (int32_t note : o.notes)
        script.events.push_back({0, makeNoteOn(note, o.velocity)});
    // The switches go first, ahead of everything at frame 0, then the song.
    if (input.hasTune)
        script.events.insert(script.events.begin(),
                             {0, makeItem(kSelectSongItem, float((o.song ? o.song : input.tune.defaultSong()) - 1))});
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

    // The ROM loader searches the data folder, which is the chip database's folder unless
    // --data names one.
    const std::string romFolder = !o.data.empty()     ? o.data
                                  : !o.chipdb.empty() ? getPathFromFile(o.chipdb)
                                                      : std::string();
    const bool noRoms = input.mayNeedRoms() && (romFolder.empty() || !folderHasKernal(romFolder));
    if (noRoms) {
        std::string names;
        for (const std::string& name : kernalRomNames())
            names += (names.empty() ? "" : ", ") + name;
        std::cerr << "c64render: no C64 ROMs" << (o.data.empty() ? "" : " in " + o.data)
                  << " (give --data FOLDER with kernal, basic and chargen images; names tried: " << names
                  << "); this file may need them\n";
    }

    // Every output goes to a temporary file until the render has succeeded.
    OutputFiles::catchSignals();
    OutputFiles outputs;
    std::string why, logPath, syxPath, wavPath, canvasPath, exportPath;
    const struct
    {
        const char* what;
        const std::string& path;
        std::string& temporary;
    } files[] = {{"log ", o.log, logPath},
                 {"", o.syx, syxPath},
                 {"", o.output, wavPath},
                 {"", o.canvas, canvasPath},
                 {"", o.exportPath, exportPath}};
    for (const auto& f : files) {
        if (!f.path.empty() && (f.temporary = outputs.add(f.path, why)).empty()) {
            std::cerr << "c64render: cannot write " << f.what << f.path << ": " << why << "\n";
            return 1;
        }
    }
    FILE* log = nullptr;
    if (!logPath.empty() && !(log = std::fopen(logPath.c_str(), "w"))) {
        std::cerr << "c64render: cannot write log " << o.log << "\n";
        return 1;
    }
    FILE* syx = nullptr;
    if (!syxPath.empty() && !(syx = std::fopen(syxPath.c_str(), "wb"))) {
        std::cerr << "c64render: cannot write " << o.syx << "\n";
        return 1;
    }
    struct Closer
    {
        FILE* f;
        ~Closer() { close(); }
        // False when what was written did not reach the file.
        bool close()
        {
            const bool ok = !f || std::fclose(f) == 0;
            f = nullptr;
            return ok;
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
    // The tune reader takes the machine's clock when the file is opened: a clock other than the
    // default is set by a block of its own, before, whose output is not kept.
    const bool clockGiven = o.pal || o.ntsc || (input.hasTune && input.tune.ntscOnly());
    const float clock = o.pal ? kPalClock : kNtscClock;
    uint64_t dropped = 0, late = 0;
    SoundCheck sound[2] = {SoundCheck(o.rate), SoundCheck(o.rate)};
    std::string title;
    {
        vantor::engine::Instance instance(*module, config);
        instance.setLog(log);
        if (!instance.create(identifier, error) || !instance.start(error)) {
            std::cerr << "c64render: " << error << "\n";
            return 1;
        }
        if (o.a4Given)
            instance.sendMasterSettings(kNoteTuningSource, 1.0);
        if (clockGiven && instance.process(o.block, {makeItem(kClockIndexItem, clock)}) < 0) {
            std::cerr << "c64render: the engine refused a block\n";
            return 1;
        }
        if (!o.file.empty() && !handFileToModule(instance, o.file, error)) {
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
        vantor::engine::WavSink wav(wavPath, uint32_t(o.rate));
        if (!wav.isOpen()) {
            std::cerr << "c64render: cannot write " << o.output << "\n";
            return 1;
        }
        Progress progress(total, o.rate,
                          isatty(STDERR_FILENO) && (double(total) / o.rate > 10.0 || !o.file.empty()));
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
            const float* right = o.moduleChannels ? instance.channel(1) : left;
            if (!wav.write(left, right, frames)) {
                std::cerr << "c64render: writing " << o.output << " failed\n";
                return 1;
            }
            sound[0].add(left, frames, start);
            if (right != left)
                sound[1].add(right, frames, start);
            start += frames;
            progress.update(start);
        }
        late = (script.events.size() - nextEvent) + (script.masters.size() - nextMaster) +
               (script.sysex.size() - nextSysEx);
        if (!o.exportPath.empty()) {
            // The temporary file goes first, so that the module's file shows.
            if (outputs.isTemporary(exportPath))
                std::remove(exportPath.c_str());
            int32_t mediaIndex = 0;
            instance.dispatch(kOpSaveFile, reinterpret_cast<intptr_t>(exportPath.c_str()), &mediaIndex);
            if (access(exportPath.c_str(), F_OK) != 0) {
                std::cerr << "c64render: the module wrote no " << o.exportPath << "\n";
                return 1;
            }
        }
        if (!o.canvas.empty() && !writeCanvasFile(instance, canvasPath, error)) {
            std::cerr << "c64render: " << replaced(error, canvasPath, o.canvas) << "\n";
            return 1;
        }
        if (!wav.finish()) {
            std::cerr << "c64render: writing " << o.output << " failed\n";
            return 1;
        }
        const auto slot = instance.getTextSlots().find(1);
        if (slot != instance.getTextSlots().end())
            title = slot->second;
    }
    if (!closer.close()) {
        std::cerr << "c64render: writing log " << o.log << " failed\n";
        return 1;
    }
    if (!syxCloser.close()) {
        std::cerr << "c64render: writing " << o.syx << " failed\n";
        return 1;
    }
    if (!outputs.commit(why)) {
        std::cerr << "c64render: cannot write " << why << "\n";
        return 1;
    }
    if (dropped)
        std::cerr << "c64render: " << dropped << " events beyond 2048 in a block were dropped\n";
    if (late)
        std::cerr << "c64render: " << late << " script lines after the end were not sent\n";
    std::cout << o.output << ": " << total << " frames, "
              << (o.moduleChannels ? "module channels 0 and 1, " : "channel 0 on both sides, ")
              << uint32_t(o.rate) << " Hz, 32-bit float\n";

    const bool sounded = sound[0].sounded() || sound[1].sounded();
    const uint64_t silentFrom = std::max(sound[0].silentFrom(), sound[1].silentFrom());
    if (total == 0) {
        return 0;
    } else if (!sounded) {
        std::cerr << "c64render: the render is silent\n";
        const TuneHeader& tune = input.tune;
        std::string cause;
        if (title.ends_with(kNoLogChips))
            cause = "the log's chips are not ones the instrument plays (its title ends \"" +
                    std::string(kNoLogChips) + "\")";
        else if (input.kind == InputKind::EmptyDisk)
            cause = "D81 and G64 images list no files, so no program starts";
        else if (input.hasTune && !tune.rsid && tune.playAddress != 0 && (tune.flags & 1))
            cause = "the tune is flagged for PlaySID only (\"*** PlaySID not supported! ***\")";
        else if (noRoms)
            cause = "no C64 ROMs were given and this file may need them (--data FOLDER)";
        if (!cause.empty())
            std::cerr << "c64render: likely because " << cause << "\n";
    } else if (double(total - silentFrom) >= kSilentTail * o.rate) {
        std::cerr << "c64render: the render went silent at " << formatSeconds(double(silentFrom) / o.rate) << " s\n";
    } else {
        return 0;
    }
    return o.failOnSilence ? kSilenceExit : 0;
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
