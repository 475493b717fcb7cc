#pragma once
// The class layer behind the module's C boundary: the engine reaches an instance through its
// entry record, whose dispatcher and process function turn opcodes into virtual calls.

#include "abi/ModuleABI.h"
#include "synth/NoteTuningSource.h"

#include <cstdint>

class ParameterInfo;

namespace vantor::EnginePluginSDK {

class Plugin
{
public:
    explicit Plugin(PluginHostRecord* host);
    virtual ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Opcodes 0 and 19: the path of the chip database (may be null), an unused pointer and the
    // engine's interface version (0 for opcode 0).
    virtual bool init(const char* path, void* argument, uint32_t hostVersion) = 0;

    PluginEntryRecord* getEntryRecord() { return &entry; }
    PluginHostRecord* getHostRecord() const { return host; }

    // Calls the host function when there is a host record; the answer comes back through b.
    void callHost(int32_t op, intptr_t a, void* b);
    // Host opcode 12 with a = 48.
    void sendHostMidi(HostMidiOutRecord* record);

protected:
    PluginHostRecord* host;  // engine-owned, never freed here
    PluginEntryRecord entry;
};

class EffectPlugin : public Plugin
{
public:
    explicit EffectPlugin(PluginHostRecord* host);

    virtual bool engineCommand(uint32_t op, intptr_t a);
    virtual bool resetVoices(intptr_t x, intptr_t y);
    // Copies the record field by field.
    virtual void setAudioSettings(const AudioSettingsRecord* settings);
    // Count 0 and null by default.
    virtual const ParameterInfo* getParameterDescriptors(uint64_t* count);
    // Writes 0 (configuration not accepted) by default.
    virtual void queryChannelConfig(const void* request, uint32_t* accepted);
    // Flag 1, +0x08 word A, +0x04 word B.
    virtual void getProcessInfo(void* record, uint32_t* flag);
    // Fills a 65544-byte controller map.
    virtual void getControllerMap(void* destination) = 0;
    virtual void process(float** outputs, uint32_t frames, ModuleEvents* incoming,
                         ModuleEvents* outgoing, vantor::SyncInfo* transport) = 0;
    virtual int32_t handleExtensionCommand(ExtensionCommandRecord* record);
    virtual void receiveSysEx(const HostMidiOutRecord* record);
    virtual void onHostOpcode27(uint32_t op, intptr_t a);
    virtual void onHostOpcode28(uint32_t op, intptr_t a);
    virtual void setDataFolder(const char* folder);
    virtual int64_t loadFile(int64_t kind, const char* path);
    virtual int64_t saveFile(int64_t kind, void* pointer);
    virtual void handleCommand(MasterSettingsCommand* command) = 0;

    const AudioSettingsRecord& getAudioSettings() const { return audioSettings; }
    uint32_t getFlagsWord() const { return flagsWord; }
    uint32_t getInputChannelCount() const { return inputChannelCount; }
    uint32_t getOutputChannelCount() const { return outputChannelCount; }
    uint32_t getWord5() const { return word5; }
    uint32_t getWord6() const { return word6; }
    uint32_t getProcessInfoA() const { return processInfoA; }
    uint32_t getProcessInfoB() const { return processInfoB; }

protected:
    AudioSettingsRecord audioSettings;
    // Reported through opcodes 7, 3, 4, 5, 6 and 18.
    uint32_t flagsWord = 0;
    uint32_t inputChannelCount = 0;
    uint32_t outputChannelCount = 0;
    uint32_t word5 = 0;
    uint32_t word6 = 0;
    uint32_t processInfoA = 0;
    uint32_t processInfoB = 0;
};

class InstrumentPlugin : public EffectPlugin, public ZRS::NoteTuningSource
{
public:
    explicit InstrumentPlugin(PluginHostRecord* host);

    // Host opcode 13; 0.0 when the host leaves the slot alone or there is no host.
    double noteFrequency(uint8_t note) override;
    // Host opcode 14 with an 8-byte slot holding 0.0.
    double noteTuningOffset(uint8_t note) override;
    // Host opcode 14 with an 8-byte slot holding 1; its first byte is the answer.
    bool isNoteEnabled(uint8_t note) override;
};

// The entry record's functions.
void dispatchPluginOpcode(PluginEntryRecord* entry, uint32_t op, intptr_t a, void* b);
void processTrampoline(PluginEntryRecord* entry, float** outputs, int32_t frames,
                       ModuleEvents* incoming, ModuleEvents* outgoing,
                       vantor::SyncInfo* transport);

// Supplied once by each module target: builds the instrument called `name`, or returns null for
// a name it does not know. May throw; the exports catch it.
Plugin* createModuleInstrument(PluginHostRecord* host, const char* name);

}  // namespace vantor::EnginePluginSDK
