// The edit controller against the built engine bundle: parameters and units from a fixture table
// of engine descriptions, the MIDI mapping, programs, the handle message, the engine's host
// callbacks, the component state, note expression and the editor view.

#include "tests/vst3/ControllerHome.h"

#include <pluginterfaces/gui/iplugview.h>
#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/vstparameters.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace controllerhome;
using Steinberg::MemoryStream;
using Steinberg::ViewRect;

class Frame : public Steinberg::IPlugFrame
{
public:
    tresult PLUGIN_API resizeView(Steinberg::IPlugView*, ViewRect* r) override
    {
        resized.push_back(*r);
        return kResultOk;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, Steinberg::IPlugFrame::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            *obj = this;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    std::vector<ViewRect> resized;
};

TEST_F(Controller, BeforeTheHandleItReportsTheAutomatableCount)
{
    IPtr<PlugController> alone(new PlugController, false);
    HostApplication host;
    ASSERT_EQ(alone->initialize(&host), kResultOk);
    EXPECT_EQ(alone->getParameterCount(), 256);
    EXPECT_EQ(alone->getUnitCount(), 1);
    EXPECT_EQ(alone->getParamNormalized(0), 0.0);
    EXPECT_EQ(alone->createView("editor"), nullptr);
    EXPECT_EQ(alone->disconnect(nullptr), kResultFalse);
    alone->terminate();
}

TEST_F(Controller, ParametersFromTheEngineTable)
{
    start();
    ASSERT_EQ(controller->getParameterCount(), 1 + kEngineParameters + 2080);

    const Vst::ParameterInfo bypass = info(0);
    EXPECT_EQ(bypass.id, 9000u);
    EXPECT_EQ(text(bypass.title), "Bypass");
    EXPECT_EQ(bypass.flags, 0x10001);
    EXPECT_EQ(bypass.stepCount, 1);

    struct Row
    {
        ParamID id;
        std::string title;
        int32 steps;
        int32 flags;
        double defaultNormalized;
    };
    const Row rows[] = {
        {0, "Oscillator 1 : PW", 0, 1, 0.25},
        {1, "Filter   : Cutoff", 0, 1, 0.75},  // a range: 0.5 of -1..1
        {2, "Gain", 127, 1, 64.0 / 127.0},
        {3, "Oscillator 1 : Wave", 1, 1, -1.0},  // packed, below
        {4, "Mode", 2, 0x9, 0.0},
        {5, "Oscillator 2 : Level", 0, 1, 0.0},
        {6, "DAC   : Volume", 0, 1, 0.0},
        {9, std::string(127, 'x'), 0, 1, 0.0},
    };
    ::ParameterInfo toggle("L01 Wave", ::ParameterInfo::Switch, 0.0f, 1.0f, 1.0f, 0, 0);
    float packed = toggle.defaultValue;
    toggle.pack(packed);
    for (int32 i = 0; i < kEngineParameters; ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.title);
        const Vst::ParameterInfo p = info(1 + i);
        EXPECT_EQ(p.id, r.id);
        EXPECT_EQ(text(p.title), r.title);
        EXPECT_EQ(p.stepCount, r.steps);
        EXPECT_EQ(p.flags, r.flags);
        EXPECT_EQ(p.unitId, 0);
        EXPECT_NEAR(p.defaultNormalizedValue, r.defaultNormalized < 0 ? packed : r.defaultNormalized, 1e-6);
    }
    // The list's items and the range's plain values, as the host shows them.
    String128 shown = {};
    ASSERT_EQ(controller->getParamStringByValue(4, 0.5, shown), kResultOk);
    EXPECT_EQ(text(shown), "B");
    EXPECT_NEAR(controller->normalizedParamToPlain(1, 0.25), -0.5, 1e-9);
    EXPECT_NEAR(controller->normalizedParamToPlain(2, 1.0), 63.0, 1e-9);

