#include "machine/CIA6526.h"

#include <algorithm>

namespace {

class NullCiaListener final : public CIAListener {
public:
    uint8_t readCiaPort(mos6526_new*, int) override { return 0xFF; }
    void writeCiaPort(mos6526_new*, int, uint8_t) override {}
    uint8_t readCiaPortB(mos6526_new*, int) override { return 0xFF; }
    void ciaIrq(mos6526_new*, bool) override {}
};

NullCiaListener nullListener;

constexpr uint8_t kTodSelectAlarm = 0x80;  // CRB: TOD writes go to the alarm
constexpr uint8_t kTod50Hz = 0x80;         // CRA: the TOD input runs at 50 Hz
constexpr uint8_t kSerialOut = 0x40;       // CRA: the shift register sends

// BCD increment of one byte; any byte is accepted (a bad digit carries like a 9).
uint8_t bcdIncrement(uint8_t v) { return (v & 0x0F) >= 9 ? uint8_t((v & 0xF0) + 0x10) : uint8_t(v + 1); }

}  // namespace

mos6526_new::mos6526_new(CIAListener* listener, std::string tag)
    : device_t(nullptr, std::move(tag)), listener(listener ? listener : &nullListener)
{
    timerB.countsUnderflows = true;
}

uint8_t mos6526_new::readRegister(uint32_t reg)
{
    switch (reg & 15) {
    case 0x0: {  // PRA
        const uint8_t pins = listener->readCiaPort(this, 0);
        lastInputA = ddra == 0xFF ? uint8_t(pins & pra) : uint8_t((pra & ddra) | (pins & ~ddra));
        return lastInputA;
    }
    case 0x1: {  // PRB
        quietLeft = 0;
        const uint8_t pins = listener->readCiaPortB(this, 0);
        lastInputB = ddrb == 0xFF ? uint8_t(pins & prb) : uint8_t((prb & ddrb) | (pins & ~ddrb));
        const uint8_t value = timerPortBits(lastInputB);
        pulsePc();
        return value;
    }
    case 0x2: return ddra;  // DDRA
    case 0x3: return ddrb;  // DDRB
    case 0x4: return uint8_t(timerA.readCounter);  // TA LO
    case 0x5: return uint8_t(timerA.readCounter >> 8);  // TA HI
    case 0x6: return uint8_t(timerB.readCounter);  // TB LO
    case 0x7: return uint8_t(timerB.readCounter >> 8);  // TB HI
    case 0x8: {  // TOD 10THS: releases the read latch
        const uint8_t value = todLatched ? todLatch.tenths : clock.tenths;
        todLatched = false;
        return value;
    }
    case 0x9: return todLatched ? todLatch.seconds : clock.seconds;  // TOD SEC
    case 0xA: return todLatched ? todLatch.minutes : clock.minutes;  // TOD MIN
    case 0xB:  // TOD HR: latches the clock until tenths are read
        if (!todLatched) {
            todLatch = clock;
            todLatched = true;
        }
        return todLatch.hours;
    case 0xC: return sdr;  // SDR
    case 0xD: {  // ICR: reading clears it and lets the line go
        quietLeft = 0;
        const uint8_t value = icrData;
        icrData = 0;
        timerA.underflowed = timerB.underflowed = false;
        lineState = irqAsserted ? LINE_RELEASE : LINE_IDLE;
        return value;
    }
    case 0xE: return uint8_t(timerA.readValue() & ~CiaTimer::LOAD);  // CRA
    default: return uint8_t(timerB.readValue() & ~CiaTimer::LOAD);  // CRB
    }
}

