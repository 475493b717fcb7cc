#include "machine/C64Emu.h"

#include "machine/C1541.h"
#include "machine/C64Cartridges.h"
#include "machine/C64RomSet.h"
#include "media/MediaCallback.h"
#include "platform/SaturatingCast.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

// What a region of the address space shows.
enum Map : uint8_t { RAM, BASIC, CHAR, IO, KERNAL, ROML, ROMH, UNMAPPED };

// Regions: $0000, $1000-$7FFF, $8000, $A000, $C000, $D000, $E000.
enum Region { R0000, R1000, R8000, RA000, RC000, RD000, RE000, REGION_COUNT };

using BankRow = std::array<uint8_t, REGION_COUNT>;

// One row from the letters of what is not RAM: L ROML at $8000, B BASIC or H ROMH at $A000,
// G character ROM or I I/O at $D000, K KERNAL at $E000. Ultimax rows are all alike.
constexpr BankRow bankRow(const char* letters, bool ultimax)
{
    BankRow row{};
    if (ultimax) {
        row = {RAM, UNMAPPED, ROML, UNMAPPED, UNMAPPED, IO, ROMH};
        return row;
    }
    for (const char* p = letters; *p; ++p) {
        switch (*p) {
        case 'L': row[R8000] = ROML; break;
        case 'B': row[RA000] = BASIC; break;
        case 'H': row[RA000] = ROMH; break;
        case 'G': row[RD000] = CHAR; break;
        case 'I': row[RD000] = IO; break;
        case 'K': row[RE000] = KERNAL; break;
        default: break;
        }
    }
    return row;
}

// Index: EXROM << 4 | GAME << 3 | CHAREN << 2 | HIRAM << 1 | LORAM.
constexpr std::array<BankRow, 32> makeBankTable()
{
    // Columns CHAREN HIRAM LORAM = 000 .. 111.
    constexpr const char* k16k[8] = {"", "", "HGK", "LHGK", "", "I", "HIK", "LHIK"};       // EXROM 0 GAME 0
    constexpr const char* k8k[8] = {"", "", "GK", "LBGK", "", "I", "IK", "LBIK"};          // EXROM 0 GAME 1
    constexpr const char* kNone[8] = {"", "G", "GK", "BGK", "", "I", "IK", "BIK"};         // EXROM 1 GAME 1
    std::array<BankRow, 32> table{};
    for (int column = 0; column < 8; ++column) {
        table[0 + column] = bankRow(k16k[column], false);
        table[8 + column] = bankRow(k8k[column], false);
        table[16 + column] = bankRow("", true);
        table[24 + column] = bankRow(kNone[column], false);
    }
    return table;
}

constexpr std::array<BankRow, 32> kBankTable = makeBankTable();
static_assert(kBankTable[31][RA000] == BASIC && kBankTable[31][RD000] == IO && kBankTable[31][RE000] == KERNAL);
static_assert(kBankTable[27][RA000] == BASIC && kBankTable[27][RD000] == CHAR);
static_assert(kBankTable[13][RD000] == IO && kBankTable[13][RA000] == RAM && kBankTable[13][RE000] == RAM);
static_assert(kBankTable[7][R8000] == ROML && kBankTable[7][RA000] == ROMH);
static_assert(kBankTable[16][R8000] == ROML && kBankTable[16][RE000] == ROMH && kBankTable[16][RA000] == UNMAPPED);

constexpr std::array<uint8_t, 256> makeScreenCodes()
{
    std::array<uint8_t, 256> t{};
    for (int c = 32; c <= 63; ++c)
        t[c] = uint8_t(c);
    t[64] = 0;
    for (int c = 65; c <= 90; ++c)
        t[c] = uint8_t(c);
    t[91] = 27;
    t[92] = 47;
    t[93] = 29;
    t[94] = 30;
    t[95] = 46;
    t[96] = 36;
    for (int c = 97; c <= 122; ++c)
        t[c] = uint8_t(c - 96);
    t[123] = 37;
    t[125] = 38;
    constexpr uint8_t kAccented[23] = {65, 65, 65, 65, 65, 65, 65, 67, 69, 69, 69, 69,
                                       73, 73, 73, 73, 68, 78, 79, 79, 79, 79, 79};
    for (int c = 192; c <= 214; ++c)
        t[c] = kAccented[c - 192];
    t[215] = 24;
    t[216] = 48;
    for (int c = 217; c <= 220; ++c)
        t[c] = 85;
    t[221] = 89;
    t[222] = 80;
    t[223] = 89;
    for (int c = 224; c <= 230; ++c)
        t[c] = 1;
    t[231] = 3;
    for (int c = 232; c <= 235; ++c)
        t[c] = 5;
    for (int c = 236; c <= 239; ++c)
        t[c] = 9;
    t[240] = 4;
    t[241] = 14;
    for (int c = 242; c <= 246; ++c)
        t[c] = 15;
    t[247] = 37;
    t[248] = 48;
    for (int c = 249; c <= 252; ++c)
        t[c] = 21;
    t[253] = 25;
    t[254] = 16;
    t[255] = 25;
    return t;
}

constexpr std::array<uint8_t, 256> kScreenCodes = makeScreenCodes();

// MIDI note to key code tables; 0 = no key.
using NoteKeys = std::array<uint16_t, 128>;
struct NoteKey {
    uint8_t note;
    uint16_t key;
};

constexpr NoteKeys noteKeys(std::initializer_list<NoteKey> pairs)
{
    NoteKeys t{};
    for (const NoteKey& p : pairs)
        t[p.note] = p.key;
    return t;
}

// Notes [from, from + count) repeat the keys of notes [source, source + count).
constexpr NoteKeys repeatNotes(NoteKeys t, int from, int source, int count)
{
    for (int i = 0; i < count; ++i)
        t[from + i] = t[source + i];
    return t;
}

constexpr NoteKeys kNoteKeys1 = repeatNotes(
    repeatNotes(noteKeys({{0, 0x0104},  {1, 0x0120},  {2, 0x0204},  {3, 0x0220},  {4, 0x0304},  {5, 0x0320},
                          {6, 0x0404},  {7, 0x0420},  {8, 0x0504},  {9, 0x0520},  {10, 0x0604}, {11, 0x0620},
                          {12, 0x0110}, {13, 0x0280}, {14, 0x0210}, {15, 0x0380}, {16, 0x0310}, {17, 0x0480},
                          {18, 0x0410}, {19, 0x0520}, {20, 0x0510}, {21, 0x0680}, {22, 0x0080}, {23, 0x0004},
                          {24, 0x0710}, {25, 0x0002}, {26, 0x0780}, {27, 0x0704}, {29, 0x0720}, {30, 0x0180},
                          {31, 0x0702}, {32, 0x0008}, {33, 0x0040}, {34, 0x0020}, {35, 0x0010}, {36, 0x0740},
                          {37, 0x0708}, {38, 0x0102}, {39, 0x0101}, {40, 0x0140}, {41, 0x0202}, {42, 0x0201},
                          {43, 0x0240}, {44, 0x0208}, {45, 0x0302}, {46, 0x0301}, {47, 0x0340}, {48, 0x0402},
                          {49, 0x0401}, {50, 0x0440}, {51, 0x0408}, {52, 0x0502}, {53, 0x0540}, {54, 0x0508},
                          {55, 0x0602}, {56, 0x0601}, {57, 0x0640}, {58, 0x0608}, {59, 0x0001}}),
                60, 24, 12),
    72, 0, 24);

constexpr NoteKeys kNoteKeys2 = noteKeys(
    {{0, 0x0702},   {1, 0x0701},   {2, 0x0708},   {3, 0x0101},   {4, 0x0108},   {5, 0x0201},   {6, 0x0208},
     {7, 0x0301},   {8, 0x0308},   {9, 0x0401},   {10, 0x0408},  {11, 0x0508},  {12, 0x0620},  {13, 0x0001},
     {14, 0x0704},  {15, 0x0740},  {16, 0x0102},  {17, 0x0140},  {18, 0x0202},  {19, 0x0240},  {20, 0x0302},
     {21, 0x0340},  {22, 0x0402},  {23, 0x0440},  {24, 0x0502},  {27, 0x0002},  {28, 0x0720},  {29, 0x0104},
     {30, 0x0120},  {31, 0x0204},  {32, 0x0220},  {33, 0x0304},  {34, 0x0320},  {35, 0x0404},  {36, 0x0420},
     {37, 0x0504},  {38, 0x0604},  {41, 0x0180},  {42, 0x0601},  {43, 0x0110},  {44, 0x0280},  {45, 0x0210},
     {46, 0x0380},  {47, 0x0310},  {48, 0x0480},  {49, 0x0410},  {50, 0x0580},  {51, 0x0510},  {53, 0x0610},
     {54, 0x0602},  {55, 0x0780},  {56, 0x0710},  {57, 0x0780},  {58, 0x0010},  {60, 0x0020},  {62, 0x0040},
     {64, 0x0008},  {70, 0x0301},  {71, 0x0308},  {72, 0x0401},  {73, 0x0508},  {74, 0x0108},  {75, 0x0201},
     {76, 0x0208},  {77, 0x0501},  {78, 0x0701},  {79, 0x0708},  {80, 0x0101},  {81, 0x0408},  {82, 0x0001},
     {83, 0x0601},  {103, 0x0080}, {105, 0x0004}, {106, 0x0004}, {108, 0x0080}, {110, 0x0001}, {111, 0x0001}});

constexpr NoteKeys kNoteKeys3 = repeatNotes(
    noteKeys({{10, 0x0002},  {13, 0x0002},  {17, 0x0010},  {18, 0x0020},  {19, 0x0040}, {20, 0x0008},
              {24, 0x0780},  {27, 0x0608},  {28, 0x0180},  {29, 0x0610},  {30, 0x0704}, {31, 0x0720},
              {32, 0x0710},  {33, 0x0701},  {34, 0x0708},  {35, 0x0101},  {36, 0x0108}, {37, 0x0201},
              {38, 0x0208},  {39, 0x0301},  {40, 0x0308},  {41, 0x0401},  {42, 0x0602}, {43, 0x0501},
              {44, 0x0580},  {45, 0x0508},  {46, 0x0510},  {47, 0x0680},  {48, 0x0408}, {49, 0x0701},
              {50, 0x0708},  {51, 0x0101},  {52, 0x0108},  {53, 0x0201},  {54, 0x0208}, {55, 0x0301},
              {56, 0x0308},  {57, 0x0401},  {58, 0x0520},  {59, 0x0604},  {60, 0x0580}, {61, 0x0620},
              {62, 0x0510},  {63, 0x0680},  {64, 0x0540},  {65, 0x0104},  {66, 0x0310}, {67, 0x0210},
              {68, 0x0204},  {69, 0x0140},  {70, 0x0220},  {71, 0x0304},  {72, 0x0320}, {73, 0x0402},
              {74, 0x0404},  {75, 0x0420},  {76, 0x0504},  {77, 0x0410},  {78, 0x0480}, {79, 0x0440},
              {80, 0x0502},  {81, 0x0740},  {82, 0x0202},  {83, 0x0120},  {84, 0x0240}, {85, 0x0340},
              {86, 0x0380},  {87, 0x0102},  {88, 0x0280},  {89, 0x0302},  {90, 0x0110}, {91, 0x0520},
              {93, 0x0604},  {94, 0x0640},  {96, 0x0702},  {123, 0x0080}, {124, 0x0601}, {125, 0x0004},
              {126, 0x0702}, {127, 0x0001}}),
    97, 65, 26);

constexpr const NoteKeys* kNoteTables[3] = {&kNoteKeys1, &kNoteKeys2, &kNoteKeys3};

// Joystick bits (0 = active).
constexpr uint8_t kJoyUp = 0x01, kJoyDown = 0x02, kJoyLeft = 0x04, kJoyRight = 0x08, kJoyFire = 0x10;

constexpr uint16_t kScreenRam = 0x0400;
constexpr uint16_t kScreenEnd = 0x07E7;
constexpr char kJamMessage[] = "           *** CPU JAM! ***";
constexpr char kCoreErrorMessage[] = "         *** CORE ERROR! ***";

}  // namespace

uint8_t c64ScreenCode(uint8_t c)
{
    return kScreenCodes[c];
}

C64Emu::C64Emu(MediaCallback* mediaCallback, std::string folder, bool ntsc)
    : callback(mediaCallback),
      romFolder(std::move(folder)),
      roms(&c64RomSet()),
      ntscMachine(ntsc),
      nominalClock(ntsc ? kNtscClock : kPalClock),
      mainsRate(ntsc ? 60 : 50)
{
    std::memset(ram, 0, sizeof ram);
    std::memset(keyMatrix, 0xFF, sizeof keyMatrix);
    std::memset(joystick, 0xFF, sizeof joystick);
    restoreDefaultIoSlots();
    updateBanking();
}

C64Emu::~C64Emu()
{
    cpu.reset();
    cartridge.reset();
    vic.reset();
    drive.reset();
    iecHost.reset();
    cia2.reset();
    cia1.reset();
}

// ---------------------------------------------------------------------------------------------
// Building and starting

bool C64Emu::buildMachine(PixelCanvas* screen, DiskFile* diskImage, bool withDrive)
{
    if (!screen)
        return false;
    if (!romFolder.empty())
        loadRomSetOnce(romFolder);
    cpu = std::make_unique<M6502CPP::M6502>(ram, this);
    cia1 = std::make_unique<mos6526_new>(this, "CIA1");
    cia2 = std::make_unique<mos6526_new>(this, "CIA2");
    ciaOwed = ciaQuiet = 0;
    drive.reset();
    iecHost = std::make_unique<cbm_iec_host_device>("C64H");
    if (withDrive) {
        drive = std::make_unique<C1541>("1541", iecHost.get());
        drive->setDisk(diskImage);
        iecHost->addDevice(drive.get(), drive.get());
    }
    vic = std::make_unique<VICII>(this, colourRam, ram, screen, ntscMachine);
    vicView = ~0u;
    updateVicView();
    state = STATE_RESETTING;
    idleLoopHits = 0;
    return true;
}

bool C64Emu::bootMachine()
{
    callback->mediaStarted(nullptr, 0);
    if (!cpu)
        return false;
    restoreDefaultIoSlots();
    resetMachine();
    state = STATE_RUNNING;
    return true;
}

bool C64Emu::insertCartridge(const uint8_t* image, uint64_t size)
{
    callback->mediaStarted(image, size);
    if (!cpu)
        return false;
    if (cartridge) {
        // Its banks go with it: nothing may still point into them.
        cartridge.reset();
        ultimaxRomh = nullptr;
        game = exrom = 1;
        updateBanking();
    }
    std::unique_ptr<CBMMapper> cart = createC64Cartridge(image, size_t(size), this);
    if (!cart || !cart->load())
        return false;
    cartridge = std::move(cart);
    restoreDefaultIoSlots();
    resetMachine();
    state = STATE_RUNNING;
    return true;
}

void C64Emu::restoreDefaultIoSlots()
{
    for (uint32_t slot = 0; slot < 256; ++slot)
        ioSlots[slot] = (slot >= 0x40 && slot < 0x80) ? kSid1 : kIoMachine;
}

void C64Emu::resetMachine()
{
    idleLoopHits = 0;
    keyCountReads = 0;
    state = STATE_RESETTING;
    runRequest = {};
    ntscTune = false;
    playTimerActive = false;
    std::memset(colourRam, 0, sizeof colourRam);
    std::memset(keyMatrix, 0xFF, sizeof keyMatrix);
    std::memset(joystick, 0xFF, sizeof joystick);

    // Power-on pattern: runs of 64 bytes of $00 and $FF, shifted by one.
    uint8_t v = 0xFF;
    for (uint32_t a = 0; a < 0x10000; a += 2) {
        ram[a] = v;
        if ((a & 0x3E) == 0)
            v ^= 0xFF;
        ram[a + 1] = v;
    }

    portDdr = portData = portLatch = 0;
    updateBanking();

    cpu->clearInterrupts();
    cpu->powerOnReset();
    catchUpCias();
    cia1->reset();
    cia2->reset();
    vic->reset();
    cia1Irq = cia2Irq = vicIrqLevel = 0;
    busStolen = false;
    updateInterruptLines();
    // The CIAs' outputs are released again.
    vicBankBits[0] = vicBankBits[1] = 1;
    updateVicView();
    iecHost->setIecLine(iecHost.get(), IEC_ATN, 1);
    iecHost->setIecLine(iecHost.get(), IEC_CLK, 1);
    iecHost->setIecLine(iecHost.get(), IEC_DATA, 1);

    if (!cartridge) {
        // Let the KERNAL boot until it waits for a key.
        uint64_t total = 0;
        for (;;) {
            done = false;
            runRequest.budget = 1;
            runRequest.remainder = 0;
            total += cpu->runCycles(runRequest.budget);
            if (done || total > kResetCycleLimit)
                break;
        }
    }
    state = STATE_READY;
    updateBanking();  // page 0 back on the fast path
    dropInterruptRequests();  // the boot may end on a request its run never entered
    cyclesSinceRender = 0;
    lastSidWriteCycle = totalCycles;
}

// ---------------------------------------------------------------------------------------------
// Running

uint64_t C64Emu::advance(uint64_t cycles, double clock)
{
    const uint64_t r = runSlice(cycles, clock);
    if (cia1) {
        // Mains-rate time-of-day pulses, counted exactly from the cycles run.
        const uint64_t perPulse = uint64_t(nominalClock);
        todCycles += r * mainsRate;
        if (todCycles >= perPulse)
            catchUpCias();
        while (todCycles >= perPulse) {
            todCycles -= perPulse;
            cia1->todPulse(true);
            cia2->todPulse(true);
        }
    }
    return r;
}

uint64_t C64Emu::runSlice(uint64_t n, double clock)
{
    if (surplusCycles > 0) {
        const uint64_t m = std::min(n, surplusCycles);
        surplusCycles -= m;
        return m;
    }
    if (cyclesSinceRender > 0) {
        callback->renderChips(kSid1, cyclesSinceRender);
        cyclesSinceRender = 0;
    }
    if (n == 0 || !cpu)
        return n;
    uint64_t c = 0;
    do {
        uint64_t step;
        if (busStolen) {
            ++stallCycles;
            tick(1);
            step = 1;
        } else {
            step = cpu->stepState();
            if (step == 0) [[unlikely]] {  // a state that takes no time still lets the machine run
                tick(1);
                step = 1;
            }
        }
        if (playTimerActive) {
            cyclesToPlay -= int64_t(step);
            if (cyclesToPlay <= 0) {
                playCall();
                playLatch = cia1->timerALatch();
                cyclesToPlay += int64_t(playPeriod(clock));
            }
        }
        c += step;
    } while (c < n);
    if (c > n) {
        surplusCycles = c - n;
        return n;
    }
    return c;
}

uint64_t C64Emu::playPeriod(double clock) const
{
    const double rate = (std::isfinite(clock) && clock > 0) ? clock : nominalClock;
    const double factor = (std::isfinite(speed) && speed > 0) ? speed : 1.0;
    const double period = std::floor((playLatch + 1.0) * (rate / nominalClock) / factor + 0.5);
    return uint64_t(std::max<int64_t>(1, vantor::saturatingCast<int64_t>(period)));
}

void C64Emu::tick(uint64_t cycles)
{
    // The drive comes first, then CIA2, CIA1, the video chip and the cartridge. The drive and
    // the CIAs run only when one of them has something to do, or when they are touched.
    ciaOwed += cycles;
    if (ciaOwed > ciaQuiet) {
        if (drive)
            drive->tick(ciaOwed);
        cia2->run(ciaOwed);
        cia1->run(ciaOwed);
        ciaOwed = 0;
        ciaQuiet = std::min(cia2->quietCycles(), cia1->quietCycles());
        if (drive)
            ciaQuiet = std::min(ciaQuiet, drive->cyclesToTimer() - 1);
    }
    if (cycles == 1) [[likely]]
        vic->step();
    else
        vic->run(cycles);
    if (cartridge)
        cartridge->tick(cycles);
    totalCycles += cycles;
    cyclesSinceRender += cycles;
}

void C64Emu::catchUpCias()
{
    if (!cia1)
        return;
    if (ciaOwed) {
        if (drive)
            drive->tick(ciaOwed);
        cia2->run(ciaOwed);
        cia1->run(ciaOwed);
        ciaOwed = 0;
    }
    ciaQuiet = 0;  // whatever the caller does, look again at the next tick
}

int64_t C64Emu::cpuEvent(M6502CPP::M6502*, uint16_t, int32_t id, int64_t a, int64_t)
{
    switch (id) {
    case M6502CPP::M6502::USER_OPCODE:
        done = true;
        runRequest.remainder = runRequest.budget;
        runRequest.budget = 0;
        break;
    case M6502CPP::M6502::JAM:
        showScreenMessage(kJamMessage);
        state = STATE_JAMMED;
        break;
    case M6502CPP::M6502::ERROR: showScreenMessage(kCoreErrorMessage); break;
    default: break;
    }
    return a;
}

// ---------------------------------------------------------------------------------------------
// Memory map

uint32_t C64Emu::readMemory(uint16_t address)
{
    const uint8_t* page = readPage[address >> 12];
    if (page && address > 1 && address != kIdleLoop) [[likely]]
        return page[address & 0xFFF];
    return readSlow(address);
}

uint8_t C64Emu::readSlow(uint16_t address)
{
    const BankRow& row = kBankTable[bankMode];
    switch (address >> 12) {
    case 0x0:
        if (address == 0)
            return portDdr;
        if (address == 1)
            return uint8_t((portDdr & portData) | (~portDdr & ((portLatch & 0xC8) | 0x17)));
        if (address == kKeyCount && state == STATE_RESETTING && ++keyCountReads >= 2)
            done = true;  // the KERNAL's input loop polls the keyboard buffer
        return ram[address];
    case 0x8:
    case 0x9:
        if (row[R8000] == ROML)
            return cartridge ? cartridge->readRomL(address & 0x1FFF) : openBus();
        return ram[address];
    case 0xA:
    case 0xB:
        switch (row[RA000]) {
        case ROMH: return cartridge ? cartridge->readRomH(address & 0x1FFF) : openBus();
        case BASIC: return roms->basicRom[address & 0x1FFF];
        case RAM: return ram[address];
        default: return openBus();
        }
    case 0xD:
        switch (row[RD000]) {
        case IO: return readIo(address);
        case CHAR: return roms->charRom[address - 0xD000];
        case RAM: return ram[address];
        default: return openBus();
        }
    case 0xE:
    case 0xF:
        if (address == kIdleLoop) {
            ++idleLoopHits;
            if (state == STATE_RESETTING && idleLoopHits >= 2)
                done = true;
        }
        switch (row[RE000]) {
        case ROMH: return cartridge ? cartridge->readRomH(address & 0x1FFF) : openBus();
        case KERNAL: return roms->kernalRom[address & 0x1FFF];
        default: return ram[address];
        }
    default: return ram[address];
    }
}

void C64Emu::writeMemory(uint16_t address, uint8_t value)
{
    switch (address >> 12) {
    case 0x0:
        if (address == 0) {
            portDdr = value;
            updateBanking();
            ram[0] = lastLowWrite;
        } else if (address == 1) {
            portData = value;
            updateBanking();
            ram[1] = lastLowWrite;
        } else {
            lastLowWrite = value;
            ram[address] = value;
        }
        return;
    case 0xD:
        switch (kBankTable[bankMode][RD000]) {
        case RAM:
        case CHAR: ram[address] = value; return;
        case IO: writeIo(address, value); return;
        default: return;
        }
    default: ram[address] = value; return;
    }
}

uint8_t C64Emu::readIo(uint16_t address)
{
    const uint32_t code = ioSlots[(address >> 4) & 0xFF];
    if (code != kIoMachine)
        return readSid(code, address);
    switch ((address >> 8) & 0xF) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3: return vic->readRegister(address & 63);
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7: return openBus();
    case 0x8:
    case 0x9:
    case 0xA:
    case 0xB: return colourRam[address & 0x3FF] & 0x0F;
    case 0xC:
        catchUpCias();
        return cia1->readRegister(address & 0xFF);
    case 0xD:
        catchUpCias();
        return cia2->readRegister(address & 0xFF);
    case 0xE: return cartridge ? cartridge->readIO1(uint8_t(address)) : openBus();
    default: return cartridge ? cartridge->readIO2(uint8_t(address)) : openBus();
    }
}

void C64Emu::writeIo(uint16_t address, uint8_t value)
{
    const uint32_t code = ioSlots[(address >> 4) & 0xFF];
    if (code != kIoMachine) {
        writeSid(code, address, value);
        return;
    }
    switch ((address >> 8) & 0xF) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3: vic->writeRegister(address & 63, value); break;
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7: break;  // SID area without a SID here
    case 0x8:
    case 0x9:
    case 0xA:
    case 0xB: colourRam[address & 0x3FF] = value; break;
    case 0xC:
        catchUpCias();
        cia1->writeRegister(address & 0xFF, value);
        break;
    case 0xD:
        catchUpCias();
        cia2->writeRegister(address & 0xFF, value);
        break;
    case 0xE:
        if (cartridge)
            cartridge->writeIO1(uint8_t(address), value);
        break;
    default:
        if (cartridge)
            cartridge->writeIO2(uint8_t(address), value);
        break;
    }
}

uint8_t C64Emu::readSid(uint32_t code, uint16_t address)
{
    if (state == STATE_RESETTING)
        return 0xFF;
    if (state == STATE_RUNNING || state == STATE_PLAYING) {
        callback->renderChips(code, cyclesSinceRender);
        cyclesSinceRender = 0;
    }
    return callback->readMediaRegister(code, 0, 0, address & 31);
}

void C64Emu::writeSid(uint32_t code, uint16_t address, uint8_t value)
{
    if (state == STATE_RESETTING)
        return;
    if (state == STATE_RUNNING || state == STATE_PLAYING) {
        callback->renderChips(code, cyclesSinceRender);
        cyclesSinceRender = 0;
        callback->writeMediaRegister(code, totalCycles - lastSidWriteCycle, 0, address & 31, value, nominalClock);
        lastSidWriteCycle = totalCycles;
    } else {
        callback->writeMediaRegister(code, 0, 0, address & 31, value, nominalClock);
    }
}

uint8_t C64Emu::openBus()
{
    // 64-bit LCG; the upper half is the drawn number.
    openBusState = openBusState * 6364136223846793005ull + 1442695040888963407ull;
    const uint32_t n = uint32_t(openBusState >> 32);
    return (n & 3) == 0 ? uint8_t(n >> 2) : 0;
}

