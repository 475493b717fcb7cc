// The audio processor against the built engine bundle: start-up and buses, the handle message,
// parameter changes and host events as engine records, the event block's order and limits,
// bypass, transport, setup, arrangements and the state forms.

#include "tests/vst3/EngineHome.h"
#include "tests/vst3/ProcessDoubles.h"
#include "vst3/plugprocessor.h"

#include "platform/ParameterInfo.h"

#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <vector>

namespace vantor {

// Records compare byte for byte.
inline bool operator==(const HDMIDIEvent& a, const HDMIDIEvent& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline std::ostream& operator<<(std::ostream& out, const HDMIDIEvent& e)
{
    return out << "{kind " << std::hex << e.kind << " midi " << int(e.midi[0]) << " " << int(e.midi[1]) << " "
               << int(e.midi[2]) << std::dec << " flag " << int(e.midiFlag) << " index " << e.index << " value "
               << e.value << " ch " << e.channel << " id " << e.noteId << " tuning " << e.tuning << " at "
               << e.sampleOffset << "}";
}

}  // namespace vantor

namespace {

using namespace enginehome;
using namespace vantor::engine;
using namespace processdoubles;
using Steinberg::IPtr;
using Steinberg::MemoryStream;
using vantor::HDMIDIEvent;

// The engine's view of one process call.
struct Sent
{
    uint32_t frames = 0;
    bool transport = false;
    std::vector<HDMIDIEvent> events;
};

HDMIDIEvent raw(uint8_t status, uint8_t d1, uint8_t d2, uint32_t offset = 0)
{
    HDMIDIEvent e;
    e.midi[0] = status;
    e.midi[1] = d1;
    e.midi[2] = d2;
    e.midiFlag = 1;
    e.sampleOffset = offset;
    return e;
}

HDMIDIEvent note(uint32_t kind, int32_t pitch, float value, uint16_t channel, int32_t id, float tuning = 0.0f)
{
    HDMIDIEvent e;
    e.kind = kind;
    e.index = pitch;
    e.value = value;
    e.channel = channel;
    e.noteId = id;
    e.tuning = tuning;
    return e;
}

class Processor : public EngineHome
{
protected:
    void SetUp() override
    {
        EngineHome::SetUp();
        left.assign(4096, 1.0f);
        right.assign(4096, 1.0f);
    }
    void TearDown() override
    {
        processors.clear();
        hosts.clear();
        EngineHome::TearDown();
    }

    // An initialised processor; the engine's call log and the captured lines start empty.
    PlugProcessor& make(FUnknown* host = nullptr)
    {
        processors.push_back(IPtr<PlugProcessor>(new PlugProcessor, false));
        PlugProcessor& p = *processors.back();
        EXPECT_EQ(p.initialize(host ? host : &hostApp), kResultOk) << log();
        hook(kHookReset, nullptr, kLogCalls | kLogProcess);
        hook(kHookSetRender, nullptr, 0);
        captured.str("");
        return p;
    }

    tresult run(PlugProcessor& p, int32 frames, IParameterChanges* changes = nullptr, IEventList* events = nullptr,
                ProcessContext* context = nullptr)
    {
        ProcessData data;
        data.numSamples = frames;
        data.symbolicSampleSize = kSample32;
        data.numOutputs = 1;
        data.outputs = &bus;
        bus.numChannels = 2;
        bus.channelBuffers32 = channels;
        data.inputParameterChanges = changes;
        data.inputEvents = events;
        data.processContext = context;
        return p.process(data);
    }

    // The process calls the engine saw since the last reset.
    static std::vector<Sent> sent()
    {
        std::vector<Sent> out;
        for (const TestCall& c : calls()) {
            if (c.opcode != vantor::kEngineProcess)
                continue;
            vantor::TarnEngineProcessEx r;
            std::memcpy(&r, c.record, sizeof r);
            out.push_back({r.frames, c.transport != nullptr, {c.events, c.events + c.eventCount}});
        }
        return out;
    }
    static void clearCalls() { hook(kHookReset, nullptr, kLogCalls | kLogProcess), hook(kHookSetRender, nullptr, 0); }

    static bool heldClear(const PlugProcessor& p)
    {
        const vantor::MIDIEvents& e = p.heldEvents();
        for (const HDMIDIEvent& r : e.events)
            if (!(r == HDMIDIEvent{}))
                return false;
        return e.count == 0 && e.version == 1;
    }

    HostApplication hostApp;
    std::vector<IPtr<PlugProcessor>> processors;
    std::vector<float> left, right;
    std::vector<std::unique_ptr<NamedHost>> hosts;  // outlive the processors that hold them
    float* channels[2] = {nullptr, nullptr};
    AudioBusBuffers bus;

