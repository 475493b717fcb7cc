#include "vst3/plugcontroller_nks.h"

#include "vst3/TarnWrapper.h"
#include "vst3/plugcontroller.h"

#include "platform/ParameterInfo.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace Steinberg;

namespace nks {

DEF_CLASS_IID(INKS1Plugin)
DEF_CLASS_IID(INKS1Host)
DEF_CLASS_IID(INKSMetadataPlugin)

// Slots name the instrument's parameters by index (oscillator n's block starts at 16 n) and by
// the name the controller shows for them; the oscillators' "Active", "Coarse" and "Fine" and the
// sample channel's "Fine" have no parameter and stay empty.
const Page NKS2PerfSection = {"Filter",
                              {{11, "Osc1 To Filter"}, {27, "Osc2 To Filter"}, {43, "Osc3 To Filter"},
                               {97, "Filter Cutoff"}, {98, "Filter Res"}, {-1, ""}, {-1, ""}, {-1, ""}}};

const Page NKS2Pages[8] = {
    {"Osc1", {{-1, ""}, {2, "Wave"}, {-1, ""}, {-1, ""}, {0, "PW"}, {5, "Ring Mod"}, {6, "Hard Sync"},
              {11, "To Filter"}}},
    {"Osc1Env", {{7, "Attack"}, {8, "Decay"}, {9, "Sustain"}, {10, "Release"}, {-1, ""}, {-1, ""}, {-1, ""},
                 {-1, ""}}},
    {"Osc2", {{-1, ""}, {18, "Wave"}, {-1, ""}, {-1, ""}, {16, "PW"}, {21, "Ring Mod"}, {22, "Hard Sync"},
              {27, "To Filter"}}},
    {"Osc2Env", {{23, "Attack"}, {24, "Decay"}, {25, "Sustain"}, {26, "Release"}, {-1, ""}, {-1, ""}, {-1, ""},
                 {-1, ""}}},
    {"Osc3", {{-1, ""}, {34, "Wave"}, {-1, ""}, {-1, ""}, {32, "PW"}, {37, "Ring Mod"}, {38, "Hard Sync"},
              {43, "To Filter"}}},
    {"Osc3Env", {{39, "Attack"}, {40, "Decay"}, {41, "Sustain"}, {42, "Release"}, {-1, ""}, {-1, ""}, {-1, ""},
                 {-1, ""}}},
    {"Filter", {{97, "Cutoff"}, {98, "Res"}, {-1, ""}, {-1, ""}, {99, "LP"}, {100, "BP"}, {101, "HP"}, {-1, ""}}},
    {"Dac", {{134, "Mode"}, {137, "Gain"}, {136, "Bias"}, {139, "MIDI Offset"}, {-1, ""}, {-1, ""}, {-1, ""},
             {-1, ""}}},
};

const int32_t NKS2SpecialDisplayParams[3] = {2, 18, 34};
const char* const NKS2WaveformNames[9] = {"None", "triangle", "saw", "T+S", "pwm", "P+T", "P+S", "P+T+S", "noise"};

metadata::v1::parameter_navigation::Section pageSection(const Page& page)
{
    using namespace metadata::v1::parameter_navigation;
    Section s{page.name, {}};
    for (const PageSlot& slot : page.slots)
        s.parameters.emplace_back(slot.id < 0 ? kNoParameter : uint32_t(slot.id), slot.name);
    return s;
}

}  // namespace nks

namespace {

using namespace nks::metadata::v1;
using parameter_descriptive_info::Attributes;
using parameter_descriptive_info::Style;
using parameter_descriptive_info::Type;

struct Property
{
    int32_t id;
    uint64_t size;
    bool writable;
};
constexpr Property kProperties[] = {{12, 4, false}, {13, 4, true}, {28, 1, false}, {32, 8, true}};

const Property* findProperty(int32_t id)
{
    for (const Property& p : kProperties)
        if (p.id == id)
            return &p;
    return nullptr;
}

// Hosts reject discrete entries outside 3-128 values: fewer become toggles, more continuous.
Attributes describe(int32_t index, const ::ParameterInfo& info)
{
    const Attributes continuous(info.minValue < 0.0f ? Type::ContinuousBipolar : Type::Continuous, Style::Default, 0u);
    const Attributes toggle(Type::Toggle, Style::Default, 0u);
    switch (info.type) {
    case ::ParameterInfo::Continuous:
        return continuous;
    case ::ParameterInfo::Integer: {
        const double span = double(info.maxValue) - double(info.minValue);
        if (!(span < 128.0))
            return continuous;
        if (span < 2.0)
            return toggle;
        return Attributes(info.minValue < 0.0f ? Type::DiscreteBipolar : Type::Discrete, Style::Generic,
                          uint32_t(span + 1.0));
    }
    case ::ParameterInfo::Switch: {
        const bool onOff = info.displayMode == ::ParameterInfo::OnOffCenter ||
                           info.displayMode == ::ParameterInfo::OnOffZero;
        return Attributes(Type::Toggle, onOff ? Style::OnOff : Style::Default, 0u);
    }
    case ::ParameterInfo::Choice: {
        if (!info.list)
            break;
        Attributes list(Type::Discrete, Style::Menu, 0u);
        if (std::find(std::begin(nks::NKS2SpecialDisplayParams), std::end(nks::NKS2SpecialDisplayParams), index) !=
            std::end(nks::NKS2SpecialDisplayParams)) {
            list.style = Style::WaveIcons;
            list.displayValues.assign(std::begin(nks::NKS2WaveformNames), std::end(nks::NKS2WaveformNames));
            return list;
        }
        list.displayValues = PlugController::listItems(info.list);
        if (list.displayValues.size() <= 2)
            return toggle;
        if (list.displayValues.size() > 128)
            return continuous;
        return list;
    }
    default:
        break;
    }
    return Attributes(Type::Continuous, Style::Default, 0u);
}

uint8_t keyColour(uint8_t kind)
{
    switch (kind) {
    case 0:
        return 0x11;
    case 1:
        return 0x02;
    case 2:
        return 0x03;
    case 3:
        return 0x04;
    default:
        return 0x10;
    }
}

}  // namespace

