// Wrapper -> engine -> module: the built bundle playing C64Module, its state chunks, and what the
// engine does with bad input.

#include "EngineHome.h"

#include "abi/ExtensionBlocks.h"
#include "platform/ParameterInfo.h"
#include "shims/engine/EngineBridge.h"
#include "shims/engine/EngineChunk.h"
#include "tests/instrument/CommandLine.h"
#include "tests/instrument/SignalAnalysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <vector>

namespace {

using namespace enginehome;
using namespace vantor::engine;
using vantor::TARNWrapper;

using EngineBridge = EngineHome;

constexpr uint32_t kBlock = 256;

// The processor's side of a block: its event block, two outputs and the transport.
struct Host
{
    Host() { transport.setDefaults(); }
    bool block(TARNWrapper& w, uint32_t frames = kBlock)
    {
        float* outputs[2] = {left.data(), right.data()};
        transport.prepare(int32_t(frames), 48000.0, nullptr, nullptr, true);
        const bool ok = w.process(events.get(), nullptr, outputs, &transport, frames);
        *events = vantor::MIDIEvents();  // emptied after every call
        return ok;
    }
    void add(const vantor::HDMIDIEvent& e) { events->events[events->count++] = e; }

    std::unique_ptr<vantor::MIDIEvents> events = std::make_unique<vantor::MIDIEvents>();
    std::vector<float> left = std::vector<float>(kBlock, 0.0f), right = std::vector<float>(kBlock, 0.0f);
    vantor::SyncInfo transport;
};

vantor::HDMIDIEvent noteOn(int32_t pitch, float velocity, int32_t noteId)
{
    vantor::HDMIDIEvent e;
    e.kind = vantor::kEventNoteOn;
    e.index = pitch;
    e.value = velocity;
    e.noteId = noteId;
    return e;
}

std::vector<uint8_t> chunkOf(TARNWrapper& w)
{
    const void* bytes = nullptr;
    const uint32_t size = w.getChunk(&bytes);
    const auto* p = static_cast<const uint8_t*>(bytes);
    return p ? std::vector<uint8_t>(p, p + size) : std::vector<uint8_t>();
}

EngineState stateOf(const std::vector<uint8_t>& chunk)
{
    EngineState state;
    EXPECT_TRUE(decodeEngineChunk(chunk.data(), chunk.size(), state));
    return state;
}

// Opcode 9's record for the stereo form.
vantor::EngineInitRecord initRecord(const std::string& folder)
{
    vantor::EngineInitRecord init;
    init.outputs = 2;
    init.versionAndFormat = 0x084BFA92;
    init.dataFolder = folder.c_str();
    init.extraPath = "";
    return init;
}

const EngineState::Block* findBlock(const EngineState& state, uint32_t id, uint64_t index)
{
    for (const EngineState::Block& b : state.blocks)
        if (b.id == id && b.index == index)
            return &b;
    return nullptr;
}

TEST_F(EngineBridge, NoteSoundsOnBothOutputs)
{
    TARNWrapper& w = startedWrapper(48000, kBlock);
    hook(kHookSetRender, nullptr, 1);
    Host host;
    host.add(noteOn(69, 0.8f, 1));
    constexpr size_t kSamples = 32768;
    std::vector<float> left, right;
    while (left.size() < kSamples) {
        ASSERT_TRUE(host.block(w)) << log();
        left.insert(left.end(), host.left.begin(), host.left.end());
        right.insert(right.end(), host.right.begin(), host.right.end());
    }
    EXPECT_EQ(left, right);
    EXPECT_GT(analysis::rms(left.data(), kSamples), 0.01);
    const double bin = 48000.0 / double(kSamples);
    EXPECT_NEAR(analysis::binFrequency(analysis::peakBin(left.data(), kSamples), kSamples, 48000.0), 440.0, bin);

    // The record went across as the processor made it.
    const std::vector<TestCall> c = calls();
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c[0].opcode, 42);
    ASSERT_EQ(c[0].eventCount, 1u);
    EXPECT_EQ(c[0].events[0].kind, vantor::kEventNoteOn);
    EXPECT_EQ(c[0].events[0].noteId, 1);
    ASSERT_NE(c[0].transport, nullptr);
    EXPECT_EQ(c[0].transport->tempo, 120.0);
    vantor::TarnEngineProcessEx record;
    ASSERT_EQ(c[0].recordSize, sizeof record);
    std::memcpy(&record, c[0].record, sizeof record);
    EXPECT_EQ(record.version, 2u);
    EXPECT_EQ(record.frames, kBlock);
    EXPECT_EQ(record.inputs, nullptr);
}

