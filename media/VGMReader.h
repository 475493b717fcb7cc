#pragma once
// Register-log playback: the reader owns a loaded collection and, for the selected song, one
// stream player per chip that the instrument's scheduler fires event by event. With a canvas it
// also owns the player display, which receives the same calls as the instrument.

#include "media/MediaCallback.h"
#include "media/MediaReader.h"
#include "media/VGMX.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace VGM {

class Painter;
class Visualizer;

// Plays one chip stream of a song: each firing hands one event to the listeners and returns the
// scheduler ticks until the next one.
class ChipStreamer : public vantor::QuantumTimer
{
public:
    static constexpr uint64_t kNoFrame = ~uint64_t(0);
    static constexpr uint32_t kDefaultRate = 44100;  // for chips that give a rate of 0

    ChipStreamer() = default;
    ChipStreamer(const ChipStreamer&) = delete;
    ChipStreamer& operator=(const ChipStreamer&) = delete;
    ~ChipStreamer() override = default;

    // Takes a chip of the song (both must outlive the streamer, or reset() be called first) at
    // playback speed 1.
    virtual void setUp(const VGMXChip& chip, const VGMXSong& song,
                       const std::vector<MediaCallback*>& listeners);
    // Back to the first event.
    virtual void rewind();
    // Forgets the chip: the streamer never fires again.
    virtual void reset();
    // Seconds per event tick become 1 / (chip rate x speed).
    void setSpeed(double speed);
    // Ticks that were left when the streamer was taken out of the scheduler; the next firing
    // only finishes that wait, rescaled to a speed set in between.
    void addPending(uint64_t ticks);

    uint64_t quantumElapsed(vantor::QuantumTimer* timer, uint64_t cookie, double rate) override;

    int32_t getKind() const { return kind; }
    uint32_t getRate() const { return rate; }
    uint64_t getFrameDelay() const { return frameDelay; }
    uint64_t getNextEvent() const { return nextEvent; }

protected:
    // floor(carry + x + 0.5) within [0, kNever], the rest carried.
    uint64_t roundTicks(double x);
    // The pending wait, rescaled and cleared.
    uint64_t takePending();
    // Event ticks from event `target` to the end: a loop that takes no time is played as none.
    uint64_t timeFrom(uint64_t target) const;
    // The wait after a wrap: at least one tick when a pass of the loop is shorter, so that no
    // speed makes the stream loop without time passing.
    uint64_t waitAfterWrap(uint64_t ticks, double schedulerRate) const;

    const std::vector<SampleBank>* dataBlocks = nullptr;
    std::vector<MediaCallback*> callbacks;  // not owned
    const VGMXChip* stream = nullptr;
    int32_t kind = 0;
    uint32_t rate = kDefaultRate;  // event ticks per second
    uint64_t loopStart = 0;        // event ticks
    uint64_t loopTarget = 0;       // event after the loop marker
    uint64_t loopTime = 0;         // event ticks of one pass of the loop; 0: no loop
    uint64_t time = 0;  // event ticks played
    double carry = 0.0;
    double pending = 0.0;
    double pendingPeriod = 1.0;  // period when the pending wait was taken
    double period = 1.0;         // seconds per event tick at the current speed
    uint64_t nextEvent = 0;
    uint64_t frameDelay = kNoFrame;  // events at least this long end a frame
};

class Reader : public MediaReader
{
public:
    static constexpr uint64_t kTimerCookie = 35607;

    // `screen`, when not null, gets the player display; `painter` paints its third page.
    Reader(MediaCallback* mediaCallback, PixelCanvas* screen, Painter* painter);
    ~Reader() override;

    // A VGM, VGZ or VGMX file, an archive of logs, or another chip log.
    bool openCollection(const char* path) override;
    // Plays a copy of a collection built in memory.
    bool openDocument(const VGMX& document);
    bool openMedia(vantor::VirtualFile* /*file*/) override { return false; }
    bool selectSong(uint64_t song) override;
    // Only 0.0 acts: every stream starts again at its first event.
    void seek(double position) override;
    void resetPlayback() override;
    // Ignored at or below 0.001.
    void setSpeed(double newSpeed) override;
    void setDisplayMode(int32_t mode) override;
    uint64_t getSongCount() override;
    const char* getTitle(uint64_t song) override;
    bool isDrivenByTimers() override { return true; }
    bool isTuneReady() override { return false; }
    void detachTimers(vantor::QuantumManager* queue) override;
    void attachTimers(vantor::QuantumManager* queue) override;

    // The open collection's picture; empty without one.
    std::span<const uint8_t> picture() const;
    const VGMX* getCollection() const { return collection.get(); }
    Visualizer* getDisplay() const { return display.get(); }
    size_t getStreamerCount() const { return streamers.size(); }
    const ChipStreamer& getStreamer(size_t i) const { return *streamers[i]; }

private:
    // Deletes the streamers, taking them out of the scheduler first when they are in one.
    void dropStreamers();

    std::unique_ptr<VGMX> collection;
    std::unique_ptr<Visualizer> display;
    Painter* painter;     // not owned
    PixelCanvas* screen;  // not owned
    std::vector<std::unique_ptr<ChipStreamer>> streamers;
    int32_t displayMode = 0;
    std::string title;
    std::vector<MediaCallback*> listeners;          // the callback, then the display
    vantor::QuantumManager* attachedTo = nullptr;  // where the streamers are listed
};

// The factory that the instrument's log loading uses while no other is installed. The extra
// pointer of createReader is the display's Painter, or null.
ReaderFactory& registerLogReaderFactory();

}  // namespace VGM
