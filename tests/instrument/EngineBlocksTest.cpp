// The stand-in engine's shared blocks against an in-process instrument double that takes them:
// the handover after init, what op 8 reports, the sample and file blocks, saving and restoring,
// the canvas picture; and the command-line host's FILE, --canvas and --syx.

#include "BlockInstrument.h"
#include "abi/ExtensionBlocks.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/TempDir.h"
#include "fixtures/c64/CrtBuilder.h"
#include "fixtures/c64/D64Builder.h"
#include "fixtures/c64/PsidBuilder.h"
#include "fixtures/c64/T64Builder.h"
#include "shims/engine/CanvasImage.h"
#include "shims/engine/Engine.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace ExtensionBlock;
using vantor::engine::EngineConfig;
using vantor::engine::EngineState;
using vantor::engine::HostCall;
using vantor::engine::Instance;
using vantor::engine::ModuleLibrary;
using vantor::engine::SampleData;
using vantor::engine::SharedBlock;

// The double's exports, in this process.
int32_t doubleCount()
{
    return 1;
}
int32_t doubleFill(int32_t index, void* record)
{
    if (index != 0)
        return 1;
    std::strcpy(static_cast<char*>(record), "com.Vantor.Emulator.C64");
    return 0;
}
PluginEntryRecord* doubleNew(const char*, PluginHostRecord* host)
{
    return (new BlockInstrument(host))->getEntryRecord();
}
void doubleDelete(PluginEntryRecord* entry)
{
    delete static_cast<vantor::EnginePluginSDK::Plugin*>(entry->object);
}

BlockInstrument* doubleOf(const Instance& instance)
{
    return static_cast<BlockInstrument*>(
        static_cast<vantor::EnginePluginSDK::Plugin*>(instance.getEntry()->object));
}

std::vector<const HostCall*> callsOf(const Instance& instance, int32_t op)
{
    std::vector<const HostCall*> out;
    for (const HostCall& c : instance.getHostCalls())
        if (c.op == op)
            out.push_back(&c);
    return out;
}

struct Planned
{
    uint32_t id;
    uint64_t index;
    size_t size;
    int32_t result;  // the double's, which are the instrument's
};

// The handover after init, in order: the tables before the routing text that plays them.
std::vector<Planned> startPlan()
{
    std::vector<Planned> plan = {{12497, 0, 12324, 1}};
    for (uint64_t i = 0; i < 15; ++i)
        plan.push_back({22362, i, 16448, 0});
    for (uint64_t i = 0; i < 15; ++i)
        plan.push_back({50789, i, 4132, 0});
    plan.insert(plan.end(), {{12499, 0, 32288, 1}, {32391, 0, 32288, 1}, {32391, 1, 32288, 1},
                             {32391, 2, 32288, 1}, {61715, 2, 1056, 0}, {35607, 0, 308012, 1}});
    return plan;
}

class EngineBlocks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        module = ModuleLibrary::linked("block double", doubleCount, doubleFill, doubleNew, doubleDelete);
        config.sampleRate = 48000.0;
        config.blockSize = 64;
        instance = std::make_unique<Instance>(*module, config);
        std::string error;
        ASSERT_TRUE(instance->create(module->identifier(0), error)) << error;
        ASSERT_TRUE(instance->start(error)) << error;
        fake = doubleOf(*instance);
    }
    uint8_t* blockOf(uint32_t id, uint64_t index = 0) const
    {
        SharedBlock* b = instance->findSharedBlock(id, index);
        return b ? b->bytes.get() : nullptr;
    }

    EngineConfig config;
    std::unique_ptr<ModuleLibrary> module;
    std::unique_ptr<Instance> instance;
    BlockInstrument* fake = nullptr;
};

TEST_F(EngineBlocks, InitHandsOverEveryBlockWithSubCommandZero)
{
    const std::vector<Planned> plan = startPlan();
    const auto& blocks = instance->getSharedBlocks();
    ASSERT_EQ(blocks.size(), plan.size());
    ASSERT_EQ(fake->commands.size(), plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
        const BlockInstrument::Command& c = fake->commands[i];
        EXPECT_EQ(blocks[i]->id, plan[i].id) << i;
        EXPECT_EQ(blocks[i]->size, plan[i].size) << i;
        EXPECT_EQ(c.id, plan[i].id) << i;  // the id word was in the block when it arrived
        EXPECT_EQ(c.index, plan[i].index) << i;
        EXPECT_EQ(c.sub, 0u) << i;
        EXPECT_EQ(c.block, blocks[i]->bytes.get()) << i;
        EXPECT_EQ(c.result, plan[i].result) << i;
        EXPECT_EQ(blocks[i]->result, plan[i].result) << i;
        EXPECT_EQ(c.flags, plan[i].id == 50789 ? kFlagResettable : 0u) << i;
    }

    // Routing text sub-command 0 reports the parameter-change block, then itself; the canvas
    // reports itself once drawn.
    const auto notes = callsOf(*instance, kHostNotify);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0]->blockId, 12497u);
    EXPECT_EQ(notes[1]->blockId, 12499u);
    EXPECT_EQ(notes[2]->blockId, 35607u);
    for (const HostCall* c : notes)
        EXPECT_EQ(c->a, 1);
    EXPECT_EQ(instance->getCanvasDumpCount(), 1u);
    ASSERT_EQ(instance->getCanvasDump().size(), PixelCanvasBlock::kSize);
    EXPECT_EQ(readU16(instance->getCanvasDump().data(), PixelCanvasBlock::kWidthOffset), 384);
    EXPECT_EQ(readU16(instance->getCanvasDump().data(), PixelCanvasBlock::kHeightOffset), 272);
}

