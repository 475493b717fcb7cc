// layering_check SOURCE_ROOT RULES_FILE: exit 1 naming every include a folder does not declare.

#include "LayeringCheck.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: layering_check SOURCE_ROOT RULES_FILE\n");
        return 2;
    }
    std::ifstream in(argv[2]);
    const layering::Rules rules = layering::readRules(in);
    if (rules.empty()) {
        std::fprintf(stderr, "%s: no folder rules\n", argv[2]);
        return 2;
    }
    const layering::Report report = layering::check(argv[1], rules);
    for (const std::string& v : report.violations)
        std::fprintf(stderr, "%s\n", v.c_str());
    std::printf("%zu folders, %zu files, %zu includes of the tree, %zu not declared\n",
                rules.size(), report.files, report.includes, report.violations.size());
    return report.violations.empty() && report.includes > 0 ? 0 : 1;
}
