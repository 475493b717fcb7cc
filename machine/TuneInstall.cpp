// Putting a PSID/RSID tune or a BASIC program into the reset machine, and the PSID play call.
#include "machine/C64Emu.h"

#include "media/MediaCallback.h"

#include <algorithm>
#include <cstring>

namespace {

// Play timer value (timer A latch) by tune clock, machine clock and timing.
struct TimerValues {
    uint16_t videoFrame;
    uint16_t cia;
};
constexpr TimerValues kPalTuneOnPal{19655, 16420};
constexpr TimerValues kPalTuneOnNtsc{20403, 17044};
constexpr TimerValues kNtscTuneOnPal{16469, 16420};
constexpr TimerValues kNtscTuneOnNtsc{17096, 17044};

constexpr char kInitError[] = " *** PSID init error! ***";
constexpr char kPlaySidUnsupported[] = "     *** PlaySID not supported! ***";
constexpr char kTimerChanged[] = "* PSID changed the CIA TIMER!! *";
constexpr uint16_t kTimerChangedAt = 0x0798;  // row 23

constexpr uint8_t portValueFor(uint16_t address)
{
    return address < 0xA000 ? 0x37 : address < 0xD000 ? 0x36 : address < 0xE000 ? 0x34 : 0x35;
}

}  // namespace

void C64Emu::setPortForAddress(uint16_t address)
{
    writeMemory(0x0000, 0x2F);
    writeMemory(0x0001, portValueFor(address));
}

