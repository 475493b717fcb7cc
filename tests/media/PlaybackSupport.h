#pragma once
// Register-log playback for the media tests: songs written in code, a reader on a real scheduler
// and a recording callback stamped with the scheduler's tick.

#include "fixtures/c64/FakeMediaCallback.h"
#include "media/VGMReader.h"
#include "media/VGMX.h"
#include "support/QuantumManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace playback {

using fixtures::MediaCall;

inline VGMXEvent W(uint32_t dt, uint8_t reg, uint8_t value = 0, uint8_t port = 0)
{
    return VGMXEvent::pack(dt, VGMXEvent::kWrite, reg, value, port);
}
inline VGMXEvent E(char letter, uint32_t dt = 0)
{
    return VGMXEvent::pack(dt, letter, 0, 0, 0);
}

// A chip of the document's song with these events.
inline VGM::VGMXChip& addChip(VGM::VGMX& doc, int32_t kind, const std::string& type, uint32_t rate,
                              std::vector<VGMXEvent> events, uint32_t clock = 1000000)
{
    VGM::VGMXChip& chip = doc.song.chips[kind];
    chip.kind = kind;
    chip.typeName = type;
    chip.rate = rate;
    chip.clock = clock;
    chip.events = std::move(events);
    chip.total = 0;
    for (const VGMXEvent e : chip.events)
        chip.total += e.dt();
    doc.song.loaded = 1;
    return chip;
}

// A D/A register write of the DAC channel protocol: a 32-bit value in registers high, high + 1.
inline std::vector<VGMXEvent> dac32(uint8_t highReg, uint32_t value)
{
    return {W(0, highReg, uint8_t(value >> 24), uint8_t(value >> 16)),
            W(0, uint8_t(highReg + 1), uint8_t(value >> 8), uint8_t(value))};
}

// Advances the scheduler to `tick`, firing every timer due up to and at it.
inline void runUntil(vantor::QuantumManager& manager, uint64_t tick)
{
    for (uint32_t guard = 0; guard < 50'000'000; ++guard) {
        manager.advance(tick - manager.getNow());
        if (manager.getNow() == tick && !manager.isFrontFired())
            return;
    }
    ADD_FAILURE() << "the scheduler stalls at tick " << manager.getNow();
}

// A reader on a scheduler of `rate` ticks per second; the manager outlives the reader.
struct Player
{
    explicit Player(double rate = 1e6, PixelCanvas* canvas = nullptr)
    {
        manager.setRate(rate);
        callback.clock = [this] { return manager.getNow(); };
        reader = std::make_unique<VGM::Reader>(&callback, canvas, nullptr);
    }
    bool open(const VGM::VGMX& doc) { return reader->openDocument(doc) && reader->selectSong(0); }
    void attach() { reader->attachTimers(&manager); }
    std::vector<MediaCall> calls(MediaCall::Op op) const { return callback.callsOf(op); }
    // The ticks at which registers were written (all kinds, or one).
    std::vector<uint64_t> writeTicks(int64_t kind = -1) const
    {
        std::vector<uint64_t> ticks;
        for (const MediaCall& c : callback.calls)
            if (c.op == MediaCall::WriteRegister && (kind < 0 || c.chipKind == uint32_t(kind)))
                ticks.push_back(c.stamp);
        return ticks;
    }

    vantor::QuantumManager manager{64};
    fixtures::FakeMediaCallback callback;
    std::unique_ptr<VGM::Reader> reader;
};

}  // namespace playback