TEST_F(EngineBlocks, NotifiedBlocksAreReadByTheirId)
{
    FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    instance->setLog(log);
    fake->setTextSlot(1, "Song \"one\"\nline two");
    fake->publishImagePath("/tmp/zrg1234.png");
    std::memcpy(blockOf(RoutingTextBlock::kId) + RoutingTextBlock::kTextOffset, "source=STEP0", 13);
    fake->callHost(kHostNotify, 1, blockOf(RoutingTextBlock::kId));
    // No terminator anywhere in the text area: the text ends with the block.
    uint8_t* slot2 = blockOf(TextSlotBlock::kId, 2);
    std::memset(slot2 + TextSlotBlock::kTextOffset, 'x', TextSlotBlock::kTextBytes);
    fake->callHost(kHostNotify, 1, slot2);
    // A value other than 1 and 2 is a raw notification: nothing is read.
    fake->callHost(kHostNotify, 0x500000007, slot2);

    EXPECT_EQ(instance->getTextSlots().at(1), "Song \"one\"\nline two");
    EXPECT_EQ(instance->getTextSlots().at(2), std::string(TextSlotBlock::kTextBytes, 'x'));
    EXPECT_EQ(instance->getImagePath(), "/tmp/zrg1234.png");
    EXPECT_EQ(instance->getRoutingText(), "source=STEP0");
    const auto notes = callsOf(*instance, kHostNotify);
    ASSERT_EQ(notes.size(), 8u);  // three from the handover
    EXPECT_EQ(notes[7]->a, 0x500000007);
    EXPECT_EQ(notes[7]->text, "");
    EXPECT_EQ(notes[7]->payload.size(), kHeaderSize);

    std::fflush(log);
    std::rewind(log);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, log)) > 0;)
        text.append(buffer, n);
    std::fclose(log);
    instance->setLog(nullptr);
    EXPECT_NE(text.find("block=32391 index=1 text=\"Song \\\"one\\\"\\nline two\""), std::string::npos) << text;
    EXPECT_NE(text.find("block=61715 index=2 text=\"/tmp/zrg1234.png\""), std::string::npos) << text;
}

TEST_F(EngineBlocks, ParameterChangesReachTheValueTable)
{
    instance->clearHostCalls();
    uint8_t* table = blockOf(ParameterChangeBlock::kId);
    fake->reportValue(800, 1, 0.5f);
    fake->reportValue(801, 2, 0.0f);
    fake->reportValue(801, 2, 0.0f);
    EXPECT_EQ(callsOf(*instance, kHostNotify).size(), 1u);  // re-read marks call nobody
    EXPECT_EQ(instance->getItemValues()[800], 0.5f);
    EXPECT_EQ(readU32(table, ParameterChangeBlock::kCountOffset), 1u);

    fake->reportValue(802, 1, 0.25f);
    const auto notes = callsOf(*instance, kHostNotify);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1]->a, 2);
    EXPECT_EQ(notes[1]->items, std::vector<uint16_t>{801});
    EXPECT_EQ(readU32(table, ParameterChangeBlock::kCountOffset), 0u);  // the engine emptied it
    EXPECT_EQ(instance->getItemValues()[801], 0.0f);  // the marker is no value
    EXPECT_EQ(instance->getItemValues()[802], 0.25f);
    EXPECT_EQ(instance->getItemValues()[800], 0.5f);

    // Items past the value table's 1792 are read but go nowhere.
    fake->reportValue(2000, 1, 3.0f);
    EXPECT_EQ(callsOf(*instance, kHostNotify).size(), 3u);

    // A count beyond the list: at most 2048 entries are read.
    writeU32(table, ParameterChangeBlock::kCountOffset, 0xFFFFFFFF);
    fake->callHost(kHostNotify, 2, table);
    EXPECT_EQ(callsOf(*instance, kHostNotify).back()->items.size(), ParameterChangeBlock::kEntries);
    EXPECT_EQ(readU32(table, ParameterChangeBlock::kCountOffset), 0u);

    // Routing text sub-command 2 zeroes the table and reports it with a = 1: a new starting
    // point, not 0.0 for every item.
    ASSERT_EQ(instance->sendExtension(*instance->findSharedBlock(RoutingTextBlock::kId), 2), 1);
    EXPECT_EQ(callsOf(*instance, kHostNotify).back()->blockId, 12497u);
    EXPECT_EQ(instance->getItemValues()[802], 0.25f);
    fake->reportValue(802, 1, 0.75f);
    EXPECT_EQ(instance->getItemValues()[802], 0.75f);
}

