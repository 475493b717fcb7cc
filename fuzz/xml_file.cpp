// The XML reader over a stream, with a small and a large token buffer.

#include "fuzz/FuzzSupport.h"
#include "support/VirtualFile.h"
#include "support/XMLFile.h"

void fuzzSeeds(fuzz::Seeds& seeds)
{
    seeds.add("document.xml",
              std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD\">\n"
                          "<plist version=\"1.0\">\n<dict>\n\t<key>name</key>\n\t<string>a &amp; b</string>\n"
                          "\t<empty attribute=\"1\" other='two'/>\n\t<!-- comment -->\n</dict>\n</plist>\n"));
    seeds.add("attributes.xml", std::string("<a x=1 y=\"2\"><b/><c z=\"\">text\nmore</c></a>"));
    seeds.add("instructions.xml", std::string("<?a?><?b c?><r>1</r>"));
}

namespace {

// Keeps what it is given, so that every callback's text is read.
class Collector : public vantor::XMLVisitor {
public:
    bool processingInstruction(const char* text) override { return keep(text); }
    bool startElement(const char* name) override { return keep(name); }
    bool closeTag(const char* name) override { return keep(name); }
    bool emptyTag(const char* name) override { return keep(name); }
    bool attributes(const std::vector<vantor::XMLAttribute>& list) override
    {
        for (const auto& a : list)
            length += a.name.size() + a.value.size();
        return true;
    }
    bool textRun(const char* text) override { return keep(text); }
    bool error(const char* message, uint64_t) override { return keep(message); }

    size_t length = 0;

private:
    bool keep(const char* text)
    {
        length += std::string(text).size();
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const uint64_t bufferSize : {8u, 4096u}) {
        vantor::VirtualRAMFile stream(data, size);
        vantor::XMLFile xml;
        Collector collector;
        if (xml.openStream(&stream))
            xml.parseXmlText(&collector, bufferSize);
    }
    return 0;
}
