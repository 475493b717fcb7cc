// Keeps freed blocks of 128 KiB to 16 MiB for the next request of the same size. The sanitizer
// maps every such block afresh and pays a page fault per page of it and of its shadow: for a
// harness that copies whole disk images or reserves chip event logs (8 MiB each) that is most of
// its time. An idle block stays poisoned, so a use after free still traps until the block is
// handed out again. Link it (target fuzz_large_blocks) into the harnesses that need it.

#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr size_t kMinBytes = size_t(128) << 10;
constexpr size_t kMaxBytes = size_t(16) << 20;
constexpr size_t kSlots = 32;

struct Idle {
    void* block;
    size_t size;
};

std::mutex idleLock;
Idle idle[kSlots];
size_t idleCount = 0;

void* reuse(size_t size)
{
    const std::lock_guard<std::mutex> hold(idleLock);
    for (size_t i = 0; i < idleCount; ++i) {
        if (idle[i].size == size) {
            void* block = idle[i].block;
            std::copy(idle + i + 1, idle + idleCount, idle + i);
            --idleCount;
            ASAN_UNPOISON_MEMORY_REGION(block, size);
            return block;
        }
    }
    return nullptr;
}

// Keeps the block, handing back the longest-kept one when every slot is taken.
bool keep(void* block)
{
    const size_t size = __sanitizer_get_allocated_size(block);
    if (size < kMinBytes || size > kMaxBytes)
        return false;
    Idle oldest{nullptr, 0};
    {
        const std::lock_guard<std::mutex> hold(idleLock);
        if (idleCount == kSlots) {
            oldest = idle[0];
            std::copy(idle + 1, idle + kSlots, idle);
            --idleCount;
        }
        ASAN_POISON_MEMORY_REGION(block, size);
        idle[idleCount++] = {block, size};
    }
    if (oldest.block) {
        ASAN_UNPOISON_MEMORY_REGION(oldest.block, oldest.size);
        std::free(oldest.block);
    }
    return true;
}

void* allocate(size_t size) noexcept
{
    if (size >= kMinBytes && size <= kMaxBytes)
        if (void* block = reuse(size))
            return block;
    return std::malloc(size ? size : 1);
}

void release(void* block) noexcept
{
    if (block && !keep(block))
        std::free(block);
}

}  // namespace

// Large shadow ranges are cleared with memset rather than handed back to the system, so that a
// kept block's shadow pages stay mapped between its uses.
extern "C" const char* __asan_default_options()
{
    return "clear_shadow_mmap_threshold=1073741824";
}

// Every form is replaced, so that the sanitizer's own forms never meet these deletes.
void* operator new(size_t size)
{
    if (void* block = allocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { release(block); }
void operator delete(void* block, size_t) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete[](void* block, size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }
