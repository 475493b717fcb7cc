#include "vst3/plugcontroller.h"

#include "vst3/SamplerPluginConfig.h"
#include "vst3/TarnWrapper.h"
#include "vst3/plugprocessor.h"

#include "platform/ConsoleLogger.h"
#include "platform/ParameterInfo.h"
#include "platform/ZRGSConv.h"

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <public.sdk/source/vst/vstparameters.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr int32_t kEngineParameters = 256;

// Label prefix -> unit name, searched in key order.
const std::map<std::string, std::string>& prefixNamesMap()
{
    static const std::map<std::string, std::string> map = {
        {"DAC ", "DAC  "},           {"Filter ", "Filter  "}, {"L01 ", "Oscillator 1"},
        {"L02 ", "Oscillator 2"},    {"L03 ", "Oscillator 3"}, {"L04 ", "DAC  "},
        {"Osc1 ", "Oscillator 1"},   {"Osc2 ", "Oscillator 2"}, {"Osc3 ", "Oscillator 3"},
    };
    return map;
}

// Hosts that show units: their parameters go into units with short titles.
constexpr const char* kUnitHosts[] = {"PreSonus VST3 Host", "Vantor Wendle"};

// UTF-8 into a zero-terminated UTF-16 field of `capacity` units, at most `limit` characters.
void toUTF16(const std::string& text, char16* out, size_t capacity, size_t limit)
{
    size_t n = 0;
    const size_t most = std::min(capacity - 1, limit);
    for (size_t i = 0; i < text.size() && n < most;) {
        const auto b = uint8_t(text[i]);
        uint32_t c = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b >> 5) == 6 || (b >> 4) == 14 || (b >> 3) == 30) {
            len = (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : 4;
            if (i + len <= text.size()) {
                c = b & (0x7F >> len);
                for (size_t k = 1; k < len; ++k) {
                    const auto t = uint8_t(text[i + k]);
                    if ((t >> 6) != 2) {
                        c = 0xFFFD;
                        len = k;
                        break;
                    }
                    c = c << 6 | (t & 0x3F);
                }
            } else {
                len = text.size() - i;
            }
        }
        i += len;
        if (c >= 0x10000 && c <= 0x10FFFF) {
            if (n + 2 > most)
                break;
            out[n++] = char16(0xD800 + ((c - 0x10000) >> 10));
            out[n++] = char16(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[n++] = char16(c > 0x10FFFF ? 0xFFFD : c);
        }
    }
    out[n] = 0;
}

std::vector<std::string> split(const std::string& text, char at)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t to; (to = text.find(at, from)) != std::string::npos; from = to + 1)
        parts.push_back(text.substr(from, to - from));
    parts.push_back(text.substr(from));
    return parts;
}

// A plain parameter whose title is set from UTF-8.
template <typename P, typename... Args>
P* makeParameter(const std::string& title, size_t limit, Args&&... args)
{
    String128 wide = {};
    toUTF16(title, wide, 128, limit);
    return new P(wide, std::forward<Args>(args)...);
}

}  // namespace

PlugController::PlugController() = default;

PlugController::~PlugController()
{
    if (initDone)
        if (vantor::TARNWrapper* w = getWrapper())
            w->removeHostCallback(TARN_CB, this);
    if (nksHost)
        nksHost->release();
}

FUnknown* PlugController::createInstance(void*) { return static_cast<IEditController*>(new PlugController); }

tresult PLUGIN_API PlugController::queryInterface(const TUID iid, void** obj)
{
    QUERY_INTERFACE(iid, obj, IMidiMapping::iid, IMidiMapping)
    QUERY_INTERFACE(iid, obj, nks::INKS1Plugin::iid, nks::INKS1Plugin)
    QUERY_INTERFACE(iid, obj, nks::INKSMetadataPlugin::iid, nks::INKSMetadataPlugin)
    QUERY_INTERFACE(iid, obj, INoteExpressionController::iid, INoteExpressionController)
    QUERY_INTERFACE(iid, obj, INoteExpressionPhysicalUIMapping::iid, INoteExpressionPhysicalUIMapping)
    if (FUnknownPrivate::iidEqual(iid, IUnitInfo::iid)) {
        if (!unitAwareHost)
            usePrefixTitles = false;
        addRef();
        *obj = static_cast<IUnitInfo*>(this);
        return kResultOk;
    }
    return EditController::queryInterface(iid, obj);
}

