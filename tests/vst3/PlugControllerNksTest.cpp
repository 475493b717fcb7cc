// The controller's NKS side against the built engine bundle: the parameter description decoded
// with msgpack-c, the vendor-specific properties and the key map sent to a fake NKS host.

#include "tests/vst3/ControllerHome.h"
#include "tests/vst3/MsgpackText.h"

#include <public.sdk/source/common/memorystream.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace controllerhome;
using Steinberg::MemoryStream;

// An NKS host that records every message and refuses from the message numbered refuseFrom
// (0-based) on.
class FakeNksHost : public nks::INKS1Host
{
public:
    struct Message
    {
        int32 id;
        std::vector<uint8_t> bytes;
    };

    bool PLUGIN_API nksHostMessage(int32 id, uint64 size, void* data) override
    {
        const auto* p = static_cast<const uint8_t*>(data);
        messages.push_back({id, p ? std::vector<uint8_t>(p, p + size) : std::vector<uint8_t>{}});
        return messages.size() <= refuseFrom;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, nks::INKS1Host::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            addRef();
            *obj = this;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return uint32(++references); }
    uint32 PLUGIN_API release() override { return uint32(--references); }

    std::vector<Message> messages;
    size_t refuseFrom = SIZE_MAX;
    int references = 0;
};

// A host application that also offers the NKS host.
class NksContext : public NamedHost
{
public:
    explicit NksContext(FakeNksHost& host) : NamedHost(u"NKS Host"), host(host) {}
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, nks::INKS1Host::iid))
            return host.queryInterface(iid, obj);
        return NamedHost::queryInterface(iid, obj);
    }

private:
    FakeNksHost& host;
};

