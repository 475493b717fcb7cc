#pragma once
// Around the instrument instance: a SID controller that logs what reaches it, factories that put
// it (or chips that log their end) into an instance, and a block runner that drives the instance
// through its entry record as the engine does.

#include "abi/ModuleABI.h"
#include "fixtures/ModuleEventBuilders.h"
#include "instrument/ChipController.h"
#include "instrument/ChipWrap.h"
#include "instrument/SIDCtrl.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <optional>
#include <string>
#include <vector>

namespace chipwrap_test {

inline std::string text(const char* format, double a = 0, double b = 0, double c = 0,
                        double d = 0)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
    return buffer;
}

// The SID controller with the calls the instance makes on it logged, then carried out.
class SpyCtrl : public SIDCtrl
{
public:
    using SIDCtrl::SIDCtrl;

    void processMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) override
    {
        log.push_back(text("midi %g %g %g", status, data1, data2));
        SIDCtrl::processMidiMessage(status, data1, data2);
    }
    int64_t noteOn(uint64_t group, uint32_t noteId, uint16_t note, float velocity,
                   float tuning) override
    {
        log.push_back(text("on %g %g %g %g", double(group), double(int32_t(noteId)), note,
                           velocity));
        return SIDCtrl::noteOn(group, noteId, note, velocity, tuning);
    }
    void noteOff(uint64_t group, uint32_t noteId, uint16_t note) override
    {
        log.push_back(text("off %g %g %g", double(group), double(int32_t(noteId)), note));
        SIDCtrl::noteOff(group, noteId, note);
    }
    void noteAux(uint64_t group, uint32_t noteId, uint16_t index, float value) override
    {
        log.push_back(text("aux %g %g %g %g", double(group), double(int32_t(noteId)), index, value));
        SIDCtrl::noteAux(group, noteId, index, value);
    }
    void setNoteExpression(uint64_t group, uint32_t noteId, int32_t type, float value) override
    {
        log.push_back(text("expression %g %g %g %g", double(group), double(int32_t(noteId)), type,
                           value));
        SIDCtrl::setNoteExpression(group, noteId, type, value);
    }
    void setParameter(uint16_t index, float value) override
    {
        log.push_back(text("parameter %g %g", index, value));
        SIDCtrl::setParameter(index, value);
    }
    void setMediaParameter(uint32_t id, double value) override
    {
        if (logMedia)
            log.push_back(text("media %g %g", id, value));
        SIDCtrl::setMediaParameter(id, value);
    }
    bool acceptsShortMessages() override
    {
        log.push_back("accepts?");
        return false;
    }
    void receiveSysEx(const uint8_t* bytes, uint64_t length) override
    {
        log.push_back(text("sysex %g", double(length)));
        SIDCtrl::receiveSysEx(bytes, length);
    }
    // With `constant` set, every tick of channel `constantChannel` is that word instead of the
    // chips' sound.
    void render(int32_t** channels, uint64_t channelCount, int32_t frames) override
    {
        if (!constant) {
            SIDCtrl::render(channels, channelCount, frames);
            return;
        }
        for (int32_t i = 0; i < frames; ++i)
            channels[constantChannel][i] += *constant;
    }

    std::vector<std::string> log;
    bool logMedia = false;
    std::optional<int32_t> constant;
    size_t constantChannel = 0;
};

class SpyFactory : public acme::ChipWrapFactory
{
public:
    ChipController* createController(std::vector<ChipEmu*>* chips,
                                     ChipControllerListener* listener) const override
    {
        last = new SpyCtrl(chips, listener);
        return last;
    }
    mutable SpyCtrl* last = nullptr;
};

// An instance as the engine starts it: audio settings, init, polyphony 12.
struct Started
{
    explicit Started(double rate = 48000.0, uint32_t block = 256, uint32_t hostVersion = 2123,
                     bool spy = true, PluginHostRecord* host = nullptr)
        : wrap(std::make_unique<acme::ChipWrap>(host, "C64", 3, spy ? &factory : nullptr)),
          entry(wrap->getEntryRecord())
    {
        settings(rate, block);
        PluginInitRecord init;
        init.path = "/nonexistent/chips.db";
        init.hostVersion = hostVersion;
        entry->dispatcher(entry, kOpInitWithRecord, reinterpret_cast<intptr_t>(&init), nullptr);
        initResult = init.result;
        command(3, 12.0);
    }

    void settings(double rate, uint32_t block)
    {
        AudioSettingsRecord s;
        s.sampleRate = rate;
        s.sampleRateInt = uint32_t(rate);
        s.samplePeriod = 1.0 / rate;
        s.blockSize = block;
        s.blockDuration = block / rate;
        s.inverseBlockSize = 1.0 / block;
        entry->dispatcher(entry, kOpAudioSettingsChanged, reinterpret_cast<intptr_t>(&s), nullptr);
    }

    void command(int32_t kind, double value)
    {
        MasterSettingsCommand c;
        c.kind = kind;
        c.integerValue = uint64_t(int64_t(value));
        c.value = value;
        entry->dispatcher(entry, kOpMasterSettings, reinterpret_cast<intptr_t>(&c), nullptr);
    }

    SpyCtrl& spy() { return *factory.last; }

    SpyFactory factory;
    std::unique_ptr<acme::ChipWrap> wrap;
    PluginEntryRecord* entry;
    uint64_t initResult = 0;
};

// Runs `command` on another thread while the test holds `mutex`: true when it had to wait for
// the lock.
inline bool waitsForTheMutex(vantor::Mutex& mutex, const std::function<void()>& command)
{
    if (!mutex.lock())
        return false;
    std::atomic<bool> done = false;
    std::thread t([&] {
        command();
        done = true;
    });
    bool waited = true;
    for (int i = 0; i < 200 && waited; ++i) {  // a command that takes no lock ends at once
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        waited = !done;
    }
    mutex.unlock();
    t.join();
    return waited;
}

using fixtures::itemEvent;
using fixtures::moduleEvent;
using fixtures::rawMidiEvent;

// Runs blocks through the entry record's process function, as the engine does.
struct Blocks
{
    explicit Blocks(PluginEntryRecord* e, uint32_t capacity = 8192)
        : entry(e), left(capacity), right(capacity), in(std::make_unique<ModuleEvents>()),
          out(std::make_unique<ModuleEvents>())
    {
    }

    // The events handed back.
    std::vector<vantor::HDMIDIEvent> run(uint32_t frames,
                                         const std::vector<vantor::HDMIDIEvent>& events = {},
                                         bool withTransport = true)
    {
        in->count = events.size();
        std::copy(events.begin(), events.end(), in->events);
        out->count = 0;
        float* outputs[2] = {left.data(), right.data()};
        entry->process(entry, outputs, int32_t(frames), in.get(), out.get(),
                       withTransport ? &transport : nullptr);
        return std::vector<vantor::HDMIDIEvent>(out->events, out->events + out->count);
    }

    // `seconds` of channel 0 (and channel 1 appended to `silent`) in blocks of `block` frames.
    std::vector<float> render(double seconds, double rate, uint32_t block,
                              std::vector<float>* silent = nullptr)
    {
        std::vector<float> sound;
        const size_t total = size_t(seconds * rate);
        while (sound.size() < total) {
            run(block);
            sound.insert(sound.end(), left.begin(), left.begin() + block);
            if (silent)
                silent->insert(silent->end(), right.begin(), right.begin() + block);
        }
        return sound;
    }

    PluginEntryRecord* entry;
    std::vector<float> left, right;
    std::unique_ptr<ModuleEvents> in, out;
    vantor::SyncInfo transport;
};

}  // namespace chipwrap_test
