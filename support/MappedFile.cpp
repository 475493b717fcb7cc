#include "support/MappedFile.h"

#include "platform/PlatformTools.h"

#include <sys/mman.h>
#include <unistd.h>

MappedFileRegistry& MappedFileRegistry::instance()
{
    static MappedFileRegistry registry;
    return registry;
}

bool MappedFileRegistry::take(const void* address, Entry& entry)
{
    const auto it = entries_.find(address);
    if (it == entries_.end())
        return false;
    entry = it->second;
    entries_.erase(it);
    return true;
}

const uint8_t* mapFileReadOnly(const std::string& path, uint64_t& length)
{
    length = 0;
    const int fd = POpenRegularFileDescriptor(path);
    if (fd < 0)
        return nullptr;
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end <= 0 || uint64_t(end) > kMaxMappedFileLength) {  // empty, unmeasurable or too large
        close(fd);
        return nullptr;
    }
    void* address = mmap(nullptr, size_t(end), PROT_READ, MAP_PRIVATE, fd, 0);
    if (address == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    MappedFileRegistry::instance().add(address, {fd, uint64_t(end)});
    length = uint64_t(end);
    return static_cast<const uint8_t*>(address);
}

void unmapFile(const void* address)
{
    MappedFileRegistry::Entry entry;
    if (!address || !MappedFileRegistry::instance().take(address, entry))
        return;
    munmap(const_cast<void*>(address), size_t(entry.length));
    close(entry.descriptor);
}