void C64Emu::updateBanking()
{
    portLatch = uint8_t((portLatch & ~portDdr) | (portDdr & portData));
    const uint8_t p = uint8_t((~portDdr & 0x17) | (portDdr & portData));
    loram = p & 1;
    hiram = (p >> 1) & 1;
    charen = (p >> 2) & 1;
    bankMode = exrom << 4 | game << 3 | charen << 2 | hiram << 1 | loram;

    const BankRow& row = kBankTable[bankMode];
    for (uint32_t page = 0; page < 16; ++page)
        readPage[page] = ram + page * 0x1000;
    if (state == STATE_RESETTING)
        readPage[0x0] = nullptr;  // the reset watches the keyboard buffer count
    if (row[R8000] != RAM)
        readPage[0x8] = readPage[0x9] = nullptr;
    switch (row[RA000]) {
    case RAM: break;
    case BASIC:
        readPage[0xA] = roms->basicRom;
        readPage[0xB] = roms->basicRom + 0x1000;
        break;
    default: readPage[0xA] = readPage[0xB] = nullptr; break;
    }
    switch (row[RD000]) {
    case RAM: break;
    case CHAR: readPage[0xD] = roms->charRom; break;
    default: readPage[0xD] = nullptr; break;
    }
    switch (row[RE000]) {
    case RAM: break;
    case KERNAL:
        readPage[0xE] = roms->kernalRom;
        readPage[0xF] = roms->kernalRom + 0x1000;
        break;
    default: readPage[0xE] = readPage[0xF] = nullptr; break;
    }
    updateVicView();
}

void C64Emu::updateVicView()
{
    if (!vic)
        return;
    if (game == 0 && exrom == 1) {
        if (vicView != VICII::kUltimax || vicRomh != ultimaxRomh) {
            vic->setUltimax(ultimaxRomh);
            vicView = VICII::kUltimax;
            vicRomh = ultimaxRomh;
        }
        return;
    }
    const uint32_t bits = vicBankBits[1] * 2 + vicBankBits[0];
    if (vicView == bits)
        return;
    if (vicView == VICII::kUltimax)
        vic->clearUltimax();
    vic->setBank(uint8_t(bits));
    vicView = bits;
}

void C64Emu::mapBank(unsigned which, const uint8_t* bank)
{
    if (which == 1)
        ultimaxRomh = bank;
    updateBanking();
}

void C64Emu::setExromGame(uint32_t gameLine, uint32_t exromLine)
{
    game = gameLine ? 1 : 0;
    exrom = exromLine ? 1 : 0;
    updateBanking();
}

// ---------------------------------------------------------------------------------------------
// CIA ports and interrupts

uint8_t C64Emu::readCiaPort(mos6526_new* cia, int)
{
    if (cia == cia1.get()) {
        uint8_t v = uint8_t(joystick[1] | 0xE0);
        const uint8_t low = uint8_t(~cia1->portBOutput());  // port-B lines driven low
        if (low) {
            for (uint32_t row = 0; row < 8; ++row)
                if (uint8_t(~keyMatrix[row]) & low)
                    v &= uint8_t(~(1u << row));
        }
        return v;
    }
    return uint8_t(iecHost->getIecLine(IEC_DATA) << 7 | iecHost->getIecLine(IEC_CLK) << 6 | cia2PortAConst << 2);
}

uint8_t C64Emu::readCiaPortB(mos6526_new* cia, int)
{
    if (cia == cia1.get()) {
        uint8_t v = uint8_t(joystick[0] | 0xE0);
        const uint8_t low = uint8_t(~cia1->portAOutput());  // port-A lines driven low
        for (uint32_t row = 0; row < 8; ++row)
            if (low >> row & 1)
                v &= keyMatrix[row];
        return v;
    }
    return cia2PortB;
}

void C64Emu::writeCiaPort(mos6526_new* cia, int, uint8_t value)
{
    if (cia != cia2.get())
        return;
    vicBankBits[0] = value & 1;
    vicBankBits[1] = (value >> 1) & 1;
    updateVicView();
    iecHost->setIecLine(iecHost.get(), IEC_ATN, !(value & 0x08));
    iecHost->setIecLine(iecHost.get(), IEC_CLK, !(value & 0x10));
    iecHost->setIecLine(iecHost.get(), IEC_DATA, !(value & 0x20));
}

void C64Emu::ciaIrq(mos6526_new* cia, bool level)
{
    if (cia == cia1.get())
        cia1Irq = level;
    else
        cia2Irq = level;
    updateInterruptLines();
    if (level && state != STATE_PLAYING)
        callback->captureRegisters(totalCycles);
}