vantor::TARNWrapper* PlugController::getWrapper() const
{
    return handle && vantor::isLivePlugHandle(handle) ? handle->wrapper : nullptr;
}

tresult PLUGIN_API PlugController::initialize(FUnknown* context)
{
    const tresult result = EditController::initialize(context);
    if (FUnknownPtr<IHostApplication> host(context); host) {
        String128 name = {};
        if (host->getName(name) == kResultOk)
            hostName = ZRGSConvCrudeUTF16_TO_UTF8(reinterpret_cast<const char16_t*>(name));
    }
    usePrefixTitles = unitAwareHost = true;
    for (const char* prefix : kUnitHosts)
        if (hostName.compare(0, std::strlen(prefix), prefix) == 0)
            usePrefixTitles = unitAwareHost = false;
    void* offered = nullptr;
    if (context && context->queryInterface(nks::INKS1Host::iid, &offered) == kResultOk && offered) {
        if (nksHost)
            nksHost->release();
        nksHost = static_cast<nks::INKS1Host*>(offered);
    }
    return result;
}

tresult PLUGIN_API PlugController::connect(IConnectionPoint* other)
{
    EditController::connect(other);
    sendTextMessage("CaddisController");
    doTheRealInit(false);
    return kResultOk;
}

tresult PLUGIN_API PlugController::disconnect(IConnectionPoint* other)
{
    vantor::TARNWrapper* w = getWrapper();
    if (!w)
        return kResultFalse;
    w->removeHostCallback(TARN_CB, this);
    initDone = false;
    return EditController::disconnect(other);
}

tresult PLUGIN_API PlugController::notify(IMessage* message)
{
    if (!message)
        return kInvalidArgument;
    const char* id = message->getMessageID();
    if (!id || std::strcmp(id, "CaddisHandle") != 0)
        return kResultFalse;
    int64 no = 0;
    IAttributeList* attributes = message->getAttributes();
    if (attributes && attributes->getInt("No", no) == kResultOk) {
        auto* address = reinterpret_cast<vantor::PlugHandle*>(intptr_t(no));
        // Only the block of a live processor is taken.
        if (vantor::isLivePlugHandle(address)) {
            handle = address;
            doTheRealInit(false);
        }
    }
    return kResultFalse;
}

void PlugController::doTheRealInit(bool buildNow)
{
    vantor::TARNWrapper* w = getWrapper();
    if (!w)
        return;
    if (!initDone) {
        vantor::logInfo("doTheRealInit in " + hostName);
        w->addHostCallback(TARN_CB, this, vantor::kCallbackFlagsController);
        initDone = true;
    }
    if (buildNow && !parametersBuilt)
        buildParameters();
}

int32 PLUGIN_API PlugController::getParameterCount()
{
    sendTextMessage("PlugController");
    doTheRealInit(true);
    return initDone ? EditController::getParameterCount() : int32(kSamplerPluginConfig.automatableCount);
}

UnitID PlugController::unitFor(const std::string& prefix, const std::string& unitName)
{
    // Levels split at ':' nest when prefix and name have as many.
    std::vector<std::string> prefixes = split(prefix, ':'), names = split(unitName, ':');
    if (prefixes.size() != names.size()) {
        prefixes = {prefix};
        names = {unitName};
    }
    UnitID parent = kRootUnitId;
    std::string keyPrefix;
    for (size_t level = 0; level < names.size(); ++level) {
        keyPrefix += (level ? ":" : "") + prefixes[level];
        const auto key = std::make_pair(keyPrefix, names[level]);
        auto found = unitKeys.find(key);
        if (found == unitKeys.end()) {
            const UnitID id = UnitID(units.size() + 1);
            UnitInfo info{};
            info.id = id;
            info.parentUnitId = parent;
            toUTF16(names[level], info.name, 128, 127);
            info.programListId = kNoProgramListId;
            units[id] = info;
            found = unitKeys.emplace(key, id).first;
        }
        parent = found->second;
    }
    return parent;
}

std::vector<std::string> PlugController::listItems(const char* list) { return split(list ? list : "", '|'); }

