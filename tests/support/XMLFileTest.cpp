#include "support/XMLFile.h"

#include "fixtures/TempDir.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vantor::XMLAttribute;
using vantor::XMLFile;

// Writes every event as one line of text.
struct Recorder : vantor::XMLVisitor
{
    bool processingInstruction(const char* text) override { return add("instruction " + s(text)); }
    bool startElement(const char* name) override { return add("start " + s(name)); }
    bool closeTag(const char* name) override { return add("close " + s(name)); }
    bool emptyTag(const char* name) override { return add("empty " + s(name)); }
    bool attributes(const std::vector<XMLAttribute>& list) override
    {
        std::string line = "attributes";
        for (const XMLAttribute& a : list)
            line += " " + a.name + "=" + a.value;
        return add(line);
    }
    bool textRun(const char* text) override { return add("text " + s(text)); }
    bool error(const char* message, uint64_t position) override
    {
        return add("error " + s(message) + " " + std::to_string(position));
    }

    static std::string s(const char* t) { return t; }
    bool add(std::string line)
    {
        events.push_back(std::move(line));
        return true;
    }
    std::vector<std::string> events;
};

std::vector<std::string> parse(const std::string& text, uint64_t bufferSize = 4096)
{
    vantor::VirtualRAMFile stream(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    XMLFile xml;
    Recorder r;
    if (!text.empty()) {
        EXPECT_TRUE(xml.openStream(&stream));
        EXPECT_TRUE(xml.parseXmlText(&r, bufferSize));
        EXPECT_EQ(xml.getConsumed(), text.size());
    }
    return r.events;
}

using Events = std::vector<std::string>;

TEST(XMLFile, EventsOfSmallDocuments)
{
    const struct { std::string input; Events want; } kCases[] = {
        {"<Chip id=\"1\" type=\"SID\">", {"start Chip", "attributes id=1 type=SID"}},
        {"<W a=\"5\" d=\"255\"/>", {"empty W", "attributes a=5 d=255"}},
        {"<a/>", {"close a"}},
        {"</a>", {"close a"}},
        {"<a>", {"start a"}},
        {"<?xml version=\"1.0\"?>", {"instruction xml version=\"1.0\""}},
        {"abc\r\n  def<", {"text abc\r", "text def"}},
        {"x &amp; y\n", {"text x &amp; y"}},
        {"<!-- x -> y -->", {}},
        {"<!-- <a> --><b>", {"start b"}},
        {"<a x=1>", {"start a", "attributes"}},
        {"<a x='1'>", {"start a", "attributes"}},
        {"<a x = \"1\" y=\"a=b\" z=\"\">", {"start a", "attributes x=1 y=a=b z="}},
        {"<a x \"1\">", {"error Missing equal sign 6", "error Missing equal sign 8"}},
        {"<a x=\"1\" <", {"error Tag not closed 10"}},
        {"<a >", {}},  // ">" joins the attribute name
        {"<?a<b?>", {"error Instruction not closed 4", "instruction ab"}},
        {"<a\n>", {"start a\n"}},
        {"<a x=\"1\"", {}},  // ends inside a tag: no report
        {"<a x=\"1\r\n2\">", {"start a", "attributes x=1\n2"}},
        {"<a>\t <b/>", {"start a", "close b"}},
        {"", {}},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(parse(c.input), c.want) << c.input;
}

TEST(XMLFile, HighAndZeroBytesAreOrdinary)
{
    const std::string tag = "<\xC3\xA9t\xFF x=\"\x80\">";
    EXPECT_EQ(parse(tag), (Events{"start \xC3\xA9t\xFF", "attributes x=\x80"}));
    const std::string withZero("ab\0cd\n", 6);  // the zero ends the reported text
    EXPECT_EQ(parse(withZero), (Events{"text ab"}));
    const std::string zeroInComment("<!--\0-->", 8);
    EXPECT_EQ(parse(zeroInComment + "<a>"), (Events{"start a"}));
}

TEST(XMLFile, LongTokensAreCut)
{
    const std::string name(100, 'n');
    EXPECT_EQ(parse("<" + name + ">", 64),
              (Events{"error Token too long 65", "start " + name.substr(0, 63)}));
    // Once per token: the attribute text after the name is a new token.
    EXPECT_EQ(parse("<" + name + " " + std::string(70, 'k') + "=\"v\">", 64),
              (Events{"error Token too long 65", "error Token too long 166",
                      "start " + name.substr(0, 63), "attributes"}));  // the cut text lost "="
    // Below 4 the buffer still holds the comment mark.
    EXPECT_EQ(parse("<!-- c --><ab>", 1), (Events{"start ab"}));
    EXPECT_EQ(parse("<abcd>", 2), (Events{"error Token too long 5", "start abc"}));
}

TEST(XMLFile, AddAttribute)
{
    XMLFile xml;
    EXPECT_FALSE(xml.addAttribute(""));
    EXPECT_FALSE(xml.addAttribute("novalue"));
    EXPECT_TRUE(xml.addAttribute("a=b=c"));
    EXPECT_TRUE(xml.addAttribute("=x"));
    ASSERT_EQ(xml.getAttributes().size(), 2u);
    EXPECT_EQ(xml.getAttributes()[0].name, "a");
    EXPECT_EQ(xml.getAttributes()[0].value, "b=c");
    EXPECT_EQ(xml.getAttributes()[1].name, "");
}

TEST(XMLFile, OpenFileAndSinglePass)
{
    fixtures::TempDir dir;
    const std::string doc = "<?xml version=\"1.0\"?>\n<VGMX>\n  <W a=\"5\" d=\"255\"/>\n</VGMX>\n";
    const std::string p = dir.write("song.xml", doc);

    XMLFile xml;
    EXPECT_FALSE(xml.open(p + ".missing"));
    ASSERT_TRUE(xml.open(p));
    Recorder r;
    EXPECT_FALSE(xml.parseXmlText(nullptr, 64));
    EXPECT_EQ(xml.getConsumed(), 0u);
    EXPECT_TRUE(xml.parseXmlText(&r, 64));
    EXPECT_EQ(r.events, (Events{"instruction xml version=\"1.0\"", "start VGMX", "empty W",
                                "attributes a=5 d=255", "close VGMX"}));
    Recorder again;
    EXPECT_TRUE(xml.parseXmlText(&again, 64));
    EXPECT_TRUE(again.events.empty());

    bool last = false;
    XMLFile chars;
    ASSERT_TRUE(chars.open(p));
    EXPECT_EQ(chars.readChar(last), '<');
    EXPECT_FALSE(last);
}

TEST(XMLFile, OpenStreamRefusals)
{
    XMLFile xml;
    EXPECT_FALSE(xml.openStream(nullptr));
    vantor::VirtualRAMFile empty(nullptr, 0);
    EXPECT_FALSE(xml.openStream(&empty));
    Recorder r;
    EXPECT_TRUE(xml.parseXmlText(&r, 64));  // no input: nothing read
    EXPECT_TRUE(r.events.empty());
}

}  // namespace
