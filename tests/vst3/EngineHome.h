#pragma once
// A temporary home whose preferences name a data folder and the built engine bundle, with the
// plug-in's log lines and alerts captured and the engine's test hook at hand.

#include "vst3/SamplerPluginConfig.h"
#include "vst3/TarnWrapper.h"

#include "platform/ConsoleLogger.h"
#include "platform/PlatformToolsLinux.h"
#include "shims/engine/CaddisTestHook.h"
#include "tests/platform/PlistFixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace enginehome {

using vantor::engine::CaddisTestHookFunction;
using vantor::engine::TestCall;

inline const std::string kProductDomain = "com.Vantor Works.orbella C64";
inline const std::string kEngineDomain = "com.vantor.caddis";
inline const std::string kTitle = "Vantor Works orbella C64";

// The engine's own file, opened beside the wrapper's load of it (the same handle).
struct Engine
{
    Engine()
    {
        handle = dlopen(ENGINE_FILE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            hook = reinterpret_cast<CaddisTestHookFunction>(dlsym(handle, vantor::engine::kTestHookName));
            entry = reinterpret_cast<vantor::CaddisOpcodeFunction>(dlsym(handle, vantor::kEngineEntryName));
        }
    }
    ~Engine()
    {
        if (handle)
            dlclose(handle);
    }
    void* handle = nullptr;
    CaddisTestHookFunction hook = nullptr;
    vantor::CaddisOpcodeFunction entry = nullptr;
};

struct Alert
{
    std::string message, informative;
    bool operator==(const Alert&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Alert& a)
{
    return out << "{" << a.message << " | " << a.informative << "}";
}

class EngineHome : public ::testing::Test
{
public:
    static Engine& engine()
    {
        static Engine e;
        return e;
    }
    static int32_t hook(int32_t op, void* p = nullptr, intptr_t a = 0, intptr_t b = 0)
    {
        return engine().hook(op, p, a, b);
    }

protected:
    void SetUp() override
    {
        ASSERT_NE(engine().hook, nullptr) << dlerror();
        dataFolder = root.dir().makeFolder("data");
        setPreference(kProductDomain, "base_dir", dataFolder);
        setPreference(kEngineDomain, "path", ENGINE_BUNDLE_PATH);
        // The log is set up once per process; its lines come here instead.
        vantor::startPluginLogOnce(kSamplerPluginConfig, kPluginFormatVST3);
        previousStream = g_pluginStream.exchange(&captured);
        wrap_setAlertHandler([this](const AlertRequest& r) {
            alerts.push_back({r.message, r.informative});
            return 0;
        });
        hook(vantor::engine::kHookReset, nullptr, vantor::engine::kLogCalls | vantor::engine::kLogProcess);
    }
    void TearDown() override
    {
        wrappers.clear();
        wrap_setAlertHandler({});
        g_pluginStream.store(previousStream);
        hook(vantor::engine::kHookReset, nullptr, 0);
    }


    // Every domain's values in one file; an empty entry list leaves the domain without a file.
    void setPreference(const std::string& domain, const std::string& key, const std::string& value)
    {
        preferences[domain] += plistfixture::entry(key, plistfixture::str(value));
        root.put(root.userFile(domain), plistfixture::xml(plistfixture::dict(preferences[domain])));
    }
    void clearPreferences(const std::string& domain)
    {
        preferences[domain].clear();
        root.put(root.userFile(domain), plistfixture::xml(plistfixture::dict("")));
    }

    vantor::TARNWrapper& makeWrapper(uint16_t format = kPluginFormatVST3)
    {
        wrappers.push_back(std::make_unique<vantor::TARNWrapper>(format, vantor::kEngineSdkVersion,
                                                                  kSamplerPluginConfig.automatableCount));
        return *wrappers.back();
    }
    // A started wrapper; its calls are then cleared from the log.
    vantor::TARNWrapper& startedWrapper(uint64_t rate = 44100, uint64_t block = 1024)
    {
        vantor::TARNWrapper& w = makeWrapper();
        EXPECT_TRUE(w.init(rate, block, &kSamplerPluginConfig, false)) << log();
        hook(vantor::engine::kHookReset, nullptr, vantor::engine::kLogCalls | vantor::engine::kLogProcess);
        hook(vantor::engine::kHookSetRender, nullptr, 0);
        captured.str("");
        return w;
    }

    static std::vector<TestCall> calls()
    {
        std::vector<TestCall> out;
        const int32_t n = hook(vantor::engine::kHookCallCount);
        for (int32_t i = 0; i < n; ++i) {
            const TestCall* call = nullptr;
            hook(vantor::engine::kHookGetCall, &call, i);
            out.push_back(*call);
        }
        return out;
    }
    // "8 9 30/0x10003 ..." for the logged calls.
    static std::string opcodes()
    {
        std::ostringstream s;
        for (const TestCall& c : calls()) {
            s << (s.tellp() > 0 ? " " : "") << c.opcode;
            if (c.opcode == vantor::kEngineQuery)
                s << "/0x" << std::hex << c.i1 << std::dec;
        }
        return s.str();
    }
    static void forceStatus(int32_t opcode, int32_t status, int32_t query = 0)
    {
        vantor::engine::TestForcedStatus forced;
        forced.opcode = opcode;
        forced.query = query;
        forced.status = status;
        hook(vantor::engine::kHookForceStatus, &forced);
    }

    std::string log() const { return captured.str(); }
    bool logged(const std::string& kindAndText) const
    {
        // "I:" or "E:", the thread, the time, then the text.
        const std::string kind = kindAndText.substr(0, 2), text = kindAndText.substr(2);
        std::istringstream lines(captured.str());
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(kind, 0) == 0 && line.size() >= text.size() &&
                line.compare(line.size() - text.size(), text.size(), text) == 0 &&
                line[line.size() - text.size() - 1] == ':')
                return true;
        return false;
    }

    plistfixture::PreferencesRoot root;
    std::string dataFolder;
    std::map<std::string, std::string> preferences;
    std::ostringstream captured;
    std::ostream* previousStream = nullptr;
    std::vector<Alert> alerts;
    std::vector<std::unique_ptr<vantor::TARNWrapper>> wrappers;
};

}  // namespace enginehome
