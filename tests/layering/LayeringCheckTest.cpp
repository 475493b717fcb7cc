#include "LayeringCheck.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// "low" uses nothing, "high" uses "low"; of the nested folders under "shims", "b" uses "a".
constexpr const char* kRules = "high: high low\n"
                               "low: low\n"
                               "shims/a: shims/a\n"
                               "shims/b: shims/a shims/b\n";

struct Case {
    const char* name;
    const char* file;
    const char* text;
    const char* violation;  // "file:line" of the one expected, or null for none
};

class LayeringCheck : public ::testing::TestWithParam<Case> {};

TEST_P(LayeringCheck, HoldsIncludesToTheDeclaredFolders)
{
    const Case& c = GetParam();
    fixtures::TempDir tree;
    for (const char* header : {"low/L.h", "low/sub/S.h", "high/H.h", "shims/a/A.h", "shims/b/B.h",
                               "tests/T.h"})
        tree.write(header, "#pragma once\n");
    tree.write(c.file, c.text);
    std::istringstream rules(kRules);

    const layering::Report report = layering::check(tree.path(), layering::readRules(rules));

    if (!c.violation) {
        EXPECT_TRUE(report.violations.empty()) << report.violations.front();
        return;
    }
    ASSERT_EQ(report.violations.size(), 1u);
    EXPECT_EQ(report.violations[0].rfind(std::string(c.violation) + ": includes", 0), 0u)
        << report.violations[0];
}

INSTANTIATE_TEST_SUITE_P(
    Includes, LayeringCheck,
    ::testing::Values(
        Case{"DeclaredFolder", "high/x.cpp", "#include \"low/L.h\"\n", nullptr},
        Case{"OwnFolderAndNextToTheFile", "low/x.cpp",
             "#include \"low/L.h\"\n#include \"L.h\"\n#include \"sub/S.h\"\n", nullptr},
        Case{"UpwardInclude", "low/x.cpp", "// up\n#include \"high/H.h\"\n", "low/x.cpp:2"},
        Case{"SpacedDirective", "low/x.cpp", "  #  include \"high/H.h\"  // spaced\n",
             "low/x.cpp:1"},
        Case{"RelativePathUpward", "low/x.cpp", "#include \"../high/H.h\"\n", "low/x.cpp:1"},
        Case{"NestedFileOfTheFolder", "low/sub/x.h", "#pragma once\n#include \"high/H.h\"\n",
             "low/sub/x.h:2"},
        Case{"UndeclaredTreeFolder", "low/x.cpp", "#include \"tests/T.h\"\n", "low/x.cpp:1"},
        Case{"NestedSiblingFolder", "shims/a/x.cpp", "#include \"shims/b/B.h\"\n",
             "shims/a/x.cpp:1"},
        Case{"NestedDeclaredSibling", "shims/b/x.cpp", "#include \"shims/a/A.h\"\n", nullptr},
        // Not an include of the tree: commented out, a system header, a file the tree lacks.
        Case{"NotOfTheTree", "low/x.cpp",
             "// #include \"high/H.h\"\n#include <high/H.h>\n#include \"vendor/base/thing.h\"\n",
             nullptr}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
