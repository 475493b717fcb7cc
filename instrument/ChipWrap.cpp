// The instance: construction, the descriptor and controller-map build, teardown, the commands
// that are not on the render path and the host-side notifications.
#include "instrument/ChipWrap.h"

#include "instrument/ChipController.h"
#include "instrument/DecimatingProvider.h"
#include "instrument/CommandLock.h"
#include "instrument/Repackager.h"
#include "instrument/SIDCtrl.h"
#include "instrument/SpeexProvider.h"
#include "platform/PlatformTools.h"
#include "platform/SaturatingCast.h"
#include "sid/SIDEmu.h"
#include "support/VirtualFile.h"
#include "synth/LayerManager.h"
#include "synth/MasterSettingsListener.h"
#include "synth/SynthBase.h"
#include "synth/SynthController.h"
#include "synth/SynthParams.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace acme {

namespace {

constexpr uint32_t kFlagsWord = 0x04;
constexpr uint32_t kC64Flags = 0x38;
constexpr int32_t kEndItem = int32_t(kControllerItems);

// Master-settings kinds.
constexpr int32_t kMediaCommands = 0x20000;
constexpr int32_t kInstrumentOptions = 0x10000;
enum MasterKind : int32_t {
    kPitchBendRange = 1,
    kMasterTune = 2,
    kPolyphony = 3,
    kVelocitySensitivity = 4,
    kMonoRetrigger = 6,
    kLayerMode = 7,
    kMonoLayer = 9,
    kNoteTuningSource = 10,
    kFixedPitchNote = 11,
};

}  // namespace

ChipEmu* ChipWrapFactory::createChip(size_t /*index*/) const
{
    return new SIDEmu;
}

ChipController* ChipWrapFactory::createController(std::vector<ChipEmu*>* chips,
                                                  ChipControllerListener* listener) const
{
    return new SIDCtrl(chips, listener);
}

ChipWrap::ChipList::~ChipList()
{
    while (!list.empty()) {
        delete list.back();
        list.pop_back();
    }
}

ChipWrap::ChipWrap(PluginHostRecord* hostRecord, const char* nameText, size_t nameLength,
                   const ChipWrapFactory* factory)
    : InstrumentPlugin(hostRecord),
      displayRecord(new uint8_t[kDisplayRecordSize]()),
      name(nameText ? std::string(nameText, strnlen(nameText, nameLength)) : std::string()),
      mutex("ChipWrapMutex"),
      controllerMap(std::make_unique<ModuleEvents>()),
      descriptors(kControllerItems),
      canvas(std::make_unique<PixelCanvas>()),
      carried(std::make_unique<vantor::HDMIDIEvent[]>(kMaxCarried))
{
    const uint32_t version = kEngineSDKVersion;
    std::memcpy(displayRecord.get(), &version, sizeof version);
    outgoing.reserve(kMaxEvents);
    incoming.reserve(kMaxScheduled);
    reserveSchedule(audioSettings.blockSize);

    flagsWord = kFlagsWord;
    inputChannelCount = 0;
    outputChannelCount = 1;
    word5 = 1;
    word6 = 1;

    if (name == "C64") {
        const ChipWrapFactory defaults;
        const ChipWrapFactory& make = factory ? *factory : defaults;
        flagsWord += kC64Flags;
        chips.list.reserve(kChips);
        for (size_t c = 0; c < kChips; ++c) {
            chips.list.push_back(make.createChip(c));
            if (auto* sid = dynamic_cast<SIDEmu*>(chips.list.back()))
                sid->setSwallowPopListener(this);
        }
        controller.reset(make.createController(&chips.list, this));
        sidCtrl = dynamic_cast<SIDCtrl*>(controller.get());
        if (sidCtrl)
            sidCtrl->setSwallowPopListener(this);
    }
    for (ChipEmu* c : chips.list)
        if (c) {
            chipInfo = c->getChipInfo();
            break;
        }
    if (chipInfo) {
        std::copy(chipInfo->outputScales.begin(), chipInfo->outputScales.end(), scale);
        inputChannelCount = uint32_t(chipInfo->inputChannels);
        // The render path keeps at most four channel pointers.
        outputChannelCount = uint32_t(std::min<uint64_t>(chipInfo->outputChannels, kMaxChannels));
    }
    masterSettings = dynamic_cast<ZRS::MasterSettingsListener*>(controller.get());
    Psrand(uint32_t(vantor::saturatingCast<uint64_t>(PTimeMilli())));
}

ChipWrap::~ChipWrap()
{
    provider.reset();
    decimating.reset();
    repackager.reset();
    controller.reset();
    sidCtrl = nullptr;
    // The remaining members go in reverse order of declaration; the chips last but the name.
}

void ChipWrap::reserveSchedule(uint64_t blockSize)
{
    // Each event adds at most a render and a delivery; the rest is one render per segment.
    reservedBlock = std::max(reservedBlock, blockSize);
    schedule.reserve(2 * kMaxScheduled + reservedBlock / kMaxSegment + 2);
}

// ---------------------------------------------------------------------------------------------
// Descriptors and controller map