    NamedHost* host(const char16_t* name) { return hosts.emplace_back(std::make_unique<NamedHost>(name)).get(); }
    void useBuffers() { channels[0] = left.data(), channels[1] = right.data(); }
};

struct ProcessorWithBuffers : Processor
{
    void SetUp() override
    {
        Processor::SetUp();
        useBuffers();
    }
};

TEST_F(ProcessorWithBuffers, InitializeDeclaresBusesAndDropsTheStartUpCallback)
{
    IPtr<PlugProcessor> p(new PlugProcessor, false);
    ASSERT_EQ(p->initialize(&hostApp), kResultOk) << log();
    EXPECT_EQ(opcodes(), "8 9 30/0x10003 30/0x10007 30/0x10000 11 34");
    const std::vector<TestCall> c = calls();
    void* function = nullptr;
    void* user = nullptr;
    uint32_t flags = 0;
    std::memcpy(&function, c[3].record + 8, sizeof function);
    std::memcpy(&user, c[3].record + 16, sizeof user);
    std::memcpy(&flags, c[3].record + 24, sizeof flags);
    EXPECT_EQ(flags, 0x70u);
    EXPECT_EQ(user, static_cast<void*>(p.get()));
    EXPECT_EQ(c[6].p1, function);
    EXPECT_EQ(c[6].p2, user);
    EXPECT_EQ(c[6].status, 0);
    EXPECT_TRUE(p->usesNoteIds());

    EXPECT_EQ(p->getBusCount(kAudio, kInput), 0);
    ASSERT_EQ(p->getBusCount(kAudio, kOutput), 1);
    ASSERT_EQ(p->getBusCount(kEvent, kInput), 1);
    BusInfo info;
    ASSERT_EQ(p->getBusInfo(kAudio, kOutput, 0, info), kResultOk);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(info.name)), u"Stereo Output");
    EXPECT_EQ(info.channelCount, 2);
    EXPECT_EQ(info.busType, kMain);
    EXPECT_EQ(info.flags, uint32(BusInfo::kDefaultActive));
    ASSERT_EQ(p->getBusInfo(kEvent, kInput, 0, info), kResultOk);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(info.name)), u"MIDI Input");
    EXPECT_EQ(info.channelCount, 16);
    SpeakerArrangement arrangement = 0;
    EXPECT_EQ(p->getBusArrangement(kOutput, 0, arrangement), kResultTrue);
    EXPECT_EQ(arrangement, SpeakerArr::kStereo);
    EXPECT_EQ(p->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_EQ(p->canProcessSampleSize(kSample64), kResultFalse);
    EXPECT_EQ(p->getTailSamples(), 0u);

    // The handle block the controller reads: the wrapper first, then the snapshot.
    vantor::PlugHandle* handle = p.get();
    EXPECT_NE(handle->wrapper, nullptr);
    EXPECT_EQ(handle->syncInfo->tempo, 120.0);
    EXPECT_EQ(handle->editingParameter.load(), -1);
    EXPECT_EQ(hook(kHookInstanceCount), 1);
    p = nullptr;
    EXPECT_EQ(hook(kHookInstanceCount), 0);  // the wrapper went with the processor
}

TEST_F(ProcessorWithBuffers, WithoutTheEnginePathNothingIsDeclaredAndNothingNeedsTheWrapper)
{
    clearPreferences(kEngineDomain);
    setPreference(kProductDomain, "base_dir", dataFolder);
    IPtr<PlugProcessor> p(new PlugProcessor, false);
    EXPECT_EQ(p->initialize(&hostApp), kResultFalse);
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1], (Alert{kTitle, "Empty engine path from CFPreferences?!?!?!"}));
    EXPECT_EQ(p->wrapper, nullptr);
    EXPECT_EQ(hook(kHookInstanceCount), 0);
    EXPECT_EQ(p->getBusCount(kAudio, kOutput), 0);
    EXPECT_EQ(p->getBusCount(kEvent, kInput), 0);
    ProcessSetup setup{kRealtime, kSample32, 512, 48000.0};
    EXPECT_EQ(p->setupProcessing(setup), kResultFalse);
    EXPECT_EQ(p->getLatencySamples(), 0u);
    SpeakerArrangement stereo = SpeakerArr::kStereo;
    EXPECT_EQ(p->setBusArrangements(&stereo, 1, &stereo, 1), kResultFalse);
    MemoryStream stream;
    EXPECT_EQ(p->getState(&stream), kResultFalse);
    EXPECT_EQ(p->setState(&stream), kResultFalse);
    // Without a wrapper a block is silent.
    EXPECT_EQ(run(*p, 64), kResultOk);
    EXPECT_EQ(left[0], 0.0f);
    EXPECT_EQ(right[63], 0.0f);
    EXPECT_EQ(left[64], 1.0f);
}

