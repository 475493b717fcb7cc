#pragma once
// Stand-ins around SIDCtrl: chips that record their register writes and renders, a host side
// that records what is reported to it and the MIDI it sends, a media
// reader that records its MIDI input, and the controller with its capture calls recorded.

#include "fixtures/StubChip.h"
#include "instrument/ChipControllerListener.h"
#include "abi/ModuleABI.h"
#include "instrument/SIDCtrl.h"
#include "media/MediaReader.h"
#include "sid/SIDEmu.h"
#include "support/Threads.h"
#include "synth/AutomTables.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace sidctrl_test {

struct RegWrite
{
    uint16_t reg;
    uint8_t value;
    bool operator==(const RegWrite&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RegWrite& w)
{
    return out << "{reg " << w.reg << ", 0x" << std::hex << int(w.value) << std::dec << "}";
}

class RecordingChip : public fixtures::StubChip
{
public:
    void reset() override { ++resets; }
    const ChipInfo* getChipInfo() const override { return &info; }
    void writeRegister(uint16_t reg, uint8_t value, uint64_t) override
    {
        writes.push_back({reg, value});
        regs[reg & 31] = value;
    }
    uint8_t readRegister(uint16_t reg, uint64_t) override { return regs[reg & 31]; }
    void setParameter(uint64_t index, float value) override
    {
        parameterSets.push_back({index, value});
    }
    // Adds `mark` to every word, so a test sees which ticks each chip covered.
    void render(int32_t* const* outputs, uint64_t cycles) override
    {
        renders.push_back(cycles);
        for (uint64_t i = 0; i < cycles; ++i)
            outputs[0][i] += mark;
    }

    // The last value written to reg, or -1.
    int lastWrite(uint16_t reg) const
    {
        for (auto it = writes.rbegin(); it != writes.rend(); ++it)
            if (it->reg == reg)
                return it->value;
        return -1;
    }

    ChipInfo info;
    std::vector<RegWrite> writes;
    std::vector<std::pair<uint64_t, float>> parameterSets;
    std::vector<uint64_t> renders;
    uint8_t regs[32] = {};
    int32_t mark = 1;
    int resets = 0;
};

struct Report
{
    std::string what;  // "synth", "layer", "slot", "voice"
    uint64_t a;
    uint32_t n;
    uint32_t kind;
    float value;
};

class RecordingListener : public ChipControllerListener
{
public:
    void queueControlChange(int32_t, float) override {}
    void notifyVoiceParameter(uint64_t chip, uint32_t n, uint32_t kind, float value) override
    {
        reports.push_back({"voice", chip, n, kind, value});
    }
    void notifyLayerParameter(uint64_t layer, uint32_t n, uint32_t kind, float value) override
    {
        reports.push_back({"layer", layer, n, kind, value});
    }
    void notifySynthParameter(uint32_t n, uint32_t kind, float value) override
    {
        reports.push_back({"synth", 0, n, kind, value});
    }
    void notifyMediaParameter(uint32_t n, uint32_t kind, float value) override
    {
        reports.push_back({"media", 0, n, kind, value});
    }
    void notifyAutomationSlot(uint64_t slot, uint32_t n, uint32_t kind, float value) override
    {
        reports.push_back({"slot", slot, n, kind, value});
    }
    void queueControllerEvent(uint16_t, uint32_t, int32_t, float) override {}
    void notifyRangeChanged(uint64_t, uint64_t, uint64_t) override {}
    void notifyIdle() override {}
    void setTextSlot0(const char*) override {}
    void setTextSlot1(const char*) override {}
    void setModRoutingText(const char* text) override { routingTexts.push_back(text ? text : "(null)"); }
    void publishImageFile(const uint8_t*, uint64_t) override {}
    void setDisplayInfo(const uint8_t* info) override { displayInfo = info; }
    void notifyHost(void*, uint32_t, uint32_t) override {}
    // Keeps a copy of the record and of its SysEx bytes (both live only for the call).
    void callHostOpcode12(HostMidiOutRecord* record) override
    {
        midiOut.push_back(*record);
        midiOut.back().sysex = nullptr;
        sysex.emplace_back(record->sysex, record->sysex ? record->sysex + record->size : nullptr);
    }
    void setChannelScale(uint64_t, int32_t) override {}
    void setChannelFilterCutoff(uint64_t, double) override {}
    void setChannelHighPassCutoff(uint64_t, double) override {}

