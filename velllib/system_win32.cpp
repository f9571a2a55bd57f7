// What the shell library takes from Windows: the node pool's blocks as fixed
// global memory, and the millisecond counter of the multimedia timer (whose
// resolution the program leaves as it is).

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>

#include "velllib/vell_list.h"
#include "velllib/vell_memory.h"
#include "velllib/vell_time.h"

namespace vell {

namespace {

class GlobalBlockSource final : public BlockSource {
public:
    void* acquireBlock(std::size_t bytes) override { return GlobalAlloc(GMEM_FIXED, bytes); }
    void releaseBlock(void* block) override { GlobalFree(static_cast<HGLOBAL>(block)); }
};

}  // namespace

BlockSource& runtimeBlockSource() {
    static GlobalBlockSource source;
    return source;
}

// Large pages on Windows need a privilege the program does not ask for.
void* acquireLargeBlock(std::size_t bytes) { return std::malloc(bytes); }

void releaseLargeBlock(void* block, std::size_t) { std::free(block); }

std::uint64_t physicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return 0;
    }
    // A 32-bit process can use no more than its own address space.
    return std::min<std::uint64_t>(status.ullTotalPhys, status.ullTotalVirtual);
}

std::uint32_t systemMilliseconds() {
    return static_cast<std::uint32_t>(timeGetTime());
}

}  // namespace vell
