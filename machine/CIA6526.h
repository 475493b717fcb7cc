#pragma once
// The 6526 interface adapter, stepped one cycle at a time: two ports with direction registers,
// two interval timers behind a two-cycle control pipeline, timer outputs on PB6/PB7, the
// interrupt control register with its one-cycle-late line, the serial shift register and the
// BCD time-of-day clock with its alarm.

#include "machine/IECBus.h"

#include <cstdint>
#include <string>

class mos6526_new;

// What a CIA is wired to: pins it reads and lines it drives.
class CIAListener {
public:
    virtual ~CIAListener() = default;

    virtual uint8_t readCiaPort(mos6526_new* cia, int port) = 0;                // port A pins
    virtual void writeCiaPort(mos6526_new* cia, int port, uint8_t value) = 0;   // port A output
    virtual uint8_t readCiaPortB(mos6526_new* cia, int port) = 0;               // port B pins
    virtual void ciaHook5(mos6526_new* /*cia*/, int /*port*/, uint8_t /*value*/) {}  // port B output
    virtual void ciaIrq(mos6526_new* cia, bool asserted) = 0;
    virtual void ciaHook7(mos6526_new* /*cia*/, bool /*level*/) {}  // PC handshake
    virtual void ciaHook8(mos6526_new* /*cia*/, bool /*level*/) {}  // CNT
    virtual void ciaHook9(mos6526_new* /*cia*/, bool /*level*/) {}  // SP (serial data)
};

// One interval timer. Control bytes: [0] in force this cycle, [1] what a read returns,
// [2] the newest write; a write reaches [0] two steps later.
struct CiaTimer {
    static constexpr uint8_t START = 0x01;
    static constexpr uint8_t PB_ON = 0x02;
    static constexpr uint8_t TOGGLE = 0x04;
    static constexpr uint8_t ONE_SHOT = 0x08;
    static constexpr uint8_t LOAD = 0x10;
    static constexpr uint8_t COUNT_CNT = 0x20;
    static constexpr uint8_t COUNT_TA = 0x40;  // timer B only

    uint8_t latchLow = 0xFF;
    uint16_t latch = 0xFFFF;
    bool latchWritten = false;
    uint8_t control[3] = {0, 0, 0};
    uint16_t readCounter = 0xFFFF;  // the counter at the start of this cycle
    uint16_t counter = 0xFFFF;
    uint8_t toggle = 0;
    uint8_t outputBit = 0;  // PB6 / PB7
    bool startPending = false;
    bool underflowed = false;  // sticky until the ICR is read
    bool countsUnderflows = false;  // timer B: may count timer A underflows

    // One cycle; input: timer A's underflow of the previous cycle (timer B). True on underflow.
    bool step(bool input)
    {
        control[0] = control[1];
        control[1] = control[2];
        control[2] &= uint8_t(~LOAD);
        readCounter = counter;
        if (startPending) {
            toggle = 1;
            startPending = false;
        }
        const uint8_t cr = control[0];
        bool underflow = false;
        if (cr & LOAD) {
            counter = readCounter = latch;
            latchWritten = false;
        } else if (cr & START) {
            latchWritten = false;
            const bool counts = (countsUnderflows && (cr & COUNT_TA)) ? input : !(cr & COUNT_CNT);
            if (counts) {
                if (counter == 0) {
                    underflow = underflowed = true;
                    counter = readCounter = latch;
                    toggle ^= 1;
                    if ((cr | control[1]) & ONE_SHOT) {
                        control[1] &= uint8_t(~START);
                        control[2] &= uint8_t(~(START | LOAD));
                    }
                } else {
                    --counter;
                }
            }
        } else if (latchWritten) {
            counter = latch;
            latchWritten = false;
        }
        outputBit = (control[1] & TOGGLE) ? toggle : uint8_t(underflow);
        return underflow;
    }

    // Cycles that can pass with nothing but the counter moving (no underflow, no pending
    // change); UINT64_MAX when the counter stands or counts another timer's underflows.
    uint64_t quietSpan() const
    {
        if (control[0] != control[1] || control[1] != control[2] || (control[0] & LOAD) || startPending ||
            latchWritten)
            return 0;
        if (!(control[0] & START) || (countsUnderflows && (control[0] & COUNT_TA)) || (control[0] & COUNT_CNT))
            return UINT64_MAX;
        return counter;
    }

