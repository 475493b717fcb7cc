#include "machine/VICII.h"

#include "machine/VICIIPalette.h"

#include <bit>
#include <cstring>

// The per-cycle path is one function after inlining. The other helpers are declared inline too:
// they are used in this file only, and the library is position-independent, where GCC calls
// out-of-line functions through the PLT and never inlines them.
#define VICII_HOT [[gnu::always_inline]] inline

namespace {

// Pixel words are stored with one memcpy, leftmost pixel in the lowest byte.
static_assert(std::endian::native == std::endian::little);

// A colour index in all eight bytes.
constexpr std::array<uint64_t, 16> makeSplat()
{
    std::array<uint64_t, 16> t{};
    for (uint32_t c = 0; c < 16; ++c)
        t[c] = 0x0101010101010101ull * c;
    return t;
}
constexpr std::array<uint64_t, 16> kSplat = makeSplat();

constexpr uint64_t splat(uint32_t colour)
{
    return kSplat[colour & 15];
}

// Byte i is 0xFF when bit 7 - i is set: 8-bit pixel masks run leftmost pixel first, as the
// graphics bytes do, and 64-bit pixel words hold the leftmost pixel in their lowest byte.
constexpr std::array<uint64_t, 256> makeExpand()
{
    std::array<uint64_t, 256> t{};
    for (uint32_t b = 0; b < 256; ++b)
        for (uint32_t i = 0; i < 8; ++i)
            if (b >> (7 - i) & 1)
                t[b] |= uint64_t(0xFF) << (8 * i);
    return t;
}
constexpr std::array<uint64_t, 256> kExpand = makeExpand();

constexpr size_t kCycleSlots = 66;  // cycle numbers 0-65

// X coordinate of the first pixel output in cycle k.
constexpr std::array<uint16_t, kCycleSlots> makeXpos()
{
    std::array<uint16_t, kCycleSlots> t{};
    for (uint32_t k = 0; k < t.size(); ++k)
        t[k] = uint16_t((8 * k + 400) % 504);
    return t;
}
constexpr std::array<uint16_t, kCycleSlots> kXpos = makeXpos();

// BA per cycle: low while a listed sprite has DMA, or on a bad line; keep: the level stays.
struct BaRule {
    uint8_t sprites;
    bool badLine;
    bool keep;
};

constexpr std::array<BaRule, kCycleSlots> makeBaRules()
{
    std::array<BaRule, kCycleSlots> t{};
    const struct {
        uint32_t cycle;
        uint8_t sprites;
    } rows[] = {
        {1, 0x18},  {2, 0x38},  {3, 0x30},  {4, 0x70},  {5, 0x60},  {6, 0xE0},  {7, 0xC0},
        {9, 0x80},  {10, 0x80}, {55, 0x01}, {56, 0x01}, {57, 0x03}, {58, 0x03}, {59, 0x07},
        {60, 0x06}, {61, 0x0E}, {62, 0x0C}, {63, 0x1C},
    };
    for (const auto& r : rows)
        t[r.cycle].sprites = r.sprites;
    for (uint32_t c = 12; c <= 54; ++c)
        t[c].badLine = true;
    t[8].keep = true;
    t[64].keep = true;  // NTSC only
    t[65].keep = true;
    return t;
}
constexpr std::array<BaRule, kCycleSlots> kBaRules = makeBaRules();

// Stands in for missing memory.
const uint8_t kZeros[0x10000] = {};

// Eight pixels of a graphics byte d (lowest byte leftmost) and their foreground mask, for mode
// ECM << 2 | BMM << 1 | MCM, the cell's matrix byte m and colour, backgrounds bg[0-3].
VICII_HOT void sequence(uint32_t mode, const uint8_t* bg, uint32_t d, uint32_t m, uint32_t colour,
                        uint64_t& pixels, uint32_t& foreground)
{
    if (mode == 0) {  // text
        pixels = splat(bg[0]) ^ (splat(bg[0] ^ colour) & kExpand[d]);
        foreground = d;
        return;
    }

    // Two colours by bit, or four by bit pair (each pair two pixels wide).
    const auto hires = [&](uint32_t c0, uint32_t c1) {
        pixels = splat(c0) ^ (splat(c0 ^ c1) & kExpand[d]);
        foreground = d;
    };
    const uint32_t high = (d & 0xAA) | ((d & 0xAA) >> 1);
    const uint32_t low = (d & 0x55) | ((d & 0x55) << 1);
    const auto multi = [&](uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3) {
        pixels = splat(c0) ^ (kExpand[low] & splat(c0 ^ c1)) ^ (kExpand[high] & splat(c0 ^ c2)) ^
                 (kExpand[high & low] & splat(c0 ^ c1 ^ c2 ^ c3));
        foreground = high;
    };

    switch (mode) {
    case 1:  // multicolour text
        if (colour & 8)
            multi(bg[0], bg[1], bg[2], colour & 7);
        else
            hires(bg[0], colour);
        break;
    case 2: hires(m & 15, m >> 4); break;                          // bitmap
    case 3: multi(bg[0], m >> 4, m & 15, colour); break;  // multicolour bitmap
    case 4: hires(bg[m >> 6], colour); break;             // extended colour text
    // ECM with MCM or BMM: black, but the foreground still counts.
    case 5:
        pixels = 0;
        foreground = (colour & 8) ? high : d;
        break;
    case 6:
        pixels = 0;
        foreground = d;
        break;
    default:
        pixels = 0;
        foreground = high;
        break;
    }
}

// Delays this cycle's pixels by xs, the previous cycle's tail first.
inline uint64_t delayed(uint64_t pixels, uint64_t previous, uint32_t xs)
{
    return xs ? (pixels << (8 * xs)) | (previous >> (64 - 8 * xs)) : pixels;
}

inline uint64_t withBorder(uint64_t pixels, uint32_t border, uint8_t colour)
{
    const uint64_t m = kExpand[border];
    return (pixels & ~m) | (splat(colour) & m);
}

class NullListener final : public VICIIListener {
public:
    void vicIrq(VICII*, bool) override {}
    void vicLine(bool) override {}
};
NullListener gNullListener;

}  // namespace

