#include "media/VGMReader.h"

#include "media/DACStreamer.h"
#include "media/Visualizer.h"
#include "platform/PlatformTools.h"
#include "platform/SaturatingCast.h"

#include <algorithm>
#include <cmath>

namespace VGM {

namespace {

constexpr double kRestSeconds = 0.5;  // before a stream without a loop plays again

bool isDacKind(int32_t kind)
{
    return kind >= kFirstDacKind && kind <= 99;
}

// The delay that ends a frame when nearly all of the stream's time (over 90 %) passes in waits
// of about its longest wait D (at least D / 2); kNoFrame otherwise.
uint64_t findFrameDelay(const std::vector<VGMXEvent>& events)
{
    uint64_t longest = 0, total = 0;
    for (const VGMXEvent e : events) {
        longest = std::max<uint64_t>(longest, e.dt());
        total += e.dt();
    }
    if (longest == 0)
        return ChipStreamer::kNoFrame;
    uint64_t count = 0, shortest = longest;
    for (const VGMXEvent e : events)
        if (2 * uint64_t(e.dt()) >= longest) {
            ++count;
            shortest = std::min<uint64_t>(shortest, e.dt());
        }
    return double(longest) * double(count) / double(total) > 0.9 ? shortest : ChipStreamer::kNoFrame;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ChipStreamer

void ChipStreamer::setUp(const VGMXChip& chip, const VGMXSong& song,
                         const std::vector<MediaCallback*>& listeners)
{
    stream = &chip;
    dataBlocks = &song.banks;
    callbacks = listeners;
    kind = chip.kind;
    rate = chip.rate ? chip.rate : kDefaultRate;
    period = 1.0 / rate;
    loopStart = song.loopStart;
    // A loop marker as the last event (or none, as in VGMX text) loops to the first event.
    loopTarget = chip.loopIndex + 1 < chip.events.size() ? chip.loopIndex + 1 : 0;
    loopTime = song.loopEnd != VGMXChip::kNoLoop ? timeFrom(loopTarget) : 0;
    frameDelay = findFrameDelay(chip.events);
    rewind();
}

uint64_t ChipStreamer::timeFrom(uint64_t target) const
{
    uint64_t sum = 0;
    for (uint64_t i = target; i < stream->events.size(); ++i)
        sum += stream->events[i].dt();
    return sum;
}

uint64_t ChipStreamer::waitAfterWrap(uint64_t ticks, double schedulerRate) const
{
    return ticks == 0 && double(loopTime) * period * schedulerRate < 1.0 ? 1 : ticks;
}

void ChipStreamer::rewind()
{
    nextEvent = 0;
    time = 0;
    carry = 0.0;
    pending = 0.0;
}

void ChipStreamer::reset()
{
    stream = nullptr;
    dataBlocks = nullptr;
    callbacks.clear();
    loopStart = 0;
    loopTime = 0;
    frameDelay = kNoFrame;
    rewind();
}

void ChipStreamer::setSpeed(double speed)
{
    period = 1.0 / (double(rate) * speed);
}

void ChipStreamer::addPending(uint64_t ticks)
{
    if (ticks == 0)
        return;
    if (pending == 0.0)
        pendingPeriod = period;
    pending += double(ticks);
}

uint64_t ChipStreamer::takePending()
{
    const double x = pending * (period / pendingPeriod);
    pending = 0.0;
    return std::min(vantor::saturatingCast<uint64_t>(x), kNever);
}

uint64_t ChipStreamer::roundTicks(double x)
{
    x += carry;
    const double n = std::floor(x + 0.5);
    if (!(n > 0.0)) {  // NaN too
        carry = n == n ? x - n : 0.0;
        return 0;
    }
    if (n >= double(kNever)) {
        carry = 0.0;
        return kNever;
    }
    carry = x - n;
    return uint64_t(n);
}

uint64_t ChipStreamer::quantumElapsed(vantor::QuantumTimer*, uint64_t, double schedulerRate)
{
    if (pending > 0.0)
        return takePending();
    if (!stream || stream->events.empty())
        return kNever;
    const std::vector<VGMXEvent>& events = stream->events;
    const VGMXEvent event = events[nextEvent++];
    if (event.kind() == VGMXEvent::kWrite)
        for (MediaCallback* c : callbacks)
            c->writeMediaRegister(uint32_t(kind), event.dt(), event.port(), event.reg(),
                                  event.value(), schedulerRate);
    time += event.dt();
    if (frameDelay <= event.dt())
        for (MediaCallback* c : callbacks)
            c->captureRegisters(time);

    bool wrapped = false;
    if (nextEvent >= events.size()) {
        if (loopTime == 0) {
            nextEvent = 0;
            for (MediaCallback* c : callbacks) {
                c->markChanged(uint32_t(kind), 0);
                c->releaseAllGates(uint32_t(kind));
                c->setMediaTime(0.0);
            }
            return std::min(vantor::saturatingCast<uint64_t>(schedulerRate * kRestSeconds), kNever);
        }
        for (MediaCallback* c : callbacks) {
            c->channelKeyed(uint32_t(kind));
            c->setMediaTime(double(loopStart) / rate);
        }
        nextEvent = loopTarget;
        wrapped = true;
    }
    const uint64_t ticks = roundTicks(double(events[nextEvent].dt()) * period * schedulerRate);
    return wrapped ? waitAfterWrap(ticks, schedulerRate) : ticks;
}

// ---------------------------------------------------------------------------------------------
// Reader

Reader::Reader(MediaCallback* mediaCallback, PixelCanvas* canvas, Painter* displayPainter)
    : MediaReader(mediaCallback), painter(displayPainter), screen(canvas)
{
}

Reader::~Reader()
{
    dropStreamers();
}

void Reader::dropStreamers()
{
    if (attachedTo)
        for (const auto& s : streamers)
            attachedTo->cancel(s.get());
    attachedTo = nullptr;
    streamers.clear();
}

bool Reader::openCollection(const char* path)
{
    if (!path || !fileExists(path))
        return false;
    resetPlayback();
    collection = std::make_unique<VGMX>();
    if (!collection->open(path)) {
        collection.reset();
        return false;
    }
    songReady = true;
    return getSongCount() != 0;
}

bool Reader::openDocument(const VGMX& document)
{
    resetPlayback();
    collection = std::make_unique<VGMX>(document);
    songReady = true;
    return true;
}

bool Reader::selectSong(uint64_t n)
{
    if (!collection || n >= collection->getSongCount())
        return false;
    // An archive's song is read afresh into the one song record the streamers point into.
    const bool replaced = collection->container != nullptr;
    VGMXSong& song = collection->loadSong(n);
    if (song.chips.empty() || !song.loaded) {
        if (!song.banks.empty() && callback)
            callback->setDataBlocks(&song.banks);
        if (replaced)
            dropStreamers();
        return false;
    }

    listeners.clear();
    if (callback) {
        listeners.push_back(callback);
        callback->songSelected(n);
        callback->setDataBlocks(&song.banks);
    }
    bool displayOk = true;
    if (screen) {
        display.reset();
        display = std::make_unique<Visualizer>(screen, painter);
        display->setDisplayMode(displayMode);
        displayOk = display->drawStreamList(n + 1, collection->getSongCount(), song);
        listeners.push_back(display.get());
    }
    dropStreamers();
    title = song.tags[VGMXSong::kGameName] + " - " +
            (displayOk ? song.tags[VGMXSong::kTrackName] : std::string(Visualizer::kNoSuitableData));

    for (const auto& [kind, chip] : song.chips) {
        std::unique_ptr<ChipStreamer> streamer;
        if (isDacKind(kind))
            streamer = std::make_unique<DACStreamer>();
        else
            streamer = std::make_unique<ChipStreamer>();
        streamer->setUp(chip, song, listeners);
        streamer->setSpeed(speed);
        for (MediaCallback* c : listeners)
            c->addChip(uint32_t(kind), chip.subtype, streamer->getRate());
        streamers.push_back(std::move(streamer));
    }
    return !streamers.empty();
}

void Reader::seek(double position)
{
    if (position != 0.0)
        return;
    for (const auto& s : streamers)
        s->rewind();
}

void Reader::resetPlayback()
{
    for (const auto& s : streamers)
        s->reset();
    collection.reset();
    MediaReader::resetPlayback();
    speed = 1.0;
}

void Reader::setSpeed(double newSpeed)
{
    if (!(newSpeed > 0.001) || !std::isfinite(newSpeed))
        return;
    speed = newSpeed;
    for (const auto& s : streamers)
        s->setSpeed(newSpeed);
}

void Reader::setDisplayMode(int32_t mode)
{
    displayMode = mode;
    if (display)
        display->setDisplayMode(mode);
}

uint64_t Reader::getSongCount()
{
    return collection ? collection->getSongCount() : 0;
}

const char* Reader::getTitle(uint64_t /*song*/)
{
    return collection ? title.c_str() : nullptr;
}

void Reader::detachTimers(vantor::QuantumManager* queue)
{
    if (!queue)
        return;
    for (const auto& s : streamers)
        s->addPending(queue->cancel(s.get()));
    if (queue == attachedTo)
        attachedTo = nullptr;
}

void Reader::attachTimers(vantor::QuantumManager* queue)
{
    if (!queue)
        return;
    if (attachedTo)
        detachTimers(attachedTo);
    for (const auto& s : streamers)
        queue->addTimer(s.get(), kTimerCookie);
    attachedTo = queue;
}

std::span<const uint8_t> Reader::picture() const
{
    if (!collection)
        return {};
    return collection->image;
}

// ---------------------------------------------------------------------------------------------
// Factory

namespace {

class RegisterLogReaderFactory final : public ReaderFactory
{
public:
    MediaReader* createReader(MediaCallback* callback, PixelCanvas* canvas, void* extra) override
    {
        return new Reader(callback, canvas, static_cast<Painter*>(extra));
    }
    std::span<const uint8_t> collectionPicture(MediaReader& reader) override
    {
        const auto* logReader = dynamic_cast<const Reader*>(&reader);
        return logReader ? logReader->picture() : std::span<const uint8_t>();
    }
};

}  // namespace

ReaderFactory& registerLogReaderFactory()
{
    static RegisterLogReaderFactory factory;
    return factory;
}

}  // namespace VGM
