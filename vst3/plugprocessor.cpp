#include "vst3/plugprocessor.h"

#include "vst3/SamplerPluginConfig.h"
#include "vst3/SyncInfo.h"
#include "vst3/TarnWrapper.h"

#include "platform/ConsoleLogger.h"
#include "platform/PMIDI.h"
#include "platform/SaturatingCast.h"

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ustring.h>
#include <pluginterfaces/vst/ivstevents.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstnoteexpression.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace vantor {

TARNWrapperHolder::~TARNWrapperHolder()
{
    delete syncInfo;
    syncInfo = nullptr;
    delete wrapper;
    wrapper = nullptr;
}

namespace {

std::mutex& handleLock()
{
    static std::mutex lock;
    return lock;
}

std::set<const void*>& liveHandles()
{
    static std::set<const void*> handles;
    return handles;
}

void joinHandles(const PlugHandle* handle)
{
    const std::lock_guard<std::mutex> guard(handleLock());
    liveHandles().insert(handle);
}

void leaveHandles(const PlugHandle* handle)
{
    const std::lock_guard<std::mutex> guard(handleLock());
    liveHandles().erase(handle);
}

}  // namespace

bool isLivePlugHandle(const void* address)
{
    const std::lock_guard<std::mutex> guard(handleLock());
    return address && liveHandles().count(address) != 0;
}

}  // namespace vantor

namespace {

using vantor::HDMIDIEvent;

// The edit controller's class id.
const FUID kControllerUID(0x3B57678B, 0x49484734, 0xA76756FC, 0xF0F5EDA3);

// Parameter ids that become raw MIDI or the bypass switch.
constexpr ParamID kControlChangeFirst = 10000, kControlChangeEnd = 12048;
constexpr ParamID kChannelPressureFirst = 12048, kPitchBendFirst = 12064, kProgramChangeFirst = 12080;
constexpr ParamID kProgramChangeEnd = 12096;
constexpr ParamID kBypassId = 9000, kChannelPressure0 = 9001, kPitchBend0 = 9002;

// Note expression types with an index of their own on the engine side.
constexpr NoteExpressionTypeID kEngineExpression6 = 100000, kEngineExpression7 = 100001;

constexpr size_t kHeadVstW = 176, kHeadCcnK = 160;

// The start-up host callback: every opcode answered, nothing done.
int32_t startUpCallback(int32_t, void*, void*, int32_t, int32_t, int32_t, float, void*) { return 0; }

uint32_t clampOffset(int32 offset, uint32_t frames)
{
    if (offset <= 0 || frames == 0)
        return 0;
    return std::min(uint32_t(offset), frames - 1);
}

uint8_t midi7(double v) { return uint8_t(PDowngradeToMIDI7(v)); }

uint32_t readBE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t readLE32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }

// Reads exactly n bytes, in pieces the stream's int32 count can carry.
bool readExactly(IBStream* stream, uint8_t* to, uint64_t n)
{
    while (n > 0) {
        const int32 piece = int32(std::min<uint64_t>(n, uint64_t(1) << 30));
        int32 got = 0;
        if (stream->read(to, piece, &got) != kResultOk || got <= 0 || got > piece)
            return false;
        to += got;
        n -= uint64_t(got);
    }
    return true;
}

bool writeExactly(IBStream* stream, const void* from, uint64_t n)
{
    const auto* p = static_cast<const uint8_t*>(from);
    while (n > 0) {
        const int32 piece = int32(std::min<uint64_t>(n, uint64_t(1) << 30));
        int32 put = 0;
        if (stream->write(const_cast<uint8_t*>(p), piece, &put) != kResultOk || put <= 0 || put > piece)
            return false;
        p += put;
        n -= uint64_t(put);
    }
    return true;
}

}  // namespace

PlugProcessor::PlugProcessor()
{
    setControllerClass(kControllerUID);
    pending.reserve(kPendingCapacity);
    scratch.reserve(kPendingCapacity);
    vantor::joinHandles(this);
}

PlugProcessor::~PlugProcessor() { vantor::leaveHandles(this); }

FUnknown* PlugProcessor::createInstance(void*) { return static_cast<IAudioProcessor*>(new PlugProcessor); }

