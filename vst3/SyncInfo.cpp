#include "vst3/SyncInfo.h"

#include <pluginterfaces/vst/ivstprocesscontext.h>

namespace vantor {

void fillSyncInfo(const Steinberg::Vst::ProcessContext* context, SyncInfo* info)
{
    using Context = Steinberg::Vst::ProcessContext;
    if (!context || !info)
        return;
    const auto state = context->state;
    const auto has = [state](uint32_t flag) { return (state & flag) != 0; };
    info->samplePosition = double(context->projectTimeSamples);
    info->sampleRate = context->sampleRate;
    info->systemTime = has(Context::kSystemTimeValid) ? double(context->systemTime) : 0.0;
    info->ppqPosition = has(Context::kProjectTimeMusicValid) ? context->projectTimeMusic : 0.0;
    info->tempo = has(Context::kTempoValid) ? context->tempo : 120.0;
    info->barStart = has(Context::kBarPositionValid) ? context->barPositionMusic : 0.0;
    const bool cycle = has(Context::kCycleValid);
    info->loopStart = cycle ? context->cycleStartMusic : 0.0;
    info->loopEnd = cycle ? context->cycleEndMusic : 0.0;
    const bool signature = has(Context::kTimeSigValid);
    info->timeSigNumerator = signature ? context->timeSigNumerator : 4;
    info->timeSigDenominator = signature ? context->timeSigDenominator : 4;
    info->samplesToNextClock = has(Context::kClockValid) ? context->samplesToNextClock : 0xFFFFFF;
    info->playing = has(Context::kPlaying);
    info->recording = has(Context::kRecording);
    info->looping = has(Context::kCycleActive);
    info->diff = 0;
}

}  // namespace vantor
