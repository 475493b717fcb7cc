#include "shims/engine/EngineBridge.h"

#include "shims/engine/CaddisTestHook.h"
#include "shims/engine/Engine.h"
#include "shims/engine/EngineChunk.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vantor::engine {

namespace {

constexpr uint32_t kInstanceMagic = 0x43454E47;  // "CENG"
constexpr uint32_t kTicketMagic = 0x43564957;    // "CVIW"
constexpr int32_t kNotForced = INT32_MIN;
constexpr int32_t kOk = 0;
constexpr int32_t kFailed = 1;
constexpr uint32_t kMaxChannels = 64;
constexpr uint32_t kSlots = 16;
constexpr size_t kMaxText = 4096;
constexpr size_t kMaxLoggedChunk = size_t(64) << 20;
constexpr int32_t kFirstQuery = ENGINE_GET_CURRENT_PRODUCT, kQueryCount = 0x11;

// Events for the next block: one producer, and 42 the consumer.
class EventRing
{
public:
    static constexpr uint32_t kCapacity = kMaxBlockEvents;

    uint32_t space() const
    {
        return kCapacity - (head.load(std::memory_order_relaxed) - tail.load(std::memory_order_acquire));
    }
    bool push(const HDMIDIEvent& e)
    {
        const uint32_t h = head.load(std::memory_order_relaxed);
        if (h - tail.load(std::memory_order_acquire) == kCapacity)
            return false;
        slots[h % kCapacity] = e;
        head.store(h + 1, std::memory_order_release);
        return true;
    }
    uint32_t pop(HDMIDIEvent* out, uint32_t most)
    {
        const uint32_t t = tail.load(std::memory_order_relaxed);
        const uint32_t n = std::min(head.load(std::memory_order_acquire) - t, most);
        for (uint32_t i = 0; i < n; ++i)
            out[i] = slots[(t + i) % kCapacity];
        tail.store(t + n, std::memory_order_release);
        return n;
    }

private:
    HDMIDIEvent slots[kCapacity];
    std::atomic<uint32_t> head{0}, tail{0};
};

struct Registration
{
    TarnHostCallback function = nullptr;
    void* user = nullptr;
    uint32_t flags = 0;
};

struct Slot
{
    uint32_t state = 0;
    int32_t bank = 0;
    std::string program;
    int32_t channel = 0;
};

struct EngineInstance;

struct ViewTicket
{
    uint32_t magic = kTicketMagic;
    EngineInstance* owner = nullptr;
    void* parent = nullptr;
    bool added = false;
};

struct EngineInstance
{
    uint32_t magic = kInstanceMagic;
    std::unique_ptr<ModuleLibrary> module;
    std::unique_ptr<Instance> instance;
    uint32_t outputs = 2;
    std::atomic<bool> started{false};
    std::unique_ptr<EngineState> stateBeforeStart;  // a chunk set before opcode 11

    std::array<std::atomic<float>, kControllerItems> values{};
    std::array<float, kControllerItems> seen{};  // the instance's table as 42 last saw it
    EventRing chunkEvents, parameterEvents;
    HDMIDIEvent queued[kMaxBlockEvents];

    // Everything below: not on the audio thread.
    std::mutex lock;
    std::vector<Registration> callbacks;
    std::vector<uint8_t> chunk;
    std::array<Slot, kSlots> slots;
    TarnPrograms programs;
    std::vector<TarnProgram> programEntries;
    std::vector<std::unique_ptr<ViewTicket>> tickets;
};

struct LoggedCall
{
    TestCall call;
    std::vector<uint8_t> record;
    std::vector<HDMIDIEvent> events;
    std::unique_ptr<SyncInfo> transport;
    std::string dataFolder, extraPath;
};

struct FixtureParameter
{
    ParameterInfo info;
    std::string name;
};

struct Hooks
{
    Hooks()
    {
        for (auto& f : forced)
            f.store(kNotForced);
        for (auto& f : forcedQueries)
            f.store(kNotForced);
        std::memset(&keyMap, 0, sizeof keyMap);
    }
    std::array<std::atomic<int32_t>, 64> forced;
    std::array<std::atomic<int32_t>, kQueryCount> forcedQueries;
    std::atomic<intptr_t> logFlags{0};
    std::atomic<bool> render{true};
    std::atomic<intptr_t> answers{0};
    std::atomic<int32_t> viewWidth{640}, viewHeight{480};
    std::atomic<uint32_t> latency{0};