// A second start with other settings changes the running instance: the pitch stays.
TEST_F(EngineBridge, NewSettingsReachTheRunningInstance)
{
    TARNWrapper& w = startedWrapper(48000, kBlock);
    hook(kHookSetRender, nullptr, 1);
    ASSERT_TRUE(w.resume(96000, kBlock, false)) << log();
    EXPECT_EQ(opcodes(), "11 13");
    Host host;
    host.add(noteOn(69, 0.8f, 1));
    constexpr size_t kSamples = 32768;
    std::vector<float> left;
    while (left.size() < kSamples) {
        float* outputs[2] = {host.left.data(), host.right.data()};
        ASSERT_TRUE(w.process(host.events.get(), nullptr, outputs, nullptr, kBlock)) << log();
        *host.events = vantor::MIDIEvents();
        left.insert(left.end(), host.left.begin(), host.left.end());
    }
    EXPECT_NEAR(analysis::binFrequency(analysis::peakBin(left.data(), kSamples), kSamples, 96000.0), 440.0,
                96000.0 / kSamples);
}

TEST_F(EngineBridge, ModuleNamedByTheEnvironment)
{
    const fixtures::ScopedEnv module(kEngineModuleVariable, (root.dir() / "None.so").c_str());
    TARNWrapper& w = makeWrapper();
    EXPECT_FALSE(w.init(44100, 1024, &kSamplerPluginConfig, false));
    EXPECT_EQ(opcodes(), "8 9");
    EXPECT_TRUE(logged("E:engine error:1")) << log();
}

TEST_F(EngineBridge, ChunkRestoresValuesAndBlocksIntoRunningAndFreshInstances)
{
    TARNWrapper& first = startedWrapper(48000, kBlock);
    Host host;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(host.block(first));

    // A labelled automatable parameter and a value inside its range that it does not hold.
    uint64_t index = 0;
    const ParameterInfo* info = nullptr;
    for (; index < 256; ++index)
        if ((info = first.getAutomatableParameterInfo(index)) && info->label &&
            info->type == ParameterInfo::Continuous && info->maxValue > info->minValue)
            break;
    ASSERT_LT(index, 256u) << "no continuous automatable parameter";
    bool changed = false;
    const float before = first.getAutomatableParameterValue(index, false, changed);
    const float value = before == info->minValue + 0.25f * (info->maxValue - info->minValue)
        ? info->minValue + 0.75f * (info->maxValue - info->minValue)
        : info->minValue + 0.25f * (info->maxValue - info->minValue);

    EngineState state = stateOf(chunkOf(first));
    state.values[kAutomatableFirstItem + index] = value;
    // Text slot 1: a block that the module reads and leaves as it is.
    std::vector<uint8_t>* slot = nullptr;
    for (EngineState::Block& b : state.blocks)
        if (b.id == TextSlotBlock::kId && b.index == 1)
            slot = &b.bytes;
    ASSERT_NE(slot, nullptr);
    const char kText[] = "saved with the state";
    std::copy(kText, kText + sizeof kText, slot->begin() + TextSlotBlock::kTextOffset);
    const std::vector<uint8_t> edited = encodeEngineChunk(state);

    hook(kHookSetRender, nullptr, 1);
    TARNWrapper& second = startedWrapper(48000, kBlock);
    hook(kHookSetRender, nullptr, 1);
    for (TARNWrapper* w : {&first, &second}) {
        SCOPED_TRACE(w == &first ? "running" : "fresh");
        ASSERT_TRUE(w->setChunk(edited.data(), uint32_t(edited.size()))) << log();
        EXPECT_EQ(w->getAutomatableParameterValue(index, false, changed), value);  // at once
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(host.block(*w));
        const EngineState saved = stateOf(chunkOf(*w));
        EXPECT_EQ(saved.values[kAutomatableFirstItem + index], value);
        const EngineState::Block* text = findBlock(saved, TextSlotBlock::kId, 1);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->bytes, *slot);
        EXPECT_EQ(w->getAutomatableParameterValue(index, false, changed), value);
    }
}

