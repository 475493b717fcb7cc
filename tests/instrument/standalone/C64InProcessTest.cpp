// The module's own exports and factory linked into this test: the stand-in engine creates and
// starts an instance as it does with the built module, and the instance is inspected directly.

#include "abi/ExtensionBlocks.h"
#include "fixtures/ModuleEventBuilders.h"
#include "instrument/ChipWrap.h"
#include "instrument/ModuleExports.h"
#include "instrument/SIDCtrl.h"
#include "shims/engine/Engine.h"
#include "sid/SIDEmu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using vantor::engine::EngineConfig;
using vantor::engine::Instance;
using vantor::engine::ModuleLibrary;

TEST(C64InProcess, TheEnginesStartEnablesTheTwelveSynthChips)
{
    auto module = ModuleLibrary::linked("linked C64Module", getNumTarnPlugins, fillTarnPluginInfo,
                                        newInstance, deleteInstance);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(newInstance("com.Vantor.Emulator.SID", nullptr), nullptr);
    EngineConfig config;
    config.chipDatabasePath = "/nonexistent/chips.db";
    Instance instance(*module, config);
    std::string error;
    ASSERT_TRUE(instance.create(module->identifier(0), error)) << error;
    auto* wrap = dynamic_cast<acme::ChipWrap*>(
        static_cast<vantor::EnginePluginSDK::Plugin*>(instance.getEntry()->object));
    ASSERT_NE(wrap, nullptr);

    // Before init: the map is empty, the descriptors are there.
    auto map = std::make_unique<ModuleEvents>();
    instance.dispatch(kOpGetControllerMap, reinterpret_cast<intptr_t>(map.get()), nullptr);
    EXPECT_EQ(map->count, 0u);
    const void* descriptors = nullptr;
    uint32_t count = 0;
    instance.dispatch(kOpGetParameterDescriptors, reinterpret_cast<intptr_t>(&descriptors), &count);
    EXPECT_EQ(count, 1792u);

    ASSERT_TRUE(instance.start(error)) << error;
    const SIDCtrl* ctrl = wrap->getSIDController();
    ASSERT_NE(ctrl, nullptr);
    for (size_t c = 0; c < 16; ++c)
        EXPECT_EQ(ctrl->isChipEnabled(c), c < 12) << c;
    EXPECT_EQ(wrap->getMaxTicks(), 102416u);

    std::vector<vantor::HDMIDIEvent> notes;
    for (int32_t n = 60; n < 72; ++n)
        notes.push_back(fixtures::moduleEvent(0x390, n, 0.8f));
    ASSERT_EQ(instance.process(256, notes), 12);
    double energy = 0.0;
    for (int b = 0; b < 40; ++b) {
        instance.process(256, {});
        for (uint32_t i = 0; i < 256; ++i)
            energy += double(instance.channel(0)[i]) * double(instance.channel(0)[i]);
    }
    EXPECT_GT(std::sqrt(energy / (40 * 256)), 0.05);
    for (size_t c = 0; c < 12; ++c) {
        const auto* sid = dynamic_cast<const SIDEmu*>(wrap->chip(c));
        ASSERT_NE(sid, nullptr);
        EXPECT_TRUE(sid->isVoiceSounding(0)) << "chip " << c;
        EXPECT_EQ(sid->registerImage(24) & 15, 15) << "chip " << c;
    }
}

acme::ChipWrap* wrapOf(const Instance& instance)
{
    return dynamic_cast<acme::ChipWrap*>(
        static_cast<vantor::EnginePluginSDK::Plugin*>(instance.getEntry()->object));
}

TEST(C64InProcess, ARestoredRoutingTextFindsItsEnvelope)
{
    auto module = ModuleLibrary::linked("linked C64Module", getNumTarnPlugins, fillTarnPluginInfo,
                                        newInstance, deleteInstance);
    ASSERT_NE(module, nullptr);
    EngineConfig config;
    config.chipDatabasePath = "/nonexistent/chips.db";
    std::string error;
    Instance first(*module, config);
    ASSERT_TRUE(first.create(module->identifier(0), error)) << error;
    ASSERT_TRUE(first.start(error)) << error;
    vantor::engine::SharedBlock* routing = first.findSharedBlock(RoutingTextBlock::kId);
    ASSERT_NE(routing, nullptr);
    const std::string text = "source=EG0;destination=Filter Cutoff";
    std::copy(text.begin(), text.end(), routing->bytes.get() + RoutingTextBlock::kTextOffset);
    ASSERT_EQ(first.sendExtension(*routing, 2), 1);
    ASSERT_FALSE(wrapOf(first)->getSIDController()->curveEntries().empty());
    ASSERT_EQ(wrapOf(first)->getSIDController()->curveEntries()[0].inUse, 1);

    // Saved with the routing text ahead of the curves, as an engine that handed it over first
    // would have: the restore still hands the curves over first.
    vantor::engine::EngineState state = first.saveState();
    std::stable_partition(state.blocks.begin(), state.blocks.end(), [](const auto& b) {
        return b.id == RoutingTextBlock::kId;
    });
    Instance second(*module, config);
    ASSERT_TRUE(second.create(module->identifier(0), error)) << error;
    ASSERT_TRUE(second.restoreState(state, error)) << error;
    const auto& curves = wrapOf(second)->getSIDController()->curveEntries();
    ASSERT_EQ(curves.size(), 15u);
    EXPECT_EQ(curves[0].inUse, 1);
    EXPECT_EQ(curves[1].inUse, 0);
}

}  // namespace