// A stream that takes at most `chunk` bytes a call and `room` bytes in all.
class ShortStream : public Steinberg::IBStream
{
public:
    ShortStream(int32 chunk, size_t room) : chunk(chunk), room(room) {}
    tresult PLUGIN_API read(void*, int32, int32*) override { return kResultFalse; }
    tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override
    {
        const auto n = int32(std::min<size_t>({size_t(std::max(numBytes, 0)), size_t(chunk), room - bytes.size()}));
        const auto* p = static_cast<const uint8_t*>(buffer);
        bytes.insert(bytes.end(), p, p + n);
        if (numBytesWritten)
            *numBytesWritten = n;
        return kResultOk;
    }
    tresult PLUGIN_API seek(int64, int32, int64*) override { return kResultFalse; }
    tresult PLUGIN_API tell(int64*) override { return kResultFalse; }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override
    {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    std::vector<uint8_t> bytes;

private:
    int32 chunk;
    size_t room;
};

struct Description
{
    int index;
    uint32_t type;
    float minimum, maximum;
    uint32_t displayMode;
    std::string list;  // "-" for none
};

void describe(const Description& d)
{
    TestParameter p;
    p.info = ::ParameterInfo("Some Label", d.type, d.minimum, d.maximum, d.minimum, 0, 0);
    p.info.displayMode = d.displayMode;
    if (d.list != "-")
        p.info.setList(d.list.c_str());  // a list's range is 0 to its last item
    EngineHome::hook(kHookSetParameter, &p, d.index);
}

void clearDescriptions()
{
    for (int i = 0; i < 256; ++i) {
        TestParameter none;
        EngineHome::hook(kHookSetParameter, &none, i);
    }
}

std::string items(int n)
{
    std::string list;
    for (int i = 0; i < n; ++i)
        list += (i ? "|" : "") + std::to_string(i);
    return list;
}

// Every id the fixed pages name.
std::vector<int> pageIds()
{
    std::vector<int> ids;
    for (const nks::Page* page : {&nks::NKS2PerfSection, &nks::NKS2Pages[0], &nks::NKS2Pages[1], &nks::NKS2Pages[2],
                                  &nks::NKS2Pages[3], &nks::NKS2Pages[4], &nks::NKS2Pages[5], &nks::NKS2Pages[6],
                                  &nks::NKS2Pages[7]})
        for (const nks::PageSlot& slot : page->slots)
            if (slot.id >= 0 && std::find(ids.begin(), ids.end(), slot.id) == ids.end())
                ids.push_back(slot.id);
    return ids;
}

// One navigation slot: its group ("" for the performance mode), section, id and name.
struct Slot
{
    std::string group, section;
    uint64_t id;
    std::string name;
};

// The decoded document: the root map's values by key, rendered; the attributes map's entries by
// id; every navigation slot in order.
struct Document
{
    std::map<std::string, std::string> root;
    std::map<uint64_t, std::string> attributes;
    std::vector<Slot> slots;
};

std::string str(const msgpack_object& o)
{
    return o.type == MSGPACK_OBJECT_STR ? std::string(o.via.str.ptr, o.via.str.size) : "<not a string>";
}

const msgpack_object* member(const msgpack_object& map, const std::string& key)
{
    if (map.type != MSGPACK_OBJECT_MAP)
        return nullptr;
    for (uint32_t i = 0; i < map.via.map.size; ++i)
        if (str(map.via.map.ptr[i].key) == key)
            return &map.via.map.ptr[i].val;
    return nullptr;
}

void addSlots(const msgpack_object* sections, const std::string& group, std::vector<Slot>& slots)
{
    if (!sections || sections->type != MSGPACK_OBJECT_ARRAY)
        return;
    for (uint32_t s = 0; s < sections->via.array.size; ++s) {
        const msgpack_object& section = sections->via.array.ptr[s];
        const msgpack_object* name = member(section, "name");
        const msgpack_object* parameters = member(section, "parameters");
        if (!name || !parameters || parameters->type != MSGPACK_OBJECT_ARRAY)
            continue;
        for (uint32_t p = 0; p < parameters->via.array.size; ++p) {
            const msgpack_object* id = member(parameters->via.array.ptr[p], "id");
            const msgpack_object* slotName = member(parameters->via.array.ptr[p], "name");
            if (id && slotName && id->type == MSGPACK_OBJECT_POSITIVE_INTEGER)
                slots.push_back({group, str(*name), id->via.u64, str(*slotName)});
        }
    }
}

Document decodeDocument(const std::vector<unsigned char>& bytes)
{
    Document doc;
    msgpack_unpacked result;
    msgpack_unpacked_init(&result);
    size_t offset = 0;
    if (msgpack_unpack_next(&result, reinterpret_cast<const char*>(bytes.data()), bytes.size(), &offset) ==
            MSGPACK_UNPACK_SUCCESS &&
        offset == bytes.size() && result.data.type == MSGPACK_OBJECT_MAP) {
        const msgpack_object_map& map = result.data.via.map;
        for (uint32_t i = 0; i < map.size; ++i) {
            const msgpack_object& k = map.ptr[i].key;
            const msgpack_object& v = map.ptr[i].val;
            if (k.type != MSGPACK_OBJECT_STR)
                continue;
            const std::string key(k.via.str.ptr, k.via.str.size);
            doc.root[key] = msgpack_text::render(v);
            if (key == "parameter_descriptive_info" && v.type == MSGPACK_OBJECT_MAP)
                for (uint32_t e = 0; e < v.via.map.size; ++e)
                    if (v.via.map.ptr[e].key.type == MSGPACK_OBJECT_POSITIVE_INTEGER)
                        doc.attributes[v.via.map.ptr[e].key.via.u64] = msgpack_text::render(v.via.map.ptr[e].val);
            if (key == "parameter_navigation") {
                addSlots(member(v, "performance_mode"), "", doc.slots);
                if (const msgpack_object* groups = member(v, "groups"); groups && groups->type == MSGPACK_OBJECT_ARRAY)
                    for (uint32_t g = 0; g < groups->via.array.size; ++g)
                        if (const msgpack_object* name = member(groups->via.array.ptr[g], "name"))
                            addSlots(member(groups->via.array.ptr[g], "sections"), str(*name), doc.slots);
            }
        }
    }
    msgpack_unpacked_destroy(&result);
    return doc;
}

std::string attributes(int type, int style, int count, const std::string& values = "")
{
    return "{\"display_values\":[" + values + "],\"style\":" + std::to_string(style) +
           ",\"type\":" + std::to_string(type) + ",\"value_count\":" + std::to_string(count) + "}";
}

// A page as the document holds it: a section of that name with eight (id, name) slots.
std::string page(const std::string& name, std::initializer_list<std::pair<int, const char*>> slots)
{
    std::string text = "{\"name\":\"" + name + "\",\"parameters\":[";
    bool first = true;
    for (const auto& [id, slotName] : slots) {
        text += std::string(first ? "" : ",") + "{\"id\":" + std::to_string(id < 0 ? 0xFFFFFFFFu : uint32_t(id)) +
                ",\"name\":\"" + slotName + "\"}";
        first = false;
    }
    return text + "]}";
}

std::string group(const std::string& name, std::initializer_list<std::pair<int, const char*>> slots)
{
    return "{\"name\":\"" + name + "\",\"sections\":[" + page(name, slots) + "]}";
}

class NksController : public Controller
{
protected:
    void startWithHost()
    {
        context = std::make_unique<NksContext>(nksHost);
        start(u"NKS Host", context.get());
    }
    std::vector<unsigned char> metadata(tresult expected = kResultOk)
    {
        IPtr<MemoryStream> stream(new MemoryStream, false);
        EXPECT_EQ(controller->getNksMetadata(stream), expected);
        const auto* p = reinterpret_cast<const unsigned char*>(stream->getData());
        return std::vector<unsigned char>(p, p + stream->getSize());
    }
    bool dispatch(uint32_t message, uint64 value, void* data)
    {
        void* obj = nullptr;
        EXPECT_EQ(controller->queryInterface(nks::INKS1Plugin::iid, &obj), kResultOk);
        auto* plugin = static_cast<nks::INKS1Plugin*>(obj);
        const bool handled = plugin->nksDispatch(int32(message), value, data, 0.0f);
        plugin->release();
        return handled;
    }

