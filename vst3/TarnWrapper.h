#pragma once
// The engine bridge: finds the host engine "Caddis Engine" through the preferences, loads its
// bundle, creates and starts one engine instance and forwards every request of the plug-in as
// an engine opcode. It also answers the engine's calls through a default host callback. Every
// forwarding operation gives its neutral result (false, 0 or null) without calling the engine
// when the instance (or the view ticket) or the entry function is missing; engine errors are
// logged as "engine error:" and the status, those of the audio thread's operations (processing
// and setting automatable values) only counted there and written by flushAudioLog. No lock is
// taken.

#include "abi/EngineABI.h"
#include "vst3/AudioLog.h"
#include "vst3/SamplerPluginConfig.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ParameterInfo;
typedef struct CFBundleObject* CFBundleRef;

namespace vantor {

class TARNWrapper
{
public:
    TARNWrapper(uint16_t formatCode, uint16_t sdkVersion, uint64_t automatableCount);
    // Writes the counted audio-thread lines, destroys the engine instance (opcode 10) and
    // releases the bundle; its executable is unloaded only for the format 0xFA97.
    virtual ~TARNWrapper();
    TARNWrapper(const TARNWrapper&) = delete;
    TARNWrapper& operator=(const TARNWrapper&) = delete;

    // Discovery, loading and start-up. False after the failure was logged and shown.
    bool init(uint64_t sampleRate, uint64_t maxBlock, const SamplerPluginConfig* config, bool multi);
    // Registered during init (query 0x10007) in place of the default callback.
    void setInitialHostCallback(TarnHostCallback function, void* user, uint32_t flags);
    // Stored, and registered at once (query 0x10007) when an instance exists.
    bool addHostCallback(TarnHostCallback function, void* user, uint32_t flags);
    // Opcode 34; the engine's status.
    int32_t removeHostCallback(TarnHostCallback function, void* user);
    // Level 2 an "E:" line, level 1 an "I:" line, other levels nothing.
    void log(const std::string& text, int32_t level);
    // Errors of the audio thread, counted there; written by flushAudioLog on another thread.
    AudioLog& audioLog() { return audioErrors; }
    void flushAudioLog() { audioErrors.flush(); }

    // The default host callback; TARN_HostOpcode is its entry, with the wrapper as user.
    int32_t hostCallback(int32_t op, void* p1, void* p2, int32_t i1, int32_t i2, int32_t i3, float f);
    static int32_t TARN_HostOpcode(int32_t op, void* p1, void* p2, int32_t i1, int32_t i2, int32_t i3, float f,
                                   void* user);

    // Start, settings and processing. The three processing calls run on the audio thread.
    bool start(uint64_t sampleRate, uint64_t maxBlock);  // 11
    // Opcode 11 (an error is only logged), then 13 with the latency record; 13's success.
    bool resume(uint64_t sampleRate, uint64_t maxBlock, bool offline);
    bool suspend();       // 12
    bool setRandomOff();  // 14
    bool processEvents(MIDIEvents* events, float** outputs, uint32_t frames);  // 15
    bool process(MIDIEvents* events, float** inputs, float** outputs, SyncInfo* transport, uint32_t frames);  // 42
    bool processWithInputs(MIDIEvents* events, float** inputs, float** outputs, SyncInfo* transport,
                           uint32_t frames);  // 31
    bool setSettings(uint64_t inputs, uint64_t outputs, uint64_t sampleRate, uint64_t maxBlock);  // 33
    uint32_t getLatencyInfo();  // 38: frames, 0 on failure
    bool getEngineStats(TarnEngineStats& stats);  // 20
    bool engineIdle();  // 36
    bool importFile(const std::string& path);  // 40

    // Parameters. Automatable indices at or above the count are refused. Setting a value is the
    // audio thread's: its errors are counted, not logged.
    float getAutomatableParameterValue(uint64_t index, bool normalized, bool& changed);
    bool setAutomatableParameterValue(uint64_t index, float value, bool normalized);
    // Every automatable value read into the cache (opcode 16 per index).
    void cacheAutomationParams();
    // Opcode 37; null unless the engine gives a description of version 2121.
    const ParameterInfo* getAutomatableParameterInfo(uint64_t index);
    float getParameter(uint64_t index, int32_t sub1, int32_t sub2);  // 16 with sub-indices
    bool setParameter(uint64_t index, int32_t sub1, int32_t sub2, float value);  // 17 with sub-indices
    // The engine's name, or "p%03d" with the index when it gives none; false only without a buffer.
    bool getParameterName(uint64_t index, int32_t sub1, int32_t sub2, char* buffer, size_t size);
    bool getAutomatableParameterName(uint64_t index, char* buffer, size_t size);

    // State. getChunk gives the private copy when one is kept, else the engine's chunk (18).
    uint32_t getChunk(const void** bytes);
    // Drops the private copy, reads the chunk and keeps a copy of it; its size.
    uint32_t getChunkSizeAndCache();
    // Opcode 19, the private copy dropped, then every automatable value read again.
    bool setChunk(const void* bytes, uint32_t length);

