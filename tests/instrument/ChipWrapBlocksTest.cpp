// The instance and the engine's shared blocks: what each extension command formats, keeps and
// answers, and what the notifications write into the blocks and ask of the host.

#include "ChipWrapFixtures.h"
#include "ControllerDoubles.h"

#include "fixtures/TempDir.h"
#include "instrument/ExtensionBlockFormats.h"
#include "platform/PlatformTools.h"
#include "platform/PlatformToolsDesktop.h"
#include "support/VirtualFile.h"
#include "synth/SynthBase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace chipwrap_test;
using namespace ExtensionBlock;
using acme::ChipWrap;

// A host that records its requests with copies of what op 10, 11 and 12 point at.
struct RecordingHost
{
    PluginHostRecord record{&RecordingHost::function};
    struct Call
    {
        int32_t op;
        intptr_t a;
        void* b;
        std::vector<uint8_t> payload;
    };
    std::vector<Call> calls;

    static intptr_t function(PluginHostRecord* host, int32_t op, intptr_t a, void* b)
    {
        auto* self = reinterpret_cast<RecordingHost*>(host);
        Call call{op, a, b, {}};
        const auto* p = static_cast<const uint8_t*>(b);
        if (p && op == 10)
            call.payload.assign(p, p + 16);
        if (p && op == 11)
            call.payload.assign(p, p + a);
        self->calls.push_back(call);
        return 0;
    }
};
static_assert(offsetof(RecordingHost, record) == 0);

// An engine block of `size` bytes holding `id`, the rest `fill`.
std::vector<uint8_t> makeBlock(uint32_t id, size_t size, uint8_t fill = 0xA5)
{
    std::vector<uint8_t> b(size, fill);
    writeU32(b.data(), kIdOffset, id);
    return b;
}

int32_t send(ChipWrap& w, void* block, uint64_t sub = 0, uint64_t index = 0, uint32_t extra = 0)
{
    ExtensionCommandRecord r;
    r.block = block;
    r.index = index;
    r.subCommand = sub;
    r.extra = extra;
    // Through the dispatcher, as the engine sends it.
    uint32_t result = 0xDEADBEEF;
    PluginEntryRecord* e = w.getEntryRecord();
    e->dispatcher(e, kOpExtensionCommand, reinterpret_cast<intptr_t>(&r), &result);
    return int32_t(result);
}
int32_t send(ChipWrap& w, std::vector<uint8_t>& block, uint64_t sub = 0, uint64_t index = 0,
             uint32_t extra = 0)
{
    return send(w, block.data(), sub, index, extra);
}

bool allBytes(const std::vector<uint8_t>& b, size_t from, size_t to, uint8_t value)
{
    return std::all_of(b.begin() + long(from), b.begin() + long(to),
                       [value](uint8_t x) { return x == value; });
}

uint32_t flags(const std::vector<uint8_t>& b)
{
    return readU32(b.data(), kFlagsOffset);
}

// A controller without the synth part: sets the canvas size once, logs the operations the
// extension commands reach.
class BlockController : public LoggingController
{
public:
    using LoggingController::LoggingController;

    PixelCanvas* attachCanvas(PixelCanvas* c) override
    {
        log->push_back("attach");
        attached = c;
        if (c && c->rows == 0) {
            c->rows = 272;
            c->columns = 384;
        }
        canvas = c;
        return c;
    }
    bool registerTextSlot(uint64_t key, void* block, uint64_t sub, uint32_t extra) override
    {
        log->push_back(text("register %g %g %g", double(key), double(sub), extra));
        registered = block;
        return true;
    }
    bool receiveTextSlotInput(uint64_t key, const char* input) override
    {
        log->push_back(text("input %g %g", double(key), double(std::strlen(input))));
        return true;
    }
    int64_t loadMedia(int64_t index, vantor::VirtualFile* file) override
    {
        log->push_back(text("load %g", double(index)));
        loaded = file;
        return acceptMedia ? 1 : 0;
    }
    void setMediaParameter(uint32_t id, double value) override
    {
        log->push_back(text("media %g %g", id, value));
    }

