// The export layer and the dispatcher, driven in-process with the recording instrument.

#include "RecordingInstrument.h"
#include "instrument/ModuleExports.h"
#include "platform/ParameterInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A host that records its requests and can answer them.
struct TestHost
{
    PluginHostRecord record{&TestHost::function};
    struct Call
    {
        int32_t op;
        intptr_t a;
        std::vector<uint8_t> slot;  // b's 8 bytes as they arrived
    };
    std::vector<Call> calls;
    bool answer = false;
    double frequency = 0.0;
    uint8_t enabled = 1;

    static intptr_t function(PluginHostRecord* host, int32_t op, intptr_t a, void* b)
    {
        auto* self = reinterpret_cast<TestHost*>(host);
        Call call{op, a, {}};
        if (b && (op == 13 || op == 14))
            call.slot.assign(static_cast<uint8_t*>(b), static_cast<uint8_t*>(b) + 8);
        if (b && op == 12)
            call.slot.assign(static_cast<uint8_t*>(b), static_cast<uint8_t*>(b) + 48);
        self->calls.push_back(call);
        if (self->answer && b && op == 13)
            std::memcpy(b, &self->frequency, 8);
        if (self->answer && b && op == 14)
            std::memcpy(b, &self->enabled, 1);
        return 12345;  // never used
    }
};
static_assert(offsetof(TestHost, record) == 0);

class Instance
{
public:
    explicit Instance(PluginHostRecord* host = nullptr)
        : entry(newInstance("com.Vantor.Emulator.C64", host))
    {
        plugin = entry ? static_cast<RecordingInstrument*>(
                             static_cast<vantor::EnginePluginSDK::Plugin*>(entry->object))
                       : nullptr;
    }
    ~Instance() { deleteInstance(entry); }
    void dispatch(uint32_t op, intptr_t a = 0, void* b = nullptr)
    {
        entry->dispatcher(entry, op, a, b);
    }
    PluginEntryRecord* entry;
    RecordingInstrument* plugin;
};

intptr_t ip(const void* p)
{
    return reinterpret_cast<intptr_t>(p);
}

TEST(ModuleInfo, FillsOnlyTheNamedFields)
{
    EXPECT_EQ(getNumTarnPlugins(), 1);
    std::vector<uint8_t> r(kPluginInfoBufferSize, 0xAA);
    ASSERT_EQ(fillTarnPluginInfo(0, r.data()), 0);

    std::vector<uint8_t> want(kPluginInfoBufferSize, 0xAA);
    auto text = [&](size_t at, const char* s) { std::memcpy(&want[at], s, std::strlen(s) + 1); };
    auto words = [&](size_t at, std::initializer_list<uint32_t> ws) {
        for (uint32_t w : ws) {
            std::memcpy(&want[at], &w, 4);
            at += 4;
        }
    };
    text(0x000, "com.Vantor.Emulator.C64");
    words(0x100, {0, 4});
    words(0x1C0, {1});
    words(0x1CC, {2123});
    words(0x1D8, {35607, 61715, 22362, 50789, 32391, 12497, 12499, 47731, 8, 1});
    text(0x200, "C64");
    text(0x400, "Emulator\tC64");
    words(0x500, {20824});
    words(0x580, {1});
    words(0x600, {2, 1, 3, 15, 4, 2, 1, 1, 1});
    for (size_t i = 0; i < r.size(); ++i)
        ASSERT_EQ(r[i], want[i]) << "offset 0x" << std::hex << i;
}

TEST(ModuleInfo, OtherIndicesAndNullRecordsWriteNothing)
{
    for (int32_t index : {1, -1, 2}) {
        std::vector<uint8_t> r(kPluginInfoBufferSize, 0xAA);
        EXPECT_EQ(fillTarnPluginInfo(index, r.data()), 1);
        EXPECT_EQ(r, std::vector<uint8_t>(kPluginInfoBufferSize, 0xAA));
    }
    EXPECT_EQ(fillTarnPluginInfo(0, nullptr), 1);
}

