#pragma once
// The player display of a register log: a text page with the song's tags, its chip streams and
// the play time, a page of register values in hexadecimal and a page that a painter fills, each
// an EmuScreen on the instrument's canvas. Only the page of the display mode reaches the canvas.

#include "media/BitmapFont.h"
#include "media/EmuScreen.h"
#include "media/MediaCallback.h"

#include <array>
#include <cstdint>
#include <string>

namespace VGM {

struct VGMXSong;

// Paints the third page of the display.
class Painter
{
public:
    virtual void paint(uint8_t* pixels, uint64_t width, uint64_t height, uint8_t* red,
                       uint8_t* green, uint8_t* blue) = 0;

protected:
    ~Painter() = default;
};

class Visualizer : public MediaCallback
{
public:
    enum Layer : uint32_t { kInfoLayer = 0, kRegisterLayer = 1, kPainterLayer = 2, kLayers = 3 };
    static constexpr size_t kTimedKinds = 100;  // chip kinds 0-99 keep a play time
    static constexpr size_t kMaxListedStreams = 4;
    static constexpr const char* kDefaultTitle = "SID Register Playback";
    static constexpr const char* kNoSuitableData = "* No suitable data found! *";

    // The layers take the canvas's size and colour tables; `painter` may be null.
    Visualizer(PixelCanvas* canvas, Painter* painter);
    Visualizer(const Visualizer&) = delete;
    Visualizer& operator=(const Visualizer&) = delete;
    virtual ~Visualizer() = default;

    void mediaStarted(const uint8_t* data, uint64_t size) override;
    // Restarts the play times at the chip's event rate; YM2413 and YM2420 show their registers.
    void addChip(uint32_t chipKind, uint32_t subtype, uint32_t eventRate) override;
    // Moves the chip's play time on and shows changed registers of the FM chips.
    void writeMediaRegister(uint32_t chipKind, uint64_t delay, uint32_t port, uint32_t reg,
                            uint32_t value, double rate) override;
    void setMediaTime(double seconds) override;

    // Shows the page of that number.
    virtual void setDisplayMode(int32_t mode);
    virtual void setTitle(const char* text);
    // Draws the text page of a song; true when one of its streams is a SID, the only chips the
    // instrument plays.
    virtual bool drawStreamList(uint64_t songNumber, uint64_t songCount, const VGMXSong& song);

    const EmuScreen& layer(uint32_t n) const { return layers[n]; }
    const BitmapFont& getFont() const { return font; }

private:
    // Text at (x, y) of a layer, factors 1 x vertical.
    void drawText(uint32_t layerNumber, const char* text, size_t length, uint64_t x, uint64_t y,
                  uint8_t colour, bool transparent, uint32_t verticalFactor = 1);
    // Lines of `wrap` characters from y on, 16 pixels apart; returns the next free line.
    uint64_t drawWrapped(const std::string& utf8, uint64_t y, size_t wrap);
    void drawTimeLine(int32_t seconds);
    void drawRegisterCell(uint32_t reg, uint8_t value);
    // Copies the layer to the canvas when it is the page shown.
    void refresh(uint32_t layerNumber);

    std::array<EmuScreen, kLayers> layers;
    uint8_t registerImages[2][256] = {};  // by port bit 0
    double streamTimes[kTimedKinds] = {};  // seconds, by chip kind
    PixelCanvas* target;                   // not owned
    uint32_t displayMode = 0;
    BitmapFont font;
    Painter* painter;  // not owned
    int32_t lastShownSecond = 0;
    double timeScale = 1.0;  // seconds per event tick
    uint64_t textRows = 24;  // row of the time line
    std::string title = kDefaultTitle;
};

}  // namespace VGM
