// The engine bridge on the built "Caddis Engine" bundle: discovery, the start-up sequence and its
// failures, the default host callback, and each forwarded operation as the engine sees it.

#include "EngineHome.h"

#include "platform/ParameterInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

namespace {

using namespace enginehome;
using namespace vantor::engine;
using vantor::TARNWrapper;

using WrapperStart = EngineHome;
using WrapperHostCallback = EngineHome;
using WrapperOperations = EngineHome;

vantor::EngineInitRecord initRecordOf(const TestCall& call)
{
    vantor::EngineInitRecord r;
    EXPECT_EQ(call.recordSize, sizeof r);
    if (call.record)
        std::memcpy(&r, call.record, sizeof r);
    return r;
}

// Opcodes 37 and 35 answer an integer parameter 0-127 for `index`.
void setIntegerParameter(uint64_t index, const char* name)
{
    TestParameter integer;
    integer.info = ParameterInfo("Osc1 Octave", ParameterInfo::Integer, 0.0f, 127.0f, 0.0f, 0, 0);
    std::strncpy(integer.name, name, sizeof integer.name - 1);
    EngineHome::hook(kHookSetParameter, &integer, intptr_t(index));
}

int32_t recordingCallback(int32_t op, void*, void*, int32_t, int32_t, int32_t, float, void* user)
{
    static_cast<std::vector<int32_t>*>(user)->push_back(op);
    return 0;
}

TEST_F(WrapperStart, LoadsTheEngineAndStartsOneInstance)
{
    TARNWrapper& w = makeWrapper();
    ASSERT_TRUE(w.init(44100, 1024, &kSamplerPluginConfig, false)) << log();
    EXPECT_TRUE(w.isStarted());
    EXPECT_NE(w.getInstance(), nullptr);
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(opcodes(), "8 9 30/0x10003 32 30/0x10000 11");

    const std::vector<TestCall> c = calls();
    EXPECT_EQ(c[0].instance, nullptr);
    EXPECT_EQ(c[0].i1, 1);
    const vantor::EngineInitRecord init = initRecordOf(c[1]);
    EXPECT_EQ(c[1].instance, nullptr);
    EXPECT_EQ(init.inputs, 0u);
    EXPECT_EQ(init.outputs, 2u);
    EXPECT_EQ(init.versionAndFormat, 0x084BFA92u);
    EXPECT_EQ(init.constant, 0x0843AA55u);
    EXPECT_STREQ(c[1].dataFolder, dataFolder.c_str());
    EXPECT_STREQ(c[1].extraPath, "");
    for (size_t i = 2; i < c.size(); ++i)
        EXPECT_EQ(c[i].instance, w.getInstance()) << i;
    EXPECT_EQ(c[3].p1, reinterpret_cast<void*>(&TARNWrapper::TARN_HostOpcode));
    EXPECT_EQ(c[3].p2, &w);
    EXPECT_EQ(c[3].i1, 10);
    EXPECT_EQ(c[5].i1, 44100);
    EXPECT_EQ(c[5].i2, 1024);

    EXPECT_TRUE(logged("I:queried details: Caddis Engine 1.0 (stand-in)")) << log();
    EXPECT_TRUE(logged("I:1,Caddis Engine,stand-in engine")) << log();
    EXPECT_TRUE(logged("I:ProductId:1(orbella C64 - C64) slots:1, url:")) << log();
    EXPECT_EQ(log().find("E:"), std::string::npos) << log();
    EXPECT_EQ(w.getDataFolder(), dataFolder);
    EXPECT_STREQ(w.getProductRecord().title, "orbella C64");

    // Destruction destroys the instance.
    void* instance = w.getInstance();
    EXPECT_EQ(hook(kHookInstanceCount), 1);
    wrappers.clear();
    EXPECT_EQ(calls().back().opcode, 10);
    EXPECT_EQ(calls().back().instance, instance);
    EXPECT_EQ(hook(kHookInstanceCount), 0);
}

TEST_F(WrapperStart, MultiOutputFormAndInitialCallback)
{
    std::vector<int32_t> seen;
    TARNWrapper& w = makeWrapper();
    w.setInitialHostCallback(&recordingCallback, &seen, vantor::kCallbackFlagsStartUp);
    ASSERT_TRUE(w.init(44100, 1024, &kSamplerPluginConfig, true)) << log();
    EXPECT_EQ(opcodes(), "8 9 30/0x10003 30/0x10007 30/0x10000 11");

    const std::vector<TestCall> c = calls();
    const vantor::EngineInitRecord init = initRecordOf(c[1]);
    EXPECT_EQ(init.inputs, 0u);
    EXPECT_EQ(init.outputs, 32u);
    ASSERT_EQ(c[3].recordSize, vantor::kHostCallbackRegistrationRead);
    vantor::HostCallbackRegistration r;
    std::memcpy(&r, c[3].record, c[3].recordSize);
    EXPECT_EQ(r.version, 1u);
    EXPECT_EQ(r.function, &recordingCallback);
    EXPECT_EQ(r.user, &seen);
    EXPECT_EQ(r.flags, 0x70u);

    // The engine calls the start-up callback, not the default one, until it is removed.
    TestHostCall fire;
    fire.op = 0x2003;
    EXPECT_EQ(hook(kHookFireHostOpcode, &fire), 1);
    EXPECT_EQ(seen, std::vector<int32_t>{0x2003});
    EXPECT_EQ(w.removeHostCallback(&recordingCallback, &seen), 0);
    EXPECT_EQ(hook(kHookFireHostOpcode, &fire), 0);
    EXPECT_NE(w.removeHostCallback(&recordingCallback, &seen), 0);
    EXPECT_TRUE(logged("E:engine error:1")) << log();
}

TEST_F(WrapperStart, MissingDataFolderIsShownAndTheEngineStillLoads)
{
    clearPreferences(kProductDomain);
    TARNWrapper& w = makeWrapper();
    ASSERT_TRUE(w.init(44100, 1024, &kSamplerPluginConfig, false)) << log();
    EXPECT_EQ(alerts, (std::vector<Alert>{{kTitle, "Cannot find data installation, please re-install"}}));
    EXPECT_STREQ(calls()[1].dataFolder, "");
}

// Each failure of the start-up: its alerts and popup, its log lines, and how far it got.
TEST_F(WrapperStart, FailuresAreShownLoggedAndCleanedUp)
{
    const std::string noEntryBundle = root.dir() / "NoEntry.bundle";
    std::filesystem::create_directories(noEntryBundle + "/Contents/x86_64-linux");
    std::filesystem::copy_file(NO_ENTRY_EXECUTABLE, noEntryBundle + "/Contents/x86_64-linux/NoEntry.so");
    const std::string missing = root.dir() / "Missing.bundle";
    const Alert noPath{"Caddis Engine", "Can't find Caddis Engine install directory, please reinstall product"};

    const struct
    {
        const char* name;
        std::function<void()> setUp;
        std::vector<Alert> alerts;
        std::vector<std::string> lines;
        std::string calls;
    } kCases[] = {
        {"no engine preference", [&] { clearPreferences(kEngineDomain); },
         {noPath, {kTitle, "Empty engine path from CFPreferences?!?!?!"}},
         {"E:Caddis Engine", "E:init_internal*Empty engine path from CFPreferences?!?!?!*"},
         ""},
        {"empty engine path", [&] { clearPreferences(kEngineDomain), setPreference(kEngineDomain, "path", ""); },
         {{kTitle, "Empty engine path from CFPreferences?!?!?!"}},
         {"E:init_internal*Empty engine path from CFPreferences?!?!?!*"},
         ""},
        {"missing bundle folder",
         [&] { clearPreferences(kEngineDomain), setPreference(kEngineDomain, "path", missing); },
         {{kTitle, "Can't load engine bundle from : " + missing}},
         {"E:init_internal*Can't load engine bundle from : " + missing + "*"},
         ""},
        {"bundle without entry",
         [&] { clearPreferences(kEngineDomain), setPreference(kEngineDomain, "path", noEntryBundle); },
         {{kTitle, "CFBundleGetFunctionPointerForName failed for caddisOpcode"}},
         {"E:init_internal*CFBundleGetFunctionPointerForName failed for caddisOpcode*"},
         ""},
        {"details", [] { forceStatus(8, 5); }, {{kTitle, ""}}, {"E:engine error:5", "E:init_internal**"}, "8"},
        {"create", [] { forceStatus(9, 6); }, {{kTitle, ""}}, {"E:engine error:6", "E:init_internal**"}, "8 9"},
        {"create without a handle", [] { forceStatus(9, 0); }, {{kTitle, ""}}, {"E:init_internal**"}, "8 9"},
        {"registration", [] { forceStatus(32, 7); }, {{kTitle, ""}}, {"E:engine error:7", "E:init_internal**"},
         "8 9 30/0x10003 32 10"},
        {"start", [] { forceStatus(11, 8); }, {{kTitle, ""}}, {"E:engine error:8", "E:init_internal**"},
         "8 9 30/0x10003 32 30/0x10000 11 10"},
        {"product", [] { forceStatus(30, 9, 0x10000); }, {{kTitle, ""}},
         {"E:ENGINE_GET_CURRENT_PRODUCT engine error:9", "E:init_internal**"}, "8 9 30/0x10003 32 30/0x10000 10"},
        {"engine info (logged only)", [] { forceStatus(30, 4, 0x10003); }, {}, {"E:engine error:4"},
         "8 9 30/0x10003 32 30/0x10000 11 10"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        clearPreferences(kEngineDomain);
        setPreference(kEngineDomain, "path", ENGINE_BUNDLE_PATH);
        hook(kHookReset, nullptr, kLogCalls);
        alerts.clear();
        captured.str("");
        c.setUp();
        {
            TARNWrapper w(kPluginFormatVST3, vantor::kEngineSdkVersion, 256);
            EXPECT_EQ(w.init(44100, 1024, &kSamplerPluginConfig, false), c.alerts.empty());
        }
        EXPECT_EQ(alerts, c.alerts);
        for (const std::string& line : c.lines)
            EXPECT_TRUE(logged(line)) << line << "\n" << log();
        EXPECT_EQ(opcodes(), c.calls);  // the destructor's 10 only once an instance exists
    }
}

TEST_F(WrapperHostCallback, DefaultCallbackLogsEngineMessages)
{
    startedWrapper();
    char title[] = "T", content[] = "C";
    const struct
    {
        int32_t level;
        const char* first;
    } kLevels[] = {
        {0, "ENGINE INFO: Title:"}, {1, "ENGINE WARNING: Title:"}, {2, "ENGINE ERROR: Title:"}, {3, nullptr}};
    for (const auto& l : kLevels) {
        SCOPED_TRACE(l.level);
        captured.str("");
        TestHostCall fire;
        fire.op = 0x1000;
        fire.p1 = title;
        fire.p2 = content;
        fire.i1 = l.level;
        ASSERT_EQ(hook(kHookFireHostOpcode, &fire), 1);
        EXPECT_EQ(fire.statuses[0], 0);
        std::istringstream lines(log());
        std::vector<std::string> got;  // kind and text, thread and time left out
        for (std::string line; std::getline(lines, line);)
            got.push_back(line.substr(0, 2) + line.substr(line.find(':', line.find(':', 2) + 1) + 1));
        std::vector<std::string> want;
        if (l.first)
            want.push_back(std::string("I:") + l.first);
        want.push_back("I:T Content:C");
        EXPECT_EQ(got, want) << log();
    }

    // Null texts read as empty ones.
    captured.str("");
    TestHostCall nulls;
    nulls.op = 0x1000;
    nulls.i1 = 3;
    hook(kHookFireHostOpcode, &nulls);
    EXPECT_TRUE(logged("I: Content:")) << log();

    for (const int32_t op : {0x1001, 0x1002, 0x1003, 0x2002, 0x2004, 0x2005, 0x2006, 0x2009}) {
        TestHostCall fire;
        fire.op = op;
        hook(kHookFireHostOpcode, &fire);
        EXPECT_EQ(fire.statuses[0], 0) << std::hex << op;
    }
    captured.str("");
    for (const int32_t op : {0x2003, 0x2007, 0x2008, 0x4711}) {
        TestHostCall fire;
        fire.op = op;
        hook(kHookFireHostOpcode, &fire);
        EXPECT_EQ(fire.statuses[0], 2) << std::hex << op;
    }
    EXPECT_TRUE(logged("E:ZSE_HostOpcode unknown id:8195")) << log();
    EXPECT_EQ(TARNWrapper::TARN_HostOpcode(0x1001, nullptr, nullptr, 0, 0, 0, 0.0f, nullptr), 2);
}

TEST_F(WrapperHostCallback, EngineMessagesWithoutALogWriteNothing)
{
    TARNWrapper& w = startedWrapper();
    g_pluginStream.store(nullptr);
    char text[] = "x";
    EXPECT_EQ(w.hostCallback(0x1000, text, text, 2, 0, 0, 0.0f), 0);
    g_pluginStream.store(&captured);
    EXPECT_TRUE(log().empty());
}

TEST_F(WrapperHostCallback, AddedCallbackReplacesTheRegistrationRecord)
{
    TARNWrapper& w = startedWrapper();
    std::vector<int32_t> seen;
    ASSERT_TRUE(w.addHostCallback(&recordingCallback, &seen, vantor::kCallbackFlagsController));
    EXPECT_EQ(opcodes(), "30/0x10007");
    TestHostCall fire;
    fire.op = 0x2005;
    EXPECT_EQ(hook(kHookFireHostOpcode, &fire), 2);  // the default one and the added one
    EXPECT_EQ(seen, std::vector<int32_t>{0x2005});

    // Without an instance it is only stored.
    TARNWrapper idle(kPluginFormatVST3, vantor::kEngineSdkVersion, 256);
    EXPECT_FALSE(idle.addHostCallback(&recordingCallback, &seen, 0xF0));
}

// A wrapper whose engine refused to create an instance: every operation answers its neutral
// value and the engine hears nothing.
TEST_F(WrapperOperations, WithoutAnInstanceNothingIsCalled)
{
    forceStatus(9, 0);  // status 0, but no handle
    TARNWrapper& w = makeWrapper();
    ASSERT_FALSE(w.init(44100, 1024, &kSamplerPluginConfig, false));
    hook(kHookReset, nullptr, kLogCalls | kLogProcess);

    vantor::MIDIEvents events;
    float buffer[16] = {};
    float* outputs[2] = {buffer, buffer};
    vantor::SyncInfo transport;
    bool changed = true;
    std::string name = "x";
    int32_t bank = 7, channel = 7, width = 7, height = 7;
    char text[16] = {};
    vantor::TarnEngineStats stats;
    vantor::Tarn::ExportKB map;
    const void* bytes = &map;
    EXPECT_FALSE(w.start(44100, 1024));
    EXPECT_FALSE(w.resume(44100, 1024, false));
    EXPECT_FALSE(w.suspend());
    EXPECT_FALSE(w.setRandomOff());
    EXPECT_FALSE(w.processEvents(&events, outputs, 16));
    EXPECT_FALSE(w.process(&events, nullptr, outputs, &transport, 16));
    EXPECT_FALSE(w.processWithInputs(&events, nullptr, outputs, &transport, 16));
    EXPECT_FALSE(w.setSettings(0, 2, 44100, 1024));
    EXPECT_EQ(w.getLatencyInfo(), 0u);
    EXPECT_FALSE(w.getEngineStats(stats));
    EXPECT_FALSE(w.engineIdle());
    EXPECT_FALSE(w.importFile("/tmp/x.sid"));
    EXPECT_EQ(w.getAutomatableParameterValue(3, true, changed), 0.0f);
    EXPECT_FALSE(changed);
    EXPECT_FALSE(w.setAutomatableParameterValue(3, 0.5f, true));
    w.cacheAutomationParams();
    EXPECT_EQ(w.getAutomatableParameterInfo(3), nullptr);
    EXPECT_EQ(w.getParameter(3, 1, 2), 0.0f);
    EXPECT_FALSE(w.setParameter(3, 1, 2, 0.5f));
    EXPECT_TRUE(w.getAutomatableParameterName(12, text, sizeof text));
    EXPECT_STREQ(text, "p012");
    EXPECT_EQ(w.getChunk(&bytes), 0u);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(w.getChunkSizeAndCache(), 0u);
    EXPECT_FALSE(w.setChunk(text, sizeof text));
    EXPECT_EQ(w.getPrograms(), nullptr);
    EXPECT_FALSE(w.slotFilledBank(0, name, bank));
    EXPECT_EQ(name, "x");
    EXPECT_EQ(bank, 7);
    EXPECT_FALSE(w.setProgramBank(0, "Program 1", 0));
    EXPECT_FALSE(w.clearProgram(0));
    EXPECT_EQ(w.getBanks(), nullptr);
    EXPECT_EQ(w.getBankPrograms(0), nullptr);
    EXPECT_EQ(w.getPresetTypes(), nullptr);
    EXPECT_EQ(w.getPresets("Patch"), nullptr);
    EXPECT_FALSE(w.loadPreset(nullptr, "", "", 0, 0));
    EXPECT_FALSE(w.setISlotMIDIChannel(0, 3));
    EXPECT_FALSE(w.getISlotMIDIChannel(0, channel));
    EXPECT_EQ(channel, 7);
    EXPECT_FALSE(w.createViewTicket());
    EXPECT_FALSE(w.createView(nullptr, nullptr, false));
    EXPECT_FALSE(w.addView());
    EXPECT_FALSE(w.removeView());
    EXPECT_FALSE(w.destroyView());
    EXPECT_FALSE(w.idleView());
    EXPECT_FALSE(w.getSize(width, height));
    EXPECT_EQ(width, 7);
    EXPECT_FALSE(w.viewfdnotify(3));
    EXPECT_FALSE(w.timernotify(3));
    EXPECT_FALSE(w.getExportKB(map));
    EXPECT_FALSE(w.addHostCallback(&recordingCallback, nullptr, 0xF0));
    EXPECT_EQ(w.removeHostCallback(&recordingCallback, nullptr), 0);
    EXPECT_EQ(opcodes(), "");
}

TEST_F(WrapperOperations, ParameterValuesNamesAndConversion)
{
    TARNWrapper& w = startedWrapper();
    setIntegerParameter(3, "Octave");
    TestParameter unnamed;
    unnamed.info = ParameterInfo("x", ParameterInfo::Continuous, 0.0f, 1.0f, 0.0f, 0, 0);
    hook(kHookSetParameter, &unnamed, 7);

    ASSERT_TRUE(w.setAutomatableParameterValue(3, 0.5f, true));
    EXPECT_EQ(w.getCachedValue(3), 64.0f);
    std::vector<TestCall> c = calls();
    ASSERT_EQ(opcodes(), "37 17");
    EXPECT_EQ(c[1].i1, 3);
    EXPECT_EQ(c[1].f, 64.0f);

    bool changed = true;
    EXPECT_FLOAT_EQ(w.getAutomatableParameterValue(3, true, changed), 64.0f / 127.0f);
    EXPECT_FALSE(changed);
    EXPECT_EQ(w.getAutomatableParameterValue(3, false, changed), 64.0f);  // an integer packs to itself

    // A change the wrapper did not make shows as changed once.
    ASSERT_TRUE(w.setParameter(3, 0, 0, 100.0f));
    EXPECT_EQ(w.getAutomatableParameterValue(3, false, changed), 100.0f);
    EXPECT_TRUE(changed);
    w.getAutomatableParameterValue(3, false, changed);
    EXPECT_FALSE(changed);

    // Not normalized: the plain value as it is.
    ASSERT_TRUE(w.setAutomatableParameterValue(3, 12.0f, false));
    EXPECT_EQ(w.getCachedValue(3), 12.0f);

    hook(kHookReset, nullptr, kLogCalls);
    EXPECT_FALSE(w.setAutomatableParameterValue(256, 0.5f, true));
    EXPECT_EQ(w.getAutomatableParameterValue(256, true, changed), 0.0f);
    EXPECT_EQ(opcodes(), "");

    char name[16];
    setIntegerParameter(3, "Octave");
    hook(kHookSetParameter, &unnamed, 7);
    EXPECT_TRUE(w.getAutomatableParameterName(3, name, sizeof name));
    EXPECT_STREQ(name, "Octave");
    EXPECT_TRUE(w.getAutomatableParameterName(7, name, sizeof name));
    EXPECT_STREQ(name, "p007");
    EXPECT_TRUE(w.getAutomatableParameterName(3, name, 4));  // cut to the buffer
    EXPECT_STREQ(name, "Oct");
    EXPECT_FALSE(w.getAutomatableParameterName(3, nullptr, 4));

    // The sub-indices in their two orders.
    hook(kHookReset, nullptr, kLogCalls);
    w.getParameter(5, 1, 2);
    w.setParameter(5, 1, 2, 0.25f);
    c = calls();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].p2, w.getInstance());
    EXPECT_EQ(c[0].i2, 1);
    EXPECT_EQ(c[0].i3, 2);
    EXPECT_EQ(c[1].p1, w.getInstance());
    EXPECT_EQ(c[1].i2, 2);
    EXPECT_EQ(c[1].i3, 1);
}

