// The SID controller's media side: the canvas, the player chips as media kinds, the tune render
// with its surplus ring, register capture and what each kind of loaded file does.
#include "SIDCtrlDoubles.h"

#include "abi/ExtensionBlocks.h"
#include "fixtures/c64/C64Tunes.h"
#include "machine/PSIDReader.h"
#include "media/PixelCanvas.h"
#include "shims/engine/Engine.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace sidctrl_test;
using Bytes = std::vector<uint8_t>;

struct Canvas {
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    std::vector<uint8_t> pixels = std::vector<uint8_t>(PixelCanvasBlock::kPixelBytes, 0xEE);
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), 0, 0, nullptr};
};

class SIDCtrlMedia : public ::testing::Test
{
protected:
    SIDCtrlMedia() : chipObjects(ChipController::kChips)
    {
        for (size_t c = 0; c < chipObjects.size(); ++c) {
            chipObjects[c].mark = int32_t(c + 1);
            chips.push_back(&chipObjects[c]);
        }
        ctrl = std::make_unique<TestCtrl>(&chips, &listener);
        ctrl->init("d/chips.db", 1006);
        ctrl->setRate(0, 985248.0, 985248.0);
        for (size_t c = 0; c < ChipController::kChips; ++c)
            ctrl->setChipEnabled(c, false);
    }

    RecordingChip& chip(size_t c) { return chipObjects[c]; }

    // Renders one block of `frames` ticks into `out`, filled with `fill` first.
    std::vector<int32_t> render(int32_t frames, int32_t fill = 0)
    {
        std::vector<int32_t> out(size_t(std::max(frames, 0)) + 1, fill);
        int32_t* channels[2] = {out.data(), nullptr};
        ctrl->render(channels, 2, frames);
        return out;
    }

    int64_t load(const Bytes& bytes, const std::string& name = "")
    {
        vantor::VirtualRAMFile file(bytes.data(), bytes.size());
        file.name = name;
        return ctrl->loadMedia(0, &file);
    }

    std::vector<RecordingChip> chipObjects;
    std::vector<ChipEmu*> chips;
    RecordingListener listener;
    std::unique_ptr<TestCtrl> ctrl;
};

// ---------------------------------------------------------------------------------------------
// Canvas

TEST_F(SIDCtrlMedia, FirstCanvasIsKeptWithThePalColoursAndClearedPixels)
{
    Canvas first, second;
    EXPECT_EQ(ctrl->attachCanvas(nullptr), nullptr);
    EXPECT_EQ(ctrl->attachCanvas(&first.canvas), &first.canvas);
    EXPECT_EQ(first.canvas.rows, 272u);
    EXPECT_EQ(first.canvas.columns, 384u);
    EXPECT_EQ(first.canvas.keepsOwnPalette, 16u) << "no screen overwrites these colours";
    // PAL light blue and brown.
    EXPECT_EQ((std::vector<int>{first.red[14], first.green[14], first.blue[14]}), (std::vector<int>{0x6C, 0x5E, 0xB5}));
    EXPECT_EQ((std::vector<int>{first.red[9], first.green[9], first.blue[9]}), (std::vector<int>{0x43, 0x39, 0x00}));
    EXPECT_EQ(first.red[16], 0) << "entries past 15 untouched";
    const size_t area = 272 * 384;
    EXPECT_TRUE(std::all_of(first.pixels.begin(), first.pixels.begin() + area, [](uint8_t p) { return p == 0; }));
    EXPECT_EQ(first.pixels[area], 0xEE) << "nothing past the picture";

    std::fill(first.pixels.begin(), first.pixels.end(), 7);
    EXPECT_EQ(ctrl->attachCanvas(&second.canvas), &first.canvas);
    EXPECT_EQ(second.canvas.rows, 0u);
    EXPECT_EQ(first.pixels[0], 0) << "a later attach clears the kept canvas";
    EXPECT_EQ(ctrl->getCanvas(), &first.canvas);
}

