// The built plug-in bundle as a host opens it: its exports, the entry pair, the factory's
// classes and the compatibility text.

#include "tests/instrument/CommandLine.h"
#include "vst3/IPluginCompatibility.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <public.sdk/source/common/memorystream.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <set>
#include <string>

namespace {

using namespace Steinberg;

using GetFactoryFunction = IPluginFactory* (*)();
using EntryFunction = bool (*)(void*);
using ExitFunction = bool (*)();

struct Bundle
{
    Bundle() { handle = dlopen(PLUGIN_FILE_PATH, RTLD_NOW | RTLD_LOCAL); }
    ~Bundle()
    {
        if (handle)
            dlclose(handle);
    }
    template <typename F>
    F get(const char* name) const
    {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    void* handle = nullptr;
};

std::string uid(const TUID id)
{
    char text[33] = {};
    FUID::fromTUID(id).toString(text);
    return text;
}

TEST(PluginBundle, ExportsExactlyTheFiveEntries)
{
    EXPECT_EQ(commandline::definedDynamicSymbols(PLUGIN_FILE_PATH),
              (std::set<std::string>{"DeinitModule", "GetPluginFactory", "InitModule", "ModuleEntry", "ModuleExit"}));
}

TEST(PluginBundle, EntryPairCountsAndRefusesAnUnmatchedExit)
{
    Bundle bundle;
    ASSERT_NE(bundle.handle, nullptr) << dlerror();
    auto entry = bundle.get<EntryFunction>("ModuleEntry");
    auto exit = bundle.get<ExitFunction>("ModuleExit");
    ASSERT_TRUE(entry && exit);
    EXPECT_FALSE(exit());
    EXPECT_TRUE(entry(bundle.handle));
    EXPECT_TRUE(entry(bundle.handle));
    EXPECT_TRUE(exit());
    EXPECT_TRUE(exit());
    EXPECT_FALSE(exit());
    EXPECT_TRUE(bundle.get<ExitFunction>("InitModule")());
    EXPECT_TRUE(bundle.get<ExitFunction>("DeinitModule")());
}

class Factory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(bundle.handle, nullptr) << dlerror();
        auto get = bundle.get<GetFactoryFunction>("GetPluginFactory");
        ASSERT_NE(get, nullptr);
        factory = get();
        ASSERT_NE(factory, nullptr);
    }
    void TearDown() override
    {
        if (factory)
            factory->release();
    }
    Bundle bundle;
    IPluginFactory* factory = nullptr;
};

TEST_F(Factory, InformationAndClasses)
{
    PFactoryInfo info;
    ASSERT_EQ(factory->getFactoryInfo(&info), kResultOk);
    EXPECT_STREQ(info.vendor, "Vantor Works");
    EXPECT_EQ(info.flags, 0x10);
    EXPECT_GT(std::strlen(info.url), 0u);
    EXPECT_GT(std::strlen(info.email), 0u);

    FUnknownPtr<IPluginFactory3> f3(factory);
    ASSERT_TRUE(f3);
    ASSERT_EQ(factory->countClasses(), 3);
    struct Row
    {
        const char* cid;
        const char* category;
        const char* name;
        uint32 flags;
        const char* sub;
    };
    const Row rows[] = {
        {"5C5CA79682FC437AB6539BA224BAB342", "Audio Module Class", "orbella C64", 0, "Instrument|Synth"},
        {"3B57678B49484734A76756FCF0F5EDA3", "Component Controller Class", "orbella C64Controller", 0, ""},
        {"D8118E1C279D435288D8FD4A96E37FD3", "Plugin Compatibility Class", "orbella C64", 1, ""},
    };
    for (int32 i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        PClassInfo2 c;
        ASSERT_EQ(f3->getClassInfo2(i, &c), kResultOk);
        EXPECT_EQ(uid(c.cid), rows[i].cid);
        EXPECT_STREQ(c.category, rows[i].category);
        EXPECT_STREQ(c.name, rows[i].name);
        EXPECT_EQ(c.classFlags, rows[i].flags);
        EXPECT_STREQ(c.subCategories, rows[i].sub);
        EXPECT_EQ(c.cardinality, 0x7FFFFFFF);
        EXPECT_STREQ(c.vendor, "Vantor Works");
        EXPECT_STREQ(c.version, "2.1.2.3");
        EXPECT_STREQ(c.sdkVersion, "VST 3.7.9");
        PClassInfoW w;
        ASSERT_EQ(f3->getClassInfoUnicode(i, &w), kResultOk);
        EXPECT_EQ(uid(w.cid), rows[i].cid);
        EXPECT_EQ(w.name[0], char16(rows[i].name[0]));
        EXPECT_EQ(w.sdkVersion[4], char16('3'));
        PClassInfo plain;
        ASSERT_EQ(factory->getClassInfo(i, &plain), kResultOk);
        EXPECT_STREQ(plain.category, rows[i].category);
    }
    PClassInfo2 none;
    EXPECT_EQ(f3->getClassInfo2(3, &none), kResultFalse);
    EXPECT_EQ(f3->getClassInfo2(-1, &none), kResultFalse);
    EXPECT_NE(factory->getClassInfo(0, nullptr), kResultOk);
}

