#pragma once
// Holds every #include "..." of the library folders to the folders their CMake files declare.

#include <filesystem>
#include <istream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace layering {

// Folder (relative to the source root, '/'-separated) -> the folders its code may include.
using Rules = std::map<std::string, std::set<std::string>>;

// Lines "folder: allowed...", as the build writes them.
Rules readRules(std::istream& in);

struct Report {
    size_t files = 0;     // sources and headers read
    size_t includes = 0;  // includes that name a file of the source tree
    std::vector<std::string> violations;  // "file:line: ..."
};

// Reads every source and header under each folder of the rules (a nested folder of the rules
// checks its own files). A quoted include is resolved as the compiler does, next to the file
// first, then from the root; one that names no file of the tree is not ours and is skipped.
Report check(const std::filesystem::path& root, const Rules& rules);

}  // namespace layering
