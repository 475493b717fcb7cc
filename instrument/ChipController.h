#pragma once
// Base of the instrument's controller: the scheduler that cuts every render at its timers' due
// ticks, at most one media reader with the twenty media parameters that steer it, and the link to
// the chips and the host side. All time is counted in chip ticks (one sample word per chip clock).

#include "media/MediaCallback.h"
#include "support/QuantumManager.h"
#include "synth/SyncProvider.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor {
class VirtualFile;
}
class ChipEmu;
class ChipControllerListener;
class ChipHWHook;
class MediaReader;
struct PixelCanvas;

class ChipController : public ZRS::SyncProvider, public MediaCallback, public vantor::QuantumManager
{
public:
    static constexpr size_t kChips = 16;
    static constexpr size_t kChannels = 256;  // loop counters of the auto-advance rule
    static constexpr uint32_t kMediaParameters = 20;
    static constexpr uint32_t kGatesOff = 101;  // releaseAllGates value before a song change
    // Zero-length steps tolerated in one render step before the rest is rendered without firing.
    static constexpr uint32_t kMaxZeroSteps = 1024;

    // Media parameter ids.
    enum MediaParameter : uint32_t {
        kHostTempo = 0,
        kHostPosition = 1,
        kPlay = 2,
        kStop = 3,
        kSelectSong = 4,
        kSpeed = 5,
        kSeek = 6,
        kPreviousSong = 7,
        kNextSong = 8,
        kRestartSong = 9,
        kDisplayMode = 10,
        kSyncWord = 12,
        kHostSync = 13,
        kHostBarStart = 15,
        kResetPlayback = 16,
        kSingleSong = 18,
        kNoAutoAdvance = 19,
    };

    // Host transport as last received; a reader may be given its address.
    struct HostSync
    {
        float hostTempo = 120.0f;
        float hostPosition = 0.0f;
        float hostBarStart = 0.0f;
        uint32_t syncWord = 24;
    };

    // chipList and chipListener are not owned; the list holds chip n at index n, entries may be
    // null.
    ChipController(std::vector<ChipEmu*>* chipList, ChipControllerListener* chipListener);
    ChipController(const ChipController&) = delete;
    ChipController& operator=(const ChipController&) = delete;
    // Detaches and deletes the reader, frees the hardware hook.
    ~ChipController() override;

    // ZRS::SyncProvider.
    float getTempo() override { return syncTempo; }
    float getSyncValueA() override { return hostSync.hostTempo; }
    float getSyncValueB() override { return hostSync.hostPosition; }
    float getSyncValueC() override { return hostSync.hostBarStart; }

    virtual bool init(const char* path, uint32_t hostVersion) = 0;
    virtual bool engineCommand(uint32_t /*op*/, intptr_t /*a*/) { return true; }
    virtual bool resetVoices(intptr_t /*x*/, intptr_t /*y*/) { return true; }
    virtual void silencePlayerChips() {}
    // The scheduler's rate becomes chipRate (ticks per second); videoStandard 2 means NTSC. The
    // chip clock (Hz) is for the concrete controller's voices.
    virtual bool setRate(uint64_t newVideoStandard, double chipRate, double chipClock);
    virtual int64_t loadMedia(int64_t /*index*/, vantor::VirtualFile* /*file*/) { return 0; }
    virtual int64_t tryOpenFile(int64_t /*index*/, const char* /*path*/, bool* handled)
    {
        if (handled)
            *handled = false;
        return 0;
    }
    virtual bool registerTextSlot(uint64_t /*key*/, void* /*block*/, uint64_t /*subCommand*/,
                                  uint32_t /*extra*/)
    {
        return true;
    }
    virtual bool receiveTextSlotInput(uint64_t /*key*/, const char* /*text*/) { return true; }
    virtual bool exportMedia(int64_t /*index*/, const char* /*path*/) { return false; }
    // Ids above 19 are ignored and read 0.0.
    virtual void setMediaParameter(uint32_t id, double value);
    virtual double getMediaParameter(uint32_t id);
    // Ticks that may be rendered before the next event, at most `frames`; fires due timers first.
    virtual uint64_t renderUntilEvent(uint64_t frames);
    // Renders `frames` ticks into the channels in pieces cut at the due timers; every enabled
    // chip adds each piece into channels[its output]. The pointers of `channels` are left
    // advanced past the rendered ticks.
    virtual void render(int32_t** channels, uint64_t channelCount, int32_t frames);
    virtual void unusedControllerHook20() {}
    // Every chip renders every cycle, cut at every timer (tests compare against it).
    virtual void setExactRender(bool on) { exactRender = on; }
    bool isExactRender() const { return exactRender; }