TEST_F(EngineBlocks, HostRecordsAreCopiedDuringTheCall)
{
    instance->clearHostCalls();
    fake->notifyRange(3, 5);
    uint8_t info[128];
    for (size_t i = 0; i < sizeof info; ++i)
        info[i] = uint8_t(i * 3);
    fake->setDisplayInfo(info);
    fake->sendSysEx(BlockInstrument::kSysEx, sizeof BlockInstrument::kSysEx);

    const auto& calls = instance->getHostCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].op, 10);
    EXPECT_EQ(calls[0].a, 0);
    uint64_t range[2];
    ASSERT_EQ(calls[0].payload.size(), sizeof range);
    std::memcpy(range, calls[0].payload.data(), sizeof range);
    EXPECT_EQ(range[0], 771u);
    EXPECT_EQ(range[1], 773u);

    EXPECT_EQ(calls[1].op, 11);
    EXPECT_EQ(calls[1].a, 33028);
    ASSERT_EQ(calls[1].payload.size(), 33028u);
    EXPECT_EQ(readU32(calls[1].payload.data(), 0), 2123u);
    EXPECT_EQ(std::memcmp(calls[1].payload.data() + 4, info, sizeof info), 0);

    EXPECT_EQ(calls[2].op, 12);
    EXPECT_EQ(calls[2].a, 48);
    EXPECT_EQ(calls[2].extra, std::vector<uint8_t>(std::begin(BlockInstrument::kSysEx),
                                                   std::end(BlockInstrument::kSysEx)));
}

SampleData toneSample(size_t count)
{
    SampleData s;
    s.rate = 8000;
    for (size_t i = 0; i < count; ++i)
        s.samples.push_back(int16_t(std::lround(16000.0 * std::sin(2.0 * M_PI * 1000.0 * double(i) / 8000.0))));
    s.markers.push_back({0, SampleBlock::kNoteMarker});
    return s;
}

TEST_F(EngineBlocks, SampleIsFormattedFilledAndHandedOverAgain)
{
    const size_t before = fake->commands.size();
    EXPECT_EQ(instance->handOverSample(toneSample(16000)), 0);
    ASSERT_EQ(fake->commands.size(), before + 2);
    EXPECT_EQ(fake->commands[before].id, SampleBlock::kId);
    EXPECT_EQ(fake->commands[before].sub, 0u);
    EXPECT_EQ(fake->commands[before + 1].sub, 1u);
    EXPECT_EQ(fake->sampleLength, 16000u);
    EXPECT_EQ(fake->sampleRate, 8000u);
    const uint8_t* p = blockOf(SampleBlock::kId);
    EXPECT_EQ(p[SampleBlock::kKindsOffset], SampleBlock::kNoteMarker);
    EXPECT_EQ(int16_t(readU16(p, SampleBlock::kSamplesOffset + 2)), toneSample(2).samples[1]);

    // Too many samples and markers are cut to the block; a later, smaller hand-over leaves none
    // of the earlier markers behind.
    SampleData big = toneSample(SampleBlock::kMaxSamples + 5000);
    big.markers.assign(200, {7, SampleBlock::kNoteMarker});
    instance->handOverSample(big);
    EXPECT_EQ(readU32(p, SampleBlock::kLengthOffset), SampleBlock::kMaxSamples);
    EXPECT_EQ(fake->sampleLength, SampleBlock::kMaxSamples);
    EXPECT_EQ(p[SampleBlock::kKindsOffset + 127], SampleBlock::kNoteMarker);
    instance->handOverSample(toneSample(10));
    EXPECT_EQ(p[SampleBlock::kKindsOffset + 1], 0);
    EXPECT_EQ(readU32(p, SampleBlock::kPositionsOffset + 4), 0u);
    EXPECT_EQ(instance->getSharedBlocks().size(), startPlan().size() + 1);  // one sample block
}

TEST_F(EngineBlocks, MediaFilesGoThroughTheFilePathBlock)
{
    fixtures::TempDir dir;
    const std::string tune = dir.write("tune.sid", "PSID");
    EXPECT_EQ(instance->openMediaFile(tune), 0);
    EXPECT_EQ(fake->openedPath, tune);
    EXPECT_EQ(fake->commands.back().index, 0u);
    EXPECT_EQ(fake->commands.back().sub, 1u);
    EXPECT_EQ(instance->getTextSlots().at(1), "tune.sid");
    EXPECT_EQ(instance->openMediaFile(dir / "missing.sid"), -1);

    const size_t sent = fake->commands.size();
    const std::string longest(FilePathBlock::kPathBytes - 1, 'a');
    EXPECT_EQ(instance->openMediaFile(longest), -1);  // refused by the double: no such file
    ASSERT_EQ(fake->commands.size(), sent + 1);
    const uint8_t* p = blockOf(FilePathBlock::kId, 0);
    EXPECT_EQ(boundedTextLength(p, FilePathBlock::kPathOffset, FilePathBlock::kPathBytes), longest.size());

    // Not sent: too long for the block, a zero inside, an index that names no media slot.
    EXPECT_EQ(instance->openMediaFile(longest + "a"), -1);
    EXPECT_EQ(instance->openMediaFile(std::string("a\0b", 3)), -1);
    EXPECT_EQ(instance->openMediaFile(tune, 2), -1);
    EXPECT_EQ(fake->commands.size(), sent + 1);
    EXPECT_EQ(instance->openMediaFile(tune, 1), 0);
    EXPECT_NE(instance->findSharedBlock(FilePathBlock::kId, 1), nullptr);
}