std::pair<std::string, UnitID> PlugController::titleAndUnit(const char* label, bool makeUnits)
{
    const std::string text(label);
    for (const auto& [prefix, unitName] : prefixNamesMap()) {
        if (text.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rest = text.substr(prefix.size());
        if (usePrefixTitles)
            return {unitName + " : " + rest, kRootUnitId};
        return {rest, makeUnits ? unitFor(prefix, unitName) : kRootUnitId};
    }
    return {text, kRootUnitId};
}

void PlugController::addEngineParameter(int32_t index, const ::ParameterInfo& info)
{
    auto [title, unit] = titleAndUnit(info.label, true);
    if (!usePrefixTitles && unit != kRootUnitId)
        parameterUnits[index] = unit;
    const auto id = ParamID(index);
    const int32 automate = Vst::ParameterInfo::kCanAutomate;
    Parameter* p = nullptr;
    switch (info.type) {
    case ::ParameterInfo::Continuous:
        if (info.minValue == 0.0f && info.maxValue == 1.0f)
            p = makeParameter<Parameter>(title, 127, id, nullptr, info.defaultValue, 0, automate, unit);
        else
            p = makeParameter<RangeParameter>(title, 127, id, nullptr, info.minValue, info.maxValue, info.defaultValue,
                                              0, automate, unit);
        break;
    case ::ParameterInfo::Integer: {
        const double steps = std::max(0.0, double(info.maxValue) - double(info.minValue));
        p = makeParameter<RangeParameter>(title, 127, id, nullptr, info.minValue, info.maxValue, info.defaultValue,
                                          int32(std::min(steps, 1.0e9)), automate, unit);
        break;
    }
    case ::ParameterInfo::Switch: {
        float packed = info.defaultValue;
        info.pack(packed);
        p = makeParameter<Parameter>(title, 127, id, nullptr, packed, 1, automate, unit);
        break;
    }
    case ::ParameterInfo::Choice: {
        if (!info.list)
            return;
        auto* list = makeParameter<StringListParameter>(title, 127, id, nullptr,
                                                        automate | Vst::ParameterInfo::kIsList, unit);
        for (const std::string& item : listItems(info.list)) {
            String128 wide = {};
            toUTF16(item, wide, 128, 127);
            list->appendString(wide);
        }
        // The engine's default, normalised as the engine normalises the list's values.
        float normalized = info.defaultValue;
        info.pack01(normalized);
        const ParamValue value = std::isfinite(normalized) ? std::clamp(double(normalized), 0.0, 1.0) : 0.0;
        list->getInfo().defaultNormalizedValue = value;
        list->setNormalized(value);
        p = list;
        break;
    }
    default:
        return;
    }
    parameters.addParameter(p);
}

void PlugController::buildParameters()
{
    parametersBuilt = true;
    Parameter* bypass = makeParameter<Parameter>("Bypass", 127, kBypassId, nullptr, 0.0, 1,
                                                 Vst::ParameterInfo::kCanAutomate | Vst::ParameterInfo::kIsBypass);
    bypass->setNormalized(bypassValue);  // a state may have come first
    parameters.addParameter(bypass);
    if (vantor::TARNWrapper* w = getWrapper()) {
        for (int32_t index = 0; index < kEngineParameters; ++index) {
            const ::ParameterInfo* info = w->getAutomatableParameterInfo(uint64_t(index));
            if (info && info->label)
                addEngineParameter(index, *info);
        }
    }
    char title[64];
    for (int ch = 0; ch < 16; ++ch) {
        std::snprintf(title, sizeof title, "Ch%02d - ChanAft", ch);
        parameters.addParameter(makeParameter<Parameter>(title, 63, kChannelPressureFirst + ch, nullptr, 0.0, 1, 0));
    }
    for (int ch = 0; ch < 16; ++ch) {
        std::snprintf(title, sizeof title, "Ch%02d - PitchBend", ch);
        parameters.addParameter(makeParameter<Parameter>(title, 63, kPitchBendFirst + ch, nullptr, 0.0, 1, 0));
    }
    for (int ch = 0; ch < 16; ++ch)
        for (int cc = 0; cc < 128; ++cc) {
            std::snprintf(title, sizeof title, "Ch%02d - CC%03d", ch, cc);
            parameters.addParameter(
                makeParameter<Parameter>(title, 63, kControlChangeFirst + ch * 128 + cc, nullptr, 0.0, 1, 0));
        }
}

bool PlugController::updateParameterNames()
{
    vantor::TARNWrapper* w = getWrapper();
    if (!w)
        return false;
    bool moved = false;
    for (int32_t index = 0; index < kEngineParameters; ++index) {
        Parameter* p = parameters.getParameter(ParamID(index));
        const ::ParameterInfo* info = p ? w->getAutomatableParameterInfo(uint64_t(index)) : nullptr;
        if (!info || !info->label)
            continue;
        const std::string title = titleAndUnit(info->label, false).first;
        toUTF16(title, p->getInfo().title, 128, 127);
        bool changed = false;
        const float value = w->getAutomatableParameterValue(uint64_t(index), true, changed);
        if (changed) {
            p->setNormalized(value);
            moved = true;
        }
    }
    return moved;
}

ParamValue PLUGIN_API PlugController::getParamNormalized(ParamID id)
{
    if (id == kBypassId)
        return bypassValue;
    vantor::TARNWrapper* w = getWrapper();
    if (!w || id > 8999)
        return 0.0;
    if (int64_t(id) == editIndex)
        return lastEditValue;
    bool changed = false;
    return w->getAutomatableParameterValue(id, true, changed);
}

tresult PLUGIN_API PlugController::setParamNormalized(ParamID id, ParamValue value)
{
    if (id == kBypassId && std::isfinite(value))
        bypassValue = std::clamp(value, 0.0, 1.0);
    return EditController::setParamNormalized(id, value);
}

tresult PLUGIN_API PlugController::setComponentState(IBStream* stream)
{
    if (!stream)
        return kResultFalse;
    // The processor's three forms: a "VstW" head with its flag at 12, a "CcnK" head without
    // one, or the plain form whose first word is the flag.
    int64 length = 0;
    if (stream->seek(0, IBStream::kIBSeekEnd, &length) != kResultOk || stream->seek(0, IBStream::kIBSeekSet, nullptr) != kResultOk)
        return kResultFalse;
    uint8_t head[176] = {};
    const int32 want = int32(std::min<int64>(std::max<int64>(length, 0), 176));
    int32 got = 0;
    if (stream->read(head, want, &got) != kResultOk || got < 4 || got > want)
        return kResultFalse;
    auto le32 = [&](size_t at) { return int32_t(uint32_t(head[at]) | uint32_t(head[at + 1]) << 8 | uint32_t(head[at + 2]) << 16 | uint32_t(head[at + 3]) << 24); };
    auto be32 = [&](size_t at) { return int32_t(uint32_t(head[at]) << 24 | uint32_t(head[at + 1]) << 16 | uint32_t(head[at + 2]) << 8 | uint32_t(head[at + 3])); };
    bool bypass = le32(0) > 0;
    if (length > 176 && got == 176 && std::memcmp(head, "VstW", 4) == 0 && std::memcmp(head + 16, "CcnK", 4) == 0 &&
        be32(28) > 0)
        bypass = le32(12) > 0;
    else if (length > 160 && got >= 160 && std::memcmp(head, "CcnK", 4) == 0)
        bypass = false;
    setParamNormalized(kBypassId, bypass ? 1.0 : 0.0);
    return kResultOk;
}

IPlugView* PLUGIN_API PlugController::createView(FIDString name)
{
    vantor::TARNWrapper* w = getWrapper();
    if (!name || std::strcmp(name, "editor") != 0 || !w)
        return nullptr;
    editor = new CaddisVST3Editor(this, w);
    return editor;
}

void PlugController::editorDestroyed(EditorView* view)
{
    if (view == editor)
        editor = nullptr;
}

tresult PLUGIN_API PlugController::getMidiControllerAssignment(int32, int16 channel, CtrlNumber controller, ParamID& id)
{
    if (channel < 0 || channel > 15)
        return kResultFalse;
    if (controller == ControllerNumbers::kAfterTouch)
        id = kChannelPressureFirst + ParamID(channel);
    else if (controller == ControllerNumbers::kPitchBend)
        id = kPitchBendFirst + ParamID(channel);
    else if (controller >= 0 && controller < 128)
        id = kControlChangeFirst + ParamID(channel) * 128 + ParamID(controller);
    else
        return kResultFalse;
    return kResultOk;
}

// Units and program lists.

int32 PLUGIN_API PlugController::getUnitCount()
{
    doTheRealInit(true);
    return int32(units.size()) + 1;
}

tresult PLUGIN_API PlugController::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
    doTheRealInit(true);
    if (unitIndex == 0) {
        info = UnitInfo{};
        info.id = kRootUnitId;
        info.parentUnitId = kNoParentUnitId;
        toUTF16("Root Unit", info.name, 128, 127);
        info.programListId = kNoProgramListId;
        return kResultOk;
    }
    if (unitIndex < 0 || size_t(unitIndex) > units.size())
        return kResultFalse;
    info = std::next(units.begin(), unitIndex - 1)->second;
    return kResultOk;
}

