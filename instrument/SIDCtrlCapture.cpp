// The SID controller's register capture: preview and export of capture items, their conversion
// to patches, and the import of exported captures.
#include "instrument/CaptureToPatch.h"
#include "instrument/SIDCtrl.h"
#include "machine/SIDAnalyser.h"
#include "media/SIDCapture.h"
#include "media/VGMReader.h"
#include "media/VGMX.h"

#include <cmath>

namespace {

constexpr uint32_t kFrameEndCycles = 2301;  // an event this far from the previous ends a frame

}  // namespace

uint32_t SIDCtrl::getMachineClock() const
{
    return videoStandard == 2 ? kNtscMachineClockHz : kPalMachineClockHz;
}

double SIDCtrl::captureSecondsPerFrame() const
{
    return double(getCyclesPerFrame()) / (videoStandard == 2 ? kNtscMachineClock : kPalMachineClock);
}

bool SIDCtrl::buildCaptureDocument(uint64_t item, VGM::VGMX& document, std::string& label)
{
    silencePlayerChips();
    closeMedia();
    std::vector<SID_shadow> frames;
    uint64_t voiceMask = 0;
    collectCaptureItem(captureFrames, frames, item, voiceMask, &label, captureSecondsPerFrame());
    return buildCaptureStream(voiceMask, getMachineClock(), frames, document, getCyclesPerFrame()) != 0;
}

void SIDCtrl::previewCaptureItem(uint64_t item)
{
    VGM::VGMX document;
    std::string label;
    if (!buildCaptureDocument(item, document, label))
        return;
    document.song.tags[VGM::VGMXSong::kGameName] = label;
    VGM::ReaderFactory* factory = VGM::getReaderFactory();
    MediaReader* created = factory ? factory->createReader(this, canvas, getReaderExtra()) : nullptr;
    auto* logReader = dynamic_cast<VGM::Reader*>(created);
    if (!logReader) {
        delete created;
        return;
    }
    replaceReader(logReader);
    logReader->openDocument(document);
    logReader->setDisplayMode(int32_t(displayMode));
    selectReaderSong(0);
    logReader->setSpeed(speed);
    setMediaParameter(kPlay, 1.0);
}

bool SIDCtrl::exportCaptureItem(uint64_t item, const char* path)
{
    VGM::VGMX document;
    std::string label;
    return buildCaptureDocument(item, document, label) && path && VGM::writeVgmxFile(document.song, path);
}

bool SIDCtrl::exportMedia(int64_t index, const char* path)
{
    if (index != 0 || !path)
        return false;
    capturePaused = true;
    setMediaParameter(kStop, 1.0);
    return exportCaptureItem(captureItem, path);
}

void SIDCtrl::patchFromCaptureItem(uint64_t item)
{
    std::vector<SID_shadow> frames;
    uint64_t voiceMask = 0;
    collectCaptureItem(captureFrames, frames, item, voiceMask, nullptr, captureSecondsPerFrame());
    if (!frames.empty())
        patchFromFrames(frames, getMachineClock(), voiceMask);
}

void SIDCtrl::patchFromFrames(const std::vector<SID_shadow>& frames, uint32_t clock, uint64_t voiceMask)
{
    if (frames.empty())
        return;
    SIDAnalyser analyser{double(clock)};
    std::vector<SidFrameAnalysis> records(frames.size(), presetFrameAnalysis());
    for (size_t i = 0; i < frames.size(); ++i)
        analyser.analyseFrame(frames[i], records[i], 7);
    const double frameRate = videoStandard == 2 ? 60.0 : 50.0;
    const uint64_t cycles = getCyclesPerFrame();
    const float frameSpeed =
        cycles == 0 ? 1.0f : float(std::floor(double(clock) / frameRate / double(cycles) + 0.5));
    captureToStepPatch(*this, records, voiceMask, frameSpeed);
}

void SIDCtrl::patchFromShadowRegisters()
{
    SIDAnalyser analyser{double(getMachineClock())};
    SidFrameAnalysis record = presetFrameAnalysis();
    analyser.analyseFrame(shadows[kFirstPlayerChip], record, 7);
    captureToStepPatch(*this, {record, record}, 7, 1.0f);
}

bool SIDCtrl::importVgmxCapture(vantor::VirtualFile& file)
{
    VGM::VGMX document;
    if (!document.loadXmlStream(&file))
        return false;
    const VGM::VGMXSong& song = document.song;
    if (song.chips.size() != 1 || song.chips.begin()->first != VGM::kSidChipKind)
        return false;
    const VGM::VGMXChip& chip = song.chips.begin()->second;

    SID_shadow image;
    std::vector<SID_shadow> frames;
    uint64_t voiceMask = 0;
    uint64_t time = 0;
    uint64_t lastFrameTime = 0;
    for (const VGMXEvent event : chip.events) {
        if (event.dt() >= kFrameEndCycles && frames.size() < kMaxCaptureFrames) {
            captureInterval = int64_t(time - lastFrameTime);
            frames.push_back(image);
            voiceMask |= (image.regs[4] & 1) | (image.regs[11] & 1) << 1 | (image.regs[18] & 1) << 2;
            image = SID_shadow();
            image.regs[SID_shadow::kModeVolume] = 0;
            lastFrameTime = time;
        }
        image.store(event.reg(), event.value());
        time += event.dt();
    }
    patchFromFrames(frames, chip.clock, voiceMask);
    return true;
}
