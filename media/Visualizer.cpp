#include "media/Visualizer.h"

#include "media/VGMX.h"
#include "platform/SaturatingCast.h"
#include "platform/ZRGSConv.h"
#include "sid/SIDDatabase.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace VGM {

namespace {

constexpr const char* kLayerNames[Visualizer::kLayers] = {"VGMXVisualizerInfo",
                                                          "VGMXVisualizerRegs", "VGMXMisc"};
constexpr uint64_t kCell = 8;         // glyph cell, pixels
constexpr uint64_t kLineStep = 16;    // between text lines
constexpr uint8_t kTextColour = 1;
constexpr uint8_t kMissingColour = 2;
constexpr uint8_t kOtherChipColour = 12;
constexpr uint8_t kSidColour = 13;

// Chip kinds whose register page is kept: YM2413, YM2612, YM2420 and the one named "SDSP".
bool showsRegisters(uint32_t kind)
{
    return kind == 4 || kind == 5 || kind == 30 || kind == 62;
}

// Tag texts reach the font as Windows Latin-1; text that does not convert is drawn as it is.
std::string toLatin1(const std::string& utf8)
{
    static const std::string kFailed = ZRGSConv(std::string("\xFF"), ENC_UTF8, ENC_WINDOWS_LATIN);
    std::string latin1 = ZRGSConv(utf8, ENC_UTF8, ENC_WINDOWS_LATIN);
    return latin1 == kFailed && utf8 != kFailed ? utf8 : latin1;
}

}  // namespace

Visualizer::Visualizer(PixelCanvas* canvas, Painter* displayPainter)
    : target(canvas), font(builtInFont()), painter(displayPainter)
{
    for (uint32_t n = 0; n < kLayers; ++n) {
        EmuScreen& screen = layers[n];
        screen.attach(canvas, kLayerNames[n]);
        if (canvas && canvas->red && canvas->green && canvas->blue) {
            std::memcpy(screen.red, canvas->red, sizeof screen.red);
            std::memcpy(screen.green, canvas->green, sizeof screen.green);
            std::memcpy(screen.blue, canvas->blue, sizeof screen.blue);
        }
    }
}

void Visualizer::drawText(uint32_t layerNumber, const char* text, size_t length, uint64_t x,
                          uint64_t y, uint8_t colour, bool transparent, uint32_t verticalFactor)
{
    EmuScreen& screen = layers[layerNumber];
    drawBitmapText(font, transparent, screen.pixels.get(), screen.columns, screen.rows, text,
                   length, x, y, 1, verticalFactor, colour);
    screen.dirty = true;
}

uint64_t Visualizer::drawWrapped(const std::string& utf8, uint64_t y, size_t wrap)
{
    const std::string text = toLatin1(utf8);
    for (size_t at = 0; at < text.size(); at += wrap, y += kLineStep)
        drawText(kInfoLayer, text.data() + at, std::min(wrap, text.size() - at), kCell, y,
                 kTextColour, true);
    return y;
}

void Visualizer::refresh(uint32_t layerNumber)
{
    if (displayMode != layerNumber)
        return;
    layers[layerNumber].dirty = true;
    layers[layerNumber].flush();
}

void Visualizer::mediaStarted(const uint8_t*, uint64_t)
{
    lastShownSecond = 0;
    std::fill(std::begin(streamTimes), std::end(streamTimes), 0.0);
}

void Visualizer::setMediaTime(double seconds)
{
    lastShownSecond = 0;
    std::fill(std::begin(streamTimes), std::end(streamTimes), seconds);
}

void Visualizer::addChip(uint32_t chipKind, uint32_t, uint32_t eventRate)
{
    if (eventRate)
        timeScale = 1.0 / eventRate;
    lastShownSecond = 0;
    if (chipKind < kTimedKinds)
        streamTimes[chipKind] = 0.0;
    std::memset(registerImages, 0, sizeof registerImages);
    if (chipKind == 4 || chipKind == 30)
        for (uint32_t first : {0x00u, 0x20u, 0x30u})
            for (uint32_t r = first; r <= first + (first ? 8u : 0x18u); ++r)
                drawRegisterCell(r, 0);
}