int32 PLUGIN_API PlugController::getProgramListCount() { return kProgramLists; }

tresult PLUGIN_API PlugController::getProgramListInfo(int32 listIndex, ProgramListInfo& info)
{
    if (listIndex < 0 || listIndex >= kProgramLists)
        return kResultFalse;
    info = ProgramListInfo{};
    info.id = listIndex;
    toUTF16("ProgramList " + std::to_string(listIndex), info.name, 128, 127);
    info.programCount = kProgramsPerList;
    return kResultOk;
}

tresult PLUGIN_API PlugController::getProgramName(ProgramListID listId, int32 programIndex, String128 name)
{
    if (!name || listId < 0 || listId >= kProgramLists || programIndex < 0 || programIndex >= kProgramsPerList)
        return kResultFalse;
    toUTF16("Program " + std::to_string(programIndex), name, 128, 127);
    return kResultOk;
}

tresult PLUGIN_API PlugController::getProgramInfo(ProgramListID, int32, Vst::CString, String128) { return kResultFalse; }
tresult PLUGIN_API PlugController::hasProgramPitchNames(ProgramListID, int32) { return kResultFalse; }
tresult PLUGIN_API PlugController::getProgramPitchName(ProgramListID, int32, int16, String128) { return kResultFalse; }
UnitID PLUGIN_API PlugController::getSelectedUnit() { return kRootUnitId; }
tresult PLUGIN_API PlugController::selectUnit(UnitID unitId) { return unitId == kRootUnitId ? kResultOk : kResultFalse; }
tresult PLUGIN_API PlugController::getUnitByBus(MediaType, BusDirection, int32, int32, UnitID&) { return kResultFalse; }
tresult PLUGIN_API PlugController::setUnitProgramData(int32, int32, IBStream*) { return kResultFalse; }

