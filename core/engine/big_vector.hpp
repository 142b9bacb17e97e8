#pragma once
// BigVector: std::vector for the engine's large arrays. Blocks of 1 MiB and
// more are mapped from the operating system directly, so that freeing one
// returns its memory at once (a rebuilt layout does not leave the old one
// resident), and pages never written cost nothing. A HugeVector is also
// aligned to 2 MiB and marked for transparent huge pages, which cuts
// address-translation misses in arrays the tick reads at random.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace vorn {

namespace mapped {

constexpr std::size_t kMapThreshold = std::size_t{1} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;

// Whole pages; whole huge pages for huge mappings, so that the last part
// of an array the tick reads at random is in a huge page too (the price is
// less than 2 MiB of slack per array).
inline std::size_t mapped_size(std::size_t bytes, bool huge) {
    const std::size_t unit = huge ? kHugePage : kPage;
    return (bytes + unit - 1) / unit * unit;
}

// Maps `bytes`, 2 MiB-aligned when huge.
inline void* map(std::size_t bytes, bool huge) {
    const std::size_t size = mapped_size(bytes, huge);
    const std::size_t extra = huge ? kHugePage : 0;
    void* raw =
        mmap(nullptr, size + extra, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    auto begin = reinterpret_cast<std::uintptr_t>(raw);
    if (!huge)
        return raw;
    const std::uintptr_t aligned = (begin + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > begin)
        munmap(raw, aligned - begin);
    const std::uintptr_t end = begin + size + extra;
    if (end > aligned + size)
        munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    // Advisory only: without huge pages the memory works the same.
    (void)madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

inline void unmap(void* p, std::size_t bytes, bool huge) {
    munmap(p, mapped_size(bytes, huge));
}

}  // namespace mapped

template <class T, bool kHuge>
struct MappedAllocator {
    using value_type = T;

    MappedAllocator() = default;
    template <class U>
    MappedAllocator(const MappedAllocator<U, kHuge>&) {}
    template <class U>
    struct rebind {
        using other = MappedAllocator<U, kHuge>;
    };

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < mapped::kMapThreshold)
            return static_cast<T*>(::operator new(bytes));
        return static_cast<T*>(mapped::map(bytes, kHuge));
    }

    void deallocate(T* p, std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < mapped::kMapThreshold) {
            ::operator delete(p);
        } else {
            mapped::unmap(p, bytes, kHuge);
        }
    }

    template <class U>
    bool operator==(const MappedAllocator<U, kHuge>&) const {
        return true;
    }
};

template <class T>
using BigVector = std::vector<T, MappedAllocator<T, false>>;
template <class T>
using HugeVector = std::vector<T, MappedAllocator<T, true>>;

}  // namespace vorn