    const int32 midi = 1 + kEngineParameters;
    struct Midi
    {
        int32 at;
        ParamID id;
        const char* title;
    };
    for (const Midi& m : {Midi{0, 12048, "Ch00 - ChanAft"}, Midi{15, 12063, "Ch15 - ChanAft"},
                          Midi{16, 12064, "Ch00 - PitchBend"}, Midi{31, 12079, "Ch15 - PitchBend"},
                          Midi{32, 10000, "Ch00 - CC000"}, Midi{32 + 3 * 128 + 7, 10391, "Ch03 - CC007"},
                          Midi{2079, 12047, "Ch15 - CC127"}}) {
        const Vst::ParameterInfo p = info(midi + m.at);
        EXPECT_EQ(p.id, m.id);
        EXPECT_EQ(text(p.title), m.title);
        EXPECT_EQ(p.stepCount, 1);
        EXPECT_EQ(p.flags, 0);
    }
    EXPECT_EQ(controller->getUnitCount(), 1);
}

TEST_F(Controller, UnitHostsGetUnitsAndShortTitles)
{
    for (const char16_t* name : {u"PreSonus VST3 Host 6.5", u"Vantor Wendle"}) {
        SCOPED_TRACE(ZRGSConvCrudeUTF16_TO_UTF8(name));
        start(name);
        ASSERT_EQ(controller->getParameterCount(), 1 + kEngineParameters + 2080);
        EXPECT_EQ(text(info(1).title), "PW");
        EXPECT_EQ(text(info(4).title), "Wave");
        // Osc1, Filter, L01, Osc2, DAC: two "Oscillator 1" units from two prefixes.
        ASSERT_EQ(controller->getUnitCount(), 6);
        Vst::UnitInfo u{};
        ASSERT_EQ(controller->getUnitInfo(0, u), kResultOk);
        EXPECT_EQ(u.id, 0);
        EXPECT_EQ(u.parentUnitId, -1);
        EXPECT_EQ(text(u.name), "Root Unit");
        const char* names[] = {"Oscillator 1", "Filter  ", "Oscillator 1", "Oscillator 2", "DAC  "};
        for (int32 i = 1; i <= 5; ++i) {
            ASSERT_EQ(controller->getUnitInfo(i, u), kResultOk);
            EXPECT_EQ(u.id, i);
            EXPECT_EQ(u.parentUnitId, 0);
            EXPECT_EQ(text(u.name), names[i - 1]);
            EXPECT_EQ(u.programListId, -1);
        }
        EXPECT_EQ(info(1).unitId, 1);
        EXPECT_EQ(info(4).unitId, 3);
        EXPECT_EQ(info(3).unitId, 0);  // "Gain"
        EXPECT_EQ(controller->getUnitInfo(6, u), kResultFalse);
        EXPECT_EQ(controller->getUnitInfo(-1, u), kResultFalse);
        TearDown();
        SetUp();
    }
}

TEST_F(Controller, MidiMappingProgramsAndUnits)
{
    start();
    struct Row
    {
        int16 channel;
        int16 controller;
        tresult result;
        ParamID id;
    };
    for (const Row& r : {Row{3, 7, kResultOk, 10391}, Row{15, 129, kResultOk, 12079}, Row{0, 128, kResultOk, 12048},
                         Row{0, 130, kResultFalse, 0}, Row{0, -1, kResultFalse, 0}, Row{16, 0, kResultFalse, 0},
                         Row{-1, 7, kResultFalse, 0}}) {
        ParamID id = 0;
        EXPECT_EQ(controller->getMidiControllerAssignment(0, r.channel, r.controller, id), r.result)
            << r.channel << "/" << r.controller;
        if (r.result == kResultOk) {
            EXPECT_EQ(id, r.id);
        }
    }

    EXPECT_EQ(controller->getProgramListCount(), 16);
    Vst::ProgramListInfo list{};
    ASSERT_EQ(controller->getProgramListInfo(15, list), kResultOk);
    EXPECT_EQ(list.id, 15);
    EXPECT_EQ(text(list.name), "ProgramList 15");
    EXPECT_EQ(list.programCount, 128);
    EXPECT_EQ(controller->getProgramListInfo(16, list), kResultFalse);
    EXPECT_EQ(controller->getProgramListInfo(-1, list), kResultFalse);
    String128 name = {};
    ASSERT_EQ(controller->getProgramName(3, 5, name), kResultOk);
    EXPECT_EQ(text(name), "Program 5");
    EXPECT_EQ(controller->getProgramName(16, 5, name), kResultFalse);
    EXPECT_EQ(controller->getProgramName(0, 128, name), kResultFalse);
    EXPECT_EQ(controller->getProgramInfo(0, 0, "x", name), kResultFalse);
    EXPECT_EQ(controller->hasProgramPitchNames(0, 0), kResultFalse);
    EXPECT_EQ(controller->getSelectedUnit(), 0);
    EXPECT_EQ(controller->selectUnit(0), kResultOk);
    EXPECT_EQ(controller->selectUnit(1), kResultFalse);
    Vst::UnitID unit = 0;
    EXPECT_EQ(controller->getUnitByBus(Vst::kEvent, Vst::kInput, 0, 0, unit), kResultFalse);
}

