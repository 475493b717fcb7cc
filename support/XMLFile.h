#pragma once
// One-pass reader of a small XML subset: tags, double-quoted attributes, text runs, processing
// instructions and comments (skipped). No entities, CDATA or document types. Builds no tree;
// everything goes to a visitor.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantor {

class VirtualFile;

struct XMLAttribute
{
    std::string name;
    std::string value;
};

// Callbacks of the reader, in the order of the document. Results are not looked at.
class XMLVisitor
{
public:
    virtual ~XMLVisitor() = default;
    // The text between "<?" and ">", every "?" dropped.
    virtual bool processingInstruction(const char* /*text*/) { return true; }
    virtual bool startElement(const char* /*name*/) { return true; }
    // "</name>" and "<name/>".
    virtual bool closeTag(const char* /*name*/) { return true; }
    // A tag with attributes and a "/" after its name.
    virtual bool emptyTag(const char* /*name*/) { return true; }
    // Right after startElement or emptyTag of a tag whose name was followed by a blank.
    virtual bool attributes(const std::vector<XMLAttribute>& /*list*/) { return true; }
    // At a line feed inside text and at the "<" that ends text.
    virtual bool textRun(const char* /*text*/) { return true; }
    // `position` counts the bytes consumed, the offending one included.
    virtual bool error(const char* /*message*/, uint64_t /*position*/) { return true; }
};

class XMLFile
{
public:
    XMLFile();
    virtual ~XMLFile();

    XMLFile(const XMLFile&) = delete;
    XMLFile& operator=(const XMLFile&) = delete;

    // Reads the file at `path` (owned stream); false when it is missing or cannot be opened.
    bool open(const std::string& path);
    // Reads the caller's stream, which must stay alive; false for null or a stream not open.
    bool openStream(VirtualFile* stream);

    // Runs the one pass over the input (a second pass reads nothing). False only for a null
    // visitor. Tokens keep at most bufferSize - 1 bytes (bufferSize below 4 counts as 4).
    bool parseXmlText(XMLVisitor* visitor, uint64_t bufferSize);

    // Splits "name=value" at the first "="; false (nothing added) without one.
    bool addAttribute(const std::string& text);
    // One byte of input; `last` is set when it was the final one.
    uint8_t readChar(bool& last);

    const std::vector<XMLAttribute>& getAttributes() const { return attributeList; }
    uint64_t getConsumed() const { return consumed; }

private:
    std::unique_ptr<VirtualFile> ownedStream;
    VirtualFile* input = nullptr;
    uint64_t inputLength = 0;
    std::vector<XMLAttribute> attributeList;
    uint64_t consumed = 0;
};

}  // namespace vantor