// Host callbacks of the engine.

int32_t PlugController::TARN_CB(int32_t op, void* p1, void* p2, int32_t i1, int32_t i2, int32_t i3, float f, void* user)
{
    if (!user)
        return vantor::TARN_HOST_NOT_HANDLED;
    return static_cast<PlugController*>(user)->TARN_CB_INTERNAL(op, p1, p2, i1, i2, i3, f);
}

void PlugController::setEditIndex(int32_t index)
{
    editIndex = index;
    if (handle && vantor::isLivePlugHandle(handle))
        handle->editingParameter.store(index);
}

void PlugController::closeEdit(bool tellHost)
{
    if (editIndex == -1)
        return;
    if (tellHost)
        endEdit(ParamID(editIndex));
    setEditIndex(-1);
}

int32_t PlugController::TARN_CB_INTERNAL(int32_t op, void* p1, void*, int32_t i1, int32_t i2, int32_t i3, float f)
{
    const int32_t index = i2;
    const bool known = index >= 0 && parameters.getParameter(ParamID(index)) != nullptr;
    switch (op) {
    case vantor::kHostNamesChanged:
        closeEdit(true);
        if (updateParameterNames()) {
            if (componentHandler)
                componentHandler->restartComponent(kParamTitlesChanged | kParamValuesChanged);
            setDirty(true);
        }
        return 0;
    case vantor::kHostValueChanged: {
        if (i1 != 0 || !known)
            return 0;
        const bool silent = i3 == 1;
        float value = f;
        if (p1)
            static_cast<const ::ParameterInfo*>(p1)->pack01(value);
        if (editIndex != index) {
            closeEdit(!silent);
            if (!silent)
                beginEdit(ParamID(index));
            setEditIndex(index);
        }
        setParamNormalized(ParamID(index), value);
        lastEditValue = value;
        if (silent) {
            setEditIndex(-1);
        } else {
            performEdit(ParamID(index), value);
            closeEdit(true);
        }
        return 0;
    }
    case vantor::kHostLatencyChanged:
        if (componentHandler)
            componentHandler->restartComponent(kLatencyChanged);
        setDirty(true);
        return 0;
    case vantor::kHostKeyMapChanged:
        nks_keyMapChanged(i1);
        setDirty(true);
        return 0;
    case vantor::kHostEditorSize:
        if (editor)
            editor->XMLGUISizeChange(i1, i2);
        setDirty(true);
        return 0;
    case vantor::kHostBeginEdit:
        if (!known)
            return 0;
        if (editIndex != index) {
            closeEdit(true);
            beginEdit(ParamID(index));
            setEditIndex(index);
        }
        return 0;
    case vantor::kHostEndEdit:
        if (index == editIndex && index != -1)
            closeEdit(true);
        return 0;
    default:
        return vantor::TARN_HOST_NOT_HANDLED;
    }
}