TEST_F(EngineBridge, BadChunksChangeNothing)
{
    TARNWrapper& w = startedWrapper(48000, kBlock);
    const std::vector<uint8_t> good = chunkOf(w);
    ASSERT_GT(good.size(), 7200u);
    const size_t firstBlock = 4 + 4 + 1792 * 4 + 4;  // id at +0, index at +4, size at +12
    const auto withWord = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> c = good;
        std::memcpy(c.data() + at, &v, 4);
        return c;
    };
    uint32_t firstSize;
    std::memcpy(&firstSize, good.data() + firstBlock + 12, 4);
    uint32_t count;
    std::memcpy(&count, good.data() + firstBlock - 4, 4);
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    uint32_t nanBits;
    std::memcpy(&nanBits, &nan, 4);

    const struct
    {
        const char* name;
        std::vector<uint8_t> bytes;
    } kCases[] = {
        {"cut by one", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"cut in half", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2))},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 10)},
        {"block size plus one", withWord(firstBlock + 12, firstSize + 1)},
        {"block size byte-swapped", withWord(firstBlock + 12, __builtin_bswap32(firstSize))},
        {"block count plus one", withWord(firstBlock - 4, count + 1)},
        {"block count zero", withWord(firstBlock - 4, 0)},
        {"unknown block id", withWord(firstBlock, 4711)},
        {"a byte too many", longer},
        {"magic", withWord(0, 0x58585858)},
        {"version 2", withWord(4, 2)},
        {"value not a number", withWord(8 + 4 * 800, nanBits)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        captured.str("");
        EXPECT_FALSE(w.setChunk(c.bytes.data(), uint32_t(c.bytes.size())));
        EXPECT_TRUE(logged("E:engine error:1")) << log();
        EXPECT_EQ(chunkOf(w), good);
    }
}

TEST_F(EngineBridge, ExportsOnlyItsTwoFunctions)
{
    EXPECT_EQ(commandline::definedDynamicSymbols(ENGINE_FILE_PATH),
              (std::set<std::string>{"caddisOpcode", "caddisTestHook"}));
}

// Records that the engine refuses: status 1, and the outputs it can reach zeroed.
TEST_F(EngineBridge, BadProcessRecordsGiveSilenceAndStatus1)
{
    TARNWrapper& w = startedWrapper(48000, kBlock);
    hook(kHookSetRender, nullptr, 1);
    const auto entry = engine().entry;
    void* instance = w.getInstance();
    auto events = std::make_unique<vantor::MIDIEvents>();
    std::vector<float> left(kBlock * 2), right(kBlock * 2);
    float* outputs[2] = {left.data(), right.data()};
    vantor::SyncInfo transport;
    transport.setDefaults();

    const struct
    {
        const char* name;
        uint32_t version, count, eventsVersion, frames;
        bool withEvents;
    } kCases[] = {
        {"2049 events", 2, 2049, 1, kBlock, true},
        {"record version 1", 1, 0, 1, kBlock, true},
        {"record version 3", 3, 0, 1, kBlock, true},
        {"event block version 2", 2, 0, 2, kBlock, true},
        {"frames beyond the block size", 2, 0, 1, kBlock + 1, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::fill(left.begin(), left.end(), 1.0f);
        std::fill(right.begin(), right.end(), 1.0f);
        events->count = c.count;
        events->version = c.eventsVersion;
        vantor::TarnEngineProcessEx record;
        record.version = c.version;
        record.events = c.withEvents ? events.get() : nullptr;
        record.outputs = outputs;
        record.transport = &transport;
        record.frames = c.frames;
        EXPECT_EQ(entry(instance, vantor::kEngineProcess, &record, nullptr, nullptr, 0, 0.0f, 0, 0), 1);
        EXPECT_TRUE(std::all_of(left.begin(), left.begin() + c.frames, [](float x) { return x == 0.0f; }));
        EXPECT_TRUE(std::all_of(right.begin(), right.begin() + c.frames, [](float x) { return x == 0.0f; }));
        EXPECT_EQ(left[c.frames], 1.0f);  // nothing beyond the block
    }
    *events = vantor::MIDIEvents();
    EXPECT_EQ(entry(instance, vantor::kEngineProcess, nullptr, nullptr, nullptr, 0, 0.0f, 0, 0), 1);
    EXPECT_EQ(entry(nullptr, vantor::kEngineProcess, nullptr, nullptr, nullptr, 0, 0.0f, 0, 0), 1);

    // A null output channel is skipped; no transport is a default one; transport values that are
    // not numbers are replaced.
    float* oneSide[2] = {left.data(), nullptr};
    vantor::TarnEngineProcessEx record;
    record.events = events.get();
    record.outputs = oneSide;
    record.frames = kBlock;
    EXPECT_EQ(entry(instance, vantor::kEngineProcess, &record, nullptr, nullptr, 0, 0.0f, 0, 0), 0);
    transport.tempo = std::numeric_limits<double>::quiet_NaN();
    transport.ppqPosition = std::numeric_limits<double>::infinity();
    transport.barStart = -std::numeric_limits<double>::infinity();
    record.transport = &transport;
    events->events[0] = noteOn(60, 1.0f, 3);
    events->count = 1;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(entry(instance, vantor::kEngineProcess, &record, nullptr, nullptr, 0, 0.0f, 0, 0), 0);
        events->count = 0;
        EXPECT_TRUE(std::all_of(left.begin(), left.begin() + kBlock, [](float x) { return std::isfinite(x); }));
    }
    // A zero-frame block without outputs delivers its events.
    record.outputs = nullptr;
    record.frames = 0;
    EXPECT_EQ(entry(instance, vantor::kEngineProcess, &record, nullptr, nullptr, 0, 0.0f, 0, 0), 0);
}