void Visualizer::writeMediaRegister(uint32_t chipKind, uint64_t delay, uint32_t port, uint32_t reg,
                                    uint32_t value, double)
{
    if (delay && chipKind < kTimedKinds) {
        double& time = streamTimes[chipKind];
        time += double(delay) * timeScale;
        if (displayMode == kInfoLayer) {
            const auto t = vantor::saturatingCast<int32_t>(std::floor(time + 0.5));
            if (t > lastShownSecond) {
                drawTimeLine(t);
                lastShownSecond = t;
            }
        }
    }
    if (showsRegisters(chipKind) && reg < 256) {
        uint8_t& stored = registerImages[port & 1][reg];
        if (stored != uint8_t(value)) {
            stored = uint8_t(value);
            drawRegisterCell(reg, uint8_t(value));
        }
    }
}

void Visualizer::drawTimeLine(int32_t seconds)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, "Time:  %d:%02d", seconds / 60, seconds % 60);
    // Opaque: the cells under the text are cleared with it.
    drawText(kInfoLayer, text, size_t(std::max(n, 0)), kCell, textRows * kCell, kTextColour, false);
    refresh(kInfoLayer);
}

void Visualizer::drawRegisterCell(uint32_t reg, uint8_t value)
{
    if (displayMode == kPainterLayer) {
        EmuScreen& page = layers[kPainterLayer];
        if (painter)
            painter->paint(page.pixels.get(), page.columns, page.rows, page.red, page.green,
                           page.blue);
        if (displayMode == kPainterLayer)
            refresh(kPainterLayer);
    } else if (displayMode == kRegisterLayer) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", value);
        drawText(kRegisterLayer, text, 2, (kCell + 2) * 2 * (reg % 16) + kCell,
                 (kCell + kCell) * (reg / 16) + kCell, kTextColour, false);
        refresh(kRegisterLayer);
    }
}

void Visualizer::setDisplayMode(int32_t mode)
{
    displayMode = uint32_t(mode);
    if (displayMode < kLayers)
        refresh(displayMode);
}

void Visualizer::setTitle(const char* text)
{
    title = text ? text : "";
}

bool Visualizer::drawStreamList(uint64_t songNumber, uint64_t songCount, const VGMXSong& song)
{
    for (EmuScreen& screen : layers)
        screen.clear(0);
    const EmuScreen& info = layers[kInfoLayer];
    const uint64_t columns = info.columns / kCell;
    const uint64_t rows = info.rows / kCell;
    textRows = rows >= 2 ? rows - 2 : 0;
    const size_t wrap = columns > 2 ? size_t(columns - 2) : 1;

    const std::string heading = toLatin1(title);
    drawText(kInfoLayer, heading.data(), heading.size(), kCell, kCell, kTextColour, true, 2);
    uint64_t y = drawWrapped(song.tags[VGMXSong::kSystemName], 40, wrap);

    bool playable = false;
    size_t listed = 0;
    for (const auto& [kind, chip] : song.chips) {
        if (chip.typeName == "DAC")
            continue;
        const bool sid = SIDDatabase::isSidChipName(chip.typeName);
        playable = playable || sid;
        if (listed == kMaxListedStreams)
            continue;
        y += kLineStep;
        const auto clock = int32_t(chip.clock);
        const char* missing = sid ? "" : " -N/A-";
        char text[96];
        const int n =
            clock < 100000
                ? std::snprintf(text, sizeof text, "Stream %d:%9s (%3.1fkHz)%s", int(listed),
                                chip.typeName.c_str(), clock / 1000.0, missing)
                : std::snprintf(text, sizeof text, "Stream %d:%9s (%2.2fMHz)%s", int(listed),
                                chip.typeName.c_str(), clock / 1000000.0, missing);
        drawText(kInfoLayer, text, std::min(size_t(std::max(n, 0)), sizeof text - 1), kCell, y,
                 sid ? kSidColour : kOtherChipColour, true);
        ++listed;
    }

    y = drawWrapped(song.tags[VGMXSong::kGameName], y + 32, wrap);
    char songLine[48];
    const int n = std::snprintf(songLine, sizeof songLine, "Song %2d / %2d",
                                vantor::saturatingCast<int32_t>(double(songNumber)),
                                vantor::saturatingCast<int32_t>(double(songCount)));
    drawText(kInfoLayer, songLine, size_t(std::max(n, 0)), kCell, y, kTextColour, true);
    uint64_t next = drawWrapped(song.tags[VGMXSong::kTrackName], y + kLineStep, wrap);
    next = drawWrapped(song.tags[VGMXSong::kAuthor], next, wrap);

    if (!playable) {
        drawText(kInfoLayer, kNoSuitableData, std::strlen(kNoSuitableData), kCell, next + 32,
                 kMissingColour, true);
        refresh(kInfoLayer);
    } else if (displayMode == kInfoLayer) {
        drawTimeLine(0);
    }
    return playable;
}

}  // namespace VGM