TEST_F(WrapperOperations, EngineErrorsAndEmptyAnswersGiveNeutralResults)
{
    TARNWrapper& w = startedWrapper();
    setIntegerParameter(3, "Named");

    // Opcode 37 fails: counted (setting a value is the audio thread's), the value goes out
    // unconverted; the line is written when the log is flushed.
    forceStatus(37, 3);
    ASSERT_TRUE(w.setAutomatableParameterValue(3, 0.5f, true));
    EXPECT_EQ(calls().back().f, 0.5f);
    EXPECT_FALSE(logged("E:engine error:3")) << log();
    w.flushAudioLog();
    EXPECT_TRUE(logged("E:engine error:3")) << log();

    forceStatus(16, 2);
    bool changed = true;
    EXPECT_EQ(w.getAutomatableParameterValue(3, false, changed), 0.0f);
    EXPECT_TRUE(changed);  // 0.5 was cached
    hook(kHookReset, nullptr, kLogCalls);

    // A description of another version is no description.
    TestParameter other;
    other.info = ParameterInfo("n", ParameterInfo::Integer, 0.0f, 127.0f, 0.0f, 0, 0);
    other.info.version = 2000;
    hook(kHookSetParameter, &other, 4);
    EXPECT_EQ(w.getAutomatableParameterInfo(4), nullptr);
    ASSERT_TRUE(w.setAutomatableParameterValue(4, 0.5f, true));
    EXPECT_EQ(w.getCachedValue(4), 0.5f);

    // Status 0 with null pointers.
    setIntegerParameter(3, "Named");
    hook(kHookSetAnswers, nullptr, kAnswerNullPointers);
    char name[16];
    EXPECT_TRUE(w.getAutomatableParameterName(3, name, sizeof name));
    EXPECT_STREQ(name, "p003");
    EXPECT_EQ(w.getAutomatableParameterInfo(3), nullptr);
    ASSERT_TRUE(w.setAutomatableParameterValue(3, 0.5f, true));
    EXPECT_EQ(w.getCachedValue(3), 0.5f);
    const void* bytes = nullptr;
    EXPECT_EQ(w.getChunk(&bytes), 0u);
    EXPECT_EQ(w.getPrograms(), nullptr);
    vantor::Tarn::ExportKB map;
    EXPECT_FALSE(w.getExportKB(map));

    // Texts that fill their fields: copies stop at the field's end.
    hook(kHookSetAnswers, nullptr, kAnswerUnterminated);
    EXPECT_TRUE(w.getBanks());
    vantor::TarnPrograms* programs = w.getBankPrograms(1);
    ASSERT_NE(programs, nullptr);
    EXPECT_EQ(std::string(programs->entries[0].name, 9), "Program 1");
    std::string program;
    int32_t bank = -1;
    ASSERT_TRUE(w.slotFilledBank(0, program, bank));
    EXPECT_EQ(program.size(), 512u);
    EXPECT_EQ(program.substr(0, 10), "Program 1X");
}