tresult PLUGIN_API PlugProcessor::initialize(FUnknown* context)
{
    if (AudioEffect::initialize(context) != kResultOk)
        return kResultFalse;

    if (FUnknownPtr<IHostApplication> host(context); host) {
        String128 name = {};
        if (host->getName(name) == kResultOk) {
            static constexpr char16_t kExcepted[] = u"Reason";
            useNoteIds = std::memcmp(name, kExcepted, sizeof kExcepted) != 0;
        }
    }

    delete wrapper;
    wrapper = new vantor::TARNWrapper(kPluginFormatVST3, vantor::kEngineSdkVersion,
                                      kSamplerPluginConfig.automatableCount);
    delete syncInfo;
    syncInfo = new vantor::SyncInfo{};
    syncInfo->setDefaults();
    syncInfo->prepare(256, 44100.0, nullptr, nullptr, true);

    wrapper->setInitialHostCallback(startUpCallback, this, vantor::kCallbackFlagsStartUp);
    if (!wrapper->init(44100, 1024, &kSamplerPluginConfig, false)) {
        delete wrapper;
        wrapper = nullptr;
        return kResultFalse;
    }
    wrapper->removeHostCallback(startUpCallback, this);
    if (kSamplerPluginConfig.hasAudioInput)
        addAudioInput(STR16("Stereo Input"), SpeakerArr::kStereo);
    addAudioOutput(STR16("Stereo Output"), SpeakerArr::kStereo);
    addEventInput(STR16("MIDI Input"), 16);
    return kResultOk;
}

tresult PLUGIN_API PlugProcessor::terminate()
{
    flushAudioLog();
    return AudioEffect::terminate();
}

tresult PLUGIN_API PlugProcessor::notify(IMessage* message)
{
    flushAudioLog();
    return AudioEffect::notify(message);
}

void PlugProcessor::flushAudioLog()
{
    if (wrapper)
        wrapper->flushAudioLog();
}

void PlugProcessor::connectToControllerMyselfNoThanks()
{
    IMessage* message = allocateMessage();
    if (!message)
        return;
    message->setMessageID("CaddisHandle");
    vantor::PlugHandle* handle = this;
    message->getAttributes()->setInt("No", int64(reinterpret_cast<intptr_t>(handle)));
    sendMessage(message);
    message->release();
}

tresult PLUGIN_API PlugProcessor::connect(IConnectionPoint* other)
{
    const tresult result = AudioEffect::connect(other);
    connectToControllerMyselfNoThanks();
    return result;
}

tresult PLUGIN_API PlugProcessor::disconnect(IConnectionPoint* other) { return AudioEffect::disconnect(other); }

tresult PlugProcessor::receiveText(const char*)
{
    connectToControllerMyselfNoThanks();
    return kResultOk;
}

tresult PLUGIN_API PlugProcessor::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                     SpeakerArrangement* outputs, int32 numOuts)
{
    if (!wrapper || numIns != 1 || numOuts != 1 || !inputs || !outputs || inputs[0] != outputs[0])
        return kResultFalse;
    uint32_t channels = 0;
    if (inputs[0] == SpeakerArr::kStereo) {
        vantor::logInfo("setBusArrangements kStereo");
        channels = 2;
    } else if (inputs[0] == SpeakerArr::kMono) {
        vantor::logInfo("setBusArrangements kMono");
        channels = 1;
    } else {
        vantor::logInfo("setBusArrangements other");
        return kResultFalse;
    }
    if (wrapper->setSettings(channels, channels, sampleRate, maxBlock))
        outputChannels = channels;
    return AudioEffect::setBusArrangements(inputs, numIns, outputs, numOuts);
}

tresult PLUGIN_API PlugProcessor::setupProcessing(ProcessSetup& setup)
{
    if (!wrapper)
        return kResultFalse;
    sampleRate = vantor::saturatingCast<uint64_t>(setup.sampleRate);
    maxBlock = uint64_t(std::max<int32>(setup.maxSamplesPerBlock, 0));
    vantor::logInfo("setupProcessing");
    if (!wrapper->resume(sampleRate, maxBlock, setup.processMode != kRealtime))
        return kResultFalse;
    return AudioEffect::setupProcessing(setup);
}

// A host may call this on its processing thread: it writes nothing.
tresult PLUGIN_API PlugProcessor::setProcessing(TBool) { return kResultOk; }

