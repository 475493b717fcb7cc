#include "media/DACStreamer.h"

#include <algorithm>

namespace VGM {

namespace {

uint32_t half(VGMXEvent event)
{
    return uint32_t(event.value()) << 8 | event.port();
}

uint32_t setHigh(uint32_t word, VGMXEvent event)
{
    return half(event) << 16 | (word & 0xFFFF);
}

uint32_t setLow(uint32_t word, VGMXEvent event)
{
    return (word & 0xFFFF0000u) | half(event);
}

uint32_t clampedCount(size_t n)
{
    return uint32_t(std::min<size_t>(n, UINT32_MAX));
}

}  // namespace

void DACStreamer::setUp(const VGMXChip& chip, const VGMXSong& song,
                        const std::vector<MediaCallback*>& listeners)
{
    ChipStreamer::setUp(chip, song, listeners);
    // Only the whole stream can loop here: it starts again at its first event.
    loopTime = song.loopEnd != VGMXChip::kNoLoop ? timeFrom(0) : 0;
}

void DACStreamer::stopPlayer()
{
    nextIsEvent = true;
    playing = false;
    position = 0;
    eventRemaining = 0.0;
    sampleRemaining = kNoSample;
}

void DACStreamer::rewind()
{
    ChipStreamer::rewind();
    stopPlayer();
}

void DACStreamer::reset()
{
    ChipStreamer::reset();
    stopPlayer();
    samples = nullptr;
    playLength = 0;
}

void DACStreamer::writeRegister(VGMXEvent event)
{
    const uint8_t value = event.value();
    switch (event.reg()) {
    case kFormat:
        format = value;
        break;
    case kBank:
        bankIndex = value;
        break;
    case kStepAndBase:
        step = value;
        base = event.port();
        break;
    case kFrequencyHigh:
        frequency = setHigh(0, event);
        break;
    case kFrequencyLow:
        frequency = setLow(frequency, event);
        if (frequency)
            samplePeriod = 1.0 / frequency;
        break;
    case kLeftLevel:
        leftLevel = value;
        break;
    case kRightLevel:
        rightLevel = value;
        break;
    case kStartHigh:
        start = setHigh(0, event);
        break;
    case kStartLow:
        start = setLow(start, event);
        break;
    case kLengthHigh:
        length = setHigh(0, event);
        break;
    case kLengthLow:
        length = setLow(length, event);
        break;
    case kPlayAtAddress: {
        loopFlag = value;
        position = 0;
        playing = false;
        playLength = 0;
        if (!dataBlocks)
            break;
        const uint64_t address = uint64_t(base) + start;
        for (const SampleBank& bank : *dataBlocks) {
            const uint64_t first = bank.startOffset;
            if (address < first || address - first >= bank.samples.size())
                continue;
            const uint64_t offset = address - first;
            samples = bank.samples.data() + offset;
            playLength = clampedCount(std::min<uint64_t>(length, bank.samples.size() - offset));
            playing = true;
            break;
        }
        break;
    }
    case kPlayBank: {
        if (!dataBlocks || value >= dataBlocks->size())
            break;
        const SampleBank& bank = (*dataBlocks)[value];
        if (leftLevel == 0)
            leftLevel = int16_t(bank.defaultLevel);
        if (rightLevel == 0)
            rightLevel = int16_t(bank.defaultLevel);
        length = clampedCount(bank.samples.size());
        if (length) {
            samples = bank.samples.data();
            playLength = length;
            position = 0;
            playing = true;
        }
        break;
    }
    case kStop:
        playing = false;
        position = 0;
        break;
    case kPlayFromStart: {
        if (!dataBlocks || bankIndex >= dataBlocks->size())
            break;
        const SampleBank& bank = (*dataBlocks)[bankIndex];
        if (uint64_t(start) + length > bank.samples.size())
            break;
        shift = 10;
        samples = bank.samples.data() + start;
        playLength = length;
        position = 0;
        playing = true;
        break;
    }
    default:  // 1 and 16-255
        break;
    }
}

void DACStreamer::outputSample(double schedulerRate)
{
    if (!playing || position >= playLength) {
        playing = false;
        sampleRemaining = kNoSample;
        return;
    }
    const int32_t s = samples[position];
    position += step;
    const auto left = int16_t((int32_t(leftLevel) * s) >> (shift & 31));
    const auto right = int16_t((int32_t(rightLevel) * s) >> (shift & 31));
    for (MediaCallback* c : callbacks)
        c->writeDacSample(uint32_t(kind), format, left, right);
    // At least one tick a sample, so that no rate stalls the scheduler.
    sampleRemaining = std::max(schedulerRate * samplePeriod, 1.0);
}

uint64_t DACStreamer::quantumElapsed(vantor::QuantumTimer*, uint64_t, double schedulerRate)
{
    if (pending > 0.0)
        return takePending();
    if (!stream || stream->events.empty())
        return kNever;
    const std::vector<VGMXEvent>& events = stream->events;
    double delay;
    bool wrapped = false;
    if (nextIsEvent) {
        const VGMXEvent event = events[nextEvent++];
        if (event.kind() == VGMXEvent::kWrite)
            writeRegister(event);
        if (playing)
            outputSample(schedulerRate);
        if (nextEvent >= events.size()) {
            nextEvent = 0;
            if (loopTime == 0) {
                stopPlayer();
                return kNever;
            }
            for (MediaCallback* c : callbacks)
                c->setMediaTime(0.0);
            wrapped = true;
        }
        delay = double(events[nextEvent].dt()) * period * schedulerRate;
    } else {
        outputSample(schedulerRate);
        delay = eventRemaining;
    }

    double wait;
    if (delay <= sampleRemaining) {
        nextIsEvent = true;
        sampleRemaining -= delay;
        eventRemaining = 0.0;
        wait = delay;
    } else {
        nextIsEvent = false;
        eventRemaining = delay - sampleRemaining;
        wait = sampleRemaining;
        sampleRemaining = 0.0;
    }
    const uint64_t ticks = roundTicks(wait);
    return wrapped ? waitAfterWrap(ticks, schedulerRate) : ticks;
}

}  // namespace VGM