    FakeNksHost nksHost;
    std::unique_ptr<NksContext> context;
};

TEST_F(NksController, DescriptionsFromTheEngineTable)
{
    start();
    clearDescriptions();
    using P = ::ParameterInfo;
    struct Row
    {
        Description d;
        std::string expected;
    };
    const std::string waveforms = R"("None","triangle","saw","T+S","pwm","P+T","P+S","P+T+S","noise")";
    std::string names128;
    for (int i = 0; i < 128; ++i)
        names128 += (i ? ",\"" : "\"") + std::to_string(i) + "\"";
    const Row rows[] = {
        {{1, P::Continuous, -1.0f, 1.0f, 0, "-"}, attributes(1, 0, 0)},
        {{14, P::Continuous, 0.0f, 1.0f, 0, "-"}, attributes(0, 0, 0)},
        {{2, P::Integer, -64.0f, 63.0f, 0, "-"}, attributes(4, 2, 128)},
        {{6, P::Integer, 3.0f, 5.0f, 0, "-"}, attributes(3, 2, 3)},
        {{3, P::Integer, 0.0f, 200.0f, 0, "-"}, attributes(0, 0, 0)},
        {{4, P::Integer, -100.0f, 100.0f, 0, "-"}, attributes(1, 0, 0)},
        // One or two values make a toggle; hosts refuse such discrete entries.
        {{5, P::Integer, 0.0f, 1.0f, 0, "-"}, attributes(2, 0, 0)},
        {{11, P::Integer, -1.0f, 0.0f, 0, "-"}, attributes(2, 0, 0)},
        {{12, P::Integer, 5.0f, 5.0f, 0, "-"}, attributes(2, 0, 0)},
        {{13, P::Integer, 9.0f, 2.0f, 0, "-"}, attributes(2, 0, 0)},  // upside down
        {{7, P::Switch, 0.0f, 1.0f, P::OnOffCenter, "-"}, attributes(2, 3, 0)},
        {{9, P::Switch, 0.0f, 1.0f, P::OnOffZero, "-"}, attributes(2, 3, 0)},
        {{8, P::Switch, 0.0f, 1.0f, P::ByType, "-"}, attributes(2, 0, 0)},
        {{15, P::Switch, 0.0f, 1.0f, P::StereoPan, "-"}, attributes(2, 0, 0)},
        // The waveform parameters take the nine names whatever their own list says; others keep theirs.
        {{18, P::Choice, 0.0f, 2.0f, 0, "x|y|z"}, attributes(3, 6, 0, waveforms)},
        {{34, P::Choice, 0.0f, 1.0f, 0, "p|q"}, attributes(3, 6, 0, waveforms)},
        {{22, P::Choice, 0.0f, 2.0f, 0, "x|y|z"}, attributes(3, 5, 0, R"("x","y","z")")},
        {{40, P::Choice, 0.0f, 2.0f, 0, "a|b|c"}, attributes(3, 5, 0, R"("a","b","c")")},
        {{44, P::Choice, 0.0f, 127.0f, 0, items(128)}, attributes(3, 5, 0, names128)},
        {{41, P::Choice, 0.0f, 1.0f, 0, "Off|On"}, attributes(2, 0, 0)},
        {{42, P::Choice, 0.0f, 128.0f, 0, items(129)}, attributes(0, 0, 0)},
        {{45, P::Choice, 0.0f, 2.0f, 0, "-"}, attributes(0, 0, 0)},  // no value list
    };
    // Every id the pages name needs a description, or the document is refused.
    std::map<uint64_t, std::string> expected;
    for (int id : pageIds()) {
        describe({id, P::Continuous, 0.0f, 1.0f, 0, "-"});
        expected[uint64_t(id)] = attributes(0, 0, 0);
    }
    for (const Row& r : rows) {
        describe(r.d);
        expected[uint64_t(r.d.index)] = r.expected;
    }
    // A description without a label gets no entry.
    TestParameter unlabelled;
    unlabelled.info = ::ParameterInfo("x", P::Continuous, 0.0f, 1.0f, 0.0f, 0, 0);
    unlabelled.info.clearLabel();
    hook(kHookSetParameter, &unlabelled, 60);

    const std::vector<unsigned char> bytes = metadata();
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0], 0x83);
    const Document doc = decodeDocument(bytes);
    EXPECT_EQ(doc.root.at("version"), "1");
    for (const auto& [index, text] : expected) {
        SCOPED_TRACE(index);
        ASSERT_TRUE(doc.attributes.count(index));
        EXPECT_EQ(doc.attributes.at(index), text);
    }
    EXPECT_EQ(doc.attributes.size(), expected.size());
}