TEST_F(ProcessorWithBuffers, ConnectAndAnyTextSendTheHandleBlock)
{
    PlugProcessor& p = make();
    Peer peer;
    EXPECT_EQ(p.connect(&peer), kResultOk);
    const int64 address = int64(reinterpret_cast<intptr_t>(static_cast<vantor::PlugHandle*>(&p)));
    ASSERT_EQ(peer.received.size(), 1u);
    EXPECT_EQ(peer.received[0], (std::pair<std::string, int64>{"CaddisHandle", address}));
    EXPECT_EQ(p.receiveText("anything"), kResultOk);
    EXPECT_EQ(p.receiveText(""), kResultOk);
    ASSERT_EQ(peer.received.size(), 3u);
    EXPECT_EQ(peer.received[2], peer.received[0]);
    EXPECT_EQ(p.connect(&peer), kResultFalse);  // the base's answer: connected already
    EXPECT_EQ(p.disconnect(&peer), kResultOk);
    // A connection without a host context cannot make a message and sends nothing.
    Peer other;  // outlives the processor that holds it
    IPtr<PlugProcessor> bare(new PlugProcessor, false);
    EXPECT_EQ(bare->connect(&other), kResultOk);
    EXPECT_TRUE(other.received.empty());
}

TEST_F(ProcessorWithBuffers, ParameterChangesBecomeRawMessagesOrEngineValues)
{
    PlugProcessor& p = make();
    const struct
    {
        ParamID id;
        double value;
        HDMIDIEvent record;
    } kCases[] = {
        {10391, 1.0, raw(0xB3, 0x07, 0x7F, 7)},  // controller 7 on channel 3
        {10000, 0.0, raw(0xB0, 0x00, 0x00, 7)},
        {12047, 0.5, raw(0xBF, 0x7F, 0x40, 7)},
        {12066, 0.5, raw(0xE2, 0x00, 0x40, 7)},  // centred bend
        {12064, 1.0, raw(0xE0, 0x7F, 0x7F, 7)},
        {12079, 0.0, raw(0xEF, 0x00, 0x00, 7)},
        {9002, 0.5, raw(0xE0, 0x00, 0x40, 7)},
        {12050, 1.0, raw(0xD2, 0x7F, 0x00, 7)},
        {9001, 1.0, raw(0xD0, 0x7F, 0x00, 7)},
        {12081, 0.5, raw(0xC1, 0x40, 0x00, 7)},
        {12095, 1.0, raw(0xCF, 0x7F, 0x00, 7)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.id);
        clearCalls();
        // Only the last point counts.
        Changes changes({Queue(c.id, {{2, 0.25}, {7, c.value}})});
        EXPECT_EQ(run(p, 64, &changes), kResultOk);
        const std::vector<Sent> s = sent();
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0].frames, 64u);
        ASSERT_EQ(s[0].events.size(), 1u);
        EXPECT_EQ(s[0].events[0], c.record);
        EXPECT_EQ(opcodes(), "42");
        EXPECT_TRUE(heldClear(p));
    }
}

TEST_F(ProcessorWithBuffers, EngineParametersSkipTheOneBeingEditedAndTheBypassSwitchMakesNoRecord)
{
    PlugProcessor& p = make();
    TestParameter tenths;
    tenths.info = ParameterInfo("x", ParameterInfo::Continuous, 0.0f, 10.0f, 0.0f, 0, 0);
    clearCalls();
    hook(kHookSetParameter, &tenths, 5);
    Changes five({Queue(5, {{0, 0.5}})});
    run(p, 32, &five);
    std::vector<TestCall> c = calls();
    ASSERT_EQ(opcodes(), "37 17 42");
    EXPECT_EQ(c[1].i1, 5);
    EXPECT_FLOAT_EQ(c[1].f, 5.0f);  // the plain value

    p.editingParameter = 5;
    clearCalls();
    run(p, 32, &five);
    EXPECT_EQ(opcodes(), "42");
    p.editingParameter = -1;

    // Non-finite values, unreadable and empty queues and null entries are skipped.
    clearCalls();
    Changes bad({Queue(5, {{0, std::nan("")}}), Queue(10001, {{0, INFINITY}}), Queue(10002, {{0, 1.0}}, false),
                 Queue(10003, {})});
    bad.nullQueues = 2;
    run(p, 32, &bad);
    EXPECT_EQ(opcodes(), "42");
    EXPECT_TRUE(sent()[0].events.empty());

    // Bypass on: no record; bypassed with parameter changes only the engine gets 0 frames and no
    // transport.
    clearCalls();
    Changes on({Queue(9000, {{3, 0.6}}), Queue(10001, {{5, 1.0}})});
    ProcessContext context = {};
    context.sampleRate = 48000.0;
    left.assign(left.size(), 1.0f), right.assign(right.size(), 1.0f);
    run(p, 32, &on, nullptr, &context);
    EXPECT_TRUE(p.bypass.load());
    std::vector<Sent> s = sent();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].frames, 0u);
    EXPECT_FALSE(s[0].transport);
    ASSERT_EQ(s[0].events.size(), 1u);
    EXPECT_EQ(s[0].events[0], raw(0xB0, 0x01, 0x7F, 0));  // its offset reset
    EXPECT_TRUE(heldClear(p));
    EXPECT_EQ(left[0], 0.0f);  // a bypassed block is silent
    EXPECT_EQ(right[31], 0.0f);

    Changes off({Queue(9000, {{0, 0.5}})});
    run(p, 32, &off);
    EXPECT_FALSE(p.bypass.load());
}