    PixelCanvas* attached = nullptr;
    void* registered = nullptr;
    vantor::VirtualFile* loaded = nullptr;
    bool acceptMedia = false;
};

class BlockFactory : public acme::ChipWrapFactory
{
public:
    ChipController* createController(std::vector<ChipEmu*>* chips,
                                     ChipControllerListener* listener) const override
    {
        last = new BlockController(chips, listener, &log);
        return last;
    }
    mutable EventLog log;
    mutable BlockController* last = nullptr;
};

struct WithoutSynth
{
    WithoutSynth() : wrap(&host.record, "C64", 3, &factory) {}
    RecordingHost host;
    BlockFactory factory;
    ChipWrap wrap;
    BlockController& ctrl() { return *factory.last; }
};

// A started SID instrument whose engine has registered the parameter-change and routing blocks.
struct WithSynth
{
    WithSynth() : s(48000.0, 256, 2123, true, &host.record)
    {
        EXPECT_EQ(send(*s.wrap, parameters), 1);
        EXPECT_EQ(send(*s.wrap, routing), 1);
        host.calls.clear();
    }
    ChipWrap& wrap() { return *s.wrap; }
    ZRS::SynthBase& synth() { return s.spy(); }
    float value(uint16_t item) const
    {
        return readF32(parameters.data(), ParameterChangeBlock::kValuesOffset + 4 * size_t(item));
    }
    uint32_t listed() const { return readU32(parameters.data(), ParameterChangeBlock::kCountOffset); }

    RecordingHost host;
    Started s;
    std::vector<uint8_t> parameters = makeBlock(ParameterChangeBlock::kId, ParameterChangeBlock::kSize);
    std::vector<uint8_t> routing = makeBlock(RoutingTextBlock::kId, RoutingTextBlock::kSize);
};

TEST(ExtensionCommands, NullRecordsNullBlocksAndUnknownIdsAnswerMinusOne)
{
    WithoutSynth t;
    uint32_t result = 0;
    PluginEntryRecord* e = t.wrap.getEntryRecord();
    e->dispatcher(e, kOpExtensionCommand, 0, &result);
    EXPECT_EQ(int32_t(result), -1);
    EXPECT_EQ(send(t.wrap, nullptr), -1);
    std::vector<uint8_t> unknown = makeBlock(1234, 64);
    const std::vector<uint8_t> before = unknown;
    EXPECT_EQ(send(t.wrap, unknown), -1);
    EXPECT_EQ(unknown, before);
    std::vector<uint8_t> ignored = makeBlock(kIgnoredId, 64);
    EXPECT_EQ(send(t.wrap, ignored, 5, 9), 0);
    EXPECT_EQ(ignored, makeBlock(kIgnoredId, 64));
    EXPECT_TRUE(t.host.calls.empty());
}

TEST(ExtensionCommands, SynthBlocksWithoutASynthAreRefusedBeforeLocking)
{
    WithoutSynth t;
    for (const auto& [id, size] : {std::pair<uint32_t, size_t>{ParameterChangeBlock::kId, ParameterChangeBlock::kSize},
                                   {RoutingTextBlock::kId, RoutingTextBlock::kSize},
                                   {StepTableBlock::kId, StepTableBlock::kSize},
                                   {SampleBlock::kId, SampleBlock::kSize},
                                   {CurveBlock::kId, CurveBlock::kSize}}) {
        std::vector<uint8_t> block = makeBlock(id, size);
        int32_t result = 0;
        EXPECT_FALSE(waitsForTheMutex(t.wrap.getMutex(), [&] { result = send(t.wrap, block); })) << id;
        EXPECT_EQ(result, -1) << id;
        EXPECT_EQ(block, makeBlock(id, size)) << id;
    }
    EXPECT_EQ(t.wrap.getParameterChangeBlock(), nullptr);
    EXPECT_EQ(t.wrap.getRoutingTextBlock(), nullptr);
}

