// tools/install-plugin.sh from this build into a temporary home: the layout and its preference
// files, the installed plug-in played by vst3host, a second run, --uninstall with the folders it
// keeps, and the homes and builds it refuses without leaving anything behind.

#include "tests/instrument/CommandLine.h"

#include "fixtures/Spectrum.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

namespace {

using commandline::quoted;
using commandline::run;
namespace fs = std::filesystem;

const std::string kPlugin = "/.vst3/orbella C64.vst3";
const std::string kEngine = "/.local/lib/orbella C64/Caddis Engine.bundle";
const std::string kData = "/.local/share/orbella C64";
const std::string kEnginePreferences = "/Library/Preferences/com.vantor.caddis.plist";
const std::string kProductPreferences = "/Library/Preferences/com.Vantor Works.orbella C64.plist";

std::string install(const std::string& home, const std::string& arguments = "",
                    const std::string& build = BUILD_DIR_PATH)
{
    return "HOME=" + quoted(home) + " " + quoted(INSTALL_PLUGIN_PATH) + " --build-dir " + quoted(build) +
        " --no-build " + arguments;
}

// Every path under the folder, relative to it.
std::set<std::string> tree(const std::string& folder)
{
    std::set<std::string> paths;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        paths.insert(it->path().string().substr(folder.size()));
    return paths;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(InstallPlugin, InstallsPlaysReinstallsAndUninstalls)
{
    fixtures::TempDir temp;
    // A home whose path needs quoting in the shell and escaping in the preference files.
    const std::string home = temp.makeFolder("home & <sweet>");

    const auto first = run(install(home));
    ASSERT_EQ(first.exitCode, 0) << first.output;
    for (const std::string& path : {kPlugin, kEngine, kEnginePreferences, kProductPreferences})
        EXPECT_TRUE(has(first.output, "wrote " + home + path + "\n")) << path << "\n" << first.output;
    EXPECT_TRUE(has(first.output, "made " + home + kData)) << first.output;
    for (const std::string& file : {kPlugin + "/Contents/x86_64-linux/orbella C64.so",
                                    kEngine + "/Contents/x86_64-linux/Caddis Engine.so",
                                    kEngine + "/Contents/x86_64-linux/C64Module.so"})
        EXPECT_TRUE(fs::is_regular_file(home + file)) << file;
    EXPECT_TRUE(fs::is_directory(home + kData));
    const std::string escaped = std::string(home).replace(home.find("& <sweet>"), 9, "&amp; &lt;sweet&gt;");
    EXPECT_TRUE(has(fixtures::readFile(home + kEnginePreferences),
                    "<key>path</key>\n\t<string>" + escaped + kEngine + "</string>"));
    EXPECT_TRUE(has(fixtures::readFile(home + kProductPreferences),
                    "<key>base_dir</key>\n\t<string>" + escaped + kData + "</string>"));
    for (const std::string& path : tree(home))
        EXPECT_FALSE(has(path, ".install-")) << path;

    // The installed plug-in finds the engine and the data folder through those files alone.
    const std::string wav = temp / "note.wav";
    const auto played = run("HOME=" + quoted(home) + " " + quoted(VST3HOST_PATH) + " " + quoted(home + kPlugin) +
                            " --note 69 --seconds 1 -o " + quoted(wav));
    ASSERT_EQ(played.exitCode, 0) << played.output;
    EXPECT_FALSE(has(played.output, "Cannot find")) << played.output;
    EXPECT_FALSE(has(played.output, "Can't")) << played.output;
    commandline::Wav audio;
    ASSERT_TRUE(commandline::readWav(wav, audio));
    ASSERT_EQ(audio.left.size(), 48000u);
    const size_t n = 32768;
    const fixtures::Spectrum s(std::vector<double>(audio.left.end() - int64_t(n), audio.left.end()), 48000.0);
    EXPECT_NEAR(s.peakFrequency(50.0, 5000.0), 440.0, 48000.0 / double(n));

    // Again: the bundles are replaced whole, the data folder and what the user put there stay.
    temp.write("home & <sweet>" + kData + "/kernal.bin", "user's");
    temp.write("home & <sweet>" + kPlugin + "/Contents/stale", "old");
    const auto second = run(install(home));
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(has(second.output, "kept " + home + kData)) << second.output;
    EXPECT_FALSE(fs::exists(home + kPlugin + "/Contents/stale"));
    EXPECT_EQ(fixtures::readFile(home + kData + "/kernal.bin"), "user's");
    for (const std::string& path : tree(home))
        EXPECT_FALSE(has(path, ".install-")) << path;

    // Uninstalled: no bundle, no preference file; the data folder with its file stays.
    const auto removed = run(install(home, "--uninstall"));
    ASSERT_EQ(removed.exitCode, 0) << removed.output;
    for (const std::string& path : {kPlugin, kEngine, kEnginePreferences, kProductPreferences}) {
        EXPECT_FALSE(fs::exists(home + path)) << path;
        EXPECT_TRUE(has(removed.output, "removed " + home + path + "\n")) << path << "\n" << removed.output;
    }
    // So are the folders the install made, now empty; the data folder's parents stay with it.
    for (const char* folder : {"/.local/lib/orbella C64", "/.local/lib", "/.vst3", "/Library/Preferences", "/Library"}) {
        EXPECT_FALSE(fs::exists(home + folder)) << folder;
        EXPECT_TRUE(has(removed.output, "removed " + home + folder + "\n")) << folder << "\n" << removed.output;
    }
    EXPECT_EQ(fixtures::readFile(home + kData + "/kernal.bin"), "user's");
    // (The plug-in's own log, written while it played, is no part of the installation.)
    for (const std::string& path : tree(home))
        EXPECT_TRUE(path == kData + "/kernal.bin" || fs::is_directory(home + path) ||
                    path.rfind("/.local/share/Vantor Works/", 0) == 0)
            << path;
    const auto again = run(install(home, "--uninstall"));
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_FALSE(has(again.output, "removed")) << again.output;
}

// Uninstall removes a folder only when nothing else is left in it: what the user keeps beside
// the installed files, and every folder above it, stay.
TEST(InstallPlugin, UninstallKeepsFoldersHoldingAnythingElse)
{
    const struct
    {
        const char* what;
        std::string file;                  // made before the install, relative to the home
        std::set<std::string> kept;        // folders of the install that stay
    } cases[] = {
        {"another plug-in", "/.vst3/Other.vst3/Contents/x", {"/.vst3"}},
        {"a hidden file beside the plug-in", "/.vst3/.keep", {"/.vst3"}},
        {"another library", "/.local/lib/libother.so", {"/.local/lib"}},
        {"a file beside the engine", "/.local/lib/orbella C64/notes.txt", {"/.local/lib", "/.local/lib/orbella C64"}},
        {"another preference file", "/Library/Preferences/com.other.plist", {"/Library", "/Library/Preferences"}},
        {"something else in Library", "/Library/Caches/x", {"/Library"}},
    };
    const std::set<std::string> folders = {"/.vst3", "/.local/lib", "/.local/lib/orbella C64", "/Library",
                                           "/Library/Preferences"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fixtures::TempDir temp;
        temp.write("home" + c.file, "theirs");
        const std::string home = temp / "home";
        const auto installed = run(install(home));
        ASSERT_EQ(installed.exitCode, 0) << installed.output;
        const auto removed = run(install(home, "--uninstall"));
        ASSERT_EQ(removed.exitCode, 0) << removed.output;
        EXPECT_EQ(fixtures::readFile(home + c.file), "theirs");
        for (const std::string& folder : folders)
            EXPECT_EQ(fs::is_directory(home + folder), c.kept.count(folder) == 1) << folder << "\n" << removed.output;
        EXPECT_TRUE(fs::is_directory(home + kData));
    }
}

// Refused with a message naming the path and a non-zero status; the home is as it was.
TEST(InstallPlugin, RefusesHomesItCannotWriteAndMissingBuilds)
{
    fixtures::TempDir temp;
    temp.write("file", "");
    const std::string emptyBuild = temp.makeFolder("no build");
    struct Case
    {
        const char* what;
        std::string home;
        std::string blocker;  // a file made where a folder must go, relative to the home
        std::string build;
        std::string named;    // in the message
    };
    const std::string at = temp.path();
    const Case cases[] = {
        {"a missing build", at + "/h1", "", emptyBuild, emptyBuild + "/orbella C64.vst3"},
        {"a home beneath a file", at + "/file/home", "", BUILD_DIR_PATH, at + "/file/home/.vst3"},
        {"a file where the plug-ins go", at + "/h2", "/.vst3", BUILD_DIR_PATH, at + "/h2/.vst3"},
        {"a file where the engine goes", at + "/h3", "/.local", BUILD_DIR_PATH, at + "/h3/.local"},
        {"a file where the preferences go", at + "/h4", "/Library", BUILD_DIR_PATH, at + "/h4/Library"},
        {"a relative home", "relative/home", "", BUILD_DIR_PATH, "relative/home"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.home[0] == '/' && c.home.rfind(at + "/h", 0) == 0)
            fs::create_directories(c.home);
        if (!c.blocker.empty())
            temp.write(c.home.substr(at.size() + 1) + c.blocker, "");
        const std::set<std::string> before = tree(c.home);
        const auto r = run(install(c.home, "", c.build));
        EXPECT_NE(r.exitCode, 0) << r.output;
        EXPECT_TRUE(has(r.output, c.named)) << r.output;
        EXPECT_EQ(tree(c.home), before);
    }
    // A home without write permission, where permissions hold (not for root).
    if (geteuid() != 0) {
        const std::string locked = temp.makeFolder("locked");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        const auto r = run(install(locked));
        EXPECT_NE(r.exitCode, 0) << r.output;
        EXPECT_TRUE(has(r.output, locked + "/.vst3")) << r.output;
        EXPECT_TRUE(tree(locked).empty());
        fs::permissions(locked, fs::perms::owner_all);
    }
}

}  // namespace
