#pragma once
// A unique path in the temporary folder, removed with everything under it when destroyed.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class TempPath
{
public:
    explicit TempPath(const std::string& stem)
    {
        static std::atomic<int> counter{0};
        path = (std::filesystem::temp_directory_path() /
                ("vantor_" + stem + "_" + std::to_string(getpid()) + "_" +
                 std::to_string(counter++)))
                   .string();
    }
    ~TempPath()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempPath(const TempPath&) = delete;
    TempPath& operator=(const TempPath&) = delete;

    const std::string& str() const { return path; }
    const char* c_str() const { return path.c_str(); }

    void write(const std::vector<uint8_t>& bytes) const
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::vector<uint8_t> read() const
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::string path;
};