TEST(ExtensionCommands, WhichIdsTakeTheLock)
{
    WithSynth t;
    const struct
    {
        uint32_t id;
        size_t size;
        uint64_t index;
        bool locks;
    } kCases[] = {
        {PixelCanvasBlock::kId, PixelCanvasBlock::kSize, 0, false},
        {kIgnoredId, 64, 0, false},
        {ParameterChangeBlock::kId, ParameterChangeBlock::kSize, 0, true},
        {StepTableBlock::kId, StepTableBlock::kSize, 0, true},
        {CurveBlock::kId, CurveBlock::kSize, 0, true},
        {TextSlotBlock::kId, TextSlotBlock::kSize, 7, true},
        {SampleBlock::kId, SampleBlock::kSize, 0, true},
        {FilePathBlock::kId, FilePathBlock::kMinSize, 3, true},
    };
    for (const auto& c : kCases) {
        std::vector<uint8_t> block = makeBlock(c.id, c.size);
        EXPECT_EQ(waitsForTheMutex(t.wrap().getMutex(), [&] { send(t.wrap(), block, 0, c.index); }),
                  c.locks)
            << c.id;
    }
}

TEST(ExtensionCommands, CanvasIsFormattedAndAttachedOnlyBySubCommandZero)
{
    WithoutSynth t;
    std::vector<uint8_t> first = makeBlock(PixelCanvasBlock::kId, PixelCanvasBlock::kSize);
    for (const auto& [sub, result] : {std::pair<uint64_t, int32_t>{1, 1}, {2, 1}, {3, 0}}) {
        EXPECT_EQ(send(t.wrap, first, sub), result) << sub;
        EXPECT_EQ(t.wrap.getCanvasBlock(), first.data());
    }
    EXPECT_EQ(first, makeBlock(PixelCanvasBlock::kId, PixelCanvasBlock::kSize));
    EXPECT_TRUE(t.factory.log.empty());

    EXPECT_EQ(send(t.wrap, first, 0), 1);
    EXPECT_EQ(t.factory.log, EventLog{"attach"});
    EXPECT_EQ(readU32(first.data(), kIdOffset), PixelCanvasBlock::kId);
    EXPECT_EQ(readU32(first.data(), kSizeOffset), PixelCanvasBlock::kSize);
    EXPECT_EQ(flags(first), 0u);
    EXPECT_TRUE(allBytes(first, PixelCanvasBlock::kPixelsOffset, PixelCanvasBlock::kSize, 0));
    EXPECT_EQ(readU16(first.data(), PixelCanvasBlock::kWidthOffset), 384);
    EXPECT_EQ(readU16(first.data(), PixelCanvasBlock::kHeightOffset), 272);
    const PixelCanvas& c = t.wrap.getCanvas();
    EXPECT_EQ(t.ctrl().attached, &c);
    EXPECT_EQ(c.red, first.data() + 0x2C);
    EXPECT_EQ(c.green, first.data() + 0x12C);
    EXPECT_EQ(c.blue, first.data() + 0x22C);
    EXPECT_EQ(c.pixels, first.data() + 0x32C);
    EXPECT_EQ(c.keepsOwnPalette, 0u);
    ASSERT_NE(c.listener, nullptr);
    c.listener->canvasChanged();
    ASSERT_EQ(t.host.calls.size(), 1u);
    EXPECT_EQ(t.host.calls[0].op, 8);
    EXPECT_EQ(t.host.calls[0].a, 1);
    EXPECT_EQ(t.host.calls[0].b, first.data());

    // A new block: formatted and the same descriptor attached again, its size kept.
    std::vector<uint8_t> second = makeBlock(PixelCanvasBlock::kId, PixelCanvasBlock::kSize);
    t.ctrl().attached = nullptr;
    EXPECT_EQ(send(t.wrap, second, 0), 1);
    EXPECT_EQ(t.ctrl().attached, &c);
    EXPECT_EQ(c.pixels, second.data() + 0x32C);
    EXPECT_EQ(readU16(second.data(), PixelCanvasBlock::kWidthOffset), 384);
    EXPECT_EQ(readU16(second.data(), PixelCanvasBlock::kHeightOffset), 272);
    EXPECT_TRUE(allBytes(second, PixelCanvasBlock::kPixelsOffset, PixelCanvasBlock::kSize, 0));
}