void ChipWrap::setMapValue(int32_t item, float value)
{
    if (item >= 0 && item < kEndItem)
        controllerMap->events[item].value = value;
}

bool ChipWrap::putDescriptor(const ParameterInfo& source, uint32_t item, int32_t first,
                             int32_t end)
{
    if (item < uint32_t(first) || item >= uint32_t(end))
        return false;
    descriptors[item] = source;
    descriptors[item].index = uint16_t(item);
    return true;
}

void ChipWrap::buildControllerMap()
{
    ModuleEvents& map = *controllerMap;
    for (vantor::HDMIDIEvent& e : map.events)
        e = vantor::HDMIDIEvent();
    map.count = kControllerItems;
    for (int32_t i = 0; i < kEndItem; ++i) {
        map.events[i].kind = vantor::kEventControllerItem;
        map.events[i].index = i;
    }

    synthParams = dynamic_cast<ZRS::SynthParams*>(controller.get());
    if (synthParams)
        for (const ParameterInfo& p : synthParams->parameters) {
            if (p.index == ZRS::SynthParams::kNoParameter)
                continue;
            const uint32_t item = uint16_t(p.index + kSynthItems);
            if (putDescriptor(p, item, kSynthItems, kChipItems))
                setMapValue(int32_t(item), p.defaultValue);
        }

    synthController = dynamic_cast<ZRS::SynthController*>(controller.get());
    layerCommands = nullptr;
    if (synthController) {
        std::vector<ParameterInfo> voice;
        synthController->collectVoiceParameterInfos(voice);
        for (size_t i = 0; i < voice.size() && i < 3; ++i)
            putDescriptor(voice[i], uint32_t(kVoiceItems + int32_t(i)), kVoiceItems, kVoiceItems + 3);
        layerCommands = &synthController->layerManager();
    }
    if (layerCommands) {
        std::vector<ParameterInfo> table;
        layerCommands->registerParameters(table);
        for (const ParameterInfo& p : table)
            putDescriptor(p, uint16_t(p.index + kLayerItems), kLayerItems, kSynthItems);
        for (uint32_t layer = 0; layer < 16; ++layer)
            for (uint32_t n = 0; n < 16; ++n)
                setMapValue(kLayerItems + int32_t(16 * layer + n),
                            layerCommands->getLayerParameter(layer, n));
    }

    if (chipInfo)
        setMapValue(kOutputItems, float(chipInfo->defaultClockIndex));
    setMapValue(kOutputItems + int32_t(kHighPassCutoff), float(hp[0].getCutoff()));
    setMapValue(kOutputItems + int32_t(kLowPassCutoff), float(lp[0].getCutoff()));
    for (int32_t i = 3; i <= 6; ++i)
        setMapValue(kOutputItems + i, 0.0f);

    if (chipInfo)
        for (uint32_t k = 0; k < 256; ++k) {
            const size_t c = k < 192 ? 0 : k >> 4;
            const size_t p = k < 192 ? k : (k & 15);
            if (!chip(c) || p >= chipInfo->parameters.size())
                continue;
            const ParameterInfo& source = chipInfo->parameters[p];
            putDescriptor(source, kChipItems + k, kChipItems, kSlotItems);
            setMapValue(kChipItems + int32_t(k), source.defaultValue);
        }

    if (controller)
        for (const uint32_t n : {11u, 2u, 3u, 4u, 5u, 6u, 19u})
            setMapValue(kMediaItems + int32_t(n), float(controller->getMediaParameter(n)));

    if (synthBase) {
        std::vector<ParameterInfo> slots;
        synthBase->collectAutomSlotParameterInfos(slots);
        for (const ParameterInfo& p : slots)
            putDescriptor(p, uint16_t(p.index + kSlotItems), kSlotItems, kEndItem);
        for (uint64_t slot = 0; slot < 32; ++slot)
            for (uint16_t n = 0; n < 16; ++n)
                setMapValue(kSlotItems + int32_t(16 * slot + n),
                            synthBase->getAutomSlotParameter(slot, n));
    }
}

const ParameterInfo* ChipWrap::getParameterDescriptors(uint64_t* count)
{
    if (count)
        *count = descriptors.size();
    return descriptors.data();
}

void ChipWrap::getControllerMap(void* destination)
{
    if (destination)
        std::memcpy(destination, controllerMap.get(), sizeof(ModuleEvents));
}

// ---------------------------------------------------------------------------------------------
// Commands

bool ChipWrap::engineCommand(uint32_t op, intptr_t a)
{
    return controller ? controller->engineCommand(op, a) : false;
}

bool ChipWrap::resetVoices(intptr_t x, intptr_t y)
{
    return controller ? controller->resetVoices(x, y) : false;
}

void ChipWrap::setAudioSettings(const AudioSettingsRecord* settings)
{
    if (!settings)
        return;
    const double rate = settings->sampleRate;
    const uint32_t block = settings->blockSize;
    if (!std::isfinite(rate) || !(rate > 0.0) || block == 0)
        return;
    InstrumentPlugin::setAudioSettings(settings);
    reserveSchedule(block);
    if (isInitialised())
        updateChipRate(false);
}

