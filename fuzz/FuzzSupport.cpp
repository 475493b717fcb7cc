#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace fuzz {

const std::string& scratchFolder()
{
    static const std::string folder = [] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantor-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            perror("mkdtemp");
            abort();
        }
        return pattern;
    }();
    static const struct Remover {
        ~Remover()
        {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    } remover;
    return folder;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    unlink(path.c_str());
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || (size && fwrite(data, 1, size, f) != size) || fclose(f) != 0) {
        perror(path.c_str());
        abort();
    }
}

std::string writeScratch(const std::string& name, const uint8_t* data, size_t size)
{
    const std::string path = scratchFolder() + "/" + name;
    writeFile(path, data, size);
    return path;
}

}  // namespace fuzz

// libFuzzer calls this before it reads its flags.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    if (*argc != 3 || strcmp((*argv)[1], "--seeds") != 0)
        return 0;
    const std::filesystem::path folder = (*argv)[2];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    fuzz::Seeds seeds;
    fuzzSeeds(seeds);
    for (const auto& [name, bytes] : seeds.items) {
        std::ofstream out(folder / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) {
            fprintf(stderr, "cannot write seed %s\n", (folder / name).c_str());
            exit(1);
        }
    }
    printf("%zu seeds in %s\n", seeds.items.size(), folder.c_str());
    exit(0);
}