TEST_F(NksController, FixedPagesOnTheInstrumentsParameters)
{
    startOnTheModule();
    const Document doc = decodeDocument(metadata());
    EXPECT_EQ(doc.root.at("parameter_navigation"),
              "{\"groups\":[" +
                  group("Osc1", {{-1, ""}, {2, "Wave"}, {-1, ""}, {-1, ""}, {0, "PW"}, {5, "Ring Mod"},
                                 {6, "Hard Sync"}, {11, "To Filter"}}) + "," +
                  group("Osc1Env", {{7, "Attack"}, {8, "Decay"}, {9, "Sustain"}, {10, "Release"}, {-1, ""},
                                    {-1, ""}, {-1, ""}, {-1, ""}}) + "," +
                  group("Osc2", {{-1, ""}, {18, "Wave"}, {-1, ""}, {-1, ""}, {16, "PW"}, {21, "Ring Mod"},
                                 {22, "Hard Sync"}, {27, "To Filter"}}) + "," +
                  group("Osc2Env", {{23, "Attack"}, {24, "Decay"}, {25, "Sustain"}, {26, "Release"}, {-1, ""},
                                    {-1, ""}, {-1, ""}, {-1, ""}}) + "," +
                  group("Osc3", {{-1, ""}, {34, "Wave"}, {-1, ""}, {-1, ""}, {32, "PW"}, {37, "Ring Mod"},
                                 {38, "Hard Sync"}, {43, "To Filter"}}) + "," +
                  group("Osc3Env", {{39, "Attack"}, {40, "Decay"}, {41, "Sustain"}, {42, "Release"}, {-1, ""},
                                    {-1, ""}, {-1, ""}, {-1, ""}}) + "," +
                  group("Filter", {{97, "Cutoff"}, {98, "Res"}, {-1, ""}, {-1, ""}, {99, "LP"}, {100, "BP"},
                                   {101, "HP"}, {-1, ""}}) + "," +
                  group("Dac", {{134, "Mode"}, {137, "Gain"}, {136, "Bias"}, {139, "MIDI Offset"}, {-1, ""},
                                {-1, ""}, {-1, ""}, {-1, ""}}) +
                  "],\"performance_mode\":[" +
                  page("Filter", {{11, "Osc1 To Filter"}, {27, "Osc2 To Filter"}, {43, "Osc3 To Filter"},
                                  {97, "Filter Cutoff"}, {98, "Filter Res"}, {-1, ""}, {-1, ""}, {-1, ""}}) +
                  "]}");
}