TEST_F(SIDCtrlMedia, SongStartTakesTheColoursOfTheVideoStandard)
{
    Canvas c;
    ctrl->attachCanvas(&c.canvas);
    ctrl->songSelected(0);
    EXPECT_EQ(c.red[2], 0x68) << "without a reader nothing changes";
    ctrl->adoptReader(new TickReader(ctrl.get()));
    ctrl->setRate(2, 985248.0, 1022727.0);
    ctrl->songSelected(0);
    EXPECT_EQ((std::vector<int>{c.red[2], c.green[2], c.blue[2]}), (std::vector<int>{0xB4, 0x24, 0x55}));
    ctrl->setRate(0, 985248.0, 985248.0);
    ctrl->songSelected(0);
    EXPECT_EQ(c.red[2], 0x68);
}

TEST(SIDCtrlModuleCanvas, CanvasBlockReportsItsSize)
{
    std::string error;
    auto module = vantor::engine::ModuleLibrary::open(C64MODULE_PATH, error);
    ASSERT_TRUE(module) << error;
    vantor::engine::Instance instance(*module, {});
    ASSERT_TRUE(instance.create(module->identifier(0), error) && instance.start(error)) << error;
    const vantor::engine::SharedBlock* block = instance.findSharedBlock(PixelCanvasBlock::kId);
    ASSERT_NE(block, nullptr);
    const uint8_t* b = block->bytes.get();
    EXPECT_EQ(b[PixelCanvasBlock::kWidthOffset] | b[PixelCanvasBlock::kWidthOffset + 1] << 8, 384);
    EXPECT_EQ(b[PixelCanvasBlock::kHeightOffset] | b[PixelCanvasBlock::kHeightOffset + 1] << 8, 272);
    EXPECT_EQ(b[PixelCanvasBlock::kRedOffset + 14], 0x6C);
}

// ---------------------------------------------------------------------------------------------
// Player chips

TEST_F(SIDCtrlMedia, MediaKindsReachThePlayerChips)
{
    ctrl->addChip(78, 0, 0);
    ctrl->addChip(81, 0, 0);
    ctrl->addChip(76, 0, 0);
    EXPECT_TRUE(ctrl->isChipEnabled(13));
    for (size_t c : {11u, 12u, 14u, 15u})
        EXPECT_FALSE(ctrl->isChipEnabled(c)) << c;

    for (RecordingChip& c : chipObjects)
        c.writes.clear();  // the patch the controller starts with
    ctrl->writeMediaRegister(80, 5, 0, 36, 0x41, 985248.0);  // register 36 is control register 4
    ctrl->writeMediaRegister(81, 5, 0, 4, 0x41, 985248.0);
    EXPECT_EQ(chip(15).writes, (std::vector<RegWrite>{{36, 0x41}}));
    EXPECT_EQ(ctrl->shadow(15).regs[4], 0x41);
    EXPECT_EQ(ctrl->shadow(15).gateChanged[0], 1);
    for (size_t c = 0; c < ChipController::kChips; ++c) {
        if (c != 15) {
            EXPECT_TRUE(chip(c).writes.empty()) << c;
        }
    }

    chip(12).regs[27] = 0x9C;
    EXPECT_EQ(ctrl->readMediaRegister(77, 0, 0, 27), 0x9C);
    EXPECT_EQ(ctrl->readMediaRegister(81, 0, 0, 27), 255);
    EXPECT_EQ(ctrl->readMediaRegister(76, 0, 0, 27), 255);

    chip(14).regs[4] = 0x11;
    ctrl->writeMediaRegister(79, 0, 0, 4, 0x11, 0.0);
    const int resetsBefore = chip(14).resets;
    ctrl->mediaStarted(nullptr, 0);
    EXPECT_EQ(chip(14).resets, resetsBefore + 1);
    EXPECT_EQ(chip(3).resets, 0) << "synth chips stay";
    EXPECT_EQ(ctrl->shadow(14).regs[4], 0);
    EXPECT_EQ(ctrl->shadow(14).regs[24], 0);
    EXPECT_EQ(ctrl->shadow(15).gateChanged[0], 0);
}