tresult PLUGIN_API PlugProcessor::setActive(TBool state)
{
    flushAudioLog();
    return AudioEffect::setActive(state);
}

uint32 PLUGIN_API PlugProcessor::getLatencySamples() { return wrapper ? wrapper->getLatencyInfo() : 0; }

// ---------------------------------------------------------------------------------------------
// Processing

void PlugProcessor::append(const HDMIDIEvent& record)
{
    ++pendingMade;
    if (pending.size() < kPendingCapacity)
        pending.push_back(record);
}

void PlugProcessor::appendRaw(uint8_t status, uint8_t data1, uint8_t data2, uint32_t offset)
{
    HDMIDIEvent r;
    r.kind = vantor::kEventMidi;
    r.midi[0] = status;
    r.midi[1] = data1 & 0x7F;
    r.midi[2] = data2 & 0x7F;
    r.midiFlag = 1;
    r.sampleOffset = offset;
    append(r);
}

void PlugProcessor::addParameterChanges(IParameterChanges* changes, uint32_t frames)
{
    if (!changes)
        return;
    const int32 count = changes->getParameterCount();
    for (int32 i = 0; i < count; ++i) {
        IParamValueQueue* queue = changes->getParameterData(i);
        if (!queue)
            continue;
        const int32 points = queue->getPointCount();
        int32 offset = 0;
        ParamValue value = 0.0;
        if (points <= 0 || queue->getPoint(points - 1, offset, value) != kResultOk || !std::isfinite(value))
            continue;
        const ParamID id = queue->getParameterId();
        const uint32_t at = clampOffset(offset, frames);
        const auto pressure = [&](uint32_t channel) { appendRaw(uint8_t(0xD0 | channel), midi7(value), 0, at); };
        const auto bend = [&](uint32_t channel) {
            const int n = PDowngradeToMIDI14(value * 2.0 - 1.0);
            appendRaw(uint8_t(0xE0 | channel), uint8_t(n & 0x7F), uint8_t((n >> 7) & 0x7F), at);
        };
        if (id >= kControlChangeFirst && id < kControlChangeEnd) {
            const uint32_t n = id - kControlChangeFirst;
            appendRaw(uint8_t(0xB0 | (n >> 7)), uint8_t(n & 0x7F), midi7(value), at);
        } else if (id >= kChannelPressureFirst && id < kPitchBendFirst) {
            pressure(id - kChannelPressureFirst);
        } else if (id >= kPitchBendFirst && id < kProgramChangeFirst) {
            bend(id - kPitchBendFirst);
        } else if (id >= kProgramChangeFirst && id < kProgramChangeEnd) {
            appendRaw(uint8_t(0xC0 | (id - kProgramChangeFirst)), midi7(value), 0, at);
        } else if (id == kBypassId) {
            bypass.store(value > 0.5, std::memory_order_relaxed);
        } else if (id == kChannelPressure0) {
            pressure(0);
        } else if (id == kPitchBend0) {
            bend(0);
        } else if (int64_t(id) != int64_t(editingParameter.load(std::memory_order_relaxed))) {
            wrapper->setAutomatableParameterValue(id, float(value), true);
        }
    }
}