// The document walked against the controller's own parameter list: every slot names a parameter
// the host sees, by the name the host shows for it (its title without the unit; a performance
// slot may lead with the unit's short name), and the "Wave" slots carry the nine waveform names.
TEST_F(NksController, EverySlotNamesTheParameterItIsLabelledFor)
{
    for (const char16_t* host : {u"NKS Host", u"PreSonus VST3 Host 6.5"}) {
        SCOPED_TRACE(ZRGSConvCrudeUTF16_TO_UTF8(host));
        startOnTheModule(host);
        std::map<uint64_t, std::string> shown;
        for (int32 i = 0; i < controller->getParameterCount(); ++i) {
            const Vst::ParameterInfo p = info(i);
            const std::string title = text(p.title);
            const size_t unit = title.rfind(" : ");
            shown[p.id] = unit == std::string::npos ? title : title.substr(unit + 3);
        }
        const Document doc = decodeDocument(metadata());
        ASSERT_EQ(doc.slots.size(), 9u * 8u);
        std::map<std::string, size_t> valid;  // per section
        size_t waves = 0;
        for (const Slot& slot : doc.slots) {
            SCOPED_TRACE(slot.group + "/" + slot.section + " " + std::to_string(slot.id) + " " + slot.name);
            if (slot.id == 0xFFFFFFFFu) {
                EXPECT_EQ(slot.name, "");
                continue;
            }
            ++valid[slot.group + "/" + slot.section];
            ASSERT_TRUE(shown.count(slot.id)) << "no such parameter";
            EXPECT_TRUE(doc.attributes.count(slot.id));
            const std::string& name = shown.at(slot.id);
            const bool matches = slot.name == name ||
                (slot.group.empty() && slot.name.size() > name.size() &&
                 slot.name.compare(slot.name.size() - name.size() - 1, name.size() + 1, " " + name) == 0);
            EXPECT_TRUE(matches) << "the parameter is \"" << name << "\"";
            if (slot.name == "Wave") {
                ++waves;
                EXPECT_EQ(doc.attributes.at(slot.id),
                          attributes(3, 6, 0, R"("None","triangle","saw","T+S","pwm","P+T","P+S","P+T+S","noise")"));
            }
        }
        EXPECT_EQ(waves, 3u);
        EXPECT_EQ(valid.size(), 9u);  // every section has a valid id
        controller->disconnect(processor);
        controller->terminate();
        controller = nullptr;
        processor->disconnect(nullptr);
        processor->terminate();
        processor = nullptr;
    }
}

// A page naming an id the engine does not describe: no document, nothing written.
TEST_F(NksController, ADocumentNamingAnUndescribedParameterIsRefused)
{
    startOnTheModule();
    TestParameter none;
    hook(kHookSetParameter, &none, 137);  // "DAC Gain" gone
    EXPECT_TRUE(metadata(kResultFalse).empty());
    clearDescriptions();
    EXPECT_TRUE(metadata(kResultFalse).empty());
}