    // Reports of synth parameter n with change kind `kind`.
    size_t synthReports(uint32_t n, uint32_t kind) const
    {
        size_t count = 0;
        for (const Report& r : reports)
            count += r.what == "synth" && r.n == n && r.kind == kind;
        return count;
    }

    std::vector<Report> reports;
    std::vector<HostMidiOutRecord> midiOut;
    std::vector<std::vector<uint8_t>> sysex;  // per record of midiOut; empty for a short message
    std::vector<std::string> routingTexts;
    const uint8_t* displayInfo = nullptr;
};

class MidiReader : public MediaReader
{
public:
    explicit MidiReader(MediaCallback* cb) : MediaReader(cb) {}
    bool selectSong(uint64_t song) override
    {
        selected.push_back(song);
        return song < songs;
    }
    uint64_t getSongCount() override { return songs; }
    bool isDrivenByTimers() override { return timers; }
    uint64_t advanceTicks(uint64_t ticks, double) override
    {
        ++advanceCalls;
        return ticks;
    }
    void setPlayerOption(uint32_t option, int64_t value) override
    {
        options.push_back({option, value});
    }
    void sendMidiInput(uint8_t status, uint8_t data1, uint8_t data2) override
    {
        midi.push_back({status, data1, data2});
    }

    std::vector<std::vector<uint8_t>> midi;
    std::vector<std::pair<uint32_t, int64_t>> options;
    std::vector<uint64_t> selected;
    uint64_t songs = 2;
    bool timers = true;
    uint64_t advanceCalls = 0;
};

// A reader run by the render like a tune: each run renders `perRun` ticks of the chips through
// the callback (or asks for the rest of the budget with kWhole) and reports `chipCount` chips.
class TickReader : public MediaReader
{
public:
    static constexpr uint64_t kWhole = ~uint64_t(0);

    explicit TickReader(MediaCallback* cb) : MediaReader(cb) { playing = true; }
    bool selectSong(uint64_t) override { return true; }
    uint64_t getSongCount() override { return 1; }
    bool isDrivenByTimers() override { return false; }
    uint64_t getChipCount() override { return chipCount; }
    uint64_t advanceTicks(uint64_t ticks, double rate) override
    {
        asked.push_back(ticks);
        lastRate = rate;
        const uint64_t n = perRun == kWhole ? ticks : perRun;
        if (n)
            callback->renderChips(77, n);
        return ticks;
    }

    uint64_t perRun = kWhole;
    uint64_t chipCount = 1;
    std::vector<uint64_t> asked;
    double lastRate = 0.0;
};

// The controller with its protected parts reachable and the capture calls recorded.
class TestCtrl : public SIDCtrl
{
public:
    using SIDCtrl::SIDCtrl;

    void previewCaptureItem(uint64_t item) override
    {
        captureCalls.push_back("preview " + std::to_string(item));
        if (watched && watched->tryLock()) {
            watched->unlock();
            mutexFreeDuringCall = true;
        }
    }
    void patchFromCaptureItem(uint64_t item) override
    {
        captureCalls.push_back("patch " + std::to_string(item));
    }
    void patchFromShadowRegisters() override { captureCalls.push_back("shadows"); }

    // Takes ownership.
    template <class R>
    R* adoptReader(R* r)
    {
        replaceReader(r);
        return r;
    }
    void setAdvancePending() { advancePending = 1; }
    // The due tick of the timer's first entry, or -1.
    int64_t dueOf(const vantor::QuantumTimer* timer) const
    {
        for (const vantor::QuantumEntry& e : getEntries())
            if (e.timer == timer)
                return int64_t(e.due);
        return -1;
    }

