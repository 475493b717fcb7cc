// The log set-up runs once per process: this executable holds the process-wide log.

#include "vst3/SamplerPluginConfig.h"

#include "platform/ConsoleLogger.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

namespace {

const char kLogName[] = "orbella C64_VST3_test_vst3_PluginLogOnceTest.log";

}  // namespace

TEST(PluginLogDeathTest, ClosedWhenTheProcessEnds)
{
    fixtures::TempDir dir;
    const fixtures::ScopedEnv home("HOME", dir.path().c_str()), xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EXIT(
        {
            vantor::startPluginLogOnce(kSamplerPluginConfig, kPluginFormatVST3);
            vantor::logInfo("from the child");
            exit(0);
        },
        testing::ExitedWithCode(0), "");
    const std::string text =
        fixtures::readFile(dir / (std::string(".local/share/Vantor Works/orbella C64/") + kLogName));
    EXPECT_NE(text.find(":from the child\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" closed on: "), std::string::npos) << text;
    EXPECT_EQ(text.back(), '@');
}

TEST(PluginLog, SetUpRunsOncePerProcess)
{
    fixtures::TempDir dir;
    const fixtures::ScopedEnv home("HOME", dir.path().c_str()), xdg("XDG_DATA_HOME", nullptr);
    vantor::startPluginLogOnce(kSamplerPluginConfig, kPluginFormatVST3);
    ASSERT_NE(g_pluginStream.load(), nullptr);
    const std::string folder = dir / ".local/share/Vantor Works/orbella C64";
    const std::string log = folder + "/orbella C64_VST3_test_vst3_PluginLogOnceTest.log";
    EXPECT_EQ(fixtures::folderEntries(folder),
              std::vector<std::string>{"orbella C64_VST3_test_vst3_PluginLogOnceTest.log"});

    SamplerPluginConfig other = kSamplerPluginConfig;
    other.multiForm = other.multiFormActive = 1;
    vantor::startPluginLogOnce(other, kPluginFormatAU);  // already done: nothing happens
    vantor::logInfo("still the first log");
    EXPECT_EQ(fixtures::folderEntries(folder).size(), 1u);

    vantor::closePluginLog();  // as unloading the plug-in does
    const std::string text = fixtures::readFile(log);
    EXPECT_NE(text.find(":still the first log\n"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '@');
}