TEST_F(Factory, SameFactoryWithOneMoreReference)
{
    auto get = bundle.get<GetFactoryFunction>("GetPluginFactory");
    IPluginFactory* again = get();
    EXPECT_EQ(again, factory);
    EXPECT_EQ(factory->addRef(), 3u);  // ours, the second call's, this one
    factory->release();
    again->release();
}

TEST_F(Factory, CreatesEachClassAndRefusesOthers)
{
    void* obj = reinterpret_cast<void*>(1);
    FUID processor(0x5C5CA796, 0x82FC437A, 0xB6539BA2, 0x24BAB342);
    FUID controller(0x3B57678B, 0x49484734, 0xA76756FC, 0xF0F5EDA3);
    FUID unknown(1, 2, 3, 4);
    EXPECT_EQ(factory->createInstance(unknown, Vst::IComponent::iid, &obj), kNoInterface);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(factory->createInstance(processor, Vst::IComponent::iid, nullptr), kInvalidArgument);
    // A class asked for an interface it lacks.
    obj = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->createInstance(controller, Vst::IComponent::iid, &obj), kNoInterface);
    EXPECT_EQ(obj, nullptr);

    ASSERT_EQ(factory->createInstance(processor, Vst::IComponent::iid, &obj), kResultOk);
    IPtr<Vst::IComponent> component(static_cast<Vst::IComponent*>(obj), false);
    TUID controllerId = {};
    ASSERT_EQ(component->getControllerClassId(controllerId), kResultOk);
    EXPECT_EQ(uid(controllerId), "3B57678B49484734A76756FCF0F5EDA3");
    ASSERT_EQ(factory->createInstance(controllerId, Vst::IEditController::iid, &obj), kResultOk);
    static_cast<Vst::IEditController*>(obj)->release();
}

TEST_F(Factory, CompatibilityText)
{
    void* obj = nullptr;
    FUID compatibility(0xD8118E1C, 0x279D4352, 0x88D8FD4A, 0x96E37FD3);
    ASSERT_EQ(factory->createInstance(compatibility, IPluginCompatibility::iid, &obj), kResultOk);
    IPtr<IPluginCompatibility> c(static_cast<IPluginCompatibility*>(obj), false);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(c->queryInterface(Vst::IComponent::iid, &other), kNoInterface);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(c->getCompatibilityJSON(nullptr), kInvalidArgument);

    IPtr<MemoryStream> stream(new MemoryStream, false);
    ASSERT_EQ(c->getCompatibilityJSON(stream), kResultOk);
    const std::string text(stream->getData(), size_t(stream->getSize()));
    EXPECT_EQ(text,
              "[\n"
              "    {\n"
              "        \"New\": \"5C5CA79682FC437AB6539BA224BAB342\",\n"
              "        \"Old\" : [\n"
              "          \"56535451564D326F7262656C6C612043\",\n"
              "          \"56535451564D326F7262656C6C612043\"\n"
              "        ]\n"
              "    }\n"
              "]\n");
}

}  // namespace