TEST_F(Controller, BypassReadsWhatItLastReceivedAndEngineValuesPassThrough)
{
    start();
    ASSERT_GT(controller->getParameterCount(), 256);
    processor->bypass.store(true);
    EXPECT_EQ(controller->getParamNormalized(9000), 0.0);  // not the processor's flag
    EXPECT_EQ(controller->setParamNormalized(9000, 1.0), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(9000), 1.0);
    controller->setParamNormalized(9000, 0.0);
    EXPECT_EQ(controller->getParamNormalized(9000), 0.0);
    EXPECT_EQ(controller->getParamNormalized(10000), 0.0);
    ASSERT_TRUE(processor->wrapper->setAutomatableParameterValue(1, 0.75f, true));
    EXPECT_NEAR(controller->getParamNormalized(1), 0.75, 1e-6);
}

// A session saved bypassed and reopened: processor and controller load the state, the host reads
// the bypass parameter back and sends what it read; the output stays bypassed.
TEST_F(Controller, BypassOfALoadedStateComesBackFromTheController)
{
    start();
    std::vector<float> left(512), right(512);
    float* channels[2] = {left.data(), right.data()};
    // The output's energy over blocks of 512 frames with bypass sent as `value`, a note in the first.
    const auto play = [&](ParamValue value, int blocks) {
        AudioBusBuffers bus;
        bus.numChannels = 2;
        bus.channelBuffers32 = channels;
        Changes changes({Queue(9000, {{0, value}})});
        Events note({noteOn(69, 0, 1.0f, 1)});
        double energy = 0.0;
        for (int b = 0; b < blocks; ++b) {
            std::fill(left.begin(), left.end(), 1.0f);
            std::fill(right.begin(), right.end(), 1.0f);
            ProcessData data;
            data.numSamples = 512;
            data.symbolicSampleSize = kSample32;
            data.numOutputs = 1;
            data.outputs = &bus;
            data.inputParameterChanges = &changes;
            data.inputEvents = b == 0 ? &note : nullptr;
            EXPECT_EQ(processor->process(data), kResultOk);
            for (size_t i = 0; i < left.size(); ++i)
                energy += double(left[i]) * left[i] + double(right[i]) * right[i];
        }
        return energy;
    };
    EXPECT_EQ(play(1.0, 1), 0.0);
    IPtr<MemoryStream> saved(new MemoryStream, false);
    ASSERT_EQ(processor->getState(saved), kResultOk);
    play(0.0, 1);  // playing again before the session is reopened
    controller->setParamNormalized(9000, 0.0);

    saved->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
    ASSERT_EQ(processor->setState(saved), kResultOk);
    saved->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
    ASSERT_EQ(controller->setComponentState(saved), kResultOk);
    const ParamValue read = controller->getParamNormalized(9000);
    EXPECT_EQ(read, 1.0);
    EXPECT_EQ(play(read, 8), 0.0);
    EXPECT_GT(play(0.0, 8), 1.0);  // the same note is heard unbypassed

    // A controller that has not built its parameters yet keeps the value too.
    IPtr<PlugController> fresh(new PlugController, false);
    ASSERT_EQ(fresh->initialize(&hostApp), kResultOk);
    saved->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
    ASSERT_EQ(fresh->setComponentState(saved), kResultOk);
    EXPECT_EQ(fresh->getParamNormalized(9000), 1.0);
    fresh->terminate();
}

