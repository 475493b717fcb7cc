#pragma once
// A small VST3 host: opens a bundle's module, lists its classes, or creates its processor and
// controller, connects them, plays one note through the processor and writes the audio to a WAV
// file, then runs the state, the editor view and the teardown in reverse.

#include <cstdint>
#include <ostream>
#include <string>

namespace vst3host {

struct Options
{
    bool help = false;          // print the usage and stop
    std::string bundle;         // NAME.vst3, or the module file itself
    bool list = false;          // list the classes and stop
    std::string hostName = "vst3host";
    double rate = 48000.0;
    int32_t block = 512;
    int32_t note = 69;
    double seconds = 1.0;
    std::string output;         // WAV file; none when empty
};

// False with a message for unknown options and values out of range. -h or --help sets help and
// needs no bundle.
bool parseArguments(int argc, const char* const* argv, Options& options, std::string& error);

// The module file of a bundle folder: NAME.vst3/Contents/x86_64-linux/NAME.so.
std::string moduleFile(const std::string& bundle);

// 0 on success; what happened goes to `out`, failures name their step.
int run(const Options& options, std::ostream& out);

inline constexpr const char* kUsage =
    "usage: vst3host BUNDLE [--list] [--host-name TEXT] [--rate HZ] [--block N] [--note N]\n"
    "                [--seconds S] [-o OUT.wav]\n";

// The usage with what each option does, for --help.
inline constexpr const char* kHelp =
    "Loads a VST3 bundle (NAME.vst3, or its module file), lists its classes or plays one note\n"
    "through its processor, then runs its state, editor view and teardown.\n"
    "  --list            list the factory's classes and stop\n"
    "  --host-name TEXT  the application name the host gives (default vst3host)\n"
    "  --rate HZ         sample rate, 8000-384000 (default 48000)\n"
    "  --block N         frames per block, 1-8192 (default 512)\n"
    "  --note N          the MIDI note held, 0-127 (default 69)\n"
    "  --seconds S       how long it plays, 0-600 (default 1)\n"
    "  -o OUT.wav        write the audio (32-bit float); without it nothing is written\n"
    "  -h, --help        this text\n"
    "Exit status: 0 done, 1 a step failed, 2 bad arguments.\n";

}  // namespace vst3host
