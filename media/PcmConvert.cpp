// The sample-playing chips of VGM logs are not emulated: a small model of their registers turns
// each write that starts, stops or re-tunes a sound into DAC channel register writes.

#include "media/VGMX.h"

#include "platform/SaturatingCast.h"

#include <cmath>
#include <cstdio>

namespace VGM {

namespace {

// DAC channel registers.
enum DacRegister : uint8_t {
    kFormat = 0,
    kBank = 2,
    kFrequencyHigh = 4,
    kLeftLevel = 6,
    kRightLevel = 7,
    kStartHigh = 8,
    kLengthHigh = 10,
    kPlayAtAddress = 12,
    kStop = 14,
    kPlayFromStart = 15,
};

constexpr uint8_t kSegaPcmFormat = 0xC0;
constexpr uint8_t kOkiFormat = 0xB8;
constexpr uint8_t kOkiLevels[16] = {128, 96, 64, 48, 32, 24, 16, 12, 8, 8, 8, 8, 8, 8, 8, 8};
constexpr uint32_t kOkiChannels = 4;  // per chip

void write(VGMX& log, int32_t kind, PendingWaits& pending, uint8_t reg, uint8_t value, uint8_t port = 0)
{
    log.addTimedWrite(kind, pending, value, port, reg, VGMXEvent::kWrite);
}

}  // namespace

void VGMX::addPcmChannels(uint32_t clock, uint32_t count, const char* displayName, uint32_t extra)
{
    for (uint32_t i = 0; i < count; ++i) {
        VGMXChip chip = newChip();
        chip.kind = kFirstDacKind + int32_t(i);
        chip.typeName = "DAC";
        chip.displayName = displayName ? displayName : "";
        chip.clock = clock;
        chip.rate = 44100;
        chip.extra = extra;
        addChip(std::move(chip), true);
    }
}

bool VGMX::startSegaPcmChannel(uint32_t channel, PendingWaits& pending)
{
    const SegaPcmChannel& c = segaPcm[channel & 15];
    const int32_t kind = kFirstDacKind + int32_t(channel & 15);
    const uint32_t start = c.currentAddress + c.bankOffset;
    const uint32_t end = ((uint32_t(c.endPage) + 1) * 256 % 65536) + c.bankOffset;
    if (end <= start)
        return false;
    addTimedWrite32(kind, pending, kStartHigh, start);
    addTimedWrite32(kind, pending, kLengthHigh, end - start);
    write(*this, kind, pending, kFormat, kSegaPcmFormat);
    write(*this, kind, pending, kBank, 0);
    write(*this, kind, pending, kPlayAtAddress, c.flags & 2);
    return true;
}

void VGMX::writeSegaPcm(uint32_t clock, PendingWaits& pending, uint16_t address, uint8_t value)
{
    const uint32_t channel = (address >> 3) & 15;
    const int32_t kind = kFirstDacKind + int32_t(channel);
    SegaPcmChannel& c = segaPcm[channel];
    // A restart that sends nothing leaves the channel playing its old sample: only a key on
    // (register 0x86) decides whether it plays.
    auto restartWhenChanged = [&](bool changed) {
        if (c.playing && changed)
            startSegaPcmChannel(channel, pending);
    };
    switch (address & 0x87) {
    case 2:
        write(*this, kind, pending, kLeftLevel, value & 0x7F);
        break;
    case 3:
        write(*this, kind, pending, kRightLevel, value & 0x7F);
        break;
    case 4:
        c.loopAddress = (c.loopAddress & ~0xFFu) | value;
        break;
    case 5:
        c.loopAddress = (c.loopAddress & ~0xFF00u) | uint32_t(value) << 8;
        break;
    case 6: {
        const bool changed = c.endPage != value;
        c.endPage = value;
        restartWhenChanged(changed);
        break;
    }
    case 7: {
        const double rate = std::floor(double(clock & 0x3FFFFFFF) / 128.0 * value / 256.0 + 0.5);
        addTimedWrite32(kind, pending, kFrequencyHigh, vantor::saturatingCast<uint32_t>(rate));
        break;
    }
    case 0x84:
    case 0x85: {
        const uint32_t shift = (address & 0x87) == 0x84 ? 0 : 8;
        const uint32_t updated = (c.currentAddress & ~(0xFFu << shift)) | uint32_t(value) << shift;
        const bool changed = updated != c.currentAddress;
        c.currentAddress = updated;
        restartWhenChanged(changed);
        break;
    }
    case 0x86:
        c.flags = value;
        c.bankOffset = (segaPcmBankMask & value) << (segaPcmBankShift & 31);
        if (!(value & 1)) {
            c.playing = startSegaPcmChannel(channel, pending);
        } else if (c.playing) {  // key off stops the channel
            write(*this, kind, pending, kStop, 0);
            c.playing = 0;
        }
        break;
    default:
        break;
    }
}

void VGMX::writeOkim6295(uint32_t clock, PendingWaits& pending, uint8_t reg, uint8_t value)
{
    if (reg & 0x7F)
        return;
    const uint32_t chip = reg >> 7;
    const int32_t firstKind = kFirstDacKind + int32_t(chip * kOkiChannels);
    if (pendingOkiPhrase >= 0) {
        // The second byte of a phrase start: channels in bits 4-7, attenuation in bits 0-3.
        OkiPhrase phrase;
        if (chip < okiTables.size())
            phrase = okiTables[chip].phrases[pendingOkiPhrase & 0x7F];
        const float divider = (clock & 0x80000000u) ? 132.0f : 165.0f;
        const uint32_t rate = vantor::saturatingCast<uint32_t>(std::floor(float(clock & 0x3FFFFFFF) / divider + 0.5f));
        const uint8_t level = kOkiLevels[value & 15];
        for (uint32_t k = 0; k < kOkiChannels; ++k) {
            if (!(value >> (4 + k) & 1))
                continue;
            const int32_t kind = firstKind + int32_t(k);
            write(*this, kind, pending, kFormat, kOkiFormat);
            write(*this, kind, pending, kBank, phrase.bank);
            addTimedWrite32(kind, pending, kFrequencyHigh, rate);
            addTimedWrite32(kind, pending, kStartHigh, phrase.sampleStart);
            addTimedWrite32(kind, pending, kLengthHigh, phrase.sampleLength);
            write(*this, kind, pending, kLeftLevel, level);
            write(*this, kind, pending, kRightLevel, level);
            write(*this, kind, pending, kPlayFromStart, 0);
        }
        pendingOkiPhrase = -1;
    } else if (value & 0x80) {
        pendingOkiPhrase = value & 0x7F;
    } else {
        // Stop: channels in bits 3-6.
        for (uint32_t k = 0; k < kOkiChannels; ++k)
            if (value >> (3 + k) & 1)
                write(*this, firstKind + int32_t(k), pending, kStop, 0);
    }
}

void VGMX::writePwm(uint32_t clock, PendingWaits& pending, uint8_t byte1, uint8_t byte2)
{
    if (clock & 0x3FFFFFFF)
        pwm.clock = clock & 0x3FFFFFFF;
    const uint32_t reg = byte1 >> 4;
    const uint16_t data = uint16_t((byte1 & 15) << 8 | byte2);
    if (pwm.writeRegister(reg, data) == 4)
        addTimedWrite32(kFirstDacKind, pending, kFrequencyHigh, pwm.outputRate);
}

void VGMX::writeRf5c68(uint8_t /*reg*/, uint8_t /*value*/) {}

}  // namespace VGM