// A list parameter starts at the engine's default: the instrument's "Wave" is "Pulse".
TEST_F(Controller, ListParametersStartAtTheEnginesDefault)
{
    startOnTheModule();
    ASSERT_GT(controller->getParameterCount(), 256);
    Vst::ParameterInfo wave{};
    ASSERT_EQ(controller->getParameterInfoByTag(2, wave), kResultOk);
    EXPECT_EQ(text(wave.title), "Oscillator 1 : Wave");
    EXPECT_EQ(wave.stepCount, 8);
    EXPECT_EQ(wave.defaultNormalizedValue, 0.5);
    EXPECT_EQ(controller->getParameterObject(2)->getNormalized(), 0.5);
    String128 shown = {};
    ASSERT_EQ(controller->getParamStringByValue(2, wave.defaultNormalizedValue, shown), kResultOk);
    EXPECT_EQ(text(shown), "Pulse");
    EXPECT_EQ(controller->getParamNormalized(2), 0.5);  // what the engine reports agrees
}

TEST_F(Controller, HandleMessagesAreCheckedAndDisconnectRemovesTheCallback)
{
    installTable();
    IPtr<PlugProcessor> p(new PlugProcessor, false);
    ASSERT_EQ(p->initialize(&hostApp), kResultOk);
    IPtr<PlugController> c(new PlugController, false);
    ASSERT_EQ(c->initialize(&hostApp), kResultOk);
    Peer peer;
    ASSERT_EQ(c->connect(&peer), kResultOk);
    EXPECT_EQ(c->notify(nullptr), kInvalidArgument);

    auto message = [&](const char* id, int64 no) {
        IPtr<HostMessage> m(new HostMessage, false);
        m->setMessageID(id);
        m->getAttributes()->setInt("No", no);
        return c->notify(m);
    };
    EXPECT_EQ(message("Other", int64(reinterpret_cast<intptr_t>(static_cast<vantor::PlugHandle*>(p.get())))),
              kResultFalse);
    int dummy[16] = {};
    EXPECT_EQ(message("CaddisHandle", int64(reinterpret_cast<intptr_t>(dummy))), kResultFalse);
    EXPECT_EQ(message("CaddisHandle", 1), kResultFalse);
    EXPECT_EQ(c->getParameterCount(), 256);  // nothing taken

    EXPECT_EQ(message("CaddisHandle", int64(reinterpret_cast<intptr_t>(static_cast<vantor::PlugHandle*>(p.get())))),
              kResultFalse);
    EXPECT_EQ(c->getParameterCount(), 1 + kEngineParameters + 2080);
    EXPECT_NE(log().find("doTheRealInit in My VST3 HostApplication"), std::string::npos) << log();

    hook(kHookReset, nullptr, kLogCalls);
    EXPECT_EQ(c->disconnect(&peer), kResultOk);
    const std::vector<TestCall> sent = calls();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].opcode, 34);
    EXPECT_EQ(sent[0].p1, reinterpret_cast<void*>(&PlugController::TARN_CB));
    EXPECT_EQ(sent[0].p2, static_cast<void*>(c.get()));
    EXPECT_EQ(sent[0].status, 0);

    // The processor gone, its block is no longer used.
    p->terminate();
    p = nullptr;
    EXPECT_EQ(c->getParamNormalized(1), 0.0);
    EXPECT_EQ(c->disconnect(&peer), kResultFalse);
    c->terminate();
}