VICII::VICII(VICIIListener* listener, const uint8_t* colourRam, const uint8_t* ram,
             PixelCanvas* canvas, bool ntsc)
    : listener_(listener ? listener : &gNullListener),
      colourRam_(colourRam ? colourRam : kZeros),
      ram_(ram ? ram : kZeros),
      ntsc_(ntsc),
      linesPerFrame_(ntsc ? 263 : 312),
      cyclesPerLine_(ntsc ? 65 : 63),
      firstVisibleLine_(ntsc ? 40 : 15)
{
    screen_.attach(canvas, "VICII");
    fillVICIIPalette(ntsc, screen_.red, screen_.green, screen_.blue);
    decodeBank();
    reset();
}

void VICII::reset()
{
    line_ = 0;
    cycle_ = 1;
    linesPerFrame_ = ntsc_ ? 263 : 312;
    compare_ = 0;
    compareWritten_ = false;
    rasterMatched_ = false;
    d010_ = 0;
    d011_ = 0;
    // The stored values of $D015-$D018; their decoded fields stay 0 until written.
    d015_ = 0;
    d016_ = 0x08;
    d017_ = 0;
    d018_ = 0x14;
    d01b_ = d01c_ = d01d_ = 0;
    yscroll_ = xscroll_ = 0;
    rsel_ = den_ = bmm_ = ecm_ = csel_ = mcm_ = res_ = false;
    matrixBase_ = charBase_ = bitmapBase_ = 0;
    latch_ = mask_ = 0;
    spriteSprite_ = spriteBackground_ = 0;
    applyModes();

    vc_ = vcbase_ = 0;
    rc_ = vmli_ = 0;
    displayState_ = false;
    badLine_ = false;
    denSeen_ = false;
    refresh_ = 0;
    spriteDma_ = spriteDisplay_ = spriteShifting_ = 0;
    for (Sprite& s : sprites_) {
        s.mcbase = s.mc = 0;
        s.count = 0;
        s.expandFlop = true;
    }
    mainBorder_ = verticalBorder_ = false;

    screen_.originX = 88;
    screen_.originY = int32_t(firstVisibleLine_);
    drawLine_ = false;
    row_ = nullptr;
    rendered_ = 1;
    updateCycleFlags();
    flags_ = cycleFlags_[0];
    prevPixels_ = splat(background_[0]);
    prevForeground_ = 0;
    if (baLow_)
        setBusRequest(false);
}

// ---------------------------------------------------------------------------------------------
// Registers

