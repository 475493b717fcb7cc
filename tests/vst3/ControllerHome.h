#pragma once
// The edit controller against the built engine bundle: a processor and a controller connected
// as a host connects them, a fixture table of engine descriptions installed through the engine's
// hook, and a component handler that records what the controller told the host.

#include "tests/vst3/EngineHome.h"
#include "tests/vst3/ProcessDoubles.h"
#include "vst3/TarnWrapper.h"
#include "vst3/plugcontroller.h"
#include "vst3/plugprocessor.h"

#include "platform/ParameterInfo.h"
#include "platform/ZRGSConv.h"

#include <pluginterfaces/base/smartpointer.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace controllerhome {

using namespace enginehome;
using namespace vantor::engine;
using namespace processdoubles;
using Steinberg::IPtr;

inline std::string text(const char16* s) { return ZRGSConvCrudeUTF16_TO_UTF8(reinterpret_cast<const char16_t*>(s)); }

// What the controller told the host, in order: "begin 5", "perform 5 0.5", "end 5",
// "restart 20", "dirty 1"; with the engine-editor word seen at each perform.
class Handler : public IComponentHandler, public IComponentHandler2
{
public:
    tresult PLUGIN_API beginEdit(ParamID id) override { return add("begin " + std::to_string(id)); }
    tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override
    {
        if (handle)
            editing.push_back(handle->editingParameter.load());
        char value[32];
        std::snprintf(value, sizeof value, "%g", v);
        return add("perform " + std::to_string(id) + " " + value);
    }
    tresult PLUGIN_API endEdit(ParamID id) override { return add("end " + std::to_string(id)); }
    tresult PLUGIN_API restartComponent(int32 flags) override { return add("restart " + std::to_string(flags)); }
    tresult PLUGIN_API setDirty(TBool state) override { return add("dirty " + std::to_string(int(state))); }
    tresult PLUGIN_API requestOpenEditor(FIDString) override { return kResultOk; }
    tresult PLUGIN_API startGroupEdit() override { return kResultOk; }
    tresult PLUGIN_API finishGroupEdit() override { return kResultOk; }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, IComponentHandler2::iid)) {
            *obj = static_cast<IComponentHandler2*>(this);
            return kResultOk;
        }
        if (FUnknownPrivate::iidEqual(iid, IComponentHandler::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            *obj = static_cast<IComponentHandler*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    std::string take()
    {
        std::string all;
        for (const std::string& s : said)
            all += (all.empty() ? "" : ", ") + s;
        said.clear();
        return all;
    }

    std::vector<std::string> said;
    std::vector<int32_t> editing;
    vantor::PlugHandle* handle = nullptr;

private:
    tresult add(std::string s)
    {
        said.push_back(std::move(s));
        return kResultOk;
    }
};

struct Fixture
{
    int index;
    const char* label;
    uint32_t type;
    float minimum, maximum, defaultValue;
    const char* list;
};

inline const std::string kLongLabel(200, 'x');

// Engine descriptions for the first ten indices; every other index has no label.
inline const Fixture kTable[] = {
    {0, "Osc1 PW", ::ParameterInfo::Continuous, 0.0f, 1.0f, 0.25f, nullptr},
    {1, "Filter Cutoff", ::ParameterInfo::Continuous, -1.0f, 1.0f, 0.5f, nullptr},
    {2, "Gain", ::ParameterInfo::Integer, -64.0f, 63.0f, 0.0f, nullptr},
    {3, "L01 Wave", ::ParameterInfo::Switch, 0.0f, 1.0f, 1.0f, nullptr},
    {4, "Mode", ::ParameterInfo::Choice, 0.0f, 2.0f, 0.0f, "A|B|C"},
    {5, "Osc2 Level", ::ParameterInfo::Continuous, 0.0f, 1.0f, 0.0f, nullptr},
    {6, "DAC Volume", ::ParameterInfo::Continuous, 0.0f, 1.0f, 0.0f, nullptr},
    {7, "Empty", ::ParameterInfo::Choice, 0.0f, 2.0f, 0.0f, nullptr},
    {9, kLongLabel.c_str(), ::ParameterInfo::Continuous, 0.0f, 1.0f, 0.0f, nullptr},
};
inline constexpr int kEngineParameters = 8;  // 0-6 and 9

inline void installTable(const char* relabel5 = nullptr)
{
    for (int i = 0; i < 256; ++i) {
        TestParameter p;
        EngineHome::hook(kHookSetParameter, &p, i);
    }
    for (const Fixture& f : kTable) {
        TestParameter p;
        p.info = ::ParameterInfo(f.index == 5 && relabel5 ? relabel5 : f.label, f.type, f.minimum, f.maximum,
                               f.defaultValue, 0, 0);
        if (f.list)
            p.info.setList(f.list);
        EngineHome::hook(kHookSetParameter, &p, f.index);
    }
}

class Controller : public EngineHome
{
protected:
    // The controller's context is a host of that name unless one is given.
    void start(const char16_t* hostName = u"Some Host", Steinberg::FUnknown* context = nullptr)
    {
        installTable();
        startOnTheModule(hostName, context);
    }
    // The same with the instrument module's own parameter descriptions.
    void startOnTheModule(const char16_t* hostName = u"Some Host", Steinberg::FUnknown* context = nullptr)
    {
        processor = IPtr<PlugProcessor>(new PlugProcessor, false);
        ASSERT_EQ(processor->initialize(&hostApp), kResultOk) << log();
        controllerHost = std::make_unique<NamedHost>(hostName);
        controller = IPtr<PlugController>(new PlugController, false);
        ASSERT_EQ(controller->initialize(context ? context : controllerHost.get()), kResultOk);
        processor->connect(controller);
        controller->connect(processor);
        handler.handle = processor.get();
        controller->setComponentHandler(&handler);
    }
    void TearDown() override
    {
        if (controller) {
            if (processor)
                controller->disconnect(processor);
            controller->setComponentHandler(nullptr);
            controller->terminate();
            controller = nullptr;
        }
        if (processor) {
            processor->disconnect(nullptr);
            processor->terminate();
            processor = nullptr;
        }
        EngineHome::TearDown();
    }

    Vst::ParameterInfo info(int32 index)
    {
        Vst::ParameterInfo i{};
        EXPECT_EQ(controller->getParameterInfo(index, i), kResultOk) << index;
        return i;
    }
    int32_t fire(int32_t op, int32_t i2 = 0, float f = 0.0f, int32_t i1 = 0, int32_t i3 = 0, void* p1 = nullptr)
    {
        TestHostCall c;
        c.op = op;
        c.p1 = p1;
        c.i1 = i1;
        c.i2 = i2;
        c.i3 = i3;
        c.f = f;
        EXPECT_EQ(hook(kHookFireHostOpcode, &c), 1);
        return c.statuses[0];
    }

    HostApplication hostApp;
    std::unique_ptr<NamedHost> controllerHost;
    IPtr<PlugProcessor> processor;
    IPtr<PlugController> controller;
    Handler handler;
};

}  // namespace controllerhome