TEST(ExtensionCommands, ParameterChangeAndRoutingBlocks)
{
    WithSynth t;
    // Formatted by the fixture.
    EXPECT_EQ(readU32(t.parameters.data(), kSizeOffset), 32768u);
    EXPECT_EQ(readU32(t.parameters.data(), kVersionOffset), 1000u);
    EXPECT_EQ(flags(t.parameters), 8u);
    EXPECT_TRUE(allBytes(t.parameters, kHeaderSize, ParameterChangeBlock::kSize, 0));
    EXPECT_EQ(readU32(t.routing.data(), kSizeOffset), 32768u);
    EXPECT_EQ(readU32(t.routing.data(), kVersionOffset), 2068u);
    EXPECT_EQ(flags(t.routing), 0x38u);
    EXPECT_TRUE(allBytes(t.routing, kHeaderSize, RoutingTextBlock::kSize, 0));
    EXPECT_EQ(t.synth().modRoutingText(), "");

    // Routing sub 0 tells the engine about the parameter block, then the routing block.
    std::vector<uint8_t> routing = makeBlock(RoutingTextBlock::kId, RoutingTextBlock::kSize);
    EXPECT_EQ(send(t.wrap(), routing, 0), 1);
    ASSERT_EQ(t.host.calls.size(), 2u);
    EXPECT_EQ(t.host.calls[0].b, t.parameters.data());
    EXPECT_EQ(t.host.calls[1].b, routing.data());
    for (const auto& c : t.host.calls) {
        EXPECT_EQ(c.op, 8);
        EXPECT_EQ(c.a, 1);
    }

    // Sub 2 applies the engine's text.
    t.host.calls.clear();
    writeF32(t.parameters.data(), ParameterChangeBlock::kValuesOffset, 3.0f);
    writeU32(t.parameters.data(), ParameterChangeBlock::kCountOffset, 4);
    writeU32(routing.data(), kFlagsOffset, 0x100);
    std::memcpy(routing.data() + RoutingTextBlock::kTextOffset, "abc", 4);
    EXPECT_EQ(send(t.wrap(), routing, 2), 1);
    EXPECT_TRUE(allBytes(t.parameters, kHeaderSize, ParameterChangeBlock::kSize, 0));
    EXPECT_EQ(flags(t.parameters), 8u);
    EXPECT_EQ(t.synth().modRoutingText(), "abc");
    EXPECT_EQ(t.synth().modRoutingTag(), 2068u);
    EXPECT_EQ(flags(routing), 0x130u);
    EXPECT_EQ(readU32(routing.data(), kSizeOffset), 35u);
    ASSERT_EQ(t.host.calls.size(), 1u);
    EXPECT_EQ(t.host.calls[0].b, t.parameters.data());

    // Sub 1 reads an unterminated text only to the area's end; unknown subs answer 0.
    std::fill(routing.begin() + long(RoutingTextBlock::kTextOffset), routing.end(), uint8_t('x'));
    EXPECT_EQ(send(t.wrap(), routing, 1), 1);
    EXPECT_EQ(t.synth().modRoutingText().size(), RoutingTextBlock::kTextBytes);
    EXPECT_EQ(send(t.wrap(), routing, 3), 0);

    // Parameter block sub 1: stored only.
    std::vector<uint8_t> other = makeBlock(ParameterChangeBlock::kId, ParameterChangeBlock::kSize);
    EXPECT_EQ(send(t.wrap(), other, 1), 0);
    EXPECT_EQ(other, makeBlock(ParameterChangeBlock::kId, ParameterChangeBlock::kSize));
    EXPECT_EQ(t.wrap().getParameterChangeBlock(), other.data());
}