TEST_F(NksController, StreamsAndMissingEngine)
{
    startOnTheModule();
    const std::vector<unsigned char> whole = metadata();
    ASSERT_GT(whole.size(), 100u);
    EXPECT_EQ(controller->getNksMetadata(nullptr), kResultFalse);

    // A stream that takes a few bytes a call gets them all; one that runs out fails.
    ShortStream trickle(7, SIZE_MAX);
    EXPECT_EQ(controller->getNksMetadata(&trickle), kResultOk);
    EXPECT_EQ(trickle.bytes, whole);
    for (size_t room : {size_t(0), size_t(1), whole.size() - 1}) {
        SCOPED_TRACE(room);
        ShortStream full(1 << 20, room);
        EXPECT_EQ(controller->getNksMetadata(&full), kResultFalse);
        EXPECT_EQ(full.bytes.size(), room);
    }

    // The interface a host asks for reaches the same call.
    void* obj = nullptr;
    ASSERT_EQ(controller->queryInterface(nks::INKSMetadataPlugin::iid, &obj), kResultOk);
    auto* described = static_cast<nks::INKSMetadataPlugin*>(obj);
    IPtr<MemoryStream> stream(new MemoryStream, false);
    EXPECT_EQ(described->getNksMetadata(stream), kResultOk);
    EXPECT_EQ(stream->getSize(), Steinberg::TSize(whole.size()));
    described->release();
    // The controller is no NKS host.
    EXPECT_EQ(controller->queryInterface(nks::INKS1Host::iid, &obj), kNoInterface);

    IPtr<PlugController> alone(new PlugController, false);
    HostApplication host;
    ASSERT_EQ(alone->initialize(&host), kResultOk);
    IPtr<MemoryStream> untouched(new MemoryStream, false);
    EXPECT_EQ(alone->getNksMetadata(untouched), kResultFalse);
    EXPECT_EQ(untouched->getSize(), 0);
    alone->terminate();
}