TEST_F(ProcessorWithBuffers, HostEventsBecomeNoteRecordsOrRawMessages)
{
    PlugProcessor& p = make();
    const struct
    {
        const char* name;
        Event event;
        std::vector<HDMIDIEvent> records;
    } kCases[] = {
        {"note on", noteOn(60, 1, 0.8f, 7), {note(0x390, 60, 0.8f, 1, 7)}},
        {"note on with tuning", noteOn(61, 15, 1.0f, 3, 0, 12.5f), {note(0x390, 61, 1.0f, 15, 3, 12.5f)}},
        {"silent note on", noteOn(60, 1, 0.0f, 7), {note(0x480, 60, 0.0f, 1, 7)}},
        {"note on without id", noteOn(60, 1, 0.8f, -1), {raw(0x91, 0x3C, 0x66)}},
        {"note off", noteOff(60, 1, 0.5f, 7), {note(0x480, 60, 0.5f, 1, 7)}},
        {"note off without id", noteOff(60, 17, 0.0f, -1), {raw(0x81, 0x3C, 0x00)}},
        {"poly pressure", polyPressure(64, 1, 1.0f), {raw(0xA1, 0x40, 0x7F)}},
        {"tuning", expression(kTuningTypeID, 0.75, 9), {note(0x500, 2, 6000.0f, 0, 9)}},
        {"volume", expression(kVolumeTypeID, 0.25, 9), {note(0x500, 0, 0.25f, 0, 9)}},
        {"text", expression(kTextTypeID, 0.5, 9), {}},
        {"phoneme", expression(kPhonemeTypeID, 0.5, 9), {}},
        {"engine type 6", expression(100000, 0.5, 9), {note(0x500, 6, 0.5f, 0, 9)}},
        {"engine type 7", expression(100001, 0.5, 9), {note(0x500, 7, 0.5f, 0, 9)}},
        {"pitch above 127", noteOn(128, 0, 1.0f, -1), {}},
        {"negative pitch", noteOff(-1, 0, 1.0f, 4), {}},
        {"pressure pitch above 127", polyPressure(200, 0, 1.0f), {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        clearCalls();
        Events events({c.event});
        run(p, 64, nullptr, &events);
        const std::vector<Sent> s = sent();
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0].events, c.records);
    }

    // Every note of the excepted host is raw.
    PlugProcessor& r = make(host(u"Reason"));
    EXPECT_FALSE(r.usesNoteIds());
    Events notes({noteOn(60, 1, 0.8f, 7), noteOff(60, 1, 0.0f, 7)});
    run(r, 64, nullptr, &notes);
    EXPECT_EQ(sent()[0].events, (std::vector<HDMIDIEvent>{raw(0x91, 0x3C, 0x66), raw(0x81, 0x3C, 0x00)}));
    // Another case or length of the name is any other host.
    for (const char16_t* name : {u"reason", u"Reason ", u"Reaso"})
        EXPECT_TRUE(make(host(name)).usesNoteIds());
}

TEST_F(ProcessorWithBuffers, RecordsReachTheEngineInOffsetOrderClampedIntoTheBlock)
{
    PlugProcessor& p = make();
    Changes changes({Queue(10001, {{5, 1.0}})});
    Events events({noteOn(60, 0, 1.0f, 1, 0), noteOn(61, 0, 1.0f, 2, 5), noteOn(62, 0, 1.0f, 3, 500),
                   noteOn(63, 0, 1.0f, 4, -3)});
    events.unreadable = 2;
    run(p, 64, &changes, &events);
    const std::vector<Sent> s = sent();
    ASSERT_EQ(s.size(), 1u);
    std::vector<std::pair<uint32_t, int32_t>> order;  // offset, pitch (controller: -1)
    for (const HDMIDIEvent& e : s[0].events)
        order.push_back({e.sampleOffset, e.kind == 0 ? -1 : e.index});
    EXPECT_EQ(order, (std::vector<std::pair<uint32_t, int32_t>>{{0, 60}, {0, 63}, {5, -1}, {5, 61}, {63, 62}}));
}

std::vector<Event> manyNotes(int n)
{
    std::vector<Event> many;
    for (int i = 0; i < n; ++i)
        many.push_back(noteOn(int16(i % 128), 0, 1.0f, i, (n - i) % 64));  // out of order
    return many;
}

TEST_F(ProcessorWithBuffers, AtMost2048RecordsPerCallAndTheSurplusIsDropped)
{
    PlugProcessor& p = make();
    const std::vector<Event> many = manyNotes(3000);
    Events events(many);
    run(p, 64, nullptr, &events);
    const std::vector<Sent> s = sent();
    ASSERT_EQ(s.size(), 1u);
    ASSERT_EQ(s[0].events.size(), 2048u);
    for (size_t i = 1; i < s[0].events.size(); ++i) {
        const HDMIDIEvent &a = s[0].events[i - 1], &b = s[0].events[i];
        ASSERT_TRUE(a.sampleOffset < b.sampleOffset || (a.sampleOffset == b.sampleOffset && a.noteId < b.noteId)) << i;
    }
    EXPECT_TRUE(heldClear(p));
    p.setActive(false);
    EXPECT_TRUE(logged("E:Too many events!")) << log();

    captured.str("");
    Events fits(std::vector<Event>(many.begin(), many.begin() + 2048));
    clearCalls();
    run(p, 64, nullptr, &fits);
    EXPECT_EQ(sent()[0].events.size(), 2048u);
    p.setActive(false);
    EXPECT_EQ(log(), "");
}

