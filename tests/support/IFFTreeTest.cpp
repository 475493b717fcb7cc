#include "support/IFFTree.h"

#include "TreeDump.h"
#include "fixtures/TempDir.h"
#include "fixtures/ChunkWriter.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using fixtures::Bytes;
using fixtures::ChunkLayout;
using fixtures::ChunkWriter;
using vantor::IFFTree;
using vantor::IFFTreeNode;

// How a test opens its bytes: the three file modes, the caller's memory and a memory stream.
enum class Mode { WholeFile = 1, Mapped = 2, Stdio = 3, Memory, Stream };
const Mode kModes[] = {Mode::WholeFile, Mode::Mapped, Mode::Stdio, Mode::Memory, Mode::Stream};

const char* modeName(Mode m)
{
    switch (m) {
    case Mode::WholeFile: return "whole file";
    case Mode::Mapped: return "mapped";
    case Mode::Stdio: return "stdio";
    case Mode::Memory: return "memory";
    case Mode::Stream: return "stream";
    }
    return "?";
}

struct Opened
{
    std::unique_ptr<fixtures::TempDir> dir;
    std::string path;
    std::unique_ptr<IFFTree> tree;
    bool loaded = false;
    std::string printed;
};

// `bytes` must outlive the result (memory and stream modes read it in place).
Opened openTree(const Bytes& bytes, Mode mode)
{
    Opened o;
    switch (mode) {
    case Mode::Memory:
        o.tree = std::make_unique<IFFTree>(bytes.data(), bytes.size());
        break;
    case Mode::Stream:
        o.tree = std::make_unique<IFFTree>(new vantor::VirtualRAMFile(bytes.data(), bytes.size()),
                                           true);
        break;
    default:
        o.dir = std::make_unique<fixtures::TempDir>();
        o.path = o.dir->write("chunks.iff", std::string(bytes.begin(), bytes.end()));
        o.tree = std::make_unique<IFFTree>(o.path);
        break;
    }
    testing::internal::CaptureStdout();
    const int loadMode = mode == Mode::Memory || mode == Mode::Stream ? 0 : int(mode);
    o.loaded = o.tree->load(loadMode);
    o.printed = testing::internal::GetCapturedStdout();
    return o;
}

// Every node's data, with and without its header, is the file's bytes, or null past the end.
void expectChunkBytes(IFFTree& t, const Bytes& file, const IFFTreeNode* node, const char* mode)
{
    const uint64_t header = t.getIdLength() + t.getSizeLength();
    for (bool withHeader : {false, true}) {
        const uint64_t start = node->offset + (withHeader ? 0 : header);
        const uint64_t length = node->size + (withHeader ? header : 0);
        const uint8_t* data = t.getChunkData(node, withHeader);
        if (start + length > file.size()) {
            EXPECT_EQ(data, nullptr) << node->name << " " << mode;
            continue;
        }
        ASSERT_NE(data, nullptr) << node->name << " " << mode;
        EXPECT_EQ(Bytes(data, data + length), Bytes(file.begin() + long(start),
                                                    file.begin() + long(start + length)))
            << node->name << " " << mode;
        t.releaseChunkData(data);
    }
    for (const IFFTreeNode* child : node->children)
        expectChunkBytes(t, file, child, mode);
}

Bytes bytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes wave()
{
    return ChunkWriter(ChunkLayout::riff())
        .begin("RIFF", "WAVE")
        .leaf("fmt ", Bytes(16, 0x11))
        .leaf("data", "abc")
        .begin("LIST", "INFO")
        .leaf("INAM", "ab")
        .leaf("ICMT", "xyz")
        .end()
        .end()
        .bytes();
}

struct Fixture
{
    const char* what;
    std::function<Bytes()> build;
    std::string tree;
};