uint8_t VICII::readRegister(uint32_t reg)
{
    reg &= 63;
    if (reg < 0x10) {
        const Sprite& s = sprites_[reg >> 1];
        return (reg & 1) ? s.y : uint8_t(s.x);
    }
    switch (reg) {
    case 0x10: return d010_;
    case 0x11: return uint8_t((d011_ & 0x7F) | ((line_ & 0x100) >> 1));  // bit 7: raster bit 8
    case 0x12: return uint8_t(line_);
    case 0x13:  // light pen, never latched
    case 0x14: return 0;
    case 0x15: return d015_;
    case 0x16: return d016_ | 0xC0;
    case 0x17: return d017_;
    case 0x18: return d018_ | 0x01;
    case 0x19: return latch_ | 0x70;
    case 0x1A: return mask_ | 0xF0;
    case 0x1B: return d01b_;
    case 0x1C: return d01c_;
    case 0x1D: return d01d_;
    case 0x1E: {
        const uint8_t v = spriteSprite_;
        spriteSprite_ = 0;
        return v;
    }
    case 0x1F: {
        const uint8_t v = spriteBackground_;
        spriteBackground_ = 0;
        return v;
    }
    case 0x20: return border_ | 0xF0;
    case 0x21:
    case 0x22:
    case 0x23:
    case 0x24: return background_[reg - 0x21] | 0xF0;
    case 0x25: return spriteMc0_ | 0xF0;
    case 0x26: return spriteMc1_ | 0xF0;
    default:
        if (reg <= 0x2E)
            return sprites_[reg - 0x27].colour | 0xF0;
        return 0xFF;
    }
}

void VICII::writeRegister(uint32_t reg, uint8_t value)
{
    if (drawLine_)
        renderTo(cycle_);  // the cycles before this one see the old value
    reg &= 63;
    if (reg < 0x10) {
        Sprite& s = sprites_[reg >> 1];
        if (reg & 1)
            s.y = value;
        else
            s.x = uint16_t((s.x & 0x100) | value);
        return;
    }
    switch (reg) {
    case 0x10:  // sprite X bit 8
        d010_ = value;
        for (uint32_t n = 0; n < 8; ++n)
            sprites_[n].x = uint16_t((sprites_[n].x & 0xFF) | ((value >> n & 1) << 8));
        break;
    case 0x11: {  // control 1: RST8 ECM BMM DEN RSEL YSCROLL
        const uint32_t compare = (compare_ & 0xFF) | (uint32_t(value & 0x80) << 1);
        if (compare != compare_) {
            compare_ = compare;
            compareWritten_ = true;
        }
        d011_ = value;
        yscroll_ = value & 7;
        rsel_ = value & 0x08;
        den_ = value & 0x10;
        bmm_ = value & 0x20;
        ecm_ = value & 0x40;
        applyModes();
        evaluateBadLine(false);
        break;
    }
    case 0x12: {  // raster compare, low byte
        const uint32_t compare = (compare_ & 0x100) | value;
        if (compare != compare_) {
            compare_ = compare;
            compareWritten_ = true;
        }
        break;
    }
    case 0x15: d015_ = value; break;  // sprite enable
    case 0x16:                         // control 2: RES MCM CSEL XSCROLL
        d016_ = value;
        xscroll_ = value & 7;
        csel_ = value & 0x08;
        mcm_ = value & 0x10;
        res_ = value & 0x20;
        applyModes();
        break;
    case 0x17: {  // sprite Y expansion
        const uint32_t cleared = d017_ & ~value;
        for (uint32_t n = 0; n < 8; ++n) {
            if (!(cleared >> n & 1))
                continue;
            Sprite& s = sprites_[n];
            if (cycle_ == 15)
                s.mc = uint8_t((s.mcbase & s.mc & 0x2A) | ((s.mcbase | s.mc) & 0x15));
            s.expandFlop = true;
        }
        d017_ = value;
        break;
    }
    case 0x18:  // memory pointers
        d018_ = value;
        matrixBase_ = (uint32_t(value) << 6) & 0x3C00;
        charBase_ = (uint32_t(value) << 10) & 0x3800;
        bitmapBase_ = (uint32_t(value) << 10) & 0x2000;
        break;
    case 0x19:  // interrupt latch: 1s acknowledge
        latch_ &= uint8_t(~(value & 0x0F));
        updateIrq();
        break;
    case 0x1A:
        mask_ = value & 0x0F;
        updateIrq();
        break;
    case 0x1B: d01b_ = value; break;  // sprite behind background
    case 0x1C: d01c_ = value; break;  // sprite multicolour
    case 0x1D: d01d_ = value; break;  // sprite X expansion
    case 0x20: border_ = value & 15; break;
    case 0x21:
    case 0x22:
    case 0x23:
    case 0x24: background_[reg - 0x21] = value & 15; break;
    case 0x25: spriteMc0_ = value & 15; break;
    case 0x26: spriteMc1_ = value & 15; break;
    default:
        if (reg >= 0x27 && reg <= 0x2E)
            sprites_[reg - 0x27].colour = value & 15;
        break;  // $13, $14, $1E, $1F, $2F-$3F are read-only or unused
    }
}