TEST_F(EngineBridge, BadRecordsAtTheOtherOpcodes)
{
    TARNWrapper& w = startedWrapper(48000, kBlock);
    const auto entry = engine().entry;
    void* instance = w.getInstance();
    const auto call = [&](void* handle, int32_t opcode, void* p1 = nullptr, void* p2 = nullptr, intptr_t i1 = 0,
                          int32_t i2 = 0) { return entry(handle, opcode, p1, p2, nullptr, i1, 0.0f, i2, 0); };

    // Opcode 9: a bad init record or nowhere to put the handle.
    const vantor::EngineInitRecord init = initRecord(dataFolder);
    void* handle = nullptr;
    vantor::EngineInitRecord badConstant = init, badVersion = init, manyOutputs = init;
    badConstant.constant = 1;
    badVersion.versionAndFormat = 0x0001FA92;
    manyOutputs.outputs = 1000;
    for (vantor::EngineInitRecord* r : {&badConstant, &badVersion, &manyOutputs}) {
        EXPECT_EQ(call(nullptr, vantor::kEngineCreate, r, &handle), 1);
        EXPECT_EQ(handle, nullptr);
    }
    EXPECT_EQ(call(nullptr, vantor::kEngineCreate, nullptr, &handle), 1);
    EXPECT_EQ(call(nullptr, vantor::kEngineCreate, const_cast<vantor::EngineInitRecord*>(&init), nullptr), 1);
    EXPECT_EQ(hook(kHookInstanceCount), 1);

    // Wrong record versions and null records.
    vantor::EngineProductRecord product;
    product.version = 2;
    EXPECT_EQ(call(instance, vantor::kEngineQuery, &product, nullptr, vantor::ENGINE_GET_CURRENT_PRODUCT), 1);
    EXPECT_EQ(product.productId, 0);
    vantor::EngineSettingsRecord settings;
    settings.version = 0;
    settings.sampleRate = 48000;
    settings.maxBlock = 256;
    EXPECT_EQ(call(instance, vantor::kEngineSetSettings, &settings), 1);
    vantor::TarnEngineLatencyInfo latency;
    latency.version = 1;
    EXPECT_EQ(call(instance, vantor::kEngineSetLatencyMode, &latency), 1);
    EXPECT_EQ(call(instance, vantor::kEngineGetLatency, &latency), 1);
    vantor::EngineListRecord list;
    list.version = 0;
    EXPECT_EQ(call(instance, vantor::kEngineQuery, &list, nullptr, vantor::kQueryBanks), 1);
    vantor::HostCallbackRegistration registration;
    registration.version = 2;
    registration.function = &TARNWrapper::TARN_HostOpcode;
    EXPECT_EQ(call(instance, vantor::kEngineQuery, &registration, nullptr, vantor::kQueryAddHostCallback), 1);
    for (const int32_t sub : {0x10000, 0x10002, 0x10003, 0x10004, 0x10007, 0x10008, 0x10009, 0x1000C, 0x1000D,
                              0x1000E, 0x1000F, 0x10010, 0x10011, 0x12345})
        EXPECT_EQ(call(instance, vantor::kEngineQuery, nullptr, nullptr, sub), 1) << std::hex << sub;
    for (const int32_t op : {11, 13, 16, 18, 19, 20, 33, 35, 37, 38, 39, 40, 41, 45, 99, -1})
        EXPECT_EQ(call(instance, op), 1) << op;
    EXPECT_EQ(call(nullptr, vantor::kEngineStart, nullptr, nullptr, 48000, 256), 1);
    EXPECT_EQ(call(instance, vantor::kEngineStart, nullptr, nullptr, 48000, 0), 1);
    EXPECT_EQ(call(instance, vantor::kEngineStart, nullptr, nullptr, 48000, 100000), 1);
    EXPECT_EQ(call(nullptr, vantor::kEngineRandomOff, nullptr, nullptr, 7), 1);
    float value = 0.0f;
    EXPECT_EQ(call(instance, vantor::kEngineGetParameter, &value, nullptr, 1024), 1);  // past the items
    EXPECT_EQ(call(instance, vantor::kEngineGetParameter, &value, nullptr, -1), 1);
    EXPECT_EQ(call(instance, vantor::kEngineSetParameter, nullptr, nullptr, 5000), 1);
    int32_t size = 0;
    EXPECT_EQ(call(instance, vantor::kEngineAddView, &size), 1);  // no ticket
    EXPECT_EQ(call(&size, vantor::kEngineGetViewSize, &size, &size), 1);
    EXPECT_EQ(hook(kHookInstanceCount), 1);
}

TEST_F(EngineBridge, ChunkBeforeTheStartIsRestoredByIt)
{
    TARNWrapper& source = startedWrapper(48000, kBlock);
    EngineState state = stateOf(chunkOf(source));
    state.values[kAutomatableFirstItem + 9] = 0.375f;
    const std::vector<uint8_t> chunk = encodeEngineChunk(state);

    const auto entry = engine().entry;
    vantor::EngineInitRecord init = initRecord(dataFolder);
    void* instance = nullptr;
    ASSERT_EQ(entry(nullptr, vantor::kEngineCreate, &init, &instance, nullptr, 0, 0.0f, 0, 0), 0);
    ASSERT_NE(instance, nullptr);
    float value = 0.0f;
    ASSERT_EQ(entry(instance, vantor::kEngineSetChunk, const_cast<uint8_t*>(chunk.data()), nullptr, nullptr,
                    intptr_t(chunk.size()), 0.0f, 0, 0), 0);
    ASSERT_EQ(entry(instance, vantor::kEngineStart, nullptr, nullptr, nullptr, 48000, 0.0f, 256, 0), 0);
    ASSERT_EQ(entry(instance, vantor::kEngineGetParameter, &value, nullptr, nullptr, 9, 0.0f, 0, 0), 0);
    EXPECT_EQ(value, 0.375f);
    const void* bytes = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(entry(instance, vantor::kEngineGetChunk, &bytes, &size, nullptr, 0, 0.0f, 0, 0), 0);
    const EngineState saved = stateOf(std::vector<uint8_t>(static_cast<const uint8_t*>(bytes),
                                                           static_cast<const uint8_t*>(bytes) + size));
    EXPECT_EQ(saved.values[kAutomatableFirstItem + 9], 0.375f);
    EXPECT_EQ(saved.blocks.size(), state.blocks.size());
    EXPECT_EQ(entry(instance, vantor::kEngineDestroy, nullptr, nullptr, nullptr, 0, 0.0f, 0, 0), 0);
}

}  // namespace
