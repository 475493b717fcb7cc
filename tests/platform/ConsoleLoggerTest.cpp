#include "platform/ConsoleLogger.h"

#include "platform/PlatformToolsDesktop.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

using namespace vantor;
using Strings = std::vector<std::string>;

namespace {

constexpr time_t kStart = 1700000000;  // the clock the tests give the logger

Strings linesOf(const std::string& text)
{
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The text of a log line, after "I:" thread ":" microseconds ":".
std::string textOf(const std::string& line)
{
    static const std::regex form("I:[0-9]+:[0-9]+:(.*)");
    std::smatch m;
    return std::regex_match(line, m, form) ? m[1].str() : "<not a log line: " + line + ">";
}

std::unique_ptr<ConsoleLogger> makeLogger()
{
    return std::make_unique<ConsoleLogger>([] { return kStart; });
}

const std::string kRule(79, '-');

}  // namespace

TEST(LogName, BuiltFromItsParts)
{
    const struct {
        uint16_t code;
        const char* host;
        uint8_t multi, active;
        const char* want;
    } kCases[] = {
        {0xFA92, "/x/Host.app", 0, 0, "F/P_VST3_Host.log"},
        {0xFA92, "/x/a.b.c", 0, 0, "F/P_VST3_a.b.log"},
        {0xFA92, "plain", 0, 0, "F/P_VST3_plain.log"},
        {0xFA98, "/x/Host.app", 0, 0, "F/P_Host.log"},
        {0xFA8F, "Host", 0, 0, "F/P_Host.log"},
        {0xFA90, "Host", 1, 1, "F/P_SA_Host_Multi.log"},
        {0xFA91, "Host", 1, 0, "F/P_VST2X_Host.log"},
        {0xFA93, "Host", 0, 1, "F/P_AU_Host.log"},
        {0xFA94, "Host", 0, 0, "F/P_AAX_Host.log"},
        {0xFA95, "Host", 0, 0, "F/P_MSVCTEST_Host.log"},
        {0xFA96, "Host", 0, 0, "F/P_CLAP_Host.log"},
        {0xFA97, "Host", 0, 0, "F/P_PTEST_Host.log"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(makeLogFileName("F", "P", c.code, c.host, c.multi, c.active), c.want)
            << c.host << " " << c.code;
    EXPECT_EQ(makeLogFileName("", "P", 0xFA92, "H", 0, 0), "/P_VST3_H.log");
}

TEST(ConsoleLogger, OpeningAndClosingLines)
{
    fixtures::TempDir dir;
    const std::string path = dir / "P_VST3_Host.log";
    auto logger = makeLogger();
    ASSERT_TRUE(logger->init(path));
    EXPECT_TRUE(logger->good());
    ASSERT_NE(g_pluginStream.load(), nullptr);
    logInfo("hello");
    logError("trouble");
    logger.reset();
    EXPECT_EQ(g_pluginStream.load(), nullptr);
    logInfo("after the end");  // dropped

    const std::string text = fixtures::readFile(path);
    const Strings lines = linesOf(text);
    ASSERT_EQ(lines.size(), 8u) << text;
    EXPECT_TRUE(std::regex_match(textOf(lines[0]), std::regex("g_pluginStream:0x[0-9a-f]+"))) << lines[0];
    EXPECT_EQ(textOf(lines[1]), path + " opened on: " + logTimeText(kStart, true) + " BUILD:" + __DATE__);
    EXPECT_EQ(logTimeText(kStart, true).find(':'), std::string::npos);
    EXPECT_EQ(textOf(lines[2]), kRule);
    EXPECT_EQ(textOf(lines[3]), "hello");
    EXPECT_TRUE(std::regex_match(lines[4], std::regex("E:[0-9]+:[0-9]+:trouble"))) << lines[4];
    EXPECT_EQ(textOf(lines[5]), kRule);
    EXPECT_EQ(textOf(lines[6]), path + " closed on: " + logTimeText(kStart, false));
    EXPECT_NE(logTimeText(kStart, false).find(':'), std::string::npos) << "the closing time keeps its colons";
    EXPECT_EQ(lines[7], "@");
    EXPECT_EQ(text.back(), '@');
    EXPECT_EQ(text[text.size() - 2], '\n');

    // The thread and the time since boot are numbers; the time does not go back.
    const std::regex numbers("I:([0-9]+):([0-9]+):.*");
    std::smatch first, last;
    ASSERT_TRUE(std::regex_match(lines[0], first, numbers));
    ASSERT_TRUE(std::regex_match(lines[6], last, numbers));
    EXPECT_EQ(first[1].str(), std::to_string(static_cast<unsigned long>(pthread_self())));
    EXPECT_LE(std::stoull(first[2].str()), std::stoull(last[2].str()));
}

TEST(ConsoleLogger, PreviousLogs)
{
    const std::string dated = std::string("P.log_") + logTimeText(kStart, true) + ".log";
    const struct {
        const char* what;
        std::string old;
        Strings files;
    } kCases[] = {
        {"clean", "old run\n@", {"P.log"}},
        {"unclean", "old run\ncrash", {"P.log", dated}},
        {"empty", "", {"P.log"}},
    };
    for (const auto& c : kCases) {
        fixtures::TempDir dir;
        const std::string path = dir.write("P.log", c.old);
        auto logger = makeLogger();
        EXPECT_TRUE(logger->init(path)) << c.what;
        logger.reset();
        Strings files = fixtures::folderEntries(dir.path());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files) << c.what;
        if (c.files.size() == 2) {
            EXPECT_EQ(fixtures::readFile(dir / dated), c.old) << c.what;
        }
        EXPECT_EQ(fixtures::readFile(path).find("old run"), std::string::npos) << c.what;
    }
}

TEST(ConsoleLogger, FailedCopyKeepsTheOldLog)
{
    fixtures::TempDir dir;
    const std::string path = dir.write("P.log", "evidence of a crash");
    const std::string stamp = logTimeText(kStart, true);
    dir.makeFolder("P.log_" + stamp + ".log/inside");  // the copy cannot go there
    auto logger = makeLogger();
    EXPECT_TRUE(logger->init(path));
    EXPECT_EQ(logger->logPath(), path + "_" + stamp + ".new.log");
    logger.reset();
    EXPECT_EQ(fixtures::readFile(path), "evidence of a crash");
    EXPECT_EQ(fixtures::folderEntries(dir / ("P.log_" + stamp + ".log")), Strings{"inside"});
    const std::string text = fixtures::readFile(path + "_" + stamp + ".new.log");
    EXPECT_EQ(text.back(), '@');
    EXPECT_NE(text.find(path + "_" + stamp + ".new.log opened on: "), std::string::npos);
}

TEST(ConsoleLogger, WholeLinesFromManyThreads)
{
    fixtures::TempDir dir;
    const std::string path = dir / "threads.log";
    auto logger = makeLogger();
    ASSERT_TRUE(logger->init(path));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 1000; ++i)
                logInfo("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                        std::string(40, 'x'));
        });
    for (auto& thread : threads)
        thread.join();
    logger.reset();
    const std::regex whole("I:[0-9]+:[0-9]+:thread [0-7] line [0-9]+ x{40}");
    size_t count = 0;
    for (const std::string& line : linesOf(fixtures::readFile(path)))
        count += std::regex_match(line, whole) ? 1 : 0;
    EXPECT_EQ(count, 8000u);
}