bool PLUGIN_API PlugController::nksDispatch(int32 message, uint64 value, void* data, float)
{
    try {
        return receiveNKSHostMessage(message, value, data);
    } catch (...) {
        return false;
    }
}

bool PlugController::receiveNKSHostMessage(int32_t message, uint64_t value, void* data)
{
    const int32_t property = int32_t(uint32_t(message) & 0xFFFF);
    switch (uint32_t(message) >> 16) {
    case nks::kGetProperty:
        return nks_getVendorSpecificProperty(property, data);
    case nks::kSetProperty:
        return nks_setVendorSpecificProperty(property, data, value);
    case nks::kPropertyInfo: {
        uint64_t info[2] = {};
        if (!nks_getVendorSpecificPropertyInfo(property, info[0], info[1]))
            return false;
        if (data)
            std::memcpy(data, info, sizeof info);
        return true;
    }
    default:
        return false;
    }
}

bool PlugController::nks_getVendorSpecificPropertyInfo(int32_t property, uint64_t& size, uint64_t& writable) const
{
    const Property* p = findProperty(property);
    if (!p)
        return false;
    size = p->size;
    writable = p->writable ? 1 : 0;
    return true;
}

bool PlugController::nks_getVendorSpecificProperty(int32_t property, void* data) const
{
    if (property == 28)
        return true;
    if (!data)
        return false;
    switch (property) {
    case 12:
    case 13: {
        const int32_t v = property == 12 ? 1 : 0;
        std::memcpy(data, &v, sizeof v);
        return true;
    }
    case 32: {
        const uint64_t v = 2;
        std::memcpy(data, &v, sizeof v);
        return true;
    }
    default:
        return false;
    }
}

bool PlugController::nks_setVendorSpecificProperty(int32_t property, const void* data, uint64_t size)
{
    if (!data)
        return false;
    if (property == 13 && size == 4) {
        int32_t view = 0;
        std::memcpy(&view, data, sizeof view);
        std::printf("Set the plugin to %s view\n", view == 2 ? "large" : view == 1 ? "medium" : "small");
        std::fflush(stdout);
        return true;
    }
    if (property == 32 && size == 8) {
        uint64_t version = 0;
        std::memcpy(&version, data, sizeof version);
        std::printf("Current nks version of the host is: %" PRIu64 "\n", version);
        std::fflush(stdout);
        return true;
    }
    return false;
}

bool PlugController::sendNKSHostMessage(int32_t id, void* data, uint64_t size)
{
    if (!nksHost)
        return false;
    return nksHost->nksHostMessage(int32(uint32_t(id) | uint32_t(nks::kToHost) << 16), size, data);
}

bool PlugController::nks_keyMapChanged(int32_t)
{
    vantor::TARNWrapper* w = getWrapper();
    if (!nksHost || !w || !w->getExportKB(exportKB))
        return false;
    for (int note = 0; note < 128; ++note) {
        nks::vse::note_name name{};
        name.note = uint8_t(note);
        std::memcpy(name.name, exportKB.keyName[note], sizeof exportKB.keyName[note]);  // name[128] stays 0
        const uint8_t kind = exportKB.keyKind[note];
        uint8_t colour[2] = {uint8_t(note), keyColour(kind)};
        uint8_t keySwitch[2] = {uint8_t(note), uint8_t(kind == 2 || kind == 3 ? 1 : 0)};
        if (!sendNKSHostMessage(nks::kKeyName, &name, sizeof name) ||
            !sendNKSHostMessage(nks::kKeyColour, colour, sizeof colour) ||
            !sendNKSHostMessage(nks::kKeySwitch, keySwitch, sizeof keySwitch))
            break;
    }
    return true;
}

Metadata PlugController::makeNksMetadata()
{
    Metadata m;
    if (vantor::TARNWrapper* w = getWrapper()) {
        for (int32_t index = 0; index < 256; ++index) {
            const ::ParameterInfo* info = w->getAutomatableParameterInfo(uint64_t(index));
            if (info && info->label)
                m.parameterDescriptiveInfo.emplace(uint32_t(index), describe(index, *info));
        }
    }
    if (*nks::NKS2PerfSection.name)
        m.parameterNavigation.performanceMode.push_back(nks::pageSection(nks::NKS2PerfSection));
    for (const nks::Page& page : nks::NKS2Pages)
        m.parameterNavigation.groups.push_back({page.name, {nks::pageSection(page)}});
    return m;
}

tresult PLUGIN_API PlugController::getNksMetadata(IBStream* stream)
{
    if (!stream || !getWrapper())
        return kResultFalse;
    try {
        std::vector<unsigned char> bytes;
        if (nks::metadata::writeVANTOR(makeNksMetadata(), bytes) != Result{})
            return kResultFalse;
        for (size_t at = 0; at < bytes.size();) {
            const auto chunk = int32(std::min<size_t>(bytes.size() - at, 0x40000000));
            int32 written = 0;
            if (stream->write(bytes.data() + at, chunk, &written) != kResultOk || written <= 0 || written > chunk)
                return kResultFalse;
            at += size_t(written);
        }
        return kResultOk;
    } catch (...) {
        return kResultFalse;
    }
}