TEST_F(EngineBlocks, StateRestoresIntoANewInstance)
{
    vantor::HDMIDIEvent e;
    e.kind = 0xB0;
    e.index = 5;
    e.value = 0.5f;
    vantor::HDMIDIEvent media = e;
    media.index = 400;
    media.value = 0.7f;
    ASSERT_EQ(instance->process(64, {e, media}), 2);
    fake->reportValue(900, 1, 0.25f);
    fake->setTextSlot(1, "song");
    instance->handOverSample(toneSample(100));
    const EngineState state = instance->saveState();
    EXPECT_EQ(state.values[5], 0.5f);
    EXPECT_EQ(state.values[400], 0.7f);
    EXPECT_EQ(state.values[900], 0.25f);
    ASSERT_EQ(state.blocks.size(), startPlan().size() + 1);

    Instance restored(*module, config);
    std::string error;
    ASSERT_TRUE(restored.create(module->identifier(0), error)) << error;
    ASSERT_TRUE(restored.restoreState(state, error)) << error;
    BlockInstrument* second = doubleOf(restored);
    ASSERT_EQ(second->commands.size(), state.blocks.size());
    for (size_t i = 0; i < state.blocks.size(); ++i) {
        const BlockInstrument::Command& c = second->commands[i];
        EXPECT_EQ(c.id, state.blocks[i].id) << i;
        EXPECT_EQ(c.index, state.blocks[i].index) << i;
        EXPECT_EQ(c.sub, c.id == PixelCanvasBlock::kId ? 0u : 1u) << i;
        EXPECT_EQ(c.checksum, blockChecksum(state.blocks[i].bytes.data(), state.blocks[i].bytes.size())) << i;
        EXPECT_NE(c.block, state.blocks[i].bytes.data()) << i;
    }
    EXPECT_EQ(second->sampleLength, 100u);
    EXPECT_STREQ(reinterpret_cast<const char*>(second->textSlots.at(1) + TextSlotBlock::kTextOffset), "song");

    // One zero-frame block of values at offset 0, the media transport left out.
    ASSERT_EQ(second->received.size(), kControllerItems - 128);
    for (const BlockInstrument::Received& r : second->received) {
        EXPECT_EQ(r.frames, 0u);
        EXPECT_EQ(r.event.kind, 0xB0u);
        EXPECT_EQ(r.event.sampleOffset, 0u);
        EXPECT_TRUE(r.event.index < 384 || r.event.index >= 512) << r.event.index;
    }
    EXPECT_EQ(second->received[5].event.value, 0.5f);
    EXPECT_EQ(restored.getItemValues()[5], 0.5f);
    EXPECT_EQ(restored.getItemValues()[900], 0.25f);
    EXPECT_EQ(restored.getItemValues()[400], 0.0f);  // from the new instance's controller map

    EXPECT_FALSE(restored.restoreState(state, error));
    EXPECT_EQ(error, "instance already started");
}

TEST_F(EngineBlocks, RestoreMendsWhatTheStateLacks)
{
    EngineState state = instance->saveState();
    state.blocks.erase(state.blocks.begin());  // no parameter-change block
    for (EngineState::Block& b : state.blocks)
        if (b.id == RoutingTextBlock::kId)
            b.bytes.resize(16);  // a routing block cut short
    state.blocks.push_back({4321, 0, std::vector<uint8_t>(64)});  // an id the engine never hands over

    Instance restored(*module, config);
    std::string error;
    ASSERT_TRUE(restored.create(module->identifier(0), error)) << error;
    ASSERT_TRUE(restored.restoreState(state, error)) << error;
    BlockInstrument* second = doubleOf(restored);
    EXPECT_EQ(restored.getSharedBlocks().size(), startPlan().size());
    EXPECT_EQ(restored.findSharedBlock(RoutingTextBlock::kId)->size, RoutingTextBlock::kSize);
    EXPECT_EQ(restored.findSharedBlock(4321), nullptr);
    ASSERT_FALSE(second->commands.empty());
    EXPECT_EQ(second->commands.back().id, ParameterChangeBlock::kId);  // fresh, with sub-command 0
    EXPECT_EQ(second->commands.back().sub, 0u);
}

std::vector<uint8_t> canvasBlock(uint16_t width, uint16_t height)
{
    std::vector<uint8_t> b(PixelCanvasBlock::kSize, 0);
    writeU16(b.data(), PixelCanvasBlock::kWidthOffset, width);
    writeU16(b.data(), PixelCanvasBlock::kHeightOffset, height);
    b[PixelCanvasBlock::kRedOffset + 3] = 10;
    b[PixelCanvasBlock::kGreenOffset + 3] = 20;
    b[PixelCanvasBlock::kBlueOffset + 3] = 30;
    b[PixelCanvasBlock::kPixelsOffset + width + 1] = 3;  // (1, 1)
    return b;
}

