// Large pixel buffers. Pictures and textures run to megabytes each and are
// made and dropped on every screen change; on machines where each first
// touch of a small page is expensive (virtual machines above all), most of
// a load went into page faults. Buffers of at least kLargeBufferBytes are
// therefore taken in whole 2 MiB blocks and the kernel is asked to back
// them with huge pages where it can.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace nb {

constexpr size_t kLargeBufferBytes = size_t(1) << 20;

// Sets the process heap up for the player, once at start-up: memory that is
// freed stays with the process instead of going back to the system after
// every shrink. Scripts build and drop strings in loops, and each give-back
// and later regrowth of the heap costs page-table flushes and fresh page
// faults, which on virtual machines cost more than the script work itself.
void TuneProcessHeap() noexcept;

// Memory for `bytes` bytes (any size); nullptr when none is left. Release
// it with FreeBuffer and the same size.
void* AllocateBuffer(size_t bytes) noexcept;
void FreeBuffer(void* p, size_t bytes) noexcept;

// A vector allocator over AllocateBuffer whose value construction leaves
// trivial elements uninitialised: pixel buffers are written in full right
// after they are sized, and zeroing megabytes first only to overwrite them
// costs as much as the conversion itself. (resize(n, value) and assign
// still initialise.)
template <class T>
struct PixelAllocator {
    using value_type = T;
    PixelAllocator() noexcept = default;
    template <class U>
    PixelAllocator(const PixelAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* p = AllocateBuffer(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) noexcept { FreeBuffer(p, n * sizeof(T)); }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const PixelAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace nb
