#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace vell {

// Blocks of a mebibyte or more for tables that are filled once and read at
// random. Where the system offers it (Linux), the block is aligned to and
// advised for 2 MiB pages: each page of a fresh block costs a fault on first
// touch, and faults of 4 KiB pages were most of a large table's time.
// Elsewhere it is ordinary memory. Only touched pages take memory.
void* acquireLargeBlock(std::size_t bytes);
void releaseLargeBlock(void* block, std::size_t bytes);
// The machine's physical memory in bytes, or 0 when the system does not say.
std::uint64_t physicalMemoryBytes();

constexpr std::size_t LARGE_BLOCK_BYTES = std::size_t{1} << 20;

// For std::vector: large arrays from acquireLargeBlock, small ones from new.
template <class T>
struct LargeBlockAllocator {
    using value_type = T;

    LargeBlockAllocator() = default;
    template <class U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        const std::size_t bytes = n * sizeof(T);
        if (bytes < LARGE_BLOCK_BYTES) {
            return static_cast<T*>(::operator new(bytes));
        }
        void* block = acquireLargeBlock(bytes);
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < LARGE_BLOCK_BYTES) {
            ::operator delete(p);
        } else {
            releaseLargeBlock(p, bytes);
        }
    }

    template <class U>
    bool operator==(const LargeBlockAllocator<U>&) const {
        return true;
    }
};

}  // namespace vell
