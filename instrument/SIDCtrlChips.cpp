// The register write path, the synth render and the chip-wide register operations.
#include "instrument/ChipHWHook.h"
#include "instrument/SIDCtrl.h"
#include "sid/ChipEmu.h"
#include "sid/SIDEmu.h"

#include <algorithm>

namespace {

constexpr uint8_t kControlRegisters[3] = {4, 11, 18};

}  // namespace

void SIDCtrl::writeRegister(uint64_t chip, uint8_t reg, uint8_t value)
{
    if (chip & DIRECT_WRITE) {
        if (ChipEmu* target = chipAt(chip & kRawChipMask))
            target->writeRegister(reg, value, 0);
        return;
    }
    ChipEmu* target = chipAt(chip);
    if (!target)
        return;
    // The sampled-sound channel keeps the value and may hold some of its bits.
    const uint8_t effective = chip < kSynthChips ? dacSubs[chip]->synthWrite(reg, value) : value;
    if (hardwareHook && asidChip == chip && reg < asid::kRegisterCount) {
        asidBytes.clear();
        if (buildAsidRegister(reg, value, asidBytes))
            hardwareHook->sendSysEx(asidBytes.data(), asidBytes.size());
    }
    shadows[chip].store(reg, value);
    target->writeRegister(reg, effective, 0);
}

bool SIDCtrl::isChannelActive(uint64_t voice, uint64_t chip, uint64_t /*sub*/)
{
    if (chip >= kSynthChips || !chipPresent(chip))
        return false;
    const SIDEmu* sid = sidChip(chip);
    return sid && sid->isVoiceSounding(voice);
}

void SIDCtrl::releaseAllGates(uint32_t /*value*/)
{
    for (uint64_t c = 0; c < kChips; ++c) {
        if (!chipPresent(c))
            continue;
        for (const uint8_t reg : kControlRegisters)
            writeRegister(c, reg, uint8_t(shadows[c].regs[reg] & ~1u));
    }
}

void SIDCtrl::silencePlayerChips()
{
    // Each voice: test bit on, gate and waveform off, sustain and release 0.
    constexpr struct
    {
        uint8_t reg, value;
    } kSilence[] = {{4, 8}, {6, 0}, {11, 8}, {13, 0}, {18, 8}, {20, 0}};
    for (uint64_t c = kFirstPlayerChip; c < kChips; ++c) {
        if (!chipPresent(c))
            continue;
        for (const auto& w : kSilence)
            writeRegister(c, w.reg, w.value);
    }
}

// ---------------------------------------------------------------------------------------------
// Render

void SIDCtrl::runPendingAdvance()
{
    if (advancePending) {
        advancePending = 0;
        setMediaParameter(kNextSong, 1.0);
    }
}

uint64_t SIDCtrl::nextStretch(uint64_t frames)
{
    if (frames == 0)
        return 0;
    // Each 0 means the front timer was due now and has just fired.
    for (uint32_t zeros = 0; zeros < kMaxZeroSteps; ++zeros)
        if (const uint64_t n = advance(frames))
            return std::min(n, frames);
    // A timer that keeps falling due at once: the rest passes without firing.
    now += frames;
    return frames;
}

uint64_t SIDCtrl::renderUntilEvent(uint64_t frames)
{
    runPendingAdvance();
    return nextStretch(frames);
}

void SIDCtrl::renderEnabledChips(int32_t* out, uint64_t ticks)
{
    std::fill(std::begin(cursors), std::end(cursors), out);
    for (size_t i = 0; i < kChips; ++i)
        if (chipEnabled[i])
            if (ChipEmu* chip = chipAt(i))
                chip->render(cursors, ticks);
}

