#pragma once
// Read-only trees of chunk files of the IFF family ("FORM", "LIST", "CAT ", "RIFF", "RIFX",
// "RF64", "IF64", "riff", "caff", "CAF ", "NSFE" and standard MIDI files). Parsing reads only the
// chunk headers; chunk bytes are fetched on request, as pointers into memory sources or as
// blocks read once and shared until their last holder releases them.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vantor {

class VirtualFile;

class IFFTreeNode
{
public:
    IFFTreeNode(std::string name, uint64_t offset, uint64_t size, IFFTreeNode* parent);
    virtual ~IFFTreeNode();  // destroys the children, last first

    IFFTreeNode(const IFFTreeNode&) = delete;
    IFFTreeNode& operator=(const IFFTreeNode&) = delete;

    // The first child, in file order, whose name is exactly `name`.
    IFFTreeNode* findChild(const std::string& name) const;
    IFFTreeNode* addChild(std::string name, uint64_t offset, uint64_t size);

    uint64_t offset;  // first header byte of the chunk; 0 for the root and synthetic nodes
    uint64_t size;    // data size (padded where the kind pads), form type included
    std::string name;  // "id" for a leaf, "id(form)" for a container, the path for the root
    IFFTreeNode* parent;
    std::vector<IFFTreeNode*> children;  // owned
};

enum SourceKind : uint32_t
{
    SourceNone = 0,
    SourceWholeFile = 1,  // the whole file read into an owned block
    SourceMapped = 2,     // the file mapped read-only
    SourceStdio = 3,      // a stdio FILE
    SourceMemory = 4,     // a caller's block, never freed here
    SourceStream = 5,     // a VirtualFile
};

class IFFTree
{
public:
    // A file by path; `file`, when given, is read by mode 3 instead of opening the path and stays
    // the caller's.
    explicit IFFTree(const std::string& path, FILE* file = nullptr);
    // The caller's bytes, which must outlive the tree.
    IFFTree(const void* memory, uint64_t length);
    // A stream, deleted by the tree when `owns` is set.
    IFFTree(VirtualFile* stream, bool owns);
    virtual ~IFFTree();

    IFFTree(const IFFTree&) = delete;
    IFFTree& operator=(const IFFTree&) = delete;

    // Opens the source (1 whole file, 2 mapped, 3 stdio; any other mode keeps the memory or stream
    // source of the constructor) and builds the tree. On failure the source is closed and there is
    // no tree; messages go to standard output.
    bool load(int mode);

    IFFTreeNode* getRoot() const { return root; }

    // The chunk's data (`withHeader` false, a container's starts with its form type) or the whole
    // chunk. Null when it lies beyond the source. Blocks of stdio and stream sources are shared by
    // (start, length); every call adds a hold that releaseChunkData gives back.
    const uint8_t* getChunkData(const IFFTreeNode* node, bool withHeader);
    // Gives back one hold on a fetched block (freed at the last); false for pointers into memory
    // sources and pointers it does not know.
    bool releaseChunkData(const void* block);

    // Source primitives. `seek` origins: 0 start, 1 current, 2 end (length + offset).
    uint64_t read(void* buffer, uint64_t elementSize, uint64_t count);
    bool seek(int64_t offset, int origin);
    int64_t tell();
    void close();

    uint64_t getIdLength() const { return idLength; }
    uint64_t getSizeLength() const { return sizeLength; }
    uint64_t getFormTypeLength() const { return formTypeLength; }
    uint32_t getMagic() const { return magic; }
    bool isBigEndian() const { return bigEndian; }
    bool isPadToEven() const { return padToEven; }
    bool isSizeBeforeId() const { return sizeBeforeId; }
    SourceKind getSourceKind() const { return sourceKind; }
    uint64_t getTotalLength() const { return totalLength; }
    const std::string& getPath() const { return path; }
    size_t heldBlockCount() const { return regionByOffset.size(); }

    static constexpr unsigned kMaxDepth = 64;  // containers nested deeper fail the load

protected:
    struct Region
    {
        uint8_t* block;
        uint64_t holds;
    };
    using RegionKey = std::pair<uint64_t, uint64_t>;  // start, length

    bool openSource(int mode);
    bool hasSource() const;
    bool applyLayout();
    bool parse(IFFTreeNode* parent, uint64_t length, unsigned depth);
    const uint8_t* fetchRegion(uint64_t start, uint64_t length);
    void freeRegions();
    void destroyTree();
    static void report(const char* message);

    IFFTreeNode* root = nullptr;
    uint64_t idLength = 4;
    uint64_t sizeLength = 4;
    uint64_t formTypeLength = 4;
    uint32_t magic = 0;
    bool bigEndian = true;
    bool swapBytes = true;
    bool padToEven = true;
    bool sizeBeforeId = false;
    SourceKind sourceKind = SourceNone;
    const uint8_t* memoryBase = nullptr;
    uint64_t memoryPosition = 0;
    uint64_t memoryCapacity = 0;
    VirtualFile* stream = nullptr;
    FILE* file = nullptr;
    uint64_t chunkPosition = 0;
    uint64_t totalLength = 0;
    bool ownsSource = false;
    std::map<RegionKey, Region> regionByOffset;
    std::map<const uint8_t*, RegionKey> offsetByRegion;
    std::string path;

    uint64_t sourceLength = 0;     // bytes in the source, its file header included
    FILE* callersFile = nullptr;   // the constructor's FILE, never closed here
    int64_t pastEnd = -1;          // stdio or stream position at or past the end, or -1
};

// Copies min(size, maximum) bytes of the child `name` of `parent` (a padded odd chunk gives its
// pad byte too); 0 when there is no such child or its data cannot be read.
uint64_t copyNamedChunk(IFFTree* tree, const IFFTreeNode* parent, const std::string& name,
                        void* destination, uint64_t maximum);

}  // namespace vantor