// Whatever the engine describes, the document is valid, every entry within the host's bounds,
// as long as every id the pages name is described; without one of them it is refused.
TEST_F(NksController, AnyEngineTableGivesADocumentOrARefusal)
{
    start();
    std::mt19937 rng(43);
    const float values[] = {-1e9f, -200.0f, -64.0f, -1.5f, -1.0f, 0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 3.0f, 126.0f,
                            127.0f, 127.5f, 128.0f, 129.0f, 1e9f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    const char* const labels[] = {"Label", "Osc1 \"Quoted\" Wave", "Osc2 Ton\xC3\xA9 \xE2\x99\xAA", "\xFF\xFE"};
    const std::string items[] = {"", "n", "\"q\"", "\xC3\xA9t\xC3\xA9", "\\", std::string(40, 'n')};
    const std::vector<int> pages = pageIds();
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    for (int round = 0; round < 18; ++round) {
        // Every third round leaves one page id undescribed.
        const int dropped = round % 3 == 2 ? pages[pick(uint32_t(pages.size()))] : -1;
        size_t labelled = 0;
        for (int index = 0; index < 256; ++index) {
            const bool onAPage = std::find(pages.begin(), pages.end(), index) != pages.end();
            TestParameter p;
            if (index != dropped && (onAPage || pick(10) != 0)) {
                const std::string label = pick(4) ? labels[pick(std::size(labels))] : std::string(300, 'L');
                p.info = ::ParameterInfo(label.c_str(), pick(6), values[pick(std::size(values))],
                                         values[pick(std::size(values))], 0.0f, 0, 0);
                p.info.displayMode = pick(13);
                if (pick(4)) {
                    const uint32_t count = std::vector<uint32_t>{0, 1, 2, 3, 128, 129, 300}[pick(7)];
                    std::string list;
                    for (uint32_t i = 0; i < count; ++i)
                        list += (i ? "|" : "") + items[pick(std::size(items))];
                    p.info.setList(list.c_str());
                }
                ++labelled;
            }
            hook(kHookSetParameter, &p, index);
        }
        SCOPED_TRACE(round);
        if (dropped >= 0) {
            EXPECT_TRUE(metadata(kResultFalse).empty()) << dropped;
            continue;
        }
        const Document doc = decodeDocument(metadata());
        EXPECT_EQ(doc.attributes.size(), labelled);
    }
}

TEST_F(NksController, VendorSpecificProperties)
{
    start();
    uint8_t data[24];
    auto fill = [&] { std::memset(data, 0xAA, sizeof data); };
    auto untouchedFrom = [&](size_t at) {
        return std::all_of(data + at, data + sizeof data, [](uint8_t b) { return b == 0xAA; });
    };
    auto u64 = [&](size_t at) {
        uint64_t v;
        std::memcpy(&v, data + at, 8);
        return v;
    };
    auto i32 = [&] {
        int32_t v;
        std::memcpy(&v, data, 4);
        return v;
    };

    // Property information: size and writable flag as two u64.
    struct Info
    {
        uint32_t property;
        uint64_t size, writable;
    };
    for (const Info& r : {Info{12, 4, 0}, Info{13, 4, 1}, Info{28, 1, 0}, Info{32, 8, 1}}) {
        SCOPED_TRACE(r.property);
        fill();
        EXPECT_TRUE(dispatch(0x4E690000 | r.property, 0, data));
        EXPECT_EQ(u64(0), r.size);
        EXPECT_EQ(u64(8), r.writable);
        EXPECT_TRUE(untouchedFrom(16));
    }
    fill();
    EXPECT_FALSE(dispatch(0x4E690005, 0, data));
    EXPECT_TRUE(untouchedFrom(0));
    EXPECT_TRUE(dispatch(0x4E69000D, 0, nullptr));

    // Get.
    fill();
    EXPECT_TRUE(dispatch(0x4E49000C, 0, data));
    EXPECT_EQ(i32(), 1);
    EXPECT_TRUE(untouchedFrom(4));
    fill();
    EXPECT_TRUE(dispatch(0x4E49000D, 0, data));
    EXPECT_EQ(i32(), 0);
    EXPECT_TRUE(untouchedFrom(4));
    fill();
    EXPECT_TRUE(dispatch(0x4E490020, 0, data));
    EXPECT_EQ(u64(0), 2u);
    EXPECT_TRUE(untouchedFrom(8));
    fill();
    EXPECT_TRUE(dispatch(0x4E49001C, 0, data));
    EXPECT_TRUE(untouchedFrom(0));
    EXPECT_TRUE(dispatch(0x4E49001C, 0, nullptr));
    EXPECT_FALSE(dispatch(0x4E49000C, 0, nullptr));
    EXPECT_FALSE(dispatch(0x4E490005, 0, data));

    // Set: two properties print and change nothing; everything else is refused.
    struct Set
    {
        uint32_t message;
        uint64_t value;
        uint64_t size;
        bool handled;
        std::string printed;
    };
    const Set sets[] = {
        {0x6E69000D, 2, 4, true, "Set the plugin to large view\n"},
        {0x6E69000D, 1, 4, true, "Set the plugin to medium view\n"},
        {0x6E69000D, 7, 4, true, "Set the plugin to small view\n"},
        {0x6E690020, 3, 8, true, "Current nks version of the host is: 3\n"},
        {0x6E69000D, 2, 3, false, ""},
        {0x6E690020, 3, 4, false, ""},
        {0x6E69000C, 1, 4, false, ""},
        {0x6E69001C, 1, 1, false, ""},
    };
    for (const Set& s : sets) {
        SCOPED_TRACE(s.message);
        fill();
        std::memcpy(data, &s.value, 8);
        testing::internal::CaptureStdout();
        EXPECT_EQ(dispatch(s.message, s.size, data), s.handled);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), s.printed);
        EXPECT_EQ(u64(0), s.value);
        EXPECT_TRUE(untouchedFrom(8));
    }
    EXPECT_FALSE(dispatch(0x6E69000D, 4, nullptr));
    EXPECT_TRUE(dispatch(0x4E49000D, 0, data));
    EXPECT_EQ(i32(), 0);  // still

    // Other kinds.
    EXPECT_FALSE(dispatch(0x1234000C, 4, data));
    EXPECT_FALSE(dispatch(0x4B49000C, 4, data));
}

