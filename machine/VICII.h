#pragma once
// Cycle-stepped video chip, 6569 (PAL) and 6567 (NTSC) timing: raster counter and interrupt, bad
// lines and BA, matrix and character/bitmap fetches, eight sprites with DMA, expansion and
// collisions, the border unit, and pixel output into its own screen.

#include "media/EmuScreen.h"

#include <array>
#include <cstdint>

class VICII;

// The chip's outputs, implemented by the machine.
class VICIIListener {
public:
    virtual ~VICIIListener() = default;
    virtual void vicIrq(VICII* vic, bool level) = 0;
    // true: the chip holds BA low and the CPU must stop at its next read.
    virtual void vicLine(bool low) = 0;
    virtual void vicHook4() {}
    // Frame end, after the screen was flushed.
    virtual void vicHook5() {}
};

// Every fetch of the chip goes through this face.
class VideoMemoryReadAccess {
public:
    virtual ~VideoMemoryReadAccess() = default;
    virtual uint8_t readVideoMemory(uint32_t address14) = 0;
    virtual uint8_t readVideoMatrix(uint32_t address14) = 0;
    virtual uint8_t readColourRam(uint32_t address) = 0;
};

// The built-in character generator: two sets of 256 glyphs, 8 bytes each.
extern const std::array<uint8_t, 4096> kVICIICharacterImage;

class VICII final : public VideoMemoryReadAccess {
public:
    // ram: 64 KB, colourRam: 1 KB; neither is owned, both stay valid while the chip lives (null
    // reads as zeros). The screen is attached to canvas (which may be null) and given the colours.
    VICII(VICIIListener* listener, const uint8_t* colourRam, const uint8_t* ram, PixelCanvas* canvas,
          bool ntsc);

    void reset();
    // reg is taken & 63.
    uint8_t readRegister(uint32_t reg);
    void writeRegister(uint32_t reg, uint8_t value);

    void step();
    void run(uint64_t cycles);

    // CIA 2 port A bits (& 3); ignored while an Ultimax override is set.
    void setBank(uint8_t bits);
    // romh: the cartridge's 8 KB ROMH bank, seen at $3000-$3FFF of every bank.
    void setUltimax(const uint8_t* romh);
    void clearUltimax();

    // Defined here so that the chip's own fetches inline.
    uint8_t readVideoMemory(uint32_t address14) override
    {
        const uint8_t v = bank_[(address14 >> 12) & 3][address14 & 0xFFF];
        lastRead_ = v;
        return v;
    }
    uint8_t readVideoMatrix(uint32_t address14) override { return readVideoMemory(address14); }
    uint8_t readColourRam(uint32_t address) override { return colourRam_[address & 0x3FF]; }

    EmuScreen& screen() { return screen_; }
    const EmuScreen& screen() const { return screen_; }
    bool isNtsc() const { return ntsc_; }
    uint32_t linesPerFrame() const { return linesPerFrame_; }
    uint32_t cyclesPerLine() const { return cyclesPerLine_; }
    // The last byte the chip read (its open-bus value).
    uint8_t lastRead() const { return lastRead_; }

    struct SpriteView {
        uint8_t mc;
        uint8_t mcbase;
        bool dma;
        bool display;
        bool expandFlop;
    };
    // A copy of the internal state, for tests and debugging.
    struct View {
        uint32_t line;
        uint32_t cycle;
        uint16_t vc;
        uint16_t vcbase;
        uint8_t rc;
        uint8_t vmli;
        bool displayState;
        bool badLine;
        bool baLow;
        uint8_t bankMode;  // 0-3, kUltimax with the override
        std::array<SpriteView, 8> sprites;
    };
    View view() const;

    static constexpr uint8_t kUltimax = 4;

private:
    struct Sprite {
        uint16_t x = 0;  // 9 bits
        uint8_t y = 0;
        uint8_t colour = 0;
        uint8_t mcbase = 0;
        uint8_t mc = 0;
        uint16_t pointer = 0;  // pointer byte x 64
        uint32_t data = 0;     // 24 bits, first fetched byte highest
        uint8_t count = 0;     // pixels shifted out in this pass
        bool expandFlop = true;
    };

    struct GraphicsFetch {
        uint8_t data = 0;
        uint8_t matrix = 0;  // video matrix byte of the cell, 0 in idle state
        uint8_t colour = 0;
    };

    void setIrq(bool level);
    void setBusRequest(bool low);
    void frameDone();

    void tick();
    void newLine();
    void cycleAction(uint32_t c);
    void updateBa(uint32_t c);
    void checkWrittenCompare();
    void rasterMatch();
    void evaluateBadLine(bool lineStart);
    void raiseLatch(uint8_t bits);
    void updateIrq();

