#pragma once
// Views of a register-log song for the media tests.

#include "media/VGMX.h"

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace vgmxtest {

// The kind letters of a chip's events in order, such as "SWWWL".
inline std::string letters(const VGM::VGMXChip& chip)
{
    std::string text;
    for (const VGMXEvent event : chip.events)
        text += event.kind();
    return text;
}

inline std::vector<int32_t> kinds(const VGM::VGMXSong& song)
{
    std::vector<int32_t> list;
    for (const auto& [kind, chip] : song.chips)
        list.push_back(kind);
    return list;
}

inline uint64_t sumOfDt(const VGM::VGMXChip& chip)
{
    uint64_t sum = 0;
    for (const VGMXEvent event : chip.events)
        sum += event.dt();
    return sum;
}

// A song that a failed load must leave alone: one SID chip with two events, loaded.
inline void fillSentinel(VGM::VGMX& log)
{
    log.addEventToKind(77, 5, 0x11, 0, 4, VGMXEvent::kWrite);
    log.addEventToKind(77, 6, 0x22, 0, 5, VGMXEvent::kWrite);
    log.song.tags[VGM::VGMXSong::kTrackName] = "sentinel";
    log.song.loaded = 1;
}

inline bool isSentinel(const VGM::VGMX& log)
{
    const auto it = log.song.chips.find(77);
    return log.song.chips.size() == 1 && it != log.song.chips.end() && it->second.events.size() == 2 &&
           it->second.events[1] == VGMXEvent::pack(6, 'W', 5, 0x22, 0) && log.song.loaded == 1 &&
           log.song.tags[VGM::VGMXSong::kTrackName] == "sentinel";
}

// Everything a load may change in the song, hashed.
inline uint64_t songFingerprint(const VGM::VGMX& log)
{
    uint64_t hash = 14695981039346656037u;
    auto mix = [&](uint64_t v) { hash = (hash ^ v) * 1099511628211u; };
    auto mixText = [&](const std::string& text) {
        mix(text.size());
        for (char c : text)
            mix(uint8_t(c));
    };
    const VGM::VGMXSong& song = log.song;
    for (const auto& [kind, chip] : song.chips) {
        for (uint64_t v : {uint64_t(kind), uint64_t(chip.kind), uint64_t(chip.clock), uint64_t(chip.rate),
                           uint64_t(chip.subtype), uint64_t(chip.usesPorts), uint64_t(chip.usesRegisters),
                           chip.loopIndex, chip.total, uint64_t(chip.events.size())})
            mix(v);
        mixText(chip.typeName);
        mixText(chip.displayName);
        for (const VGMXEvent event : chip.events)
            mix(event.word);
    }
    for (const std::string& tag : song.tags)
        mixText(tag);
    mix(song.loaded);
    mix(song.loopStart);
    mix(song.loopEnd);
    mix(song.banks.size());
    return hash;
}

}  // namespace vgmxtest

// Events read as "W dt=5 r=2A v=20 p=00" in failure messages.
inline void PrintTo(const VGMXEvent& event, std::ostream* out)
{
    char text[64];
    std::snprintf(text, sizeof text, "%c dt=%u r=%02X v=%02X p=%02X", event.kind(), event.dt(), event.reg(),
                  event.value(), event.port());
    *out << text;
}

namespace vgmxtest {

inline VGMXEvent W(uint8_t reg, uint8_t value, uint8_t port = 0, uint32_t dt = 0)
{
    return VGMXEvent::pack(dt, 'W', reg, value, port);
}

// The events of one letter, in order.
inline std::vector<VGMXEvent> only(const VGM::VGMXChip& chip, char letter)
{
    std::vector<VGMXEvent> list;
    for (const VGMXEvent event : chip.events)
        if (event.kind() == letter)
            list.push_back(event);
    return list;
}

}  // namespace vgmxtest