TEST(ExtensionCommands, StepTablesAndCurvesAreListed)
{
    WithSynth t;
    std::vector<uint8_t> table = makeBlock(StepTableBlock::kId, StepTableBlock::kSize);
    writeU32(table.data(), kFlagsOffset, 0x101);
    EXPECT_EQ(send(t.wrap(), table, 0, 4), 0);
    EXPECT_EQ(readU32(table.data(), kSizeOffset), 64u);
    EXPECT_EQ(flags(table), 0x110u);
    EXPECT_EQ(readU32(table.data(), 0x20), 0x007F0000u);
    EXPECT_EQ(readU16(table.data(), 0x24), 32);
    EXPECT_EQ(readU16(table.data(), 0x26), 0);
    EXPECT_TRUE(allBytes(table, StepTableBlock::kStepsOffset, StepTableBlock::kSize, 0));
    EXPECT_EQ(send(t.wrap(), table, 1, 4), 0);

    std::vector<uint8_t> curve = makeBlock(CurveBlock::kId, CurveBlock::kSize);
    writeU32(curve.data(), kFlagsOffset, 0);
    EXPECT_EQ(send(t.wrap(), curve, 0, 2), 0);
    EXPECT_EQ(flags(curve), 0x10u);

    const size_t tables = t.synth().stepTableEntries().size();
    ASSERT_GE(tables, 2u);
    for (size_t i = tables - 2; i < tables; ++i) {
        EXPECT_EQ(t.synth().stepTableEntries()[i].record, table.data());
        EXPECT_EQ(t.synth().stepTableEntries()[i].size, StepTableBlock::kSize);
        EXPECT_EQ(t.synth().stepTableEntries()[i].value, 4u);
    }
    ASSERT_FALSE(t.synth().curveEntries().empty());
    EXPECT_EQ(t.synth().curveEntries().back().record, curve.data());
    EXPECT_EQ(t.synth().curveEntries().back().value, 2u);
}

TEST(ExtensionCommands, TextSlotsKeepTheirFirstBlock)
{
    WithoutSynth t;
    std::vector<uint8_t> first = makeBlock(TextSlotBlock::kId, TextSlotBlock::kSize, 0x41);
    std::vector<uint8_t> second = makeBlock(TextSlotBlock::kId, TextSlotBlock::kSize, 0x41);
    writeU32(first.data(), kFlagsOffset, 0);
    EXPECT_EQ(send(t.wrap, first, 7, 5), 0);
    EXPECT_EQ(send(t.wrap, second, 7, 5), 0);
    EXPECT_EQ(flags(first), 0u);
    EXPECT_EQ(send(t.wrap, second, 0, 5), 1);
    EXPECT_EQ(t.wrap.getTextSlots().at(5), first.data());
    EXPECT_EQ(readU32(first.data(), kSizeOffset), 32288u);
    EXPECT_EQ(readU32(first.data(), kVersionOffset), 1818u);
    EXPECT_EQ(flags(first) & 0x30, 0u);
    EXPECT_TRUE(allBytes(first, TextSlotBlock::kTextOffset, TextSlotBlock::kSize, 0));
    EXPECT_EQ(second, makeBlock(TextSlotBlock::kId, TextSlotBlock::kSize, 0x41));

    std::vector<uint8_t> key0 = makeBlock(TextSlotBlock::kId, TextSlotBlock::kSize, 0);
    EXPECT_EQ(send(t.wrap, key0, 0, 0), 1);
    EXPECT_EQ(flags(key0), 0x30u);
    EXPECT_TRUE(t.factory.log.empty());

    // Sub 1 and 2: key 2 registers with the controller, key 0 hands it a non-empty text, read
    // no further than the area.
    std::vector<uint8_t> key2 = makeBlock(TextSlotBlock::kId, TextSlotBlock::kSize, 0);
    EXPECT_EQ(send(t.wrap, key2, 2, 2, 77), 1);
    EXPECT_EQ(t.ctrl().registered, key2.data());
    EXPECT_EQ(send(t.wrap, key0, 1, 0), 1);  // empty text
    std::fill(key0.begin() + long(TextSlotBlock::kTextOffset), key0.end(), uint8_t('y'));
    EXPECT_EQ(send(t.wrap, key0, 1, 0), 1);
    EXPECT_EQ(t.factory.log, (EventLog{"register 2 2 77", "input 0 32256"}));
}