void VICII::applyModes()
{
    mode_ = uint8_t((ecm_ ? 4 : 0) | (bmm_ ? 2 : 0) | (mcm_ ? 1 : 0));
    charMask_ = ecm_ ? 0x1F8 : 0x7F8;
    idleAddress_ = ecm_ ? 0x39FF : 0x3FFF;
    top_ = rsel_ ? 51 : 55;
    bottom_ = rsel_ ? 251 : 247;
    const uint32_t left = csel_ ? 24 : 31;
    if (left != left_) {
        left_ = left;
        right_ = csel_ ? 344 : 335;
        updateCycleFlags();
    }
}

inline void VICII::updateCycleFlags()
{
    flagsOriginX_ = screen_.originX;
    flagsColumns_ = screen_.columns;
    columnBase_ = -8 - int64_t(screen_.originX);
    const int64_t columns = int64_t(screen_.columns);  // at most EmuScreen::kMaxPixels
    for (uint32_t k = 0; k <= kMaxCycles; ++k) {
        uint8_t f = 0;
        if (k >= 16 && k <= 55)
            f |= kGraphicsCycle;
        if (left_ - kXpos[k] < 8 || right_ - kXpos[k] < 8)
            f |= kBorderCompare;
        cycleFlags_[0][k] = f;
        const int64_t column = columnBase_ + 8 * int64_t(k);
        if (column >= 0 && column + 8 <= columns)
            f |= kFullOnCanvas;
        else if (column + 8 > 0 && column < columns)
            f |= kPartOnCanvas;
        cycleFlags_[1][k] = f;
    }
}

inline void VICII::updateIrq()
{
    const bool any = (latch_ & mask_ & 0x0F) != 0;
    const bool was = latch_ & 0x80;
    latch_ = uint8_t((latch_ & 0x0F) | (any ? 0x80 : 0));
    if (any != was)
        setIrq(any);
}

inline void VICII::raiseLatch(uint8_t bits)
{
    latch_ |= bits;
    updateIrq();
}

inline void VICII::setIrq(bool level)
{
    listener_->vicIrq(this, level);
}

inline void VICII::setBusRequest(bool low)
{
    baLow_ = low;
    listener_->vicLine(low);
}

// ---------------------------------------------------------------------------------------------
// Memory

void VICII::decodeBank()
{
    const uint8_t* image = kVICIICharacterImage.data();
    for (uint32_t r = 0; r < 4; ++r) {
        const uint32_t offset = r << 12;
        switch (bankMode_) {
        case 0: bank_[r] = ram_ + 0xC000 + offset; break;
        case 1: bank_[r] = r == 1 ? image : ram_ + 0x8000 + offset; break;
        case 2: bank_[r] = ram_ + 0x4000 + offset; break;
        case 3: bank_[r] = r == 1 ? image : ram_ + offset; break;
        default: bank_[r] = r < 3 ? ram_ + offset : (ultimax_ ? ultimax_ : kZeros) + 0x1000; break;
        }
    }
}

void VICII::setBank(uint8_t bits)
{
    if (ultimax_)
        return;
    bankMode_ = bits & 3;
    decodeBank();
}

void VICII::setUltimax(const uint8_t* romh)
{
    ultimax_ = romh ? romh : kZeros;
    bankMode_ = kUltimax;
    decodeBank();
}

void VICII::clearUltimax()
{
    ultimax_ = nullptr;
    bankMode_ = 0;
    decodeBank();
}