size_t linesWith(const std::string& log, const std::string& part)
{
    size_t n = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        n += line.find(part) != std::string::npos;
    return n;
}

// The audio thread only counts its errors; the lines are written at the next call off it.
TEST_F(ProcessorWithBuffers, AudioThreadErrorsAreWrittenAtTheNextOtherCall)
{
    PlugProcessor& p = make();
    Events many(manyNotes(3000));
    for (int b = 0; b < 10; ++b)
        run(p, 64, nullptr, &many);
    EXPECT_EQ(log(), "");
    p.setActive(false);
    EXPECT_EQ(linesWith(log(), "Too many events!"), 1u) << log();
    EXPECT_TRUE(logged("E:Too many events! (10 times)")) << log();
    captured.str("");
    p.setActive(true);
    EXPECT_EQ(log(), "");  // written once

    // An engine failing every block, and its parameter calls too: one line with the last status.
    forceStatus(42, 5);
    forceStatus(17, 6);
    Changes change({Queue(3, {{0, 0.5}})});
    run(p, 64, &change);
    for (int b = 0; b < 3; ++b)
        run(p, 64);
    forceStatus(42, 7);
    run(p, 64);
    EXPECT_EQ(log(), "");
    p.setProcessing(false);  // may run on the processing thread: writes nothing
    EXPECT_EQ(log(), "");
    p.setActive(false);
    EXPECT_TRUE(logged("E:engine error:7 (6 times)")) << log();
    EXPECT_EQ(linesWith(log(), "engine error"), 1u) << log();
    captured.str("");

    // Each of the calls off the processing thread writes them; so does destruction.
    hook(kHookReset, nullptr, 0);
    IPtr<HostMessage> message(new HostMessage, false);
    message->setMessageID("Something");
    IPtr<MemoryStream> state(new MemoryStream, false);
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"setActive", [&] { p.setActive(true); }},
        {"getState", [&] { p.getState(state); }},
        {"setState", [&] { p.setState(nullptr); }},
        {"notify", [&] { p.notify(message); }},
        {"terminate", [&] { p.terminate(); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        run(p, 64, nullptr, &many);
        EXPECT_EQ(log(), "");
        call();
        EXPECT_TRUE(logged("E:Too many events!")) << log();
        captured.str("");
    }
    PlugProcessor& q = make();
    run(q, 64, nullptr, &many);
    run(q, 64, nullptr, &many);
    processors.pop_back();
    EXPECT_TRUE(logged("E:Too many events! (2 times)")) << log();
}

TEST_F(ProcessorWithBuffers, BypassedNotesWaitForTheNextCallAtOffsetZero)
{
    PlugProcessor& p = make();
    Changes on({Queue(9000, {{0, 1.0}})});
    Events first({noteOn(60, 0, 1.0f, 1, 20)});
    run(p, 64, &on, &first);
    EXPECT_EQ(opcodes(), "");
    EXPECT_EQ(p.heldEvents().count, 1u);

    Changes off({Queue(9000, {{0, 0.0}})});
    Events second({noteOn(62, 0, 1.0f, 2, 0), noteOn(61, 0, 1.0f, 3, 10)});
    run(p, 64, &off, &second);
    const std::vector<Sent> s = sent();
    ASSERT_EQ(s.size(), 1u);
    std::vector<std::pair<int32_t, uint32_t>> got;
    for (const HDMIDIEvent& e : s[0].events)
        got.push_back({e.index, e.sampleOffset});
    EXPECT_EQ(got, (std::vector<std::pair<int32_t, uint32_t>>{{60, 0}, {62, 0}, {61, 10}}));
    EXPECT_TRUE(heldClear(p));

    // A full held block keeps every record at offset 0 for the next call.
    run(p, 64, &on);
    clearCalls();
    std::vector<Event> many;
    for (int i = 0; i < 2048; ++i)
        many.push_back(noteOn(60, 0, 1.0f, i, 40));
    Events full(many);
    run(p, 64, nullptr, &full);
    ASSERT_EQ(p.heldEvents().count, 2048u);
    for (const HDMIDIEvent& e : p.heldEvents().events)
        ASSERT_EQ(e.sampleOffset, 0u);
    Events more({noteOn(70, 0, 1.0f, 5000, 3)});
    run(p, 64, &off, &more);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].events.size(), 2048u);
    EXPECT_EQ(sent()[0].events.back().noteId, 2047);
}

