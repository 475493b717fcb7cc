// Songs no reader should produce, played on the scheduler with the display in every mode: no
// crash, no stall, nothing out of bounds (the sanitizer build checks the last).

#include "PlaybackSupport.h"

#include "media/DACStreamer.h"
#include "media/PixelCanvas.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace playback;
using VGM::DACStreamer;

std::vector<VGMXEvent> operator+(std::vector<VGMXEvent> a, const std::vector<VGMXEvent>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Screen
{
    std::vector<uint8_t> pixels = std::vector<uint8_t>(384 * 272);
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), 272, 384, nullptr};
};

// Plays the document for `seconds` of a 1 MHz scheduler in display modes 0, 1 and 2, with and
// without a loop; the scheduler must reach the end.
void playEverywhere(VGM::VGMX doc, double seconds)
{
    for (const bool loop : {false, true}) {
        doc.song.loopStart = loop ? 5 : 0;
        doc.song.loopEnd = loop ? 10 : VGM::VGMXChip::kNoLoop;
        for (int32_t mode : {0, 1, 2}) {
            Screen screen;
            Player p(1e6, &screen.canvas);
            p.callback.recording = false;
            p.reader->setDisplayMode(mode);
            ASSERT_TRUE(p.reader->openDocument(doc));
            p.reader->selectSong(0);
            p.attach();
            runUntil(p.manager, uint64_t(seconds * 1e6));
            ASSERT_EQ(p.manager.getNow(), uint64_t(seconds * 1e6)) << "mode " << mode << (loop ? " looping" : "");
            p.reader->seek(0.0);
            p.reader->setSpeed(1000.0);
            p.reader->detachTimers(&p.manager);
            p.reader->attachTimers(&p.manager);
            runUntil(p.manager, uint64_t(2 * seconds * 1e6));
        }
    }
}

TEST(VGMPlaybackBadInput, OddChipsAndRegisters)
{
    VGM::VGMX doc;
    const std::string longTag(10000, 'T');
    for (std::string& tag : doc.song.tags)
        tag = longTag;
    doc.song.banks.resize(3);
    doc.song.banks[0].samples = {1, 2, 3};
    doc.song.banks[0].startOffset = 0xFFFFFFF0u;
    doc.song.banks[2].samples = std::vector<int16_t>(100, -32768);
    doc.song.banks[2].defaultLevel = 0x8000;

    addChip(doc, 77, "6581", 0, {W(0, 24, 15), W(1, 4, 0x41), W(0xFFFFFFFF, 4, 0x40)});
    addChip(doc, 78, "6581", 1000, {});
    addChip(doc, 4, "YM2413", 44100, {W(1, 0xFF, 1), W(1, 0xFF, 2, 1), W(0, 0, 0)});
    addChip(doc, 100, "", 1000, {W(10, 1, 1)});
    addChip(doc, 102, "6526", 7, {W(3, 12, 0xFF), W(3, 13, 0xFF)});
    addChip(doc, 150, "???", 4000000000u, {W(1, 1, 1), W(0xFFFFFFFF, 2, 2)});
    addChip(doc, 84, "DAC", 1000,
            dac32(DACStreamer::kFrequencyHigh, 0) + dac32(DACStreamer::kFrequencyHigh, 0xFFFFFFFF) +
                std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 200), W(0, DACStreamer::kPlayBank, 1),
                                       W(0, DACStreamer::kPlayBank, 2), W(5, DACStreamer::kBank, 9),
                                       W(0, DACStreamer::kPlayFromStart)} +
                dac32(DACStreamer::kStartHigh, 0xFFFFFFFF) + dac32(DACStreamer::kLengthHigh, 0xFFFFFFFF) +
                std::vector<VGMXEvent>{W(0, DACStreamer::kStepAndBase, 0, 0xFF), W(0, DACStreamer::kPlayAtAddress),
                                       W(5, DACStreamer::kBank, 0), W(0, DACStreamer::kPlayFromStart),
                                       W(5, DACStreamer::kStepAndBase, 0), W(0, DACStreamer::kPlayBank, 2)});
    addChip(doc, 85, "DAC", 0, {W(0xFFFFFFFF, DACStreamer::kPlayBank, 2)});
    addChip(doc, 86, "DAC", 1000, {W(0, DACStreamer::kPlayBank, 2)});  // timeless
    addChip(doc, 99, "DAC", 1000, {});
    playEverywhere(doc, 2.0);
}

TEST(VGMPlaybackBadInput, TimelessStreams)
{
    VGM::VGMX doc;
    doc.song.banks.resize(1);
    doc.song.banks[0].samples = std::vector<int16_t>(10, 7);
    std::vector<VGMXEvent> many(5000, W(0, 4, 0x11));
    addChip(doc, 77, "6581", 44100, many);
    addChip(doc, 84, "DAC", 44100, dac32(DACStreamer::kFrequencyHigh, 44100) +
                                       std::vector<VGMXEvent>{W(0, DACStreamer::kPlayBank, 0)});
    VGM::VGMXChip& marked = addChip(doc, 5, "YM2612", 44100, {E('S'), W(0, 0x28), E('L'), E('E')});
    marked.loopIndex = 3;  // the loop marker is the last event
    playEverywhere(doc, 1.5);
}

// Random DAC register writes at random times over banks of every kind of odd size.
TEST(VGMPlaybackBadInput, RandomDacRegisters)
{
    std::mt19937 random(37);
    for (int round = 0; round < 20; ++round) {
        VGM::VGMX doc;
        doc.song.banks.resize(random() % 4);
        for (SampleBank& bank : doc.song.banks) {
            bank.samples.resize(random() % 3 == 0 ? 0 : random() % 300);
            for (int16_t& s : bank.samples)
                s = int16_t(random());
            bank.startOffset = random() % 2 ? random() % 600 : uint32_t(random());
            bank.defaultLevel = uint16_t(random());
        }
        for (int32_t kind = 84; kind < 88; ++kind) {
            std::vector<VGMXEvent> events;
            for (int i = 0; i < 200; ++i)
                events.push_back(W(random() % 4 == 0 ? uint32_t(random() % 400) : 0, uint8_t(random() % 18),
                                   uint8_t(random()), uint8_t(random())));
            addChip(doc, kind, "DAC", 44100, events);
        }
        SCOPED_TRACE(round);
        playEverywhere(doc, 0.25);
    }
}

}  // namespace