TEST(ExtensionCommands, SampleBlockIsFormattedAndAnEmptyOneNotAttached)
{
    WithSynth t;
    std::vector<uint8_t> sample = makeBlock(SampleBlock::kId, SampleBlock::kSize);
    writeU32(sample.data(), kFlagsOffset, 0x101);
    EXPECT_EQ(send(t.wrap(), sample, 0), 0);
    EXPECT_EQ(readU32(sample.data(), kSizeOffset), 32u);
    EXPECT_EQ(flags(sample), 0x110u);
    EXPECT_EQ(readU32(sample.data(), SampleBlock::kLengthOffset), 0u);
    EXPECT_EQ(readU32(sample.data(), SampleBlock::kWord30Offset), 0u);
    EXPECT_TRUE(allBytes(sample, SampleBlock::kSamplesOffset, SampleBlock::kSize, 0));
    EXPECT_EQ(t.s.spy().dacSub(0)->sample, nullptr);

    // A length past the block and markers past the end: attached, cut to the block.
    writeU32(sample.data(), SampleBlock::kLengthOffset, 0xFFFFFFFF);
    writeU32(sample.data(), SampleBlock::kRateOffset, 8000);
    writeU32(sample.data(), SampleBlock::kPositionsOffset, 0xFFFFFFF0);
    sample[SampleBlock::kKindsOffset] = SampleBlock::kEndMarker;
    EXPECT_EQ(send(t.wrap(), sample, 1), 0);
    for (size_t c = 0; c < 12; ++c) {
        EXPECT_EQ(t.s.spy().dacSub(c)->sample, reinterpret_cast<const DacSampleRecord*>(sample.data()));
        EXPECT_EQ(t.s.spy().dacSub(c)->getSampleLength(), SampleBlock::kMaxSamples);
    }
    EXPECT_EQ(send(t.wrap(), sample, 9), 0);  // nothing but the flag
    EXPECT_EQ(flags(sample), 0x110u);

    // Played on layer 3 alone, at its rate and at rate 0: the players stay inside the block.
    Blocks b(t.s.entry);
    b.run(256, {itemEvent(512, 0.0f), itemEvent(560, 1.0f), moduleEvent(0x390, 36, 0.8f)});
    for (uint32_t rate : {8000u, 0u}) {
        writeU32(sample.data(), SampleBlock::kRateOffset, rate);
        EXPECT_EQ(send(t.wrap(), sample, 2, 0, 5), 0);
        for (int i = 0; i < 20; ++i)
            b.run(256);
        b.run(256, {moduleEvent(0x480, 36, 0.0f), moduleEvent(0x390, 36, 0.8f)});
    }
}

TEST(ExtensionCommands, FilePathBlocks)
{
    fixtures::TempDir dir;
    WithoutSynth t;
    std::vector<uint8_t> image = makeBlock(FilePathBlock::kId, FilePathBlock::kMinSize);
    writeU32(image.data(), kFlagsOffset, 0x131);
    EXPECT_EQ(send(t.wrap, image, 5, 2), 0);
    EXPECT_EQ(t.wrap.getImageBlock(), image.data());
    EXPECT_EQ(flags(image), 0x101u);

    std::vector<uint8_t> path = makeBlock(FilePathBlock::kId, FilePathBlock::kMinSize);
    writeU32(path.data(), kFlagsOffset, 0x30);
    for (const auto& [index, sub] : {std::pair<uint64_t, uint64_t>{0, 0}, {1, 2}, {3, 1}}) {
        EXPECT_EQ(send(t.wrap, path, sub, index), 0);
        EXPECT_EQ(flags(path), 0u);
    }

    const std::string file = dir.path() + "/tune.unknown";  // no reader takes it
    ASSERT_TRUE(binFileExternalize(file, "abc", 3));
    const struct
    {
        std::string text;
        bool terminated;
        int32_t result;
    } kCases[] = {
        {"", true, -1},
        {dir.path() + "/missing.sid", true, -1},
        {std::string(FilePathBlock::kPathBytes, 'p'), false, -1},
        {file, true, 0},
    };
    for (const auto& c : kCases) {
        std::fill(path.begin() + long(FilePathBlock::kPathOffset), path.end(), uint8_t(0));
        std::memcpy(path.data() + FilePathBlock::kPathOffset, c.text.data(), c.text.size());
        EXPECT_EQ(send(t.wrap, path, 1, 0), c.result) << c.text.size();
    }
    // Nothing took the file: it is held all the same, and nothing plays.
    ASSERT_NE(t.wrap.getHeldMediaFile(), nullptr);
    EXPECT_EQ(t.wrap.getHeldMediaFile()->getPath(), file);
    EXPECT_EQ(t.ctrl().loaded, t.wrap.getHeldMediaFile());
    EXPECT_EQ(t.factory.log, (EventLog{"silence", "load 0"}));

    // Accepted: the previous file replaced, then play.
    t.ctrl().acceptMedia = true;
    t.factory.log.clear();
    EXPECT_EQ(send(t.wrap, path, 1, 1), 0);
    EXPECT_EQ(t.ctrl().loaded, t.wrap.getHeldMediaFile());
    EXPECT_EQ(t.factory.log, (EventLog{"silence", "load 1", "media 2 1"}));
}