TEST(CanvasImage, PixelsAreLookedUpInThePalettes)
{
    const std::vector<uint8_t> block = canvasBlock(4, 2);
    vantor::engine::CanvasImage image;
    std::string error;
    ASSERT_TRUE(vantor::engine::readCanvasImage(block.data(), block.size(), image, error)) << error;
    EXPECT_EQ(image.width, 4u);
    EXPECT_EQ(image.height, 2u);
    std::vector<uint8_t> want(4 * 2 * 3, 0);
    want[3 * 5] = 10;
    want[3 * 5 + 1] = 20;
    want[3 * 5 + 2] = 30;
    EXPECT_EQ(image.rgb, want);

    fixtures::TempDir dir;
    ASSERT_TRUE(vantor::engine::writeCanvasImage(image, dir / "c.ppm", error)) << error;
    EXPECT_EQ(fixtures::readFile(dir / "c.ppm"),
              "P6\n4 2\n255\n" + std::string(want.begin(), want.end()));

    ASSERT_TRUE(vantor::engine::writeCanvasImage(image, dir / "c.png", error)) << error;
    const std::string png = fixtures::readFile(dir / "c.png");
    ASSERT_GT(png.size(), 8u + 25 + 12 + 12);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    const size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    const uint32_t length = uint32_t(uint8_t(png[idat - 4])) << 24 | uint32_t(uint8_t(png[idat - 3])) << 16 |
                            uint32_t(uint8_t(png[idat - 2])) << 8 | uint32_t(uint8_t(png[idat - 1]));
    std::vector<uint8_t> rows(2 * (1 + 4 * 3));
    uLongf rowsSize = uLongf(rows.size());
    ASSERT_EQ(uncompress(rows.data(), &rowsSize, reinterpret_cast<const Bytef*>(png.data() + idat + 4), length), Z_OK);
    ASSERT_EQ(rowsSize, rows.size());
    EXPECT_EQ(rows[0], 0);
    EXPECT_EQ(std::vector<uint8_t>(rows.begin() + 1, rows.begin() + 13), std::vector<uint8_t>(want.begin(), want.begin() + 12));
    EXPECT_EQ(std::vector<uint8_t>(rows.begin() + 14, rows.end()), std::vector<uint8_t>(want.begin() + 12, want.end()));
    EXPECT_EQ(png.substr(png.size() - 8, 4), "IEND");
}

TEST(CanvasImage, BlocksThatHoldNoPictureAreRefused)
{
    const struct
    {
        std::vector<uint8_t> block;
        const char* message;
    } kCases[] = {
        {std::vector<uint8_t>(PixelCanvasBlock::kSize - 1, 0), "no canvas block"},
        {canvasBlock(0, 10), "the canvas has no size"},
        {canvasBlock(10, 0), "the canvas has no size"},
        {canvasBlock(640, 481), "the canvas size 640x481 does not fit its pixel area"},
    };
    for (const auto& c : kCases) {
        vantor::engine::CanvasImage image;
        std::string error;
        EXPECT_FALSE(vantor::engine::readCanvasImage(c.block.data(), c.block.size(), image, error));
        EXPECT_EQ(error, c.message);
    }
    vantor::engine::CanvasImage image;
    std::string error;
    EXPECT_TRUE(vantor::engine::readCanvasImage(canvasBlock(640, 480).data(), PixelCanvasBlock::kSize, image, error));
}

// The command-line host, standard error folded into the output.
struct CommandResult
{
    int exitCode = -1;
    std::string output;
};

