#include "shims/engine/Engine.h"

#include "platform/SaturatingCast.h"
#include "support/WaveFileWriter.h"

#include <dlfcn.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>

namespace vantor::engine {

namespace {

constexpr size_t kMaxCopied = 65536;

void copyBytes(std::vector<uint8_t>& to, const void* from, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(from);
    to.assign(p, p + n);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ModuleLibrary

std::unique_ptr<ModuleLibrary> ModuleLibrary::open(const std::string& path, std::string& error)
{
    std::unique_ptr<ModuleLibrary> m(new ModuleLibrary());
    m->path = path;
    dlerror();
    // Never unloaded: the module's process-wide tables stay reachable until the process ends.
    m->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m->handle) {
        const char* why = dlerror();
        error = "cannot load module " + path + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    struct
    {
        const char* name;
        void** slot;
    } const symbols[] = {
        {kExportGetNumPlugins, reinterpret_cast<void**>(&m->getNumPlugins)},
        {kExportFillPluginInfo, reinterpret_cast<void**>(&m->fillInfo)},
        {kExportNewInstance, reinterpret_cast<void**>(&m->newInstance)},
        {kExportDeleteInstance, reinterpret_cast<void**>(&m->deleteInstance)},
    };
    for (const auto& s : symbols) {
        *s.slot = dlsym(m->handle, s.name);
        if (!*s.slot) {
            error = "module " + path + " lacks the export " + s.name;
            return nullptr;
        }
    }
    return m;
}

std::unique_ptr<ModuleLibrary> ModuleLibrary::linked(const std::string& name,
                                                     GetNumTarnPluginsFunction getNumPlugins,
                                                     FillTarnPluginInfoFunction fillInfo,
                                                     NewInstanceFunction newInstance,
                                                     DeleteInstanceFunction deleteInstance)
{
    if (!getNumPlugins || !fillInfo || !newInstance || !deleteInstance)
        return nullptr;
    std::unique_ptr<ModuleLibrary> m(new ModuleLibrary());
    m->path = name;
    m->getNumPlugins = getNumPlugins;
    m->fillInfo = fillInfo;
    m->newInstance = newInstance;
    m->deleteInstance = deleteInstance;
    return m;
}

ModuleLibrary::~ModuleLibrary()
{
    if (handle)
        dlclose(handle);
}

int32_t ModuleLibrary::pluginCount() const
{
    return getNumPlugins();
}

bool ModuleLibrary::pluginInfo(int32_t index, std::vector<uint8_t>& info) const
{
    info.assign(kPluginInfoBufferSize, 0);
    return fillInfo(index, info.data()) == 0;
}

std::string ModuleLibrary::identifier(int32_t index) const
{
    std::vector<uint8_t> info;
    if (!pluginInfo(index, info))
        return {};
    const char* text = reinterpret_cast<const char*>(info.data());
    return std::string(text, strnlen(text, sizeof(PluginInfoRecord::identifier)));
}

// ---------------------------------------------------------------------------------------------
// Instance

Instance::Instance(const ModuleLibrary& m, const EngineConfig& c)
    : module(m),
      config(c),
      incomingBlock(std::make_unique<ModuleEvents>()),
      outgoingBlock(std::make_unique<ModuleEvents>()),
      controllerMap(std::make_unique<ModuleEvents>())
{
    hostRecord.record.function = &Instance::hostFunction;
    hostRecord.owner = this;
}

Instance::~Instance()
{
    if (entry)
        module.getDeleteInstance()(entry);
    entry = nullptr;
    // The blocks the module may have kept pointers to go only now, with the members.
}

bool Instance::create(const std::string& identifier, std::string& error)
{
    if (entry) {
        error = "instance already created";
        return false;
    }
    entry = module.getNewInstance()(identifier.c_str(), &hostRecord.record);
    if (!entry) {
        error = "module " + module.getPath() + " refused the instrument " + identifier;
        return false;
    }
    if (entry->version != kEngineSDKVersion || !entry->dispatcher || !entry->process) {
        error = "module " + module.getPath() + " returned an unusable entry record";
        module.getDeleteInstance()(entry);
        entry = nullptr;
        return false;
    }
    return true;
}

bool Instance::start(std::string& error)
{
    if (!entry) {
        error = "no instance";
        return false;
    }
    if (config.blockSize == 0 || config.blockSize > kMaxBlockSize || !(config.sampleRate > 0.0) ||
        !std::isfinite(config.sampleRate)) {
        error = "bad audio settings";
        return false;
    }
    sendAudioSettings();

    initRecord = PluginInitRecord();
    initRecord.path = config.chipDatabasePath.empty() ? nullptr : config.chipDatabasePath.c_str();
    initRecord.hostVersion = config.hostVersion;
    dispatch(kOpInitWithRecord, reinterpret_cast<intptr_t>(&initRecord), nullptr);
    initResult = initRecord.result;
    if (!config.dataFolder.empty())
        dispatch(kOpSetDataFolder, reinterpret_cast<intptr_t>(config.dataFolder.c_str()), nullptr);
    sendMasterSettings(kMasterPolyphony, double(config.polyphony));

    dispatch(kOpGetInputCount, 0, &inputCount);
    dispatch(kOpGetOutputCount, 0, &outputCount);
    dispatch(kOpGetFlags, 0, &flags);
    descriptors = nullptr;
    dispatch(kOpGetParameterDescriptors, reinterpret_cast<intptr_t>(&descriptors), &descriptorCount);
    *controllerMap = ModuleEvents();
    dispatch(kOpGetControllerMap, reinterpret_cast<intptr_t>(controllerMap.get()), nullptr);
    readControllerMap();
    ChannelConfigRequest request;
    request.outputChannels = 2;
    dispatch(kOpQueryChannelConfig, reinterpret_cast<intptr_t>(&request), &channelConfigAccepted);
    processInfo = ProcessInfoRecord();
    dispatch(kOpGetProcessInfo, reinterpret_cast<intptr_t>(&processInfo), &processInfoFlag);

    if (outputCount > kMaxChannels) {
        error = "module reports " + std::to_string(outputCount) + " outputs";
        return false;
    }
    channelCount = std::max<uint32_t>(2, outputCount);
    buffers.assign(channelCount, std::vector<float>(config.blockSize, 0.0f));
    for (uint32_t c = 0; c < channelCount; ++c)
        channelPointers[c] = buffers[c].data();
    started = true;
    handOverBlocks(restoring);
    return true;
}

void Instance::sendAudioSettings()
{
    const double rate = config.sampleRate;
    audioSettings.sampleRate = rate;
    audioSettings.sampleRateInt = vantor::saturatingCast<uint32_t>(rate);
    audioSettings.samplePeriod = 1.0 / rate;
    audioSettings.blockSize = config.blockSize;
    audioSettings.blockDuration = double(config.blockSize) / rate;
    audioSettings.inverseBlockSize = 1.0 / double(config.blockSize);
    dispatch(kOpAudioSettingsChanged, reinterpret_cast<intptr_t>(&audioSettings), nullptr);
}

void Instance::readControllerMap()
{
    const uint64_t n = std::min<uint64_t>(controllerMap->count, kMaxModuleEvents);
    for (uint64_t i = 0; i < n; ++i) {
        const vantor::HDMIDIEvent& e = controllerMap->events[i];
        if (e.kind == kEventControllerItem && e.index >= 0 && uint64_t(e.index) < kControllerItems)
            itemValues[size_t(e.index)] = e.value;
    }
}

void Instance::dispatch(uint32_t op, intptr_t a, void* b)
{
    if (!entry)
        return;
    if (log)
        std::fprintf(log, "dispatch op=%" PRIu32 " a=0x%" PRIxPTR " b=%p\n", op, uintptr_t(a), b);
    entry->dispatcher(entry, op, a, b);
}

void Instance::sendMasterSettings(int32_t kind, double value)
{
    MasterSettingsCommand command;
    command.kind = kind;
    command.integerValue = uint64_t(vantor::saturatingCast<int64_t>(value));
    command.value = value;
    dispatch(kOpMasterSettings, reinterpret_cast<intptr_t>(&command), nullptr);
}

int64_t Instance::process(uint32_t frames, std::vector<vantor::HDMIDIEvent> events)
{
    if (!started || frames > config.blockSize)
        return -1;
    std::stable_sort(events.begin(), events.end(),
                     [](const vantor::HDMIDIEvent& x, const vantor::HDMIDIEvent& y) {
                         return x.sampleOffset < y.sampleOffset;
                     });
    uint64_t n = 0;
    for (const vantor::HDMIDIEvent& e : events) {
        if (e.sampleOffset >= std::max<uint32_t>(frames, 1) || n == kMaxModuleEvents)
            continue;
        incomingBlock->events[n++] = e;
    }
    incomingBlock->count = n;
    outgoingBlock->count = 0;

    transport = vantor::SyncInfo();
    const double seconds = double(framesProcessed) / config.sampleRate;
    transport.tempo = config.tempo;
    transport.ppqPosition = seconds * config.tempo / 60.0;
    transport.barStart = std::floor(transport.ppqPosition / 4.0) * 4.0;

    for (uint32_t c = 0; c < channelCount; ++c)
        std::fill(buffers[c].begin(), buffers[c].end(), 0.0f);
    entry->process(entry, channelPointers, int32_t(frames), incomingBlock.get(), outgoingBlock.get(),
                   &transport);

    outgoing.clear();
    const uint64_t back = std::min<uint64_t>(outgoingBlock->count, kMaxModuleEvents);
    for (uint64_t i = 0; i < back; ++i) {
        const vantor::HDMIDIEvent& e = outgoingBlock->events[i];
        outgoing.push_back(e);
        if (e.kind == kEventControllerItem && e.index >= 0 && uint64_t(e.index) < kControllerItems)
            itemValues[size_t(e.index)] = e.value;
    }
    if (log && (n > 0 || back > 0)) {
        std::fprintf(log, "block frame=%" PRIu64 " frames=%" PRIu32 " in=%" PRIu64 " out=%" PRIu64 "\n",
                     framesProcessed, frames, n, back);
        for (const vantor::HDMIDIEvent& e : outgoing)
            std::fprintf(log, "  out kind=0x%" PRIx32 " index=%" PRId32 " value=%g offset=%" PRIu32 "\n",
                         e.kind, e.index, double(e.value), e.sampleOffset);
    }
    framesProcessed += frames;
    return int64_t(n);
}

void Instance::registerBlock(const void* block, size_t size)
{
    blocks.emplace_back(block, size);
}

intptr_t Instance::hostFunction(PluginHostRecord* host, int32_t op, intptr_t a, void* b)
{
    if (host)
        reinterpret_cast<HostRecord*>(host)->owner->onHostCall(op, a, b);
    return 0;
}

void Instance::onHostCall(int32_t op, intptr_t a, void* b)
{
    if (quietHostCalls) {
        onQuietHostCall(op, a, b);
        return;
    }
    HostCall call;
    call.op = op;
    call.a = a;
    call.b = reinterpret_cast<uintptr_t>(b);
    switch (op) {
    case kHostNotify:
        if (!b)
            break;
        if (SharedBlock* shared = sharedBlockAt(b)) {
            onBlockNotified(*shared, a, call);
            break;
        }
        if (auto it = std::find_if(blocks.begin(), blocks.end(),
                                   [b](const auto& block) { return block.first == b; });
            it != blocks.end())
            copyBytes(call.payload, b, it->second);
        else if (a == 1 || a == 2)
            copyBytes(call.payload, b, 32);  // every shared block starts with a 32-byte header
        break;
    case kHostRangeChanged:
        if (b)
            copyBytes(call.payload, b, 16);
        break;
    case kHostDisplayInfo:
        if (b && a > 0)
            copyBytes(call.payload, b, std::min(size_t(a), kMaxCopied));
        break;
    case kHostMidiOut:
        if (b) {
            copyBytes(call.payload, b, sizeof(HostMidiOutRecord));
            HostMidiOutRecord record;
            std::memcpy(&record, b, sizeof record);
            if (record.kind != 0 && record.sysex && record.size > 0)
                copyBytes(call.extra, record.sysex, size_t(std::min<uint64_t>(record.size, kMaxCopied)));
        }
        break;
    case kHostNoteFrequency:
        call.answer = config.a4 * std::exp2((double(int32_t(a)) - 69.0) / 12.0);
        if (b)
            std::memcpy(b, &call.answer, sizeof call.answer);
        break;
    default:  // op 14 and the rest: recorded, never answered
        break;
    }
    if (log) {
        std::fprintf(log, "host op=%" PRId32 " a=%" PRIdPTR " b=%p", op, a, b);
        if (op == kHostNoteFrequency)
            std::fprintf(log, " answer=%.6f", call.answer);
        if (call.blockId != 0)
            logBlockCall(call);
        std::fputc('\n', log);
    }
    hostCalls.push_back(std::move(call));
}

// ---------------------------------------------------------------------------------------------
// WavSink

WavSink::WavSink(const std::string& path, uint32_t sampleRate)
    : writer(std::make_unique<WaveFileWriter>(path))
{
    ok = writer->isOpen() && writer->beginData(sampleRate, 2, 32, 1) == 1;
}

WavSink::~WavSink() = default;

bool WavSink::write(const float* left, const float* right, uint64_t frames)
{
    if (!ok)
        return false;
    ok = writer->writeInterleavedStereo(left, right, frames) == frames;
    return ok;
}

bool WavSink::finish()
{
    return writer->finalize() && ok;
}

}  // namespace vantor::engine
