#include "platform/Memory.h"

#include <sys/mman.h>

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

}  // namespace nb
