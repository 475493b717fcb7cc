// The media side of the SID controller: file loading, the player chips as a media callback sees
// them, register capture and the canvas.
#include "instrument/ChipControllerListener.h"
#include "instrument/SIDCtrl.h"
#include "machine/VICIIPalette.h"
#include "media/PixelCanvas.h"
#include "media/VGMReader.h"
#include "platform/PlatformTools.h"
#include "platform/SaturatingCast.h"
#include "sid/ChipEmu.h"
#include "sid/SIDEmu.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kSmallInstrument[2] = {0xA1, 0x04};
constexpr uint8_t kBankMagic[2] = {0xF0, 0x00};
constexpr uint8_t kSysExPatchMagic[5] = {0xF0, 0x00, 0x20, 0x3C, 0x01};
// Bank file: a 10-byte head, then per slot 512 bytes as low and high nibble bytes and 12 more.
constexpr size_t kBankHead = 10;
constexpr size_t kBankSlotTail = 12;

bool readWhole(vantor::VirtualFile& file, std::vector<uint8_t>& bytes)
{
    const int64_t size = file.size();
    if (size <= 0 || !file.seek(0))
        return false;
    bytes.resize(size_t(size));
    return file.read(bytes.data(), bytes.size()) == bytes.size();
}

bool isPlayerKind(uint32_t kind)
{
    return kind >= SIDCtrl::kFirstPlayerKind && kind < SIDCtrl::kFirstPlayerKind + 4;
}

}  // namespace

StepTableWriters& SIDCtrl::stepTableWriters()
{
    return synthStepTables;
}

// ---------------------------------------------------------------------------------------------
// Loading