TEST_F(Controller, EngineEditorEdits)
{
    start();
    ASSERT_GT(controller->getParameterCount(), 256);
    handler.take();

    EXPECT_EQ(fire(0x2003, 5, 0.5f), 0);
    EXPECT_EQ(handler.take(), "begin 5, perform 5 0.5, end 5");
    EXPECT_EQ(handler.editing, std::vector<int32_t>{5});
    EXPECT_EQ(processor->editingParameter.load(), -1);
    EXPECT_EQ(controller->getEditIndex(), -1);

    // The description converts the plain value: 0 is the middle of -1..1.
    ::ParameterInfo range("Filter Cutoff", ::ParameterInfo::Continuous, -1.0f, 1.0f, 0.0f, 0, 0);
    EXPECT_EQ(fire(0x2003, 1, 0.0f, 0, 0, &range), 0);
    EXPECT_EQ(handler.take(), "begin 1, perform 1 0.5, end 1");

    // Silent: only the value moves.
    EXPECT_EQ(fire(0x2003, 5, 0.25f, 0, 1), 0);
    EXPECT_EQ(handler.take(), "");
    EXPECT_DOUBLE_EQ(controller->getParameterObject(5)->getNormalized(), 0.25);
    EXPECT_EQ(processor->editingParameter.load(), -1);

    // Ignored: i1 set, or an index without a parameter.
    EXPECT_EQ(fire(0x2003, 5, 0.9f, 1), 0);
    EXPECT_EQ(fire(0x2003, 8, 0.9f), 0);
    EXPECT_EQ(fire(0x2007, 8), 0);
    EXPECT_EQ(fire(0x2008, 8), 0);
    EXPECT_EQ(handler.take(), "");
    EXPECT_DOUBLE_EQ(controller->getParameterObject(5)->getNormalized(), 0.25);

    EXPECT_EQ(fire(0x2007, 5), 0);
    EXPECT_EQ(processor->editingParameter.load(), 5);
    EXPECT_EQ(fire(0x2007, 5), 0);  // already open
    EXPECT_EQ(fire(0x2007, 6), 0);
    EXPECT_EQ(fire(0x2008, 5), 0);  // not the open one
    EXPECT_EQ(fire(0x2008, 6), 0);
    EXPECT_EQ(handler.take(), "begin 5, end 5, begin 6, end 6");
    EXPECT_EQ(processor->editingParameter.load(), -1);

    // While an edit is open the host reads the engine editor's last value.
    EXPECT_EQ(fire(0x2007, 0), 0);
    EXPECT_EQ(fire(0x2003, 0, 0.125f, 0, 1), 0);
    EXPECT_EQ(fire(0x2007, 0), 0);
    EXPECT_DOUBLE_EQ(controller->getParamNormalized(0), 0.125);
    EXPECT_EQ(fire(0x2008, 0), 0);

    EXPECT_EQ(fire(0x2004), 0);
    EXPECT_EQ(fire(0x2005, 0, 0.0f, 3), 0);
    EXPECT_EQ(fire(0x7777), 2);
    EXPECT_EQ(PlugController::TARN_CB(0x2004, nullptr, nullptr, 0, 0, 0, 0.0f, nullptr), 2);
    handler.take();
}

TEST_F(Controller, RestartsAndDirtiness)
{
    start();
    ASSERT_GT(controller->getParameterCount(), 256);
    handler.take();
    EXPECT_EQ(fire(0x2004), 0);
    EXPECT_EQ(handler.take(), "restart 8, dirty 1");
    EXPECT_EQ(fire(0x2005, 0, 0.0f, 3), 0);
    EXPECT_EQ(handler.take(), "dirty 1");

    // Names changed without a value change: titles follow, no restart. (The first call brings
    // the bridge's value cache up to the engine.)
    fire(0x2002);
    handler.take();
    installTable("Osc3 Level");
    EXPECT_EQ(fire(0x2002), 0);
    EXPECT_EQ(handler.take(), "");
    EXPECT_EQ(text(info(6).title), "Oscillator 3 : Level");

    // A value changed inside the engine: values restart, and an open edit is closed first.
    EXPECT_EQ(fire(0x2007, 2), 0);
    handler.take();
    ASSERT_EQ(engine().entry(processor->wrapper->getInstance(), 17, nullptr, nullptr, nullptr, 5, 0.75f, 0, 0), 0);
    EXPECT_EQ(fire(0x2002), 0);
    EXPECT_EQ(handler.take(), "end 2, restart 20, dirty 1");
    EXPECT_NEAR(controller->getParameterObject(5)->getNormalized(), 0.75, 1e-6);
}