TEST_F(Processor, BlocksWithoutUsableOutputsGiveTheEngineNoFrames)
{
    PlugProcessor& p = make();
    // Null channel pointers: the note waits for a block the engine can write.
    Events notes({noteOn(60, 0, 1.0f, 1, 3)});
    run(p, 64, nullptr, &notes);
    EXPECT_EQ(opcodes(), "");
    ProcessData data;
    data.numSamples = 64;
    Changes changes({Queue(10001, {{5, 1.0}})});
    data.inputParameterChanges = &changes;
    // No output bus and no input event: a call of 0 frames takes the held note and the change.
    EXPECT_EQ(p.process(data), kResultOk);
    std::vector<Sent> s = sent();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].frames, 0u);
    ASSERT_EQ(s[0].events.size(), 2u);
    EXPECT_EQ(s[0].events[0].index, 60);
    EXPECT_EQ(s[0].events[1], raw(0xB0, 0x01, 0x7F, 0));
    clearCalls();
    useBuffers();
    run(p, 64);
    s = sent();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].frames, 64u);
    EXPECT_TRUE(s[0].events.empty());

    // A one-channel bus for an engine that writes two.
    clearCalls();
    bus.numChannels = 1;
    ProcessData mono;
    mono.numSamples = 16;
    mono.numOutputs = 1;
    mono.outputs = &bus;
    EXPECT_EQ(p.process(mono), kResultOk);
    s = sent();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].frames, 0u);

    // Every member null.
    ProcessData empty;
    EXPECT_EQ(p.process(empty), kResultOk);
    empty.numSamples = -5;
    EXPECT_EQ(p.process(empty), kResultOk);
}

TEST_F(ProcessorWithBuffers, ProcessContextFillsAndPreparesTheSnapshotAndFramesAreCounted)
{
    PlugProcessor& p = make();
    ProcessContext context = {};
    context.state = ProcessContext::kTempoValid | ProcessContext::kPlaying;
    context.tempo = 90.0;
    context.sampleRate = 48000.0;
    run(p, 480, nullptr, nullptr, &context);
    const std::vector<TestCall> c = calls();
    ASSERT_EQ(c.size(), 1u);
    ASSERT_NE(c[0].transport, nullptr);
    double tempo = 0.0;
    std::memcpy(&tempo, reinterpret_cast<const uint8_t*>(c[0].transport) + 32, sizeof tempo);
    EXPECT_EQ(tempo, 90.0);
    EXPECT_EQ(c[0].transport->blockFrames, 480);
    EXPECT_DOUBLE_EQ(c[0].transport->blockQuarters, 90.0 / 60.0 / 48000.0 * 480.0);
    EXPECT_EQ(c[0].transport->playing, 1);
    run(p, 100);
    run(p, 0);
    EXPECT_EQ(p.framesProcessed, 580u);
    // A block longer than the snapshot's field holds it as 32767.
    std::vector<float> longLeft(40000), longRight(40000);
    channels[0] = longLeft.data(), channels[1] = longRight.data();
    clearCalls();
    run(p, 40000, nullptr, nullptr, &context);
    EXPECT_EQ(calls()[0].transport->blockFrames, 32767);
    channels[0] = nullptr;
}

TEST_F(ProcessorWithBuffers, SetupProcessingResumesTheEngineAndReportsItsLatency)
{
    PlugProcessor& p = make();
    ProcessSetup setup{kRealtime, kSample32, 512, 48000.0};
    EXPECT_EQ(p.setupProcessing(setup), kResultOk);
    EXPECT_TRUE(logged("I:setupProcessing")) << log();
    std::vector<TestCall> c = calls();
    ASSERT_EQ(opcodes(), "11 13");
    EXPECT_EQ(c[0].i1, 48000);
    EXPECT_EQ(c[0].i2, 512);
    vantor::TarnEngineLatencyInfo latency;
    std::memcpy(&latency, c[1].record, sizeof latency);
    EXPECT_EQ(latency.version, 2123u);
    EXPECT_EQ(latency.latency, 0u);
    EXPECT_EQ(latency.zero, 0u);
    EXPECT_EQ(c[1].i1, 0);

    clearCalls();
    setup.processMode = kOffline;
    EXPECT_EQ(p.setupProcessing(setup), kResultOk);
    EXPECT_EQ(calls()[1].i1, 1);

    clearCalls();
    forceStatus(13, 3);
    EXPECT_EQ(p.setupProcessing(setup), kResultFalse);
    clearCalls();
    forceStatus(11, 3);  // only logged
    EXPECT_EQ(p.setupProcessing(setup), kResultOk);

    captured.str("");
    EXPECT_EQ(p.setProcessing(true), kResultOk);
    EXPECT_EQ(p.setProcessing(false), kResultOk);
    EXPECT_EQ(log(), "");
    EXPECT_EQ(p.setActive(true), kResultOk);
    EXPECT_EQ(p.setActive(false), kResultOk);

    hook(kHookSetLatency, nullptr, 64);
    EXPECT_EQ(p.getLatencySamples(), 64u);
}