// ---------------------------------------------------------------------------------------------
// Notifications

TEST(Notifications, ChangeKindsOneAndTwoGoThroughTheParameterBlock)
{
    WithSynth t;
    ChipWrap& w = t.wrap();
    w.notifySynthParameter(97, 1, 0.25f);
    w.notifySynthParameter(97, 1, 0.25f);
    ASSERT_EQ(t.host.calls.size(), 1u);
    EXPECT_EQ(t.host.calls[0].op, 8);
    EXPECT_EQ(t.host.calls[0].a, 2);
    EXPECT_EQ(t.host.calls[0].b, t.parameters.data());
    EXPECT_EQ(t.value(865), 0.25f);

    // Re-read: listed once, the marker as its value, no host call.
    w.notifyVoiceParameter(11, 15, 2, 0.5f);
    w.notifyVoiceParameter(11, 15, 2, 0.5f);
    EXPECT_EQ(t.host.calls.size(), 1u);
    EXPECT_EQ(t.listed(), 1u);
    EXPECT_EQ(readU16(t.parameters.data(), ParameterChangeBlock::kListOffset), 1215);
    EXPECT_EQ(t.value(1215), 8388608.0f);
    w.notifyVoiceParameter(11, 15, 1, 0.5f);
    EXPECT_EQ(t.host.calls.size(), 2u);

    // Items of 2048 and above, and kinds past 2: nothing.
    const size_t queued = w.pendingOutgoing().size();
    w.notifyAutomationSlot(48, 0, 1, 1.0f);
    w.notifyAutomationSlot(48, 0, 2, 1.0f);
    w.notifyMediaParameter(2, 3, 1.0f);
    EXPECT_EQ(t.host.calls.size(), 2u);
    EXPECT_EQ(t.listed(), 1u);
    EXPECT_EQ(w.pendingOutgoing().size(), queued);
}