void mos6526_new::writeRegister(uint32_t reg, uint8_t value)
{
    quietLeft = 0;
    switch (reg & 15) {
    case 0x0:  // PRA
        pra = value;
        updatePortA();
        break;
    case 0x1:  // PRB
        prb = value;
        updatePortB();
        pulsePc();
        break;
    case 0x2:  // DDRA
        ddra = value;
        updatePortA();
        break;
    case 0x3:  // DDRB
        ddrb = value;
        updatePortB();
        break;
    case 0x4:
    case 0x6: {  // TA LO, TB LO: the next reload already uses it
        CiaTimer& t = (reg & 15) == 0x4 ? timerA : timerB;
        t.latchLow = value;
        t.latch = uint16_t((t.latch & 0xFF00) | value);
        break;
    }
    case 0x5:
    case 0x7: {  // TA HI, TB HI: a stopped timer loads the latch at the next step
        CiaTimer& t = (reg & 15) == 0x5 ? timerA : timerB;
        t.latch = uint16_t(value << 8 | t.latchLow);
        t.latchWritten = true;
        break;
    }
    case 0x8:
    case 0x9:
    case 0xA:
    case 0xB: {  // TOD 10THS, SEC, MIN, HR: the alarm while CRB bit 7 is set
        const bool toAlarm = timerB.newest() & kTodSelectAlarm;
        Tod& tod = toAlarm ? alarm : clock;
        switch (reg & 15) {
        case 0x8:
            tod.tenths = value;
            todHalted = false;
            break;
        case 0x9: tod.seconds = value; break;
        case 0xA: tod.minutes = value; break;
        default:
            // Writing 12 to the clock flips AM/PM, as the chip does.
            tod.hours = (!toAlarm && (value & 0x1F) == 0x12) ? uint8_t(value ^ 0x80) : value;
            todHalted = true;
            break;
        }
        break;
    }
    case 0xC:  // SDR
        sdr = value;
        sdrConsumed = false;
        break;
    case 0xD:  // ICR mask: bit 7 sets, else clears
        if (value & 0x80)
            icrMask |= value & 0x1F;
        else
            icrMask &= uint8_t(~(value & 0x1F));
        break;
    case 0xE:
    case 0xF: {  // CRA, CRB
        CiaTimer& t = (reg & 15) == 0xE ? timerA : timerB;
        t.writeControl(value);
        if (&t == &timerB)
            updatePortB();
        break;
    }
    }
}

void mos6526_new::step()
{
    quietLeft = 0;
    if (!pcLevel) {
        pcLevel = 1;
        listener->ciaHook7(this, true);
    }

    const bool taUnderflow = timerA.step(true);
    timerB.step(prevTaUnderflow);
    prevTaUnderflow = taUnderflow;

    if (timerA.inForce() & kSerialOut)
        serialStep(taUnderflow);

    icrData = uint8_t((icrData & 0xFC) | uint8_t(timerA.underflowed) | uint8_t(timerB.underflowed) << 1);
    const bool condition = irqCondition();
    if (condition)
        icrData |= ICR_IR;

    // The line follows a new condition one step later.
    if (lineState == LINE_ASSERT) {
        lineState = LINE_IDLE;
        if (icrData & ICR_IR) {
            irqAsserted = true;
            listener->ciaIrq(this, true);
        }
    } else if (lineState == LINE_RELEASE && !condition) {
        lineState = LINE_IDLE;
        irqAsserted = false;
        listener->ciaIrq(this, false);
    }
    if (condition && !prevCondition)
        lineState = LINE_ASSERT;
    prevCondition = condition;
}

uint64_t mos6526_new::quietSpan() const
{
    if (prevTaUnderflow)
        return 0;
    const uint64_t span = std::min(timerA.quietSpan(), timerB.quietSpan());
    // ICR bits 0 and 1 already match the underflow flags after any step, read or reset.
    const bool quiet = span && pcLevel && lineState == LINE_IDLE && irqCondition() == prevCondition &&
                       (!(timerA.inForce() & kSerialOut) || (sdrConsumed && bitCounter == 0));
    return quiet ? span : 0;
}

void mos6526_new::run(uint64_t n)
{
    while (n) {
        if (!quietLeft)
            quietLeft = quietSpan();
        if (quietLeft) {
            const uint64_t k = std::min(n, quietLeft);
            timerA.skip(k);
            timerB.skip(k);
            quietLeft -= k;
            n -= k;
        } else {
            step();
            --n;
        }
    }
}

void mos6526_new::runPending()
{
    while (pendingCycles) {
        --pendingCycles;
        step();
    }
}

void mos6526_new::serialStep(bool taUnderflow)
{
    if (bitCounter == 8)
        bitCounter = 0;
    if (sdrConsumed && bitCounter == 0)
        return;  // nothing waiting, nothing being shifted
    if (taUnderflow && !cntLevel) {
        if (bitCounter == 0) {
            shiftRegister = sdr;
            sdrConsumed = true;
        }
        spLevel = shiftRegister >> 7;
        listener->ciaHook9(this, spLevel);
        shiftRegister = uint8_t(shiftRegister << 1);
        if (++bitCounter == 8)
            icrData |= ICR_SERIAL;
    }
    cntLevel ^= 1;
    listener->ciaHook8(this, cntLevel);
}