// Note expression.

namespace {

struct ExpressionRow
{
    NoteExpressionTypeID type;
    const char* title;
    const char* shortTitle;
    const char* units;
    double defaultValue, minimum, maximum;
    int32 flags;
};

const ExpressionRow kExpressions[] = {
    {kVolumeTypeID, "Volume", "Vol", "dB", 1.0, 0.0, 1.0, 0},
    {kPanTypeID, "Pan", "Pan", "", 0.5, 0.0, 1.0, NoteExpressionTypeInfo::kIsBipolar},
    {kTuningTypeID, "Tuning", "Tun", "", 0.5, 0.3, 0.7, NoteExpressionTypeInfo::kIsBipolar},
    {kVibratoTypeID, "Vibrato", "Vib", "", 0.0, 0.0, 1.0, 0},
    {kExpressionTypeID, "Expression", "Exp", "", 0.0, 0.0, 1.0, 0},
    {kBrightnessTypeID, "Brightness", "Bri", "", 0.0, 0.0, 1.0, 0},
    {100000, "Pressure", "Prs", "", 0.0, 0.0, 1.0, 0},
    {100001, "Extra", "Ext", "", 0.0, 0.0, 1.0, 0},
};
constexpr int32 kExpressionCount = int32(std::size(kExpressions));

bool expressionChannel(int32 bus, int16 channel) { return bus == 0 && channel == 0; }

}  // namespace

int32 PLUGIN_API PlugController::getNoteExpressionCount(int32 busIndex, int16 channel)
{
    return expressionChannel(busIndex, channel) ? kExpressionCount : 0;
}

tresult PLUGIN_API PlugController::getNoteExpressionInfo(int32 busIndex, int16 channel, int32 index,
                                                         NoteExpressionTypeInfo& info)
{
    if (!expressionChannel(busIndex, channel))
        return kResultFalse;
    std::memset(&info, 0, sizeof info);
    info.unitId = -1;
    info.valueDesc.minimum = 0.0;
    info.valueDesc.maximum = 1.0;
    if (index < 0 || index >= kExpressionCount) {
        info.typeId = NoteExpressionTypeID(index);
        return kResultOk;
    }
    const ExpressionRow& row = kExpressions[index];
    info.typeId = row.type;
    toUTF16(row.title, info.title, 128, 127);
    toUTF16(row.shortTitle, info.shortTitle, 128, 127);
    toUTF16(row.units, info.units, 128, 127);
    info.valueDesc.defaultValue = row.defaultValue;
    info.valueDesc.minimum = row.minimum;
    info.valueDesc.maximum = row.maximum;
    info.valueDesc.stepCount = 0;
    info.associatedParameterId = 0;
    info.flags = row.flags;
    return kResultOk;
}

