#pragma once
// HugePageAllocator: a std::allocator replacement for large arrays that the
// tick reads at random; big blocks are aligned to 2 MiB and marked for
// transparent huge pages, which cuts address-translation misses.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace vorn {

template <class T>
struct HugePageAllocator {
    using value_type = T;
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;

    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>&) {}

    T* allocate(std::size_t n) {
        std::size_t bytes = n * sizeof(T);
        if (bytes < kHugePage) {
            return static_cast<T*>(::operator new(bytes));
        }
        std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p = std::aligned_alloc(kHugePage, rounded);
        if (p == nullptr)
            throw std::bad_alloc();
        // Advisory only: without huge pages the memory works the same.
        (void)madvise(p, rounded, MADV_HUGEPAGE);
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t n) {
        if (n * sizeof(T) < kHugePage) {
            ::operator delete(p);
        } else {
            std::free(p);
        }
    }

    template <class U>
    bool operator==(const HugePageAllocator<U>&) const {
        return true;
    }
};

}  // namespace vorn