TEST(ModuleEntry, NewInstanceFillsTheEntryRecord)
{
    TestHost host;
    PluginEntryRecord* p = newInstance("com.Vantor.Emulator.C64", &host.record);
    ASSERT_NE(p, nullptr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(p);
    uint32_t version;
    void *dispatcher, *process, *reserved, *object;
    std::memcpy(&version, bytes, 4);
    std::memcpy(&dispatcher, bytes + 0x08, 8);
    std::memcpy(&process, bytes + 0x10, 8);
    std::memcpy(&reserved, bytes + 0x18, 8);
    std::memcpy(&object, bytes + 0x20, 8);
    EXPECT_EQ(version, 2123u);
    EXPECT_EQ(dispatcher, reinterpret_cast<void*>(&vantor::EnginePluginSDK::dispatchPluginOpcode));
    EXPECT_EQ(process, reinterpret_cast<void*>(&vantor::EnginePluginSDK::processTrampoline));
    EXPECT_EQ(reserved, nullptr);
    ASSERT_NE(RecordingInstrument::last, nullptr);
    EXPECT_EQ(object, static_cast<vantor::EnginePluginSDK::Plugin*>(RecordingInstrument::last));
    EXPECT_EQ(RecordingInstrument::last->getHostRecord(), &host.record);
    EXPECT_EQ(RecordingInstrument::liveCount, 1);
    deleteInstance(p);
    EXPECT_EQ(RecordingInstrument::liveCount, 0);
}

TEST(ModuleEntry, RefusedIdentifiersAllocateNothing)
{
    const char* const kRefused[] = {
        "com.Vantor.Emulator",   // shorter than the prefix
        "com.Vantor.Emulator_C64",
        "Com.Vantor.Emulator.C64",
        "com.Vantor.Emulatorr.C64",
        "com.vantor.Emulator.C64",
        "",
        "com.Vantor.Emulator.X",  // a name the factory does not know
        "com.Vantor.Emulator.",
        "com.Vantor.Emulator.Throw",  // construction fails
    };
    for (const char* id : kRefused) {
        EXPECT_EQ(newInstance(id, nullptr), nullptr) << id;
        EXPECT_EQ(RecordingInstrument::liveCount, 0) << id;
    }
    EXPECT_EQ(newInstance(nullptr, nullptr), nullptr);
}

TEST(ModuleEntry, DeleteIgnoresNullRecordsAndObjects)
{
    deleteInstance(nullptr);
    PluginEntryRecord empty{};
    deleteInstance(&empty);
    empty.dispatcher = &vantor::EnginePluginSDK::dispatchPluginOpcode;
    empty.process = &vantor::EnginePluginSDK::processTrampoline;
    uint32_t word = 0xDEAD;
    empty.dispatcher(&empty, 4, 0, &word);
    empty.process(&empty, nullptr, 16, nullptr, nullptr, nullptr);
    empty.dispatcher(nullptr, 4, 0, &word);
    empty.process(nullptr, nullptr, 16, nullptr, nullptr, nullptr);
    EXPECT_EQ(word, 0xDEADu);
}

TEST(Dispatcher, ReportWords)
{
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    inst.plugin->setReportWords(0x3C, 0, 2, 5, 6, 0xA, 0xB);
    const struct
    {
        uint32_t op;
        uint32_t want;
    } kCases[] = {{3, 0}, {4, 2}, {5, 5}, {6, 6}, {7, 0x3C}};
    for (const auto& c : kCases) {
        uint32_t word = 0xFFFFFFFF;
        inst.dispatch(c.op, 0, &word);
        EXPECT_EQ(word, c.want) << "op " << c.op;
        inst.dispatch(c.op, 0, nullptr);  // a null b is ignored
    }

    uint32_t flag = 0;
    uint8_t info[16];
    std::memset(info, 0xEE, sizeof info);
    inst.dispatch(18, ip(info), &flag);
    EXPECT_EQ(flag, 1u);
    uint32_t w[4];
    std::memcpy(w, info, 16);
    EXPECT_EQ(w[0], 0xEEEEEEEEu);
    EXPECT_EQ(w[1], 0xBu);  // +0x04: word B
    EXPECT_EQ(w[2], 0xAu);  // +0x08: word A
    EXPECT_EQ(w[3], 0xEEEEEEEEu);

    uint32_t accepted = 0xFFFF;
    ChannelConfigRequest request;
    request.outputChannels = 2;
    inst.dispatch(17, ip(&request), &accepted);
    EXPECT_EQ(accepted, 0u);
    inst.dispatch(17, ip(&request), nullptr);
    inst.dispatch(18, 0, nullptr);
}

TEST(Dispatcher, RoutesEachOpcode)
{
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    auto& calls = inst.plugin->calls;
    uint8_t blob[64] = {};
    const char* text = "/some/folder";

    const struct
    {
        uint32_t op;
        intptr_t a;
        void* b;
        RecordedCall want;
    } kCases[] = {
        {0, ip(text), blob, {"init", ip(text), ip(blob), 0}},
        {8, 77, nullptr, {"engineCommand", 8, 77, 0}},
        {9, 78, nullptr, {"resetVoices", 9, 78, 0}},
        {11, 5, reinterpret_cast<void*>(intptr_t(6)), {"resetVoices", 5, 6, 0}},
        {10, ip(blob), nullptr, {"getControllerMap", ip(blob), 0, 0}},
        {21, ip(blob), nullptr, {"handleCommand", ip(blob), 0, 0}},
        {23, ip(blob), nullptr, {"receiveSysEx", ip(blob), 0, 0}},
        {24, ip(text), nullptr, {"setDataFolder", ip(text), 0, 0}},
        {27, 99, nullptr, {"onHostOpcode27", 27, 99, 0}},
        {28, -3, nullptr, {"onHostOpcode28", 28, -3, 0}},
    };
    for (const auto& c : kCases) {
        calls.clear();
        inst.dispatch(c.op, c.a, c.b);
        ASSERT_EQ(calls.size(), 1u) << "op " << c.op;
        EXPECT_EQ(calls[0], c.want) << "op " << c.op;
    }

    // Files: the kind is the i32 in b, widened with its sign; the results are dropped.
    int32_t kind = -2;
    calls.clear();
    inst.dispatch(25, ip(blob), &kind);
    inst.dispatch(26, ip(text), &kind);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (RecordedCall{"saveFile", -2, ip(blob), 0}));
    EXPECT_EQ(calls[1], (RecordedCall{"loadFile", -2, ip(text), 0}));

    // Extension commands: the result goes to b.
    uint32_t result = 0xFFFF;
    calls.clear();
    inst.dispatch(20, ip(blob), &result);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(calls.size(), 1u);
}