bool PlugProcessor::addInputEvents(IEventList* list, uint32_t frames)
{
    if (!list)
        return false;
    bool made = false;
    const int32 count = list->getEventCount();
    for (int32 i = 0; i < count; ++i) {
        Event e = {};
        if (list->getEvent(i, e) != kResultOk)
            continue;
        const uint32_t at = clampOffset(e.sampleOffset, frames);
        HDMIDIEvent r;
        r.sampleOffset = at;
        switch (e.type) {
        case Event::kNoteOnEvent:
        case Event::kNoteOffEvent: {
            const bool on = e.type == Event::kNoteOnEvent;
            const int16 pitch = on ? e.noteOn.pitch : e.noteOff.pitch;
            const int16 channel = on ? e.noteOn.channel : e.noteOff.channel;
            const float velocity = on ? e.noteOn.velocity : e.noteOff.velocity;
            const int32 noteId = on ? e.noteOn.noteId : e.noteOff.noteId;
            if (pitch < 0 || pitch > 127)
                continue;
            if (useNoteIds && noteId != -1) {
                r.kind = on && velocity > 0.0f ? vantor::kEventNoteOn : vantor::kEventNoteOff;
                r.index = pitch;
                r.value = velocity;
                r.channel = uint16_t(channel);
                r.noteId = noteId;
                r.tuning = on ? e.noteOn.tuning : e.noteOff.tuning;
                append(r);
            } else {
                appendRaw(uint8_t((on ? 0x90 : 0x80) | (channel & 0xF)), uint8_t(pitch), midi7(velocity), at);
            }
            break;
        }
        case Event::kPolyPressureEvent:
            if (e.polyPressure.pitch < 0 || e.polyPressure.pitch > 127)
                continue;
            appendRaw(uint8_t(0xA0 | (e.polyPressure.channel & 0xF)), uint8_t(e.polyPressure.pitch),
                      midi7(e.polyPressure.pressure), at);
            break;
        case Event::kNoteExpressionValueEvent: {
            const NoteExpressionValueEvent& x = e.noteExpressionValue;
            if (x.typeId == kTextTypeID || x.typeId == kPhonemeTypeID)
                continue;
            r.kind = vantor::kEventNoteExpression;
            r.index = x.typeId == kEngineExpression6 ? 6 : x.typeId == kEngineExpression7 ? 7 : int32_t(x.typeId);
            r.value = x.typeId == kTuningTypeID ? float((x.value - 0.5) * 240.0 * 100.0) : float(x.value);
            r.noteId = x.noteId;
            append(r);
            break;
        }
        default:
            continue;
        }
        made = true;
    }
    return made;
}

void PlugProcessor::sortPending()
{
    const size_t n = pending.size();
    if (std::is_sorted(pending.begin(), pending.end(), vantor::midiSort))
        return;
    // Bottom-up merge sort between pending and scratch (both reserved: no allocation).
    scratch.resize(n);
    HDMIDIEvent* from = pending.data();
    HDMIDIEvent* to = scratch.data();
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
            std::merge(from + lo, from + mid, from + mid, from + hi, to + lo, vantor::midiSort);
        }
        std::swap(from, to);
    }
    if (from != pending.data())
        std::copy(from, from + n, pending.data());
    scratch.clear();
}

void PlugProcessor::movePendingToEvents()
{
    sortPending();
    if (pendingMade > vantor::kMaxBlockEvents)
        wrapper->audioLog().count(vantor::AudioLog::kTooManyEvents);
    const size_t room = vantor::kMaxBlockEvents - events.count;
    const size_t n = std::min(room, pending.size());
    std::copy(pending.begin(), pending.begin() + ptrdiff_t(n), events.events + events.count);
    events.count += uint32_t(n);
    pending.clear();
    pendingMade = 0;
}

void PlugProcessor::clearEvents()
{
    std::fill(events.events, events.events + events.count, HDMIDIEvent{});
    events.count = 0;
}

tresult PLUGIN_API PlugProcessor::process(ProcessData& data)
{
    const uint32_t frames = uint32_t(std::max<int32>(data.numSamples, 0));
    AudioBusBuffers* out = data.numOutputs > 0 ? data.outputs : nullptr;
    const auto silence = [&] {
        if (!out || !out->channelBuffers32)
            return;
        for (int32 c = 0; c < out->numChannels; ++c)
            if (out->channelBuffers32[c])
                std::fill_n(out->channelBuffers32[c], frames, 0.0f);
    };
    if (!wrapper) {
        silence();
        return kResultOk;
    }

    framesProcessed += frames;
    if (data.processContext && syncInfo) {
        vantor::fillSyncInfo(data.processContext, syncInfo);
        if (frames > 0)
            syncInfo->prepare(int32_t(std::min<uint32_t>(frames, 32767)), data.processContext->sampleRate, nullptr,
                              nullptr, true);
    }

    addParameterChanges(data.inputParameterChanges, frames);
    const bool fromInputEvents = addInputEvents(data.inputEvents, frames);

    float** inputs = data.numInputs > 0 && data.inputs ? data.inputs[0].channelBuffers32 : nullptr;
    // The engine writes outputChannels channels: a bus with fewer, or a null one, gets no frames.
    float** outputs = nullptr;
    if (frames > 0 && out && out->channelBuffers32 && out->numChannels >= int32(outputChannels) &&
        std::all_of(out->channelBuffers32, out->channelBuffers32 + outputChannels, [](float* c) { return c; }))
        outputs = out->channelBuffers32;
    const uint32_t engineFrames = outputs ? frames : 0;

    movePendingToEvents();
    if (!bypass.load(std::memory_order_relaxed) && engineFrames > 0) {
        wrapper->process(&events, inputs, outputs, syncInfo, engineFrames);
        clearEvents();
        return kResultOk;
    }
    silence();
    for (uint32_t i = 0; i < events.count; ++i)
        events.events[i].sampleOffset = 0;
    if (!fromInputEvents) {
        wrapper->process(&events, inputs, outputs, nullptr, 0);
        clearEvents();
    }
    return kResultOk;
}

