#include "support/XMLFile.h"

#include "platform/PlatformTools.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cstring>

namespace vantor {

namespace {

enum class State { Between, Text, TagName, Instruction, CloseTag, AttrName, AttrList, AttrValue,
                   Comment };

bool isBlank(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

constexpr const char* kTokenTooLong = "Token too long";

// Token buffer of one pass: keeps at most capacity - 1 bytes and a terminating zero; reports
// an overflowing token once.
class Token
{
public:
    explicit Token(size_t capacity) : bytes(capacity, '\0') {}

    void append(char c, XMLVisitor* visitor, uint64_t position)
    {
        if (length + 1 < bytes.size()) {
            bytes[length++] = c;
            bytes[length] = '\0';
        } else if (!overflowReported) {
            overflowReported = true;
            visitor->error(kTokenTooLong, position);
        }
    }
    void clear()
    {
        length = 0;
        bytes[0] = '\0';
        overflowReported = false;
    }
    // Keeps the last three bytes after appending (comment end detection).
    void appendKeepingThree(char c)
    {
        if (length == 3) {
            bytes[0] = bytes[1];
            bytes[1] = bytes[2];
            length = 2;
        }
        bytes[length++] = c;
        bytes[length] = '\0';
    }
    bool equals(const char* text) const { return std::strcmp(bytes.data(), text) == 0; }
    const char* c_str() const { return bytes.data(); }

private:
    std::vector<char> bytes;
    size_t length = 0;
    bool overflowReported = false;
};

}  // namespace

XMLFile::XMLFile() = default;

XMLFile::~XMLFile()
{
    attributeList.clear();
}

bool XMLFile::open(const std::string& path)
{
    if (!fileExists(path))
        return false;
    ownedStream = std::make_unique<ZRGFile>(path);
    input = nullptr;
    inputLength = 0;
    if (!ownedStream->isOpen())
        return false;
    input = ownedStream.get();
    inputLength = uint64_t(std::max<int64_t>(0, input->size()));
    return true;
}

bool XMLFile::openStream(VirtualFile* stream)
{
    if (!stream || !stream->isOpen())
        return false;
    input = stream;
    inputLength = uint64_t(std::max<int64_t>(0, stream->size()));
    return true;
}

bool XMLFile::addAttribute(const std::string& text)
{
    const size_t eq = text.find('=');
    if (text.empty() || eq == std::string::npos)
        return false;
    attributeList.push_back({text.substr(0, eq), text.substr(eq + 1)});
    return true;
}

uint8_t XMLFile::readChar(bool& last)
{
    const uint8_t c = input ? uint8_t(input->readU8()) : 0;
    ++consumed;
    last = consumed >= inputLength;
    return c;
}

bool XMLFile::parseXmlText(XMLVisitor* visitor, uint64_t bufferSize)
{
    if (!visitor)
        return false;
    const size_t capacity = size_t(std::max<uint64_t>(bufferSize, 4));
    Token token(capacity);
    std::string tagName;
    tagName.reserve(capacity);
    State state = State::Between;
    bool emptyTagMark = false;
    attributeList.reserve(16);

    auto reset = [&](State next) {
        token.clear();
        attributeList.clear();
        emptyTagMark = false;
        state = next;
    };

    while (input && consumed < inputLength) {
        const char c = char(input->readU8());
        ++consumed;
        const uint64_t at = consumed;
        auto append = [&] { token.append(c, visitor, at); };

        switch (state) {
        case State::Between:
            if (isBlank(c))
                break;
            if (c == '<') {
                state = State::TagName;
                break;
            }
            tagName.clear();
            append();
            state = State::Text;
            break;

        case State::Text:
            if (c == '\n' || c == '<') {
                visitor->textRun(token.c_str());
                reset(c == '<' ? State::TagName : State::Between);
            } else {
                append();
            }
            break;

        case State::TagName:
            if (c == '\t' || c == ' ') {
                tagName = token.c_str();
                token.clear();
                state = State::AttrName;
            } else if (c == '?') {
                state = State::Instruction;
            } else if (c == '/') {
                state = State::CloseTag;
            } else if (c == '>') {
                visitor->startElement(token.c_str());
                reset(State::Between);
            } else {
                append();
                if (c == '-' && token.equals("!--"))
                    reset(State::Comment);
            }
            break;

        case State::Instruction:
            if (c == '<')
                visitor->error("Instruction not closed", at);
            else if (c == '>') {
                visitor->processingInstruction(token.c_str());
                reset(State::Between);
            } else if (c != '?')
                append();
            break;

        case State::CloseTag:
            if (c == '>') {
                visitor->closeTag(token.c_str());
                reset(State::Between);
            } else {
                append();
            }
            break;

        case State::AttrName:
            if (isBlank(c))
                break;
            if (c == '"') {
                visitor->error("Missing equal sign", at);
                break;
            }
            append();
            if (c == '=')
                state = State::AttrList;
            break;

        case State::AttrList:
            if (isBlank(c))
                break;
            if (c == '"')
                state = State::AttrValue;
            else if (c == '/')
                emptyTagMark = true;
            else if (c == '<')
                visitor->error("Tag not closed", at);
            else if (c == '>') {
                if (emptyTagMark)
                    visitor->emptyTag(tagName.c_str());
                else
                    visitor->startElement(tagName.c_str());
                visitor->attributes(attributeList);
                reset(State::Between);
            } else {
                append();
            }
            break;

        case State::AttrValue:
            if (c == '\r')
                break;
            if (c == '"') {
                addAttribute(token.c_str());
                token.clear();
                state = State::AttrList;
            } else {
                append();
            }
            break;

        case State::Comment:
            if (c == '-' || c == '>') {
                token.appendKeepingThree(c);
                if (token.equals("-->"))
                    reset(State::Between);
            } else {
                token.clear();
            }
            break;
        }
    }
    return true;
}

}  // namespace vantor