TEST(Dispatcher, OpcodesWithoutOperationOrRecordDoNothing)
{
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    uint32_t word = 0x12345678;
    for (uint32_t op : {1u, 13u, 14u, 16u, 22u, 29u, 100u, 0xFFFFFFFFu}) {
        inst.dispatch(op, ip(&word), &word);
        EXPECT_EQ(word, 0x12345678u) << op;
    }
    // Records that would be read or written through a null pointer.
    for (uint32_t op : {2u, 10u, 12u, 19u, 21u, 23u, 24u})
        inst.dispatch(op, 0, nullptr);
    for (uint32_t op : {15u, 20u, 25u, 26u})
        inst.dispatch(op, ip(&word), nullptr);
    EXPECT_TRUE(inst.plugin->calls.empty());
}

TEST(Dispatcher, InitRecordResultIsAFullWord)
{
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    for (bool ok : {true, false}) {
        PluginInitRecord record;
        int dummy = 0;
        record.result = 0xFFFFFFFFFFFFFFFFull;
        record.path = "/db/chips.iff";
        record.argument = &dummy;
        record.hostVersion = 2118;
        inst.plugin->initResult = ok;
        inst.plugin->calls.clear();
        inst.dispatch(19, ip(&record));
        EXPECT_EQ(record.result, ok ? 1u : 0u);
        ASSERT_EQ(inst.plugin->calls.size(), 1u);
        EXPECT_EQ(inst.plugin->calls[0],
                  (RecordedCall{"init", ip(record.path), ip(&dummy), 2118}));
    }
}

TEST(Dispatcher, AudioSettingsAreCopiedFieldByField)
{
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    const AudioSettingsRecord& stored = inst.plugin->getAudioSettings();
    EXPECT_EQ(stored.sampleRate, 44100.0);
    EXPECT_EQ(stored.sampleRateInt, 44100u);
    EXPECT_EQ(stored.blockSize, 256u);
    EXPECT_EQ(stored.inverseBlockSize, 0.00390625);

    // An unaligned record, as the engine may hand it.
    alignas(8) uint8_t raw[64] = {};
    AudioSettingsRecord s;
    s.sampleRate = 48000.0;
    s.sampleRateInt = 48000;
    s.samplePeriod = 1.0 / 48000.0;
    s.blockSize = 512;
    s.blockDuration = 512.0 / 48000.0;
    s.inverseBlockSize = 1.0 / 512.0;
    for (int i = 0; i < 5; ++i)
        s.flags[i] = uint8_t(i + 1);
    std::memcpy(raw + 1, &s, sizeof s);
    const AudioSettingsRecord defaults;
    for (uint32_t op : {2u, 12u}) {
        inst.dispatch(op, ip(raw + 1));
        EXPECT_EQ(std::memcmp(&stored, &s, sizeof s), 0) << op;
        inst.dispatch(op == 2 ? 12 : 2, ip(&defaults));
        EXPECT_EQ(std::memcmp(&stored, &defaults, sizeof s), 0) << op;
    }
}

