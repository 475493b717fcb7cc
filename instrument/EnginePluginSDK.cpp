#include "instrument/EnginePluginSDK.h"

#include "platform/DenormalMode.h"

#include <cstring>

namespace vantor::EnginePluginSDK {

namespace {

template <typename T>
T readAt(const void* record, size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

template <typename T>
void writeAt(void* record, size_t offset, T value)
{
    std::memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

EffectPlugin* effectOf(PluginEntryRecord* entry)
{
    if (!entry || !entry->object)
        return nullptr;
    return dynamic_cast<EffectPlugin*>(static_cast<Plugin*>(entry->object));
}

// Records of opcodes 3 to 7 and the out-words of 15, 20, 25, 26 come in b; a null b is ignored.
void putWord(void* b, uint32_t value)
{
    if (b)
        writeAt<uint32_t>(b, 0, value);
}

void dispatch(Plugin& plugin, EffectPlugin* effect, uint32_t op, intptr_t a, void* b)
{
    auto* record = reinterpret_cast<void*>(a);
    if (op == kOpInit) {
        (void)plugin.init(static_cast<const char*>(record), b, 0);
        return;
    }
    if (op == kOpInitWithRecord) {
        if (!record)
            return;
        const bool ok = plugin.init(readAt<const char*>(record, offsetof(PluginInitRecord, path)),
                                    readAt<void*>(record, offsetof(PluginInitRecord, argument)),
                                    readAt<uint32_t>(record, offsetof(PluginInitRecord, hostVersion)));
        writeAt<uint64_t>(record, offsetof(PluginInitRecord, result), ok ? 1 : 0);
        return;
    }
    if (!effect)
        return;
    switch (op) {
    case kOpSetAudioSettings:
    case kOpAudioSettingsChanged:
        if (record)
            effect->setAudioSettings(static_cast<const AudioSettingsRecord*>(record));
        break;
    case kOpGetInputCount:
        putWord(b, effect->getInputChannelCount());
        break;
    case kOpGetOutputCount:
        putWord(b, effect->getOutputChannelCount());
        break;
    case kOpGetWord5:
        putWord(b, effect->getWord5());
        break;
    case kOpGetWord6:
        putWord(b, effect->getWord6());
        break;
    case kOpGetFlags:
        putWord(b, effect->getFlagsWord());
        break;
    case kOpEngineCommand:
        (void)effect->engineCommand(8, a);
        break;
    case kOpResetVoices9:
        (void)effect->resetVoices(9, a);
        break;
    case kOpGetControllerMap:
        if (record)
            effect->getControllerMap(record);
        break;
    case kOpResetVoices:
        (void)effect->resetVoices(a, reinterpret_cast<intptr_t>(b));
        break;
    case kOpGetParameterDescriptors: {
        if (!b)
            break;
        putWord(b, 0);
        uint64_t count = 0;
        const ParameterInfo* descriptors = effect->getParameterDescriptors(&count);
        if (descriptors && record) {
            putWord(b, uint32_t(count));
            writeAt<const ParameterInfo*>(record, 0, descriptors);
        }
        break;
    }
    case kOpQueryChannelConfig:
        effect->queryChannelConfig(record, static_cast<uint32_t*>(b));
        break;
    case kOpGetProcessInfo:
        effect->getProcessInfo(record, static_cast<uint32_t*>(b));
        break;
    case kOpExtensionCommand:
        if (b)
            putWord(b, uint32_t(effect->handleExtensionCommand(
                           static_cast<ExtensionCommandRecord*>(record))));
        break;
    case kOpMasterSettings:
        if (record)
            effect->handleCommand(static_cast<MasterSettingsCommand*>(record));
        break;
    case kOpReceiveSysEx:
        if (record)
            effect->receiveSysEx(static_cast<const HostMidiOutRecord*>(record));
        break;
    case kOpSetDataFolder:
        if (record)
            effect->setDataFolder(static_cast<const char*>(record));
        break;
    case kOpSaveFile:
        if (b)
            (void)effect->saveFile(int64_t(readAt<int32_t>(b, 0)), record);
        break;
    case kOpLoadFile:
        if (b)
            (void)effect->loadFile(int64_t(readAt<int32_t>(b, 0)), static_cast<const char*>(record));
        break;
    case kOpHost27:
        effect->onHostOpcode27(27, a);
        break;
    case kOpHost28:
        effect->onHostOpcode28(28, a);
        break;
    default:  // 1, 13, 14, 16, 22 and everything above 28
        break;
    }
}

}  // namespace

Plugin::Plugin(PluginHostRecord* hostRecord) : host(hostRecord)
{
    entry.version = kEngineSDKVersion;
    entry.padding = 0;
    entry.dispatcher = &dispatchPluginOpcode;
    entry.process = &processTrampoline;
    entry.reserved = nullptr;
    entry.object = this;
}

Plugin::~Plugin() = default;

void Plugin::callHost(int32_t op, intptr_t a, void* b)
{
    if (host && host->function)
        (void)host->function(host, op, a, b);
}

void Plugin::sendHostMidi(HostMidiOutRecord* record)
{
    callHost(kHostMidiOut, intptr_t(sizeof(HostMidiOutRecord)), record);
}

EffectPlugin::EffectPlugin(PluginHostRecord* hostRecord) : Plugin(hostRecord) {}

bool EffectPlugin::engineCommand(uint32_t, intptr_t) { return false; }

bool EffectPlugin::resetVoices(intptr_t, intptr_t) { return false; }

void EffectPlugin::setAudioSettings(const AudioSettingsRecord* s)
{
    if (!s)
        return;
    audioSettings.sampleRate = s->sampleRate;
    audioSettings.sampleRateInt = s->sampleRateInt;
    audioSettings.samplePeriod = s->samplePeriod;
    audioSettings.blockSize = s->blockSize;
    audioSettings.blockDuration = s->blockDuration;
    audioSettings.inverseBlockSize = s->inverseBlockSize;
    std::memcpy(audioSettings.flags, s->flags, sizeof audioSettings.flags);
}

const ParameterInfo* EffectPlugin::getParameterDescriptors(uint64_t* count)
{
    if (count)
        *count = 0;
    return nullptr;
}

void EffectPlugin::queryChannelConfig(const void*, uint32_t* accepted)
{
    if (accepted)
        *accepted = 0;
}

void EffectPlugin::getProcessInfo(void* record, uint32_t* flag)
{
    if (flag)
        *flag = 1;
    if (record) {
        writeAt<uint32_t>(record, offsetof(ProcessInfoRecord, wordA), processInfoA);
        writeAt<uint32_t>(record, offsetof(ProcessInfoRecord, wordB), processInfoB);
    }
}

int32_t EffectPlugin::handleExtensionCommand(ExtensionCommandRecord*) { return 0; }
void EffectPlugin::receiveSysEx(const HostMidiOutRecord*) {}
void EffectPlugin::onHostOpcode27(uint32_t, intptr_t) {}
void EffectPlugin::onHostOpcode28(uint32_t, intptr_t) {}
void EffectPlugin::setDataFolder(const char*) {}
int64_t EffectPlugin::loadFile(int64_t, const char*) { return 0; }
int64_t EffectPlugin::saveFile(int64_t, void*) { return 0; }

InstrumentPlugin::InstrumentPlugin(PluginHostRecord* hostRecord) : EffectPlugin(hostRecord) {}

double InstrumentPlugin::noteFrequency(uint8_t note)
{
    double slot = 0.0;
    callHost(kHostNoteFrequency, intptr_t(note), &slot);
    return slot;
}

double InstrumentPlugin::noteTuningOffset(uint8_t note)
{
    double slot = 0.0;
    callHost(kHostNoteTuning, intptr_t(note), &slot);
    return slot;
}

bool InstrumentPlugin::isNoteEnabled(uint8_t note)
{
    uint64_t slot = 1;
    callHost(kHostNoteTuning, intptr_t(note), &slot);
    uint8_t first;
    std::memcpy(&first, &slot, 1);
    return first != 0;
}

void dispatchPluginOpcode(PluginEntryRecord* entry, uint32_t op, intptr_t a, void* b)
{
    try {
        if (!entry || !entry->object)
            return;
        auto* plugin = static_cast<Plugin*>(entry->object);
        dispatch(*plugin, dynamic_cast<EffectPlugin*>(plugin), op, a, b);
    } catch (...) {
        // Nothing crosses the C boundary.
    }
}

void processTrampoline(PluginEntryRecord* entry, float** outputs, int32_t frames,
                       ModuleEvents* incoming, ModuleEvents* outgoing, vantor::SyncInfo* transport)
{
    // The caller's floating-point mode is restored on return.
    const ScopedFlushDenormals noDenormals;
    try {
        if (EffectPlugin* effect = effectOf(entry))
            effect->process(outputs, frames < 0 ? 0u : uint32_t(frames), incoming, outgoing,
                            transport);
    } catch (...) {
        // Nothing crosses the C boundary.
    }
}

}  // namespace vantor::EnginePluginSDK