    void gAccess();
    void cAccess();
    void pAccess(uint32_t n);
    void sAccess(Sprite& s);
    void sCycle(uint32_t n);
    void idleAccess();
    void refresh();
    void dmaStartCheck();
    void updateMcbase();
    void cycle58();

    void renderTo(uint32_t end);
    void renderPlain(uint32_t begin, uint32_t end);
    void outputCycle(uint32_t k);
    // Advances the border flip-flops for pixel X coordinate x; returns the main flip-flop.
    bool updateBorder(uint32_t x);
    uint32_t borderPixels(uint32_t x0, uint32_t& vertical);
    uint64_t mixSprites(uint32_t x0, uint64_t pixels, uint32_t foreground, uint32_t colliding);
    void storePartial(uint32_t k, uint64_t pixels);
    void updateCycleFlags();

    void applyModes();
    void decodeBank();

    VICIIListener* listener_;
    const uint8_t* colourRam_;
    const uint8_t* ram_;
    const uint8_t* ultimax_ = nullptr;
    const uint8_t* bank_[4] = {};  // 4 KB regions of the 16 KB the chip sees
    uint8_t bankMode_ = 0;
    uint8_t lastRead_ = 0;

    bool ntsc_;
    uint32_t linesPerFrame_;
    uint32_t cyclesPerLine_;
    uint32_t firstVisibleLine_;
    uint32_t line_ = 0;
    uint32_t cycle_ = 1;

    // Registers as written.
    uint8_t d010_ = 0, d011_ = 0, d015_ = 0, d016_ = 0, d017_ = 0, d018_ = 0;
    uint8_t d01b_ = 0, d01c_ = 0, d01d_ = 0;
    // Decoded.
    uint32_t compare_ = 0;
    uint8_t yscroll_ = 0, xscroll_ = 0;
    bool rsel_ = false, den_ = false, bmm_ = false, ecm_ = false;
    bool csel_ = false, mcm_ = false, res_ = false;
    uint8_t mode_ = 0;  // ECM << 2 | BMM << 1 | MCM
    uint32_t matrixBase_ = 0, charBase_ = 0, bitmapBase_ = 0;
    uint32_t charMask_ = 0x7F8;
    uint32_t idleAddress_ = 0x3FFF;
    uint8_t border_ = 0;
    uint8_t background_[4] = {};
    uint8_t spriteMc0_ = 0, spriteMc1_ = 0;
    uint8_t latch_ = 0, mask_ = 0;
    uint8_t spriteSprite_ = 0, spriteBackground_ = 0;
    uint32_t left_ = 31, right_ = 335, top_ = 55, bottom_ = 247;

    // Fetch state.
    uint16_t vc_ = 0, vcbase_ = 0;
    uint8_t rc_ = 0, vmli_ = 0;
    uint8_t matrix_[64] = {};
    uint8_t colourLine_[64] = {};
    bool displayState_ = false;
    bool badLine_ = false;
    bool denSeen_ = false;  // DEN seen in line 48
    uint8_t refresh_ = 0;
    bool rasterMatched_ = false;
    bool compareWritten_ = false;
    bool baLow_ = false;
    uint8_t spriteDma_ = 0, spriteDisplay_ = 0;
    uint8_t spriteShifting_ = 0;  // always within spriteDisplay_
    Sprite sprites_[8];

    // Pixel output. The pixels of a cycle are drawn late, from what its g-access left in
    // fetched_: at the line's end, or before anything that changes them (a register write, a
    // sprite display switching); while a sprite is on, every cycle at once.
    uint32_t rendered_ = 1;  // first cycle of the line not drawn yet
    bool mainBorder_ = false, verticalBorder_ = false;
    bool drawLine_ = false;
    uint8_t* row_ = nullptr;  // screen row of this line while drawing, null when off the canvas
    // What each cycle's output involves, by cycle number: [0] for a line off the canvas, [1] with
    // the canvas bits of the geometry below.
    static constexpr uint32_t kMaxCycles = 65;
    static constexpr uint8_t kGraphicsCycle = 1;  // a g-access fed the sequencer
    static constexpr uint8_t kBorderCompare = 2;  // a border compare value falls in the cycle
    static constexpr uint8_t kFullOnCanvas = 4;
    static constexpr uint8_t kPartOnCanvas = 8;
    GraphicsFetch fetched_[kMaxCycles + 1] = {};
    uint8_t cycleFlags_[2][kMaxCycles + 1] = {};
    const uint8_t* flags_ = cycleFlags_[0];
    int32_t flagsOriginX_ = 0;
    uint64_t flagsColumns_ = 0;
    int64_t columnBase_ = 0;  // screen column of cycle 0, pixel 0
    uint64_t prevPixels_ = 0;  // sequencer output of the previous cycle (XSCROLL delay)
    uint32_t prevForeground_ = 0;

    EmuScreen screen_;
};