TEST_F(WrapperOperations, UnterminatedStartUpTextsAreCut)
{
    hook(kHookSetAnswers, nullptr, kAnswerUnterminated);
    TARNWrapper& w = makeWrapper();
    ASSERT_TRUE(w.init(44100, 1024, &kSamplerPluginConfig, false)) << log();
    const std::string details = std::string("Caddis Engine 1.0 (stand-in)") + std::string(127 - 28, 'X');
    EXPECT_TRUE(logged("I:queried details: " + details)) << log();
    const std::string name = "C64" + std::string(61, 'X'), title = "orbella C64" + std::string(53, 'X');
    EXPECT_TRUE(logged("I:ProductId:1(" + title + " - " + name + ") slots:1, url:" + std::string(512, 'X')))
        << log();
}

TEST_F(WrapperOperations, StartSettingsLatencyAndStatistics)
{
    TARNWrapper& w = startedWrapper();
    EXPECT_TRUE(w.resume(48000, 512, true));
    EXPECT_EQ(opcodes(), "11 13");
    std::vector<TestCall> c = calls();
    EXPECT_EQ(c[0].i1, 48000);
    EXPECT_EQ(c[0].i2, 512);
    EXPECT_EQ(c[1].i1, 1);
    ASSERT_EQ(c[1].recordSize, sizeof(vantor::TarnEngineLatencyInfo));
    vantor::TarnEngineLatencyInfo latency;
    std::memcpy(&latency, c[1].record, sizeof latency);
    EXPECT_EQ(latency.version, 2123u);
    EXPECT_EQ(latency.latency, 0u);
    EXPECT_EQ(latency.zero, 0u);

    // 11's failure is only logged; 13's is the result.
    hook(kHookReset, nullptr, kLogCalls);
    forceStatus(11, 4);
    EXPECT_TRUE(w.resume(48000, 512, false));
    forceStatus(13, 4);
    EXPECT_FALSE(w.resume(48000, 512, false));
    hook(kHookReset, nullptr, kLogCalls);

    hook(kHookSetLatency, nullptr, 64);
    EXPECT_EQ(w.getLatencyInfo(), 64u);
    ASSERT_TRUE(w.setSettings(0, 2, 96000, 128));
    c = calls();
    vantor::EngineSettingsRecord settings;
    ASSERT_EQ(c.back().recordSize, sizeof settings);
    std::memcpy(&settings, c.back().record, sizeof settings);
    EXPECT_EQ(settings.version, 1u);
    EXPECT_EQ(settings.outputs, 2u);
    EXPECT_EQ(settings.one, 1u);
    EXPECT_EQ(settings.sampleRate, 96000u);
    EXPECT_EQ(settings.maxBlock, 128u);
    EXPECT_FALSE(w.setSettings(0, 2, 96000, 0));

    vantor::TarnEngineStats stats;
    ASSERT_TRUE(w.getEngineStats(stats));
    EXPECT_EQ(stats.activeInstances, 1u);
    EXPECT_TRUE(w.suspend());
    EXPECT_TRUE(w.engineIdle());
    EXPECT_TRUE(w.setRandomOff());
    EXPECT_EQ(calls().back().i1, 0x1234);
}

