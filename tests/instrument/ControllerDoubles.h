#pragma once
// Stand-ins around ChipController: chips, timers, a media reader with its factory, the host-side
// listener and a hardware hook. Each appends what happens to one shared log, so tests can check
// the order of events across them.

#include "fixtures/StubChip.h"
#include "instrument/ChipController.h"
#include "instrument/ChipControllerListener.h"
#include "instrument/ChipHWHook.h"
#include "media/MediaReader.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

using EventLog = std::vector<std::string>;

class LoggingChip : public fixtures::StubChip
{
public:
    LoggingChip(EventLog* eventLog, std::string chipName) : log(eventLog), name(std::move(chipName))
    {
    }
    const ChipInfo* getChipInfo() const override { return &info; }
    void render(int32_t* const* outputs, uint64_t cycles) override
    {
        log->push_back(name + " " + std::to_string(cycles));
        firstOutputs.push_back(outputs[0]);
        secondOutputs.push_back(outputs[1]);
    }

    EventLog* log;
    std::string name;
    ChipInfo info;
    std::vector<int32_t*> firstOutputs;
    std::vector<int32_t*> secondOutputs;
};

// Due `first` ticks after it is added, then every `period` ticks (never when 0 is not wanted).
class LoggingTimer : public vantor::QuantumTimer
{
public:
    LoggingTimer(EventLog* eventLog, std::string timerName, uint64_t firstDelay,
                 uint64_t repeat = kNever)
        : log(eventLog), name(std::move(timerName)), first(firstDelay), period(repeat)
    {
    }
    uint64_t quantumElapsed(vantor::QuantumTimer*, uint64_t, double) override
    {
        if (!added) {
            added = true;
            return first;
        }
        ++fired;
        log->push_back(name);
        return period;
    }

    EventLog* log;
    std::string name;
    uint64_t first;
    uint64_t period;
    bool added = false;
    uint64_t fired = 0;
};

class FakeReader : public MediaReader
{
public:
    FakeReader(MediaCallback* cb, EventLog* eventLog) : MediaReader(cb), log(eventLog) {}
    ~FakeReader() override { log->push_back("reader deleted"); }

    uint64_t advanceTicks(uint64_t ticks, double rate) override
    {
        ++advanceCalls;
        lastRate = rate;
        return std::min(ticks, step);
    }
    bool play() override
    {
        log->push_back("play");
        return MediaReader::play();
    }
    bool stop() override
    {
        log->push_back("stop");
        return MediaReader::stop();
    }
    bool openCollection(const char* path) override
    {
        log->push_back(std::string("open ") + path);
        return openResult;
    }
    bool selectSong(uint64_t song) override
    {
        log->push_back("select " + std::to_string(song));
        return song < songs;
    }
    void seek(double position) override { log->push_back("seek " + std::to_string(position)); }
    void resetPlayback() override
    {
        log->push_back("reset playback");
        MediaReader::resetPlayback();
    }
    void setSpeed(double newSpeed) override
    {
        log->push_back("speed " + std::to_string(newSpeed));
        MediaReader::setSpeed(newSpeed);
    }
    void setDisplayMode(int32_t mode) override
    {
        log->push_back("display " + std::to_string(mode));
    }
    uint64_t getSongCount() override { return songs; }
    const char* getTitle(uint64_t song) override
    {
        titleText = title + " " + std::to_string(song);
        return titleText.c_str();
    }
    bool isDrivenByTimers() override { return timers; }
    void detachTimers(vantor::QuantumManager*) override { log->push_back("detach"); }
    void attachTimers(vantor::QuantumManager*) override { log->push_back("attach"); }

    EventLog* log;
    std::string title = "Title";
    std::string titleText;
    uint64_t songs = 1;
    bool openResult = true;
    bool timers = true;
    uint64_t step = ~uint64_t(0);  // ticks one advanceTicks call runs at most
    uint64_t advanceCalls = 0;
    double lastRate = 0.0;
    std::vector<uint8_t> picture;
};

// Makes FakeReaders like `pattern`; installed for as long as it lives.
class FakeReaderFactory : public VGM::ReaderFactory
{
public:
    explicit FakeReaderFactory(EventLog* eventLog) : log(eventLog)
    {
        VGM::setReaderFactory(this);
    }
    ~FakeReaderFactory() { VGM::setReaderFactory(nullptr); }
    FakeReaderFactory(const FakeReaderFactory&) = delete;
    FakeReaderFactory& operator=(const FakeReaderFactory&) = delete;