// ---------------------------------------------------------------------------------------------
// Cycles

void VICII::run(uint64_t cycles)
{
    for (; cycles; --cycles)
        tick();
}

void VICII::step()
{
    tick();
}

VICII_HOT void VICII::tick()
{
    if (compareWritten_)
        checkWrittenCompare();
    if (spriteDisplay_ && drawLine_)
        renderTo(cycle_ + 1);  // collisions interrupt in their own cycle
    if (cycle_ == cyclesPerLine_) {
        if (drawLine_)
            renderTo(cycle_ + 1);
        // The vertical flip-flop also follows the line at the last cycle.
        if (line_ == bottom_)
            verticalBorder_ = true;
        else if (line_ == top_ && den_)
            verticalBorder_ = false;
        newLine();
    }
    const uint32_t c = ++cycle_;
    if (c - 17 < 38) {  // 17-54: g-access, c-access on a bad line
        gAccess();
        if (badLine_)
            cAccess();
        if (badLine_ != baLow_)
            setBusRequest(badLine_);
        return;
    }
    cycleAction(c);
    updateBa(c);
}

inline void VICII::newLine()
{
    cycle_ = 0;
    rendered_ = 1;
    if (++line_ == linesPerFrame_)
        line_ = 0;
    if (line_ == 0) {
        frameDone();
        refresh_ = 255;
        vc_ = vcbase_ = 0;
    }
    drawLine_ = line_ > firstVisibleLine_ && line_ < 288;
    if (!drawLine_)
        spriteShifting_ = 0;
    prevPixels_ = splat(background_[0]);
    prevForeground_ = 0;
}

inline void VICII::frameDone()
{
    screen_.flush();
    listener_->vicHook5();
}

VICII_HOT void VICII::cycleAction(uint32_t c)
{
    switch (c) {
    case 1:
        rasterMatched_ = false;
        if (line_ != 0)
            rasterMatch();
        evaluateBadLine(true);
        pAccess(3);
        break;
    case 2:
        if (line_ == 0)
            rasterMatch();
        sCycle(3);
        break;
    case 3: pAccess(4); break;
    case 4: sCycle(4); break;
    case 5: pAccess(5); break;
    case 6: sCycle(5); break;
    case 7: pAccess(6); break;
    case 8: sCycle(6); break;
    case 9: pAccess(7); break;
    case 10: sCycle(7); break;
    case 11:
    case 12:
    case 13: refresh(); break;
    case 14:
        refresh();
        vc_ = vcbase_;
        vmli_ = 0;
        if (badLine_)
            rc_ = 0;
        break;
    case 15:
        refresh();
        if (badLine_)
            cAccess();
        break;
    case 16:
        gAccess();
        if (badLine_)
            cAccess();
        updateMcbase();
        break;
    case 55:
        for (uint32_t n = 0; n < 8; ++n)
            if (d017_ >> n & 1)
                sprites_[n].expandFlop = !sprites_[n].expandFlop;
        dmaStartCheck();
        gAccess();
        break;
    case 56:
        idleAccess();
        dmaStartCheck();
        break;
    case 57: idleAccess(); break;
    case 58: cycle58(); break;
    case 59: sCycle(0); break;
    case 60: pAccess(1); break;
    case 61: sCycle(1); break;
    case 62: pAccess(2); break;
    case 63: sCycle(2); break;
    default: break;  // 64, 65 (NTSC): no access
    }
}

VICII_HOT void VICII::updateBa(uint32_t c)
{
    const BaRule& r = kBaRules[c];
    if (r.keep)
        return;
    const bool low = (spriteDma_ & r.sprites) != 0 || (r.badLine && badLine_);
    if (low != baLow_)
        setBusRequest(low);
}

inline void VICII::checkWrittenCompare()
{
    compareWritten_ = false;
    if (line_ == compare_)
        rasterMatch();
    else
        rasterMatched_ = false;
}

inline void VICII::rasterMatch()
{
    if (line_ == compare_ && !rasterMatched_) {
        rasterMatched_ = true;
        raiseLatch(0x01);
    }
}

inline void VICII::evaluateBadLine(bool lineStart)
{
    // DEN set at any time in line 48 enables bad lines for the frame.
    if (line_ == 48)
        denSeen_ = den_ || (!lineStart && denSeen_);
    badLine_ = line_ >= 48 && line_ <= 247 && (line_ & 7) == yscroll_ && denSeen_;
    // A bad line keeps the display state on for as long as it lasts; only cycle 58 clears it.
    if (badLine_)
        displayState_ = true;
}