const Fixture kFixtures[] = {
    {"RIFF WAVE", wave,
     "RIFF(WAVE)@0+74[fmt @12+16,data@36+4,LIST(INFO)@48+26[INAM@60+2,ICMT@70+4]]"},
    {"FORM NULL",
     [] { return ChunkWriter().begin("FORM", std::string(4, '\0')).end().bytes(); },
     "FORM(NULL)@0+4"},
    {"FORM 8SVX",
     [] {
         return ChunkWriter()
             .begin("FORM", "8SVX")
             .leaf("VHDR", "12345")
             .begin("LIST", std::string("A\0BC", 4))  // a zero ends the name
             .leaf(std::string("N\0ME", 4), "z")
             .end()
             .begin("CAT ", "    ")
             .end()
             .end()
             .bytes();
     },
     "FORM(8SVX)@0+52[VHDR@12+6,LIST(A@26+14[N@38+2],CAT (    )@48+4]"},
    {"RIFX", [] { return ChunkWriter().begin("RIFX", "abcd").leaf("x", "1").end().bytes(); },
     "RIFX(abcd)@0+14[x@12+2]"},
    {"caff",
     [] {
         return ChunkWriter(ChunkLayout::caff())
             .raw(fixtures::caffHeader())
             .leaf("desc", Bytes(32, 7))
             .leaf("data", "odd55")
             .leaf("free", "ab")
             .bytes();
     },
     "caff@0+83[desc@8+32,data@52+5,free@69+2]"},
    {"CAF ",
     [] {
         return ChunkWriter(ChunkLayout::caff())
             .raw(fixtures::caffHeader("CAF "))
             .leaf("info", "1")
             .bytes();
     },
     "caff@0+21[info@8+1]"},
    {"NSFE",
     [] {
         return ChunkWriter(ChunkLayout::nsfe())
             .raw("NSFE")
             .leaf("INFO", Bytes(10, 1))
             .leaf("DATA", "abc")
             .leaf("NEND", "")
             .leaf("plst", "xy")
             .bytes();
     },
     "EFSN@0+51[INFO@4+10,DATA@22+3]"},
    {"MIDI",
     [] {
         return ChunkWriter(ChunkLayout::midi())
             .leaf("MThd", Bytes{0, 1, 0, 2, 0, 96})
             .leaf("MTrk", Bytes{0, 0xFF, 0x2F, 0})
             .leaf("MTrk", Bytes{0, 0x90, 0x3C})
             .bytes();
     },
     "MIDI@0+37[MThd@0+6,MTrk@14+4,MTrk@26+3]"},
    {"riff",
     [] {
         return ChunkWriter(ChunkLayout::wide())
             .begin("riff", "wave")
             .leaf("fmt ", Bytes(16, 2))
             .leaf("data", "abc")
             .end()
             .bytes();
     },
     "riff(wave)@0+84[fmt @40+16,data@80+4]"},
    {"RF64",
     [] { return ChunkWriter(ChunkLayout::rf64()).leaf("RF64", Bytes(20, 3)).bytes(); },
     "RF64@0+20"},
    {"IF64",
     [] {
         return ChunkWriter(ChunkLayout::rf64()).begin("IF64", "WAVE").leaf("a", "1").end().bytes();
     },
     "IF64(WAVE)@0+18[a@16+2]"},
};

TEST(IFFTree, FixturesLoadAlikeInEveryMode)
{
    for (const Fixture& f : kFixtures) {
        const Bytes bytes = f.build();
        for (Mode mode : kModes) {
            Opened o = openTree(bytes, mode);
            ASSERT_TRUE(o.loaded) << f.what << " " << modeName(mode) << ": " << o.printed;
            EXPECT_EQ(o.printed, "");
            EXPECT_EQ(dumpTree(*o.tree), f.tree) << f.what << " " << modeName(mode);
            EXPECT_EQ(o.tree->getRoot()->size, bytes.size());
            expectChunkBytes(*o.tree, bytes, o.tree->getRoot(), modeName(mode));
            EXPECT_EQ(o.tree->heldBlockCount(), 0u);
        }
    }
}

TEST(IFFTree, RootNamesAndLayouts)
{
    const Bytes riff = wave();
    Opened memory = openTree(riff, Mode::Memory);
    EXPECT_EQ(memory.tree->getRoot()->name, "ram not owner");
    EXPECT_EQ(memory.tree->getSourceKind(), vantor::SourceMemory);
    Opened stdio = openTree(riff, Mode::Stdio);
    EXPECT_EQ(stdio.tree->getRoot()->name, stdio.path);
    EXPECT_EQ(stdio.tree->getSourceKind(), vantor::SourceStdio);
    EXPECT_FALSE(stdio.tree->isBigEndian());
    Opened stream = openTree(riff, Mode::Stream);
    EXPECT_EQ(stream.tree->getRoot()->name, "");

    const Bytes wide = kFixtures[8].build();
    Opened w = openTree(wide, Mode::Mapped);
    EXPECT_EQ(w.tree->getIdLength(), 16u);
    EXPECT_EQ(w.tree->getSizeLength(), 8u);
    EXPECT_EQ(w.tree->getSourceKind(), vantor::SourceMapped);
    const Bytes nsfe = kFixtures[6].build();
    Opened n = openTree(nsfe, Mode::WholeFile);
    EXPECT_TRUE(n.tree->isSizeBeforeId());
    EXPECT_FALSE(n.tree->isPadToEven());
    EXPECT_EQ(n.tree->getTotalLength(), nsfe.size() - 4);
}

