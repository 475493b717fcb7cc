// The built C64Module with the stand-in engine's shared blocks: the handover after init, a
// sample played through layer 3, and a saved state restored into a new instance.

#include "SignalAnalysis.h"
#include "abi/ExtensionBlocks.h"
#include "fixtures/ModuleEventBuilders.h"
#include "shims/engine/Engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using vantor::engine::EngineConfig;
using vantor::engine::Instance;
using vantor::engine::ModuleLibrary;
using vantor::engine::SampleData;
using namespace ExtensionBlock;

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;
constexpr size_t kFft = 32768;
constexpr double kBin = kRate / kFft;

class C64ModuleBlocks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        module = ModuleLibrary::open(C64MODULE_PATH, error);
        ASSERT_NE(module, nullptr) << error;
        config.chipDatabasePath = "/nonexistent/chips.db";
    }

    std::unique_ptr<Instance> create()
    {
        auto instance = std::make_unique<Instance>(*module, config);
        std::string error;
        EXPECT_TRUE(instance->create(module->identifier(0), error)) << error;
        return instance;
    }
    std::unique_ptr<Instance> start()
    {
        auto instance = create();
        std::string error;
        EXPECT_TRUE(instance->start(error)) << error;
        return instance;
    }

    // 16000 samples of a 1 kHz tone at 8000 Hz with a note marker at 0.
    static SampleData tone()
    {
        SampleData s;
        s.rate = 8000;
        for (int i = 0; i < 16000; ++i)
            s.samples.push_back(int16_t(std::lround(20000.0 * std::sin(2.0 * M_PI * 1000.0 * i / 8000.0))));
        s.markers.push_back({0, SampleBlock::kNoteMarker});
        return s;
    }

    // Note `note` from the start, `seconds` of channel 0.
    static std::vector<float> play(Instance& instance, int note, double seconds)
    {
        std::vector<float> sound;
        instance.process(kBlock, {fixtures::moduleEvent(0x390, note, 0.8f)});
        while (sound.size() < size_t(seconds * kRate)) {
            if (sound.size() > 0)
                instance.process(kBlock, {});
            sound.insert(sound.end(), instance.channel(0), instance.channel(0) + kBlock);
        }
        return sound;
    }

    static double peakHz(const std::vector<float>& x, size_t at)
    {
        return analysis::binFrequency(analysis::peakBin(x.data() + at, kFft), kFft, kRate);
    }

    static double levelDb(const std::vector<float>& x, size_t at)
    {
        return 20.0 * std::log10(analysis::rms(x.data() + at, kFft));
    }

    std::unique_ptr<ModuleLibrary> module;
    EngineConfig config;
};

TEST_F(C64ModuleBlocks, HandoverAfterInitFormatsEveryBlock)
{
    auto instance = create();
    std::string error;
    ASSERT_TRUE(instance->start(error)) << error;

    for (const auto& block : instance->getSharedBlocks()) {
        int32_t expected = 0;
        if (block->id == PixelCanvasBlock::kId || block->id == ParameterChangeBlock::kId ||
            block->id == RoutingTextBlock::kId || block->id == TextSlotBlock::kId)
            expected = 1;
        EXPECT_EQ(block->result, expected) << block->id << " " << block->index;
    }
    const uint8_t* canvas = instance->findSharedBlock(PixelCanvasBlock::kId)->bytes.get();
    EXPECT_EQ(readU32(canvas, kIdOffset), PixelCanvasBlock::kId);
    EXPECT_EQ(readU32(canvas, kSizeOffset), instance->findSharedBlock(PixelCanvasBlock::kId)->size);
    const uint8_t* routing = instance->findSharedBlock(RoutingTextBlock::kId)->bytes.get();
    EXPECT_EQ(readU32(routing, kVersionOffset), RoutingTextBlock::kVersionWord);
    EXPECT_EQ(readU32(routing, kFlagsOffset), RoutingTextBlock::kFormattedFlags);
    for (uint64_t key : {0u, 1u, 2u}) {
        const uint8_t* slot = instance->findSharedBlock(TextSlotBlock::kId, key)->bytes.get();
        EXPECT_EQ(readU32(slot, kVersionOffset), TextSlotBlock::kVersionWord);
        EXPECT_EQ(readU32(slot, kFlagsOffset) & kFlagTextSlot, key == 1 ? 0u : kFlagTextSlot) << key;
    }
    for (uint64_t i = 0; i < 15; ++i)
        EXPECT_EQ(readU32(instance->findSharedBlock(CurveBlock::kId, i)->bytes.get(), kFlagsOffset) & kFlagHandled,
                  kFlagHandled);

    // The routing text's handover told the engine about the parameter block, then its own.
    std::vector<uint32_t> notified;
    for (const auto& call : instance->getHostCalls())
        if (call.op == kHostNotify && call.a == 1)
            notified.push_back(call.blockId);
    EXPECT_EQ(notified, (std::vector<uint32_t>{ParameterChangeBlock::kId, RoutingTextBlock::kId}));
    EXPECT_EQ(instance->openMediaFile("/nonexistent/tune.sid"), -1);
}

TEST_F(C64ModuleBlocks, SamplePlaysOnLayerThree)
{
    auto instance = start();
    ASSERT_EQ(instance->handOverSample(tone()), 0);
    ASSERT_EQ(instance->process(0, {fixtures::itemEvent(512, 0.0f), fixtures::itemEvent(560, 1.0f)}), 2);
    const std::vector<float> sound = play(*instance, 36, 1.0);
    EXPECT_NEAR(peakHz(sound, 4800), 1000.0, kBin);
}

TEST_F(C64ModuleBlocks, StateRestoresIntoANewInstance)
{
    auto first = start();
    ASSERT_EQ(first->handOverSample(tone()), 0);
    first->process(0, {fixtures::itemEvent(512, 0.0f), fixtures::itemEvent(560, 1.0f)});
    const vantor::engine::EngineState state = first->saveState();
    const std::vector<float> before = play(*first, 36, 1.0);
    first.reset();

    auto second = create();
    std::string error;
    ASSERT_TRUE(second->restoreState(state, error)) << error;
    const std::vector<float> after = play(*second, 36, 1.0);
    EXPECT_NEAR(peakHz(after, 4800), peakHz(before, 4800), kBin);
    EXPECT_NEAR(peakHz(after, 4800), 1000.0, kBin);
    EXPECT_NEAR(levelDb(after, 4800), levelDb(before, 4800), 1.0);
}

}  // namespace
