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

// One interval timer. The control pipeline holds three bytes: byte 0 is in force this cycle,
// byte 1 is what a read returns, byte 2 the newest write; a write reaches byte 0 two steps later.
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
    uint32_t control = 0;  // one word: a step moves all three bytes at once
    uint16_t readCounter = 0xFFFF;  // the counter at the start of this cycle
    uint16_t counter = 0xFFFF;
    uint8_t toggle = 0;
    uint8_t outputBit = 0;  // PB6 / PB7
    bool startPending = false;
    bool underflowed = false;  // sticky until the ICR is read
    bool countsUnderflows = false;  // timer B: may count timer A underflows

    uint8_t inForce() const { return uint8_t(control); }
    uint8_t readValue() const { return uint8_t(control >> 8); }
    uint8_t newest() const { return uint8_t(control >> 16); }

    void writeControl(uint8_t value)
    {
        if ((value & START) && !(newest() & START))
            startPending = true;
        control = (control & 0xFFFFu) | uint32_t(value) << 16;
    }

    // One cycle; input: timer A's underflow of the previous cycle (timer B). True on underflow.
    bool step(bool input)
    {
        control = (control >> 8) | (control & (uint32_t(uint8_t(~LOAD)) << 16));
        readCounter = counter;
        if (startPending) {
            toggle = 1;
            startPending = false;
        }
        const uint8_t cr = inForce();
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
                    if ((cr | readValue()) & ONE_SHOT)
                        control &= ~(uint32_t(START) << 8 | uint32_t(START | LOAD) << 16);
                } else {
                    --counter;
                }
            }
        } else if (latchWritten) {
            counter = latch;
            latchWritten = false;
        }
        outputBit = (readValue() & TOGGLE) ? toggle : uint8_t(underflow);
        return underflow;
    }

    bool countsCycles() const
    {
        const uint8_t cr = inForce();
        return (cr & START) && !(countsUnderflows && (cr & COUNT_TA)) && !(cr & COUNT_CNT);
    }

    // Cycles that can pass with nothing but the counter moving (no underflow, no pending
    // change); UINT64_MAX when the counter stands or counts another timer's underflows.
    uint64_t quietSpan() const
    {
        if (control != (control & 0xFFu) * 0x010101u || (control & LOAD) || startPending || latchWritten)
            return 0;
        return countsCycles() ? counter : UINT64_MAX;
    }

    // n quiet cycles at once (0 < n <= quietSpan()).
    void skip(uint64_t n)
    {
        if (countsCycles()) {
            counter = uint16_t(counter - n);
            readCounter = uint16_t(counter + 1);
        } else {
            readCounter = counter;
        }
        outputBit = (readValue() & TOGGLE) ? toggle : 0;
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
    // Steps from now in which only the counters move: an owner may hold back up to this many
    // and run them later in one call, as long as it touches nothing of the chip in between.
    // 0 when the next step has more to do.
    uint64_t quietCycles()
    {
        if (!quietLeft)
            quietLeft = quietSpan();
        return quietLeft;
    }

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
    // Cycles from now in which only the counters can move; 0 when something is due.
    uint64_t quietSpan() const;
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
    uint64_t quietLeft = 0;  // known quiet cycles ahead; every change of state clears it
};
