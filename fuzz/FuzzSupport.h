#pragma once
// What the libFuzzer harnesses share. Each harness file defines LLVMFuzzerTestOneInput and
// fuzzSeeds; `fuzz_<reader> --seeds FOLDER` writes the seeds into the folder and exits instead
// of fuzzing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

class Seeds {
public:
    void add(const std::string& name, Bytes bytes) { items.emplace_back(name, std::move(bytes)); }
    void add(const std::string& name, const std::string& text) { add(name, Bytes(text.begin(), text.end())); }

    std::vector<std::pair<std::string, Bytes>> items;
};

// A folder of this process's own for readers that take paths; removed at exit.
const std::string& scratchFolder();
// Replaces the file with the bytes (a new file: truncating one can cost milliseconds).
void writeFile(const std::string& path, const uint8_t* data, size_t size);
// Writes the bytes to scratchFolder()/name and returns the path.
std::string writeScratch(const std::string& name, const uint8_t* data, size_t size);

}  // namespace fuzz

// The harness's starting inputs, made with the test fixture builders.
void fuzzSeeds(fuzz::Seeds& seeds);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
