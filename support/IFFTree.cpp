#include "support/IFFTree.h"

#include "platform/PlatformTools.h"
#include "support/MappedFile.h"
#include "support/SupportTools.h"
#include "support/VirtualFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vantor {

namespace {

constexpr const char* kNotIFF = "Not an IFF-like file";
constexpr const char* kNoSpace = "Not enough space in real file for new chunks!!";
constexpr const char* kOpenFailed = "Error opening file";
constexpr const char* kShortSize4 = "Tree Error2";
constexpr const char* kShortSize8 = "Tree Error3";
constexpr const char* kShortFormType = "Tree Error4";
constexpr const char* kBadLayout = "Tree Error5";  // sizes that wrap, nesting too deep

constexpr uint64_t kMaxPosition = uint64_t(std::numeric_limits<int64_t>::max());

constexpr const char* kContainerIds[] = {"FORM", "LIST", "CAT ", "PROP", "RIFF",
                                         "RIFX", "riff", "list", "IF64", "if64"};

bool isContainerId(const uint8_t* id)
{
    for (const char* c : kContainerIds)
        if (std::memcmp(id, c, 4) == 0)
            return true;
    return false;
}

bool is(const uint8_t* bytes, const char* text)
{
    return std::memcmp(bytes, text, 4) == 0;
}

// Four bytes as a zero-terminated text.
std::string idText(const uint8_t* id)
{
    char text[5] = {};
    std::memcpy(text, id, 4);
    return text;
}

std::string containerName(const uint8_t* id, const uint8_t* formType)
{
    static const uint8_t kZero[4] = {};
    char text[11] = {};
    std::memcpy(text, id, 4);
    text[4] = '(';
    std::memcpy(text + 5, std::memcmp(formType, kZero, 4) == 0 ? "NULL" : (const char*)formType, 4);
    text[9] = ')';
    return text;  // ends at the first zero byte
}

uint64_t decodeSize(const uint8_t* bytes, unsigned width, bool bigEndian)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        v |= uint64_t(bytes[bigEndian ? i : width - 1 - i]) << (8 * (width - 1 - i));
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// IFFTreeNode

IFFTreeNode::IFFTreeNode(std::string n, uint64_t o, uint64_t s, IFFTreeNode* p)
    : offset(o), size(s), name(std::move(n)), parent(p)
{
}

IFFTreeNode::~IFFTreeNode()
{
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        delete *it;
}

IFFTreeNode* IFFTreeNode::findChild(const std::string& wanted) const
{
    for (IFFTreeNode* child : children)
        if (child->name == wanted)
            return child;
    return nullptr;
}

IFFTreeNode* IFFTreeNode::addChild(std::string n, uint64_t o, uint64_t s)
{
    children.push_back(new IFFTreeNode(std::move(n), o, s, this));
    return children.back();
}

// ---------------------------------------------------------------------------------------------
// IFFTree: construction and sources

IFFTree::IFFTree(const std::string& p, FILE* f) : path(p), callersFile(f)
{
}

IFFTree::IFFTree(const void* memory, uint64_t length)
    : sourceKind(SourceMemory), memoryBase(static_cast<const uint8_t*>(memory)),
      memoryCapacity(length), totalLength(length), path("ram not owner"), sourceLength(length)
{
}

IFFTree::IFFTree(VirtualFile* s, bool owns) : sourceKind(SourceStream), stream(s), ownsSource(owns)
{
    sourceLength = s ? uint64_t(std::max<int64_t>(0, s->size())) : 0;
    totalLength = sourceLength;
}

IFFTree::~IFFTree()
{
    close();
    freeRegions();
    destroyTree();
}

void IFFTree::report(const char* message)
{
    std::fputs(message, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool IFFTree::hasSource() const
{
    return memoryBase || file || stream;
}

void IFFTree::close()
{
    switch (sourceKind) {
    case SourceWholeFile:
        if (ownsSource && memoryBase)
            binFileFree(const_cast<uint8_t*>(memoryBase));
        break;
    case SourceMapped:
        if (ownsSource && memoryBase)
            unmapFile(memoryBase);
        break;
    case SourceStdio:
        if (ownsSource && file)
            std::fclose(file);
        break;
    case SourceStream:
        if (ownsSource)
            delete stream;
        break;
    default:
        break;
    }
    memoryBase = nullptr;
    memoryPosition = 0;
    file = nullptr;
    stream = nullptr;
    pastEnd = -1;
    ownsSource = false;
}

bool IFFTree::openSource(int mode)
{
    if (mode == 3) {
        close();
        if (callersFile) {
            file = callersFile;
        } else {
            file = std::fopen(path.c_str(), "rb");
            if (!file) {
                report(kOpenFailed);
                return false;
            }
            ownsSource = true;
        }
        sourceKind = SourceStdio;
        const off_t length = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
        if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) {
            close();
            return false;
        }
        sourceLength = uint64_t(length);
        return true;
    }
    if (mode == 2) {
        close();
        uint64_t length = 0;
        const uint8_t* base = mapFileReadOnly(path, length);
        if (!base)
            return false;
        sourceKind = SourceMapped;
        memoryBase = base;
        memoryCapacity = sourceLength = length;
        ownsSource = true;
        return true;
    }
    if (mode == 1) {
        close();
        uint64_t length = 0, spare = 32;
        uint8_t* base = binFileInternalize(path, length, spare);
        if (!base)
            return false;
        sourceKind = SourceWholeFile;
        memoryBase = base;
        sourceLength = length;
        memoryCapacity = length + spare;
        ownsSource = true;
        return true;
    }
    return true;  // the constructor's memory or stream source
}

// ---------------------------------------------------------------------------------------------
// Source primitives

uint64_t IFFTree::read(void* buffer, uint64_t elementSize, uint64_t count)
{
    if (elementSize == 0 || count == 0 || !buffer || !hasSource())
        return 0;
    count = std::min(count, std::numeric_limits<uint64_t>::max() / elementSize);
    switch (sourceKind) {
    case SourceWholeFile:
    case SourceMapped:
    case SourceMemory: {
        const uint64_t available = memoryPosition < sourceLength ? sourceLength - memoryPosition : 0;
        const uint64_t n = std::min(count, available / elementSize);
        if (n == 0)
            return 0;
        std::memcpy(buffer, memoryBase + memoryPosition, n * elementSize);
        memoryPosition += n * elementSize;
        return n;
    }
    case SourceStdio:
        return pastEnd >= 0 ? 0 : std::fread(buffer, elementSize, count, file);
    case SourceStream:
        return pastEnd >= 0 ? 0 : stream->read(buffer, elementSize * count) / elementSize;
    default:
        return 0;
    }
}

int64_t IFFTree::tell()
{
    if (!hasSource())
        return -1;
    switch (sourceKind) {
    case SourceStdio:
        return pastEnd >= 0 ? pastEnd : int64_t(ftello(file));
    case SourceStream:
        return pastEnd >= 0 ? pastEnd : stream->tell();
    default:
        return int64_t(memoryPosition);
    }
}

bool IFFTree::seek(int64_t offset, int origin)
{
    if (!hasSource())
        return false;
    int64_t base = 0;
    if (origin == 1)
        base = tell();
    else if (origin == 2)
        base = int64_t(sourceLength);
    else if (origin != 0)
        return false;
    int64_t target = 0;
    if (base < 0 || __builtin_add_overflow(base, offset, &target) || target < 0)
        return false;
    if (sourceKind == SourceStdio || sourceKind == SourceStream) {
        // Positions at or past the end are kept here: memory streams refuse them and file
        // systems refuse offsets beyond their limit, and reads from there give nothing anyway.
        if (uint64_t(target) >= sourceLength) {
            pastEnd = target;
            return true;
        }
        const bool moved = sourceKind == SourceStdio ? fseeko(file, off_t(target), SEEK_SET) == 0
                                                     : stream->seek(target);
        if (moved)
            pastEnd = -1;
        return moved;
    }
    memoryPosition = uint64_t(target);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Loading

void IFFTree::destroyTree()
{
    delete root;
    root = nullptr;
}

bool IFFTree::load(int mode)
{
    freeRegions();
    destroyTree();
    if (!openSource(mode))
        return false;

    idLength = sizeLength = formTypeLength = 4;
    bigEndian = padToEven = true;
    sizeBeforeId = false;
    totalLength = sourceLength;
    chunkPosition = 0;

    uint8_t m[4];
    if (!seek(0, 0) || read(m, 1, 4) != 4) {
        close();
        return false;
    }
    std::memcpy(&magic, m, 4);
    seek(0, 0);
    root = new IFFTreeNode(path, 0, totalLength, nullptr);
    if (!applyLayout()) {
        report(kNotIFF);
        close();
        destroyTree();
        return false;
    }
    swapBytes = isHostLittleEndian() == bigEndian;

    IFFTreeNode* top = root->children.empty() ? root : root->children.front();
    if (!parse(top, totalLength, 0)) {
        destroyTree();
        close();
        return false;
    }
    return true;
}

bool IFFTree::applyLayout()
{
    uint8_t m[4];
    std::memcpy(m, &magic, 4);
    if (is(m, "FORM") || is(m, "LIST") || is(m, "CAT ") || is(m, "RIFX"))
        return true;
    if (is(m, "RIFF")) {
        bigEndian = false;
        return true;
    }
    if (is(m, "RF64") || is(m, "IF64")) {
        bigEndian = false;
        sizeLength = 8;
        return true;
    }
    if (is(m, "riff")) {
        bigEndian = false;
        idLength = formTypeLength = 16;
        sizeLength = 8;
        return true;
    }
    if (is(m, "caff") || is(m, "CAF ")) {
        sizeLength = 8;
        padToEven = false;
        root->addChild("caff", 0, totalLength);
        chunkPosition = 8;
        totalLength = totalLength > 8 ? totalLength - 8 : 0;
        seek(8, 0);
        return true;
    }
    if (is(m, "NSFE")) {
        bigEndian = padToEven = false;
        sizeBeforeId = true;
        root->addChild("EFSN", 0, totalLength);
        chunkPosition = 4;
        totalLength -= 4;
        seek(4, 0);
        return true;
    }
    if (is(m, "MThd")) {
        formTypeLength = 0;
        padToEven = false;
        root->addChild("MIDI", 0, totalLength);
        return true;
    }
    return false;
}

bool IFFTree::parse(IFFTreeNode* parent, uint64_t length, unsigned depth)
{
    if (length < 1)
        return true;
    // Every position and size below stays under 2^63, so the signed count cannot overflow.
    int64_t remaining = int64_t(std::min(length, kMaxPosition));
    const uint64_t header = idLength + sizeLength;
    for (;;) {
        uint8_t id[16] = {};
        if (!sizeBeforeId && read(id, 1, idLength) != idLength) {
            report(kNoSpace);
            return false;
        }
        uint8_t sizeBytes[8];
        if (read(sizeBytes, 1, sizeLength) != sizeLength) {
            report(sizeLength == 8 ? kShortSize8 : kShortSize4);
            return false;
        }
        uint64_t size = decodeSize(sizeBytes, unsigned(sizeLength), bigEndian);
        if (idLength == 16) {  // "riff" sizes count the 24-byte header
            if (size < header) {
                report(kBadLayout);
                return false;
            }
            size -= header;
        }
        if (size > kMaxPosition) {
            report(kBadLayout);
            return false;
        }
        if (padToEven)
            size += size & 1u;
        if (sizeBeforeId && read(id, 1, idLength) != idLength) {
            report(kNoSpace);
            return false;
        }
        if (chunkPosition > kMaxPosition - header || size > kMaxPosition - header - chunkPosition) {
            report(kBadLayout);
            return false;
        }

        if (!isContainerId(id)) {
            if (sizeBeforeId && is(id, "NEND"))  // end of an NSFE file
                return true;
            parent->addChild(idText(id), chunkPosition, size);
            chunkPosition += header + size;
            if (!seek(int64_t(chunkPosition), 0)) {
                report(kNoSpace);
                return false;
            }
        } else {
            uint8_t formType[16] = {};
            if (read(formType, 1, formTypeLength) != formTypeLength) {
                report(kShortFormType);
                return false;
            }
            if (size < formTypeLength || depth >= kMaxDepth) {
                report(kBadLayout);
                return false;
            }
            IFFTreeNode* child = parent->addChild(containerName(id, formType), chunkPosition, size);
            chunkPosition += header + formTypeLength;
            if (!parse(child, size - formTypeLength, depth + 1))
                return false;
        }
        remaining -= int64_t(header + size);
        if (remaining < 1)
            return true;
    }
}

// ---------------------------------------------------------------------------------------------
// Chunk data

const uint8_t* IFFTree::fetchRegion(uint64_t start, uint64_t length)
{
    if (!hasSource() || start > sourceLength || length > sourceLength - start)
        return nullptr;
    if (sourceKind != SourceStdio && sourceKind != SourceStream)
        return memoryBase + start;

    const RegionKey key{start, length};
    auto found = regionByOffset.find(key);
    if (found != regionByOffset.end()) {
        ++found->second.holds;
        return found->second.block;
    }
    auto* block = static_cast<uint8_t*>(allocBuffer(length ? length : 1));
    if (!block)
        return nullptr;
    if (!seek(int64_t(start), 0) || read(block, 1, length) != length) {
        freeBuffer(block);
        return nullptr;
    }
    regionByOffset[key] = Region{block, 1};
    offsetByRegion[block] = key;
    return block;
}

const uint8_t* IFFTree::getChunkData(const IFFTreeNode* node, bool withHeader)
{
    if (!node)
        return nullptr;
    const uint64_t header = idLength + sizeLength;
    return withHeader ? fetchRegion(node->offset, node->size + header)
                      : fetchRegion(node->offset + header, node->size);
}

bool IFFTree::releaseChunkData(const void* block)
{
    auto it = offsetByRegion.find(static_cast<const uint8_t*>(block));
    if (it == offsetByRegion.end())
        return false;
    auto region = regionByOffset.find(it->second);
    if (--region->second.holds == 0) {
        freeBuffer(region->second.block);
        regionByOffset.erase(region);
        offsetByRegion.erase(it);
    }
    return true;
}

void IFFTree::freeRegions()
{
    for (auto& [key, region] : regionByOffset)
        freeBuffer(region.block);
    regionByOffset.clear();
    offsetByRegion.clear();
}

uint64_t copyNamedChunk(IFFTree* tree, const IFFTreeNode* parent, const std::string& name,
                        void* destination, uint64_t maximum)
{
    if (!tree || !parent || !destination)
        return 0;
    const IFFTreeNode* child = parent->findChild(name);
    if (!child)
        return 0;
    const uint8_t* data = tree->getChunkData(child, false);
    if (!data)
        return 0;
    const uint64_t n = std::min(child->size, maximum);
    std::memcpy(destination, data, n);
    tree->releaseChunkData(data);
    return n;
}

}  // namespace vantor