void PwmState::updateRate()
{
    if (cycle <= 1)
        return;  // a cycle of 1 would divide by zero: the rate stays
    outputRate = vantor::saturatingCast<uint32_t>(std::floor(double(clock) / double(cycle - 1) + 0.5));
}

void PwmState::push(uint32_t side, uint16_t sample)
{
    uint16_t* queue = fifo[side];
    if (fifoCount[side] == kFifoDepth) {  // full: the oldest sample goes
        queue[0] = queue[1];
        queue[1] = queue[2];
        fifoCount[side] = kFifoDepth - 1;
    }
    queue[fifoCount[side]++] = sample;
}

uint32_t PwmState::writeRegister(uint32_t reg, uint16_t data)
{
    switch (reg) {
    case 0:
        control = data;
        timerInterval = (data >> 8) & 15;
        if (timerInterval == 0)
            timerInterval = 16;
        if (cycle == 0)
            cycle = 4095;
        updateRate();
        return 1;
    case 1:
        cycleWritten = data;
        cycle = data ? data : 4095;
        if (timerInterval == 0)
            timerInterval = 16;
        updateRate();
        return 4;
    case 2:
        push(0, data);
        return 0;
    case 3:
        push(1, data);
        return 0;
    case 4:
        push(0, data);
        push(1, data);
        return 0;
    default:
        std::printf("Write at undefined PWM register %02x %04x\n", reg, data);
        return 0;
    }
}