    // MediaCallback: the reader reports here.
    void mediaStarted(const uint8_t* /*data*/, uint64_t /*size*/) override {}
    void writeMediaRegister(uint32_t /*chipKind*/, uint64_t /*delay*/, uint32_t /*port*/,
                            uint32_t /*reg*/, uint32_t /*value*/, double /*rate*/) override
    {
    }
    uint8_t readMediaRegister(uint32_t /*chipKind*/, uint64_t /*time*/, uint32_t /*port*/,
                              uint32_t /*reg*/) override
    {
        return 0;
    }
    // Auto-advance: the second loop of a stream (channel below 256) asks for the next song.
    void channelKeyed(uint32_t channel) override;
    // Auto-advance: a stream ended without a loop.
    void markChanged(uint32_t channel, uint32_t unused) override;

    virtual PixelCanvas* attachCanvas(PixelCanvas* /*newCanvas*/) { return canvas; }
    // Handed to every new log reader.
    virtual void* getReaderExtra() { return nullptr; }
    virtual void receiveSysEx(const uint8_t* /*bytes*/, uint64_t /*length*/) {}
    virtual void receiveShortMessage(uint8_t /*status*/, uint8_t /*data1*/, uint8_t /*data2*/) {}
    virtual bool acceptsShortMessages() { return false; }
    virtual void onHostOpcode27(uint32_t /*op*/, intptr_t /*a*/) {}
    virtual void refreshAsidOutput() {}
    // Refreshes what depends on the current song.
    virtual void onMediaLoaded();

    // Deletes the reader after taking its timers out of the queue.
    void closeMedia();
    // Opens a chip log or collection as the new media; false leaves no reader.
    bool loadMediaPath(uint64_t index, const char* path);

    // Inspection and set-up.
    MediaReader* getReader() const { return reader; }
    ChipControllerListener* getListener() const { return listener; }
    ChipHWHook* getHardwareHook() const { return hardwareHook; }
    PixelCanvas* getCanvas() const { return canvas; }
    uint64_t getVideoStandard() const { return videoStandard; }
    uint32_t getDisplayMode() const { return displayMode; }
    double getSpeed() const { return speed; }
    const HostSync& getHostSync() const { return hostSync; }
    bool isAutoAdvance() const { return autoAdvance != 0; }
    bool isAdvancePending() const { return advancePending != 0; }
    uint8_t loopCount(size_t channel) const { return channel < kChannels ? loopCounts[channel] : 0; }
    bool isChipEnabled(size_t chip) const { return chip < kChips && chipEnabled[chip] != 0; }
    void setChipEnabled(size_t chip, bool on)
    {
        if (chip < kChips)
            chipEnabled[chip] = on ? 1 : 0;
    }

protected:
    // The reader's timers out, the reader deleted, then `newReader` (owned) takes its place.
    void replaceReader(MediaReader* newReader);
    // Selects song n on the reader: its songReady and currentSong take the result and n.
    bool selectReaderSong(uint64_t n);
    // Media parameters 7, 8 and 9: gates off, timers out, select, and on success play.
    void changeSong(uint64_t n);
    // Asks the hook for its pending count, then frees it.
    void freeHardwareHook();

    std::vector<ChipEmu*>* chips;
    ChipControllerListener* listener;
    ChipHWHook* hardwareHook = nullptr;  // owned
    uint64_t videoStandard = 0;
    float syncTempo = 125.0f;
    uint8_t chipEnabled[kChips] = {};
    uint8_t loopCounts[kChannels] = {};
    uint8_t autoAdvance = 1;
    uint8_t advancePending = 0;
    uint32_t displayMode = 0;
    MediaReader* reader = nullptr;  // owned; null or fully opened
    HostSync hostSync;
    PixelCanvas* canvas = nullptr;  // not owned
    double speed = 1.0;
    bool exactRender = false;
};