class KeyMap : public NksController
{
protected:
    // Kinds 0, 1, 2, 3, 7 in turn; names "Key n", note 5's filling its whole field.
    void SetUp() override
    {
        NksController::SetUp();
        for (int n = 0; n < 128; ++n) {
            map.keyKind[n] = kinds[n % 5];
            std::snprintf(map.keyName[n], sizeof map.keyName[n], "Key %d", n);
        }
        std::memset(map.keyName[5], 'K', sizeof map.keyName[5]);
        hook(kHookSetKeyMap, &map);
    }
    static constexpr uint8_t kinds[5] = {0, 1, 2, 3, 7};
    vantor::Tarn::ExportKB map{};
};

TEST_F(KeyMap, EveryNoteInThreeMessages)
{
    startWithHost();
    EXPECT_EQ(fire(0x2005, 0, 0.0f, 1), 0);
    ASSERT_EQ(nksHost.messages.size(), 384u);
    const uint8_t colours[5] = {0x11, 0x02, 0x03, 0x04, 0x10};
    const uint8_t flags[5] = {0, 0, 1, 1, 0};
    for (int n = 0; n < 128; ++n) {
        SCOPED_TRACE(n);
        const auto& name = nksHost.messages[3 * n];
        EXPECT_EQ(uint32_t(name.id), 0x4B490015u);
        ASSERT_EQ(name.bytes.size(), 130u);
        EXPECT_EQ(name.bytes[0], n);
        const std::string expected = n == 5 ? std::string(128, 'K') : "Key " + std::to_string(n);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.bytes.data() + 1)), expected);
        EXPECT_EQ(name.bytes[129], 0);
        const auto& colour = nksHost.messages[3 * n + 1];
        EXPECT_EQ(uint32_t(colour.id), 0x4B490014u);
        EXPECT_EQ(colour.bytes, (std::vector<uint8_t>{uint8_t(n), colours[n % 5]}));
        const auto& keySwitch = nksHost.messages[3 * n + 2];
        EXPECT_EQ(uint32_t(keySwitch.id), 0x4B49001Bu);
        EXPECT_EQ(keySwitch.bytes, (std::vector<uint8_t>{uint8_t(n), flags[n % 5]}));
    }
}

TEST_F(KeyMap, TheFirstRefusalEndsTheUpdate)
{
    startWithHost();
    nksHost.refuseFrom = 4;
    EXPECT_TRUE(controller->nks_keyMapChanged(0));
    ASSERT_EQ(nksHost.messages.size(), 5u);
    EXPECT_EQ(uint32_t(nksHost.messages[4].id), 0x4B490014u);
    EXPECT_EQ(nksHost.messages[4].bytes, (std::vector<uint8_t>{1, 0x02}));
}

TEST_F(KeyMap, NoHostOrNoMap)
{
    start();
    EXPECT_FALSE(controller->nks_keyMapChanged(0));
    EXPECT_FALSE(controller->sendNKSHostMessage(0x14, nullptr, 0));
    controller->disconnect(processor);
    controller->terminate();
    controller = nullptr;

    startWithHost();
    TestForcedStatus failing;
    failing.opcode = 39;
    hook(kHookForceStatus, &failing);
    EXPECT_FALSE(controller->nks_keyMapChanged(0));
    EXPECT_TRUE(nksHost.messages.empty());
}

TEST_F(KeyMap, TheHostIsKeptAndReleased)
{
    startWithHost();
    EXPECT_EQ(nksHost.references, 1);
    // A second initialize with another NKS host lets the first go.
    FakeNksHost second;
    NksContext secondContext(second);
    controller->terminate();
    ASSERT_EQ(controller->initialize(&secondContext), kResultOk);
    EXPECT_EQ(nksHost.references, 0);
    EXPECT_EQ(second.references, 1);
    EXPECT_TRUE(controller->nks_keyMapChanged(0));
    EXPECT_EQ(second.messages.size(), 384u);
    EXPECT_TRUE(nksHost.messages.empty());
    controller->disconnect(processor);
    controller->terminate();
    controller = nullptr;
    EXPECT_EQ(second.references, 0);
}

}  // namespace