TEST_F(ProcessorWithBuffers, BusArrangementsSettleTheEngineChannels)
{
    PlugProcessor& p = make();
    ProcessSetup setup{kRealtime, kSample32, 256, 44100.0};
    p.setupProcessing(setup);
    const struct
    {
        const char* name;
        SpeakerArrangement in, out;
        int32 numIns, numOuts;
        const char* line;
        uint64_t channels;
    } kCases[] = {
        {"stereo", SpeakerArr::kStereo, SpeakerArr::kStereo, 1, 1, "I:setBusArrangements kStereo", 2},
        {"mono", SpeakerArr::kMono, SpeakerArr::kMono, 1, 1, "I:setBusArrangements kMono", 1},
        {"5.1", SpeakerArr::k51, SpeakerArr::k51, 1, 1, "I:setBusArrangements other", 0},
        {"stereo, mono", SpeakerArr::kStereo, SpeakerArr::kMono, 1, 1, nullptr, 0},
        {"none, stereo", SpeakerArr::kStereo, SpeakerArr::kStereo, 0, 1, nullptr, 0},
        {"two outputs", SpeakerArr::kStereo, SpeakerArr::kStereo, 1, 2, nullptr, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        clearCalls();
        captured.str("");
        SpeakerArrangement ins[2] = {c.in, c.in}, outs[2] = {c.out, c.out};
        // No input bus: the base refuses even an accepted pair.
        EXPECT_EQ(p.setBusArrangements(ins, c.numIns, outs, c.numOuts), kResultFalse);
        if (c.line)
            EXPECT_TRUE(logged(c.line)) << log();
        else
            EXPECT_EQ(log(), "");
        if (c.channels == 0) {
            EXPECT_EQ(opcodes(), "");
            continue;
        }
        ASSERT_EQ(opcodes(), "33");
        vantor::EngineSettingsRecord r;
        std::memcpy(&r, calls()[0].record, sizeof r);
        EXPECT_EQ(r.version, 1u);
        EXPECT_EQ(r.inputs, c.channels);
        EXPECT_EQ(r.outputs, c.channels);
        EXPECT_EQ(r.one, 1u);
        EXPECT_EQ(r.sampleRate, 44100u);
        EXPECT_EQ(r.maxBlock, 256u);
    }
    // The mono engine writes one channel: a one-channel bus now gets its frames.
    clearCalls();
    bus.numChannels = 1;
    bus.channelBuffers32 = channels;
    ProcessData mono;
    mono.numSamples = 16;
    mono.numOutputs = 1;
    mono.outputs = &bus;
    p.process(mono);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].frames, 16u);
}

// ---------------------------------------------------------------------------------------------
// State

std::vector<uint8_t> bytesOf(MemoryStream& s)
{
    return {reinterpret_cast<const uint8_t*>(s.getData()), reinterpret_cast<const uint8_t*>(s.getData()) + s.getSize()};
}

struct Stream
{
    explicit Stream(const std::vector<uint8_t>& bytes) : data(bytes), stream(data.data(), Steinberg::TSize(data.size()))
    {
    }
    std::vector<uint8_t> data;
    MemoryStream stream;
};

std::vector<uint8_t> vstwHead()
{
    std::vector<uint8_t> h(176, 0);
    std::memcpy(h.data(), "VstW", 4);
    h[12] = 1;  // little-endian 1: bypass
    std::memcpy(h.data() + 16, "CcnK", 4);
    h[31] = 1;  // big-endian 1
    return h;
}

