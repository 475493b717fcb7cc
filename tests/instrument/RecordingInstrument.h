#pragma once
// The instrument behind this test executable's export layer: it records every virtual call that
// reaches it and otherwise keeps the defaults of the class layer.

#include "instrument/EnginePluginSDK.h"

#include <cstdint>
#include <string>
#include <vector>

struct RecordedCall
{
    std::string name;
    intptr_t a = 0;
    intptr_t b = 0;
    uint32_t u = 0;

    bool operator==(const RecordedCall&) const = default;
};

class RecordingInstrument : public vantor::EnginePluginSDK::InstrumentPlugin
{
public:
    explicit RecordingInstrument(PluginHostRecord* host);
    ~RecordingInstrument() override;

    bool init(const char* path, void* argument, uint32_t hostVersion) override;
    bool engineCommand(uint32_t op, intptr_t a) override;
    bool resetVoices(intptr_t x, intptr_t y) override;
    void setAudioSettings(const AudioSettingsRecord* settings) override;
    const ParameterInfo* getParameterDescriptors(uint64_t* count) override;
    void queryChannelConfig(const void* request, uint32_t* accepted) override;
    void getProcessInfo(void* record, uint32_t* flag) override;
    void getControllerMap(void* destination) override;
    void process(float** outputs, uint32_t frames, ModuleEvents* incoming, ModuleEvents* outgoing,
                 vantor::SyncInfo* transport) override;
    int32_t handleExtensionCommand(ExtensionCommandRecord* record) override;
    void receiveSysEx(const HostMidiOutRecord* record) override;
    void onHostOpcode27(uint32_t op, intptr_t a) override;
    void onHostOpcode28(uint32_t op, intptr_t a) override;
    void setDataFolder(const char* folder) override;
    int64_t loadFile(int64_t kind, const char* path) override;
    int64_t saveFile(int64_t kind, void* pointer) override;
    void handleCommand(MasterSettingsCommand* command) override;

    void setReportWords(uint32_t flags, uint32_t inputs, uint32_t outputs, uint32_t w5, uint32_t w6,
                        uint32_t a, uint32_t b);

    std::vector<RecordedCall> calls;
    bool initResult = true;
    const ParameterInfo* descriptors = nullptr;  // null: the default (none)
    uint64_t descriptorCount = 0;
    bool throwOnProcess = false;
    uint32_t lastFrames = 0xFFFFFFFF;

    // Live instances, so tests can find the object behind an entry record.
    static int liveCount;
    static RecordingInstrument* last;
};
