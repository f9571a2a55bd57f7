// What the shell library takes from the operating system, on every target but
// Windows: the node pool's blocks from the C++ runtime, and the millisecond
// counter from the monotonic clock.

#include <chrono>
#include <cstdlib>
#include <new>

#include <unistd.h>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "velllib/vell_list.h"
#include "velllib/vell_memory.h"
#include "velllib/vell_time.h"

namespace vell {

namespace {

class RuntimeBlockSource final : public BlockSource {
public:
    void* acquireBlock(std::size_t bytes) override {
        return ::operator new(bytes, std::align_val_t{alignof(ListNode)}, std::nothrow);
    }
    void releaseBlock(void* block) override {
        ::operator delete(block, std::align_val_t{alignof(ListNode)});
    }
};

}  // namespace

BlockSource& runtimeBlockSource() {
    static RuntimeBlockSource source;
    return source;
}

void* acquireLargeBlock(std::size_t bytes) {
#ifdef __linux__
    // Whole 2 MiB pages: the kernel backs a range with a huge page only where
    // it covers one completely.
    constexpr std::size_t HUGE_PAGE = std::size_t{1} << 21;
    const std::size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    void* block = nullptr;
    if (rounded < bytes || posix_memalign(&block, HUGE_PAGE, rounded) != 0) {
        return nullptr;
    }
    // Only advice: where huge pages are off, the block is ordinary memory.
    madvise(block, rounded, MADV_HUGEPAGE);
    return block;
#else
    return std::malloc(bytes);
#endif
}

void releaseLargeBlock(void* block, std::size_t) { std::free(block); }

std::uint64_t physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::uint32_t systemMilliseconds() {
    using namespace std::chrono;
    auto now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(now.count());
}

}  // namespace vell