TEST_F(WrapperOperations, OlderProcessFormsAreAnswered)
{
    TARNWrapper& w = startedWrapper();
    auto events = std::make_unique<vantor::MIDIEvents>();
    events->count = 1;
    events->events[0].kind = vantor::kEventNoteOn;
    events->events[0].index = 60;
    std::vector<float> left(64, 1.0f), right(64, 1.0f);
    float* outputs[2] = {left.data(), right.data()};
    EXPECT_TRUE(w.processEvents(events.get(), outputs, 64));
    EXPECT_TRUE(w.processWithInputs(events.get(), nullptr, outputs, nullptr, 64));
    EXPECT_EQ(opcodes(), "15 31");
    const std::vector<TestCall> c = calls();
    EXPECT_EQ(c[0].i1, 64);
    ASSERT_EQ(c[0].eventCount, 1u);
    EXPECT_EQ(c[0].events[0].index, 60);
    vantor::TarnEngineProcessEx record;
    ASSERT_EQ(c[1].recordSize, sizeof record);
    std::memcpy(&record, c[1].record, sizeof record);
    EXPECT_EQ(record.version, 1u);
    EXPECT_EQ(left, std::vector<float>(64, 0.0f));  // the module does not render here

    // Beyond the block size: refused, and the host's buffers of that size silenced.
    left.assign(2000, 1.0f);
    right.assign(2000, 1.0f);
    outputs[0] = left.data();
    outputs[1] = right.data();
    EXPECT_FALSE(w.process(events.get(), nullptr, outputs, nullptr, 2000));
    EXPECT_EQ(right, std::vector<float>(2000, 0.0f));
}