    // n quiet cycles at once (n <= quietSpan()).
    void skip(uint64_t n)
    {
        if ((control[0] & START) && !(countsUnderflows && (control[0] & COUNT_TA)) && !(control[0] & COUNT_CNT)) {
            counter = uint16_t(counter - n);
            readCounter = uint16_t(counter + 1);
        } else {
            readCounter = counter;
        }
        outputBit = (control[1] & TOGGLE) ? toggle : 0;
    }
};

class mos6526_new : public device_t {
public:
    // ICR bits.
    static constexpr uint8_t ICR_TA = 0x01;
    static constexpr uint8_t ICR_TB = 0x02;
    static constexpr uint8_t ICR_ALARM = 0x04;
    static constexpr uint8_t ICR_SERIAL = 0x08;
    static constexpr uint8_t ICR_FLAG = 0x10;
    static constexpr uint8_t ICR_IR = 0x80;

    // A null listener reads every pin high and drops every output.
    mos6526_new(CIAListener* listener, std::string tag);

    uint8_t readRegister(uint32_t reg);
    void writeRegister(uint32_t reg, uint8_t value);

    void step();
    // n steps; stretches where only the counters move are taken at once.
    void run(uint64_t n);

    // One time-of-day input pulse: with a true level and the clock running, the divider
    // advances and the alarm is checked.
    void todPulse(bool level);
    // As todPulse, whatever the level.
    void todPulseAt(int level) override;
    // Divider and clock only: no halt test, no alarm.
    void todTick();
    // Steps while pending cycles remain (added with addPendingCycles).
    void runPending() override;
    void addPendingCycles(uint64_t n) { pendingCycles += n; }
    // FLAG and CNT inputs back to 1.
    void releaseInputs() override;
    // A change from 1 to 0 sets ICR bit 4.
    void setFlagPin(int level);
    void setSerialInput(int level) { spLevel = level ? 1 : 0; }
    // Ports, ICR mask, serial and time of day to their power-on state; the timers run on.
    void reset() override;

    uint16_t timerALatch() const { return timerA.latch; }
    uint8_t portAOutput() const { return lastOutputA; }
    uint8_t portBOutput() const { return lastOutputB; }

private:
    struct Tod {
        uint8_t tenths, seconds, minutes, hours;  // BCD; hours bit 7 = PM
        bool operator==(const Tod&) const = default;
    };
    enum LineState : int8_t { LINE_IDLE = -1, LINE_RELEASE = 0, LINE_ASSERT = 1 };

    bool irqCondition() const { return (icrData & icrMask) != 0; }
    bool quiet() const;
    uint8_t timerPortBits(uint8_t value) const;
    void updatePortA();
    void updatePortB();
    void pulsePc();
    void serialStep(bool taUnderflow);
    void advanceTod();

    CIAListener* listener;
    uint8_t icrMask = 0;
    uint8_t icrData = 0;
    bool prevCondition = false;
    LineState lineState = LINE_IDLE;
    bool irqAsserted = false;
    uint8_t pcLevel = 1;
    uint8_t flagLevel = 1;
    uint8_t pra = 0, prb = 0, ddra = 0, ddrb = 0;
    uint8_t lastOutputA = 0xFF, lastOutputB = 0xFF;
    uint8_t lastInputA = 0, lastInputB = 0;
    uint8_t spLevel = 1;
    uint8_t cntLevel = 1;
    uint8_t sdr = 0;
    uint8_t shiftRegister = 0;
    bool sdrConsumed = true;
    uint8_t bitCounter = 0;
    CiaTimer timerA;
    CiaTimer timerB;
    bool prevTaUnderflow = false;
    uint8_t todDivider = 0;
    Tod clock{0x00, 0x00, 0x01, 0x91};
    Tod todLatch{0, 0, 0, 0};
    Tod alarm{0, 0, 0, 0};
    bool todHalted = true;
    bool todLatched = false;
    uint64_t pendingCycles = 0;
};