VICII_HOT void VICII::gAccess()
{
    GraphicsFetch& g = fetched_[cycle_];
    if (displayState_) {
        const uint8_t m = matrix_[vmli_];
        g.matrix = m;
        g.colour = colourLine_[vmli_];
        const uint32_t address = bmm_ ? bitmapBase_ | ((uint32_t(vc_) << 3) & 0x1FF8) | rc_
                                      : charBase_ | ((uint32_t(m) << 3) & charMask_) | rc_;
        g.data = readVideoMemory(address);
        vc_ = (vc_ + 1) & 0x3FF;
        vmli_ = (vmli_ + 1) & 63;
    } else {
        // Idle state: the attributes read as 0.
        g.matrix = 0;
        g.colour = 0;
        g.data = readVideoMemory(idleAddress_);
    }
}

VICII_HOT void VICII::cAccess()
{
    matrix_[vmli_] = readVideoMatrix(matrixBase_ | vc_);
    colourLine_[vmli_] = readColourRam(vc_) & 15;
}

VICII_HOT void VICII::pAccess(uint32_t n)
{
    Sprite& s = sprites_[n];
    s.pointer = uint16_t(readVideoMemory(matrixBase_ | 0x3F8 | n) << 6);
    if (spriteDma_ >> n & 1)
        sAccess(s);
}

VICII_HOT void VICII::sAccess(Sprite& s)
{
    s.data = ((s.data << 8) | readVideoMemory(s.pointer | s.mc)) & 0xFFFFFF;
    s.mc = (s.mc + 1) & 63;
}

VICII_HOT void VICII::sCycle(uint32_t n)
{
    if (spriteDma_ >> n & 1) {
        sAccess(sprites_[n]);
        sAccess(sprites_[n]);
    } else {
        idleAccess();
    }
}

VICII_HOT void VICII::idleAccess()
{
    readVideoMemory(idleAddress_);
}

VICII_HOT void VICII::refresh()
{
    readVideoMemory(0x3F00 | refresh_);
    --refresh_;
}

inline void VICII::dmaStartCheck()
{
    if (!(d015_ & ~spriteDma_))
        return;
    for (uint32_t n = 0; n < 8; ++n) {
        const uint8_t bit = uint8_t(1 << n);
        Sprite& s = sprites_[n];
        if ((d015_ & bit) && !(spriteDma_ & bit) && s.y == line_) {
            spriteDma_ |= bit;
            s.mcbase = 0;
            if (d017_ & bit)
                s.expandFlop = false;
        }
    }
}

inline void VICII::updateMcbase()
{
    for (uint32_t n = 0; n < 8; ++n) {
        Sprite& s = sprites_[n];
        if (!s.expandFlop)
            continue;
        s.mcbase = s.mc;
        if (s.mcbase == 63)
            spriteDma_ &= uint8_t(~(1 << n));
    }
}

inline void VICII::cycle58()
{
    uint8_t display = spriteDisplay_;
    for (uint32_t n = 0; n < 8; ++n) {
        const uint8_t bit = uint8_t(1 << n);
        Sprite& s = sprites_[n];
        s.mc = s.mcbase;
        if (!(spriteDma_ & bit))
            display &= uint8_t(~bit);
        else if ((d015_ & bit) && s.y == line_)
            display |= bit;
    }
    if (display != spriteDisplay_) {
        if (drawLine_)
            renderTo(cycle_);
        spriteDisplay_ = display;
        spriteShifting_ &= display;
    }
    if (rc_ == 7) {
        displayState_ = false;
        vcbase_ = vc_;
    }
    if (badLine_ || displayState_) {
        rc_ = (rc_ + 1) & 7;
        displayState_ = true;
    }
    pAccess(0);
}

// ---------------------------------------------------------------------------------------------
// Pixels

inline bool VICII::updateBorder(uint32_t x)
{
    if (x == right_)
        mainBorder_ = true;
    if (x == left_) {
        if (line_ == bottom_)
            verticalBorder_ = true;
        else if (line_ == top_ && den_)
            verticalBorder_ = false;
        if (!verticalBorder_)
            mainBorder_ = false;
    }
    return mainBorder_;
}

