#pragma once
// A look at a 7z archive's headers before libarchive gets it: the sizes libarchive trusts are
// held against the file, so that a damaged or hostile archive fails instead of making the
// library spin or allocate without bound.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vantor {

// Copies `count` bytes at `offset` of the archive into `out`; false when they are not all there.
using ArchiveReader = std::function<bool(uint64_t offset, void* out, size_t count)>;

// The largest header (compressed or not) and decoder memory (dictionary, model, BCJ2 stream)
// an archive may ask for.
inline constexpr uint64_t kSevenZipHeaderMax = uint64_t(16) << 20;
inline constexpr uint64_t kSevenZipDecoderMemoryMax = uint64_t(64) << 20;

// True when the archive of `length` bytes parses and every stream description fits: packed
// data between the signature header and the header, a copy-coded folder's pack stream at least
// as long as its output, substream sizes within their folder, counts within what the header can
// hold, coder memory within the limit. A compressed header is decoded and checked the same way.
bool sevenZipLayoutIsSound(uint64_t length, const ArchiveReader& read);

}  // namespace vantor
