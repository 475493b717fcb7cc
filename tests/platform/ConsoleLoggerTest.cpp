#include "platform/ConsoleLogger.h"

#include "platform/PlatformToolsDesktop.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
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

bool isNumber(const std::string& text)
{
    return !text.empty() &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A log line: kind ("I:" or "E:"), thread, microseconds since boot and text; an empty kind when
// the line has not that form.
struct LogLine {
    std::string kind, thread, micros, text;
};

LogLine parse(const std::string& line)
{
    if (line.compare(0, 2, "I:") != 0 && line.compare(0, 2, "E:") != 0)
        return {};
    const size_t a = line.find(':', 2);
    const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos || !isNumber(line.substr(2, a - 2)) ||
        !isNumber(line.substr(a + 1, b - a - 1)))
        return {};
    return {line.substr(0, 2), line.substr(2, a - 2), line.substr(a + 1, b - a - 1), line.substr(b + 1)};
}

// The text of an "I:" line.
std::string textOf(const std::string& line)
{
    const LogLine parsed = parse(line);
    return parsed.kind == "I:" ? parsed.text : "<not an I: line: " + line + ">";
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
    const std::string first = textOf(lines[0]);
    EXPECT_EQ(first.rfind("g_pluginStream:0x", 0), 0u) << lines[0];
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef", 17), std::string::npos) << lines[0];
    EXPECT_EQ(textOf(lines[1]), path + " opened on: " + logTimeText(kStart, true) + " BUILD:" + __DATE__);
    EXPECT_EQ(logTimeText(kStart, true).find(':'), std::string::npos);
    EXPECT_EQ(textOf(lines[2]), kRule);
    EXPECT_EQ(textOf(lines[3]), "hello");
    EXPECT_EQ(parse(lines[4]).kind, "E:");
    EXPECT_EQ(parse(lines[4]).text, "trouble");
    EXPECT_EQ(textOf(lines[5]), kRule);
    EXPECT_EQ(textOf(lines[6]), path + " closed on: " + logTimeText(kStart, false));
    EXPECT_NE(logTimeText(kStart, false).find(':'), std::string::npos) << "the closing time keeps its colons";
    EXPECT_EQ(lines[7], "@");
    EXPECT_EQ(text.back(), '@');
    EXPECT_EQ(text[text.size() - 2], '\n');

    // The thread is this one's; the time since boot does not go back.
    EXPECT_EQ(parse(lines[0]).thread, std::to_string(static_cast<unsigned long>(pthread_self())));
    EXPECT_LE(std::stoull(parse(lines[0]).micros), std::stoull(parse(lines[6]).micros));
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
    auto text = [](int thread, int line) {
        return "thread " + std::to_string(thread) + " line " + std::to_string(line) + " " +
            std::string(40, 'x');
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &text] {
            for (int i = 0; i < 1000; ++i)
                logInfo(text(t, i));
        });
    for (auto& thread : threads)
        thread.join();
    logger.reset();
    std::set<std::string> expected;
    for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 1000; ++i)
            expected.insert(text(t, i));
    size_t whole = 0;
    for (const std::string& line : linesOf(fixtures::readFile(path)))
        whole += expected.erase(parse(line).text);
    EXPECT_EQ(whole, 8000u);
}

TEST(ConsoleLogger, NoFolderNoLog)
{
    for (const char* refused : {"/P_VST3_Host.log", "log.txt"}) {  // at the root, or no folder
        SCOPED_TRACE(refused);
        {
            auto logger = makeLogger();
            EXPECT_FALSE(logger->init(refused));
            ASSERT_NE(g_pluginStream.load(), nullptr);
            EXPECT_FALSE(g_pluginStream.load()->good());  // a caller that checks sees no log
            logInfo("dropped");
        }
        EXPECT_EQ(g_pluginStream.load(), nullptr);
        EXPECT_NE(access(refused, F_OK), 0);
    }
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