void ChipWrap::queryChannelConfig(const void* request, uint32_t* accepted)
{
    if (!accepted)
        return;
    const auto* r = static_cast<const ChannelConfigRequest*>(request);
    *accepted = r && r->outputChannels == outputChannelCount ? 1 : 0;
}

void ChipWrap::receiveSysEx(const HostMidiOutRecord* record)
{
    if (!record || !controller)
        return;
    if (record->kind != 0) {
        if (!record->sysex && record->size > 0)
            return;
        const CommandLock lock(&mutex);
        controller->receiveSysEx(record->sysex, record->size);
        return;
    }
    const uint8_t* message = record->bytes;
    if (message[0] > 0xEF || !controller->acceptsShortMessages())
        return;
    const CommandLock lock(&mutex);
    controller->receiveShortMessage(message[0], message[1], message[2]);
}

void ChipWrap::onHostOpcode27(uint32_t op, intptr_t a)
{
    if (controller)
        controller->onHostOpcode27(op, a);
}

void ChipWrap::onHostOpcode28(uint32_t /*op*/, intptr_t /*a*/)
{
    if (controller)
        controller->refreshAsidOutput();
}

void ChipWrap::setDataFolder(const char* folder)
{
    if (sidCtrl && folder)
        sidCtrl->setDataFolder(folder);
}

int64_t ChipWrap::loadFile(int64_t kind, const char* path)
{
    if (!controller || !path)
        return 0;
    vantor::ZRGFile file(path);
    return controller->loadMedia(kind, &file);
}

int64_t ChipWrap::saveFile(int64_t kind, void* pointer)
{
    if (!controller)
        return 0;
    return controller->exportMedia(kind, static_cast<const char*>(pointer)) ? 1 : 0;
}

void ChipWrap::handleCommand(MasterSettingsCommand* command)
{
    if (!masterSettings || !command)
        return;
    const int32_t kind = command->kind;
    const uint64_t integer = command->integerValue;
    const double value = command->value;
    ZRS::MasterSettingsListener& m = *masterSettings;
    if (kind >= kMediaCommands) {
        m.mediaCommand(uint32_t(kind - kMediaCommands), &mutex, value);
        return;
    }
    if (kind >= kInstrumentOptions) {
        m.setInstrumentOption(uint32_t(kind - kInstrumentOptions), value);
        return;
    }
    switch (kind) {
    case kPitchBendRange:
        m.setPitchBendRange(value == -1.0 ? 200.0f : float(value));
        break;
    case kMasterTune: {
        const CommandLock lock(&mutex);
        m.setMasterTune(float(value));
        break;
    }
    case kPolyphony: {
        const CommandLock lock(&mutex);
        m.setPolyphony(integer);
        break;
    }
    case kVelocitySensitivity:
        m.setVelocitySensitivity(float(value));
        break;
    case kMonoRetrigger:
        m.setMonoRetrigger(integer != 0 ? 1 : 0);
        break;
    case kLayerMode: {
        const CommandLock lock(&mutex);
        m.setLayerMode(uint32_t(integer));
        break;
    }
    case kMonoLayer:
        m.setMonoLayerFlag(integer != 0 ? 1 : 0);
        break;
    case kNoteTuningSource:
        m.setNoteTuningSource(static_cast<ZRS::NoteTuningSource*>(this));
        break;
    case kFixedPitchNote:
        m.setFixedPitchNote(uint8_t(integer & 0xFF));
        break;
    default:  // 5, 8 and unknown kinds
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Notifications

void ChipWrap::queueControllerEvent(uint16_t channel, uint32_t kind, int32_t index, float value)
{
    if (outgoing.size() >= kMaxEvents)
        return;
    vantor::HDMIDIEvent& e = outgoing.emplace_back();
    e.kind = kind;
    e.index = index;
    e.value = value;
    e.channel = channel;
}

void ChipWrap::queueControlChange(int32_t index, float value)
{
    queueControllerEvent(0, vantor::kEventControllerItem, int32_t(uint32_t(index + kOutputItems) & 0xFFFF), value);
}

void ChipWrap::notifyVoiceParameter(uint64_t chipIndex, uint32_t n, uint32_t changeKind,
                                    float value)
{
    notifyChange(uint32_t(chipIndex * 16 + n + uint64_t(kChipItems)), changeKind, value);
}

void ChipWrap::notifyLayerParameter(uint64_t layer, uint32_t n, uint32_t changeKind, float value)
{
    notifyChange(uint32_t(layer * 16 + n + uint64_t(kLayerItems)), changeKind, value);
}

void ChipWrap::notifySynthParameter(uint32_t n, uint32_t changeKind, float value)
{
    notifyChange(n + uint32_t(kSynthItems), changeKind, value);
}

void ChipWrap::notifyMediaParameter(uint32_t n, uint32_t changeKind, float value)
{
    notifyChange(n + uint32_t(kMediaItems), changeKind, value);
}

void ChipWrap::notifyAutomationSlot(uint64_t slot, uint32_t n, uint32_t changeKind, float value)
{
    notifyChange(uint32_t(slot * 16 + n + uint64_t(kSlotItems)), changeKind, value);
}

}  // namespace acme