    std::mutex lock;  // guards what follows
    std::deque<LoggedCall> calls;
    std::map<uint32_t, FixtureParameter> parameters;
    TestListCounts counts;
    Tarn::ExportKB keyMap;
    std::vector<EngineInstance*> live;
};

Hooks& hooks()
{
    static Hooks h;
    return h;
}

bool unterminated() { return (hooks().answers.load() & kAnswerUnterminated) != 0; }
bool nullPointers() { return (hooks().answers.load() & kAnswerNullPointers) != 0; }

// A text into a fixed field: terminated and cut, or, when the hook asks, filling it whole.
template <size_t N>
void putText(char (&field)[N], const std::string& text)
{
    std::memset(field, 0, N);
    if (unterminated()) {
        std::memset(field, 'X', N);
        std::memcpy(field, text.data(), std::min(text.size(), N));
        return;
    }
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

template <size_t N>
std::string fieldText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

std::string boundedText(const char* text) { return text ? std::string(text, strnlen(text, kMaxText)) : ""; }

template <typename T>
bool readRecord(const void* p, T& out)
{
    if (!p)
        return false;
    std::memcpy(&out, p, sizeof out);
    return true;
}

EngineInstance* asInstance(void* handle)
{
    if (!handle)
        return nullptr;
    uint32_t magic;
    std::memcpy(&magic, handle, sizeof magic);
    return magic == kInstanceMagic ? static_cast<EngineInstance*>(handle) : nullptr;
}

ViewTicket* asTicket(void* handle)
{
    if (!handle)
        return nullptr;
    uint32_t magic;
    std::memcpy(&magic, handle, sizeof magic);
    return magic == kTicketMagic ? static_cast<ViewTicket*>(handle) : nullptr;
}

bool validItem(intptr_t index) { return index >= 0 && uint64_t(index) + kAutomatableFirstItem < kControllerItems; }

std::string moduleFile()
{
    if (const char* path = getenv(kEngineModuleVariable); path && *path)
        return path;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&caddisEngineOpcode), &info) || !info.dli_fname)
        return "C64Module.so";
    const std::string self = info.dli_fname;
    const size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + "C64Module.so";
}

// ---------------------------------------------------------------------------------------------
// The call log

size_t querySize(intptr_t query)
{
    switch (query) {
    case ENGINE_GET_CURRENT_PRODUCT:
        return sizeof(EngineProductRecord);
    case kQueryEngineInfo:
        return sizeof(EngineInfoRecord);
    case kQueryAddHostCallback:
        return kHostCallbackRegistrationRead;
    case kQuerySlotFilled:
    case kQuerySetProgram:
    case kQueryClearProgram:
        return sizeof(EngineSlotRecord);
    case kQueryBanks:
    case kQueryPresetTypes:
        return sizeof(EngineListRecord);
    case kQueryBankPrograms:
        return sizeof(TarnPrograms);
    case kQueryPresets:
        return sizeof(TarnPresets);
    case kQueryLoadPreset:
        return sizeof(EnginePresetLoadRecord);
    case kQuerySetSlotChannel:
    case kQueryGetSlotChannel:
        return sizeof(EngineSlotChannelRecord);
    default:
        return 0;
    }
}

bool isProcess(int32_t opcode)
{
    return opcode == kEngineProcess || opcode == kEngineProcessInputs || opcode == kEngineProcessEvents;
}

bool logging(int32_t opcode)
{
    const intptr_t flags = hooks().logFlags.load(std::memory_order_relaxed);
    return isProcess(opcode) ? (flags & kLogProcess) != 0 : (flags & kLogCalls) != 0;
}

void copyBytes(std::vector<uint8_t>& to, const void* from, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(from);
    to.assign(p, p + n);
}

// Copies of what the call's records held as it arrived.
LoggedCall describeCall(const TestCall& call)
{
    LoggedCall logged;
    logged.call = call;
    switch (call.opcode) {
    case kEngineCreate:
        if (call.p1) {
            EngineInitRecord r;
            std::memcpy(&r, call.p1, sizeof r);
            copyBytes(logged.record, call.p1, sizeof r);
            logged.dataFolder = boundedText(r.dataFolder);
            logged.extraPath = boundedText(r.extraPath);
        }
        break;
    case kEngineSetLatencyMode:
    case kEngineGetLatency:
        if (call.p1)
            copyBytes(logged.record, call.p1, sizeof(TarnEngineLatencyInfo));
        break;
    case kEngineSetChunk:
        if (call.p1 && call.i1 > 0 && size_t(call.i1) <= kMaxLoggedChunk)
            copyBytes(logged.record, call.p1, size_t(call.i1));
        break;
    case kEngineQuery:
        if (call.p1) {
            copyBytes(logged.record, call.p1, querySize(call.i1));
            // The entries of a list's second call, as they were sent.
            const size_t entrySize = call.i1 == kQueryBanks ? sizeof(TarnBankEntry)
                : call.i1 == kQueryPresetTypes                ? sizeof(TarnPresetTypeEntry)
                                                              : 0;
            EngineListRecord list;
            if (entrySize)
                std::memcpy(&list, call.p1, sizeof list);
            if (entrySize && list.entries && list.count <= 4096) {
                const auto* entries = static_cast<const uint8_t*>(list.entries);
                logged.record.insert(logged.record.end(), entries, entries + list.count * entrySize);
            }
        }
        break;
    case kEngineCreateViewTicket:
        logged.dataFolder = boundedText(static_cast<const char*>(call.p1));
        break;
    case kEngineSetSettings:
        if (call.p1)
            copyBytes(logged.record, call.p1, sizeof(EngineSettingsRecord));
        break;
    case kEngineProcess:
    case kEngineProcessInputs:
        if (call.p1) {
            TarnEngineProcessEx r;
            std::memcpy(&r, call.p1, sizeof r);
            copyBytes(logged.record, call.p1, sizeof r);
            if (r.events && r.events->count <= kMaxBlockEvents)
                logged.events.assign(r.events->events, r.events->events + r.events->count);
            if (r.transport)
                logged.transport = std::make_unique<SyncInfo>(*r.transport);
        }
        break;
    case kEngineProcessEvents:
        if (call.p1) {
            const auto* events = static_cast<const MIDIEvents*>(call.p1);
            if (events->count <= kMaxBlockEvents)
                logged.events.assign(events->events, events->events + events->count);
        }
        break;
    default:
        break;
    }
    return logged;
}