    MediaReader* createReader(MediaCallback* callback, PixelCanvas* canvas, void* extra) override
    {
        lastCallback = callback;
        lastCanvas = canvas;
        lastExtra = extra;
        auto* r = new FakeReader(callback, log);
        r->title = title;
        r->songs = songs;
        r->openResult = openResult;
        r->picture = picture;
        return r;
    }
    std::span<const uint8_t> collectionPicture(MediaReader& reader) override
    {
        return static_cast<FakeReader&>(reader).picture;
    }

    EventLog* log;
    std::string title = "Title";
    uint64_t songs = 1;
    bool openResult = true;
    std::vector<uint8_t> picture;
    MediaCallback* lastCallback = nullptr;
    PixelCanvas* lastCanvas = nullptr;
    void* lastExtra = nullptr;
};

class LoggingListener : public ChipControllerListener
{
public:
    explicit LoggingListener(EventLog* eventLog) : log(eventLog) {}

    void queueControlChange(int32_t, float) override {}
    void notifyVoiceParameter(uint64_t, uint32_t, uint32_t, float) override {}
    void notifyLayerParameter(uint64_t, uint32_t, uint32_t, float) override {}
    void notifySynthParameter(uint32_t, uint32_t, float) override {}
    void notifyMediaParameter(uint32_t n, uint32_t kind, float value) override
    {
        log->push_back("media parameter " + std::to_string(n) + " " + std::to_string(kind) + " " +
                       std::to_string(value));
    }
    void notifyAutomationSlot(uint64_t, uint32_t, uint32_t, float) override {}
    void queueControllerEvent(uint16_t, uint32_t, int32_t, float) override {}
    void notifyRangeChanged(uint64_t, uint64_t, uint64_t) override {}
    void notifyIdle() override {}
    void setTextSlot0(const char*) override {}
    void setTextSlot1(const char* text) override
    {
        log->push_back(std::string("text slot 1 ") + (text ? text : "(null)"));
    }
    void setModRoutingText(const char*) override {}
    void publishImageFile(const uint8_t* bytes, uint64_t length) override
    {
        image.assign(bytes, bytes + length);
        log->push_back("image " + std::to_string(length));
    }
    void setDisplayInfo(const uint8_t*) override {}
    void notifyHost(void*, uint32_t, uint32_t) override {}
    void callHostOpcode12(HostMidiOutRecord*) override {}
    void setChannelScale(uint64_t, int32_t) override {}
    void setChannelFilterCutoff(uint64_t, double) override {}
    void setChannelHighPassCutoff(uint64_t, double) override {}

    EventLog* log;
    std::vector<uint8_t> image;
};

class LoggingHook : public ChipHWHook
{
public:
    explicit LoggingHook(EventLog* eventLog) : ChipHWHook(false, nullptr), log(eventLog) {}
    ~LoggingHook() override { log->push_back("hook deleted"); }
    void* run() override { return nullptr; }
    void flush() override {}
    void writeRegister(uint8_t, uint8_t, uint8_t, uint64_t) override {}
    void sendSysEx(const uint8_t*, uint64_t) override {}
    uint8_t readRegister() override { return 255; }
    void setPort(uint32_t) override {}
    void getPendingCount(uint32_t* count) override
    {
        *count = 0;
        log->push_back("pending count");
    }

    EventLog* log;
};

// The controller with the operations its concrete class overrides made visible in the log.
class LoggingController : public ChipController
{
public:
    LoggingController(std::vector<ChipEmu*>* chipList, ChipControllerListener* chipListener,
                      EventLog* eventLog)
        : ChipController(chipList, chipListener), log(eventLog)
    {
    }
    bool init(const char*, uint32_t) override { return true; }
    void silencePlayerChips() override { log->push_back("silence"); }
    void releaseAllGates(uint32_t value) override
    {
        log->push_back("gates off " + std::to_string(value));
    }
    void mediaChipCountChanged() override { log->push_back("chip count"); }
    void mediaStopped() override { log->push_back("stopped"); }

    // Takes ownership.
    FakeReader* adopt(FakeReader* r)
    {
        replaceReader(r);
        return r;
    }
    void adoptHook(ChipHWHook* hook) { hardwareHook = hook; }

    EventLog* log;
};
