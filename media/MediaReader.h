#pragma once
// Base of the media readers (tunes and C64 images, register logs): one loaded file turned into
// timed chip register writes, reported through a MediaCallback. A reader is a QuantumTimer, so it
// or timers it owns can run on the instrument's scheduler; a reader not driven by timers is run
// by advanceTicks instead.

#include "support/QuantumManager.h"

#include <cstdint>
#include <span>

namespace vantor {
class VirtualFile;
}
class MediaCallback;
struct PixelCanvas;

class MediaReader : public vantor::QuantumTimer
{
public:
    explicit MediaReader(MediaCallback* mediaCallback) : callback(mediaCallback) {}
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;
    ~MediaReader() override = default;

    using vantor::QuantumTimer::advanceTicks;
    // Runs a self-driven reader for `ticks` at `rate` ticks per second; returns the ticks done.
    virtual uint64_t advanceTicks(uint64_t ticks, double /*rate*/) { return ticks; }

    virtual bool play()
    {
        playing = true;
        return true;
    }
    virtual bool stop()
    {
        playing = false;
        return true;
    }
    virtual bool openCollection(const char* /*path*/) { return false; }
    virtual bool openMedia(vantor::VirtualFile* /*file*/) { return false; }
    // True when the song can play.
    virtual bool selectSong(uint64_t song) = 0;
    virtual void seek(double /*position*/) {}
    virtual void setPlayerOption(uint32_t /*option*/, int64_t /*value*/) {}
    // Stops and forgets the song and the user value.
    virtual void resetPlayback();
    virtual void setSpeed(double newSpeed) { speed = newSpeed; }
    virtual bool restart() { return selectSong(getStartSong()); }
    virtual void sendMidiInput(uint8_t /*status*/, uint8_t /*data1*/, uint8_t /*data2*/) {}
    virtual void setDisplayMode(int32_t /*mode*/) {}
    virtual uint64_t getSongCount() = 0;
    virtual uint64_t getStartSong() { return 0; }
    // Texts stay owned by the reader; null when unknown.
    virtual const char* getTitle(uint64_t /*song*/) { return nullptr; }
    virtual const char* getAuthor(uint64_t /*song*/) { return nullptr; }
    virtual const char* getReleased(uint64_t /*song*/) { return nullptr; }
    virtual const char* getPlayerName(uint64_t /*song*/) { return nullptr; }
    virtual const char* getPlayerReference(uint64_t /*song*/) { return nullptr; }
    virtual uint64_t getChipCount() { return 1; }
    // True: plays through timers in the scheduler; false: run by advanceTicks.
    virtual bool isDrivenByTimers() = 0;
    virtual bool isTuneReady() { return false; }
    virtual void setUserValue(void* value) { userValue = value; }
    virtual void detachTimers(vantor::QuantumManager* /*queue*/) {}
    virtual void attachTimers(vantor::QuantumManager* /*queue*/) {}

    bool playing = false;
    bool fresh = true;  // cleared by resetPlayback
    double speed = 1.0;
    void* userValue = nullptr;
    double framePeriod = 1.0 / 60.0;  // seconds
    bool songReady = false;
    int64_t pendingIndex = -1;
    MediaCallback* callback;  // not owned
    uint64_t currentSong = 0;
};

namespace VGM {

// Builds the register-log reader that ChipController::loadMediaPath opens.
class ReaderFactory
{
public:
    virtual MediaReader* createReader(MediaCallback* callback, PixelCanvas* canvas,
                                      void* extra) = 0;
    // The picture carried by the collection that `reader`, made here, has opened; empty when
    // there is none.
    virtual std::span<const uint8_t> collectionPicture(MediaReader& reader) = 0;

protected:
    ~ReaderFactory() = default;
};

// Null uninstalls. Installed once at start-up, before any instrument exists.
void setReaderFactory(ReaderFactory* factory);
// The installed factory, else the register-log reader's own.
ReaderFactory* getReaderFactory();

}  // namespace VGM