TEST_F(SIDCtrlMedia, ChipCountEnablesThatManyPlayerChips)
{
    auto* reader = ctrl->adoptReader(new TickReader(ctrl.get()));
    for (const bool asid : {false, true}) {
        ctrl->setInstrumentOption(4, asid ? -1.0 : 0.0);
        ctrl->setChipEnabled(14, true);
        ctrl->setChipEnabled(15, true);
        reader->chipCount = 2;
        ctrl->mediaChipCountChanged();
        EXPECT_TRUE(ctrl->isChipEnabled(12));
        EXPECT_TRUE(ctrl->isChipEnabled(13));
        EXPECT_FALSE(ctrl->isChipEnabled(14));
        EXPECT_EQ(ctrl->isChipEnabled(15), asid) << "ASID input keeps chip 15";
        EXPECT_FALSE(ctrl->isChipEnabled(11));
    }
    reader->chipCount = 99;
    ctrl->mediaChipCountChanged();
    EXPECT_TRUE(ctrl->isChipEnabled(15));
}

// ---------------------------------------------------------------------------------------------
// Tune render

TEST_F(SIDCtrlMedia, MachineRunningPastTheBlockWaitsInTheRing)
{
    ctrl->setChipEnabled(12, true);  // adds 13 a tick
    auto* reader = ctrl->adoptReader(new TickReader(ctrl.get()));

    reader->perRun = 256;  // exactly the budget
    std::vector<int32_t> out = render(256);
    EXPECT_EQ(ctrl->surplusWords(), 0u);
    EXPECT_EQ(std::accumulate(out.begin(), out.begin() + 256, 0), 256 * 13);
    EXPECT_EQ(reader->asked, (std::vector<uint64_t>{256}));
    EXPECT_EQ(reader->lastRate, 985248.0);

    reader->perRun = 257;  // one tick more
    chip(12).mark = 50;
    render(256);
    ASSERT_EQ(ctrl->surplusWords(), 1u);
    chip(12).mark = 2;
    reader->perRun = 10;
    reader->asked.clear();
    out = render(256, 1000);
    EXPECT_EQ(out[0], 50) << "stored, not added";
    EXPECT_EQ(out[1], 1002);
    EXPECT_EQ(out[255], 1002);
    EXPECT_EQ(out[256], 1000) << "nothing past the block";
    EXPECT_EQ(reader->asked.front(), 255u) << "the budget after the ring";
    EXPECT_EQ(ctrl->surplusWords(), 5u) << "the last run of 10 had 5 left";
}

TEST_F(SIDCtrlMedia, RenderChipsWithoutTicksRendersNothing)
{
    ctrl->setChipEnabled(12, true);
    auto* reader = ctrl->adoptReader(new TickReader(ctrl.get()));
    reader->perRun = 0;
    chip(12).renders.clear();
    ctrl->renderChips(77, 0);
    EXPECT_TRUE(chip(12).renders.empty());
    EXPECT_EQ(ctrl->surplusWords(), 0u);
    // A reader that never renders cannot hold the block up: the chips play it without it.
    const std::vector<int32_t> out = render(100);
    EXPECT_EQ(chip(12).renders, (std::vector<uint64_t>{100}));
    EXPECT_EQ(out[99], 13);
    EXPECT_EQ(reader->asked.size(), size_t(SIDCtrl::kMaxStalledRuns));
}