tresult PLUGIN_API PlugController::getNoteExpressionStringByValue(int32 busIndex, int16 channel,
                                                                  NoteExpressionTypeID id,
                                                                  NoteExpressionValue value, String128 string)
{
    if (!expressionChannel(busIndex, channel) || !string)
        return kResultFalse;
    double shown = value * 100.0;
    if (id == kPanTypeID)
        shown = (value - 0.5) * 200.0;
    else if (id == kTuningTypeID)
        shown = (value - 0.5) * 240.0;
    char text[128];
    std::snprintf(text, sizeof text, "%.2f", double(float(shown)));
    toUTF16(text, string, 128, 127);
    return kResultOk;
}

tresult PLUGIN_API PlugController::getNoteExpressionValueByString(int32 busIndex, int16 channel,
                                                                  NoteExpressionTypeID id, const TChar* string,
                                                                  NoteExpressionValue& value)
{
    if (!expressionChannel(busIndex, channel) || !string)
        return kResultFalse;
    const std::string text = ZRGSConvCrudeUTF16_TO_UTF8(reinterpret_cast<const char16_t*>(string));
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(number))
        return kResultFalse;
    if (id == kPanTypeID)
        value = number / 200.0 + 0.5;
    else if (id == kTuningTypeID)
        value = number / 240.0 + 0.5;
    else
        value = number / 100.0;
    return kResultOk;
}

tresult PLUGIN_API PlugController::getPhysicalUIMapping(int32 busIndex, int16 channel, PhysicalUIMapList&)
{
    return expressionChannel(busIndex, channel) ? kResultOk : kResultFalse;
}

// The editor view.

CaddisVST3Editor::CaddisVST3Editor(EditController* controller, vantor::TARNWrapper* wrapper)
    : EditorView(controller, nullptr), wrapper(wrapper)
{
}

CaddisVST3Editor::~CaddisVST3Editor() = default;

vantor::TARNWrapper* CaddisVST3Editor::liveWrapper() const
{
    if (auto* owner = dynamic_cast<PlugController*>(controller))
        return owner->getWrapper() == wrapper ? wrapper : nullptr;
    return wrapper;
}

tresult PLUGIN_API CaddisVST3Editor::queryInterface(const TUID iid, void** obj)
{
    QUERY_INTERFACE(iid, obj, IPlugViewContentScaleSupport::iid, IPlugViewContentScaleSupport)
    return EditorView::queryInterface(iid, obj);
}

tresult PLUGIN_API CaddisVST3Editor::isPlatformTypeSupported(FIDString type)
{
    return type && std::strcmp(type, kPlatformTypeNSView) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API CaddisVST3Editor::attached(void* parent, FIDString type)
{
    vantor::logInfo("Editor attached");
    vantor::TARNWrapper* w = liveWrapper();
    if (!w || !parent || isPlatformTypeSupported(type) != kResultTrue)
        return kResultFalse;
    return w->createView(this, parent, false) ? kResultOk : kResultFalse;
}

tresult PLUGIN_API CaddisVST3Editor::removed()
{
    vantor::logInfo("Editor removed");
    if (vantor::TARNWrapper* w = liveWrapper())
        w->destroyView();
    return kResultOk;
}

tresult PLUGIN_API CaddisVST3Editor::getSize(ViewRect* size)
{
    if (!size)
        return kInvalidArgument;
    int32_t width = 0, height = 0;
    vantor::TARNWrapper* w = liveWrapper();
    if (!w || !w->getSize(width, height))
        width = height = 0;
    *size = ViewRect(0, 0, width, height);
    return kResultOk;
}

tresult PLUGIN_API CaddisVST3Editor::onSize(ViewRect*) { return kResultOk; }

tresult PLUGIN_API CaddisVST3Editor::canResize() { return kResultTrue; }

tresult PLUGIN_API CaddisVST3Editor::checkSizeConstraint(ViewRect* r)
{
    if (!r)
        return kInvalidArgument;
    return getSize(r);
}

tresult PLUGIN_API CaddisVST3Editor::setFrame(IPlugFrame* f)
{
    frame = f;
    return kResultOk;
}

tresult PLUGIN_API CaddisVST3Editor::setContentScaleFactor(ScaleFactor) { return kResultOk; }

void CaddisVST3Editor::XMLGUISizeChange(int32_t width, int32_t height)
{
    rect = ViewRect(0, 0, width, height);
    if (frame)
        frame->resizeView(this, &rect);
}