void mos6526_new::todPulse(bool level)
{
    if (level)
        todPulseAt(1);
}

void mos6526_new::todPulseAt(int /*level*/)
{
    quietLeft = 0;
    if (todHalted)
        return;
    const Tod before = clock;
    todTick();
    // Only a clock that steps onto the alarm raises it, once.
    if (!(clock == before) && clock == alarm)
        icrData |= ICR_ALARM;
}

void mos6526_new::todTick()
{
    const uint8_t limit = (timerA.newest() & kTod50Hz) ? 5 : 6;
    if (++todDivider < limit)
        return;
    todDivider = 0;
    advanceTod();
}

void mos6526_new::advanceTod()
{
    if (clock.tenths != 0x09) {
        clock.tenths = bcdIncrement(clock.tenths);
        return;
    }
    clock.tenths = 0;
    if (clock.seconds != 0x59) {
        clock.seconds = bcdIncrement(clock.seconds);
        return;
    }
    clock.seconds = 0;
    if (clock.minutes != 0x59) {
        clock.minutes = bcdIncrement(clock.minutes);
        return;
    }
    clock.minutes = 0;
    const uint8_t hour = clock.hours & 0x1F, high = clock.hours & 0xE0;
    if (hour == 0x11)
        clock.hours = uint8_t((high ^ 0x80) | 0x12);  // noon and midnight flip AM/PM
    else if (hour == 0x12)
        clock.hours = uint8_t(high | 0x01);
    else
        clock.hours = uint8_t(high | (bcdIncrement(hour) & 0x1F));
}

void mos6526_new::releaseInputs()
{
    quietLeft = 0;
    flagLevel = 1;
    cntLevel = 1;
}

void mos6526_new::setFlagPin(int level)
{
    quietLeft = 0;
    const uint8_t l = level ? 1 : 0;
    if (flagLevel && !l)
        icrData |= ICR_FLAG;
    flagLevel = l;
}

void mos6526_new::reset()
{
    quietLeft = 0;
    icrMask = 0;
    icrData = 0;
    timerA.underflowed = timerB.underflowed = false;
    prevCondition = false;
    lineState = LINE_IDLE;
    irqAsserted = false;
    pcLevel = 1;
    flagLevel = 1;
    pra = prb = ddra = ddrb = 0;
    lastOutputA = lastOutputB = 0xFF;
    lastInputA = lastInputB = 0;
    spLevel = 1;
    cntLevel = 1;
    sdr = 0;
    sdrConsumed = true;
    bitCounter = 0;
    todDivider = 0;
    clock = {0x00, 0x00, 0x01, 0x91};
    todLatch = alarm = {0, 0, 0, 0};
    todHalted = true;
    todLatched = false;
    listener->ciaIrq(this, false);
    listener->ciaHook7(this, true);
    listener->ciaHook9(this, true);
    listener->ciaHook8(this, true);
}

uint8_t mos6526_new::timerPortBits(uint8_t value) const
{
    if (timerA.readValue() & CiaTimer::PB_ON)
        value = uint8_t((value & ~0x40) | timerA.outputBit << 6);
    if (timerB.readValue() & CiaTimer::PB_ON)
        value = uint8_t((value & ~0x80) | timerB.outputBit << 7);
    return value;
}

void mos6526_new::updatePortA()
{
    const uint8_t out = uint8_t(pra | (lastInputA & ~ddra));
    if (out == lastOutputA)
        return;
    lastOutputA = out;
    listener->writeCiaPort(this, 0, out);
}

void mos6526_new::updatePortB()
{
    const uint8_t out = timerPortBits(uint8_t((lastInputB & ~ddrb) | prb));
    if (out == lastOutputB)
        return;
    lastOutputB = out;
    listener->ciaHook5(this, 0, out);
}

void mos6526_new::pulsePc()
{
    if (!pcLevel)
        return;
    pcLevel = 0;
    listener->ciaHook7(this, false);
}
