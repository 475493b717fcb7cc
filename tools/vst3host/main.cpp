// vst3host: loads a VST3 bundle, lists its classes or plays one note through it into a WAV file.

#include "Vst3Host.h"

#include <iostream>

int main(int argc, char** argv)
{
    vst3host::Options options;
    std::string error;
    if (!vst3host::parseArguments(argc, argv, options, error)) {
        std::cerr << error << "\n" << vst3host::kUsage;
        return 2;
    }
    if (options.help) {
        std::cout << vst3host::kUsage << vst3host::kHelp;
        return 0;
    }
    return vst3host::run(options, std::cout);
}
