// What the shell library takes from the operating system, on every target but
// Windows: the node pool's blocks from the C++ runtime, and the millisecond
// counter from the monotonic clock.

#include <chrono>
#include <new>

#include "velllib/vell_list.h"
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

std::uint32_t systemMilliseconds() {
    using namespace std::chrono;
    auto now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(now.count());
}

}  // namespace vell