// ---------------------------------------------------------------------------------------------
// State

tresult PLUGIN_API PlugProcessor::getState(IBStream* stream)
{
    flushAudioLog();
    if (!stream || !wrapper)
        return kResultFalse;
    const void* chunk = nullptr;
    uint32_t length = wrapper->getChunk(&chunk);
    if (!chunk)
        length = 0;
    uint8_t head[8];
    const uint32_t flag = bypass.load(std::memory_order_relaxed) ? 1 : 0;
    for (int i = 0; i < 4; ++i) {
        head[i] = uint8_t(flag >> (8 * i));
        head[4 + i] = uint8_t(length >> (8 * i));
    }
    if (!writeExactly(stream, head, sizeof head))
        return kResultFalse;
    return writeExactly(stream, chunk, length) ? kResultOk : kResultFalse;
}

tresult PLUGIN_API PlugProcessor::setState(IBStream* stream)
{
    flushAudioLog();
    vantor::PlugState loaded;
    if (!stream || !wrapper || !vantor::readPlugState(stream, loaded))
        return kResultFalse;
    if (!wrapper->setChunk(loaded.chunk.data(), uint32_t(loaded.chunk.size())))
        return kResultFalse;
    if (loaded.hasBypass)
        bypass.store(loaded.bypass, std::memory_order_relaxed);
    return kResultOk;
}

namespace vantor {

namespace {

bool readChunk(IBStream* stream, int64_t available, uint64_t length, PlugState& state)
{
    // A length beyond what the stream still holds is corrupt: nothing is allocated for it.
    if (length == 0 || available < 0 || length > uint64_t(available) || length > std::numeric_limits<uint32_t>::max())
        return false;
    logInfo("Processor load chunk");
    state.chunk.assign(length, 0);
    return readExactly(stream, state.chunk.data(), length);
}

}  // namespace

bool readPlugState(IBStream* stream, PlugState& state)
{
    state = PlugState{};
    if (!stream)
        return false;
    int64 size = 0, position = 0;
    if (stream->seek(0, IBStream::kIBSeekEnd, &size) != kResultOk || size < 0 ||
        stream->seek(0, IBStream::kIBSeekSet, &position) != kResultOk || position != 0)
        return false;

    uint8_t head[kHeadVstW];
    if (size > int64(kHeadVstW)) {
        if (!readExactly(stream, head, kHeadVstW))
            return false;
        if (std::memcmp(head, "VstW", 4) == 0 && std::memcmp(head + 16, "CcnK", 4) == 0 &&
            int32_t(readBE32(head + 28)) > 0) {
            state.hasBypass = true;
            state.bypass = int32_t(readLE32(head + 12)) > 0;
            return readChunk(stream, size - int64(kHeadVstW), uint64_t(size) - kHeadVstW, state);
        }
        if (stream->seek(0, IBStream::kIBSeekSet, &position) != kResultOk)
            return false;
    }
    if (size > int64(kHeadCcnK)) {
        if (!readExactly(stream, head, kHeadCcnK))
            return false;
        if (std::memcmp(head, "CcnK", 4) == 0)
            return readChunk(stream, size - int64(kHeadCcnK), readBE32(head + 156), state);
        if (stream->seek(0, IBStream::kIBSeekSet, &position) != kResultOk)
            return false;
    }
    if (!readExactly(stream, head, 8))
        return false;
    state.hasBypass = true;
    state.bypass = int32_t(readLE32(head)) > 0;
    return readChunk(stream, size - 8, readLE32(head + 4), state);
}

}  // namespace vantor
