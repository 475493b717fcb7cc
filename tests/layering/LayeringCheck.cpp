#include "LayeringCheck.h"

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace layering {

namespace {

bool isSource(const fs::path& p)
{
    static const std::set<std::string> kExtensions = {".h", ".hh", ".hpp", ".inc", ".ipp",
                                                      ".c", ".cc", ".cpp", ".cxx"};
    return kExtensions.count(p.extension().string()) != 0;
}

// The rules folder a path (relative to the root) lies in, the longest one; "" for none.
std::string folderOf(const std::string& relative, const Rules& rules)
{
    std::string best;
    for (const auto& [folder, allowed] : rules)
        if (relative.size() > folder.size() && relative.compare(0, folder.size(), folder) == 0 &&
            relative[folder.size()] == '/' && folder.size() > best.size())
            best = folder;
    return best;
}

// The quoted name of an #include line, or "" for any other line.
std::string quotedInclude(const std::string& line)
{
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] != '#')
        return {};
    i = line.find_first_not_of(" \t", i + 1);
    if (i == std::string::npos || line.compare(i, 7, "include") != 0)
        return {};
    i = line.find_first_not_of(" \t", i + 7);
    if (i == std::string::npos || line[i] != '"')
        return {};
    const size_t end = line.find('"', i + 1);
    return end == std::string::npos ? std::string() : line.substr(i + 1, end - i - 1);
}

// The included file relative to the root, or "" when it is no file of the tree.
std::string resolve(const fs::path& root, const fs::path& includer, const std::string& name)
{
    std::error_code ec;
    for (const fs::path& base : {includer.parent_path(), root}) {
        const fs::path candidate = (base / name).lexically_normal();
        if (fs::is_regular_file(candidate, ec)) {
            const fs::path relative = candidate.lexically_relative(root);
            if (relative.empty() || *relative.begin() == "..")
                return {};
            return relative.generic_string();
        }
    }
    return {};
}

}  // namespace

Rules readRules(std::istream& in)
{
    Rules rules;
    std::string line;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::set<std::string>& allowed = rules[line.substr(0, colon)];
        std::istringstream words(line.substr(colon + 1));
        for (std::string w; words >> w;)
            allowed.insert(w);
    }
    return rules;
}

Report check(const fs::path& root, const Rules& rules)
{
    Report report;
    const fs::path base = root.lexically_normal();
    for (const auto& [folder, allowed] : rules) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(base / folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (!it->is_regular_file(ec) || !isSource(it->path()))
                continue;
            const std::string file = it->path().lexically_relative(base).generic_string();
            if (folderOf(file, rules) != folder)
                continue;  // a nested folder's own file
            ++report.files;
            std::ifstream in(it->path());
            std::string line;
            for (size_t number = 1; std::getline(in, line); ++number) {
                const std::string name = quotedInclude(line);
                const std::string target = name.empty() ? "" : resolve(base, it->path(), name);
                if (target.empty())
                    continue;
                ++report.includes;
                const std::string used = folderOf(target, rules);
                if (allowed.count(used) == 0)
                    report.violations.push_back(
                        file + ":" + std::to_string(number) + ": includes \"" + name + "\" (" +
                        (used.empty() ? "no library folder" : "folder " + used) + "), which " +
                        folder + "'s CMake file does not declare");
            }
        }
        if (ec)
            report.violations.push_back(folder + ": cannot read the folder: " + ec.message());
    }
    return report;
}

}  // namespace layering
