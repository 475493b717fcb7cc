#include "vst3/TarnWrapper.h"

#include "platform/CFTools.h"
#include "platform/ConsoleLogger.h"
#include "platform/ParameterInfo.h"
#include "platform/PlatformToolsDesktop.h"
#include "platform/ZRGSConv.h"
#include "platform/config.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vantor {

namespace {

constexpr const char* kEngineDomain = "com.vantor.caddis";
constexpr const char* kEngineName = "Caddis Engine";
constexpr int32_t kLevelInfo = 1, kLevelError = 2;

template <size_t N>
std::string fieldText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

// Copies at most N - 1 bytes and terminates.
template <size_t N>
void setField(char (&field)[N], const std::string& text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// A CoreFoundation notice; false when its texts cannot be made.
bool showNotice(const std::string& header, const std::string& message)
{
    const CFStringWrapper h(header, kCFStringEncodingUTF8, false), m(message, kCFStringEncodingUTF8, false);
    if (!h.getCFStringRef() || !m.getCFStringRef())
        return false;
    CFUserNotificationDisplayNotice(0, kCFUserNotificationStopAlertLevel, nullptr, nullptr, nullptr,
                                    h.getCFStringRef(), m.getCFStringRef(), nullptr);
    return true;
}

}  // namespace

TARNWrapper::TARNWrapper(uint16_t format, uint16_t sdk, uint64_t count)
    : automatableCount(count), valueCache(count, 0.0f), names(count), formatCode(format), sdkVersion(sdk)
{
}

TARNWrapper::~TARNWrapper()
{
    closing = true;
    flushAudioLog();
    bankEntries.clear();
    programCache.clear();
    presetTypeEntries.clear();
    presetCache.clear();
    if (instance && entry) {
        void* handle = instance;
        instance = nullptr;
        call(handle, kEngineDestroy);
    }
    if (bundle) {
        if (formatCode == kPluginFormatPTest)
            CFBundleUnloadExecutable(bundle);
        CFRelease(bundle);
        bundle = nullptr;
    }
    chunkCache.reset();
}

// ---------------------------------------------------------------------------------------------
// Start-up

bool TARNWrapper::init(uint64_t sampleRate, uint64_t maxBlock, const SamplerPluginConfig* config, bool multi)
{
    if (!config)
        return false;
    const std::string vendor = fieldText(config->vendorName), product = fieldText(config->productName);
    const std::string title = vendor + " " + product;
    std::string folder;
    if (!readConfigStringValue("com." + vendor + "." + product, "base_dir", folder, CONFIG_LEVEL_SYSTEM)) {
        showNotice(title, "Cannot find data installation, please re-install");
        folder.clear();
    }
    startPluginLogOnce(*config, formatCode);
    const uint64_t inputs = multi ? config->multiInputs : config->stereoInputs;
    const uint64_t outputs = multi ? config->multiOutputs : config->stereoOutputs;
    dataFolder = ZRGSConv(folder, ENC_UTF8);
    extraPath.clear();
    std::string error;
    if (!init_internal(sampleRate, maxBlock, inputs, outputs, error, std::string())) {
        logError("init_internal*" + error + "*");
        popupModalMessageWindow(nullptr, title, error);
        return false;
    }
    return true;
}

bool TARNWrapper::init_internal(uint64_t sampleRate, uint64_t maxBlock, uint64_t inputs, uint64_t outputs,
                                std::string& error, const std::string& enginePath)
{
    std::string path = enginePath;
    if (path.empty() && !readConfigStringValue(kEngineDomain, "path", path, CONFIG_LEVEL_SYSTEM)) {
        logError(kEngineName);
        if (!showNotice(kEngineName, "Can't find Caddis Engine install directory, please reinstall product"))
            logError("alertTitle fail0");
        path.clear();
    }
    if (path.empty()) {
        error = "Empty engine path from CFPreferences?!?!?!";
        return false;
    }
    {
        const CFStringWrapper text(path, kCFStringEncodingUTF8, false);
        CFURLRef url = text.getCFStringRef()
            ? CFURLCreateWithFileSystemPath(kCFAllocatorDefault, text.getCFStringRef(), kCFURLPOSIXPathStyle, true)
            : nullptr;
        bundle = url ? CFBundleCreate(kCFAllocatorDefault, url) : nullptr;
        if (url)
            CFRelease(url);
    }
    if (!bundle) {
        error = "Can't load engine bundle from : " + path;
        return false;
    }
    CFBundleLoadExecutable(bundle);
    {
        const CFStringWrapper name(kEngineEntryName, kCFStringEncodingUTF8, false);
        void* function = CFBundleGetFunctionPointerForName(bundle, name.getCFStringRef());
        entry = reinterpret_cast<CaddisOpcodeFunction>(function);
    }
    if (!entry) {
        error = std::string("CFBundleGetFunctionPointerForName failed for ") + kEngineEntryName;
        return false;
    }

    if (call(nullptr, kEngineDetails, details, nullptr, nullptr, 1) != 0)
        return false;
    details[sizeof details - 1] = 0;
    logInfo(std::string("queried details: ") + details);

    initRecord.inputs = inputs;
    initRecord.outputs = outputs;
    initRecord.versionAndFormat = uint64_t(sdkVersion) << 16 | formatCode;
    initRecord.dataFolder = dataFolder.c_str();
    initRecord.constant = kInitRecordConstant;
    initRecord.extraPath = extraPath.c_str();
    if (call(nullptr, kEngineCreate, &initRecord, &instance) != 0)
        return false;
    if (!instance) {
        logError("engine gave no instance");
        return false;
    }

    if (query(kQueryEngineInfo, &engineInfoRecord) == 0)
        logInfo(std::to_string(engineInfoRecord.id) + "," + fieldText(engineInfoRecord.first) + "," +
                fieldText(engineInfoRecord.second));

    const int32_t registered = initialCallback
        ? query(kQueryAddHostCallback, &callbackRegistration)
        : call(instance, kEngineRegisterCallback, reinterpret_cast<void*>(&TARNWrapper::TARN_HostOpcode), this,
               nullptr, kCallbackFlagsDefault);
    if (registered != 0)
        return false;

    if (const int32_t status = entry(instance, kEngineQuery, &productRecord, nullptr, nullptr,
                                     ENGINE_GET_CURRENT_PRODUCT, 0.0f, 0, 0);
        status != 0) {
        logError("ENGINE_GET_CURRENT_PRODUCT engine error:" + std::to_string(status));
        return false;
    }
    logInfo("ProductId:" + std::to_string(productRecord.productId) + "(" + fieldText(productRecord.title) +
            " - " + fieldText(productRecord.name) + ") slots:" + std::to_string(productRecord.slotCount) +
            ", url:" + fieldText(productRecord.address));

    started = start(sampleRate, maxBlock);
    return started;
}

int32_t TARNWrapper::call(void* handle, int32_t opcode, void* p1, void* p2, void* p3, intptr_t i1, float f,
                          int32_t i2, int32_t i3)
{
    const int32_t status = entry(handle, opcode, p1, p2, p3, i1, f, i2, i3);
    if (status != 0)
        logError("engine error:" + std::to_string(status));
    return status;
}

int32_t TARNWrapper::audioCall(int32_t opcode, void* p1, void* p2, intptr_t i1, float f)
{
    const int32_t status = entry(instance, opcode, p1, p2, nullptr, i1, f, 0, 0);
    if (status != 0)
        audioErrors.count(AudioLog::kEngineError, status);
    return status;
}

void TARNWrapper::setInitialHostCallback(TarnHostCallback function, void* user, uint32_t flags)
{
    callbackRegistration.function = function;
    callbackRegistration.user = user;
    callbackRegistration.flags = flags;
    initialCallback = true;
}

bool TARNWrapper::addHostCallback(TarnHostCallback function, void* user, uint32_t flags)
{
    callbackRegistration.function = function;
    callbackRegistration.user = user;
    callbackRegistration.flags = flags;
    return ready() && query(kQueryAddHostCallback, &callbackRegistration) == 0;
}

int32_t TARNWrapper::removeHostCallback(TarnHostCallback function, void* user)
{
    if (!ready())
        return 0;
    return call(instance, kEngineRemoveCallback, reinterpret_cast<void*>(function), user);
}

void TARNWrapper::log(const std::string& text, int32_t level)
{
    if (level == kLevelError)
        logError(text);
    else if (level == kLevelInfo)
        logInfo(text);
}

// ---------------------------------------------------------------------------------------------
// The default host callback

int32_t TARNWrapper::TARN_HostOpcode(int32_t op, void* p1, void* p2, int32_t i1, int32_t i2, int32_t i3, float f,
                                     void* user)
{
    if (!user)
        return TARN_HOST_NOT_HANDLED;
    return static_cast<TARNWrapper*>(user)->hostCallback(op, p1, p2, i1, i2, i3, f);
}

int32_t TARNWrapper::hostCallback(int32_t op, void* p1, void* p2, int32_t i1, int32_t, int32_t, float)
{
    switch (op) {
    case kHostEngineMessage: {
        if (!g_pluginStream.load())
            return TARN_HOST_HANDLED;
        static const char* const kLevels[] = {"ENGINE INFO: Title:", "ENGINE WARNING: Title:",
                                              "ENGINE ERROR: Title:"};
        if (i1 >= 0 && i1 < 3)
            logInfo(kLevels[i1]);
        const char* title = p1 ? static_cast<const char*>(p1) : "";
        const char* content = p2 ? static_cast<const char*>(p2) : "";
        logInfo(std::string(title) + " Content:" + content);
        return TARN_HOST_HANDLED;
    }
    case kHostAccepted1001:
    case kHostAccepted1002:
    case kHostAccepted1003:
    case kHostNamesChanged:
    case kHostLatencyChanged:
    case kHostKeyMapChanged:
    case kHostEditorSize:
    case kHostAccepted2009:
        return TARN_HOST_HANDLED;
    default:
        logError("ZSE_HostOpcode unknown id:" + std::to_string(op));
        return TARN_HOST_NOT_HANDLED;
    }
}

// ---------------------------------------------------------------------------------------------
// Start, settings, processing

bool TARNWrapper::start(uint64_t sampleRate, uint64_t maxBlock)
{
    return ready() && call(instance, kEngineStart, nullptr, nullptr, nullptr, intptr_t(sampleRate), 0.0f,
                           int32_t(std::min<uint64_t>(maxBlock, INT32_MAX))) == 0;
}

bool TARNWrapper::resume(uint64_t sampleRate, uint64_t maxBlock, bool offline)
{
    if (!ready())
        return false;
    start(sampleRate, maxBlock);
    TarnEngineLatencyInfo latency;
    latency.version = kEngineSDKVersion;
    return call(instance, kEngineSetLatencyMode, &latency, nullptr, nullptr, offline ? 1 : 0) == 0;
}

bool TARNWrapper::suspend() { return ready() && call(instance, kEngineSuspend) == 0; }

bool TARNWrapper::setRandomOff()
{
    return ready() && call(nullptr, kEngineRandomOff, nullptr, nullptr, nullptr, 0x1234) == 0;
}

bool TARNWrapper::processEvents(MIDIEvents* events, float** outputs, uint32_t frames)
{
    return ready() && audioCall(kEngineProcessEvents, events, outputs, frames) == 0;
}

bool TARNWrapper::process(MIDIEvents* events, float** inputs, float** outputs, SyncInfo* transport, uint32_t frames)
{
    return processRecord(kEngineProcess, 2, events, inputs, outputs, transport, frames);
}

bool TARNWrapper::processWithInputs(MIDIEvents* events, float** inputs, float** outputs, SyncInfo* transport,
                                    uint32_t frames)
{
    return processRecord(kEngineProcessInputs, 1, events, inputs, outputs, transport, frames);
}

bool TARNWrapper::processRecord(int32_t opcode, uint32_t version, MIDIEvents* events, float** inputs,
                                float** outputs, SyncInfo* transport, uint32_t frames)
{
    if (!ready())
        return false;
    TarnEngineProcessEx record;
    record.version = version;
    record.events = events;
    record.inputs = inputs;
    record.outputs = outputs;
    record.transport = transport;
    record.frames = frames;
    return audioCall(opcode, &record) == 0;
}

bool TARNWrapper::setSettings(uint64_t inputs, uint64_t outputs, uint64_t sampleRate, uint64_t maxBlock)
{
    if (!ready())
        return false;
    EngineSettingsRecord record;
    record.inputs = inputs;
    record.outputs = outputs;
    record.sampleRate = sampleRate;
    record.maxBlock = maxBlock;
    return call(instance, kEngineSetSettings, &record) == 0;
}

uint32_t TARNWrapper::getLatencyInfo()
{
    TarnEngineLatencyInfo latency;
    latency.version = kEngineSDKVersion;
    return ready() && call(instance, kEngineGetLatency, &latency) == 0 ? latency.latency : 0;
}

bool TARNWrapper::getEngineStats(TarnEngineStats& stats)
{
    return ready() && call(instance, kEngineGetStats, &stats) == 0;
}

bool TARNWrapper::engineIdle() { return ready() && call(instance, kEngineIdle) == 0; }

bool TARNWrapper::importFile(const std::string& path)
{
    return ready() && call(instance, kEngineImportFile, const_cast<char*>(path.c_str())) == 0;
}

// ---------------------------------------------------------------------------------------------
// Parameters

const ParameterInfo* TARNWrapper::getAutomatableParameterInfo(uint64_t index) { return parameterInfo(index, false); }

const ParameterInfo* TARNWrapper::parameterInfo(uint64_t index, bool onAudioThread)
{
    if (!ready() || index >= automatableCount)
        return nullptr;
    const ParameterInfo* info = nullptr;
    const int32_t status = onAudioThread
        ? audioCall(kEngineGetParameterInfo, &info, nullptr, intptr_t(index))
        : call(instance, kEngineGetParameterInfo, &info, nullptr, nullptr, intptr_t(index));
    if (status != 0)
        return nullptr;
    return info && info->version == ParameterInfo::kVersion ? info : nullptr;
}

bool TARNWrapper::setAutomatableParameterValue(uint64_t index, float value, bool normalized)
{
    if (!ready() || index >= automatableCount)
        return false;
    if (const ParameterInfo* info = parameterInfo(index, true)) {
        if (normalized)
            info->unpack01(value);
        else
            info->unpack(value);
    }
    valueCache[index] = value;
    return audioCall(kEngineSetParameter, nullptr, nullptr, intptr_t(index), value) == 0;
}

float TARNWrapper::getAutomatableParameterValue(uint64_t index, bool normalized, bool& changed)
{
    changed = false;
    if (!ready() || index >= automatableCount)
        return 0.0f;
    float value = 0.0f;
    call(instance, kEngineGetParameter, &value, nullptr, nullptr, intptr_t(index));
    changed = value != valueCache[index];
    valueCache[index] = value;
    if (const ParameterInfo* info = getAutomatableParameterInfo(index)) {
        if (normalized)
            info->pack01(value);
        else
            info->pack(value);
    }
    return value;
}

void TARNWrapper::cacheAutomationParams()
{
    if (!ready())
        return;
    for (uint64_t i = 0; i < automatableCount; ++i) {
        float value = 0.0f;
        call(instance, kEngineGetParameter, &value, nullptr, nullptr, intptr_t(i));
        valueCache[i] = value;
    }
}

float TARNWrapper::getParameter(uint64_t index, int32_t sub1, int32_t sub2)
{
    float value = 0.0f;
    if (ready())
        call(instance, kEngineGetParameter, &value, instance, nullptr, intptr_t(index), 0.0f, sub1, sub2);
    return value;
}

bool TARNWrapper::setParameter(uint64_t index, int32_t sub1, int32_t sub2, float value)
{
    // The sub-indices go in the opposite order to getParameter's.
    return ready() && call(instance, kEngineSetParameter, instance, nullptr, nullptr, intptr_t(index), value,
                           sub2, sub1) == 0;
}

bool TARNWrapper::getParameterName(uint64_t index, int32_t sub1, int32_t sub2, char* buffer, size_t size)
{
    if (!buffer || size == 0)
        return false;
    const char* name = nullptr;
    if (ready())
        call(instance, kEngineGetParameterName, &name, instance, nullptr, intptr_t(index), 0.0f, sub1, sub2);
    if (name && name[0]) {
        const size_t n = strnlen(name, size - 1);
        std::memcpy(buffer, name, n);
        buffer[n] = 0;
    } else {
        std::snprintf(buffer, size, "p%03d", int(std::min<uint64_t>(index, 999999)));
    }
    return true;
}

bool TARNWrapper::getAutomatableParameterName(uint64_t index, char* buffer, size_t size)
{
    return getParameterName(index, 0, 0, buffer, size);
}

// ---------------------------------------------------------------------------------------------
// State

uint32_t TARNWrapper::getChunk(const void** bytes)
{
    if (!bytes)
        return 0;
    *bytes = nullptr;
    if (chunkCache) {
        *bytes = chunkCache.get();
        return chunkCacheSize;
    }
    if (!ready())
        return 0;
    const void* data = nullptr;
    uint32_t size = 0;
    if (call(instance, kEngineGetChunk, &data, &size) != 0 || !data)
        return 0;
    *bytes = data;
    return size;
}

uint32_t TARNWrapper::getChunkSizeAndCache()
{
    chunkCache.reset();
    chunkCacheSize = 0;
    const void* bytes = nullptr;
    const uint32_t size = getChunk(&bytes);
    if (size == 0 || !bytes)
        return 0;
    chunkCache = std::make_unique<uint8_t[]>(size);
    std::memcpy(chunkCache.get(), bytes, size);
    chunkCacheSize = size;
    return size;
}

bool TARNWrapper::setChunk(const void* bytes, uint32_t length)
{
    if (!ready())
        return false;
    const bool ok = call(instance, kEngineSetChunk, const_cast<void*>(bytes), nullptr, nullptr, length) == 0;
    // The copy would save the state from before.
    chunkCache.reset();
    chunkCacheSize = 0;
    cacheAutomationParams();
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Programs and presets

void* TARNWrapper::getPrograms()
{
    if (!ready())
        return nullptr;
    void* list = nullptr;
    if (entry(instance, kEngineQuery, &list, nullptr, nullptr, kQueryPrograms, 0.0f, 0, 0) != 0) {
        logError("Engine: error from dispatcher");
        return nullptr;
    }
    return list;
}

bool TARNWrapper::slotQuery(int32_t subCode, uint32_t slot, int32_t bank, const std::string& name,
                            EngineSlotRecord& record)
{
    record = EngineSlotRecord();
    record.slot = slot;
    record.bank = bank;
    setField(record.programName, name);
    return entry(instance, kEngineQuery, &record, nullptr, nullptr, subCode, 0.0f, 0, 0) == 0;
}

bool TARNWrapper::slotFilledBank(uint32_t slot, std::string& name, int32_t& bank)
{
    EngineSlotRecord record;
    if (!ready())
        return false;
    if (!slotQuery(kQuerySlotFilled, slot, -1, std::string(), record)) {
        logError("Engine: error from dispatcher");
        return false;
    }
    if (record.state != EngineSlotRecord::kFilled)
        return false;
    name = fieldText(record.programName);
    bank = record.bank;
    return true;
}

bool TARNWrapper::slotFilled(uint32_t slot, std::string& name)
{
    int32_t bank = 0;
    return slotFilledBank(slot, name, bank);
}

bool TARNWrapper::setProgramBank(int32_t bank, const std::string& name, uint32_t slot)
{
    EngineSlotRecord record;
    if (!ready())
        return false;
    if (!slotQuery(kQuerySetProgram, slot, bank, name, record)) {
        logError("Engine: error loading patch" + name + " bank:" + std::to_string(bank));
        return false;
    }
    return true;
}

bool TARNWrapper::setProgram(const std::string& name, uint32_t slot) { return setProgramBank(-1, name, slot); }

bool TARNWrapper::clearProgram(uint32_t slot)
{
    EngineSlotRecord record;
    if (!ready())
        return false;
    if (!slotQuery(kQueryClearProgram, slot, -1, std::string(), record)) {
        logError("Engine: error from dispatcher");
        return false;
    }
    return true;
}

template <typename Entry>
EngineListRecord* TARNWrapper::readList(int32_t subCode, EngineListRecord& list, std::vector<Entry>& entries)
{
    entries.clear();
    list = EngineListRecord();
    if (!ready())
        return nullptr;
    if (entry(instance, kEngineQuery, &list, nullptr, nullptr, subCode, 0.0f, 0, 0) != 0) {
        logError("Engine: error from dispatcher");
        list = EngineListRecord();
        return nullptr;
    }
    const uint32_t count = list.count;
    if (count == 0)
        return nullptr;
    entries.assign(count, Entry());  // version words set, bank ids -1
    list.entries = entries.data();
    list.count = count;
    if (entry(instance, kEngineQuery, &list, nullptr, nullptr, subCode, 0.0f, 0, 0) != 0 || list.count > count) {
        logError("Engine: error from dispatcher");
        entries.clear();
        list = EngineListRecord();
        return nullptr;
    }
    return &list;
}

EngineListRecord* TARNWrapper::getBanks()
{
    return readList(kQueryBanks, banks, bankEntries);
}

EngineListRecord* TARNWrapper::getPresetTypes()
{
    return readList(kQueryPresetTypes, presetTypes, presetTypeEntries);
}

TarnPrograms* TARNWrapper::getBankPrograms(int32_t bank)
{
    programCache.erase(bank);
    if (!ready())
        return nullptr;
    uint32_t count = 0;
    for (uint32_t i = 0; i < banks.count && i < bankEntries.size(); ++i)
        if (bankEntries[i].bank == bank)
            count = bankEntries[i].programCount;
    if (count == 0)
        return nullptr;
    auto list = std::make_unique<ProgramList>();
    list->entries.assign(count, TarnProgram());
    list->record.bank = bank;
    list->record.count = count;
    list->record.entries = list->entries.data();
    if (entry(instance, kEngineQuery, &list->record, nullptr, nullptr, kQueryBankPrograms, 0.0f, 0, 0) != 0) {
        logError("Engine: error from dispatcher");
        return nullptr;
    }
    TarnPrograms* record = &list->record;
    programCache[bank] = std::move(list);
    return record;
}

TarnPresets* TARNWrapper::getPresets(const std::string& typeName)
{
    if (!ready())
        return nullptr;
    if (presetTypeEntries.empty())
        getPresetTypes();
    presetCache.erase(typeName);
    const auto type = std::find_if(presetTypeEntries.begin(), presetTypeEntries.end(),
                                   [&](const TarnPresetTypeEntry& e) { return fieldText(e.name) == typeName; });
    if (type == presetTypeEntries.end() || type->presetCount == 0)
        return nullptr;
    auto list = std::make_unique<PresetList>();
    list->entries.assign(type->presetCount, TarnPreset());
    list->record.count = type->presetCount;
    setField(list->record.typeName, typeName);
    list->record.entries = list->entries.data();
    if (entry(instance, kEngineQuery, &list->record, nullptr, nullptr, kQueryPresets, 0.0f, 0, 0) != 0) {
        logError("Engine: error from dispatcher");
        return nullptr;
    }
    TarnPresets* record = &list->record;
    presetCache[typeName] = std::move(list);
    return record;
}

bool TARNWrapper::loadPreset(TarnPreset* preset, const std::string& firstText, const std::string& secondText,
                             uint32_t firstNumber, uint32_t secondNumber)
{
    if (!ready())
        return false;
    EnginePresetLoadRecord record;
    record.firstNumber = firstNumber;
    record.secondNumber = secondNumber;
    setField(record.firstText, firstText);
    setField(record.secondText, secondText);
    record.preset = preset;
    return query(kQueryLoadPreset, &record) == 0;
}

bool TARNWrapper::setISlotMIDIChannel(uint32_t slot, int32_t channel)
{
    if (!ready())
        return false;
    EngineSlotChannelRecord record;
    record.slot = slot;
    record.channel = channel;
    return query(kQuerySetSlotChannel, &record) == 0 && record.confirmed == 1;
}

bool TARNWrapper::getISlotMIDIChannel(uint32_t slot, int32_t& channel)
{
    if (!ready())
        return false;
    EngineSlotChannelRecord record;
    record.slot = slot;
    if (query(kQueryGetSlotChannel, &record) != 0 || record.confirmed != 1)
        return false;
    channel = record.channel;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Views

bool TARNWrapper::createViewTicket()
{
    if (viewTicket)
        return true;
    if (!ready())
        return false;
    std::string path = dataFolder + "/Product.xml";
    void* ticket = nullptr;
    if (call(nullptr, kEngineCreateViewTicket, path.data(), &ticket, instance) != 0 || !ticket)
        return false;
    viewTicket = ticket;
    return true;
}

bool TARNWrapper::createView(void*, void* parent, bool embedded)
{
    if (!createViewTicket())
        return false;
    call(viewTicket, kEngineOpenView, parent, nullptr, nullptr, 0, 0.0f, 0, embedded ? 0 : 8);
    return addView();
}

bool TARNWrapper::addView() { return ready() && viewTicket && call(instance, kEngineAddView, viewTicket) == 0; }

bool TARNWrapper::removeView()
{
    return ready() && viewTicket && call(instance, kEngineRemoveView, viewTicket) == 0;
}

bool TARNWrapper::destroyView()
{
    if (!viewReady())
        return false;
    if (instance)
        call(instance, kEngineRemoveView, viewTicket);
    call(viewTicket, kEngineDestroyViewTicket);
    viewTicket = nullptr;
    return true;
}

bool TARNWrapper::idleView() { return !closing && viewReady() && call(viewTicket, kEngineIdleView) == 0; }

bool TARNWrapper::getSize(int32_t& width, int32_t& height)
{
    if (!createViewTicket())
        return false;
    int32_t h = 0, w = 0;
    if (call(viewTicket, kEngineGetViewSize, &h, &w) != 0)
        return false;
    width = w;
    height = h;
    return true;
}

bool TARNWrapper::viewfdnotify(int32_t descriptor)
{
    return viewReady() && call(viewTicket, kEngineViewFdNotify, nullptr, nullptr, nullptr, descriptor) == 0;
}

bool TARNWrapper::timernotify(int32_t timer)
{
    return viewReady() && call(viewTicket, kEngineViewTimerNotify, nullptr, nullptr, nullptr, timer) == 0;
}

bool TARNWrapper::getExportKB(Tarn::ExportKB& out)
{
    if (!ready())
        return false;
    const Tarn::ExportKB* map = nullptr;
    if (call(instance, kEngineGetExportKB, &map) != 0 || !map)
        return false;
    std::memcpy(&out, map, sizeof out);
    return true;
}

}  // namespace vantor