TEST(Dispatcher, ParameterDescriptors)
{
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    const ParameterInfo* out = reinterpret_cast<const ParameterInfo*>(intptr_t(0x1234));
    uint32_t count = 0xFFFF;
    inst.dispatch(15, ip(&out), &count);  // the default instance has none
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(out, reinterpret_cast<const ParameterInfo*>(intptr_t(0x1234)));
    ASSERT_EQ(inst.plugin->calls.size(), 1u);
    EXPECT_EQ(inst.plugin->calls[0].u, 0u);  // the count starts at 0

    std::vector<ParameterInfo> infos(3);
    inst.plugin->descriptors = infos.data();
    inst.plugin->descriptorCount = 0x100000003ull;
    inst.dispatch(15, ip(&out), &count);
    EXPECT_EQ(count, 3u);  // low 32 bits
    EXPECT_EQ(out, infos.data());
}

TEST(Process, ForwardsFramesAndClampsNegativeOnes)
{
    Instance inst;
    ASSERT_NE(inst.plugin, nullptr);
    float* outputs[2] = {};
    vantor::SyncInfo transport;
    const struct
    {
        int32_t frames;
        uint32_t want;
    } kCases[] = {{256, 256}, {0, 0}, {-1, 0}, {INT32_MIN, 0}, {INT32_MAX, uint32_t(INT32_MAX)}};
    for (const auto& c : kCases) {
        inst.entry->process(inst.entry, outputs, c.frames, nullptr, nullptr, &transport);
        EXPECT_EQ(inst.plugin->lastFrames, c.want) << c.frames;
    }
    EXPECT_EQ(inst.plugin->calls.back(), (RecordedCall{"process", ip(outputs), ip(&transport),
                                                       uint32_t(INT32_MAX)}));
    inst.plugin->throwOnProcess = true;
    inst.entry->process(inst.entry, outputs, 16, nullptr, nullptr, nullptr);  // caught
    EXPECT_EQ(inst.plugin->lastFrames, 16u);
}

TEST(HostCalls, QueriesAndMidiOut)
{
    TestHost host;
    Instance inst(&host.record);
    ASSERT_NE(inst.plugin, nullptr);

    EXPECT_EQ(inst.plugin->noteFrequency(60), 0.0);  // slot left alone
    host.answer = true;
    host.frequency = 261.5;
    EXPECT_EQ(inst.plugin->noteFrequency(60), 261.5);
    EXPECT_TRUE(inst.plugin->isNoteEnabled(61));
    host.enabled = 0;
    EXPECT_FALSE(inst.plugin->isNoteEnabled(61));
    host.answer = false;
    EXPECT_EQ(inst.plugin->noteTuningOffset(62), 0.0);
    EXPECT_TRUE(inst.plugin->isNoteEnabled(63));

    HostMidiOutRecord midi;
    midi.bytes[0] = 0x90;
    inst.plugin->sendHostMidi(&midi);

    ASSERT_EQ(host.calls.size(), 7u);
    const double zero = 0.0;
    const uint64_t one = 1;
    std::vector<uint8_t> zeroSlot(8), oneSlot(8);
    std::memcpy(zeroSlot.data(), &zero, 8);
    std::memcpy(oneSlot.data(), &one, 8);
    const struct
    {
        int32_t op;
        intptr_t a;
        const std::vector<uint8_t>& slot;
    } kWant[] = {{13, 60, zeroSlot}, {13, 60, zeroSlot}, {14, 61, oneSlot},
                 {14, 61, oneSlot},  {14, 62, zeroSlot}, {14, 63, oneSlot}};
    for (size_t i = 0; i < std::size(kWant); ++i) {
        EXPECT_EQ(host.calls[i].op, kWant[i].op) << i;
        EXPECT_EQ(host.calls[i].a, kWant[i].a) << i;
        EXPECT_EQ(host.calls[i].slot, kWant[i].slot) << i;
    }
    EXPECT_EQ(host.calls[6].op, 12);
    EXPECT_EQ(host.calls[6].a, 48);
    EXPECT_EQ(host.calls[6].slot[0x28], 0x90);

    // Through the tuning-source interface, as the synthesizer sees it.
    ZRS::NoteTuningSource& source = *inst.plugin;
    host.answer = true;
    host.frequency = 440.0;
    EXPECT_EQ(source.noteFrequency(69), 440.0);
}

TEST(HostCalls, WithoutHostNothingIsCalled)
{
    Instance inst(nullptr);
    ASSERT_NE(inst.plugin, nullptr);
    EXPECT_EQ(inst.plugin->noteFrequency(60), 0.0);
    EXPECT_EQ(inst.plugin->noteTuningOffset(60), 0.0);
    EXPECT_TRUE(inst.plugin->isNoteEnabled(60));
    HostMidiOutRecord midi;
    inst.plugin->sendHostMidi(&midi);

    PluginHostRecord noFunction{nullptr};
    Instance withoutFunction(&noFunction);
    EXPECT_EQ(withoutFunction.plugin->noteFrequency(60), 0.0);
}

}  // namespace
