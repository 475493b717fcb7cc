// Register-log playback on the scheduler with the player display: a VGM or VGZ log read from the
// bytes, or a song built from them (sample banks, tag texts, chips of any kind and rate, events of
// any register), played for a few hundredths of a second. A stall of the scheduler aborts.

#include "fuzz/FuzzSupport.h"
#include "media/DACStreamer.h"
#include "media/PixelCanvas.h"
#include "media/VGMReader.h"
#include "media/VGMX.h"
#include "support/QuantumManager.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/VgmBuilder.h"

#include <cstdlib>
#include <memory>

namespace {

// Flags of the first byte.
constexpr uint8_t kBuilt = 1;        // else the rest is a VGM or VGZ log
constexpr uint8_t kModeMask = 6;     // display mode << 1
constexpr uint8_t kSmallCanvas = 8;  // 64 x 40, else 384 x 272
constexpr uint8_t kNoCanvas = 16;
constexpr uint8_t kLoop = 32;

class Bytes
{
public:
    Bytes(const uint8_t* d, size_t n) : data(d), size(n) {}
    bool empty() const { return at >= size; }
    uint8_t u8() { return at < size ? data[at++] : 0; }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | u8();
        return v;
    }
    // Small values mostly, with the extremes reachable.
    uint32_t number()
    {
        const uint8_t b = u8();
        if (b == 0xFF)
            return 0xFFFFFFFF;
        if (b == 0xFE)
            return u32();
        return b;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

class Silent : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
};

// At most kMaxChips chips: the reader copies the song, and each copied chip reserves room for
// long logs, which costs the sanitizer milliseconds.
constexpr size_t kMaxChips = 8;

void buildSong(VGM::VGMX& doc, Bytes& in)
{
    VGM::VGMXSong& song = doc.song;
    while (!song.chips.empty())
        doc.removeChip(song.chips.begin()->first);  // keeps the room for the next run
    song.loopStart = 0;
    song.loopEnd = VGM::VGMXChip::kNoLoop;
    song.banks.resize(in.u8() % 4);
    for (SampleBank& bank : song.banks) {
        bank.samples.resize(in.number() % 4096);
        for (size_t i = 0; i < bank.samples.size(); ++i)
            bank.samples[i] = int16_t(i * 977 + bank.samples.size());
        bank.startOffset = in.number();
        bank.defaultLevel = uint16_t(in.number());
    }
    for (std::string& tag : song.tags)
        tag.assign(in.number() % 12000, char(in.u8()));
    song.loaded = 1;
    static const char kLetters[] = {'W', 'W', 'W', 'W', 'D', 'S', 'L', 'E', 'R', 'I'};
    while (!in.empty() && song.chips.size() < kMaxChips) {
        const int32_t kind = in.u8();
        auto it = song.chips.find(kind);
        if (it == song.chips.end())
            it = song.chips.emplace(kind, doc.newChip()).first;
        VGM::VGMXChip& chip = it->second;
        chip.events.clear();
        chip.kind = kind;
        chip.typeName = in.u8() % 2 ? "6581" : "DAC";
        chip.rate = in.number();
        chip.total = 0;
        for (uint32_t n = in.u8(); n > 0 && !in.empty(); --n) {
            const uint32_t dt = in.number();
            const char letter = kLetters[in.u8() % sizeof kLetters];
            const uint8_t reg = in.u8(), value = in.u8(), port = in.u8();
            chip.events.push_back(VGMXEvent::pack(dt, letter, reg, value, port));
            chip.total += dt;
        }
        chip.loopIndex = chip.events.empty() ? VGM::VGMXChip::kNoLoop : in.u8() % chip.events.size();
    }
}

// Advances to `tick`; aborts when the scheduler stops moving.
void runUntil(vantor::QuantumManager& manager, uint64_t tick)
{
    for (uint32_t guard = 0; guard < 4'000'000; ++guard) {
        manager.advance(tick - manager.getNow());
        if (manager.getNow() == tick && !manager.isFrontFired())
            return;
    }
    std::abort();
}

}  // namespace

void fuzzSeeds(fuzz::Seeds& seeds)
{
    for (const fixtures::NamedLog& log : fixtures::sampleVgmLogs()) {
        fuzz::Bytes bytes{0};
        bytes.insert(bytes.end(), log.bytes.begin(), log.bytes.end());
        seeds.add(log.name + ".vgm", bytes);
        fuzz::Bytes gz{uint8_t(kLoop | 2)};
        const fixtures::Bytes packed = fixtures::makeGzip(std::string(log.bytes.begin(), log.bytes.end()));
        gz.insert(gz.end(), packed.begin(), packed.end());
        seeds.add(log.name + ".vgz", gz);
    }
    // A bank of 100 samples, short tags, a SID chip and a DAC channel that plays the bank at 8 kHz.
    using D = VGM::DACStreamer;
    seeds.add("built-dac", fuzz::Bytes{kBuilt | 2, 1, 100, 0, 0, 3, 'a', 3, 'b', 3, 'c', 3, 'd', 3, 'e',
                                       77, 1, 200, 2, 0, 0, 24, 15, 0, 10, 0, 4, 0x11, 0, 0,
                                       84, 0, 100, 4,
                                       0, 0, D::kFrequencyHigh, 0, 0, 0, 0, D::kFrequencyLow, 0x40, 0x1F,
                                       0, 0, D::kPlayBank, 0, 0, 50, 0, D::kStop, 0, 0, 0});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    // One log for every run: its chip records keep their event room between reads.
    static const auto log = std::make_unique<VGM::VGMX>();
    static const auto built = std::make_unique<VGM::VGMX>();
    const VGM::VGMX* doc = built.get();
    if (flags & kBuilt) {
        Bytes in(data + 1, size - 1);
        buildSong(*built, in);
        if (flags & kLoop) {
            built->song.loopStart = 3;
            built->song.loopEnd = 1000;
        }
    } else {
        log->resetSong();
        if (!log->loadFromMemory(data + 1, size - 1))
            return 0;
        doc = log.get();
    }

    const bool small = flags & kSmallCanvas;
    const uint64_t rows = small ? 40 : 272, columns = small ? 64 : 384;
    std::vector<uint8_t> pixels(rows * columns), red(256), green(256), blue(256);
    PixelCanvas canvas{red.data(), green.data(), blue.data(), 0, pixels.data(), rows, columns, nullptr};

    Silent callback;
    vantor::QuantumManager manager(64);
    manager.setRate(1e6);
    VGM::Reader reader(&callback, flags & kNoCanvas ? nullptr : &canvas, nullptr);
    reader.setDisplayMode((flags & kModeMask) >> 1);
    reader.openDocument(*doc);
    if (!reader.selectSong(0))
        return 0;
    reader.attachTimers(&manager);
    runUntil(manager, 20000);
    reader.detachTimers(&manager);
    reader.setSpeed(7.5);
    reader.seek(0.0);
    reader.attachTimers(&manager);
    runUntil(manager, 30000);
    reader.detachTimers(&manager);
    return 0;
}
