#pragma once
// The two archive harnesses take a mode byte, then the archive. Mode bit 0 recomputes a 7z's
// checksums, so that mutated headers reach the parsers behind libarchive's checksum test.

#include "fuzz/FuzzSupport.h"
#include "support/MetaContainer.h"

#include "fixtures/ArchiveWriters.h"

namespace fuzz {

inline Bytes archiveOf(const uint8_t* data, size_t size)
{
    if (size == 0)
        return {};
    Bytes archive(data + 1, data + size);
    if (data[0] & 1)
        fixtures::refresh7zChecksums(archive);
    return archive;
}

// Lists the archive and extracts every entry, through a growing vector and into a buffer.
inline void readWholeArchive(vantor::MetaContainer& container)
{
    constexpr uint64_t kMaxSize = 1 << 20;
    if (!container.scan())
        return;
    for (const vantor::MetaContainerEntry& entry : container.entries()) {
        std::vector<uint8_t> out;
        if (container.extractToVector(&entry, out, kMaxSize) && out.size() != entry.size)
            __builtin_trap();
        if (entry.size <= kMaxSize) {
            std::vector<uint8_t> buffer(size_t(entry.size) + 1);
            container.extractEntry(&entry, buffer.data());
        }
    }
}

inline void archiveSeeds(Seeds& seeds)
{
    auto add = [&](const std::string& name, const fixtures::Bytes& archive, bool sevenZip) {
        Bytes input{0};
        input.insert(input.end(), archive.begin(), archive.end());
        seeds.add(name, input);
        if (sevenZip) {
            input[0] = 1;
            seeds.add(name + "-checksummed", input);
        }
    };
    const std::string song = fixtures::sampleData(700, 1), other = fixtures::sampleData(90, 2);
    add("zip", fixtures::makeZip({{"a.sid", song}, {"stored.txt", "stored", false}, {"d/", ""}}), false);
    add("zip-utf8", fixtures::makeZip({{"\xC3\xBC.vgm", other, true, true}}), false);
    fixtures::GzipOptions named;
    named.name = "song.vgm";
    named.comment = "comment";
    named.extra = "ex";
    named.headerCrc = true;
    add("gzip-fields", fixtures::makeGzip(song, named), false);
    add("gzip", fixtures::makeGzip(other), false);
    for (const char* coder : {"copy", "lzma1", "lzma2", "deflate", "bzip2", "ppmd"})
        add(std::string("7z-") + coder, fixtures::make7z({{"a.sid", song}, {"b.sid", other}, {"d", "", true}}, coder),
            true);
    const std::vector<fixtures::StoredSevenZipItem> stored = {{u"d", ""}, {u"d/a", "first"}, {u"b", "second"}};
    add("7z-stored", fixtures::make7zStored(stored), true);
    fixtures::StoredSevenZipOptions deflated;
    deflated.deflate = true;
    add("7z-stored-deflate", fixtures::make7zStored(stored, deflated), true);
    add("7z-encoded-header", fixtures::encode7zHeader(fixtures::make7zStored(stored)), true);
}

}  // namespace fuzz