TEST_F(ProcessorWithBuffers, StateRoundTripsAndTheOlderHeadsAreRead)
{
    PlugProcessor& p = make();
    MemoryStream saved;
    ASSERT_EQ(p.getState(&saved), kResultOk);
    const std::vector<uint8_t> state = bytesOf(saved);
    ASSERT_GT(state.size(), 8u);
    uint32_t n = 0;
    std::memcpy(&n, state.data() + 4, 4);
    EXPECT_EQ(std::vector<uint8_t>(state.begin(), state.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    ASSERT_EQ(n, state.size() - 8);
    const std::vector<uint8_t> chunk(state.begin() + 8, state.end());

    // The plain form back.
    clearCalls();
    Stream plain(state);
    EXPECT_EQ(p.setState(&plain.stream), kResultOk);
    std::vector<TestCall> c = calls();
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c[0].opcode, 19);
    EXPECT_EQ(std::vector<uint8_t>(c[0].record, c[0].record + c[0].recordSize), chunk);
    EXPECT_TRUE(logged("I:Processor load chunk"));
    run(p, 64);  // the engine takes the restored values with the next block

    const auto lastChunk = [] {
        for (const TestCall& call : calls())
            if (call.opcode == 19)
                return std::vector<uint8_t>(call.record, call.record + call.recordSize);
        return std::vector<uint8_t>{};
    };
    // "VstW" head over 24 bytes the engine refuses: false, bypass unchanged.
    clearCalls();
    std::vector<uint8_t> vstw = vstwHead();
    for (int i = 0; i < 24; ++i)
        vstw.push_back(uint8_t(0xA0 + i));
    Stream refused(vstw);
    EXPECT_EQ(p.setState(&refused.stream), kResultFalse);
    EXPECT_EQ(lastChunk(), std::vector<uint8_t>(vstw.end() - 24, vstw.end()));
    EXPECT_FALSE(p.bypass.load());

    // The same head over a real chunk: taken, bypass on.
    clearCalls();
    std::vector<uint8_t> good = vstwHead();
    good.insert(good.end(), chunk.begin(), chunk.end());
    Stream taken(good);
    EXPECT_EQ(p.setState(&taken.stream), kResultOk);
    EXPECT_EQ(lastChunk(), chunk);
    EXPECT_TRUE(p.bypass.load());
    run(p, 64);
    MemoryStream again;
    ASSERT_EQ(p.getState(&again), kResultOk);
    EXPECT_EQ(bytesOf(again)[0], 1);

    // "CcnK": the length at 156 (big-endian), the chunk after 160 bytes.
    clearCalls();
    std::vector<uint8_t> ccnk(160, 0);
    std::memcpy(ccnk.data(), "CcnK", 4);
    ccnk[159] = 10;
    for (int i = 0; i < 10; ++i)
        ccnk.push_back(uint8_t(i + 1));
    Stream old(ccnk);
    p.setState(&old.stream);
    EXPECT_EQ(lastChunk(), std::vector<uint8_t>(ccnk.end() - 10, ccnk.end()));
    EXPECT_TRUE(p.bypass.load());  // the form has no flag

    // A "CcnK" chunk followed by more bytes than it names is still read at its length; the
    // real chunk round-trips through it.
    clearCalls();
    std::vector<uint8_t> ccnkReal(160, 0);
    std::memcpy(ccnkReal.data(), "CcnK", 4);
    for (int i = 0; i < 4; ++i)
        ccnkReal[156 + i] = uint8_t(chunk.size() >> (24 - 8 * i));
    ccnkReal.insert(ccnkReal.end(), chunk.begin(), chunk.end());
    ccnkReal.push_back(0xEE);
    Stream oldReal(ccnkReal);
    EXPECT_EQ(p.setState(&oldReal.stream), kResultOk);
    EXPECT_EQ(lastChunk(), chunk);
}

TEST_F(ProcessorWithBuffers, CorruptStatesChangeNothing)
{
    PlugProcessor& p = make();
    TestParameter tenths;
    tenths.info = ParameterInfo("x", ParameterInfo::Continuous, 0.0f, 10.0f, 0.0f, 0, 0);
    hook(kHookSetParameter, &tenths, 5);
    Changes set({Queue(5, {{0, 0.3}}), Queue(9000, {{0, 1.0}})});
    run(p, 16, &set);
    MemoryStream saved;
    ASSERT_EQ(p.getState(&saved), kResultOk);
    const std::vector<uint8_t> state = bytesOf(saved);
    ASSERT_EQ(state[0], 1);
    Changes unset({Queue(9000, {{0, 0.0}})});
    run(p, 16, &unset);

    // Every prefix of the state, read in place.
    clearCalls();
    std::vector<uint8_t> bytes = state;
    for (size_t n = 0; n < bytes.size(); ++n) {
        MemoryStream prefix(bytes.data(), Steinberg::TSize(n));
        ASSERT_EQ(p.setState(&prefix), kResultFalse) << n;
        ASSERT_FALSE(p.bypass.load()) << n;
    }
    EXPECT_EQ(opcodes(), "");

    std::vector<std::vector<uint8_t>> bad;
    bad.push_back({0, 0, 0, 0, 0, 0, 0, 0});              // length 0
    bad.push_back({1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});  // length beyond the stream
    std::vector<uint8_t> vstw = vstwHead();
    vstw[31] = 0;  // no positive count: read as the plain form, whose length word is 0
    vstw.push_back(0);
    bad.push_back(vstw);
    std::vector<uint8_t> ccnk(161, 0);
    std::memcpy(ccnk.data(), "CcnK", 4);
    ccnk[156] = 0x80;  // 2 GiB named, one byte there
    bad.push_back(ccnk);
    for (const std::vector<uint8_t>& b : bad) {
        SCOPED_TRACE(b.size());
        clearCalls();
        Stream s(b);
        EXPECT_EQ(p.setState(&s.stream), kResultFalse);
        EXPECT_EQ(opcodes(), "");
        EXPECT_FALSE(p.bypass.load());
    }
    EXPECT_EQ(p.setState(nullptr), kResultFalse);
    EXPECT_EQ(p.getState(nullptr), kResultFalse);
    MemoryStream after;
    ASSERT_EQ(p.getState(&after), kResultOk);
    const std::vector<uint8_t> now = bytesOf(after);
    EXPECT_EQ(std::vector<uint8_t>(now.begin() + 4, now.end()), std::vector<uint8_t>(state.begin() + 4, state.end()));
}

}  // namespace
