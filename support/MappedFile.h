#pragma once
// Whole files mapped read-only. The registry remembers each live mapping's descriptor and
// length so that callers only keep the address. Not locked: one thread at a time.

#include <cstdint>
#include <map>
#include <string>

class MappedFileRegistry {
public:
    struct Entry {
        int descriptor;
        uint64_t length;
    };

    static MappedFileRegistry& instance();

    void add(const void* address, Entry entry) { entries_[address] = entry; }
    // Removes and returns the entry of exactly that address; false when there is none.
    bool take(const void* address, Entry& entry);
    size_t size() const { return entries_.size(); }
    bool contains(const void* address) const { return entries_.count(address) != 0; }

private:
    std::map<const void*, Entry> entries_;
};

// The largest file that can be mapped: 4,294,967,294 bytes.
inline constexpr uint64_t kMaxMappedFileLength = 0xFFFFFFFEull;

// The whole regular file's first byte and its length; null and 0 for an empty, too large or
// unreadable file (nothing stays open then).
const uint8_t* mapFileReadOnly(const std::string& path, uint64_t& length);
// Releases a mapping by its start address; any other address (null included) is ignored.
void unmapFile(const void* address);