// One cycle's pixels with the sprites on the line.
inline void VICII::outputCycle(uint32_t k)
{
    const uint8_t f = flags_[k];

    // The sequencer loads inside the vertical border only on the line where it opens.
    uint64_t pixels = splat(background_[0]);
    uint32_t foreground = 0;
    if ((f & kGraphicsCycle) && (!verticalBorder_ || line_ == top_)) {
        const GraphicsFetch& g = fetched_[k];
        sequence(mode_, background_, g.data, g.matrix, g.colour, pixels, foreground);
    }
    uint64_t out = delayed(pixels, prevPixels_, xscroll_);
    const uint32_t fg = ((prevForeground_ << 8 | foreground) >> xscroll_) & 0xFF;
    prevPixels_ = pixels;
    prevForeground_ = foreground;

    uint32_t border;
    uint32_t vertical;
    if (f & kBorderCompare) {
        border = borderPixels(kXpos[k], vertical);
    } else {
        border = mainBorder_ ? 0xFF : 0;
        vertical = verticalBorder_ ? 0xFF : 0;
    }
    out = mixSprites(kXpos[k], out, fg, fg & ~vertical);
    if (border)
        out = withBorder(out, border, border_);
    if (f & kFullOnCanvas) {
        std::memcpy(row_ + columnBase_ + 8 * int64_t(k), &out, 8);
        screen_.dirty = true;
    } else if (f & kPartOnCanvas) {
        storePartial(k, out);
    }
}

// Cycles [begin, end) without sprites: no collisions, so only the picture and the border
// flip-flops move. The state lives in locals; the row stores cannot touch it.
inline void VICII::renderPlain(uint32_t begin, uint32_t end)
{
    const uint8_t* const flags = flags_;
    uint8_t* __restrict const row = row_;
    const int64_t base = columnBase_;
    const uint32_t mode = mode_;
    const uint8_t background[4] = {background_[0], background_[1], background_[2], background_[3]};
    const uint64_t background0 = splat(background[0]);
    const uint8_t borderColour = border_;
    const uint32_t xs = xscroll_;
    const bool topLine = line_ == top_;
    uint64_t previous = prevPixels_;
    uint32_t previousForeground = prevForeground_;
    bool drew = false;
    for (uint32_t k = begin; k < end; ++k) {
        const uint8_t f = flags[k];
        if (!f) {
            previous = background0;
            previousForeground = 0;
            continue;
        }
        uint64_t pixels = background0;
        uint32_t foreground = 0;
        if ((f & kGraphicsCycle) && (!verticalBorder_ || topLine)) {
            const GraphicsFetch& g = fetched_[k];
            sequence(mode, background, g.data, g.matrix, g.colour, pixels, foreground);
        }
        uint64_t out = delayed(pixels, previous, xs);
        previous = pixels;
        previousForeground = foreground;

        uint32_t border;
        if (f & kBorderCompare) {
            uint32_t vertical;
            border = borderPixels(kXpos[k], vertical);
        } else {
            border = mainBorder_ ? 0xFF : 0;
        }
        if (border)
            out = withBorder(out, border, borderColour);
        if (f & kFullOnCanvas) {
            std::memcpy(row + base + 8 * int64_t(k), &out, 8);
            drew = true;
        } else if (f & kPartOnCanvas) {
            storePartial(k, out);
        }
    }
    prevPixels_ = previous;
    prevForeground_ = previousForeground;
    if (drew)
        screen_.dirty = true;
}

inline void VICII::renderTo(uint32_t end)
{
    if (end <= rendered_)
        return;
    // The owner may move the origin or attach another canvas at any time.
    if (screen_.originX != flagsOriginX_ || screen_.columns != flagsColumns_)
        updateCycleFlags();
    row_ = nullptr;
    const int64_t row = int64_t(line_) - screen_.originY;
    if (row >= 0 && uint64_t(row) < screen_.rows)
        row_ = screen_.pixels.get() + uint64_t(row) * screen_.columns;
    flags_ = cycleFlags_[row_ ? 1 : 0];
    if (spriteDisplay_) {
        // A collision may call the listener: the cycle counts as drawn before that.
        while (rendered_ < end)
            outputCycle(rendered_++);
    } else {
        renderPlain(rendered_, end);
        rendered_ = end;
    }
}

