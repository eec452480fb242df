#include "platform/Memory.h"

#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdlib>

namespace nb {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

size_t RoundToHugePages(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

void* AllocateBuffer(size_t bytes) noexcept {
    if (bytes < kLargeBufferBytes) return std::malloc(bytes ? bytes : 1);
    if (bytes > size_t(-1) - kHugePage) return nullptr;
    const size_t rounded = RoundToHugePages(bytes);
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) return nullptr;
#ifdef MADV_HUGEPAGE
    // Advice only: without huge pages the block works the same.
    ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return p;
}

void FreeBuffer(void* p, size_t) noexcept { std::free(p); }

void TuneProcessHeap() noexcept {
#if defined(__GLIBC__)
    // Blocks up to 32 MiB come from the heap (every picture and texture is
    // smaller), and up to 64 MiB of free space may stay at its top. Fixing
    // the values also stops the library from adjusting them as it goes.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

}  // namespace nb