bool C64Emu::installTune(const PSIDHeader* header, uint64_t size, uint32_t song, std::string_view info)
{
    if (!header)
        return false;
    const PSIDHeader& h = *header;
    cyclesToPlay = 0;
    playAddress = h.playAddress;
    callback->mediaStarted(reinterpret_cast<const uint8_t*>(header), size);
    if (!cpu)
        return false;
    // Whatever happens below, SID timing starts afresh from here.
    auto finish = [this](bool result) {
        cyclesSinceRender = 0;
        lastSidWriteCycle = totalCycles;
        return result;
    };

    restoreDefaultIoSlots();
    resetMachine();
    tuneFlags = h.version >= 2 ? h.flags : 0;

    // Extra SIDs: each valid one takes its 32 bytes; SID 1 then keeps only $D400-$D41F.
    const psid::ExtraSids extra = psid::extraSids(h);
    bool anyExtra = false;
    for (const uint32_t b : extra.bytes)
        anyExtra = anyExtra || psid::isValidExtraSid(b);
    if (anyExtra) {
        std::fill(std::begin(ioSlots), std::end(ioSlots), kIoMachine);
        ioSlots[0x40] = ioSlots[0x41] = kSid1;
        for (uint32_t i = 0; i < 3; ++i) {
            const uint32_t b = extra.bytes[i];
            if (psid::isValidExtraSid(b))
                ioSlots[b] = ioSlots[b + 1] = kSid1 + 1 + i;
        }
    }

    const uint8_t* data = reinterpret_cast<const uint8_t*>(header) + h.dataOffset;
    const uint16_t load = h.loadAddress;
    const uint64_t copySize = std::min<uint64_t>(size, 0x10000u - load);
    const bool rsid = psid::isRsid(h);

    if (rsid && (tuneFlags & (psid::kFlagBasic | psid::kFlagWrappedProgram))) {
        // A BASIC program: the booted BASIC is made to type RUN.
        if (load != 0x0801)
            return finish(false);
        ram[0x2B] = 0x01;
        ram[0x2C] = 0x08;
        std::memcpy(ram + load, data, copySize);
        if (!(tuneFlags & psid::kFlagWrappedProgram))
            ram[0x030C] = ram[0x030D] = ram[0x030E] = uint8_t(song);  // A, X, Y for SYS
        const uint16_t end = uint16_t(load + size);
        for (const uint16_t at : {0xAE, 0x2D, 0x2F, 0x31}) {
            ram[at] = uint8_t(end);
            ram[at + 1] = uint8_t(end >> 8);
        }
        std::memcpy(ram + 0x0277, "RUN\r", 4);
        ram[0xC6] = 4;
        state = STATE_RUNNING;
        return finish(true);
    }

    // Volume 15 with the low-pass bit on every SID before the tune runs.
    for (uint32_t i = 0; i < 4; ++i) {
        if (i > 0 && !psid::isValidExtraSid(extra.bytes[i - 1]))
            continue;
        callback->addChip(kSid1 + i, 0, 0);
        callback->writeMediaRegister(kSid1 + i, 0, 0, 24, 31, nominalClock);
    }

    if (!info.empty())
        showScreenMessage(info);
    std::memcpy(ram + load, data, copySize);

    // Stack trap: init's RTS lands on $F2 at $01FC, followed by JMP $01FD.
    cpu->SP = 0xFF;
    for (const uint8_t b : {0x01, 0xFD, 0x4C, 0xF2, 0x01, 0xFB})
        cpu->push(b);
    cpu->A = cpu->X = cpu->Y = 0;

    catchUpCias();
    vic->writeRegister(0x1A, 0x00);
    vic->writeRegister(0x19, 0x8F);
    cia1->writeRegister(13, 0x7F);
    cia1->readRegister(13);
    cia2->writeRegister(13, 0x7F);
    cia2->readRegister(13);
    dropInterruptRequests();

    const bool ciaTiming = h.speed != 0 && ((h.speed >> std::min<uint32_t>(song, 31)) & 1);
    const bool ntscOnly = ((tuneFlags >> 2) & 3) == psid::kClockNtsc;
    ntscTune = ntscOnly;
    ram[0x02A6] = ntscOnly ? 0 : 1;  // the KERNAL's PAL flag
    const TimerValues& values = ntscOnly ? (ntscMachine ? kNtscTuneOnNtsc : kNtscTuneOnPal)
                                         : (ntscMachine ? kPalTuneOnNtsc : kPalTuneOnPal);
    playLatch = ciaTiming ? values.cia : values.videoFrame;
    cia1->writeRegister(4, uint8_t(playLatch));
    cia1->writeRegister(5, uint8_t(playLatch >> 8));

    if (rsid || h.playAddress == 0) {
        // Runs on its own interrupts: raster line 311 and CIA1 timer A.
        state = STATE_RUNNING;
        // The port as a KERNAL reset leaves it, also when there is no KERNAL.
        writeMemory(0x0000, 0x2F);
        writeMemory(0x0001, 0x37);
        vic->writeRegister(0x11, 0x9B);
        vic->writeRegister(0x12, 0x37);
        cia1->writeRegister(13, 0x81);
        cia1->writeRegister(14, 0x01);
        cpu->A = uint8_t(song);
        cpu->PC = h.initAddress;
        return finish(true);
    }

    if (tuneFlags & psid::kFlagMus) {
        showScreenMessage(kPlaySidUnsupported);
        return finish(false);
    }

    setPortForAddress(h.initAddress);
    vic->writeRegister(0x11, 0x1B);
    vic->writeRegister(0x12, 0x00);
    cpu->A = uint8_t(song);
    cpu->PC = h.initAddress;

    // Init runs instruction by instruction until its RTS reaches the trap.
    const uint16_t latchBefore = cia1->timerALatch();
    uint64_t total = 0;
    done = false;
    while (!done && total <= kInitCycleLimit) {
        done = false;
        runRequest.budget = 1;
        runRequest.remainder = 0;
        total += cpu->runCycles(runRequest.budget);
    }
    dropInterruptRequests();
    if (!done) {
        state = STATE_INIT_FAILED;
        showScreenMessage(kInitError);
        return finish(false);
    }

    const uint16_t latchAfter = cia1->timerALatch();
    if (latchAfter != latchBefore) {
        playLatch = latchAfter;
        if (load >= 0x0401)
            writeScreenCodes(kTimerChangedAt, kTimerChanged);
    }
    state = STATE_PLAYING;
    playTimerActive = true;
    return finish(true);
}

void C64Emu::playCall()
{
    callback->captureRegisters(totalCycles);
    setPortForAddress(playAddress);
    // The play routine's RTS returns to the trap at $01FC.
    cpu->push(0x01);
    cpu->push(0xFB);
    cpu->PC = playAddress;
}
