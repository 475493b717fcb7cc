#include "platform/PlatformToolsDesktop.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using Strings = std::vector<std::string>;

namespace {

// Installs a handler for one scope that records every alert and answers with `answer`.
class ScriptedAlerts {
public:
    explicit ScriptedAlerts(int answer)
    {
        wrap_setAlertHandler([this, answer](const AlertRequest& request) {
            seen.push_back(request);
            return answer;
        });
    }
    ~ScriptedAlerts() { wrap_setAlertHandler(nullptr); }
    std::vector<AlertRequest> seen;
};

// Records what is handed to the desktop for one scope.
class RecordedOpener {
public:
    RecordedOpener()
    {
        wrap_setDesktopOpener([this](const std::string& text) { opened.push_back(text); });
    }
    ~RecordedOpener() { wrap_setDesktopOpener(nullptr); }
    Strings opened;
};

}  // namespace

TEST(Languages, FromTheEnvironment)
{
    const struct {
        const char* language;
        const char* lcAll;
        const char* lang;
        Strings want;
        bool result;
    } kCases[] = {
        {"en_US:fr_CA:zh_Hans", nullptr, "de_DE.UTF-8", {"x", "en", "fr", "zh"}, true},
        {"en-US:fr-CA:zh-Hans", nullptr, nullptr, {"x", "en", "fr", "zh"}, true},
        {"", nullptr, "de_DE.UTF-8", {"x", "de"}, true},  // an empty LANGUAGE does not count
        {nullptr, "pt_BR@euro", "de_DE", {"x", "pt"}, true},  // LC_ALL before LANG
        {"C:POSIX:sv", nullptr, nullptr, {"x", "sv"}, true},
        {nullptr, nullptr, "C.UTF-8", {"x", "en"}, false},
        {nullptr, nullptr, nullptr, {"x", "en"}, false},
    };
    for (const auto& c : kCases) {
        const fixtures::ScopedEnv language("LANGUAGE", c.language), all("LC_ALL", c.lcAll),
            messages("LC_MESSAGES", nullptr), lang("LANG", c.lang);
        Strings list{"x"};
        EXPECT_EQ(getUserLanguageList(list), c.result) << (c.language ? c.language : "-");
        EXPECT_EQ(list, c.want) << (c.language ? c.language : "-");
    }
    const fixtures::ScopedEnv language("LANGUAGE", (std::string(64, 'a') + ":it").c_str());
    Strings list;
    EXPECT_TRUE(getUserLanguageList(list));
    EXPECT_EQ(list, Strings{"it"}) << "an entry that does not fit 64 bytes is skipped";
}

TEST(Sandbox, ByNameOrEnvironment)
{
    const char* const plain[] = {"HOME=/x", "APP_SANDBOX_CONTAINER=no", nullptr};
    const char* const sandboxed[] = {"HOME=/x", "APP_SANDBOX_CONTAINER_ID=abc", nullptr};
    EXPECT_TRUE(wrap_isSandboxed("AUHostingServiceXPC_arrow", plain));
    EXPECT_TRUE(wrap_isSandboxed("AUHostingServiceXPC", nullptr));  // the environment is not looked at
    EXPECT_FALSE(wrap_isSandboxed("AUHostingServiceXPC_other", plain));
    EXPECT_TRUE(wrap_isSandboxed("Host", sandboxed));
    EXPECT_FALSE(wrap_isSandboxed("Host", plain));
}

TEST(Alerts, ButtonsAndAnswers)
{
    {
        ScriptedAlerts alerts(1);  // the second button
        EXPECT_FALSE(popupModalYesNoWindow(nullptr, "m", "i", true));
        EXPECT_FALSE(popupModalOkCancelWindow(nullptr, "m", "i"));
        popupModalMessageWindow(nullptr, "title", "text");
        ASSERT_EQ(alerts.seen.size(), 3u);
        EXPECT_EQ(alerts.seen[0].buttons, (Strings{"Yes", "No"}));
        EXPECT_EQ(alerts.seen[1].buttons, (Strings{"Ok", "Cancel"}));
        EXPECT_EQ(alerts.seen[2].buttons, Strings{"OK"});
        EXPECT_EQ(alerts.seen[2].message, "title");
        EXPECT_EQ(alerts.seen[2].informative, "text");
    }
    for (int answer : {0, 2}) {
        ScriptedAlerts alerts(answer);
        EXPECT_TRUE(popupModalYesNoWindow(nullptr, "m", "i", false)) << answer;
        EXPECT_TRUE(popupModalOkCancelWindow(nullptr, "m", "i")) << answer;
    }
    ScriptedAlerts alerts(0);
    popupModalMessageWindow(nullptr, "m", "\xFF bad");
    popupModalYesNoWindow(nullptr, "\xC3", "\xFF bad", false);
    EXPECT_EQ(alerts.seen[0].informative, "OK");  // what the message alert shows for it
    EXPECT_EQ(alerts.seen[1].message, "");
    EXPECT_EQ(alerts.seen[1].informative, "");
}