void C64Emu::vicIrq(VICII*, bool level)
{
    vicIrqLevel = level;
    updateInterruptLines();
    if (level && state != STATE_PLAYING)
        callback->captureRegisters(totalCycles);
}

void C64Emu::vicLine(bool low)
{
    busStolen = low;
    if (low)
        stallCycles = 0;
}

void C64Emu::updateInterruptLines()
{
    if (!cpu)
        return;
    cpu->setIrqLine(int(cia1Irq | vicIrqLevel));
    cpu->setNmiLine(int(cia2Irq | (restoreReleased ? 0u : 1u)));
}

// The run executor leaves an interrupt it requested for the next step; once the sources are
// acknowledged that would be an interrupt no device raised. Lines still asserted poll anew.
void C64Emu::dropInterruptRequests()
{
    cpu->clearInterrupts();
    updateInterruptLines();
}

// ---------------------------------------------------------------------------------------------
// Keyboard, joystick, MIDI

void C64Emu::pressKey(uint16_t code)
{
    if (code == 0 || (code >> 8) > 7)
        return;
    keyMatrix[code >> 8] &= uint8_t(~code);
}

void C64Emu::releaseKey(uint16_t code)
{
    if (code == 0 || (code >> 8) > 7)
        return;
    keyMatrix[code >> 8] |= uint8_t(code);
}

void C64Emu::inputEvent(uint32_t port, uint8_t clearBits, uint8_t setBits)
{
    uint8_t& j = joystick[port & 1];
    j = uint8_t(((j | setBits) & ~clearBits) & 0x1F);
}

void C64Emu::sendMidiInput(uint8_t status, uint8_t data1, uint8_t data2, int mapping)
{
    if (mapping < 1 || mapping > 3)
        return;
    const NoteKeys& keys = *kNoteTables[mapping - 1];
    uint8_t& joy = joystick[1];
    switch (status & 0xF0) {
    case 0x80: releaseKey(keys[data1 & 127]); break;
    case 0x90:
        if (data2 > 0)
            pressKey(keys[data1 & 127]);
        else
            releaseKey(keys[data1 & 127]);
        break;
    case 0xB0:
        if (data1 == 1) {
            joy |= kJoyUp | kJoyDown;
            if (data2 == 127)
                joy &= uint8_t(~kJoyDown);
            else if (data2 == 0)
                joy &= uint8_t(~kJoyUp);
        } else if (data2 > 0) {
            joy &= uint8_t(~kJoyFire);
        } else {
            joy |= kJoyFire;
        }
        break;
    case 0xC0:
        if (data2 == 1)
            joy &= uint8_t(~kJoyFire);
        else
            joy |= kJoyFire;
        break;
    case 0xE0:
        joy |= kJoyLeft | kJoyRight;
        if (data2 == 127)
            joy &= uint8_t(~kJoyRight);
        else if (data2 == 0)
            joy &= uint8_t(~kJoyLeft);
        break;
    default: break;
    }
}

// ---------------------------------------------------------------------------------------------
// Screen messages

void C64Emu::showScreenMessage(std::string_view text)
{
    std::memset(ram + kScreenRam, 32, kScreenEnd - kScreenRam + 1);
    std::memset(colourRam, 14, sizeof colourRam);
    // Text mode on all 40 columns and 25 rows, whatever a program or a missing KERNAL left.
    vic->writeRegister(0x11, 0x1B);  // display on, 25 rows, y scroll 3
    vic->writeRegister(0x16, 0x08);  // 40 columns, no multicolour, x scroll 0
    vic->writeRegister(0x18, 0x17);  // matrix $0400, characters $1800
    uint32_t row = 0;
    uint32_t column = 0;
    bool wrapped = false;  // the last character filled column 40
    for (const char ch : text) {
        if (row >= 25)
            break;
        if (ch == '\n') {
            if (!wrapped) {
                ++row;
                column = 0;
            }
            wrapped = false;
            continue;
        }
        const uint8_t c = uint8_t(ch);
        ram[kScreenRam + row * 40 + column] = c == 0 ? 32 : kScreenCodes[c];
        wrapped = ++column == 40;
        if (wrapped) {
            column = 0;
            ++row;
        }
    }
}

void C64Emu::writeScreenCodes(uint16_t address, std::string_view text)
{
    for (const char ch : text) {
        if (address > kScreenEnd)
            break;
        ram[address++] = kScreenCodes[uint8_t(ch)];
    }
}
