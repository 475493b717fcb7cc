// Chunk trees of every IFF kind, from memory, from a stream and from a file through stdio;
// every chunk fetched with and without its header.

#include "fuzz/FuzzSupport.h"
#include "support/IFFTree.h"
#include "support/VirtualFile.h"

#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/ChunkWriter.h"

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using fixtures::ChunkLayout;
    using fixtures::ChunkWriter;
    const struct {
        const char* name;
        ChunkLayout layout;
        const char* id;
    } kKinds[] = {
        {"form", ChunkLayout::iff(), "FORM"}, {"riff", ChunkLayout::riff(), "RIFF"},
        {"rf64", ChunkLayout::rf64(), "RF64"}, {"wide", ChunkLayout::wide(), "riff"},
        {"nsfe", ChunkLayout::nsfe(), "NSFE"},
    };
    for (const auto& kind : kKinds) {
        ChunkWriter w(kind.layout);
        w.begin(kind.id, "TEST").leaf("name", "odd").begin("LIST", "INFO").leaf("abcd", fixtures::Bytes(40, 7));
        w.end().leaf("tail", "x").end();
        seeds.add(kind.name, w.bytes());
    }
    ChunkWriter caff(ChunkLayout::caff());
    caff.raw(fixtures::caffHeader()).leaf("desc", fixtures::Bytes(32, 1)).leaf("data", "samples");
    seeds.add("caff", caff.bytes());
    ChunkWriter midi(ChunkLayout::midi());
    midi.leaf("MThd", fixtures::Bytes{0, 1, 0, 1, 0, 96}).leaf("MTrk", fixtures::Bytes{0, 0xFF, 0x2F, 0});
    seeds.add("midi", midi.bytes());
    fixtures::ChipDescription chip;  // a small one: a whole chip's tables take 300 KB
    chip.text("Name", "8580 R5").leaf("Conf", fixtures::confBytes(0, 1, 0, 4));
    seeds.add("chip-database", fixtures::writeChipDatabase({chip, chip}, fixtures::DatabaseForm::Form));
}

namespace {

void fetchAll(vantor::IFFTree& tree, const vantor::IFFTreeNode* node)
{
    for (const bool withHeader : {false, true})
        if (const uint8_t* block = tree.getChunkData(node, withHeader))
            tree.releaseChunkData(block);
    uint8_t first[16];
    if (!node->children.empty())
        vantor::copyNamedChunk(&tree, node, node->children.front()->name, first, sizeof first);
    for (const vantor::IFFTreeNode* child : node->children)
        fetchAll(tree, child);
}

void readTree(vantor::IFFTree& tree, int mode)
{
    if (tree.load(mode))
        fetchAll(tree, tree.getRoot());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        vantor::IFFTree memory(data, size);
        readTree(memory, 0);
    }
    {
        vantor::IFFTree stream(new vantor::VirtualRAMFile(data, size), true);
        readTree(stream, 0);
    }
    vantor::IFFTree file(fuzz::writeScratch("chunks.bin", data, size));
    readTree(file, 3);
    return 0;
}