void appendCall(LoggedCall&& logged, int32_t status)
{
    Hooks& h = hooks();
    const std::lock_guard<std::mutex> guard(h.lock);
    LoggedCall& l = h.calls.emplace_back(std::move(logged));
    l.call.status = status;
    l.call.record = l.record.empty() ? nullptr : l.record.data();
    l.call.recordSize = l.record.size();
    l.call.events = l.events.empty() ? nullptr : l.events.data();
    l.call.eventCount = uint32_t(l.events.size());
    l.call.transport = l.transport.get();
    if (l.call.opcode == kEngineCreate || l.call.opcode == kEngineCreateViewTicket) {
        l.call.dataFolder = l.dataFolder.c_str();
        l.call.extraPath = l.extraPath.c_str();
    }
}

int32_t forcedStatus(int32_t opcode, intptr_t query)
{
    Hooks& h = hooks();
    if (opcode < 0 || size_t(opcode) >= h.forced.size())
        return kNotForced;
    const int32_t all = h.forced[size_t(opcode)].load(std::memory_order_relaxed);
    if (opcode != kEngineQuery || all != kNotForced)
        return all;
    if (query < kFirstQuery || query >= kFirstQuery + kQueryCount)
        return kNotForced;
    return h.forcedQueries[size_t(query - kFirstQuery)].load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// Start-up and settings

int32_t createInstance(void* p1, void* p2)
{
    EngineInitRecord r;
    if (!readRecord(p1, r) || !p2 || r.constant != kInitRecordConstant ||
        (r.versionAndFormat >> 16) != kEngineSdkVersion || r.inputs > kMaxChannels || r.outputs > kMaxChannels)
        return kFailed;
    auto e = std::make_unique<EngineInstance>();
    std::string error;
    e->module = ModuleLibrary::open(moduleFile(), error);
    if (!e->module)
        return kFailed;
    EngineConfig config;
    const std::string folder = boundedText(r.dataFolder);
    if (!folder.empty())
        config.chipDatabasePath = folder + "/SIDChips.iff";  // the module copes with a missing file
    e->instance = std::make_unique<Instance>(*e->module, config);
    if (!e->instance->create(kEngineInstrument, error))
        return kFailed;
    e->outputs = uint32_t(r.outputs);
    e->slots[0] = {EngineSlotRecord::kFilled, 0, "Program 1", 0};
    EngineInstance* handle = e.release();
    {
        Hooks& h = hooks();
        const std::lock_guard<std::mutex> guard(h.lock);
        h.live.push_back(handle);
    }
    void* out = handle;
    std::memcpy(p2, &out, sizeof out);
    return kOk;
}

void destroyInstance(EngineInstance* e)
{
    {
        Hooks& h = hooks();
        const std::lock_guard<std::mutex> guard(h.lock);
        h.live.erase(std::remove(h.live.begin(), h.live.end(), e), h.live.end());
    }
    e->magic = 0;
    for (auto& t : e->tickets)
        t->magic = 0;
    delete e;
}

void takeValues(EngineInstance& e)
{
    const auto& table = e.instance->getItemValues();
    for (size_t i = 0; i < kControllerItems; ++i) {
        e.seen[i] = table[i];
        e.values[i].store(table[i], std::memory_order_relaxed);
    }
}

int32_t start(EngineInstance& e, intptr_t rate, int32_t block)
{
    if (rate <= 0 || block <= 0 || !e.instance->setAudioSettings(double(rate), uint32_t(block)))
        return kFailed;
    if (e.started.load())
        return kOk;
    std::string error;
    const bool ok = e.stateBeforeStart ? e.instance->restoreState(*e.stateBeforeStart, error)
                                       : e.instance->start(error);
    e.stateBeforeStart.reset();
    if (!ok)
        return kFailed;
    takeValues(e);
    e.started.store(true);
    return kOk;
}

int32_t setSettings(EngineInstance& e, void* p1)
{
    EngineSettingsRecord r;
    if (!readRecord(p1, r) || r.version != 1 || r.outputs > kMaxChannels || r.inputs > kMaxChannels ||
        r.sampleRate == 0 || r.maxBlock == 0 || r.maxBlock > Instance::kMaxBlockSize ||
        !e.instance->setAudioSettings(double(r.sampleRate), uint32_t(r.maxBlock)))
        return kFailed;
    e.outputs = uint32_t(r.outputs);
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// Blocks and values

int32_t silence(const EngineInstance& e, const TarnEngineProcessEx& r)
{
    for (uint32_t c = 0; r.outputs && c < e.outputs; ++c)
        if (r.outputs[c])
            std::fill_n(r.outputs[c], r.frames, 0.0f);
    return kFailed;
}

int32_t process(EngineInstance& e, const TarnEngineProcessEx& r)
{
    if (r.events && (r.events->version != 1 || r.events->count > kMaxBlockEvents))
        return silence(e, r);
    if (!e.started.load(std::memory_order_acquire) || r.frames > e.instance->getConfig().blockSize)
        return silence(e, r);
    const uint32_t count = r.events ? r.events->count : 0;
    uint32_t queued = e.chunkEvents.pop(e.queued, kMaxBlockEvents - count);
    queued += e.parameterEvents.pop(e.queued + queued, kMaxBlockEvents - count - queued);
    if (e.instance->processInto(r.frames, e.queued, queued, r.events ? r.events->events : nullptr, count,
                                r.transport, r.outputs, e.outputs, hooks().render.load()) < 0)
        return kFailed;
    const auto& table = e.instance->getItemValues();
    for (size_t i = 0; i < kControllerItems; ++i)
        if (std::memcmp(&table[i], &e.seen[i], sizeof(float)) != 0) {
            e.seen[i] = table[i];
            e.values[i].store(table[i], std::memory_order_relaxed);
        }
    return kOk;
}

int32_t processRecord(EngineInstance& e, void* p1, uint32_t version)
{
    TarnEngineProcessEx r;
    if (!readRecord(p1, r))
        return kFailed;
    return r.version == version ? process(e, r) : silence(e, r);
}

int32_t setValue(EngineInstance& e, intptr_t index, float value)
{
    if (!validItem(index))
        return kFailed;
    const uint32_t item = kAutomatableFirstItem + uint32_t(index);
    HDMIDIEvent event;
    event.kind = kEventControllerItem;
    event.index = int32_t(item);
    event.value = value;
    if (!e.parameterEvents.push(event))
        return kFailed;
    e.values[item].store(value, std::memory_order_relaxed);
    return kOk;
}

int32_t getChunk(EngineInstance& e, void* p1, void* p2)
{
    if (!p1 || !p2)
        return kFailed;
    EngineState state = e.stateBeforeStart ? *e.stateBeforeStart : e.instance->saveState();
    for (size_t i = 0; i < kControllerItems; ++i)
        state.values[i] = e.values[i].load(std::memory_order_relaxed);
    const std::lock_guard<std::mutex> guard(e.lock);
    e.chunk = encodeEngineChunk(state);
    const void* bytes = nullptr;
    uint32_t size = 0;
    if (!nullPointers()) {
        bytes = e.chunk.data();
        size = uint32_t(e.chunk.size());
    }
    std::memcpy(p1, &bytes, sizeof bytes);
    std::memcpy(p2, &size, sizeof size);
    return kOk;
}

int32_t setChunk(EngineInstance& e, const void* p1, intptr_t length)
{
    EngineState state;
    if (!p1 || length <= 0 || !decodeEngineChunk(static_cast<const uint8_t*>(p1), size_t(length), state))
        return kFailed;
    if (!e.started.load()) {
        for (size_t i = 0; i < kControllerItems; ++i)
            e.values[i].store(state.values[i], std::memory_order_relaxed);
        e.stateBeforeStart = std::make_unique<EngineState>(std::move(state));
        return kOk;
    }
    // Room for every value's event first: a refused chunk changes nothing.
    const uint32_t events = kControllerItems - (kMediaItemEnd - kMediaItemFirst);
    if (e.chunkEvents.space() < events || !e.instance->reloadBlocks(state))
        return kFailed;
    for (uint32_t item = 0; item < kControllerItems; ++item) {
        if (item >= kMediaItemFirst && item < kMediaItemEnd)
            continue;
        HDMIDIEvent event;
        event.kind = kEventControllerItem;
        event.index = int32_t(item);
        event.value = state.values[item];
        e.chunkEvents.push(event);
        e.values[item].store(state.values[item], std::memory_order_relaxed);
    }
    return kOk;
}

const ParameterInfo* moduleDescriptor(EngineInstance& e, intptr_t index)
{
    const uint64_t item = kAutomatableFirstItem + uint64_t(index);
    const auto* descriptors = static_cast<const ParameterInfo*>(e.instance->getDescriptors());
    if (!descriptors || item >= e.instance->getDescriptorCount())
        return nullptr;
    return descriptors + item;
}

// The test's own answers for an index, null when it set none.
const FixtureParameter* fixtureParameter(intptr_t index)
{
    Hooks& h = hooks();
    const std::lock_guard<std::mutex> guard(h.lock);
    const auto it = h.parameters.find(uint32_t(index));
    return it == h.parameters.end() ? nullptr : &it->second;
}

int32_t parameterInfo(EngineInstance& e, void* p1, intptr_t index)
{
    if (!p1 || !validItem(index))
        return kFailed;
    const FixtureParameter* fixture = fixtureParameter(index);
    const ParameterInfo* info = fixture ? &fixture->info : moduleDescriptor(e, index);
    if (!info)
        return kFailed;
    if (nullPointers())
        info = nullptr;
    std::memcpy(p1, &info, sizeof info);
    return kOk;
}

int32_t parameterName(EngineInstance& e, void* p1, intptr_t index)
{
    if (!p1 || !validItem(index))
        return kFailed;
    const char* name = nullptr;
    if (const FixtureParameter* fixture = fixtureParameter(index)) {
        name = fixture->name.c_str();
    } else {
        const ParameterInfo* info = moduleDescriptor(e, index);
        name = info && info->label ? info->label : "";
    }
    if (nullPointers())
        name = nullptr;
    std::memcpy(p1, &name, sizeof name);
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// Queries

std::string bankName(uint32_t bank) { return "Bank " + std::to_string(bank + 1); }
std::string programName(uint32_t program) { return "Program " + std::to_string(program + 1); }
std::string presetTypeName(uint32_t type) { return type == 0 ? "Patch" : "Patch " + std::to_string(type + 1); }
std::string presetName(uint32_t type, uint32_t preset)
{
    return presetTypeName(type) + " " + std::to_string(preset + 1);
}

TestListCounts listCounts()
{
    Hooks& h = hooks();
    const std::lock_guard<std::mutex> guard(h.lock);
    return h.counts;
}

void fillPrograms(TarnProgram* entries, uint32_t n, uint32_t bank)
{
    for (uint32_t i = 0; i < n; ++i) {
        entries[i].index = int32_t(i);
        entries[i].bank = int32_t(bank);
        putText(entries[i].name, programName(i));
    }
}

int32_t listQuery(void* p1, intptr_t query)
{
    EngineListRecord r;
    if (!readRecord(p1, r) || r.version != 1)
        return kFailed;
    const TestListCounts counts = listCounts();
    const bool banks = query == kQueryBanks;
    const uint32_t total = banks ? counts.banks : counts.presetTypes;
    if (!r.entries) {
        r.count = total;
    } else {
        if (r.count > total)
            return kFailed;
        for (uint32_t i = 0; i < r.count; ++i) {
            if (banks) {
                auto& entry = static_cast<TarnBankEntry*>(r.entries)[i];
                if (entry.version != 1)
                    return kFailed;
                entry.bank = int32_t(i);
                entry.programCount = counts.programsPerBank;
                putText(entry.name, bankName(i));
            } else {
                auto& entry = static_cast<TarnPresetTypeEntry*>(r.entries)[i];
                if (entry.version != 1)
                    return kFailed;
                entry.presetCount = counts.presetsPerType;
                putText(entry.name, presetTypeName(i));
            }
        }
    }
    std::memcpy(p1, &r, sizeof r);
    return kOk;
}

int32_t bankPrograms(void* p1)
{
    TarnPrograms r;
    const TestListCounts counts = listCounts();
    if (!readRecord(p1, r) || r.bank < 0 || uint32_t(r.bank) >= counts.banks || !r.entries ||
        r.count > counts.programsPerBank)
        return kFailed;
    for (uint32_t i = 0; i < r.count; ++i)
        if (r.entries[i].version != 1)
            return kFailed;
    fillPrograms(r.entries, r.count, uint32_t(r.bank));
    return kOk;
}

int32_t presets(void* p1)
{
    TarnPresets r;
    if (!readRecord(p1, r) || r.version != 1 || !r.entries)
        return kFailed;
    const TestListCounts counts = listCounts();
    const std::string name = fieldText(r.typeName);
    uint32_t type = 0;
    while (type < counts.presetTypes && presetTypeName(type) != name)
        ++type;
    if (type == counts.presetTypes || r.count > counts.presetsPerType)
        return kFailed;
    for (uint32_t i = 0; i < r.count; ++i) {
        if (r.entries[i].version != 1)
            return kFailed;
        r.entries[i].index = int32_t(i);
        putText(r.entries[i].name, presetName(type, i));
    }
    return kOk;
}

int32_t slotQuery(EngineInstance& e, void* p1, intptr_t query)
{
    EngineSlotRecord r;
    if (!readRecord(p1, r) || r.version != 1 || r.slot >= kSlots)
        return kFailed;
    const TestListCounts counts = listCounts();
    const std::lock_guard<std::mutex> guard(e.lock);
    Slot& slot = e.slots[r.slot];
    switch (query) {
    case kQuerySlotFilled:
        r.state = slot.state;
        r.bank = slot.bank;
        putText(r.programName, slot.state == EngineSlotRecord::kFilled ? slot.program : "");
        break;
    case kQuerySetProgram: {
        const int32_t bank = r.bank < 0 ? slot.bank : r.bank;
        const std::string name = fieldText(r.programName);
        uint32_t program = 0;
        while (program < counts.programsPerBank && programName(program) != name)
            ++program;
        if (uint32_t(bank) >= counts.banks || program == counts.programsPerBank)
            return kFailed;
        slot = {EngineSlotRecord::kFilled, bank, name, slot.channel};
        break;
    }
    default:  // clear
        slot.state = 0;
        slot.program.clear();
        break;
    }
    std::memcpy(p1, &r, sizeof r);
    return kOk;
}

int32_t slotChannel(EngineInstance& e, void* p1, intptr_t query)
{
    EngineSlotChannelRecord r;
    if (!readRecord(p1, r) || r.version != 1 || r.kind != 0x1001 || r.slot >= kSlots)
        return kFailed;
    const std::lock_guard<std::mutex> guard(e.lock);
    if (query == kQuerySetSlotChannel)
        e.slots[r.slot].channel = r.channel;
    else
        r.channel = e.slots[r.slot].channel;
    r.confirmed = 1;
    std::memcpy(p1, &r, sizeof r);
    return kOk;
}

int32_t addCallback(EngineInstance& e, TarnHostCallback function, void* user, uint32_t flags)
{
    if (!function)
        return kFailed;
    const std::lock_guard<std::mutex> guard(e.lock);
    for (Registration& r : e.callbacks)
        if (r.function == function && r.user == user) {
            r.flags = flags;
            return kOk;
        }
    e.callbacks.push_back({function, user, flags});
    return kOk;
}

int32_t query(EngineInstance& e, void* p1, intptr_t sub)
{
    switch (sub) {
    case ENGINE_GET_CURRENT_PRODUCT: {
        EngineProductRecord r;
        if (!readRecord(p1, r) || r.version != 1)
            return kFailed;
        r.productId = 1;
        r.slotCount = 1;
        putText(r.name, "C64");
        putText(r.title, "orbella C64");
        putText(r.address, "");
        std::memcpy(p1, &r, sizeof r);
        return kOk;
    }
    case kQueryPrograms: {
        if (!p1)
            return kFailed;
        const TestListCounts counts = listCounts();
        const std::lock_guard<std::mutex> guard(e.lock);
        const int32_t bank = e.slots[0].bank;
        e.programEntries.assign(uint32_t(bank) < counts.banks ? counts.programsPerBank : 0, TarnProgram());
        fillPrograms(e.programEntries.data(), uint32_t(e.programEntries.size()), uint32_t(bank));
        e.programs = {bank, uint32_t(e.programEntries.size()), e.programEntries.data()};
        const void* list = nullPointers() ? nullptr : &e.programs;
        std::memcpy(p1, &list, sizeof list);
        return kOk;
    }
    case kQueryEngineInfo: {
        EngineInfoRecord r;
        if (!readRecord(p1, r) || r.version != 1)
            return kFailed;
        r.id = 1;
        putText(r.first, "Caddis Engine");
        putText(r.second, "stand-in engine");
        std::memcpy(p1, &r, sizeof r);
        return kOk;
    }
    case kQuerySlotFilled:
    case kQuerySetProgram:
    case kQueryClearProgram:
        return slotQuery(e, p1, sub);
    case kQueryAddHostCallback: {
        if (!p1)
            return kFailed;
        // Only the first 28 bytes: the record's tail padding need not be there.
        uint32_t version = 0, flags = 0;
        TarnHostCallback function = nullptr;
        void* user = nullptr;
        const auto* bytes = static_cast<const uint8_t*>(p1);
        std::memcpy(&version, bytes, sizeof version);
        std::memcpy(&function, bytes + offsetof(HostCallbackRegistration, function), sizeof function);
        std::memcpy(&user, bytes + offsetof(HostCallbackRegistration, user), sizeof user);
        std::memcpy(&flags, bytes + offsetof(HostCallbackRegistration, flags), sizeof flags);
        return version == 1 ? addCallback(e, function, user, flags) : kFailed;
    }
    case kQueryBanks:
    case kQueryPresetTypes:
        return listQuery(p1, sub);
    case kQueryBankPrograms:
        return bankPrograms(p1);
    case kQueryPresets:
        return presets(p1);
    case kQueryLoadPreset: {
        EnginePresetLoadRecord r;
        return readRecord(p1, r) && r.version == 1 && r.preset ? kOk : kFailed;
    }
    case kQuerySetSlotChannel:
    case kQueryGetSlotChannel:
        return slotChannel(e, p1, sub);
    default:
        return kFailed;
    }
}

// ---------------------------------------------------------------------------------------------
// Views

int32_t createTicket(void* p2, void* p3)
{
    EngineInstance* e = asInstance(p3);
    if (!e || !p2)
        return kFailed;
    auto ticket = std::make_unique<ViewTicket>();
    ticket->owner = e;
    void* handle = ticket.get();
    {
        const std::lock_guard<std::mutex> guard(e->lock);
        e->tickets.push_back(std::move(ticket));
    }
    std::memcpy(p2, &handle, sizeof handle);
    return kOk;
}

int32_t viewOpcode(ViewTicket& t, int32_t opcode, void* p1, void* p2)
{
    switch (opcode) {
    case kEngineDestroyViewTicket: {
        EngineInstance* e = t.owner;
        const std::lock_guard<std::mutex> guard(e->lock);
        t.magic = 0;
        e->tickets.erase(std::remove_if(e->tickets.begin(), e->tickets.end(),
                                        [&](const auto& x) { return x.get() == &t; }),
                         e->tickets.end());
        return kOk;
    }
    case kEngineOpenView:
        t.parent = p1;
        return kOk;
    case kEngineGetViewSize: {
        if (!p1 || !p2)
            return kFailed;
        const int32_t height = hooks().viewHeight.load(), width = hooks().viewWidth.load();
        std::memcpy(p1, &height, sizeof height);
        std::memcpy(p2, &width, sizeof width);
        return kOk;
    }
    case kEngineIdleView:
    case kEngineViewFdNotify:
    case kEngineViewTimerNotify:
        return kOk;
    default:
        return kFailed;
    }
}

int32_t viewChange(EngineInstance& e, void* p1, bool add)
{
    ViewTicket* t = asTicket(p1);
    if (!t || t->owner != &e)
        return kFailed;
    t->added = add;
    return kOk;
}

// ---------------------------------------------------------------------------------------------

int32_t instanceOpcode(EngineInstance& e, int32_t opcode, void* p1, void* p2, intptr_t i1, float f, int32_t i2)
{
    switch (opcode) {
    case kEngineStart:
        return start(e, i1, i2);
    case kEngineSuspend:
    case kEngineIdle:
        return kOk;
    case kEngineSetLatencyMode: {
        TarnEngineLatencyInfo r;
        return readRecord(p1, r) && r.version == kEngineSDKVersion ? kOk : kFailed;
    }
    case kEngineProcessEvents: {
        if (i1 < 0 || i1 > INT32_MAX)
            return kFailed;
        TarnEngineProcessEx r;
        r.events = static_cast<MIDIEvents*>(p1);
        r.outputs = static_cast<float**>(p2);
        r.frames = uint32_t(i1);
        return process(e, r);
    }
    case kEngineGetParameter: {
        if (!p1 || !validItem(i1))
            return kFailed;
        const float v = e.values[kAutomatableFirstItem + size_t(i1)].load(std::memory_order_relaxed);
        std::memcpy(p1, &v, sizeof v);
        return kOk;
    }
    case kEngineSetParameter:
        return setValue(e, i1, f);
    case kEngineGetChunk:
        return getChunk(e, p1, p2);
    case kEngineSetChunk:
        return setChunk(e, p1, i1);
    case kEngineGetStats: {
        TarnEngineStats r;
        if (!readRecord(p1, r) || r.version != 1)
            return kFailed;
        r.activeInstances = uint32_t(caddisEngineTestHook(kHookInstanceCount, nullptr, 0, 0));
        r.framesProcessed = e.instance->getFramesProcessed();
        std::memcpy(p1, &r, sizeof r);
        return kOk;
    }
    case kEngineAddView:
        return viewChange(e, p1, true);
    case kEngineRemoveView:
        return viewChange(e, p1, false);
    case kEngineQuery:
        return query(e, p1, i1);
    case kEngineProcessInputs:
        return processRecord(e, p1, 1);
    case kEngineRegisterCallback:
        return addCallback(e, reinterpret_cast<TarnHostCallback>(p1), p2, uint32_t(i1));
    case kEngineSetSettings:
        return setSettings(e, p1);
    case kEngineRemoveCallback: {
        const std::lock_guard<std::mutex> guard(e.lock);
        const auto it = std::find_if(e.callbacks.begin(), e.callbacks.end(), [&](const Registration& r) {
            return reinterpret_cast<void*>(r.function) == p1 && r.user == p2;
        });
        if (it == e.callbacks.end())
            return kFailed;
        e.callbacks.erase(it);
        return kOk;
    }
    case kEngineGetParameterName:
        return parameterName(e, p1, i1);
    case kEngineGetParameterInfo:
        return parameterInfo(e, p1, i1);
    case kEngineGetLatency: {
        TarnEngineLatencyInfo r;
        if (!readRecord(p1, r) || r.version != kEngineSDKVersion)
            return kFailed;
        r.latency = hooks().latency.load();
        std::memcpy(p1, &r, sizeof r);
        return kOk;
    }
    case kEngineGetExportKB: {
        if (!p1)
            return kFailed;
        const void* map = nullPointers() ? nullptr : &hooks().keyMap;
        std::memcpy(p1, &map, sizeof map);
        return kOk;
    }
    case kEngineImportFile:
        return p1 && e.started.load() && e.instance->openMediaFile(boundedText(static_cast<const char*>(p1))) >= 0
            ? kOk
            : kFailed;
    case kEngineProcess:
        return processRecord(e, p1, 2);
    default:
        return kFailed;
    }
}

int32_t dispatch(void* handle, int32_t opcode, void* p1, void* p2, void* p3, intptr_t i1, float f, int32_t i2)
{
    switch (opcode) {
    case kEngineDetails: {
        if (!p1)
            return kFailed;
        char details[128];
        putText(details, "Caddis Engine 1.0 (stand-in)");
        std::memcpy(p1, details, sizeof details);
        return kOk;
    }
    case kEngineCreate:
        return createInstance(p1, p2);
    case kEngineRandomOff:
        return i1 == 0x1234 ? kOk : kFailed;
    case kEngineCreateViewTicket:
        return createTicket(p2, p3);
    case kEngineDestroyViewTicket:
    case kEngineOpenView:
    case kEngineIdleView:
    case kEngineGetViewSize:
    case kEngineViewFdNotify:
    case kEngineViewTimerNotify: {
        ViewTicket* t = asTicket(handle);
        return t ? viewOpcode(*t, opcode, p1, p2) : kFailed;
    }
    default:
        break;
    }
    EngineInstance* e = asInstance(handle);
    if (!e)
        return kFailed;
    if (opcode == kEngineDestroy) {
        destroyInstance(e);
        return kOk;
    }
    return instanceOpcode(*e, opcode, p1, p2, i1, f, i2);
}

}  // namespace

int32_t caddisEngineOpcode(void* instance, int32_t opcode, void* p1, void* p2, void* p3, intptr_t i1, float f,
                           int32_t i2, int32_t i3)
{
    const bool logged = logging(opcode);
    LoggedCall described;
    if (logged)
        described = describeCall({opcode, 0, instance, p1, p2, p3, i1, f, i2, i3});
    int32_t status = forcedStatus(opcode, i1);
    if (status == kNotForced)
        status = dispatch(instance, opcode, p1, p2, p3, i1, f, i2);
    if (logged)
        appendCall(std::move(described), status);
    return status;
}

int32_t caddisEngineTestHook(int32_t op, void* p, intptr_t a, intptr_t b)
{
    Hooks& h = hooks();
    switch (op) {
    case kHookReset: {
        for (auto& x : h.forced)
            x.store(kNotForced);
        for (auto& x : h.forcedQueries)
            x.store(kNotForced);
        h.logFlags.store(a);
        h.render.store(true);
        h.answers.store(0);
        h.viewWidth.store(640);
        h.viewHeight.store(480);
        h.latency.store(0);
        const std::lock_guard<std::mutex> guard(h.lock);
        h.calls.clear();
        h.parameters.clear();
        h.counts = TestListCounts();
        std::memset(&h.keyMap, 0, sizeof h.keyMap);
        return 0;
    }
    case kHookForceStatus: {
        const auto* s = static_cast<const TestForcedStatus*>(p);
        if (!s || s->opcode < 0 || size_t(s->opcode) >= h.forced.size())
            return -1;
        const int32_t value = s->clear ? kNotForced : s->status;
        if (s->opcode == kEngineQuery && s->query != 0) {
            if (s->query < kFirstQuery || s->query >= kFirstQuery + kQueryCount)
                return -1;
            h.forcedQueries[size_t(s->query - kFirstQuery)].store(value);
        } else {
            h.forced[size_t(s->opcode)].store(value);
        }
        return 0;
    }
    case kHookCallCount: {
        const std::lock_guard<std::mutex> guard(h.lock);
        return int32_t(h.calls.size());
    }
    case kHookGetCall: {
        const std::lock_guard<std::mutex> guard(h.lock);
        if (!p || a < 0 || size_t(a) >= h.calls.size())
            return -1;
        const TestCall* call = &h.calls[size_t(a)].call;
        std::memcpy(p, &call, sizeof call);
        return 0;
    }
    case kHookFireHostOpcode: {
        auto* c = static_cast<TestHostCall*>(p);
        if (!c)
            return -1;
        std::vector<Registration> targets;
        {
            const std::lock_guard<std::mutex> guard(h.lock);
            for (EngineInstance* e : h.live) {
                const std::lock_guard<std::mutex> own(e->lock);
                targets.insert(targets.end(), e->callbacks.begin(), e->callbacks.end());
            }
        }
        c->count = 0;
        for (const Registration& r : targets) {
            const int32_t status = r.function(c->op, c->p1, c->p2, c->i1, c->i2, c->i3, c->f, r.user);
            if (c->count < std::size(c->statuses))
                c->statuses[c->count] = status;
            ++c->count;
        }
        return int32_t(targets.size());
    }
    case kHookSetParameter: {
        if (a < 0)
            return -1;
        const std::lock_guard<std::mutex> guard(h.lock);
        if (const auto* fixture = static_cast<const TestParameter*>(p))
            h.parameters[uint32_t(a)] = {fixture->info, fieldText(fixture->name)};
        else
            h.parameters.erase(uint32_t(a));
        return 0;
    }
    case kHookSetRender:
        h.render.store(a != 0);
        return 0;
    case kHookSetListCounts: {
        if (!p)
            return -1;
        const std::lock_guard<std::mutex> guard(h.lock);
        h.counts = *static_cast<const TestListCounts*>(p);
        return 0;
    }
    case kHookSetKeyMap: {
        if (!p)
            return -1;
        const std::lock_guard<std::mutex> guard(h.lock);
        std::memcpy(&h.keyMap, p, sizeof h.keyMap);
        return 0;
    }
    case kHookSetViewSize:
        h.viewWidth.store(int32_t(a));
        h.viewHeight.store(int32_t(b));
        return 0;
    case kHookSetLatency:
        h.latency.store(uint32_t(a));
        return 0;
    case kHookSetAnswers:
        h.answers.store(a);
        return 0;
    case kHookInstanceCount: {
        const std::lock_guard<std::mutex> guard(h.lock);
        return int32_t(h.live.size());
    }
    default:
        return -1;
    }
}

}  // namespace vantor::engine
