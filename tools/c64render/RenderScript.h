#pragma once
// The note script of c64render: one timed command per line.
//
//   T on N [VEL]      note on (kind 0x390), velocity 0..1
//   T off N           note off (kind 0x480)
//   T item I V        controller item I (kind 0xB0) set to V
//   T midi S D1 D2    raw MIDI message (kind 0, flag bit 0, tuning 0.0)
//   T master K V      master-settings command K with V (dispatcher opcode 21, sent before the
//                     block that holds T)
//   T sysex HH HH ... a SysEx message in hexadecimal bytes (dispatcher opcode 23, sent before
//                     the block that holds T, after that block's master commands)
//
// T is in seconds; '#' starts a comment; numbers may be written in hex with 0x.

#include "abi/ModuleABI.h"

#include <cstdint>
#include <string>
#include <vector>

struct ScriptEvent
{
    uint64_t frame = 0;
    vantor::HDMIDIEvent event;  // sampleOffset set per block
};

struct MasterCommand
{
    uint64_t frame = 0;
    int32_t kind = 0;
    double value = 0.0;
};

struct SysExMessage
{
    uint64_t frame = 0;
    std::vector<uint8_t> bytes;
};

struct RenderScript
{
    std::vector<ScriptEvent> events;
    std::vector<MasterCommand> masters;
    std::vector<SysExMessage> sysex;
};

// Parses `text`; on a bad line returns false with a message naming the source, the line number
// and the line. T becomes frame round(T x rate).
bool parseRenderScript(const std::string& text, const std::string& source, double rate,
                       float defaultVelocity, RenderScript& out, std::string& error);

vantor::HDMIDIEvent makeNoteOn(int32_t note, float velocity);
vantor::HDMIDIEvent makeNoteOff(int32_t note);
vantor::HDMIDIEvent makeItem(int32_t index, float value);