    // Programs and presets. The lists stay owned by the wrapper until the next call for them.
    void* getPrograms();  // 0x10002
    bool slotFilledBank(uint32_t slot, std::string& name, int32_t& bank);
    bool slotFilled(uint32_t slot, std::string& name);
    bool setProgramBank(int32_t bank, const std::string& name, uint32_t slot);
    bool setProgram(const std::string& name, uint32_t slot);  // the current bank
    bool clearProgram(uint32_t slot);
    EngineListRecord* getBanks();
    TarnPrograms* getBankPrograms(int32_t bank);
    EngineListRecord* getPresetTypes();
    TarnPresets* getPresets(const std::string& typeName);
    bool loadPreset(TarnPreset* preset, const std::string& firstText, const std::string& secondText,
                    uint32_t firstNumber, uint32_t secondNumber);
    bool setISlotMIDIChannel(uint32_t slot, int32_t channel);
    bool getISlotMIDIChannel(uint32_t slot, int32_t& channel);

    // Views. createView creates the ticket when needed, opens the view (25) and adds it (21).
    bool createViewTicket();
    bool createView(void* owner, void* parent, bool embedded);
    bool addView();
    bool removeView();
    bool destroyView();  // 22 and 24, then the ticket is forgotten
    bool idleView();
    bool getSize(int32_t& width, int32_t& height);
    bool viewfdnotify(int32_t descriptor);
    bool timernotify(int32_t timer);

    // Opcode 39: the key map copied whole.
    bool getExportKB(Tarn::ExportKB& out);

    void* getInstance() const { return instance; }
    void* getViewTicket() const { return viewTicket; }
    bool isStarted() const { return started; }
    const char* getDetails() const { return details; }
    const std::string& getDataFolder() const { return dataFolder; }
    const EngineInitRecord& getInitRecord() const { return initRecord; }
    const EngineProductRecord& getProductRecord() const { return productRecord; }
    const EngineInfoRecord& getEngineInfoRecord() const { return engineInfoRecord; }
    uint64_t getAutomatableCount() const { return automatableCount; }
    float getCachedValue(uint64_t index) const { return index < automatableCount ? valueCache[index] : 0.0f; }

private:
    struct ProgramList
    {
        TarnPrograms record;
        std::vector<TarnProgram> entries;
    };
    struct PresetList
    {
        TarnPresets record;
        std::vector<TarnPreset> entries;
    };

    bool init_internal(uint64_t sampleRate, uint64_t maxBlock, uint64_t inputs, uint64_t outputs,
                       std::string& error, const std::string& enginePath);
    // The entry with these arguments; a nonzero status is logged as "engine error:" + status.
    int32_t call(void* handle, int32_t opcode, void* p1 = nullptr, void* p2 = nullptr, void* p3 = nullptr,
                 intptr_t i1 = 0, float f = 0.0f, int32_t i2 = 0, int32_t i3 = 0);
    // The same on the audio thread: a nonzero status is counted in the audio log.
    int32_t audioCall(int32_t opcode, void* p1 = nullptr, void* p2 = nullptr, intptr_t i1 = 0, float f = 0.0f);
    const ParameterInfo* parameterInfo(uint64_t index, bool onAudioThread);
    int32_t query(int32_t subCode, void* record)
    {
        return call(instance, kEngineQuery, record, nullptr, nullptr, subCode);
    }
    bool ready() const { return instance && entry; }
    // Opcode 42 (version 2) or 31 (version 1).
    bool processRecord(int32_t opcode, uint32_t version, MIDIEvents* events, float** inputs, float** outputs,
                       SyncInfo* transport, uint32_t frames);
    bool viewReady() const { return viewTicket && entry; }
    bool slotQuery(int32_t subCode, uint32_t slot, int32_t bank, const std::string& name, EngineSlotRecord& record);
    // The two-call list of query `subCode`: null on any failure or a count of 0.
    template <typename Entry>
    EngineListRecord* readList(int32_t subCode, EngineListRecord& list, std::vector<Entry>& entries);

    CFBundleRef bundle = nullptr;
    void* instance = nullptr;
    void* viewTicket = nullptr;
    CaddisOpcodeFunction entry = nullptr;
    char details[128] = {};
    std::string dataFolder;
    std::string extraPath;
    EngineInitRecord initRecord;
    EngineProductRecord productRecord;
    EngineInfoRecord engineInfoRecord;
    HostCallbackRegistration callbackRegistration;
    bool initialCallback = false;
    EngineListRecord presetTypes;
    std::vector<TarnPresetTypeEntry> presetTypeEntries;
    std::map<std::string, std::unique_ptr<PresetList>> presetCache;
    EngineListRecord banks;
    std::vector<TarnBankEntry> bankEntries;
    std::map<int32_t, std::unique_ptr<ProgramList>> programCache;
    uint64_t automatableCount = 0;
    std::vector<float> valueCache;
    std::vector<std::string> names;
    bool started = false;
    uint16_t formatCode = 0;
    uint16_t sdkVersion = 0;
    std::unique_ptr<uint8_t[]> chunkCache;
    uint32_t chunkCacheSize = 0;
    bool closing = false;
    AudioLog audioErrors;
};

}  // namespace vantor
