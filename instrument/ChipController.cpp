#include "instrument/ChipController.h"

#include "instrument/ChipControllerListener.h"
#include "instrument/ChipHWHook.h"
#include "media/MediaReader.h"
#include "platform/SaturatingCast.h"
#include "sid/ChipEmu.h"

#include <algorithm>
#include <cstring>
#include <span>

ChipController::ChipController(std::vector<ChipEmu*>* chipList,
                               ChipControllerListener* chipListener)
    : vantor::QuantumManager(32), chips(chipList), listener(chipListener)
{
}

ChipController::~ChipController()
{
    replaceReader(nullptr);
    freeHardwareHook();
}

void ChipController::freeHardwareHook()
{
    if (!hardwareHook)
        return;
    uint32_t pending = 0;
    hardwareHook->getPendingCount(&pending);
    delete hardwareHook;
    hardwareHook = nullptr;
}

bool ChipController::setRate(uint64_t newVideoStandard, double chipRate, double /*chipClock*/)
{
    vantor::QuantumManager::setRate(chipRate);
    videoStandard = newVideoStandard;
    return true;
}

void ChipController::replaceReader(MediaReader* newReader)
{
    if (reader) {
        reader->detachTimers(this);
        delete reader;
    }
    reader = newReader;
}

void ChipController::closeMedia()
{
    replaceReader(nullptr);
}

bool ChipController::selectReaderSong(uint64_t n)
{
    const bool ok = reader->selectSong(n);
    reader->songReady = ok;
    reader->currentSong = n;
    return ok;
}

void ChipController::changeSong(uint64_t n)
{
    releaseAllGates(kGatesOff);
    reader->detachTimers(this);
    if (selectReaderSong(n)) {
        reader->play();
        onMediaLoaded();
    }
}

void ChipController::setMediaParameter(uint32_t id, double value)
{
    switch (id) {
    case kHostTempo:
        if (value > 0.0)
            hostSync.hostTempo = float(value);
        break;
    case kHostPosition:
        hostSync.hostPosition = float(value);
        break;
    case kPlay:
        if (reader && value > 0.0) {
            reader->detachTimers(this);
            if (reader->songReady) {
                reader->play();
                onMediaLoaded();
            }
        }
        break;
    case kStop:
        if (value > 0.0) {
            if (reader) {
                reader->detachTimers(this);
                reader->stop();
            }
            releaseAllGates(kGatesOff);
            mediaStopped();
        }
        break;
    case kSelectSong:
        if (reader) {
            releaseAllGates(kGatesOff);
            reader->detachTimers(this);
            if (selectReaderSong(vantor::saturatingCast<uint64_t>(value)))
                onMediaLoaded();
        }
        break;
    case kSpeed: {
        const double previous = speed;
        speed = value;
        if (reader) {
            if (value != previous) {
                reader->detachTimers(this);
                reader->setSpeed(value);
                reader->attachTimers(this);
            } else {
                reader->setSpeed(value);
            }
        }
        break;
    }
    case kSeek:
        if (reader)
            reader->seek(value);
        break;
    case kPreviousSong:
        if (reader && value > 0.0)
            changeSong(reader->currentSong == 0 ? 0 : reader->currentSong - 1);
        break;
    case kNextSong:
        if (reader && value > 0.0) {
            const uint64_t next = reader->currentSong + 1;
            changeSong(next < reader->getSongCount() ? next : 0);
        }
        break;
    case kRestartSong:
        if (reader && value > 0.0)
            changeSong(reader->currentSong);
        break;
    case kDisplayMode:
        displayMode = vantor::saturatingCast<uint32_t>(value);
        if (reader)
            reader->setDisplayMode(int32_t(displayMode));
        break;
    case kSyncWord:
        if (value > 0.0)
            hostSync.syncWord = vantor::saturatingCast<uint32_t>(value);
        break;
    case kHostSync:
        if (reader)
            reader->setUserValue(value > 0.0 ? &hostSync : nullptr);
        break;
    case kHostBarStart:
        hostSync.hostBarStart = float(value);
        break;
    case kResetPlayback:
        if (reader && value > 0.0)
            reader->resetPlayback();
        break;
    case kNoAutoAdvance:
        autoAdvance = value == 0.0 ? 1 : 0;
        break;
    default:  // 11, 14, 17, 18 and unknown ids
        break;
    }
}