TEST_F(WrapperOperations, TwoCallListsAndProgramSlots)
{
    TARNWrapper& w = startedWrapper();
    TestListCounts none;
    none.banks = 0;
    hook(kHookSetListCounts, &none);
    EXPECT_EQ(w.getBanks(), nullptr);
    EXPECT_EQ(opcodes(), "30/0x10008");

    hook(kHookReset, nullptr, kLogCalls);
    hook(kHookSetRender, nullptr, 0);
    vantor::EngineListRecord* banks = w.getBanks();
    ASSERT_NE(banks, nullptr);
    ASSERT_EQ(opcodes(), "30/0x10008 30/0x10008");
    // The second call carried two initialised entries.
    const TestCall second = calls()[1];
    ASSERT_EQ(second.recordSize, sizeof(vantor::EngineListRecord) + 2 * sizeof(vantor::TarnBankEntry));
    vantor::TarnBankEntry sent;
    std::memcpy(&sent, second.record + sizeof(vantor::EngineListRecord) + sizeof sent, sizeof sent);
    EXPECT_EQ(sent.version, 1u);
    EXPECT_EQ(sent.bank, -1);
    ASSERT_EQ(banks->count, 2u);
    const auto* entries = static_cast<const vantor::TarnBankEntry*>(banks->entries);
    EXPECT_EQ(entries[1].bank, 1);
    EXPECT_EQ(entries[1].programCount, 2u);
    EXPECT_STREQ(entries[1].name, "Bank 2");

    vantor::TarnPrograms* programs = w.getBankPrograms(1);
    ASSERT_NE(programs, nullptr);
    ASSERT_EQ(programs->count, 2u);
    EXPECT_STREQ(programs->entries[1].name, "Program 2");
    hook(kHookReset, nullptr, kLogCalls);
    EXPECT_EQ(w.getBankPrograms(5), nullptr);
    EXPECT_EQ(opcodes(), "");

    vantor::EngineListRecord* types = w.getPresetTypes();
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count, 1u);
    EXPECT_STREQ(static_cast<const vantor::TarnPresetTypeEntry*>(types->entries)[0].name, "Patch");
    vantor::TarnPresets* presets = w.getPresets("Patch");
    ASSERT_NE(presets, nullptr);
    ASSERT_EQ(presets->count, 3u);
    EXPECT_STREQ(presets->entries[2].name, "Patch 3");
    EXPECT_EQ(w.getPresets("Drums"), nullptr);
    EXPECT_TRUE(w.loadPreset(&presets->entries[0], "first", "second", 1, 2));
    EXPECT_FALSE(w.loadPreset(nullptr, "first", "second", 1, 2));

    std::string name;
    int32_t bank = -1;
    ASSERT_TRUE(w.slotFilledBank(0, name, bank));
    EXPECT_EQ(name, "Program 1");
    EXPECT_EQ(bank, 0);
    EXPECT_FALSE(w.slotFilled(1, name));
    ASSERT_TRUE(w.setProgramBank(1, "Program 2", 1));
    ASSERT_TRUE(w.slotFilledBank(1, name, bank));
    EXPECT_EQ(name, "Program 2");
    EXPECT_EQ(bank, 1);
    captured.str("");
    EXPECT_FALSE(w.setProgramBank(0, "Nope", 1));
    EXPECT_TRUE(logged("E:Engine: error loading patchNope bank:0")) << log();
    ASSERT_TRUE(w.setProgram("Program 1", 1));  // the slot's bank
    ASSERT_TRUE(w.slotFilledBank(1, name, bank));
    EXPECT_EQ(bank, 1);
    ASSERT_TRUE(w.clearProgram(1));
    EXPECT_FALSE(w.slotFilled(1, name));

    int32_t channel = -1;
    ASSERT_TRUE(w.setISlotMIDIChannel(2, 9));
    ASSERT_TRUE(w.getISlotMIDIChannel(2, channel));
    EXPECT_EQ(channel, 9);
    EXPECT_FALSE(w.setISlotMIDIChannel(99, 9));

    // A failing list query.
    captured.str("");
    forceStatus(30, 3, 0x1000C);
    EXPECT_EQ(w.getPresetTypes(), nullptr);
    EXPECT_TRUE(logged("E:Engine: error from dispatcher")) << log();
}