inline uint32_t VICII::borderPixels(uint32_t x0, uint32_t& vertical)
{
    uint32_t main = 0;
    uint32_t vert = 0;
    for (uint32_t i = 0; i < 8; ++i) {
        main |= uint32_t(updateBorder(x0 + i)) << (7 - i);
        vert |= uint32_t(verticalBorder_) << (7 - i);
    }
    vertical = vert;
    return main;
}

// Shifts the displayed sprites through this cycle's pixels, records collisions and lays the
// winning sprite pixel (lowest number) over the graphics unless it is behind foreground.
inline uint64_t VICII::mixSprites(uint32_t x0, uint64_t pixels, uint32_t foreground, uint32_t colliding)
{
    uint8_t present[8] = {};  // bit n: sprite n opaque at pixel i
    uint8_t colour[8] = {};
    const uint32_t candidates = spriteDisplay_;  // a shifting sprite is always displayed
    for (int32_t n = 7; n >= 0; --n) {
        const uint8_t bit = uint8_t(1 << n);
        if (!(candidates & bit))
            continue;
        Sprite& s = sprites_[n];
        uint32_t i = 0;
        if (!(spriteShifting_ & bit)) {
            const uint32_t start = uint32_t(s.x) - x0;  // wraps when X lies before this cycle
            if (start >= 8)
                continue;
            i = start;
            s.count = 0;
            spriteShifting_ |= bit;
        }
        const uint32_t xExpand = d01d_ >> n & 1;
        const uint32_t width = 24u << xExpand;
        const bool multicolour = d01c_ >> n & 1;
        const uint8_t colours[4] = {0, spriteMc0_, s.colour, spriteMc1_};
        for (; i < 8 && s.count < width; ++i) {
            uint32_t v;
            if (multicolour)
                v = (s.data >> (22 - 2 * (s.count >> (1 + xExpand)))) & 3;
            else
                v = ((s.data >> (23 - (s.count >> xExpand))) & 1) << 1;
            ++s.count;
            if (v) {
                present[i] |= bit;
                colour[i] = colours[v];
            }
        }
        if (s.count >= width)
            spriteShifting_ &= uint8_t(~bit);
    }

    const uint8_t latchBefore = latch_;
    for (uint32_t i = 0; i < 8; ++i) {
        const uint32_t p = present[i];
        if (!p)
            continue;
        if (p & (p - 1)) {
            if (!spriteSprite_)
                latch_ |= 0x04;
            spriteSprite_ |= uint8_t(p);
        }
        const uint32_t n = uint32_t(std::countr_zero(p));
        const uint32_t pixelBit = 0x80u >> i;
        if (colliding & pixelBit) {
            if (!spriteBackground_)
                latch_ |= 0x02;
            spriteBackground_ |= uint8_t(1 << n);
        }
        if (!((foreground & pixelBit) && (d01b_ >> n & 1))) {
            const uint32_t shift = 8 * i;
            pixels = (pixels & ~(uint64_t(0xFF) << shift)) | (uint64_t(colour[i]) << shift);
        }
    }
    if (latch_ != latchBefore)
        updateIrq();
    return pixels;
}

inline void VICII::storePartial(uint32_t k, uint64_t pixels)
{
    const int64_t column = columnBase_ + 8 * int64_t(k);
    const int64_t columns = int64_t(screen_.columns);
    for (int64_t i = 0; i < 8; ++i) {
        if (column + i >= 0 && column + i < columns) {
            row_[column + i] = uint8_t(pixels >> (8 * i));
            screen_.dirty = true;
        }
    }
}

// ---------------------------------------------------------------------------------------------

VICII::View VICII::view() const
{
    View v{};
    v.line = line_;
    v.cycle = cycle_;
    v.vc = vc_;
    v.vcbase = vcbase_;
    v.rc = rc_;
    v.vmli = vmli_;
    v.displayState = displayState_;
    v.badLine = badLine_;
    v.baLow = baLow_;
    v.bankMode = bankMode_;
    for (uint32_t n = 0; n < 8; ++n) {
        const Sprite& s = sprites_[n];
        v.sprites[n] = {s.mc, s.mcbase, bool(spriteDma_ >> n & 1), bool(spriteDisplay_ >> n & 1),
                        s.expandFlop};
    }
    return v;
}