TEST(Notifications, HostRequests)
{
    WithSynth t;
    ChipWrap& w = t.wrap();
    w.notifyRangeChanged(99, 3, 5);
    uint8_t info[128];
    for (size_t i = 0; i < sizeof info; ++i)
        info[i] = uint8_t(i + 1);
    w.setDisplayInfo(info);
    int anchor = 0;
    w.notifyHost(&anchor, 0x89ABCDEF, 0x1234);
    HostMidiOutRecord midi;
    w.callHostOpcode12(&midi);
    w.notifyIdle();

    const auto& calls = t.host.calls;
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].op, 10);
    EXPECT_EQ(calls[0].a, 0);
    uint64_t range[2];
    std::memcpy(range, calls[0].payload.data(), 16);
    EXPECT_EQ(range[0], 771u);
    EXPECT_EQ(range[1], 773u);
    EXPECT_EQ(calls[1].op, 11);
    EXPECT_EQ(calls[1].a, 33028);
    EXPECT_EQ(readU32(calls[1].payload.data(), 0), 2123u);
    EXPECT_EQ(std::memcmp(calls[1].payload.data() + 4, info, 128), 0);
    EXPECT_TRUE(std::all_of(calls[1].payload.begin() + 132, calls[1].payload.end(),
                            [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(calls[2].op, 8);
    EXPECT_EQ(uint64_t(calls[2].a), 0x0000123489ABCDEFull);
    EXPECT_EQ(calls[2].b, &anchor);
    EXPECT_EQ(calls[3].op, 12);
    EXPECT_EQ(calls[3].a, 48);
    EXPECT_EQ(calls[3].b, &midi);
}

TEST(Notifications, TextSlotsAndRoutingText)
{
    WithSynth t;
    ChipWrap& w = t.wrap();
    w.setTextSlot1("T");
    EXPECT_TRUE(t.host.calls.empty());
    ASSERT_EQ(w.getTextSlots().count(1), 1u);
    EXPECT_EQ(w.getTextSlots().at(1), nullptr);
    std::vector<uint8_t> slot = makeBlock(TextSlotBlock::kId, TextSlotBlock::kSize, 0);
    EXPECT_EQ(send(w, slot, 0, 1), 1);
    EXPECT_EQ(w.getTextSlots().at(1), slot.data());
    w.setTextSlot1("Title");
    w.setTextSlot0("zero");  // key 0 not registered
    ASSERT_EQ(t.host.calls.size(), 1u);
    EXPECT_EQ(t.host.calls[0].b, slot.data());
    EXPECT_STREQ(reinterpret_cast<const char*>(slot.data() + TextSlotBlock::kTextOffset), "Title");

    t.host.calls.clear();
    writeU32(t.parameters.data(), ParameterChangeBlock::kCountOffset, 3);
    const std::string longText(40000, 'r');
    w.setModRoutingText(longText.c_str());
    EXPECT_EQ(readU32(t.routing.data(), kSizeOffset), 32287u);
    EXPECT_EQ(readU32(t.routing.data(), kVersionOffset), 2068u);
    EXPECT_EQ(flags(t.routing) & 0x38, 0x38u);
    EXPECT_EQ(t.routing.back(), 0);
    EXPECT_EQ(t.synth().modRoutingText(), std::string(32255, 'r'));
    EXPECT_EQ(t.listed(), 0u);
    ASSERT_EQ(t.host.calls.size(), 2u);
    EXPECT_EQ(t.host.calls[0].b, t.routing.data());
    EXPECT_EQ(t.host.calls[1].b, t.parameters.data());
}

TEST(Notifications, NothingReachesBlocksThatWereNeverRegistered)
{
    RecordingHost host;
    Started s(48000.0, 256, 2123, true, &host.record);
    ChipWrap& w = *s.wrap;
    host.calls.clear();
    w.notifySynthParameter(1, 1, 2.0f);
    w.notifySynthParameter(1, 2, 2.0f);
    w.setModRoutingText("x");
    w.setTextSlot0("x");
    w.canvasChanged();
    w.publishImageFile(nullptr, 0);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(w.getImagePath().empty());
}

TEST(Notifications, ImageFilesLiveUntilTheNextOne)
{
    WithSynth t;
    ChipWrap& w = t.wrap();
    std::vector<uint8_t> image = makeBlock(FilePathBlock::kId, FilePathBlock::kMinSize);
    EXPECT_EQ(send(w, image, 0, 2), 0);

    w.publishImageFile(nullptr, 0);
    const std::string first = w.getImagePath();
    EXPECT_EQ(first.rfind(getTempDir() + "/zrg", 0), 0u) << first;
    EXPECT_EQ(first.substr(first.size() - 4), ".png");
    EXPECT_TRUE(fileExists(first));
    EXPECT_EQ(fileSize(first), 0);
    EXPECT_EQ(readPath(image.data()), first);
    ASSERT_EQ(t.host.calls.size(), 1u);
    EXPECT_EQ(t.host.calls[0].op, 8);
    EXPECT_EQ(t.host.calls[0].b, image.data());

    const uint8_t png[4] = {0x89, 'P', 'N', 'G'};
    w.publishImageFile(png, sizeof png);
    const std::string second = w.getImagePath();
    EXPECT_FALSE(fileExists(first));
    EXPECT_NE(second, first);
    EXPECT_EQ(fileSize(second), 4);
    EXPECT_EQ(readPath(image.data()), second);
    PDeleteFile(second);
}

}  // namespace