TEST(Alerts, DefaultNeverBlocks)
{
    testing::internal::CaptureStderr();
    EXPECT_TRUE(popupModalYesNoWindow(nullptr, "Question", "Details", false));
    EXPECT_TRUE(popupModalOkCancelWindow(nullptr, "Sure", "More"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Question\nDetails\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Sure\nMore\n"), std::string::npos) << err;
}

TEST(Process, NamesAndFixedAnswers)
{
    std::string name, version, user;
    EXPECT_TRUE(wrap_processName(name));
    EXPECT_EQ(name, "test_platform");
    EXPECT_EQ(PGetCurrentApplicationPath(nullptr), "test_platform");
    EXPECT_TRUE(wrap_osversion(version));
    EXPECT_EQ(version.rfind("Linux ", 0), 0u) << version;
    EXPECT_TRUE(wrap_userName(user));
    EXPECT_FALSE(user.empty());
    EXPECT_EQ(getUserName(), user);

    testing::internal::CaptureStderr();
    EXPECT_EQ(PApplicationName(""), "dummy");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "wrap_processName failed or gave empty name, dummy case\n");

    EXPECT_EQ(PGetCurrentModulePath(nullptr), "/NOCLUE");
    EXPECT_EQ(getPlatformScale(), 1.0);
    EXPECT_FALSE(launchProgram("true"));
    EXPECT_FALSE(launchProgramWait("true", "", 1));
    EXPECT_FALSE(launchProgramRedir("true", "", "/dev/null", 1));
}

TEST(Process, OpenerReceivesPathsAndAddresses)
{
    RecordedOpener opener;
    startEditor("/tmp/file name.txt");
    startBrowser("https://example.org/a?b=c");
    startBrowser("https://example.org/\xC3\xA9");  // not ASCII: nothing
    startEditor("");
    wrap_openURL("/bad\xFF");
    EXPECT_EQ(opener.opened, (Strings{"/tmp/file name.txt", "https://example.org/a?b=c"}));
}

TEST(Process, DefaultOpenerRunsXdgOpen)
{
    // A stand-in xdg-open found through PATH records what it was given.
    fixtures::TempDir dir;
    const std::string record = dir / "opened";
    const std::string opener =
        dir.write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + record + "'\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    const fixtures::ScopedEnv path("PATH", (dir / "bin").c_str());
    startBrowser("https://example.org/x");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (fixtures::readFile(record).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(fixtures::readFile(record), "https://example.org/x");
}

TEST(Process, LaunchedProgramsEnd)
{
    auto waitForEnd = [](void* handle) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!wrap_isRunningAppTerminated(handle) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return wrap_isRunningAppTerminated(handle);
    };
    std::string unused = "kept";
    void* handle = wrap_launchApplication("true", {}, unused);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(unused, "kept");
    EXPECT_TRUE(waitForEnd(handle));
    EXPECT_TRUE(wrap_isRunningAppTerminated(handle)) << "the answer is kept";

    fixtures::TempDir dir;
    EXPECT_EQ(wrap_launchApplication(dir / "missing-program", {}, unused), nullptr);
    EXPECT_EQ(wrap_launchApplication("", {}, unused), nullptr);
    EXPECT_TRUE(wrap_isRunningAppTerminated(nullptr));

    // Arguments arrive in order; one that is not UTF-8 is left out.
    const std::string out = dir / "args";
    void* shell = wrap_launchApplication(
        "/bin/sh", {"-c", "printf '%s|' \"$@\" > '" + out + "'", "sh", "a", "\xFF", "b c"}, unused);
    ASSERT_NE(shell, nullptr);
    EXPECT_TRUE(waitForEnd(shell));
    EXPECT_EQ(fixtures::readFile(out), "a|b c|");

    void* sleeper = wrap_launchApplication("sleep", {"0.3"}, unused);
    ASSERT_NE(sleeper, nullptr);
    EXPECT_FALSE(wrap_isRunningAppTerminated(sleeper));
    EXPECT_TRUE(waitForEnd(sleeper));
}