CommandResult run(const std::string& command)
{
    CommandResult r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return r;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string quoted(const std::string& s)
{
    return "'" + s + "'";
}

std::string asString(const fixtures::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

bool exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

TEST(CommandLineHostBlocks, FileCanvasAndSysExGoThroughTheEngine)
{
    fixtures::TempDir dir;
    const std::string tune = dir.write("tune.sid", asString(fixtures::PsidBuilder().code({0x60, 0x60}).bytes()));
    const std::string script = dir.write("s.txt", "0.01 master 4 0\n0.02 master 4 0\n");
    const std::string base = quoted(C64RENDER_PATH) + " --module " + quoted(BLOCK_MODULE_PATH) + " --seconds 0.05";
    const std::string out = " -o " + quoted(dir / "out.wav");
    const CommandResult r = run(base + out + " " + quoted(tune) + " --script " + quoted(script) + " --canvas " +
                                quoted(dir / "c.ppm") + " --syx " + quoted(dir / "out.syx") + " --log " +
                                quoted(dir / "log.txt"));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string ppm = fixtures::readFile(dir / "c.ppm");
    const std::string header = "P6\n384 272\n255\n";
    EXPECT_EQ(ppm.substr(0, header.size()), header);
    EXPECT_EQ(ppm.size(), header.size() + 384 * 272 * 3);
    const std::string one(reinterpret_cast<const char*>(BlockInstrument::kSysEx), sizeof BlockInstrument::kSysEx);
    EXPECT_EQ(fixtures::readFile(dir / "out.syx"), one + one);
    const std::string log = fixtures::readFile(dir / "log.txt");
    EXPECT_NE(log.find("extension 61715 index=0 sub=1 result=0"), std::string::npos) << log;
    EXPECT_NE(log.find("block=32391 index=1 text=\"tune.sid\""), std::string::npos) << log;

    const CommandResult png = run(base + out + " --canvas " + quoted(dir / "c.png"));
    ASSERT_EQ(png.exitCode, 0) << png.output;
    EXPECT_EQ(fixtures::readFile(dir / "c.png").substr(1, 3), "PNG");

    // Files the readers would refuse, and outputs that cannot be written: each named with its
    // reason before anything renders, and no WAV left behind.
    const fixtures::Bytes psid = fixtures::PsidBuilder().code({0x60, 0x60}).bytes();
    const std::string deep = std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(100, 'c') + "/" +
                             std::string(100, 'd') + "/" + std::string(100, 'e') + "/tune.sid";
    const std::string zip = dir.write("songs.zip", asString(fixtures::makeZip({{"tune.sid", asString(psid)}})));
    const std::string pastTheTop = dir.write(
        "high.sid", asString(fixtures::PsidBuilder().load(0xFF00).init(0xFF00).code(fixtures::Bytes(0x101, 0x60)).bytes()));
    const struct
    {
        std::string file;  // an input file, or "" for options alone
        std::string options;
        int exitCode;
        std::string message;  // after "cannot render FILE: " when there is a file
    } kCases[] = {
        {dir / "none.sid", "", 1, "No such file or directory"},
        {dir.makeFolder("folder.sid"), "", 1, "Is a directory"},
        {dir.write("empty.prg", ""), "", 1, "empty file"},
        {dir.write("ten.sid", "ten bytes!"), "", 1, "too short (10 bytes)"},
        {dir.write("cut.sid", asString(psid).substr(0, 100)), "", 1, "not a PSID/RSID tune"},
        {dir.write("TUNE.SID", "a text file that is no tune\n"), "", 1, "not a PSID/RSID tune"},
        {pastTheTop, "", 1, "the data runs past $FFFF (load $FF00, 257 bytes)"},
        {dir.write("song.mus", std::string(200, '\x01')), "", 1,
         "a .mus file needs its player program; render the .sid that holds both"},
        {dir.write("disk.d64", std::string(1000, '\0')), "", 1, "not a D64 image (1000 bytes)"},
        {dir.write("disk.G64", std::string(1000, '\0')), "", 1, "not a G64 image (1000 bytes)"},
        {dir.write("cart.crt", std::string(9000, '\0')), "", 1, "not a CRT cartridge (9000 bytes)"},
        {dir.write("log.vgm", std::string(300, 'x')), "", 1, "not a VGM file (300 bytes)"},
        {zip, "", 1, "the archive holds no .vgm, .vgz or .gz song"},
        {dir.write(deep, asString(psid)), "", 1, "the path is longer than 511 bytes"},
        {tune, "-o " + quoted(tune), 2, "-o " + tune + " would overwrite " + tune},
        {"", "--canvas " + quoted(dir / "no/such/folder/c.ppm"), 2,
         "--canvas " + dir / "no/such/folder/c.ppm" + ": No such file or directory"},
        {"", "--canvas " + quoted(dir / "c.jpg"), 2, "--canvas " + dir / "c.jpg" + ": the canvas is written as .png or .ppm"},
        {"", "--syx " + quoted(dir / "no/such/folder/o.syx"), 1, "cannot write"},
        {"", "--data " + quoted(dir / "no/such"), 2, "--data " + dir / "no/such" + ": No such file or directory"},
        {"", "--data " + quoted(tune), 2, "--data " + tune + ": Not a directory"},
        {"", "--chipdb " + quoted(dir / "no/such.db"), 2, "--chipdb " + dir / "no/such.db" + ": No such file"},
        {"", "--import " + quoted(dir / "no/such.vgmx"), 2, "--import " + dir / "no/such.vgmx" + ": No such file"},
    };
    const std::string bad = dir / "bad.wav";
    for (const auto& c : kCases) {
        const std::string file = c.file.empty() ? "" : " " + quoted(c.file);
        const CommandResult result = run(base + " -o " + quoted(bad) + file + " " + c.options);
        const std::string message = c.file.empty() || c.exitCode == 2 ? c.message
                                                                       : "cannot render " + c.file + ": " + c.message;
        EXPECT_EQ(result.exitCode, c.exitCode) << c.file << " " << c.options << "\n" << result.output;
        EXPECT_NE(result.output.find("c64render: " + message), std::string::npos)
            << c.file << " " << c.options << "\n" << result.output;
        EXPECT_FALSE(exists(bad)) << c.file << " " << c.options;
        std::remove(bad.c_str());
    }
    EXPECT_FALSE(exists(dir / "c.jpg"));
    EXPECT_EQ(fixtures::readFile(tune), asString(psid)) << "-o the input file leaves it as it was";

    // A module that never formats the canvas leaves nothing to write, and the WAV it rendered
    // goes too.
    const CommandResult sine = run(quoted(C64RENDER_PATH) + " --module " + quoted(SINE_MODULE_PATH) +
                                   " --seconds 0.01 -o " + quoted(dir / "s.wav") + " --canvas " +
                                   quoted(dir / "s.ppm"));
    EXPECT_EQ(sine.exitCode, 1);
    EXPECT_NE(sine.output.find("the canvas has no size"), std::string::npos) << sine.output;
    EXPECT_FALSE(exists(dir / "s.wav"));
    EXPECT_FALSE(exists(dir / "s.ppm"));
    // Files already there keep their bytes, and no temporary file stays.
    const std::string oldWav = dir.write("s.wav", "an older render"), oldPpm = dir.write("s.ppm", "an older canvas");
    const auto listing = fixtures::folderContents(dir.path());
    const CommandResult again = run(quoted(C64RENDER_PATH) + " --module " + quoted(SINE_MODULE_PATH) +
                                    " --seconds 0.01 -o " + quoted(oldWav) + " --canvas " + quoted(oldPpm));
    EXPECT_EQ(again.exitCode, 1) << again.output;
    EXPECT_NE(again.output.find("cannot write the canvas to " + oldPpm + ": "), std::string::npos) << again.output;
    EXPECT_EQ(fixtures::readFile(oldWav), "an older render");
    EXPECT_EQ(fixtures::readFile(oldPpm), "an older canvas");
    EXPECT_TRUE(fixtures::folderContents(dir.path()) == listing);
}

// An output that names an input or another output, also through a link or a "..", stops the
// render before anything is written: every file stays as it was and none is added.
TEST(CommandLineHostBlocks, AnOutputNeverOverwritesAnInput)
{
    fixtures::TempDir dir;
    const std::string tune = dir.write("tune.sid", asString(fixtures::PsidBuilder().code({0x60, 0x60}).bytes()));
    const std::string script = dir.write("s.txt", "0.01 master 4 0\n");
    const std::string picture = dir.write("picture.png", "a capture that happens to end in .png");
    const std::string chips = dir.write("chips.db", "a chip database");
    const std::string module = dir.write("module.so", fixtures::readFile(BLOCK_MODULE_PATH));
    dir.makeFolder("sub");
    const std::string link = dir / "link.txt";
    ASSERT_EQ(symlink(script.c_str(), link.c_str()), 0);
    const std::string base = quoted(C64RENDER_PATH) + " --module " + quoted(BLOCK_MODULE_PATH) + " --seconds 0.05 ";
    const std::string out = dir / "out.wav", syx = dir / "out.syx";
    const struct
    {
        std::string options;
        std::string message;
    } kCases[] = {
        {"-o " + quoted(script) + " --script " + quoted(script), "-o " + script + " would overwrite --script " + script},
        {quoted(tune) + " -o " + quoted(out) + " --export " + quoted(tune), "--export " + tune + " would overwrite " + tune},
        {"-o " + quoted(out) + " --canvas " + quoted(picture) + " --import " + quoted(picture),
         "--canvas " + picture + " would overwrite --import " + picture},
        {"-o " + quoted(syx) + " --syx " + quoted(syx), "--syx " + syx + " would overwrite -o " + syx},
        {"-o " + quoted(link) + " --script " + quoted(script), "-o " + link + " would overwrite --script " + script},
        {"-o " + quoted(dir / "sub/../s.txt") + " --script " + quoted(script),
         "-o " + dir / "sub/../s.txt" + " would overwrite --script " + script},
        {"-o " + quoted(out) + " --syx " + quoted(dir / "new.syx") + " --log " + quoted(dir / "sub/../new.syx"),
         "--log " + dir / "sub/../new.syx" + " would overwrite --syx " + dir / "new.syx"},
        {"-o " + quoted(chips) + " --chipdb " + quoted(chips), "-o " + chips + " would overwrite --chipdb " + chips},
        {"--module " + quoted(module) + " -o " + quoted(module), "-o " + module + " would overwrite --module " + module},
    };
    const auto listing = fixtures::folderContents(dir.path());
    for (const auto& c : kCases) {
        const CommandResult r = run(base + c.options);
        EXPECT_EQ(r.exitCode, 2) << c.options << "\n" << r.output;
        EXPECT_NE(r.output.find("c64render: " + c.message), std::string::npos) << c.options << "\n" << r.output;
        EXPECT_TRUE(fixtures::folderContents(dir.path()) == listing) << c.options;
    }
}

// Files the readers open but from which nothing would play: each named with its reason before
// anything renders, exit 1, nothing written; the ones that play beside them.
TEST(CommandLineHostBlocks, FilesThatCannotPlayStopBeforeRendering)
{
    fixtures::TempDir dir;
    fixtures::Bytes high = {0x00, 0xF0};
    high.resize(2 + 5000, 0xEA);
    fixtures::Bytes basic = {0x01, 0x08, 0x0B, 0x08, 0x0A, 0x00, 0x9E, 0x32, 0x30, 0x36, 0x31, 0x00, 0x00, 0x00};
    fixtures::Bytes atC000 = {0x00, 0xC0, 0x60, 0x60};
    fixtures::D64Builder wrongStart, starts, tooLong;
    wrongStart.addFile("TUNE", atC000);
    wrongStart.addFile("LOADER", basic);
    starts.addFile("LOADER", basic);
    fixtures::Bytes huge = {0x01, 0x08};
    huge.resize(2 + 0x10000 - 0x0801 + 1, 0xEA);
    tooLong.addFile("BIG", huge);
    fixtures::T64Entry tapeEntry;
    tapeEntry.start = 0xF000;
    tapeEntry.data = fixtures::Bytes(5000, 0xEA);
    fixtures::Bytes g64(1000, 0);
    std::memcpy(g64.data(), "GCR-1541", 8);
    const std::string supported = " is not supported (supported: 0, 5, 7, 8, 10, 15, 16, 17, 18, 19, 32, 60)";
    const std::string firstAt0801 = "; only a first file that loads at $0801 is started";
    const struct
    {
        std::string name;
        fixtures::Bytes bytes;
        std::string reason;  // "" plays
    } kCases[] = {
        {"high.prg", high, "the data runs past $FFFF (load $F000, 5000 bytes)"},
        {"fits.prg", fixtures::Bytes(high.begin(), high.begin() + 2 + 4096), ""},
        {"high.t64", fixtures::T64Builder().entry(tapeEntry).bytes(), "the data runs past $FFFF (load $F000, 5000 bytes)"},
        {"mus.sid", fixtures::PsidBuilder().init(0).play(0).flags(1).code({0x60, 0x60}).bytes(),
         "this tune holds Sidplayer MUS data, which needs its player; it is not played"},
        {"basic.sid", fixtures::PsidBuilder().rsid().flags(2).code({0x60, 0x60}).bytes(), ""},
        {"replay1.crt", fixtures::CrtBuilder(1).chip(0, 0x8000, 0x2000).bytes(),
         "cartridge hardware type 1 (Action Replay)" + supported},
        {"replay36.crt", fixtures::CrtBuilder(36).chip(0, 0x8000, 0x2000).bytes(),
         "cartridge hardware type 36 (Retro Replay)" + supported},
        {"unknown.crt", fixtures::CrtBuilder(200).chip(0, 0x8000, 0x2000).bytes(), "cartridge hardware type 200" + supported},
        {"ocean.crt", fixtures::CrtBuilder(5).chip(0, 0x8000, 0x2000).bytes(), ""},
        {"c000.d64", wrongStart.image(), "the disk's first file \"TUNE\" loads at $C000" + firstAt0801},
        {"zero.d64", fixtures::Bytes(174848, 0), "the disk lists no files"},
        {"zero.d71", fixtures::Bytes(196608, 0), "the disk lists no files"},
        {"big.d64", tooLong.image(), "the data runs past $FFFF (load $0801, 63488 bytes)"},
        {"starts.d64", starts.image(), ""},
        {"disk.d81", fixtures::Bytes(819200, 0), "D81 and G64 images are read but list no files, so nothing is started"},
        {"disk.g64", g64, "D81 and G64 images are read but list no files, so nothing is started"},
    };
    const std::string wav = dir / "out.wav";
    const std::string base = quoted(C64RENDER_PATH) + " --module " + quoted(BLOCK_MODULE_PATH) + " --seconds 0.05 -o " + quoted(wav);
    for (const auto& c : kCases) {
        const std::string file = dir.write(c.name, asString(c.bytes));
        const auto listing = fixtures::folderContents(dir.path());
        const CommandResult r = run(base + " " + quoted(file));
        if (c.reason.empty()) {
            EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.output;
            EXPECT_TRUE(exists(wav)) << c.name;
        } else {
            EXPECT_EQ(r.exitCode, 1) << c.name << "\n" << r.output;
            EXPECT_EQ(r.output, "c64render: cannot render " + file + ": " + c.reason + "\n") << c.name;
            EXPECT_TRUE(fixtures::folderContents(dir.path()) == listing) << c.name;
        }
        std::remove(wav.c_str());
        std::remove(file.c_str());
    }
}

TEST(CommandLineHostBlocks, UnreadableFileStopsBeforeRendering)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads a file without read permission";
    fixtures::TempDir dir;
    const std::string tune = dir.write("locked.sid", asString(fixtures::PsidBuilder().code({0x60, 0x60}).bytes()));
    ASSERT_EQ(chmod(tune.c_str(), 0), 0);
    const CommandResult r = run(quoted(C64RENDER_PATH) + " --module " + quoted(BLOCK_MODULE_PATH) + " -o " +
                                quoted(dir / "out.wav") + " " + quoted(tune));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot render " + tune + ": Permission denied"), std::string::npos) << r.output;
    EXPECT_FALSE(exists(dir / "out.wav"));
}

}  // namespace