TEST_F(SIDCtrlMedia, LongSurplusGoesInChunksAndANegativeBlockDrainsNothing)
{
    ctrl->setChipEnabled(12, true);
    ctrl->setChipEnabled(3, true);
    auto* reader = ctrl->adoptReader(new TickReader(ctrl.get()));
    reader->perRun = 100 + 600;
    chip(12).renders.clear();
    render(100);
    EXPECT_EQ(chip(12).renders, (std::vector<uint64_t>{100, 256, 256, 88}));
    EXPECT_EQ(ctrl->surplusWords(), 600u);
    render(-5);
    EXPECT_EQ(ctrl->surplusWords(), 600u);
    reader->playing = false;  // the synth path also plays the ring first
    ctrl->setChipEnabled(12, false);
    const std::vector<int32_t> out = render(700);
    EXPECT_EQ(out[599], 17);
    EXPECT_EQ(out[600], 4) << "then chip 3 alone";
    EXPECT_EQ(ctrl->surplusWords(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Capture

TEST_F(SIDCtrlMedia, CaptureKeepsAtMost18000FramesAndClearsTheGateFlags)
{
    ctrl->captureRegisters(100);
    EXPECT_TRUE(ctrl->getCaptureFrames().empty()) << "only with a reader";
    auto* reader = ctrl->adoptReader(new TickReader(ctrl.get()));
    reader->speed = 2.0;
    ctrl->writeMediaRegister(77, 0, 0, 4, 0x41, 0.0);
    ctrl->captureRegisters(1000);
    ctrl->captureRegisters(4000);
    ASSERT_EQ(ctrl->getCaptureFrames().size(), 2u);
    EXPECT_EQ(ctrl->getCaptureFrames()[0].gateChanged[0], 1);
    EXPECT_EQ(ctrl->getCaptureFrames()[0].regs[4], 0x41);
    EXPECT_EQ(ctrl->getCaptureFrames()[1].gateChanged[0], 0);
    EXPECT_EQ(ctrl->getCaptureInterval(), 6000) << "3000 ticks at speed 2";
    reader->speed = 1e300;
    ctrl->captureRegisters(5000);
    EXPECT_EQ(ctrl->getCaptureInterval(), INT32_MAX) << "saturated";

    for (uint64_t t = 0; ctrl->getCaptureFrames().size() < SIDCtrl::kMaxCaptureFrames; ++t)
        ctrl->captureRegisters(t);
    ctrl->writeMediaRegister(77, 0, 0, 11, 0x01, 0.0);
    ctrl->captureRegisters(1);
    EXPECT_EQ(ctrl->getCaptureFrames().size(), SIDCtrl::kMaxCaptureFrames);
    EXPECT_EQ(ctrl->shadow(12).gateChanged[1], 0) << "cleared though no frame was kept";

    ctrl->songSelected(0);
    EXPECT_TRUE(ctrl->getCaptureFrames().empty()) << "a new song starts a new capture";
}

// ---------------------------------------------------------------------------------------------
// Loading

TEST_F(SIDCtrlMedia, LoadingPatchesBanksAndTunes)
{
    Canvas canvas;
    EXPECT_EQ(load(Bytes{0xA1, 0x04, 0, 0x12, 0xA9, 0, 0}), 0) << "under 8 bytes";

    // The small instrument file: the envelope of layer 0, applied, with an empty routing text.
    listener.reports.clear();
    EXPECT_EQ(load(Bytes{0xA1, 0x04, 0, 0x3C, 0x85, 0, 0, 0}), 0);
    EXPECT_EQ(ctrl->patch().sidLayer(0)->attack, 3);
    EXPECT_EQ(ctrl->patch().sidLayer(0)->release, 5);
    EXPECT_EQ(listener.synthReports(97, 0), 12u) << "the patch went to all twelve synth chips";
    EXPECT_EQ(listener.routingTexts, (std::vector<std::string>{""}));

    // A patch bank: slot 0 decoded and applied.
    Bytes bank(SIDCtrl::kBankFileSize, 0);
    bank[0] = 0xF0;
    auto putSlotByte = [&bank](size_t i, uint8_t v) {
        bank[10 + 2 * i] = v & 15;
        bank[10 + 2 * i + 1] = v >> 4;
    };
    for (size_t i = 0; i < 5; ++i)
        putSlotByte(i, uint8_t("BANK0"[i]));
    putSlotByte(85, 0xD0);  // 12-bit cutoff 2000: patch cutoff 1000
    putSlotByte(86, 0x07);
    EXPECT_EQ(load(bank), 0);
    EXPECT_TRUE(ctrl->hasPatchBank());
    EXPECT_STREQ(ctrl->patch().name, "BANK0");
    EXPECT_EQ(chip(0).lastWrite(22), 1000 >> 3);
    EXPECT_EQ(chip(11).lastWrite(22), 1000 >> 3);

    // Nothing for a patch in a SysEx file of another size.
    EXPECT_EQ(load(Bytes{0xF0, 0x00, 0x20, 0x3C, 0x01, 0, 0, 0, 0, 0}), 0);
    EXPECT_EQ(ctrl->getReader(), nullptr);

    // Tunes need the canvas.
    const Bytes tune = fixtures::c64_tunes::counterTune().bytes();
    EXPECT_EQ(load(tune), 0);
    EXPECT_EQ(ctrl->getReader(), nullptr);
    ctrl->attachCanvas(&canvas.canvas);
    EXPECT_EQ(load(tune, "x.vgmx"), 0) << "a capture file";
    EXPECT_EQ(ctrl->getReader(), nullptr);

    Bytes notAPatch(130, 0xEA);
    notAPatch[0] = 0xA1;
    notAPatch[1] = 0x05;
    for (const auto& [bytes, name] : {std::pair{notAPatch, std::string("p.ins")}, std::pair{tune, std::string("x.VGMX")}}) {
        chip(13).regs[4] = 0x33;
        ctrl->writeMediaRegister(78, 0, 0, 4, 0x33, 0.0);
        EXPECT_EQ(load(bytes, name), 1) << name;
        ASSERT_NE(dynamic_cast<PSIDReader*>(ctrl->getReader()), nullptr) << name;
        EXPECT_EQ(ctrl->shadow(13).regs[4], 0) << "player chips cleared";
    }
    EXPECT_TRUE(ctrl->getReader()->songReady);
    EXPECT_TRUE(ctrl->isChipEnabled(12)) << "the tune's one chip";
    EXPECT_FALSE(ctrl->isChipEnabled(13));
    bool readyReported = false;
    for (const Report& r : listener.reports)
        readyReported = readyReported || (r.what == "media" && r.n == 17 && r.value == 1.0f);
    EXPECT_TRUE(readyReported);

    // A file the reader refuses leaves no reader.
    EXPECT_EQ(load(Bytes(12, 0x50)), 0);
    EXPECT_EQ(ctrl->getReader(), nullptr);
}

TEST_F(SIDCtrlMedia, LoadedTunePlaysThroughTheRender)
{
    Canvas canvas;
    ctrl->attachCanvas(&canvas.canvas);
    ctrl->setInstrumentOption(2, double(0xD500));
    ASSERT_EQ(load(fixtures::c64_tunes::counterTune().bytes()), 1);
    ctrl->setMediaParameter(ChipController::kPlay, 1.0);
    chip(12).writes.clear();
    for (int block = 0; block < 100; ++block)
        render(4096);
    const std::vector<int32_t> out = render(100);
    EXPECT_EQ(out[50], 13) << "chip 12 alone";
    // Init sets the volume, then a play call a frame writes the counter to registers 24 down to 0.
    size_t volumeWrites = 0;
    for (const RegWrite& w : chip(12).writes)
        volumeWrites += w.reg == 24;
    const size_t plays = ctrl->shadow(12).regs[0];
    // The machine may have run ahead of the output by what waits in the ring.
    EXPECT_NEAR(double(plays), double(409700 + ctrl->surplusWords()) / 19656.0, 1.0);
    EXPECT_EQ(volumeWrites, plays) << "one volume write a play call";
    EXPECT_EQ(ctrl->shadow(12).regs[24], plays);
    auto* tune = dynamic_cast<PSIDReader*>(ctrl->getReader());
    ASSERT_NE(tune, nullptr);
    EXPECT_EQ(tune->getHeader()->secondSid, 0) << "the SID addresses are for programs";
    EXPECT_EQ(ctrl->getCaptureFrames().size(), volumeWrites);
}

}  // namespace
