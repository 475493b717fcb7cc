#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/ChipLogWriters.h"
#include "fixtures/TempDir.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <string>

using fixtures::VgmxDocument;
using VGM::VGMX;
using VGM::VGMXChip;
using vgmxtest::kinds;
using vgmxtest::letters;

namespace {

// Loads the text from a file named `name` into `log`.
bool loadText(VGMX& log, const std::string& text, const std::string& name = "x.vgmx")
{
    fixtures::TempDir dir;
    return log.loadXml(dir.write(name, text));
}

}  // namespace

TEST(VGMXText, SecondChipsOfAKindTakeTheirFamilyKinds)
{
    VgmxDocument ym;
    for (int i = 0; i < 3; ++i)
        ym.chip("YM2612", 7670453).write(0x28, uint8_t(i));
    VGMX log;
    ASSERT_TRUE(loadText(log, ym.text()));
    EXPECT_EQ(kinds(log.song), (std::vector<int32_t>{5, 17}));
    EXPECT_EQ(log.song.chips.at(5).events.size(), 1u);
    const VGMXChip& second = log.song.chips.at(17);
    ASSERT_EQ(second.events.size(), 2u);
    EXPECT_EQ(second.events[1].value(), 2);  // the third chip's write
    EXPECT_EQ(second.typeName, "YM2612");
    EXPECT_EQ(second.kind, 17);

    VgmxDocument ay;
    for (int i = 0; i < 6; ++i)
        ay.chip("AY8910").write(7, uint8_t(i));
    ASSERT_TRUE(loadText(log, ay.text()));
    EXPECT_EQ(kinds(log.song), (std::vector<int32_t>{31, 32, 33, 34, 35}));
    ASSERT_EQ(log.song.chips.at(35).events.size(), 2u);
    EXPECT_EQ(log.song.chips.at(35).events[1].value(), 5);

    VgmxDocument sn;
    for (int i = 0; i < 5; ++i)
        sn.chip("SN76489").write(0, uint8_t(i));
    ASSERT_TRUE(loadText(log, sn.text()));
    EXPECT_EQ(kinds(log.song), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(log.song.chips.at(3).events.size(), 2u);
}

TEST(VGMXText, ChipsAreListedByKindNotByDeclaration)
{
    VGMX log;
    ASSERT_TRUE(loadText(log, VgmxDocument().chip("AY8910").write(1, 1).chip("SN76489").write(2, 2).text()));
    EXPECT_EQ(kinds(log.song), (std::vector<int32_t>{0, 31}));
    EXPECT_EQ(log.song.chips.at(0).events.at(0).reg(), 2);
}

TEST(VGMXText, ChipsThatCannotBeMadeLeaveTheirEventsToTheChipBefore)
{
    const fixtures::XmlAttributes kRejected[] = {
        {{"type", "FOO"}},
        {{"id", "x1"}, {"type", "YM2612"}},
        {{"type", ""}},
        {{"clock", "100"}},
        {{"type", "8580"}},
        {{"type", "6581"}},  // a second SID has no family kind
    };
    for (const auto& attributes : kRejected) {
        VGMX log;
        const std::string text =
            VgmxDocument().chip({{"id", "1"}, {"type", "6581"}, {"clock", "985248"}}).write(1, 1).chip(attributes).write(2, 2).text();
        ASSERT_TRUE(loadText(log, text));
        ASSERT_EQ(kinds(log.song), std::vector<int32_t>{77}) << text;
        const VGMXChip& sid = log.song.chips.at(77);
        EXPECT_EQ(letters(sid), "WW");
        EXPECT_EQ(sid.events[1].reg(), 2);
        EXPECT_EQ(sid.clock, 985248u);  // the second element's attributes are dropped
    }
}

TEST(VGMXText, EventAttributes)
{
    const struct {
        std::string element;
        VGMXEvent expected;
    } kCases[] = {
        {R"(<W hr="1F" bv="00010001"/>)", VGMXEvent::pack(0, 'W', 31, 17, 0)},
        {R"(<W bv="101"/>)", VGMXEvent::pack(0, 'W', 0, 0, 0)},
        {R"(<W v="9" bv="101"/>)", VGMXEvent::pack(0, 'W', 0, 9, 0)},  // a bad "bv" keeps the value
        {R"(<W bv="11111111" v="3"/>)", VGMXEvent::pack(0, 'W', 0, 3, 0)},  // later wins
        {R"(<W bv="1x1x1x1x"/>)", VGMXEvent::pack(0, 'W', 0, 0xAA, 0)},
        {R"(<W r="5" hr="6"/>)", VGMXEvent::pack(0, 'W', 6, 0, 0)},
        {R"(<W r="300"/>)", VGMXEvent::pack(0, 'W', 44, 0, 0)},
        {R"(<W r="-1" p="257"/>)", VGMXEvent::pack(0, 'W', 255, 0, 1)},
        {R"(<W hr="0x1ff" hv="AB"/>)", VGMXEvent::pack(0, 'W', 0xFF, 0xAB, 0)},
        {R"(<W r="abc" v="12abc" p="x"/>)", VGMXEvent::pack(0, 'W', 0, 12, 0)},
        {R"(<W dt="4294967295"/>)", VGMXEvent::pack(0xFFFFFFFF, 'W', 0, 0, 0)},
        {R"(<W dt="4294967296"/>)", VGMXEvent::pack(0xFFFFFFFF, 'W', 0, 0, 0)},
        {R"(<W dt="99999999999999999999999"/>)", VGMXEvent::pack(0xFFFFFFFF, 'W', 0, 0, 0)},
        {R"(<W dt="-5"/>)", VGMXEvent::pack(0, 'W', 0, 0, 0)},
        {R"(<W dt="12" other="1"/>)", VGMXEvent::pack(12, 'W', 0, 0, 0)},
        {R"(<R r="3" v="4" p="2"/>)", VGMXEvent::pack(0, 'R', 3, 4, 2)},
        {R"(<I dt="1"/>)", VGMXEvent::pack(1, 'I', 0, 0, 0)},
        {R"(<D dt="882"/>)", VGMXEvent::pack(882, 'D', 0, 0, 0)},
    };
    for (const auto& c : kCases) {
        VGMX log;
        ASSERT_TRUE(loadText(log, VgmxDocument().chip("6581").raw(c.element + "\n").text()));
        const VGMXChip& sid = log.song.chips.at(77);
        ASSERT_EQ(sid.events.size(), 1u) << c.element;
        EXPECT_EQ(sid.events[0], c.expected) << c.element << " gave " << std::hex << sid.events[0].word;
    }
}

TEST(VGMXText, ChipAttributesAndTotals)
{
    VGMX log;
    ASSERT_TRUE(loadText(log, VgmxDocument().chip({{"type", "YM2612"}}).delay(882).chip({{"type", "6581"}, {"clock", "-1"}, {"rate", "985248"}}).write(1, 2, 10).write(3, 4, 20).text()));
    const VGMXChip& ym = log.song.chips.at(5);
    EXPECT_EQ(letters(ym), "D");
    EXPECT_EQ(ym.rate, 44100u);
    EXPECT_EQ(ym.clock, 0u);
    EXPECT_EQ(ym.total, 882u);
    const VGMXChip& sid = log.song.chips.at(77);
    EXPECT_EQ(sid.clock, 0xFFFFFFFFu);
    EXPECT_EQ(sid.rate, 985248u);
    EXPECT_EQ(sid.total, 30u);
}

TEST(VGMXText, ClosingTagsAddNoEventAndFlagsStayClear)
{
    const std::string text = "<VGMX>\n<Chip type=\"6581\" clock=\"985248\">\n"
                             "<W r=\"1\" v=\"2\" p=\"1\"/>\n<R r=\"27\"/>\n<D dt=\"5\"/>\n</Chip>\n"
                             "<Other a=\"1\"/>\n<Nested b=\"2\">\n</Nested>\n</VGMX>\n";
    VGMX log;
    ASSERT_TRUE(loadText(log, text));
    const VGMXChip& sid = log.song.chips.at(77);
    EXPECT_EQ(letters(sid), "WRD");
    EXPECT_EQ(sid.clock, 985248u);
    EXPECT_EQ(sid.usesPorts, 0);
    EXPECT_EQ(sid.usesRegisters, 0);
    EXPECT_EQ(sid.loopIndex, VGMXChip::kNoLoop);
    EXPECT_EQ(sid.kind, 77);
    EXPECT_EQ(sid.typeName, "6581");

    // A self-closing chip element declares a chip too.
    VGMX selfClosing;
    ASSERT_TRUE(loadText(selfClosing, "<VGMX>\n<Chip type=\"POKEY\" clock=\"5\"/>\n<W r=\"1\"/>\n</VGMX>\n"));
    EXPECT_EQ(letters(selfClosing.song.chips.at(36)), "W");
    EXPECT_EQ(selfClosing.song.chips.at(36).clock, 5u);
}

TEST(VGMXText, DocumentsWithoutChipsOrCutShortStillLoad)
{
    VGMX empty;
    ASSERT_TRUE(loadText(empty, "<VGMX>\n</VGMX>\n", "x.vgmx"));
    EXPECT_EQ(empty.song.loaded, 1);
    EXPECT_TRUE(empty.song.chips.empty());
    EXPECT_EQ(empty.song.tags[0], "x.vgmx");

    // The parser does not report an end inside a tag: what came before is the song.
    VGMX cut;
    ASSERT_TRUE(loadText(cut, "<VGMX>\n<Chip type=\"6581\">\n<W r=\"4\"/>\n<W r=\"1\""));
    EXPECT_EQ(cut.song.loaded, 1);
    ASSERT_EQ(letters(cut.song.chips.at(77)), "W");
    EXPECT_EQ(cut.song.chips.at(77).events[0].reg(), 4);

    VGMX early;
    ASSERT_TRUE(loadText(early, "<VGMX>\n<W r=\"9\"/>\n<Chip type=\"SID\">\n<W r=\"4\"/>\n</Chip>\n</VGMX>\n"));
    EXPECT_EQ(letters(early.song.chips.at(77)), "W");
    EXPECT_EQ(early.song.chips.at(77).events[0].reg(), 4);
}

TEST(VGMXText, ALoadReplacesTheSongAndAFailureKeepsIt)
{
    VGMX log;
    vgmxtest::fillSentinel(log);
    fixtures::TempDir dir;
    EXPECT_FALSE(log.loadXml(dir / "missing.vgmx"));
    EXPECT_FALSE(log.loadXml(dir.path()));  // a folder
    EXPECT_FALSE(log.loadXmlStream(nullptr));
    vantor::VirtualRAMFile empty;
    EXPECT_FALSE(log.loadXmlStream(&empty));
    EXPECT_TRUE(vgmxtest::isSentinel(log));

    ASSERT_TRUE(log.loadXml(dir.write("sub/y.vgx", VgmxDocument().chip("DAC").write(1, 1).text())));
    EXPECT_EQ(kinds(log.song), std::vector<int32_t>{84});
    EXPECT_EQ(log.song.tags[0], "y.vgx");
}

TEST(VGMXText, StreamsAreTitledWithTheirName)
{
    const std::string text = VgmxDocument().chip("SID").write(24, 15, 3).text();
    vantor::VirtualRAMFile stream(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    stream.name = "capture.vgmx";
    VGMX log;
    ASSERT_TRUE(log.loadXmlStream(&stream));
    EXPECT_EQ(log.song.tags[0], "capture.vgmx");
    EXPECT_EQ(log.song.loaded, 1);
    EXPECT_EQ(log.song.chips.at(77).events.at(0), VGMXEvent::pack(3, 'W', 24, 15, 0));
    EXPECT_EQ(log.song.chips.at(77).total, 3u);
}

TEST(VGMXOpen, DispatchesOnTheExtensionInAnyCase)
{
    fixtures::TempDir dir;
    const std::string dro = fixtures::asString(fixtures::makeDroV1({.commands = {0x20, 0x3F}}));
    const std::string dump = fixtures::asString(fixtures::makeRegisterDump({{0, 1, 2}}));
    const std::string text = VgmxDocument().chip("SN76489").write(1, 1).text();
    const struct {
        std::string name, content;
        bool loads;
        int32_t kind;
    } kCases[] = {
        {"A.DRO", dro, true, 11},     {"x.vgx", text, true, 0},      {"x.VGMX", text, true, 0},
        {"x.bin", dump, true, 60},    {"x.rar", "Rar!\x1a\x07", false, -1},
        {"x.txt", text, false, -1},   {"x", text, false, -1},         {"x.vgm", "Vgm ", false, -1},
        {"x.dro.gz", dro, false, -1}, {"x.ym", dro, false, -1},
    };
    for (const auto& c : kCases) {
        VGMX log;
        EXPECT_EQ(log.open(dir.write(c.name, c.content)), c.loads) << c.name;
        if (c.kind >= 0)
            EXPECT_TRUE(log.song.chips.contains(c.kind)) << c.name;
        else
            EXPECT_TRUE(log.song.chips.empty()) << c.name;
    }
    VGMX log;
    EXPECT_FALSE(log.open(dir / "missing.dro"));
    EXPECT_FALSE(log.open(dir / "missing.bin"));
}