TEST(ConsoleLogger, NoFolderNoLog)
{
    {
        auto logger = makeLogger();
        EXPECT_FALSE(logger->init("/P_VST3_Host.log"));  // an empty folder: never at the root
        EXPECT_NE(g_pluginStream.load(), nullptr);
        logInfo("dropped");
        EXPECT_FALSE(logger->init("relative.log"));
    }
    EXPECT_EQ(g_pluginStream.load(), nullptr);
    EXPECT_NE(access("/P_VST3_Host.log", F_OK), 0);
    EXPECT_NE(access("relative.log", F_OK), 0);
}

TEST(ConsoleLogger, SetUpInTheUsersFolder)
{
    fixtures::TempDir dir;
    const fixtures::ScopedEnv home("HOME", dir.path().c_str()), xdg("XDG_DATA_HOME", nullptr);
    EXPECT_TRUE(setUpPluginLog("V", "P", 0xFA92, 0, 0));
    popupModalMessageWindow(nullptr, "Heads up", "details");  // the default alert also logs
    closePluginLog();
    EXPECT_EQ(g_pluginStream.load(), nullptr);
    const std::string text = fixtures::readFile(dir / ".local/share/V/P/P_VST3_test_platform.log");
    EXPECT_NE(text.find(":alert: Heads up | details\n"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '@');
}

TEST(ConsoleLogger, HomeThatIsAFile)
{
    fixtures::TempDir dir;
    const std::string file = dir.write("home", "a file");
    const fixtures::ScopedEnv home("HOME", file.c_str()), xdg("XDG_DATA_HOME", nullptr);
    EXPECT_FALSE(setUpPluginLog("V", "P", 0xFA92, 0, 0));
    logInfo("goes nowhere");
    closePluginLog();
    EXPECT_EQ(g_pluginStream.load(), nullptr);
    EXPECT_EQ(fixtures::readFile(file), "a file");
    EXPECT_EQ(fixtures::folderEntries(dir.path()), Strings{"home"});
}