int64_t SIDCtrl::loadMedia(int64_t /*index*/, vantor::VirtualFile* file)
{
    capturePaused = false;
    if (!file)
        return 0;
    // A capture file becomes the patch instead of being played.
    if (getFileExtension(vantor::virtualFileName(*file)) == "vgmx")
        return importVgmxCapture(*file) ? 1 : 0;
    for (uint64_t c = kFirstPlayerChip; c < kChips; ++c) {
        if (c == 15 && !asidInput)
            setChipEnabled(c, false);
        resetPlayerChip(c);
    }

    const int64_t size = file->size();
    uint8_t h[8] = {};
    if (size < int64_t(sizeof h) || !file->seek(0) || file->read(h, sizeof h) != sizeof h)
        return 0;
    file->seek(0);

    if (uint64_t(size) <= kSmallInstrumentLimit && h[0] == kSmallInstrument[0]) {
        if (h[1] == kSmallInstrument[1]) {
            std::vector<uint8_t> bytes;
            if (readWhole(*file, bytes) && importSmallInstrument(bytes, *currentPatch)) {
                applyPatch(currentPatch, 0, 0);
                if (listener)
                    listener->setModRoutingText("");
            }
            return 0;
        }
    } else if (std::memcmp(h, "GTI", 3) == 0) {
        std::string name, routing;
        if (importTrackerInstrument(*currentPatch, *file, parameters, stepTableWriters(), name,
                                    routing)) {
            applyPatch(currentPatch, 0, 0);
            if (listener)
                listener->setModRoutingText(routing.c_str());
        }
        return 0;
    } else if (uint64_t(size) == kBankFileSize && h[0] == kBankMagic[0] && h[1] == kBankMagic[1]) {
        std::vector<uint8_t> bytes;
        if (!readWhole(*file, bytes))
            return 0;
        std::vector<uint8_t> bank(kBankSize, 0);
        size_t at = kBankHead;
        auto byteAt = [&bytes](size_t i) { return i < bytes.size() ? bytes[i] : uint8_t(0); };
        for (size_t slot = 0; slot < kBankSlots; ++slot) {
            for (size_t i = 0; i < kBankSlotSize; ++i, at += 2)
                bank[slot * kBankSlotSize + i] = uint8_t(byteAt(at + 1) << 4 | byteAt(at));
            at += kBankSlotTail;
        }
        setPatchBank(bank);
        if (loadBankSlot(0, *currentPatch))
            applyPatch(currentPatch, 0, 0);
        return 0;
    } else if (std::memcmp(h, kSysExPatchMagic, sizeof kSysExPatchMagic) == 0) {
        return 0;
    }

    // A tune or C64 image.
    if (!canvas)
        return 0;
    replaceReader(nullptr);
    captureFrames.reserve(kMaxCaptureFrames);  // capturing then never allocates
    auto* tune = new PSIDReader(this, dataFolder, canvas, videoStandard == 2,
                                &playerOptions.sidAddresses);
    if (!tune->openMedia(file)) {
        delete tune;
        return 0;
    }
    reader = tune;
    tune->setPlayerOption(0, playerOptionValue);
    const bool started = tune->restart();
    ringRead = ringWrite = 0;
    if (listener)
        listener->notifyMediaParameter(17, 0, tune->isTuneReady() ? 1.0f : 0.0f);
    onMediaLoaded();
    return started ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// The player chips

void SIDCtrl::mediaStarted(const uint8_t* /*data*/, uint64_t /*size*/)
{
    for (uint64_t c = kFirstPlayerChip; c < kChips; ++c)
        resetPlayerChip(c);
}

void SIDCtrl::resetPlayerChip(uint64_t chip)
{
    if (ChipEmu* emu = chipAt(chip))
        emu->reset();
    std::fill(std::begin(shadows[chip].regs), std::end(shadows[chip].regs), uint8_t(0));
    std::fill(std::begin(shadows[chip].gateChanged), std::end(shadows[chip].gateChanged), uint8_t(0));
}

void SIDCtrl::addChip(uint32_t chipKind, uint32_t /*subtype*/, uint32_t eventRate)
{
    if (isPlayerKind(chipKind))
        setChipEnabled(chipKind - kFirstPlayerKind + kFirstPlayerChip, true);
    if (chipKind == kFirstPlayerKind)
        captureEventRate = eventRate;
}

void SIDCtrl::writeMediaRegister(uint32_t chipKind, uint64_t /*delay*/, uint32_t /*port*/,
                                 uint32_t reg, uint32_t value, double /*rate*/)
{
    if (isPlayerKind(chipKind))
        writeRegister(chipKind - kFirstPlayerKind + kFirstPlayerChip, uint8_t(reg), uint8_t(value));
}

uint8_t SIDCtrl::readMediaRegister(uint32_t chipKind, uint64_t /*time*/, uint32_t /*port*/,
                                   uint32_t reg)
{
    if (!isPlayerKind(chipKind))
        return 255;
    ChipEmu* chip = chipAt(chipKind - kFirstPlayerKind + kFirstPlayerChip);
    return chip ? chip->readRegister(uint16_t(reg), 0) : 255;
}

void SIDCtrl::mediaChipCountChanged()
{
    if (!reader)
        return;
    const uint64_t count = std::min<uint64_t>(reader->getChipCount(), kChips - kFirstPlayerChip);
    if (swallowPopListener)
        swallowPopListener->swallowPop(kFirstPlayerChip, 0);
    for (size_t c = kFirstPlayerChip; c < kChips; ++c)
        if (c != 15 || !asidInput)
            setChipEnabled(c, false);
    for (uint64_t k = 0; k < count; ++k) {
        setChipEnabled(kFirstPlayerChip + k, true);
        if (SIDEmu* sid = sidChip(kFirstPlayerChip + k))
            sid->markModified();
    }
}

void SIDCtrl::songSelected(uint64_t /*song*/)
{
    if (!capturePaused) {
        captureFrames.clear();
        captureItem = 0;
    }
    if (reader)
        setCanvasPalette(videoStandard == 2);
}

void SIDCtrl::captureRegisters(uint64_t tick)
{
    if (!reader)
        return;
    SID_shadow& live = shadows[kFirstPlayerChip];
    if (!capturePaused && captureFrames.size() < kMaxCaptureFrames) {
        // Machine cycles per tick: a log's ticks count at its chip's event rate, a tune's run at
        // the reader's speed. A tick below the last one (a new song, a rewind) or a log without a
        // rate keeps the cycles per frame.
        double ratio = reader->speed;
        if (dynamic_cast<VGM::Reader*>(reader))
            ratio = captureEventRate ? double(getMachineClock()) / captureEventRate : 0.0;
        if (tick >= lastCaptureTick && ratio > 0.0)
            captureInterval = vantor::saturatingCast<int32_t>(std::floor(double(tick - lastCaptureTick) * ratio + 0.5));
        lastCaptureTick = tick;
        captureFrames.push_back(live);
    }
    std::fill(std::begin(live.gateChanged), std::end(live.gateChanged), uint8_t(0));
}

// ---------------------------------------------------------------------------------------------
// Canvas

PixelCanvas* SIDCtrl::attachCanvas(PixelCanvas* newCanvas)
{
    if (!canvas && newCanvas) {
        canvas = newCanvas;
        canvas->rows = kCanvasRows;
        canvas->columns = kCanvasColumns;
    }
    if (!canvas)
        return nullptr;
    setCanvasPalette(false);
    if (canvas->pixels)
        std::memset(canvas->pixels, 0, size_t(canvas->rows * canvas->columns));
    return canvas;
}

void SIDCtrl::setCanvasPalette(bool ntsc)
{
    if (!canvas)
        return;
    canvas->keepsOwnPalette = 16;
    if (canvas->red && canvas->green && canvas->blue)
        fillVICIIPalette(ntsc, canvas->red, canvas->green, canvas->blue);
}