void SIDCtrl::render(int32_t** channels, uint64_t /*channelCount*/, int32_t frames)
{
    if (reader)
        reader->setUserValue(&hostSync);
    outCursor = channels[0];
    frameBudget = frames;
    // Words a tune rendered ahead of the last block come first, stored as they are.
    while (frameBudget > 0 && ringRead != ringWrite) {
        *outCursor++ = surplusRing[ringRead++];
        --frameBudget;
    }
    if (reader && !reader->isDrivenByTimers() && reader->playing) {
        runPendingAdvance();
        if (reader && reader->playing) {
            renderTune();
            return;
        }
    }
    if (exactRender || frameBudget <= 0) {
        renderEveryCycle();
        return;
    }
    lazyBase = outCursor;
    lazyNow = 0;
    lazyEnd = uint64_t(frameBudget);
    std::fill(std::begin(lazyDone), std::end(lazyDone), 0);
    restingSum = 0;
    while (frameBudget > 0) {
        runPendingAdvance();
        const uint64_t n = nextStretch(uint64_t(frameBudget));
        lazyNow += n;
        outCursor += n;
        frameBudget -= int32_t(n);
    }
    catchUpAll();
    addSaturating(lazyBase, lazyEnd, int32_t(std::clamp<int64_t>(restingSum, INT32_MIN, INT32_MAX)));
    lazyBase = nullptr;
}

void SIDCtrl::renderEveryCycle()
{
    while (frameBudget > 0) {
        runPendingAdvance();
        const uint64_t n = nextStretch(uint64_t(frameBudget));
        renderEnabledChips(outCursor, n);
        outCursor += n;
        frameBudget -= int32_t(n);
    }
}

void SIDCtrl::catchUp(uint64_t chip)
{
    if (!lazyBase || chip >= kChips)
        return;
    const uint64_t from = lazyDone[chip], to = lazyNow;
    if (from >= to)
        return;
    lazyDone[chip] = to;
    if (!chipEnabled[chip] || !chipPresent(chip))
        return;
    SIDEmu* sid = sidChips[chip];
    if (sid && sid->skipResting(to - from)) {
        if (from == 0 && to == lazyEnd)
            restingSum += sid->restingOutput();
        else
            addSaturating(lazyBase + from, to - from, sid->restingOutput());
        return;
    }
    int32_t* at[4] = {lazyBase + from, lazyBase + from, lazyBase + from, lazyBase + from};
    (*chips)[chip]->render(at, to - from);
}

void SIDCtrl::catchUpAll()
{
    for (uint64_t c = 0; c < kChips; ++c)
        catchUp(c);
}

void SIDCtrl::setExactRender(bool on)
{
    ChipController::setExactRender(on);
    for (SIDEmu* chip : sidChips)
        if (chip)
            chip->setExactRender(on);
    for (std::unique_ptr<SID_DAC_sub>& dac : dacSubs)
        dac->setExactRender(on);
}

void SIDCtrl::renderTune()
{
    // The machine renders through renderChips, which spends the budget. A run may spend none:
    // its cycles were run ahead before, or it stored nothing to a SID and the next run renders
    // them first. A reader that runs nothing at all would never spend it.
    uint32_t stalled = 0;
    while (frameBudget > 0) {
        const int32_t before = frameBudget;
        reader->advanceTicks(uint64_t(frameBudget), getRate());
        if (frameBudget != before) {
            stalled = 0;
        } else if (++stalled == kMaxStalledRuns) {
            renderChips(kFirstPlayerKind, uint64_t(frameBudget));
            break;
        }
    }
}

void SIDCtrl::renderChips(uint32_t /*chipKind*/, uint64_t ticks)
{
    if (ticks == 0)
        return;
    if (frameBudget > 0) {
        const uint64_t now = std::min(ticks, uint64_t(frameBudget));
        renderEnabledChips(outCursor, now);
        outCursor += now;
        frameBudget -= int32_t(now);
        ticks -= now;
    }
    // The machine ran past the block: the rest waits in the ring, rendered in chunks.
    while (ticks > 0) {
        const uint64_t n = std::min<uint64_t>(ticks, kChunkWords);
        std::fill_n(chunkBuffer.get(), n, 0);
        renderEnabledChips(chunkBuffer.get(), n);
        for (uint64_t i = 0; i < n; ++i)
            surplusRing[ringWrite++] = chunkBuffer[i];
        ticks -= n;
    }
}
