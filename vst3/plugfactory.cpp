#include "vst3/plugfactory.h"

#include "vst3/SamplerPluginConfig.h"
#include "vst3/plugcontroller.h"
#include "vst3/plugprocessor.h"

#include <pluginterfaces/base/ustring.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

#include <atomic>
#include <cstdio>
#include <cstring>

using namespace Steinberg;

namespace {

const FUID kProcessorUID(0x5C5CA796, 0x82FC437A, 0xB6539BA2, 0x24BAB342);
const FUID kControllerUID(0x3B57678B, 0x49484734, 0xA76756FC, 0xF0F5EDA3);
const FUID kCompatibilityUID(0xD8118E1C, 0x279D4352, 0x88D8FD4A, 0x96E37FD3);

constexpr const char* kVendor = "Vantor Works";
constexpr const char* kURL = "https://vantor.works";
constexpr const char* kEmail = "support@vantor.works";
constexpr const char* kVersion = "2.1.2.3";
constexpr const char* kSdkVersion = "VST 3.7.9";

using CreateFunction = FUnknown* (*)(void*);

struct ClassEntry
{
    const FUID* cid;
    const char* category;
    const char* name;
    uint32 classFlags;
    const char* subCategories;
    CreateFunction create;
};

const ClassEntry kClasses[] = {
    {&kProcessorUID, kVstAudioEffectClass, "orbella C64", 0, "Instrument|Synth", PlugProcessor::createInstance},
    {&kControllerUID, kVstComponentControllerClass, "orbella C64Controller", 0, "",
     PlugController::createInstance},
    {&kCompatibilityUID, kPluginCompatibilityClass, "orbella C64", 1, "",
     PluginCompatibility::createCompatibilityInstance},
};
constexpr int32 kClassCount = int32(std::size(kClasses));

class PlugFactory;
std::atomic<PlugFactory*> gFactory{nullptr};

// The module's factory: three fixed classes, created on demand.
class PlugFactory final : public IPluginFactory3
{
public:
    tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override
    {
        if (!info)
            return kInvalidArgument;
        *info = PFactoryInfo(kVendor, kURL, kEmail, PFactoryInfo::kUnicode);
        return kResultOk;
    }
    int32 PLUGIN_API countClasses() override { return kClassCount; }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
    {
        if (!info || index < 0 || index >= kClassCount)
            return info ? kResultFalse : kInvalidArgument;
        const ClassEntry& c = kClasses[index];
        *info = PClassInfo(c.cid->toTUID(), PClassInfo::kManyInstances, c.category, c.name);
        return kResultOk;
    }
    tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override
    {
        if (!info || index < 0 || index >= kClassCount)
            return info ? kResultFalse : kInvalidArgument;
        const ClassEntry& c = kClasses[index];
        *info = PClassInfo2(c.cid->toTUID(), PClassInfo::kManyInstances, c.category, c.name, int32(c.classFlags),
                            c.subCategories, kVendor, kVersion, kSdkVersion);
        return kResultOk;
    }
    tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override
    {
        PClassInfo2 narrow;
        const tresult result = info ? getClassInfo2(index, &narrow) : kInvalidArgument;
        if (result != kResultOk)
            return result;
        *info = PClassInfoW{};
        info->fromAscii(narrow);
        return kResultOk;
    }
    tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        if (!obj)
            return kInvalidArgument;
        *obj = nullptr;
        if (!cid || !iid)
            return kInvalidArgument;
        for (const ClassEntry& c : kClasses) {
            if (!FUnknownPrivate::iidEqual(c.cid->toTUID(), cid))
                continue;
            FUnknown* instance = c.create(nullptr);
            if (!instance)
                return kOutOfMemory;
            const tresult result = instance->queryInterface(iid, obj);
            instance->release();
            if (result != kResultOk) {
                *obj = nullptr;
                return kNoInterface;
            }
            return kResultOk;
        }
        return kNoInterface;
    }
    tresult PLUGIN_API setHostContext(FUnknown* context) override
    {
        if (context)
            context->addRef();
        if (hostContext)
            hostContext->release();
        hostContext = context;
        return kResultOk;
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (!obj)
            return kInvalidArgument;
        if (FUnknownPrivate::iidEqual(iid, IPluginFactory3::iid) || FUnknownPrivate::iidEqual(iid, IPluginFactory2::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginFactory::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            addRef();
            *obj = this;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return ++references; }
    uint32 PLUGIN_API release() override
    {
        const uint32 left = --references;
        if (left == 0) {
            PlugFactory* self = this;
            gFactory.compare_exchange_strong(self, nullptr);
            delete this;
        }
        return left;
    }

private:
    ~PlugFactory()
    {
        if (hostContext)
            hostContext->release();
    }

    std::atomic<uint32> references{1};
    FUnknown* hostContext = nullptr;
};

std::atomic<int32_t> gEntries{0};

}  // namespace

namespace vantor {

std::string pluginCompatibilityText()
{
    // The older format's id: "VST", the stereo unique id, then the product name's first nine bytes.
    char old[40] = {};
    int at = std::snprintf(old, sizeof old, "565354%08X", unsigned(kSamplerPluginConfig.stereoUniqueId));
    for (int i = 0; i < 9; ++i)
        at += std::snprintf(old + at, sizeof old - size_t(at), "%02X",
                            unsigned(uint8_t(kSamplerPluginConfig.productName[i])));
    FUID oldId;
    oldId.fromString(old);
    char oldText[33] = {}, newText[33] = {};
    oldId.toString(oldText);
    kProcessorUID.toString(newText);

    std::string text = "[\n    {\n";
    text += std::string("        \"New\": \"") + newText + "\",\n";
    text += "        \"Old\" : [\n";
    text += std::string("          \"") + oldText + "\",\n";
    text += std::string("          \"") + oldText + "\"\n";
    text += "        ]\n    }\n]\n";
    return text;
}

}  // namespace vantor

FUnknown* PluginCompatibility::createCompatibilityInstance(void*)
{
    return static_cast<IPluginCompatibility*>(new PluginCompatibility);
}

tresult PLUGIN_API PluginCompatibility::getCompatibilityJSON(IBStream* stream)
{
    if (!stream)
        return kInvalidArgument;
    const std::string text = vantor::pluginCompatibilityText();
    int32 written = 0;
    return stream->write(const_cast<char*>(text.data()), int32(text.size()), &written);
}

tresult PLUGIN_API PluginCompatibility::queryInterface(const TUID iid, void** obj)
{
    if (!obj)
        return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, IPluginCompatibility::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        addRef();
        *obj = static_cast<IPluginCompatibility*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

IPluginFactory* PLUGIN_API GetPluginFactory()
{
    PlugFactory* factory = gFactory.load();
    if (factory) {
        factory->addRef();
        return factory;
    }
    auto* made = new PlugFactory;
    if (gFactory.compare_exchange_strong(factory, made))
        return made;
    made->release();  // another thread was first
    factory->addRef();
    return factory;
}

bool InitModule() { return true; }

bool DeinitModule() { return true; }

bool ModuleEntry(void*)
{
    if (gEntries.fetch_add(1) == 0)
        return InitModule();
    return true;
}

bool ModuleExit()
{
    int32_t count = gEntries.load();
    do {
        if (count <= 0)
            return false;
    } while (!gEntries.compare_exchange_weak(count, count - 1));
    return count == 1 ? DeinitModule() : true;
}
