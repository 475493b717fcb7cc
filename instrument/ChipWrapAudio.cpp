// The instance's audio side: init with the output chain, the chip-rate update, the output
// settings, the chip-rate sub-block, and the per-block process path with its event schedule.
#include "instrument/ChipWrap.h"

#include "instrument/ChipController.h"
#include "instrument/DecimatingProvider.h"
#include "instrument/Repackager.h"
#include "instrument/SIDCtrl.h"
#include "instrument/SpeexProvider.h"
#include "platform/PMIDI.h"
#include "platform/SaturatingCast.h"
#include "sid/SIDEmu.h"
#include "sid/SID_DAC_sub.h"
#include "synth/LayerManager.h"
#include "synth/SynthBase.h"
#include "synth/SynthController.h"
#include "synth/SynthParams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace acme {

namespace {

constexpr double kTicksPerBlockFrame = 4800000.0;  // at 1 Hz: ticks = block x this / rate
constexpr double kOctavesPerCent = 1.0 / 1200.0;

// Media parameters fed from the transport.
constexpr uint32_t kHostTempo = 0;
constexpr uint32_t kHostPosition = 1;
constexpr uint32_t kHostBarStart = 15;

uint64_t roundedRate(double hz)
{
    return vantor::saturatingCast<uint64_t>(std::floor(hz + 0.5));
}

int clampToInt(uint64_t n)
{
    return int(std::min<uint64_t>(n, uint64_t(std::numeric_limits<int>::max())));
}

// t rounded down to the grid.
uint64_t toGrid(uint64_t t, uint32_t grid)
{
    switch (grid) {
    case 0:
    case 1: return t;
    case 2: return t & ~uint64_t(1);
    case 4: return t & ~uint64_t(3);
    default:
        return vantor::saturatingCast<uint64_t>(std::trunc(double(t) / double(grid)) * double(grid));
    }
}

// Render steps that cover d frames: full segments, then the remainder.
uint64_t renderPieces(uint64_t d, uint64_t segment)
{
    return d / segment + (d % segment ? 1 : 0);
}

bool isRawMessage(const vantor::HDMIDIEvent& e)
{
    return std::isfinite(e.tuning) && (e.midiFlag & 3) != 0;
}

bool isControllerItem(const vantor::HDMIDIEvent& e)
{
    return (e.kind & 0xFF) == vantor::kEventControllerItem || (e.kind & 0x00FFFF00) == 0x100;
}

// Events that end notes (read as delivery reads them): kept over any other when the carry list
// is full.
bool endsNotes(const vantor::HDMIDIEvent& e)
{
    uint8_t status = 0, data1 = 0, data2 = 0;
    if (isRawMessage(e)) {
        status = e.midi[0];
        data1 = e.midi[1];
        data2 = e.midi[2];
    } else if (e.kind == vantor::kEventNoteOff) {
        return true;
    } else if (!isControllerItem(e) && e.kind != vantor::kEventNoteAux &&
               e.kind != vantor::kEventNoteOn && e.kind != vantor::kEventNoteExpression) {
        status = uint8_t(e.kind);
        data1 = uint8_t(e.index & 0x7F);
        data2 = uint8_t(PDowngradeToMIDI7(e.value) & 0x7F);
    }
    switch (status & 0xF0) {
    case 0x80: return true;
    case 0x90: return data2 == 0;
    case 0xB0:  // sustain or sostenuto up, all sound or all notes off
        return ((data1 == 64 || data1 == 66) && data2 == 0) || data1 == 120 || data1 == 123;
    default: return false;
    }
}

bool allZero(const int32_t* x, uint64_t n)
{
    if (n > 0 && x[0] != 0)
        return false;  // the usual answer for a sounding channel, at once
    int32_t any = 0;
    for (uint64_t i = 0; i < n; ++i)
        any |= x[i];
    return any == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Init and the chip rate

bool ChipWrap::init(const char* path, void* /*argument*/, uint32_t hostVersion)
{
    hostInterfaceVersion = hostVersion;
    const double rate = hostRate();
    const double product =
        double(audioSettings.blockSize) * (kTicksPerBlockFrame / rate) * 4.0 + 0.5;
    const int64_t t = (int64_t(vantor::saturatingCast<int32_t>(product)) + 16) & ~int64_t(15);
    maxTicks = std::clamp<uint64_t>(uint64_t(t), 16, kMaxTicks);

    for (ChipEmu* c : chips.list)
        if (c)
            c->init(maxTicks, path, hostVersion);

    const uint32_t channels = outputChannelCount;
    for (uint32_t c = 0; c < channels; ++c) {
        lp[c].setCutoff(rate * 0.5);
        lp[c].updateCoefficients();
        hp[c].setCutoff(kDefaultHighPass);
        hp[c].updateCoefficients();
    }
    primeHighPass = true;

    provider = std::make_unique<SpeexProvider>();
    provider->setInputRateLimit(fastestChipRate());
    decimating = std::make_unique<DecimatingProvider>();
    decimating->setInputRateLimit(fastestChipRate());
    repackager = std::make_unique<Repackager<float>>();
    repackager->setup(maxTicks, channels);
    repackager->setProvider(provider.get());
    repackager->setRenderer(this);
    repackager->clearPending();
    tickBuffer = channels ? std::make_unique<int32_t[]>(channels * maxTicks) : nullptr;
    std::fill(std::begin(zeroTicks), std::end(zeroTicks), 0);

    clockIndex = chipInfo ? chipInfo->defaultClockIndex : 0;
    updateChipRate(true);

    const bool ok = controller ? controller->init(path, hostVersion) : false;
    synthBase = dynamic_cast<ZRS::SynthBase*>(controller.get());
    buildControllerMap();

    incoming.reserve(kMaxScheduled);
    outgoing.reserve(kMaxEvents);
    reserveSchedule(audioSettings.blockSize);
    return ok;
}

void ChipWrap::updateChipRate(bool force)
{
    if (!chipInfo || !provider || !repackager || clockIndex < 0 ||
        uint64_t(clockIndex) >= chipInfo->clocks.size())
        return;
    const double clock = chipInfo->clocks[size_t(clockIndex)] * std::exp2(detune * kOctavesPerCent);
    const double rate = hostRate();
    if (!force && clock == lastClock && rate == lastHostRate)
        return;
    lastClock = clock;
    lastHostRate = rate;
    for (ChipEmu* c : chips.list)
        if (c)
            c->selectClock(uint64_t(clockIndex));

    chipRate = clock / double(std::max<uint64_t>(chipInfo->clockDivider, 1));
    queueControllerEvent(0, vantor::kEventControllerItem, kChipRateItem, float(chipRate));
    if (controller)
        controller->setRate(uint64_t(clockIndex), chipRate, clock);
    resampleRatio = chipRate / rate;
    setupResampler(!provider->hasResampler());

    for (uint32_t c = 0; c < outputChannelCount; ++c) {
        lp[c].setSampleRate(chipRate);
        lp[c].updateCoefficients();
        outputFilters[c].setSampleRate(rate);
        outputFilters[c].updateCoefficients();
        hp[c].setSampleRate(chipRate);
        hp[c].updateCoefficients();
    }
}

void ChipWrap::setupResampler(bool both)
{
    // A running resampler keeps its read position and the repackager its pending input, so rate
    // automation bends the pitch without a jump. Both chains are made at init, so a later switch
    // allocates nothing.
    const uint64_t in = roundedRate(chipRate), out = vantor::saturatingCast<uint64_t>(hostRate());
    if (singleStageChain || both)
        provider->setup(outputChannelCount, in, out, resamplerQuality, !provider->hasResampler());
    if (!singleStageChain || both) {
        decimating->setup(outputChannelCount, in, out, resamplerQuality, maxTicks);
        for (uint32_t c = 0; c < outputChannelCount; ++c)
            decimating->setHighPass(c, hp[c].getCutoff());
    }
    repackager->setProvider(singleStageChain ? static_cast<Provider<float>*>(provider.get())
                                             : static_cast<Provider<float>*>(decimating.get()));
}

uint64_t ChipWrap::fastestChipRate() const
{
    if (!chipInfo || chipInfo->clocks.empty())
        return 0;
    const double clock = *std::max_element(chipInfo->clocks.begin(), chipInfo->clocks.end());
    return roundedRate(clock * std::exp2(kMaxDetune * kOctavesPerCent) /
                       double(std::max<uint64_t>(chipInfo->clockDivider, 1)));
}

// ---------------------------------------------------------------------------------------------
// Output settings and the controller's channel operations

void ChipWrap::setOutputParameter(uint64_t index, double value)
{
    const uint32_t channels = outputChannelCount;
    switch (index) {
    case kClockIndex: {
        if (!chipInfo || !std::isfinite(value))
            return;
        const int64_t i = vantor::saturatingCast<int64_t>(value);
        if (i < 0 || uint64_t(i) >= chipInfo->clocks.size())
            return;
        clockIndex = i;
        updateChipRate(false);
        break;
    }
    case kHighPassCutoff:
        if (std::isfinite(value))
            for (uint32_t c = 0; c < channels; ++c)
                setChannelHighPassCutoff(c, value);
        break;
    case kLowPassCutoff:
        if (std::isfinite(value))
            for (uint32_t c = 0; c < channels; ++c)
                setChannelFilterCutoff(c, value);
        break;
    case kDetune:
        if (!std::isfinite(value))
            return;
        detune = std::clamp(value, -kMaxDetune, kMaxDetune);
        updateChipRate(false);
        break;
    case kOutputFilterMode:
        outputFilterMode = vantor::saturatingCast<int64_t>(std::floor(value + 0.5));
        for (uint32_t c = 0; c < channels; ++c) {
            outputFilters[c].setMode(outputFilterMode);
            outputFilters[c].updateCoefficients();
        }
        break;
    case kExactChipRender:
        exactChipRender = value >= 0.5;
        if (controller)
            controller->setExactRender(exactChipRender);
        break;
    case kSingleStageChain:
        if (singleStageChain != (value >= 0.5)) {
            singleStageChain = value >= 0.5;
            if (provider && repackager) {
                setupResampler(false);
                repackager->clearPending();
            }
        }
        break;
    case kResamplerQuality: {
        const int32_t previous = resamplerQuality;
        resamplerQuality =
            std::clamp(vantor::saturatingCast<int32_t>(std::floor(value + 0.5)), 0, kMaxQuality);
        if (resamplerQuality != previous)
            updateChipRate(true);
        break;
    }
    default:
        break;
    }
}

void ChipWrap::setChannelFilterCutoff(uint64_t channel, double cutoff)
{
    if (channel >= kMaxChannels || std::isnan(cutoff))
        return;
    lp[channel].setCutoff(cutoff < 0.0 ? hostRate() * 0.5 : cutoff);
    lp[channel].updateCoefficients();
}

void ChipWrap::setChannelHighPassCutoff(uint64_t channel, double cutoff)
{
    if (channel >= kMaxChannels || std::isnan(cutoff))
        return;
    hp[channel].setCutoff(cutoff < 0.0 ? kDefaultHighPass : cutoff);
    hp[channel].updateCoefficients();
    if (decimating)
        decimating->setHighPass(channel, hp[channel].getCutoff());
}

void ChipWrap::setChannelScale(uint64_t channel, int32_t steps)
{
    if (channel < kMaxChannels && steps != -1)
        scale[channel] = float(1.0 / (double(steps) + 1.0));
}

void ChipWrap::swallowPop()
{
    primeHighPass = true;
}

void ChipWrap::swallowPop(uint64_t /*chipIndex*/, uint32_t /*value*/)
{
    swallowPop();
}

void ChipWrap::setChipParameter(uint32_t p, float value)
{
    constexpr uint32_t kLastSynthParameter = 191;
    if (p <= kLastSynthParameter) {
        for (size_t c = 0; c < SIDCtrl::kSynthChips; ++c)
            if (ChipEmu* target = chip(c))
                target->setParameter(p, value);
        const auto* first = dynamic_cast<const SIDEmu*>(chip(0));
        if (p == SIDParam::kModel && first && sidCtrl)
            for (size_t c = 0; c < SIDCtrl::kSynthChips; ++c)
                if (SID_DAC_sub* dac = sidCtrl->dacSub(c))
                    dac->setLinearModelTable(first->isLinearModel() != 0);
        return;
    }
    const size_t c = p >> 4;
    ChipEmu* target = chip(c);
    if (c >= kChips || !target)
        return;
    target->setParameter(p & 15, value);
    if ((p & 15) == SIDParam::kModel && sidCtrl)
        sidCtrl->setTuneChipSetting(c - SIDCtrl::kFirstPlayerChip,
                                    uint64_t(vantor::saturatingCast<int64_t>(std::floor(value + 0.5))));
}

// ---------------------------------------------------------------------------------------------
// Chip-rate sub-block

void ChipWrap::renderSubBlock(float** buffers, uint64_t frames)
{
    const uint32_t channels = outputChannelCount;
    if (!tickBuffer || !buffers)
        return;
    int32_t* ticks[kMaxChannels];
    for (uint32_t c = 0; c < channels; ++c)
        ticks[c] = tickBuffer.get() + c * maxTicks;
    for (uint64_t done = 0; done < frames;) {
        const uint64_t n = std::min(frames - done, maxTicks);
        for (uint32_t c = 0; c < channels; ++c)
            if (zeroTicks[c] < n)
                std::fill_n(ticks[c], n, 0);
        if (controller)
            controller->render(ticks, channels, int32_t(n));
        for (uint32_t c = 0; c < channels; ++c) {
            float* out = buffers[c] + done;
            const int32_t* in = tickBuffer.get() + c * maxTicks;
            if (singleStageChain)
                singleStageChannel(c, in, out, n);
            else
                decimatedChannel(c, in, out, n);
        }
        done += n;
    }
}

void ChipWrap::singleStageChannel(uint64_t c, const int32_t* in, float* out, uint64_t n)
{
    // A channel no chip wrote, with both filters at rest, gives exactly zero (channel 1 of the
    // SID instrument): its filters and the next clearing of its ticks are skipped.
    const bool silent = allZero(in, n);
    zeroTicks[c] = silent ? std::max(zeroTicks[c], n) : 0;
    if (silent && hp[c].getState() == 0.0 && lp[c].getState() == 0.0) {
        std::fill_n(out, n, 0.0f);
        if (c == 0)
            primeHighPass = false;  // primed to the first sample: 0, as it is
        return;
    }
    const float s = scale[c];
    for (uint64_t i = 0; i < n; ++i)
        out[i] = float(in[i]) * s;
    if (primeHighPass) {
        primeHighPass = false;
        hp[c].setState(double(out[0]));
    }
    hp[c].process(out, clampToInt(n));
    lp[c].process(out, clampToInt(n));
}

// The low-pass settles exactly on a constant input; the high-pass runs after the decimator.
void ChipWrap::decimatedChannel(uint64_t c, const int32_t* in, float* out, uint64_t n)
{
    const bool silent = allZero(in, n);
    zeroTicks[c] = silent ? std::max(zeroTicks[c], n) : 0;
    const float s = scale[c];
    const float first = n > 0 ? float(in[0]) * s : 0.0f;
    if (c == 0 && primeHighPass) {
        primeHighPass = false;
        lp[c].setState(double(first));
        decimating->primeHighPass(first);
    }
    const double state = lp[c].getState();
    if (silent && state == 0.0) {
        std::fill_n(out, n, 0.0f);
        return;
    }
    if (state == double(first) && std::all_of(in, in + n, [&](int32_t v) { return v == in[0]; })) {
        std::fill_n(out, n, first);  // settled on a constant input
        return;
    }
    lp[c].processTicks(in, s, out, n);
}

// ---------------------------------------------------------------------------------------------
// Process path

void ChipWrap::scheduleEvents(const std::vector<vantor::HDMIDIEvent>& events,
                              std::vector<RenderStep>& schedule, uint64_t frames, uint32_t grid,
                              uint64_t maxSegment, uint32_t shift)
{
    schedule.clear();
    shift = std::min(shift, 16u);
    const uint64_t total = frames << shift;
    const uint64_t segment = std::max<uint64_t>(maxSegment << shift, 1);
    const uint64_t last = total > 0 ? toGrid(total - 1, grid) : 0;

    // The deliveries first, in stable time order by insertion (std::stable_sort allocates); each
    // step's `frames` holds its delivery frame until the renders go in.
    for (const vantor::HDMIDIEvent& e : events) {
        uint64_t t = toGrid(uint64_t(e.sampleOffset) << shift, grid);
        if (t > total)
            t = last;
        RenderStep step;
        step.kind = RenderStep::kDeliver;
        step.event = e;
        step.event.sampleOffset = uint32_t(t);
        step.frames = t;
        size_t i = schedule.size();
        schedule.push_back(step);
        for (; i > 0 && schedule[i - 1].frames > t; --i)
            schedule[i] = schedule[i - 1];
        schedule[i] = step;
    }

    // Then the renders between them, filled in from the back.
    const size_t deliveries = schedule.size();
    uint64_t renders = 0, p = 0;
    for (const RenderStep& step : schedule) {
        renders += renderPieces(step.frames - p, segment);
        p = step.frames;
    }
    renders += renderPieces(total - p, segment);
    size_t w = deliveries + size_t(renders);
    schedule.resize(w);
    const auto putRenders = [&](uint64_t from, uint64_t to) {
        const uint64_t d = to - from;
        RenderStep r;
        if (d % segment) {
            r.frames = d % segment;
            schedule[--w] = r;
        }
        r.frames = segment;
        for (uint64_t n = d / segment; n > 0; --n)
            schedule[--w] = r;
    };
    uint64_t end = total;
    for (size_t i = deliveries; i-- > 0;) {
        RenderStep step = schedule[i];
        putRenders(step.frames, end);
        end = step.frames;
        step.frames = 0;
        schedule[--w] = step;
    }
    putRenders(0, end);
}

void ChipWrap::carry(const ModuleEvents* in)
{
    if (!in)
        return;
    const uint64_t count = std::min<uint64_t>(in->count, kMaxEvents);
    const auto append = [&](const vantor::HDMIDIEvent& e) {
        carried[carriedCount] = e;
        carried[carriedCount++].sampleOffset = 0;
    };
    uint64_t k = 0;
    for (; k < count && carriedCount < kMaxCarried; ++k)
        append(in->events[k]);
    if (k == count)
        return;

    // Full: the rest that end notes take the places of the latest events that do not, in one
    // pass from the back; any other event is dropped.
    droppedCount += count - k;
    size_t wanted = 0;
    for (uint64_t j = k; j < count; ++j)
        wanted += endsNotes(in->events[j]) ? 1 : 0;
    size_t removed = 0, w = carriedCount;
    for (size_t i = carriedCount; i-- > 0;) {
        if (removed < wanted && !endsNotes(carried[i]))
            ++removed;
        else
            carried[--w] = carried[i];
    }
    std::copy(carried.get() + w, carried.get() + carriedCount, carried.get());
    carriedCount -= removed;
    for (uint64_t j = k; j < count && carriedCount < kMaxCarried; ++j)
        if (endsNotes(in->events[j]))
            append(in->events[j]);
}

void ChipWrap::process(float** outputs, uint32_t frames, ModuleEvents* in, ModuleEvents* out,
                       vantor::SyncInfo* transport)
{
    const uint32_t channels = outputChannelCount;
    if (frames > 0) {
        if (!outputs || std::any_of(outputs, outputs + channels, [](float* p) { return !p; }))
            return;
        for (uint32_t c = 0; c < channels; ++c)
            std::fill_n(outputs[c], frames, 0.0f);
    }
    if (!isInitialised() || !controller)
        return;

    if (!mutex.tryLock()) {
        // Silent, but its events wait for the next block that gets the lock.
        carry(in);
    } else {
        // Carried events first, at frame 0.
        incoming.assign(carried.get(), carried.get() + carriedCount);
        carriedCount = 0;
        if (transport) {
            controller->setMediaParameter(kHostTempo, transport->tempo);
            controller->setMediaParameter(kHostPosition, transport->ppqPosition);
            controller->setMediaParameter(kHostBarStart, transport->barStart);
        }
        if (in) {
            const uint64_t count = std::min<uint64_t>(in->count, kMaxEvents);
            incoming.insert(incoming.end(), in->events, in->events + count);
        }
        scheduleEvents(incoming, schedule, frames, kGrid, kMaxSegment, 0);

        deferredCount = 0;
        uint64_t offset = 0;
        float* at[kMaxChannels];
        for (const RenderStep& step : schedule) {
            if (step.kind == RenderStep::kRender) {
                for (uint32_t c = 0; c < channels; ++c)
                    at[c] = outputs[c] + offset;
                repackager->pull(at, step.frames);
                offset += step.frames;
            } else if (step.kind == RenderStep::kDeliver) {
                if (outgoing.size() < kMaxEvents)
                    outgoing.push_back(step.event);
                deliver(step.event, frames);
            }
        }
        for (size_t i = 0; i < deferredCount; ++i)
            sendRawMessage(deferred[i].data());

        if (!outgoing.empty()) {
            if (out) {
                const size_t n = std::min(outgoing.size(), kMaxEvents);
                std::memcpy(out->events, outgoing.data(), n * sizeof(vantor::HDMIDIEvent));
                out->count = n;
            }
            outgoing.clear();
        }
        mutex.unlock();
    }

    if (frames > 0)
        for (uint32_t c = 0; c < channels; ++c)
            outputFilters[c].process(outputs[c], clampToInt(frames));
}

void ChipWrap::sendRawMessage(const uint8_t* bytes)
{
    if (synthBase)
        synthBase->processMidiMessage(bytes[0], bytes[1], bytes[2]);
}

void ChipWrap::deliver(const vantor::HDMIDIEvent& e, uint32_t blockFrames)
{
    if (isRawMessage(e)) {
        if (!synthBase)
            return;
        if (blockFrames > 0 || hostInterfaceVersion < kDeferRawHostVersion)
            sendRawMessage(e.midi);
        else if (deferredCount < deferred.size())
            deferred[deferredCount++] = {e.midi[0], e.midi[1], e.midi[2]};
        return;
    }
    const uint32_t low = e.kind & 0xFF;
    if (isControllerItem(e)) {
        dispatchControllerItem(e.index, e.value);
        return;
    }
    switch (e.kind) {
    case vantor::kEventNoteAux:
        if (synthController)
            synthController->noteAux(e.channel, uint32_t(e.noteId),
                                     uint16_t(uint32_t(e.index) - uint32_t(kSynthItems)), e.value);
        return;
    case vantor::kEventNoteOn:
        if (synthController)
            synthController->noteOn(e.channel, uint32_t(e.noteId), uint16_t(e.index), e.value,
                                    e.tuning);
        return;
    case vantor::kEventNoteOff:
        if (synthController)
            synthController->noteOff(e.channel, uint32_t(e.noteId), uint16_t(e.index));
        return;
    case vantor::kEventNoteExpression:
        if (synthController)
            synthController->setNoteExpression(e.channel, uint32_t(e.noteId), e.index, e.value);
        return;
    default:
        break;
    }
    if (low != 0 && synthBase)
        synthBase->processMidiMessage(uint8_t(low), uint8_t(e.index & 0x7F),
                                      uint8_t(PDowngradeToMIDI7(e.value) & 0x7F));
}

void ChipWrap::dispatchControllerItem(int32_t index, float value)
{
    if (index == kPitchBendItem) {
        if (!synthBase)
            return;
        uint8_t lsb = 0, msb = 0;
        PMIDICreateBytes(uint16_t(PDowngradeToMIDI14(value)), lsb, msb);
        synthBase->processMidiMessage(0xE0, lsb, msb);
    } else if (index < kOutputItems || index >= int32_t(kControllerItems)) {
        return;  // negative, unassigned or past the items
    } else if (index < kMediaItems) {
        setOutputParameter(uint64_t(index - kOutputItems), double(value));
    } else if (index < kLayerItems) {
        controller->setMediaParameter(uint32_t(index - kMediaItems), double(value));
    } else if (index < kSynthItems) {
        if (layerCommands)
            layerCommands->setLayerParameter(uint64_t(index - kLayerItems) >> 4, uint32_t(index & 15),
                                             value);
    } else if (index < kChipItems) {
        if (synthParams)
            synthParams->setParameter(uint16_t(index - kSynthItems), value);
    } else if (index < kSlotItems) {
        setChipParameter(uint32_t(index - kChipItems), value);
    } else if (synthBase) {
        synthBase->setAutomSlotParameter(uint64_t(index - kSlotItems) >> 4, uint32_t(index & 15),
                                         value);
    }
}

}  // namespace acme