TEST(IFFTree, RejectedFiles)
{
    const std::string kNoSpace = "Not enough space in real file for new chunks!!\n";
    const struct { const char* what; Bytes bytes; std::string printed; } kCases[] = {
        {"three bytes", bytesOf("FOR"), ""},
        {"empty", {}, ""},
        {"other magic", bytesOf("JUNKJUNKJUNK"), "Not an IFF-like file\n"},
        {"short id", ChunkWriter().begin("FORM", "ABCD", 20).raw("XY").bytes(), kNoSpace},
        {"short 4-byte size", ChunkWriter().begin("FORM", "ABCD", 20).raw("XYZW12").bytes(),
         "Tree Error2\n"},
        {"short 8-byte size", bytesOf("RF64\x01\x02\x03"), "Tree Error3\n"},
        {"short form type", ChunkWriter().raw("FORM").writeSize(4).bytes(), "Tree Error4\n"},
        {"short NSFE id", ChunkWriter(ChunkLayout::nsfe()).raw("NSFE").writeSize(2).bytes(), kNoSpace},
        {"container below its form type",
         ChunkWriter().begin("FORM", "ABCD").begin("LIST", "WXYZ", 2).end().end().bytes(),
         "Tree Error5\n"},
        {"riff size below 24",
         ChunkWriter(ChunkLayout::wide()).begin("riff", "wave").leaf("a", Bytes{}, 23).end().bytes(),
         "Tree Error5\n"},
        {"size near 2^64",
         ChunkWriter(ChunkLayout::rf64()).leaf("RF64", Bytes(4), ~uint64_t(0) - 1).bytes(),
         "Tree Error5\n"},
        {"size past 2^63 with the header",
         ChunkWriter(ChunkLayout::rf64()).leaf("RF64", Bytes(4), (uint64_t(1) << 63) - 8).bytes(),
         "Tree Error5\n"},
        {"caff sizes adding past 2^63",
         ChunkWriter(ChunkLayout::caff()).raw(fixtures::caffHeader())
             .leaf("a", Bytes{}, (uint64_t(1) << 63) - 16).bytes(),
         "Tree Error5\n"},
    };
    for (const auto& c : kCases)
        for (Mode mode : kModes) {
            if (c.bytes.empty() && mode == Mode::Mapped)
                continue;  // an empty file cannot be mapped: silent failure as well
            Opened o = openTree(c.bytes, mode);
            EXPECT_FALSE(o.loaded) << c.what << " " << modeName(mode);
            EXPECT_EQ(o.printed, c.printed) << c.what << " " << modeName(mode);
            EXPECT_EQ(o.tree->getRoot(), nullptr);
            EXPECT_EQ(o.tree->tell(), -1) << "source closed: " << c.what;
        }
}

TEST(IFFTree, MissingFiles)
{
    IFFTree t("/nonexistent/file.iff");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(t.load(1));
    EXPECT_FALSE(t.load(2));
    EXPECT_FALSE(t.load(3));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening file\n");
    IFFTree none(static_cast<vantor::VirtualFile*>(nullptr), false);
    EXPECT_FALSE(none.load(0));
}

TEST(IFFTree, CallersFileStaysOpen)
{
    const Bytes bytes = wave();
    fixtures::TempDir dir;
    const std::string p = dir.write("callers.iff", std::string(bytes.begin(), bytes.end()));
    FILE* f = std::fopen(p.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    {
        IFFTree t("label", f);
        ASSERT_TRUE(t.load(3));
        EXPECT_EQ(t.getRoot()->name, "label");
        ASSERT_TRUE(t.load(3));  // reloads from the start
        EXPECT_EQ(dumpTree(t), kFixtures[0].tree);
    }
    EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);  // still open
    EXPECT_EQ(std::fgetc(f), 'R');
    std::fclose(f);
}