    std::vector<std::string> captureCalls;
    vantor::Mutex* watched = nullptr;
    bool mutexFreeDuringCall = false;
};

// Sixteen real SID chips as a controller's chip list.
struct RealChips
{
    RealChips() : sids(ChipController::kChips)
    {
        for (SIDEmu& s : sids) {
            s.init(4096, nullptr, SIDEmu::kDefaultInitValue);
            chips.push_back(&s);
        }
    }
    std::vector<SIDEmu> sids;
    std::vector<ChipEmu*> chips;
};

// Renders `ticks` in host-sized blocks.
inline std::vector<double> renderTicks(SIDCtrl& ctrl, size_t ticks)
{
    std::vector<double> out;
    std::vector<int32_t> block(4096);
    while (out.size() < ticks) {
        const size_t n = std::min(block.size(), ticks - out.size());
        std::fill(block.begin(), block.end(), 0);
        int32_t* channels[2] = {block.data(), nullptr};
        ctrl.render(channels, 2, int32_t(n));
        out.insert(out.end(), block.begin(), block.begin() + ptrdiff_t(n));
    }
    return out;
}

// The controller with its capture state open to the test; records the frames each conversion
// receives.
class CaptureCtrl : public SIDCtrl
{
public:
    using SIDCtrl::SIDCtrl;

    void patchFromFrames(const std::vector<SID_shadow>& frames, uint32_t clock, uint64_t voiceMask) override
    {
        converted.push_back({frames.size(), clock, voiceMask});
        SIDCtrl::patchFromFrames(frames, clock, voiceMask);
    }
    std::vector<SID_shadow>& frames() { return captureFrames; }
    void setCyclesPerFrame(int64_t cycles) { captureInterval = cycles; }
    void setVideoStandard(uint64_t standard) { videoStandard = standard; }
    SID_shadow& liveImage() { return shadows[kFirstPlayerChip]; }
    // Takes ownership.
    void adoptReader(MediaReader* r) { replaceReader(r); }

    struct Conversion
    {
        size_t frames;
        uint32_t clock;
        uint64_t voiceMask;
    };
    std::vector<Conversion> converted;
};

// A controller over recording chips and host, with the 15 step tables handed over as the engine
// does, formatted.
class StepTableRig
{
public:
    StepTableRig() : chipObjects(ChipController::kChips)
    {
        for (auto& chip : chipObjects)
            chips.push_back(&chip);
        ctrl = std::make_unique<CaptureCtrl>(&chips, &listener);
        ctrl->init("d/chips.db", 1006);
        ctrl->setRate(0, 985248.0, 985248.0);
        for (auto& block : blocks) {
            block.assign(ZRS::kStepTableSize, 0);
            ZRS::writeDefaultStepTable(block.data(), block.size());
            ctrl->addStepTableBlock(block.data(), block.size(), 0);
        }
    }

    uint8_t step(uint64_t slot, size_t i) const { return blocks[slot][ZRS::kStepTableStepsOffset + i]; }
    std::vector<int> steps(uint64_t slot, size_t count) const
    {
        std::vector<int> out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(step(slot, i));
        return out;
    }
    uint32_t word(uint64_t slot, size_t offset) const
    {
        uint32_t v = 0;
        std::memcpy(&v, blocks[slot].data() + offset, sizeof v);
        return v;
    }
    uint32_t usedSize(uint64_t slot) const { return word(slot, 4); }
    uint32_t flags(uint64_t slot) const { return word(slot, 12); }
    uint16_t highestStep(uint64_t slot) const { return uint16_t(word(slot, 38)); }
    float parameter(uint64_t slot, uint16_t p) const { return ctrl->getAutomSlotParameter(slot, p); }

    std::vector<RecordingChip> chipObjects;
    std::vector<ChipEmu*> chips;
    RecordingListener listener;
    std::vector<uint8_t> blocks[15];
    std::unique_ptr<CaptureCtrl> ctrl;
};

}  // namespace sidctrl_test