double ChipController::getMediaParameter(uint32_t id)
{
    switch (id) {
    case kHostTempo:
        return hostSync.hostTempo;
    case kSpeed:
        return reader ? reader->speed : 1.0;
    case kSingleSong:
        return reader && reader->getSongCount() == 1 ? 1.0 : 0.0;
    case kNoAutoAdvance:
        return autoAdvance ? 0.0 : 1.0;
    default:
        return 0.0;
    }
}

void ChipController::channelKeyed(uint32_t channel)
{
    if (!autoAdvance || channel >= kChannels)
        return;
    if (loopCounts[channel]++ == 1)
        advancePending = 1;
}

void ChipController::markChanged(uint32_t /*channel*/, uint32_t /*unused*/)
{
    if (autoAdvance)
        advancePending = 1;
}

uint64_t ChipController::renderUntilEvent(uint64_t frames)
{
    if (advancePending) {
        advancePending = 0;
        setMediaParameter(kNextSong, 1.0);
    }
    if (frames == 0)
        return 0;
    if (reader && !reader->isDrivenByTimers() && reader->playing) {
        for (uint32_t zeros = 0; zeros < kMaxZeroSteps; ++zeros)
            if (const uint64_t n = reader->advanceTicks(frames, getRate()))
                return n;
        return frames;
    }
    // Each 0 means the front timer was due now and has just fired.
    for (uint32_t zeros = 0; zeros < kMaxZeroSteps; ++zeros)
        if (const uint64_t n = advance(frames))
            return std::min(n, frames);
    // A timer that keeps falling due at once: the rest passes without firing.
    now += frames;
    return frames;
}

void ChipController::render(int32_t** channels, uint64_t channelCount, int32_t frames)
{
    uint32_t zeros = 0;
    while (frames > 0) {
        uint64_t n = renderUntilEvent(uint64_t(frames));
        if (n == 0 && ++zeros < kMaxZeroSteps)
            continue;
        zeros = 0;
        n = n == 0 ? uint64_t(frames) : std::min(n, uint64_t(frames));
        if (chips) {
            const size_t count = std::min(chips->size(), kChips);
            for (size_t i = 0; i < count; ++i)
                if (chipEnabled[i])
                    if (ChipEmu* chip = (*chips)[i])
                        chip->render(channels, n);
        }
        for (uint64_t c = 0; c < channelCount; ++c)
            channels[c] += n;
        frames -= int32_t(n);
    }
}

void ChipController::onMediaLoaded()
{
    std::memset(loopCounts, 0, sizeof loopCounts);
    mediaChipCountChanged();
    if (!reader)
        return;
    reader->setSpeed(speed);
    if (listener)
        listener->setTextSlot1(reader->getTitle(reader->currentSong));
    if (reader->playing && reader->isDrivenByTimers())
        reader->attachTimers(this);
}

bool ChipController::loadMediaPath(uint64_t /*index*/, const char* path)
{
    silencePlayerChips();
    replaceReader(nullptr);
    VGM::ReaderFactory* factory = VGM::getReaderFactory();
    if (!factory)
        return false;
    reader = factory->createReader(this, canvas, getReaderExtra());
    if (!reader)
        return false;
    if (!reader->openCollection(path)) {
        delete reader;
        reader = nullptr;
        return false;
    }
    reader->setDisplayMode(int32_t(displayMode));
    reader->selectSong(0);
    if (listener) {
        listener->setTextSlot1(reader->getTitle(reader->currentSong));
        listener->notifyMediaParameter(kSingleSong, 0, reader->getSongCount() == 1 ? 1.0f : 0.0f);
        const std::span<const uint8_t> picture = factory->collectionPicture(*reader);
        listener->publishImageFile(picture.data(), picture.size());
    }
    reader->setSpeed(speed);
    return true;
}