TEST_F(WrapperOperations, ViewsTicketsAndSizes)
{
    TARNWrapper& w = startedWrapper();
    int parent = 0;
    forceStatus(25, 3);
    ASSERT_TRUE(w.createView(nullptr, &parent, false));
    EXPECT_EQ(opcodes(), "23 25 21");
    std::vector<TestCall> c = calls();
    EXPECT_EQ(c[0].instance, nullptr);
    EXPECT_EQ(c[0].p3, w.getInstance());
    EXPECT_STREQ(c[0].dataFolder, (dataFolder + "/Product.xml").c_str());
    EXPECT_EQ(c[1].instance, w.getViewTicket());
    EXPECT_EQ(c[1].p1, &parent);
    EXPECT_EQ(c[1].i3, 8);
    EXPECT_EQ(c[2].instance, w.getInstance());
    EXPECT_EQ(c[2].p1, w.getViewTicket());

    hook(kHookReset, nullptr, kLogCalls);
    forceStatus(21, 3);
    EXPECT_FALSE(w.createView(nullptr, &parent, true));  // the ticket is kept: no 23
    EXPECT_EQ(opcodes(), "25 21");
    EXPECT_EQ(calls()[0].i3, 0);

    hook(kHookReset, nullptr, kLogCalls);
    void* ticket = w.getViewTicket();
    EXPECT_TRUE(w.idleView());
    EXPECT_TRUE(w.destroyView());
    EXPECT_EQ(w.getViewTicket(), nullptr);
    EXPECT_EQ(opcodes(), "26 22 24");
    EXPECT_EQ(calls()[1].p1, ticket);
    EXPECT_EQ(calls()[2].instance, ticket);
    EXPECT_FALSE(w.destroyView());

    hook(kHookReset, nullptr, kLogCalls);
    hook(kHookSetViewSize, nullptr, 800, 600);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(w.getSize(width, height));
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
    EXPECT_EQ(opcodes(), "23 27");
    forceStatus(27, 2);
    width = height = 5;
    EXPECT_FALSE(w.getSize(width, height));
    EXPECT_EQ(width, 5);
    EXPECT_TRUE(w.viewfdnotify(4));
    EXPECT_TRUE(w.timernotify(4));
}

