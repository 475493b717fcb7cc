#include "RecordingInstrument.h"

#include <cstring>
#include <new>
#include <stdexcept>

int RecordingInstrument::liveCount = 0;
RecordingInstrument* RecordingInstrument::last = nullptr;

namespace {

intptr_t ip(const void* p)
{
    return reinterpret_cast<intptr_t>(p);
}

// Fails while its instrument is half built.
class ThrowingInstrument : public RecordingInstrument
{
public:
    explicit ThrowingInstrument(PluginHostRecord* host) : RecordingInstrument(host)
    {
        throw std::bad_alloc();
    }
};

}  // namespace

// The test executable's factory: "C64" records, "Throw" fails while being built.
vantor::EnginePluginSDK::Plugin* vantor::EnginePluginSDK::createModuleInstrument(
    PluginHostRecord* host, const char* name)
{
    if (std::strcmp(name, "C64") == 0)
        return new RecordingInstrument(host);
    if (std::strcmp(name, "Throw") == 0)
        return new ThrowingInstrument(host);
    return nullptr;
}

RecordingInstrument::RecordingInstrument(PluginHostRecord* host) : InstrumentPlugin(host)
{
    ++liveCount;
    last = this;
}

RecordingInstrument::~RecordingInstrument()
{
    --liveCount;
    if (last == this)
        last = nullptr;
}

void RecordingInstrument::setReportWords(uint32_t flags, uint32_t inputs, uint32_t outputs,
                                         uint32_t w5, uint32_t w6, uint32_t a, uint32_t b)
{
    flagsWord = flags;
    inputChannelCount = inputs;
    outputChannelCount = outputs;
    word5 = w5;
    word6 = w6;
    processInfoA = a;
    processInfoB = b;
}

bool RecordingInstrument::init(const char* path, void* argument, uint32_t hostVersion)
{
    calls.push_back({"init", ip(path), ip(argument), hostVersion});
    return initResult;
}

bool RecordingInstrument::engineCommand(uint32_t op, intptr_t a)
{
    calls.push_back({"engineCommand", intptr_t(op), a, 0});
    return true;
}

bool RecordingInstrument::resetVoices(intptr_t x, intptr_t y)
{
    calls.push_back({"resetVoices", x, y, 0});
    return true;
}

void RecordingInstrument::setAudioSettings(const AudioSettingsRecord* settings)
{
    calls.push_back({"setAudioSettings", ip(settings), 0, 0});
    InstrumentPlugin::setAudioSettings(settings);
}

const ParameterInfo* RecordingInstrument::getParameterDescriptors(uint64_t* count)
{
    calls.push_back({"getParameterDescriptors", 0, 0, uint32_t(*count)});
    if (!descriptors)
        return InstrumentPlugin::getParameterDescriptors(count);
    *count = descriptorCount;
    return descriptors;
}

void RecordingInstrument::queryChannelConfig(const void* request, uint32_t* accepted)
{
    calls.push_back({"queryChannelConfig", ip(request), ip(accepted), 0});
    InstrumentPlugin::queryChannelConfig(request, accepted);
}

void RecordingInstrument::getProcessInfo(void* record, uint32_t* flag)
{
    calls.push_back({"getProcessInfo", ip(record), ip(flag), 0});
    InstrumentPlugin::getProcessInfo(record, flag);
}

void RecordingInstrument::getControllerMap(void* destination)
{
    calls.push_back({"getControllerMap", ip(destination), 0, 0});
}

void RecordingInstrument::process(float** outputs, uint32_t frames, ModuleEvents* incoming,
                                  ModuleEvents* outgoing, vantor::SyncInfo* transport)
{
    calls.push_back({"process", ip(outputs), ip(transport), frames});
    (void)incoming;
    (void)outgoing;
    lastFrames = frames;
    if (throwOnProcess)
        throw std::runtime_error("process failed");
}

int32_t RecordingInstrument::handleExtensionCommand(ExtensionCommandRecord* record)
{
    calls.push_back({"handleExtensionCommand", ip(record), 0, 0});
    return InstrumentPlugin::handleExtensionCommand(record);
}

void RecordingInstrument::receiveSysEx(const HostMidiOutRecord* record)
{
    calls.push_back({"receiveSysEx", ip(record), 0, 0});
}

void RecordingInstrument::onHostOpcode27(uint32_t op, intptr_t a)
{
    calls.push_back({"onHostOpcode27", intptr_t(op), a, 0});
}

void RecordingInstrument::onHostOpcode28(uint32_t op, intptr_t a)
{
    calls.push_back({"onHostOpcode28", intptr_t(op), a, 0});
}

void RecordingInstrument::setDataFolder(const char* folder)
{
    calls.push_back({"setDataFolder", ip(folder), 0, 0});
}

int64_t RecordingInstrument::loadFile(int64_t kind, const char* path)
{
    calls.push_back({"loadFile", intptr_t(kind), ip(path), 0});
    return 7;
}

int64_t RecordingInstrument::saveFile(int64_t kind, void* pointer)
{
    calls.push_back({"saveFile", intptr_t(kind), ip(pointer), 0});
    return 7;
}

void RecordingInstrument::handleCommand(MasterSettingsCommand* command)
{
    calls.push_back({"handleCommand", ip(command), 0, 0});
}
