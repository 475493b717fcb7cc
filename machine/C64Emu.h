#pragma once
// The emulated C64 that plays tunes and programs: 64 KB of RAM behind the PLA's banking and the
// processor port, colour RAM, keyboard matrix and joysticks, the 6502, two CIAs, the IEC bus host
// with its 1541, the video chip, and optionally a cartridge. SID accesses leave the machine
// through a MediaCallback; the machine runs exactly the cycles it is asked for.

#include "cpu/M6502.h"
#include "machine/CBMMapper.h"
#include "machine/CIA6526.h"
#include "machine/IECBus.h"
#include "machine/InputListener.h"
#include "machine/PSIDHeader.h"
#include "machine/VICII.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class MediaCallback;
class C1541;
class DiskFile;
struct PixelCanvas;
struct C64RomImages;

class C64Emu : public M6502CPP::Listener,
               public InputListener,
               public CIAListener,
               public VICIIListener,
               public CBMMapperListener {
public:
    enum State : uint32_t {
        STATE_CONSTRUCTED = 0,
        STATE_RESETTING = 1,  // SID stores dropped, SID reads $FF, the idle-loop detectors armed
        STATE_READY = 2,      // reset done, at the BASIC prompt
        STATE_RUNNING = 3,    // a program, RSID tune or cartridge runs on its own
        STATE_PLAYING = 4,    // a PSID tune's play routine is called on the play timer
        STATE_JAMMED = 5,
        STATE_INIT_FAILED = 6,  // the tune's init routine did not return
    };

    // I/O slot codes: the machine's own devices, SID 1-4 (chip kinds).
    static constexpr uint32_t kIoMachine = 100;
    static constexpr uint32_t kSid1 = 77;

    static constexpr double kPalClock = 985248.0;
    static constexpr double kNtscClock = 1022727.0;
    static constexpr uint16_t kIdleLoop = 0xE5CD;  // the KERNAL's keyboard wait
    static constexpr uint16_t kKeyCount = 0x00C6;  // keyboard buffer count, polled while waiting
    static constexpr uint64_t kResetCycleLimit = 2'999'999;
    static constexpr uint64_t kInitCycleLimit = 3'293'999;

    // romFolder: where the ROM images are; empty: none are loaded.
    C64Emu(MediaCallback* callback, std::string romFolder, bool ntsc);
    ~C64Emu() override;
    C64Emu(const C64Emu&) = delete;
    C64Emu& operator=(const C64Emu&) = delete;

    // Creates the devices; false without a screen. The drive serves diskImage (none: a dummy
    // program for every name); withDrive false leaves the bus empty (for comparisons).
    bool buildMachine(PixelCanvas* screen, DiskFile* diskImage = nullptr, bool withDrive = true);
    // Resets and lets the machine boot to the BASIC prompt (state 3); false without a CPU.
    bool bootMachine();
    // A CRT image; false when no cartridge could be made of it.
    bool insertCartridge(const uint8_t* image, uint64_t size);
    // Puts the tune (header in host order, followed at its data offset by size bytes) into the
    // freshly reset machine and starts it; info, when not empty, is shown on the screen first.
    bool installTune(const PSIDHeader* header, uint64_t size, uint32_t song, std::string_view info);

    // Runs exactly `cycles` cycles (an overshoot is charged to the next call) and steps the
    // time-of-day clocks; clock is the rate the caller renders at (the play period scales with
    // it). Returns the cycles done.
    uint64_t advance(uint64_t cycles, double clock);
    void setSpeed(double value) { speed = value; }

    // Key code: high byte the port-A line (0-7), low byte the port-B mask; 0 does nothing.
    void pressKey(uint16_t code);
    void releaseKey(uint16_t code);
    void inputEvent(uint32_t port, uint8_t clearBits, uint8_t setBits) override;
    // MIDI onto the keyboard and joystick 2; mapping 1-3 picks a note table, others do nothing.
    void sendMidiInput(uint8_t status, uint8_t data1, uint8_t data2, int mapping);

    // The CPU's bus.
    uint64_t handleUserState(M6502CPP::M6502*) override { return 0; }
    uint32_t readMemory(uint16_t address) override;
    void writeMemory(uint16_t address, uint8_t value) override;
    int64_t cpuEvent(M6502CPP::M6502* cpu, uint16_t address, int32_t id, int64_t a, int64_t b) override;
    void traceLine(const char*) override {}
    void tick(uint64_t cycles) override;

    // Device outputs.
    uint8_t readCiaPort(mos6526_new* cia, int port) override;
    void writeCiaPort(mos6526_new* cia, int port, uint8_t value) override;
    uint8_t readCiaPortB(mos6526_new* cia, int port) override;
    void ciaIrq(mos6526_new* cia, bool level) override;
    void vicIrq(VICII* vic, bool level) override;
    void vicLine(bool low) override;
    void mapBank(unsigned which, const uint8_t* bank) override;
    void setExromGame(uint32_t game, uint32_t exrom) override;

    // Open-bus values come from this machine's own generator.
    void seedOpenBus(uint64_t seed) { openBusState = seed; }

    // State views.
    uint32_t getState() const { return state; }
    uint64_t getTotalCycles() const { return totalCycles; }
    uint64_t getCyclesSinceRender() const { return cyclesSinceRender; }
    uint64_t getSurplusCycles() const { return surplusCycles; }
    uint64_t getIdleLoopHits() const { return idleLoopHits; }
    uint32_t getBankMode() const { return bankMode; }
    uint16_t getPlayLatch() const { return playLatch; }
    bool isPlayTimerActive() const { return playTimerActive; }
    bool isNtscTune() const { return ntscTune; }
    uint32_t ioSlot(uint32_t slot) const { return ioSlots[slot & 0xFF]; }
    const uint8_t* ramView() const { return ram; }
    uint8_t colourRamAt(uint32_t address) const { return colourRam[address & 0x3FF]; }
    M6502CPP::M6502* getCpu() { return cpu.get(); }
    // The CIAs brought up to the present cycle, for direct access.
    mos6526_new* getCia1()
    {
        catchUpCias();
        return cia1.get();
    }
    mos6526_new* getCia2()
    {
        catchUpCias();
        return cia2.get();
    }
    VICII* getVic() { return vic.get(); }
    // The bus and the drive brought up to the present cycle.
    cbm_iec_host_device* getIecHost()
    {
        catchUpCias();
        return iecHost.get();
    }
    C1541* getDrive()
    {
        catchUpCias();
        return drive.get();
    }
    CBMMapper* getCartridge() { return cartridge.get(); }

private:
    struct RunRequest {
        int64_t budget = 0;
        int64_t remainder = 0;
    };

    void resetMachine();
    // The CIAs and the drive run behind the rest of the machine while only their counters move;
    // this runs the cycles they owe (the drive first) before anything reads or changes them.
    void catchUpCias();
    uint64_t runSlice(uint64_t cycles, double clock);
    void playCall();
    uint64_t playPeriod(double clock) const;

    uint8_t readSlow(uint16_t address);
    uint8_t readIo(uint16_t address);
    void writeIo(uint16_t address, uint8_t value);
    uint8_t readSid(uint32_t code, uint16_t address);
    void writeSid(uint32_t code, uint16_t address, uint8_t value);
    uint8_t openBus();

    void updateBanking();
    void updateVicView();
    void updateInterruptLines();
    void dropInterruptRequests();
    void restoreDefaultIoSlots();
    void setPortForAddress(uint16_t address);

    void showScreenMessage(std::string_view text);
    void writeScreenCodes(uint16_t address, std::string_view text);

    // Memory, inline: a memory access is a table lookup and a switch.
    uint8_t ram[0x10000];
    uint8_t colourRam[0x400] = {};
    const uint8_t* ultimaxRomh = nullptr;
    uint8_t keyMatrix[8];
    uint8_t joystick[2];  // port 1, port 2
    uint32_t ioSlots[256];
    // Per 4 KB page: where plain reads come from, or null for the slow path.
    const uint8_t* readPage[16] = {};

    std::unique_ptr<mos6526_new> cia1;
    std::unique_ptr<mos6526_new> cia2;
    std::unique_ptr<cbm_iec_host_device> iecHost;
    std::unique_ptr<C1541> drive;
    std::unique_ptr<VICII> vic;
    std::unique_ptr<CBMMapper> cartridge;
    std::unique_ptr<M6502CPP::M6502> cpu;

    MediaCallback* callback;
    std::string romFolder;
    const C64RomImages* roms;
    bool ntscTune = false;
    const bool ntscMachine;
    bool playTimerActive = false;
    const double nominalClock;
    const uint32_t mainsRate;  // time-of-day pulses per second

    uint32_t state = STATE_CONSTRUCTED;
    uint64_t idleLoopHits = 0;
    uint64_t keyCountReads = 0;  // reads of the keyboard buffer count during the reset
    double speed = 1.0;
    int64_t cyclesToPlay = 0;
    uint16_t playLatch = 0;
    uint64_t cyclesSinceRender = 0;
    uint64_t lastSidWriteCycle = 0;
    uint64_t totalCycles = 0;
    uint64_t surplusCycles = 0;
    uint64_t stallCycles = 0;
    uint16_t playAddress = 0;
    bool done = false;
    RunRequest runRequest;
    uint64_t todCycles = 0;  // x mainsRate, towards the next time-of-day pulse
    uint64_t ciaOwed = 0;    // cycles the CIAs and the drive have not run yet
    uint64_t ciaQuiet = 0;   // cycles they may owe without missing a change or a drive timer
    uint16_t tuneFlags = 0;

    uint8_t portDdr = 0, portData = 0, portLatch = 0;
    uint32_t loram = 1, hiram = 1, charen = 1, game = 1, exrom = 1;
    uint32_t bankMode = 31;
    uint32_t vicBankBits[2] = {1, 1};
    uint32_t vicView = ~0u;  // the view last handed to the video chip
    const uint8_t* vicRomh = nullptr;
    uint32_t restoreReleased = 1;
    uint32_t cia1Irq = 0, cia2Irq = 0, vicIrqLevel = 0;
    uint32_t cia2PortAConst = 1;
    uint8_t cia2PortB = 0xFF;
    uint8_t lastLowWrite = 0;
    bool busStolen = false;
    uint64_t openBusState = 0x853C49E6748FEA9Bull;
};

// The screen code of an ASCII / Latin-1 byte, as machine messages are written.
uint8_t c64ScreenCode(uint8_t c);