TEST(IFFTree, TruncatedInsideData)
{
    const Bytes full = ChunkWriter(ChunkLayout::riff())
                           .begin("RIFF", "WAVE")
                           .leaf("fmt ", Bytes(16, 1))
                           .leaf("data", Bytes(100, 9))
                           .end()
                           .bytes();
    const Bytes cut(full.begin(), full.begin() + 60);
    for (Mode mode : kModes) {
        Opened o = openTree(cut, mode);
        ASSERT_TRUE(o.loaded) << modeName(mode);
        const IFFTreeNode* riff = o.tree->getRoot()->findChild("RIFF(WAVE)");
        ASSERT_NE(riff, nullptr);
        const IFFTreeNode* data = riff->findChild("data");
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->size, 100u);
        EXPECT_EQ(o.tree->getChunkData(data, false), nullptr) << modeName(mode);
        EXPECT_EQ(o.tree->getChunkData(data, true), nullptr) << modeName(mode);
        uint8_t buffer[256];
        EXPECT_EQ(vantor::copyNamedChunk(o.tree.get(), riff, "data", buffer, sizeof buffer), 0u);
        EXPECT_EQ(vantor::copyNamedChunk(o.tree.get(), riff, "fmt ", buffer, sizeof buffer), 16u);
        EXPECT_EQ(vantor::copyNamedChunk(o.tree.get(), riff, "none", buffer, sizeof buffer), 0u);
        EXPECT_EQ(o.tree->heldBlockCount(), 0u);
    }
}

TEST(IFFTree, FindChildAndCopyNamedChunk)
{
    const Bytes bytes = wave();
    for (Mode mode : kModes) {
        Opened o = openTree(bytes, mode);
        ASSERT_TRUE(o.loaded);
        const IFFTreeNode* riff = o.tree->getRoot()->findChild("RIFF(WAVE)");
        ASSERT_NE(riff, nullptr);
        EXPECT_EQ(riff->findChild("LIST"), nullptr);
        EXPECT_EQ(riff->findChild("list(INFO)"), nullptr);
        ASSERT_NE(riff->findChild("LIST(INFO)"), nullptr);
        EXPECT_EQ(riff->findChild("LIST(INFO)")->parent, riff);

        uint8_t buffer[8];
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(vantor::copyNamedChunk(o.tree.get(), riff, "data", buffer, 8), 4u);
        EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{'a', 'b', 'c', 0, 0xEE}));  // with its pad
        EXPECT_EQ(vantor::copyNamedChunk(o.tree.get(), riff, "data", buffer, 2), 2u);
        EXPECT_EQ(vantor::copyNamedChunk(nullptr, riff, "data", buffer, 2), 0u);
    }
}

TEST(IFFTree, SharedBlocksLiveUntilTheirLastRelease)
{
    const Bytes bytes = wave();
    for (Mode mode : {Mode::Stdio, Mode::Stream}) {
        Opened o = openTree(bytes, mode);
        ASSERT_TRUE(o.loaded);
        const IFFTreeNode* fmt = o.tree->getRoot()->children[0]->findChild("fmt ");
        const uint8_t* a = o.tree->getChunkData(fmt, false);
        const uint8_t* b = o.tree->getChunkData(fmt, false);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a, b);
        EXPECT_EQ(o.tree->heldBlockCount(), 1u);
        EXPECT_TRUE(o.tree->releaseChunkData(a));
        EXPECT_EQ(o.tree->heldBlockCount(), 1u);
        EXPECT_EQ(b[15], 0x11);  // still valid for the second holder
        EXPECT_TRUE(o.tree->releaseChunkData(b));
        EXPECT_EQ(o.tree->heldBlockCount(), 0u);
        EXPECT_FALSE(o.tree->releaseChunkData(b));

        // One start, two lengths: each request gets a complete block of its own.
        const IFFTreeNode shorter("s", 0, 2, nullptr), longer("l", 0, 20, nullptr);
        const uint8_t* s = o.tree->getChunkData(&shorter, true);
        const uint8_t* l = o.tree->getChunkData(&longer, true);
        ASSERT_NE(s, nullptr);
        ASSERT_NE(l, nullptr);
        EXPECT_NE(s, l);
        EXPECT_EQ(Bytes(l, l + 28), Bytes(bytes.begin(), bytes.begin() + 28));
        EXPECT_EQ(o.tree->heldBlockCount(), 2u);
        // Never released: freed by the reload (asan checks).
        ASSERT_TRUE(o.tree->load(mode == Mode::Stdio ? 3 : 0));
        EXPECT_EQ(o.tree->heldBlockCount(), 0u);
        o.tree->getChunkData(o.tree->getRoot()->children[0]->children[0], true);  // freed at the end
    }
    Opened memory = openTree(bytes, Mode::Memory);
    const uint8_t* p = memory.tree->getChunkData(memory.tree->getRoot()->children[0], false);
    ASSERT_EQ(p, bytes.data() + 8);
    EXPECT_FALSE(memory.tree->releaseChunkData(p));
}