TEST_F(WrapperOperations, ChunksAndTheirPrivateCopy)
{
    TARNWrapper& w = startedWrapper();
    const uint32_t size = w.getChunkSizeAndCache();
    ASSERT_GT(size, 8u);
    EXPECT_EQ(opcodes(), "18");
    const void* bytes = nullptr;
    EXPECT_EQ(w.getChunk(&bytes), size);
    EXPECT_EQ(opcodes(), "18");  // the private copy answers
    const std::vector<uint8_t> saved(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    EXPECT_EQ(std::memcmp(saved.data(), "CENG", 4), 0);

    hook(kHookReset, nullptr, kLogCalls);
    ASSERT_TRUE(w.setChunk(saved.data(), size));
    std::vector<TestCall> c = calls();
    ASSERT_EQ(c.size(), 257u);
    EXPECT_EQ(c[0].opcode, 19);
    EXPECT_EQ(c[0].i1, intptr_t(size));
    ASSERT_EQ(c[0].recordSize, size);
    EXPECT_EQ(std::memcmp(c[0].record, saved.data(), size), 0);
    for (size_t i = 1; i < c.size(); ++i) {
        EXPECT_EQ(c[i].opcode, 16) << i;
        EXPECT_EQ(c[i].i1, intptr_t(i - 1)) << i;
    }

    // The copy went with the state it was made of: the engine is asked again.
    hook(kHookReset, nullptr, kLogCalls);
    EXPECT_EQ(w.getChunk(&bytes), size);
    EXPECT_EQ(opcodes(), "18");

    // A refused chunk: false, and still no stale copy.
    w.getChunkSizeAndCache();
    EXPECT_FALSE(w.setChunk(saved.data(), 8));
    hook(kHookReset, nullptr, kLogCalls);
    w.getChunk(&bytes);
    EXPECT_EQ(opcodes(), "18");
}

TEST_F(WrapperOperations, KeyMapIsCopiedWhole)
{
    TARNWrapper& w = startedWrapper();
    auto map = std::make_unique<vantor::Tarn::ExportKB>();
    for (size_t i = 0; i < sizeof *map; ++i)
        reinterpret_cast<uint8_t*>(map.get())[i] = uint8_t(i * 7 + 1);
    hook(kHookSetKeyMap, map.get());
    auto out = std::make_unique<vantor::Tarn::ExportKB>();
    ASSERT_TRUE(w.getExportKB(*out));
    EXPECT_EQ(std::memcmp(out.get(), map.get(), sizeof *map), 0);
}

// The bundle's executable is unloaded only by the format 0xFA97; bundles that are no engine
// show it, since the engine itself is never unloaded.
TEST_F(WrapperOperations, DestructionUnloadsTheExecutableOnlyForTheTestFormat)
{
    const struct
    {
        uint16_t format;
        bool loadedAfter;
    } kCases[] = {{kPluginFormatVST3, true}, {kPluginFormatPTest, false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.format);
        const std::string name = "NoEntry" + std::to_string(c.format);
        const std::string bundle = root.dir() / (name + ".bundle");
        const std::string file = bundle + "/Contents/x86_64-linux/" + name + ".so";
        std::filesystem::create_directories(bundle + "/Contents/x86_64-linux");
        std::filesystem::copy_file(NO_ENTRY_EXECUTABLE, file);
        clearPreferences(kEngineDomain);
        setPreference(kEngineDomain, "path", bundle);
        {
            TARNWrapper w(c.format, vantor::kEngineSdkVersion, 256);
            EXPECT_FALSE(w.init(44100, 1024, &kSamplerPluginConfig, false));
            void* loaded = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
            EXPECT_NE(loaded, nullptr);
            if (loaded)
                dlclose(loaded);
        }
        void* after = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(after != nullptr, c.loadedAfter);
        if (after)
            dlclose(after);
    }
}

}  // namespace