TEST_F(Controller, ComponentStateForms)
{
    start();
    ASSERT_GT(controller->getParameterCount(), 256);
    auto bytes = [](size_t n, std::initializer_list<std::pair<size_t, std::string>> at) {
        std::string s(n, '\0');
        for (const auto& [offset, value] : at)
            s.replace(offset, value.size(), value);
        return s;
    };
    const std::string one("\x01\0\0\0", 4), big1("\0\0\0\x01", 4);
    struct Row
    {
        const char* what;
        std::string state;
        tresult result;
        double bypass;
    };
    const Row rows[] = {
        {"plain on", bytes(8, {{0, one}}), kResultOk, 1.0},
        {"plain off", bytes(8, {}), kResultOk, 0.0},
        {"plain flag only", one, kResultOk, 1.0},
        {"plain negative", std::string("\xff\xff\xff\xff", 4), kResultOk, 0.0},
        {"under 4 bytes", std::string("\x01\0\0", 3), kResultFalse, -1.0},
        {"VstW on", bytes(200, {{0, "VstW"}, {12, one}, {16, "CcnK"}, {28, big1}}), kResultOk, 1.0},
        {"VstW off", bytes(200, {{0, "VstW"}, {16, "CcnK"}, {28, big1}}), kResultOk, 0.0},
        {"CcnK", bytes(170, {{0, "CcnK"}, {12, one}}), kResultOk, 0.0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        controller->setParamNormalized(9000, 0.5);
        IPtr<MemoryStream> s(new MemoryStream, false);
        int32 written = 0;
        s->write(const_cast<char*>(r.state.data()), int32(r.state.size()), &written);
        s->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
        EXPECT_EQ(controller->setComponentState(s), r.result);
        const double bypass = r.bypass >= 0 ? r.bypass : 0.5;  // a refused state changes nothing
        EXPECT_EQ(controller->getParameterObject(9000)->getNormalized(), bypass);
        EXPECT_EQ(controller->getParamNormalized(9000), bypass);
    }
    EXPECT_EQ(controller->setComponentState(nullptr), kResultFalse);
}

TEST_F(Controller, NoteExpressionTypesAndTexts)
{
    start();
    EXPECT_EQ(controller->getNoteExpressionCount(0, 0), 8);
    EXPECT_EQ(controller->getNoteExpressionCount(0, 1), 0);
    EXPECT_EQ(controller->getNoteExpressionCount(1, 0), 0);

    struct Row
    {
        int32 index;
        Vst::NoteExpressionTypeID type;
        const char* title;
        const char* shortTitle;
        const char* units;
        double defaultValue, minimum, maximum;
        int32 flags;
    };
    const Row rows[] = {
        {0, 0, "Volume", "Vol", "dB", 1.0, 0.0, 1.0, 0},
        {1, 1, "Pan", "Pan", "", 0.5, 0.0, 1.0, 1},
        {2, 2, "Tuning", "Tun", "", 0.5, 0.3, 0.7, 1},
        {6, 100000, "Pressure", "Prs", "", 0.0, 0.0, 1.0, 0},
        {7, 100001, "Extra", "Ext", "", 0.0, 0.0, 1.0, 0},
        {9, 9, "", "", "", 0.0, 0.0, 1.0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.index);
        Vst::NoteExpressionTypeInfo i;
        std::memset(&i, 0x5A, sizeof i);
        ASSERT_EQ(controller->getNoteExpressionInfo(0, 0, r.index, i), kResultOk);
        EXPECT_EQ(i.typeId, r.type);
        EXPECT_EQ(text(i.title), r.title);
        EXPECT_EQ(text(i.shortTitle), r.shortTitle);
        EXPECT_EQ(text(i.units), r.units);
        EXPECT_EQ(i.valueDesc.defaultValue, r.defaultValue);
        EXPECT_EQ(i.valueDesc.minimum, r.minimum);
        EXPECT_EQ(i.valueDesc.maximum, r.maximum);
        EXPECT_EQ(i.valueDesc.stepCount, 0);
        EXPECT_EQ(i.unitId, -1);
        EXPECT_EQ(i.associatedParameterId, 0u);
        EXPECT_EQ(i.flags, r.flags);
    }
    Vst::NoteExpressionTypeInfo none{};
    EXPECT_EQ(controller->getNoteExpressionInfo(0, 1, 0, none), kResultFalse);

    struct Text
    {
        Vst::NoteExpressionTypeID type;
        double value;
        const char* shown;
    };
    for (const Text& t : {Text{2, 0.7, "48.00"}, Text{1, 0.25, "-50.00"}, Text{0, 0.5, "50.00"}, Text{2, 0.3, "-48.00"}}) {
        String128 s = {};
        ASSERT_EQ(controller->getNoteExpressionStringByValue(0, 0, t.type, t.value, s), kResultOk);
        EXPECT_EQ(text(s), t.shown);
    }
    struct Value
    {
        Vst::NoteExpressionTypeID type;
        const char16_t* typed;
        tresult result;
        double value;
    };
    for (const Value& v : {Value{2, u"-24", kResultOk, 0.4}, Value{1, u"50", kResultOk, 0.75},
                           Value{0, u"25 dB", kResultOk, 0.25}, Value{0, u"loud", kResultFalse, -7.0},
                           Value{0, u"", kResultFalse, -7.0}}) {
        Vst::NoteExpressionValue value = -7.0;
        EXPECT_EQ(controller->getNoteExpressionValueByString(0, 0, v.type, reinterpret_cast<const TChar*>(v.typed), value),
                  v.result);
        EXPECT_NEAR(value, v.value, 1e-12);
    }
    Vst::NoteExpressionValue value = 0.0;
    EXPECT_EQ(controller->getNoteExpressionValueByString(0, 0, 0, nullptr, value), kResultFalse);
    String128 s = {};
    EXPECT_EQ(controller->getNoteExpressionStringByValue(0, 2, 0, 0.5, s), kResultFalse);
    Vst::PhysicalUIMapList list{};
    EXPECT_EQ(controller->getPhysicalUIMapping(0, 0, list), kResultOk);
    EXPECT_EQ(controller->getPhysicalUIMapping(0, 1, list), kResultFalse);

    // The interfaces a host asks for.
    for (const Steinberg::FUID* iid : {&Vst::IMidiMapping::iid, &Vst::INoteExpressionController::iid,
                                       &Vst::INoteExpressionPhysicalUIMapping::iid, &Vst::IUnitInfo::iid}) {
        void* obj = nullptr;
        ASSERT_EQ(controller->queryInterface(*iid, &obj), kResultOk);
        static_cast<FUnknown*>(obj)->release();
    }
}

class Editor : public Controller
{
protected:
    void open()
    {
        start();
        view = IPtr<Steinberg::IPlugView>(controller->createView("editor"), false);
        ASSERT_TRUE(view);
        hook(kHookReset, nullptr, kLogCalls);
        captured.str("");
    }
    CaddisVST3Editor* editor() { return static_cast<CaddisVST3Editor*>(view.get()); }
    void TearDown() override
    {
        view = nullptr;
        Controller::TearDown();
    }
    IPtr<Steinberg::IPlugView> view;
    int parent = 0;
};

TEST_F(Editor, OnlyTheEditorNameMakesAView)
{
    start();
    EXPECT_EQ(controller->createView("other"), nullptr);
    EXPECT_EQ(controller->createView(nullptr), nullptr);
}

TEST_F(Editor, PlatformTypesAndAttach)
{
    open();
    EXPECT_EQ(view->isPlatformTypeSupported("NSView"), kResultTrue);
    EXPECT_EQ(view->isPlatformTypeSupported("X11EmbedWindowID"), kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported(nullptr), kResultFalse);
    void* scale = nullptr;
    ASSERT_EQ(view->queryInterface(Steinberg::IPlugViewContentScaleSupport::iid, &scale), kResultOk);
    EXPECT_EQ(static_cast<Steinberg::IPlugViewContentScaleSupport*>(scale)->setContentScaleFactor(2.0f), kResultOk);
    static_cast<FUnknown*>(scale)->release();

    // Nothing but an NSView with a parent reaches the engine.
    EXPECT_EQ(view->attached(reinterpret_cast<void*>(0x1234), "X11EmbedWindowID"), kResultFalse);
    EXPECT_EQ(view->attached(nullptr, "NSView"), kResultFalse);
    EXPECT_EQ(opcodes(), "");

    EXPECT_EQ(view->attached(&parent, "NSView"), kResultOk);
    EXPECT_TRUE(logged("I:Editor attached"));
    const std::vector<TestCall> c = calls();
    ASSERT_EQ(opcodes(), "23 25 21");
    EXPECT_EQ(std::string(c[0].dataFolder), dataFolder + "/Product.xml");
    EXPECT_EQ(c[1].p1, static_cast<void*>(&parent));
    EXPECT_EQ(c[1].i3, 8);

    hook(kHookReset, nullptr, kLogCalls);
    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_TRUE(logged("I:Editor removed"));
    EXPECT_EQ(opcodes(), "22 24");

    // A failing open still adds the view; a failing add fails the attach.
    forceStatus(25, 7);
    EXPECT_EQ(view->attached(&parent, "NSView"), kResultOk);
    view->removed();
    forceStatus(21, 7);
    EXPECT_EQ(view->attached(&parent, "NSView"), kResultFalse);
}

TEST_F(Editor, SizesAndResizing)
{
    open();
    ViewRect r(1, 2, 3, 4);
    ASSERT_EQ(view->getSize(&r), kResultOk);
    EXPECT_EQ(opcodes(), "23 27");
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 640);
    EXPECT_EQ(r.bottom, 480);
    EXPECT_EQ(view->getSize(nullptr), kInvalidArgument);
    EXPECT_EQ(view->checkSizeConstraint(nullptr), kInvalidArgument);

    hook(kHookSetViewSize, nullptr, 300, 200);
    ViewRect wanted(0, 0, 1000, 1000);
    EXPECT_EQ(view->checkSizeConstraint(&wanted), kResultOk);
    EXPECT_EQ(wanted.right, 300);
    EXPECT_EQ(wanted.bottom, 200);
    EXPECT_EQ(view->canResize(), kResultTrue);
    EXPECT_EQ(view->onSize(&wanted), kResultOk);

    forceStatus(27, 5);
    ASSERT_EQ(view->getSize(&r), kResultOk);
    EXPECT_EQ(r.getWidth(), 0);
    EXPECT_EQ(r.getHeight(), 0);

    // The ticket is forgotten on removal and made again by the next size query.
    hook(kHookReset, nullptr, kLogCalls);
    view->removed();
    view->getSize(&r);
    EXPECT_EQ(opcodes(), "22 24 23 27");

    // The engine's size changes reach the frame once there is one.
    EXPECT_EQ(fire(0x2006, 600, 0.0f, 800), 0);
    EXPECT_EQ(editor()->getRect().right, 800);
    EXPECT_EQ(editor()->getRect().bottom, 600);
    Frame frame;
    EXPECT_EQ(view->setFrame(&frame), kResultOk);
    EXPECT_TRUE(frame.resized.empty());
    EXPECT_EQ(fire(0x2006, 480, 0.0f, 640), 0);
    ASSERT_EQ(frame.resized.size(), 1u);
    EXPECT_EQ(frame.resized[0].left, 0);
    EXPECT_EQ(frame.resized[0].top, 0);
    EXPECT_EQ(frame.resized[0].right, 640);
    EXPECT_EQ(frame.resized[0].bottom, 480);
    view->setFrame(nullptr);

    // A released view is forgotten by its controller: size changes go nowhere.
    view = nullptr;
    EXPECT_EQ(controller->getEditor(), nullptr);
    EXPECT_EQ(fire(0x2006, 1, 0.0f, 1), 0);
}

}  // namespace