TEST(IFFTree, SyntheticNodeAndFirstChunkShareAStart)
{
    // "MIDI" (offset 0) and "MThd" (offset 0) ask for data at the same start with different
    // lengths; the longer request must not get the shorter block.
    for (const Fixture* f : {&kFixtures[7], &kFixtures[4]}) {
        const Bytes bytes = f->build();
        for (Mode mode : kModes) {
            Opened o = openTree(bytes, mode);
            ASSERT_TRUE(o.loaded);
            const IFFTreeNode* top = o.tree->getRoot()->children[0];
            const IFFTreeNode* first = top->children[0];
            const uint8_t* firstData = o.tree->getChunkData(first, false);
            ASSERT_NE(firstData, nullptr);
            const long start = long(first->offset + o.tree->getIdLength() +
                                    o.tree->getSizeLength());
            EXPECT_EQ(Bytes(firstData, firstData + first->size),
                      Bytes(bytes.begin() + start, bytes.begin() + start + long(first->size)));
            EXPECT_EQ(o.tree->getChunkData(top, false), nullptr);  // reaches past the end
            EXPECT_EQ(o.tree->getChunkData(top, true), nullptr);
        }
    }
}

TEST(IFFTree, PrimitivesAndSeekFromTheEnd)
{
    const Bytes bytes = wave();
    for (Mode mode : kModes) {
        Opened o = openTree(bytes, mode);
        ASSERT_TRUE(o.loaded);
        IFFTree& t = *o.tree;
        uint8_t four[4];
        EXPECT_TRUE(t.seek(-4, 2)) << modeName(mode);
        EXPECT_EQ(t.tell(), int64_t(bytes.size() - 4));
        EXPECT_EQ(t.read(four, 2, 2), 2u);
        EXPECT_EQ(Bytes(four, four + 4), Bytes(bytes.end() - 4, bytes.end()));
        EXPECT_EQ(t.read(four, 1, 4), 0u);  // at the end
        EXPECT_TRUE(t.seek(8, 0));
        EXPECT_TRUE(t.seek(-4, 1));
        EXPECT_EQ(t.read(four, 4, 1), 1u);
        EXPECT_EQ(std::memcmp(four, "\x4a\0\0\0", 4), 0);
        EXPECT_FALSE(t.seek(-1, 0));
        EXPECT_FALSE(t.seek(0, 7));
        EXPECT_EQ(t.read(four, 0, 4), 0u);
        EXPECT_EQ(t.read(four, 4, 0), 0u);
        EXPECT_TRUE(t.seek(1000, 0));  // past the end: reads come back empty
        EXPECT_EQ(t.read(four, 1, 4), 0u) << modeName(mode);
        t.close();
        EXPECT_EQ(t.tell(), -1);
        EXPECT_EQ(t.read(four, 1, 4), 0u);
        EXPECT_FALSE(t.seek(0, 0));
        EXPECT_EQ(t.getChunkData(t.getRoot()->children[0], false), nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Bad input

// Touches every byte of every chunk the tree hands out (asan reports reads out of bounds).
uint64_t walk(IFFTree& t, const IFFTreeNode* node, unsigned depth = 0)
{
    uint64_t sum = 0;
    for (bool withHeader : {false, true})
        if (const uint8_t* d = t.getChunkData(node, withHeader)) {
            const uint64_t n = node->size + (withHeader ? t.getIdLength() + t.getSizeLength() : 0);
            for (uint64_t i = 0; i < n; ++i)
                sum += d[i];
            t.releaseChunkData(d);
        }
    EXPECT_LE(depth, IFFTree::kMaxDepth + 2);
    for (const IFFTreeNode* c : node->children)
        sum += walk(t, c, depth + 1);
    return sum;
}

TEST(IFFTree, RandomBytesAfterEachMagic)
{
    const char* kMagics[] = {"FORM", "LIST", "CAT ", "RIFX", "RIFF", "RF64",
                             "IF64", "riff", "caff", "CAF ", "NSFE", "MThd"};
    const char* kIds[] = {"FORM", "LIST", "RIFF", "riff", "PROP", "if64", "NEND", "data"};
    int loaded = 0, runs = 0;
    for (const char* magic : kMagics)
        for (uint32_t seed = 0; seed < 400; ++seed) {
            std::mt19937 rng(seed * 7919u + uint32_t(magic[0]));
            Bytes bytes(magic, magic + 4);
            const size_t length = rng() % 160;
            while (bytes.size() < length + 4) {
                const uint32_t r = rng() % 8;
                if (r == 0) {
                    const char* id = kIds[rng() % 8];
                    bytes.insert(bytes.end(), id, id + 4);
                } else if (r < 5) {
                    bytes.push_back(uint8_t(rng() % 24));  // small sizes
                } else {
                    bytes.push_back(uint8_t(rng()));
                }
            }
            std::vector<Mode> modes = {Mode::Memory, Mode::Stream};
            if (seed % 40 == 0)
                modes.push_back(Mode::Stdio);
            for (Mode mode : modes) {
                Opened o = openTree(bytes, mode);
                ++runs;
                if (o.loaded) {
                    ++loaded;
                    walk(*o.tree, o.tree->getRoot());
                    EXPECT_EQ(o.tree->heldBlockCount(), 0u);
                } else {
                    EXPECT_EQ(o.tree->getRoot(), nullptr);
                }
            }
        }
    EXPECT_GT(loaded, runs / 4);  // the generator builds trees often enough to test them
}

TEST(IFFTree, DeepNesting)
{
    for (unsigned depth : {64u, 65u, 10000u}) {
        ChunkWriter w;
        for (unsigned i = 0; i < depth; ++i)
            w.begin(i % 2 ? "LIST" : "FORM", "ABCD");
        w.leaf("leaf", "x");
        for (unsigned i = 0; i < depth; ++i)
            w.end();
        for (Mode mode : {Mode::Memory, Mode::Stream}) {
            Opened o = openTree(w.bytes(), mode);
            EXPECT_EQ(o.loaded, depth <= 64) << depth;
            EXPECT_EQ(o.printed, depth <= 64 ? "" : "Tree Error5\n");
            if (o.loaded) {
                const IFFTreeNode* n = o.tree->getRoot();
                unsigned levels = 0;
                while (!n->children.empty()) {
                    n = n->children[0];
                    ++levels;
                }
                EXPECT_EQ(levels, depth + 1);
                EXPECT_EQ(n->name, "leaf");
            }
        }
    }
}

TEST(IFFTree, OverlongChunksLoadButGiveNoData)
{
    // A last chunk may claim more than its parent and the file hold: it keeps its stated size.
    const Bytes bytes = ChunkWriter(ChunkLayout::rf64())
                            .begin("IF64", "WAVE")
                            .leaf("big ", Bytes(4, 1), 0x7FFFFFFF00000000ull)
                            .end()
                            .bytes();
    for (Mode mode : kModes) {
        Opened o = openTree(bytes, mode);
        ASSERT_TRUE(o.loaded) << modeName(mode) << o.printed;
        const IFFTreeNode* big = o.tree->getRoot()->children[0]->children[0];
        EXPECT_EQ(big->size, 0x7FFFFFFF00000000ull);
        EXPECT_EQ(o.tree->getChunkData(big, false), nullptr);
        const uint8_t* parentData = o.tree->getChunkData(big->parent, false);
        EXPECT_NE(parentData, nullptr);
        o.tree->releaseChunkData(parentData);
        walk(*o.tree, o.tree->getRoot());
        EXPECT_EQ(o.tree->heldBlockCount(), 0u);
    }
}

}  // namespace
